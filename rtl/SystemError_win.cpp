#include "SystemError.h"

#include "Exceptions.h"
#include "Format.h"
#include "WideText_win.h"

std::string SystemErrorText(DWORD code) {
    wchar_t buffer[1024];
    DWORD length = ::FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS |
                                        FORMAT_MESSAGE_ARGUMENT_ARRAY,
                                    nullptr, code, 0, buffer, 1024, nullptr);
    std::string text = ToUtf8(buffer, length < 1024 ? length : 0);
    text.resize(TrimmedMessageLength(text.data(), text.size()));
    return text;
}

void RaiseSystemError(DWORD code) {
    if (code == 0) throw EOSError(LoadText(IDS_OS_CALL_FAILED), 0);
    throw EOSError(Format(LoadText(IDS_SYSTEM_ERROR), {code, SystemErrorText(code)}), code);
}

void RaiseLastSystemError() { RaiseSystemError(::GetLastError()); }
