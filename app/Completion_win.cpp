// The completion: once the download has ended, what becomes of it (the
// failure told, the signer checked, a copy saved, the installer run and
// waited for, the run's folder removed).
#include "LightDialog.h"

#include <commdlg.h>

#include <cwchar>

#include "Exceptions.h"
#include "Format.h"
#include "InstallerTrust.h"
#include "MessageWait_win.h"
#include "SingleInstance_win.h"
#include "SystemError.h"
#include "Texts.h"
#include "TovUtil.h"
#include "WideText_win.h"
#include "iTovInetUtils.h"

namespace {

// What ends a download: "Download Failed: " and the reason.
[[noreturn]] void RaiseFailure(std::exception_ptr error) {
    try {
        std::rethrow_exception(error);
    } catch (const Exception& e) {
        throw Exception(Format(LoadText(IDS_FAILED_WITH), {e.Message()}));
    } catch (...) {
        throw Exception(LoadText(IDS_FAILED));
    }
}

// The failure the client raises when it times out itself.
std::exception_ptr TimeoutError() {
    try {
        RaiseInternetError(ERROR_INTERNET_TIMEOUT);
    } catch (...) {
        return std::current_exception();
    }
}

}  // namespace

void TDownloadDialog::Finish() {
    if (!Phase.BeginFinishing()) return;
    // The one place the timers stop; until then the phase keeps a late tick
    // from acting twice.
    ::KillTimer(Wnd, SilenceTimer);
    ::KillTimer(Wnd, GiveUpTimer);

    // However this ends, a worker that came back is released last, and
    // Thread never names a half-destroyed object. One still inside the
    // client keeps the controller: the main block ends the process without
    // releasing either.
    struct ReleaseWorker {
        TDownloadDialog* self;
        ~ReleaseWorker() {
            if (self->Phase.Worker() != TRunPhase::TWorker::Returned) return;
            TDownloadThread* worker = self->Thread;
            self->Thread = nullptr;
            delete worker;
        }
    } releaseWorker{this};

    if (Phase.Worker() == TRunPhase::TWorker::Returned) Thread->WaitForEnd();
    if (Phase.Stop() == TRunPhase::TStop::Cancelled) {
        ::EndDialog(Wnd, 0);
        return;
    }
    RaiseIfFailed();
    // Checked before anything is offered or run, and held open from the check
    // until the installer has started, so the file checked is the file run.
    TKernelHandle held;
    CheckSigner(held);
    Taskbar.Completed();
    if (ChooseToRun()) RunInstaller(held);
    held.Reset();
    RemoveFolder();
    ::EndDialog(Wnd, 0);
}

// A time-out, or what the worker raised: "Download Failed: ".
void TDownloadDialog::RaiseIfFailed() {
    if (Phase.Stop() == TRunPhase::TStop::TimedOut) RaiseFailure(TimeoutError());
    if (std::exception_ptr captured = Thread->CapturedError()) RaiseFailure(captured);
}

void TDownloadDialog::CheckSigner(TKernelHandle& held) {
    if (!*ExpectedSigner) return;
    held = HoldInstaller(TempFile);
    bool trusted = false;
    RunAnswering(Wnd, [&] { trusted = InstallerSignedBy(held.Get(), TempFile, ExpectedSigner); });
    if (trusted) return;
    held.Reset();
    RemoveFolder();
    throw Exception(Format(LoadText(IDS_NOT_SIGNED), {ExpectedSigner}));
}

// A copy first, when asked for; then whether to install after all.
bool TDownloadDialog::ChooseToRun() {
    if (!SaveCopy || !SaveInstallerAs()) return true;
    int answer = Ask(Wnd, IDS_ASK_CONTINUE);
    if (answer == 0) RaiseLastSystemError();
    return answer != IDNO;
}

bool TDownloadDialog::SaveInstallerAs() {
    wchar_t file[MAX_PATH + 1] = {};
    std::wcsncpy(file, ToWide(FileName).c_str(), MAX_PATH);
    const TWideText title = ToWide(LoadText(IDS_SAVE_TITLE));

    OPENFILENAMEW ofn = {};
    static_assert(sizeof ofn == (sizeof(void*) == 4 ? 88 : 152), "the record with its trailing reserved fields");
    ofn.lStructSize = sizeof ofn;
    ofn.hwndOwner = Wnd;
    ofn.lpstrFile = file;
    ofn.nMaxFile = MAX_PATH + 1;
    ofn.lpstrTitle = title.c_str();
    ofn.Flags = OFN_OVERWRITEPROMPT | OFN_NOCHANGEDIR;
    ofn.lpstrDefExt = L"exe";

    while (!::GetSaveFileNameW(&ofn)) {
        if (Ask(Wnd, IDS_ASK_NOT_SAVING) == IDYES) return false;
    }
    RunAnswering(Wnd, [&] {
        if (!::CopyFileW(ToWide(TempFile).c_str(), file, FALSE)) RaiseLastSystemError();
    });
    return true;
}

// Whatever the installer's exit code, the folder goes the same way: a failure
// is told in the wait's own box.
void TDownloadDialog::RunInstaller(TKernelHandle& held) {
    // A later start leaves the screen to the installer meanwhile.
    struct InstallingMark {
        TDownloadDialog* self;
        ~InstallingMark() { MarkInstanceWindow(self->Wnd, self->Year, false); }
    } installing{this};
    MarkInstanceWindow(Wnd, Year, true);
    TKernelHandle process(StartInstallerAnswering());
    held.Reset();
    WaitForInstaller(Wnd, process.Get());
}

// The start runs off this thread: the elevation prompt keeps it until the
// user answers, and the dialog answers meanwhile.
HANDLE TDownloadDialog::StartInstallerAnswering() {
    for (;;) {
        HANDLE process = nullptr;
        DWORD code = 0;
        RunAnswering(Wnd, [&] { code = StartInstaller(Wnd, TempFile, &process); });
        if (code == 0) return process;
        switch (OnStartFailure(code, ::GetTickCount() - DownloadEnded)) {
        case TStartFailure::TryAgain:
            WaitAnswering(nullptr, StartRetryEveryMs);
            break;
        case TStartFailure::AskAgain:
            if (Ask(Wnd, IDS_ASK_ELEVATE_AGAIN) == IDYES) break;
            RaiseSystemError(code);
        case TStartFailure::Tell:
            RaiseSystemError(code);
        }
    }
}

// Kept for later when something still holds it (what the installer left
// running, a scanner), whether or not the install worked.
void TDownloadDialog::RemoveFolder() {
    if (!RemoveOwnFolder(TempFolder, FileName)) RemoveLater = true;
}
