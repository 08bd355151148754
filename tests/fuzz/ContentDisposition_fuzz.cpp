// libFuzzer target: any header value must parse and sanitize without a fault,
// and the result must keep the invariants the unit tests state.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "iTovInetUtils.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string header(reinterpret_cast<const char*>(data), size);
    const std::string taken = ParseContentDisposition(header);
    if (taken.size() > header.size()) std::abort();

    std::string name = taken;
    SanitizeFileName(name);
    if (name.size() > taken.size() + 1) std::abort();
    for (char c : name) {
        const unsigned char b = static_cast<unsigned char>(c);
        if (b < 0x20 || (b < 0x80 && std::strchr("\"*/:<>?\\|", c))) std::abort();
    }
    if (!name.empty() && name.find_first_not_of(". ") == std::string::npos) std::abort();
    return 0;
}
