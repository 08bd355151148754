"""Running one measured process and sampling it and its prefix from /proc."""
import os
import platform
import re
import subprocess
import time

from .config import PREFIX, WINE, say

import procmem  # tests/e2e, through config's path

CLK_TCK = os.sysconf("SC_CLK_TCK")


def cpu_seconds(pid):
    """utime + stime of a live process, from /proc/<pid>/stat."""
    try:
        with open("/proc/%d/stat" % pid) as f:
            fields = f.read().rsplit(")", 1)[1].split()
        return (int(fields[11]) + int(fields[12])) / CLK_TCK
    except (OSError, IndexError, ValueError):
        return None


def cpu_of_all(exclude, only_prefix=False):
    """pid -> CPU seconds of the live processes (of this benchmark's prefix
    only, by WINEPREFIX, with `only_prefix`), but `exclude`."""
    want = ("WINEPREFIX=" + PREFIX).encode()
    found = {}
    for name in os.listdir("/proc"):
        if not name.isdigit() or int(name) in exclude:
            continue
        if only_prefix:
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
    processes' CPU during it, memory samples of the program `memory_of`, and
    when a watched file appeared."""

    def __init__(self, argv, env, timeout, watch=None, log=None, wineserver=None, memory_of=None, grows=None):
        self.argv = argv
        self.timed_out = False
        self.watch_seen = None
        self.grew = None  # when the file `grows` first grew: the server logs a request once answered
        grows_size = os.path.getsize(grows) if grows else 0
        ws_before = cpu_seconds(wineserver) if wineserver else None
        helpers_before = cpu_of_all({wineserver or -1}, only_prefix=True)
        out = open(log or os.devnull, "ab")
        self.start = time.monotonic()
        proc = subprocess.Popen(argv, env=env, stdin=subprocess.DEVNULL, stdout=out, stderr=out)
        out.close()
        sampler = procmem.Sampler(memory_of, PREFIX, exclude={proc.pid}) if memory_of else None
        deadline = self.start + timeout
        next_sample = self.start
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
            if sampler and now >= next_sample:
                next_sample = now + 0.01
                sampler.sample()
            if now > deadline and not self.timed_out:
                self.timed_out = True
                say("time limit of %ds reached, stopping %s" % (timeout, os.path.basename(argv[-1])))
                proc.kill()
            time.sleep(0.001)
        self.rc = os.waitstatus_to_exitcode(status)
        self.wall = self.end - self.start
        self.cpu = rusage.ru_utime + rusage.ru_stime
        self.peak = sampler.peak if sampler else {}
        self.samples = sampler.samples if sampler else 0
        ws_after = cpu_seconds(wineserver) if wineserver else None
        self.wineserver_cpu = (ws_after - ws_before) if ws_before is not None and ws_after is not None else 0.0
        helpers_after = cpu_of_all({wineserver or -1, proc.pid}, only_prefix=True)
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
    # The tick wraps at 2^32 ms; the host's raw clock says which lap it is on.
    now_ms = int(time.clock_gettime(time.CLOCK_MONOTONIC_RAW) * 1000)
    started_ms = now_ms - ((now_ms - tick) % (1 << 32))
    return from_raw(started_ms / 1000.0)


def from_raw(seconds):
    """A time of CLOCK_MONOTONIC_RAW on this process's monotonic clock."""
    raw = time.clock_gettime(time.CLOCK_MONOTONIC_RAW)
    return seconds - (raw - time.monotonic())


def steps(report, names):
    """The steps of a result line, given in QueryPerformanceCounter ticks
    (Wine counts them from CLOCK_MONOTONIC_RAW; `freq` per second), on this
    process's monotonic clock; a step not reached (0) is None."""
    freq = report.get("freq")
    return {n: from_raw(report[n] / freq) if freq and report.get(n) else None for n in names}


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


def busy_processes():
    """Other processes that used CPU in the last second (a quiet-machine check)."""
    before = cpu_of_all({os.getpid()})
    time.sleep(1.0)
    busy = []
    for pid, c0 in before.items():
        c1 = cpu_seconds(pid)
        if c1 is not None and c1 - c0 >= 0.05:
            try:
                with open("/proc/%d/comm" % pid) as f:
                    busy.append("%s %.0f%%" % (f.read().strip(), (c1 - c0) * 100))
            except OSError:
                pass
    return busy


def machine():
    def first(path, key):
        try:
            with open(path) as f:
                for line in f:
                    if line.startswith(key):
                        return line.split(":", 1)[1].strip()
        except OSError:
            pass
        return "?"
    wine = subprocess.run([WINE, "--version"], capture_output=True, text=True, timeout=30).stdout.strip()
    return {"nproc": os.cpu_count(), "cpu": first("/proc/cpuinfo", "model name"), "wine": wine,
            "kernel": platform.release(), "load": os.getloadavg()}
