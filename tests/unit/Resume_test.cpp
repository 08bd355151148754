#include "Resume.h"

#include <gtest/gtest.h>
#include <iterator>

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
        TContentRange range{7, 7, 7};
        EXPECT_EQ(ParseContentRange(r.text, range), r.ok) << r.text;
        EXPECT_EQ(range.First, r.first) << r.text;
        EXPECT_EQ(range.Last, r.last) << r.text;
        EXPECT_EQ(range.Total, r.total) << r.text;
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

// Which validator If-Range carries is seen end to end (tests/e2e).
TEST(Resume, WhatIsRetried) {
    for (uint32_t code : {12002u, 12007u, 12029u, 12030u, 12031u, 12152u}) EXPECT_TRUE(RetryableError(code)) << code;
    // Trust failures, a handle closed under the call (a cancel).
    for (uint32_t code : {12038u, 12045u, 12057u, 12157u, 12017u}) EXPECT_FALSE(RetryableError(code)) << code;
    for (uint32_t status : {0u, 408u, 429u, 500u, 502u, 503u, 504u}) EXPECT_TRUE(RetryableStatus(status)) << status;
    for (uint32_t status : {206u, 404u, 416u, 501u}) EXPECT_FALSE(RetryableStatus(status)) << status;
}

// Each row is one failed attempt of a run and the wait after it (-1: fail).
TEST(Resume, RetryDecision) {
    const struct { int run; bool retryable, newBytes; uint32_t since; int64_t retryAfter; unsigned max; int64_t wait; } rows[] = {
        {1, true, true, 0, -1, 20, 1000},  // dies at the same byte: four without one
        {1, true, false, 1000, -1, 20, 2000},
        {1, true, false, 3000, -1, 20, 4000},
        {1, true, false, 7000, -1, 20, 8000},
        {1, true, false, 15000, -1, 20, -1},
        {2, true, false, 0, -1, 20, 1000},
        {2, true, true, 1000, -1, 20, 1000},  // a new byte starts the waits again
        {3, false, true, 0, -1, 20, -1},
        {4, true, false, 0, 2500, 20, 2500},  // the server's wait, when longer
        {4, true, false, 2500, 90000, 20, 30000},  // up to 30 s
        {5, true, true, 60000, -1, 20, -1},  // a minute without a new byte
        {6, true, true, 0, -1, 2, 1000},
        {6, true, true, 0, -1, 2, -1},  // attempts in all
    };
    TRetryState state;
    for (size_t i = 0; i < std::size(rows); ++i) {
        const auto& r = rows[i];
        if (i == 0 || rows[i - 1].run != r.run) state = TRetryState();
        EXPECT_EQ(NextRetryWait(state, r.retryable, r.newBytes, r.since, r.retryAfter, r.max), r.wait) << "row " << i;
    }
}

TEST(Resume, RangeAnswer) {
    const struct { uint32_t status; const char* range; int64_t from; TRangeAnswer answer; } rows[] = {
        {206, "bytes 400-999/1000", 400, TRangeAnswer::Append},
        {206, "bytes 0-999/1000", 400, TRangeAnswer::StartOver},    // elsewhere
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
