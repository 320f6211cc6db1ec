"""Entry files against io's semantics, and two of them at once."""
import io

import pytest
from conftest import ENTRIES

import bigtool


DATA = ENTRIES[1][1]


@pytest.mark.parametrize("buffering", [0, -1, 7])
def test_seek_tell_and_short_reads(sample, buffering):
    with bigtool.open(sample) as archive, archive[1].open(buffering) as file:
        assert file.readable() and file.seekable() and not file.writable()
        assert file.read(10) == DATA[:10]
        assert file.seek(5, io.SEEK_CUR) == 15 and file.tell() == 15
        assert file.read(3) == DATA[15:18]
        assert file.seek(-4, io.SEEK_END) == len(DATA) - 4
        assert file.read(100) == DATA[-4:]
        assert file.read(100) == b""
        assert file.seek(len(DATA) + 10) == len(DATA) + 10 and file.read() == b""
        file.seek(100)
        buffer = bytearray(50)
        assert file.readinto(buffer) == 50 and buffer == DATA[100:150]
        file.seek(1000, io.SEEK_SET)
        assert file.read() == DATA[1000:]
        with pytest.raises(ValueError):
            file.seek(-1)
        with pytest.raises(ValueError):
            file.seek(0, 3)
    with pytest.raises(ValueError):
        file.read()


def test_two_entries_open_at_once(sample):
    with bigtool.open(sample) as archive:
        first, second = archive[0].open(0), archive[1].open(0)
        pieces = [(first.read(3), second.read(300)) for _ in range(4)]
        assert b"".join(p[0] for p in pieces) == ENTRIES[0][1][:12]
        assert b"".join(p[1] for p in pieces) == DATA[:1200]
        assert first.name == "data\\ini\\weapon.ini"
        assert archive[3].open().read() == b"" and archive[3].open(0).readinto(bytearray(4)) == 0
