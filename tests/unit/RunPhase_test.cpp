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
        switch (*e) {
        case 'q': answers += phase.BeginConfirming() ? '1' : '0'; break;
        case 'e': phase.EndConfirming(); break;
        case 'c': phase.Stopped(TStop::Cancelled); break;
        case 't': phase.Stopped(TStop::TimedOut); break;
        case 'r': phase.WorkerReturned(); break;
        case 'g': answers += phase.GiveUpOnWorker() ? '1' : '0'; break;
        case 'f': answers += phase.BeginFinishing() ? '1' : '0'; break;
        }
    }
    return answers;
}

TEST(RunPhase, Rules) {
    struct Row {
        const char* events;
        const char* answers;
        TStop stop;
        TWorker worker;
    } rows[] = {
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
    for (const Row& r : rows) {
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
