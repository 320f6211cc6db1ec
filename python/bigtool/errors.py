"""The exceptions bigtool raises: one base class, one subclass per kind of
failure, each with the library's message and status."""
import enum
import os
from typing import Optional, Union

PathType = Union[str, bytes]


class Status(enum.IntEnum):
    """The C library's statuses (``BT_OK``, ``BT_ERR_*``)."""

    OK = 0
    ERR_ARGUMENT = -1
    ERR_NO_MEMORY = -2
    ERR_OPEN = -3
    ERR_READ = -4
    ERR_NOT_ARCHIVE = -5
    ERR_DAMAGED = -6
    ERR_NOT_FOUND = -7
    ERR_BUFFER_TOO_SMALL = -8
    ERR_UNSUPPORTED = -9
    ERR_UNSAFE_NAME = -10
    ERR_WRITE = -11
    ERR_LIMIT = -12
    ERR_EXISTS = -13


class Error(Exception):
    """Base of every error bigtool raises.

    ``message`` is the library's text, worded as the command line words it
    without its "Error: " ("Header filesize mismatch."); ``status`` is the
    C status (a :class:`Status`, or None for a failure found in Python
    before any call, such as a missing library).
    """

    def __init__(self, message: str, status: Optional[int] = None) -> None:
        super().__init__(message)
        self.message = message
        self.status: Optional[int] = _known(status)

    def __str__(self) -> str:
        return self.message


class ArgumentError(Error, ValueError):
    """A call the library refused as wrong (``BT_ERR_ARGUMENT``), such as a
    list file that holds no pattern."""


class NoMemory(Error, MemoryError):
    """The library ran out of memory (``BT_ERR_NO_MEMORY``)."""


class IOFailure(Error):
    """A file could not be opened or read; ``path`` names it (None for an
    archive read from memory or a file object)."""

    def __init__(self, message: str, status: Optional[int] = None, path: Optional[PathType] = None) -> None:
        super().__init__(message, status)
        self.path = path

    def __str__(self) -> str:
        if self.path is None:
            return self.message
        return f"{self.message} ({os.fsdecode(self.path)!r})"


class OpenError(IOFailure):
    """The archive could not be opened: missing, not a regular file, or
    refused by the system (``BT_ERR_OPEN``)."""


class ReadError(IOFailure):
    """A file could not be read, or ended before what the archive claims
    (``BT_ERR_READ``)."""


class NotAnArchive(Error):
    """The file is not a BIG archive: its first bytes are not the magic
    (``BT_ERR_NOT_ARCHIVE``)."""


class DamagedArchive(Error):
    """A BIG archive whose header or index cannot be right (``BT_ERR_DAMAGED``)."""


class NoMatch(Error, KeyError):
    """No entry has that name, or a pattern selected nothing
    (``BT_ERR_NOT_FOUND``). A KeyError too, as ``archive[name]`` raises it."""


class Unsupported(Error):
    """The call is not available on this system (``BT_ERR_UNSUPPORTED``)."""


class WriteError(IOFailure):
    """A file could not be made or written (``BT_ERR_WRITE``): an extracted
    file, or a new archive."""


class UnsafeName(Error):
    """An entry's name refused (``BT_ERR_UNSAFE_NAME``): by extraction (a
    ".." part, an absolute or drive name, a device name, a path too long, a
    link below the directory, the file another entry of the call went
    into), or by a writer (a name extraction would refuse, or one it holds
    already)."""


class LimitExceeded(Error):
    """A limit of the format was passed: an archive or an entry that would
    reach 4 GiB (``BT_ERR_LIMIT``)."""


class ArchiveExists(IOFailure, FileExistsError):
    """A file has the name of the archive to be made; it is left as it is
    (``BT_ERR_EXISTS``)."""


class LibraryNotFound(Error):
    """The shared library could not be loaded, or is of a version this
    package cannot use."""


_CLASS_OF = {
    Status.ERR_ARGUMENT: ArgumentError,
    Status.ERR_NO_MEMORY: NoMemory,
    Status.ERR_OPEN: OpenError,
    Status.ERR_READ: ReadError,
    Status.ERR_NOT_ARCHIVE: NotAnArchive,
    Status.ERR_DAMAGED: DamagedArchive,
    Status.ERR_NOT_FOUND: NoMatch,
    Status.ERR_UNSUPPORTED: Unsupported,
    Status.ERR_UNSAFE_NAME: UnsafeName,
    Status.ERR_LIMIT: LimitExceeded,
    Status.ERR_EXISTS: ArchiveExists,
    Status.ERR_WRITE: WriteError,
}


def _known(status: Optional[int]) -> Optional[int]:
    try:
        return None if status is None else Status(status)
    except ValueError:
        return status


def error_for(status: int, message: str, path: Optional[PathType] = None) -> Error:
    """The exception for a failed call's status; `path` is kept by I/O failures."""
    cls = _CLASS_OF.get(_known(status), Error)  # type: ignore[arg-type]
    if issubclass(cls, IOFailure):
        return cls(message, status, path)
    return cls(message, status)
