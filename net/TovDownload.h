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

template <auto Method, typename T>
StatusEvent BindStatus(T* object) {
    StatusEvent e;
    e.Code = [](void* self, const char* text) { (static_cast<T*>(self)->*Method)(text); };
    e.Data = object;
    return e;
}

class TTovDownload {
public:
    explicit TTovDownload(std::string agentName);
    TTovDownload(const TTovDownload&) = delete;
    TTovDownload& operator=(const TTovDownload&) = delete;

    // Fetches `url` into `stream`. Returns when the body has been read to its
    // end or an abort was noticed between two blocks; raises otherwise.
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

    std::atomic<bool> Aborted{false};
    ProgressEvent OnProgress;
    StatusEvent OnStatus;
    std::string FileName;
    const std::string AgentName;

private:
    // Taken out with one exchange wherever it is closed, so it is closed once.
    std::atomic<HINTERNET> Session{nullptr};
    // Awake times (ms, wrapping, compared by difference) of the last notice
    // and the last block.
    std::atomic<uint32_t> LastNotice{0};
    std::atomic<uint32_t> LastBlock{0};
    std::atomic<int> ClosesUnderWay{0};
    void CloseSession();
#ifdef _WIN32
    static void CALLBACK InternetStatusCallback(HINTERNET handle, DWORD_PTR context, DWORD status,
                                                LPVOID info, DWORD infoLength);
#endif
};
