#!/usr/bin/env python3
"""Draws the application icon: one 32x32 image in 16 colours (4 bits a pixel).

The picture is a chip with pins and a USB plug on it, drawn from the rows
below, so the icon is ours and reproducible byte for byte.
Usage: make_icon.py OUTPUT.ico
"""
import struct
import sys

# The standard 16-colour palette, as (blue, green, red, 0) quads.
PALETTE = [
    (0, 0, 0), (0, 0, 128), (0, 128, 0), (0, 128, 128),
    (128, 0, 0), (128, 0, 128), (128, 128, 0), (192, 192, 192),
    (128, 128, 128), (0, 0, 255), (0, 255, 0), (0, 255, 255),
    (255, 0, 0), (255, 0, 255), (255, 255, 0), (255, 255, 255),
]  # (red, green, blue)

# '.' transparent; other characters index the palette in hex.
ROWS = [
    "................................",
    "................................",
    "......7..7..7..7..7..7..7.......",
    "......7..7..7..7..7..7..7.......",
    "......7..7..7..7..7..7..7.......",
    "....8888888888888888888888......",
    "....8000000000000000000008......",
    "..778000000000000000000087......",
    "....8000000000000000000008......",
    "....800000000FF00000000008......",
    "..778000000FFFFF0000000087......",
    "....8000000000FF0000000008......",
    "....8000F00000FF0000000008......",
    "..778FFF00000FF00000BB0087......",
    "....8000FF0000FF000BBBB008......",
    "....8000FF0000FF0000BB0008......",
    "..77800FFFF000FF000FF00087......",
    "....8000FFFFFFFFFFFFF00008......",
    "....800000000FFF0000000008......",
    "..778000000FFFFF0000000087......",
    "....800000000FFF0000000008......",
    "....8000000000F00000000008......",
    "..778000000000000000000087......",
    "....8000000000000000000008......",
    "....8999999999999999999998......",
    "....8888888888888888888888......",
    "......7..7..7..7..7..7..7.......",
    "......7..7..7..7..7..7..7.......",
    "......7..7..7..7..7..7..7.......",
    "................................",
    "................................",
    "................................",
]


def build():
    size = 32
    assert len(ROWS) == size
    rows = [row[:size].ljust(size, ".") for row in ROWS]
    pixels = []   # bottom-up, as bitmaps are stored
    mask = []
    for row in reversed(rows):
        pixels.append([0 if c == "." else int(c, 16) for c in row])
        mask.append([1 if c == "." else 0 for c in row])
    xor = bytearray()
    for line in pixels:
        for x in range(0, size, 2):
            xor.append((line[x] << 4) | line[x + 1])
    and_mask = bytearray()
    for line in mask:
        bits = 0
        for bit in line:
            bits = (bits << 1) | bit
        and_mask += struct.pack(">I", bits)  # 32 pixels: exactly one DWORD a row
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 4, 0,
                         len(xor) + len(and_mask), 0, 0, 16, 0)
    palette = b"".join(struct.pack("<BBBB", b, g, r, 0) for r, g, b in PALETTE)
    image = header + palette + bytes(xor) + bytes(and_mask)
    icon_dir = struct.pack("<HHH", 0, 1, 1)
    entry = struct.pack("<BBBBHHII", size, size, 16, 0, 1, 4, len(image), 6 + 16)
    return icon_dir + entry + image


def main():
    if len(sys.argv) != 2:
        sys.exit("usage: make_icon.py OUTPUT.ico")
    with open(sys.argv[1], "wb") as out:
        out.write(build())


if __name__ == "__main__":
    main()
