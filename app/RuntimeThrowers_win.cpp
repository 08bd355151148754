// The C++ runtime's throwers and terminate handler, replaced: linked in
// place of the runtime's own, they keep its heavy parts (a demangler, a second
// std::string) out of the program. Linked into the executable beside the
// entry, not through a library: some are referred to only from within the
// runtime's own archive, and a library's copy would never be picked.
#include <algorithm>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <limits>
#include <new>
#include <typeinfo>

// The C++ runtime's default terminate handler prints the demangled type of
// the escaping exception to a console this program does not have; its
// demangler alone is a sixth of the program. What reaches terminate is a bug
// either way, so this one, linked in its place, simply aborts.
namespace __gnu_cxx {
void __verbose_terminate_handler() { std::abort(); }
}  // namespace __gnu_cxx

// What the C++ runtime throws when a container is misused (a position past
// the end, a string longer than memory allows, a null text). Its own classes
// for these (std::length_error and the like) hold a reference-counted string,
// and linking them brings the library's second, reference-counted std::string
// with all it uses, about a fifth of the program. Nothing here catches those
// classes by name: the entry's last resort reports any std::exception, and a
// worker's error any exception; so one class with the runtime's own words,
// linked in place of its throwers, tells the user the same. Outside the
// unnamed namespace, so that the last resort names it plainly.
class RuntimeMisuse : public std::exception {
public:
    explicit RuntimeMisuse(const char* text) { Append(text, std::strlen(text)); }
    // The runtime's positions come as "%s" and "%zu", as its own formatter reads them.
    RuntimeMisuse(const char* format, va_list args) {
        for (const char* p = format; *p; ++p) {
            if (p[0] == '%' && p[1] == 's') {
                const char* arg = va_arg(args, const char*);
                Append(arg, std::strlen(arg));
                ++p;
            } else if (p[0] == '%' && p[1] == 'z' && p[2] == 'u') {
                char digits[std::numeric_limits<size_t>::digits10 + 1];
                char* d = digits + sizeof digits;
                for (size_t n = va_arg(args, size_t);; n /= 10) {
                    *--d = static_cast<char>('0' + n % 10);
                    if (n < 10) break;
                }
                Append(d, static_cast<size_t>(digits + sizeof digits - d));
                p += 2;
            } else {
                Append(p, 1);
            }
        }
    }
    const char* what() const noexcept override { return text_; }

private:
    void Append(const char* text, size_t count) {
        count = std::min(count, sizeof text_ - 1 - length_);
        std::memcpy(text_ + length_, text, count);
        length_ += count;
        text_[length_] = '\0';
    }
    // No allocation: some of these report that memory ran short.
    char text_[200] = {};
    size_t length_ = 0;
};

namespace std {
void __throw_bad_exception() { throw bad_exception(); }
void __throw_bad_alloc() { throw bad_alloc(); }
void __throw_bad_array_new_length() { throw bad_array_new_length(); }
void __throw_bad_cast() { throw bad_cast(); }
void __throw_bad_typeid() { throw bad_typeid(); }
void __throw_logic_error(const char* what) { throw RuntimeMisuse(what); }
void __throw_domain_error(const char* what) { throw RuntimeMisuse(what); }
void __throw_invalid_argument(const char* what) { throw RuntimeMisuse(what); }
void __throw_length_error(const char* what) { throw RuntimeMisuse(what); }
void __throw_out_of_range(const char* what) { throw RuntimeMisuse(what); }
void __throw_out_of_range_fmt(const char* format, ...) {
    va_list args;
    va_start(args, format);
    RuntimeMisuse error(format, args);
    va_end(args);
    throw error;
}
void __throw_runtime_error(const char* what) { throw RuntimeMisuse(what); }
void __throw_range_error(const char* what) { throw RuntimeMisuse(what); }
void __throw_overflow_error(const char* what) { throw RuntimeMisuse(what); }
void __throw_underflow_error(const char* what) { throw RuntimeMisuse(what); }
}  // namespace std
