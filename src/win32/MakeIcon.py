#!/usr/bin/env python3
"""Writes the program's icon, tallyfold.ico, for the Windows build.

The same picture as the Qt window's (ui/AppIcon.cpp): on a 100 x 100 grid, a
teal rounded square, four white strokes and an orange stroke across them,
drawn here at each of the nine sizes with 4 x 4 samples a pixel, as 32-bit
images with alpha.

Usage: MakeIcon.py OUTPUT_ICO
"""
import struct
import sys

SIZES = (16, 20, 24, 32, 40, 48, 64, 128, 256)
TEAL = (0x1B, 0x7F, 0x79)
WHITE = (0xFF, 0xFF, 0xFF)
ORANGE = (0xF2, 0x5C, 0x3A)


def in_rounded_square(x, y):
    left, top, right, bottom, radius = 5, 5, 95, 95, 18
    cx = min(max(x, left + radius), right - radius)
    cy = min(max(y, top + radius), bottom - radius)
    return left <= x <= right and top <= y <= bottom and (x - cx) ** 2 + (y - cy) ** 2 <= radius ** 2


def near_segment(x, y, x1, y1, x2, y2, half_width):
    dx, dy = x2 - x1, y2 - y1
    t = max(0.0, min(1.0, ((x - x1) * dx + (y - y1) * dy) / float(dx * dx + dy * dy)))
    px, py = x1 + t * dx, y1 + t * dy
    return (x - px) ** 2 + (y - py) ** 2 <= half_width ** 2


def colour_at(x, y):
    if near_segment(x, y, 18, 70, 82, 30, 4):
        return ORANGE
    for stroke in (29, 42, 55, 68):
        if near_segment(x, y, stroke, 24, stroke, 76, 4):
            return WHITE
    if in_rounded_square(x, y):
        return TEAL
    return None


def image(size):
    """BGRA rows, bottom-up, as an icon's bitmap holds them."""
    samples = 4
    rows = []
    for row in range(size):
        pixels = bytearray()
        for column in range(size):
            total = [0, 0, 0]
            covered = 0
            for sy in range(samples):
                for sx in range(samples):
                    x = (column + (sx + 0.5) / samples) * 100.0 / size
                    y = (row + (sy + 0.5) / samples) * 100.0 / size
                    colour = colour_at(x, y)
                    if colour:
                        covered += 1
                        total = [a + b for a, b in zip(total, colour)]
            if covered:
                r, g, b = (value // covered for value in total)
                alpha = covered * 255 // (samples * samples)
            else:
                r = g = b = alpha = 0
            pixels += bytes((b, g, r, alpha))
        rows.append(bytes(pixels))
    return b"".join(reversed(rows))


def entry_data(size):
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    mask_row = ((size + 31) // 32) * 4
    return header + image(size) + bytes(mask_row * size)


def main():
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    datas = [entry_data(size) for size in SIZES]
    out = struct.pack("<HHH", 0, 1, len(SIZES))
    offset = 6 + 16 * len(SIZES)
    for size, data in zip(SIZES, datas):
        out += struct.pack("<BBBBHHII", size % 256, size % 256, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    with open(sys.argv[1], "wb") as stream:
        stream.write(out + b"".join(datas))


if __name__ == "__main__":
    main()
