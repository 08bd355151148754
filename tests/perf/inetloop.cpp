// The bare WinInet loop the engine is measured against (loop.h), run from
// the entry of a program that makes no window.
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
//   --report FILE one line: ok|error, bytes, reads, timings in ms, notices,
//                 the entry and the loop's steps in counter ticks
#include <windows.h>

#include <string>
#include <vector>

#include "benchutil.h"
#include "loop.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    const long long entry = bench::Ticks();
    const std::vector<std::string> args = bench::Arguments();
    bench::LoopOptions o;
    for (size_t i = 1; i < args.size(); ++i)
        if (!o.Take(args, i)) return 2;
    if (!o.Complete()) return 2;

    const bench::LoopResult r = bench::Loop(o);
    bench::Report(o.download.report,
                  bench::Outcome(r.failure) + " entry=" + std::to_string(entry) + bench::LoopFields(r));
    return r.failure.empty() ? 0 : 1;
}
