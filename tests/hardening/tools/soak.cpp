// Runs the download engine many times in one process and reports, after each
// round, how many handles the process holds and how much private memory it
// uses, so a test can see that both come back once a round is over.
//
//   soak --rounds N --out <folder> --job <kind>:<url> [--job ...]
//        [--baseline <count> <url>]
//
// kinds: ok (must succeed), fail (must raise), abort:<ms> (Abort from a second
// thread after <ms>; must end aborted). Every round runs every job once, each
// with a new engine and a new file stream, as one run of the program does.
// Output, one line each:
//   job <round> <index> <kind> <ok|error|aborted> <bytes> <message>
//   round <n> handles <count> handle_count <GetProcessHandleCount>
//         private <PrivateUsage> pagefile <PagefileUsage> workingset <bytes> elapsed_ms <ms>
//   mismatch <round> <index> <what happened>     (a job ended unexpectedly)
//   baseline <count> pagefile_growth <bytes>
//   end
// The baseline, before the rounds, is what the platform's client alone costs:
// <count> downloads of <url> straight through WinInet, each with a session and
// a connection of its own, and the growth of the private bytes over them. It
// is measured in a young heap after a few unmeasured downloads: after the
// rounds, the space they freed would hide part of the cost.
#include <windows.h>
#include <psapi.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <wininet.h>

#include "Exceptions.h"
#include "FileStream.h"
#include "TovDownload.h"

namespace {

struct Job {
    std::string kind;  // ok, fail, abort
    DWORD abortAfterMs = 0;
    std::string url;
};

struct AbortLater {
    TTovDownload* engine;
    DWORD ms;
};

DWORD WINAPI AbortThread(LPVOID param) {
    auto* a = static_cast<AbortLater*>(param);
    ::Sleep(a->ms);
    a->engine->Abort();
    return 0;
}

std::string OneLine(std::string s) {
    for (char& c : s)
        if (c == '\r' || c == '\n' || c == '\t') c = ' ';
    return s;
}

// The handles the process holds, from the system's list of all handles.
// (GetProcessHandleCount is printed too, but Wine 8 reports 0 there.)
struct HandleEntry {  // SYSTEM_HANDLE_TABLE_ENTRY_INFO_EX
    PVOID Object;
    ULONG_PTR UniqueProcessId;
    ULONG_PTR HandleValue;
    ULONG GrantedAccess;
    USHORT CreatorBackTraceIndex;
    USHORT ObjectTypeIndex;
    ULONG HandleAttributes;
    ULONG Reserved;
};
struct HandleList {  // SYSTEM_HANDLE_INFORMATION_EX
    ULONG_PTR Count;
    ULONG_PTR Reserved;
    HandleEntry Handles[1];
};
const ULONG SystemExtendedHandleInformation = 64;
const LONG StatusInfoLengthMismatch = static_cast<LONG>(0xC0000004);
typedef LONG(NTAPI* QuerySystemInformation)(ULONG, PVOID, ULONG, PULONG);

long CountOwnHandles() {
    static auto query = reinterpret_cast<QuerySystemInformation>(reinterpret_cast<void*>(
        ::GetProcAddress(::GetModuleHandleA("ntdll.dll"), "NtQuerySystemInformation")));
    static std::vector<char> buffer(1 << 20);
    if (!query) return -1;
    for (int tries = 0; tries < 8; ++tries) {
        ULONG length = 0;
        LONG status = query(SystemExtendedHandleInformation, buffer.data(), static_cast<ULONG>(buffer.size()),
                            &length);
        if (status == StatusInfoLengthMismatch) {
            buffer.resize(buffer.size() * 2);
            continue;
        }
        if (status != 0) return -1;
        const auto* list = reinterpret_cast<const HandleList*>(buffer.data());
        const ULONG_PTR self = ::GetCurrentProcessId();
        long n = 0;
        for (ULONG_PTR i = 0; i < list->Count; ++i)
            if (list->Handles[i].UniqueProcessId == self) ++n;
        return n;
    }
    return -1;
}

void PrintCounters(int round, DWORD elapsed) {
    DWORD handleCount = 0;
    ::GetProcessHandleCount(::GetCurrentProcess(), &handleCount);
    PROCESS_MEMORY_COUNTERS_EX pmc = {};
    pmc.cb = sizeof pmc;
    ::K32GetProcessMemoryInfo(::GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&pmc),
                              sizeof pmc);
    std::printf("round %d handles %ld handle_count %lu private %lu pagefile %lu workingset %lu elapsed_ms %lu\n",
                round, CountOwnHandles(), handleCount, static_cast<unsigned long>(pmc.PrivateUsage),
                static_cast<unsigned long>(pmc.PagefileUsage), static_cast<unsigned long>(pmc.WorkingSetSize),
                elapsed);
    std::fflush(stdout);
}

int64_t Pagefile() {
    PROCESS_MEMORY_COUNTERS pmc = {};
    pmc.cb = sizeof pmc;
    return ::K32GetProcessMemoryInfo(::GetCurrentProcess(), &pmc, sizeof pmc) ? static_cast<int64_t>(pmc.PagefileUsage)
                                                                              : 0;
}

// What the client alone costs per download, without the engine.
int64_t Baseline(int count, const std::string& url) {
    const int warmUp = 5;
    int64_t before = Pagefile();
    for (int i = -warmUp; i < count; ++i) {
        if (i == 0) before = Pagefile();
        HINTERNET session = ::InternetOpenA("TovInstaller/1.1", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
        if (!session) continue;
        HINTERNET request = ::InternetOpenUrlA(session, url.c_str(), nullptr, 0, 0xC0A00, 0);
        if (request) {
            char block[4096];
            for (;;) {
                INTERNET_BUFFERSA buffers = {};
                buffers.dwStructSize = sizeof buffers;
                buffers.lpvBuffer = block;
                buffers.dwBufferLength = sizeof block;
                if (!::InternetReadFileExA(request, &buffers, IRF_SYNC | IRF_NO_WAIT, 0) ||
                    buffers.dwBufferLength == 0)
                    break;
            }
            ::InternetCloseHandle(request);
        }
        ::InternetCloseHandle(session);
    }
    return Pagefile() - before;
}

// One download as the program's worker does it: a new file, a new engine.
// Returns what happened: "ok", "error" or "aborted".
std::string RunJob(const Job& job, const std::string& path, int64_t& bytes, std::string& message) {
    bytes = 0;
    message.clear();
    HANDLE file = ::CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        message = "cannot create " + path;
        return "error";
    }
    TFileStream stream(file);
    TTovDownload engine("TovInstaller/1.1", 1);
    AbortLater later{&engine, job.abortAfterMs};
    HANDLE aborter = nullptr;
    if (job.kind == "abort") aborter = ::CreateThread(nullptr, 0, AbortThread, &later, 0, nullptr);
    std::string outcome = "ok";
    try {
        engine.Download(job.url, stream);
    } catch (const Exception& e) {
        outcome = "error";
        message = e.Message();
    }
    if (aborter) {
        ::WaitForSingleObject(aborter, INFINITE);
        ::CloseHandle(aborter);
    }
    if (engine.Aborted) outcome = "aborted";
    bytes = stream.Size();
    return outcome;
}

}  // namespace

int main(int argc, char** argv) {
    int rounds = 1;
    std::string out;
    std::vector<Job> jobs;
    int baselineCount = 0;
    std::string baselineUrl;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "--baseline" && i + 2 < argc) {
            baselineCount = std::atoi(argv[++i]);
            baselineUrl = argv[++i];
        } else if (a == "--rounds" && i + 1 < argc) {
            rounds = std::atoi(argv[++i]);
        } else if (a == "--out" && i + 1 < argc) {
            out = argv[++i];
        } else if (a == "--job" && i + 1 < argc) {
            std::string text = argv[++i];
            Job job;
            size_t colon = text.find(':');
            job.kind = text.substr(0, colon);
            std::string rest = colon == std::string::npos ? "" : text.substr(colon + 1);
            if (job.kind == "abort") {
                size_t c2 = rest.find(':');
                job.abortAfterMs = static_cast<DWORD>(std::strtoul(rest.substr(0, c2).c_str(), nullptr, 10));
                rest = c2 == std::string::npos ? "" : rest.substr(c2 + 1);
            }
            job.url = rest;
            if ((job.kind != "ok" && job.kind != "fail" && job.kind != "abort") || job.url.empty()) {
                std::fprintf(stderr, "bad job %s\n", text.c_str());
                return 2;
            }
            jobs.push_back(job);
        } else {
            std::fprintf(stderr, "usage: soak --rounds N --out <folder> --job <kind>:<url>...\n");
            return 2;
        }
    }
    if (jobs.empty() || out.empty() || rounds < 1 || rounds > 1000) return 2;

    if (baselineCount > 0)
        std::printf("baseline %d pagefile_growth %lld\n", baselineCount,
                    static_cast<long long>(Baseline(baselineCount, baselineUrl)));
    PrintCounters(0, 0);
    int mismatches = 0;
    for (int r = 1; r <= rounds; ++r) {
        DWORD start = ::GetTickCount();
        for (size_t j = 0; j < jobs.size(); ++j) {
            int64_t bytes = 0;
            std::string message;
            const std::string path = out + "\\soak-" + std::to_string(j) + ".bin";
            std::string outcome = RunJob(jobs[j], path, bytes, message);
            const std::string& kind = jobs[j].kind;
            const bool expected = (kind == "ok" && outcome == "ok") || (kind == "fail" && outcome == "error") ||
                                  (kind == "abort" && outcome == "aborted");
            std::printf("job %d %u %s %s %lld %s\n", r, static_cast<unsigned>(j), kind.c_str(), outcome.c_str(),
                        static_cast<long long>(bytes), OneLine(message).c_str());
            if (!expected) {
                ++mismatches;
                std::printf("mismatch %d %u %s\n", r, static_cast<unsigned>(j), outcome.c_str());
            }
            ::DeleteFileA(path.c_str());
        }
        PrintCounters(r, ::GetTickCount() - start);
    }
    std::printf("end\n");
    return mismatches == 0 ? 0 : 1;
}
