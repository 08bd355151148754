#include "iTovInetUtils.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <string>

#include "Exceptions.h"
#include "SystemError.h"

namespace {

struct TextRow {
    std::string input;
    std::string expected;
};

TEST(ContentDisposition, FileNameTaken) {
    const TextRow rows[] = {
        {R"(attachment; filename="setup.exe")", "setup.exe"},
        {R"(attachment; filename=setup.exe)", "setup"},  // the full stop is no token character
        {R"(attachment;filename="a.exe"; filename="b.exe")", "b.exe"},
        {R"(attachment; FILENAME="x.exe")", "x.exe"},
        {R"(attachment; filename = "x.exe")", ""},  // the name read is "filename "
        {R"(attachment; filename= "x.exe")", "x.exe"},
        {R"(attachment; size=10; filename="x.exe")", "x.exe"},
        {R"(attachment; foo; filename="x.exe")", ""},
        {R"(; filename="x.exe")", ""},
        {R"(attachment; filename="")", ""},
        {R"(attachment; filename="abc)", ""},
        {R"(attachment; filename=my file ; x=y)", "my file "},
        {R"(a; filename="a\"b.exe")", "a\"b.exe"},
        {"a; filename=\"a\r\n \t b\"", "a b"},
        {"a; filename=\"a\tb c\"", "a\tb c"},
        {"a; filename=\"a\r\nb\"", "b"},  // read again as a token from the CR LF on
        {"a; filename=\"x\\", ""},
        {R"(a; filename="x.exe" junk; filename="y.exe")", "x.exe"},
        {R"(a; filename="x.exe"; filename=)", "x.exe"},
        {"a; filename=\"x\"\t ; filename=\"y\"", "y"},
        {"a\r\n\t;\tfilename=\"x\"", "x"},
    };
    for (const TextRow& r : rows) EXPECT_EQ(ParseContentDisposition(r.input), r.expected) << r.input;
}

// Each byte is put where exactly one set decides whether it is taken, and the
// outcome is compared with the members the character tables list.
TEST(ContentDisposition, CharacterSetsByteByByte) {
    for (int b = 0; b < 256; ++b) {
        const char c = static_cast<char>(b);
        const std::string xcy = std::string("x") + c + "y";
        const bool ascii = b < 0x80;
        const bool inToken = ascii && b >= 0x20 && b != 0x7F && !std::strchr("\"(),./:;<=>?@[\\]", c);
        const bool inText = ascii && b != '\r' && b != '"' && b != '\\';
        const bool isForbidden = b < 0x20 || (ascii && std::strchr("\"*/:<>?\\|", c));

        const bool tookToken = ParseContentDisposition("a;filename=" + xcy) == xcy;
        const bool tookText = ParseContentDisposition("a;filename=\"" + xcy + "\"") == xcy;
        const bool tookPair = ParseContentDisposition("a;filename=\"x\\" + std::string(1, c) + "y\"") == xcy;
        std::string name = xcy;
        SanitizeFileName(name);
        const bool replaced = name == "x_y" && c != '_';

        EXPECT_EQ(tookToken, inToken) << "byte " << b;
        EXPECT_EQ(tookText, inText) << "byte " << b;
        EXPECT_EQ(tookPair, ascii) << "byte " << b;
        EXPECT_EQ(replaced, isForbidden) << "byte " << b;
    }
}

TEST(SanitizeFileName, Table) {
    const TextRow rows[] = {
        {"setup.exe", "setup.exe"},
        {"a<b>.exe", "a_b_.exe"},
        {"report.pdf ", "report.pdf"},
        {"name..", "name."},  // one character only
        {"con.txt", "_con.txt"},
        {"COM1", "_COM1"},
        {"nul.", "_nul"},
        {"Aux", "_Aux"},
        {"CON12", "CON12"},
        {"CON1", "_CON1"},
        {"console.txt", "console.txt"},
        {"aux .txt", "aux .txt"},
        {"PRN.tar.gz", "PRN.tar.gz"},
        {"9", "9"},
        {".exe", ".exe"},
        // Names that would name the folder or its parent come out empty.
        {"..", ""},
        {"...", ""},
        {"  ", ""},
    };
    for (const TextRow& r : rows) {
        std::string name = r.input;
        SanitizeFileName(name);
        EXPECT_EQ(name, r.expected) << r.input;
    }
}

TEST(TextToInt64, Table) {
    const int64_t max = INT64_MAX, min = INT64_MIN;
    const struct {
        const char* text;
        int64_t value;
        bool ok;
    } rows[] = {
        {"1048576", 1048576, true},
        {"12ab", 12, false},
        {"", 0, false},
        {" \t42", 42, true},
        {"12 ", 12, false},
        {"+5", 5, true},
        {"-5", -5, true},
        {"-12ab", -12, false},
        {"-", 0, false},
        {"0", 0, true},
        {"$1F", 31, true},
        {"x1f", 31, true},
        {"X10", 16, true},
        {"0x10", 16, true},
        {"0XaB", 171, true},
        {"-0x10", -16, true},
        {"0x", 0, false},
        {"1F", 1, false},  // hexadecimal digits need their prefix
        {"9223372036854775807", max, true},
        {"-9223372036854775808", min, true},
        {"9223372036854775808", 922337203685477580, false},  // stops before the overflowing digit
        {"-9223372036854775809", -922337203685477580, false},
        {"-$8000000000000000", min, true},
        {"$FFFFFFFFFFFFFFFF", 0x0FFFFFFFFFFFFFFF, false},  // fits only as unsigned
    };
    for (const auto& r : rows) {
        int64_t value = 77;
        EXPECT_EQ(TextToInt64(r.text, value), r.ok) << r.text;
        EXPECT_EQ(value, r.value) << r.text;
    }
}

TEST(TrimmedMessageLength, Table) {
    const TextRow rows[] = {
        {"The operation timed out.\r\n", "The operation timed out"},
        {" . \r\n..", ""},
        {"", ""},
        {"code\x01\t", "code"},
        {"v1.2", "v1.2"},
        {"Done!", "Done!"},
        {"x\xA0", "x\xA0"},  // bytes from 0x80 up are not below '!'
    };
    for (const TextRow& r : rows)
        EXPECT_EQ(TrimmedMessageLength(r.input.data(), r.input.size()), r.expected.size()) << r.input;
}

// Random header values made mostly of the characters the parser cares about.
std::string RandomHeader(std::mt19937& rng) {
    static const char* const pieces[] = {";", "=", "\"", "\\", "\r", "\n", "\t", " ", "\r\n", "\r\n ",
                                         "f", "i", "l", "e", "n", "a", "m", ".", "filename", "attachment"};
    std::string value;
    for (unsigned n = rng() % 24; n > 0; --n)
        value += rng() % 5 == 0 ? std::string(1, static_cast<char>(rng())) : pieces[rng() % 20];
    return value;
}

TEST(ContentDisposition, RandomInputKeepsInvariants) {
    std::mt19937 rng(20240611);
    for (int i = 0; i < 200000; ++i) {
        const std::string header = RandomHeader(rng);
        const std::string taken = ParseContentDisposition(header);
        ASSERT_LE(taken.size(), header.size()) << header;
        for (char c : taken) ASSERT_LT(static_cast<unsigned char>(c), 0x80) << header;

        std::string name = taken;
        SanitizeFileName(name);
        ASSERT_LE(name.size(), taken.size() + 1) << header;
        for (char c : name) {
            const unsigned char b = static_cast<unsigned char>(c);
            ASSERT_TRUE(b >= 0x20 && !std::strchr("\"*/:<>?\\|", c)) << header;
        }
        ASSERT_TRUE(name.empty() || name.find_first_not_of(". ") != std::string::npos) << header;
    }
}

// Any ASCII text comes back unchanged from a quoted value once the quotation
// mark, the backslash and CR are escaped.
TEST(ContentDisposition, QuotedValueRoundTrip) {
    std::mt19937 rng(7);
    for (int i = 0; i < 20000; ++i) {
        std::string text, quoted;
        for (unsigned n = rng() % 16; n > 0; --n) {
            const char c = static_cast<char>(rng() % 0x80);
            text += c;
            if (c == '"' || c == '\\' || c == '\r') quoted += '\\';
            quoted += c;
        }
        ASSERT_EQ(ParseContentDisposition("attachment; filename=\"" + quoted + "\""), text) << quoted;
    }
}

// The status number as the client converts it: the top bit set is a range
// error, never a negative status. (Wine's client saturates such a status line
// to 2147483647 before it gets here, so this is where the check is shown.)
TEST(HeaderNumber, TopBitIsARangeError) {
    const uint32_t fits[] = {0u, 200u, 404u, 2147483647u};
    for (uint32_t v : fits) EXPECT_EQ(CheckedHeaderNumber(v), v);
    const uint32_t tooBig[] = {2147483648u, 3000000000u, 0xFFFFFFFFu};
    for (uint32_t v : tooBig) EXPECT_THROW(CheckedHeaderNumber(v), ERangeError) << v;
}

}  // namespace
