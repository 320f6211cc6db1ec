#!/usr/bin/env python3
"""Writes the benchmark's crafted archives into the folder given as argument.

CREATE cannot make these (its index holds less than 1 MiB), so they are
written here byte by byte, with fixed contents. An archive is written again
only when its stamp is missing.

  sparse.big   4 GiB - 1 bytes, of which about 16 KiB are written: the
               header, 1,000 entries, and their data in the file's last
               4 KiB; the rest is a hole. Its startOffset claims the whole
               file as index, as a hostile archive would.
  million.big  1,000,000 entries in 1,000 folders, named d<folder>\\f<n>.dat,
               most of them empty (so that EXTRACT * does not need 4 GB of
               memory file system), every 97th holding 1 to 64 bytes.
"""
import os
import struct
import sys

VERSION = "1"
SPARSE_SIZE = 0xFFFFFFFF
SPARSE_ENTRIES = 1000
TAIL_SIZE = 4096
MILLION = 1000000


def fresh(path):
    stamp = path + ".stamp"
    if os.path.exists(stamp) and open(stamp).read() == VERSION:
        return False
    if os.path.exists(path):
        os.remove(path)
    return True


def done(path):
    with open(path + ".stamp", "w") as stamp:
        stamp.write(VERSION)


def header(size, count, start):
    return b"BIGF" + struct.pack("<I", size) + struct.pack(">II", count, start)


def entry(offset, size, name):
    return struct.pack(">II", offset, size) + name + b"\0"


def write_sparse(path):
    tail_at = SPARSE_SIZE - TAIL_SIZE
    parts = [header(SPARSE_SIZE, SPARSE_ENTRIES, SPARSE_SIZE)]
    for n in range(SPARSE_ENTRIES):
        size = 1 + n % 64
        parts.append(entry(tail_at + (n * 37) % (TAIL_SIZE - size), size, b"s\\f%04d.dat" % n))
    with open(path, "wb") as f:
        f.write(b"".join(parts))
        f.truncate(SPARSE_SIZE)
        f.seek(tail_at)
        f.write(bytes(range(256)) * (TAIL_SIZE // 256))


def write_million(path):
    names = [b"d%03d\\f%07d.dat" % (n // 1000, n) for n in range(MILLION)]
    sizes = [1 + n % 64 if n % 97 == 0 else 0 for n in range(MILLION)]
    start = 16 + sum(9 + len(name) for name in names) + 8
    parts = []
    offset = start
    for name, size in zip(names, sizes):
        parts.append(entry(offset, size, name))
        offset += size
    parts.append(b"L225\0\0\0\0")
    data = bytes(range(256)) * 64
    for n, size in enumerate(sizes):
        if size:
            parts.append(data[n % 128:n % 128 + size])
    body = b"".join(parts)
    with open(path, "wb") as f:
        f.write(header(16 + len(body), MILLION, start))
        f.write(body)


def main():
    root = sys.argv[1]
    os.makedirs(root, exist_ok=True)
    for name, write in (("sparse.big", write_sparse), ("million.big", write_million)):
        path = os.path.join(root, name)
        if fresh(path):
            print("  writing " + path)
            write(path)
            done(path)


if __name__ == "__main__":
    main()
