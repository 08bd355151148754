#include "WideText_win.h"

#include <windows.h>

#include <cwchar>

#include "RangeCheck.h"

TWideText ToWide(const std::string& text) {
    const int size = CheckedCast<int>(text.size());
    const int length = size ? ::MultiByteToWideChar(CP_UTF8, 0, text.data(), size, nullptr, 0) : 0;
    std::vector<wchar_t> wide(static_cast<size_t>(length) + 1, L'\0');
    if (length > 0) ::MultiByteToWideChar(CP_UTF8, 0, text.data(), size, wide.data(), length);
    return TWideText(std::move(wide));
}

std::string ToUtf8(const wchar_t* text, size_t length) {
    if (length == 0) return std::string();
    const int size = CheckedCast<int>(length);
    std::string utf8(static_cast<size_t>(::WideCharToMultiByte(CP_UTF8, 0, text, size, nullptr, 0, nullptr, nullptr)), '\0');
    if (!utf8.empty())
        ::WideCharToMultiByte(CP_UTF8, 0, text, size, &utf8[0], static_cast<int>(utf8.size()), nullptr, nullptr);
    return utf8;
}

std::string ToUtf8(const wchar_t* text) { return text ? ToUtf8(text, std::wcslen(text)) : std::string(); }
