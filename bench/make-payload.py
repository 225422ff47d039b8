#!/usr/bin/env python3
"""Builds the benchmark payload folder: real text (C headers), real machine
code (shared libraries) and incompressible data, at least 256 MiB in several
thousand files. The same machine gives the same payload every time: sources
are taken in sorted order and the random data comes from a fixed seed.

    make-payload.py FOLDER
"""
import os
import random
import shutil
import sys

MiB = 1 << 20
TEXT_SOURCES = ["/usr/share/mingw-w64/include", "/usr/include"]
CODE_SOURCES = ["/usr/lib/x86_64-linux-gnu", "/usr/lib/gcc", "/usr/lib/python3", "/usr/lib/wine"]
TEXT_BUDGET = 180 * MiB
CODE_BUDGET = 100 * MiB
RANDOM_FILES = [("data/random-%02d.bin" % i, 4 * MiB) for i in range(6)]
MAX_FILE = 16 * MiB  # well below the 64 MiB solid block size


def regular_files(root):
    for folder, subfolders, names in os.walk(root, followlinks=False):
        subfolders.sort()
        for name in sorted(names):
            path = os.path.join(folder, name)
            if os.path.isfile(path) and not os.path.islink(path):
                yield path


def copy_tree(sources, prefix, budget, accept, out, taken):
    used = 0
    for index, root in enumerate(sources):
        if not os.path.isdir(root):
            continue
        for path in regular_files(root):
            size = os.path.getsize(path)
            if size == 0 or size > MAX_FILE or not accept(path) or used + size > budget:
                continue
            relative = os.path.join(prefix, "%d-%s" % (index, os.path.basename(root)),
                                    os.path.relpath(path, root))
            # Windows folds case: two names that differ only in case would
            # be one file there.
            key = relative.lower()
            if key in taken:
                continue
            taken.add(key)
            target = os.path.join(out, relative)
            os.makedirs(os.path.dirname(target), exist_ok=True)
            shutil.copyfile(path, target)
            used += size
    return used


def is_shared_library(path):
    name = os.path.basename(path)
    if ".so" not in name:
        return False
    with open(path, "rb") as f:
        return f.read(4) == b"\x7fELF"


def main():
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    out = sys.argv[1]
    if os.path.exists(out):
        shutil.rmtree(out)
    os.makedirs(out)
    taken = set()
    text = copy_tree(TEXT_SOURCES, "include", TEXT_BUDGET, lambda p: p.endswith((".h", ".hpp", ".hh", ".tcc")) or "c++" in p, out, taken)
    code = copy_tree(CODE_SOURCES, "lib", CODE_BUDGET, is_shared_library, out, taken)
    generator = random.Random(20200115)
    noise = 0
    for name, size in RANDOM_FILES:
        target = os.path.join(out, name)
        os.makedirs(os.path.dirname(target), exist_ok=True)
        with open(target, "wb") as f:
            f.write(generator.randbytes(size))
        noise += size
    count = sum(len(files) for _, _, files in os.walk(out))
    print("payload: %d files, text %.1f MiB, machine code %.1f MiB, random %.1f MiB, total %.1f MiB"
          % (count, text / MiB, code / MiB, noise / MiB, (text + code + noise) / MiB))


if __name__ == "__main__":
    main()
