#include "TovDownload.h"

#include <cstring>

#include "Exceptions.h"
#include "Format.h"
#include "Texts.h"
#include "iTovInetUtils.h"

namespace {

// NO_CACHE_WRITE: the body goes to the caller's stream only; without it the
// client keeps a second full copy of every installer in the user's cache.
const DWORD OpenUrlFlags = INTERNET_FLAG_NO_COOKIES | INTERNET_FLAG_NO_AUTH |
                           INTERNET_FLAG_RESYNCHRONIZE | INTERNET_FLAG_NO_UI |
                           INTERNET_FLAG_NO_CACHE_WRITE;  // 0x040C0A00
const DWORD ReadFlags = IRF_SYNC | IRF_NO_WAIT;                                 // 12
const DWORD BlockSize = 4096;
static_assert(sizeof(INTERNET_BUFFERSA) == (sizeof(void*) == 4 ? 40 : 56), "the client expects the platform's record");

// Windows' client waits an hour for data by default. RECEIVE and SEND are the
// ones it documents for HTTP; some clients honour only DATA_RECEIVE, and only
// for reads of the body. None bounds every wait (a TLS set-up that never ends),
// which is why the dialog keeps its own clock.
void SetTimeouts(HINTERNET handle) {
    DWORD ms = SilenceTimeoutMs;
    for (DWORD option : {INTERNET_OPTION_RECEIVE_TIMEOUT, INTERNET_OPTION_SEND_TIMEOUT,
                         INTERNET_OPTION_DATA_RECEIVE_TIMEOUT})
        ::InternetSetOptionA(handle, option, &ms, sizeof ms);
}

// The address the request finally answered from, after any redirections.
std::string FinalUrl(HINTERNET request) {
    std::string url(INTERNET_MAX_URL_LENGTH, '\0');
    DWORD length = static_cast<DWORD>(url.size());
    if (!::InternetQueryOptionA(request, INTERNET_OPTION_URL, &url[0], &length)) {
        if (::GetLastError() != ERROR_INSUFFICIENT_BUFFER) RaiseLastInternetError();
        url.assign(length, '\0');
        if (!::InternetQueryOptionA(request, INTERNET_OPTION_URL, &url[0], &length))
            RaiseLastInternetError();
    }
    url.resize(std::strlen(url.c_str()));  // the reported length differs between clients
    return url;
}

// The clock of every silence: milliseconds the machine was awake, wrapping
// and compared by difference. GetTickCount counts sleep too, and the first
// look after the lid opens again would find the server silent for minutes.
uint32_t AwakeMs() {
    ULONGLONG units = 0;  // of 100 ns
    ::QueryUnbiasedInterruptTime(&units);
    return static_cast<uint32_t>(units / 10000);
}

bool IsHttps(const std::string& url) {
    return url.size() >= 6 && ::CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, url.c_str(), 6,
                                               "https:", 6) == CSTR_EQUAL;
}

}  // namespace

// Silent since it was made: a clock read before the first download has
// started must not find it silent since the machine started.
TTovDownload::TTovDownload(std::string agentName) : AgentName(std::move(agentName)) {
    LastBlock = LastNotice = AwakeMs();
}

void TTovDownload::DoStatus(unsigned textId) {
    if (OnStatus) OnStatus(LoadText(textId).c_str());
}

void TTovDownload::StatusChanged(uint32_t code) {
    LastNotice = AwakeMs();
    switch (code) {
    case INTERNET_STATUS_RESOLVING_NAME: DoStatus(IDS_PREPARING); break;
    case INTERNET_STATUS_CONNECTING_TO_SERVER: DoStatus(IDS_CONNECTING); break;
    case INTERNET_STATUS_SENDING_REQUEST: DoStatus(IDS_REQUESTING); break;
    case INTERNET_STATUS_REQUEST_SENT: DoStatus(IDS_DOWNLOADING); break;
    case INTERNET_STATUS_CLOSING_CONNECTION: DoStatus(IDS_FINISHING); break;
    default: break;  // the session is released by whoever closes it, never here
    }
}

uint32_t TTovDownload::SilentFor() const {
    // Read before the clock: a block stored after it would look 49 days old.
    const uint32_t notice = LastNotice, block = LastBlock;
    const uint32_t now = AwakeMs();
    return now - notice < now - block ? now - notice : now - block;
}

void CALLBACK TTovDownload::InternetStatusCallback(HINTERNET, DWORD_PTR context, DWORD status,
                                                   LPVOID, DWORD) {
    // Nothing may unwind through the client's frames; a status text is only
    // cosmetic, so an error while showing one is dropped.
    try {
        if (context) reinterpret_cast<TTovDownload*>(context)->StatusChanged(status);
    } catch (...) {
    }
}

void TTovDownload::CloseSession() {
    if (HINTERNET session = Session.exchange(nullptr)) ::InternetCloseHandle(session);
}

namespace {

DWORD CALLBACK CloseInBackground(void* session) {
    ::InternetCloseHandle(static_cast<HINTERNET>(session));
    return 0;
}

}  // namespace

void TTovDownload::Abort() {
    Aborted = true;
    // Closed on a pool thread, never on the caller's: a close may wait for a
    // notice in progress, and the notice may be waiting for the caller (the
    // dialog's thread takes every status text). Should the pool refuse, the
    // download's own end closes it.
    if (HINTERNET session = Session.exchange(nullptr))
        if (!::QueueUserWorkItem(CloseInBackground, session, WT_EXECUTEDEFAULT)) Session.store(session);
}

void TTovDownload::Download(const std::string& url, TStream& stream) {
    char block[BlockSize];
    int64_t received = 0;
    LastBlock = LastNotice = AwakeMs();

    HINTERNET session = ::InternetOpenA(AgentName.c_str(), INTERNET_OPEN_TYPE_PRECONFIG, nullptr,
                                        nullptr, 0);
    if (!session) RaiseLastInternetError();
    Session.store(session);
    struct SessionRelease {
        TTovDownload* engine;
        ~SessionRelease() { engine->CloseSession(); }
    } sessionRelease{this};

    ::InternetSetStatusCallback(session, &TTovDownload::InternetStatusCallback);
    SetTimeouts(session);

    // Declared after the session guard: closed first.
    TInternetHandle request(::InternetOpenUrlA(session, url.c_str(), nullptr, 0, OpenUrlFlags,
                                               reinterpret_cast<DWORD_PTR>(this)));
    if (!request) RaiseLastInternetError();
    SetTimeouts(request.Get());

    // The client follows redirections silently, to plain HTTP too; an
    // installer that travelled unauthenticated is never accepted.
    const std::string finalUrl = FinalUrl(request.Get());
    if (!IsHttps(finalUrl)) throw Exception(Format(LoadText(IDS_INSECURE_REDIRECT), {finalUrl}));

    uint32_t status = 0;
    if (!QueryInfoNumber(request.Get(), HTTP_QUERY_STATUS_CODE, status)) RaiseLastInternetError();
    if (status != HTTP_STATUS_OK) {
        std::string reason;
        QueryInfoString(request.Get(), HTTP_QUERY_STATUS_TEXT, reason);
        throw Exception(Format("%s (%d)", {reason, status}));
    }

    FileName.clear();
    QueryFileName(request.Get(), FileName);
    int64_t total = 0;
    QueryContentLength(request.Get(), total);

    uint32_t lastBlock = LastBlock = AwakeMs();
    for (;;) {
        INTERNET_BUFFERSA buffers = {};
        buffers.dwStructSize = sizeof buffers;
        buffers.lpvBuffer = block;
        buffers.dwBufferLength = BlockSize;
        if (!::InternetReadFileExA(request.Get(), &buffers, ReadFlags, 0)) RaiseLastInternetError();
        const DWORD n = buffers.dwBufferLength;
        const uint32_t arrived = AwakeMs();
        // A read that waited out the time-out failed, whatever it returned:
        // a client that gives up on a silent server may end it as if the
        // body had ended, or hand over what it held when the server closes.
        if (!Aborted && arrived - lastBlock >= SilenceTimeoutMs)
            RaiseInternetError(ERROR_INTERNET_TIMEOUT);
        LastBlock = lastBlock = arrived;
        received += n;
        if (OnProgress) OnProgress(received, total);
        stream.WriteBuffer(block, n);
        if (n == 0 || Aborted) break;
    }

    // The client reports a connection closed early exactly like a normal end.
    if (!Aborted && total > 0 && received < total)
        throw Exception(
            Format(LoadText(IDS_INCOMPLETE), {received, total}));

    DoStatus(IDS_COMPLETED);
}
