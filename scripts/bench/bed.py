"""The bench's environment: its own Xvfb, a foreground wineserver whose CPU
can be read, its own prefix (set up as the tests set up theirs), the test
server on the bench port, and the runs of the Wine tools."""
import json
import os
import select
import signal
import subprocess
import sys
import time

from .config import E2E_CONFIG, EXES, INSTALLER_NAME, MiB, PKI, PREFIX, REPORTING, SERVER, WINE, WORK, bench_port
from .procs import Run, read_report

import harness  # noqa: E402  (tests/e2e)
import pki  # noqa: E402
import prefix  # noqa: E402


def stop(proc, how=None, wait=20):
    """Ends a child: `how` first (a signal, or nothing to just wait), then kill."""
    if how:
        how(proc)
    try:
        proc.wait(wait)
    except subprocess.TimeoutExpired:
        proc.kill()
        proc.wait(10)


class Bed:
    def __init__(self):
        self.port = bench_port()
        self.xvfb = self.display = self.wineserver = self.keeper = self.server = None
        self.temp_unix = None
        self.server_log = os.path.join(WORK, "server.log")
        self.record = os.path.join(WORK, "installer-record.txt")
        self.logs = os.path.join(WORK, "logs")
        self.reports = os.path.join(WORK, "reports")

    def env(self):
        env = {k: v for k, v in os.environ.items() if not k.startswith("WINE") and k != "QD_TEST_SLEEP_MS"}
        env.update(WINEPREFIX=PREFIX, WINEDEBUG="-all", WINEDLLOVERRIDES="mscoree,mshtml=",
                   DISPLAY=self.display, QD_TEST_RECORD=harness.winpath(self.record), QD_TEST_EXIT_CODE="0")
        return env

    def __enter__(self):
        for d in (WORK, self.logs, self.reports, PREFIX):
            os.makedirs(d, exist_ok=True)
        pki.generate(PKI)
        try:
            self.start_display()
            self.start_wineserver()
            self.prepare_prefix()
            self.keeper = subprocess.Popen([WINE, EXES["idle"], str(3600 * 1000)], env=self.env(),
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
            stop(self.wineserver)
        if self.keeper:
            stop(self.keeper)
        if self.xvfb:
            stop(self.xvfb, subprocess.Popen.terminate, 10)
        self.clean_outputs()

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
        """The tests' prefix set-up, for this prefix and certificates (their
        wineserver request finds this one running and leaves it)."""
        if not os.path.isfile(E2E_CONFIG):
            raise SystemExit("missing %s: run scripts/bench.sh, which configures the build" % E2E_CONFIG)
        cfg = harness.Config(E2E_CONFIG)
        cfg.data = dict(cfg.data, prefix=PREFIX, pki=PKI)
        with open(os.devnull, "w") as quiet:  # its progress lines would mix with the table on stdout
            stdout, sys.stdout = sys.stdout, quiet
            try:
                prefix.setup(cfg, self.env())
            finally:
                sys.stdout = stdout
        with open(os.path.join(PREFIX, prefix.INFO)) as f:
            self.temp_unix = json.load(f)["temp_unix"]

    def installer_unix(self):
        return os.path.join(self.temp_unix, INSTALLER_NAME) if self.temp_unix else None

    # the server ------------------------------------------------------------
    def start_server(self, routes):
        self.stop_server()
        routes_path = os.path.join(WORK, "routes.json")
        with open(routes_path, "w") as f:
            json.dump(routes, f)
        open(self.server_log, "w").close()
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
            stop(self.server, lambda p: p.send_signal(signal.SIGINT), 15)
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

    def wine_run(self, tool, args, timeout, tag, steps=False, **kw):
        """One run of EXES[tool] under Wine, with its result line when it
        writes one; `steps`: the benchmark build's line of its steps
        (QD_BENCH_STEPS) is read as its report."""
        report = os.path.join(self.reports, tag + ".txt")
        if os.path.exists(report):
            os.remove(report)
        argv = [WINE, EXES[tool]] + list(args)
        env = self.env()
        if tool in REPORTING:
            argv[2:2] = ["--report", harness.winpath(report)]
        if steps:
            env["QD_BENCH_STEPS"] = harness.winpath(report)
        run = Run(argv, env, timeout, wineserver=self.wineserver.pid,
                  log=os.path.join(self.logs, tag + ".log"), **kw)
        run.report = read_report(report) if tool in REPORTING or steps else None
        return run

    def clean_outputs(self):
        for path in (self.installer_unix(), self.record):
            if path and os.path.exists(path):
                os.remove(path)

    def padded_installer(self, size):
        """The fake installer padded to `size` bytes (the loader ignores bytes
        after the image), made once and kept."""
        path = os.path.join(WORK, "installer-%d.exe" % size)
        with open(EXES["fakeinstaller"], "rb") as f:
            exe = f.read()
        if os.path.exists(path) and os.path.getsize(path) == size:
            with open(path, "rb") as f:
                if f.read(len(exe)) == exe:
                    return path
        with open(path, "wb") as f:
            f.write(exe)
            left = size - len(exe)
            zeros = b"\0" * MiB
            while left > 0:
                f.write(zeros[:min(left, MiB)])
                left -= min(left, MiB)
        return path
