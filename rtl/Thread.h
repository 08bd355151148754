// A worker thread that starts only once its object is fully built, keeps
// whatever escapes its body, and never frees itself: the owner does.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <exception>

#include "Handles_win.h"

class TThread {
public:
    TThread(const TThread&) = delete;
    TThread& operator=(const TThread&) = delete;
    // Waits for a thread that still runs (after asking it to stop).
    virtual ~TThread();

    // Returns once the thread has ended. On the user-interface thread it keeps
    // delivering that thread's messages meanwhile, so a worker blocked in a
    // sent message cannot deadlock the wait and the window keeps answering.
    uint32_t WaitForEnd();

    // What escaped the body, or null. Read after WaitForEnd.
    std::exception_ptr CapturedError() const { return capturedError_; }
    bool Finished() const { return finished_; }
    bool StopRequested() const { return stopRequested_; }

protected:
    // Creates the thread suspended; the most derived constructor calls Start()
    // as its last act.
    TThread();
    void Start();
    virtual void Execute() = 0;

private:
    static unsigned __stdcall ThreadProc(void* self);
    void WaitForHandle();

    TKernelHandle handle_;
    std::atomic<bool> finished_{false};
    std::atomic<bool> stopRequested_{false};
    bool started_ = false;
    std::exception_ptr capturedError_;
};

// The process's main thread, which runs the dialog.
extern const DWORD MainThreadID;
