"""Writing archives: Writer's sources, refusals and its all-or-nothing
block; create() against the tree it was given and against the command
line's CREATE."""
import io
import os
import subprocess
from pathlib import Path

import pytest
from hypothesis import given, strategies as st

import bigtool
from conftest import archive_bytes


def test_writer_takes_bytes_paths_and_file_objects(tmp_path: Path) -> None:
    (tmp_path / "in.txt").write_bytes(b"from a file")
    target = tmp_path / "new.big"
    with bigtool.Writer(target) as writer:
        writer.add("data/ini/weapon.ini", b"damage = 45\n")
        writer.add(b"caf\xe9.txt", str(tmp_path / "in.txt"))
        writer.add("stream.bin", io.BytesIO(b"0123456789"))
        writer.add("empty", bytearray())
        assert len(writer) == 4 and not target.exists()
    assert target.read_bytes() == archive_bytes([
        (b"data/ini/weapon.ini", b"damage = 45\n"), (b"caf\xe9.txt", b"from a file"),
        (b"stream.bin", b"0123456789"), (b"empty", b"")])


def test_nothing_is_left_unless_the_block_completes(tmp_path: Path) -> None:
    target = tmp_path / "new.big"
    with pytest.raises(RuntimeError):
        with bigtool.Writer(target) as writer:
            writer.add("a.txt", b"a")
            raise RuntimeError("stop")
    with bigtool.Writer(target) as writer:
        with pytest.raises(bigtool.UnsafeName, match=r"'\.\.\\up' cannot be stored: its name would be unsafe"):
            writer.add("..\\up", b"x")
        writer.add("a.txt", b"a")
        with pytest.raises(bigtool.UnsafeName, match="'A.TXT' cannot be stored: 'a.txt' has the same name in the archive"):
            writer.add("A.TXT", b"b")
    assert os.listdir(tmp_path) == ["new.big"]
    with pytest.raises(bigtool.ArchiveExists) as refused:
        with bigtool.Writer(target) as writer:
            writer.add("b.txt", b"b")
    assert refused.value.path == str(target)
    assert target.read_bytes() == archive_bytes([(b"a.txt", b"a")])
    assert os.listdir(tmp_path) == ["new.big"]


def test_a_file_object_that_fails_leaves_nothing(tmp_path: Path) -> None:
    class Broken(io.BytesIO):
        def readinto(self, buffer):  # type: ignore[no-untyped-def]
            raise OSError("disk gone")

    with pytest.raises(bigtool.ReadError) as failed:
        with bigtool.Writer(tmp_path / "new.big") as writer:
            writer.add("x", Broken(b"abc"))
    assert isinstance(failed.value.__cause__, OSError)
    assert os.listdir(tmp_path) == []


# Names the format and both systems take: parts of letters, digits and a
# few marks, none beginning with '.' (which CREATE passes over).
PART = st.text(alphabet="abcXYZ019_-é", min_size=1, max_size=6)
TREE = st.dictionaries(st.lists(PART, min_size=1, max_size=3).map(tuple), st.binary(max_size=40), max_size=8)


@given(TREE)
def test_create_round_trip_and_the_command_line_agree(tree: dict) -> None:
    import tempfile

    with tempfile.TemporaryDirectory() as work:
        root = Path(work) / "tree"
        root.mkdir()
        files = {}
        for parts, data in tree.items():
            path = root.joinpath(*parts)
            if any(p.is_file() for p in path.parents) or path.is_dir():
                continue  # a part that is a file already
            path.parent.mkdir(parents=True, exist_ok=True)
            path.write_bytes(data)
            files["\\".join(parts)] = data
        made = Path(work) / "made.big"
        if not files:
            return
        assert bigtool.create(made, root) == len(files)
        with bigtool.open(made) as archive:
            assert {entry.name: entry.read() for entry in archive} == files
        tool = os.environ.get("BIGTOOL_TOOL")
        if tool:
            subprocess.run([tool, str(Path(work) / "cli.big"), "CREATE", str(root)], check=True,
                           stdout=subprocess.DEVNULL)
            assert made.read_bytes() == (Path(work) / "cli.big").read_bytes()


def test_edit_commits_at_the_end_and_changes_nothing_when_the_block_raises(tmp_path: Path) -> None:
    path = tmp_path / "mod.big"
    path.write_bytes(archive_bytes([(b"a.txt", b"a"), (b"sub\\b.txt", b"bb"), (b"c.txt", b"c")]))
    (tmp_path / "d.txt").write_bytes(b"from d")
    with pytest.raises(RuntimeError):
        with bigtool.edit(path) as edit:
            edit["SUB/B.TXT"] = b"NEW"
            raise RuntimeError("stop")
    assert path.read_bytes() == archive_bytes([(b"a.txt", b"a"), (b"sub\\b.txt", b"bb"), (b"c.txt", b"c")])
    with bigtool.edit(path) as edit:
        edit["SUB/B.TXT"] = b"NEW"
        edit["d.txt"] = str(tmp_path / "d.txt")
        del edit["C*"]
        with pytest.raises(bigtool.NoMatch, match="No entry matches 'none'."):
            del edit["none"]
        with pytest.raises(bigtool.OpenError, match="another program is changing"):
            bigtool.edit(path)
    assert path.read_bytes() == archive_bytes([(b"a.txt", b"a"), (b"sub\\b.txt", b"NEW"), (b"d.txt", b"from d")])
    assert sorted(os.listdir(tmp_path)) == ["d.txt", "mod.big"]
