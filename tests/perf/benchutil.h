// Small pieces shared by the benchmark tools: the command line and the
// options of the download tools, the clock, the output file, and the one
// result line each tool writes.
#pragma once

#include <windows.h>
#include <shellapi.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace bench {

// The tools are GUI-subsystem programs, like the downloader, so that none of
// them pays for a console the others do not have. Arguments come from the
// process's own command line.
inline std::vector<std::string> Arguments() {
    std::vector<std::string> args;
    const char* p = ::GetCommandLineA();
    while (*p) {
        while (*p == ' ' || *p == '\t') ++p;
        if (!*p) break;
        std::string arg;
        bool quoted = false;
        while (*p && (quoted || (*p != ' ' && *p != '\t'))) {
            if (*p == '"') {
                quoted = !quoted;
            } else if (*p == '\\' && p[1] == '"') {
                arg += '"';
                ++p;
            } else {
                arg += *p;
            }
            ++p;
        }
        args.push_back(arg);
    }
    return args;
}

// The raw counter, for times that the benchmark converts to its own clock
// (Wine counts it from the host's CLOCK_MONOTONIC_RAW, in 100 ns).
inline long long Ticks() {
    LARGE_INTEGER now;
    ::QueryPerformanceCounter(&now);
    return now.QuadPart;
}

inline double NowMs() {
    static LARGE_INTEGER frequency = [] {
        LARGE_INTEGER f;
        ::QueryPerformanceFrequency(&f);
        return f;
    }();
    LARGE_INTEGER now;
    ::QueryPerformanceCounter(&now);
    return static_cast<double>(now.QuadPart) * 1000.0 / static_cast<double>(frequency.QuadPart);
}

// "temp:NAME" is NAME in the user's temporary folder, where the downloader
// puts the installer; anything else is taken as it stands.
inline std::string OutputPath(const std::string& where) {
    if (where.compare(0, 5, "temp:") != 0) return where;
    char dir[MAX_PATH + 1] = {};
    DWORD n = ::GetTempPathA(MAX_PATH, dir);
    if (n == 0 || n > MAX_PATH) return where.substr(5);
    return std::string(dir, n) + where.substr(5);
}

// The one line of results, written to the report file at the end (nowhere
// when none was named).
inline void Report(const std::string& path, const std::string& line) {
    if (path.empty()) return;
    HANDLE f = ::CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
    if (f == INVALID_HANDLE_VALUE) return;
    std::string text = line + "\r\n";
    DWORD written = 0;
    ::WriteFile(f, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    ::CloseHandle(f);
}

// The start of the result line: "ok", or "error" and what failed.
inline std::string Outcome(const std::string& failure) {
    return failure.empty() ? "ok" : "error " + failure;
}

// What every download tool takes: the address, the file to write, the user
// agent and the report file.
struct DownloadOptions {
    std::string out = "temp:Quillet_2024_Setup.exe";
    std::string agent = "TovInstaller/1.1";
    std::string report;
    std::string url;

    // Takes args[i], and the value after it, when it is one of these.
    bool Take(const std::vector<std::string>& args, size_t& i) {
        const std::string& a = args[i];
        const bool more = i + 1 < args.size();
        if (a == "--out" && more) out = args[++i];
        else if (a == "--agent" && more) agent = args[++i];
        else if (a == "--report" && more) report = args[++i];
        else if (!a.empty() && a[0] != '-' && url.empty()) url = a;
        else return false;
        return true;
    }

    // The output, opened as the downloader opens its temporary installer;
    // when it cannot be, the report says why.
    HANDLE Open(const std::string& path) const {
        HANDLE file = ::CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE) Report(report, "error create " + std::to_string(::GetLastError()));
        return file;
    }
};

inline std::string Fixed(double v) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.3f", v);
    return buf;
}

// Starts the downloaded file as the downloader starts the installer (verb
// "open", wait for it), then deletes it as the downloader does. Returns the
// exit code, or -1 when it could not be started.
inline long RunAndWait(const std::string& path) {
    SHELLEXECUTEINFOA info = {};
    info.cbSize = sizeof info;
    info.fMask = SEE_MASK_NOCLOSEPROCESS;
    info.lpVerb = "open";
    info.lpFile = path.c_str();
    info.nShow = SW_SHOWNORMAL;
    if (!::ShellExecuteExA(&info) || !info.hProcess) return -1;
    ::WaitForSingleObject(info.hProcess, INFINITE);
    DWORD code = 0;
    ::GetExitCodeProcess(info.hProcess, &code);
    ::CloseHandle(info.hProcess);
    ::DeleteFileA(path.c_str());
    return static_cast<long>(code);
}

}  // namespace bench
