#!/usr/bin/env python3
"""Writes the benchmark's input trees below the folder given as argument.

Fixed seed and fixed sizes: every run on every machine gets the same bytes.
A tree is written again only when its stamp is missing, so repeated runs
reuse it.

  list/   48,000 files of 0 to 64 bytes in ten folders
  small/  20,000 files of 1 to 16 KiB in two levels of folders (10 x 10)
  large/  four files of 256 MiB
"""
import os
import random
import shutil
import sys

SEED = 20261207
VERSION = "1"


def fresh(root, name):
    """The tree's folder, emptied, or None when its stamp says it is done."""
    tree = os.path.join(root, name)
    stamp = os.path.join(root, name + ".stamp")
    if os.path.exists(stamp) and open(stamp).read() == VERSION:
        return None
    shutil.rmtree(tree, ignore_errors=True)
    os.makedirs(tree)
    return tree


def done(root, name):
    with open(os.path.join(root, name + ".stamp"), "w") as stamp:
        stamp.write(VERSION)


def write(path, data):
    with open(path, "wb") as f:
        f.write(data)


def make_list(root, rng):
    tree = fresh(root, "list")
    if tree is None:
        return
    for d in range(10):
        folder = os.path.join(tree, "d%d" % d)
        os.mkdir(folder)
        for i in range(4800):
            write(os.path.join(folder, "f%04d" % i), rng.randbytes(rng.randint(0, 64)))
    done(root, "list")


def make_small(root, rng):
    tree = fresh(root, "small")
    if tree is None:
        return
    for a in range(10):
        for b in range(10):
            folder = os.path.join(tree, "a%d" % a, "b%d" % b)
            os.makedirs(folder)
            for i in range(200):
                size = rng.randint(1024, 16384)
                write(os.path.join(folder, "f%03d.dat" % i), rng.randbytes(size))
    done(root, "small")


def make_large(root, rng):
    tree = fresh(root, "large")
    if tree is None:
        return
    mib = 1 << 20
    for n in range(4):
        # A random MiB, each copy of it marked with its own number, keeps
        # generation fast while no two MiB of the tree are alike.
        block = bytearray(rng.randbytes(mib))
        with open(os.path.join(tree, "part%d.bin" % n), "wb") as f:
            for m in range(256):
                block[0:8] = (n * 256 + m).to_bytes(8, "little")
                f.write(block)
    done(root, "large")


def main():
    if len(sys.argv) != 2:
        sys.exit("usage: make_trees.py FOLDER")
    root = sys.argv[1]
    os.makedirs(root, exist_ok=True)
    # One generator per tree, so that each tree stays the same on its own.
    make_list(root, random.Random(SEED))
    make_small(root, random.Random(SEED + 1))
    make_large(root, random.Random(SEED + 2))


if __name__ == "__main__":
    main()
