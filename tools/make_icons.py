#!/usr/bin/env python3
"""Draws the application icons: a grid controller seen from above, a dark body with a field of
lit pads, and writes them as .ico files.

Usage: make_icons.py <res-folder>
Writes app_large.ico (48 x 48 and 32 x 32, icon 107) and app_small.ico (16 x 16, icon 108).
The images are 32-bit with an alpha channel, stored the classic way (BITMAPINFOHEADER, colour
bits bottom-up, then a 1-bit AND mask), which every Windows version reads.
"""
import os
import struct
import sys

BODY = (0x2A, 0x2A, 0x30)
RIM = (0x10, 0x10, 0x14)
# Pad colours by row, top to bottom: a gradient the controller's pads might show.
PADS = [(0xF2, 0x3B, 0x5C), (0xF7, 0x8E, 0x2B), (0xF5, 0xD0, 0x2E), (0x4C, 0xD9, 0x6B),
        (0x2E, 0xB8, 0xF0), (0x7A, 0x5C, 0xF5)]


def draw(size):
    """Returns rows (top to bottom) of (r, g, b, a) pixels."""
    if size >= 32:
        pads, margin, gap = 6, size // 8, 1
    else:
        pads, margin, gap = 4, 2, 1
    pixels = [[(0, 0, 0, 0)] * size for _ in range(size)]
    corner = max(1, size // 12)
    for y in range(size):
        for x in range(size):
            # Rounded body: cut the corners.
            dx = min(x, size - 1 - x)
            dy = min(y, size - 1 - y)
            if dx < corner and dy < corner and (corner - dx) + (corner - dy) > corner + 1:
                continue
            edge = dx == 0 or dy == 0
            pixels[y][x] = (*(RIM if edge else BODY), 0xFF)
    field = size - 2 * margin
    cell = (field + gap) // pads
    offset = margin + (field - (cell * pads - gap)) // 2
    for row in range(pads):
        colour = PADS[row * len(PADS) // pads]
        for col in range(pads):
            x0 = offset + col * cell
            y0 = offset + row * cell
            for y in range(y0, y0 + cell - gap):
                for x in range(x0, x0 + cell - gap):
                    pixels[y][x] = (*colour, 0xFF)
    return pixels


def dib(pixels):
    size = len(pixels)
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    colour = bytearray()
    for row in reversed(pixels):
        for r, g, b, a in row:
            colour += bytes((b, g, r, a))
    mask_stride = ((size + 31) // 32) * 4
    mask = bytearray()
    for row in reversed(pixels):
        bits = bytearray(mask_stride)
        for x, (_, _, _, a) in enumerate(row):
            if a == 0:
                bits[x // 8] |= 0x80 >> (x % 8)
        mask += bits
    return header + bytes(colour) + bytes(mask)


def ico(sizes):
    images = [dib(draw(s)) for s in sizes]
    out = bytearray(struct.pack("<HHH", 0, 1, len(images)))
    offset = 6 + 16 * len(images)
    for s, image in zip(sizes, images):
        out += struct.pack("<BBBBHHII", s % 256, s % 256, 0, 0, 1, 32, len(image), offset)
        offset += len(image)
    for image in images:
        out += image
    return bytes(out)


def main():
    if len(sys.argv) != 2:
        sys.exit("usage: make_icons.py <res-folder>")
    for name, sizes in (("app_large.ico", (48, 32)), ("app_small.ico", (16,))):
        with open(os.path.join(sys.argv[1], name), "wb") as f:
            f.write(ico(sizes))


if __name__ == "__main__":
    main()
