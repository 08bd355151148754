// libFuzzer target: the Content-Length conversion never faults, and a text it
// accepts reads back as the same number through a decimal rendering.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "iTovInetUtils.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    int64_t value = -1;
    const bool ok = TextToInt64(text, value);
    if (ok) {
        int64_t again = -1;
        if (!TextToInt64(std::to_string(value), again) || again != value) std::abort();
    } else if (text.empty() && value != 0) {
        std::abort();
    }
    return 0;
}
