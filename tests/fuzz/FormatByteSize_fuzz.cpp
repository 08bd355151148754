// libFuzzer target: any count or rate renders with a unit, a sane length and
// at most one decimal separator.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "ProgTracker.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < sizeof(int64_t)) return 0;
    int64_t count;
    std::memcpy(&count, data, sizeof count);
    // Byte counts and rates are never negative in the program.
    double value = count < 0 ? -static_cast<double>(count + 1) : static_cast<double>(count);
    if (size >= sizeof(int64_t) + 1) value /= 1 + data[sizeof(int64_t)];
    const std::string text = FormatByteSize(value, ',');
    if (text.empty() || text.size() > 40) std::abort();
    if (text.find(" bytes") == std::string::npos && text.find(" KB") == std::string::npos &&
        text.find(" MB") == std::string::npos && text.find(" GB") == std::string::npos &&
        text.find(" TB") == std::string::npos)
        std::abort();
    const char* first = std::strchr(text.c_str(), ',');
    if (first && std::strchr(first + 1, ',')) std::abort();
    return 0;
}
