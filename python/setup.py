"""Installs the bigtool package. When the environment variable
BIGTOOL_LIBRARY names the shared library (an absolute path, such as
build/native/libbigtool.so.1 of the project's CMake build), a copy of it
goes into the package, which then loads that copy; without it the package
looks for the library at run time (see bigtool/_native.py)."""
import os
import runpy
import shutil
import sys
from pathlib import Path

from setuptools import setup
from setuptools.command.build_py import build_py
from setuptools.dist import Distribution

HERE = Path(__file__).resolve().parent
library_file_name = runpy.run_path(str(HERE / "bigtool" / "_libname.py"))["library_file_name"]


def named_library():
    value = os.environ.get("BIGTOOL_LIBRARY")
    if not value:
        return None
    path = Path(value)
    if not path.is_absolute():
        raise SystemExit(f"BIGTOOL_LIBRARY must be an absolute path, not '{value}'.")
    if not path.is_file():
        raise SystemExit(f"BIGTOOL_LIBRARY names no file: '{value}'.")
    return path


class BuildWithLibrary(build_py):
    """Copies the library into the package, or leaves none from an earlier build."""

    def run(self):
        super().run()
        target = Path(self.build_lib) / "bigtool" / "lib"
        shutil.rmtree(target, ignore_errors=True)
        library = named_library()
        if library is not None:
            target.mkdir(parents=True)
            shutil.copyfile(library, target / library_file_name(sys.platform))


class LibraryDistribution(Distribution):
    """With a library inside, the package is for this system alone."""

    def has_ext_modules(self):
        return named_library() is not None


setup(
    name="bigtool",
    version="1.3.0",
    description="BIG archives of the game Tarvenor, through the bigtool library",
    packages=["bigtool"],
    package_data={"bigtool": ["py.typed"]},
    python_requires=">=3.9",
    cmdclass={"build_py": BuildWithLibrary},
    distclass=LibraryDistribution,
    zip_safe=False,
)
