// Starts a program and samples its memory as Windows reports it, until it
// exits: the peak of the private bytes (PrivateUsage, or PagefileUsage where
// the platform leaves that empty) and of the working set.
//
// memwatch [--interval MS] [--report FILE] <program> [arguments...]
//   --interval MS  time between samples (default 10)
//   --report FILE  one line: ok|error, samples, peak_private, peak_pagefile_os,
//                  peak_working_set, exit (bytes)
#include <windows.h>
#include <psapi.h>

#include <string>
#include <vector>

#include "benchutil.h"

namespace {

std::string Quote(const std::string& arg) {
    if (!arg.empty() && arg.find_first_of(" \t\"") == std::string::npos) return arg;
    std::string out = "\"";
    for (char c : arg) {
        if (c == '"') out += '\\';
        out += c;
    }
    return out + "\"";
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    const std::vector<std::string> args = bench::Arguments();
    DWORD interval = 10;
    std::string report;
    size_t i = 1;
    for (; i < args.size(); ++i) {
        if (args[i] == "--interval" && i + 1 < args.size()) interval = std::strtoul(args[++i].c_str(), nullptr, 10);
        else if (args[i] == "--report" && i + 1 < args.size()) report = args[++i];
        else break;
    }
    if (i >= args.size()) return 2;
    std::string command;
    for (size_t j = i; j < args.size(); ++j) command += (j > i ? " " : "") + Quote(args[j]);

    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!::CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                          &process)) {
        bench::Report(report, "error CreateProcessA " + std::to_string(::GetLastError()));
        return 1;
    }
    ::CloseHandle(process.hThread);
    unsigned long long peakPrivate = 0, peakPagefile = 0, peakWorkingSet = 0;
    long samples = 0;
    for (;;) {
        const bool ended = ::WaitForSingleObject(process.hProcess, interval) == WAIT_OBJECT_0;
        PROCESS_MEMORY_COUNTERS_EX c = {};
        c.cb = sizeof c;
        if (::K32GetProcessMemoryInfo(process.hProcess, reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&c), sizeof c)) {
            ++samples;
            const unsigned long long priv = c.PrivateUsage ? c.PrivateUsage : c.PagefileUsage;
            if (priv > peakPrivate) peakPrivate = priv;
            if (c.PeakPagefileUsage > peakPagefile) peakPagefile = c.PeakPagefileUsage;
            if (c.PeakWorkingSetSize > peakWorkingSet) peakWorkingSet = c.PeakWorkingSetSize;
        }
        if (ended) break;
    }
    DWORD code = 0;
    ::GetExitCodeProcess(process.hProcess, &code);
    ::CloseHandle(process.hProcess);
    bench::Report(report, "ok samples=" + std::to_string(samples) + " peak_private=" + std::to_string(peakPrivate) +
                              " peak_pagefile_os=" + std::to_string(peakPagefile) +
                              " peak_working_set=" + std::to_string(peakWorkingSet) + " exit=" + std::to_string(code));
    return 0;
}
