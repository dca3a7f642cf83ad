#!/usr/bin/env python3
"""Writes the seed corpora of fuzz_bindscript and fuzz_petoolkit.

fuzz_bindscript: bind scripts as UTF-16LE bytes, good ones and each kind of
statement the reader refuses. fuzz_petoolkit: small PE32 images with a
".config" section in each place the toolkit treats differently, and images
broken in each way it must refuse. Each seed is named after what it shows.
Run from anywhere; it replaces the folders corpus/fuzz_bindscript and
corpus/fuzz_petoolkit beside this script.
"""
import os
import shutil
import struct

GOOD_SCRIPT = (
    "# the product's executables\r\n"
    "ROOT Root\r\n"
    "  COMPONENT bin\\app.exe\r\n"
    '    DLL "TOOL.DLL" = "$(Root)\\lib\\tool.dll"\r\n'
    "    JRE $(JRE)\r\n"
    "    KORVMPROP 'user.dir=$(Root)\\n\\'x\\' \\\\ \\q'\r\n"
    "  COMPONENT lib\\tool.dll APPEND\r\n"
    "    KORVMPROP \"a=b c\"\r\n"
    "ROOT JRE\r\n"
)

SCRIPTS = {
    "good_typical": GOOD_SCRIPT,
    "good_lf_and_cr": GOOD_SCRIPT.replace("\r\n", "\n").replace("ROOT JRE\n", "ROOT JRE\r"),
    "good_references": "ROOT Root\nCOMPONENT a\\b\\c.exe\nKORVMPROP $$(Root)$(JRE)$(Other)$(\nROOT JRE\nCOMPONENT x.dll\n"
                       "JRE $(Root)\nROOT Other\nCOMPONENT ..\\up.exe\nJRE $(Other)$(Root)\n",
    "good_nul_ends_text": "ROOT Root\n\0COMPONENT",
    "bad_component_before_root": "COMPONENT app.exe\n",
    "bad_duplicate_root": "ROOT Root\nROOT Root\n",
    "bad_unknown_keyword": "ROOT Root\n  BIND x\n",
    "bad_indented_comment": "ROOT Root\n  # no comment\n",
    "bad_second_token": "ROOT Root\nCOMPONENT a.exe ADD\n",
    "bad_item_without_component": "ROOT Root\nKORVMPROP 'x'\n",
    "bad_missing_operand": "ROOT Root\nCOMPONENT a.exe\nDLL \"X.DLL\"\n",
    "bad_unterminated_double": "ROOT Root\nCOMPONENT a.exe\nJRE \"C:\\Java\n",
    "bad_unterminated_single": "ROOT Root\nCOMPONENT a.exe\nJRE 'abc\\'\n",
    "bad_only_comments": "# one\r\n# two\r\n",
    "bad_empty": "",
}


def script_bytes(text):
    return text.encode("utf-16-le")


FILE_ALIGNMENT = 0x200
SECTION_ALIGNMENT = 0x1000


def align(value, unit):
    return (value + unit - 1) // unit * unit


def block(entries, count=None):
    """A property block: magic, version 2, four carried words, entries."""
    out = struct.pack("<6I", 0x00425043, 2, 1, 2, 3, 4)
    out += struct.pack("<I", len(entries) if count is None else count)
    for ident, data in entries:
        out += struct.pack("<II", ident, len(data)) + data
    return out


def string(text):
    data = text.encode("latin-1") + b"\0"
    return data + b"\0" * (align(len(data), 4) - len(data))


def pe(sections, overlay=b"", debug=None, file_alignment=FILE_ALIGNMENT, lfanew=0x80, nsections=None):
    """A PE32 image: sections as (name, data, raw size); `debug` puts
    debug entries at the start of section 0 whose data lies at the given
    overlay offsets."""
    header_end = lfanew + 248 + 40 * len(sections)
    raw = align(header_end, FILE_ALIGNMENT)
    virt = SECTION_ALIGNMENT
    table = b""
    body = b""
    placed = []
    for name, data, raw_size in sections:
        raw_size = raw_size or align(len(data), FILE_ALIGNMENT)
        vsize = max(len(data), 1)
        table += struct.pack("<8sIIIIIIHHI", name.encode(), vsize, virt, raw_size, raw, 0, 0, 0, 0, 0x40000040)
        placed.append((raw, virt))
        body += (data + b"\0" * raw_size)[:raw_size]
        raw += raw_size
        virt += align(vsize, SECTION_ALIGNMENT)
    overlay_offset = raw
    debug_dir = (0, 0)
    if debug:
        entries = b"".join(struct.pack("<IIHHIIII", 0, 0, 0, 0, 2, size, address, overlay_offset + offset)
                           for offset, size, address in debug)
        body = entries + body[len(entries):]
        debug_dir = (placed[0][1], len(entries))
    file_header = struct.pack("<HHIIIHH", 0x14C, len(sections) if nsections is None else nsections, 0, 0, 0, 224,
                              0x0102)
    optional = struct.pack("<HBBIIIIIIIIIHHHHHHIIIIHHIIIIII", 0x10B, 2, 30, 0, 0, 0, 0x1000, 0x1000, 0x2000,
                           0x400000, SECTION_ALIGNMENT, file_alignment, 4, 0, 0, 0, 4, 0, 0, virt,
                           align(header_end, FILE_ALIGNMENT), 0x12345678, 3, 0, 0x100000, 0x1000, 0x100000,
                           0x1000, 0, 16)
    directories = b""
    for index in range(16):
        directories += struct.pack("<II", *(debug_dir if index == 6 else (0, 0)))
    dos = bytearray(lfanew)
    dos[0:2] = b"MZ"
    dos[0x3C:0x40] = struct.pack("<I", lfanew)
    dos[0x40:0x67] = b"This program cannot be run in DOS mode."
    headers = bytes(dos) + b"PE\0\0" + file_header + optional + directories + table
    headers += b"\0" * (align(header_end, FILE_ALIGNMENT) - len(headers))
    return headers + body + overlay


TEXT = (".text", bytes(range(256)) * 2, 0)
RDATA = (".rdata", b"\0" * 0x100, 0)
CONFIG = (".config", block([(11, string("CorvService")), (5, string("old=1")), (16, string("C:\\Old"))]), 0)
FULL_CONFIG = (".config", block([(7, string("r" * (0x200 - 28 - 8 - 1)))]), 0)
OVERLAY = bytes((i * 7) & 0xFF for i in range(0x900))

IMAGES = {
    "good_config_last_with_overlay": pe([TEXT, RDATA, CONFIG], OVERLAY),
    "good_config_not_last": pe([TEXT, CONFIG, (".reloc", b"\1" * 0x40, 0)]),
    "good_debug_behind_config": pe([RDATA, TEXT, CONFIG], OVERLAY, debug=[(0x10, 0x20, 0), (0x800, 0x40, 0)]),
    "good_full_config_last": pe([TEXT, FULL_CONFIG]),
    "good_full_config_not_last": pe([FULL_CONFIG, TEXT]),
    "good_identifier_zero_and_unknown": pe([TEXT, (".config", block([(99, string("x")), (0, b"")]), 0)]),
    "bad_no_config": pe([TEXT, RDATA]),
    "bad_not_pe": b"MZ" + b"\0" * 62 + b"just text, no PE headers",
    "bad_text_file": b"hello, world\n",
    "bad_lfanew_beyond": pe([TEXT, CONFIG])[:0x3C] + struct.pack("<I", 0x7FFFFFF0) + b"\0" * 0x40,
    "bad_huge_section_count": pe([TEXT, CONFIG], nsections=0xFFFF),
    "bad_config_magic": pe([TEXT, (".config", b"XPB\0" + b"\0" * 60, 0)]),
    "bad_config_short": pe([TEXT, (".config", block([])[:20], 20)]),
    "bad_block_count_huge": pe([TEXT, (".config", block([(16, string("C:\\J"))], count=0xFFFFFFFF), 0)]),
    "bad_entry_length_huge": pe([TEXT, (".config", block([(16, b"\0" * 8)])[:-8] + b"\xff" * 8, 0)]),
    "bad_zero_file_alignment": pe([TEXT, (".config", block([]), 0x20)], file_alignment=0),
    "bad_mapped_debug_behind": pe([RDATA, TEXT, CONFIG], OVERLAY, debug=[(0, 0x10, 0x5000)]),
}


def bad_raw_beyond(image):
    """.config's raw size far beyond the end of the file."""
    data = bytearray(image)
    table = 0x80 + 248
    for index in range(data[0x86] | data[0x87] << 8):
        at = table + 40 * index
        if data[at:at + 8] == b".config\0":
            data[at + 16:at + 20] = struct.pack("<I", 0x7FFFFE00)
    return bytes(data)


IMAGES["bad_config_raw_beyond_file"] = bad_raw_beyond(IMAGES["good_config_last_with_overlay"])


def bad_debug_beyond(image):
    """Debug entries said to fill 3.75 GiB of a first section that lies
    behind the end of the file."""
    data = bytearray(image)
    table = 0x80 + 248
    data[table + 16:table + 24] = struct.pack("<II", 0xFFFF0000, 0x10000)
    debug_size = 0x80 + 24 + 96 + 6 * 8 + 4
    data[debug_size:debug_size + 4] = struct.pack("<I", 0xF0000000)
    return bytes(data)


IMAGES["bad_debug_beyond_file"] = bad_debug_beyond(IMAGES["good_debug_behind_config"])


def write(folder, seeds, suffix):
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(folder)
    for name, data in sorted(seeds.items()):
        with open(os.path.join(folder, name + suffix), "wb") as f:
            f.write(data)
    print(f"{len(seeds)} seeds in {os.path.relpath(folder)}")


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    scripts = {name: script_bytes(text) for name, text in SCRIPTS.items()}
    scripts["good_odd_last_byte"] = script_bytes(GOOD_SCRIPT) + b"\x41"
    write(os.path.join(here, "corpus", "fuzz_bindscript"), scripts, ".script")
    write(os.path.join(here, "corpus", "fuzz_petoolkit"), IMAGES, ".exe")


if __name__ == "__main__":
    main()
