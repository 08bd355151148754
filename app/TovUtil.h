// Small utilities of the download session: the program's own version, the
// temporary folder, running a program and waiting for it.
#pragma once

#include <cstdint>
#include <string>

// "major.minor" of a fixed file version's most significant half.
std::string VersionTextOf(uint32_t fileVersionMS);

#ifdef _WIN32
#include <windows.h>

uint32_t GetOwnFileVersion();
std::string GetVersionText();
std::string GetTempDir();
bool RunAndWait(HWND owner, const std::string& path);
#endif
