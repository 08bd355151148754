#include "Texts.h"

#include <windows.h>

#include "WideText_win.h"

std::string LoadText(unsigned id) {
    // With no buffer the call gives the resource's own text, however long.
    const wchar_t* text = nullptr;
    const int length = ::LoadStringW(::GetModuleHandleW(nullptr), id, reinterpret_cast<LPWSTR>(&text), 0);
    return length > 0 && text ? ToUtf8(text, static_cast<size_t>(length)) : std::string();
}
