#!/usr/bin/env python3
"""Writes the picker pictures as 16-colour Windows bitmaps (16 x 15 pixels each).

Run from anywhere: python3 resources/bitmaps/make_bitmaps.py
Each picture is drawn below as 15 text rows of 16 characters, one character per pixel, using the
standard 16-colour palette. The pickers draw a picture with its bottom-left pixel's colour as the
transparent colour, so every picture keeps that pixel (and only its background) in magenta.
The output is byte-for-byte reproducible.
"""

import os
import struct

# The standard 16-colour palette, as (red, green, blue), and the character that stands for each.
PALETTE = [
    ("#", (0, 0, 0)),  # black
    ("m", (128, 0, 0)),  # maroon
    ("g", (0, 128, 0)),  # green
    ("o", (128, 128, 0)),  # olive
    ("n", (0, 0, 128)),  # navy
    ("p", (128, 0, 128)),  # purple
    ("t", (0, 128, 128)),  # teal
    ("s", (192, 192, 192)),  # silver
    ("d", (128, 128, 128)),  # grey
    ("r", (255, 0, 0)),  # red
    ("l", (0, 255, 0)),  # lime
    ("y", (255, 255, 0)),  # yellow
    ("b", (0, 0, 255)),  # blue
    (".", (255, 0, 255)),  # magenta: the transparent background
    ("a", (0, 255, 255)),  # aqua
    ("w", (255, 255, 255)),  # white
]
INDEX = {ch: i for i, (ch, _) in enumerate(PALETTE)}

PICTURES = {
    "floppy": [
        "................",
        ".#############..",
        ".#nn#wwwwww#nn#.",
        ".#nn#wwwwww#nn#.",
        ".#nn#wwwwww#nn#.",
        ".#nn#wwwwww#nn#.",
        ".#nnn######nnn#.",
        ".#nnnnnnnnnnnn#.",
        ".#nn########nn#.",
        ".#nn#ss#sss#nn#.",
        ".#nn#ss#sss#nn#.",
        ".#nn#ss#sss#nn#.",
        ".#nn#sssssss#n#.",
        "..#############.",
        "................",
    ],
    "hard": [
        "................",
        "................",
        "................",
        "................",
        "...###########..",
        "..#sssssssssss#.",
        ".#sssssssssss##.",
        ".#############s#",
        ".#sssssssssss#d#",
        ".#ssssssssgss#d#",
        ".#sssssssssss#d#",
        ".#############d.",
        "..dddddddddddd..",
        "................",
        "................",
    ],
    "network": [
        "................",
        "...###########..",
        "..#sssssssssss#.",
        ".#sssssssssss##.",
        ".#############s#",
        ".#sssssssssgs#d#",
        ".#############d.",
        "..ddddd#dddddd..",
        ".......#........",
        ".......#........",
        ".....#####......",
        "##############..",
        ".....#####......",
        "................",
        "................",
    ],
    "cdrom": [
        "................",
        ".....######.....",
        "...##ssssss##...",
        "..#ssssaaasss#..",
        ".#sssaaaawssss#.",
        ".#ssaaaawwssss#.",
        "#sssaaa##sssdss#",
        "#ssssa#..#ssdss#",
        "#sssss#..#sdsss#",
        "#ssssss##sddsss#",
        ".#sssssssddsss#.",
        ".#ssssssdddsss#.",
        "..#ssssssssss#..",
        "...##ssssss##...",
        ".....######.....",
    ],
    "ram": [
        "................",
        "................",
        "................",
        "................",
        "................",
        "################",
        "#gggggggggggggg#",
        "#g##g##g##g##gg#",
        "#g##g##g##g##gg#",
        "#gggggggggggggg#",
        "################",
        ".y.y.y.y.y.y.y..",
        ".y.y.y.y.y.y.y..",
        "................",
        "................",
    ],
    "openfolder": [
        "................",
        "................",
        "..####..........",
        ".#wyyy#.........",
        "#wyyyyy#######..",
        "#yyyyyyyyyyyy#..",
        "#yyy############",
        "#yy#yyyyyyyyyyo#",
        "#yy#yyyyyyyyyo#.",
        "#y#yyyyyyyyyyo#.",
        "#y#yyyyyyyyyo#..",
        "##yyyyyyyyyyo#..",
        "##oooooooooo#...",
        "#############...",
        "................",
    ],
    "closedfolder": [
        "................",
        "................",
        "..####..........",
        ".#wyyy#.........",
        "#wyyyyy#######..",
        "#wwwwwwwwwwwww#.",
        "#wyyyyyyyyyyyo#.",
        "#wyyyyyyyyyyyo#.",
        "#wyyyyyyyyyyyo#.",
        "#wyyyyyyyyyyyo#.",
        "#wyyyyyyyyyyyo#.",
        "#wyyyyyyyyyyyo#.",
        "#ooooooooooooo#.",
        "###############.",
        "................",
    ],
    "currentfolder": [
        "................",
        "................",
        "..####..........",
        ".#wyyy#.........",
        "#wyyyyy#######..",
        "#yyyyyyyyyyyy#..",
        "#yyy############",
        "#yy#aaaaaaaaaat#",
        "#yy#aaaaaaaaat#.",
        "#y#aaaaaaaaaat#.",
        "#y#aaaaaaaaat#..",
        "##aaaaaaaaaat#..",
        "##tttttttttt#...",
        "#############...",
        "................",
    ],
}

WIDTH, HEIGHT = 16, 15


def bitmap_bytes(rows):
    """A 4-bit bottom-up BITMAPINFOHEADER bitmap of the picture."""
    assert len(rows) == HEIGHT, rows
    assert all(len(r) == WIDTH for r in rows), rows
    assert rows[-1][0] == ".", "the bottom-left pixel must be the transparent background"
    stride = (WIDTH * 4 + 31) // 32 * 4
    pixels = bytearray()
    for row in reversed(rows):
        line = bytearray()
        for x in range(0, WIDTH, 2):
            line.append(INDEX[row[x]] << 4 | INDEX[row[x + 1]])
        line.extend(b"\0" * (stride - len(line)))
        pixels.extend(line)
    palette = b"".join(struct.pack("<BBBB", b, g, r, 0) for _, (r, g, b) in PALETTE)
    info = struct.pack("<IiiHHIIiiII", 40, WIDTH, HEIGHT, 1, 4, 0, len(pixels), 3780, 3780, 16, 0)
    offset = 14 + len(info) + len(palette)
    header = struct.pack("<2sIHHI", b"BM", offset + len(pixels), 0, 0, offset)
    return header + info + palette + bytes(pixels)


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    for name, rows in PICTURES.items():
        with open(os.path.join(here, name + ".bmp"), "wb") as f:
            f.write(bitmap_bytes(rows))


if __name__ == "__main__":
    main()
