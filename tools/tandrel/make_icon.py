#!/usr/bin/env python3
"""Writes tandrel.ico: the product's 32 x 32 icon (32-bit colour with alpha), a white "T" on a
blue disc. Run it again only to change the picture: tandrel.ico is kept in the repository."""
import struct
import sys

SIZE = 32


def pixel(x, y):
    """BGRA of the pixel at column x, row y (row 0 at the top)."""
    cx = cy = (SIZE - 1) / 2
    d2 = (x - cx) ** 2 + (y - cy) ** 2
    if d2 > 15.5 ** 2:
        return (0, 0, 0, 0)
    in_bar = 8 <= y <= 11 and 7 <= x <= 24
    in_stem = 8 <= y <= 24 and 14 <= x <= 17
    if in_bar or in_stem:
        return (255, 255, 255, 255)
    shade = int(160 + 80 * (1 - y / SIZE))
    return (shade, 64, 16, 255)


def main(path):
    rows = []
    for y in reversed(range(SIZE)):  # bitmaps run bottom-up
        rows.append(b"".join(bytes(pixel(x, y)) for x in range(SIZE)))
    xor = b"".join(rows)
    mask_rows = []
    for y in reversed(range(SIZE)):
        bits = 0
        for x in range(SIZE):
            if pixel(x, y)[3] == 0:
                bits |= 1 << (31 - x)
        mask_rows.append(struct.pack(">I", bits))
    mask = b"".join(mask_rows)
    info = struct.pack("<IiiHHIIiiII", 40, SIZE, SIZE * 2, 1, 32, 0, len(xor) + len(mask), 0, 0, 0, 0)
    image = info + xor + mask
    header = struct.pack("<HHH", 0, 1, 1)
    entry = struct.pack("<BBBBHHII", SIZE, SIZE, 0, 0, 1, 32, len(image), 6 + 16)
    with open(path, "wb") as f:
        f.write(header + entry + image)


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else "tandrel.ico")
