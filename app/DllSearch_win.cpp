#include <windows.h>

#include "Main.h"

// Nothing is loaded from the program's own folder (often Downloads, where a
// planted version.dll would otherwise win): every later load, the delay-loaded
// imports among them, searches the system folder only.
void RestrictDllSearch() {
    typedef BOOL(WINAPI * SetDefaultDllDirectoriesProc)(DWORD);
    auto setDefault = reinterpret_cast<SetDefaultDllDirectoriesProc>(reinterpret_cast<void*>(
        ::GetProcAddress(::GetModuleHandleA("kernel32.dll"), "SetDefaultDllDirectories")));
    if (!setDefault || !setDefault(LOAD_LIBRARY_SEARCH_SYSTEM32)) ::SetDllDirectoryA("");
}
