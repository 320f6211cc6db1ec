"""How entry names, which are bytes, become text and back.

An archive holds each name as the bytes of the system that made it: UTF-8
from Linux (and from Windows set to UTF-8), the ANSI code page from other
Windows systems (1252 in Western Europe). Nothing in the archive says
which. So ``Entry.name`` decodes the stored bytes as UTF-8 with the
``surrogateescape`` error handler: UTF-8 names read as they are, and every
byte that is not part of UTF-8 becomes a lone surrogate U+DC80-U+DCFF
(code page 1252's ``é``, byte E9, reads ``'\\udce9'``). Decoding never
fails, and encoding the text the same way gives the stored bytes back, so
a name read from an archive always finds its entry again. ``raw_name`` has
the bytes themselves, for another decoding (``raw_name.decode("cp1252")``).
"""
from typing import Union

NAME_ENCODING = "utf-8"
NAME_ERRORS = "surrogateescape"

NameType = Union[str, bytes, bytearray, memoryview]


def decode_name(raw: bytes) -> str:
    """A stored name as text, by the rule above; never fails."""
    return raw.decode(NAME_ENCODING, NAME_ERRORS)


def encode_name(name: NameType) -> bytes:
    """The stored bytes for `name`: text encoded by the rule above, bytes as
    they are. UnicodeEncodeError for text no name can hold (a surrogate
    outside U+DC80-U+DCFF); TypeError for anything but text or bytes."""
    if isinstance(name, str):
        return name.encode(NAME_ENCODING, NAME_ERRORS)
    if isinstance(name, (bytes, bytearray, memoryview)):
        return bytes(name)
    raise TypeError(f"a name is str or bytes, not {type(name).__name__}")


def shown(name: bytes) -> str:
    """A name for a message, cut as the library cuts it (259 bytes and "...")."""
    cut = name if len(name) <= 259 else name[:259] + b"..."
    return cut.decode(NAME_ENCODING, "backslashreplace")
