#!/usr/bin/env python3
"""The include check fails on each kind of broken rule, in a small tree made
here, and passes on the same tree without the fault."""
import os
import subprocess
import sys
import tempfile

CHECK = os.path.join(os.path.dirname(os.path.abspath(__file__)), 'check_layers.py')

TABLE = """# Architecture
<!-- layers -->
| Layer | Folder | Holds | May include |
|---|---|---|---|
| 0 | `base/` | ground | `base/` |
| 1 | `core/` | library | `base/`, `core/` |
| host | `tools/kxpack/` | builder | `base/`, `tools/kxpack/` |
| host | `fuzz/` | fuzz targets | `base/`, `core/`, `fuzz/` |
| - | `tests/` | tests | `*` |
<!-- /layers -->
"""

GOOD = {
    'docs/architecture.md': TABLE,
    'base/log.h': '#include <stdint.h>\n',
    'base/win.h': '#include <windows.h>\n',
    'core/lib.cpp': '#include "core/lib.h"\n#include "base/log.h"\n#include "7zCrc.h"\n',
    'core/lib.h': '#include "base/log.h"\n',
    'tools/kxpack/main.cpp': '#include "base/log.h"\n',
    'fuzz/target.cpp': '#include "core/lib.h"\n',
    'tests/t.cpp': '#include "core/lib.h"\n#include "base/win.h"\n',
}

# Each case: what it breaks, the file it writes over GOOD, and a piece of the
# message expected.
CASES = [
    ('bare name of one of our headers', 'core/lib.cpp', '#include "log.h"\n', 'by a bare name'),
    ('a lower layer reaching up', 'base/log.h', '#include "core/lib.h"\n', 'base/ may not include'),
    ('an include of no file', 'core/lib.cpp', '#include "core/missing.h"\n', 'no file of the repository'),
    ('a folder without a row', 'extra/x.cpp', '#include "base/log.h"\n', 'no row in the layer table'),
    ('the host tool reaching Windows', 'tools/kxpack/main.cpp', '#include "base/win.h"\n', 'reaches a Windows header'),
    ('Windows reached through a shared header', 'base/log.h', '#include "base/win.h"\n', 'reaches a Windows header'),
    ('a fuzz target reaching Windows', 'core/lib.h', '#include "base/win.h"\n', 'reaches a Windows header'),
]


def make_tree(root, files):
    for path, text in files.items():
        full = os.path.join(root, path)
        os.makedirs(os.path.dirname(full), exist_ok=True)
        with open(full, 'w', encoding='utf-8') as f:
            f.write(text)


def run(root):
    done = subprocess.run([sys.executable, CHECK, root], capture_output=True, text=True)
    return done.returncode, done.stdout


def main():
    failures = 0
    with tempfile.TemporaryDirectory() as root:
        make_tree(root, GOOD)
        code, out = run(root)
        if code != 0:
            print(f'FAIL: the good tree is refused:\n{out}')
            failures += 1
    for what, path, text, expected in CASES:
        with tempfile.TemporaryDirectory() as root:
            make_tree(root, dict(GOOD, **{path: text}))
            code, out = run(root)
            if code == 0 or expected not in out:
                print(f'FAIL: {what}: exit {code}, output:\n{out}')
                failures += 1
    print(f'{len(CASES) + 1 - failures} passed, {failures} failed')
    return 1 if failures else 0


if __name__ == '__main__':
    sys.exit(main())
