#include "ProgTracker.h"

#include <gtest/gtest.h>

#include <iterator>

#include "Exceptions.h"

namespace {

uint32_t gNow = 0;
uint32_t FakeTicks() { return gNow; }

TProgressTracker MakeTracker() {
    TProgressTracker t;
    t.TickSource = FakeTicks;
    return t;
}

void Feed(TProgressTracker& t, uint32_t tick, int64_t received, int64_t total) {
    gNow = tick;
    t.Update(received, total);
}

constexpr int64_t GiB = int64_t{1} << 30;
constexpr int64_t MiB = int64_t{1} << 20;

TEST(FormatByteSize, WorkedTable) {
    const struct { double bytes; const char* text; } rows[] = {
        {0, " 0 bytes"},
        {1, " 1 bytes"},
        {999, " 999 bytes"},
        {1000, "0.98 KB"},              // tested against 1000, divided by 1024
        {1023, "1.00 KB"},
        {1152, "1.13 KB"},              // 1.125: a tie, away from zero
        {1536, "1.50 KB"},
        {10496, "10.3 KB"},             // 10.25: a tie at one place
        {1.005 * 1024, "1.00 KB"},      // the double of 1.005 lies below the tie
        {51200, "50.0 KB"},
        {102359, "100.0 KB"},           // rounding reaches 100 within the unit
        {1022976, " 999 KB"},
        {1023976, " 1000 KB"},
        {5000000, "4.77 MB"},
        {10485760, "10.0 MB"},
        {123456789, " 118 MB"},
        {1073741824, "1.00 GB"},
        {512.5, " 513 bytes"},          // a rate: tie away from zero
        {2.5, " 3 bytes"},
        {1024.0 * GiB * 1024, " 1024 TB"},  // at most four divisions
        {9007199254740992.0 * 1024 * GiB, " 9007199254740992 TB"},  // 2^53: digits written out
        {1e30 * 1024 * GiB, " 1000000000000000019884624838656 TB"},  // the double's exact value
    };
    for (const auto& r : rows) EXPECT_EQ(FormatByteSize(r.bytes), r.text) << r.bytes;
}

TEST(FormatByteSize, LocaleSeparator) {
    const struct { double bytes; const char* text; } rows[] = {
        {1536, "1,50 KB"}, {51200, "50,0 KB"}, {999, " 999 bytes"}, {123456789, " 118 MB"},
    };
    for (const auto& r : rows) EXPECT_EQ(FormatByteSize(r.bytes, ','), r.text) << r.bytes;

    TProgressTracker t;
    t.DecimalSeparator = ',';
    t.Received = 1536;
    t.Total = 5000000;
    t.Rate = 51200.0;
    t.SecondsLeft = 99;
    EXPECT_EQ(t.GetProgressText(), "1,50 KB of 4,77 MB (50,0 KB/s)   1 minute 39 seconds remaining");
}

TEST(ProgressText, SuffixRangesAndBorders) {
    const struct { int64_t received, total; double rate; int32_t seconds; const char* text; } rows[] = {
        {1536, 5000000, 51200.0, 99, "1.50 KB of 4.77 MB (50.0 KB/s)   1 minute 39 seconds remaining"},
        {1536, 5000000, 51200.0, 0, "1.50 KB of 4.77 MB"},
        {0, 1000, 1000.0, 1, " 0 bytes of 0.98 KB (0.98 KB/s)   A few seconds remaining"},
        {0, 1000, 1000.0, 3, " 0 bytes of 0.98 KB (0.98 KB/s)   A few seconds remaining"},
        {0, 1000, 1000.0, 4, " 0 bytes of 0.98 KB (0.98 KB/s)   4 seconds remaining"},
        {0, 1000, 1000.0, 59, " 0 bytes of 0.98 KB (0.98 KB/s)   59 seconds remaining"},
        {0, 1000, 1000.0, 60, " 0 bytes of 0.98 KB (0.98 KB/s)   1 minute 0 seconds remaining"},
        {0, 1000, 1000.0, 119, " 0 bytes of 0.98 KB (0.98 KB/s)   1 minute 59 seconds remaining"},
        {0, 1000, 1000.0, 120, " 0 bytes of 0.98 KB (0.98 KB/s)   2 minutes remaining"},
        {0, 1000, 1000.0, 179, " 0 bytes of 0.98 KB (0.98 KB/s)   2 minutes remaining"},
        {0, 1000, 1.0, INT32_MAX, " 0 bytes of 0.98 KB ( 1 bytes/s)   35791394 minutes remaining"},
        {204096, 0, 100000.0, 9, " 199 KB (97.7 KB/s)"},  // no length announced: no time
    };
    for (const auto& r : rows) {
        TProgressTracker t;
        t.Received = r.received;
        t.Total = r.total;
        t.Rate = r.rate;
        t.SecondsLeft = r.seconds;
        EXPECT_EQ(t.GetProgressText(), r.text) << r.seconds;
    }
}

// One row per Update: what the call leaves behind, and the text if one is due.
struct Step {
    uint32_t tick;
    int64_t received, total;
    int32_t percent;
    bool percentChanged, textChanged;
    double rate;
    int32_t secondsLeft;
    const char* text;  // when textChanged
};

void RunSteps(TProgressTracker& t, const Step* steps, size_t count) {
    for (size_t i = 0; i < count; ++i) {
        const Step& s = steps[i];
        SCOPED_TRACE(testing::Message() << "tick " << s.tick);
        Feed(t, s.tick, s.received, s.total);
        EXPECT_EQ(t.Percent, s.percent);
        EXPECT_EQ(t.PercentChanged(), s.percentChanged);
        EXPECT_DOUBLE_EQ(t.Rate, s.rate);
        EXPECT_EQ(t.SecondsLeft, s.secondsLeft);
        const bool textChanged = t.TextChanged();
        EXPECT_EQ(textChanged, s.textChanged);
        if (textChanged && s.text) {
            EXPECT_EQ(t.GetProgressText(), s.text);
        }
        EXPECT_FALSE(t.TextChanged());  // once per change
        EXPECT_FALSE(t.PercentChanged());
    }
}

TEST(Tracker, WorkedWindows) {
    const Step steps[] = {
        {10000, 4096, 1000000, 0, false, false, 0.0, 0, nullptr},
        {11000, 104096, 1000000, 10, true, true, 0.0, 0, " 102 KB of  977 KB"},
        {12000, 204096, 1000000, 20, true, true, 100000.0, 9,
         " 199 KB of  977 KB (97.7 KB/s)   9 seconds remaining"},
        {12999, 240000, 1000000, 24, true, false, 100000.0, 9, nullptr},  // window still open
        {13000, 254096, 1000000, 25, true, true, 98437.5, 9,
         " 248 KB of  977 KB (96.1 KB/s)   9 seconds remaining"},
        {13300, 1000000, 1000000, 100, true, true, 98437.5, 0, " 977 KB of  977 KB"},
    };
    TProgressTracker t = MakeTracker();
    RunSteps(t, steps, std::size(steps));
    EXPECT_EQ(t.LastTick, 13000u);
    EXPECT_EQ(t.LastReceived, 254096);
}

// A wait of 10 s between attempts, then a start over: neither is a window.
TEST(Tracker, PauseAndStartOverKeepTheRate) {
    const Step steps[] = {
        {10000, 4096, 1000000, 0, false, false, 0.0, 0, nullptr},
        {11000, 104096, 1000000, 10, true, true, 0.0, 0, nullptr},
        {12000, 204096, 1000000, 20, true, true, 100000.0, 9, nullptr},
        {22000, 214096, 1000000, 21, true, true, 100000.0, 9,
         " 209 KB of  977 KB (97.7 KB/s)   9 seconds remaining"},
        {23000, 314096, 1000000, 31, true, true, 100000.0, 8, nullptr},
        {23500, 4096, 1000000, 0, true, true, 100000.0, 8, nullptr},
        {24500, 104096, 1000000, 10, true, true, 100000.0, 10, nullptr},
    };
    TProgressTracker t = MakeTracker();
    RunSteps(t, steps, 3);
    t.Restart();
    RunSteps(t, steps + 3, std::size(steps) - 3);
}

TEST(Tracker, TickCounterWrapsInsideAWindow) {
    const Step steps[] = {
        {0xFFFFF000u, 4096, 1000000, 0, false, false, 0.0, 0, nullptr},
        {0xFFFFFE70u, 104096, 1000000, 10, true, true, 0.0, 0, nullptr},   // 3696 ms
        {600, 154096, 1000000, 15, true, true, 50000.0, 18, nullptr},      // 1000 ms across 0
    };
    TProgressTracker t = MakeTracker();
    RunSteps(t, steps, std::size(steps));
}

TEST(Tracker, EmptyWindowLeavesRateAtZeroUntilBytesArrive) {
    const Step steps[] = {
        {1000, 4096, 1000000, 0, false, false, 0.0, 0, nullptr},
        {2000, 4096, 1000000, 0, false, true, 0.0, 0, "4.00 KB of  977 KB"},
        {3000, 4096, 1000000, 0, false, true, 0.0, 0, "4.00 KB of  977 KB"},  // instant 0.0
        {4000, 104096, 1000000, 10, true, true, 100000.0, 10, nullptr},     // set, not smoothed
    };
    TProgressTracker t = MakeTracker();
    RunSteps(t, steps, std::size(steps));

    t.Rate = 0.0;  // whenever it is exactly 0.0, not only at the first measurement
    Feed(t, 5000, 154096, 1000000);
    EXPECT_EQ(t.Rate, 50000.0);
}

TEST(Tracker, FinishedInsideTheFirstSecond) {
    const Step steps[] = {
        {5000, 4096, 8192, 50, true, false, 0.0, 0, nullptr},
        {5999, 8192, 8192, 100, true, true, 0.0, 0, "8.00 KB of 8.00 KB"},
    };
    TProgressTracker t = MakeTracker();
    RunSteps(t, steps, std::size(steps));
    EXPECT_FALSE(t.Started);
}

TEST(Tracker, SecondsLeftRoundsHalvesToEven) {
    // A rate of 1000 bytes/s over the second window; remaining / rate, rounded, + 1.
    const struct { int64_t remaining; int32_t secondsLeft; } rows[] = {
        {2500, 3},  // 2.5 -> 2
        {3500, 5},  // 3.5 -> 4
        {400, 1},   // under half a second still counts one
        {0, 0},     // finished
    };
    for (const auto& r : rows) {
        const int64_t total = 1001 + r.remaining;
        TProgressTracker t = MakeTracker();
        Feed(t, 1000, 1, total);
        Feed(t, 2000, 1, total);
        Feed(t, 3000, 1001, total);
        EXPECT_EQ(t.Rate, 1000.0);
        EXPECT_EQ(t.SecondsLeft, r.secondsLeft) << r.remaining;
    }
}

TEST(Tracker, SixGiBAcrossTheFourGiBMark) {
    const int64_t total = 6 * GiB;
    const Step steps[] = {
        {1000, 1024 * MiB, total, 16, true, false, 0.0, 0, nullptr},
        {2000, 1124 * MiB, total, 18, true, true, 0.0, 0, nullptr},
        // 3 GiB in one window, past 4 GiB: a delta above 2^31.
        {3000, 4196 * MiB, total, 68, true, true, 3072.0 * MiB, 2,
         "4.10 GB of 6.00 GB (3.00 GB/s)   A few seconds remaining"},
        // A window that starts above 2^32.
        {4000, 5220 * MiB, total, 84, true, true, 3008.0 * MiB, 1,
         "5.10 GB of 6.00 GB (2.94 GB/s)   A few seconds remaining"},
        {4100, total, total, 100, true, true, 3008.0 * MiB, 0, "6.00 GB of 6.00 GB"},
    };
    TProgressTracker t = MakeTracker();
    RunSteps(t, steps, std::size(steps));
    EXPECT_EQ(t.LastReceived, 5220 * MiB);
}

TEST(Tracker, SlowLinkClampsSecondsLeft) {
    const int64_t total = int64_t{1} << 40;
    const Step steps[] = {
        {1000, 1, total, 0, false, false, 0.0, 0, nullptr},
        {2000, 1, total, 0, false, true, 0.0, 0, nullptr},
        {3000, 2, total, 0, false, true, 1.0, INT32_MAX,
         " 2 bytes of 1.00 TB ( 1 bytes/s)   35791394 minutes remaining"},
    };
    TProgressTracker t = MakeTracker();
    RunSteps(t, steps, std::size(steps));
}

TEST(Tracker, UnknownTotalCountsWithoutEstimate) {
    const Step steps[] = {
        {1000, 4096, 0, 0, false, false, 0.0, 0, nullptr},
        {2000, 104096, 0, 0, false, true, 0.0, 0, " 102 KB"},
        {3000, 204096, 0, 0, false, true, 100000.0, 0, " 199 KB (97.7 KB/s)"},
    };
    TProgressTracker t = MakeTracker();
    RunSteps(t, steps, std::size(steps));
}

TEST(Tracker, PercentTruncatesAndIsCapped) {
    const struct { int64_t received, total; int32_t percent; } rows[] = {
        {999999, 1000000, 99},
        {1000000, 1000000, 100},
        {1200, 1000, 100},  // more than announced
        {4096, 0, 0},       // no total: left as it was
    };
    for (const auto& r : rows) {
        TProgressTracker t = MakeTracker();
        Feed(t, 1000, r.received, r.total);
        EXPECT_EQ(t.Percent, r.percent) << r.received << " of " << r.total;
    }

    TProgressTracker t = MakeTracker();
    Feed(t, 1000, 1200, 1000);
    EXPECT_EQ(t.GetProgressText(), "1.17 KB of 0.98 KB");
    // The quotient itself must still fit 32 bits.
    EXPECT_THROW(Feed(t, 1100, 30000000, 1), ERangeError);
    EXPECT_EQ(t.Total, 1);
    EXPECT_EQ(t.Percent, 100);
}

}  // namespace
