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

TStartFailure OnStartFailure(uint32_t errorCode, uint32_t msSinceDownload) {
    const uint32_t Cancelled = 1223, AccessDenied = 5, SharingViolation = 32;
    if (errorCode == Cancelled) return TStartFailure::AskAgain;
    if ((errorCode == AccessDenied || errorCode == SharingViolation) && msSinceDownload < StartRetryForMs)
        return TStartFailure::TryAgain;
    return TStartFailure::Tell;
}

std::string OwnFolderSddl(const std::string& userSid, bool elevated) {
    std::string sddl = "O:" + userSid + "D:P(A;OICI;FA;;;" + userSid + ")(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)";
    // High, inherited by what is made inside, and no writing from below it.
    if (elevated) sddl += "S:(ML;OICI;NW;;;HI)";
    return sddl;
}
