"""Reads the resources of a PE file: dialog templates, string tables, icon
groups and bitmaps, as the window system finds them."""
import struct

RT_BITMAP, RT_ICON, RT_DIALOG, RT_STRING, RT_GROUP_ICON = 2, 3, 5, 6, 14
DS_SETFONT = 0x40


def resources(data):
    """{(type, id, language): bytes} of every resource with numeric type and id."""
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    assert data[pe:pe + 4] == b"PE\0\0"
    sections, optional_size = struct.unpack_from("<H12xH", data, pe + 6)
    optional = pe + 24
    assert struct.unpack_from("<H", data, optional)[0] == 0x10B, "not a PE32 image"
    resource_rva = struct.unpack_from("<I", data, optional + 96 + 2 * 8)[0]
    table = []
    for i in range(sections):
        _, vsize, va, raw_size, raw = struct.unpack_from("<8sIIII", data, optional + optional_size + 40 * i)
        table.append((va, max(vsize, raw_size), raw))

    def offset(rva):
        for va, size, raw in table:
            if va <= rva < va + size:
                return raw + rva - va
        raise ValueError(f"RVA {rva:#x} outside every section")

    base = offset(resource_rva)
    found = {}

    def walk(directory, path):
        named, ids = struct.unpack_from("<HH", data, base + directory + 12)
        for k in range(named + ids):
            name, target = struct.unpack_from("<II", data, base + directory + 16 + 8 * k)
            if name & 0x80000000:
                continue  # named entries: the library uses numbers only
            if target & 0x80000000:
                walk(target & 0x7FFFFFFF, path + (name,))
            else:
                rva, size = struct.unpack_from("<II", data, base + target)
                found[path + (name,)] = data[offset(rva):offset(rva) + size]

    walk(0, ())
    return found


def _sz_or_ord(data, pos):
    """(str or int, next position) of a dialog template's name-or-ordinal."""
    first = struct.unpack_from("<H", data, pos)[0]
    if first == 0xFFFF:
        return struct.unpack_from("<H", data, pos + 2)[0], pos + 4
    end = pos
    while struct.unpack_from("<H", data, end)[0] != 0:
        end += 2
    return data[pos:end].decode("utf-16-le"), end + 2


def dialog(data):
    """An extended dialog template as a dict: style, rect (x, y, cx, cy),
    title, font (points, weight, italic, charset, face) and controls, each
    {id, class, text, style, rect}."""
    version, signature = struct.unpack_from("<HH", data, 0)
    assert (version, signature) == (1, 0xFFFF), "not an extended dialog template"
    _, _, style, count, x, y, cx, cy = struct.unpack_from("<IIIHhhhh", data, 4)
    pos = 26
    _, pos = _sz_or_ord(data, pos)  # menu
    _, pos = _sz_or_ord(data, pos)  # class
    title, pos = _sz_or_ord(data, pos)
    font = None
    if style & DS_SETFONT:
        points, weight, italic, charset = struct.unpack_from("<HHBB", data, pos)
        face, pos = _sz_or_ord(data, pos + 6)
        font = (points, weight, italic, charset, face)
    controls = []
    for _ in range(count):
        pos = (pos + 3) & ~3
        _, _, cstyle, x_, y_, w_, h_, ident = struct.unpack_from("<IIIhhhhI", data, pos)
        klass, pos = _sz_or_ord(data, pos + 24)
        text, pos = _sz_or_ord(data, pos)
        extra = struct.unpack_from("<H", data, pos)[0]
        pos += 2 + extra
        controls.append({"id": ident, "class": klass, "text": text, "style": cstyle, "rect": (x_, y_, w_, h_)})
    return {"style": style, "rect": (x, y, cx, cy), "title": title, "font": font, "controls": controls}


def strings(found):
    """{string id: text} of every string table in `found` (any language)."""
    out = {}
    for (rtype, block, _), data in found.items():
        if rtype != RT_STRING:
            continue
        pos = 0
        for k in range(16):
            length = struct.unpack_from("<H", data, pos)[0]
            if length:
                out[(block - 1) * 16 + k] = data[pos + 2:pos + 2 + 2 * length].decode("utf-16-le")
            pos += 2 + 2 * length
    return out


def icon_group(data):
    """[(width, height, bits per pixel, icon id)] of an icon group; 0 in the
    size bytes means 256."""
    _, kind, count = struct.unpack_from("<HHH", data, 0)
    assert kind == 1
    entries = []
    for k in range(count):
        w, h, _, _, _, bits, _, ident = struct.unpack_from("<BBBBHHIH", data, 6 + 14 * k)
        entries.append((w or 256, h or 256, bits, ident))
    return entries


def bitmap_size(data):
    """(width, height, bits per pixel) of a bitmap resource."""
    _, w, h, _, bits = struct.unpack_from("<IiiHH", data, 0)
    return w, abs(h), bits
