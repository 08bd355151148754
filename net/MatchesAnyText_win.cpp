#ifdef _WIN32
#include <windows.h>

#include <climits>
#include <cstring>

#include "iTovInetUtils.h"

bool MatchesAnyText(const std::string& text, const char* const* list, size_t count) {
    // No entry is anywhere near this long; the guard keeps the length an int.
    if (text.size() > static_cast<size_t>(INT_MAX)) return false;
    const int length = static_cast<int>(text.size());
    for (size_t i = 0; i < count; ++i) {
        // Each side with its own length, so only whole texts match.
        const int entryLength = static_cast<int>(std::strlen(list[i]));
        if (CompareStringA(LOCALE_USER_DEFAULT, NORM_IGNORECASE, text.data(), length, list[i],
                           entryLength) == CSTR_EQUAL)
            return true;
    }
    return false;
}
#endif
