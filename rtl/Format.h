// The one text-formatting routine. Directives:
//   %[index:][-][width][.precision]type     type: d u x s      and %% for a percent sign
// "index:" picks the argument (counted from 0); directives after it without an
// index continue with the next argument. "width" is a minimum width (spaces on
// the left, or on the right with "-"), so "%0s" is a text with no filling.
// For d/u/x the precision is a minimum digit count, for s a maximum length.
// A bad directive, a missing argument or a mismatched type raises EConvertError.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>

class FormatArg {
public:
    enum class Kind { Int, UInt, Text };

    FormatArg(int v) : kind_(Kind::Int), int_(v) {}
    FormatArg(long v) : kind_(Kind::Int), int_(v) {}
    FormatArg(long long v) : kind_(Kind::Int), int_(v) {}
    FormatArg(unsigned v) : kind_(Kind::UInt), uint_(v) {}
    FormatArg(unsigned long v) : kind_(Kind::UInt), uint_(v) {}
    FormatArg(unsigned long long v) : kind_(Kind::UInt), uint_(v) {}
    FormatArg(const char* s) : kind_(Kind::Text), text_(s ? s : ""), len_(s ? std::char_traits<char>::length(s) : 0) {}
    FormatArg(const std::string& s) : kind_(Kind::Text), text_(s.data()), len_(s.size()) {}

    Kind kind() const { return kind_; }
    long long asInt() const { return int_; }
    unsigned long long asUInt() const { return uint_; }
    const char* text() const { return text_; }
    size_t length() const { return len_; }

private:
    Kind kind_;
    long long int_ = 0;
    unsigned long long uint_ = 0;
    const char* text_ = nullptr;
    size_t len_ = 0;
};

std::string Format(const char* format, std::initializer_list<FormatArg> args);
std::string Format(const std::string& format, std::initializer_list<FormatArg> args);
