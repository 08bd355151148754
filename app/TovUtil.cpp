#include "TovUtil.h"

#include "Format.h"

std::string VersionTextOf(uint32_t fileVersionMS) {
    return Format("%d.%d", {static_cast<unsigned>(fileVersionMS >> 16),
                            static_cast<unsigned>(fileVersionMS & 0xFFFFu)});
}

bool IsInstallSuccess(uint32_t exitCode) { return exitCode == 0 || exitCode == 3010 || exitCode == 1641; }

namespace {

const char HexDigits[] = "0123456789abcdef";

char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

}  // namespace

std::string OwnFolderName(const std::string& prefix, const unsigned char* random) {
    std::string name = prefix;
    for (size_t i = 0; i < OwnFolderRandomBytes; ++i) {
        name += HexDigits[random[i] >> 4];
        name += HexDigits[random[i] & 15];
    }
    return name;
}

bool IsOwnFolderName(const std::string& name, const std::string& prefix) {
    if (name.size() != prefix.size() + 2 * OwnFolderRandomBytes) return false;
    for (size_t i = 0; i < name.size(); ++i) {
        const char c = Lower(name[i]);
        if (i < prefix.size() ? c != Lower(prefix[i]) : !((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f')))
            return false;
    }
    return true;
}
