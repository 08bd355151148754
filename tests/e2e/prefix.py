#!/usr/bin/env python3
"""The throwaway Wine prefix of the end-to-end tests (ctest fixture wine_prefix).

setup:   creates the prefix (wineboot -i) unless a complete one is there,
         trusts the test CA in its LocalMachine Root store, points
         winebrowser at the recorder script, turns off the crash debugger
         (a crash must end the program, not hang it), copies Wine's own
         fonts in, puts the taskbar recorder (tools/taskbarrecorder.cpp) in
         place of Wine's taskbar list for programs of the build's processor
         (it records only when a test names its file), notes the Wine
         user's %TEMP%, and
         keeps a wineserver and the prefix's services running for the tests
         that follow.
cleanup: ends that wineserver (wineserver -k), and with it every process
         still running in the prefix.

The benchmark (scripts/bench) sets up its own prefix with setup() too.
"""
import hashlib
import json
import os
import shutil
import subprocess
import sys

import harness

STAMP = "qd-e2e.stamp"
INFO = "qd-e2e-prefix.json"
# Wine's own Tahoma and Marlett (Debian's fonts-wine), which this Wine does not
# find by itself: without them the dialog's Tahoma is drawn in another face,
# of other widths, and the caption buttons' glyphs as letters.
WINE_FONTS = "/usr/share/wine/fonts"
# Faces for the scripts Wine's Tahoma lacks: Greek, Hebrew and Thai, which
# Windows' own Tahoma has, and CJK, which Windows finds through Tahoma's font
# links. The links name Windows faces ("MS UI Gothic", "PMingLiU", ...) that
# Wine does not have; Debian's stand-ins are copied in and named for them.
# Wine takes a glyph from the first linked face that has it, but reads only
# the first links (a face named for the last one, "Segoe UI Symbol", was never
# used): DejaVu Sans first, for Greek and Hebrew (no CJK text here has a glyph
# of it that Tahoma lacks), Loma for Thai, then the CJK face.
# (Replacements, not links of our own: Wine rewrites the links whenever a
# program runs under another code page.)
LINKED_FONTS = [("/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf", "DejaVu Sans", ["MS UI Gothic"]),
                ("/usr/share/fonts/truetype/tlwg/Loma.ttf", "Loma", ["PMingLiU"]),
                ("/usr/share/fonts/truetype/wqy/wqy-microhei.ttc", "WenQuanYi Micro Hei", ["SimSun", "Gulim"])]


def say(*args):
    print("prefix:", *args, flush=True)


def check(result, what):
    if result.rc != 0:
        raise SystemExit("%s failed (exit %s)\n%r" % (what, result.rc, result))
    return result


def sha256(path):
    with open(path, "rb") as f:
        return hashlib.sha256(f.read()).hexdigest()


def wanted_stamp(cfg):
    return {
        "ca_sha256": sha256(os.path.join(cfg.pki, "ca.der")),
        "recorder": cfg.recorder,
        "wine": harness.run([cfg.wine, "--version"], 30).out.strip(),
        "taskbar": taskbar_recorder(cfg),
        "settings": 7,  # bump when setup() changes what it writes into the prefix
        "fonts": wine_fonts(),
    }


def wine_fonts():
    return sorted(n for n in os.listdir(WINE_FONTS) if n.endswith(".ttf")) if os.path.isdir(WINE_FONTS) else []


def taskbar_recorder(cfg):
    return cfg.exes.get("taskbarrecorder")


TASKBAR_LIST = r"HKLM\Software\Classes\CLSID\{56FDF344-FD6D-11d0-958A-006097C9A090}\InprocServer32"


def install_wine_fonts(prefix, wine):
    """Copies Wine's own fonts and the stand-in faces into the prefix's
    Fonts folder, where Wine reads them, and names the latter for the faces
    Tahoma links to; `wine` runs a Wine command in the prefix. Returns the
    fonts' names."""
    fonts = os.path.join(prefix, "drive_c", "windows", "Fonts")
    names = wine_fonts()
    for name in names:
        shutil.copyfile(os.path.join(WINE_FONTS, name), os.path.join(fonts, name))
    for path, face, linked in LINKED_FONTS:
        if not os.path.isfile(path):
            continue
        shutil.copyfile(path, os.path.join(fonts, os.path.basename(path)))
        names.append(os.path.basename(path))
        for name in linked:
            check(wine("reg", "add", r"HKCU\Software\Wine\Fonts\Replacements", "/v", name, "/t", "REG_SZ",
                       "/d", face, "/f"), "reg add Replacements")
    return names


def read_json(path):
    try:
        with open(path) as f:
            return json.load(f)
    except (OSError, ValueError):
        return None


def ensure_wineserver(cfg, env):
    # A persistent server saves each test the start of a new one and of the
    # prefix's services. Its output must not go to ctest's pipe: ctest would
    # wait for it to close.
    subprocess.run([cfg.wineserver, "-p"], env=env, stdin=subprocess.DEVNULL,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=30)


def start_services(cfg, env):
    # The first Wine program a new server runs starts the prefix's services,
    # which inherit its output and keep it open: were that a test run straight
    # by ctest (wine.unit_tests), ctest would wait for it until the time-out.
    subprocess.run([cfg.wine, "wineboot"], env=env, stdin=subprocess.DEVNULL,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=120)


def setup(cfg, env=None):
    """Makes cfg.prefix ready; `env` is the environment of its Wine runs
    (by default the tests' own, for cfg.prefix)."""
    env = env or harness.wine_env()
    prefix = cfg.prefix

    def wine(*args, timeout=60):
        return harness.run([cfg.wine, *args], timeout, env=env)

    want = wanted_stamp(cfg)
    have = read_json(os.path.join(prefix, STAMP))
    if have == want and read_json(os.path.join(prefix, INFO)):
        ensure_wineserver(cfg, env)
        start_services(cfg, env)
        say("reusing", prefix)
        return
    os.makedirs(prefix, exist_ok=True)
    try:
        os.remove(os.path.join(prefix, STAMP))
    except FileNotFoundError:
        pass
    ensure_wineserver(cfg, env)
    if not os.path.isfile(os.path.join(prefix, "system.reg")) or have is None:
        say("creating", prefix, "(wineboot -i, about 20 s)")
        check(wine("wineboot", "-i", timeout=240), "wineboot -i")

    say("fonts:", " ".join(install_wine_fonts(prefix, wine)) or "none (package fonts-wine)")
    r = check(wine(cfg.exes["certinstall"], harness.winpath(os.path.join(cfg.pki, "ca.der"))),
              "certinstall")
    say(r.out.strip())

    check(wine("reg", "add", r"HKCU\Software\Wine\WineBrowser", "/v", "Browsers", "/t", "REG_SZ",
               "/d", cfg.recorder, "/f"), "reg add WineBrowser")

    recorder = taskbar_recorder(cfg)
    if recorder:
        for value in (["/ve", "/d", harness.winpath(recorder)], ["/v", "ThreadingModel", "/d", "Apartment"]):
            check(wine("reg", "add", TASKBAR_LIST, *value, "/f", "/reg:64" if cfg.win64 else "/reg:32"),
                  "reg add TaskbarList " + value[-1])

    # A program that crashes must end at once and fail its test, not wait in
    # winedbg: name a debugger that does not exist.
    aedebug = r"HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug"
    for name, value in (("Debugger", "qd-no-debugger.exe %ld %ld"), ("Auto", "1")):
        check(wine("reg", "add", aedebug, "/v", name, "/t", "REG_SZ", "/d", value, "/f"),
              "reg add AeDebug " + name)

    r = check(wine("cmd", "/c", "echo", "%TEMP%"), "cmd /c echo %TEMP%")
    temp_win = r.out.strip().splitlines()[-1].strip()
    r = check(wine("winepath", "-u", temp_win), "winepath -u")
    temp_unix = r.out.strip()
    os.makedirs(temp_unix, exist_ok=True)
    info = {"temp_windows": temp_win, "temp_unix": temp_unix}
    with open(os.path.join(prefix, INFO), "w") as f:
        json.dump(info, f, indent=1)
    with open(os.path.join(prefix, STAMP), "w") as f:
        json.dump(want, f)
    say("ready:", json.dumps(info))


def cleanup(cfg):
    env = harness.wine_env()
    r = harness.run([cfg.wineserver, "-k"], 60, env=env)
    # Exit status 1 only says that no server was running.
    say("wineserver -k ->", r.rc)


def main():
    args = harness.strip_config_args(sys.argv[1:])
    if args not in (["setup"], ["cleanup"]):
        raise SystemExit("usage: prefix.py --config <e2e_config.json> setup|cleanup")
    cfg = harness.config()
    (setup if args[0] == "setup" else cleanup)(cfg)


if __name__ == "__main__":
    main()
