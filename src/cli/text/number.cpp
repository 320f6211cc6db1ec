// 32-bit strtol; see number.h.
#include "cli/text/number.h"

#include <limits>

std::int32_t strtol32(const char* text) {
    const char* p = text;
    while (*p == ' ' || *p == '\t' || *p == '\n' || *p == '\v' || *p == '\f' || *p == '\r') {
        ++p;
    }
    bool negative = false;
    if (*p == '+' || *p == '-') {
        negative = *p == '-';
        ++p;
    }
    // Accumulate in 64 bits and stop growing once past the 32-bit range, so
    // that any number of digits is safe.
    const std::int64_t limit = std::int64_t{std::numeric_limits<std::int32_t>::max()} + 1;
    std::int64_t value = 0;
    for (; *p >= '0' && *p <= '9'; ++p) {
        if (value <= limit) {
            value = value * 10 + (*p - '0');
        }
    }
    if (negative) {
        return value >= limit ? std::numeric_limits<std::int32_t>::min()
                              : static_cast<std::int32_t>(-value);
    }
    return value >= limit ? std::numeric_limits<std::int32_t>::max()
                          : static_cast<std::int32_t>(value);
}
