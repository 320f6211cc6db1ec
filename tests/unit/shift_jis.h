// The lead bytes of code page 932 (Shift-JIS), whose second bytes include
// '\' (5C) and '|' (7C): 表 is 95 5C, ソ 83 5C, ポ 83 7C, － 81 7C.
#pragma once

#include "lib/text/path_style.h"

inline LeadBytes shift_jis_lead_bytes() {
    LeadBytes lead{};
    for (int byte = 0x81; byte <= 0xFC; ++byte) {
        lead[byte] = byte <= 0x9F || byte >= 0xE0;
    }
    return lead;
}
