// The download controller: one per run. It owns the engine and the tracker,
// runs the progress dialog's handlers, the worker's job and the completion.
#pragma once

#include <windows.h>

#include <cstdint>
#include <exception>
#include <memory>
#include <string>

#include "ProgTracker.h"
#include "TaskbarProgress_win.h"
#include "Thread.h"
#include "TovDownload.h"

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

    void InitDialog(HWND window);
    void SetItemText(int id, const char* text);
    std::string ItemText(int id) const;
    void DownloadProgress(int64_t received, int64_t total);
    void DownloadStatus(const char* text);
    void DownloadWaiting(unsigned secondsLeft);
    void ShowRetryWait(unsigned secondsLeft);
    void CloseRequested();
    void AbortDownload();
    void ThreadDone();
    void TimerElapsed(UINT_PTR timer);
    void CheckSilence();
    void GiveUpOnWorker();
    void Finish();
    bool SaveInstallerAs();
    void DownloadJob();

    HWND Wnd = nullptr;
    HWND ProgressBar = nullptr;
    bool SaveCopy = false;
    std::string Caption;
    std::string Year;
    std::string Serial;
    std::string Url;
    bool Confirming = false;
    bool ThreadFinished = false;
    // Set on the user-interface thread only. Cancelled: Yes to "Cancel
    // Download?". TimedOut: the server was silent too long. WorkerGivenUp:
    // the dialog ends without waiting for a worker still blocked in the
    // client. Finishing: the completion has begun, and runs once.
    bool Cancelled = false;
    bool TimedOut = false;
    bool WorkerGivenUp = false;
    bool Finishing = false;
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
    // The install worked but its file is still in use: removed after the
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
