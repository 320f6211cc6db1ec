"""The archive as a sequence and a mapping, FIND's patterns and the names."""
import io

import pytest
from conftest import ENTRIES, archive_bytes

import bigtool


def test_entries_in_index_order(sample):
    with bigtool.open(sample) as archive:
        assert len(archive) == 5
        assert archive.header == (sample.stat().st_size, 5, 16 + sum(9 + len(n) for n, _ in ENTRIES) + 8)
        got = [(e.index, e.raw_name, e.size, e.read()) for e in archive]
        assert got == [(k, name, len(data), data) for k, (name, data) in enumerate(ENTRIES)]
        assert archive[1].offset == archive[0].offset + len(ENTRIES[0][1])
        assert archive.namelist() == [e.name for e in archive]
        assert archive.namelist()[4] == "caf\udce9.txt"
        assert archive.sizes() == [len(data) for _, data in ENTRIES]
        assert archive.offsets() == [e.offset for e in archive]
        assert (archive[-1].index, archive[-1].name) == (4, "caf\udce9.txt")
        with pytest.raises(IndexError):
            archive[5]
    assert archive.closed


def test_entries_fetched_in_pieces(sample, monkeypatch):
    # Pieces of two entries, and a names' buffer that must grow for each.
    monkeypatch.setattr(bigtool.archive, "_CHUNK", 2)
    monkeypatch.setattr(bigtool.archive, "_NAMES_ROOM", 4)
    with bigtool.open(sample) as archive:
        assert [e.raw_name for e in archive] == [name for name, _ in ENTRIES]
        assert archive.namelist() == [name.decode("utf-8", "surrogateescape") for name, _ in ENTRIES]


@pytest.mark.parametrize("key, index", [
    ("DATA/INI/Weapon.INI", 0), (b"data\\ini\\weapon.ini", 0),
    ("maps/harbour.map", 1),  # the first of two of one name
    ("caf\udce9.txt", 4), (b"caf\xe9.txt", 4),
    ("data/ini", None), ("café.txt", None), ("\ud800", None), (b"empty.txt\0", None),
])
def test_names_by_the_games_rule(sample, key, index):
    with bigtool.open(sample) as archive:
        assert (key in archive, getattr(archive.get(key), "index", None)) == (index is not None, index)
        if index is None:
            with pytest.raises(KeyError) as raised:
                archive[key]
            assert isinstance(raised.value, bigtool.NoMatch)
        else:
            assert archive[key].index == index


@pytest.mark.parametrize("patterns, indices", [
    ((), [0, 1, 2, 3, 4]),
    (("*",), [0, 1, 2, 3, 4]),
    (("MAPS/*",), [1, 2]),
    (("*.txt", "data?ini?weapon.ini"), [0, 3, 4]),
    (("empty.txt", "EMPTY.TXT"), [3]),
    (("[*",), None),
])
def test_find(sample, patterns, indices):
    with bigtool.open(sample) as archive:
        if indices is None:
            with pytest.raises(bigtool.NoMatch, match=r"^No entry matches '\[\*'\.$"):
                archive.find(*patterns)
        else:
            assert [e.index for e in archive.find(*patterns)] == indices


def test_find_list_files(sample, tmp_path):
    wanted = tmp_path / "wanted.txt"
    wanted.write_bytes(b"maps\\harbour.map\r\n\n\r\nempty.*\n")
    empty = tmp_path / "empty.txt"
    empty.write_bytes(b"\r\n\n")
    with bigtool.open(sample) as archive:
        assert [e.index for e in archive.find("caf*", f"@{wanted}")] == [1, 2, 3, 4]
        assert [e.index for e in archive.find(b"@" + bytes(wanted))] == [1, 2, 3]
        with pytest.raises(bigtool.ArgumentError, match=f"^The list file '{empty}' holds no pattern.$"):
            archive.find(f"@{empty}")
        with pytest.raises(bigtool.ReadError) as raised:
            archive.find(f"@{tmp_path}/none.txt")
        assert raised.value.message == f"Could not read the list file '{tmp_path}/none.txt'."
        assert raised.value.path == f"{tmp_path}/none.txt"
        with pytest.raises(bigtool.NoMatch):
            archive.find("empty\0.txt")


@pytest.mark.parametrize("wrap", [bytearray, memoryview, io.BytesIO])
def test_archives_in_memory(wrap):
    data = archive_bytes(ENTRIES)
    with bigtool.open(wrap(data)) as archive:
        assert archive.path is None
        assert [e.read() for e in archive] == [d for _, d in ENTRIES]


def test_closed_archive(sample):
    archive = bigtool.open(sample)
    file = archive[1].open()
    archive.close()
    archive.close()
    for use in (lambda: archive[0], lambda: file.read(1), lambda: archive.find("*")):
        with pytest.raises(ValueError):
            use()


def test_extract(sample, tmp_path):
    with bigtool.open(sample) as archive:
        written = archive.extract("data/ini/*", tmp_path / "out")
        assert [entry.index for entry in written] == [0]
        assert len(archive.extract_all(tmp_path / "all")) == len(ENTRIES)
    assert (tmp_path / "out" / "data" / "ini" / "weapon.ini").read_bytes() == ENTRIES[0][1]
    assert (tmp_path / "all" / "maps" / "harbour.map").read_bytes() == ENTRIES[1][1]


@pytest.mark.parametrize("name", [b"..\\x", b"/abs", b"sub\\..\\..\\x"])
def test_extract_refuses_unsafe_names(tmp_path, name):
    archive = bigtool.open(memoryview(archive_bytes([(b"ok.txt", b"1"), (name, b"2")])))
    with pytest.raises(bigtool.UnsafeName, match="unsafe file name") as refused:
        archive.extract_all(tmp_path / "out")
    assert refused.value.status == bigtool.Status.ERR_UNSAFE_NAME
    assert not (tmp_path / "out").exists()


BROKEN = [(b"a", b"1"), (b"a\\b.txt", b"22"), (b"a", b"333"), (b"c.txt", b"22")]


@pytest.mark.parametrize("entries, offsets, findings", [
    (ENTRIES, None, [(bigtool.FindingKind.SAME_BUT_CASE, False, 2, 1,
                      "entry 1 differs only in letter case; Windows extracts both into one file.")]),
    ([(b"readme.txt", b"x")], None, []),
    # Entry 3's data is entry 1's; entry 2 has entry 0's name, which entry 1 needs as a folder.
    (BROKEN, [74, 75, 77, 75], [
        (bigtool.FindingKind.DATA_OVERLAP, False, 3, 1, "its data overlaps that of entry 1."),
        (bigtool.FindingKind.SAME_NAME, True, 2, 0, "entry 0 has the same name; extracting both would lose one."),
        (bigtool.FindingKind.FOLDER_IS_FILE, True, 1, 0,
         "it needs a folder where entry 0 'a' is a file; extraction cannot write both."),
    ]),
])
def test_check(entries, offsets, findings):
    with bigtool.open(bytearray(archive_bytes(entries, offsets=offsets))) as archive:
        assert archive.check() == findings
