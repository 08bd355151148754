// libFuzzer target: any format string, with a fixed mix of arguments, either
// formats or raises EConvertError; nothing else may happen.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "Exceptions.h"
#include "Format.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 4096) return 0;
    const std::string format(reinterpret_cast<const char*>(data), size);
    try {
        const std::string text = Format(format.c_str(), {"abc", -42, 7u, 1LL << 40, ""});
        // Only a width can make the text longer than the directives; widths
        // are bounded by the parser, so the result stays bounded too.
        if (text.size() > (format.size() + 64) * 100001) std::abort();
    } catch (const EConvertError&) {
    }
    return 0;
}
