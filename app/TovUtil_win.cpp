#include <windows.h>
#include <shellapi.h>

#include <memory>
#include <vector>

#include "Format.h"
#include "Handles_win.h"
#include "SystemError.h"
#include "Texts.h"
#include "WideText_win.h"
#include "TovUtil.h"

namespace {

const DWORD NoVersion = 0xFFFFFFFFu;

DWORD ReadOwnFileVersion() {
    const std::string path = GetOwnModulePath();
    if (path.empty()) return NoVersion;
    DWORD handle = 0;
    const TWideText widePath = ToWide(path);
    DWORD size = ::GetFileVersionInfoSizeW(widePath.c_str(), &handle);
    if (size == 0) return NoVersion;
    std::unique_ptr<char[]> block(new char[size]);
    if (!::GetFileVersionInfoW(widePath.c_str(), 0, size, block.get())) return NoVersion;
    VS_FIXEDFILEINFO* info = nullptr;
    UINT length = 0;
    if (!::VerQueryValueW(block.get(), L"\\", reinterpret_cast<void**>(&info), &length) || !info)
        return NoVersion;
    return info->dwFileVersionMS;
}

void ErrorBox(HWND owner, const std::string& text) {
    ShowMessageBox(owner, text, LoadText(IDS_BOX_CAPTION), MB_OK | MB_ICONERROR);
}

}  // namespace

std::string GetOwnModulePath() {
    // Room for the longest path Windows has; one cut short names another file.
    std::vector<wchar_t> path(32768);
    DWORD length = ::GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    return length < path.size() ? ToUtf8(path.data(), length) : std::string();
}

uint32_t GetOwnFileVersion() {
    DWORD version = ReadOwnFileVersion();
    if (version == NoVersion) RaiseLastSystemError();
    return version;
}

std::string GetVersionText() { return VersionTextOf(GetOwnFileVersion()); }

std::string GetTempDir() {
    wchar_t buffer[1025] = {};
    DWORD length = ::GetTempPathW(1024, buffer);
    if (length == 0 || length >= 1024) RaiseLastSystemError();
    return ToUtf8(buffer, length);
}

int ShowMessageBox(HWND owner, const std::string& text, const std::string& caption, UINT style) {
    if (TextsReadRightToLeft()) style |= MB_RTLREADING | MB_RIGHT;
    return ::MessageBoxW(owner, ToWide(text).c_str(), ToWide(caption).c_str(), style);
}

bool RunAndWait(HWND owner, const std::string& path, TKernelHandle* heldUntilStarted) {
    const TWideText file = ToWide(path);
    SHELLEXECUTEINFOW info = {};
    static_assert(sizeof info == 60, "the 32-bit record");
    info.cbSize = sizeof info;
    info.fMask = SEE_MASK_NOCLOSEPROCESS;
    info.lpVerb = L"open";
    info.lpFile = file.c_str();
    info.nShow = SW_SHOWNORMAL;

    DWORD exitCode = 999;
    if (!::ShellExecuteExW(&info)) RaiseLastSystemError();
    if (heldUntilStarted) heldUntilStarted->Reset();

    if (info.hProcess) {
        TKernelHandle process(info.hProcess);
        if (::WaitForSingleObject(process.Get(), INFINITE) == WAIT_FAILED)
            ErrorBox(owner, LoadText(IDS_NO_WAIT));
        DWORD code = 0;
        if (::GetExitCodeProcess(process.Get(), &code))
            exitCode = code;
        else
            ErrorBox(owner, LoadText(IDS_NO_RESULT));
    } else {
        ErrorBox(owner, LoadText(IDS_NO_HANDLE));
    }

    if (exitCode != 0) ErrorBox(owner, Format(LoadText(IDS_RETURN_CODE), {exitCode}));
    return exitCode == 0;
}
