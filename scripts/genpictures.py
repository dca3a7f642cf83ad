#!/usr/bin/env python3
"""Draws the pictures and icons of the UI resource library (standard library
only), so that no binary is kept in the sources:

  exterior.bmp  bitmap 1070, the tall picture of the welcome and finish pages
  header.bmp    bitmap 1071, the picture at the right of the header band
  product.ico   icon group 1072, the window icon (16 to 48 pixels)
  message.ico   icon group 1079, the icon of the file replacement question

The product emblem is a rounded blue badge with a package box into which an
amber arrow points. Shapes are given as coverage tests in the unit square and
rendered with 4 x 4 samples a pixel.

Usage: genpictures.py --out DIR
"""
import argparse
import math
import os
import struct

NAVY = (14, 38, 77)
TEAL = (24, 110, 140)
BLUE_TOP = (66, 133, 230)
BLUE_BOTTOM = (20, 66, 150)
AMBER = (247, 176, 56)
WHITE = (255, 255, 255)
SAMPLES = 4


def mix(a, b, t):
    t = min(1.0, max(0.0, t))
    return tuple(a[i] + (b[i] - a[i]) * t for i in range(3))


def over(dst, color, alpha):
    """`color` with coverage `alpha` over the RGBA pixel `dst`."""
    r, g, b, a = dst
    out_a = alpha + a * (1 - alpha)
    if out_a <= 0:
        return (0.0, 0.0, 0.0, 0.0)
    k = a * (1 - alpha)
    return (
        (color[0] * alpha + r * k) / out_a,
        (color[1] * alpha + g * k) / out_a,
        (color[2] * alpha + b * k) / out_a,
        out_a,
    )


class Canvas:
    def __init__(self, width, height, fill=(0, 0, 0, 0.0)):
        self.width, self.height = width, height
        self.pixels = [[fill] * width for _ in range(height)]

    def paint(self, inside, color, box=None, opacity=1.0):
        """Covers the pixels whose samples `inside`(x, y) accepts (pixel
        coordinates) with `color`, a colour or a function of (x, y)."""
        x0, y0, x1, y1 = box or (0, 0, self.width, self.height)
        x0, y0 = max(0, int(x0)), max(0, int(y0))
        x1, y1 = min(self.width, int(math.ceil(x1))), min(self.height, int(math.ceil(y1)))
        step = 1.0 / SAMPLES
        for y in range(y0, y1):
            row = self.pixels[y]
            for x in range(x0, x1):
                hits = 0
                for sy in range(SAMPLES):
                    for sx in range(SAMPLES):
                        if inside(x + (sx + 0.5) * step, y + (sy + 0.5) * step):
                            hits += 1
                if hits:
                    c = color(x + 0.5, y + 0.5) if callable(color) else color
                    row[x] = over(row[x], c, opacity * hits / (SAMPLES * SAMPLES))

    def fade(self, color, alpha):
        """Lays `color` with opacity `alpha`(x, y) over every pixel."""
        for y in range(self.height):
            for x in range(self.width):
                a = alpha(x + 0.5, y + 0.5)
                if a > 0:
                    self.pixels[y][x] = over(self.pixels[y][x], color, a)


def rounded_rect(cx, cy, half, radius):
    def inside(x, y):
        dx = max(abs(x - cx) - (half - radius), 0.0)
        dy = max(abs(y - cy) - (half - radius), 0.0)
        return dx * dx + dy * dy <= radius * radius
    return inside


def polygon(points):
    def inside(x, y):
        result = False
        j = len(points) - 1
        for i in range(len(points)):
            xi, yi = points[i]
            xj, yj = points[j]
            if (yi > y) != (yj > y) and x < (xj - xi) * (y - yi) / (yj - yi) + xi:
                result = not result
            j = i
        return result
    return inside


def draw_emblem(canvas, left, top, size):
    """The product emblem in the square (left, top, size)."""
    s = size
    cx, cy = left + s / 2, top + s / 2
    box = (left, top, left + s, top + s)
    if s >= 24:  # a soft shadow below the badge
        canvas.paint(rounded_rect(cx + s * 0.01, cy + s * 0.035, s * 0.46, s * 0.16), (0, 0, 0), box, 0.3)
    badge = rounded_rect(cx, cy, s * 0.45, s * 0.14)
    canvas.paint(badge, lambda x, y: mix(BLUE_TOP, BLUE_BOTTOM, (y - top) / s), box)
    # Gloss on the upper half of the badge.
    gloss = lambda x, y: badge(x, y) and (x - cx) ** 2 + (y - (top - s * 0.55)) ** 2 <= (s * 0.98) ** 2  # noqa: E731
    canvas.paint(gloss, lambda x, y: mix((150, 195, 255), BLUE_TOP, (y - top) / (s * 0.45)), box)
    # The package: an open tray in white.
    u = s / 32.0
    tray = polygon([(cx - 10 * u, cy + 1 * u), (cx - 7 * u, cy + 1 * u), (cx - 7 * u, cy + 7 * u),
                    (cx + 7 * u, cy + 7 * u), (cx + 7 * u, cy + 1 * u), (cx + 10 * u, cy + 1 * u),
                    (cx + 10 * u, cy + 10 * u), (cx - 10 * u, cy + 10 * u)])
    canvas.paint(tray, WHITE, box)
    # The arrow into it, in amber.
    arrow = polygon([(cx - 2.6 * u, cy - 11 * u), (cx + 2.6 * u, cy - 11 * u), (cx + 2.6 * u, cy - 2 * u),
                     (cx + 6.5 * u, cy - 2 * u), (cx, cy + 5 * u), (cx - 6.5 * u, cy - 2 * u),
                     (cx - 2.6 * u, cy - 2 * u)])
    canvas.paint(arrow, AMBER, box)


def draw_question(canvas, size):
    """The message icon: a question mark on a blue disc."""
    s = size
    c = s / 2
    disc = lambda x, y: (x - c) ** 2 + (y - c) ** 2 <= (s * 0.46) ** 2  # noqa: E731
    canvas.paint(disc, lambda x, y: mix(BLUE_TOP, BLUE_BOTTOM, y / s))
    u = s / 32.0
    hook_c, r_out, r_in = (c, c - 4 * u), 7.5 * u, 3.8 * u

    def hook(x, y):
        dx, dy = x - hook_c[0], y - hook_c[1]
        d = dx * dx + dy * dy
        if not (r_in * r_in <= d <= r_out * r_out):
            return False
        angle = math.degrees(math.atan2(dy, dx))  # 0 right, 90 down
        return not (90 < angle < 170)

    stem = lambda x, y: abs(x - c) <= 1.9 * u and c - 0.5 * u <= y <= c + 5 * u  # noqa: E731
    dot = lambda x, y: (x - c) ** 2 + (y - (c + 9 * u)) ** 2 <= (2.3 * u) ** 2  # noqa: E731
    canvas.paint(lambda x, y: hook(x, y) or stem(x, y) or dot(x, y), WHITE)


def exterior(width=180, height=314):
    """The welcome and finish pages' picture: a deep blue to teal gradient
    with soft light arcs and the emblem. The window system shows its lower
    right part when the picture control is smaller."""
    canvas = Canvas(width, height)
    for y in range(height):
        for x in range(width):
            t = y / height * 0.8 + x / width * 0.2
            r, g, b = mix(NAVY, TEAL, t)
            canvas.pixels[y][x] = (r, g, b, 1.0)
    # Arcs around a point below the lower left corner.
    ox, oy = -width * 0.35, height * 1.15

    def rings(x, y):
        d = math.hypot(x - ox, y - oy) / height
        band = (d * 9.0) % 1.0
        return 0.10 * max(0.0, 1 - abs(band - 0.5) * 8) * max(0.0, 1.2 - d)

    canvas.fade(WHITE, rings)
    # A glow behind the emblem.
    ex, ey, es = width * 0.5, height * 0.34, width * 0.52
    canvas.fade(WHITE, lambda x, y: 0.22 * max(0.0, 1 - math.hypot(x - ex, y - ey) / (es * 1.1)) ** 2)
    draw_emblem(canvas, ex - es / 2, ey - es / 2, es)
    # A thin amber line along the foot.
    canvas.paint(lambda x, y: height - 30 <= y <= height - 28.5 and x >= width * 0.25, AMBER)
    return canvas


def header(width=110, height=58):
    canvas = Canvas(width, height, (255, 255, 255, 1.0))
    size = 46
    draw_emblem(canvas, width - size - 6, (height - size) / 2, size)
    return canvas


def bmp(canvas):
    """A 24-bit bottom-up BMP file (white under transparent pixels)."""
    stride = (canvas.width * 3 + 3) & ~3
    rows = []
    for y in range(canvas.height - 1, -1, -1):
        row = bytearray()
        for r, g, b, a in canvas.pixels[y]:
            r, g, b = (round(c * a + 255 * (1 - a)) for c in (r, g, b))
            row += bytes((b, g, r))
        row += b"\0" * (stride - len(row))
        rows.append(bytes(row))
    pixels = b"".join(rows)
    info = struct.pack("<IiiHHIIiiII", 40, canvas.width, canvas.height, 1, 24, 0, len(pixels), 2835, 2835, 0, 0)
    return struct.pack("<2sIHHI", b"BM", 14 + len(info) + len(pixels), 0, 0, 14 + len(info)) + info + pixels


def icon_image(canvas):
    """One icon image: 32-bit colour with alpha, then the 1-bit mask."""
    n = canvas.width
    colour = bytearray()
    mask = bytearray()
    mask_stride = ((n + 31) // 32) * 4
    for y in range(n - 1, -1, -1):
        bits = bytearray(mask_stride)
        for x, (r, g, b, a) in enumerate(canvas.pixels[y]):
            colour += bytes((round(b), round(g), round(r), round(a * 255)))
            if a < 0.5:
                bits[x // 8] |= 0x80 >> (x % 8)
        mask += bits
    info = struct.pack("<IiiHHIIiiII", 40, n, 2 * n, 1, 32, 0, len(colour) + len(mask), 0, 0, 0, 0)
    return info + bytes(colour) + bytes(mask)


def ico(canvases):
    images = [icon_image(c) for c in canvases]
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for c, image in zip(canvases, images):
        out += struct.pack("<BBBBHHII", c.width % 256, c.width % 256, 0, 0, 1, 32, len(image), offset)
        offset += len(image)
    return out + b"".join(images)


def emblem_icon(n):
    canvas = Canvas(n, n)
    draw_emblem(canvas, 0, 0, n)
    return canvas


def question_icon(n):
    canvas = Canvas(n, n)
    draw_question(canvas, n)
    return canvas


def write(path, data):
    try:
        with open(path, "rb") as f:
            if f.read() == data:
                return
    except FileNotFoundError:
        pass
    with open(path, "wb") as f:
        f.write(data)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--out", required=True)
    args = parser.parse_args()
    os.makedirs(args.out, exist_ok=True)
    write(os.path.join(args.out, "exterior.bmp"), bmp(exterior()))
    write(os.path.join(args.out, "header.bmp"), bmp(header()))
    sizes = (16, 24, 32, 48)
    write(os.path.join(args.out, "product.ico"), ico([emblem_icon(n) for n in sizes]))
    write(os.path.join(args.out, "message.ico"), ico([question_icon(n) for n in sizes]))


if __name__ == "__main__":
    main()
