#include <windows.h>
#include <shellapi.h>

#include <memory>

#include "Format.h"
#include "Handles_win.h"
#include "SystemError.h"
#include "TovUtil.h"

namespace {

const char BoxCaption[] = "Quillet Downloader";
const DWORD NoVersion = 0xFFFFFFFFu;

DWORD ReadOwnFileVersion() {
    const std::string path = GetOwnModulePath();
    if (path.empty()) return NoVersion;
    DWORD handle = 0;
    DWORD size = ::GetFileVersionInfoSizeA(path.c_str(), &handle);
    if (size == 0) return NoVersion;
    std::unique_ptr<char[]> block(new char[size]);
    if (!::GetFileVersionInfoA(path.c_str(), 0, size, block.get())) return NoVersion;
    VS_FIXEDFILEINFO* info = nullptr;
    UINT length = 0;
    if (!::VerQueryValueA(block.get(), "\\", reinterpret_cast<void**>(&info), &length) || !info)
        return NoVersion;
    return info->dwFileVersionMS;
}

void ErrorBox(HWND owner, const char* text) { ::MessageBoxA(owner, text, BoxCaption, MB_OK | MB_ICONERROR); }

}  // namespace

std::string GetOwnModulePath() {
    char path[MaxPathBytes] = {};
    // A path cut short (the result fills the buffer) names another file.
    DWORD length = ::GetModuleFileNameA(nullptr, path, MaxPathBytes);
    return length < MaxPathBytes ? std::string(path, length) : std::string();
}

uint32_t GetOwnFileVersion() {
    DWORD version = ReadOwnFileVersion();
    if (version == NoVersion) RaiseLastSystemError();
    return version;
}

std::string GetVersionText() { return VersionTextOf(GetOwnFileVersion()); }

std::string GetTempDir() {
    char buffer[1025] = {};
    DWORD length = ::GetTempPathA(1024, buffer);
    if (length == 0 || length >= 1024) RaiseLastSystemError();
    return buffer;
}

bool RunAndWait(HWND owner, const std::string& path, TKernelHandle* heldUntilStarted) {
    SHELLEXECUTEINFOA info = {};
    static_assert(sizeof info == 60, "the 32-bit record");
    info.cbSize = sizeof info;
    info.fMask = SEE_MASK_NOCLOSEPROCESS;
    info.lpVerb = "open";
    info.lpFile = path.c_str();
    info.nShow = SW_SHOWNORMAL;

    DWORD exitCode = 999;
    if (!::ShellExecuteExA(&info)) RaiseLastSystemError();
    if (heldUntilStarted) heldUntilStarted->Reset();

    if (info.hProcess) {
        TKernelHandle process(info.hProcess);
        if (::WaitForSingleObject(process.Get(), INFINITE) == WAIT_FAILED)
            ErrorBox(owner, "!!! DOWNLOADER ERROR !!!\r\n\r\nCOULD NOT WAIT");
        DWORD code = 0;
        if (::GetExitCodeProcess(process.Get(), &code))
            exitCode = code;
        else
            ErrorBox(owner, "!!! DOWNLOADER ERROR !!!\r\n\r\nNO PROCESS RESULT");
    } else {
        ErrorBox(owner, "!!! DOWNLOADER ERROR !!!\r\n\r\nNO PROCESS HANDLE");
    }

    if (exitCode != 0) ErrorBox(owner, Format("ERROR - RETURN = %u", {exitCode}).c_str());
    return exitCode == 0;
}
