// The flags a code page takes; see code_page.h.
#include "lib/text/code_page.h"

NarrowingFlags narrowing_flags(unsigned code_page) {
    switch (code_page) {
    case 65001:  // UTF-8
    case 54936:  // GB18030
        return NarrowingFlags::fail_on_invalid;
    case 42:     // Symbol
    case 65000:  // UTF-7
    case 50220: case 50221: case 50222: case 50225: case 50227: case 50229:  // ISO-2022
        return NarrowingFlags::none;
    default:
        break;
    }
    if (code_page >= 57002 && code_page <= 57011) {  // ISCII
        return NarrowingFlags::none;
    }
    return NarrowingFlags::no_best_fit;
}
