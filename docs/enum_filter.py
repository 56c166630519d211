#!/usr/bin/env python3
"""Doxygen input filter for the headers of the shared enumerations.

runtime/enums/<E>.h defines SHAREDLIB_ENUM and SHAREDLIB_ENUM_TABLE and
includes EnumPattern.h, which declares the enumeration from the rows of the
table. Doxygen's preprocessor does not paste the table in, so this filter
writes out what the pattern declares for <E>: the enumeration with one
documented value per row (its description is the row's description), the name
and description arrays and the three look-up functions. The rest of the header
passes through unchanged.
"""
import pathlib
import re
import sys

ROW = re.compile(r'^\s*(?:/\*.*?\*/\s*)?ENUM_ROW\(\s*(\w+)\s*,\s*"((?:[^"\\]|\\.)*)"\s*\)')


def escape(text):
    """A row's description as plain text of a Doxygen comment."""
    return re.sub(r'([\\@<>&#$%])', r'\\\1', text)


def expand(name, table):
    rows = []
    for line in table.read_text(encoding='utf-8', errors='replace').splitlines():
        match = ROW.match(line)
        if match:
            rows.append((match.group(1), match.group(2)))
    out = [f'/// The {name} values, one per row of {table.name}, numbered 0, 1, ... in table order.',
           f'enum {name} : int32_t {{']
    for value, (row, description) in enumerate(rows):
        text = escape(description.replace('\\"', '"')) or row
        out.append(f'    {name}_{row} = {value}, ///< {text}')
    out.append(f'    {name}_Max = {len(rows)} ///< One higher than the last value.')
    out.append('};')
    out += [
        f'/// Names of the values, indexed by value: "Max" at {name}_Max and "" after it.',
        f'SHAREDLIB_API extern const char *g{name}_Names[{name}_Max + 2];',
        f'/// Descriptions of the values, indexed by value, in the layout of g{name}_Names.',
        f'SHAREDLIB_API extern const char *g{name}_Description[{name}_Max + 2];',
        f'/// The name of a value (without the "{name}_" prefix), or "Error" when it is out of range.',
        f'SHAREDLIB_API const char *{name}_ValueToName({name} value);',
        f'/// The description of a value, or "Error" when it is out of range.',
        f'SHAREDLIB_API const char *{name}_ValueToDescription({name} value);',
        f'/// The value of a name, matched ignoring ASCII case, or -1 when no row has it.',
        f'SHAREDLIB_API {name} {name}_NameToValue(const char *name);',
    ]
    return out


def main():
    header = pathlib.Path(sys.argv[1])
    text = header.read_text(encoding='utf-8')
    name = re.search(r'^#define SHAREDLIB_ENUM (\w+)', text, re.M)
    table = re.search(r'^#define SHAREDLIB_ENUM_TABLE "([^"]+)"', text, re.M)
    for line in text.splitlines():
        if name and table and line.startswith('#define SHAREDLIB_ENUM'):
            print('')  # the pattern's parameters, forgotten again by the pattern
        elif name and table and line.strip() == '#include "EnumPattern.h"':
            print('\n'.join(expand(name.group(1), header.parent / table.group(1))))
        else:
            print(line)


if __name__ == '__main__':
    main()
