#!/usr/bin/env python3
"""Reproducible test trees for the benchmarks (fixed seed, fixed times).

  gen_tree.py initial DIR [FILES FOLDERS]
        ~20 000 files, 0 B..8 MiB, ~1 GiB, in ~2 000 random nested folders
  gen_tree.py nightly DIR [FILES TOPS]
        200 000 small files in 10 000 folders (100 tops of 1 + 99 folders)
  gen_tree.py change DIR ROUND [FILES TOPS]
        rewrites 0.1 % of a nightly tree's files (give the nightly tree's sizes)
  gen_tree.py flat DIR COUNT
        COUNT small files in one folder
  gen_tree.py walk DIR FILES FOLDERS [empty]
        FILES small (or empty) files spread evenly over FOLDERS folders, two
        levels deep (tops of 100 folders each)
"""
import os
import random
import sys

SEED = 20240601
BASE_TIME = 1_600_000_000  # seconds; every file gets a fixed time
POOL_SIZE = 16 << 20


def pool():
    rng = random.Random(SEED)
    return rng.randbytes(POOL_SIZE)


def write(path, data, when):
    with open(path, "wb") as f:
        f.write(data)
    os.utime(path, ns=(when * 10**9, when * 10**9))


def content(rng, data, size):
    start = rng.randrange(0, POOL_SIZE - size + 1)
    return data[start:start + size]


def small_size(rng, top):
    # Log-uniform between 1 byte and `top`, with some empty files.
    if rng.random() < 0.03:
        return 0
    return int(2 ** rng.uniform(0, top.bit_length() - 1))


def folders_random(rng, root, count):
    """A random recursive tree: each folder hangs below an earlier one."""
    paths = [root]
    for i in range(1, count + 1):
        parent = paths[rng.randrange(len(paths))]
        paths.append(os.path.join(parent, f"dir{i:05d}"))
    for p in paths[1:]:
        os.makedirs(p, exist_ok=True)
    return paths


def initial(root, count=20000, folder_count=2000):
    rng = random.Random(SEED + 1)
    data = pool()
    folders = folders_random(rng, root, folder_count)
    total = 0
    for i in range(count):
        r = rng.random()
        if r < 0.007:
            size = int(2 ** rng.uniform(20, 23))          # 1..8 MiB
        elif r < 0.08:
            size = int(2 ** rng.uniform(16, 20))          # 64 KiB..1 MiB
        else:
            size = small_size(rng, 65536)                 # 0..64 KiB
        size = min(size, 8 << 20)
        folder = folders[rng.randrange(len(folders))]
        write(os.path.join(folder, f"file{i:05d}.dat"), content(rng, data, size), BASE_TIME + i)
        total += size
    print(f"initial: {count} files, {len(folders) - 1} folders, {total / 2**30:.2f} GiB")


def two_levels(root, count):
    """count folders: tops of 100 (a top and its 99 subfolders), the last top
    taking what is left."""
    folders = []
    tops = max(1, count // 100)
    for a in range(tops):
        top = os.path.join(root, f"p{a:03d}")
        folders.append(top)
        subs = 99 if a < tops - 1 else count - 100 * (tops - 1) - 1
        for b in range(subs):
            folders.append(os.path.join(top, f"q{b:03d}"))
    return folders


def nightly_files(root, count=200000, tops=100):
    """The nightly tree's files, in a fixed order: (path, size)."""
    rng = random.Random(SEED + 2)
    folders = two_levels(root, 100 * tops)
    files = []
    for i in range(count):
        folder = folders[rng.randrange(len(folders))]
        files.append((os.path.join(folder, f"f{i:06d}.txt"), small_size(rng, 8192)))
    return folders, files


def nightly(root, count=200000, tops=100):
    folders, files = nightly_files(root, count, tops)
    for f in folders:
        os.makedirs(f, exist_ok=True)
    rng = random.Random(SEED + 3)
    data = pool()
    for i, (path, size) in enumerate(files):
        write(path, content(rng, data, size), BASE_TIME + i)
    print(f"nightly: {len(files)} files, {len(folders)} folders")


def change(root, round_, count=200000, tops=100):
    _, files = nightly_files(root, count, tops)
    rng = random.Random(SEED + 4)
    chosen = rng.sample(range(len(files)), len(files) // 1000)
    data = pool()
    rng = random.Random(SEED + 100 + round_)
    for i in chosen:
        path, size = files[i]
        size += round_ % 3  # each round differs in size from the one before
        write(path, content(rng, data, size), BASE_TIME + 10_000_000 + 1000 * round_ + i % 1000)
    print(f"nightly change {round_}: {len(chosen)} files rewritten")


def flat(root, count):
    os.makedirs(root, exist_ok=True)
    rng = random.Random(SEED + 5)
    data = pool()
    for i in range(count):
        write(os.path.join(root, f"entry{i:06d}.bin"), content(rng, data, small_size(rng, 4096)),
              BASE_TIME + i)
    print(f"flat: {count} files in one folder")


def walk(root, count, folder_count, empty=False):
    """A tree for the no-change walks: every folder holds the same number of
    files (empty ones where only the count of entries matters)."""
    folders = two_levels(root, folder_count)
    for f in folders:
        os.makedirs(f, exist_ok=True)
    rng = random.Random(SEED + 6)
    data = b"" if empty else pool()
    for i in range(count):
        size = 0 if empty else small_size(rng, 8192)
        write(os.path.join(folders[i % len(folders)], f"f{i:07d}.txt"),
              content(rng, data, size) if size else b"", BASE_TIME + i)
    print(f"walk: {count} {'empty' if empty else 'small'} files, {len(folders)} folders")


def main():
    kind, root = sys.argv[1], sys.argv[2]
    nums = [int(a) for a in sys.argv[3:] if a.isdigit()]
    if kind == "initial":
        initial(root, *nums)
    elif kind == "nightly":
        nightly(root, *nums)
    elif kind == "change":
        change(root, *nums)
    elif kind == "flat":
        flat(root, nums[0])
    elif kind == "walk":
        walk(root, nums[0], nums[1], "empty" in sys.argv[3:])
    else:
        sys.exit(__doc__)


if __name__ == "__main__":
    main()
