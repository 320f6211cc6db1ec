"""Archives that are not files on disk: a buffer in memory, or a file
object, read by the library through a callback (``bt_open_reader``)."""
import ctypes
import io
import threading
from typing import Any, Optional

from ._native import READ_FN


class Source:
    """Bytes the library reads at any offset. `failure` keeps what the last
    read raised, to be given as the cause of the error that follows."""

    size = 0

    def __init__(self) -> None:
        self.failure: Optional[BaseException] = None
        # The library calls this while the handle lives: the archive keeps
        # the source, and so the callback, alive as long.
        self.callback = READ_FN(self._call)

    def read_into(self, offset: int, address: int, count: int) -> int:
        raise NotImplementedError

    def _call(self, _context: Any, offset: int, address: Optional[int], count: int, got: Any) -> int:
        # Nothing may escape a callback: ctypes would print it and report success.
        try:
            got[0] = self.read_into(offset, address, count) if count and address else 0
            return 0
        except BaseException as failure:  # noqa: B036 - the C side cannot take it
            self.failure = failure
            return 1


class BufferSource(Source):
    """A bytes-like object; the archive keeps a view of it, not a copy."""

    def __init__(self, data: Any) -> None:
        super().__init__()
        self._view = memoryview(data).cast("B")
        self.size = len(self._view)

    def read_into(self, offset: int, address: int, count: int) -> int:
        chunk = self._view[offset:offset + count]
        ctypes.memmove(address, chunk.tobytes(), len(chunk))
        return len(chunk)


class FileSource(Source):
    """A readable, seekable binary file object. It has one position, so the
    library's reads, which may come from several threads, take turns."""

    def __init__(self, file: Any) -> None:
        super().__init__()
        self._file = file
        self._lock = threading.Lock()
        try:
            self.size = file.seek(0, io.SEEK_END)
        except (OSError, ValueError) as refused:
            raise ValueError(f"bigtool.open needs a file object that can seek: {refused}") from refused

    def read_into(self, offset: int, address: int, count: int) -> int:
        target = memoryview((ctypes.c_char * count).from_address(address)).cast("B")
        done = 0
        with self._lock:
            self._file.seek(offset)
            while done < count:
                got = self._read_some(target[done:])
                if not got:
                    break
                done += got
        return done

    def _read_some(self, target: memoryview) -> int:
        readinto = getattr(self._file, "readinto", None)
        if readinto is not None:
            return readinto(target) or 0
        data = self._file.read(len(target))
        if len(data) > len(target):
            raise ValueError("the file object returned more bytes than asked for")
        target[:len(data)] = data
        return len(data)
