// The bare WinInet loop, shared by the references: the session, the
// InternetOpenUrlA flags it is given (the benchmark passes the engine's own,
// read from its source), the engine's InternetReadFileExA flags (12) and
// 40-byte INTERNET_BUFFERSA, blocks of a chosen size written straight to a
// file. No status callback unless asked for, no progress, nothing else.
#pragma once

#include <windows.h>
#include <wininet.h>

#include <cstring>
#include <string>
#include <vector>

#include "benchutil.h"

namespace bench {

struct LoopOptions {
    DownloadOptions download;
    DWORD block = 4096;
    DWORD openUrlFlags = 0;
    bool callback = false;  // register a status callback that only counts notices
    bool run = false;       // afterwards start the file, wait for it and delete it

    bool Take(const std::vector<std::string>& args, size_t& i) {
        const std::string& a = args[i];
        const bool more = i + 1 < args.size();
        if (a == "--block" && more) block = std::strtoul(args[++i].c_str(), nullptr, 10);
        else if (a == "--flags" && more) openUrlFlags = std::strtoul(args[++i].c_str(), nullptr, 16);
        else if (a == "--callback") callback = true;
        else if (a == "--run") run = true;
        else return download.Take(args, i);
        return true;
    }
    bool Complete() const { return !download.url.empty() && block != 0 && openUrlFlags != 0; }
};

// The loop's outcome, and its steps in raw counter ticks (Ticks()).
struct LoopResult {
    std::string failure;
    long long bytes = 0;
    long reads = 0;
    long exitCode = 0;
    double tOpen = 0, tFirst = 0, tEnd = 0, tClosed = 0;  // ms since the loop began
    long long session = 0, opened = 0, request = 0, answer = 0;
};

inline volatile LONG g_notices = 0;

inline void CALLBACK CountNotice(HINTERNET, DWORD_PTR, DWORD, LPVOID, DWORD) {
    ::InterlockedIncrement(&g_notices);
}

inline LoopResult Loop(const LoopOptions& o) {
    static_assert(sizeof(INTERNET_BUFFERSA) == (sizeof(void*) == 4 ? 40 : 56), "the platform's record");
    const DWORD ReadFlags = 12;  // IRF_SYNC | IRF_NO_WAIT
    LoopResult r;
    const std::string path = OutputPath(o.download.out);
    std::vector<char> buffer(o.block);
    const double t0 = NowMs();
    HANDLE file = o.download.Open(path);
    if (file == INVALID_HANDLE_VALUE) {
        r.failure = "create " + std::to_string(::GetLastError());
        return r;
    }
    r.session = Ticks();
    HINTERNET session =
        ::InternetOpenA(o.download.agent.c_str(), INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
    r.opened = Ticks();
    HINTERNET request = nullptr;
    if (!session) r.failure = "InternetOpenA " + std::to_string(::GetLastError());
    if (session && o.callback) ::InternetSetStatusCallback(session, CountNotice);
    if (session) {
        r.request = Ticks();
        request = ::InternetOpenUrlA(session, o.download.url.c_str(), nullptr, 0, o.openUrlFlags,
                                     o.callback ? 1 : 0);
        r.answer = Ticks();
        if (!request) r.failure = "InternetOpenUrlA " + std::to_string(::GetLastError());
    }
    r.tOpen = NowMs();
    if (request) {
        DWORD status = 0, length = sizeof status;
        if (!::HttpQueryInfoA(request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &length,
                              nullptr) ||
            status != 200)
            r.failure = "status " + std::to_string(status);
    }
    while (request && r.failure.empty()) {
        INTERNET_BUFFERSA buffers;
        std::memset(&buffers, 0, sizeof buffers);
        buffers.dwStructSize = sizeof buffers;
        buffers.lpvBuffer = buffer.data();
        buffers.dwBufferLength = o.block;
        if (!::InternetReadFileExA(request, &buffers, ReadFlags, 0)) {
            r.failure = "InternetReadFileExA " + std::to_string(::GetLastError());
            break;
        }
        const DWORD n = buffers.dwBufferLength;
        if (r.reads++ == 0) r.tFirst = NowMs();
        if (n == 0) break;
        DWORD written = 0;
        if (!::WriteFile(file, buffer.data(), n, &written, nullptr) || written != n) {
            r.failure = "WriteFile " + std::to_string(::GetLastError());
            break;
        }
        r.bytes += n;
    }
    r.tEnd = NowMs();
    if (request) ::InternetCloseHandle(request);
    if (session) ::InternetCloseHandle(session);
    ::CloseHandle(file);
    r.tClosed = NowMs();
    r.tFirst = r.tFirst ? r.tFirst - t0 : 0;
    r.tOpen -= t0;
    r.tEnd -= t0;
    r.tClosed -= t0;
    if (r.failure.empty() && o.run) r.exitCode = RunAndWait(path);
    return r;
}

// The result line's fields after "ok"/"error ...": the counts, the times in
// ms, and the steps in ticks with the counter's frequency.
inline std::string LoopFields(const LoopResult& r) {
    LARGE_INTEGER f;
    ::QueryPerformanceFrequency(&f);
    return " bytes=" + std::to_string(r.bytes) + " reads=" + std::to_string(r.reads) +
           " open_ms=" + Fixed(r.tOpen) + " first_ms=" + Fixed(r.tFirst) + " transfer_ms=" + Fixed(r.tEnd) +
           " closed_ms=" + Fixed(r.tClosed) + " notices=" + std::to_string(g_notices) +
           " installer_exit=" + std::to_string(r.exitCode) + " session=" + std::to_string(r.session) +
           " opened=" + std::to_string(r.opened) + " request=" + std::to_string(r.request) +
           " answer=" + std::to_string(r.answer) + " freq=" + std::to_string(f.QuadPart);
}

}  // namespace bench
