// libFuzzer target: the Content-Range reading never faults, and a range it
// accepts is whole and ordered, and reads back the same from its rendering.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "Resume.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    TContentRange range;
    if (!ParseContentRange(std::string(reinterpret_cast<const char*>(data), size), range)) return 0;
    if (range.First >= 0 && (range.Last < range.First || (range.Total >= 0 && range.Last >= range.Total)))
        std::abort();
    if (range.First < 0 && (range.Last != -1 || range.Total < 0)) std::abort();
    const std::string total = range.Total < 0 ? "*" : std::to_string(range.Total);
    const std::string text = range.First < 0 ? "bytes */" + total
                                             : "bytes " + std::to_string(range.First) + "-" +
                                                   std::to_string(range.Last) + "/" + total;
    TContentRange again;
    if (!ParseContentRange(text, again) || again.First != range.First || again.Last != range.Last ||
        again.Total != range.Total)
        std::abort();
    return 0;
}
