#include "SystemError.h"

#include "Exceptions.h"
#include "Format.h"

std::string SystemErrorText(DWORD code) {
    // Room for a localised text in UTF-8, two or three bytes a character.
    char buffer[1024];
    DWORD length = ::FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS |
                                        FORMAT_MESSAGE_ARGUMENT_ARRAY,
                                    nullptr, code, 0, buffer, sizeof buffer, nullptr);
    return std::string(buffer, TrimmedMessageLength(buffer, length));
}

void RaiseSystemError(DWORD code) {
    if (code == 0) throw EOSError("A call to an OS function failed", 0);
    throw EOSError(Format("System Error.  Code: %d.\r\n%s", {code, SystemErrorText(code)}), code);
}

void RaiseLastSystemError() { RaiseSystemError(::GetLastError()); }
