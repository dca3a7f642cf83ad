#!/usr/bin/env python3
"""Writes the seed corpus of fuzz_installinfo: decoded install-info records,
good and bad.

The record is laid out here independently of the packager: a 224-byte
header, then the tables, then the strings (UTF-16LE, NUL-terminated). Each
seed is named after what it shows. Run from anywhere; it replaces the folder
corpus/fuzz_installinfo beside this script.
"""
import os
import shutil
import struct

HEADER_SIZE = 224
MAGIC = b"5II1"


class Record:
    """A record under construction: fields are patched into the header and
    the tables; strings are appended to a pool placed after the tables."""

    def __init__(self):
        self.fixed = bytearray(HEADER_SIZE)
        self.fixed[0:4] = MAGIC
        self.strings = []  # (field offset, text or None)
        self.empty_tables = []  # offset fields that get the record's length

    def u8(self, at, value):
        self.fixed[at] = value & 0xFF

    def u32(self, at, value):
        self.fixed[at:at + 4] = struct.pack("<I", value & 0xFFFFFFFF)

    def u64(self, at, value):
        self.fixed[at:at + 8] = struct.pack("<Q", value & 0xFFFFFFFFFFFFFFFF)

    def string(self, at, text):
        if text is not None:
            self.strings.append((at, text))

    def table(self, count_at, offset_at, count, entry_size):
        self.u32(count_at, count)
        if count == 0:
            self.empty_tables.append(offset_at)
            return None
        start = len(self.fixed)
        self.fixed += bytes(count * entry_size)
        self.u32(offset_at, start)
        return start

    def bytes(self):
        out = bytearray(self.fixed)
        placed = {}
        for at, text in self.strings:
            if text not in placed:
                placed[text] = len(out)
                out += text.encode("utf-16-le", "surrogatepass") + b"\0\0"
            out[at:at + 4] = struct.pack("<I", placed[text])
        for at in self.empty_tables:
            out[at:at + 4] = struct.pack("<I", len(out))
        return bytes(out)


def block(rec, at, entries, offset=4096, length=100):
    table = rec.table(at, at + 32, len(entries), 16)
    rec.u64(at + 8, offset)
    rec.u64(at + 16, length)
    rec.u64(at + 24, sum(size for _, _, size in entries if size != -1))
    for i, (name, time, size) in enumerate(entries):
        e = table + 16 * i
        rec.string(e, name)
        rec.u32(e + 4, time)
        rec.u64(e + 8, size)


def string_table(rec, at, texts):
    table = rec.table(at, at + 4, len(texts), 4)
    for i, text in enumerate(texts):
        rec.string(table + 4 * i, text)


def record(kind=1, language=1, base=2, overwrite=4, no_jre=1, strings=None, main=(), aux=(),
           shortcuts=(), associations=(), services=(), markers=(), jre=None, entry=None):
    rec = Record()
    if entry is not None:
        # The extension: flag in byte 15, 16 bytes right after the header
        # (icon, version, publisher, estimated size in KiB).
        icon, version, publisher, size = entry
        rec.u8(15, 1)
        rec.fixed += bytes(16)
        for off, text in ((0, icon), (4, version), (8, publisher)):
            rec.string(HEADER_SIZE + off, text)
        rec.u32(HEADER_SIZE + 12, size)
    for at, value in ((4, kind), (5, 4), (6, 0), (7, overwrite), (8, base), (9, no_jre), (11, language)):
        rec.u8(at, value)
    fields = {96: "Corvantis Demo", 108: "Corvantis\\Demo", 148: "Corvantis Demo", 152: "Corvantis Demo"}
    fields.update(strings or {})
    for at, text in fields.items():
        rec.string(at, text)
    block(rec, 16, list(aux))
    block(rec, 56, list(main), offset=1000)
    if no_jre == 0 and jre is not None:
        version, value, names, groups = jre
        rec.string(164, version)
        rec.u32(168, value)
        string_table(rec, 172, names)
        gt = rec.table(180, 184, len(groups), 12)
        for i, (flag, checks) in enumerate(groups):
            g = gt + 12 * i
            rec.u8(g, flag)
            ct = rec.table(g + 4, g + 8, len(checks), 16)
            for k, (path, size) in enumerate(checks):
                rec.string(ct + 16 * k, path)
                rec.u64(ct + 16 * k + 8, size)
    else:
        rec.table(172, 176, 0, 4)
        rec.table(180, 184, 0, 12)
    st = rec.table(188, 192, len(shortcuts), 28)
    for i, (location, name, icon, index, folder, target, args) in enumerate(shortcuts):
        e = st + 28 * i
        rec.u32(e, location)
        for off, text in ((4, name), (8, icon), (16, folder), (20, target), (24, args)):
            rec.string(e + off, text)
        rec.u32(e + 12, index)
    at = rec.table(196, 200, len(associations), 24)
    for i, (ext, label, desc, program, args, selected) in enumerate(associations):
        e = at + 24 * i
        for off, text in ((0, ext), (4, label), (8, desc), (12, program), (16, args)):
            rec.string(e + off, text)
        rec.u8(e + 20, selected)
    sv = rec.table(204, 208, len(services), 24)
    for i, (exe, display, desc, start, account, interactive, deps) in enumerate(services):
        e = sv + 24 * i
        for off, text in ((0, exe), (4, display), (8, desc)):
            rec.string(e + off, text)
        rec.u8(e + 12, start)
        rec.u8(e + 13, account)
        rec.u8(e + 14, interactive)
        string_table(rec, e + 16, deps)
    string_table(rec, 212, list(markers))
    return rec.bytes()


MAIN = [("bin", 0, -1), ("bin\\demo.exe", 1600000000, 4096), ("bin\\empty.txt", 1600000001, 0),
        ("read me.txt", 1600000002, 12)]
AUX = [("xbind.script", 1500000000, 300), ("xinstres.dll", 1500000001, 90000), ("shfolder.dll", 1500000002, 4000)]
SHORTCUTS = [(0, "Demo", "bin\\demo.exe", 0, "bin", "bin\\demo.exe", "-root \"$(Root)\""),
             (1, "Demo", None, -1, "", "bin\\demo.exe", ""),
             (2, "Tools\\Demo", None, 0, "bin", "bin\\demo.exe", ""),
             (3, "Demo Agent", None, 0, "bin", "bin\\demo.exe", "/agent")]
ASSOCIATIONS = [("dmo", "Demo files", "Demo.File", "bin\\demo.exe", "\"%1\"", 1),
                ("dmb", "Demo backups", "Demo.Backup", "bin\\demo.exe", "", 0)]
SERVICES = [("bin\\svc.exe", "Demo Service", "Serves demos", 1, 1, 1, ["Tcpip", "EventLog"]),
            ("bin\\svc2.exe", "Demo Helper", "Helps", 3, 2, 0, [])]
JRE = ("1.4.2_05", 0xDEADBEEF, ["Java 2 Runtime"],
       [(1, [("bin\\java.exe", 24576), ("lib\\rt.jar", 25000000), ("bin\\old.dll", -1)]), (0, [])])
EVERY_STRING = {96: "Demo Suite", 100: "Demo", 104: "Demo Base", 108: "Vendor\\Demo",
                112: "Terms\r\nMore terms", 116: "wizard.bmp", 120: "bin\\uninstall.exe", 124: "hooks.dll",
                128: "bin\\demo.exe", 132: "bin\\setup.exe", 136: "/quiet $(Root)", 140: "bin\\demo.exe",
                144: "", 148: "C:\\Demo", 152: "Demo", 156: "bin\\demo.exe", 160: "bin"}


def patched(data, at, value, size=4):
    out = bytearray(data)
    out[at:at + size] = value.to_bytes(size, "little")
    return bytes(out)


def seeds():
    full = record(kind=2, language=5, base=3, overwrite=3, no_jre=0, strings=EVERY_STRING, main=MAIN, aux=AUX,
                  shortcuts=SHORTCUTS, associations=ASSOCIATIONS, services=SERVICES,
                  markers=["bin\\demo.exe", "base.cfg"], jre=JRE)
    minimal = record(main=MAIN[1:2])
    out = {
        # Records the reader takes.
        "good_minimal": minimal,
        "good_every_field": full,
        "good_empty": record(strings={96: None, 108: None, 148: None, 152: None}),
        "good_unicode_names": record(strings={96: "\u00c9t\u00e9 \u65e5\u672c"},
                                     main=[("\u00e9t\u00e9", 0, -1), ("\u00e9t\u00e9\\\u65e5\u672c.txt", 1, 3)]),
        "good_no_jre_garbage_in_jre_fields": patched(patched(full, 9, 1, 1), 180, 0xFFFFFFFF),
        "good_empty_tables_anywhere": patched(patched(minimal, 192, 0xFFFFFFF0), 212 + 4, 7),
        "good_odd_string_offset": patched(minimal + b"\0x\0\0\0", 100, len(minimal) + 1),
        "good_system_drive_base": record(base=1, overwrite=1),
        # Records with values the installer asserts on when they are used.
        "good_kind_three": record(kind=3),
        "good_unknown_base_with_destination": record(base=7),
        "good_program_without_arguments": record(strings={140: "bin\\demo.exe"}),
        "good_uninstall_entry_details": record(main=MAIN, entry=("bin\\demo.exe", "1.0", "Demo Corp.", 42)),
        "good_uninstall_entry_details_partial": record(entry=(None, "1.0", None, 0)),
        # Records the reader refuses.
        "bad_magic": b"5II2" + minimal[4:],
        "bad_short_header": minimal[:HEADER_SIZE - 1],
        "bad_three_bytes": MAGIC[:3],
        "bad_string_offset_past_end": patched(minimal, 96, len(minimal)),
        "bad_string_without_nul": minimal[:-2] + b"x\0",
        "bad_table_count_overflow": patched(full, 188, 0xFFFFFFFF),
        "bad_table_past_end": patched(patched(minimal, 196, 1), 200, len(minimal) - 8),
        "bad_block_entries_past_end": patched(minimal, 56, 0x10000000),
        "bad_last_string_cut": full[:-1],
        "bad_main_name_traversal": record(main=[("..\\..\\evil.exe", 0, 2)]),
        "bad_main_name_absolute": record(main=[("\\evil.exe", 0, 2)]),
        "bad_aux_name_drive": record(aux=[("C:evil.dll", 0, 2)]),
        "bad_main_name_device": record(main=[("bin\\nul.txt", 0, 2)]),
        "bad_shortcut_name_traversal": record(shortcuts=[(1, "..\\..\\x", None, 0, "", "a.exe", "")]),
        "bad_uninstaller_traversal": record(strings={120: "..\\uninstall.exe"}),
        "bad_entry_icon_traversal": record(entry=("..\\..\\evil.ico", None, None, 0)),
        "bad_entry_details_past_end": patched(b"".join([MAGIC, bytes(HEADER_SIZE - 4)]), 15, 1, 1),
        "bad_shared_strings": record(associations=[("x" * 600,) * 5 + (1,)] * 600),
    }
    return out


def main():
    folder = os.path.join(os.path.dirname(os.path.abspath(__file__)), "corpus", "fuzz_installinfo")
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(folder)
    for name, data in sorted(seeds().items()):
        with open(os.path.join(folder, name + ".bin"), "wb") as f:
            f.write(data)


if __name__ == "__main__":
    main()
