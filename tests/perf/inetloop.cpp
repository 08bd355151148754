// The bare WinInet loop the engine is measured against: the same session,
// the InternetOpenUrlA flags it is given (the benchmark passes the engine's
// own, read from its source), the same InternetReadFileExA flags (12) and
// 40-byte INTERNET_BUFFERSA, blocks of a chosen size written straight to a
// file. No status callback, no progress, nothing else.
//
// inetloop --flags HEX [--block N] [--out PATH] [--agent TEXT] [--callback]
//          [--run] [--report FILE] <url>
//   --block N     bytes per read (default 4096)
//   --flags HEX   InternetOpenUrlA flags, e.g. 40c0a00
//   --out PATH    file to write; "temp:NAME" is NAME in %TEMP%
//                 (default temp:Quillet_2024_Setup.exe, the installer's name)
//   --callback    register a status callback that only counts notices
//   --run         afterwards start the file with ShellExecuteExA("open"), wait
//                 for it and delete it, as the downloader does
//   --report FILE one line: ok|error, bytes, reads, timings in ms, notices
#include <windows.h>
#include <wininet.h>

#include <cstring>
#include <string>
#include <vector>

#include "benchutil.h"

namespace {

const DWORD ReadFlags = 12;          // IRF_SYNC | IRF_NO_WAIT
static_assert(sizeof(INTERNET_BUFFERSA) == 40, "the 32-bit record");

volatile LONG g_notices = 0;

void CALLBACK CountNotice(HINTERNET, DWORD_PTR, DWORD, LPVOID, DWORD) {
    ::InterlockedIncrement(&g_notices);
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    const std::vector<std::string> args = bench::Arguments();
    bench::DownloadOptions o;
    DWORD block = 4096;
    DWORD openUrlFlags = 0;
    bool callback = false;
    bool run = false;
    for (size_t i = 1; i < args.size(); ++i) {
        const std::string& a = args[i];
        const bool more = i + 1 < args.size();
        if (a == "--block" && more) block = std::strtoul(args[++i].c_str(), nullptr, 10);
        else if (a == "--flags" && more) openUrlFlags = std::strtoul(args[++i].c_str(), nullptr, 16);
        else if (a == "--callback") callback = true;
        else if (a == "--run") run = true;
        else if (!o.Take(args, i)) return 2;
    }
    if (o.url.empty() || block == 0 || openUrlFlags == 0) return 2;

    const std::string path = bench::OutputPath(o.out);
    std::vector<char> buffer(block);
    const double t0 = bench::NowMs();
    HANDLE file = o.Open(path);
    if (file == INVALID_HANDLE_VALUE) return 1;

    std::string failure;
    long long bytes = 0;
    long reads = 0;
    double tOpen = 0, tFirst = 0, tEnd = 0;
    HINTERNET session = ::InternetOpenA(o.agent.c_str(), INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
    HINTERNET request = nullptr;
    if (!session) failure = "InternetOpenA " + std::to_string(::GetLastError());
    if (session && callback) ::InternetSetStatusCallback(session, CountNotice);
    if (session) {
        request = ::InternetOpenUrlA(session, o.url.c_str(), nullptr, 0, openUrlFlags, callback ? 1 : 0);
        if (!request) failure = "InternetOpenUrlA " + std::to_string(::GetLastError());
    }
    tOpen = bench::NowMs();
    if (request) {
        DWORD status = 0, length = sizeof status;
        if (!::HttpQueryInfoA(request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &length,
                              nullptr) ||
            status != 200)
            failure = "status " + std::to_string(status);
    }
    while (request && failure.empty()) {
        INTERNET_BUFFERSA buffers;
        std::memset(&buffers, 0, sizeof buffers);
        buffers.dwStructSize = sizeof buffers;
        buffers.lpvBuffer = buffer.data();
        buffers.dwBufferLength = block;
        if (!::InternetReadFileExA(request, &buffers, ReadFlags, 0)) {
            failure = "InternetReadFileExA " + std::to_string(::GetLastError());
            break;
        }
        const DWORD n = buffers.dwBufferLength;
        if (reads++ == 0) tFirst = bench::NowMs();
        if (n == 0) break;
        DWORD written = 0;
        if (!::WriteFile(file, buffer.data(), n, &written, nullptr) || written != n) {
            failure = "WriteFile " + std::to_string(::GetLastError());
            break;
        }
        bytes += n;
    }
    tEnd = bench::NowMs();
    if (request) ::InternetCloseHandle(request);
    if (session) ::InternetCloseHandle(session);
    ::CloseHandle(file);
    const double tClosed = bench::NowMs();

    long exitCode = 0;
    if (failure.empty() && run) exitCode = bench::RunAndWait(path);

    std::string line = bench::Outcome(failure);
    line += " bytes=" + std::to_string(bytes) + " reads=" + std::to_string(reads) +
            " open_ms=" + bench::Fixed(tOpen - t0) + " first_ms=" + bench::Fixed(tFirst - t0) +
            " transfer_ms=" + bench::Fixed(tEnd - t0) + " closed_ms=" + bench::Fixed(tClosed - t0) +
            " notices=" + std::to_string(g_notices) + " installer_exit=" + std::to_string(exitCode);
    bench::Report(o.report, line);
    return failure.empty() ? 0 : 1;
}
