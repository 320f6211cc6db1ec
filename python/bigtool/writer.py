"""Writing a new archive: :class:`Writer`, and :func:`create` of a folder."""
import ctypes
import os
from typing import Any, BinaryIO, List, Optional, Tuple, Union

from . import _native
from ._sources import FileSource, Source
from .errors import PathType, Status, error_for
from .names import NameType, encode_name

DataType = Union[bytes, bytearray, memoryview, str, "os.PathLike[Any]", BinaryIO]


def _encoded(path: PathType) -> bytes:
    encoded = os.fsencode(path)
    if b"\0" in encoded:
        raise ValueError("embedded null byte in path")
    return encoded


class _Committed:
    """What Writer and Edit share: a handle, committed at the end of a
    ``with`` block that does not raise and released in any case."""

    _handle: Optional[int] = None
    _what = "handle"

    def commit(self) -> None:
        raise NotImplementedError

    def close(self) -> None:
        raise NotImplementedError

    def __enter__(self) -> Any:
        return self

    def __exit__(self, kind: Any, value: Any, traceback: Any) -> None:
        try:
            if kind is None:
                self.commit()
        finally:
            self.close()

    def __del__(self) -> None:
        if getattr(self, "_handle", None):
            self.close()

    def _open_handle(self) -> int:
        if not self._handle:
            raise ValueError(f"the {self._what} is closed")
        return self._handle


class Writer(_Committed):
    """A new archive at `path`, made of the entries added, in order::

        with bigtool.Writer("new.big") as writer:
            writer.add("data/ini/weapon.ini", b"damage = 45\\n")
            writer.add("maps/harbour.map", "work/harbour.map")   # a file's path
            writer.add("readme.txt", open("readme.txt", "rb"))   # a file object

    Nothing is at `path` until the block ends without an exception (or
    :meth:`commit` returns): the archive is then written beside it, synced
    and given the name, never over a file that has it (:class:`ArchiveExists`).
    A block that raises, or a writer closed without a commit, leaves
    nothing behind. Names follow CREATE's rules: :class:`UnsafeName` for a
    name extraction would refuse or one added before (by the game's rule),
    :class:`LimitExceeded` at 4 GiB.
    """

    _what = "writer"

    def __init__(self, path: PathType) -> None:
        self.path = os.fspath(path)
        encoded = _encoded(self.path)
        handle = ctypes.c_void_p()
        self._check(_native.library().bt_writer_new(ctypes.byref(handle), encoded), None)
        self._handle = handle.value
        # File objects the library reads at the commit: kept alive until then.
        self._sources: List[Tuple[Source, Any]] = []

    def add(self, name: NameType, data: DataType) -> None:
        """Adds an entry named `name` (text or the stored bytes) holding
        `data`: bytes-like (copied now), a path (str or path-like; its size
        taken now, its bytes at the commit) or a binary file object that can
        seek (read from its start at the commit, so it must stay open)."""
        raw = encode_name(name)
        lib = _native.library()
        handle = self._open_handle()
        if isinstance(data, (str, os.PathLike)):
            where = _encoded(os.fspath(data))
            self._check(lib.bt_writer_add_file(handle, raw, len(raw), where), os.fspath(data))
        elif hasattr(data, "seek") and hasattr(data, "read"):
            source = FileSource(data)
            self._check(lib.bt_writer_add_reader(handle, raw, len(raw), source.callback, None, source.size),
                        None, source)
            self._sources.append((source, data))
        else:
            view = memoryview(data).cast("B")  # TypeError for anything else
            buffer = (ctypes.c_char * len(view)).from_buffer_copy(view) if len(view) else None
            self._check(lib.bt_writer_add_bytes(handle, raw, len(raw), buffer, len(view)), None)

    def add_folder(self, folder: PathType) -> None:
        """Adds every file below `folder` as CREATE walks it (see
        :func:`create`), each as a path is added. On a failure the files
        added before it stay added."""
        where = os.fspath(folder)
        self._check(_native.library().bt_writer_add_folder(self._open_handle(), _encoded(where)), where)

    def __len__(self) -> int:
        return int(_native.library().bt_writer_count(self._handle)) if self._handle else 0

    def commit(self) -> None:
        """Writes the archive and gives it its name; the writer then closes."""
        failures = [source for source, _ in self._sources]
        self._check(_native.library().bt_writer_commit(self._open_handle()), self.path, *failures)
        self.close()

    def close(self) -> None:
        """Releases the writer; an archive not committed is not made."""
        if self._handle:
            _native.library().bt_writer_free(self._handle)
            self._handle = None
            self._sources.clear()


    def _check(self, status: int, path: Optional[PathType], *sources: Source) -> None:
        if status == Status.OK:
            return
        message = _native.last_message()
        failure = next((source.failure for source in sources if source.failure is not None), None)
        if isinstance(failure, (KeyboardInterrupt, SystemExit)):
            raise failure
        raise error_for(status, message, path) from failure


class Edit(_Committed):
    """Changes to the archive at `path`, made at the end of the block::

        with bigtool.edit("mod.big") as edit:
            edit["data/ini/weapon.ini"] = b"damage = 45\n"   # replaced where it is
            edit["maps/new.map"] = "work/new.map"              # added: a file's path
            del edit["maps/old_*"]                             # FIND's patterns

    When the block ends without an exception the new archive is written
    beside the old one and put in its place in one step, as UPDATE and
    DELETE do: the name holds the old archive or the whole new one,
    whatever happens; a block that raises changes nothing. From the start
    of the block to its end the edit holds the lock UPDATE and DELETE
    take; readers may read the archive meanwhile.
    """

    _what = "edit"

    def __init__(self, path: PathType) -> None:
        self.path = os.fspath(path)
        encoded = _encoded(self.path)
        handle = ctypes.c_void_p()
        _check(_native.library().bt_edit_open(ctypes.byref(handle), encoded), self.path)
        self._handle = handle.value

    def __setitem__(self, name: NameType, data: Union[bytes, bytearray, memoryview, str, "os.PathLike[Any]"]) -> None:
        """The entry `name` (by the game's rule) takes `data`, bytes-like or
        a file's path (read at the commit), under its stored name; a name
        the archive lacks is added after its entries."""
        raw = encode_name(name)
        lib = _native.library()
        if isinstance(data, (str, os.PathLike)):
            where = _encoded(os.fspath(data))
            _check(lib.bt_edit_put_file(self._open_handle(), raw, len(raw), where), os.fspath(data))
            return
        view = memoryview(data).cast("B")
        buffer = (ctypes.c_char * len(view)).from_buffer_copy(view) if len(view) else None
        _check(lib.bt_edit_put_bytes(self._open_handle(), raw, len(raw), buffer, len(view)), None)

    def __delitem__(self, pattern: NameType) -> None:
        """Removes the entries `pattern` selects; NoMatch when none."""
        self.remove(pattern)

    def remove(self, *patterns: NameType) -> int:
        """Removes the entries the patterns select (FIND's rules) and says
        how many; NoMatch, nothing removed, when a pattern selects none."""
        encoded = [encode_name(pattern) for pattern in patterns]
        array = (ctypes.c_char_p * len(encoded))(*encoded)
        removed = ctypes.c_size_t()
        _check(_native.library().bt_edit_remove(self._open_handle(), array, len(encoded),
                                                ctypes.byref(removed)), None)
        return int(removed.value)

    def commit(self) -> None:
        """Writes the changed archive and puts it in place; the edit ends."""
        try:
            _check(_native.library().bt_edit_commit(self._open_handle()), self.path)
        finally:
            self.close()

    def close(self) -> None:
        """Ends the edit without changing the archive (after a commit: its end)."""
        if self._handle:
            _native.library().bt_edit_free(self._handle)
            self._handle = None



def edit(path: PathType) -> Edit:
    """Changes to the archive at `path`, committed at the end of a ``with``
    block that does not raise; see :class:`Edit`."""
    return Edit(path)


def _check(status: int, path: Optional[PathType]) -> None:
    if status != Status.OK:
        raise error_for(status, _native.last_message(), path)


def create(path: PathType, folder: PathType) -> int:
    """Makes the archive `path` of every file below `folder`, as CREATE
    does: names beginning with '.' passed over, each folder's items in
    CREATE's order (a-z as A-Z, then by bytes), folders walked where they
    come, links followed (a link back to a folder above is walked once),
    names relative to `folder` with '\\' between their parts. Returns the
    number of entries. Nothing is at `path` unless it completes."""
    if not os.path.isdir(os.fspath(folder)):
        raise error_for(Status.ERR_OPEN, "Could not open input directory.", os.fspath(folder))
    with Writer(path) as writer:
        writer.add_folder(folder)
        return len(writer)


__all__ = ["Writer", "create", "Edit", "edit", "DataType"]
