#include "iTovInetUtils.h"

#include <limits>

#include "Exceptions.h"

namespace {

// A fixed set of byte values; bytes from 0x80 up belong to none of ours.
struct CharSet {
    uint64_t bits[4];

    constexpr bool Has(unsigned char c) const { return (bits[c >> 6] >> (c & 63)) & 1u; }
};

struct ByteRange {
    unsigned char first, last;
};

template <size_t N>
constexpr CharSet MakeSet(const ByteRange (&ranges)[N]) {
    CharSet set{};
    for (const ByteRange& r : ranges)
        for (unsigned c = r.first; c <= r.last; ++c) set.bits[c >> 6] |= uint64_t{1} << (c & 63);
    return set;
}

constexpr size_t MemberCount(const CharSet& set) {
    size_t n = 0;
    for (unsigned c = 0; c < 256; ++c) n += set.Has(static_cast<unsigned char>(c)) ? 1 : 0;
    return n;
}

// Not the HTTP token class: the space belongs to it and the full stop does not.
constexpr ByteRange TokenRanges[] = {
    {0x20, 0x21}, {0x23, 0x27}, {0x2A, 0x2B}, {0x2D, 0x2D},
    {0x30, 0x39}, {0x41, 0x5A}, {0x5E, 0x7E},
};
constexpr ByteRange QuotedTextRanges[] = {{0x00, 0x0C}, {0x0E, 0x21}, {0x23, 0x5B}, {0x5D, 0x7F}};
constexpr ByteRange QuotedPairRanges[] = {{0x00, 0x7F}};
constexpr ByteRange ForbiddenRanges[] = {
    {0x00, 0x1F}, {'"', '"'}, {'*', '*'}, {'/', '/'}, {':', ':'},
    {'<', '<'},   {'>', '>'}, {'?', '?'}, {'\\', '\\'}, {'|', '|'},
};

constexpr CharSet TokenChars = MakeSet(TokenRanges);
constexpr CharSet QuotedTextChars = MakeSet(QuotedTextRanges);
constexpr CharSet QuotedPairChars = MakeSet(QuotedPairRanges);
constexpr CharSet ForbiddenFileNameChars = MakeSet(ForbiddenRanges);

static_assert(MemberCount(TokenChars) == 79, "TokenChars");
static_assert(MemberCount(QuotedTextChars) == 125, "QuotedTextChars");
static_assert(MemberCount(QuotedPairChars) == 128, "QuotedPairChars");
static_assert(MemberCount(ForbiddenFileNameChars) == 41, "ForbiddenFileNameChars");

char AsciiLower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool EqualsIgnoringAsciiCase(const char* a, const char* b, size_t length) {
    for (size_t i = 0; i < length; ++i)
        if (AsciiLower(a[i]) != AsciiLower(b[i])) return false;
    return true;
}

// One parse of a Content-Disposition value. All recognizers share the one
// position and never put anything back, so a failed alternative can leave the
// position moved. Every loop below only repeats after consuming input.
class ContentDispositionParser {
public:
    explicit ContentDispositionParser(const std::string& value) : value_(value) {}

    std::string FileName() {
        std::string result, type, name, parameter;
        bool ok = ParseToken(type);  // the disposition type is not looked at
        while (ok && AcceptText(";")) {
            ok = ParseToken(name) && AcceptText("=") &&
                 (ParseQuotedString(parameter) || ParseToken(parameter));
            if (ok && name.size() == 8 && EqualsIgnoringAsciiCase(name.data(), "filename", 8))
                result = parameter;
        }
        return result;
    }

private:
    bool AtEnd() const { return pos_ >= value_.size(); }

    bool AcceptChar(const CharSet& set, std::string& output) {
        if (AtEnd() || !set.Has(static_cast<unsigned char>(value_[pos_]))) return false;
        output += value_[pos_++];
        return true;
    }

    template <size_t N>
    bool AcceptText(const char (&literal)[N]) {
        const size_t length = N - 1;
        if (value_.size() - pos_ < length ||
            !EqualsIgnoringAsciiCase(value_.data() + pos_, literal, length))
            return false;
        pos_ += length;
        return true;
    }

    void SkipWhitespace() {
        while (AcceptText("\t") || AcceptText(" ") || AcceptText("\r\n")) {
        }
    }

    bool FoldedSpace(std::string& output) {
        if (!(AcceptText("\r\n\t") || AcceptText("\r\n ") || AcceptText("\t") || AcceptText(" ")))
            return false;
        output += ' ';
        SkipWhitespace();
        return true;
    }

    bool ParseToken(std::string& output) {
        output.clear();
        SkipWhitespace();
        const bool taken = AcceptChar(TokenChars, output);
        while (AcceptChar(TokenChars, output)) {
        }
        SkipWhitespace();
        return taken;
    }

    bool ParseQuotedString(std::string& output) {
        output.clear();
        SkipWhitespace();
        if (!AcceptText("\"")) return false;
        // A backslash is taken even when no pair character follows it; the
        // closing-quote test then looks at what comes after the backslash.
        while (AcceptChar(QuotedTextChars, output) || FoldedSpace(output) ||
               (AcceptText("\\") && AcceptChar(QuotedPairChars, output))) {
        }
        if (!AcceptText("\"")) return false;
        SkipWhitespace();
        return true;
    }

    const std::string& value_;
    size_t pos_ = 0;
};

// A name of only full stops and blanks names the folder itself (or its
// parent) once Windows drops the trailing ones.
bool OnlyDotsAndSpaces(const std::string& name) {
    return name.find_first_not_of(". ") == std::string::npos;
}

int DigitValue(char c, unsigned base) {
    if (c >= '0' && c <= '9') return c - '0';
    if (base == 16 && c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (base == 16 && c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

int64_t Signed(uint64_t magnitude, bool negative) {
    if (!negative) return static_cast<int64_t>(magnitude);
    // magnitude is at most 2^63 here, and -2^63 has no positive counterpart.
    return magnitude == 0 ? 0 : -static_cast<int64_t>(magnitude - 1) - 1;
}

}  // namespace

const char* const ReservedDeviceNames[6] = {"CON", "PRN", "AUX", "NUL", "COM", "LPT"};

bool TextToInt64(const std::string& text, int64_t& value) {
    const size_t n = text.size();
    size_t i = 0;
    while (i < n && (text[i] == ' ' || text[i] == '\t')) ++i;

    bool negative = false;
    if (i < n && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';

    unsigned base = 10;
    if (i < n && (text[i] == '$' || text[i] == 'x' || text[i] == 'X')) {
        base = 16;
        ++i;
    } else if (n - i >= 2 && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
        base = 16;
        i += 2;
    }

    // The magnitude limit depends on the sign, so "-$8000000000000000" fits
    // while "$FFFFFFFFFFFFFFFF" does not: it would only fit as unsigned.
    const uint64_t limit = static_cast<uint64_t>(std::numeric_limits<int64_t>::max()) + (negative ? 1 : 0);
    uint64_t magnitude = 0;
    bool anyDigit = false;
    for (; i < n; ++i) {
        const int digit = DigitValue(text[i], base);
        if (digit < 0) break;
        // A digit that would overflow fails like any other bad character: the
        // value keeps what the digits before it gave.
        if (magnitude > (limit - static_cast<unsigned>(digit)) / base) break;
        magnitude = magnitude * base + static_cast<unsigned>(digit);
        anyDigit = true;
    }
    value = Signed(magnitude, negative);
    return anyDigit && i == n;
}

std::string ParseContentDisposition(const std::string& value) {
    return ContentDispositionParser(value).FileName();
}

void SanitizeFileName(std::string& name) {
    for (char& c : name)
        if (ForbiddenFileNameChars.Has(static_cast<unsigned char>(c))) c = '_';

    if (!name.empty() && (name.back() == ' ' || name.back() == '.')) name.pop_back();
    if (OnlyDotsAndSpaces(name)) {
        name.clear();
        return;
    }

    const size_t lastDot = name.rfind('.');
    std::string base = lastDot == std::string::npos ? name : name.substr(0, lastDot);
    if (!base.empty() && base.back() >= '0' && base.back() <= '9') base.pop_back();
    if (MatchesAnyText(base, ReservedDeviceNames, 6)) name.insert(0, 1, '_');
}

#ifndef _WIN32
bool MatchesAnyText(const std::string& text, const char* const* list, size_t count) {
    for (size_t i = 0; i < count; ++i) {
        const std::string entry = list[i];
        if (entry.size() == text.size() && EqualsIgnoringAsciiCase(text.data(), entry.data(), text.size()))
            return true;
    }
    return false;
}
#endif

uint32_t CheckedHeaderNumber(uint32_t raw) {
    if (raw & 0x80000000u) throw ERangeError();
    return raw;
}
