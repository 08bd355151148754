// Where a run of the download dialog is and how its download ended, with the
// rules that tie them. Changed and read on the user-interface thread only.
#pragma once

class TRunPhase {
public:
    // Confirming: "Cancel Download?" is open. Finishing: the completion has
    // begun; it runs once, and nothing goes back from it.
    enum class TStage { Downloading, Confirming, Finishing };
    // Why the dialog stopped the download, if it did: the first reason stays.
    enum class TStop { None, Cancelled, TimedOut };
    // Inside: the worker is still in its job. Returned: its end has arrived.
    // GivenUp: the dialog goes on without it, which only a stop allows (a
    // completion never reads the outcome of a worker still running); it may
    // still come back later.
    enum class TWorker { Inside, Returned, GivenUp };

    TStage Stage() const { return stage_; }
    TStop Stop() const { return stop_; }
    TWorker Worker() const { return worker_; }

    // The question opens and closes only while downloading.
    bool BeginConfirming();
    void EndConfirming();
    void Stopped(TStop why);
    void WorkerReturned() { worker_ = TWorker::Returned; }
    // False when the worker has come back already.
    bool GiveUpOnWorker();
    // The silence clock matters only while the worker is inside, unstopped.
    bool Watching() const { return worker_ == TWorker::Inside && stop_ == TStop::None; }
    // True once: no question open, and the worker back or given up.
    bool BeginFinishing();
    // A click on the check box counts until the completion has begun.
    bool TakesChoices() const { return stage_ != TStage::Finishing; }

private:
    TStage stage_ = TStage::Downloading;
    TStop stop_ = TStop::None;
    TWorker worker_ = TWorker::Inside;
};
