"""The file name of bigtool's shared library on each system.

setup.py reads this file on its own, before the package is installed, so it
imports nothing.
"""


def library_file_name(platform: str) -> str:
    """The name the shared library has on `platform` (a ``sys.platform`` value)."""
    if platform.startswith("win") or platform == "cygwin":
        return "bigtool-1.dll"
    if platform == "darwin":
        return "libbigtool.1.dylib"
    return "libbigtool.so.1"
