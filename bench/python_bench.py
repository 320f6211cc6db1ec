#!/usr/bin/env python3
"""The Python package's side of the benchmark, over the library that
BIGTOOL_LIBRARY names.

  python_bench.py list <archive>           every entry's name and size
  python_bench.py read <archive> <name>    one entry's data in 1 MiB reads
"""
import sys

import bigtool

READ_SIZE = 1 << 20


def main() -> None:
    mode, path = sys.argv[1], sys.argv[2]
    with bigtool.open(path) as archive:
        if mode == "list":
            names, sizes = archive.namelist(), archive.sizes()
            print(len(names), sum(sizes))
        else:
            # One buffer read into again and again, as a copy loop would.
            buffer = memoryview(bytearray(READ_SIZE))
            total = 0
            with archive[sys.argv[3]].open(buffering=0) as data:
                while True:
                    got = data.readinto(buffer)
                    if not got:
                        break
                    total += got
            print(total)


if __name__ == "__main__":
    main()
