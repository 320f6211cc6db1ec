"""An open archive and its entries, over the library's reading calls."""
import array
import ctypes
import io
import os
import sys
import threading
from typing import Any, BinaryIO, Iterator, List, NamedTuple, Optional, Sequence, Tuple, Union

from . import _native
from ._sources import BufferSource, FileSource, Source
from .check import Finding, FindingKind
from .errors import ArgumentError, Error, NoMatch, PathType, ReadError, Status, error_for
from .names import NameType, decode_name, encode_name, shown

Pattern = Union[str, bytes]
Directory = Union[str, bytes, "os.PathLike[Any]"]
Source_ = Union[str, bytes, "os.PathLike[Any]", BinaryIO, bytearray, memoryview]

# Entries fetched per call while iterating or listing, and the room their
# names start with (it grows for longer names).
_CHUNK = 65536
_NAMES_ROOM = 1 << 21
_NO_ENTRY = 0xFFFFFFFF  # BT_NO_ENTRY


class _Handle:
    """The C handle: calls hold it while they run, and it is closed once
    the last of them is done, never under one."""

    def __init__(self, pointer: int) -> None:
        self._pointer: Optional[int] = pointer
        self._users = 0
        self._closing = False
        self._lock = threading.Lock()

    @property
    def closed(self) -> bool:
        return self._closing

    def hold(self) -> int:
        with self._lock:
            if self._closing:
                raise ValueError("I/O operation on a closed archive.")
            self._users += 1
            return self._pointer  # type: ignore[return-value]

    def release(self) -> None:
        with self._lock:
            self._users -= 1
            self._close_if_unused()

    def close(self) -> None:
        with self._lock:
            self._closing = True
            self._close_if_unused()

    def _close_if_unused(self) -> None:
        if self._closing and self._users == 0 and self._pointer is not None:
            _native.library().bt_close(self._pointer)
            self._pointer = None


class Header(NamedTuple):
    """The header's fields."""

    archive_size: int
    entry_count: int
    start_offset: int


class Entry:
    """One entry of an open archive: its place in the index, its name and
    where its data lies. ``name`` is ``raw_name`` decoded by the rule of
    :mod:`bigtool.names`."""

    __slots__ = ("archive", "index", "raw_name", "size", "offset")

    def __init__(self, archive: "Archive", index: int, raw_name: bytes, size: int, offset: int) -> None:
        self.archive = archive
        self.index = index
        self.raw_name = raw_name
        self.size = size
        self.offset = offset

    @property
    def name(self) -> str:
        return decode_name(self.raw_name)

    def read(self) -> bytes:
        """The entry's data, whole, in memory. :meth:`open` reads it in pieces."""
        data = bytearray(self.size)
        got = self.archive._read_into(self.index, 0, memoryview(data))
        del data[got:]
        return bytes(data)

    def open(self, buffering: int = -1) -> BinaryIO:
        """A binary file object over the entry's data: readable, seekable,
        ``readinto``. Each read is one positioned read of the archive, so
        any number of entries may be open at once, and from several
        threads. `buffering` 0 gives the unbuffered :class:`EntryFile`,
        a positive number a buffer of that size, -1 the default."""
        from .entry_file import EntryFile

        raw = EntryFile(self)
        if buffering == 0:
            return raw  # type: ignore[return-value]
        size = io.DEFAULT_BUFFER_SIZE if buffering < 2 else buffering
        return io.BufferedReader(raw, size)  # type: ignore[return-value]

    def __eq__(self, other: object) -> bool:
        if not isinstance(other, Entry):
            return NotImplemented
        return self.archive is other.archive and self.index == other.index

    def __hash__(self) -> int:
        return hash((id(self.archive), self.index))

    def __repr__(self) -> str:
        return f"<bigtool.Entry {self.index} {self.name!r} size={self.size} offset={self.offset}>"


class Archive:
    """An open, validated archive; made by :func:`bigtool.open`.

    A context manager and a sequence of its entries in index order:
    ``len(a)``, ``for e in a``, ``a[3]``; by name, ``a["data/ini/x.ini"]``
    and ``name in a``, by the game's rule (``\\`` and ``/`` alike, the
    letters A to Z in either case, the first of several entries of one
    name). Closing it makes its entries' open files fail with ValueError.
    """

    def __init__(self, pointer: int, path: Optional[PathType], source: Optional[Source]) -> None:
        self._handle = _Handle(pointer)
        self.path = path
        self._source = source  # keeps the reader's callback alive
        lib = _native.library()
        fields = [ctypes.c_uint32() for _ in range(3)]
        lib.bt_header(pointer, *(ctypes.byref(f) for f in fields))
        self.header = Header(*(f.value for f in fields))
        self._count = lib.bt_entry_count(pointer)

    # Life.
    @property
    def closed(self) -> bool:
        return self._handle.closed

    def close(self) -> None:
        """Releases the archive; closing twice is allowed."""
        self._handle.close()

    def __enter__(self) -> "Archive":
        return self

    def __exit__(self, *_exc: Any) -> None:
        self.close()

    def __del__(self) -> None:
        handle = getattr(self, "_handle", None)
        try:
            if handle is not None:
                handle.close()
        except Exception:  # noqa: BLE001 - at interpreter exit the library may be gone
            pass

    def __repr__(self) -> str:
        state = "closed" if self.closed else f"{self._count} entries"
        return f"<bigtool.Archive {self.path!r} {state}>"

    # The sequence of entries.
    def __len__(self) -> int:
        return self._count

    def __iter__(self) -> Iterator[Entry]:
        index = 0
        for names, sizes, offsets in self._columns():
            for raw, size, offset in zip(names.split(b"\0"), sizes, offsets):
                yield Entry(self, index, raw, size, offset)
                index += 1

    # Whole columns, for a caller that would otherwise make an Entry for
    # each of a million entries only to read one field of it.
    def namelist(self) -> List[str]:
        """Every entry's name, in index order, decoded as :attr:`Entry.name` is."""
        names: List[str] = []
        for joined, _, _ in self._columns(sizes=False, offsets=False):
            # No name holds a zero byte, and UTF-8 never decodes one into
            # a character with the bytes beside it: one decoding for all.
            names.extend(decode_name(joined).split("\0"))
        return names

    def sizes(self) -> List[int]:
        """Every entry's data size, in index order."""
        sizes: List[int] = []
        for _, piece, _ in self._columns(names=False, offsets=False):
            sizes.extend(piece)
        return sizes

    def offsets(self) -> List[int]:
        """Every entry's data offset, in index order."""
        offsets: List[int] = []
        for _, _, piece in self._columns(names=False, sizes=False):
            offsets.extend(piece)
        return offsets

    def __getitem__(self, key: Union[int, NameType]) -> Entry:
        """Entry `key` by index (negative from the end; IndexError past
        them) or by name (str or bytes; NoMatch, a KeyError, when none has it)."""
        if isinstance(key, int):
            index = key + self._count if key < 0 else key
            if not 0 <= index < self._count:
                raise IndexError(f"there is no entry {key}; the archive has {self._count}")
            return self._entries([index])[0]
        return self._entries([self._lookup(key)])[0]

    def __contains__(self, key: object) -> bool:
        if isinstance(key, Entry):
            return key.archive is self
        if not isinstance(key, (str, bytes, bytearray, memoryview)):
            return False
        try:
            self._lookup(key)
        except NoMatch:
            return False
        return True

    def get(self, name: NameType, default: Optional[Entry] = None) -> Optional[Entry]:
        """The entry of that name, or `default`."""
        try:
            return self[name]
        except KeyError:
            return default

    def find(self, *patterns: Pattern, lists: bool = True) -> List[Entry]:
        """The entries that the patterns select, in index order, each once,
        by FIND's rules: ``\\`` and ``/`` alike, A to Z in either case,
        ``*`` any run of bytes, ``?`` any one byte, nothing else special.
        A pattern ``@file`` stands for the lines of that list file (blank
        lines skipped, a carriage return at a line's end dropped); with
        `lists` False, ``@`` is a character like any other, for names that
        begin with it. With no pattern, every entry. Every pattern must
        select an entry: NoMatch names the first that selects none."""
        if not patterns:
            return list(self)
        wanted: List[bytes] = []
        for pattern in patterns:
            wanted.extend(_expanded(pattern, lists))
        return self._entries(self._select(wanted))

    def read(self, key: Union[int, NameType]) -> bytes:
        """The data of entry `key` (index or name), whole."""
        return self[key].read()

    def open(self, key: Union[int, NameType], buffering: int = -1) -> BinaryIO:
        """A file object over entry `key`'s data; see :meth:`Entry.open`."""
        return self[key].open(buffering)

    def extract(self, patterns: Union[Pattern, Sequence[Pattern]], directory: Directory,
                *, lists: bool = True) -> List[Entry]:
        """Copies the entries that `patterns` select (a pattern, or several,
        by :meth:`find`'s rules) to files below `directory`, each to its
        stored name, in index order, and returns them.

        EXTRACT's guarantees hold: a name with a ".." part, an absolute or
        drive name or a device name is refused, as is a folder below
        `directory` that is a link, and the archive itself is never written
        over; no two entries go into one file (names the file system takes
        for one). Every name is checked before anything is made. Raises
        UnsafeName for a refused entry, OpenError for a file that could not
        be created, WriteError or ReadError for its data, NoMatch for a
        pattern that selects nothing; entries written before a failure stay.
        """
        if isinstance(patterns, (str, bytes, bytearray, memoryview)):
            patterns = [patterns]
        if not patterns:
            raise ArgumentError("extract: no patterns.", Status.ERR_ARGUMENT)
        entries = self.find(*patterns, lists=lists)
        self._extract([entry.index for entry in entries], directory)
        return entries

    def extract_all(self, directory: Directory) -> List[Entry]:
        """Copies every entry to files below `directory`, as :meth:`extract`
        does, and returns them."""
        entries = list(self)
        self._extract([entry.index for entry in entries], directory)
        return entries

    def check(self) -> List[Finding]:
        """What CHECK finds in the archive, in CHECK's order, as
        :class:`Finding` objects: empty, unsafe or too long names, names the
        other system refuses, data past the end or over the index, an end
        record not CREATE's, unreadable and overlapping data, names that
        extract onto one file (or differ in letter case alone), folders
        where files are. An empty list for a sound archive; the archive
        passes CHECK when no finding ``is_error``. Names are judged by this
        system's rules, as CHECK here judges them. Raises ReadError when the
        index or a name cannot be read."""
        lib = _native.library()
        found: List[Finding] = []

        def collect(_context: Any, finding: Any) -> int:
            entry = lib.bt_finding_entry(finding)
            other = lib.bt_finding_other(finding)
            found.append(Finding(FindingKind(lib.bt_finding_kind(finding)), bool(lib.bt_finding_is_error(finding)),
                                 None if entry == _NO_ENTRY else entry, None if other == _NO_ENTRY else other,
                                 decode_name(lib.bt_finding_message(finding))))
            return 0

        self._call(lib.bt_check, _native.CHECK_FN(collect), None, None)
        return found

    # Calls into the library.
    def _extract(self, indices: List[int], directory: Directory) -> None:
        path = os.fspath(directory)
        if isinstance(path, str):
            # The library's paths are the system's narrow ones: Windows' ANSI code page.
            path = path.encode("mbcs") if sys.platform == "win32" else os.fsencode(path)
        if b"\0" in path:
            raise ValueError("embedded null byte in path")
        array = (ctypes.c_uint32 * len(indices))(*indices)
        pointer = self._handle.hold()
        try:
            status = _native.library().bt_extract_entries(pointer, array, len(indices), path,
                                                                 _native.EXTRACT_FN(), None)
            message = _native.last_message() if status != Status.OK else ""
        finally:
            self._handle.release()
        if status != Status.OK:
            # A file that could not be made or written is below the directory.
            raise error_for(status, message, directory if status != Status.ERR_READ else self.path)

    def _call(self, function: Any, *arguments: Any) -> None:
        pointer = self._handle.hold()
        try:
            status = function(pointer, *arguments)
            message = _native.last_message() if status != Status.OK else ""
        finally:
            self._handle.release()
        if status != Status.OK:
            self._raise(status, message)

    def _raise(self, status: int, message: str) -> None:
        source_failure = self._source.failure if self._source is not None else None
        if isinstance(source_failure, (KeyboardInterrupt, SystemExit)):
            raise source_failure
        raise error_for(status, message, self.path) from source_failure

    def _entries(self, indices: Sequence[int]) -> List[Entry]:
        lib = _native.library()
        name = ctypes.c_void_p()
        length = ctypes.c_size_t()
        size = ctypes.c_uint32()
        offset = ctypes.c_uint32()
        refs = (ctypes.byref(name), ctypes.byref(length), ctypes.byref(size), ctypes.byref(offset))
        entries = []
        pointer = self._handle.hold()
        try:
            for index in indices:
                status = lib.bt_entry(pointer, index, *refs)
                if status != Status.OK:
                    self._raise(status, _native.last_message())
                raw = ctypes.string_at(name.value, length.value) if length.value else b""
                entries.append(Entry(self, index, raw, size.value, offset.value))
        finally:
            self._handle.release()
        return entries

    def _columns(self, names: bool = True, sizes: bool = True,
                 offsets: bool = True) -> Iterator[Tuple[bytes, List[int], List[int]]]:
        """The entries in pieces of up to _CHUNK, one call into the library
        each: their stored names joined by zero bytes, sizes and offsets;
        a column not asked for comes empty, unconverted."""
        lib = _native.library()
        room = _NAMES_ROOM
        want_names, want_sizes, want_offsets = names, sizes, offsets
        names = ctypes.create_string_buffer(room)
        sizes = array.array("I", bytes(4 * _CHUNK))
        offsets = array.array("I", bytes(4 * _CHUNK))
        used = ctypes.c_size_t()
        filled = ctypes.c_uint32()
        start = 0
        while start < self._count:
            wanted = min(_CHUNK, self._count - start)
            pointer = self._handle.hold()
            try:
                status = lib.bt_entries(pointer, start, wanted, names, room, ctypes.byref(used),
                                        sizes.buffer_info()[0], offsets.buffer_info()[0], ctypes.byref(filled))
                message = _native.last_message() if status != Status.OK else ""
            finally:
                self._handle.release()
            if status == Status.ERR_BUFFER_TOO_SMALL:
                room *= 2
                names = ctypes.create_string_buffer(room)
                continue
            if status != Status.OK:
                self._raise(status, message)
            got = filled.value
            yield (ctypes.string_at(names, used.value - 1) if want_names else b"",
                   sizes[:got].tolist() if want_sizes else [],
                   offsets[:got].tolist() if want_offsets else [])
            start += got

    def _lookup(self, name: NameType) -> int:
        try:
            key = encode_name(name)
        except UnicodeEncodeError:
            text = shown(str(name).encode("utf-8", "backslashreplace"))
            raise NoMatch(f"No entry matches '{text}'.", Status.ERR_NOT_FOUND) from None
        found = ctypes.c_uint32()
        self._call(_native.library().bt_lookup, key, len(key), ctypes.byref(found))
        return found.value

    def _select(self, patterns: List[bytes]) -> List[int]:
        for pattern in patterns:
            # A C string ends at a zero byte, and no name holds one.
            if b"\0" in pattern:
                raise NoMatch(f"No entry matches '{shown(pattern)}'.", Status.ERR_NOT_FOUND)
        array = (ctypes.c_char_p * len(patterns))(*patterns)
        indices = (ctypes.c_uint32 * self._count)()
        found = ctypes.c_size_t()
        self._call(_native.library().bt_select, array, len(patterns), indices, self._count,
                   ctypes.byref(found))
        return indices[:found.value]

    def _read_into(self, index: int, offset: int, target: memoryview) -> int:
        count = target.nbytes
        if count == 0:
            return 0
        buffer = (ctypes.c_char * count).from_buffer(target)
        got = ctypes.c_size_t()
        self._call(_native.library().bt_read, index, offset, buffer, count, ctypes.byref(got))
        return got.value


def _expanded(pattern: Pattern, lists: bool) -> List[bytes]:
    """A pattern as bytes, or the patterns of the list file that ``@file`` names."""
    if isinstance(pattern, str):
        is_list = pattern.startswith("@")
    elif isinstance(pattern, (bytes, bytearray, memoryview)):
        pattern = bytes(pattern)
        is_list = pattern.startswith(b"@")
    else:
        raise TypeError(f"a pattern is str or bytes, not {type(pattern).__name__}")
    if not (is_list and lists):
        return [encode_name(pattern)]
    path = pattern[1:]
    quoted = shown(os.fsencode(path))
    try:
        with io.open(path, "rb") as file:
            text = file.read()
    except OSError as failure:
        raise ReadError(f"Could not read the list file '{quoted}'.", Status.ERR_READ, path) from failure
    lines = [line[:-1] if line.endswith(b"\r") else line for line in text.split(b"\n")]
    lines = [line for line in lines if line]
    if not lines:
        raise ArgumentError(f"The list file '{quoted}' holds no pattern.", Status.ERR_ARGUMENT)
    return lines


def open_archive(source: Source_) -> Archive:
    """See :func:`bigtool.open`."""
    lib = _native.library()
    pointer = ctypes.c_void_p()
    path: Optional[PathType] = None
    reader: Optional[Source] = None
    if isinstance(source, (str, bytes, os.PathLike)):
        path = os.fspath(source)
        if isinstance(path, str) and sys.platform == "win32":
            if "\0" in path:
                raise ValueError("embedded null character in path")
            status = lib.bt_open_wide(ctypes.byref(pointer), path)
        else:
            encoded = os.fsencode(path)
            if b"\0" in encoded:
                raise ValueError("embedded null byte in path")
            status = lib.bt_open(ctypes.byref(pointer), encoded)
    else:
        if hasattr(source, "seek") and hasattr(source, "read"):
            reader = FileSource(source)
        else:
            try:
                reader = BufferSource(source)
            except TypeError:
                raise TypeError("bigtool.open takes a path, a bytes-like object or a binary file "
                                f"object, not {type(source).__name__}") from None
        status = lib.bt_open_reader(ctypes.byref(pointer), reader.callback, None, reader.size)
    if status != Status.OK:
        message = _native.last_message()
        failure = reader.failure if reader is not None else None
        if isinstance(failure, (KeyboardInterrupt, SystemExit)):
            raise failure
        raise error_for(status, message, path) from failure
    if not pointer.value:
        raise Error("The library gave no handle.", status)
    return Archive(pointer.value, path, reader)
