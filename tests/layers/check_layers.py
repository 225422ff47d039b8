#!/usr/bin/env python3
"""Checks the include rules of docs/architecture.md over the whole tree.

- Every include of one of our headers names its folder from the repository
  root ("base/run_log.h"); a bare name ("run_log.h") is refused.
- A folder includes only the folders its row of the layer table allows.
- The host programs (tools/kxpack, and the fuzz targets in fuzz/) reach no
  Windows header through what they include: the headers they share with
  the programs are portable.

Usage: check_layers.py [REPOSITORY_ROOT]. Exit 0 when every rule holds;
otherwise 1, with one line per broken rule.
"""
import os
import re
import sys

INCLUDE = re.compile(r'^\s*#\s*include\s+([<"])([^">]+)[">]', re.M)
SOURCE_ENDINGS = ('.c', '.cc', '.cpp', '.h', '.hpp')
SKIPPED = {'build', 'out', '.git'}
# Native Linux programs: whatever they include from the programs' folders
# must reach no Windows header.
HOST_FOLDERS = ('tools/kxpack/', 'fuzz/')


def read_layer_table(root):
    """The rows of the layer table: folder -> allowed folders."""
    path = os.path.join(root, 'docs', 'architecture.md')
    rows = {}
    in_table = False
    with open(path, encoding='utf-8') as doc:
        for line in doc:
            if '<!-- layers -->' in line:
                in_table = True
                continue
            if in_table and line.strip() == '<!-- /layers -->':
                break
            if not in_table or not line.startswith('|'):
                continue
            cells = [c.strip() for c in line.strip().strip('|').split('|')]
            if len(cells) < 4 or not cells[1].startswith('`'):
                continue
            folder = cells[1].strip('`').rstrip('/')
            allowed = re.findall(r'`([^`]+)`', cells[3])
            rows[folder] = {a.rstrip('/') for a in allowed}
    if not rows:
        sys.exit(f'check_layers: no layer table between <!-- layers --> and <!-- /layers --> in {path}')
    return rows


def source_files(root):
    for folder, dirs, files in os.walk(root):
        rel = os.path.relpath(folder, root)
        dirs[:] = sorted(d for d in dirs if not (rel == '.' and d in SKIPPED) and not d.startswith('.'))
        for name in sorted(files):
            if name.endswith(SOURCE_ENDINGS):
                yield os.path.normpath(os.path.join(rel, name)).replace(os.sep, '/')


def owning_row(path, rows):
    """The longest table folder that holds path, or None."""
    best = None
    for folder in rows:
        if folder == '*':
            continue
        if path.startswith(folder + '/') and (best is None or len(folder) > len(best)):
            best = folder
    return best


def includes_of(root, path):
    with open(os.path.join(root, path), encoding='utf-8', errors='replace') as source:
        return INCLUDE.findall(source.read())


def check(root):
    rows = read_layer_table(root)
    files = list(source_files(root))
    ours = set(files)
    basenames = {}
    for f in files:
        basenames.setdefault(os.path.basename(f), []).append(f)
    problems = []

    for path in files:
        row = owning_row(path, rows)
        for kind, target in includes_of(root, path):
            if kind == '<':
                continue
            if '/' not in target:
                if target in basenames:
                    problems.append(f'{path}: includes "{target}" by a bare name; write "{basenames[target][0]}"')
                continue  # a third-party header (the LZMA SDK's)
            if target not in ours:
                problems.append(f'{path}: includes "{target}", which is no file of the repository')
                continue
            if row is None:
                problems.append(f'{path}: its folder has no row in the layer table of docs/architecture.md')
                break
            allowed = rows[row]
            if '*' in allowed:
                continue
            target_row = owning_row(target, rows)
            if target_row not in allowed:
                problems.append(f'{path}: includes "{target}" ({target_row}/), which {row}/ may not include')

    # What the host programs share with the Windows programs must stay portable.
    def reaches_windows(header, seen):
        if header in seen:
            return None
        seen.add(header)
        for kind, target in includes_of(root, header):
            if kind == '<' and target.lower().split('/')[-1] in ('windows.h', 'winbase.h', 'winnt.h'):
                return header
            if kind == '"' and target in ours:
                found = reaches_windows(target, seen)
                if found:
                    return found
        return None

    for path in files:
        host = next((h for h in HOST_FOLDERS if path.startswith(h)), None)
        if host is None:
            continue
        for kind, target in includes_of(root, path):
            if kind == '"' and target in ours and not target.startswith(host):
                found = reaches_windows(target, set())
                if found:
                    problems.append(f'{path}: "{target}" reaches a Windows header through {found}')
    return problems


def main():
    root = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), '..', '..'))
    problems = check(root)
    for p in problems:
        print(p)
    print(f'check_layers: {len(problems)} broken include rules')
    return 1 if problems else 0


if __name__ == '__main__':
    sys.exit(main())
