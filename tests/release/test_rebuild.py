#!/usr/bin/env python3
"""The program rebuilt from a copy of the sources, in other folders, at
another time and under another time zone and locale, is byte for byte the
program of this tree: nothing of the clock, the machine or the folders
reaches it. A minimal tree (no tests) builds only the program.
"""
import os
import shutil
import subprocess
import tempfile
import time
import unittest

import harness


def copy_sources(source, target):
    """The files a fresh clone would have, with any uncommitted change."""
    try:
        listed = subprocess.run(["git", "-C", source, "ls-files", "-z", "--cached", "--others",
                                 "--exclude-standard"], capture_output=True, check=True, timeout=60).stdout
        names = [n for n in listed.decode().split("\0") if n]
    except (OSError, subprocess.CalledProcessError):
        names = None
    if not names:
        shutil.copytree(source, target, ignore=shutil.ignore_patterns("build", ".git"))
        return
    for name in names:
        src = os.path.join(source, name)
        if os.path.isfile(src):  # a deleted, not yet committed file is listed too
            os.makedirs(os.path.dirname(os.path.join(target, name)), exist_ok=True)
            shutil.copy2(src, os.path.join(target, name))


def differences(a, b, limit=8):
    """The first differing offsets, for a report."""
    out = ["sizes %d and %d" % (len(a), len(b))] if len(a) != len(b) else []
    out += ["0x%x: %02x %02x" % (i, x, y) for i, (x, y) in enumerate(zip(a, b)) if x != y][:limit]
    return out


class Rebuild(unittest.TestCase):
    def test_program_rebuilds_byte_for_byte(self):
        cfg = harness.config()
        with open(cfg.exe("QuilletDownloader"), "rb") as f:
            reference = f.read()
        os.makedirs(cfg.work, exist_ok=True)
        with tempfile.TemporaryDirectory(prefix="rebuild-", dir=cfg.work) as work:
            source, build = os.path.join(work, "elsewhere", "src"), os.path.join(work, "b")
            copy_sources(cfg.source, source)
            env = dict(os.environ, TZ="Pacific/Kiritimati", LC_ALL="C", SOURCE_DATE_EPOCH="1")
            start = time.monotonic()
            configure = ["cmake", "-S", source, "-B", build, "-G", cfg.generator,
                         "-DCMAKE_TOOLCHAIN_FILE=" + os.path.join(source, "cmake", "mingw-i686.cmake"),
                         "-DCMAKE_BUILD_TYPE=Release", "-DQD_BUILD_TESTS=OFF"]
            configure += ["-D%s=%s" % kv for kv in sorted(cfg.values.items())]
            for argv in (configure, ["cmake", "--build", build, "-j2", "--target", "QuilletDownloader"]):
                r = subprocess.run(argv, capture_output=True, text=True, env=env, timeout=240)
                self.assertEqual(r.returncode, 0, "%s\n%s%s" % (" ".join(argv), r.stdout, r.stderr))
            print("\nrebuilt in %.1f s" % (time.monotonic() - start))
            with open(os.path.join(build, "QuilletDownloader.exe"), "rb") as f:
                rebuilt = f.read()
        if rebuilt != reference:
            self.fail("the rebuilt program differs: %s" % differences(reference, rebuilt))


if __name__ == "__main__":
    harness.main()
