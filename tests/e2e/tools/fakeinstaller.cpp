// Stands in for the product installer that the test server hands out (the
// tests sign and pad copies of it, so it is a real, windowless program), and
// holds files open for the tests. Wide APIs throughout, so that paths outside
// the ANSI code page work; the record is UTF-8.
//
// As the installer (any arguments but the two modes below):
//   QD_TEST_RECORD     file to append to: "ran\t<own path>\t<command line>\t<cwd>\t<tick>",
//                      then "exit\t<code>\t<tick>" (tab-separated, CR LF)
//   QD_TEST_SLEEP_MS   how long to stay running before exiting (default 0)
//   QD_TEST_EXIT_CODE  exit code (default 0)
//   QD_TEST_DO         what else it does, comma-separated, in this order:
//                      broadcast  WM_SETTINGCHANGE ("Environment") and
//                                 WM_FONTCHANGE to every top-level window with
//                                 plain SendMessage, as installers do
//                      hung       after 6 s, IsHungAppWindow on the window
//                                 captioned QD_TEST_DIALOG: "hung\t0" or "1"
//                      endsession asks that window WM_QUERYENDSESSION (a
//                                 log-off), waiting 2 s at most: its answer
//                      close      posts WM_CLOSE to that window
//                      restart    starts a copy of its own file that runs
//                                 QD_TEST_SLEEP_MS (5000 if unset), exits at once
//                      move       moves its own file to QD_TEST_MOVE_TO
//                      unpack     leaves a file beside itself and a read-only
//                                 one two subfolders down, as installers do
//                      Each records "<word>\t<outcome>".
//                      Every run records "dir\t<names in its folder, |-separated>"
//                      "sd\t<its folder's owner, DACL and label as SDDL>" and
//                      "elevated\t<1 or 0, from its token>" first.
//   QD_TEST_HOLD_MS    keep its own file open after it has exited: it opens
//                      itself (read sharing only, inheritable) and leaves the
//                      handle to a child, `QD_TEST_HELPER --sleep <ms>`, so
//                      the downloader cannot delete the file meanwhile;
//                      records "hold\theld" (or what went wrong)
// fakeinstaller --hold <path> <ms>   opens <path> (created if missing) with no
//                                    sharing, prints "held", keeps it <ms>,
//                                    prints "released"; "error <code>" if it cannot
// fakeinstaller --sleep <ms>         sleeps, holding whatever handles it inherited
// Every wait is capped at ten minutes.
#include <windows.h>
#include <aclapi.h>
#include <sddl.h>

#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <string>

namespace {

const unsigned long MaxWaitMs = 600000;

std::wstring Env(const wchar_t* name) {
    wchar_t buf[4096];
    DWORD n = ::GetEnvironmentVariableW(name, buf, sizeof buf / sizeof buf[0]);
    return n > 0 && n < sizeof buf / sizeof buf[0] ? std::wstring(buf, n) : std::wstring();
}

unsigned long Ms(const std::wstring& text) {
    unsigned long ms = std::wcstoul(text.c_str(), nullptr, 10);
    return ms > MaxWaitMs ? MaxWaitMs : ms;
}

std::string Utf8(const std::wstring& text) {
    int n = ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0,
                                  nullptr, nullptr);
    std::string out(n > 0 ? n : 0, '\0');
    if (n > 0)
        ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), &out[0], n, nullptr,
                              nullptr);
    return out;
}

std::wstring Tick() { return std::to_wstring(::GetTickCount()); }

void Append(const std::wstring& path, const std::wstring& line) {
    if (path.empty()) return;
    HANDLE f = ::CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                             OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (f == INVALID_HANDLE_VALUE) return;
    const std::string bytes = Utf8(line + L"\r\n");
    DWORD written = 0;
    ::WriteFile(f, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    ::CloseHandle(f);
}

void Say(const char* text) {
    std::fputs(text, stdout);
    std::fflush(stdout);
}

int Hold(const wchar_t* path, unsigned long ms) {
    HANDLE file = ::CreateFileW(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        std::printf("error %lu\n", ::GetLastError());
        std::fflush(stdout);
        return 1;
    }
    Say("held\n");
    ::Sleep(ms);
    ::CloseHandle(file);
    Say("released\n");
    return 0;
}

// Leaves an open handle on our own file to a child that outlives us.
std::wstring HandOverOwnFile(const std::wstring& self, unsigned long ms) {
    const std::wstring helper = Env(L"QD_TEST_HELPER");
    if (helper.empty()) return L"no QD_TEST_HELPER";
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    HANDLE own = ::CreateFileW(self.c_str(), GENERIC_READ, FILE_SHARE_READ, &inherit, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
    if (own == INVALID_HANDLE_VALUE) return L"open failed " + std::to_wstring(::GetLastError());
    std::wstring cmd = L"\"" + helper + L"\" --sleep " + std::to_wstring(ms);
    STARTUPINFOW si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    BOOL started = ::CreateProcessW(nullptr, &cmd[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi);
    DWORD error = ::GetLastError();
    ::CloseHandle(own);
    if (!started) return L"child failed " + std::to_wstring(error);
    ::CloseHandle(pi.hThread);
    ::CloseHandle(pi.hProcess);
    return L"held";
}

std::wstring Folder(const std::wstring& self) { return self.substr(0, self.find_last_of(L'\\')); }

std::wstring ListFolder(const std::wstring& folder) {
    std::wstring names;
    WIN32_FIND_DATAW found;
    HANDLE find = ::FindFirstFileW((folder + L"\\*").c_str(), &found);
    if (find == INVALID_HANDLE_VALUE) return L"error " + std::to_wstring(::GetLastError());
    do {
        if (std::wcscmp(found.cFileName, L".") && std::wcscmp(found.cFileName, L".."))
            names += (names.empty() ? L"" : L"|") + std::wstring(found.cFileName);
    } while (::FindNextFileW(find, &found));
    ::FindClose(find);
    return names;
}

std::wstring FolderSecurity(const std::wstring& folder) {
    PSECURITY_DESCRIPTOR sd = nullptr;
    const SECURITY_INFORMATION what =
        OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION | LABEL_SECURITY_INFORMATION;
    DWORD error = ::GetNamedSecurityInfoW(folder.c_str(), SE_FILE_OBJECT, what, nullptr, nullptr, nullptr,
                                          nullptr, &sd);
    if (error != ERROR_SUCCESS) return L"error " + std::to_wstring(error);
    wchar_t* text = nullptr;
    std::wstring out = L"error conversion";
    if (::ConvertSecurityDescriptorToStringSecurityDescriptorW(sd, SDDL_REVISION_1, what, &text, nullptr)) {
        out = text;
        ::LocalFree(text);
    }
    ::LocalFree(sd);
    return out;
}

// Whether this process (started by the program, with its token) runs elevated.
std::wstring Elevated() {
    HANDLE token = nullptr;
    TOKEN_ELEVATION elevation = {};
    DWORD size = 0;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token)) return L"error";
    const BOOL read = ::GetTokenInformation(token, TokenElevation, &elevation, sizeof elevation, &size);
    ::CloseHandle(token);
    return read ? std::to_wstring(elevation.TokenIsElevated ? 1 : 0) : L"error";
}

bool Does(const std::wstring& what, const wchar_t* word) {
    return (L"," + what + L",").find(L"," + std::wstring(word) + L",") != std::wstring::npos;
}

std::wstring Restart(const std::wstring& self) {
    ::SetEnvironmentVariableW(L"QD_TEST_DO", nullptr);
    if (Env(L"QD_TEST_SLEEP_MS").empty()) ::SetEnvironmentVariableW(L"QD_TEST_SLEEP_MS", L"5000");
    std::wstring cmd = L"\"" + self + L"\" --copy";
    STARTUPINFOW si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    if (!::CreateProcessW(self.c_str(), &cmd[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
        return L"error " + std::to_wstring(::GetLastError());
    ::CloseHandle(pi.hThread);
    ::CloseHandle(pi.hProcess);
    return L"started";
}

int Installer() {
    // Long enough for any path Windows hands a program.
    wchar_t self[32768] = L"";
    ::GetModuleFileNameW(nullptr, self, sizeof self / sizeof self[0]);
    wchar_t cwd[32768] = L"";
    ::GetCurrentDirectoryW(sizeof cwd / sizeof cwd[0], cwd);
    const std::wstring record = Env(L"QD_TEST_RECORD");
    Append(record, std::wstring(L"ran\t") + self + L"\t" + ::GetCommandLineW() + L"\t" + cwd + L"\t" + Tick());
    Append(record, L"dir\t" + ListFolder(Folder(self)));
    Append(record, L"sd\t" + FolderSecurity(Folder(self)));
    Append(record, L"elevated\t" + Elevated());
    const std::wstring what = Env(L"QD_TEST_DO");
    const HWND dialog = ::FindWindowW(L"#32770", Env(L"QD_TEST_DIALOG").c_str());
    if (Does(what, L"broadcast")) {
        ::SendMessageW(HWND_BROADCAST, WM_SETTINGCHANGE, 0, reinterpret_cast<LPARAM>(L"Environment"));
        ::SendMessageW(HWND_BROADCAST, WM_FONTCHANGE, 0, 0);
        Append(record, L"broadcast\tanswered\t" + Tick());
    }
    if (Does(what, L"hung")) {
        ::Sleep(6000);
        Append(record, dialog ? L"hung\t" + std::to_wstring(::IsHungAppWindow(dialog) ? 1 : 0) : L"hung\tno window");
    }
    if (Does(what, L"endsession")) {
        DWORD_PTR answer = 0;
        const LRESULT sent = ::SendMessageTimeoutW(dialog, WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF, SMTO_NORMAL,
                                                   2000, &answer);
        Append(record, L"endsession\t" + (sent ? std::to_wstring(answer) : std::wstring(L"no answer")));
    }
    if (Does(what, L"close"))
        Append(record, std::wstring(L"close\t") + (::PostMessageW(dialog, WM_CLOSE, 0, 0) ? L"posted" : L"failed"));
    if (Does(what, L"restart")) {
        Append(record, L"restart\t" + Restart(self));
        Append(record, L"exit\t0\t" + Tick());
        return 0;
    }
    if (Does(what, L"move")) {
        const BOOL moved = ::MoveFileExW(self, Env(L"QD_TEST_MOVE_TO").c_str(), MOVEFILE_COPY_ALLOWED);
        Append(record, moved ? std::wstring(L"move\tmoved") : L"move\terror " + std::to_wstring(::GetLastError()));
    }
    if (Does(what, L"unpack")) {
        const std::wstring folder = Folder(self), deeper = folder + L"\\parts\\deeper";
        const bool made = ::CreateDirectoryW((folder + L"\\parts").c_str(), nullptr) &&
                          ::CreateDirectoryW(deeper.c_str(), nullptr);
        Append(folder + L"\\setup.log", L"unpacked");
        Append(deeper + L"\\part.dll", L"part");
        const bool readOnly = ::SetFileAttributesW((deeper + L"\\part.dll").c_str(), FILE_ATTRIBUTE_READONLY);
        Append(record, made && readOnly ? L"unpack\tmade" : L"unpack\terror " + std::to_wstring(::GetLastError()));
    }
    const std::wstring hold = Env(L"QD_TEST_HOLD_MS");
    if (!hold.empty()) Append(record, L"hold\t" + HandOverOwnFile(self, Ms(hold)));
    const std::wstring sleep = Env(L"QD_TEST_SLEEP_MS");
    if (!sleep.empty()) ::Sleep(Ms(sleep));
    const std::wstring code = Env(L"QD_TEST_EXIT_CODE");
    UINT exitCode = code.empty() ? 0 : static_cast<UINT>(std::wcstoul(code.c_str(), nullptr, 0));
    Append(record, L"exit\t" + std::to_wstring(exitCode) + L"\t" + Tick());
    return static_cast<int>(exitCode);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int) {
    const int argc = __argc;
    wchar_t** const argv = __wargv;
    if (argc == 4 && std::wcscmp(argv[1], L"--hold") == 0) return Hold(argv[2], Ms(argv[3]));
    if (argc == 3 && std::wcscmp(argv[1], L"--sleep") == 0) {
        ::Sleep(Ms(argv[2]));
        return 0;
    }
    return Installer();
}
