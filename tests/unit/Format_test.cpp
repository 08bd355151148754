#include "Format.h"

#include <gtest/gtest.h>

#include "Exceptions.h"

namespace {

struct Row {
    const char* format;
    std::string expected;
};

TEST(Format, DirectivesTable) {
    const std::string s = "abc";
    const Row rows[] = {
        {"plain", "plain"},
        {"%s", "abc"},
        {"[%0s]", "[abc]"},            // width 0: no filling
        {"[%5s]", "[  abc]"},
        {"[%-5s]|", "[abc  ]|"},
        {"[%.2s]", "[ab]"},
        {"%1:d", "-42"},
        {"%1:u", "4294967254"},          // a negative 32-bit value read as unsigned
        {"%1:x", "FFFFFFD6"},
        {"%%d", "%d"},
        {"%1:.5d", "-00042"},
        {"%2:d %0:s %d", "7 abc -42"}, // an index, then the next argument after it
        {"%1:d %d", "-42 7"},
        {"%s %d %d", "abc -42 7"},
    };
    for (const Row& r : rows) {
        EXPECT_EQ(Format(r.format, {s, -42, 7}), r.expected) << r.format;
    }
}

TEST(Format, SuffixFormsOfTheProgressLine) {
    EXPECT_EQ(Format(" (%0s/s)   %2:d seconds remaining", {"50.0 KB", 1, 39}),
              " (50.0 KB/s)   39 seconds remaining");
    EXPECT_EQ(Format(" (%0s/s)   1 minute %2:d seconds remaining", {"1 KB", 1, 0}),
              " (1 KB/s)   1 minute 0 seconds remaining");
    EXPECT_EQ(Format(" (%0s/s)   %1:d minutes remaining", {"x", 2, 59}),
              " (x/s)   2 minutes remaining");
}

TEST(Format, SixtyFourBitAndUnsignedArguments) {
    EXPECT_EQ(Format("%d of %d", {static_cast<long long>(6442450944LL), 4294967296LL}),
              "6442450944 of 4294967296");
    EXPECT_EQ(Format("ERROR - RETURN = %u", {0xC0000005u}), "ERROR - RETURN = 3221225477");
    EXPECT_EQ(Format("%d", {static_cast<long long>(INT64_MIN)}), "-9223372036854775808");
}

TEST(Format, BadDirectivesRaise) {
    const char* bad[] = {"%", "%q", "%3:d", "%s %s", "%d", "%.s"};
    for (const char* f : bad) {
        EXPECT_THROW(Format(f, {"only text"}), EConvertError) << f;
    }
    // A text argument where a number is wanted, and the other way round.
    EXPECT_THROW(Format("%d", {"x"}), EConvertError);
    EXPECT_THROW(Format("%s", {1}), EConvertError);
}

}  // namespace
