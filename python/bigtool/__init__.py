"""bigtool: BIG archives, the single-file containers of the game Tarvenor,
from Python, through the bigtool library.

    import bigtool

    with bigtool.open("mod.big") as archive:
        for entry in archive.find("data/ini/*.ini"):
            print(entry.index, entry.size, entry.name)
        with archive["data/ini/weapon.ini"].open() as file:
            head = file.read(64)

    with bigtool.open("mod.big") as archive:
        archive.extract("data/ini/*.ini", "out")   # or archive.extract_all("out")
        problems = [f for f in archive.check() if f.is_error]

    with bigtool.Writer("new.big") as writer:
        writer.add("data/ini/weapon.ini", b"damage = 45\n")

Names: see :mod:`bigtool.names`.
Errors: every one is a :class:`Error`.
"""
import os
from typing import Any, BinaryIO, Union

from . import _native
from .archive import Archive, Entry, Header
from .check import Finding, FindingKind
from .entry_file import EntryFile
from .errors import (ArchiveExists, ArgumentError, DamagedArchive, Error, IOFailure, LibraryNotFound,
                     LimitExceeded, NoMatch, NoMemory, NotAnArchive, OpenError, ReadError, Status,
                     UnsafeName, Unsupported, WriteError)
from .names import NAME_ENCODING, NAME_ERRORS, decode_name, encode_name
from .overlay import Conflict, Overlay
from .writer import Edit, Writer, create, edit

__all__ = [
    "open", "Archive", "Overlay", "Conflict", "Entry", "EntryFile", "Finding", "FindingKind", "Header", "Status",
    "Writer", "create",
    "Edit", "edit",
    "Error", "ArgumentError", "NoMemory", "IOFailure", "OpenError", "ReadError", "NotAnArchive",
    "DamagedArchive", "NoMatch", "Unsupported", "UnsafeName", "LimitExceeded", "LibraryNotFound",
    "ArchiveExists", "WriteError",
    "NAME_ENCODING", "NAME_ERRORS", "decode_name", "encode_name", "library_version", "library_path",
]

__version__ = "1.3.0"


def open(source: Union[str, bytes, "os.PathLike[Any]", BinaryIO, bytearray, memoryview]) -> Archive:
    """Opens and validates an archive, as LIST does, and reads its index.

    `source` is a path (str, bytes or path-like), a binary file object that
    can seek and read (read at each position the library asks for, so it
    stays in use while the archive is open), or another bytes-like object
    such as a bytearray or memoryview (bytes themselves are a path, as
    everywhere in Python: pass ``memoryview(data)``). Raises OpenError,
    ReadError, NotAnArchive or DamagedArchive, all :class:`Error`.
    """
    from .archive import open_archive

    return open_archive(source)


def library_version() -> str:
    """The version of the loaded library ("1.3.0")."""
    return str(_native.library().bt_version().decode("ascii"))


def library_path() -> str:
    """Where the loaded library was found."""
    return str(_native.library()._name)
