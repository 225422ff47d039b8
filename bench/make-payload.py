#!/usr/bin/env python3
"""Builds a benchmark payload folder. The same machine gives the same payload
every time: sources are taken in sorted order and generated data comes from
fixed seeds.

    make-payload.py FOLDER                    the standard payload: real text
                                              (C headers), real machine code
                                              (shared libraries) and random
                                              data, about 290 MiB in 9,000-10,000
                                              files
    make-payload.py --small-files N FOLDER    N small text files (0.25-2 KiB),
                                              100 to a folder
    make-payload.py --big-file BYTES FOLDER   one file of BYTES of text that
                                              compresses well and quickly
    make-payload.py --tiny FOLDER             one small file
    make-payload.py --quick FOLDER            the standard payload's kinds of
                                              data, a sixteenth of the size
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
RANDOM_FILE_COUNT, RANDOM_FILE_SIZE = 6, 4 * MiB
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


WORDS = ("install uninstall folder registry shortcut package payload archive block stream "
         "decoder window dialog progress cancel restart setup runtime library version").split()


def text_lines(generator):
    """Endless lines of word salad: text that compresses like prose."""
    while True:
        yield " ".join(generator.choice(WORDS) for _ in range(generator.randint(4, 14))) + "\n"


def make_small_files(out, count):
    generator = random.Random(count)
    lines = text_lines(generator)
    for index in range(count):
        target = os.path.join(out, "d%04d" % (index // 100), "f%06d.txt" % index)
        if index % 100 == 0:
            os.makedirs(os.path.dirname(target))
        size = generator.randint(256, 2048)
        text = []
        while size > 0:
            line = next(lines)
            text.append(line)
            size -= len(line)
        with open(target, "w") as f:
            f.writelines(text)
    print("payload: %d small files in %d folders" % (count, (count + 99) // 100))


def make_big_file(out, size):
    # A 4 MiB piece of text, repeated with a numbered line in front of each
    # copy: LZMA finds the copies within its dictionary and compresses at
    # tens of MiB/s, so a package of several GiB builds in a minute or two.
    generator = random.Random(size)
    lines = text_lines(generator)
    piece = []
    length = 0
    while length < 4 * MiB:
        line = next(lines)
        piece.append(line)
        length += len(line)
    piece = "".join(piece).encode()
    written = 0
    with open(os.path.join(out, "big.dat"), "wb") as f:
        copy = 0
        while written < size:
            chunk = (b"copy %d\n" % copy) + piece
            chunk = chunk[:size - written]
            f.write(chunk)
            written += len(chunk)
            copy += 1
    print("payload: one file of %d bytes" % size)


def main():
    arguments = sys.argv[1:]
    mode = arguments.pop(0) if arguments and arguments[0].startswith("--") else None
    value = arguments.pop(0) if mode in ("--small-files", "--big-file") and arguments else None
    if len(arguments) != 1 or (mode and mode not in ("--small-files", "--big-file", "--tiny", "--quick")):
        sys.exit(__doc__)
    out = arguments[0]
    if os.path.exists(out):
        shutil.rmtree(out)
    os.makedirs(out)
    # Every payload has this file: the bench package names it as its program.
    with open(os.path.join(out, "readme.txt"), "w") as f:
        f.write("A generated payload, to measure what installing it costs.\n")
    if mode == "--small-files":
        return make_small_files(out, int(value))
    if mode == "--big-file":
        return make_big_file(out, int(value))
    if mode == "--tiny":
        return
    scale = 16 if mode == "--quick" else 1
    taken = set()
    text = copy_tree(TEXT_SOURCES, "include", TEXT_BUDGET // scale, lambda p: p.endswith((".h", ".hpp", ".hh", ".tcc")) or "c++" in p, out, taken)
    code = copy_tree(CODE_SOURCES, "lib", CODE_BUDGET // scale, is_shared_library, out, taken)
    generator = random.Random(20200115)
    noise = 0
    for index in range(RANDOM_FILE_COUNT):
        size = RANDOM_FILE_SIZE // scale
        target = os.path.join(out, "data/random-%02d.bin" % index)
        os.makedirs(os.path.dirname(target), exist_ok=True)
        with open(target, "wb") as f:
            f.write(generator.randbytes(size))
        noise += size
    count = sum(len(files) for _, _, files in os.walk(out))
    print("payload: %d files, text %.1f MiB, machine code %.1f MiB, random %.1f MiB, total %.1f MiB"
          % (count, text / MiB, code / MiB, noise / MiB, (text + code + noise) / MiB))


if __name__ == "__main__":
    main()
