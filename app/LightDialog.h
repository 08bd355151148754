// The download controller: one per run. It owns the engine and the tracker,
// runs the progress dialog's handlers, the worker's job and the completion.
#pragma once

#include <windows.h>

#include <cstdint>
#include <exception>
#include <memory>
#include <string>

#include "ProgTracker.h"
#include "RunPhase.h"
#include "TaskbarProgress_win.h"
#include "Handles_win.h"
#include "Thread.h"
#include "TovDownload.h"
#include "TovUtil.h"

// Posted by the worker when its job has ended, whatever the outcome.
const UINT WM_DOWNLOAD_DONE = WM_USER + 101;
// Posted with a status text for the status line: an std::string the dialog
// takes over (lParam).
const UINT WM_DOWNLOAD_STATUS = WM_USER + 102;
// Posted while the worker waits before another attempt: the seconds left
// (wParam), 0 once the wait is over.
const UINT WM_DOWNLOAD_WAIT = WM_USER + 103;

enum : int {
    IDC_PROGRESS = 101,
    IDC_STATUS = 102,
    IDC_DETAIL = 103,
    IDC_SAVECOPY = 104,
};

// The HTTPS host of this build (host or host:port).
extern const char* const DownloadHost;
// How many requests one download of this build may make.
extern const unsigned DownloadAttempts;

class TDownloadThread;

class TDownloadDialog {
public:
    TDownloadDialog();
    virtual ~TDownloadDialog();
    TDownloadDialog(const TDownloadDialog&) = delete;
    TDownloadDialog& operator=(const TDownloadDialog&) = delete;

    // The dialog's handlers (DialogProc, on the user-interface thread).
    void InitDialog(HWND window);
    void CloseRequested();
    void SaveCopyClicked();
    void StatusArrived(const std::string& text);
    void ShowRetryWait(unsigned secondsLeft);
    void ThreadDone();
    void TimerElapsed(UINT_PTR timer);
    void Failed(HWND window, const std::string& text);
    void Destroyed(HWND window);
    INT_PTR OtherMessage(UINT message) { return Taskbar.ButtonCreated(message); }

    // What the main block reads once the dialog has ended.
    const std::string& GetYear() const { return Year; }
    // The worker (or a close of its session) still uses the controller: the
    // process must end without releasing it.
    bool StillInUse() const;
    // The run's folder, when something still held it as the dialog ended;
    // and the installer's name in it.
    const std::string* FolderToRemoveLater() const { return RemoveLater ? &TempFolder : nullptr; }
    const std::string& InstallerName() const { return FileName; }

private:
    // The silence clock's tick, and the wait for a worker after a cancel.
    enum : UINT_PTR { SilenceTimer = 1, GiveUpTimer = 2 };

    void SetItemText(int id, const char* text);
    std::string ItemText(int id) const;
    void AbortDownload();
    void CheckSilence();
    void GiveUpOnWorker();

    // On the worker's thread: the job, and the engine's notices it calls.
    void DownloadJob();
    void DownloadProgress(int64_t received, int64_t total);
    void DownloadStatus(const char* text);
    void DownloadWaiting(unsigned secondsLeft);

    // The completion (Completion_win.cpp), on the user-interface thread.
    void Finish();
    void RaiseIfFailed();
    void CheckSigner(TKernelHandle& held);
    bool ChooseToRun();
    bool SaveInstallerAs();
    void RunInstaller(TKernelHandle& held);
    HANDLE StartInstallerAnswering();
    void RemoveFolder();

    HWND Wnd = nullptr;
    HWND ProgressBar = nullptr;
    TRunPhase Phase;
    bool SaveCopy = false;
    std::string Caption;
    std::string Year;
    std::string Serial;
    std::string Url;
    // When the worker's end arrived: a start refused soon after is tried again.
    DWORD DownloadEnded = 0;
    bool WaitingShown = false;
    bool RetryWaiting = false;
    std::string StatusBeforeWaiting;
    TDownloadThread* Thread = nullptr;
    std::unique_ptr<TTovDownload> Downloader;
    // The temporary folder; the run's own folder in it and the installer
    // there, set by the worker before it downloads (read on this thread only
    // once the worker has ended).
    std::string TempDir;
    std::string TempFolder;
    std::string TempFile;
    std::string FileName;
    // The folder could not go yet (its file still held): removed after the
    // dialog has ended.
    bool RemoveLater = false;
    std::unique_ptr<TProgressTracker> Tracker;
    TTaskbarProgress Taskbar;
};

// The worker: runs one bound job, the controller's DownloadJob.
class TDownloadThread final : public TThread {
public:
    struct TJob {
        void (*Code)(void* self) = nullptr;
        void* Data = nullptr;
    };
    explicit TDownloadThread(TJob job);

protected:
    void Execute() override;

private:
    TJob Job;
};

extern TDownloadDialog* DownloadDialog;

INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
void SetDialogIcons(HWND window);
std::string LoadStringResource(int id);

// An error of a foreign type stopped in DialogProc, since nothing may unwind
// through the dialog manager; the main block raises it again once the dialog
// has ended.
extern std::exception_ptr EscapedDialogError;

// For the completion's file: the boxes the dialog shows, and a long step run
// while the dialog keeps answering.
void ShowError(HWND owner, const std::string& text);
int Ask(HWND owner, unsigned questionId);
template <typename Step>
void RunAnswering(HWND dialog, Step&& step);

// Runs one long step of the completion on a thread of its own, so that the
// dialog's thread keeps answering meanwhile (a copy to a slow network folder,
// say); the dialog takes no input until it is done. What the step raises is
// raised here.
template <typename Step>
void RunAnswering(HWND dialog, Step&& step) {
    const TDisabledControls busy(dialog);
    TDownloadThread::TJob job;
    job.Code = [](void* data) { (*static_cast<Step*>(data))(); };
    job.Data = &step;
    TDownloadThread thread(job);
    thread.WaitForEnd();
    if (std::exception_ptr error = thread.CapturedError()) std::rethrow_exception(error);
}
