// WinInet's declarations without dllimport. The program delay-loads wininet
// (it is not one of the system's known DLLs), and a delay-load thunk is
// reached through a plain call; an indirect call through the import slot
// would find it empty.
#pragma once

#include <windows.h>

#pragma push_macro("DECLSPEC_IMPORT")
#undef DECLSPEC_IMPORT
#define DECLSPEC_IMPORT
#include <wininet.h>
#pragma pop_macro("DECLSPEC_IMPORT")
