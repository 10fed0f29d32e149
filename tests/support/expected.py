#!/usr/bin/python3
"""What the program shows, as the tests expect it: the texts, colours and
positions of tests/expected.json, which the unit tests read too.

    expected.py KEY [NAME=VALUE ...]

prints the entry KEY (a path through the file's groups, such as
status.disconnected): a text with its placeholders filled, a number, or a
list's numbers separated by spaces. A key that the file lacks, or a
placeholder left unfilled, fails with a message that names the key.

From Python: text(key, **values), colour(key) as (r, g, b), numbers(key).
"""

import json
import os
import re
import sys

FILE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "expected.json")
PLACEHOLDER = re.compile(r"\{([^{}]*)\}")

with open(FILE, encoding="utf-8") as f:
    _entries = json.load(f)


class MissingExpectation(LookupError):
    pass


def _fail(key, problem):
    raise MissingExpectation(f"{os.path.normpath(FILE)}: \"{key}\" {problem}")


def value(key):
    entry = _entries
    for name in key.split("."):
        if not isinstance(entry, dict) or name not in entry:
            _fail(key, "is not in the file")
        entry = entry[name]
    return entry


def text(key, **values):
    """The text with each {name} filled from the values given, or, when the
    name is another entry's key ({product.name}), from that entry. Every value
    given must fill a placeholder."""
    written = value(key)
    if not isinstance(written, str):
        _fail(key, "is not a text")

    def fill(match):
        name = match.group(1)
        if name in values:
            return str(values[name])
        if "." in name:
            return text(name)
        _fail(key, f"leaves {{{name}}} unfilled")

    for name in values:
        if "{" + name + "}" not in written:
            _fail(key, f"has no {{{name}}} to fill")
    return PLACEHOLDER.sub(fill, written)


def colour(key):
    written = value(key)
    if not isinstance(written, str) or not re.fullmatch(r"#[0-9a-fA-F]{6}", written):
        _fail(key, "is not a colour written #rrggbb")
    return tuple(int(written[i:i + 2], 16) for i in (1, 3, 5))


def numbers(key):
    written = value(key)
    if not isinstance(written, list) or not all(isinstance(n, int) for n in written):
        _fail(key, "is not a list of whole numbers")
    return tuple(written)


def main(argv):
    if len(argv) < 2 or not all("=" in a for a in argv[2:]):
        raise SystemExit(__doc__)
    key = argv[1]
    try:
        entry = value(key)
        if isinstance(entry, str):
            print(text(key, **dict(a.split("=", 1) for a in argv[2:])))
        elif isinstance(entry, dict):
            _fail(key, "is a group, not an entry")
        elif len(argv) > 2:
            _fail(key, "is no text: it takes no values")
        elif isinstance(entry, list):
            print(" ".join(str(n) for n in numbers(key)))
        else:
            print(entry)
    except MissingExpectation as e:
        print(e, file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
