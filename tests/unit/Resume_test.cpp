#include "Resume.h"

#include <gtest/gtest.h>
#include <iterator>
#include <tuple>

namespace {

TEST(Resume, ContentRange) {
    const struct { const char* text; bool ok; int64_t first, last, total; } rows[] = {
        {" BYTES 500-1233/1234 ", true, 500, 1233, 1234},
        {"bytes */1234", true, -1, -1, 1234},
        {"bytes 0-0/*", true, 0, 0, -1},
        {"bytes 4294967296-8589934591/8589934592", true, 4294967296, 8589934591, 8589934592},
        {"bytes 5-4/10", false, -1, -1, -1},   // backwards
        {"bytes 0-10/10", false, -1, -1, -1},  // past the end
        {"bytes 0-1/9223372036854775808", false, -1, -1, -1},
        {"bytes=0-1/2", false, -1, -1, -1},
    };
    for (const auto& r : rows) {
        TContentRange g{7, 7, 7};
        const bool ok = ParseContentRange(r.text, g);
        EXPECT_EQ(std::make_tuple(ok, g.First, g.Last, g.Total), std::make_tuple(r.ok, r.first, r.last, r.total))
            << r.text;
    }
}

TEST(Resume, RetryAfter) {
    const int64_t now = 784111777;  // Sun, 06 Nov 1994 08:49:37 GMT
    const struct { const char* text; bool ok; int64_t ms; } rows[] = {
        {" 5 ", true, 5000},
        {"99999999999999999999", true, 86400000},  // held at a day
        {"Sun, 06 Nov 1994 08:50:07 GMT", true, 30000},
        {"Sunday, 06-Nov-94 08:50:07 GMT", true, 30000},
        {"Sun Nov  6 08:50:07 1994", true, 30000},
        {"Sun, 06 Nov 1994 08:49:00 GMT", true, 0},  // already past
        {"-5", false, -1},
        {"Sun, 32 Nov 1994 08:49:37 GMT", false, -1},
    };
    for (const auto& r : rows) {
        int64_t ms = -1;
        EXPECT_EQ(ParseRetryAfter(r.text, now, ms), r.ok) << r.text;
        EXPECT_EQ(ms, r.ms) << r.text;
    }
}

// Trust failures, a handle closed under the call (a cancel), answers another
// attempt cannot change: final. What is retried is seen end to end (tests/e2e).
TEST(Resume, WhatIsFinal) {
    for (uint32_t code : {12038u, 12045u, 12057u, 12157u, 12017u}) EXPECT_FALSE(RetryableError(code)) << code;
    for (uint32_t status : {206u, 404u, 416u, 501u}) EXPECT_FALSE(RetryableStatus(status)) << status;
}

// Each row is one failed attempt of a run and the wait after it (-1: fail);
// the waits of 1, 2, 4, 8 s then the failure, a server's shorter wait and a
// single attempt are the engine table's rows (tests/e2e).
TEST(Resume, RetryDecision) {
    const struct { int run; bool retryable, newBytes; uint32_t since; int64_t retryAfter, wait; } rows[] = {
        {1, true, false, 0, -1, 1000},
        {1, true, true, 1000, -1, 1000},  // a new byte starts the waits again
        {2, false, true, 0, -1, -1},
        {3, true, false, 0, 90000, 30000},  // the server's wait, up to 30 s
        {4, true, true, 60000, -1, -1},  // a minute without a new byte
    };
    TRetryState state;
    for (size_t i = 0; i < std::size(rows); ++i) {
        const auto& r = rows[i];
        if (i == 0 || rows[i - 1].run != r.run) state = TRetryState();
        EXPECT_EQ(NextRetryWait(state, r.retryable, r.newBytes, r.since, r.retryAfter, 20), r.wait) << "row " << i;
    }
}

TEST(Resume, RangeAnswer) {
    const struct { uint32_t status; const char* range; int64_t from; TRangeAnswer answer; } rows[] = {
        {206, "bytes 400-1999/2000", 400, TRangeAnswer::StartOver},  // another total
        {206, "", 400, TRangeAnswer::StartOver},
        {416, "bytes */1000", 1000, TRangeAnswer::Complete},
        {416, "bytes */900", 400, TRangeAnswer::StartOver},
        {503, "", 400, TRangeAnswer::NotRange},
    };
    for (const auto& r : rows)
        EXPECT_EQ(JudgeRangeAnswer(r.status, r.range, r.from, 1000), r.answer) << r.status << " " << r.range;
}

}  // namespace
