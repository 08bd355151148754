// Small utilities of the download session: the program's own version, the
// temporary folder and the installer's folder in it, running a program and
// waiting for it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

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

// What the completion does when the shell could not start the installer.
// Tell: the system's error, as for any failure. AskAgain: the user declined
// the elevation prompt, and is asked whether to try again. TryAgain: shortly
// after the download something still reads the new file (a virus scanner):
// tried again a moment later, for StartRetryForMs at most.
enum class TStartFailure { Tell, AskAgain, TryAgain };
const uint32_t StartRetryForMs = 10000;
const uint32_t StartRetryEveryMs = 500;
TStartFailure OnStartFailure(uint32_t errorCode, uint32_t msSinceDownload);

// The run's own folder as its creation describes it (SDDL), for the user of
// SID `userSid`: owned by the user, full access for the user, SYSTEM and the
// Administrators, nothing inherited from the parent. An elevated run's folder
// carries the high integrity label too, so that code the same user runs
// unelevated can neither write in it nor change it (a DLL beside an installer
// that will run elevated).
std::string OwnFolderSddl(const std::string& userSid, bool elevated);

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
// SYSTEM and the Administrators may enter, nothing inherited from `parent`
// (OwnFolderSddl); returns its path with a trailing separator. Never one that
// existed before. `first`: the installer's name in such a folder (see
// RemoveOwnFolder).
std::string CreateOwnFolder(const std::string& parent, const std::string& prefix, const std::string& first);
// Removes `folder` (with its trailing separator) and all it holds, true when
// it is gone. Its file `first` goes first: while that is held (an installer
// still running from it) nothing else is touched. A reparse point inside is
// removed as a link, never entered.
bool RemoveOwnFolder(const std::string& folder, const std::string& first);

// The window's controls take no input while this lives, as under a message
// box; the window itself stays enabled, so that when a program it started
// closes its last window, Windows can give the activation back to it rather
// than to another program's window.
class TDisabledControls {
public:
    explicit TDisabledControls(HWND window);
    ~TDisabledControls();
    TDisabledControls(const TDisabledControls&) = delete;
    TDisabledControls& operator=(const TDisabledControls&) = delete;

private:
    std::vector<HWND> disabled_;
};

// Starts `path` with the shell's "open" in the folder it is in; 0 and the
// process (null when the shell gave none), or the system's error code. May
// wait long (the elevation prompt): for a thread other than the dialog's.
DWORD StartInstaller(HWND owner, const std::string& path, HANDLE* process);
// Waits for `process` answering, and reports problems in boxes owned by
// `owner`, brought to the front; true when its exit code says it worked.
bool WaitForInstaller(HWND owner, HANDLE process);

// Tries RemoveOwnFolder about once a second, answering messages meanwhile,
// until the folder is gone or `timeoutMs` have passed.
void RemoveOwnFolderWhenFree(const std::string& folder, const std::string& first, DWORD timeoutMs);
#endif
