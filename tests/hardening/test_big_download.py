#!/usr/bin/env python3
"""One whole run of the program downloading a 1 GiB body: its
memory stays flat while it runs. The program is a Linux process under Wine, so
its memory is read from the host, /proc/<pid>/status: RssAnon (resident
anonymous memory, the private bytes) and VmRSS, twice a second.

The generated body is no program, so the run ends as a download that the
shell cannot start: the system's box, the program's error, the browser offer,
exit code 0.
"""
import os
import shutil
import time

import wincase
from wincase import IDNO, OS_ERROR
from procmem import find_process, memory

SIZE = 1 << 30
MIB = 1 << 20
FLAT = 16 * MIB    # largest rise of RssAnon allowed once the transfer runs


class BigDownload(wincase.Case):

    def tearDown(self):
        super().tearDown()
        if os.path.exists(self.temp_file):
            os.remove(self.temp_file)  # a whole GiB

    def test_1_gib_keeps_memory_flat(self):
        free = shutil.disk_usage(self.temp).free
        self.assertGreater(free, 3 * SIZE, "not enough disk for the 1 GiB download")
        self.serve(body_size=SIZE, chunk=65536)
        # A name of its own, to find its process.
        exe = os.path.join(self.work, "qdh-big-%d.exe" % os.getpid())
        shutil.copy(self.exe, exe)
        self.launch(exe, lifetime=140)
        pid = find_process(os.path.basename(exe), timeout=30)
        self.assertIsNotNone(pid, "the program's process was not found")

        samples = []  # (seconds, bytes on disk, RssAnon, VmRSS)
        start = time.monotonic()
        deadline = start + 100
        while time.monotonic() < deadline:
            got = self.downloads()
            if got and got[-1]["outcome"] != "started":
                break
            m = memory(pid)
            if m is None:
                break
            size = os.path.getsize(self.temp_file) if os.path.exists(self.temp_file) else 0
            samples.append((time.monotonic() - start, size, m["RssAnon"], m["VmRSS"]))
            time.sleep(0.5)
        took = time.monotonic() - start
        got = self.downloads()
        self.assertEqual(got[-1]["outcome"], "complete", "the download did not end within 100 s")

        text, passed = self.answer_program_box(timeout_ms=30000)
        self.assertRegex(text, OS_ERROR)
        self.answer_exact(wincase.BROWSER_QUESTION, IDNO)
        self.wait_exit(30000)
        self.assertEqual(os.path.getsize(self.temp_file), SIZE)

        running = [s for s in samples if s[1] >= 32 * MIB]
        self.assertGreaterEqual(len(running), 10, "too few samples while the body arrived: %r" % samples)
        anon = [s[2] for s in running]
        rss = [s[3] for s in running]
        print("\n1 GiB in %.1f s (%.0f MiB/s); %d samples while it ran" % (took, SIZE / MIB / took, len(running)))
        print("RssAnon: first %.1f MiB, lowest %.1f, highest %.1f; VmRSS highest %.1f MiB"
              % (anon[0] / MIB, min(anon) / MIB, max(anon) / MIB, max(rss) / MIB))
        print("samples (s, MiB written, RssAnon MiB): " + ", ".join(
            "%.0f/%d/%.1f" % (t, size // MIB, a / MIB) for t, size, a, _ in running[::max(1, len(running) // 12)]))
        self.assertLessEqual(max(anon) - anon[0], FLAT, "memory grew with the download")
        self.assertLess(max(anon), 128 * MIB)


if __name__ == "__main__":
    wincase.main()
