#include <windows.h>
#include <aclapi.h>
#include <bcrypt.h>
#include <sddl.h>
#include <objbase.h>
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

// In front: what the installer's end activated may be another program's window.
void ErrorBox(HWND owner, const std::string& text) {
    ShowMessageBox(owner, text, LoadText(IDS_BOX_CAPTION), MB_OK | MB_ICONERROR | MB_TASKMODAL | MB_SETFOREGROUND);
}

void FreeLocal(void* memory) { ::LocalFree(memory); }
using TLocalMemory = TOwnedHandle<NullableTraits<void*, FreeLocal>>;

// The user this process runs as, and whether it runs elevated, from its token.
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
        TOKEN_ELEVATION elevation = {};
        if (!::GetTokenInformation(token, TokenElevation, &elevation, sizeof elevation, &size))
            RaiseLastSystemError();
        elevated_ = elevation.TokenIsElevated != 0;
    }
    PSID Sid() const { return reinterpret_cast<const TOKEN_USER*>(info_.get())->User.Sid; }
    bool Elevated() const { return elevated_; }

private:
    std::unique_ptr<char[]> info_;
    bool elevated_ = false;
};

TLocalMemory OwnFolderSecurity(const TProcessUser& user) {
    wchar_t* sidText = nullptr;
    if (!::ConvertSidToStringSidW(user.Sid(), &sidText)) RaiseLastSystemError();
    TLocalMemory sidOwner(sidText);
    const std::string sddl = OwnFolderSddl(ToUtf8(sidText), user.Elevated());
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
void RemoveLeftoverFolders(const std::string& parent, const std::string& prefix, const std::string& first,
                           const TProcessUser& user) {
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
        if (IsFolderOwnedBy(parent + name, user)) RemoveOwnFolder(parent + name + "\\", first);
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

std::string CreateOwnFolder(const std::string& parent, const std::string& prefix, const std::string& first) {
    const TProcessUser user;
    RemoveLeftoverFolders(parent, prefix, first, user);
    const TLocalMemory descriptor = OwnFolderSecurity(user);
    SECURITY_ATTRIBUTES attributes = {sizeof attributes, descriptor.Get(), FALSE};
    // A name that exists already, whoever made it, is never taken over.
    for (int tries = 1;; ++tries) {
        unsigned char random[OwnFolderRandomBytes];
        // The system's preferred generator: no algorithm handle to open.
        // It fails only when misused, which no error code tells better.
        if (!BCRYPT_SUCCESS(::BCryptGenRandom(nullptr, random, sizeof random, BCRYPT_USE_SYSTEM_PREFERRED_RNG)))
            RaiseSystemError(ERROR_GEN_FAILURE);
        const std::string folder = parent + OwnFolderName(prefix, random);
        if (::CreateDirectoryW(ToWide(folder).c_str(), &attributes)) return folder + "\\";
        const DWORD code = ::GetLastError();
        if (code != ERROR_ALREADY_EXISTS || tries == 10) RaiseCannotCreate(folder, code);
    }
}

namespace {

bool IsDotName(const wchar_t* name) { return name[0] == L'.' && (!name[1] || (name[1] == L'.' && !name[2])); }

// A read-only file (an installer's unpacked part, say) is made writable
// first; a link is not, which would change what it points to.
bool RemoveFile(const std::string& path, DWORD attributes) {
    const TWideText wide = ToWide(path);
    if ((attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_REPARSE_POINT)) == FILE_ATTRIBUTE_READONLY)
        ::SetFileAttributesW(wide.c_str(), FILE_ATTRIBUTE_NORMAL);
    return ::DeleteFileW(wide.c_str()) != 0;
}

// Everything in `folder` (with its separator), then the folder itself.
bool RemoveTree(const std::string& folder) {
    bool removed = true;
    WIN32_FIND_DATAW found;
    TFindHandle search(::FindFirstFileExW(ToWide(folder + "*").c_str(), FindExInfoBasic, &found,
                                          FindExSearchNameMatch, nullptr, 0));
    if (search) {
        do {
            if (IsDotName(found.cFileName)) continue;
            const std::string path = folder + ToUtf8(found.cFileName);
            const DWORD attributes = found.dwFileAttributes;
            if (!(attributes & FILE_ATTRIBUTE_DIRECTORY))
                removed = RemoveFile(path, attributes) && removed;
            else if (attributes & FILE_ATTRIBUTE_REPARSE_POINT)
                removed = ::RemoveDirectoryW(ToWide(path).c_str()) && removed;  // the link only
            else
                removed = RemoveTree(path + "\\") && removed;
        } while (::FindNextFileW(search.Get(), &found));
    }
    search.Reset();
    if (::RemoveDirectoryW(ToWide(folder.substr(0, folder.size() - 1)).c_str())) return true;
    const DWORD code = ::GetLastError();
    return removed && (code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND);
}

}  // namespace

bool RemoveOwnFolder(const std::string& folder, const std::string& first) {
    // An empty name would make every path below one in the current folder
    // (Downloads, say), which is not ours to empty.
    if (folder.empty() || folder.back() != '\\') return false;
    if (!::DeleteFileW(ToWide(folder + first).c_str())) {
        const DWORD code = ::GetLastError();
        if (code != ERROR_FILE_NOT_FOUND && code != ERROR_PATH_NOT_FOUND) return false;
    }
    return RemoveTree(folder);
}

TDisabledControls::TDisabledControls(HWND window) {
    for (HWND child = ::GetWindow(window, GW_CHILD); child; child = ::GetWindow(child, GW_HWNDNEXT)) {
        if (!::IsWindowEnabled(child)) continue;
        disabled_.push_back(child);
        ::EnableWindow(child, FALSE);
    }
}

TDisabledControls::~TDisabledControls() {
    for (HWND child : disabled_) ::EnableWindow(child, TRUE);
}

int ShowMessageBox(HWND owner, const std::string& text, const std::string& caption, UINT style) {
    if (TextsReadRightToLeft()) style |= MB_RTLREADING | MB_RIGHT;
    return ::MessageBoxW(owner, ToWide(text).c_str(), ToWide(caption).c_str(), style);
}

DWORD StartInstaller(HWND owner, const std::string& path, HANDLE* process) {
    const TWideText file = ToWide(path);
    // Its own folder, not ours (often Downloads), as where it starts.
    const TWideText folder = ToWide(path.substr(0, path.find_last_of('\\')));
    SHELLEXECUTEINFOW info = {};
    static_assert(sizeof info == (sizeof(void*) == 4 ? 60 : 112), "the platform's record");
    info.cbSize = sizeof info;
    // NOASYNC: this thread ends right after. NO_UI: the program tells the
    // failure itself, and a start tried again shows nothing meanwhile.
    info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_NOASYNC | SEE_MASK_FLAG_NO_UI;
    info.hwnd = owner;
    info.lpVerb = L"open";
    info.lpFile = file.c_str();
    info.lpDirectory = folder.c_str();
    info.nShow = SW_SHOWNORMAL;
    // The shell may hand the start to extensions that need COM on this thread.
    const HRESULT com = ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
    const DWORD code = ::ShellExecuteExW(&info) ? 0 : ::GetLastError();
    if (SUCCEEDED(com)) ::CoUninitialize();
    *process = info.hProcess;
    return code;
}

bool WaitForInstaller(HWND owner, HANDLE process) {
    DWORD exitCode = 999;
    if (process) {
        DWORD waited;
        {
            const TDisabledControls busy(owner);
            waited = WaitAnswering(process);
        }
        if (waited == WAIT_FAILED) ErrorBox(owner, LoadText(IDS_NO_WAIT));
        DWORD code = 0;
        if (::GetExitCodeProcess(process, &code))
            exitCode = code;
        else
            ErrorBox(owner, LoadText(IDS_NO_RESULT));
    } else {
        ErrorBox(owner, LoadText(IDS_NO_HANDLE));
    }

    if (!IsInstallSuccess(exitCode)) ErrorBox(owner, Format(LoadText(IDS_RETURN_CODE), {exitCode}));
    return IsInstallSuccess(exitCode);
}

void RemoveOwnFolderWhenFree(const std::string& folder, const std::string& first, DWORD timeoutMs) {
    const DWORD start = ::GetTickCount();
    while (!RemoveOwnFolder(folder, first) && ::GetTickCount() - start < timeoutMs) WaitAnswering(nullptr, 1000);
}
