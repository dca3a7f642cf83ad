#!/usr/bin/env python3
"""Generates the dialog templates of the UI resource library, one set for
every language, from src/xinstres/dialogs.rc.in and the message tables.

In the template, @Name@ stands for the language's text of the message of
that name (src/util/messages/names.txt), @WORD@ for one of the words below
that only the templates use, and @LANGUAGE@, @FONT@ and @FONTSTYLE@ for the
language's resource language, dialog font and font style. Texts are written as escaped UTF-16 literals, so
the resource compiler's code page does not matter.

Usage: genuiresources.py --template dialogs.rc.in --out dialogs.rc --names names.txt en.msg de.msg ...
"""
import argparse
import os
import re
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from genmessages import load_all, rc_literal, read_names, write_if_changed  # noqa: E402

# "MS Shell Dlg" is the system's dialog font, mapped to a font of the
# system's script (Tahoma under Wine, which covers Latin and Cyrillic).
# Japanese dialogs name the Japanese UI font and its character set, so that
# a font with Japanese glyphs is chosen where that font is missing (under
# Wine, with a Japanese code page, a Japanese font of the system).
SHELL_FONT = ('8, "MS Shell Dlg", 0, 0, 0x1', "DS_SHELLFONT")
LANGUAGES = {
    "en": ("LANG_ENGLISH, SUBLANG_ENGLISH_US", SHELL_FONT),
    "de": ("LANG_GERMAN, SUBLANG_GERMAN", SHELL_FONT),
    "ru": ("LANG_RUSSIAN, SUBLANG_DEFAULT", SHELL_FONT),
    "fr": ("LANG_FRENCH, SUBLANG_FRENCH", SHELL_FONT),
    "ja": ("LANG_JAPANESE, SUBLANG_DEFAULT", ('9, "MS UI Gothic", 0, 0, 0x80', "DS_SETFONT")),
}
# The overwrite prompt's buttons, which the program does not label.
WORDS = {
    "en": {"YES": "&Yes", "YES_ALL": "Yes to &All", "NO": "&No"},
    "de": {"YES": "&Ja", "YES_ALL": "Ja, &alle", "NO": "&Nein"},
    "ru": {"YES": "&Да", "YES_ALL": "Да для &всех", "NO": "&Нет"},
    "fr": {"YES": "&Oui", "YES_ALL": "Oui pour &tout", "NO": "&Non"},
    "ja": {"YES": "はい(&Y)", "YES_ALL": "すべてはい(&A)", "NO": "いいえ(&N)"},
}
PLACEHOLDER = re.compile(r"@([A-Za-z_0-9]+)@")


def expand(template, lang, messages, numbers):
    language, (font, font_style) = LANGUAGES[lang]
    fixed = {"LANGUAGE": language, "FONT": font, "FONTSTYLE": font_style}

    def replace(match):
        key = match.group(1)
        if key in fixed:
            return fixed[key]
        if key in WORDS[lang]:
            return rc_literal(WORDS[lang][key])
        if key in numbers and numbers[key] in messages:
            return rc_literal(messages[numbers[key]])
        sys.exit(f"genuiresources: {lang}: no text for @{key}@")

    return PLACEHOLDER.sub(replace, template)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--template", required=True)
    parser.add_argument("--out", required=True)
    parser.add_argument("--names", required=True)
    parser.add_argument("files", nargs="+")
    args = parser.parse_args()
    languages = load_all(args.files)
    if "en" not in languages:
        sys.exit("genuiresources: no English message table")
    numbers = {name: ident for ident, name in read_names(args.names, languages["en"]).items()}
    missing = sorted(set(LANGUAGES) - set(languages))
    if missing:
        sys.exit(f"genuiresources: no message table for {', '.join(missing)}")
    with open(args.template, encoding="utf-8") as f:
        template = f.read()
    parts = ["// Generated from src/xinstres/dialogs.rc.in and src/util/messages/*.msg; do not edit."]
    for lang in LANGUAGES:
        parts.append(f"\n// ---- {lang} ----\n" + expand(template, lang, languages[lang], numbers))
    write_if_changed(args.out, "\n".join(parts))


if __name__ == "__main__":
    main()
