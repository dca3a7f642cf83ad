#!/usr/bin/env python3
"""Writes the seed corpus of fuzz_stubresources: small PE32 images whose
resource section is last (which corvpack rebuilds), images it must refuse
(resources not last, data behind the image, a directory that loops or
points outside its section), and icon files good and bad. Each seed is
named after what it shows. Run from anywhere; it replaces the folder
corpus/fuzz_stubresources beside this script.
"""
import os
import struct

from gen_corpus_xbind import SECTION_ALIGNMENT, TEXT, align, pe, write

HIGH = 0x80000000
MANIFEST = b'<assembly xmlns="urn:schemas-microsoft-com:asm.v1" manifestVersion="1.0"/>'
STRINGS = b"".join(struct.pack("<H", len(t)) + t.encode("utf-16-le") for t in ["", "Usage", "", "OK"] + [""] * 12)


def directory(entries):
    named = sum(1 for name, _ in entries if name & HIGH)
    return struct.pack("<IIHHHH", 0, 0, 0, 0, named, len(entries) - named) + b"".join(
        struct.pack("<II", name, target) for name, target in entries)


def resource_tree(items, rva):
    """A resource directory for `rva` holding items (type, name, data),
    language 0x409; a type may be a string. Each type once."""
    n = len(items)
    strings_at = 16 + 8 * n + 48 * n
    strings, offsets = b"", {}
    for kind, _, _ in items:
        if isinstance(kind, str):
            offsets[kind] = strings_at + len(strings)
            strings += struct.pack("<H", len(kind)) + kind.encode("utf-16-le")
    entries_at = align(strings_at + len(strings), 4)
    data_at = entries_at + 16 * n
    root, dirs, entries, data = [], b"", b"", b""
    for i, (kind, name, payload) in enumerate(items):
        type_dir = 16 + 8 * n + 48 * i
        root.append((HIGH | offsets[kind] if isinstance(kind, str) else kind, HIGH | type_dir))
        dirs += directory([(name, HIGH | (type_dir + 24))]) + directory([(0x409, entries_at + 16 * i)])
        entries += struct.pack("<IIII", rva + data_at + len(data), len(payload), 0, 0)
        data += payload + b"\0" * (align(len(payload), 8) - len(payload))
    head = directory(root) + dirs + strings
    return head + b"\0" * (entries_at - len(head)) + entries + data


def stub(items, first=(TEXT,), then=(), overlay=b"", tree=None):
    """An image of the sections `first`, ".rsrc" with `items` and the
    sections `then`, the resource data directory pointing at ".rsrc"."""
    rva = SECTION_ALIGNMENT * (1 + len(first))
    rsrc = (".rsrc", tree if tree is not None else resource_tree(items, rva), 0)
    image = bytearray(pe(list(first) + [rsrc] + list(then), overlay))
    struct.pack_into("<II", image, 0x80 + 24 + 96 + 8 * 2, rva, len(rsrc[1]))
    return bytes(image)


def icon(images, kind=1):
    """An .ico file of (size, image bytes)."""
    out = struct.pack("<HHH", 0, kind, len(images))
    offset = 6 + 16 * len(images)
    for size, data in images:
        out += struct.pack("<BBBBHHII", size, size, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    return out + b"".join(data for _, data in images)


def dib(size):
    """A 32-bit icon image of size x size pixels: header, colours, mask."""
    mask = size * ((size + 31) // 32 * 4)
    header = struct.pack("<IiiHHIIiiII", 40, size, 2 * size, 1, 32, 0, size * size * 4 + mask, 0, 0, 0, 0)
    return header + b"\xc8\x5a\x28\xff" * (size * size) + b"\0" * mask


DIB = dib(2)
PNG = b"\x89PNG\r\n\x1a\n" + b"\0" * 24
TYPICAL = [(6, 1, STRINGS), (24, 1, MANIFEST)]
LOOP = directory([(6, HIGH)])  # the type's names are the root itself

SEEDS = {
    "good_strings_and_manifest": stub(TYPICAL),
    "good_named_type_and_old_version": stub([("MUI", 1, b"mui"), (16, 1, b"\0" * 92)] + TYPICAL),
    "good_resources_after_reloc": stub(TYPICAL, first=(TEXT, (".reloc", b"\1" * 0x40, 0))),
    "good_icon_dib_and_png": icon([(2, DIB), (0, PNG)]),
    # The end-to-end test's icon, as Explorer would show it.
    "good_icon_32_and_16": icon([(32, dib(32)), (16, dib(16))]),
    "bad_resources_not_last": stub(TYPICAL, then=(TEXT,)),
    "bad_signature_behind_image": stub(TYPICAL, overlay=b"\0" * 0x200),
    "bad_directory_loop": stub([], tree=LOOP),
    "bad_data_outside_section": stub([], tree=resource_tree([(6, 1, STRINGS)], 0x7FFF0000)),
    "bad_no_resources": pe([TEXT]),
    "bad_icon_cursor": icon([(2, DIB)], kind=2),
    "bad_icon_image_outside": icon([(2, DIB)])[:-8],
    "bad_icon_neither_dib_nor_png": icon([(2, b"GIF89a" + b"\0" * 20)]),
}


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    write(os.path.join(here, "corpus", "fuzz_stubresources"), SEEDS, ".bin")


if __name__ == "__main__":
    main()
