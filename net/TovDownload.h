// The download engine: fetches one URL with WinInet into a caller's stream,
// turning the client's notifications into status texts and reporting the
// byte count after every block.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "Stream.h"

// How long the server may stay silent (no notice of the client's, no block)
// before the download fails as timed out: WinHTTP's default receive time-out.
// The client's own time-outs are set to it too, where the client honours them.
const uint32_t SilenceTimeoutMs = 30000;

#ifdef _WIN32
#include <windows.h>
#include <wininet.h>

#include "Handles_win.h"
#else
typedef void* HINTERNET;
#endif

// Bound callbacks: an operation together with the object it runs on.
struct ProgressEvent {
    void (*Code)(void* self, int64_t received, int64_t total) = nullptr;
    void* Data = nullptr;
    explicit operator bool() const { return Code != nullptr; }
    void operator()(int64_t received, int64_t total) const { Code(Data, received, total); }
};

struct StatusEvent {
    void (*Code)(void* self, const char* text) = nullptr;
    void* Data = nullptr;
    explicit operator bool() const { return Code != nullptr; }
    void operator()(const char* text) const { Code(Data, text); }
};

// Binds a member function of T to an object, e.g.
//   engine.OnStatus = BindStatus<&TDownloadDialog::DownloadStatus>(dialog);
template <auto Method, typename T>
ProgressEvent BindProgress(T* object) {
    ProgressEvent e;
    e.Code = [](void* self, int64_t received, int64_t total) {
        (static_cast<T*>(self)->*Method)(received, total);
    };
    e.Data = object;
    return e;
}

// A wait between two attempts: the whole seconds left, then 0 once it is over.
struct WaitEvent {
    void (*Code)(void* self, unsigned secondsLeft) = nullptr;
    void* Data = nullptr;
    explicit operator bool() const { return Code != nullptr; }
    void operator()(unsigned secondsLeft) const { Code(Data, secondsLeft); }
};

template <auto Method, typename T>
WaitEvent BindWait(T* object) {
    WaitEvent e;
    e.Code = [](void* self, unsigned secondsLeft) { (static_cast<T*>(self)->*Method)(secondsLeft); };
    e.Data = object;
    return e;
}

template <auto Method, typename T>
StatusEvent BindStatus(T* object) {
    StatusEvent e;
    e.Code = [](void* self, const char* text) { (static_cast<T*>(self)->*Method)(text); };
    e.Data = object;
    return e;
}

class TTovDownload {
public:
    // `attempts`: how many requests one download may make; 1 makes one and
    // never asks for a range.
    TTovDownload(std::string agentName, unsigned attempts);
    TTovDownload(const TTovDownload&) = delete;
    TTovDownload& operator=(const TTovDownload&) = delete;

    // Fetches `url` into `stream`, resuming or starting over after a failure
    // another attempt may cure. Returns when the body has been read to its
    // end or an abort was noticed; raises the last attempt's failure
    // otherwise. The stream holds a prefix of one version of the file.
    void Download(const std::string& url, TStream& stream);
    // Any thread, any time: marks the engine aborted and has its session
    // closed; returns without waiting for the client.
    void Abort();
    // A close that Abort started has not returned yet: the client may still
    // call the engine (a notice), so the engine must not be released.
    bool Closing() const { return ClosesUnderWay != 0; }

    void DoStatus(unsigned textId);
    void StatusChanged(uint32_t code);
    // Any thread: how long ago (ms of time awake, so a machine's sleep is
    // not the server's silence) the client last reported anything or a block
    // last arrived.
    uint32_t SilentFor() const;
    // Any thread: the download is past saving, a call of the client's being
    // blocked for the time-out, and, where attempts are retried, no byte
    // having come for as long as they are allowed.
    bool Stalled() const;

    std::atomic<bool> Aborted{false};
    ProgressEvent OnProgress;
    StatusEvent OnStatus;
    WaitEvent OnWait;
    std::string FileName;
    const std::string AgentName;
    const unsigned Attempts;

private:
    // Taken out with one exchange wherever it is closed, so it is closed once.
    std::atomic<HINTERNET> Session{nullptr};
    // Awake times (ms, wrapping, compared by difference) of the last notice
    // and the last block of data.
    std::atomic<uint32_t> LastNotice{0};
    std::atomic<uint32_t> LastBlock{0};
    std::atomic<int> ClosesUnderWay{0};
#ifdef _WIN32
    // Set by Abort: ends a wait between attempts at once.
    TKernelHandle AbortEvent;
#endif
    struct TAttempt;
    void CloseSession();
    void Attempt(const std::string& url, TStream& stream, TAttempt& attempt);
    bool WaitBeforeRetry(int64_t ms);
#ifdef _WIN32
    static void CALLBACK InternetStatusCallback(HINTERNET handle, DWORD_PTR context, DWORD status,
                                                LPVOID info, DWORD infoLength);
#endif
};
