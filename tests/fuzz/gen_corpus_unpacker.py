#!/usr/bin/env python3
"""Writes the seed corpora of the unpacker's fuzz targets.

  corpus/fuzz_decompress: package blocks, good and damaged
  corpus/fuzz_container:  installer files (image, blocks, trailer), good
                          and damaged

A block is a 13-byte header (decoded size as signed 64-bit, LZMA properties
byte, dictionary size as unsigned 32-bit, little-endian) and raw LZMA1 data
of the bytes put through the x86 branch converter. Run from anywhere; the
output is the same on every run with the same liblzma.
"""
import lzma
import os
import random
import shutil
import struct
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
MAGIC = b"5II1"


def props_byte(lc, lp, pb):
    return (pb * 5 + lp) * 9 + lc


def raw(data, x86=True, dictionary=1 << 16, lc=3, lp=0, pb=2):
    filters = []
    if x86:
        filters.append({"id": lzma.FILTER_X86})
    filters.append({"id": lzma.FILTER_LZMA1, "preset": 0, "dict_size": dictionary,
                    "lc": lc, "lp": lp, "pb": pb})
    return lzma.compress(data, format=lzma.FORMAT_RAW, filters=filters)


def header(size, props=0x5D, dictionary=1 << 16):
    return struct.pack("<qBI", size, props, dictionary)


def block(data, size=None, **kw):
    dictionary = kw.get("dictionary", 1 << 16)
    props = props_byte(kw.get("lc", 3), kw.get("lp", 0), kw.get("pb", 2))
    return header(len(data) if size is None else size, props, dictionary) + raw(data, **kw)


def code_like(n, seed):
    """Bytes with many call and jump opcodes, near and far operands."""
    rnd = random.Random(seed)
    out = bytearray()
    while len(out) < n:
        kind = rnd.randrange(6)
        if kind == 0:
            out += bytes([0xE8]) + struct.pack("<i", rnd.randrange(-5000, 5000))
        elif kind == 1:
            out += bytes([0xE9]) + struct.pack("<I", rnd.randrange(1 << 32))
        elif kind == 2:
            out += bytes([0xE8, 0xE8, 0xE9, 0x00, 0xFF])
        else:
            out += bytes(rnd.randrange(256) for _ in range(rnd.randrange(1, 8)))
    return bytes(out[:n])


def text(n):
    line = b"The installer writes every file in the order of its table.\r\n"
    return (line * (n // len(line) + 1))[:n]


def noise(n, seed):
    rnd = random.Random(seed)
    return bytes(rnd.randrange(256) for _ in range(n))


def write(folder, items):
    path = os.path.join(HERE, "corpus", folder)
    shutil.rmtree(path, ignore_errors=True)
    os.makedirs(path)
    for name, data in items:
        with open(os.path.join(path, name), "wb") as f:
            f.write(data)


def decompress_corpus():
    code = code_like(3000, 1)
    good = block(code)
    items = [
        ("code", good),
        ("text", block(text(5000))),
        ("noise", block(noise(700, 2))),
        ("empty", block(b"")),
        ("tiny", block(b"\xE8\x01\x02")),
        ("lclppb", block(code, lc=0, lp=4, pb=4)),
        ("dict-zero", header(len(code), 0x5D, 0) + raw(code, dictionary=4096)),
        ("unfiltered-4gib", block(code, size=0xFFFFFFFF, x86=False)),
        ("end-marker-early", block(code, size=len(code) + 1000)),
        ("negative-size", block(code, size=-1)),
        ("props-225", good[:8] + bytes([225]) + good[9:]),
        ("props-lc-lp", good[:8] + bytes([props_byte(4, 1, 0)]) + good[9:]),
        ("truncated", good[: len(good) // 2]),
        ("short-header", good[:9]),
        ("first-byte", good[:13] + b"\xFF" + good[14:]),
    ]
    write("fuzz_decompress", items)


def installer(record, record_size=None, record_first=False, offset_delta=0, length_delta=0, magic=MAGIC):
    image = b"MZ" + noise(1022, 3)
    main = block(code_like(2000, 4))
    aux = block(text(300))
    rec = block(record)
    if record_first:
        offset = len(image)
        body = image + rec + b"\xCC" * 9 + main + aux
    else:
        offset = len(image) + len(main) + len(aux)
        body = image + main + aux + rec
    size = len(record) if record_size is None else record_size
    trailer = magic + struct.pack("<IQQ", len(rec) + length_delta, offset + offset_delta, size)
    return body + trailer


def signed(installer_bytes, padding=4):
    """The installer with an Authenticode-style certificate table behind it,
    named by the PE security directory of a minimal PE32 header."""
    data = bytearray(installer_bytes + b"\0" * padding)
    table = len(data)
    data += noise(600, 6)
    struct.pack_into("<I", data, 0x3C, 0x80)
    data[0x80:0x84] = b"PE\0\0"
    struct.pack_into("<H", data, 0x80 + 20, 224)
    struct.pack_into("<H", data, 0x80 + 24, 0x10B)
    struct.pack_into("<II", data, 0x80 + 24 + 128, table, 600)
    return bytes(data)


def checksummed(record):
    """The record with its CRC-32 at offset 220 (taken with that word as 0)."""
    record = record[:220] + b"\0" * 4 + record[224:]
    return record[:220] + struct.pack("<I", zlib.crc32(record)) + record[224:]


def container_corpus():
    record = MAGIC + struct.pack("<I", 224) + noise(300, 5)
    items = [
        ("good", installer(record)),
        ("record-first", installer(record, record_first=True)),
        ("big-capacity", installer(record, record_size=(7 << 32) + 5000)),
        ("small-capacity", installer(record, record_size=10)),
        ("no-record-magic", installer(b"XII1" + record[4:])),
        ("empty-record", installer(b"")),
        ("bad-trailer-magic", installer(record, magic=b"5II2")),
        ("offset-beyond", installer(record, offset_delta=1 << 20)),
        ("length-short", installer(record, length_delta=-30)),
        ("short-file", b"5II1" + b"\0" * 10),
        ("checksummed", installer(checksummed(record))),
        ("signed", signed(installer(checksummed(record)))),
    ]
    write("fuzz_container", items)


if __name__ == "__main__":
    decompress_corpus()
    container_corpus()
