// Another attempt after a download was cut short: the headers a resumption
// rests on, whether another attempt is worth making and when, and what an
// answer to a range request allows. Platform-free.
#pragma once

#include <cstdint>
#include <string>

// "bytes first-last/total" or "bytes */total" (First and Last -1), read as
// text into 64 bits. Total -1 stands for "*" (a length the server does not
// know). False for anything else: a range backwards, or beyond its total.
struct TContentRange {
    int64_t First = -1;
    int64_t Last = -1;
    int64_t Total = -1;
};
bool ParseContentRange(const std::string& text, TContentRange& range);

// Retry-After, as delta seconds or an HTTP date (IMF-fixdate, RFC 850 or
// asctime), against `nowSeconds` (seconds since 1970, UTC). False when the
// text is neither; a date in the past waits 0.
bool ParseRetryAfter(const std::string& text, int64_t nowSeconds, int64_t& waitMs);

// What If-Range may carry: a strong ETag, else the Last-Modified date, as the
// server wrote them; empty when neither is usable (a weak ETag never is).
std::string ResumeValidator(const std::string& etag, const std::string& lastModified);

// Failures another attempt may cure: a connection lost, refused or never
// made, a name not resolved, an answer that is not one, a time-out. Trust
// failures and the rest are final.
bool RetryableError(uint32_t code);
// 408, 429, 500, 502, 503, 504, and 0 (a connection closed before any
// status line, as one client reports it).
bool RetryableStatus(uint32_t status);

// How long the engine waits for a new byte across attempts, and how many
// attempts in a row may bring none.
const uint32_t NoNewByteLimitMs = 60000;
const unsigned FruitlessLimit = 4;
const int64_t RetryAfterCapMs = 30000;

struct TRetryState {
    unsigned Attempts = 0;   // made so far
    unsigned Fruitless = 0;  // in a row, without a new byte
    unsigned Waits = 0;      // since the last new byte
};

// After an attempt that failed: the wait before the next one in ms (about 1,
// 2, 4 and 8 s, or the server's Retry-After up to 30 s when longer), or -1
// when the download fails with this attempt's reason. `retryAfterMs` is -1
// when the server named no wait.
int64_t NextRetryWait(TRetryState& state, bool retryable, bool newBytes, uint32_t msSinceNewByte,
                      int64_t retryAfterMs, unsigned maxAttempts);

// The answer to "Range: bytes=from-" with If-Range, judged against the
// length first announced: append it, take it as the file anew from byte 0
// (a 200: the server ignores ranges or the file changed), find the file
// complete already, or drop what was kept and fetch the whole file again.
enum class TRangeAnswer { Append, Whole, Complete, StartOver, NotRange };
TRangeAnswer JudgeRangeAnswer(uint32_t status, const std::string& contentRange, int64_t from, int64_t total);
