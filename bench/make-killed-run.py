#!/usr/bin/env python3
"""Leaves in a folder what a setup run killed near its end leaves: the
payload's files as that run made them, and its install journal
~kxsetup.jnl (base/journal_format.h) naming every folder and file it
created, the last file only announced.

    make-killed-run.py PAYLOAD FOLDER

FOLDER must not exist. The next setup.exe or Uninst.exe in that folder
finishes the run: it deletes every file and folder the journal names.
"""
import os
import shutil
import sys
import zlib


def line(text):
    data = text.encode("utf-8")
    return b"%08x " % (zlib.crc32(data) & 0xFFFFFFFF) + data + b"\r\n"


def main():
    if len(sys.argv) != 3:
        raise SystemExit(__doc__)
    payload, folder = sys.argv[1], sys.argv[2]
    if os.path.exists(folder):
        raise SystemExit("make-killed-run: %s exists" % folder)
    os.makedirs(folder)
    # The kill came before the W line of the last file: a file whose size and
    # time were never recorded goes like any other the run created.
    intent_time = "01DB4C2A00000000"
    files = 0
    with open(os.path.join(folder, "~kxsetup.jnl"), "wb") as journal:
        journal.write(line("H kxjournal\t1\texisting"))
        for parent, subfolders, names in os.walk(payload):
            subfolders.sort()
            relative = os.path.relpath(parent, payload)
            if relative != ".":
                os.makedirs(os.path.join(folder, relative))
                journal.write(line("D " + relative.replace("/", "\\")))
            for name in sorted(names):
                path = name if relative == "." else os.path.join(relative, name)
                shutil.copyfile(os.path.join(payload, path), os.path.join(folder, path))
                windows = path.replace("/", "\\")
                journal.write(line("N %s\t%s" % (windows, intent_time)))
                journal.write(line("C " + windows))
                files += 1
    print("killed run: %d files, journal of %d bytes" % (files, os.path.getsize(os.path.join(folder, "~kxsetup.jnl"))))


if __name__ == "__main__":
    main()
