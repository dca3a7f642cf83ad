#!/usr/bin/env python3
"""Generates the message tables from src/util/messages/*.msg.

Each .msg file holds one language: lines "NUMBER<TAB>TEXT" where NUMBER is
the English identifier (1000 + message number) and TEXT uses the escapes
\\n, \\r, \\t and \\\\. --names is the file of message names, lines
"NUMBER<TAB>NAME", one for every English message. Outputs, into --out:
  messagetable.cpp     the host's table of every language, keyed by base + number
  messages.rc          the installer's string table (numbers below 412)
  uimessages.rc        the UI resource library's string table (412 and up)
  util/messagenames.h  msg::kNAME for every message: its identifier, and in
                       its type the number of arguments its text takes
"""
import argparse
import os
import re
import sys

BASES = {"en": 1000, "de": 2000, "ru": 3000, "fr": 4000, "ja": 5000}
UI_FIRST = 412


def unescape(text, where):
    out = []
    i = 0
    while i < len(text):
        c = text[i]
        if c == "\\":
            if i + 1 >= len(text):
                sys.exit(f"{where}: backslash at end of line")
            e = text[i + 1]
            mapped = {"n": "\n", "r": "\r", "t": "\t", "\\": "\\"}.get(e)
            if mapped is None:
                sys.exit(f"{where}: unknown escape \\{e}")
            out.append(mapped)
            i += 2
        else:
            out.append(c)
            i += 1
    return "".join(out)


def numbered_lines(path):
    """(where, number text, separator, rest) of each line but blanks and comments."""
    with open(path, encoding="utf-8") as f:
        for lineno, line in enumerate(f, 1):
            line = line.rstrip("\n")
            if not line or line.startswith("#"):
                continue
            number, sep, rest = line.partition("\t")
            yield f"{path}:{lineno}", number, sep, rest


def read_language(path):
    messages = {}
    for where, number, sep, text in numbered_lines(path):
        if not sep or not number.isdigit():
            sys.exit(f"{where}: expected NUMBER<TAB>TEXT")
        ident = int(number)
        if ident in messages:
            sys.exit(f"{where}: message {ident} given twice")
        messages[ident] = unescape(text, where)
    return messages


def load_all(files):
    languages = {}
    for path in files:
        lang = os.path.splitext(os.path.basename(path))[0]
        if lang not in BASES:
            sys.exit(f"{path}: unknown language '{lang}' (expected one of {sorted(BASES)})")
        languages[lang] = read_language(path)
    return languages


IDENTIFIER = re.compile(r"[A-Z][A-Za-z0-9]*")
# What the formatter takes: %s, %d, %u, %x, %X, and %% for a percent sign.
PLACEHOLDER = re.compile(r"%([sduxX%])")


def read_names(path, english):
    """The name of every English message: {identifier: name}."""
    names = {}
    for where, number, sep, name in numbered_lines(path):
        if not sep or not number.isdigit() or not IDENTIFIER.fullmatch(name):
            sys.exit(f"{where}: expected NUMBER<TAB>Name")
        ident = int(number)
        if ident not in english:
            sys.exit(f"{where}: no English message {ident}")
        if ident in names or name in names.values():
            sys.exit(f"{where}: message {ident} or name {name} given twice")
        names[ident] = name
    missing = sorted(set(english) - set(names))
    if missing:
        sys.exit(f"{path}: no name for message {', '.join(map(str, missing))}")
    return names


def argument_count(text):
    return sum(1 for m in PLACEHOLDER.finditer(text) if m.group(1) != "%")


def argument_counts(languages):
    """How many arguments each message takes; every language must agree."""
    counts = {ident: argument_count(text) for ident, text in languages["en"].items()}
    for lang, messages in languages.items():
        for ident, text in messages.items():
            if counts.get(ident, argument_count(text)) != argument_count(text):
                sys.exit(f"{lang}: message {ident} takes another number of arguments than in English")
    return counts


def write_names(path, names, counts):
    lines = ["// Generated from src/util/messages/names.txt and *.msg; do not edit.",
             "#pragma once", "", '#include "util/messageid.h"', "",
             "namespace corv {", "namespace msg {", ""]
    lines += [f"inline constexpr NamedMessage<{ident}, {counts[ident]}> k{name};"
              for ident, name in sorted(names.items())]
    lines += ["", "}  // namespace msg", "}  // namespace corv", ""]
    write_if_changed(path, "\n".join(lines))


def cpp_literal(text):
    out = ['u"']
    for ch in text:
        code = ord(ch)
        if ch == '"':
            out.append('\\"')
        elif ch == "\\":
            out.append("\\\\")
        elif 0x20 <= code < 0x7F:
            out.append(ch)
        elif code <= 0xFFFF:
            out.append(f"\\u{code:04x}")
        else:
            out.append(f"\\U{code:08x}")
    out.append('"')
    return "".join(out)


def rc_literal(text):
    out = ['L"']
    for ch in text:
        code = ord(ch)
        if ch == '"':
            out.append('""')
        elif ch == "\\":
            out.append("\\\\")
        elif 0x20 <= code < 0x7F:
            out.append(ch)
        else:
            units = ch.encode("utf-16-le")
            for k in range(0, len(units), 2):
                out.append(f"\\x{units[k] | (units[k + 1] << 8):04x}")
    out.append('"')
    return "".join(out)


def rows(languages, keep):
    result = []
    for lang, messages in languages.items():
        for ident, text in messages.items():
            number = ident - 1000
            if keep(number):
                result.append((BASES[lang] + number, text))
    result.sort()
    return result


def write_if_changed(path, content):
    try:
        with open(path, encoding="utf-8") as f:
            if f.read() == content:
                return
    except FileNotFoundError:
        pass
    with open(path, "w", encoding="utf-8") as f:
        f.write(content)


def write_rc(path, entries):
    lines = ["// Generated from src/util/messages/*.msg; do not edit.", "STRINGTABLE", "BEGIN"]
    lines += [f"  {ident} {rc_literal(text)}" for ident, text in entries]
    lines += ["END", ""]
    write_if_changed(path, "\n".join(lines))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--out", required=True)
    parser.add_argument("--names", required=True)
    parser.add_argument("files", nargs="+")
    args = parser.parse_args()
    languages = load_all(args.files)
    if "en" not in languages:
        sys.exit("genmessages: no English message table")
    names = read_names(args.names, languages["en"])
    os.makedirs(args.out, exist_ok=True)
    os.makedirs(os.path.join(args.out, "util"), exist_ok=True)
    write_names(os.path.join(args.out, "util", "messagenames.h"), names, argument_counts(languages))

    everything = rows(languages, lambda n: True)
    cpp = ["// Generated from src/util/messages/*.msg; do not edit.",
           '#include "util/messagetable.h"', "", "#include <algorithm>", "",
           "namespace corv {", "", "namespace {", "const MessageEntry kTable[] = {"]
    cpp += [f"    {{{ident}, {cpp_literal(text)}}}," for ident, text in everything]
    cpp += ["};", "}  // namespace", "",
            "const XChar* FindMessage(int id) {",
            "  const MessageEntry* end = kTable + sizeof kTable / sizeof kTable[0];",
            "  const MessageEntry* it = std::lower_bound(kTable, end, id,",
            "      [](const MessageEntry& e, int v) { return e.id < v; });",
            "  return it != end && it->id == id ? it->text : nullptr;",
            "}", "",
            "const MessageEntry* MessageTable(size_t* count) {",
            "  *count = sizeof kTable / sizeof kTable[0];",
            "  return kTable;",
            "}", "", "}  // namespace corv", ""]
    write_if_changed(os.path.join(args.out, "messagetable.cpp"), "\n".join(cpp))
    write_rc(os.path.join(args.out, "messages.rc"), rows(languages, lambda n: n < UI_FIRST))
    write_rc(os.path.join(args.out, "uimessages.rc"), rows(languages, lambda n: n >= UI_FIRST))


if __name__ == "__main__":
    main()
