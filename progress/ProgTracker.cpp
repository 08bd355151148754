#include "ProgTracker.h"

#include <cmath>

#include "Exceptions.h"
#include "Format.h"
#include "RangeCheck.h"
#include "Texts.h"

#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#else
#include <chrono>
#endif

uint32_t SystemTickCount() {
#ifdef _WIN32
    return GetTickCount();
#else
    using namespace std::chrono;
    return static_cast<uint32_t>(
        duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
#endif
}

namespace {

// Appends value rounded to `decimals` places (0 to 2), a tie going away from
// zero. The double is split into m / 2^k and scaled in integers, so the
// rounding sees its exact binary value: 1.005, stored a little below the tie,
// rounds down, while 1.125 is a true tie and rounds up.
void AppendFixed(std::string& out, double value, int decimals, char separator) {
    static const uint64_t kScale[3] = {1, 10, 100};
    const double magnitude = std::fabs(value);
    if (!(magnitude < 9007199254740992.0)) {
        // 2^53 and up is a whole number already (and only reached without
        // decimals), written out exactly as m * 2^e by doubling its decimal
        // digits, as printf's "%.0f" would (which would link a tenth of the
        // program for a branch no download reaches); NaN and infinities too.
        if (std::isnan(value)) {
            out += "nan";
            return;
        }
        if (value < 0) out += '-';
        if (std::isinf(value)) {
            out += "inf";
            return;
        }
        int e = 0;
        uint64_t m = static_cast<uint64_t>(std::ldexp(std::frexp(magnitude, &e), 53));
        std::string digits;  // least significant first
        for (; m != 0; m /= 10) digits += static_cast<char>(m % 10);
        for (e -= 53; e > 0; --e) {
            int carry = 0;
            for (char& d : digits) {
                const int v = d * 2 + carry;
                d = static_cast<char>(v % 10);
                carry = v / 10;
            }
            if (carry) digits += static_cast<char>(carry);
        }
        for (auto d = digits.rbegin(); d != digits.rend(); ++d) out += static_cast<char>('0' + *d);
        return;
    }
    int exponent = 0;
    const double fraction = std::frexp(magnitude, &exponent);  // [0.5, 1) or 0
    const uint64_t mantissa = static_cast<uint64_t>(std::ldexp(fraction, 53));
    const int shift = 53 - exponent;  // magnitude = mantissa / 2^shift, shift >= 0
    const uint64_t scaled = mantissa * kScale[decimals];  // below 2^60
    uint64_t q;
    if (shift == 0) {
        q = scaled;
    } else if (shift > 63) {
        q = 0;  // scaled < 2^60 <= half a unit
    } else {
        q = scaled >> shift;
        const uint64_t rest = scaled & ((uint64_t{1} << shift) - 1);
        if (rest >= (uint64_t{1} << (shift - 1))) ++q;
    }

    if (value < 0 && q != 0) out += '-';
    const uint64_t whole = q / kScale[decimals];
    char digits[24];
    int n = 0;
    uint64_t w = whole;
    do {
        digits[n++] = static_cast<char>('0' + w % 10);
        w /= 10;
    } while (w != 0);
    while (n > 0) out += digits[--n];
    if (decimals > 0) {
        const uint64_t part = q % kScale[decimals];
        out += separator;
        if (decimals == 2) out += static_cast<char>('0' + part / 10);
        out += static_cast<char>('0' + part % 10);
    }
}

int64_t CheckedSub(int64_t a, int64_t b) {
    int64_t r;
    if (__builtin_sub_overflow(a, b, &r)) throw EIntOverflow();
    return r;
}

// round(remaining / rate) + 1, halves to even. A slow link with much left
// would need more than 32 bits; it reads as the longest time we can show.
int32_t EstimateSeconds(int64_t remaining, double rate) {
    const double s = std::nearbyint(static_cast<double>(remaining) / rate) + 1.0;
    if (s > 2147483647.0) return INT32_MAX;
    if (!(s >= -2147483648.0)) throw ERangeError();
    return static_cast<int32_t>(s);
}

}  // namespace

std::string FormatByteSize(double value, char decimalSeparator) {
    int i = 0;
    while (value >= 1000 && i < 4) {
        value /= 1024;
        ++i;
    }
    const int decimals = (value >= 100 || i == 0) ? 0 : value >= 10 ? 1 : 2;
    std::string result;
    if (decimals == 0) result += ' ';
    // Four significant digits never bind below 10000 of a unit; above that
    // (only TB can get there) the whole number is shown.
    AppendFixed(result, value, decimals, decimalSeparator);
    result += LoadText(IDS_UNIT_BYTES + static_cast<unsigned>(i));
    return result;
}

void TProgressTracker::Update(int64_t received, int64_t total) {
    Total = total;
    if (Total != 0) {
        int64_t scaled;
        if (__builtin_mul_overflow(received, int64_t{100}, &scaled)) throw EIntOverflow();
        int32_t p = CheckedCast<int32_t>(scaled / Total);
        if (p > 100) p = 100;  // the server announced less than it sent
        if (p != Percent) {
            Percent = p;
            PercentDirty = true;
        }
    }

    const uint32_t now = TickSource();
    // A count gone back is a start over: measured from there.
    if (LastTick == 0 || received < LastReceived) {
        LastTick = now;
        LastReceived = received;
        TextDirty = Started;  // the amount kept, shown at once
    }
    const uint32_t elapsed = now - LastTick;  // unsigned: right across the wrap

    Received = received;

    if (!Started) {
        // The first window only starts the first measured one.
        if (elapsed >= 1000) {
            LastTick = now;
            LastReceived = received;
            Started = true;
            TextDirty = true;
        }
    } else if (elapsed >= 1000) {
        const int64_t delta = CheckedSub(received, LastReceived);
        LastReceived = received;
        LastTick = now;
        const double instant = static_cast<double>(delta) / elapsed * 1000;
        if (Rate == 0.0)
            Rate = instant;
        else
            Rate = Rate * 0.96875 + instant * 0.03125;
        // Without a total there is nothing to count down.
        if (Rate != 0.0 && Total != 0) SecondsLeft = EstimateSeconds(CheckedSub(Total, Received), Rate);
        TextDirty = true;
    }

    // Last, so that the final text has no rate and time part.
    if (received == Total) {
        SecondsLeft = 0;
        TextDirty = true;
    }
}

bool TProgressTracker::TextChanged() {
    const bool changed = TextDirty;
    if (changed) TextDirty = false;
    return changed;
}

bool TProgressTracker::PercentChanged() {
    const bool changed = PercentDirty;
    if (changed) PercentDirty = false;
    return changed;
}

std::string TProgressTracker::GetProgressText() const {
    const char sep = DecimalSeparator;
    const std::string received = FormatByteSize(static_cast<double>(Received), sep);
    if (Total == 0) {
        if (Rate == 0.0) return received;
        return Format(LoadText(IDS_AMOUNT_RATE), {received, FormatByteSize(Rate, sep)});
    }

    const std::string total = FormatByteSize(static_cast<double>(Total), sep);
    const int32_t s = SecondsLeft;
    if (s == 0) return Format(LoadText(IDS_AMOUNT_OF), {received, total});
    std::string left;
    if (s >= 1 && s <= 3)
        left = LoadText(IDS_FEW_SECONDS);
    else if (s >= 4 && s <= 59)
        left = Format(LoadPluralText(IDS_SECONDS, s), {s});
    else if (s >= 60 && s <= 119)
        left = Format(LoadPluralText(IDS_MINUTE_SECONDS, s % 60), {s % 60});
    else
        left = Format(LoadPluralText(IDS_MINUTES, s / 60), {s / 60});  // minutes never round up
    return Format(LoadText(IDS_AMOUNT_OF_RATE_TIME), {received, total, FormatByteSize(Rate, sep), left});
}
