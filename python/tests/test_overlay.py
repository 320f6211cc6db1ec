"""Archives in a load order: winners, their order, conflicts."""
import pytest
from conftest import archive_bytes

import bigtool


def test_later_archives_win_and_conflicts_name_the_holders(tmp_path):
    base, mod = tmp_path / "base.big", tmp_path / "mod.big"
    base.write_bytes(archive_bytes([(b"a.ini", b"one"), (b"b.ini", b"same"), (b"c.ini", b"base")]))
    mod.write_bytes(archive_bytes([(b"A.INI", b"two"), (b"d.ini", b"new"), (b"b.ini", b"same")]))
    with bigtool.open(mod) as second, bigtool.Overlay(base) as overlay:
        overlay.add(second)
        assert len(overlay) == 4
        won = [(archive.path, entry.raw_name) for archive, entry in overlay]
        assert won == [(second.path, b"A.INI"), (second.path, b"b.ini"), (str(base), b"c.ini"),
                       (second.path, b"d.ini")]
        assert overlay.winner("c.ini")[1].read() == b"base"
        with pytest.raises(KeyError):
            overlay.winner("e.ini")
        (conflict,) = overlay.conflicts()
        assert conflict.name == "A.INI"
        assert [(e.raw_name, e.read()) for _, e in conflict.holders] == [(b"a.ini", b"one"), (b"A.INI", b"two")]
    with pytest.raises(ValueError):
        len(overlay)
