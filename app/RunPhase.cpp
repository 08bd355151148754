#include "RunPhase.h"

#include "Exceptions.h"

bool TRunPhase::BeginConfirming() {
    if (stage_ != TStage::Downloading) return false;
    stage_ = TStage::Confirming;
    return true;
}

void TRunPhase::EndConfirming() {
    if (stage_ == TStage::Confirming) stage_ = TStage::Downloading;
}

void TRunPhase::Stopped(TStop why) {
    if (stop_ == TStop::None) stop_ = why;
}

bool TRunPhase::GiveUpOnWorker() {
    if (stop_ == TStop::None) throw EAssertionFailed("Gave up on a worker that was not stopped");
    if (worker_ != TWorker::Inside) return false;
    worker_ = TWorker::GivenUp;
    return true;
}

bool TRunPhase::BeginFinishing() {
    if (stage_ != TStage::Downloading || worker_ == TWorker::Inside) return false;
    stage_ = TStage::Finishing;
    return true;
}
