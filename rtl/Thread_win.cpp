#include "Thread.h"

#include <process.h>

#include "Exceptions.h"
#include "Format.h"
#include "MessageWait_win.h"
#include "SystemError.h"

// Static initialisation runs on the main thread, before any other exists.
const DWORD MainThreadID = ::GetCurrentThreadId();

namespace {

[[noreturn]] void RaiseThreadError() {
    DWORD code = ::GetLastError();
    throw EThread(Format(LoadText(IDS_THREAD_ERROR), {SystemErrorText(code), code}));
}

}  // namespace

TThread::TThread() {
    unsigned id = 0;
    // _beginthreadex rather than CreateThread: the C runtime sets up its
    // per-thread state.
    uintptr_t h = ::_beginthreadex(nullptr, 0, &TThread::ThreadProc, this, CREATE_SUSPENDED, &id);
    if (h == 0) {
        DWORD code = ::GetLastError();
        throw EThread(Format(LoadText(IDS_THREAD_CREATE), {SystemErrorText(code)}));
    }
    handle_.Reset(reinterpret_cast<HANDLE>(h));
}

void TThread::Start() {
    if (::ResumeThread(handle_.Get()) == static_cast<DWORD>(-1)) RaiseThreadError();
    started_ = true;
}

TThread::~TThread() {
    if (!finished_) {
        stopRequested_ = true;
        if (!started_) ::ResumeThread(handle_.Get());
        try {
            WaitForHandle();
        } catch (...) {
            // A destructor cannot report; the handle is closed regardless.
        }
    }
}

unsigned __stdcall TThread::ThreadProc(void* self) {
    TThread* thread = static_cast<TThread*>(self);
    if (!thread->stopRequested_) {
        try {
            thread->Execute();
        } catch (...) {
            thread->capturedError_ = std::current_exception();
        }
    }
    thread->finished_ = true;
    return 0;
}

void TThread::WaitForHandle() {
    HANDLE h = handle_.Get();
    if (::GetCurrentThreadId() != MainThreadID) {
        if (::WaitForSingleObject(h, INFINITE) == WAIT_FAILED) RaiseThreadError();
        return;
    }
    if (WaitAnswering(h) == WAIT_FAILED) RaiseThreadError();
}

uint32_t TThread::WaitForEnd() {
    WaitForHandle();
    DWORD code = 0;
    if (!::GetExitCodeThread(handle_.Get(), &code)) RaiseThreadError();
    return code;
}
