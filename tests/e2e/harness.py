"""Shared pieces of the end-to-end tests: the build's configuration, running
Windows programs under Wine with a hard time limit, the test server, the GUI
driver, and the Wine user's folders.

Every wait here is bounded. Output of Wine processes goes to files, never to
pipes we wait on: Wine's helper processes can inherit a pipe and keep it open
long after the program we started has ended.
"""
import json
import os
import queue
import resource
import signal
import subprocess
import sys
import tempfile
import threading
import time
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)

import server as _server  # noqa: E402

pattern_bytes = _server.pattern_bytes
header = _server.header
free_port = _server.free_port


# -- configuration -------------------------------------------------------------

def _config_path():
    for i, arg in enumerate(sys.argv):
        if arg == "--config" and i + 1 < len(sys.argv):
            return sys.argv[i + 1]
        if arg.startswith("--config="):
            return arg.split("=", 1)[1]
    return os.environ.get("QD_E2E_CONFIG")


class Config:
    """Paths of the build: written by tests/e2e/CMakeLists.txt (e2e_config.json)."""

    def __init__(self, path=None):
        path = path or _config_path()
        if not path:
            raise SystemExit("no configuration: pass --config <build>/tests/e2e/e2e_config.json")
        self.data = self._load(path)
        self.path = path

    @staticmethod
    def _load(path):
        """A folder's own configuration names the one it extends as "base"."""
        with open(path) as f:
            data = json.load(f)
        base = data.pop("base", None)
        if not base:
            return data
        merged = Config._load(base)
        merged.update({k: v for k, v in data.items() if k != "exes"})
        merged["exes"].update(data.get("exes", {}))
        return merged

    def __getattr__(self, name):
        try:
            return self.data[name]
        except KeyError:
            raise AttributeError(name)

    def exe(self, name):
        return self.data["exes"][name]


_config = None


def config():
    global _config
    if _config is None:
        _config = Config()
    return _config


def strip_config_args(argv):
    out, skip = [], False
    for arg in argv:
        if skip:
            skip = False
            continue
        if arg == "--config":
            skip = True
            continue
        if arg.startswith("--config="):
            continue
        out.append(arg)
    return out


# -- Wine ----------------------------------------------------------------------

def wine_env(extra=None):
    cfg = config()
    env = dict(os.environ)
    env["WINEPREFIX"] = cfg.prefix
    env.setdefault("WINEDEBUG", "-all")
    env.setdefault("WINEDLLOVERRIDES", "mscoree,mshtml=")
    if cfg.win64:
        # The 64-bit loader, started directly; Wine starts child programs
        # with WINELOADER.
        env["WINELOADER"] = cfg.wine
        env["WINEARCH"] = "win64"
    # Wine spells Windows file names in the Unix locale's character set: under
    # C or POSIX a folder named outside ASCII cannot even be opened.
    env["LC_ALL"] = "C.UTF-8"
    if extra:
        for k, v in extra.items():
            if v is None:
                env.pop(k, None)
            else:
                env[k] = str(v)
    return env


def require_display(testcase=None):
    if not os.environ.get("DISPLAY"):
        msg = "DISPLAY is not set: start Xvfb (scripts/test.sh does) and export DISPLAY"
        if testcase:
            testcase.fail(msg)
        raise SystemExit(msg)


def winpath(unix_path):
    """The Windows form of a Unix path, through the prefix's Z: drive (which maps /)."""
    return "Z:" + os.path.abspath(unix_path).replace("/", "\\")


class ServerCase(unittest.TestCase):
    """A test class with one trusted test server and a scratch folder, both
    shared by its cases."""

    @classmethod
    def setUpClass(cls):
        cfg = config()
        os.makedirs(cfg.work, exist_ok=True)
        cls.tmp = tempfile.TemporaryDirectory(dir=cfg.work)
        cls.srv = start_server()

    @classmethod
    def tearDownClass(cls):
        cls.srv.stop()
        cls.tmp.cleanup()

    def out(self, name):
        return os.path.join(self.tmp.name, name)


class WineTimeout(AssertionError):
    pass


class Result:
    def __init__(self, rc, out, err, elapsed):
        self.rc, self.out, self.err, self.elapsed = rc, out, err, elapsed

    @property
    def lines(self):
        """The output's lines, cut at line feeds only: splitlines() would also
        cut at bytes such as 0x85, which UTF-8 uses inside letters (read here
        as Latin-1)."""
        lines = [line.rstrip("\r") for line in self.out.split("\n")]
        return lines[:-1] if lines and lines[-1] == "" else lines

    def __repr__(self):
        return "Result(rc=%r, %.2fs)\nstdout:\n%s\nstderr:\n%s" % (
            self.rc, self.elapsed, self.out, self.err)


def _kill_group(proc):
    try:
        os.killpg(proc.pid, signal.SIGKILL)
    except (ProcessLookupError, PermissionError):
        pass
    try:
        proc.wait(5)
    except subprocess.TimeoutExpired:
        pass


def run(argv, timeout, env=None, cwd=None, stdin_text=None):
    """Runs a host command with a hard time limit; output through files."""
    with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
        start = time.monotonic()
        proc = subprocess.Popen(argv, stdout=out, stderr=err,
                                stdin=subprocess.PIPE if stdin_text is not None else subprocess.DEVNULL,
                                env=env, cwd=cwd, start_new_session=True)
        try:
            if stdin_text is not None:
                proc.stdin.write(stdin_text.encode())
                proc.stdin.close()
            rc = proc.wait(timeout)
        except subprocess.TimeoutExpired:
            _kill_group(proc)
            out.seek(0)
            raise WineTimeout("%s did not end within %ss; output so far:\n%s" % (
                " ".join(argv), timeout, out.read().decode("latin-1")))
        elapsed = time.monotonic() - start
        out.seek(0)
        err.seek(0)
        return Result(rc, out.read().decode("latin-1"), err.read().decode("latin-1"), elapsed)


def run_wine(exe, args=(), timeout=30, env=None, cwd=None):
    """Runs a Windows program under the test prefix, killed after `timeout` s."""
    return run([config().wine, exe, *[str(a) for a in args]], timeout,
               env=wine_env(env), cwd=cwd)


# -- the Wine user's folders ---------------------------------------------------

def prefix_info():
    """What the prefix fixture recorded about the prefix (temp folder etc.)."""
    with open(os.path.join(config().prefix, "qd-e2e-prefix.json")) as f:
        return json.load(f)


def temp_dir():
    """Unix path of %TEMP% of the Wine user."""
    return prefix_info()["temp_unix"]


# -- the test server -----------------------------------------------------------

def start_server(trusted=True, chain=False, port=0, plain=False, **kw):
    """The test server on loopback; `plain` serves HTTP without TLS."""
    if plain:
        return _server.TestServer(None, None, port=port, **kw).start()
    cfg = config()
    name = "server" if trusted else "untrusted"
    cert = os.path.join(cfg.pki, name + ("-chain.pem" if chain else ".pem"))
    key = os.path.join(cfg.pki, name + ".key")
    return _server.TestServer(cert, key, port=port, **kw).start()


# -- the engine on its own (tools/enginecli.cpp) ---------------------------------

class EngineRun:
    """What enginecli printed, parsed: the callbacks in order and the outcome."""

    def __init__(self, result):
        self.result = result
        self.events = []      # ("status", text) / ("progress", received, total) / ("abort_at" | "wait", n)
        self.ok = False
        self.error = None     # (class name, error number or None, message)
        self.aborted = self.closing = self.filename = self.written = self.elapsed_ms = None
        self.complete = False
        for line in result.lines:
            word, _, rest = line.partition(" ")
            if word == "status":
                self.events.append(("status", unescape(rest)))
            elif word == "progress":
                r, t = rest.split()
                self.events.append(("progress", int(r), int(t)))
            elif word in ("abort_at", "wait"):
                self.events.append((word, int(rest)))
            elif word == "ok":
                self.ok = True
            elif word == "error":
                cls, num, msg = (rest.split(" ", 2) + ["", ""])[:3]
                self.error = (cls, None if num == "-" else int(num), unescape(msg))
            elif word == "aborted":
                self.aborted = rest == "1"
            elif word == "closing":
                self.closing = rest == "1"
            elif word == "filename":
                self.filename = unescape(rest)
            elif word == "written":
                self.written = int(rest)
            elif word == "elapsed_ms":
                self.elapsed_ms = int(rest)
            elif word == "end":
                self.complete = True

    @property
    def statuses(self):
        return [e[1] for e in self.events if e[0] == "status"]

    @property
    def progress(self):
        return [(e[1], e[2]) for e in self.events if e[0] == "progress"]

    @property
    def waits(self):
        """The length in whole seconds of each wait between attempts."""
        counts = [e[1] for e in self.events if e[0] == "wait"]
        return [n for n, before in zip(counts, [0] + counts) if before == 0 and n]

    @property
    def message(self):
        return self.error[2] if self.error else None

    def __repr__(self):
        return repr(self.result)


def run_engine(url, *options, timeout=40, out=None, env=None):
    """Downloads `url` with the engine; `out` is a Unix path for the file stream."""
    args = list(options)
    if out:
        args += ["--out", winpath(out)]
    result = run_wine(config().exe("enginecli"), args + [url], timeout, env=env)
    run = EngineRun(result)
    if not run.complete:
        raise AssertionError("enginecli did not finish normally (crash?)\n%r" % result)
    return run


def run_queries(url, *queries, timeout=40):
    """Header queries on the final response: list of result lines, split."""
    args = []
    for q in queries:
        args += ["--query", q]
    result = run_wine(config().exe("enginecli"), args + [url], timeout)
    if not result.lines or result.lines[-1] != "end":
        raise AssertionError("enginecli --query did not finish\n%r" % result)
    return result.lines[:-1]


# -- the GUI driver ------------------------------------------------------------

def quote(arg):
    """Quotes one argument for the driver's line protocol."""
    s = str(arg)
    if s and not any(c in s for c in ' \t"\\'):
        return s
    return '"' + s.replace("\\", "\\\\").replace('"', '\\"') + '"'


def unescape(text):
    """Reverses the driver's escaping of window texts (\\n, \\r, \\t, \\\\, \\xHH)."""
    out, i = [], 0
    while i < len(text):
        c = text[i]
        if c == "\\" and i + 1 < len(text):
            n = text[i + 1]
            if n == "x" and i + 3 < len(text):
                out.append(chr(int(text[i + 2:i + 4], 16)))
                i += 4
                continue
            out.append({"n": "\n", "r": "\r", "t": "\t"}.get(n, n))
            i += 2
            continue
        out.append(c)
        i += 1
    return "".join(out)


class DriverError(AssertionError):
    pass


class Driver:
    """The GUI driver (tools/driver.cpp) under Wine, scripted line by line.

    Each command answers with lines; the last starts with "ok" or "err".
    The programs it starts inherit its process set-up: `env` (Wine reads
    WINEDLLOVERRIDES and WINEDEBUG there), its stderr (a file of ours, at
    `stderr_path` if given) and resource `limits` ({resource.RLIMIT_*: n}).
    With limits, signals stay as Python has them: Python ignores SIGXFSZ,
    so a write beyond a file-size limit fails like one on a full disk
    instead of killing the program.
    """

    def __init__(self, env=None, lifetime=120, stderr_path=None, limits=None):
        def apply_limits():
            for resource_id, value in limits.items():
                resource.setrlimit(resource_id, (value, value))

        cfg = config()
        self._err = open(stderr_path, "w+b") if stderr_path else tempfile.TemporaryFile()
        self.proc = subprocess.Popen(
            [cfg.wine, cfg.exe("driver"), "--lifetime", str(int(lifetime * 1000))],
            stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=self._err,
            env=wine_env(env), start_new_session=True,
            restore_signals=not limits, preexec_fn=apply_limits if limits else None)
        self._lines = queue.Queue()
        self._reader = threading.Thread(target=self._read, daemon=True)
        self._reader.start()
        self.transcript = []
        self.expect_line("ready", 30)

    def stderr(self):
        """What the driver and the programs it started wrote to stderr so far."""
        self._err.flush()
        self._err.seek(0)
        return self._err.read().decode("latin-1")

    def _read(self):
        for raw in self.proc.stdout:
            self._lines.put(raw.decode("utf-8", "replace").rstrip("\r\n"))
        self._lines.put(None)

    def expect_line(self, prefix, timeout):
        line = self._next(timeout)
        if not line.startswith(prefix):
            raise DriverError("driver said %r, expected %r" % (line, prefix))
        return line

    def _next(self, timeout):
        try:
            line = self._lines.get(timeout=timeout)
        except queue.Empty:
            raise DriverError("driver gave no answer within %ss; transcript:\n%s" % (
                timeout, "\n".join(self.transcript)))
        if line is None:
            raise DriverError("driver ended; transcript:\n%s" % "\n".join(self.transcript))
        self.transcript.append("< " + line)
        return line

    def raw(self, *args, timeout=None, allow_err=False):
        """Sends one command; returns (status, rest, extra_lines)."""
        line = " ".join(quote(a) for a in args)
        self.transcript.append("> " + line)
        self.proc.stdin.write((line + "\n").encode("utf-8"))
        self.proc.stdin.flush()
        # The driver bounds every command itself; this limit only guards the
        # driver's own liveness.
        timeout = timeout if timeout is not None else 30
        extra = []
        while True:
            got = self._next(timeout)
            if got == "ok" or got.startswith("ok "):
                return "ok", got[3:], extra
            if got == "err" or got.startswith("err "):
                if not allow_err:
                    raise DriverError("%s -> %s" % (line, got))
                return "err", got[4:], extra
            extra.append(got)

    def cmd(self, *args, timeout=None):
        return self.raw(*args, timeout=timeout)[1]

    # Convenience wrappers; timeouts in milliseconds as the driver takes them.
    def start(self, exe, args="", scope=True):
        """Starts a program; with `scope`, later searches see only its windows
        (tests running at the same time may show boxes with the same caption)."""
        cmdline = '"%s"' % winpath(exe) if exe.startswith("/") else exe
        if args:
            cmdline += " " + args
        pid = int(self.cmd("start", cmdline))
        self.cmd("scope", pid if scope else 0)
        return pid

    def find(self, caption, timeout_ms, cls="#32770"):
        status, rest, _ = self.raw("find", caption, timeout_ms, cls,
                                   timeout=timeout_ms / 1000 + 10, allow_err=True)
        return int(rest) if status == "ok" else None

    def text(self, hwnd, ctrl):
        return unescape(self.cmd("text", hwnd, ctrl))

    def caption(self, hwnd):
        return unescape(self.cmd("caption", hwnd))

    def pos(self, hwnd, ctrl):
        return int(self.cmd("pos", hwnd, ctrl))

    def boxes(self):
        _, _, extra = self.raw("boxes")
        result = []
        for line in extra:
            # box <hwnd> <pid> <caption> <text>, tab-separated
            _, hwnd, pid, caption, text = line.split("\t")
            result.append({"hwnd": int(hwnd), "pid": int(pid),
                           "caption": unescape(caption), "text": unescape(text)})
        return result

    def watch(self, hwnd, ctrl, timeout_ms, timed=False):
        """Texts a control showed, in order, until its window went or timeout;
        `timed`: (seconds from the watch's start, text) pairs."""
        _, rest, extra = self.raw("watch", hwnd, ctrl, timeout_ms, timeout=timeout_ms / 1000 + 10)
        seen = [line.split("\t", 2)[1:] for line in extra]
        seen = [(int(ms) / 1000.0, unescape(text)) for ms, text in seen]
        return [s if timed else s[1] for s in seen], rest.endswith("gone")

    def answer(self, caption, substring, button, timeout_ms):
        """Presses `button` on the message box captioned `caption`; returns its text."""
        return unescape(self.cmd("answer", caption, substring, button, timeout_ms,
                                 timeout=timeout_ms / 1000 + 10))

    def wait(self, timeout_ms):
        status, rest, _ = self.raw("wait", timeout_ms, timeout=timeout_ms / 1000 + 10,
                                   allow_err=True)
        if status != "ok":
            return None
        return int(rest)

    def close(self):
        if self.proc.poll() is None:
            try:
                self.proc.stdin.write(b"kill\nquit\n")
                self.proc.stdin.flush()
                self.proc.stdin.close()
            except OSError:
                pass
            try:
                self.proc.wait(10)
            except subprocess.TimeoutExpired:
                _kill_group(self.proc)
        self._reader.join(5)
        self.proc.stdout.close()
        self._err.close()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()


# -- running a test script -----------------------------------------------------

def main():
    """unittest.main with the --config argument taken out; exit 1 on failure."""
    config()  # fail early and clearly without a configuration
    unittest.main(module="__main__", argv=strip_config_args(sys.argv), verbosity=2)
