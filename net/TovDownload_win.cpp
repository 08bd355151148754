#include "TovDownload.h"

#include <cstring>
#include <memory>

#include "Exceptions.h"
#include "Format.h"
#include "Resume.h"
#include "SystemError.h"
#include "Texts.h"
#include "iTovInetUtils.h"

namespace {

// NO_CACHE_WRITE: the body goes to the caller's stream only; without it the
// client keeps a second full copy of every installer in the user's cache (and
// would store a resumed part as the whole address's entry). RELOAD: every
// attempt goes to the server, never to a copy another program cached.
const DWORD OpenUrlFlags = INTERNET_FLAG_NO_COOKIES | INTERNET_FLAG_NO_AUTH |
                           INTERNET_FLAG_RESYNCHRONIZE | INTERNET_FLAG_NO_UI |
                           INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_RELOAD;  // 0x840C0A00
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

// Seconds since 1970 (UTC), the clock a Retry-After date is read against.
int64_t UnixNow() {
    FILETIME now;
    ::GetSystemTimeAsFileTime(&now);
    const int64_t units = (static_cast<int64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
    return (units - 116444736000000000) / 10000000;
}

bool IsHttps(const std::string& url) {
    return url.size() >= 6 && ::CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, url.c_str(), 6,
                                               "https:", 6) == CSTR_EQUAL;
}

}  // namespace

// Silent since it was made: a clock read before the first download has
// started must not find it silent since the machine started.
TTovDownload::TTovDownload(std::string agentName, unsigned attempts)
    : AgentName(std::move(agentName)), Attempts(attempts), AbortEvent(::CreateEventW(nullptr, TRUE, FALSE, nullptr)) {
    if (!AbortEvent) RaiseLastSystemError();
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

bool TTovDownload::Stalled() const {
    const uint32_t block = LastBlock;
    return SilentFor() >= SilenceTimeoutMs && (Attempts <= 1 || AwakeMs() - block >= NoNewByteLimitMs);
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

struct TBackgroundClose {
    HINTERNET Session;
    std::atomic<int>* UnderWay;
};

DWORD CALLBACK CloseInBackground(void* data) {
    const std::unique_ptr<TBackgroundClose> close(static_cast<TBackgroundClose*>(data));
    ::InternetCloseHandle(close->Session);
    // The last touch of the engine: it may be released as soon as this is seen.
    --*close->UnderWay;
    return 0;
}

}  // namespace

void TTovDownload::Abort() {
    Aborted = true;
    ::SetEvent(AbortEvent.Get());
    // Closed on a pool thread, never on the caller's: a close may wait for
    // the worker's call in progress, and the worker may be waiting for the
    // caller (the dialog's thread takes the detail line, which is sent; the
    // status texts are posted and wait for no one). Should the pool refuse,
    // a thread of its own closes it; should that fail too, this one does.
    std::unique_ptr<TBackgroundClose> close(new TBackgroundClose{nullptr, &ClosesUnderWay});
    close->Session = Session.exchange(nullptr);
    if (!close->Session) return;
    ++ClosesUnderWay;
    if (::QueueUserWorkItem(CloseInBackground, close.get(), WT_EXECUTEDEFAULT)) {
        close.release();
        return;
    }
    if (HANDLE thread = ::CreateThread(nullptr, 0, CloseInBackground, close.get(), 0, nullptr)) {
        close.release();
        ::CloseHandle(thread);
        return;
    }
    CloseInBackground(close.release());
}

// What one attempt was asked to do and what it came to; the next starts from
// it.
struct TTovDownload::TAttempt {
    int64_t Received = 0;     // bytes in the stream
    int64_t Most = 0;         // the most it held: bytes fetched again are not new
    int64_t Total = 0;        // the whole file's length, 0 when not announced
    std::string Validator;    // of the version in the stream; empty: none usable
    bool RangesTrusted = true;
    bool Retryable = false;   // the failure raised may be cured by another attempt
    int64_t RetryAfterMs = -1;
    bool Complete = false;
    bool StartOver = false;   // the answer did not fit what was kept: dropped
};

void TTovDownload::Download(const std::string& url, TStream& stream) {
    LastBlock = LastNotice = AwakeMs();
    TAttempt attempt;
    TRetryState retries;
    for (;;) {
        attempt.Retryable = attempt.Complete = attempt.StartOver = false;
        attempt.RetryAfterMs = -1;
        try {
            Attempt(url, stream, attempt);
            if (!attempt.StartOver) break;
            // Fetched whole at once, and once only: ranges are asked no more.
            attempt.RangesTrusted = false;
        } catch (const Exception& e) {
            const auto* os = dynamic_cast<const EOSError*>(&e);
            const bool retryable = !Aborted && (os ? RetryableError(os->ErrorNumber) : attempt.Retryable);
            const bool newBytes = attempt.Received > attempt.Most;
            if (newBytes) attempt.Most = attempt.Received;
            const int64_t wait = NextRetryWait(retries, retryable, newBytes, AwakeMs() - LastBlock,
                                               attempt.RetryAfterMs, Attempts);
            if (wait < 0) throw;
            if (!WaitBeforeRetry(wait)) return;
        }
    }
    DoStatus(IDS_COMPLETED);
}

bool TTovDownload::WaitBeforeRetry(int64_t ms) {
    // Counted down in whole seconds; each tick keeps the notice clock fresh,
    // since a wait of ours is no silence of the server's.
    for (int64_t left = ms; left > 0;) {
        const unsigned seconds = static_cast<unsigned>((left + 999) / 1000);
        LastNotice = AwakeMs();
        if (OnWait) OnWait(seconds);
        const int64_t step = left - (static_cast<int64_t>(seconds) - 1) * 1000;
        if (::WaitForSingleObject(AbortEvent.Get(), static_cast<DWORD>(step)) != WAIT_TIMEOUT || Aborted)
            return false;
        left -= step;
    }
    LastNotice = AwakeMs();
    if (OnWait) OnWait(0);
    return !Aborted;
}

void TTovDownload::Attempt(const std::string& url, TStream& stream, TAttempt& attempt) {
    char block[BlockSize];
    const int64_t from = attempt.RangesTrusted && attempt.Total > 0 && !attempt.Validator.empty()
                             ? attempt.Received : 0;

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

    // If-Range: the rest of the same version, or the whole of the current one.
    std::string headers;
    if (from > 0) headers = Format("Range: bytes=%d-\r\nIf-Range: %s\r\n", {from, attempt.Validator});
    // Declared after the session guard: closed first.
    TInternetHandle request(::InternetOpenUrlA(session, url.c_str(), headers.empty() ? nullptr : headers.c_str(),
                                               static_cast<DWORD>(headers.size()), OpenUrlFlags,
                                               reinterpret_cast<DWORD_PTR>(this)));
    if (!request) RaiseLastInternetError();
    SetTimeouts(request.Get());

    // The client follows redirections silently, to plain HTTP too; an
    // installer that travelled unauthenticated is never accepted.
    const std::string finalUrl = FinalUrl(request.Get());
    if (!IsHttps(finalUrl)) throw Exception(Format(LoadText(IDS_INSECURE_REDIRECT), {finalUrl}));

    uint32_t status = 0;
    if (!QueryInfoNumber(request.Get(), HTTP_QUERY_STATUS_CODE, status)) RaiseLastInternetError();
    bool appending = false;
    if (from > 0) {
        std::string contentRange;
        QueryInfoString(request.Get(), HTTP_QUERY_CONTENT_RANGE, contentRange);
        switch (JudgeRangeAnswer(status, contentRange, from, attempt.Total)) {
        case TRangeAnswer::Append: appending = true; break;
        case TRangeAnswer::Complete: attempt.Complete = true; return;
        case TRangeAnswer::StartOver:
            stream.Truncate(0);
            attempt.Received = 0;
            attempt.StartOver = true;
            return;
        default: break;  // a 200 is the file anew; any other status is judged as ever
        }
    }
    if (!appending && status != HTTP_STATUS_OK) {
        std::string reason, retryAfter;
        QueryInfoString(request.Get(), HTTP_QUERY_STATUS_TEXT, reason);
        if (QueryInfoString(request.Get(), HTTP_QUERY_RETRY_AFTER, retryAfter))
            ParseRetryAfter(retryAfter, UnixNow(), attempt.RetryAfterMs);
        attempt.Retryable = RetryableStatus(status);
        throw Exception(Format("%s (%d)", {reason, status}));
    }

    FileName.clear();
    QueryFileName(request.Get(), FileName);
    int64_t& received = attempt.Received;
    int64_t& total = attempt.Total;
    if (!appending) {
        // Never stitched: a whole answer replaces whatever was kept.
        if (received > 0) stream.Truncate(0);
        received = 0;
        QueryContentLength(request.Get(), total);
        std::string etag, modified;
        if (Attempts > 1) {
            QueryInfoString(request.Get(), HTTP_QUERY_ETAG, etag);
            QueryInfoString(request.Get(), HTTP_QUERY_LAST_MODIFIED, modified);
        }
        attempt.Validator = ResumeValidator(etag, modified);
    }

    // The silence before the first block counts from the answer.
    uint32_t lastBlock = LastNotice = AwakeMs();
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
    if (!Aborted && total > 0 && received < total) {
        attempt.Retryable = true;
        throw Exception(Format(LoadText(IDS_INCOMPLETE), {received, total}));
    }
}
