"""Paths, the programs the benchmark runs, the request flags it compares, and
its targets, in one place."""
import os
import re
import statistics
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
E2E = os.path.join(ROOT, "tests", "e2e")
sys.path.insert(0, E2E)

# The Windows side scripts/bench.sh chose (scripts/windows-side.sh).
BUILD = os.path.join(ROOT, os.environ.get("QD_BUILD", os.path.join("build", "win")))
WINE = os.environ.get("QD_WINE", "wine")
WIN64 = WINE != "wine"
WORK = os.path.join(ROOT, "build", "bench-wine64" if WIN64 else "bench-wine")
PREFIX = os.path.join(WORK, "wineprefix")
PKI = os.path.join(WORK, "pki")
SERVER = os.path.join(E2E, "server.py")
E2E_CONFIG = os.path.join(BUILD, "tests", "e2e", "e2e_config.json")
DOCS = os.path.join(ROOT, "docs", "performance.md")
PERF = os.path.join(BUILD, "tests", "perf")
EXES = {
    "enginebench": os.path.join(PERF, "enginebench.exe"),
    "inetloop": os.path.join(PERF, "inetloop.exe"),
    "dialogloop": os.path.join(PERF, "dialogloop.exe"),
    "idle": os.path.join(PERF, "idle.exe"),
    "memwatch": os.path.join(PERF, "memwatch.exe"),
    "qd_bench": os.path.join(BUILD, "tests", "qd_bench.exe"),
    "fakeinstaller": os.path.join(BUILD, "tests", "e2e", "fakeinstaller.exe"),
    "certinstall": os.path.join(BUILD, "tests", "e2e", "certinstall.exe"),
    "release": os.path.join(BUILD, "QuilletDownloader.exe"),
}
REPORTING = ("enginebench", "inetloop", "dialogloop", "memwatch")  # the tools that write a result line
INSTALLER_NAME = "Quillet_2024_Setup.exe"
PROGRAM_PATH = "/installer.php?serial=quill&year=2024"
JOB_SLEEP_MS = 500  # the download job's pause after the download, by design
MiB = 1 << 20
GiB = 1 << 30

# The request flags before the program kept bodies out of WinInet's URL cache
# (no cookies, no auth, resynchronize, no UI).
OLD_OPEN_URL_FLAGS = 0xC0A00
ENGINE_SOURCE = os.path.join(ROOT, "net", "TovDownload_win.cpp")
WININET_HEADERS = ("/usr/share/mingw-w64/include/wininet.h", "/usr/i686-w64-mingw32/include/wininet.h")


def shipped_open_url_flags(source=ENGINE_SOURCE):
    """The engine's InternetOpenUrlA flags, as its source names them, with
    the values of the cross compiler's wininet.h: the reference loop uses
    what the program ships with, not a copy that could drift."""
    with open(source) as f:
        m = re.search(r"\bOpenUrlFlags\s*=([^;]+);", f.read())
    if not m:
        raise SystemExit("no OpenUrlFlags constant in %s" % source)
    names = re.findall(r"\w+", re.sub(r"//[^\n]*", "", m.group(1)))
    header = next((h for h in WININET_HEADERS if os.path.isfile(h)), None)
    if not header:
        raise SystemExit("wininet.h of MinGW-w64 not found")
    with open(header) as f:
        values = dict(re.findall(r"#define\s+(INTERNET_FLAG_\w+)\s+(0x[0-9A-Fa-f]+)\b", f.read()))
    unknown = [n for n in names if n not in values]
    if unknown:
        raise SystemExit("cannot evaluate %s in OpenUrlFlags" % ", ".join(unknown))
    flags = 0
    for n in names:
        flags |= int(values[n], 16)
    return flags


def throughput_variants(shipped):
    """(key, label, tool, arguments): the rounds run them in rotating order;
    (d), curl, runs beside them."""
    loop = "inetloop"
    return [
        ("a", "engine (enginebench, 4 KiB)", "enginebench", []),
        ("b", "bare WinInet loop, 4 KiB, flags 0x%X" % shipped, loop, ["--block", "4096", "--flags", "%x" % shipped]),
        ("c", "bare WinInet loop, 64 KiB, flags 0x%X" % shipped, loop,
         ["--block", "65536", "--flags", "%x" % shipped]),
        # The same loop as the program requested before, with WinInet's own
        # copy of the body into its URL cache.
        ("e", "bare WinInet loop, 4 KiB, old flags 0x%X" % OLD_OPEN_URL_FLAGS, loop,
         ["--block", "4096", "--flags", "%x" % OLD_OPEN_URL_FLAGS]),
    ]


class Target:
    def __init__(self, what, sign, limit, unit="", pattern="%.3f"):
        self.what, self.sign, self.limit, self.unit, self.pattern = what, sign, limit, unit, pattern

    def figure(self, value):
        return (self.pattern % value) + self.unit

    def met(self, value):
        if self.sign == ">=":
            return value >= self.limit
        if self.sign == "within":
            return abs(value) <= self.limit
        return value <= self.limit

    def verdict(self, value):
        return "target %s %g%s: %s" % (self.sign, self.limit, self.unit, "met" if self.met(value) else "MISSED")


TARGETS = {
    "throughput": Target("engine against the bare loop, MiB/s (a)/(b)", ">=", 0.95),
    "whole": Target("whole program against the bare loop, less the job's pause", "<=", 1.03),
    "memory": Target("growth of the peak private bytes, smallest to largest body", "within", 1, " MiB", "%+.2f"),
    "size": Target("size of the release program", "<=", 274, " KB", "%.1f"),
    "startup": Target("start-up, program less the loop started from the dialog", "<=", 20, " ms", "%+.0f"),
}


def say(*args):
    print("bench:", *args, file=sys.stderr, flush=True)


def median(values):
    values = [v for v in values if v is not None]
    return statistics.median(values) if values else None


def human(n):
    return "%d MiB" % (n // MiB) if n < GiB else "%g GiB" % (n / GiB)


def bench_port():
    try:
        with open(os.path.join(BUILD, "CMakeCache.txt")) as f:
            for line in f:
                if line.startswith("QD_BENCH_PORT:"):
                    return int(line.split("=", 1)[1])
    except OSError:
        pass
    return 47330
