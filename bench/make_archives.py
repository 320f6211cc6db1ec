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
import shutil
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
    if os.path.isdir(path):
        shutil.rmtree(path)
    elif os.path.exists(path):
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


def write_entries(path, names, datas):
    start = 16 + sum(9 + len(name) for name in names) + 8
    parts = []
    offset = start
    for name, data in zip(names, datas):
        parts.append(entry(offset, len(data), name))
        offset += len(data)
    parts.append(b"L225\0\0\0\0")
    parts.extend(datas)
    body = b"".join(parts)
    with open(path, "wb") as f:
        f.write(header(16 + len(body), len(names), start))
        f.write(body)


def million_entry(n):
    size = 1 + n % 64 if n % 97 == 0 else 0
    data = bytes(range(256)) * 64
    return b"d%03d\\f%07d.dat" % (n // 1000, n), data[n % 128:n % 128 + size]


def write_million(path):
    names, datas = zip(*(million_entry(n) for n in range(MILLION)))
    write_entries(path, names, datas)


def write_million_new(path):
    names, datas = [], []
    for n in range(MILLION):
        if n % 100 == 0:
            continue
        name, data = million_entry(n)
        if n % 194 == 97:
            data = bytes(255 - b for b in data)
        names.append(name)
        datas.append(data)
    for n in range(10000):
        names.append(b"new\\f%07d.dat" % n)
        datas.append(b"%016d" % n)
    write_entries(path, names, datas)


MODS = 100
SHARED = 20000


def write_mods(folder):
    os.makedirs(folder, exist_ok=True)
    for i in range(MODS):
        names, datas = [], []
        for j in range(8000):
            names.append(b"m%03d\\own\\f%05d.dat" % (i, j))
            datas.append(b"%08d%08d" % (i, j))
        for j in range(2000):
            n = (i * 2000 + j) % SHARED
            names.append(b"shared\\s%05d.dat" % n)
            datas.append(b"%08d%08d" % (n, 0 if n % 2 == 0 else i))
        write_entries(os.path.join(folder, "mod%03d.big" % i), names, datas)
    with open(os.path.join(folder, "list.txt"), "w") as f:
        f.write("".join("mods/mod%03d.big\n" % i for i in range(MODS)))


def main():
    root = sys.argv[1]
    os.makedirs(root, exist_ok=True)
    for name, write in (("sparse.big", write_sparse), ("million.big", write_million),
                        ("million-new.big", write_million_new), ("mods", write_mods)):
        path = os.path.join(root, name)
        if fresh(path):
            print("  writing " + path)
            write(path)
            done(path)


if __name__ == "__main__":
    main()
