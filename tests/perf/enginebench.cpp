// The download engine on its own, quietly: TTovDownload into a file stream
// on the installer's temporary file, with callbacks that only count (or, with
// --tracker, feed a progress tracker the way the dialog does, without the
// window), and one line of results at the end.
//
// enginebench [--out PATH] [--agent TEXT] [--tracker] [--attempts N] [--report FILE] <url>
//   --out PATH    file to write; "temp:NAME" is NAME in %TEMP%
//                 (default temp:Quillet_2024_Setup.exe)
//   --tracker     every progress call goes through TProgressTracker: Update,
//                 then the text when it changed, then the percentage
//   --attempts N  requests the download may make (default 1)
//   --report FILE one line: ok|error, bytes, callback counts, timings in ms
#include <windows.h>

#include <string>
#include <vector>

#include "Exceptions.h"
#include "FileStream.h"
#include "ProgTracker.h"
#include "TovDownload.h"
#include "benchutil.h"

namespace {

struct Counter {
    long progressCalls = 0;
    long statusCalls = 0;
    long texts = 0;
    long percents = 0;
    long waits = 0;
    size_t textBytes = 0;
    int64_t received = 0;
    double firstProgress = 0;
    TProgressTracker* tracker = nullptr;

    void Progress(int64_t r, int64_t total) {
        if (progressCalls++ == 0) firstProgress = bench::NowMs();
        received = r;
        if (!tracker || r == 0) return;
        tracker->Update(r, total);
        if (tracker->TextChanged()) {
            textBytes += tracker->GetProgressText().size();
            ++texts;
        }
        if (tracker->PercentChanged()) ++percents;
    }
    void Status(const char*) { ++statusCalls; }
    void Wait(unsigned secondsLeft) { waits += secondsLeft == 0; }
};

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    const std::vector<std::string> args = bench::Arguments();
    bench::DownloadOptions o;
    bool useTracker = false;
    unsigned attempts = 1;
    for (size_t i = 1; i < args.size(); ++i) {
        if (args[i] == "--tracker") useTracker = true;
        else if (args[i] == "--attempts" && i + 1 < args.size()) attempts = std::stoul(args[++i]);
        else if (!o.Take(args, i)) return 2;
    }
    if (o.url.empty()) return 2;

    const std::string path = bench::OutputPath(o.out);
    TProgressTracker tracker;
    Counter counter;
    if (useTracker) counter.tracker = &tracker;
    TTovDownload engine(o.agent, attempts);
    engine.OnProgress = BindProgress<&Counter::Progress>(&counter);
    engine.OnStatus = BindStatus<&Counter::Status>(&counter);
    engine.OnWait = BindWait<&Counter::Wait>(&counter);

    const double t0 = bench::NowMs();
    HANDLE file = o.Open(path);
    if (file == INVALID_HANDLE_VALUE) return 1;
    std::string failure;
    double tEnd = 0;
    {
        TFileStream stream(file);
        try {
            engine.Download(o.url, stream);
        } catch (const Exception& e) {
            failure = std::string(e.ClassName()) + " " + e.Message();
            for (char& c : failure)
                if (c == '\r' || c == '\n') c = ' ';
        }
        tEnd = bench::NowMs();
    }
    const double tClosed = bench::NowMs();

    std::string line = bench::Outcome(failure);
    line += " bytes=" + std::to_string(counter.received) +
            " reads=" + std::to_string(counter.progressCalls) +
            " first_ms=" + bench::Fixed(counter.firstProgress ? counter.firstProgress - t0 : 0) +
            " transfer_ms=" + bench::Fixed(tEnd - t0) + " closed_ms=" + bench::Fixed(tClosed - t0) +
            " notices=" + std::to_string(counter.statusCalls) + " texts=" + std::to_string(counter.texts) +
            " percents=" + std::to_string(counter.percents) + " waits=" + std::to_string(counter.waits);
    bench::Report(o.report, line);
    return failure.empty() ? 0 : 1;
}
