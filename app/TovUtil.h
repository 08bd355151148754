// Small utilities of the download session: the program's own version, the
// temporary folder and the installer's folder in it, running a program and
// waiting for it.
#pragma once

#include <cstdint>
#include <string>

// "major.minor" of a fixed file version's most significant half.
std::string VersionTextOf(uint32_t fileVersionMS);

// An installer's exit code that means it worked: 0, or Windows Installer's
// "success, restart required" (3010) and "success, restart started" (1641).
bool IsInstallSuccess(uint32_t exitCode);

// The name of a run's own folder: `prefix` and 32 hexadecimal digits made of
// 16 random bytes; and whether a name is one (the prefix in any case).
const size_t OwnFolderRandomBytes = 16;
std::string OwnFolderName(const std::string& prefix, const unsigned char* random);
bool IsOwnFolderName(const std::string& name, const std::string& prefix);

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

// "Cannot create file" with the full path and the system's text for `code`.
[[noreturn]] void RaiseCannotCreate(const std::string& path, DWORD code);
// Removes what earlier runs left in `parent` (folders named for `prefix` that
// the user owns and that are not reparse points; those in use stay), then
// creates a new folder `parent` + OwnFolderName(prefix) that only the user,
// SYSTEM and the Administrators may enter, nothing inherited from `parent`;
// returns its path with a trailing separator. Never one that existed before.
std::string CreateOwnFolder(const std::string& parent, const std::string& prefix);
// Removes the files directly in `folder` (with its trailing separator) and
// the folder itself; true when it is gone. Reparse points and subfolders are left alone (never followed).
bool RemoveOwnFolder(const std::string& folder);

// The owner window takes no input while this lives, as under a message box,
// yet keeps answering the messages its thread delivers.
class TDisabledWindow {
public:
    explicit TDisabledWindow(HWND window) : window_(window) { ::EnableWindow(window_, FALSE); }
    ~TDisabledWindow() { ::EnableWindow(window_, TRUE); }
    TDisabledWindow(const TDisabledWindow&) = delete;
    TDisabledWindow& operator=(const TDisabledWindow&) = delete;

private:
    HWND window_;
};

// Starts `path` with the shell's "open", waits for it with `owner` disabled
// and answering, and reports problems in boxes owned by `owner`; true when
// its exit code says it worked. `heldUntilStarted`, when given, is released
// as soon as the process has started.
bool RunAndWait(HWND owner, const std::string& path, TKernelHandle* heldUntilStarted = nullptr);

// Tries RemoveOwnFolder about once a second, answering messages meanwhile,
// until the folder is gone or `timeoutMs` have passed.
void RemoveOwnFolderWhenFree(const std::string& folder, DWORD timeoutMs);
#endif
