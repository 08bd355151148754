#include <windows.h>

#include <exception>
#include <memory>

#include "LightDialog.h"
#include "Main.h"
#include "SingleInstance_win.h"
#include "SystemError.h"
#include "Texts.h"
#include "TovUtil.h"

namespace {

// How long the program stays on, with no window, to remove an installer that
// what it left running still holds.
const DWORD RemoveInUseForMs = 30 * 60 * 1000;

}  // namespace

void MainBlock() {
    DownloadDialog = new TDownloadDialog();
    // Released whether the dialog ended normally or by an error.
    std::unique_ptr<TDownloadDialog> controller(DownloadDialog);
    // A second start for the same year shows the first one's window instead.
    if (!ClaimInstance(controller->GetYear())) {
        ShowRunningInstance(controller->GetYear());
        return;
    }
    // A language read right to left mirrors every window the program opens:
    // the bar grows from the right, the check box stands at the right.
    if (TextsReadRightToLeft()) ::SetProcessDefaultLayout(LAYOUT_RTL);
    if (::DialogBoxParamW(::GetModuleHandleW(nullptr), L"PROGRESS", nullptr, DialogProc, 0) == -1)
        RaiseLastSystemError();
    // A worker still blocked in the client (a silent server, a cancel the
    // client does not act on), or a close of its session not yet returned,
    // uses the controller until the process ends: end it now rather than
    // wait for a call that may never return, and without the DLLs' shutdown,
    // which could wait on that call and so keep the year's claim for ever.
    // An error that escaped the dialog meanwhile ends it the same way. The
    // partial file is kept either way.
    if (controller->StillInUse()) {
        controller.release();
        EndWithoutShutdown = true;
    }
    if (EscapedDialogError) std::rethrow_exception(EscapedDialogError);
    if (EndWithoutShutdown) return;
    if (const std::string* folder = controller->FolderToRemoveLater()) {
        // A new start may download anew meanwhile.
        ReleaseInstance();
        RemoveOwnFolderWhenFree(*folder, controller->InstallerName(), RemoveInUseForMs);
    }
}
