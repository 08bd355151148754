#include "Format.h"

#include <cstring>

#include "Exceptions.h"

namespace {

[[noreturn]] void BadFormat(const char* format) {
    std::string message = "Format '";
    message += format;
    message += "' invalid or incompatible with argument";
    throw EConvertError(message);
}

// Reads an unsigned decimal number at p; returns false when none is there.
bool ReadNumber(const char*& p, size_t& out) {
    if (*p < '0' || *p > '9') return false;
    size_t n = 0;
    while (*p >= '0' && *p <= '9') {
        if (n > 100000) return false;  // absurd widths are treated as malformed
        n = n * 10 + static_cast<size_t>(*p - '0');
        ++p;
    }
    out = n;
    return true;
}

void AppendDigits(std::string& out, unsigned long long v, unsigned base) {
    char buf[32];
    int i = 0;
    do {
        unsigned d = static_cast<unsigned>(v % base);
        buf[i++] = static_cast<char>(d < 10 ? '0' + d : 'A' + d - 10);
        v /= base;
    } while (v != 0);
    while (i > 0) out += buf[--i];
}

}  // namespace

std::string Format(const char* format, std::initializer_list<FormatArg> args) {
    std::string out;
    const FormatArg* argv = args.begin();
    const size_t argc = args.size();
    size_t next = 0;

    for (const char* p = format; *p;) {
        if (*p != '%') {
            const char* q = std::strchr(p, '%');
            size_t n = q ? static_cast<size_t>(q - p) : std::strlen(p);
            out.append(p, n);
            p += n;
            continue;
        }
        ++p;
        if (*p == '%') {
            out += '%';
            ++p;
            continue;
        }

        // An index ends in a colon; otherwise the number read is the width.
        size_t index = next;
        size_t number = 0;
        bool left = false;
        bool haveWidth = false;
        size_t width = 0;
        if (ReadNumber(p, number)) {
            if (*p == ':') {
                index = number;
                ++p;
            } else {
                haveWidth = true;
                width = number;
            }
        }
        if (!haveWidth) {
            if (*p == '-') {
                left = true;
                ++p;
            }
            haveWidth = ReadNumber(p, width);
        }
        bool havePrecision = false;
        size_t precision = 0;
        if (*p == '.') {
            ++p;
            if (!ReadNumber(p, precision)) BadFormat(format);
            havePrecision = true;
        }

        char type = *p;
        if (type >= 'A' && type <= 'Z') type = static_cast<char>(type - 'A' + 'a');
        if (type == '\0') BadFormat(format);
        ++p;
        if (index >= argc) BadFormat(format);
        const FormatArg& arg = argv[index];
        next = index + 1;

        std::string field;
        switch (type) {
        case 'd':
        case 'u':
        case 'x': {
            unsigned long long magnitude;
            bool negative = false;
            if (arg.kind() == FormatArg::Kind::Int) {
                long long v = arg.asInt();
                if (type == 'd') {
                    negative = v < 0;
                    magnitude = negative ? 0ULL - static_cast<unsigned long long>(v)
                                         : static_cast<unsigned long long>(v);
                } else {
                    // Unsigned views of a signed value keep its 32-bit width
                    // when it fits, as the platform's integers do.
                    magnitude = (v >= INT32_MIN && v <= INT32_MAX)
                                    ? static_cast<unsigned long long>(static_cast<uint32_t>(v))
                                    : static_cast<unsigned long long>(v);
                }
            } else if (arg.kind() == FormatArg::Kind::UInt) {
                magnitude = arg.asUInt();
            } else {
                BadFormat(format);
            }
            std::string digits;
            AppendDigits(digits, magnitude, type == 'x' ? 16 : 10);
            if (havePrecision && digits.size() < precision)
                digits.insert(0, precision - digits.size(), '0');
            if (negative) field += '-';
            field += digits;
            break;
        }
        case 's': {
            if (arg.kind() != FormatArg::Kind::Text) BadFormat(format);
            size_t n = arg.length();
            if (havePrecision && precision < n) n = precision;
            field.assign(arg.text(), n);
            break;
        }
        default:
            BadFormat(format);
        }

        if (haveWidth && field.size() < width) {
            if (left)
                field.append(width - field.size(), ' ');
            else
                field.insert(0, width - field.size(), ' ');
        }
        out += field;
    }
    return out;
}

std::string Format(const std::string& format, std::initializer_list<FormatArg> args) {
    return Format(format.c_str(), args);
}
