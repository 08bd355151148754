#include "LightDialog.h"

#include <commctrl.h>
#include <commdlg.h>
#include <shellapi.h>

#include <cstring>

#include "Exceptions.h"
#include "FileStream.h"
#include "InstallerTrust.h"
#include "Format.h"
#include "SingleInstance_win.h"
#include "SystemError.h"
#include "TovUtil.h"

TDownloadDialog* DownloadDialog = nullptr;
std::exception_ptr EscapedDialogError;

namespace {

const char BoxCaption[] = "Quillet Downloader";
const UINT QuestionStyle = MB_YESNO | MB_ICONQUESTION | MB_TASKMODAL | MB_SETFOREGROUND;  // 0x12024
const UINT ErrorStyle = MB_OK | MB_ICONERROR | MB_TASKMODAL | MB_SETFOREGROUND;           // 0x12010

int Ask(HWND owner, const char* question) { return ::MessageBoxA(owner, question, BoxCaption, QuestionStyle); }

HANDLE CreateInstallerFile(const std::string& path) {
    HANDLE file = ::CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) return file;
    DWORD code = ::GetLastError();
    char full[MaxPathBytes] = {};
    DWORD n = ::GetFullPathNameA(path.c_str(), sizeof full, full, nullptr);
    std::string shown = (n > 0 && n < sizeof full) ? std::string(full, n) : path;
    throw EFCreateError(Format("Cannot create file \"%s\". %s", {shown, SystemErrorText(code)}));
}

// The user's decimal separator, read once at start-up. In the process's code
// page (UTF-8), not the locale's: the detail line is shown in the former. A
// separator that takes more than one byte there falls back to the full stop.
char LocaleDecimalSeparator() {
    char text[8] = {};
    if (::GetLocaleInfoA(LOCALE_USER_DEFAULT, LOCALE_SDECIMAL | LOCALE_USE_CP_ACP, text, sizeof text) > 1 &&
        text[1] == '\0')
        return text[0];
    return '.';
}

}  // namespace

// --- Construction ------------------------------------------------------------

std::string LoadStringResource(int id) {
    if (id < 0) throw ERangeError();
    char buffer[4096];
    int length = ::LoadStringA(::GetModuleHandleA(nullptr), static_cast<UINT>(id), buffer, sizeof buffer);
    if (length <= 0) RaiseLastSystemError();
    return std::string(buffer, static_cast<size_t>(length));
}

TDownloadDialog::TDownloadDialog() {
    Caption = "Quillet Downloader";
    Year = LoadStringResource(0);
    Serial = LoadStringResource(1);
    // Concatenated, not formatted: the host is a build value and may hold '%'.
    Url = std::string("https://") + DownloadHost +
          Format("/installer.php?serial=%s&year=%s", {Serial, Year});
    Tracker.reset(new TProgressTracker());
    Tracker->DecimalSeparator = LocaleDecimalSeparator();
    Downloader.reset(new TTovDownload(Format("TovInstaller/%s", {GetVersionText()})));
    Downloader->OnProgress = BindProgress<&TDownloadDialog::DownloadProgress>(this);
    Downloader->OnStatus = BindStatus<&TDownloadDialog::DownloadStatus>(this);
}

TDownloadDialog::~TDownloadDialog() {
    Downloader.reset();
    Tracker.reset();
}

// --- The dialog --------------------------------------------------------------

void SetDialogIcons(HWND window) {
    HINSTANCE module = ::GetModuleHandleA(nullptr);
    if (HANDLE big = ::LoadImageA(module, "MAINICON", IMAGE_ICON, ::GetSystemMetrics(SM_CXICON),
                                  ::GetSystemMetrics(SM_CYICON), LR_DEFAULTCOLOR))
        ::SendMessageA(window, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(big));
    if (HANDLE small = ::LoadImageA(module, "MAINICON", IMAGE_ICON, ::GetSystemMetrics(SM_CXSMICON),
                                    ::GetSystemMetrics(SM_CYSMICON), LR_DEFAULTCOLOR))
        ::SendMessageA(window, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(small));
}

void TDownloadDialog::InitDialog(HWND window) {
    Wnd = window;
    SetDialogIcons(window);
    Caption = Format("Quillet for %s Downloader", {Year});
    ::SetWindowTextA(window, Caption.c_str());
    ProgressBar = ::GetDlgItem(window, IDC_PROGRESS);
    Taskbar.Attach(window, ProgressBar);
    MarkInstanceWindow(window, Year, false);
    FileName = Format("Quillet_%s_Setup.exe", {Year});
    TempFile = GetTempDir() + FileName;
    if (Thread)
        throw EAssertionFailed(Format("%s (%s, line %d)", {"Assertion failure", "LightDialog", 227}));
    TDownloadThread::TJob job;
    job.Code = [](void* self) { static_cast<TDownloadDialog*>(self)->DownloadJob(); };
    job.Data = this;
    Thread = new TDownloadThread(job);
}

void TDownloadDialog::SetItemText(int id, const char* text) {
    // Sent, not posted: the text only has to live for the call.
    ::SendDlgItemMessageA(Wnd, id, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text));
}

void TDownloadDialog::DownloadProgress(int64_t received, int64_t total) {
    if (received == 0) return;
    Tracker->Update(received, total);
    if (Tracker->TextChanged()) SetItemText(IDC_DETAIL, Tracker->GetProgressText().c_str());
    // Posted, not sent: the worker must never wait for the bar.
    if (Tracker->PercentChanged())
        ::PostMessageA(ProgressBar, PBM_SETPOS, static_cast<WPARAM>(Tracker->Percent), 0);
}

void TDownloadDialog::DownloadStatus(const char* text) { SetItemText(IDC_STATUS, text); }

void TDownloadDialog::CloseRequested() {
    Confirming = true;
    Taskbar.Paused(true);
    int answer = Ask(Wnd, "Cancel Download?");
    Taskbar.Paused(false);
    Confirming = false;
    if (answer == IDYES) AbortDownload();
    Finish();
}

void TDownloadDialog::AbortDownload() {
    SetItemText(IDC_STATUS, "Aborting...");
    Downloader->Abort();
}

void TDownloadDialog::ThreadDone() {
    ThreadFinished = true;
    Finish();
}

INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM) {
    INT_PTR result = TRUE;
    try {
        switch (message) {
        case WM_INITDIALOG:
            DownloadDialog->InitDialog(window);
            break;
        case WM_CLOSE:
            DownloadDialog->CloseRequested();
            break;
        case WM_COMMAND:
            if (wParam == IDCANCEL) DownloadDialog->CloseRequested();
            if (wParam == IDC_SAVECOPY) DownloadDialog->SaveCopy = !DownloadDialog->SaveCopy;
            break;
        case WM_DOWNLOAD_DONE:
            DownloadDialog->ThreadDone();
            break;
        case WM_DESTROY:
            RemoveInstanceMark(window, DownloadDialog->Year);
            result = FALSE;
            break;
        default:
            result = DownloadDialog->Taskbar.ButtonCreated(message);
        }
    } catch (const Exception& e) {
        DownloadDialog->Taskbar.Failed();
        ::MessageBoxA(window, e.Message().c_str(), BoxCaption, ErrorStyle);
        if (Ask(window, "Download failed. Do you want to attempt to download in your browser?") == IDYES)
            ::ShellExecuteA(window, "open", DownloadDialog->Url.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
        ::EndDialog(window, 0);
        result = TRUE;
    } catch (...) {
        if (!EscapedDialogError) EscapedDialogError = std::current_exception();
        ::EndDialog(window, 0);
        result = TRUE;
    }
    return result;
}

// --- The worker --------------------------------------------------------------

TDownloadThread::TDownloadThread(TJob job) : Job(job) { Start(); }

void TDownloadThread::Execute() { Job.Code(Job.Data); }

void TDownloadDialog::DownloadJob() {
    // Declared first, so it runs last: the file is closed before the message
    // goes out, and the message goes out on every path.
    struct PostDone {
        HWND wnd;
        ~PostDone() { ::PostMessageA(wnd, WM_DOWNLOAD_DONE, 0, 0); }
    } postDone{Wnd};

    TFileStream stream(CreateInstallerFile(TempFile));
    Downloader->Download(Url, stream);
    if (stream.Size() == 0) throw Exception("Could not be found on server");
    ::Sleep(500);
}

// --- Completion --------------------------------------------------------------

bool TDownloadDialog::SaveInstallerAs() {
    // Sized for UTF-8: a folder name of other scripts takes two or three
    // bytes a character, and a buffer too small makes the dialog fail.
    char file[MaxPathBytes] = {};
    std::strncpy(file, FileName.c_str(), MAX_PATH);

    OPENFILENAMEA ofn = {};
    static_assert(sizeof ofn == 88, "the record with its trailing reserved fields");
    ofn.lStructSize = sizeof ofn;
    ofn.hwndOwner = Wnd;
    ofn.lpstrFile = file;
    ofn.nMaxFile = sizeof file;
    ofn.lpstrTitle = "Save Downloader";
    ofn.Flags = OFN_OVERWRITEPROMPT | OFN_NOCHANGEDIR;
    ofn.lpstrDefExt = "exe";

    while (!::GetSaveFileNameA(&ofn)) {
        if (Ask(Wnd, "Are you sure you don't want to save the Installer?") == IDYES) return false;
    }
    if (!::CopyFileA(TempFile.c_str(), file, FALSE)) RaiseLastSystemError();
    return true;
}

void TDownloadDialog::Finish() {
    if (Confirming || !ThreadFinished) return;

    // However this ends, the worker is released last, and Thread never names
    // a half-destroyed object.
    struct ReleaseWorker {
        TDownloadDialog* self;
        ~ReleaseWorker() {
            TDownloadThread* worker = self->Thread;
            self->Thread = nullptr;
            delete worker;
        }
    } releaseWorker{this};

    Thread->WaitForEnd();

    if (Downloader->Aborted) {
        ::EndDialog(Wnd, 0);
        return;
    }

    if (std::exception_ptr captured = Thread->CapturedError()) {
        try {
            std::rethrow_exception(captured);
        } catch (const Exception& e) {
            throw Exception(Format("Download Failed: %s", {e.Message()}));
        } catch (...) {
            throw Exception("Download Failed");
        }
    }

    // Checked before anything is offered or run, and held open from the check
    // until the installer has started, so the file checked is the file run.
    TKernelHandle held;
    if (*ExpectedSigner) {
        held = HoldInstaller(TempFile);
        if (!InstallerSignedBy(held.Get(), TempFile, ExpectedSigner)) {
            held.Reset();
            ::DeleteFileA(TempFile.c_str());
            throw Exception(Format("Download Failed: The downloaded installer is not signed by %s",
                                   {ExpectedSigner}));
        }
    }

    Taskbar.Completed();
    bool run = true;
    if (SaveCopy && SaveInstallerAs()) {
        int answer = Ask(Wnd, "Continue with Installation?");
        if (answer == 0) RaiseLastSystemError();
        if (answer == IDNO) run = false;
    }
    if (run) {
        // A later start leaves the screen to the installer meanwhile.
        struct InstallingMark {
            TDownloadDialog* self;
            ~InstallingMark() { MarkInstanceWindow(self->Wnd, self->Year, false); }
        } installing{this};
        MarkInstanceWindow(Wnd, Year, true);
        RunAndWait(Wnd, TempFile, &held);
    }
    held.Reset();
    if (!::DeleteFileA(TempFile.c_str())) RaiseLastSystemError();
    ::EndDialog(Wnd, 0);
}
