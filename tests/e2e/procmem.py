"""The memory of a program under Wine, read from the host: each Windows
process is a Linux process whose argv[0] is the program's Windows path, so
its /proc/<pid>/status holds what Windows would call its private bytes
(RssAnon) and working set (VmRSS). Used by the big-download test and by the
benchmark (scripts/bench).
"""
import os
import time

KEYS = ("RssAnon", "VmRSS", "VmHWM", "VmSwap")


def find_process(name, prefix=None, exclude=(), timeout=0):
    """The pid of a live process whose program (argv[0]) is `name`, of the
    Wine prefix `prefix` when given; None when none turns up within `timeout` s."""
    want = ("WINEPREFIX=" + prefix).encode() if prefix else None
    suffix = b"/" + name.lower().encode()
    deadline = time.monotonic() + timeout
    while True:
        for pid in os.listdir("/proc"):
            if not pid.isdigit() or int(pid) in exclude:
                continue
            try:
                with open("/proc/%s/cmdline" % pid, "rb") as f:
                    argv0 = f.read().split(b"\0")[0].replace(b"\\", b"/").lower()
                if not argv0.endswith(suffix):
                    continue
                if want:
                    with open("/proc/%s/environ" % pid, "rb") as f:
                        if want not in f.read().split(b"\0"):
                            continue
            except OSError:
                continue
            return int(pid)
        if time.monotonic() >= deadline:
            return None
        time.sleep(0.1)


def memory(pid):
    """RssAnon, VmRSS, VmHWM and VmSwap of a live process, in bytes; None
    once it has gone."""
    out = {}
    try:
        with open("/proc/%d/status" % pid) as f:
            for line in f:
                key, _, rest = line.partition(":")
                if key in KEYS:
                    out[key] = int(rest.split()[0]) * 1024
    except (OSError, ValueError, IndexError):
        return None
    return out or None


class Sampler:
    """The peaks of one program's memory over repeated samples. The process
    is looked up again whenever it is not (or no longer) there."""

    def __init__(self, name, prefix=None, exclude=()):
        self.name, self.prefix, self.exclude = name, prefix, set(exclude)
        self.pid = None
        self.peak = {}
        self.samples = 0

    def sample(self):
        if self.pid is None:
            self.pid = find_process(self.name, self.prefix, self.exclude)
        m = memory(self.pid) if self.pid else None
        if m is None:
            self.pid = None
            return None
        self.samples += 1
        for k, v in m.items():
            self.peak[k] = max(v, self.peak.get(k, 0))
        return m
