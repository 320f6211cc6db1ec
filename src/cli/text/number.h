// Index arguments are read as strtol reads them where a long has 32 bits,
// as on Windows: so every build reads them alike.
#pragma once

#include <cstdint>

// strtol in base 10 with a 32-bit long: leading blanks and one sign allowed,
// conversion stops at the first non-digit, no digits gives 0, and values out
// of range clamp to INT32_MAX or INT32_MIN.
std::int32_t strtol32(const char* text);
