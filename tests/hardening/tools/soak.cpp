// Runs the download engine many times in one process and reports, after each
// round, how many handles the process holds and how much private memory it
// uses, so a test can see that both come back once a round is over.
//
//   soak --rounds N --out <folder> --job <kind>:<url> [--job ...]
//
// kinds: ok (must succeed), fail (must raise), abort:<ms> (Abort from a second
// thread after <ms>; must end aborted). Every round runs every job once, each
// with a new engine and a new file stream, as one run of the program does.
// Output, one line each:
//   job <round> <index> <kind> <ok|error|aborted> <bytes> <message>
//   round <n> handles <count> private <bytes> elapsed_ms <ms>
//   mismatch <round> <index> <what happened>     (a job ended unexpectedly)
//   end
#include <windows.h>
#include <psapi.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

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

void Counters(DWORD& handles, SIZE_T& privateBytes) {
    handles = 0;
    ::GetProcessHandleCount(::GetCurrentProcess(), &handles);
    PROCESS_MEMORY_COUNTERS_EX pmc = {};
    pmc.cb = sizeof pmc;
    privateBytes = ::K32GetProcessMemoryInfo(::GetCurrentProcess(),
                                             reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&pmc), sizeof pmc)
                       ? pmc.PrivateUsage
                       : 0;
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
    TTovDownload engine("TovInstaller/1.1");
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
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "--rounds" && i + 1 < argc) {
            rounds = std::atoi(argv[++i]);
        } else if (a == "--out" && i + 1 < argc) {
            out = argv[++i];
        } else if (a == "--job" && i + 1 < argc) {
            std::string spec = argv[++i];
            Job job;
            size_t colon = spec.find(':');
            job.kind = spec.substr(0, colon);
            std::string rest = colon == std::string::npos ? "" : spec.substr(colon + 1);
            if (job.kind == "abort") {
                size_t c2 = rest.find(':');
                job.abortAfterMs = static_cast<DWORD>(std::strtoul(rest.substr(0, c2).c_str(), nullptr, 10));
                rest = c2 == std::string::npos ? "" : rest.substr(c2 + 1);
            }
            job.url = rest;
            if ((job.kind != "ok" && job.kind != "fail" && job.kind != "abort") || job.url.empty()) {
                std::fprintf(stderr, "bad job %s\n", spec.c_str());
                return 2;
            }
            jobs.push_back(job);
        } else {
            std::fprintf(stderr, "usage: soak --rounds N --out <folder> --job <kind>:<url>...\n");
            return 2;
        }
    }
    if (jobs.empty() || out.empty() || rounds < 1 || rounds > 1000) return 2;

    DWORD handles = 0;
    SIZE_T privateBytes = 0;
    Counters(handles, privateBytes);
    std::printf("round 0 handles %lu private %lu elapsed_ms 0\n", handles,
                static_cast<unsigned long>(privateBytes));
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
        Counters(handles, privateBytes);
        std::printf("round %d handles %lu private %lu elapsed_ms %lu\n", r, handles,
                    static_cast<unsigned long>(privateBytes), ::GetTickCount() - start);
        std::fflush(stdout);
    }
    std::printf("end\n");
    return mismatches == 0 ? 0 : 1;
}
