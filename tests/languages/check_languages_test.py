#!/usr/bin/env python3
"""The language check fails on each kind of broken table, made here from a
copy of a shipped one in a folder of its own, and passes on the copy as it is."""
import os
import shutil
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
CHECK = os.path.join(HERE, 'check_languages.py')
ROOT = os.path.normpath(os.path.join(HERE, '..', '..'))
SOURCE = os.path.join(ROOT, 'runtime', 'languages', 'kxlng1031.dat')


def read_lines():
    with open(SOURCE, 'rb') as f:
        return f.read().decode('utf-8').split('\r\n')


def set_text(lines, key, text):
    return [f'{key}={text}' if line.startswith(key + '=') else line for line in lines]


def text_of(lines, key):
    return next(line.split('=', 1)[1] for line in lines if line.startswith(key + '='))


def missing_key(lines):
    return [line for line in lines if not line.startswith('#browse=')]


def lost_reference(lines):
    return set_text(lines, '#extracting', text_of(lines, '#extracting').replace('%EXTNAME%', 'EXTNAME'))


def duplicate_accelerator(lines):
    # Back takes Next's text, and with it Next's accelerator, on every page.
    return set_text(lines, '#back', text_of(lines, '#next'))


def wrong_id(lines):
    return lines[:2] + [str(int(lines[2]) + 1)] + lines[3:]


# Each case: what it breaks, how, and a piece of the message expected.
CASES = [
    ('a missing key', missing_key, '#browse is missing'),
    ('a lost %VARIABLE% reference', lost_reference, 'lost %EXTNAME%'),
    ('a duplicate accelerator in one dialog', duplicate_accelerator, 'used by #next, #back'),
    ('an id other than the file name\'s', wrong_id, 'is not the one of the file name'),
]


def run(lines, root=ROOT):
    with tempfile.TemporaryDirectory() as folder:
        with open(os.path.join(folder, os.path.basename(SOURCE)), 'wb') as f:
            f.write('\r\n'.join(lines).encode('utf-8'))
        done = subprocess.run([sys.executable, CHECK, root, folder], capture_output=True, text=True)
        return done.returncode, done.stdout


def english_close_on_c(lines):
    """The copy as it is, against an English table whose Close takes the C of
    Cancel, both on the final page."""
    with tempfile.TemporaryDirectory() as root:
        for part in (('runtime', 'kxlng.dat'), ('runtime', 'setup', 'kxdlg.dat'), ('runtime', 'uninstall', 'kxdlg.dat')):
            os.makedirs(os.path.join(root, *part[:-1]), exist_ok=True)
            shutil.copy(os.path.join(ROOT, *part), os.path.join(root, *part))
        english = os.path.join(root, 'runtime', 'kxlng.dat')
        with open(english, 'rb') as f:
            text = f.read().decode('ascii')
        with open(english, 'wb') as f:
            f.write(set_text_in(text, '#close', '&Close').encode('ascii'))
        return run(lines, root)


def set_text_in(text, key, value):
    return '\r\n'.join(set_text(text.split('\r\n'), key, value))


def main():
    failures = 0
    lines = read_lines()
    code, out = run(lines)
    if code != 0 or '1 passed, 0 failed' not in out:
        print(f'FAIL: the unchanged copy is refused: exit {code}, output:\n{out}')
        failures += 1
    for what, damage, expected in CASES:
        code, out = run(damage(lines))
        if code != 1 or expected not in out or '0 passed, 1 failed' not in out:
            print(f'FAIL: {what}: exit {code}, output:\n{out}')
            failures += 1
    # English is held to the same rule; the translation itself passes.
    code, out = english_close_on_c(lines)
    expected = 'runtime/kxlng.dat: dialog setup/dlgwizfinal: accelerator "c" used by #close, #cancel'
    if code != 1 or expected not in out or '1 passed, 0 failed' not in out:
        print(f'FAIL: a duplicate accelerator in English: exit {code}, output:\n{out}')
        failures += 1
    print(f'{len(CASES) + 2 - failures} passed, {failures} failed')
    return 1 if failures else 0


if __name__ == '__main__':
    sys.exit(main())
