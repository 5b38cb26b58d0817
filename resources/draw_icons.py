#!/usr/bin/env python3
"""Draws the program's icons and writes them as .ico files.

    draw_icons.py OUTPUT_FOLDER

writes quindo.ico (the program: a parcel closed by a zipper) and archive.ico
(an archive file: a page with the same zipper). Each holds 16, 24, 32 and 48
pixel images as 32-bit bitmaps with alpha and a 256-pixel PNG. The shapes are
described in a unit square and sampled 4 x 4 times per pixel, so the edges
are smooth at every size. Standard library only.
"""
import math
import os
import struct
import sys
import zlib

SIZES = (16, 24, 32, 48, 256)
SUPERSAMPLE = 4


def rounded_rect(x, y, left, top, right, bottom, radius):
    """True when (x, y) lies in the rectangle with rounded corners."""
    if x < left or x > right or y < top or y > bottom:
        return False
    cx = min(max(x, left + radius), right - radius)
    cy = min(max(y, top + radius), bottom - radius)
    return (x - cx) ** 2 + (y - cy) ** 2 <= radius ** 2


def zipper(x, y, centre, top, bottom, width):
    """The zipper: a dark track with alternating teeth and a pull at the top."""
    if top <= y <= bottom and abs(x - centre) <= width * 0.18:
        return (60, 60, 70)
    tooth = width * 0.12
    if top <= y <= bottom:
        row = int((y - top) / tooth)
        side = -1 if row % 2 == 0 else 1
        if 0 <= side * (x - centre) <= width * 0.5 and (y - top) % tooth < tooth * 0.7:
            return (200, 200, 210)
    # The pull tab: a rounded plate hanging below the top of the track.
    if rounded_rect(x, y, centre - width * 0.45, top + width * 0.2, centre + width * 0.45,
                    top + width * 1.3, width * 0.2):
        return (230, 180, 40)
    return None


def parcel(x, y):
    """The program icon: a parcel seen from the front, closed by a zipper."""
    if not rounded_rect(x, y, 0.06, 0.16, 0.94, 0.94, 0.08):
        return None
    z = zipper(x, y, 0.5, 0.16, 0.94, 0.16)
    if z:
        return z
    # Lid band, body with a soft vertical shade, a darker outline.
    edge = not rounded_rect(x, y, 0.09, 0.19, 0.91, 0.91, 0.06)
    if edge:
        return (120, 72, 30)
    if y < 0.36:
        return (214, 150, 80)
    shade = 1.0 - 0.25 * (y - 0.36) / 0.58
    return (int(196 * shade), int(128 * shade), int(62 * shade))


def page(x, y):
    """The archive icon: a page with a folded corner and a zipper."""
    fold = 0.26
    left, top, right, bottom = 0.16, 0.04, 0.84, 0.96
    if x < left or x > right or y < top or y > bottom:
        return None
    if x > right - fold and y < top + fold:
        # The folded corner: cut away above the diagonal, drawn below it.
        if (x - (right - fold)) > (y - top):
            return None
        return (180, 190, 205)
    z = zipper(x, y, 0.5, 0.18, 0.86, 0.14)
    if z:
        return z
    if x < left + 0.025 or x > right - 0.025 or y > bottom - 0.025 or y < top + 0.025:
        return (90, 100, 120)
    return (246, 248, 252)


def render(shape, size):
    """Rows of (r, g, b, a), top row first."""
    rows = []
    samples = SUPERSAMPLE * SUPERSAMPLE
    for py in range(size):
        row = []
        for px in range(size):
            r = g = b = hits = 0
            for sy in range(SUPERSAMPLE):
                for sx in range(SUPERSAMPLE):
                    x = (px + (sx + 0.5) / SUPERSAMPLE) / size
                    y = (py + (sy + 0.5) / SUPERSAMPLE) / size
                    colour = shape(x, y)
                    if colour:
                        r += colour[0]
                        g += colour[1]
                        b += colour[2]
                        hits += 1
            if hits:
                row.append((r // hits, g // hits, b // hits, 255 * hits // samples))
            else:
                row.append((0, 0, 0, 0))
        rows.append(row)
    return rows


def bitmap_image(rows):
    """An icon image as a bottom-up 32-bit DIB with its AND mask."""
    size = len(rows)
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    pixels = bytearray()
    for row in reversed(rows):
        for r, g, b, a in row:
            pixels += bytes((b, g, r, a))
    mask_stride = ((size + 31) // 32) * 4
    mask = bytearray()
    for row in reversed(rows):
        line = bytearray(mask_stride)
        for x, (_, _, _, a) in enumerate(row):
            if a == 0:
                line[x // 8] |= 0x80 >> (x % 8)
        mask += line
    return header + bytes(pixels) + bytes(mask)


def png_image(rows):
    size = len(rows)

    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)

    raw = bytearray()
    for row in rows:
        raw.append(0)
        for pixel in row:
            raw += bytes(pixel)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)) +
            chunk(b"IDAT", zlib.compress(bytes(raw), 9)) + chunk(b"IEND", b""))


def icon_file(shape):
    images = []
    for size in SIZES:
        rows = render(shape, size)
        images.append((size, png_image(rows) if size >= 256 else bitmap_image(rows)))
    out = bytearray(struct.pack("<HHH", 0, 1, len(images)))
    offset = 6 + 16 * len(images)
    for size, data in images:
        dimension = 0 if size >= 256 else size
        out += struct.pack("<BBBBHHII", dimension, dimension, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    for _, data in images:
        out += data
    return bytes(out)


def main():
    if len(sys.argv) != 2:
        sys.exit("usage: draw_icons.py OUTPUT_FOLDER")
    folder = sys.argv[1]
    os.makedirs(folder, exist_ok=True)
    for name, shape in (("quindo.ico", parcel), ("archive.ico", page)):
        target = os.path.join(folder, name)
        with open(target + ".part", "wb") as f:
            f.write(icon_file(shape))
        os.replace(target + ".part", target)


if __name__ == "__main__":
    main()
