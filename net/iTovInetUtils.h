// Internet error texts, response-header queries and the server-offered file
// name. The text handling here is platform-free; the Win32 half
// (iTovInetUtils_win.cpp) talks to WinInet and the system message tables.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// --- Platform-free -----------------------------------------------------------

// The conversion behind the Content-Length query: leading blanks (space, TAB),
// an optional sign, decimal digits or hexadecimal ones after "$", "x" or "0x"
// (x in either case). True only when the whole text is consumed, at least one
// digit was read and the number fits; otherwise false, with `value` holding
// what the digits before the failing character gave (0 when none). A digit
// that would overflow counts as the failing character. Hexadecimal values are
// signed like decimal ones: "$FFFFFFFFFFFFFFFF" does not fit.
bool TextToInt64(const std::string& text, int64_t& value);

// A header field read as a 32-bit number must fit a signed 32-bit integer:
// a value with the top bit set raises ERangeError rather than turning negative.
uint32_t CheckedHeaderNumber(uint32_t raw);

// The value of the `filename` parameter of a Content-Disposition header, or
// an empty text when there is none.
std::string ParseContentDisposition(const std::string& value);

// Makes a server-offered name safe as a Windows file name, in place: forbidden
// characters become "_", one trailing space or full stop goes, a reserved
// device name (CON, COM1, lpt9.log, ...) gets a leading "_", and a name left
// with only full stops and spaces ("..") becomes empty.
void SanitizeFileName(std::string& name);

extern const char* const ReservedDeviceNames[6];

// True when `text` equals one entry, ignoring case (CompareStringA with the
// user's locale on Windows).
bool MatchesAnyText(const std::string& text, const char* const* list, size_t count);

// --- Win32 -------------------------------------------------------------------
#ifdef _WIN32
#include <windows.h>
#include <wininet.h>

#include "Handles_win.h"

inline void CloseInternetHandle(HINTERNET h) { ::InternetCloseHandle(h); }
using TInternetHandle = TOwnedHandle<NullableTraits<HINTERNET, CloseInternetHandle>>;

// The client's text for `code`; where neither its table nor the system's has
// one, the system error's form for `code` itself.
[[noreturn]] void RaiseInternetError(DWORD code);
[[noreturn]] void RaiseLastInternetError();

bool QueryInfoString(HINTERNET request, DWORD level, std::string& text);
bool QueryInfoNumber(HINTERNET request, DWORD level, uint32_t& number);
bool QueryContentLength(HINTERNET request, int64_t& value);
bool QueryFileName(HINTERNET request, std::string& name);
#endif
