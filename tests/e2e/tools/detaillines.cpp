// Prints, one a line, the detail lines the progress tracker can show for a
// download of up to 1 TB: every shape of amount (" 999 bytes" to "1.00 TB"),
// as received, total and rate, with every kind of remaining time, and without
// a total. The tests measure them in the dialog's own font.
#include <climits>
#include <cstdio>
#include <vector>

#include "ProgTracker.h"

int main() {
    // Three shapes per unit (" 999", "99.9", "9.99") up to GB, then 1 TB.
    std::vector<double> amounts;
    for (double unit = 1; unit < 1099511627776.0; unit *= 1024)
        for (double shape : {999.0, 99.9, 9.99}) amounts.push_back(shape * unit);
    amounts.push_back(1099511627776.0);
    const int secondsLeft[] = {0, 2, 59, 119, INT_MAX};

    TProgressTracker tracker;
    for (double received : amounts)
        for (double total : amounts) {
            if (total < received) continue;
            for (double rate : amounts)
                for (int seconds : secondsLeft) {
                    tracker.Received = static_cast<int64_t>(received);
                    tracker.Total = static_cast<int64_t>(total);
                    tracker.Rate = rate;
                    tracker.SecondsLeft = seconds;
                    std::puts(tracker.GetProgressText().c_str());
                    tracker.Total = 0;
                    std::puts(tracker.GetProgressText().c_str());
                }
        }
    return 0;
}
