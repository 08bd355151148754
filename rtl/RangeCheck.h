// Checked narrowing: a value that does not fit its target raises ERangeError
// instead of wrapping silently.
#pragma once

#include <cstdint>
#include <limits>

#include "Exceptions.h"

template <typename To, typename From>
inline To CheckedCast(From value) {
    static_assert(std::numeric_limits<To>::is_integer && std::numeric_limits<From>::is_integer,
                  "integers only");
    if constexpr (std::numeric_limits<From>::is_signed && !std::numeric_limits<To>::is_signed) {
        if (value < 0) throw ERangeError();
        if (static_cast<std::make_unsigned_t<From>>(value) > std::numeric_limits<To>::max())
            throw ERangeError();
    } else if constexpr (!std::numeric_limits<From>::is_signed && std::numeric_limits<To>::is_signed) {
        if (value > static_cast<std::make_unsigned_t<To>>(std::numeric_limits<To>::max()))
            throw ERangeError();
    } else {
        if (value < std::numeric_limits<To>::min() || value > std::numeric_limits<To>::max())
            throw ERangeError();
    }
    return static_cast<To>(value);
}
