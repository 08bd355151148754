// Small utilities of the download session: the program's own version, the
// temporary folder, running a program and waiting for it.
#pragma once

#include <cstdint>
#include <string>

// "major.minor" of a fixed file version's most significant half.
std::string VersionTextOf(uint32_t fileVersionMS);

#ifdef _WIN32
#include <windows.h>

#include "Handles_win.h"

// The full path of the running program.
std::string GetOwnModulePath();
uint32_t GetOwnFileVersion();
std::string GetVersionText();
std::string GetTempDir();
// A message box with a UTF-8 text and caption; right to left where the
// language reads so.
int ShowMessageBox(HWND owner, const std::string& text, const std::string& caption, UINT style);
// Starts `path` with the shell's "open", waits for it and reports problems in
// boxes owned by `owner`; true when it exited with 0. `heldUntilStarted`, when
// given, is released as soon as the process has started.
bool RunAndWait(HWND owner, const std::string& path, TKernelHandle* heldUntilStarted = nullptr);
#endif
