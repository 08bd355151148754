#include <windows.h>

#include <exception>
#include <memory>

#include "LightDialog.h"
#include "Main.h"
#include "SystemError.h"

void MainBlock() {
    DownloadDialog = new TDownloadDialog();
    // Released whether the dialog ended normally or by an error.
    std::unique_ptr<TDownloadDialog> controller(DownloadDialog);
    if (::DialogBoxParamA(::GetModuleHandleA(nullptr), "PROGRESS", nullptr, DialogProc, 0) == -1)
        RaiseLastSystemError();
    if (EscapedDialogError) std::rethrow_exception(EscapedDialogError);
}
