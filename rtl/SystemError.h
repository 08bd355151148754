// The system's error texts and the error raised when a system call fails:
// the runtime's own, used by every layer above it.
#pragma once

#include <cstddef>
#include <string>

// Length of a system or client message once every trailing character below
// '!' (control characters, blanks) and every trailing full stop is dropped.
size_t TrimmedMessageLength(const char* text, size_t length);

#ifdef _WIN32
#include <windows.h>

[[noreturn]] void RaiseLastSystemError();
[[noreturn]] void RaiseSystemError(DWORD code);

// The system's text for an error code, trimmed; empty when it has none.
std::string SystemErrorText(DWORD code);
#endif
