"""A file object over one entry's data, read by position."""
import io
from typing import TYPE_CHECKING, Any

if TYPE_CHECKING:
    from .archive import Entry


class EntryFile(io.RawIOBase):
    """Unbuffered, read-only and seekable, as ``io`` defines them. Its
    position is its own: every read asks the library for a range of the
    entry, so files of one archive never disturb each other and nothing
    but the caller's buffer holds the data. A read past the end gives
    ``b""``; a read that the archive cannot satisfy raises
    :class:`bigtool.ReadError`."""

    mode = "rb"

    def __init__(self, entry: "Entry") -> None:
        super().__init__()
        self.entry = entry
        self.name = entry.name
        self._position = 0

    def readable(self) -> bool:
        self._check_open()
        return True

    def seekable(self) -> bool:
        self._check_open()
        return True

    def readinto(self, buffer: Any) -> int:
        self._check_open()
        target = memoryview(buffer).cast("B")
        if self._position >= self.entry.size:
            return 0
        got = self.entry.archive._read_into(self.entry.index, self._position, target)
        self._position += got
        return got

    def readall(self) -> bytes:
        self._check_open()
        data = bytearray(max(self.entry.size - self._position, 0))
        got = self.readinto(data)
        del data[got:]
        return bytes(data)

    def seek(self, offset: int, whence: int = io.SEEK_SET) -> int:
        self._check_open()
        offset = offset.__index__()
        if whence == io.SEEK_SET:
            base = 0
        elif whence == io.SEEK_CUR:
            base = self._position
        elif whence == io.SEEK_END:
            base = self.entry.size
        else:
            raise ValueError(f"invalid whence ({whence}, should be 0, 1 or 2)")
        if base + offset < 0:
            raise ValueError(f"negative seek position {base + offset}")
        self._position = base + offset
        return self._position

    def tell(self) -> int:
        self._check_open()
        return self._position

    def _check_open(self) -> None:
        if self.closed:
            raise ValueError("I/O operation on closed file.")
