#!/usr/bin/env python3
"""No DLL is loaded from the program's own folder.

The program runs from a folder (think of Downloads) that also holds DLLs
planted under system DLL names (tools/plantdll.c: each leaves a marker when
loaded, then refuses to initialise). Wine prefers its own copy of a system DLL
unless told otherwise, so every planted name is made native-first through
WINEDLLOVERRIDES, the way Windows treats a DLL that is not a known DLL: the
copy beside the program wins unless the search is restricted. A whole
successful run (a copy saved through Save As, the installer run) and a failed
one (404, then the browser offer) must leave no marker; the same folder with
the unhardened variant (plain imports, default search) must leave markers,
which shows the test can fail.

What Wine cannot show. Wine resolves some imports of its own system DLLs
itself, with the default search path, beside the program first: the static
imports of the known DLLs the program imports, before its first instruction
(Wine's user32 imports version.dll), and the delay imports of its DLLs, which
its loader resolves without the process's default DLL directories (uxtheme ->
msimg32, wininet -> secur32 -> crypt32, bcrypt). On Windows the known DLLs
and their imports come from the system, and every later load honours
SetDefaultDllDirectories. So a first pair of runs, with nothing planted,
records Wine's loader trace: the names it looked up with an unrestricted
search are left out of the planted set (and printed), and the trace must show
the program's own loads (wininet.dll, comdlg32.dll) restricted to the system
folder.
"""
import os
import re
import shutil
import subprocess

import wincase
from wincase import CHECKBOX, IDOK, IDYES, SAVE_AS, harness

# Not known DLLs on Windows: a copy beside the program is found first, unless
# the search is restricted. The ones the issue names come first.
CANDIDATES = [
    "version.dll", "wininet.dll", "uxtheme.dll", "dwmapi.dll", "cryptbase.dll", "wintrust.dll",
    "crypt32.dll", "comctl32.dll",
    "secur32.dll", "sspicli.dll", "schannel.dll", "bcrypt.dll", "ncrypt.dll", "rsaenh.dll",
    "cryptsp.dll", "cryptnet.dll", "msasn1.dll", "dnsapi.dll", "iphlpapi.dll", "netapi32.dll",
    "mpr.dll", "kerberos.dll", "msv1_0.dll", "winhttp.dll", "urlmon.dll", "iertutil.dll",
    "mswsock.dll", "propsys.dll", "profapi.dll", "userenv.dll", "msimg32.dll", "winspool.drv",
    "compstui.dll", "dwrite.dll", "textshaping.dll", "windowscodecs.dll", "oleacc.dll",
    "winmm.dll", "dbghelp.dll", "apphelp.dll", "wtsapi32.dll",
]

# Windows' known DLLs (HKLM\...\Session Manager\KnownDLLs) and the two it
# always takes from the system: never searched beside the program.
KNOWN_DLLS = {
    "advapi32.dll", "clbcatq.dll", "combase.dll", "comdlg32.dll", "coml2.dll", "difxapi.dll",
    "gdi32.dll", "gdiplus.dll", "imagehlp.dll", "imm32.dll", "kernel32.dll", "msctf.dll",
    "msvcrt.dll", "normaliz.dll", "nsi.dll", "ole32.dll", "oleaut32.dll", "psapi.dll",
    "rpcrt4.dll", "sechost.dll", "setupapi.dll", "shcore.dll", "shell32.dll", "shlwapi.dll",
    "user32.dll", "wldap32.dll", "ws2_32.dll", "ntdll.dll", "kernelbase.dll",
}

# The DLLs the program imports the ordinary way, all known DLLs: one more is
# a decision to make here, not a side effect of a new call.
STATIC_IMPORTS = {"advapi32.dll", "kernel32.dll", "msvcrt.dll", "shell32.dll", "user32.dll"}

# Exports that Windows forwards from a known DLL to one that is not: the
# loader resolves the forward before the entry runs, beside the program first
# (Wine implements them in place, so only this table catches them).
FORWARDED_OUTSIDE = {
    "advapi32.dll": {"SystemFunction036", "SystemFunction040", "SystemFunction041"},  # cryptbase.dll
}

# Loaded on first use, after the entry has restricted the search.
DELAY_LOADED = wincase.config().delay_loaded

LOOKUP = re.compile(r'^([0-9a-f]{4}):[0-9a-f]{4}:trace:module:load_dll looking for L"([^"]+)" in (.*)$')


def import_table(path):
    """objdump -p of a program: the text, and the DLL names it imports."""
    r = subprocess.run([wincase.config().objdump, "-p", path], capture_output=True, text=True,
                       timeout=60, check=True)
    names = [line.split("DLL Name:")[1].strip() for line in r.stdout.splitlines() if "DLL Name:" in line]
    return r.stdout, names


def imported_names(text):
    """From objdump -p: {dll (lower case): names imported from it}."""
    names, dll = {}, None
    for line in import_section(text).splitlines():
        if "DLL Name:" in line:
            dll = line.split("DLL Name:")[1].strip().lower()
            names[dll] = set()
        elif dll and re.match(r"^\s+[0-9a-f]+\s+\d+\s+\S+$", line):
            names[dll].add(line.split()[-1])
    return names


def import_section(text):
    """The import part of objdump's output, for the test log."""
    lines = text.splitlines()
    start = next((i for i, l in enumerate(lines) if l.startswith("The Import Tables")), 0)
    end = next((i for i in range(start + 1, len(lines)) if lines[i].startswith(("The ", "PE File"))),
               len(lines))
    return "\n".join(lines[start:end])


def delay_names_in_image(path):
    """The delay-loaded DLL names the image carries (its delay-import records
    name them; binutils leaves the directory entry empty, so objdump cannot
    list them)."""
    data = wincase.read(path).lower()
    return [n for n in DELAY_LOADED if n.lower().encode() in data]


def lookups(trace, app_dir_win):
    """From Wine's +pid,+module trace of one program run: the names its loader
    searched for in the program's own process, split into those searched with
    the unrestricted default path (beside the program first) and those
    searched with a restricted one."""
    main_pid = None
    unrestricted, restricted = set(), {}
    app = app_dir_win.lower()
    for line in trace.splitlines():
        m = LOOKUP.match(line)
        if not m:
            continue
        pid, name, where = m.groups()
        if main_pid is None:
            main_pid = pid
        if pid != main_pid:
            continue  # the installer stand-in or the browser, not the program
        name = name.replace("\\\\", "\\").split("\\")[-1].lower()
        if where == "(null)" or where.lower().startswith('l"' + app.replace("\\", "\\\\")):
            unrestricted.add(name)
        else:
            restricted.setdefault(name, where)
    return unrestricted, restricted


class DllPlanting(wincase.Case):
    def setUp(self):
        super().setUp()
        self.assertEqual(wincase.SLOT, 0, "qd_slot0 and qd_unhardened talk to slot 0's port")
        self.app = os.path.join(self.work, "Downloads")
        self.markers = os.path.join(self.work, "markers")
        os.makedirs(self.app)
        os.makedirs(self.markers)

    def place(self, variant, planted):
        """The program as the user has it: a copy in the folder, beside the
        planted DLLs."""
        for name in os.listdir(self.app):
            os.remove(os.path.join(self.app, name))
        program = os.path.join(self.app, "QuilletDownloader.exe")
        shutil.copy(wincase.exe(variant), program)
        for name in planted:
            shutil.copy(wincase.exe("qdh_plant"), os.path.join(self.app, name))
        return program

    def overrides(self, planted):
        names = [n[:-4] if n.endswith(".dll") else n for n in planted]
        return ";".join(["%s=n,b" % n for n in names] + ["mscoree,mshtml="])

    def run_program(self, program, planted, outcome, debug="-all", name="run", accept=False):
        """One run from the folder. "ok": a whole successful run, with a copy
        saved through Save As and then the installer run; "404": the error
        box, then Yes to the browser offer; "start": the program is only
        started, and ended after a few seconds (the unhardened control, whose
        planted DLLs initialise with `accept`, then fails on what they lack).
        Returns (exit code or None, Wine's messages)."""
        if outcome == "404":
            self.server.route("/installer.php", status=404, body="no such installer")
        else:
            self.server.route("/installer.php", body=wincase.installer_bytes(), chunk=16384, delay=0.1)
        self.server.clear()
        log = os.path.join(self.work, name + ".log")
        # WINEDLLOVERRIDES is read from the host environment, so it goes to
        # the driver's (and so the program's); WINEDEBUG only to the program.
        self.launch(program, find=outcome != "start", stderr_path=log,
                    driver_env={"WINEDLLOVERRIDES": self.overrides(planted)},
                    env={"WINEDEBUG": debug, "QD_PLANT_MARKERS": harness.winpath(self.markers),
                         "QD_PLANT_ACCEPT": 1 if accept else 0})
        if outcome == "ok":
            self.driver.cmd("click", self.dlg, CHECKBOX)
            copy = os.path.join(self.work, name + "-copy.exe")
            status, rest, _ = self.driver.raw("saveas", harness.winpath(copy), 30000, SAVE_AS,
                                              timeout=45, allow_err=True)
            self.assertEqual(status, "ok", "Save As: %s" % rest)
            self.answer_exact("Continue with Installation?", IDYES)
            self.assertEqual(wincase.read(copy), wincase.installer_bytes())
        elif outcome == "404":
            self.assertEqual(self.answer(IDOK), "Download Failed: Not Found (404)")
            self.answer_exact(wincase.BROWSER_QUESTION, IDYES)
        code = self.driver.wait(5000 if outcome == "start" else 40000)
        self.end_run()
        with open(log, "rb") as f:
            return code, f.read().decode("latin-1")

    def marker_names(self):
        return sorted(n[:-len(".loaded")] for n in os.listdir(self.markers))

    def test_no_dll_is_loaded_from_the_program_folder(self):
        self.serve(body=b"")
        text, imports = import_table(wincase.exe("qd_slot0"))
        print("\nImport table of qd_slot0 (i686-w64-mingw32-objdump -p):\n" + import_section(text))
        delay = delay_names_in_image(wincase.exe("qd_slot0"))
        print("delay-loaded (named in the image, not imported): %s" % ", ".join(delay))
        # Every DLL imported the ordinary way is a known DLL; the others are
        # delay-loaded.
        self.assertEqual([n for n in imports if n.lower() not in KNOWN_DLLS], [], imports)
        # The release itself too: it differs from the slot's build in its values only.
        for program in ("qd_slot0", "QuilletDownloader"):
            text, imports = import_table(wincase.exe(program))
            self.assertEqual({n.lower() for n in imports}, STATIC_IMPORTS, program)
            for dll, names in imported_names(text).items():
                self.assertEqual(names & FORWARDED_OUTSIDE.get(dll, set()), set(), "forwarded out of %s" % dll)
        self.assertEqual(sorted(delay), sorted(DELAY_LOADED))
        _, unhardened_imports = import_table(wincase.exe("qd_unhardened"))
        print("imports of qd_unhardened: %s" % ", ".join(unhardened_imports))
        self.assertTrue({"wininet.dll", "version.dll"} <= {n.lower() for n in unhardened_imports})

        # Calibration: nothing planted, Wine's loader traced.
        program = self.place("qd_slot0", [])
        app_win = harness.winpath(self.app)
        unrestricted, restricted = set(), {}
        for outcome in ("ok", "404"):
            code, trace = self.run_program(program, [], outcome, debug="+pid,+module", name="trace-" + outcome)
            self.assertEqual(code, 0, "traced %s run" % outcome)
            u, r = lookups(trace, app_win)
            self.assertTrue(u and r, "no loader trace in the %s run" % outcome)
            unrestricted |= u
            for k, v in r.items():
                restricted.setdefault(k, v)
        # The program's own first loads went to the system folder only.
        for own in ("wininet.dll", "comdlg32.dll"):
            self.assertIn(own, restricted, "the program's load of %s was not seen" % own)
            self.assertNotIn(own, unrestricted)
            self.assertTrue(restricted[own].lower().startswith('l"c:\\\\windows\\\\system32'), restricted[own])
        wines_own = sorted(n for n in CANDIDATES if n in unrestricted)
        planted = [n for n in CANDIDATES if n not in unrestricted]
        print("not planted, Wine's own loader resolves them beside the program: %s" % ", ".join(wines_own))
        print("planted, native-first: %s" % ", ".join(planted))
        self.assertIn("wininet.dll", planted)
        self.assertGreaterEqual(len(planted), 20)

        program = self.place("qd_slot0", planted)
        for outcome in ("ok", "404"):
            with self.subTest(outcome):
                for name in os.listdir(self.markers):
                    os.remove(os.path.join(self.markers, name))
                if os.path.exists(self.record):
                    os.remove(self.record)
                code, out = self.run_program(program, planted, outcome, name="planted-" + outcome)
                self.assertEqual(self.marker_names(), [], "planted DLLs were loaded (%s run)" % outcome)
                self.assertEqual(code, 0, out)
                self.assertEqual(len(self.downloads()), 1)
                if outcome == "ok":
                    runs = self.installer_runs()
                    self.assertEqual(len(self.downloads()), 1)
                    self.assertEqual(len(runs), 1, runs)
                    self.assertEqual(runs[0]["exit"], 0)
                else:
                    self.assertEqual(self.installer_runs(), [])
                    self.assertTrue(self.browser_opened(), "the browser was not offered the address")

        # The control: the same folder, the variant without the defence.
        for name in os.listdir(self.markers):
            os.remove(os.path.join(self.markers, name))
        # Its planted DLLs initialise here, so that each one loaded is seen;
        # the program then fails on what they lack, and is ended.
        program = self.place("qd_unhardened", planted)
        code, out = self.run_program(program, planted, "start", name="unhardened", accept=True)
        markers = {m.lower() for m in self.marker_names()}
        print("qd_unhardened: exit %s, planted DLLs loaded: %s" % (code, ", ".join(sorted(markers))))
        self.assertTrue(markers <= set(planted), markers)
        own = {n.lower() for n in unhardened_imports} & set(planted)
        self.assertTrue(own <= markers, "imported but not taken from the folder: %s" % sorted(own - markers))
        self.assertEqual(self.downloads(), [], "the unhardened program got as far as the download")


if __name__ == "__main__":
    wincase.main()
