// libFuzzer target: Retry-After never faults, never names a negative wait or
// one beyond a day, and a number of seconds reads back as itself.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "Resume.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    int64_t ms = -1;
    if (!ParseRetryAfter(text, 784111777, ms)) return 0;
    if (ms < 0 || ms > 86400000 || ms % 1000 != 0) std::abort();
    int64_t again = -1;
    if (ms < 86400000 && (!ParseRetryAfter(std::to_string(ms / 1000), 0, again) || again != ms)) std::abort();
    return 0;
}
