#include "LightDialog.h"

#include <commctrl.h>
#include <commdlg.h>
#include <shellapi.h>

#include <cwchar>


#include "Exceptions.h"
#include "FileStream.h"
#include "InstallerTrust.h"
#include "Format.h"
#include "SingleInstance_win.h"
#include "SystemError.h"
#include "Texts.h"
#include "TovUtil.h"
#include "WideText_win.h"
#include "iTovInetUtils.h"

TDownloadDialog* DownloadDialog = nullptr;
std::exception_ptr EscapedDialogError;

namespace {

const UINT QuestionStyle = MB_YESNO | MB_ICONQUESTION | MB_TASKMODAL | MB_SETFOREGROUND;  // 0x12024
const UINT ErrorStyle = MB_OK | MB_ICONERROR | MB_TASKMODAL | MB_SETFOREGROUND;           // 0x12010

// The silence clock ticks where the dialog lives, so that no call blocked in
// the client can stop it; the worker only records that something arrived.
const UINT_PTR SilenceTimer = 1;
const UINT SilenceTickMs = 250;
const uint32_t WaitingAfterMs = 5000;
// After Yes to "Cancel Download?": how long the worker has to come back from
// the closed session before the dialog ends without it.
const UINT_PTR GiveUpTimer = 2;
const UINT GiveUpAfterMs = 1000;

void ShowError(HWND owner, const std::string& text) {
    ShowMessageBox(owner, text, LoadText(IDS_BOX_CAPTION), ErrorStyle);
}

int Ask(HWND owner, unsigned questionId) {
    return ShowMessageBox(owner, LoadText(questionId), LoadText(IDS_BOX_CAPTION), QuestionStyle);
}

HANDLE CreateInstallerFile(const std::string& path) {
    HANDLE file = ::CreateFileW(ToWide(path).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) RaiseCannotCreate(path, ::GetLastError());
    return file;
}

// Runs one long step of the completion on a thread of its own, so that the
// dialog's thread keeps answering meanwhile (a copy to a slow network folder,
// say); the dialog takes no input until it is done. What the step raises is
// raised here.
template <typename Step>
void RunAnswering(HWND dialog, Step&& step) {
    const TDisabledWindow busy(dialog);
    TDownloadThread::TJob job;
    job.Code = [](void* data) { (*static_cast<Step*>(data))(); };
    job.Data = &step;
    TDownloadThread thread(job);
    thread.WaitForEnd();
    if (std::exception_ptr error = thread.CapturedError()) std::rethrow_exception(error);
}

// The user's decimal separator, read once at start-up. The tracker takes one
// byte of UTF-8; any other separator (the Arabic one, say) falls back to the
// full stop.
char LocaleDecimalSeparator() {
    wchar_t text[8] = {};
    if (::GetLocaleInfoW(LOCALE_USER_DEFAULT, LOCALE_SDECIMAL, text, 8) == 2 && text[0] > L' ' && text[0] < 0x80)
        return static_cast<char>(text[0]);
    return '.';
}

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

// --- Construction ------------------------------------------------------------

std::string LoadStringResource(int id) {
    if (id < 0) throw ERangeError();
    std::string text = LoadText(static_cast<unsigned>(id));
    if (text.empty()) RaiseLastSystemError();
    return text;
}

TDownloadDialog::TDownloadDialog() {
    Caption = LoadText(IDS_BOX_CAPTION);
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
    // Only a worker that came back is released (the main block never frees
    // a controller whose worker is still inside the client).
    delete Thread;
    Downloader.reset();
    Tracker.reset();
}

// --- The dialog --------------------------------------------------------------

void SetDialogIcons(HWND window) {
    HINSTANCE module = ::GetModuleHandleW(nullptr);
    if (HANDLE big = ::LoadImageW(module, L"MAINICON", IMAGE_ICON, ::GetSystemMetrics(SM_CXICON),
                                  ::GetSystemMetrics(SM_CYICON), LR_DEFAULTCOLOR))
        ::SendMessageW(window, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(big));
    if (HANDLE small = ::LoadImageW(module, L"MAINICON", IMAGE_ICON, ::GetSystemMetrics(SM_CXSMICON),
                                    ::GetSystemMetrics(SM_CYSMICON), LR_DEFAULTCOLOR))
        ::SendMessageW(window, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(small));
}

void TDownloadDialog::InitDialog(HWND window) {
    Wnd = window;
    Caption = Format(LoadText(IDS_CAPTION), {Year});
    ::SetWindowTextW(window, ToWide(Caption).c_str());
    // The template's texts are English; the language's replace them.
    SetItemText(IDC_STATUS, LoadText(IDS_INITIALIZING).c_str());
    SetItemText(IDC_SAVECOPY, LoadText(IDS_SAVE_COPY).c_str());
    ProgressBar = ::GetDlgItem(window, IDC_PROGRESS);
    Taskbar.Attach(window, ProgressBar);
    MarkInstanceWindow(window, Year, false);
    FileName = Format("Quillet_%s_Setup.exe", {Year});
    TempDir = GetTempDir();
    if (Thread)
        throw EAssertionFailed(Format("%s (%s, line %d)", {"Assertion failure", "LightDialog", 227}));
    TDownloadThread::TJob job;
    job.Code = [](void* self) { static_cast<TDownloadDialog*>(self)->DownloadJob(); };
    job.Data = this;
    Thread = new TDownloadThread(job);
    ::SetTimer(window, SilenceTimer, SilenceTickMs, nullptr);
    // After the worker's start: decoding the icons takes a few milliseconds,
    // and the dialog is shown only once this returns either way.
    SetDialogIcons(window);
}

void TDownloadDialog::SetItemText(int id, const char* text) {
    // Sent, not posted: the text only has to live for the call.
    ::SendDlgItemMessageW(Wnd, id, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(ToWide(text).c_str()));
}

std::string TDownloadDialog::ItemText(int id) const {
    wchar_t text[256] = {};
    int n = ::GetDlgItemTextW(Wnd, id, text, 256);
    return ToUtf8(text, n > 0 ? static_cast<size_t>(n) : 0);
}

void TDownloadDialog::DownloadProgress(int64_t received, int64_t total) {
    if (received == 0) return;
    Tracker->Update(received, total);
    if (Tracker->TextChanged()) SetItemText(IDC_DETAIL, Tracker->GetProgressText().c_str());
    // Posted, not sent: the worker must never wait for the bar.
    if (Tracker->PercentChanged())
        ::PostMessageW(ProgressBar, PBM_SETPOS, static_cast<WPARAM>(Tracker->Percent), 0);
}

void TDownloadDialog::DownloadStatus(const char* text) {
    // Posted, not sent: the worker goes on connecting while the dialog is
    // still busy showing itself. Posted messages keep their order, so the
    // texts, and the end of the job after them, arrive as they were sent.
    auto* copy = new std::string(text);
    if (!::PostMessageW(Wnd, WM_DOWNLOAD_STATUS, 0, reinterpret_cast<LPARAM>(copy))) delete copy;
}

void TDownloadDialog::CloseRequested() {
    // Once the completion has begun there is no download left to cancel.
    if (Finishing) return;
    Confirming = true;
    Taskbar.Paused(true);
    int answer = Ask(Wnd, IDS_ASK_CANCEL);
    Taskbar.Paused(false);
    Confirming = false;
    if (answer == IDYES) AbortDownload();
    Finish();
}

void TDownloadDialog::AbortDownload() {
    Cancelled = true;
    SetItemText(IDC_STATUS, LoadText(IDS_ABORTING).c_str());
    Downloader->Abort();
    // Closing the session ends a blocked call on Windows, but not on every
    // client: the program ends either way.
    if (!ThreadFinished) ::SetTimer(Wnd, GiveUpTimer, GiveUpAfterMs, nullptr);
}

void TDownloadDialog::ThreadDone() {
    ThreadFinished = true;
    Finish();
}

void TDownloadDialog::TimerElapsed(UINT_PTR timer) {
    if (timer == SilenceTimer) CheckSilence();
    if (timer == GiveUpTimer && !WorkerGivenUp) GiveUpOnWorker();
}

void TDownloadDialog::CheckSilence() {
    if (ThreadFinished || Cancelled || TimedOut) return;
    const uint32_t silent = Downloader->SilentFor();
    if (silent >= SilenceTimeoutMs) {
        // Failed as the client fails a time-out; a question on screen is
        // answered first, as when the download ends meanwhile.
        TimedOut = true;
        GiveUpOnWorker();
    } else if (silent >= WaitingAfterMs && !WaitingShown) {
        WaitingShown = true;
        StatusBeforeWaiting = ItemText(IDC_STATUS);
        SetItemText(IDC_STATUS, LoadText(IDS_WAITING).c_str());
    } else if (silent < WaitingAfterMs && WaitingShown) {
        // A notice meanwhile has put up its own text already.
        WaitingShown = false;
        if (ItemText(IDC_STATUS) == LoadText(IDS_WAITING)) SetItemText(IDC_STATUS, StatusBeforeWaiting.c_str());
    }
}

void TDownloadDialog::GiveUpOnWorker() {
    WorkerGivenUp = true;
    Downloader->Abort();
    Finish();
}

INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
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
            // Read once the completion has begun: a late click changes nothing.
            if (wParam == IDC_SAVECOPY && !DownloadDialog->Finishing)
                DownloadDialog->SaveCopy = !DownloadDialog->SaveCopy;
            break;
        case WM_DOWNLOAD_STATUS: {
            const std::unique_ptr<std::string> text(reinterpret_cast<std::string*>(lParam));
            DownloadDialog->SetItemText(IDC_STATUS, text->c_str());
            break;
        }
        case WM_DOWNLOAD_DONE:
            DownloadDialog->ThreadDone();
            break;
        case WM_TIMER:
            DownloadDialog->TimerElapsed(wParam);
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
        ShowError(window, e.Message());
        if (Ask(window, IDS_ASK_BROWSER) == IDYES)
            ::ShellExecuteW(window, L"open", ToWide(DownloadDialog->Url).c_str(), nullptr, nullptr, SW_SHOWNORMAL);
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
        ~PostDone() { ::PostMessageW(wnd, WM_DOWNLOAD_DONE, 0, 0); }
    } postDone{Wnd};

    // A folder of this run's own: nothing else in the temporary folder is
    // beside the installer when it runs (a planted DLL), and nobody else can
    // create or change its file. What earlier runs left goes first.
    TempFolder = CreateOwnFolder(TempDir, Format("Quillet_%s_", {Year}));
    TempFile = TempFolder + FileName;
    TFileStream stream(CreateInstallerFile(TempFile));
    Downloader->Download(Url, stream);
    if (stream.Size() == 0) throw Exception(LoadText(IDS_NOT_ON_SERVER));
    ::Sleep(500);
}

// --- Completion --------------------------------------------------------------

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

void TDownloadDialog::Finish() {
    if (Confirming || Finishing || !(ThreadFinished || WorkerGivenUp)) return;
    Finishing = true;
    // The one place the timers stop; until then the flags above keep a late
    // tick from acting twice.
    ::KillTimer(Wnd, SilenceTimer);
    ::KillTimer(Wnd, GiveUpTimer);

    // However this ends, a worker that came back is released last, and
    // Thread never names a half-destroyed object. One still inside the
    // client keeps the controller: the main block ends the process without
    // releasing either.
    struct ReleaseWorker {
        TDownloadDialog* self;
        ~ReleaseWorker() {
            if (!self->ThreadFinished) return;
            TDownloadThread* worker = self->Thread;
            self->Thread = nullptr;
            delete worker;
        }
    } releaseWorker{this};

    if (ThreadFinished) Thread->WaitForEnd();
    if (Cancelled) {
        ::EndDialog(Wnd, 0);
        return;
    }
    if (TimedOut) RaiseFailure(TimeoutError());
    if (std::exception_ptr captured = Thread->CapturedError()) RaiseFailure(captured);

    // Checked before anything is offered or run, and held open from the check
    // until the installer has started, so the file checked is the file run.
    TKernelHandle held;
    if (*ExpectedSigner) {
        held = HoldInstaller(TempFile);
        bool trusted = false;
        RunAnswering(Wnd, [&] { trusted = InstallerSignedBy(held.Get(), TempFile, ExpectedSigner); });
        if (!trusted) {
            held.Reset();
            RemoveOwnFolder(TempFolder);
            throw Exception(Format(LoadText(IDS_NOT_SIGNED), {ExpectedSigner}));
        }
    }

    Taskbar.Completed();
    bool run = true;
    if (SaveCopy && SaveInstallerAs()) {
        int answer = Ask(Wnd, IDS_ASK_CONTINUE);
        if (answer == 0) RaiseLastSystemError();
        if (answer == IDNO) run = false;
    }
    bool installed = false;
    if (run) {
        // A later start leaves the screen to the installer meanwhile.
        struct InstallingMark {
            TDownloadDialog* self;
            ~InstallingMark() { MarkInstanceWindow(self->Wnd, self->Year, false); }
        } installing{this};
        MarkInstanceWindow(Wnd, Year, true);
        installed = RunAndWait(Wnd, TempFile, &held);
    }
    held.Reset();
    if (!::DeleteFileW(ToWide(TempFile).c_str())) {
        const DWORD code = ::GetLastError();
        // What a good install left running (a copy it started, a scanner)
        // still holds the file: the program removes it once it is free.
        if (installed && (code == ERROR_ACCESS_DENIED || code == ERROR_SHARING_VIOLATION))
            RemoveLater = true;
        else if (code != ERROR_FILE_NOT_FOUND && code != ERROR_PATH_NOT_FOUND)
            RaiseSystemError(code);
    }
    if (!RemoveLater) RemoveOwnFolder(TempFolder);
    ::EndDialog(Wnd, 0);
}
