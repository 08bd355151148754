// The installer stand-in of the hardening tests, and two small helpers, in
// one program (the tests sign copies of it, so it must be a real program).
//
// As the installer (no arguments), like tests/e2e's fake installer:
//   QD_TEST_RECORD      file to append "ran ..." and "exit ..." lines to
//   QD_TEST_EXIT_CODE   exit code (default 0)
//   QD_TEST_HOLD_MS     keep its own file open after it has exited: it opens
//                       itself (read sharing only, inheritable) and leaves
//                       the handle to a child, `QD_TEST_HELPER --sleep <ms>`,
//                       so the downloader cannot delete the file meanwhile
// helper --hold <path> <ms>   open <path> (created if missing) with no
//                             sharing, print "held", keep it <ms>, "released"
// helper --sleep <ms>         sleep, holding whatever handles it inherited
// Every wait is capped at ten minutes.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

const unsigned long MaxWaitMs = 600000;

std::string Env(const char* name) {
    char buf[4096];
    DWORD n = ::GetEnvironmentVariableA(name, buf, sizeof buf);
    return n > 0 && n < sizeof buf ? std::string(buf, n) : std::string();
}

unsigned long Ms(const char* text) {
    unsigned long ms = std::strtoul(text, nullptr, 10);
    return ms > MaxWaitMs ? MaxWaitMs : ms;
}

void Append(const std::string& path, const std::string& line) {
    if (path.empty()) return;
    HANDLE f = ::CreateFileA(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                             OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (f == INVALID_HANDLE_VALUE) return;
    DWORD written = 0;
    ::WriteFile(f, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
    ::CloseHandle(f);
}

int Hold(const char* path, unsigned long ms) {
    HANDLE file = ::CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        std::printf("error %lu\n", ::GetLastError());
        std::fflush(stdout);
        return 1;
    }
    std::printf("held\n");
    std::fflush(stdout);
    ::Sleep(ms);
    ::CloseHandle(file);
    std::printf("released\n");
    std::fflush(stdout);
    return 0;
}

// Leaves an open handle on our own file to a child that outlives us.
std::string HandOverOwnFile(const std::string& self, unsigned long ms) {
    const std::string helper = Env("QD_TEST_HELPER");
    if (helper.empty()) return "no QD_TEST_HELPER";
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    HANDLE own = ::CreateFileA(self.c_str(), GENERIC_READ, FILE_SHARE_READ, &inherit, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
    if (own == INVALID_HANDLE_VALUE) return "open failed " + std::to_string(::GetLastError());
    std::string cmd = "\"" + helper + "\" --sleep " + std::to_string(ms);
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    BOOL started = ::CreateProcessA(nullptr, &cmd[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi);
    DWORD error = ::GetLastError();
    ::CloseHandle(own);
    if (!started) return "child failed " + std::to_string(error);
    ::CloseHandle(pi.hThread);
    ::CloseHandle(pi.hProcess);
    return "held";
}

int Installer() {
    char self[MAX_PATH + 1] = "";
    ::GetModuleFileNameA(nullptr, self, sizeof self);
    const std::string record = Env("QD_TEST_RECORD");
    Append(record, std::string("ran\t") + self + "\t" + ::GetCommandLineA() + "\r\n");
    const std::string hold = Env("QD_TEST_HOLD_MS");
    if (!hold.empty()) Append(record, "hold\t" + HandOverOwnFile(self, Ms(hold.c_str())) + "\r\n");
    const std::string code = Env("QD_TEST_EXIT_CODE");
    UINT exitCode = code.empty() ? 0 : static_cast<UINT>(std::strtoul(code.c_str(), nullptr, 0));
    Append(record, "exit\t" + std::to_string(exitCode) + "\r\n");
    return static_cast<int>(exitCode);
}

}  // namespace

// A windowless program, like a real installer's bootstrapper: no console
// appears when the downloader starts it.
int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    const int argc = __argc;
    char** const argv = __argv;
    if (argc == 4 && std::strcmp(argv[1], "--hold") == 0) return Hold(argv[2], Ms(argv[3]));
    if (argc == 3 && std::strcmp(argv[1], "--sleep") == 0) {
        ::Sleep(Ms(argv[2]));
        return 0;
    }
    return Installer();
}
