// Runs the download engine on its own, from the command line, and prints what
// its owner would see, one line each, in the order it happened:
//   status <text>                      every OnStatus call
//   progress <received> <total>        every OnProgress call
//   wait <seconds left>                every OnWait call (0: the wait is over)
//   abort_at <received>                when the second thread called Abort
// and at the end:
//   ok | error <ClassName> <ErrorNumber or -> <message>
//   aborted <0|1>, closing <0|1> (the abort's close of the session still
//   under way 5 s after the download returned), filename <FileName>,
//   written <bytes stored>, elapsed_ms <n>, end
// Texts are escaped (\\, \r, \n, \t, \xHH) so each record stays on one line.
//
// enginecli [options] <url>
//   --agent <text>        user agent (default TovInstaller/1.1)
//   --attempts <n>        requests one download may make (default 1)
//   --out <path>          write into this file (CreateFileA + TFileStream);
//                         without it the bytes are counted and dropped
//   --abort-after <ms>    call Abort from a second thread after <ms>
//   --abort-before        call Abort before Download
//   --refuse-after <n>    the stream stores at most <n> bytes in all
//   --no-progress         leave OnProgress empty
//   --cache-entry         afterwards ask the client's cache for the address:
//                         cached <0|1> <GetLastError when 0>
//   --query <level>:s|n   headers mode: InternetOpenUrlA (flags 0xC0A00) and
//   --query cl|fn         QueryInfoString / QueryInfoNumber /
//                         QueryContentLength / QueryFileName, printed as
//                         string <level> <ok> <length> <text>
//                         number <level> <ok> <value> | number <level> raised <Class> <msg>
//                         contentlength <ok> <value>
//                         filename <ok> <name>
#include <windows.h>
#include <wininet.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "Exceptions.h"
#include "FileStream.h"
#include "TovDownload.h"
#include "iTovInetUtils.h"

#include "LineEscape.h"

namespace {

CRITICAL_SECTION g_print;


// Callbacks may come from the downloading thread and from the aborting one.
void Print(const std::string& line) {
    EnterCriticalSection(&g_print);
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
    LeaveCriticalSection(&g_print);
}

std::string Num(long long v) { return std::to_string(v); }

struct Recorder {
    std::atomic<int64_t> received{0};
    void Status(const char* text) { Print(std::string("status ") + Escape(text ? text : "")); }
    void Progress(int64_t r, int64_t total) {
        received = r;
        Print("progress " + Num(r) + " " + Num(total));
    }
    void Wait(unsigned seconds) { Print("wait " + Num(seconds)); }
};

// Counts bytes, optionally stores them in a file, and stores no more than
// `limit` bytes in all: a full disk as the engine sees it.
class TestStream : public TStream {
public:
    TestStream(TStream* inner, int64_t limit) : inner_(inner), limit_(limit) {}
    size_t Write(const void* data, size_t count) override {
        size_t take = count;
        if (limit_ >= 0 && stored_ + static_cast<int64_t>(take) > limit_)
            take = static_cast<size_t>(limit_ - stored_);
        if (inner_ && take > 0) take = inner_->Write(data, take);
        stored_ += static_cast<int64_t>(take);
        return take;
    }
    int64_t Size() override { return stored_; }
    void Truncate(int64_t size) override {
        if (inner_) inner_->Truncate(size);
        stored_ = size;
    }
    int64_t stored() const { return stored_; }

private:
    TStream* inner_;
    int64_t limit_;
    int64_t stored_ = 0;
};

struct AbortJob {
    TTovDownload* engine;
    Recorder* recorder;
    DWORD delay;
};

DWORD WINAPI AbortLater(LPVOID param) {
    auto* job = static_cast<AbortJob*>(param);
    Sleep(job->delay);
    Print("abort_at " + Num(job->recorder->received.load()));
    job->engine->Abort();
    return 0;
}

int Headers(const std::string& agent, const std::string& url, const std::vector<std::string>& queries) {
    HINTERNET session = InternetOpenA(agent.c_str(), INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
    if (!session) {
        Print("error open " + Num(GetLastError()));
        return 1;
    }
    HINTERNET request = InternetOpenUrlA(session, url.c_str(), nullptr, 0, 0xC0A00, 0);
    if (!request) {
        Print("error openurl " + Num(GetLastError()));
        InternetCloseHandle(session);
        return 1;
    }
    for (const std::string& q : queries) {
        try {
            if (q == "cl") {
                int64_t value = -1;
                bool ok = QueryContentLength(request, value);
                Print("contentlength " + Num(ok) + " " + Num(value));
            } else if (q == "fn") {
                std::string name = "unchanged";
                bool ok = QueryFileName(request, name);
                Print("filename " + Num(ok) + " " + Escape(name));
            } else {
                size_t colon = q.find(':');
                DWORD level = std::strtoul(q.substr(0, colon).c_str(), nullptr, 0);
                std::string kind = colon == std::string::npos ? "s" : q.substr(colon + 1);
                if (kind == "n") {
                    uint32_t number = 12345;
                    try {
                        bool ok = QueryInfoNumber(request, level, number);
                        Print("number " + Num(level) + " " + Num(ok) + " " + Num(number));
                    } catch (Exception& e) {
                        Print("number " + Num(level) + " raised " + e.ClassName() + " " +
                              Escape(e.Message()));
                    }
                } else {
                    std::string text = "unchanged";
                    bool ok = QueryInfoString(request, level, text);
                    Print("string " + Num(level) + " " + Num(ok) + " " + Num(text.size()) + " " +
                          Escape(text));
                }
            }
        } catch (Exception& e) {
            Print("raised " + std::string(e.ClassName()) + " " + Escape(e.Message()));
        }
    }
    InternetCloseHandle(request);
    InternetCloseHandle(session);
    Print("end");
    return 0;
}

int Usage() {
    std::fprintf(stderr, "usage: enginecli [--agent A] [--attempts N] [--out F] [--abort-after MS] [--abort-before]\n"
                         "                 [--refuse-after N] [--no-progress] [--query Q]... <url>\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    InitializeCriticalSection(&g_print);
    std::string agent = "TovInstaller/1.1";
    std::string out;
    std::string url;
    long abortAfter = -1;
    bool abortBefore = false;
    bool progress = true;
    bool cacheEntry = false;
    int64_t refuseAfter = -1;
    unsigned attempts = 1;
    std::vector<std::string> queries;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        bool more = i + 1 < argc;
        if (a == "--agent" && more) agent = argv[++i];
        else if (a == "--out" && more) out = argv[++i];
        else if (a == "--attempts" && more) attempts = std::strtoul(argv[++i], nullptr, 10);
        else if (a == "--abort-after" && more) abortAfter = std::strtol(argv[++i], nullptr, 10);
        else if (a == "--abort-before") abortBefore = true;
        else if (a == "--refuse-after" && more) refuseAfter = std::strtoll(argv[++i], nullptr, 10);
        else if (a == "--no-progress") progress = false;
        else if (a == "--cache-entry") cacheEntry = true;
        else if (a == "--query" && more) queries.push_back(argv[++i]);
        else if (!a.empty() && a[0] != '-' && url.empty()) url = a;
        else return Usage();
    }
    if (url.empty()) return Usage();
    if (!queries.empty()) return Headers(agent, url, queries);

    Recorder recorder;
    TTovDownload engine(agent, attempts);
    engine.OnStatus = BindStatus<&Recorder::Status>(&recorder);
    engine.OnWait = BindWait<&Recorder::Wait>(&recorder);
    if (progress) engine.OnProgress = BindProgress<&Recorder::Progress>(&recorder);

    TFileStream* file = nullptr;
    if (!out.empty()) {
        HANDLE h = CreateFileA(out.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
        if (h == INVALID_HANDLE_VALUE) {
            Print("error create " + Num(GetLastError()));
            return 1;
        }
        file = new TFileStream(h);
    }
    TestStream stream(file, refuseAfter);

    AbortJob job{&engine, &recorder, static_cast<DWORD>(abortAfter < 0 ? 0 : abortAfter)};
    HANDLE aborter = nullptr;
    if (abortBefore) engine.Abort();
    if (abortAfter >= 0) aborter = CreateThread(nullptr, 0, AbortLater, &job, 0, nullptr);

    DWORD start = GetTickCount();
    int rc = 0;
    try {
        engine.Download(url, stream);
        Print("ok");
    } catch (EOSError& e) {
        Print(std::string("error ") + e.ClassName() + " " + Num(e.ErrorNumber) + " " + Escape(e.Message()));
        rc = 1;
    } catch (Exception& e) {
        Print(std::string("error ") + e.ClassName() + " - " + Escape(e.Message()));
        rc = 1;
    }
    DWORD elapsed = GetTickCount() - start;
    if (aborter) {
        WaitForSingleObject(aborter, INFINITE);
        CloseHandle(aborter);
    }
    delete file;
    Print(std::string("aborted ") + (engine.Aborted ? "1" : "0"));
    for (int waited = 0; engine.Closing() && waited < 5000; waited += 10) Sleep(10);
    Print(std::string("closing ") + (engine.Closing() ? "1" : "0"));
    Print("filename " + Escape(engine.FileName));
    Print("written " + Num(stream.stored()));
    Print("elapsed_ms " + Num(elapsed));
    if (cacheEntry) {
        // Not among the engine's delay-loaded imports: looked up here.
        typedef BOOL(WINAPI * CacheInfo)(LPCSTR, LPINTERNET_CACHE_ENTRY_INFOA, LPDWORD);
        auto info = reinterpret_cast<CacheInfo>(reinterpret_cast<void*>(
            GetProcAddress(LoadLibraryA("wininet.dll"), "GetUrlCacheEntryInfoA")));
        DWORD size = 0;  // no buffer: the call still tells whether there is an entry
        BOOL found = info && (info(url.c_str(), nullptr, &size) || GetLastError() == ERROR_INSUFFICIENT_BUFFER);
        Print(std::string("cached ") + (found ? "1" : "0 " + Num(GetLastError())));
    }
    Print("end");
    return rc;
}
