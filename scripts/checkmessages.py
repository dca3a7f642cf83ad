#!/usr/bin/env python3
"""Checks the translated message tables against the English one.

Every *.msg file in src/util/messages must hold exactly the numbers of en.msg,
in the same order, and each message must keep the English placeholders (in the
same order: the formatter is positional) and the same sequence of escaped line
breaks. Bad escapes, stray percent signs and raw control characters are errors
in every file, English included, and so is a character that the ANSI code page
of the message's language cannot hold (the installer shows its texts through
the "A" functions, so such a character would come out as a question mark).

Usage: checkmessages.py [MESSAGES_DIR]
Exits 0 when everything matches, 1 with a list of problems otherwise.
"""

import argparse
import pathlib
import re
import sys

REFERENCE = "en.msg"
ESCAPES = "nrt\\"
PLACEHOLDERS = "sduxX%"
LINE_RE = re.compile(r"([0-9]+)\t(.*)", re.DOTALL)
# The ANSI code page a system of each language runs with.
CODE_PAGES = {"en": "cp1252", "de": "cp1252", "fr": "cp1252", "ru": "cp1251", "ja": "cp932"}


class Message:
    def __init__(self, number, lineno, placeholders, breaks):
        self.number = number
        self.lineno = lineno
        self.placeholders = placeholders  # e.g. ['%s', '%d']
        self.breaks = breaks              # e.g. '\\r\\n\\r\\n'


def scan_text(text, where, problems):
    """Returns (placeholders, breaks) of one message text; bad bits go to problems."""
    placeholders = []
    breaks = []
    i = 0
    while i < len(text):
        c = text[i]
        if c == "\\":
            nxt = text[i + 1] if i + 1 < len(text) else ""
            if nxt not in ESCAPES or nxt == "":
                shown = f"'\\{nxt}'" if nxt else "'\\' at end of line"
                problems.append(f"{where}: bad escape {shown} (allowed: \\n \\r \\t \\\\)")
            elif nxt in "nr":
                breaks.append("\\" + nxt)
            i += 2
            continue
        if c == "%":
            nxt = text[i + 1] if i + 1 < len(text) else ""
            if nxt not in PLACEHOLDERS or nxt == "":
                shown = f"'%{nxt}'" if nxt else "'%' at end of line"
                problems.append(f"{where}: bad placeholder {shown} "
                                "(allowed: %s %d %u %x %X, and %% for a percent sign)")
            else:
                placeholders.append("%" + nxt)
            i += 2
            continue
        if ord(c) < 0x20 or ord(c) == 0x7F:
            hint = " (CRLF line endings?)" if c == "\r" else ""
            problems.append(f"{where}: raw control character U+{ord(c):04X} in text{hint}; "
                            "use an escape instead")
        i += 1
    return placeholders, "".join(breaks)


def can_encode(char, code_page):
    try:
        char.encode(code_page)
        return True
    except UnicodeEncodeError:
        return False


def read_table(path, problems):
    """Parses one .msg file into an ordered list of Message."""
    data = path.read_bytes()
    name = path.name
    if data.startswith(b"\xef\xbb\xbf"):
        problems.append(f"{name}: starts with a UTF-8 byte order mark; save it without one")
        data = data[3:]
    try:
        content = data.decode("utf-8")
    except UnicodeDecodeError as e:
        problems.append(f"{name}: not valid UTF-8 ({e})")
        return []

    messages = []
    seen = {}
    lines = content.split("\n")
    if lines and lines[-1] == "":
        lines.pop()
    for lineno, line in enumerate(lines, 1):
        where = f"{name}:{lineno}"
        if line.startswith("#"):
            continue
        m = LINE_RE.fullmatch(line)
        if not m:
            if line.strip() == "":
                problems.append(f"{where}: empty line")
            else:
                problems.append(f"{where}: expected NUMBER<TAB>TEXT")
            continue
        number = int(m.group(1))
        text = m.group(2)
        where = f"{name}:{lineno} (message {number})"
        if number > 0xFFFF:
            problems.append(f"{where}: number does not fit a string table id")
        if number in seen:
            problems.append(f"{where}: duplicate, first defined on line {seen[number]}")
            continue
        seen[number] = lineno
        if text == "":
            problems.append(f"{where}: empty text")
        code_page = CODE_PAGES.get(path.stem)
        if code_page:
            lost = sorted({c for c in text if not can_encode(c, code_page)})
            if lost:
                problems.append(f"{where}: {code_page} cannot hold {' '.join(lost)}")
        placeholders, breaks = scan_text(text, where, problems)
        messages.append(Message(number, lineno, placeholders, breaks))
    return messages


def compare(name, reference, messages, problems):
    """Checks one language against the English table."""
    ref_by_number = {m.number: m for m in reference}
    by_number = {m.number: m for m in messages}

    missing = [n for n in ref_by_number if n not in by_number]
    extra = [m for m in messages if m.number not in ref_by_number]
    for n in missing:
        problems.append(f"{name}: message {n} is missing (present in {REFERENCE})")
    for m in extra:
        problems.append(f"{name}:{m.lineno}: message {m.number} is not in {REFERENCE}")

    # Order: compare the numbers both files share.
    common_ref = [m.number for m in reference if m.number in by_number]
    common_own = [m.number for m in messages if m.number in ref_by_number]
    if common_ref != common_own:
        for want, got in zip(common_ref, common_own):
            if want != got:
                problems.append(f"{name}:{by_number[got].lineno}: message {got} is out of "
                                f"order; {REFERENCE} has {want} at this point")
                break

    for m in messages:
        ref = ref_by_number.get(m.number)
        if ref is None:
            continue
        where = f"{name}:{m.lineno} (message {m.number})"
        if m.placeholders != ref.placeholders:
            problems.append(f"{where}: placeholders {' '.join(m.placeholders) or '(none)'} "
                            f"differ from English {' '.join(ref.placeholders) or '(none)'}")
        if m.breaks != ref.breaks:
            problems.append(f"{where}: line breaks {m.breaks or '(none)'} "
                            f"differ from English {ref.breaks or '(none)'}")


def main():
    default_dir = pathlib.Path(__file__).resolve().parent.parent / "src" / "util" / "messages"
    parser = argparse.ArgumentParser(description="Check message tables against en.msg.")
    parser.add_argument("directory", nargs="?", type=pathlib.Path, default=default_dir,
                        help="folder with the *.msg files (default: %(default)s)")
    args = parser.parse_args()

    ref_path = args.directory / REFERENCE
    if not ref_path.is_file():
        print(f"checkmessages: {ref_path} not found", file=sys.stderr)
        return 1

    problems = []
    reference = read_table(ref_path, problems)
    if not reference and not problems:
        problems.append(f"{REFERENCE}: holds no messages")

    others = sorted(p for p in args.directory.glob("*.msg") if p.name != REFERENCE)
    for path in others:
        messages = read_table(path, problems)
        compare(path.name, reference, messages, problems)

    if problems:
        for p in problems:
            print(f"checkmessages: {p}", file=sys.stderr)
        print(f"checkmessages: {len(problems)} problem(s) found", file=sys.stderr)
        return 1
    names = ", ".join([REFERENCE] + [p.name for p in others])
    print(f"checkmessages: {len(reference)} messages, all tables consistent ({names})")
    return 0


if __name__ == "__main__":
    sys.exit(main())
