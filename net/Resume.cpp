#include "Resume.h"

#include <cstddef>
#include <limits>

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

char AsciiLower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool SameLetters(const std::string& text, size_t at, const char* word, size_t length) {
    if (text.size() - at < length) return false;
    for (size_t i = 0; i < length; ++i)
        if (AsciiLower(text[at + i]) != word[i]) return false;
    return true;
}

// One or more decimal digits at `i` that fit 63 bits; `i` moves past them.
bool ReadNumber(const std::string& text, size_t& i, int64_t& value) {
    const size_t start = i;
    uint64_t v = 0;
    for (; i < text.size() && IsDigit(text[i]); ++i) {
        v = v * 10 + static_cast<unsigned>(text[i] - '0');
        if (v > static_cast<uint64_t>(std::numeric_limits<int64_t>::max())) return false;
    }
    value = static_cast<int64_t>(v);
    return i > start;
}

// The value without the blanks a header may carry around it.
std::string Trimmed(const std::string& text) {
    const size_t first = text.find_first_not_of(" \t");
    if (first == std::string::npos) return std::string();
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

// Days from 1970-01-01 to the given civil date (proleptic Gregorian).
int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

const char* const MonthNames[12] = {"jan", "feb", "mar", "apr", "may", "jun",
                                    "jul", "aug", "sep", "oct", "nov", "dec"};

// The three date forms HTTP allows, told apart by their fields rather than
// their punctuation: a weekday, then the day, the month's name, the year and
// hh:mm:ss in the order the form puts them ("Sun, 06 Nov 1994 08:49:37 GMT",
// "Sunday, 06-Nov-94 08:49:37 GMT", "Sun Nov  6 08:49:37 1994").
bool ParseHttpDate(const std::string& text, int64_t& seconds) {
    size_t i = 0;
    while (i < text.size() && ((text[i] >= 'A' && text[i] <= 'Z') || (text[i] >= 'a' && text[i] <= 'z'))) ++i;
    if (i < 3) return false;
    int64_t numbers[2] = {-1, -1};
    int numberCount = 0, month = -1;
    int64_t clock[3] = {-1, -1, -1};
    bool yearHasTwoDigits = false, gmt = false;
    while (i < text.size()) {
        const char c = text[i];
        if (c == ' ' || c == ',' || c == '-') {
            ++i;
        } else if (IsDigit(c)) {
            const size_t start = i;
            int64_t n = 0;
            if (!ReadNumber(text, i, n)) return false;
            if (i < text.size() && text[i] == ':') {
                if (clock[0] >= 0) return false;
                clock[0] = n;
                for (int k = 1; k < 3; ++k)
                    if (i >= text.size() || text[i++] != ':' || !ReadNumber(text, i, clock[k])) return false;
            } else {
                if (numberCount == 2) return false;
                if (numberCount == 1) yearHasTwoDigits = i - start == 2;
                numbers[numberCount++] = n;
            }
        } else if (SameLetters(text, i, "gmt", 3) && !gmt) {
            gmt = true;
            i += 3;
        } else {
            int found = -1;
            for (int m = 0; m < 12; ++m)
                if (SameLetters(text, i, MonthNames[m], 3)) found = m;
            if (found < 0 || month >= 0) return false;
            month = found;
            i += 3;
        }
    }
    int64_t day = numbers[0], year = numbers[1];
    if (numberCount != 2 || month < 0 || clock[0] < 0) return false;
    if (yearHasTwoDigits) year += year < 70 ? 2000 : 1900;
    if (day < 1 || day > 31 || year < 1900 || year > 9999 || clock[0] > 23 || clock[1] > 59 || clock[2] > 60)
        return false;
    seconds = DaysFromCivil(year, static_cast<unsigned>(month + 1), static_cast<unsigned>(day)) * 86400 +
              clock[0] * 3600 + clock[1] * 60 + clock[2];
    return true;
}

}  // namespace

bool ParseContentRange(const std::string& value, TContentRange& range) {
    range = TContentRange();
    const std::string text = Trimmed(value);
    if (!SameLetters(text, 0, "bytes", 5)) return false;
    size_t i = 5;
    const size_t blanks = i;
    while (i < text.size() && text[i] == ' ') ++i;
    if (i == blanks) return false;
    TContentRange r;
    if (i < text.size() && text[i] == '*') {
        ++i;
    } else if (!ReadNumber(text, i, r.First) || i >= text.size() || text[i++] != '-' ||
               !ReadNumber(text, i, r.Last) || r.Last < r.First) {
        return false;
    }
    if (i >= text.size() || text[i++] != '/') return false;
    if (i < text.size() && text[i] == '*' && r.First >= 0) {
        ++i;
    } else if (!ReadNumber(text, i, r.Total) || (r.First >= 0 && r.Last >= r.Total)) {
        return false;
    }
    if (i != text.size()) return false;
    range = r;
    return true;
}

bool ParseRetryAfter(const std::string& value, int64_t nowSeconds, int64_t& waitMs) {
    const std::string text = Trimmed(value);
    // A day is far beyond any wait the caller honours; larger counts are
    // held there rather than overflowing.
    const int64_t longest = 86400;
    int64_t seconds = 0;
    size_t i = 0;
    if (!text.empty() && IsDigit(text[0])) {
        while (i < text.size() && IsDigit(text[i])) {
            if (seconds < longest) seconds = seconds * 10 + (text[i] - '0');
            ++i;
        }
        if (i != text.size()) return false;
    } else {
        int64_t when = 0;
        if (!ParseHttpDate(text, when)) return false;
        seconds = when - nowSeconds;
        if (seconds < 0) seconds = 0;
    }
    waitMs = (seconds < longest ? seconds : longest) * 1000;
    return true;
}

std::string ResumeValidator(const std::string& etag, const std::string& lastModified) {
    // A weak tag says the bytes may differ; a range is only ever asked of
    // the very same bytes.
    const std::string tag = Trimmed(etag);
    if (tag.size() >= 2 && tag.front() == '"' && tag.back() == '"') return tag;
    return Trimmed(lastModified);
}

bool RetryableError(uint32_t code) {
    switch (code) {
    case 12002:  // time-out
    case 12007:  // name not resolved
    case 12029:  // cannot connect
    case 12030:  // connection aborted
    case 12031:  // connection reset
    case 12152:  // invalid server response
    case 10053:  // the raw socket codes one client passes on: aborted,
    case 10054:  // reset,
    case 10060:  // timed out,
    case 10061:  // refused
        return true;
    default:
        return false;
    }
}

bool RetryableStatus(uint32_t status) {
    switch (status) {
    case 0:
    case 408:
    case 429:
    case 500:
    case 502:
    case 503:
    case 504:
        return true;
    default:
        return false;
    }
}

int64_t NextRetryWait(TRetryState& state, bool retryable, bool newBytes, uint32_t msSinceNewByte,
                      int64_t retryAfterMs, unsigned maxAttempts) {
    ++state.Attempts;
    if (newBytes) {
        state.Fruitless = 0;
        state.Waits = 0;
    } else {
        ++state.Fruitless;
    }
    if (!retryable || state.Attempts >= maxAttempts || state.Fruitless >= FruitlessLimit ||
        msSinceNewByte >= NoNewByteLimitMs)
        return -1;
    int64_t wait = int64_t{1000} << (state.Waits < 3 ? state.Waits : 3);
    ++state.Waits;
    if (retryAfterMs > wait) wait = retryAfterMs < RetryAfterCapMs ? retryAfterMs : RetryAfterCapMs;
    return wait;
}

TRangeAnswer JudgeRangeAnswer(uint32_t status, const std::string& contentRange, int64_t from, int64_t total) {
    TContentRange range;
    const bool parsed = ParseContentRange(contentRange, range);
    switch (status) {
    case 200:
        return TRangeAnswer::Whole;
    case 206:
        return parsed && range.First == from && range.Total == total ? TRangeAnswer::Append
                                                                      : TRangeAnswer::StartOver;
    case 416:
        return parsed && range.First < 0 && range.Total == total && from == total ? TRangeAnswer::Complete
                                                                                  : TRangeAnswer::StartOver;
    default:
        return TRangeAnswer::NotRange;
    }
}
