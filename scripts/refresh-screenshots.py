#!/usr/bin/env python3
"""Copies the wizard screenshots that docs/dialogs.md shows from the last UI
test run (build/screenshots, written by the UI test driver) into
docs/screenshots, compressed. Run after
`scripts/test.sh -R 'core_pages_ui_tests|language_e2e'`."""
import os
import struct
import sys
import zlib

SHOTS = {
    "welcome.png": "page-welcome/01-page-dlgwizwelc.png",
    "licence.png": "page-licence/01-page-dlgwizlicag.png",
    "destination.png": "page-destination/01-page-dlgwizseldir.png",
    "startmenu.png": "page-startmenu/01-page-dlgwizselgroup.png",
    "progress.png": "progress-setup/01-page-dlgprogress.png",
    "cancel-question.png": "progress-setup/02-message-Do-you-really-want-to-abort-the-.png",
    "final.png": "page-final/01-page-dlgwizfinal.png",
    "final-tasks.png": "page-final-tasks/01-page-dlgwizfinal.png",
    "uninstall-progress.png": "progress-uninstall/01-page-dlgprogress.png",
    "licence-144dpi.png": "page-licence-144dpi/01-page-dlgwizlicag.png",
    "licence-german.png": "language-de-install/02-page-dlgwizlicag.png",
    "language-box-german.png": "language-de-lingua-box/01-page-dlglanguage.png",
    "licence-japanese.png": "language-ja/02-page-dlgwizlicag.png",
    "welcome-200percent-german.png": "language-de-lingua-200percent/01-page-dlgwizwelc.png",
    "licence-arabic.png": "language-ar/02-page-dlgwizlicag.png",
    "welcome-arabic.png": "language-ar-lingua/02-page-dlgwizwelc.png",
}


def chunks(data):
    at = 8
    while at < len(data):
        length, kind = struct.unpack(">I4s", data[at:at + 8])
        yield kind, data[at + 8:at + 8 + length]
        at += 12 + length


def recompress(source, target):
    data = open(source, "rb").read()
    header = b"".join(body for kind, body in chunks(data) if kind == b"IHDR")
    pixels = zlib.decompress(b"".join(body for kind, body in chunks(data) if kind == b"IDAT"))

    def chunk(kind, body):
        return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body) & 0xFFFFFFFF)

    with open(target, "wb") as out:
        out.write(data[:8] + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(pixels, 9)) + chunk(b"IEND", b""))


def main():
    top = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    shots = os.path.join(os.environ.get("KX_BUILD_DIR", os.path.join(top, "build")), "screenshots")
    docs = os.path.join(top, "docs", "screenshots")
    os.makedirs(docs, exist_ok=True)
    missing = 0
    for name, source in SHOTS.items():
        path = os.path.join(shots, source)
        if not os.path.exists(path):
            print("missing: " + path, file=sys.stderr)
            missing += 1
            continue
        recompress(path, os.path.join(docs, name))
    return 1 if missing else 0


if __name__ == "__main__":
    sys.exit(main())
