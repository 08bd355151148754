// libFuzzer target: a Content-Range accepted is ordered and reads back the
// same from its rendering; nothing faults.
#include <cstdlib>
#include <string>

#include "Resume.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    TContentRange r, again;
    if (!ParseContentRange(std::string(reinterpret_cast<const char*>(data), size), r)) return 0;
    const std::string total = r.Total < 0 ? "*" : std::to_string(r.Total);
    const std::string text = r.First < 0 ? "bytes */" + total
                                         : "bytes " + std::to_string(r.First) + "-" + std::to_string(r.Last) + "/" + total;
    if ((r.First >= 0 && (r.Last < r.First || (r.Total >= 0 && r.Last >= r.Total))) ||
        !ParseContentRange(text, again) || again.First != r.First || again.Last != r.Last || again.Total != r.Total)
        std::abort();
    return 0;
}
