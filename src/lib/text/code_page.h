// How text is narrowed from UTF-16 into a Windows code page without a
// look-alike, decided from the code page's number alone, so that the
// choice is tested on every host.
#pragma once

// WideCharToMultiByte takes WC_NO_BEST_FIT_CHARS, with a report of the
// default character used, only for ordinary code pages. UTF-8 and GB18030
// refuse it (ERROR_INVALID_FLAGS) and take WC_ERR_INVALID_CHARS, with no
// report; UTF-7, Symbol, the ISO-2022 and the ISCII pages take no flag at
// all. Whichever is used, the caller converts back and compares, which
// catches a stand-in the flags let through.
enum class NarrowingFlags {
    no_best_fit,       // WC_NO_BEST_FIT_CHARS, and whether a default was used
    fail_on_invalid,   // WC_ERR_INVALID_CHARS, no default reported
    none,              // no flag, no default reported
};

NarrowingFlags narrowing_flags(unsigned code_page);
