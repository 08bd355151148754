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

int Installer() {
    // Long enough for any path Windows hands a program.
    wchar_t self[32768] = L"";
    ::GetModuleFileNameW(nullptr, self, sizeof self / sizeof self[0]);
    wchar_t cwd[32768] = L"";
    ::GetCurrentDirectoryW(sizeof cwd / sizeof cwd[0], cwd);
    const std::wstring record = Env(L"QD_TEST_RECORD");
    Append(record, std::wstring(L"ran\t") + self + L"\t" + ::GetCommandLineW() + L"\t" + cwd + L"\t" + Tick());
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
