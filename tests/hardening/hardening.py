"""What the hardening tests share: their configuration (hardening_config.json,
written by tests/hardening/CMakeLists.txt), a work folder per case, the test
server on the slot's port handing out the installer stand-in (tools/helper),
the program started as a user would start it and played through the GUI
driver of tests/e2e, and the diagnostics printed when a case fails.

Every wait is bounded: each driver command, each driver's lifetime, each
program run (killed after its limit) and, outside, ctest's TIMEOUT.
"""
import atexit
import json
import os
import queue
import re
import resource
import shutil
import signal
import subprocess
import sys
import tempfile
import threading
import time
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(os.path.dirname(HERE), "e2e"))

import harness  # noqa: E402

DIALOG = "Quillet for 2024 Downloader"
BOX = "Quillet Downloader"
SAVE_AS = "Save Downloader"
INSTALLER = "Quillet_2024_Setup.exe"
BROWSER_QUESTION = "Download failed. Do you want to attempt to download in your browser?"
IDOK, IDYES, IDNO = 1, 6, 7
STATUS, CHECKBOX = 102, 104

# An operating-system error as the program words it.
OS_ERROR = re.compile(r"^(System Error\.  Code: [1-9]\d*\.\r\n.+|A call to an OS function failed)$", re.S)

BOX_MS = 15000      # for a box to appear
DIALOG_MS = 30000   # the first window of a session waits for Wine's desktop


def config():
    """This directory's configuration (paths of the tools and variants)."""
    path = os.environ.get("QD_HARDENING_CONFIG")
    if not path:
        raise SystemExit("QD_HARDENING_CONFIG is not set (ctest sets it)")
    with open(path) as f:
        return json.load(f)


CFG = None


def cfg():
    global CFG
    if CFG is None:
        CFG = config()
    return CFG


def exe(name):
    return cfg()["exes"][name]


def port(slot):
    return cfg()["ports"][slot]


def read(path):
    with open(path, "rb") as f:
        return f.read()


def helper_bytes():
    """The installer stand-in as served: a real, windowless program."""
    return read(exe("helper"))


def padded(data, size):
    """A valid program of `size` bytes: data appended after the image, which
    the loader ignores."""
    return data + harness.pattern_bytes(size - len(data)) if size > len(data) else data


_keeper = None


def keep_desktop():
    """Keeps one Wine process alive for the whole script: when the last one
    ends, Wine's desktop quits, and the next window waits for a new one."""
    global _keeper
    if _keeper is None:
        _keeper = harness.Driver(lifetime=600)
        atexit.register(_keeper.close)
    return _keeper


class Program:
    """A Windows program started straight from the host (`wine <exe>`), with
    its output in a file: the file holder of hold_file."""

    def __init__(self, argv, env, log):
        self.log_path = log
        self._log = open(log, "wb")
        self.proc = subprocess.Popen([harness.config().wine] + argv, stdout=self._log,
                                     stderr=subprocess.STDOUT, stdin=subprocess.DEVNULL,
                                     env=harness.wine_env(env), start_new_session=True)

    def wait(self, timeout):
        """The exit code, or None if it still runs after `timeout` s."""
        try:
            return self.proc.wait(timeout)
        except subprocess.TimeoutExpired:
            return None

    def kill(self):
        if self.proc.poll() is None:
            try:
                os.killpg(self.proc.pid, signal.SIGKILL)
            except (ProcessLookupError, PermissionError):
                pass
            try:
                self.proc.wait(5)
            except subprocess.TimeoutExpired:
                pass
        self._log.close()

    def output(self):
        self._log.flush()
        with open(self.log_path, "rb") as f:
            return f.read().decode("latin-1")


class HostDriver(harness.Driver):
    """The GUI driver of tests/e2e, with its own process set up here, for the
    program it starts inherits it: Wine's messages (WINEDEBUG, set for the
    program only) go to a file of ours, and resource limits apply. Python
    ignores SIGXFSZ and would, with restore_signals, let the child die of it;
    kept ignored, a write beyond a file-size limit fails like a full disk.
    Otherwise as harness.Driver, whose reader and commands it uses."""

    def __init__(self, env=None, lifetime=120, stderr_path=None, limits=None):
        def child_setup():
            for resource_id, value in (limits or {}).items():
                resource.setrlimit(resource_id, (value, value))

        cfg_e2e = harness.config()
        self._err = open(stderr_path, "w+b") if stderr_path else tempfile.TemporaryFile()
        self.proc = subprocess.Popen(
            [cfg_e2e.wine, cfg_e2e.exes["driver"], "--lifetime", str(int(lifetime * 1000))],
            stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=self._err,
            env=harness.wine_env(env), start_new_session=True,
            restore_signals=False, preexec_fn=child_setup)
        self._lines = queue.Queue()
        self._reader = threading.Thread(target=self._read, daemon=True)
        self._reader.start()
        self.transcript = []
        self.expect_line("ready", 30)


class Case(unittest.TestCase):
    """One run of the program (or several) per case, on this script's slot."""

    SLOT = 0
    maxDiff = None

    @classmethod
    def setUpClass(cls):
        harness.require_display()
        keep_desktop()

    def setUp(self):
        self.port = port(self.SLOT)
        self.work = os.path.join(cfg()["work"], self.id().split(".", 1)[1])
        shutil.rmtree(self.work, ignore_errors=True)
        os.makedirs(self.work)
        self.temp = os.path.join(self.work, "temp")
        os.makedirs(self.temp)
        self.temp_file = os.path.join(self.temp, INSTALLER)
        self.record = os.path.join(self.work, "installer-record.txt")
        self.browser_log = os.path.join(self.work, "browser.log")
        self.server = None
        self.driver = None
        self.pid = None
        self.dlg = None
        self.helpers = []

    def tearDown(self):
        if self._failed():
            self.diagnose()
        if self.driver:
            self.driver.close()  # ends the program it started if it still runs
        for p in self.helpers:
            p.kill()
        if self.server:
            self.server.stop()

    def _failed(self):
        outcome = getattr(self, "_outcome", None)
        if outcome is None:
            return False
        if hasattr(outcome, "errors"):  # Python before 3.11
            return any(exc for _, exc in outcome.errors)
        result = outcome.result
        return any(t is self for t, _ in result.failures + result.errors)

    # -- the server -------------------------------------------------------------

    def serve(self, **route):
        """Starts the slot's server with one route for the download address."""
        self.server = harness.start_server(port=self.port)
        self.server.route("/installer.php", **route)
        return self.server

    def downloads(self):
        return self.server.requests("/installer.php") if self.server else []

    # -- the program --------------------------------------------------------------

    def program_env(self, extra=None):
        """The Windows-side environment of a run: its own temporary folder, the
        installer stand-in's record, the browser recorder's log."""
        env = {"TEMP": harness.winpath(self.temp), "TMP": harness.winpath(self.temp),
               "QD_TEST_RECORD": harness.winpath(self.record),
               "QD_TEST_HELPER": harness.winpath(exe("helper")),
               "QD_BROWSER_LOG": self.browser_log}
        env.update(extra or {})
        return env

    def launch(self, exe_path, env=None, find=True, lifetime=90, driver_env=None, stderr_path=None,
               limits=None):
        """Starts the program through the driver, as a user would; returns the
        dialog's window. `driver_env` is the host environment of the driver
        and so of the program (Wine reads WINEDLLOVERRIDES there), `env` the
        program's Windows environment on top of the case's own."""
        denv = {"QD_BROWSER_LOG": self.browser_log}
        denv.update(driver_env or {})
        self.driver = HostDriver(env=denv, lifetime=lifetime, stderr_path=stderr_path, limits=limits)
        for name, value in self.program_env(env).items():
            self.driver.cmd("setenv", name, value)
        # start also limits the driver's box commands to this program.
        self.pid = self.driver.start(exe_path)
        if find:
            self.dlg = self.driver.find(DIALOG, DIALOG_MS)
            self.assertIsNotNone(self.dlg, "no window %r within %d ms" % (DIALOG, DIALOG_MS))
        return self.dlg

    def end_run(self):
        """Closes the driver (and the program, if it still runs), so that the
        case can start another run."""
        if self.driver:
            self.driver.close()
            self.driver = None
        self.dlg = None

    def answer(self, button, timeout_ms=BOX_MS, caption=BOX):
        """Answers the next box with this caption; returns its text."""
        return self.driver.answer(caption, "", button, timeout_ms)

    def answer_exact(self, text, button, timeout_ms=BOX_MS):
        got = self.answer(button, timeout_ms)
        self.assertEqual(got, text)
        return got

    def answer_failure(self, timeout_ms=BOX_MS, browser=IDNO):
        """The error box and the browser offer that end a failed run; returns
        the error's text."""
        text = self.answer(IDOK, timeout_ms)
        self.answer_exact(BROWSER_QUESTION, browser)
        return text

    def answer_system_box(self, substring, button=IDOK, timeout_ms=BOX_MS):
        """Presses a button on a box the system itself shows (Wine's "Bad EXE
        format", the Save As dialog's overwrite question), found by its text,
        whatever its caption."""
        deadline = time.monotonic() + timeout_ms / 1000.0
        while time.monotonic() < deadline:
            for b in self.driver.boxes():
                if substring in b["text"] and b["caption"] != BOX:
                    self.driver.answer(b["caption"], substring, button, 5000)
                    return b
            time.sleep(0.05)
        self.fail("no box with %r within %d ms; boxes: %r" % (substring, timeout_ms, self.program_boxes()))

    def answer_program_box(self, button=IDOK, timeout_ms=BOX_MS):
        """Answers the program's next box, pressing OK on any box of the
        system's own that comes first; returns (the program's box text, the
        system boxes passed)."""
        passed = []
        deadline = time.monotonic() + timeout_ms / 1000.0
        while time.monotonic() < deadline:
            boxes = self.program_boxes()
            mine = [b for b in boxes if b["caption"] == BOX]
            if mine:
                return self.answer(button, 5000), passed
            if boxes:
                self.driver.answer(boxes[0]["caption"], "", IDOK, 5000)
                passed.append(boxes[0])
                continue
            time.sleep(0.05)
        self.fail("no box of the program within %d ms; passed %r" % (timeout_ms, passed))

    def wait_exit(self, timeout_ms=20000):
        """Waits for the driver-started program to end; asserts exit code 0."""
        code = self.driver.wait(timeout_ms)
        self.assertIsNotNone(code, "the program did not end within %d ms" % timeout_ms)
        self.assertEqual(code, 0, "exit code")
        return code

    def program_boxes(self):
        """The boxes on screen, the program's dialog not counted."""
        return [b for b in self.driver.boxes() if b["hwnd"] != self.dlg and b["caption"] != DIALOG]

    # -- what the installer and the browser recorded --------------------------------

    def installer_runs(self):
        """[{'path', 'exit', 'hold'}] from the stand-in's record, one per run."""
        runs = []
        try:
            with open(self.record, "r", encoding="latin-1") as f:
                lines = f.read().splitlines()
        except FileNotFoundError:
            return runs
        for line in lines:
            fields = line.split("\t")
            if fields[0] == "ran" and len(fields) >= 2:
                runs.append({"path": fields[1], "exit": None, "hold": None})
            elif fields[0] == "exit" and runs:
                runs[-1]["exit"] = int(fields[1])
            elif fields[0] == "hold" and runs:
                runs[-1]["hold"] = fields[1] if len(fields) > 1 else ""
        return runs

    def browser_opened(self):
        try:
            with open(self.browser_log) as f:
                return f.read().splitlines()
        except FileNotFoundError:
            return []

    # -- helpers -----------------------------------------------------------------

    def hold_file(self, path, ms):
        """Holds a file open with no sharing (tools/helper --hold) until `ms`
        have passed or the case ends; returns once it holds it."""
        p = Program([exe("helper"), "--hold", harness.winpath(path), str(ms)], None,
                    os.path.join(self.work, "hold-%d.log" % len(self.helpers)))
        self.helpers.append(p)
        deadline = time.monotonic() + 30
        while time.monotonic() < deadline:
            out = p.output()
            if "held" in out:
                return p
            if "error" in out or p.proc.poll() is not None:
                self.fail("could not hold %s: %r" % (path, out))
            time.sleep(0.05)
        self.fail("holding %s did not start within 30 s" % path)

    # -- when a case fails -------------------------------------------------------

    def diagnose(self):
        out = ["", "=== diagnostics for %s ===" % self.id()]
        d = self.driver
        try:
            probe = d if d and d.proc.poll() is None else harness.Driver(lifetime=20)
            out.append("boxes on screen:")
            out += ["  %r" % b for b in probe.boxes()]
            if probe is not d:
                probe.close()
        except Exception as e:  # the diagnostics must not hide the failure
            out.append("(driver unavailable: %s)" % e)
        if d:
            out.append("driver transcript:")
            out += ["  " + line for line in d.transcript[-60:]]
        if self.server:
            out.append("server requests:")
            for e in self.server.requests()[-20:]:
                out.append("  %s %s -> %s, %d bytes sent" % (e["method"], e["target"], e["outcome"], e["sent"]))
            out.append("TLS failures: %r" % self.server.tls_failures())
        out.append("installer record: %r" % self.installer_runs())
        out.append("browser opened: %r" % self.browser_opened())
        try:
            out.append("temp folder: %r" % {n: os.path.getsize(os.path.join(self.temp, n))
                                            for n in os.listdir(self.temp) if n.startswith("Quillet")})
        except OSError as e:
            out.append("temp folder: %s" % e)
        print("\n".join(out), file=sys.stderr, flush=True)


def main():
    harness.main()
