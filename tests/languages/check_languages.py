#!/usr/bin/env python3
"""Checks the translated language tables against the English one.

Every kxlng<id>.dat of the languages folder must:
- be UTF-8 without a byte order mark, every line ended by CR LF;
- begin with [KXLang], a language name of letters only (it becomes part of
  page file names such as kxwelc<name>.rtf) and the numeric id of its file name;
- hold the keys of runtime/kxlng.dat in the same order, none added or lost;
- give each key the same %VARIABLE% references as English, no other '%'
  and no '#' (the library would read "#word" as a key and "%" as a
  reference; two of the texts even go through printf), the same '|' line
  breaks, the same command-line switches, the same trailing blanks (the
  programs append a path or a number there), and text wherever English
  has text;
- give each key as many accelerators ('&x'; '&&' is a literal ampersand)
  as English, at most one, and never the same letter twice within a dialog.

The English table itself must not use a letter twice within a dialog
either: every dialog's accelerators are unique in every language.

Which keys share a dialog comes from runtime/setup/kxdlg.dat and
runtime/uninstall/kxdlg.dat, plus the tables below for the texts the code
puts into dialogs.

Usage: check_languages.py [ROOT [LANGUAGES]]. ROOT is the repository root
(the English table and the dialog data), LANGUAGES the folder of the
translated tables (default ROOT/runtime/languages). Prints one line per
problem and "N passed, M failed" (files); exits 1 on any problem.
"""
import collections
import os
import re
import sys

# Variables the code sets to a key; a dialog of kxdlg.dat that names the
# variable shows that key's text.
VARIABLE_KEYS = {
    # script/install_script.cpp: the welcome page's Next button.
    'KXDLGNEXTC': ['#next'],
    # script/install_script.cpp: the licence page's header and closing question.
    'KXDLGLICCAPT': ['#wizlicagtitle'],
    'KXDLGLICINTRO': ['#licintro'],
    'KXDLGLICEND': ['#licend'],
    # script/install_script.cpp: the destination page's header and prompt.
    'KXDLGCAPTION': ['#wizdirtitle'],
    'DLGSELPROMPT': ['#browsefolders'],
    'DLGSELPROMPT2': ['#askbrowsefolders'],
    # docs/dialogs.md: the captions a script may give the final page's two
    # task boxes; either box may take any of them.
    'KXRUNTASK1C': ['#runprogram', '#openfolder', '#visitwebsite'],
    'KXRUNTASK2C': ['#runprogram', '#openfolder', '#visitwebsite'],
}

# Dialogs, or controls of a dialog, whose texts the code sets itself.
CODE_DIALOG_KEYS = {
    # core/overwrite_dialog.cpp: the replace question, a dialog built in code.
    'overwrite question': ['#confirmreplacetitle', '#overwriteprompt', '#confirmreplace', '#dothisconflicts',
                           '#overwriteit', '#skipit', '#yestoall', '#notoall'],
    # extract/progress_box.cpp: the progress page's label 21 shows KXEXTTEXT,
    # which script/install_script.cpp sets to #Extracting.
    'setup/dlgprogress': ['#extracting'],
    # core/run_language.cpp: the language box, a dialog built in code.
    'language box': ['#selectlanguagetitle', '#selectlanguage', '#ok', '#cancel'],
}

DIALOG_FILES = ['setup', 'uninstall']  # runtime/<name>/kxdlg.dat
FILE_NAME = re.compile(r'kxlng(\d+)\.dat')
REFERENCE = re.compile(r'%([A-Za-z0-9_]+)%')
SWITCH = re.compile(r'/(?:[A-Z]+|\?)')
WORD = re.compile(r'[#%]([A-Za-z0-9_]+)')


class Table:
    def __init__(self):
        self.name = None
        self.language_id = None
        self.entries = []  # (key, text) in file order


def read_table(path, problems, label):
    """The table at path; problems of its bytes and lines go to problems."""
    data = open(path, 'rb').read()
    if data.startswith(b'\xef\xbb\xbf'):
        problems.append(f'{label}: begins with a byte order mark')
        data = data[3:]
    try:
        text = data.decode('utf-8')
    except UnicodeDecodeError as error:
        problems.append(f'{label}: not valid UTF-8 (byte {error.start})')
        return None
    if not text.endswith('\r\n'):
        problems.append(f'{label}: the last line does not end with CR LF')
    lines = text.split('\n')
    if lines and lines[-1] == '':
        lines.pop()
    bare = [number for number, line in enumerate(lines, 1) if not line.endswith('\r') and number < len(lines)]
    if bare:
        problems.append(f'{label}: {len(bare)} lines end with LF alone, not CR LF (the first: line {bare[0]})')
    table = Table()
    for number, line in enumerate(lines, 1):
        if line.endswith('\r'):
            line = line[:-1]
        if number == 1:
            if line != '[KXLang]':
                problems.append(f'{label}: line 1 is "{line}", not [KXLang]')
        elif number == 2:
            table.name = line
        elif number == 3:
            table.language_id = line
        elif line.startswith(';'):
            continue  # a comment of the table's editors
        elif line:
            key, equals, value = line.partition('=')
            if not equals or not key.startswith('#') or len(key) < 2:
                problems.append(f'{label}: line {number} is not #key=text')
                continue
            table.entries.append((key, value))
    if len(lines) < 3:
        problems.append(f'{label}: the header is incomplete')
    return table


def accelerators(text):
    """The accelerator characters of text, and whether an '&' ends it."""
    found = []
    i = 0
    while i < len(text):
        if text[i] == '&':
            if i + 1 == len(text):
                return found, True
            if text[i + 1] != '&':
                found.append(text[i + 1])
            i += 2
        else:
            i += 1
    return found, False


def trailing_blanks(text):
    return text[len(text.rstrip()):]


def dialog_groups(root, english_keys, problems):
    """Dialog name -> the keys whose texts it shows."""
    groups = collections.OrderedDict()
    used_variables = set()
    for folder in DIALOG_FILES:
        path = os.path.join(root, 'runtime', folder, 'kxdlg.dat')
        current = None
        with open(path, encoding='latin-1') as data:
            for line in data:
                line = line.rstrip('\r\n')
                header = re.fullmatch(r'\[(\w+)\]', line)
                if header:
                    current = groups.setdefault(f'{folder}/{header.group(1)}', [])
                    continue
                if current is None:
                    continue
                for match in WORD.finditer(line):
                    word = match.group(1)
                    if match.group(0).startswith('#'):
                        key = '#' + word.lower()
                        if key in english_keys:
                            current.append(key)
                    elif word.upper() in VARIABLE_KEYS and line.find('%' + word + '%') >= 0:
                        used_variables.add(word.upper())
                        current.extend(VARIABLE_KEYS[word.upper()])
    for variable in VARIABLE_KEYS:
        if variable not in used_variables:
            problems.append(f'check_languages.py: VARIABLE_KEYS names {variable}, which no dialog of kxdlg.dat shows')
    for dialog, keys in CODE_DIALOG_KEYS.items():
        groups.setdefault(dialog, []).extend(keys)
    for dialog, keys in groups.items():
        for key in keys:
            if key not in english_keys:
                problems.append(f'check_languages.py: dialog {dialog} names {key}, which runtime/kxlng.dat lacks')
    return groups


def check_file(path, english, groups):
    label = os.path.basename(path)
    problems = []
    table = read_table(path, problems, label)
    if table is None:
        return problems, None

    match = FILE_NAME.fullmatch(label)
    if not match:
        problems.append(f'{label}: the name is not kxlng<language id>.dat')
    if not table.name or not re.fullmatch(r'[A-Za-z]+', table.name):
        problems.append(f'{label}: the language name "{table.name}" is not letters only (it is part of file names)')
    if not table.language_id or not table.language_id.isdigit():
        problems.append(f'{label}: the language id "{table.language_id}" is not a decimal number')
    elif match and int(table.language_id) != int(match.group(1)):
        problems.append(f'{label}: the language id {table.language_id} is not the one of the file name')

    english_order = [key for key, _ in english.entries]
    english_texts = dict(english.entries)
    keys = [key for key, _ in table.entries]
    counts = collections.Counter(keys)
    for key in english_order:
        if key not in counts:
            problems.append(f'{label}: {key} is missing')
    for key, count in counts.items():
        if key not in english_texts:
            problems.append(f'{label}: {key} is no key of runtime/kxlng.dat')
        elif count > 1:
            problems.append(f'{label}: {key} is given {count} times')
    common = [key for key in keys if key in english_texts]
    expected = [key for key in english_order if key in counts]
    if len(common) == len(expected) and common != expected:
        first = next(i for i, (a, b) in enumerate(zip(common, expected)) if a != b)
        problems.append(f'{label}: keys out of the English order: {common[first]} stands where {expected[first]} belongs')

    texts = {}
    for key, text in table.entries:
        texts.setdefault(key, text)
    for key in english_order:
        if key not in texts:
            continue
        text, original = texts[key], english_texts[key]
        if original and not text.strip():
            problems.append(f'{label}: {key} is empty')
            continue
        wanted = collections.Counter(REFERENCE.findall(original))
        given = collections.Counter(REFERENCE.findall(text))
        if wanted != given:
            lost = sorted((wanted - given).elements())
            added = sorted((given - wanted).elements())
            detail = '; '.join(part for part in (
                'lost ' + ', '.join(f'%{v}%' for v in lost) if lost else '',
                'added ' + ', '.join(f'%{v}%' for v in added) if added else '') if part)
            problems.append(f'{label}: {key}: the %VARIABLE% references differ from English ({detail})')
        if '%' in REFERENCE.sub('', text) and '%' not in REFERENCE.sub('', original):
            problems.append(f'{label}: {key}: a "%" outside a %VARIABLE% reference')
        if '#' in text and '#' not in original:
            problems.append(f'{label}: {key}: a "#", which the library would read as a key reference')
        if text.count('|') != original.count('|'):
            problems.append(f'{label}: {key}: {text.count("|")} "|" line breaks, English has {original.count("|")}')
        if sorted(SWITCH.findall(text)) != sorted(SWITCH.findall(original)):
            problems.append(f'{label}: {key}: the command-line switches differ from English')
        if trailing_blanks(text) != trailing_blanks(original):
            problems.append(f'{label}: {key}: ends with {trailing_blanks(text)!r}, English with '
                            f'{trailing_blanks(original)!r}')
        found, dangling = accelerators(text)
        if dangling:
            problems.append(f'{label}: {key}: ends with a single "&"')
        english_count = len(accelerators(original)[0])
        if len(found) != english_count or len(found) > 1:
            problems.append(f'{label}: {key}: {len(found)} accelerators, English has {english_count}')

    problems.extend(accelerator_problems(label, texts, groups))
    return problems, table


def accelerator_problems(label, texts, groups):
    """A line for each letter that two keys of one dialog take as accelerator."""
    problems = []
    for dialog, dialog_keys in groups.items():
        letters = collections.defaultdict(list)
        for key in dict.fromkeys(dialog_keys):
            if key in texts:
                for letter in accelerators(texts[key])[0]:
                    letters[letter.lower()].append(key)
        for letter, owners in letters.items():
            if len(owners) > 1:
                problems.append(f'{label}: dialog {dialog}: accelerator "{letter}" used by {", ".join(owners)}')
    return problems


def main():
    root = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), '..', '..'))
    folder = os.path.abspath(sys.argv[2] if len(sys.argv) > 2 else os.path.join(root, 'runtime', 'languages'))
    problems = []
    english = read_table(os.path.join(root, 'runtime', 'kxlng.dat'), problems, 'runtime/kxlng.dat')
    if english is None or problems:
        problems.append('check_languages.py: runtime/kxlng.dat cannot serve as the reference')
        for p in problems:
            print(p)
        print('0 passed, 0 failed')
        return 1
    groups = dialog_groups(root, {key for key, _ in english.entries}, problems)
    problems.extend(accelerator_problems('runtime/kxlng.dat', dict(english.entries), groups))
    for p in problems:
        print(p)

    names = sorted(n for n in os.listdir(folder) if os.path.isfile(os.path.join(folder, n)))
    if not names:
        problems.append(f'check_languages.py: no language tables in {folder}')
        print(problems[-1])
    passed = failed = 0
    seen_names = {}
    for name in names:
        file_problems, table = check_file(os.path.join(folder, name), english, groups)
        if table and table.name:
            if table.name.lower() == english.name.lower() or table.name.lower() in seen_names:
                other = seen_names.get(table.name.lower(), 'runtime/kxlng.dat')
                file_problems.append(f'{name}: the language name {table.name} is taken by {other} too')
            seen_names.setdefault(table.name.lower(), name)
        for p in file_problems:
            print(p)
        if file_problems:
            failed += 1
        else:
            passed += 1
    print(f'{passed} passed, {failed} failed')
    return 1 if problems or failed else 0


if __name__ == '__main__':
    sys.exit(main())
