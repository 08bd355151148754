#include <windows.h>
#include <aclapi.h>
#include <ntsecapi.h>
#include <sddl.h>
#include <shellapi.h>

#include <memory>
#include <vector>

#include "Exceptions.h"
#include "Format.h"
#include "Handles_win.h"
#include "MessageWait_win.h"
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

void FreeLocal(void* memory) { ::LocalFree(memory); }
using TLocalMemory = TOwnedHandle<NullableTraits<void*, FreeLocal>>;

// The user this process runs as, from its token.
class TProcessUser {
public:
    TProcessUser() {
        HANDLE token = nullptr;
        if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token)) RaiseLastSystemError();
        TKernelHandle owned(token);
        DWORD size = 0;
        ::GetTokenInformation(token, TokenUser, nullptr, 0, &size);
        info_.reset(new char[size ? size : 1]);
        if (!::GetTokenInformation(token, TokenUser, info_.get(), size, &size)) RaiseLastSystemError();
    }
    PSID Sid() const { return reinterpret_cast<const TOKEN_USER*>(info_.get())->User.Sid; }

private:
    std::unique_ptr<char[]> info_;
};

// Owned by the user, full access for the user, SYSTEM and the Administrators,
// and protected: nothing is inherited from a parent that others may write in.
TLocalMemory OwnFolderSecurity(const TProcessUser& user) {
    wchar_t* sidText = nullptr;
    if (!::ConvertSidToStringSidW(user.Sid(), &sidText)) RaiseLastSystemError();
    TLocalMemory sidOwner(sidText);
    const std::string sid = ToUtf8(sidText);
    const std::string sddl = "O:" + sid + "D:P(A;OICI;FA;;;" + sid + ")(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)";
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(ToWide(sddl).c_str(), SDDL_REVISION_1,
                                                                &descriptor, nullptr))
        RaiseLastSystemError();
    return TLocalMemory(descriptor);
}

// A folder itself (a reparse point is not followed) that `user` owns.
bool IsFolderOwnedBy(const std::string& folder, const TProcessUser& user) {
    TKernelHandle handle(::CreateFileW(ToWide(folder).c_str(), READ_CONTROL | FILE_READ_ATTRIBUTES,
                                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                       OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
                                       nullptr));
    BY_HANDLE_FILE_INFORMATION info;
    if (!handle || !::GetFileInformationByHandle(handle.Get(), &info)) return false;
    if ((info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != FILE_ATTRIBUTE_DIRECTORY)
        return false;
    PSID owner = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (::GetSecurityInfo(handle.Get(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr, nullptr,
                          nullptr, &descriptor) != ERROR_SUCCESS)
        return false;
    TLocalMemory descriptorOwner(descriptor);
    return owner && ::EqualSid(owner, user.Sid());
}

// What earlier runs left in `parent`: folders named for `prefix` that the
// user owns and that are not reparse points; those still in use stay.
void RemoveLeftoverFolders(const std::string& parent, const std::string& prefix, const TProcessUser& user) {
    WIN32_FIND_DATAW found;
    TFindHandle search(::FindFirstFileExW(ToWide(parent + prefix + "*").c_str(), FindExInfoBasic, &found,
                                          FindExSearchLimitToDirectories, nullptr, 0));
    if (!search) return;
    do {
        const std::string name = ToUtf8(found.cFileName);
        if ((found.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) !=
                FILE_ATTRIBUTE_DIRECTORY ||
            !IsOwnFolderName(name, prefix))
            continue;
        if (IsFolderOwnedBy(parent + name, user)) RemoveOwnFolder(parent + name + "\\");
    } while (::FindNextFileW(search.Get(), &found));
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

[[noreturn]] void RaiseCannotCreate(const std::string& path, DWORD code) {
    const TWideText widePath = ToWide(path);
    wchar_t full[MAX_PATH * 4] = {};
    DWORD n = ::GetFullPathNameW(widePath.c_str(), MAX_PATH * 4, full, nullptr);
    std::string shown = (n > 0 && n < MAX_PATH * 4) ? ToUtf8(full, n) : path;
    throw EFCreateError(Format(LoadText(IDS_CANNOT_CREATE), {shown, SystemErrorText(code)}));
}

std::string CreateOwnFolder(const std::string& parent, const std::string& prefix) {
    const TProcessUser user;
    RemoveLeftoverFolders(parent, prefix, user);
    const TLocalMemory descriptor = OwnFolderSecurity(user);
    SECURITY_ATTRIBUTES attributes = {sizeof attributes, descriptor.Get(), FALSE};
    // A name that exists already, whoever made it, is never taken over.
    for (int tries = 1;; ++tries) {
        unsigned char random[OwnFolderRandomBytes];
        if (!::RtlGenRandom(random, sizeof random)) RaiseLastSystemError();
        const std::string folder = parent + OwnFolderName(prefix, random);
        if (::CreateDirectoryW(ToWide(folder).c_str(), &attributes)) return folder + "\\";
        const DWORD code = ::GetLastError();
        if (code != ERROR_ALREADY_EXISTS || tries == 10) RaiseCannotCreate(folder, code);
    }
}

bool RemoveOwnFolder(const std::string& folder) {
    WIN32_FIND_DATAW found;
    TFindHandle search(::FindFirstFileExW(ToWide(folder + "*").c_str(), FindExInfoBasic, &found,
                                          FindExSearchNameMatch, nullptr, 0));
    if (search) {
        do {
            if (!(found.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)))
                ::DeleteFileW(ToWide(folder + ToUtf8(found.cFileName)).c_str());
        } while (::FindNextFileW(search.Get(), &found));
    }
    search.Reset();
    if (::RemoveDirectoryW(ToWide(folder.substr(0, folder.size() - 1)).c_str())) return true;
    const DWORD code = ::GetLastError();
    return code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND;
}

int ShowMessageBox(HWND owner, const std::string& text, const std::string& caption, UINT style) {
    if (TextsReadRightToLeft()) style |= MB_RTLREADING | MB_RIGHT;
    return ::MessageBoxW(owner, ToWide(text).c_str(), ToWide(caption).c_str(), style);
}

bool RunAndWait(HWND owner, const std::string& path, TKernelHandle* heldUntilStarted) {
    const TWideText file = ToWide(path);
    SHELLEXECUTEINFOW info = {};
    static_assert(sizeof info == (sizeof(void*) == 4 ? 60 : 112), "the platform's record");
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
        DWORD waited;
        {
            const TDisabledWindow busy(owner);
            waited = WaitAnswering(process.Get());
        }
        if (waited == WAIT_FAILED) ErrorBox(owner, LoadText(IDS_NO_WAIT));
        DWORD code = 0;
        if (::GetExitCodeProcess(process.Get(), &code))
            exitCode = code;
        else
            ErrorBox(owner, LoadText(IDS_NO_RESULT));
    } else {
        ErrorBox(owner, LoadText(IDS_NO_HANDLE));
    }

    if (!IsInstallSuccess(exitCode)) ErrorBox(owner, Format(LoadText(IDS_RETURN_CODE), {exitCode}));
    return IsInstallSuccess(exitCode);
}

void RemoveOwnFolderWhenFree(const std::string& folder, DWORD timeoutMs) {
    const DWORD start = ::GetTickCount();
    while (!RemoveOwnFolder(folder) && ::GetTickCount() - start < timeoutMs) WaitAnswering(nullptr, 1000);
}
