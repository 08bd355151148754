// Keeps the benchmark's Wine prefix awake: while one program of the prefix
// runs, its service processes and desktop stay up, so every measured run
// finds them running, as a Windows machine would, instead of paying for
// their start in some runs and not in others.
//   idle <milliseconds>   (at most one hour)
#include <windows.h>

#include <cstdlib>

#include "benchutil.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    const auto args = bench::Arguments();
    unsigned long ms = args.size() > 1 ? std::strtoul(args[1].c_str(), nullptr, 10) : 60000;
    if (ms > 3600000) ms = 3600000;
    ::Sleep(ms);
    return 0;
}
