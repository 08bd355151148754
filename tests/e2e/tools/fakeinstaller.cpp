// Stands in for the product installer that the test server hands out: notes
// that it ran, from where and with what, then exits with the code it is told.
//   QD_TEST_RECORD     file to append to (inherited from the downloader)
//   QD_TEST_SLEEP_MS   how long to stay running before exiting (default 0)
//   QD_TEST_EXIT_CODE  exit code (default 0)
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

std::string Env(const char* name) {
    char buf[4096];
    DWORD n = GetEnvironmentVariableA(name, buf, sizeof buf);
    return n > 0 && n < sizeof buf ? std::string(buf, n) : std::string();
}

void Append(const std::string& path, const std::string& line) {
    if (path.empty()) return;
    HANDLE f = CreateFileA(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                           nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (f == INVALID_HANDLE_VALUE) return;
    DWORD written = 0;
    WriteFile(f, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
    CloseHandle(f);
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    char self[MAX_PATH + 1] = "";
    GetModuleFileNameA(nullptr, self, sizeof self);
    char cwd[MAX_PATH + 1] = "";
    GetCurrentDirectoryA(sizeof cwd, cwd);
    const std::string record = Env("QD_TEST_RECORD");
    Append(record, std::string("ran\t") + self + "\t" + GetCommandLineA() + "\t" + cwd + "\t" +
                       std::to_string(GetTickCount()) + "\r\n");

    const std::string sleep = Env("QD_TEST_SLEEP_MS");
    if (!sleep.empty()) Sleep(std::strtoul(sleep.c_str(), nullptr, 10));

    const std::string code = Env("QD_TEST_EXIT_CODE");
    UINT exitCode = code.empty() ? 0 : static_cast<UINT>(std::strtoul(code.c_str(), nullptr, 0));
    Append(record, "exit\t" + std::to_string(exitCode) + "\t" + std::to_string(GetTickCount()) +
                       "\r\n");
    return static_cast<int>(exitCode);
}
