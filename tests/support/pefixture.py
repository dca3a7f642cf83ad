#!/usr/bin/env python3
"""Makes a binding fixture from a program the build linked:

    pefixture.py IN OUT [--overlay N] [--debug-behind]

--overlay N appends N bytes of a counting pattern behind the image (as the
package behind an installer's own program). --debug-behind also appends
debug data there and points a new debug directory entry at it (unmapped, by
file offset only, as linkers write COFF debug data at the end of a file);
the entry itself goes into the unused raw tail of the first section that has
room for it, whose virtual size then covers it.
"""
import argparse
import struct

SECTION = 40


def headers(data):
    nt = struct.unpack_from("<I", data, 0x3C)[0]
    assert data[nt:nt + 4] == b"PE\0\0"
    count, optional_size = struct.unpack_from("<H", data, nt + 6)[0], struct.unpack_from("<H", data, nt + 20)[0]
    return nt, nt + 24 + optional_size, count


def add_debug_behind(data):
    nt, table, count = headers(data)
    for index in range(count):
        at = table + SECTION * index
        name = data[at:at + 8]
        vsize, vaddr, raw_size, raw_pointer = struct.unpack_from("<IIII", data, at + 8)
        start = (vsize + 3) & ~3
        if name.rstrip(b"\0") != b".config" and raw_size >= start + 28:
            break
    else:
        raise SystemExit("no section with room for a debug directory entry")
    payload = b"RSDS" + bytes(range(16)) + struct.pack("<I", 1) + b"fixture.pdb\0"
    entry = struct.pack("<IIHHIIII", 0, 0, 0, 0, 2, len(payload), 0, len(data))
    data[raw_pointer + start:raw_pointer + start + 28] = entry
    # The section's mapped size covers the entry (still within its page).
    struct.pack_into("<I", data, at + 8, start + 28)
    struct.pack_into("<II", data, nt + 24 + 96 + 6 * 8, vaddr + start, 28)
    data += payload


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("input")
    parser.add_argument("output")
    parser.add_argument("--overlay", type=int, default=0)
    parser.add_argument("--debug-behind", action="store_true")
    args = parser.parse_args()
    with open(args.input, "rb") as f:
        data = bytearray(f.read())
    data += bytes(i * 7 & 0xFF for i in range(args.overlay))
    if args.debug_behind:
        add_debug_behind(data)
    with open(args.output, "wb") as f:
        f.write(data)


if __name__ == "__main__":
    main()
