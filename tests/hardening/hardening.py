"""What the hardening tests share: their configuration (hardening_config.json,
written by tests/hardening/CMakeLists.txt), a work folder per case, the test
server on the slot's port handing out the installer stand-in (tools/helper),
the program started as a user would start it and played through the GUI
driver of tests/e2e, and the diagnostics printed when a case fails.

Every wait is bounded: each driver command, each driver's lifetime, each
program run (killed after its limit) and, outside, ctest's TIMEOUT.
"""
import json
import os
import re
import resource
import shutil
import signal
import subprocess
import sys
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
BAR, STATUS, DETAIL, CHECKBOX = 101, 102, 103, 104

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
    return _keeper


class Program:
    """A Windows program started straight from the host (`wine <exe>`), not
    through the driver: its environment is then the host's, which is where
    Wine reads WINEDLLOVERRIDES and WINEDEBUG, and its resource limits and
    signal dispositions are ours to set. Its output goes to a file."""

    def __init__(self, argv, env, log, limits=None):
        self.log_path = log
        self._log = open(log, "wb")

        def child_setup():
            for resource_id, value in (limits or {}).items():
                resource.setrlimit(resource_id, (value, value))

        # Python ignores SIGXFSZ and, with restore_signals, would set it back
        # to "terminate" in the child; kept ignored, a write beyond a file-size
        # limit fails like a full disk instead of killing the process.
        self.proc = subprocess.Popen([harness.config().wine] + argv, stdout=self._log,
                                     stderr=subprocess.STDOUT, stdin=subprocess.DEVNULL,
                                     env=harness.wine_env(env), start_new_session=True,
                                     restore_signals=False, preexec_fn=child_setup)
        self.started = time.monotonic()

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
        self.programs = []
        self.helpers = []

    def tearDown(self):
        if self._failed():
            self.diagnose()
        if self.driver:
            self.driver.close()  # ends the program it started if it still runs
        for p in self.programs + self.helpers:
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

    def launch(self, exe_path, env=None, find=True, lifetime=90):
        """Starts the program through the driver, as a user would; returns the
        dialog's window."""
        self.driver = harness.Driver(env={"QD_BROWSER_LOG": self.browser_log}, lifetime=lifetime)
        for name, value in self.program_env(env).items():
            self.driver.cmd("setenv", name, value)
        self.pid = self.driver.start(exe_path)
        if find:
            self.dlg = self.driver.find(DIALOG, DIALOG_MS)
            self.assertIsNotNone(self.dlg, "no window %r within %d ms" % (DIALOG, DIALOG_MS))
        return self.dlg

    def start_direct(self, exe_path, env=None, limits=None, name="program"):
        """Starts the program from the host (see Program). Wine sets TEMP from
        the prefix's registry then, so its installer goes to the Wine user's
        temporary folder; the case clears it of the installer first."""
        info = harness.prefix_info()
        self.temp = info["temp_unix"]
        self.temp_file = os.path.join(self.temp, INSTALLER)
        if os.path.exists(self.temp_file):
            os.remove(self.temp_file)
        env = dict(self.program_env(env))
        for k in ("TEMP", "TMP"):
            env.pop(k)
        p = Program([exe_path], env, os.path.join(self.work, name + ".log"), limits=limits)
        self.programs.append(p)
        return p

    def box_driver(self):
        """A driver for answering boxes of a program it did not start."""
        if not self.driver:
            self.driver = harness.Driver(lifetime=120)
        return self.driver

    def answer(self, button, timeout_ms=BOX_MS, caption=BOX):
        """Answers the next box with this caption; returns its text."""
        return self.box_driver().answer(caption, "", button, timeout_ms)

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

    def answer_system_box(self, substring, timeout_ms=BOX_MS):
        """Presses OK on a box the system itself shows (such as Wine's "Bad
        EXE format"), found by its text, whatever its caption."""
        d = self.box_driver()
        deadline = time.monotonic() + timeout_ms / 1000.0
        while time.monotonic() < deadline:
            for b in d.boxes():
                if substring in b["text"]:
                    d.answer(b["caption"], substring, IDOK, 5000)
                    return b
            time.sleep(0.05)
        self.fail("no box with %r within %d ms; boxes: %r" % (substring, timeout_ms, d.boxes()))

    def wait_exit(self, timeout_ms=20000):
        """Waits for the driver-started program to end; asserts exit code 0."""
        code = self.driver.wait(timeout_ms)
        self.assertIsNotNone(code, "the program did not end within %d ms" % timeout_ms)
        self.assertEqual(code, 0, "exit code")
        return code

    def program_boxes(self):
        return [b for b in self.box_driver().boxes() if b["hwnd"] != self.dlg and b["caption"] != DIALOG]

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
        p = Program([exe("helper"), "--hold", harness.winpath(path), str(ms)], {},
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
        for p in self.programs:
            out.append("output of %s (exit %r):" % (p.log_path, p.proc.poll()))
            out += ["  " + line for line in p.output().splitlines()[-30:]]
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
