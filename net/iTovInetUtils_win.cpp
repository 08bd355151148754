#include "iTovInetUtils.h"

#include "Exceptions.h"
#include "SystemError.h"
#include "WideText_win.h"

void RaiseInternetError(DWORD code) {
    std::string text;
    if (code == ERROR_INTERNET_EXTENDED_ERROR) {
        // The server sent a text of its own (bytes, not the user's language);
        // the client swaps in its code.
        char buffer[512];
        DWORD length = sizeof buffer;
        if (::InternetGetLastResponseInfoA(&code, buffer, &length))
            text.assign(buffer, length < sizeof buffer ? length : sizeof buffer);
    } else {
        wchar_t buffer[512];
        DWORD length = ::FormatMessageW(
            FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_IGNORE_INSERTS,
            ::GetModuleHandleW(L"wininet.dll"), code, 0, buffer, 512, nullptr);
        text = ToUtf8(buffer, length < 512 ? length : 0);
    }
    text.resize(TrimmedMessageLength(text.data(), text.size()));
    // No text in either table: the system error's form, but with the client's
    // own code. The look-up's failure (317) would hide the one that happened.
    if (text.empty()) RaiseSystemError(code);
    throw EOSError(text, code);
}

void RaiseLastInternetError() { RaiseInternetError(::GetLastError()); }

bool QueryInfoString(HINTERNET request, DWORD level, std::string& text) {
    text.clear();
    char buffer[64];
    DWORD length = sizeof buffer - 1;
    DWORD index = 0;
    if (::HttpQueryInfoA(request, level, buffer, &length, &index)) {
        text.assign(buffer, length);
        return true;
    }
    if (::GetLastError() != ERROR_INSUFFICIENT_BUFFER) return false;
    // `length` now holds the size the value needs, terminating zero included.
    text.resize(length);
    index = 0;
    bool ok = ::HttpQueryInfoA(request, level, &text[0], &length, &index) != FALSE;
    if (!ok || length > text.size()) length = 0;
    text.resize(length);
    return ok;
}

bool QueryInfoNumber(HINTERNET request, DWORD level, uint32_t& number) {
    DWORD value = 0;
    DWORD length = sizeof value;
    DWORD index = 0;
    bool ok = ::HttpQueryInfoA(request, level | HTTP_QUERY_FLAG_NUMBER, &value, &length, &index) != FALSE;
    number = 0;
    if (ok) number = CheckedHeaderNumber(value);
    return ok;
}

bool QueryContentLength(HINTERNET request, int64_t& value) {
    value = 0;
    std::string text;
    if (!QueryInfoString(request, HTTP_QUERY_CONTENT_LENGTH, text)) return false;
    return TextToInt64(text, value);
}

bool QueryFileName(HINTERNET request, std::string& name) {
    name.clear();
    std::string value;
    if (!QueryInfoString(request, HTTP_QUERY_CONTENT_DISPOSITION, value)) return false;
    name = ParseContentDisposition(value);
    SanitizeFileName(name);
    return true;
}
