// Progress of one download: percentage, smoothed transfer rate, remaining
// time, and the detail line that shows them.
#pragma once

#include <cstdint>
#include <string>

// "1.50 KB", " 999 bytes", " 118 MB": at most four significant digits, the
// unit picked against 1000 but divided by 1024, ties rounded away from zero.
// A leading space stands in front of every whole number. The units are the
// language's (IDS_UNIT_BYTES to IDS_UNIT_TB). Never fails.
std::string FormatByteSize(double value, char decimalSeparator = '.');

// Milliseconds since an arbitrary start, wrapping at 2^32 (GetTickCount on
// Windows, a steady clock elsewhere).
uint32_t SystemTickCount();

// Fed by the progress callback on the worker thread; one per download session.
// The fields are public so that the owner can read Percent and tests can set
// up any state.
class TProgressTracker {
public:
    using TTickSource = uint32_t (*)();

    // Records the counts and recomputes the percentage at once, the rate and
    // the remaining time once per window of at least 1000 ms. Allocates and
    // formats nothing. Raises ERangeError when the percentage quotient does
    // not fit 32 bits (EIntOverflow for counts near the 64-bit limit).
    void Update(int64_t received, int64_t total);
    // After a pause (a wait between attempts) or a count gone back (a start
    // over): the next count begins a new window, so neither is taken for the
    // rate, which stays as it was until a window measures anew.
    void Restart() { LastTick = 0; }

    // Test-and-clear: true once per change.
    bool TextChanged();
    bool PercentChanged();

    // "1.50 KB of 4.77 MB (50.0 KB/s)   1 minute 39 seconds remaining", in
    // the language's words, order and plural forms.
    std::string GetProgressText() const;

    int64_t Total = 0;         // 0: the server announced no length
    int64_t Received = 0;
    double Rate = 0.0;         // bytes per second; 0.0: not measured yet
    int32_t SecondsLeft = 0;   // 0: no estimate (not measured, finished, or no total)
    bool Started = false;      // the first window, which measures nothing, has ended
    uint32_t LastTick = 0;     // start of the current window; 0: not set
    int64_t LastReceived = 0;  // received count at the start of the current window
    bool TextDirty = false;
    bool PercentDirty = false;
    int32_t Percent = 0;

    // Set by the owner before the first Update: the clock, and the locale's
    // decimal separator as read at start-up.
    TTickSource TickSource = SystemTickCount;
    char DecimalSeparator = '.';
};
