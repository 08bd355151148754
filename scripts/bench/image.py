"""Phase 4: the size of the release program and the DLLs it names."""
import os
import re
import subprocess

from .config import WIN64

SYSTEM_DLLS = {"kernel32.dll", "user32.dll", "gdi32.dll", "advapi32.dll", "shell32.dll",
               "comdlg32.dll", "comctl32.dll", "msvcrt.dll", "version.dll", "wininet.dll",
               "wintrust.dll", "crypt32.dll", "ole32.dll", "ntdll.dll", "shlwapi.dll"}

# Looked up with GetModuleHandle only, by the static runtime's start-up code
# (to share unwind tables with a libgcc DLL already in the process); never loaded.
RUNTIME_PROBES = {"libgcc_s_dw2-1.dll", "libgcc_s_seh-1.dll"}


def imports_of(exe):
    """The import table (DLL -> number of functions) as objdump reads it, and
    the other DLL names the image carries: the delay-loaded ones, whose
    descriptors the program's own helper reads (the PE delay-import directory
    stays empty), and any the runtime looks up by name."""
    r = subprocess.run(["x86_64-w64-mingw32-objdump" if WIN64 else "i686-w64-mingw32-objdump", "-p", exe], capture_output=True, text=True,
                       timeout=60, check=True)
    functions, current = {}, None
    for line in r.stdout.splitlines():
        m = re.match(r"\s*DLL Name: (\S+)", line)
        if m:
            current = m.group(1).lower()
            functions[current] = 0
        elif current and re.match(r"^\t[0-9a-f]+\t\s*\d+\s+\S+", line):
            functions[current] += 1
        elif line.startswith("PE File Base Relocations"):
            current = None
    with open(exe, "rb") as f:
        image = f.read()
    named = sorted({m.group(1).decode().lower() for m in re.finditer(rb"([A-Za-z0-9_.-]+\.dll)\0", image,
                                                                     re.IGNORECASE)})
    return list(functions), [d for d in named if d not in functions], functions


def run(exe):
    dlls, delayed, functions = imports_of(exe)
    return {"size": os.path.getsize(exe), "imports": dlls, "delayed": delayed, "functions": functions,
            "foreign": [d for d in dlls + delayed if d not in SYSTEM_DLLS and d not in RUNTIME_PROBES]}
