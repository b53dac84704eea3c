#!/usr/bin/env python3
"""Checks the includes of src/ against the arrows of src/layers.txt.

Fails (exit 1) when a file includes the header of a library its own library may not use, when a
file lies in no library of the table, or when a Qt header (<Q...>, <QtWidgets/...>) is included
outside the libraries the table's "qt:" line names. Every fault is printed as FILE:LINE: what.

    tools/check-layering.py [SRC_FOLDER]      (default: the src/ of this checkout)
"""
import pathlib
import re
import sys

INCLUDE = re.compile(r'^\s*#\s*include\s*([<"])([^>"]+)[>"]')
QT_HEADER = re.compile(r'^(Q[A-Za-z0-9_]*|Qt[A-Za-z0-9_]*/.*)$')
SOURCE_SUFFIXES = {'.h', '.hpp', '.cpp', '.cc', '.cxx', '.inc'}


def read_table(path):
    allowed, qt = {}, set()
    for number, line in enumerate(path.read_text(encoding='utf-8').splitlines(), 1):
        line = line.split('#', 1)[0].strip()
        if not line:
            continue
        name, sep, uses = line.partition(':')
        if not sep:
            sys.exit(f'{path}:{number}: expected "library: libraries it uses"')
        if name.strip() == 'qt':
            qt = set(uses.split())
        else:
            allowed[name.strip()] = set(uses.split())
    for name, uses in allowed.items():
        for used in uses - set(allowed):
            sys.exit(f'{path}: {name} uses {used}, which is no library of the table')
    return allowed, qt


def library_of(src, file):
    relative = file.relative_to(src)
    return relative.parts[0]


def check(src):
    allowed, qt = read_table(src / 'layers.txt')
    faults = []
    for file in sorted(src.rglob('*')):
        if not file.is_file() or file.suffix not in SOURCE_SUFFIXES:
            continue
        library = library_of(src, file)
        where = file.relative_to(src.parent)
        if library not in allowed:
            faults.append(f'{where}: lies in no library of {src.name}/layers.txt')
            continue
        text = file.read_text(encoding='utf-8', errors='replace')
        for number, line in enumerate(text.splitlines(), 1):
            match = INCLUDE.match(line)
            if not match:
                continue
            quote, header = match.groups()
            if quote == '<':
                if QT_HEADER.match(header) and library not in qt:
                    faults.append(f'{where}:{number}: Qt header <{header}> outside '
                                  f'{", ".join(sorted(qt))}')
                continue
            used = header.split('/', 1)[0] if '/' in header else library
            if used == library or used not in allowed:
                continue  # its own header, or no library's (a header of the build)
            if used not in allowed[library]:
                uses = ', '.join(sorted(allowed[library])) or 'no other library'
                faults.append(f'{where}:{number}: {library} includes "{header}" of {used}; '
                              f'{library} may use {uses}')
    return faults


def main():
    src = pathlib.Path(sys.argv[1] if len(sys.argv) > 1
                       else pathlib.Path(__file__).resolve().parent.parent / 'src')
    faults = check(src.resolve())
    for fault in faults:
        print(fault, file=sys.stderr)
    if faults:
        print(f'check-layering: {len(faults)} include(s) against {src.name}/layers.txt',
              file=sys.stderr)
        return 1
    print(f'check-layering: the includes of {src} keep to {src.name}/layers.txt')
    return 0


if __name__ == '__main__':
    sys.exit(main())
