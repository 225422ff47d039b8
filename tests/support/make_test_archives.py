#!/usr/bin/env python3
"""Writes the 7z archives the decoder tests read, with 7-Zip, from one folder
of generated files: every coder and filter layout the setup program meets,
with blocks larger than the decoder's dictionary and its pieces.

    make_test_archives.py OUTPUT_FOLDER

OUTPUT_FOLDER/input holds the files; OUTPUT_FOLDER/NAME.7z the archives;
long.7z holds one file larger than the decoding worker's ring.
The data comes from a fixed seed, so every build writes the same files.
"""
import os
import random
import shutil
import subprocess
import sys

# name: 7-Zip switches. Dictionaries of 1 MiB against 3 MiB of data make the
# decoder's ring wrap; LZMA2 in 256 KiB blocks gives independent blocks.
ARCHIVES = {
    "lzma2_bcj": ["-mf=BCJ", "-m0=LZMA2:d=1m:c=256k", "-ms=on"],
    "lzma_bcj": ["-mf=BCJ", "-m0=LZMA:d=1m", "-ms=on"],
    "lzma2": ["-mf=off", "-m0=LZMA2:d=1m", "-ms=on"],
    "copy": ["-m0=Copy", "-ms=1m"],
    "blocks": ["-mf=BCJ", "-m0=LZMA2:d=1m:c=256k", "-ms=1m"],
    "bcj2": ["-mf=BCJ2", "-m0=LZMA:d=1m", "-ms=on"],
    # For the header reader: blocks of two files without times, and a plain
    # (uncompressed) header over blocks of three.
    "no_times": ["-mf=off", "-m0=LZMA2:d=1m", "-ms=2f", "-mtm=off"],
    "plain_header": ["-mf=off", "-m0=LZMA2:d=1m", "-ms=3f", "-mhc=off"],
}


def machine_code(rng, size):
    """Bytes with many x86 CALL/JMP opcodes whose targets the filter converts."""
    out = bytearray()
    while len(out) < size:
        choice = rng.random()
        if choice < 0.3:
            out.append(rng.choice((0xE8, 0xE9)))
            out += rng.randrange(-0x8000, 0x8000).to_bytes(4, "little", signed=True)
        elif choice < 0.6:
            out += bytes(rng.choice(b"\x48\x89\x8b\x0f\xc3\x90\x55\x5d") for _ in range(rng.randrange(1, 9)))
        else:
            out += rng.randbytes(rng.randrange(1, 6))
    return bytes(out[:size])


def text(rng, size):
    words = [b"extract", b"stream", b"block", b"dictionary", b"window", b"folder", b"setup", b"\n"]
    out = bytearray()
    while len(out) < size:
        out += rng.choice(words) + b" "
    return bytes(out[:size])


def write_input(folder):
    rng = random.Random(1201)
    # Sizes around the decoder's piece (1 MiB) and its input buffer, tiny
    # files, an empty one, files across block borders.
    files = [
        ("bin/app.exe", machine_code(rng, 1_300_000)),
        ("bin/tiny.dll", machine_code(rng, 5)),
        ("bin/empty.dat", b""),
        ("doc/readme.txt", text(rng, 700_001)),
        ("doc/one.txt", b"1"),
        ("lib/core.dll", machine_code(rng, 1_048_576)),
        ("lib/noise.bin", rng.randbytes(300_000)),
        ("lib/sub/last.txt", text(rng, 4099)),
    ]
    for name, data in files:
        path = os.path.join(folder, name)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(data)
    os.makedirs(os.path.join(folder, "empty folder"), exist_ok=True)


def main():
    out = sys.argv[1]
    shutil.rmtree(out, ignore_errors=True)
    source = os.path.join(out, "input")
    os.makedirs(source)
    write_input(source)
    for name, switches in ARCHIVES.items():
        seven_zip(source, os.path.join(out, name + ".7z"), switches)
    long_source = os.path.join(out, "long")
    os.makedirs(long_source)
    with open(os.path.join(long_source, "long.txt"), "wb") as f:
        f.write(text(random.Random(1202), 12 << 20))
    seven_zip(long_source, os.path.join(out, "long.7z"), ["-m0=LZMA2:d=1m", "-ms=on"])


def seven_zip(folder, archive, switches):
    subprocess.run(["7zz", "a", "-t7z", "-bd", "-y", "-mmt1", *switches, archive, "*"],
                   cwd=folder, check=True, stdout=subprocess.DEVNULL)


if __name__ == "__main__":
    main()
