#include "TovUtil.h"

#include "Format.h"

std::string VersionTextOf(uint32_t fileVersionMS) {
    return Format("%d.%d", {static_cast<unsigned>(fileVersionMS >> 16),
                            static_cast<unsigned>(fileVersionMS & 0xFFFFu)});
}
