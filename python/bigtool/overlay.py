"""Archives read together in a load order, as MERGE and CONFLICTS read them."""
import ctypes
import os
from typing import Any, Iterator, List, NamedTuple, Tuple, Union

from . import _native
from .archive import Archive, Entry, open_archive
from .errors import Status, error_for
from .names import encode_name

NameType = Union[str, bytes]


class Conflict(NamedTuple):
    """A name several archives hold with different data: each archive's
    first entry of it, in load order, the winner last."""
    name: str
    holders: List[Tuple[Archive, Entry]]


class Overlay:
    """Archives in a load order, lowest precedence first: a later archive's
    entry hides one of the same name (by the game's rule) in an earlier one.

    A context manager; ``len(o)`` is the number of distinct names, and
    ``for archive, entry in o`` walks the winners in the order of an archive
    merged from them. Archives added by path are opened and closed by the
    overlay; an Archive added stays open until the overlay is closed.
    """

    def __init__(self, *archives: Union[Archive, str, bytes, "os.PathLike[Any]"]) -> None:
        pointer = ctypes.c_void_p()
        status = _native.library().bt_overlay_new(ctypes.byref(pointer))
        if status != Status.OK:
            raise error_for(status, _native.last_message())
        self._pointer = pointer.value
        self._archives: List[Archive] = []
        self._owned: List[Archive] = []
        for archive in archives:
            self.add(archive)

    def add(self, archive: Union[Archive, str, bytes, "os.PathLike[Any]"]) -> Archive:
        """Adds an archive, or the one at a path, last in the load order."""
        if self._pointer is None:
            raise ValueError("I/O operation on a closed overlay.")
        owned = not isinstance(archive, Archive)
        opened = open_archive(archive) if owned else archive
        handle = opened._handle.hold()
        status = _native.library().bt_overlay_add(self._pointer, handle)
        if status != Status.OK:
            message = self._message()
            opened._handle.release()
            if owned:
                opened.close()
            raise error_for(status, message)
        self._archives.append(opened)
        if owned:
            self._owned.append(opened)
        return opened

    def _message(self) -> str:
        raw = _native.library().bt_overlay_errmsg(self._pointer)
        return raw.decode("utf-8", "backslashreplace") if raw else ""

    def _held(self, position: int, index: int) -> Tuple[Archive, Entry]:
        archive = self._archives[position]
        return archive, archive[index]

    def _live(self) -> int:
        if self._pointer is None:
            raise ValueError("I/O operation on a closed overlay.")
        return self._pointer

    def winner(self, name: NameType) -> Tuple[Archive, Entry]:
        """The archive and entry that win for `name`; KeyError (NoMatch) when none holds it."""
        raw = encode_name(name)
        position, index = ctypes.c_uint32(), ctypes.c_uint32()
        status = _native.library().bt_overlay_lookup(self._live(), raw, len(raw), ctypes.byref(position),
                                                     ctypes.byref(index))
        if status != Status.OK:
            raise error_for(status, self._message())
        return self._held(position.value, index.value)

    def __len__(self) -> int:
        return int(_native.library().bt_overlay_name_count(self._live()))

    def __iter__(self) -> Iterator[Tuple[Archive, Entry]]:
        lib = _native.library()
        position, index = ctypes.c_uint32(), ctypes.c_uint32()
        for k in range(len(self)):
            status = lib.bt_overlay_winner(self._live(), k, ctypes.byref(position), ctypes.byref(index))
            if status != Status.OK:
                raise error_for(status, self._message())
            yield self._held(position.value, index.value)

    def conflicts(self) -> List[Conflict]:
        """The names several archives hold with different data, in the winners' order."""
        found: List[Conflict] = []

        def collect(_context: Any, _name: Any, _length: int, positions: Any, indices: Any, holders: int) -> int:
            held = [self._held(positions[h], indices[h]) for h in range(holders)]
            found.append(Conflict(held[-1][1].name, held))
            return 0

        callback = _native.CONFLICT_FN(collect)
        status = _native.library().bt_overlay_conflicts(self._live(), callback, None, None)
        if status != Status.OK:
            raise error_for(status, self._message())
        return found

    def close(self) -> None:
        """Frees the overlay and closes the archives it opened."""
        if self._pointer is None:
            return
        _native.library().bt_overlay_free(self._pointer)
        self._pointer = None
        for archive in self._archives:
            archive._handle.release()
        for archive in self._owned:
            archive.close()

    def __enter__(self) -> "Overlay":
        return self

    def __exit__(self, *_exc: Any) -> None:
        self.close()

    def __del__(self) -> None:
        if getattr(self, "_pointer", None) is not None:
            self.close()
