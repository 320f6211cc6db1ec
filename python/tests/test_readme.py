"""The README's example runs as written; the package loads its own library."""
import itertools
import os
import textwrap
from pathlib import Path

import pytest
from conftest import ENTRIES, archive_bytes

import bigtool


README = Path(__file__).resolve().parents[2] / "README.md"


def readme_example() -> str:
    section = README.read_text(encoding="utf-8").split("\n## Python\n", 1)[1]
    lines = section[section.index("    import bigtool\n"):].splitlines()
    return textwrap.dedent("\n".join(itertools.takewhile(lambda line: not line or line[:4] == "    ", lines)))


def test_readme_example(tmp_path, monkeypatch, capsys):
    (tmp_path / "mod.big").write_bytes(archive_bytes(ENTRIES))
    monkeypatch.chdir(tmp_path)
    exec(compile(readme_example(), str(README), "exec"), {})
    assert capsys.readouterr().out == "5 entries\n0 19 data\\ini\\weapon.ini\nb'ge=7\\r\\n'\nTrue\n"


@pytest.mark.skipif("BIGTOOL_LIBRARY" in os.environ, reason="BIGTOOL_LIBRARY chooses the library")
def test_installed_copy_of_the_library_is_loaded():
    assert Path(bigtool.library_path()) == Path(bigtool.__file__).parent / "lib" / "libbigtool.so.1"
    assert bigtool.library_version().startswith("1.")


def test_a_library_that_cannot_be_loaded(monkeypatch):
    monkeypatch.setenv("BIGTOOL_LIBRARY", "/none/libbigtool.so.1")
    with pytest.raises(bigtool.LibraryNotFound, match=r"^The bigtool library could not be loaded \(/none/"):
        bigtool._native._load()
