"""Finding and loading the shared library, and the C calls' prototypes.

The library is looked for, in this order, at the first call that needs it:
the file that the environment variable BIGTOOL_LIBRARY names at run time
(then nowhere else); the copy installed inside the package (``bigtool/lib/``,
made when BIGTOOL_LIBRARY named a library at install time); the system's
library search path (``libbigtool.so.1``, ``bigtool-1.dll``).
"""
import ctypes
import os
import sys
import threading
from pathlib import Path
from typing import List, Optional

from ._libname import library_file_name
from .errors import LibraryNotFound

LIBRARY_VARIABLE = "BIGTOOL_LIBRARY"
# The calls used here came with 1.3 (entries in pieces, the check), 1.2
# (writing, changes, extraction) or before; a new major version may change
# them.
NEEDED_MAJOR = 1
NEEDED_MINOR = 3

c_size_p = ctypes.POINTER(ctypes.c_size_t)
c_uint32_p = ctypes.POINTER(ctypes.c_uint32)
handle_p = ctypes.POINTER(ctypes.c_void_p)

# int (*bt_read_fn)(void* context, uint64_t offset, void* buffer, size_t count, size_t* got)
READ_FN = ctypes.CFUNCTYPE(ctypes.c_int, ctypes.c_void_p, ctypes.c_uint64, ctypes.c_void_p,
                           ctypes.c_size_t, c_size_p)

# void (*bt_extract_fn)(void* context, uint32_t index, const char* path)
EXTRACT_FN = ctypes.CFUNCTYPE(None, ctypes.c_void_p, ctypes.c_uint32, ctypes.c_char_p)
# int (*bt_conflict_fn)(void* context, const char* name, size_t name_length,
#                       const uint32_t* positions, const uint32_t* indices, size_t holders)
CONFLICT_FN = ctypes.CFUNCTYPE(ctypes.c_int, ctypes.c_void_p, ctypes.c_void_p, ctypes.c_size_t, c_uint32_p,
                               c_uint32_p, ctypes.c_size_t)

# int (*bt_check_fn)(void* context, const bt_finding* finding)
CHECK_FN = ctypes.CFUNCTYPE(ctypes.c_int, ctypes.c_void_p, ctypes.c_void_p)

_PROTOTYPES = {
    "bt_status_name": (ctypes.c_char_p, [ctypes.c_int]),
    "bt_version": (ctypes.c_char_p, []),
    "bt_version_number": (ctypes.c_int, []),
    "bt_open": (ctypes.c_int, [handle_p, ctypes.c_char_p]),
    "bt_open_wide": (ctypes.c_int, [handle_p, ctypes.c_wchar_p]),
    "bt_open_reader": (ctypes.c_int, [handle_p, READ_FN, ctypes.c_void_p, ctypes.c_uint64]),
    "bt_close": (None, [ctypes.c_void_p]),
    "bt_last_errmsg": (ctypes.c_char_p, []),
    "bt_header": (ctypes.c_int, [ctypes.c_void_p, c_uint32_p, c_uint32_p, c_uint32_p]),
    "bt_entry_count": (ctypes.c_uint32, [ctypes.c_void_p]),
    "bt_entry": (ctypes.c_int, [ctypes.c_void_p, ctypes.c_uint32, handle_p, c_size_p, c_uint32_p,
                                c_uint32_p]),
    "bt_entries": (ctypes.c_int, [ctypes.c_void_p, ctypes.c_uint32, ctypes.c_uint32, ctypes.c_void_p,
                                  ctypes.c_size_t, c_size_p, ctypes.c_void_p, ctypes.c_void_p, c_uint32_p]),
    "bt_lookup": (ctypes.c_int, [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_size_t, c_uint32_p]),
    "bt_select": (ctypes.c_int, [ctypes.c_void_p, ctypes.POINTER(ctypes.c_char_p), ctypes.c_size_t,
                                 c_uint32_p, ctypes.c_size_t, c_size_p]),
    "bt_read": (ctypes.c_int, [ctypes.c_void_p, ctypes.c_uint32, ctypes.c_uint64, ctypes.c_void_p,
                               ctypes.c_size_t, c_size_p]),
    "bt_writer_new": (ctypes.c_int, [handle_p, ctypes.c_char_p]),
    "bt_writer_free": (None, [ctypes.c_void_p]),
    "bt_writer_count": (ctypes.c_uint32, [ctypes.c_void_p]),
    "bt_writer_add_bytes": (ctypes.c_int, [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_size_t, ctypes.c_void_p,
                                           ctypes.c_uint64]),
    "bt_writer_add_file": (ctypes.c_int, [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_size_t, ctypes.c_char_p]),
    "bt_writer_add_reader": (ctypes.c_int, [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_size_t, READ_FN,
                                            ctypes.c_void_p, ctypes.c_uint64]),
    "bt_writer_add_folder": (ctypes.c_int, [ctypes.c_void_p, ctypes.c_char_p]),
    "bt_writer_commit": (ctypes.c_int, [ctypes.c_void_p]),
    "bt_edit_open": (ctypes.c_int, [handle_p, ctypes.c_char_p]),
    "bt_edit_free": (None, [ctypes.c_void_p]),
    "bt_edit_put_bytes": (ctypes.c_int, [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_size_t, ctypes.c_void_p,
                                         ctypes.c_uint64]),
    "bt_edit_put_file": (ctypes.c_int, [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_size_t, ctypes.c_char_p]),
    "bt_edit_remove": (ctypes.c_int, [ctypes.c_void_p, ctypes.POINTER(ctypes.c_char_p), ctypes.c_size_t,
                                      c_size_p]),
    "bt_edit_commit": (ctypes.c_int, [ctypes.c_void_p]),
    "bt_extract_entries": (ctypes.c_int, [ctypes.c_void_p, c_uint32_p, ctypes.c_size_t, ctypes.c_char_p,
                                          EXTRACT_FN, ctypes.c_void_p]),
    "bt_check": (ctypes.c_int, [ctypes.c_void_p, CHECK_FN, ctypes.c_void_p, ctypes.POINTER(ctypes.c_uint64)]),
    "bt_finding_kind": (ctypes.c_int, [ctypes.c_void_p]),
    "bt_finding_is_error": (ctypes.c_int, [ctypes.c_void_p]),
    "bt_finding_entry": (ctypes.c_uint32, [ctypes.c_void_p]),
    "bt_finding_other": (ctypes.c_uint32, [ctypes.c_void_p]),
    "bt_finding_message": (ctypes.c_char_p, [ctypes.c_void_p]),
    "bt_overlay_new": (ctypes.c_int, [handle_p]),
    "bt_overlay_free": (None, [ctypes.c_void_p]),
    "bt_overlay_errmsg": (ctypes.c_char_p, [ctypes.c_void_p]),
    "bt_overlay_add": (ctypes.c_int, [ctypes.c_void_p, ctypes.c_void_p]),
    "bt_overlay_name_count": (ctypes.c_uint32, [ctypes.c_void_p]),
    "bt_overlay_lookup": (ctypes.c_int, [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_size_t, c_uint32_p,
                                         c_uint32_p]),
    "bt_overlay_winner": (ctypes.c_int, [ctypes.c_void_p, ctypes.c_uint32, c_uint32_p, c_uint32_p]),
    "bt_overlay_conflicts": (ctypes.c_int, [ctypes.c_void_p, CONFLICT_FN, ctypes.c_void_p,
                                            ctypes.POINTER(ctypes.c_uint64)]),
}

_lock = threading.Lock()
_library: Optional[ctypes.CDLL] = None


def _candidates() -> List[str]:
    named = os.environ.get(LIBRARY_VARIABLE)
    if named:
        return [named]
    name = library_file_name(sys.platform)
    bundled = Path(__file__).resolve().parent / "lib" / name
    return ([str(bundled)] if bundled.is_file() else []) + [name]


def _checked(library: ctypes.CDLL, where: str) -> ctypes.CDLL:
    try:
        for call, (result, arguments) in _PROTOTYPES.items():
            function = getattr(library, call)
            function.restype = result
            function.argtypes = arguments
    except AttributeError as missing:
        raise LibraryNotFound(f"The library '{where}' is not bigtool's: {missing}.") from None
    number = library.bt_version_number()
    if number // 10000 != NEEDED_MAJOR or number % 10000 < NEEDED_MINOR * 100:
        found = library.bt_version().decode("ascii", "replace")
        raise LibraryNotFound(f"The library '{where}' is version {found}; this package needs "
                              f"{NEEDED_MAJOR}.{NEEDED_MINOR} or a later {NEEDED_MAJOR}.x.")
    return library


def _load() -> ctypes.CDLL:
    tried = []
    for where in _candidates():
        try:
            library = ctypes.CDLL(where)
        except OSError as refused:
            tried.append(f"{where}: {refused}")
            continue
        return _checked(library, where)
    raise LibraryNotFound("The bigtool library could not be loaded (" + "; ".join(tried) + "). "
                          f"Install the package with {LIBRARY_VARIABLE} naming libbigtool, or set "
                          f"{LIBRARY_VARIABLE} to its path.")


def library() -> ctypes.CDLL:
    """The loaded library, loaded at the first call; LibraryNotFound if it cannot be."""
    global _library
    if _library is None:
        with _lock:
            if _library is None:
                _library = _load()
    return _library


def last_message() -> str:
    """This thread's last failure message from the library."""
    raw = library().bt_last_errmsg()
    return raw.decode("utf-8", "backslashreplace") if raw else ""
