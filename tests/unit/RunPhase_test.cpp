#include "RunPhase.h"

#include <gtest/gtest.h>

#include "Exceptions.h"

namespace {

using TStop = TRunPhase::TStop;
using TWorker = TRunPhase::TWorker;

// Events in order: q asks "Cancel Download?", e closes it, c cancels, t times
// out, r the worker's end arrives, g gives up on the worker, f begins the
// completion. `answers`: what each q, g and f returned, in order.
std::string Play(TRunPhase& phase, const char* events) {
    std::string answers;
    for (const char* e = events; *e; ++e) {
        if (*e == 'q') answers += phase.BeginConfirming() ? '1' : '0';
        if (*e == 'e') phase.EndConfirming();
        if (*e == 'c') phase.Stopped(TStop::Cancelled);
        if (*e == 't') phase.Stopped(TStop::TimedOut);
        if (*e == 'r') phase.WorkerReturned();
        if (*e == 'g') answers += phase.GiveUpOnWorker() ? '1' : '0';
        if (*e == 'f') answers += phase.BeginFinishing() ? '1' : '0';
    }
    return answers;
}

TEST(RunPhase, Rules) {
    const struct { const char *events, *answers; TStop stop; TWorker worker; } rows[] = {
        {"rf", "1", TStop::None, TWorker::Returned},              // a download that ended
        {"f", "0", TStop::None, TWorker::Inside},                 // never while the worker is inside
        {"qrfef", "101", TStop::None, TWorker::Returned},         // the question is answered first
        {"qceg", "11", TStop::Cancelled, TWorker::GivenUp},       // Yes, the worker gone quiet
        {"cgfr", "11", TStop::Cancelled, TWorker::Returned},      // it may still come back later
        {"crg", "0", TStop::Cancelled, TWorker::Returned},        // a late tick gives up on nothing
        {"tcg", "1", TStop::TimedOut, TWorker::GivenUp},          // the first reason stays
        {"qtgef", "111", TStop::TimedOut, TWorker::GivenUp},      // timed out under the question
        {"rffq", "100", TStop::None, TWorker::Returned},          // the completion runs once, asks nothing
    };
    for (const auto& r : rows) {
        TRunPhase phase;
        EXPECT_EQ(Play(phase, r.events), r.answers) << r.events;
        EXPECT_EQ(phase.Stop(), r.stop) << r.events;
        EXPECT_EQ(phase.Worker(), r.worker) << r.events;
    }
    // Giving up on a worker that nobody stopped would read a running job's outcome.
    TRunPhase unstopped;
    EXPECT_THROW(unstopped.GiveUpOnWorker(), EAssertionFailed);
}

}  // namespace
