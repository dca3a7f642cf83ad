#!/usr/bin/env python3
"""Writes the seed corpus of fuzz_journal: journals of interrupted
installations, good and bad.

Each seed is named after what it shows. Run from anywhere; it replaces the
folder corpus/fuzz_journal beside this script.
"""
import os
import shutil

HEADER = "corvantis journal 1\n"


def field(text):
    out = "="
    for b in text.encode("utf-8"):
        out += "%%%02X" % b if b <= 0x20 or b in (0x25, 0x7F) else chr(b)
    return out


def key(name, whole, values):
    parts = [field(name), "1" if whole else "0", str(len(values))]
    for vname, existed, vtype, data in values:
        parts += [field(vname), "1" if existed else "0", str(vtype), "=" + data.hex().upper()]
    return " ".join(parts)


PRODUCT = "HKEY_LOCAL_MACHINE\\Software\\My Vendor\\My Product"
ENV = "HKEY_CURRENT_USER\\Environment"

FULL = HEADER + "".join(line + "\n" for line in [
    "temp 0 " + field("C:\\TEMP\\InstTemp0\\xinstres.dll"),
    "log 1 " + field("C:\\Program Files\\My Product"),
    "saved " + field("C:\\Program Files\\My Product\\read me.txt") + " =saved0",
    "log 0 " + field("C:\\Program Files\\My Product\\read me.txt"),
    "key " + key(PRODUCT, True, [("InstallPath", True, 1, b"C:\\Old\0"), ("Count", True, 4, b"\1\0\0\0")]),
    "log 2 " + field(PRODUCT),
    "path " + field("C:\\Program Files\\My Product\\bin") + " 1 "
    + key(ENV, False, [("PATH", True, 2, b"C:\\bin\0")]),
    "log 4 " + field("C:\\Program Files\\My Product\\bin"),
    "path " + field("D:\\Tools") + " 0",
    "made " + field("C:\\autoexec.bat"),
    "log 3 " + field("My Service"),
])

SEEDS = {
    "good_every_line.journal": FULL,
    "good_header_only.journal": HEADER,
    "good_interrupted_last_line.journal": FULL + "log 0 =C:\\half",
    "good_missing_value.journal": HEADER + "key " + key(ENV, False, [("PATH", False, 0, b"")]) + "\n",
    "bad_empty.journal": "",
    "bad_header.journal": "corvantis journal 2\n" + FULL[len(HEADER):],
    "bad_unknown_line.journal": HEADER + "remove =C:\\Windows\n",
    "bad_copy_outside_folder.journal": HEADER + "saved =C:\\boot.ini =..\\..\\evil\n",
    "bad_copy_name_letters.journal": HEADER + "saved =C:\\boot.ini =savedX\n",
    "bad_record_kind.journal": HEADER + "log 5 =C:\\x\n",
    "bad_field_without_equals.journal": HEADER + "log 0 C:\\x\n",
    "bad_short_escape.journal": HEADER + "log 0 =C:%2\n",
    "bad_nul_in_text.journal": HEADER + "log 0 =C:%00x\n",
    "bad_value_count_too_large.journal": HEADER + "key " + field(PRODUCT) + " 1 99999999999\n",
    "bad_odd_hex.journal": HEADER + "key " + field(PRODUCT) + " 1 1 =x 1 1 =ABC\n",
    "bad_trailing_word.journal": HEADER + "made =C:\\x extra\n",
    # Found states kept beside install.log: key lines only, each whole.
    "found_state.journal": HEADER + "key =HKEY_CLASSES_ROOT\\.cvkeep 0 1 = 1 1 =56696374696D00\n"
                           "key " + field(PRODUCT) + " 0 1 =InstallPath 0 0 =\n",
    "bad_found_state_unfinished.journal": HEADER + "key " + field(PRODUCT) + " 0 0",
}


def main():
    folder = os.path.join(os.path.dirname(os.path.abspath(__file__)), "corpus", "fuzz_journal")
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(folder)
    for name, text in SEEDS.items():
        with open(os.path.join(folder, name), "wb") as f:
            f.write(text.encode("latin-1") if all(ord(c) < 256 for c in text) else text.encode("utf-8"))


if __name__ == "__main__":
    main()
