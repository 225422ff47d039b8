#!/usr/bin/env python3
"""Checks a folder that `kxpack manifest` wrote against winget's schemas.

- The folder holds exactly <id>.yaml, <id>.installer.yaml and
  <id>.locale.en-US.yaml, each beginning with its yaml-language-server line.
- Each file is YAML (read alike by PyYAML and libyaml) that validates
  against its 1.6.0 JSON schema (every violation is listed), and the three agree on identifier, version, locale
  and manifest version.
- ExpectedReturnCodes is the table of docs/deployment.md between
  <!-- winget-return-codes --> and <!-- /winget-return-codes -->, and that
  table has a row for every code of docs/exit-codes.md.
- Each EXPECTATION PATH=VALUE holds: PATH is version, installer or locale,
  then keys and list indexes joined by dots (installer.Installers.0.InstallerUrl).

Usage: check_winget_manifest.py SCHEMA_DIR MANIFEST_DIR DOCS_DIR [PATH=VALUE...]
Exit 0 when everything holds; otherwise 1, with one line per problem.
"""
import json
import os
import re
import sys

import jsonschema
import yaml

TYPES = {'version': ('{id}.yaml', 'manifest.version.1.6.0.json'),
         'installer': ('{id}.installer.yaml', 'manifest.installer.1.6.0.json'),
         'locale': ('{id}.locale.en-US.yaml', 'manifest.defaultLocale.1.6.0.json')}
MANIFEST_TYPES = {'version': 'version', 'installer': 'installer', 'locale': 'defaultLocale'}


def table_rows(path, begin=None, end=None):
    """The cells of a Markdown table's body rows, the whole file's or those between two marks."""
    rows, inside = [], begin is None
    with open(path, encoding='utf-8') as doc:
        for line in doc:
            if begin and begin in line:
                inside = True
            elif end and end in line:
                break
            elif inside and line.startswith('|') and not re.match(r'^\|[-| ]+\|$', line.strip()):
                rows.append([c.strip() for c in line.strip().strip('|').split('|')])
    return rows


def check_return_codes(installer, docs, problems):
    mapped = table_rows(os.path.join(docs, 'deployment.md'), '<!-- winget-return-codes -->',
                        '<!-- /winget-return-codes -->')
    if not mapped:
        problems.append('deployment.md has no table between <!-- winget-return-codes --> marks')
        return
    documented = {}
    for cells in mapped:
        response = re.fullmatch(r'`(\w+)`', cells[1])
        documented[cells[0]] = response.group(1) if response else None
    written = {str(e['InstallerReturnCode']): e['ReturnResponse'] for e in installer.get('ExpectedReturnCodes') or []}
    expected = {code: response for code, response in documented.items() if response}
    if written != expected:
        problems.append(f'ExpectedReturnCodes {written} differ from deployment.md\'s table {expected}')
    for cells in table_rows(os.path.join(docs, 'exit-codes.md')):
        if re.fullmatch(r'-?\d+', cells[0]) and cells[0] not in documented:
            problems.append(f'exit code {cells[0]} of exit-codes.md has no row in deployment.md\'s winget table')


def lookup(documents, path):
    kind, *steps = path.split('.')
    value = documents[kind]
    for step in steps:
        value = value[int(step)] if isinstance(value, list) else value[step]
    return value


def main():
    schema_dir, folder, docs, *expectations = sys.argv[1:]
    problems = []
    names = sorted(os.listdir(folder))
    main_files = [n for n in names if n.count('.') >= 2 and n.endswith('.yaml') and
                  not n.endswith(('.installer.yaml', '.locale.en-US.yaml'))]
    if len(main_files) != 1:
        sys.exit(f'FAIL: cannot tell the version file among {names}')
    package_id = main_files[0][:-len('.yaml')]
    wanted = sorted(pattern.format(id=package_id) for pattern, _ in TYPES.values())
    if names != wanted:
        problems.append(f'files {names}, expected {wanted}')

    documents = {}
    for kind, (pattern, schema_name) in TYPES.items():
        path = os.path.join(folder, pattern.format(id=package_id))
        if not os.path.exists(path):
            continue
        with open(path, encoding='utf-8') as f:
            text = f.read()
        first = text.split('\n', 1)[0]
        address = f'https://aka.ms/winget-manifest.{MANIFEST_TYPES[kind]}.1.6.0.schema.json'
        if first != f'# yaml-language-server: $schema={address}':
            problems.append(f'{path}: first line is {first!r}')
        document = yaml.safe_load(text)
        # libyaml, the C parser most YAML readers build on, reads the same.
        if getattr(yaml, '__with_libyaml__', False) and yaml.load(text, Loader=yaml.CSafeLoader) != document:
            problems.append(f'{path}: libyaml reads it otherwise than PyYAML')
        documents[kind] = document
        with open(os.path.join(schema_dir, schema_name), encoding='utf-8') as f:
            schema = json.load(f)
        for error in sorted(jsonschema.Draft7Validator(schema).iter_errors(document), key=str):
            where = '/'.join(str(p) for p in error.absolute_path) or '(top)'
            problems.append(f'{path}: {where}: {error.message}')
        if document.get('ManifestType') != MANIFEST_TYPES[kind] or document.get('ManifestVersion') != '1.6.0':
            problems.append(f'{path}: ManifestType/ManifestVersion {document.get("ManifestType")} '
                            f'{document.get("ManifestVersion")}')

    if len(documents) == 3:
        for key in ('PackageIdentifier', 'PackageVersion'):
            values = {kind: documents[kind].get(key) for kind in documents}
            if set(values.values()) != {package_id if key == 'PackageIdentifier' else values['version']}:
                problems.append(f'{key} differs between the files or from the file names: {values}')
        if documents['version'].get('DefaultLocale') != documents['locale'].get('PackageLocale'):
            problems.append('DefaultLocale is not the locale file\'s PackageLocale')
        check_return_codes(documents['installer'], docs, problems)
        for expectation in expectations:
            path, value = expectation.split('=', 1)
            try:
                actual = lookup(documents, path)
            except (KeyError, IndexError, TypeError):
                actual = '(missing)'
            if actual != value:
                problems.append(f'{path} is {actual!r}, expected {value!r}')

    for problem in problems:
        print(f'FAIL: {problem}')
    return 1 if problems else 0


if __name__ == '__main__':
    sys.exit(main())
