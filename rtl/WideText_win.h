// The program keeps its text in UTF-8 and meets the platform in UTF-16: every
// call that takes or gives text a user reads, or a path, uses the wide entry
// point, so nothing depends on the ANSI code page (which the manifest can make
// UTF-8 only from Windows 10 version 1903 on).
#pragma once

#include <string>
#include <vector>

// A zero-terminated UTF-16 copy of a text, for the calls it is passed to. (Not
// std::wstring: that would link the library's whole wide string, a tenth of
// the program.)
class TWideText {
public:
    explicit TWideText(std::vector<wchar_t> text) : text_(std::move(text)) {}
    const wchar_t* c_str() const { return text_.data(); }

private:
    std::vector<wchar_t> text_;
};

// Malformed UTF-8 becomes U+FFFD rather than failing: a text is only shown.
TWideText ToWide(const std::string& text);
std::string ToUtf8(const wchar_t* text, size_t length);
std::string ToUtf8(const wchar_t* text);
