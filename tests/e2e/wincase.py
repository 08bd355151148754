"""The one case base of the Windows-side tests of the whole program
(tests/gui, tests/hardening, and any new ones): a test slot (a program
variant and its loopback port), a fresh work folder and temporary folder per
case, the test server handing out the installer stand-in
(tools/fakeinstaller), the program started as a user would start it and
played through the GUI driver, the installer's and the browser's records,
and the diagnostics printed when a case fails.

A script runs on one slot, chosen on its command line (--slot 0 or 1, which
the ctest registration passes); ctest locks the slot's port, so two scripts
on different slots can run at once. Within a slot the program's temporary
folder (TEMP/TMP) is a folder of the slot's own inside the prefix's, so the
two slots never share the installer file.

Every wait is bounded: the driver bounds each command, each driver process
has a lifetime, and ctest bounds the script.
"""
import atexit
import os
import re
import shutil
import subprocess
import sys
import threading
import time
import unittest

import harness

BOX = "Quillet Downloader"
SAVE_AS = "Save Downloader"
AGENT = "TovInstaller/1.1"
BROWSER_QUESTION = "Download failed. Do you want to attempt to download in your browser?"

IDOK, IDCANCEL, IDYES, IDNO = 1, 2, 6, 7
BAR, STATUS, DETAIL, CHECKBOX = 101, 102, 103, 104

# The status line's texts in the order a download passes through them.
PHASES = ["Initializing....", "Preparing...", "Connecting...", "Requesting...",
          "Downloading...", "Finishing...", "Completed"]

# An operating-system error as the program words it: the code, then the
# system's own text, which is never empty.
OS_ERROR = re.compile(r"^(System Error\.  Code: [1-9]\d*\.\r\n.+|A call to an OS function failed)$", re.S)

# The language files of the program, and the Unix locale each is tested under
# (locales.txt): Wine takes the user's UI language, and
# so the program's, from the locale of its processes.
LANGUAGE_DIR = os.path.join(os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__)))),
                            "resources", "lang")
# A regional variant's row names the language file its users must get.
with open(os.path.join(os.path.dirname(os.path.abspath(__file__)), "locales.txt")) as _f:
    _ROWS = [line.split() for line in _f if line.strip() and not line.startswith("#")]
LOCALES = {row[0]: row[1] for row in _ROWS}
VARIANTS = {row[0]: row[2] for row in _ROWS if len(row) > 2}


def languages():
    return sorted(name[:-3] for name in os.listdir(LANGUAGE_DIR) if name.endswith(".rc"))


def locale(code):
    name, at, modifier = LOCALES[code].partition("@")  # sr_RS@latin: sr_RS.UTF-8@latin
    return name + ".UTF-8" + at + modifier


def language(code):
    """The texts of resources/lang/<code>.rc by id ("IDS_SAVE_COPY", "IDS_SECONDS+1")."""
    texts = {}
    with open(os.path.join(LANGUAGE_DIR, code + ".rc"), encoding="utf-8") as f:
        for line in f:
            m = re.match(r'\s*(IDS_[A-Z_]+(?:\+[0-5])?),\s*"(.*)"\s*$', line)
            if m:
                texts[m.group(1)] = m.group(2).replace('""', '"').replace("\\r\\n", "\r\n")
    return texts


_DIRECTIVE = re.compile(r"%(?:(\d+):)?-?\d*(?:\.\d+)?([sdux%])")


def formatted(fmt, *args):
    """What the program's Format makes of `fmt` (%s and %d, with or without
    an index)."""
    state = {"next": 0}

    def one(m):
        if m.group(2) == "%":
            return "%"
        i = int(m.group(1)) if m.group(1) else state["next"]
        state["next"] = i + 1
        return str(args[i])
    return _DIRECTIVE.sub(one, fmt)


def pattern(fmt, last=".+?"):
    """A regular expression for any text Format makes of `fmt`: each directive
    any text, the last one `last`."""
    pieces = _DIRECTIVE.split(fmt)  # text, index, type, text, ...
    texts, types = pieces[::3], pieces[2::3]
    out = re.escape(texts[0])
    for n, (kind, text) in enumerate(zip(types, texts[1:])):
        out += ("%" if kind == "%" else "(%s)" % (last if n == len(types) - 1 else ".+?")) + re.escape(text)
    return out


# Wine closes every window of a program with no window manager only after a
# wait of about 2 s, so each answered box costs that much.
BOX_MS = 15000      # for a box to appear (and be answered)
DIALOG_MS = 30000   # the first program of a session waits for Wine's desktop


def _take_option(name, default):
    """Takes `name <value>` out of the command line; returns the value."""
    value = default
    args, rest = sys.argv[1:], [sys.argv[0]]
    i = 0
    while i < len(args):
        if args[i] == name and i + 1 < len(args):
            value = args[i + 1]
            i += 2
            continue
        if args[i].startswith(name + "="):
            value = args[i].split("=", 1)[1]
        else:
            rest.append(args[i])
        i += 1
    sys.argv[:] = rest
    return value


SLOT = int(_take_option("--slot", "0"))
# Each slot's programs are built for a year of their own (tests/CMakeLists.txt):
# a second program of the same year in the session would only bring the
# first one forward.
YEAR = ("2024", "2023")[SLOT]
DIALOG = "Quillet for %s Downloader" % YEAR
INSTALLER = "Quillet_%s_Setup.exe" % YEAR
PATH_QUERY = "/installer.php?serial=quill&year=%s" % YEAR
# A run's own folder in the temporary folder.
RUN_FOLDER = re.compile(r"quillet_%s_[0-9a-f]{32}" % YEAR, re.I)


def config():
    return harness.config()


def exe(name):
    return harness.config().exe(name)


def read(path):
    with open(path, "rb") as f:
        return f.read()


def installer_bytes():
    """What the server hands out as the installer: the stand-in itself."""
    return read(exe("fakeinstaller"))


def padded(data, size):
    """A valid program of `size` bytes: data appended after the image, which
    the loader ignores."""
    return data + harness.pattern_bytes(size - len(data)) if size > len(data) else data


def collapse(texts):
    """Drops repeats and the half-read texts a poller can catch while a text
    changes (the length read before the change, the text after it): a text
    that the next one starts with and only one character longer than the one
    before it."""
    out = []
    for i, t in enumerate(texts):
        nxt = texts[i + 1] if i + 1 < len(texts) else None
        prev = texts[i - 1] if i > 0 else ""
        if nxt is not None and nxt != t and nxt.startswith(t) and len(t) == len(prev) + 1:
            continue
        if out and out[-1] == t:
            continue
        out.append(t)
    return out


def order_ok(seen, order=PHASES):
    """True when the texts seen (repeats collapsed) follow `order`."""
    last = -1
    for text in collapse(seen):
        if text not in order:
            return False
        i = order.index(text)
        if i <= last:
            return False
        last = i
    return True


class Watcher:
    """A second driver that records every text a control shows, in order,
    until the window has gone (or the time is up)."""

    def __init__(self, hwnd, ctrl, timeout_ms, timed=False):
        self.driver = harness.Driver(lifetime=timeout_ms / 1000 + 30)
        self.texts, self.gone, self.error = [], False, None
        self._thread = threading.Thread(target=self._run, args=(hwnd, ctrl, timeout_ms, timed), daemon=True)
        self._thread.start()

    def _run(self, hwnd, ctrl, timeout_ms, timed):
        try:
            self.texts, self.gone = self.driver.watch(hwnd, ctrl, timeout_ms, timed)
        except Exception as e:  # reported by result()
            self.error = e

    def result(self, timeout):
        """Waits for the watch to end; returns the texts seen."""
        self._thread.join(timeout)
        if self._thread.is_alive():
            raise AssertionError("watcher still running after %ss" % timeout)
        if self.error:
            raise self.error
        return self.texts

    def close(self):
        self.driver.close()


_keeper = None


def poll(probe, timeout):
    """Calls probe() until it gives a true value or `timeout` seconds have
    passed; returns its last value."""
    deadline = time.monotonic() + timeout
    while not (value := probe()) and time.monotonic() < deadline:
        time.sleep(0.02)
    return value


def show_winver(driver, timeout=40):
    """Starts Wine's about box from `driver`; returns its window once shown,
    or None."""
    driver.start("winver.exe")
    shown = poll(lambda: [int(line.split("\t")[1]) for line in driver.raw("windows")[2] if line.endswith("\t1")],
                 timeout)
    return shown[0] if shown else None


def keep_desktop():
    """Keeps one Wine process alive for the whole script, and makes sure the
    desktop is up before the first case. When the last Wine process ends,
    Wine's desktop process quits a few seconds later, and the next program to
    open a window may wait about 10 s for a new one, whose start-up then goes
    on around the program's first windows."""
    global _keeper
    if _keeper is None:
        _keeper = harness.Driver(lifetime=600)
        atexit.register(_keeper.close)
        try:
            if show_winver(_keeper):
                time.sleep(0.5)
        finally:
            _keeper.cmd("kill")
    return _keeper


class Case(unittest.TestCase):
    """One run of the program (or several) per case, on this script's slot."""

    maxDiff = None

    @classmethod
    def setUpClass(cls):
        harness.require_display()
        keep_desktop()

    def setUp(self):
        cfg = config()
        self.port = cfg.ports[SLOT]
        self.exe = cfg.exe("qd_slot%d" % SLOT)
        suite = os.path.basename(os.path.dirname(os.path.abspath(sys.argv[0])))
        self.work = os.path.join(cfg.work, suite, self.id().split(".", 1)[1])
        shutil.rmtree(self.work, ignore_errors=True)
        os.makedirs(self.work)
        info = harness.prefix_info()
        name = "qd-slot%d" % SLOT
        self.temp = os.path.join(info["temp_unix"], name)
        self.temp_win = info["temp_windows"] + "\\" + name
        shutil.rmtree(self.temp, ignore_errors=True)
        os.makedirs(self.temp)
        self._run_folder = None
        self.record = os.path.join(self.work, "installer-record.txt")
        self.browser_log = os.path.join(self.work, "browser.log")
        self.payload = installer_bytes()
        self.server = None
        self.driver = None
        self.pid = None
        self.dlg = None
        self.watchers = []
        self.helpers = []
        self.others = []
        self.notes = []

    # -- the run's own folder in the temporary folder -----------------------------

    def run_folders(self):
        """The folders in the temporary folder named as the program names a
        run's own."""
        try:
            return sorted(n for n in os.listdir(self.temp) if RUN_FOLDER.fullmatch(n))
        except FileNotFoundError:
            return []

    def _folder(self):
        found = self.run_folders()
        if found:
            self._run_folder = max(found, key=lambda n: os.path.getmtime(os.path.join(self.temp, n)))
        return self._run_folder or "(no run folder)"

    @property
    def temp_file(self):
        """The installer in the run's folder (the newest one seen)."""
        return os.path.join(self.temp, self._folder(), INSTALLER)

    def assert_run_path(self, path):
        """`path` (a Windows path) is the installer in a run's own folder."""
        self.assertRegex(path.lower(), "^" + re.escape(self.temp_win.lower() + "\\") + RUN_FOLDER.pattern
                         + re.escape("\\" + INSTALLER.lower()) + "$")

    def note(self, what, value):
        """Keeps an observation for the diagnostics (printed at once with
        QD_VERBOSE=1); returns the value."""
        self.notes.append((what, value))
        if os.environ.get("QD_VERBOSE"):
            print("  %s: %r" % (what, value), file=sys.stderr, flush=True)
        return value

    def tearDown(self):
        if self._failed():
            self.diagnose()
        for w in self.watchers + self.others:
            w.close()
        if self.driver:
            self.driver.close()  # ends the program if it still runs
        for p in self.helpers:
            if p.poll() is None:
                harness._kill_group(p)
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

    def serve(self, trusted=True, chain=False, mute=False, **route):
        """Starts the slot's server with one route for the download address."""
        self.server = harness.start_server(trusted=trusted, chain=chain, port=self.port, mute=mute)
        self.server.route("/installer.php", **route)
        return self.server

    def serve_installer(self, **pacing):
        return self.serve(body=self.payload, **pacing)

    def downloads(self):
        return self.server.requests("/installer.php") if self.server else []

    def in_progress(self):
        """The download has not ended (it may not have reached the server yet)."""
        return all(e["outcome"] == "started" for e in self.downloads())

    def wait_status(self, text, timeout):
        """Waits until the status line shows `text`; true if it did."""
        return poll(lambda: self.driver.text(self.dlg, STATUS) == text, timeout)

    def wait_sent(self, at_least, timeout=20):
        """Waits until the server has sent `at_least` bytes of the download.
        (Polled: the server's own wait_for wakes only when a request starts
        or ends, not as its bytes go out.)"""
        if not poll(lambda: any(e["sent"] >= at_least for e in self.downloads()), timeout):
            self.fail("the server did not send %d bytes within %ss: %r" % (at_least, timeout, self.downloads()))

    def wait_download_end(self, timeout):
        """Waits until the server has finished (or lost) the download."""
        done = self.server.wait_for(
            lambda entries: any(e["path"] == "/installer.php" and e["outcome"] != "started"
                                for e in entries), timeout)
        self.assertIsNotNone(done, "the download did not end within %ss" % timeout)
        return [e for e in done if e["path"] == "/installer.php"][-1]

    # -- the program ------------------------------------------------------------

    def program_env(self, extra=None):
        """The Windows-side environment of a run: the slot's temporary folder,
        the installer stand-in's record and its settings (QD_TEST_EXIT_CODE,
        QD_TEST_SLEEP_MS, QD_TEST_HOLD_MS in `extra`)."""
        env = {"TEMP": self.temp_win, "TMP": self.temp_win, "QD_TEST_DIALOG": DIALOG,
               "QD_TEST_RECORD": harness.winpath(self.record),
               "QD_TEST_HELPER": harness.winpath(exe("fakeinstaller"))}
        env.update(extra or {})
        return env

    def launch(self, program=None, env=None, find=True, lifetime=90, driver_env=None, stderr_path=None,
               limits=None, lang=None):
        """Starts the program (this slot's variant unless `program` is given)
        through the driver, as a user would; returns the dialog's window.
        `env` is the program's Windows environment on top of the case's own;
        `driver_env`, `stderr_path` and `limits` set up the driver's process,
        which the program inherits (see harness.Driver); `lang` runs it in
        that language (or regional variant), under its locale."""
        # The recorder that stands in for the browser reads its log's name
        # from the Unix environment.
        denv = {"QD_BROWSER_LOG": self.browser_log}
        caption = DIALOG
        if lang:
            denv["LC_ALL"] = locale(lang)
            caption = formatted(language(VARIANTS.get(lang, lang))["IDS_CAPTION"], YEAR)
        denv.update(driver_env or {})
        self.driver = harness.Driver(env=denv, lifetime=lifetime, stderr_path=stderr_path, limits=limits)
        for name, value in self.program_env(env).items():
            self.driver.cmd("setenv", name, value)
        # start also limits the driver's box commands to this program.
        self.pid = self.driver.start(program or self.exe)
        if find:
            self.dlg = self.driver.find(caption, DIALOG_MS)
            self.assertIsNotNone(self.dlg, "no window %r within %d ms" % (caption, DIALOG_MS))
        return self.dlg

    def start_again(self, program=None, env=None):
        """Starts a program (this slot's variant unless given) beside the
        case's run, from a driver of its own with the same environment;
        returns (that driver, the pid)."""
        d = harness.Driver(env={"QD_BROWSER_LOG": self.browser_log}, lifetime=90)
        self.others.append(d)
        for name, value in self.program_env(env).items():
            d.cmd("setenv", name, value)
        return d, d.start(program or self.exe)

    def end_run(self):
        """Closes the driver (and the program, if it still runs), so that the
        case can start another run."""
        if self.driver:
            self.driver.close()
            self.driver = None
        self.dlg = None

    def watch(self, ctrl, timeout_ms=30000, timed=False):
        w = Watcher(self.dlg, ctrl, timeout_ms, timed)
        self.watchers.append(w)
        return w

    def answer(self, button, timeout_ms=BOX_MS, caption=BOX):
        """Presses `button` on the next box with this caption; returns its text."""
        return self.driver.answer(caption, "", button, timeout_ms)

    def answer_exact(self, text, button, timeout_ms=BOX_MS, caption=BOX):
        got = self.answer(button, timeout_ms, caption)
        self.assertEqual(got, text)
        return got

    def answer_failure(self, timeout_ms=BOX_MS, browser=IDNO):
        """The error box and the browser offer that end a failed run; returns
        the error's text."""
        text = self.note("error box", self.answer(IDOK, timeout_ms))
        self.answer_exact(BROWSER_QUESTION, browser)
        return text

    def answer_system_box(self, substring, button=IDOK, timeout_ms=BOX_MS):
        """Presses a button on a box the system itself shows (the Save As
        dialog's overwrite question), found by its text, whatever its caption."""
        found = poll(lambda: [b for b in self.driver.boxes() if substring in b["text"] and b["caption"] != BOX],
                     timeout_ms / 1000.0)
        if not found:
            self.fail("no box with %r within %d ms; boxes: %r" % (substring, timeout_ms, self.program_boxes()))
        self.driver.answer(found[0]["caption"], substring, button, 5000)
        return found[0]

    def answer_program_box(self, button=IDOK, timeout_ms=BOX_MS):
        """Answers the program's next box, pressing OK on any box of the
        system's own that comes first (the shell's about a file it cannot
        start); returns (the program's box text, the system boxes passed)."""
        passed = []
        deadline = time.monotonic() + timeout_ms / 1000.0
        while time.monotonic() < deadline:
            boxes = self.program_boxes()
            if any(b["caption"] == BOX for b in boxes):
                return self.answer(button, 5000), passed
            if boxes:
                self.driver.answer(boxes[0]["caption"], "", IDOK, 5000)
                passed.append(self.note("system box", boxes[0]))
                continue
            time.sleep(0.05)
        self.fail("no box of the program within %d ms; passed %r" % (timeout_ms, passed))

    def program_boxes(self):
        """The boxes the program shows, its dialog not counted."""
        return [b for b in self.driver.boxes()
                if b["pid"] == self.pid and b["hwnd"] != self.dlg and b["caption"] != DIALOG]

    def wait_exit(self, timeout_ms=20000):
        """Waits for the program to end by itself; asserts exit code 0."""
        code = self.driver.wait(timeout_ms)
        self.assertIsNotNone(code, "the program did not end within %d ms" % timeout_ms)
        self.assertEqual(code, 0, "exit code")
        return code

    def dialog_shown(self):
        """The program's dialog is on screen."""
        return any(line.split("\t")[3:] == [DIALOG, "1"] for line in self.driver.raw("windows")[2])

    def running(self):
        return self.driver.raw("exitcode", allow_err=True)[0] == "err"

    def pos(self):
        """The bar's position, or None when the dialog does not answer."""
        status, rest, _ = self.driver.raw("pos", self.dlg, BAR, allow_err=True)
        return int(rest) if status == "ok" else None

    # -- what the installer and the browser recorded ------------------------------

    def installer_runs(self):
        """The stand-in's record: [{'path', 'cmdline', 'cwd', 'tick', 'hold',
        'exit', 'dir', 'sd', ...}], one per run; 'hold' and 'exit' are None
        until that run has got so far, and the others are there once recorded."""
        runs = []
        try:
            with open(self.record, "r", encoding="utf-8") as f:
                lines = f.read().splitlines()
        except FileNotFoundError:
            return runs
        for line in lines:
            fields = line.split("\t")
            if fields[0] == "ran" and len(fields) == 5:
                runs.append({"path": fields[1], "cmdline": fields[2], "cwd": fields[3], "tick": int(fields[4]),
                             "hold": None, "exit": None})
            elif fields[0] == "exit" and runs:
                runs[-1]["exit"] = int(fields[1])
                runs[-1]["exit_tick"] = int(fields[2])
            elif runs:  # hold, dir, sd and what QD_TEST_DO did
                runs[-1][fields[0]] = fields[1]
        return runs

    def wait_installer(self, timeout, ended=False):
        done = lambda runs: runs and (not ended or runs[-1]["exit"] is not None)
        if not poll(lambda: done(self.installer_runs()), timeout):
            self.fail("the installer did not %s within %ss" % ("end" if ended else "start", timeout))
        return self.installer_runs()

    def browser_opened(self):
        try:
            with open(self.browser_log) as f:
                return f.read().splitlines()
        except FileNotFoundError:
            return []

    def wait_browser(self, timeout):
        if poll(self.browser_opened, timeout):
            time.sleep(0.3)  # a second address would show up by now
        return self.browser_opened()

    # -- helpers started by a case ------------------------------------------------

    def hold_file(self, path, ms):
        """Holds a file (a Unix path) open with no sharing, as another program
        might, until `ms` have passed or the case ends; returns once it holds it."""
        log = os.path.join(self.work, "hold-%d.log" % len(self.helpers))
        with open(log, "wb") as out:
            p = subprocess.Popen([config().wine, exe("fakeinstaller"), "--hold", harness.winpath(path), str(ms)],
                                 stdout=out, stderr=subprocess.STDOUT, stdin=subprocess.DEVNULL,
                                 env=harness.wine_env(), start_new_session=True)
        self.helpers.append(p)
        deadline = time.monotonic() + 30
        while time.monotonic() < deadline:
            text = read(log).decode("latin-1")
            if "held" in text:
                return p
            if "error" in text or p.poll() is not None:
                self.fail("could not hold %s: %r" % (path, text))
            time.sleep(0.05)
        self.fail("holding %s did not start within 30 s" % path)

    # -- when a case fails --------------------------------------------------------

    def diagnose(self):
        out = ["", "=== diagnostics for %s ===" % self.id()]
        d = self.driver
        try:
            probe = d if d and d.proc.poll() is None else harness.Driver(lifetime=20)
            out.append("boxes on screen:")
            out += ["  %r" % b for b in probe.boxes()]
            if probe is d:
                out.append("windows of the program:")
                out += ["  " + line for line in d.raw("windows")[2]]
                out.append("program exit: %s" % (d.raw("exitcode", allow_err=True),))
            else:
                probe.close()
        except Exception as e:  # the diagnostics must not hide the failure
            out.append("(driver unavailable: %s)" % e)
        if d and d.proc.poll() is not None:
            out.append("the driver ended with %s; its stderr:" % d.proc.returncode)
            try:
                out += ["  " + line for line in d.stderr().splitlines()[-30:]]
            except (OSError, ValueError) as e:
                out.append("  (unreadable: %s)" % e)
        if d:
            out.append("driver transcript:")
            out += ["  " + line for line in d.transcript[-60:]]
        out += ["%s: %r" % n for n in self.notes]
        for i, w in enumerate(self.watchers):
            out.append("watcher %d saw: %r (error %r)" % (i, w.texts, w.error))
        if self.server:
            out.append("server requests (the last 20):")
            for e in self.server.requests()[-20:]:
                out.append("  %s %s -> %s, %d bytes sent" % (e["method"], e["target"], e["outcome"], e["sent"]))
            out.append("TLS failures: %r" % self.server.tls_failures())
        out.append("installer record: %r" % self.installer_runs())
        out.append("browser opened: %r" % self.browser_opened())
        try:
            out.append("temp folder: %r" % {n: (os.listdir(os.path.join(self.temp, n))
                                                if os.path.isdir(os.path.join(self.temp, n))
                                                else os.path.getsize(os.path.join(self.temp, n)))
                                            for n in os.listdir(self.temp)})
        except OSError as e:
            out.append("temp folder: %s" % e)
        print("\n".join(out), file=sys.stderr, flush=True)


def main():
    harness.main()
