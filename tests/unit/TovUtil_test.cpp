#include "TovUtil.h"

#include <gtest/gtest.h>

namespace {

TEST(TovUtil, OwnFolderNames) {
    const unsigned char random[OwnFolderRandomBytes] = {0x00, 0x01, 0x7f, 0x80, 0xab, 0xcd, 0xef, 0xff,
                                                       0x10, 0x20, 0x30, 0x40, 0x50, 0x60, 0x70, 0x90};
    const std::string made = OwnFolderName("Quillet_2024_", random);
    EXPECT_EQ(made, "Quillet_2024_00017f80abcdefff1020304050607090");
    EXPECT_TRUE(IsOwnFolderName(made, "Quillet_2024_"));

    struct Row {
        const char* name;
        bool own;
    } rows[] = {
        {"QUILLET_2024_00017F80ABCDEFFF1020304050607090", true},  // names are not case-sensitive
        {"Quillet_2025_00017f80abcdefff1020304050607090", false},  // another year's
        {"Quillet_2024_00017f80abcdefff102030405060709", false},   // a digit short
        {"Quillet_2024_00017f80abcdefff10203040506070900", false}, // one too many
        {"Quillet_2024_00017f80abcdefff102030405060709g", false},  // not hexadecimal
        {"Quillet_2024_Setup.exe", false},                         // the installer's own name
        {"Quillet_2024_", false},
        {"", false},
    };
    for (const Row& r : rows) EXPECT_EQ(IsOwnFolderName(r.name, "Quillet_2024_"), r.own) << r.name;
}

TEST(TovUtil, InstallSuccessCodes) {
    for (uint32_t code : {0u, 3010u, 1641u}) EXPECT_TRUE(IsInstallSuccess(code)) << code;
    for (uint32_t code : {1u, 3u, 999u, 1602u, 3011u, 0xC0000135u}) EXPECT_FALSE(IsInstallSuccess(code)) << code;
}

TEST(TovUtil, StartFailures) {
    const struct { uint32_t code, msSinceDownload; TStartFailure next; } rows[] = {
        {1223, 0, TStartFailure::AskAgain},       // the elevation prompt declined
        {1223, 600000, TStartFailure::AskAgain},  // however long after the download
        {5, 0, TStartFailure::TryAgain},          // a scanner still reads the new file
        {32, 9999, TStartFailure::TryAgain},
        {5, 10000, TStartFailure::Tell},          // still refused after ten seconds
        {32, 0xFFFFFFFFu, TStartFailure::Tell},
        {193, 0, TStartFailure::Tell},            // not a program
    };
    for (const auto& r : rows)
        EXPECT_EQ(OnStartFailure(r.code, r.msSinceDownload), r.next) << r.code << " after " << r.msSinceDownload;
}

TEST(TovUtil, OwnFolderDescriptors) {
    // Protected, inherited: what Wine's reading of the folder cannot show.
    const std::string dacl = "O:S-1-5-21-1D:P(A;OICI;FA;;;S-1-5-21-1)(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)";
    EXPECT_EQ(OwnFolderSddl("S-1-5-21-1", false), dacl);
    EXPECT_EQ(OwnFolderSddl("S-1-5-21-1", true), dacl + "S:(ML;OICI;NW;;;HI)");
}

}  // namespace
