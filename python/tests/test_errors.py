"""Each error class on the archives that cause it; damage raises only bigtool.Error."""
import io

import pytest
from conftest import ENTRIES, archive_bytes
from hypothesis import given, settings
from hypothesis import strategies as st

import bigtool

GOOD = archive_bytes(ENTRIES)
BROKEN = [
    ("magic_in_lower_case", archive_bytes(ENTRIES, magic=b"bigf"), bigtool.NotAnArchive,
     "This is not a tarvenor BIG file."),
    ("one_byte_appended", GOOD + b"x", bigtool.DamagedArchive, "Header filesize mismatch."),
    ("no_entry", archive_bytes(ENTRIES, count=0), bigtool.DamagedArchive, "Does not contain any file."),
    ("negative_count", archive_bytes(ENTRIES, count=-1), bigtool.DamagedArchive,
     "Does not contain any file."),
    ("count_past_the_index", archive_bytes(ENTRIES, count=6), bigtool.DamagedArchive,
     "Header file count mismatch."),
    ("cut_in_the_magic", GOOD[:3], bigtool.NotAnArchive, "This is not a tarvenor BIG file."),
]


@pytest.mark.parametrize("name, data, error, message", BROKEN, ids=[row[0] for row in BROKEN])
def test_broken_archives(tmp_path, name, data, error, message):
    path = tmp_path / f"{name}.big"
    path.write_bytes(data)
    with pytest.raises(error) as raised:
        bigtool.open(path)
    assert raised.value.message == message
    assert raised.value.status == {bigtool.NotAnArchive: -5, bigtool.DamagedArchive: -6}[error]


def test_io_failures_name_the_path(tmp_path):
    missing = tmp_path / "missing.big"
    with pytest.raises(bigtool.OpenError) as raised:
        bigtool.open(missing)
    assert (raised.value.message, raised.value.status, raised.value.path) == (
        "Could not open file.", bigtool.Status.ERR_OPEN, str(missing))
    assert str(raised.value) == f"Could not open file. ('{missing}')"
    # Data that runs past the end of the file: the archive opens, its data fails.
    path = tmp_path / "past.big"
    path.write_bytes(archive_bytes(ENTRIES[:1], offsets=[len(GOOD)]))
    with bigtool.open(path) as archive:
        for read in (archive[0].read, archive[0].open().read):
            with pytest.raises(bigtool.ReadError) as raised:
                read()
            assert (raised.value.message, raised.value.path) == ("Could not read from BIG file.", str(path))
def test_a_failing_file_object_is_the_cause():
    class Failing(io.BytesIO):
        def readinto(self, buffer):
            raise OSError("disk gone")

    with pytest.raises(bigtool.ReadError) as raised:
        bigtool.open(Failing(GOOD))
    assert isinstance(raised.value.__cause__, OSError)


def read_everything(data: bytes) -> None:
    try:
        with bigtool.open(memoryview(data)) as archive:
            for entry in archive.find("*"):
                with archive[entry.name].open() as file:
                    file.seek(entry.size // 2)
                    file.read()
    except bigtool.Error:
        pass  # anything else fails the test


@settings(max_examples=300, deadline=None)
@given(st.lists(st.tuples(st.integers(0, len(GOOD) - 1), st.integers(0, 255)), max_size=6),
       st.integers(0, len(GOOD)))
def test_damaged_bytes_raise_only_bigtool_errors(changes, length):
    data = bytearray(GOOD[:length])
    for at, value in changes:
        if at < len(data):
            data[at] = value
    read_everything(bytes(data))


@settings(max_examples=200, deadline=None)
@given(st.lists(st.binary(min_size=1, max_size=40).filter(lambda n: b"\0" not in n), min_size=1,
                max_size=8))
def test_any_stored_name_round_trips(names):
    with bigtool.open(memoryview(archive_bytes([(n, n) for n in names]))) as archive:
        for entry, name in zip(archive, names):
            assert entry.raw_name == name and entry.name.encode("utf-8", "surrogateescape") == name
            found = archive[entry.name]
            assert found.index <= entry.index and found == archive[name]
            if not set(name) & set(b"*?"):
                assert archive.find(name, lists=False)[0] == found

