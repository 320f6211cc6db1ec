"""A tiny archive writer, byte by byte, any field overridden to damage it;
the sample archive."""
import struct
from pathlib import Path
from typing import List, Optional, Sequence, Tuple

import pytest
from hypothesis import settings

ENTRIES = [
    (b"data\\ini\\weapon.ini", b"[Sword]\r\ndamage=7\r\n"),
    (b"maps\\harbour.map", bytes(range(256)) * 40),
    (b"Maps\\Harbour.map", b"second of one name"),
    (b"empty.txt", b""),
    (b"caf\xe9.txt", b"code page 1252"),
]

# Runs leave nothing behind: no example database.
settings.register_profile("bigtool", database=None)
settings.load_profile("bigtool")


def archive_bytes(entries: Sequence[Tuple[bytes, bytes]], *, magic: bytes = b"BIGF",
                  size: Optional[int] = None, count: Optional[int] = None,
                  offsets: Optional[List[int]] = None) -> bytes:
    """An archive of `entries` (name, data) laid out as CREATE lays it out."""
    start = 16 + sum(9 + len(name) for name, _ in entries) + 8
    index, at = b"", start
    for k, (name, data) in enumerate(entries):
        index += struct.pack(">II", at if offsets is None else offsets[k], len(data)) + name + b"\0"
        at += len(data)
    header = magic + struct.pack("<I", at if size is None else size)
    header += struct.pack(">iI", len(entries) if count is None else count, start)
    return header + index + b"L225\0\0\0\0" + b"".join(data for _, data in entries)


@pytest.fixture
def sample(tmp_path: Path) -> Path:
    path = tmp_path / "mod.big"
    path.write_bytes(archive_bytes(ENTRIES))
    return path
