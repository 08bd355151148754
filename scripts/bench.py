#!/usr/bin/env python3
"""The downloader's benchmark under Wine, against references taken in the same run.

Serves bodies from the loopback HTTPS test server (tests/e2e/server.py, its
certificate from a CA that only this benchmark's throwaway prefix trusts) and
measures, with medians over several runs:

  1. throughput and CPU for one large body: the engine (tests/perf
     enginebench.exe), the bare WinInet loop with 4096-byte and 64 KiB blocks
     (tests/perf inetloop.exe), and curl on the host;
  2. the whole program (qd_bench) under Xvfb, from process start until the
     installer it downloads has started, against the bare loop that also
     starts the installer;
  3. the program's peak memory for a small and a large body;
  4. the size of the release program and its imports;
  5. start-up: from process start until the request reaches the server.

Usage: bench.py [--quick] [--runs N] [--out DIR]
Run through scripts/bench.sh, which installs and builds what it needs first.
Everything lives under build/bench-wine (prefix, certificates, bodies,
results); the test prefix and the shared Xvfb displays are never touched.
Numbers are only as good as the machine is quiet: the header of the table
shows the load before and after.
"""
import argparse
import hashlib
import json
import os
import platform
import re
import select
import signal
import statistics
import subprocess
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(ROOT, "tests", "e2e"))
import pki  # noqa: E402

BUILD = os.path.join(ROOT, "build", "win")
WORK = os.path.join(ROOT, "build", "bench-wine")
PREFIX = os.path.join(WORK, "wineprefix")
PKI = os.path.join(WORK, "pki")
SERVER = os.path.join(ROOT, "tests", "e2e", "server.py")
PERF = os.path.join(BUILD, "tests", "perf")
EXES = {
    "enginebench": os.path.join(PERF, "enginebench.exe"),
    "inetloop": os.path.join(PERF, "inetloop.exe"),
    "idle": os.path.join(PERF, "idle.exe"),
    "memwatch": os.path.join(PERF, "memwatch.exe"),
    "qd_bench": os.path.join(BUILD, "tests", "qd_bench.exe"),
    "fakeinstaller": os.path.join(BUILD, "tests", "e2e", "fakeinstaller.exe"),
    "certinstall": os.path.join(BUILD, "tests", "e2e", "certinstall.exe"),
    "release": os.path.join(BUILD, "QuilletDownloader.exe"),
}
INSTALLER_NAME = "Quillet_2024_Setup.exe"
PROGRAM_PATH = "/installer.php?serial=quill&year=2024"
INTERNET_FLAG_NO_CACHE_WRITE = 0x04000000
JOB_SLEEP_MS = 500  # the download job's pause after the download, by design
MiB = 1 << 20
GiB = 1 << 30
CLK_TCK = os.sysconf("SC_CLK_TCK")
PREFIX_SETTINGS = 1  # bump when prepare_prefix() changes what it writes


def say(*args):
    print("bench:", *args, file=sys.stderr, flush=True)


def winpath(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def median(values):
    values = [v for v in values if v is not None]
    return statistics.median(values) if values else None


def bench_port():
    try:
        with open(os.path.join(BUILD, "CMakeCache.txt")) as f:
            for line in f:
                if line.startswith("QD_BENCH_PORT:"):
                    return int(line.split("=", 1)[1])
    except OSError:
        pass
    return 47330


# -- processes -------------------------------------------------------------------

def cpu_seconds(pid):
    """utime + stime of a live process, from /proc/<pid>/stat."""
    try:
        with open("/proc/%d/stat" % pid) as f:
            fields = f.read().rsplit(")", 1)[1].split()
        return (int(fields[11]) + int(fields[12])) / CLK_TCK
    except (OSError, IndexError, ValueError):
        return None


def memory(pid):
    """RssAnon, VmRSS and VmHWM of a live process, in bytes."""
    out = {}
    try:
        with open("/proc/%d/status" % pid) as f:
            for line in f:
                key, _, rest = line.partition(":")
                if key in ("RssAnon", "VmRSS", "VmHWM", "VmSwap"):
                    out[key] = int(rest.split()[0]) * 1024
    except (OSError, ValueError, IndexError):
        return None
    return out


def find_process(name, exclude):
    """A live process of this benchmark's prefix whose program (argv[0], which
    Wine sets to the Windows path) is `name`."""
    want = ("WINEPREFIX=" + PREFIX).encode()
    for pid in os.listdir("/proc"):
        if not pid.isdigit() or int(pid) in exclude:
            continue
        try:
            with open("/proc/%s/cmdline" % pid, "rb") as f:
                argv0 = f.read().split(b"\0")[0].replace(b"\\", b"/")
                if not argv0.lower().endswith(b"/" + name.lower().encode()):
                    continue
            with open("/proc/%s/environ" % pid, "rb") as f:
                if want in f.read().split(b"\0"):
                    return int(pid)
        except OSError:
            continue
    return None


def prefix_processes(exclude):
    """Live processes of this benchmark's prefix (by WINEPREFIX), but `exclude`."""
    found = {}
    want = ("WINEPREFIX=" + PREFIX).encode()
    for name in os.listdir("/proc"):
        if not name.isdigit() or int(name) in exclude:
            continue
        try:
            with open("/proc/%s/environ" % name, "rb") as f:
                if want not in f.read().split(b"\0"):
                    continue
        except OSError:
            continue
        cpu = cpu_seconds(int(name))
        if cpu is not None:
            found[int(name)] = cpu
    return found


class Run:
    """One measured process: wall time, CPU (rusage of the process, which
    includes the children it reaped), the wineserver's and the prefix's other
    processes' CPU during it, memory samples, and when a watched file appeared."""

    def __init__(self, argv, env, timeout, watch=None, sample_memory=False, log=None,
                 wineserver=None, memory_of=None, grows=None):
        self.argv = argv
        self.watch = watch
        self.timed_out = False
        self.watch_seen = None
        self.grew = None  # when the file `grows` first grew: the server logs a request once answered
        grows_size = os.path.getsize(grows) if grows else 0
        self.peak = {}
        self.samples = 0
        ws_before = cpu_seconds(wineserver) if wineserver else None
        helpers_before = prefix_processes({wineserver or -1})
        out = open(log or os.devnull, "ab")
        self.start = time.monotonic()
        proc = subprocess.Popen(argv, env=env, stdin=subprocess.DEVNULL, stdout=out, stderr=out)
        out.close()
        deadline = self.start + timeout
        next_sample = self.start
        status = rusage = None
        sampled = None if memory_of else proc.pid
        while True:
            pid, status, rusage = os.wait4(proc.pid, os.WNOHANG)
            now = time.monotonic()
            if pid:
                self.end = now
                break
            if watch and self.watch_seen is None and os.path.exists(watch):
                self.watch_seen = now
            if grows and self.grew is None and os.path.getsize(grows) != grows_size:
                self.grew = now
            if sample_memory and now >= next_sample:
                next_sample = now + 0.01
                if sampled is None:
                    sampled = find_process(memory_of, exclude={proc.pid})
                m = memory(sampled) if sampled else None
                if m is None and memory_of:
                    sampled = None  # not there yet, or gone: look again
                if m:
                    self.samples += 1
                    for k, v in m.items():
                        self.peak[k] = max(v, self.peak.get(k, 0))
            if now > deadline and not self.timed_out:
                self.timed_out = True
                say("time limit of %ds reached, stopping %s" % (timeout, os.path.basename(argv[-1])))
                proc.kill()
            time.sleep(0.001)
        proc.returncode = os.waitstatus_to_exitcode(status)
        self.rc = proc.returncode
        self.wall = self.end - self.start
        self.cpu = rusage.ru_utime + rusage.ru_stime
        ws_after = cpu_seconds(wineserver) if wineserver else None
        self.wineserver_cpu = (ws_after - ws_before) if ws_before is not None and ws_after is not None else 0.0
        helpers_after = prefix_processes({wineserver or -1, proc.pid})
        # Helpers that ended during the run are not counted; they rarely do.
        self.helpers_cpu = sum(c - helpers_before.get(p, 0.0) for p, c in helpers_after.items()
                               if p in helpers_before)
        self.polled_watch = self.watch_seen
        if watch:
            started = installer_started(watch)
            if started is not None:
                self.watch_seen = started


def installer_started(record):
    """When the fake installer started, on this process's monotonic clock: it
    notes GetTickCount, which Wine takes from CLOCK_MONOTONIC_RAW in whole
    milliseconds (a poll for the file alone can miss a run that is over
    within a poll)."""
    try:
        with open(record, "rb") as f:
            line = f.read().decode("latin-1").splitlines()[0]
    except (OSError, IndexError):
        return None
    fields = line.split("\t")
    if fields[0] != "ran":
        return None
    tick = int(fields[-1])
    raw = time.clock_gettime(time.CLOCK_MONOTONIC_RAW)
    mono = time.monotonic()
    # The tick wraps at 2^32 ms; the host's raw clock says which lap it is on.
    now_ms = int(raw * 1000)
    started_ms = now_ms - ((now_ms - tick) % (1 << 32))
    return started_ms / 1000.0 - (raw - mono)


def read_report(path):
    """The tools' one result line: 'ok key=value ...' or 'error ...'."""
    try:
        with open(path, "rb") as f:
            line = f.read().decode("latin-1").strip()
    except OSError:
        return {"ok": False, "line": "(no report)"}
    fields = {"ok": line.startswith("ok"), "line": line}
    for m in re.finditer(r"(\w+)=(\S+)", line):
        try:
            fields[m.group(1)] = float(m.group(2))
        except ValueError:
            fields[m.group(1)] = m.group(2)
    return fields


# -- the environment: display, wineserver, prefix, server -----------------------

class Bench:
    def __init__(self, args):
        self.args = args
        self.port = bench_port()
        self.xvfb = None
        self.display = None
        self.wineserver = None
        self.keeper = None
        self.server = None
        self.server_log = os.path.join(WORK, "server.log")
        self.record = os.path.join(WORK, "installer-record.txt")
        self.logs = os.path.join(WORK, "logs")
        self.reports = os.path.join(WORK, "reports")
        self.log_offset = 0

    # environment ----------------------------------------------------------
    def env(self):
        env = dict(os.environ)
        for k in list(env):
            if k.startswith("WINE") or k in ("QD_TEST_SLEEP_MS",):
                del env[k]
        env.update(WINEPREFIX=PREFIX, WINEDEBUG="-all", WINEDLLOVERRIDES="mscoree,mshtml=",
                   DISPLAY=self.display, QD_TEST_RECORD=winpath(self.record), QD_TEST_EXIT_CODE="0")
        return env

    def __enter__(self):
        for d in (WORK, self.logs, self.reports, PREFIX):
            os.makedirs(d, exist_ok=True)
        pki.generate(PKI)
        try:
            self.start_display()
            self.start_wineserver()
            self.prepare_prefix()
            self.keeper = subprocess.Popen(["wine", EXES["idle"], str(3600 * 1000)], env=self.env(),
                                           stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                           stderr=subprocess.DEVNULL)
            time.sleep(1.0)
        except BaseException:
            self.__exit__(None, None, None)
            raise
        return self

    def __exit__(self, *exc):
        self.stop_server()
        if self.wineserver:
            subprocess.run(["wineserver", "-k"], env=self.env(), timeout=60,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            try:
                self.wineserver.wait(20)
            except subprocess.TimeoutExpired:
                self.wineserver.kill()
                self.wineserver.wait(10)
        if self.keeper:
            try:
                self.keeper.wait(20)
            except subprocess.TimeoutExpired:
                self.keeper.kill()
                self.keeper.wait(10)
        if self.xvfb:
            self.xvfb.terminate()
            try:
                self.xvfb.wait(10)
            except subprocess.TimeoutExpired:
                self.xvfb.kill()
                self.xvfb.wait(10)
        for path in (self.installer_unix(),):
            if path and os.path.exists(path):
                os.remove(path)

    def start_display(self):
        for n in range(140, 240):
            if not os.path.exists("/tmp/.X%d-lock" % n) and not os.path.exists("/tmp/.X11-unix/X%d" % n):
                self.display = ":%d" % n
                break
        else:
            raise SystemExit("no free X display number")
        self.xvfb = subprocess.Popen(["Xvfb", self.display, "-nolisten", "tcp", "-screen", "0",
                                      "1024x768x24"], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        for _ in range(100):
            if os.path.exists("/tmp/.X11-unix/X" + self.display[1:]):
                return
            time.sleep(0.1)
        raise SystemExit("Xvfb did not start on " + self.display)

    def start_wineserver(self):
        # In the foreground (-f) and persistent (-p): this process is the
        # server, so its CPU can be read from /proc before and after each run.
        self.wineserver = subprocess.Popen(["wineserver", "-f", "-p"], env=self.env(),
                                           stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                           stderr=subprocess.DEVNULL)
        time.sleep(0.3)
        if self.wineserver.poll() is not None:
            raise SystemExit("wineserver for %s did not stay up (another one running?)" % PREFIX)

    def prepare_prefix(self):
        stamp_path = os.path.join(PREFIX, "bench.stamp")
        with open(os.path.join(PKI, "ca.der"), "rb") as f:
            want = {"ca": hashlib.sha256(f.read()).hexdigest(), "settings": PREFIX_SETTINGS,
                    "wine": subprocess.run(["wine", "--version"], capture_output=True, text=True,
                                           timeout=30).stdout.strip()}
        try:
            with open(stamp_path) as f:
                have = json.load(f)
        except (OSError, ValueError):
            have = None
        if have and {k: have.get(k) for k in want} == want:
            self.temp_unix = have["temp_unix"]
            return
        env = self.env()
        os.makedirs(PREFIX, exist_ok=True)
        if not os.path.exists(os.path.join(PREFIX, "system.reg")):
            say("creating the benchmark's Wine prefix", PREFIX, "(about 20 s)")
            subprocess.run(["wine", "wineboot", "-i"], env=env, check=True, timeout=300,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        subprocess.run(["wine", EXES["certinstall"], winpath(os.path.join(PKI, "ca.der"))], env=env,
                       check=True, timeout=120, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        # A crash ends the program at once instead of waiting in a debugger.
        aedebug = r"HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug"
        for name, value in (("Debugger", "qd-no-debugger.exe %ld %ld"), ("Auto", "1")):
            subprocess.run(["wine", "reg", "add", aedebug, "/v", name, "/t", "REG_SZ", "/d", value, "/f"],
                           env=env, check=True, timeout=60, stdout=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL)
        r = subprocess.run(["wine", "cmd", "/c", "echo", "%TEMP%"], env=env, check=True, timeout=60,
                           capture_output=True, text=True)
        temp_win = r.stdout.strip().splitlines()[-1].strip()
        r = subprocess.run(["winepath", "-u", temp_win], env=env, check=True, timeout=60,
                           capture_output=True, text=True)
        self.temp_unix = r.stdout.strip()
        os.makedirs(self.temp_unix, exist_ok=True)
        with open(stamp_path, "w") as f:
            json.dump(dict(want, temp_unix=self.temp_unix), f)

    def installer_unix(self):
        temp = getattr(self, "temp_unix", None)
        return os.path.join(temp, INSTALLER_NAME) if temp else None

    # the server ------------------------------------------------------------
    def start_server(self, routes):
        self.stop_server()
        routes_path = os.path.join(WORK, "routes.json")
        with open(routes_path, "w") as f:
            json.dump(routes, f)
        open(self.server_log, "w").close()
        self.log_offset = 0
        self.server = subprocess.Popen(
            [sys.executable, SERVER, "--port", str(self.port),
             "--cert", os.path.join(PKI, "server-chain.pem"), "--key", os.path.join(PKI, "server.key"),
             "--routes", routes_path, "--log", self.server_log, "--lifetime", "3000"],
            stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        ready, _, _ = select.select([self.server.stdout], [], [], 30)
        if not ready or not self.server.stdout.readline().startswith(b"listening"):
            raise SystemExit("the test server did not start on port %d" % self.port)

    def stop_server(self):
        if self.server:
            self.server.send_signal(signal.SIGINT)
            try:
                self.server.wait(15)
            except subprocess.TimeoutExpired:
                self.server.kill()
                self.server.wait(10)
            self.server.stdout.close()
            self.server = None

    def requests_since(self, start, path_prefix, timeout=15):
        """The logged requests that arrived after `start` (the server writes an
        entry once it has answered, so wait for it a little)."""
        deadline = time.monotonic() + timeout
        while True:
            found = []
            with open(self.server_log) as f:
                for line in f:
                    try:
                        e = json.loads(line)
                    except ValueError:
                        continue
                    if e["time"] >= start and e["target"].startswith(path_prefix):
                        found.append(e)
            if found or time.monotonic() > deadline:
                return found
            time.sleep(0.05)

    # runs ------------------------------------------------------------------
    def url(self, path):
        return "https://localhost:%d%s" % (self.port, path)

    def wine_run(self, name, exe, args, timeout, tag, **kw):
        report = os.path.join(self.reports, tag + ".txt")
        if os.path.exists(report):
            os.remove(report)
        argv = ["wine", exe] + list(args)
        reporting = exe in (EXES["inetloop"], EXES["enginebench"], EXES["memwatch"])
        if reporting:
            argv[2:2] = ["--report", winpath(report)]
        run = Run(argv, self.env(), timeout, wineserver=self.wineserver.pid,
                  log=os.path.join(self.logs, tag + ".log"), **kw)
        run.report = read_report(report) if reporting else None
        run.name = name
        return run

    def clean_outputs(self):
        for path in (self.installer_unix(), self.record):
            if path and os.path.exists(path):
                os.remove(path)


# -- the phases ----------------------------------------------------------------

def phase_throughput(b, body, runs):
    """(a) engine, (b) bare loop 4 KiB, (c) bare loop 64 KiB, (d) curl, (e) the
    bare loop without WinInet's cache copy; plus an empty body through each
    Wine tool for what start-up and TLS cost alone."""
    b.start_server({"/body": {"body_size": body}, "/empty": {"body_size": 0}})
    out_file = b.installer_unix()
    variants = [
        ("a", "engine (enginebench, 4 KiB)", EXES["enginebench"], []),
        ("b", "bare WinInet loop, 4 KiB", EXES["inetloop"], ["--block", "4096"]),
        ("c", "bare WinInet loop, 64 KiB", EXES["inetloop"], ["--block", "65536"]),
        # What WinInet's own copy of the body into its URL cache costs.
        ("e", "bare loop, 4 KiB, + NO_CACHE_WRITE", EXES["inetloop"],
         ["--block", "4096", "--flags", "%x" % (0xC0A00 | INTERNET_FLAG_NO_CACHE_WRITE)]),
    ]
    timeout = max(120, body // MiB)
    results = {k: [] for k, *_ in variants}
    results["d"] = []
    empty = {k: [] for k, *_ in variants}
    for round_ in range(runs + 1):  # round 0 warms up and is dropped
        # A different order each round, so no variant always follows the same one.
        for key, _, exe, extra in variants[round_ % len(variants):] + variants[:round_ % len(variants)]:
            b.clean_outputs()
            r = b.wine_run(key, exe, extra + [b.url("/body")], timeout, "tp-%s-%d" % (key, round_))
            size = os.path.getsize(out_file) if os.path.exists(out_file) else -1
            if not r.report["ok"] or size != body or r.rc != 0:
                raise SystemExit("(%s) failed: rc %s, file %d bytes, %s" % (key, r.rc, size, r.report["line"]))
            if round_:
                results[key].append(r)
            e = b.wine_run(key, exe, extra + [b.url("/empty")], 60, "tp-%s-empty-%d" % (key, round_))
            if round_ and e.report["ok"]:
                empty[key].append(e)
        b.clean_outputs()
        t0 = time.monotonic()
        c = subprocess.run(["curl", "-sS", "--cacert", os.path.join(PKI, "ca.pem"), "-o", out_file,
                            "-w", "%{time_total} %{time_starttransfer}", b.url("/body")],
                           capture_output=True, text=True, timeout=timeout)
        wall = time.monotonic() - t0
        if c.returncode != 0 or os.path.getsize(out_file) != body:
            raise SystemExit("(d) curl failed: %s" % c.stderr.strip())
        if round_:
            # curl's own CPU: rusage of the children this process reaped.
            total, first = (float(x) for x in c.stdout.split())
            results["d"].append({"time": total, "first": first, "wall": wall})
        say("throughput round %d of %d done" % (round_, runs) if round_ else "throughput warm-up done")
    b.clean_outputs()
    return variants, results, empty


def curl_cpu(b, body, runs):
    """curl's CPU per run, measured separately through wait4 (subprocess.run
    does not give rusage)."""
    out_file = b.installer_unix()
    cpus = []
    for _ in range(runs):
        argv = ["curl", "-sS", "--cacert", os.path.join(PKI, "ca.pem"), "-o", out_file, b.url("/body")]
        r = Run(argv, dict(os.environ), max(120, body // MiB))
        if r.rc == 0:
            cpus.append(r.cpu)
    b.clean_outputs()
    return cpus


def phase_whole(b, body_path, body, runs):
    """The program until the installer starts, against the bare loop that
    downloads the same body to the same file and starts it the same way."""
    b.start_server({"/installer.php": {"body_file": body_path, "headers": [
        ["Content-Disposition", 'attachment; filename="%s"' % INSTALLER_NAME]]}})
    variants = [
        ("program", EXES["qd_bench"], []),
        ("bare", EXES["inetloop"], ["--block", "4096", "--run", b.url(PROGRAM_PATH)]),
    ]
    results = {k: [] for k, *_ in variants}
    for round_ in range(runs + 1):
        for key, exe, args in (variants if round_ % 2 else variants[::-1]):
            b.clean_outputs()
            r = b.wine_run(key, exe, args, max(120, body // MiB), "whole-%s-%d" % (key, round_),
                           watch=b.record, grows=b.server_log)
            reqs = b.requests_since(r.start, "/installer.php")
            if (r.rc != 0 or r.watch_seen is None or r.grew is None or len(reqs) != 1
                    or reqs[0]["sent"] != body):
                raise SystemExit("whole-program run (%s) failed: rc %s, installer %s, requests %s"
                                 % (key, r.rc, "started" if r.watch_seen else "not started",
                                    [(e["outcome"], e["sent"]) for e in reqs]))
            r.request_at = reqs[0]["time"]
            if round_:
                results[key].append(r)
        say("whole-program round %d of %d done" % (round_, runs) if round_ else "whole-program warm-up done")
    b.clean_outputs()
    return results


def phase_memory(b, sizes, runs):
    """The program's peak memory, two ways at once: memwatch.exe starts it and
    samples GetProcessMemoryInfo (what a Windows tool would show), and this
    script samples the program's /proc/<pid>/status."""
    results = {}
    for size, path in sizes:
        b.start_server({"/installer.php": {"body_file": path}})
        peaks = []
        for round_ in range(runs):
            b.clean_outputs()
            r = b.wine_run("program", EXES["memwatch"], [EXES["qd_bench"]], max(120, 2 * size // MiB),
                           "mem-%d-%d" % (size // MiB, round_), watch=b.record, sample_memory=True,
                           memory_of="qd_bench.exe")
            if r.rc != 0 or r.watch_seen is None or not r.report["ok"] or r.report.get("exit") != 0:
                raise SystemExit("memory run (%d MiB) failed: rc %s, %s" % (size // MiB, r.rc, r.report["line"]))
            peaks.append(r)
        results[size] = peaks
        say("memory, %s body done" % human(size))
    b.clean_outputs()
    return results


def imports_of(exe):
    """The import table (DLL -> number of functions) as objdump reads it, and
    the other DLL names the image carries: the delay-loaded ones, whose
    descriptors the program's own helper reads (the PE delay-import directory
    stays empty), and any the runtime looks up by name."""
    r = subprocess.run(["i686-w64-mingw32-objdump", "-p", exe], capture_output=True, text=True,
                       timeout=60, check=True)
    functions, current = {}, None
    for line in r.stdout.splitlines():
        m = re.match(r"\s*DLL Name: (\S+)", line)
        if m:
            current = m.group(1).lower()
            functions[current] = 0
        elif current and re.match(r"^\t[0-9a-f]+\t\s*\d+\s+\S+", line):
            functions[current] += 1
        elif line.startswith("PE File Base Relocations"):
            current = None
    with open(exe, "rb") as f:
        image = f.read()
    named = sorted({m.group(1).decode().lower() for m in re.finditer(rb"([A-Za-z0-9_.-]+\.dll)\0", image,
                                                                     re.IGNORECASE)})
    others = [d for d in named if d not in functions]
    return list(functions), others, functions


SYSTEM_DLLS = {"kernel32.dll", "user32.dll", "gdi32.dll", "advapi32.dll", "shell32.dll",
               "comdlg32.dll", "comctl32.dll", "msvcrt.dll", "version.dll", "wininet.dll",
               "wintrust.dll", "crypt32.dll", "ole32.dll", "ntdll.dll", "shlwapi.dll"}


# Looked up with GetModuleHandle only, by the static runtime's start-up code
# (to share unwind tables with a libgcc DLL already in the process); never loaded.
RUNTIME_PROBES = {"libgcc_s_dw2-1.dll"}


def human(n):
    return "%d MiB" % (n // MiB) if n < GiB else "%g GiB" % (n / GiB)


def padded_installer(size):
    path = os.path.join(WORK, "installer-%d.exe" % size)
    with open(EXES["fakeinstaller"], "rb") as f:
        exe = f.read()
    if os.path.exists(path) and os.path.getsize(path) == size:
        with open(path, "rb") as f:
            if f.read(len(exe)) == exe:
                return path
    # Bytes after the image are ignored by the loader.
    with open(path, "wb") as f:
        f.write(exe)
        left = size - len(exe)
        zeros = b"\0" * MiB
        while left > 0:
            f.write(zeros[:min(left, MiB)])
            left -= min(left, MiB)
    return path


def machine():
    def first(path, key):
        try:
            with open(path) as f:
                for line in f:
                    if line.startswith(key):
                        return line.split(":", 1)[1].strip()
        except OSError:
            return "?"
    wine = subprocess.run(["wine", "--version"], capture_output=True, text=True, timeout=30).stdout.strip()
    return {"nproc": os.cpu_count(), "cpu": first("/proc/cpuinfo", "model name"), "wine": wine,
            "kernel": platform.release(), "load": os.getloadavg()}


def busy_processes():
    """Other processes that used CPU in the last second (a quiet-machine check)."""
    before = {}
    for name in os.listdir("/proc"):
        if name.isdigit():
            c = cpu_seconds(int(name))
            if c is not None:
                before[int(name)] = c
    time.sleep(1.0)
    busy = []
    for pid, c0 in before.items():
        c1 = cpu_seconds(pid)
        if c1 is not None and c1 - c0 >= 0.05 and pid != os.getpid():
            try:
                with open("/proc/%d/comm" % pid) as f:
                    busy.append("%s %.0f%%" % (f.read().strip(), (c1 - c0) * 100))
            except OSError:
                pass
    return busy


# -- the table -----------------------------------------------------------------

def fmt(v, pattern="%.1f"):
    return "-" if v is None else pattern % v


def report(args, info, tp, whole, mem, size_info, out_dir):
    variants, results, empty = tp
    body = args.body
    lines = []
    add = lines.append
    add("Machine: %d cores, %s, %s, kernel %s" % (info["nproc"], info["cpu"], info["wine"], info["kernel"]))
    add("Load average before: %.2f %.2f %.2f; after: %.2f %.2f %.2f; busy before: %s" % (
        *info["load"], *info["load_after"], ", ".join(info["busy"]) or "none"))
    add("Medians of %d runs after one warm-up round (memory: %d runs)%s." % (
        args.runs, args.mem_runs, " -- QUICK RUN" if args.quick else ""))
    add("")
    add("1. Throughput, %s body. MiB/s (body): from the first block to the last read; MiB/s (request):"
        " from creating the file, so with connection and TLS set-up. CPU: the wine process (rusage at"
        " exit) + wineserver (/proc stat delta); net: less the same tool's run on an empty body" % human(body))
    add("")
    add("| variant | MiB/s (body) | range | MiB/s (request) | wine CPU s | wineserver CPU s | CPU s per GiB"
        " | net CPU s per GiB |")
    add("|---|---:|---:|---:|---:|---:|---:|---:|")
    rate, whole_rate, cpu_gib, net_gib, rows = {}, {}, {}, {}, {}
    for key, label, *_ in variants:
        rs = results[key]
        rates = [body / MiB / ((r.report["transfer_ms"] - r.report["first_ms"]) / 1000) for r in rs]
        rate[key] = median(rates)
        whole_rate[key] = median([body / MiB / (r.report["transfer_ms"] / 1000) for r in rs])
        e_cpu = median([e.cpu + e.wineserver_cpu for e in empty[key]]) or 0.0
        cpu_gib[key] = median([(r.cpu + r.wineserver_cpu) / (body / GiB) for r in rs])
        net_gib[key] = median([(r.cpu + r.wineserver_cpu - e_cpu) / (body / GiB) for r in rs])
        rows[key] = "| (%s) %s | %s | %.0f-%.0f | %s | %s | %s | %s | %s |" % (
            key, label, fmt(rate[key]), min(rates), max(rates), fmt(whole_rate[key]),
            fmt(median([r.cpu for r in rs]), "%.2f"), fmt(median([r.wineserver_cpu for r in rs]), "%.2f"),
            fmt(cpu_gib[key], "%.2f"), fmt(net_gib[key], "%.2f"))
    rates = [body / MiB / (r["time"] - r["first"]) for r in results["d"]]
    rate["d"] = median(rates)
    whole_rate["d"] = median([body / MiB / r["time"] for r in results["d"]])
    cpu_gib["d"] = median([c / (body / GiB) for c in results["curl_cpu"]]) if results["curl_cpu"] else None
    rows["d"] = "| (d) curl on the host | %s | %.0f-%.0f | %s | %s | - | %s | - |" % (
        fmt(rate["d"]), min(rates), max(rates), fmt(whole_rate["d"]), fmt(median(results["curl_cpu"]), "%.2f"),
        fmt(cpu_gib["d"], "%.2f"))
    for key in sorted(rows):
        add(rows[key])
    add("")
    ab = rate["a"] / rate["b"]
    body_rate = lambda r: body / ((r.report["transfer_ms"] - r.report["first_ms"]) / 1000)  # noqa: E731
    paired = median([body_rate(a) / body_rate(b_) for a, b_ in zip(results["a"], results["b"])])
    add("(a)/(b) = %.3f (target >= 0.95: %s; median of the rounds' own ratios %.3f); (a)/(d) = %.3f;"
        " (c)/(b) = %.3f; (e)/(b) = %.3f; by request time (a)/(b) = %.3f; net CPU per GiB (a)/(b) = %.3f,"
        " (e)/(b) = %.3f" % (
            ab, "met" if ab >= 0.95 else "MISSED", paired, rate["a"] / rate["d"], rate["c"] / rate["b"],
            rate["e"] / rate["b"], whole_rate["a"] / whole_rate["b"], net_gib["a"] / net_gib["b"],
            net_gib["e"] / net_gib["b"]))
    add("")

    add("2. Whole program under Xvfb (qd_bench), %s installer: process start until the installer"
        " starts (the tick it records). Request: its arrival in the server's log; body sent: the server"
        " logs it once the last byte is written" % human(args.whole_body))
    add("")
    add("| run | start -> request s | request -> body sent s | body sent -> installer s | start -> installer s"
        " | range | same, less the job's %d ms pause | start -> exit s |" % JOB_SLEEP_MS)
    add("|---|---:|---:|---:|---:|---:|---:|---:|")
    w = {}
    for key, label in (("program", "whole program"), ("bare", "bare loop (b) + ShellExecuteExA")):
        rs = whole[key]
        req = median([r.request_at - r.start for r in rs])
        inst = median([r.watch_seen - r.start for r in rs])
        less = inst - JOB_SLEEP_MS / 1000 if key == "program" else inst
        w[key] = (req, inst, less)
        spans = [r.watch_seen - r.start for r in rs]
        add("| %s | %.3f | %.3f | %.3f | %.3f | %.3f-%.3f | %s | %.3f |" % (
            label, req, median([r.grew - r.request_at for r in rs]), median([r.watch_seen - r.grew for r in rs]),
            inst, min(spans), max(spans),
            "%.3f" % less if key == "program" else "-", median([r.wall for r in rs])))
    wall_ratio = w["program"][2] / w["bare"][1]
    paired = median([(p.watch_seen - p.start - JOB_SLEEP_MS / 1000) / (q.watch_seen - q.start)
                     for p, q in zip(whole["program"], whole["bare"])])
    add("")
    add("program/bare = %.3f with the pause, %.3f without it (target <= 1.03: %s; median of the rounds' own"
        " ratios without the pause %.3f)" % (w["program"][1] / w["bare"][1], wall_ratio,
                                             "met" if wall_ratio <= 1.03 else "MISSED", paired))
    add("")

    add("3. Peak memory of the whole program. Windows view: memwatch.exe samples GetProcessMemoryInfo"
        " every 10 ms (Wine 8 leaves PrivateUsage 0; memwatch then takes PagefileUsage). Host view:"
        " /proc/<pid>/status of the same process, every 10 ms")
    add("")
    add("| body | peak private bytes MiB | peak working set MiB | RssAnon MiB | VmHWM MiB | samples |")
    add("|---|---:|---:|---:|---:|---:|")
    peaks = {}
    for size, rs in sorted(mem.items()):
        peaks[size] = median([r.report["peak_private"] for r in rs])
        add("| %s | %.2f | %.2f | %.2f | %.2f | %d |" % (
            human(size), peaks[size] / MiB, median([r.report["peak_working_set"] for r in rs]) / MiB,
            median([r.peak.get("RssAnon", 0) for r in rs]) / MiB,
            median([r.peak.get("VmHWM", 0) for r in rs]) / MiB, median([r.report["samples"] for r in rs])))
    small, large = min(peaks), max(peaks)
    growth = (peaks[large] - peaks[small]) / MiB
    add("")
    add("growth %s -> %s: %+.2f MiB private (target within 1 MiB: %s)" % (
        human(small), human(large), growth, "met" if abs(growth) <= 1 else "MISSED"))
    add("")

    add("4. Release program: %s" % os.path.relpath(EXES["release"], ROOT))
    add("")
    size = size_info["size"]
    add("size %d bytes (%.1f KiB; target <= 274 KB: %s); imports: %s; other DLL names in the image: %s; not a system DLL: %s"
        % (size, size / 1024, "met" if size <= 274 * 1000 else "MISSED",
           ", ".join("%s (%d)" % (d, size_info["functions"].get(d, 0)) for d in size_info["imports"]),
           ", ".join(size_info["delayed"]) or "none", ", ".join(size_info["foreign"]) or "none"))
    add("")
    startup = (w["program"][0] - w["bare"][0]) * 1000
    add("5. Start-up (process start -> request at the server): program %.0f ms, bare loop %.0f ms,"
        " difference %+.0f ms (target <= 20 ms: %s)" % (w["program"][0] * 1000, w["bare"][0] * 1000, startup,
                                                        "met" if startup <= 20 else "MISSED"))
    text = "\n".join(lines)
    with open(os.path.join(out_dir, "results.md"), "w") as f:
        f.write(text + "\n")
    return text


def raw(results):
    """Every run's figures, for results.json."""
    def one(r):
        if not isinstance(r, Run):
            return r
        d = {k: getattr(r, k, None) for k in ("wall", "cpu", "wineserver_cpu", "helpers_cpu", "rc", "samples")}
        d["peak"] = r.peak
        d["report"] = r.report
        for k in ("watch_seen", "polled_watch", "request_at", "grew"):
            if getattr(r, k, None) is not None:
                d[k + "_s"] = getattr(r, k) - r.start
        return d
    return {str(k): [one(r) for r in v] for k, v in results.items()}


def main():
    p = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    p.add_argument("--quick", action="store_true", help="2 runs and smaller bodies, to try the harness")
    p.add_argument("--runs", type=int, help="measured runs per figure (default 9, quick 2)")
    a = p.parse_args()
    a.runs = a.runs or (2 if a.quick else 9)
    a.mem_runs = 1 if a.quick else 3
    a.body = (64 if a.quick else 256) * MiB
    a.whole_body = (32 if a.quick else 64) * MiB
    mem_sizes = [16 * MiB, 128 * MiB] if a.quick else [16 * MiB, 256 * MiB, GiB]
    for name, path in EXES.items():
        if not os.path.isfile(path):
            raise SystemExit("missing %s (%s): run scripts/bench.sh, which builds it" % (name, path))

    info = machine()
    info["busy"] = busy_processes()
    say("load average %.2f %.2f %.2f; busy: %s" % (*info["load"], ", ".join(info["busy"]) or "none"))
    started = time.monotonic()
    with Bench(a) as b:
        tp = phase_throughput(b, a.body, a.runs)
        tp[1]["curl_cpu"] = curl_cpu(b, a.body, a.runs)
        whole = phase_whole(b, padded_installer(a.whole_body), a.whole_body, a.runs)
        mem = phase_memory(b, [(s, padded_installer(s)) for s in mem_sizes], a.mem_runs)
    dlls, delayed, functions = imports_of(EXES["release"])
    size_info = {"size": os.path.getsize(EXES["release"]), "imports": dlls, "delayed": delayed,
                 "functions": functions,
                 "foreign": [d for d in dlls + delayed if d not in SYSTEM_DLLS and d not in RUNTIME_PROBES]}
    info["load_after"] = os.getloadavg()
    text = report(a, info, tp, whole, mem, size_info, WORK)
    with open(os.path.join(WORK, "results.json"), "w") as f:
        json.dump({"machine": info, "args": vars(a), "throughput": raw(tp[1]),
                   "empty": raw(tp[2]), "whole": raw(whole),
                   "memory": {str(k): raw({"runs": v})["runs"] for k, v in mem.items()},
                   "release": size_info, "seconds": time.monotonic() - started}, f, indent=1)
    print(text)
    say("took %.0f s; table in %s, every run in %s" % (time.monotonic() - started,
                                                       os.path.join(WORK, "results.md"),
                                                       os.path.join(WORK, "results.json")))
    return 0


if __name__ == "__main__":
    sys.exit(main())
