#include "SystemError.h"

size_t TrimmedMessageLength(const char* text, size_t length) {
    while (length > 0) {
        const unsigned char last = static_cast<unsigned char>(text[length - 1]);
        if (last >= '!' && last != '.') break;
        --length;
    }
    return length;
}
