#!/usr/bin/env python3
"""Runs the downloader under Wine against a loopback HTTPS demo server.

The server's certificate comes from a demo CA that only a throwaway Wine
prefix (build/demo/wineprefix) trusts. It serves a small demo installer,
padded so that the download takes about ten seconds. On a display the
downloader runs there for a person to watch and use; without one it runs
under an Xvfb of its own, inside a Wine virtual desktop (Xvfb has no window
manager, so Wine draws the frame, the caption and the icon itself there), a
screenshot of the dialog mid-download is saved, and the demo installer's box
is answered so the run ends by itself. --language CODE runs it in one of the
program's languages (resources/lang/CODE.rc) under that language's locale,
and names the screenshot after it."""
import os
import shutil
import subprocess
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(ROOT, "tests", "e2e"))
import pki  # noqa: E402
import prefix as test_prefix  # noqa: E402
import server  # noqa: E402
import wincase  # noqa: E402

# The Windows side scripts/demo.sh chose (scripts/windows-side.sh).
BUILD = os.path.join(ROOT, os.environ.get("QD_BUILD", os.path.join("build", "win")))
WINE = os.environ.get("QD_WINE", "wine")
DEMO = os.path.join(ROOT, "build", "demo")
PREFIX = os.path.join(DEMO, "wineprefix" if WINE == "wine" else "wineprefix64")
PORT = 47320
BODY_BYTES = 1200 * 1024          # the installer, padded
PACE = (16 * 1024, 0.14)          # about 115 KB/s: ten seconds or so
SCREEN = "1024x768"               # the headless screen, and Wine's desktop on it


def say(*args):
    print("demo:", *args, flush=True)


def option(name):
    return sys.argv[sys.argv.index(name) + 1] if name in sys.argv[:-1] else None


LANGUAGE = option("--language")


def wine_env(display):
    env = dict(os.environ)
    env.update(WINEPREFIX=PREFIX, WINEDEBUG="-all", WINEDLLOVERRIDES="mscoree,mshtml=",
               DISPLAY=display)
    if LANGUAGE:
        env["LC_ALL"] = wincase.locale(LANGUAGE)
    return env


def caption():
    texts = wincase.language(LANGUAGE or "en")
    return wincase.formatted(texts["IDS_CAPTION"], "2024")


def winpath(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def prepare_prefix(env):
    stamp = os.path.join(PREFIX, "demo.stamp")
    if os.path.exists(stamp):
        return
    say("creating the throwaway Wine prefix", PREFIX, "(about 20 s)")
    os.makedirs(PREFIX, exist_ok=True)
    subprocess.run([WINE, "wineboot", "-i"], env=env, check=True, timeout=300,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    certinstall = os.path.join(BUILD, "tests", "e2e", "certinstall.exe")
    subprocess.run([WINE, certinstall, winpath(os.path.join(DEMO, "pki", "ca.der"))],
                   env=env, check=True, timeout=120)
    open(stamp, "w").write("ok\n")


def virtual_desktop(env, size):
    """Runs the prefix's programs in a virtual desktop of `size` ("WxH"), or
    on the display itself when `size` is None."""
    key = r"HKCU\Software\Wine\Explorer"
    if size:
        commands = [["add", key + r"\Desktops", "/v", "Default", "/d", size, "/f"],
                    ["add", key, "/v", "Desktop", "/d", "Default", "/f"]]
    else:
        commands = [["delete", key, "/v", "Desktop", "/f"]]
    for c in commands:
        subprocess.run([WINE, "reg"] + c, env=env, timeout=120,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    # A new desktop only for programs started after the server has gone.
    subprocess.run(["wineserver", "-w"], env=env, timeout=120)


def padded_installer():
    with open(os.path.join(BUILD, "tests", "qd_demo_installer.exe"), "rb") as f:
        exe = f.read()
    # Bytes after the image are ignored by the loader.
    body = exe + b"\0" * max(0, BODY_BYTES - len(exe))
    path = os.path.join(DEMO, "Quillet_2024_Setup.exe")
    with open(path, "wb") as f:
        f.write(body)
    return path


def free_display():
    for n in range(81, 200):
        if not os.path.exists("/tmp/.X%d-lock" % n) and not os.path.exists("/tmp/.X11-unix/X%d" % n):
            return ":%d" % n
    raise SystemExit("no free X display")


def screenshot(display, out):
    env = dict(os.environ, DISPLAY=display)
    r = subprocess.run(["xwininfo", "-name", caption()], env=env,
                       capture_output=True, text=True, timeout=20)
    wid = next((l.split()[3] for l in r.stdout.splitlines() if "Window id:" in l), None)
    target = ["-window", wid] if wid else ["-window", "root"]
    subprocess.run(["import"] + target + [out], env=env, check=True, timeout=30)
    say("screenshot of the dialog mid-download:", out)


def main():
    headless = "--headless" in sys.argv or not os.environ.get("DISPLAY")
    os.makedirs(DEMO, exist_ok=True)
    pki.generate(os.path.join(DEMO, "pki"))

    xvfb = None
    display = os.environ.get("DISPLAY", "")
    if headless:
        display = free_display()
        xvfb = subprocess.Popen(["Xvfb", display, "-nolisten", "tcp", "-screen", "0", SCREEN + "x24"],
                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        for _ in range(100):
            if os.path.exists("/tmp/.X11-unix/X" + display[1:]):
                break
            time.sleep(0.1)
    env = wine_env(display)
    srv = None
    try:
        prepare_prefix(env)
        test_prefix.install_wine_fonts(
            PREFIX, lambda *args: test_prefix.harness.run([WINE, *args], 60, env=env))
        virtual_desktop(env, SCREEN if headless else None)
        srv = server.TestServer(os.path.join(DEMO, "pki", "server-chain.pem"),
                                os.path.join(DEMO, "pki", "server.key"), port=PORT)
        srv.route("/installer.php", body_file=padded_installer(), chunk=PACE[0], delay=PACE[1],
                  headers=[["Content-Type", "application/octet-stream"],
                           ["Content-Disposition", 'attachment; filename="Quillet_2024_Setup.exe"']])
        srv.start()
        say("serving https://localhost:%d/installer.php (%d KB at about %d KB/s)"
            % (PORT, BODY_BYTES // 1024, PACE[0] / PACE[1] / 1024))

        downloader = os.path.join(BUILD, "tests", "qd_demo.exe")
        if not headless:
            say("running the downloader on", display, "- close the installer's box to finish")
            rc = subprocess.run([WINE, downloader], env=env, timeout=900).returncode
            say("the downloader exited with", rc)
            return rc

        driver = subprocess.Popen([WINE, os.path.join(BUILD, "tests", "e2e", "driver.exe"),
                                   "--lifetime", "240000"],
                                  env=env, stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
        def ask(line):
            driver.stdin.write(line + "\n")
            driver.stdin.flush()
            while True:
                reply = driver.stdout.readline()
                if not reply or reply.startswith(("ok", "err")):
                    return reply.strip()
        driver.stdout.readline()  # ready
        say("started:", ask("start " + server_quote(winpath(downloader))))
        say("dialog:", ask("find %s 20000" % server_quote(caption())))
        time.sleep(6)
        screenshot(display, os.path.join(DEMO, "screenshot%s.png" % ("-" + LANGUAGE if LANGUAGE else "")))
        say("installer:", ask('answer "Quillet Setup (demo)" "" 1 60000'))
        say("downloader exit code:", ask("wait 30000"))
        driver.stdin.close()
        driver.wait(30)
        return 0
    finally:
        if srv:
            srv.stop()
        subprocess.run(["wineserver", "-k"], env=env, timeout=60)
        if xvfb:
            xvfb.terminate()
            xvfb.wait(10)


def server_quote(arg):
    return '"' + arg.replace("\\", "\\\\").replace('"', '\\"') + '"'


if __name__ == "__main__":
    sys.exit(main())
