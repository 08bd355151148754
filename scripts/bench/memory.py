"""Phase 3: the program's peak memory, two ways at once: memwatch.exe starts
it and samples GetProcessMemoryInfo (what a Windows tool would show), and
this process samples the program's /proc/<pid>/status."""
from .config import EXES, MiB, human, say


def run(b, sizes, runs):
    results = {}
    for size in sizes:
        b.start_server({"/installer.php": {"body_file": b.padded_installer(size)}})
        peaks = []
        for round_ in range(runs):
            b.clean_outputs()
            r = b.wine_run("memwatch", [EXES["qd_bench"]], max(120, 2 * size // MiB),
                           "mem-%d-%d" % (size // MiB, round_), watch=b.record, memory_of="qd_bench.exe")
            if r.rc != 0 or r.watch_seen is None or not r.report["ok"] or r.report.get("exit") != 0:
                raise SystemExit("memory run (%d MiB) failed: rc %s, %s" % (size // MiB, r.rc, r.report["line"]))
            peaks.append(r)
        results[size] = peaks
        say("memory, %s body done" % human(size))
    b.clean_outputs()
    return results
