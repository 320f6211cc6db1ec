"""CHECK's findings as objects: what :meth:`bigtool.Archive.check` returns."""
import enum
from typing import NamedTuple, Optional


class FindingKind(enum.IntEnum):
    """What a finding is about: the C library's ``BT_CHECK_*``."""

    EMPTY_NAME = 1
    UNSAFE_NAME = 2            # extraction here would refuse it
    NAME_TOO_LONG = 3          # 260 bytes or longer
    REFUSED_ELSEWHERE = 4      # the other system (Windows, Linux) would refuse it
    DATA_PAST_END = 5          # past the file's end, or wrapping past 4 GiB
    DATA_OVER_INDEX = 6        # starting inside the header or the index
    INDEX_SHORT = 7            # fewer entries than the header counts (never met: open refuses it)
    END_RECORD = 8             # not the one CREATE writes
    DATA_UNREADABLE = 9
    DATA_OVERLAP = 10          # shares bytes with the other entry's data
    SAME_NAME = 11             # extracts onto the file of the other, earlier entry
    SAME_BUT_CASE = 12         # the other, earlier entry's name but for letter case
    FOLDER_IS_FILE = 13        # needs a folder where the other entry is a file
    FOLDER_IS_FILE_BUT_CASE = 14
    GAME_READS_AS_ONE = 15     # another name that the game folds into the other's


class Finding(NamedTuple):
    """One finding, as CHECK reports it.

    ``is_error`` tells a problem (CHECK's status 2) from a warning; ``entry``
    is the entry's index, None for a finding about the whole archive;
    ``other`` the other entry concerned, or None; ``message`` CHECK's text
    after "Error: Entry N 'name': " (or, for the whole archive, after
    "Warning: "), its names decoded as entry names are.
    """

    kind: FindingKind
    is_error: bool
    entry: Optional[int]
    other: Optional[int]
    message: str
