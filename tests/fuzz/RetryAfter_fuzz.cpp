// libFuzzer target: Retry-After never faults nor names a wait below 0 or
// beyond a day, and a count of seconds reads back as itself.
#include <cstdlib>
#include <string>

#include "Resume.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    int64_t ms = -1, again = -1;
    if (!ParseRetryAfter(std::string(reinterpret_cast<const char*>(data), size), 784111777, ms)) return 0;
    if (ms < 0 || ms > 86400000 || (ms < 86400000 && (!ParseRetryAfter(std::to_string(ms / 1000), 0, again) || again != ms)))
        std::abort();
    return 0;
}
