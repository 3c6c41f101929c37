#!/usr/bin/env python3
"""Draws the product picture and the program icon, and stores the picture in the main layout.

    resources/bitmaps/product.bmp  64 x 64, 16 colours: a globe with an upload and a download arrow
    resources/tandrel.ico          32 x 32 and 16 x 16, 32-bit with alpha: the same globe
    resources/forms/main.txt       its imgIcon.Picture.Data block is replaced by product.bmp's bytes

Run it after changing the drawing; the output is deterministic.
"""
import math
import pathlib
import re
import struct

HERE = pathlib.Path(__file__).resolve().parent

# The 16 standard colours (red, green, blue).
PALETTE = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0), (0, 0, 128), (128, 0, 128), (0, 128, 128),
    (192, 192, 192), (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0), (0, 0, 255),
    (255, 0, 255), (0, 255, 255), (255, 255, 255),
]
BLACK, NAVY, TEAL, SILVER, GRAY, RED, LIME, YELLOW, BLUE, AQUA, WHITE = 0, 4, 6, 7, 8, 9, 10, 11, 12, 14, 15
GREEN, MAROON = 2, 1


def draw(size):
    """Returns rows (top first) of palette indexes, None where the picture is see-through."""
    s = size / 64.0
    pixels = [[None] * size for _ in range(size)]
    cx, cy, r = 28 * s, 34 * s, 24 * s
    for y in range(size):
        for x in range(size):
            dx, dy = x + 0.5 - cx, y + 0.5 - cy
            d = math.hypot(dx, dy)
            if d <= r:
                # Shading: lighter towards the top left.
                colour = AQUA if dx + dy < -r * 0.9 else BLUE if dx + dy < r * 0.5 else NAVY
                # Meridians and parallels.
                lat = dy / r
                lon = dx / max(math.sqrt(max(r * r - dy * dy, 1e-9)), 1e-9)
                if any(abs(lat - p) < 0.045 / s * 1.2 for p in (-0.5, 0.0, 0.5)) or any(
                    abs(lon - m) < 0.06 / s for m in (-0.55, 0.0, 0.55)
                ):
                    colour = TEAL if colour == NAVY else AQUA if colour == BLUE else WHITE
                if d > r - 1.2:
                    colour = BLACK
                pixels[y][x] = colour
    # Two arrows on the right: green up (upload), red down (download), outlined in black.
    def arrow(x0, top, bottom, up, fill):
        w = 7 * s
        head = 8 * s
        for y in range(size):
            for x in range(size):
                px, py = x + 0.5, y + 0.5
                inside = False
                edge = False
                if up:
                    if top <= py <= top + head:
                        half = (py - top) / head * w
                        inside = abs(px - x0) <= half
                        edge = inside and abs(px - x0) > half - 1.3
                    elif top + head < py <= bottom:
                        inside = abs(px - x0) <= w * 0.45
                        edge = inside and (abs(px - x0) > w * 0.45 - 1.2 or py > bottom - 1.2)
                else:
                    if bottom - head <= py <= bottom:
                        half = (bottom - py) / head * w
                        inside = abs(px - x0) <= half
                        edge = inside and abs(px - x0) > half - 1.3
                    elif top <= py < bottom - head:
                        inside = abs(px - x0) <= w * 0.45
                        edge = inside and (abs(px - x0) > w * 0.45 - 1.2 or py < top + 1.2)
                if inside:
                    pixels[y][x] = BLACK if edge else fill
    arrow(48 * s, 4 * s, 34 * s, True, LIME)
    arrow(58 * s, 14 * s, 44 * s, False, RED)
    return pixels


def bmp_16_colours(pixels, background):
    height = len(pixels)
    width = len(pixels[0])
    stride = ((width * 4 + 31) // 32) * 4
    rows = b""
    for row in reversed(pixels):  # bottom-up
        indexes = [background if p is None else p for p in row]
        data = bytearray()
        for i in range(0, width, 2):
            data.append((indexes[i] << 4) | (indexes[i + 1] if i + 1 < width else 0))
        rows += bytes(data) + b"\0" * (stride - len(data))
    table = b"".join(bytes((b, g, r, 0)) for r, g, b in PALETTE)
    offset = 14 + 40 + len(table)
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, 4, 0, len(rows), 3780, 3780, 16, 0)
    header = struct.pack("<2sIHHI", b"BM", offset + len(rows), 0, 0, offset)
    return header + info + table + rows


def icon_image(pixels):
    size = len(pixels)
    xor = b""
    mask_stride = ((size + 31) // 32) * 4
    mask = b""
    for row in reversed(pixels):
        for p in row:
            if p is None:
                xor += b"\0\0\0\0"
            else:
                r, g, b = PALETTE[p]
                xor += bytes((b, g, r, 255))
        bits = bytearray(mask_stride)
        for x, p in enumerate(row):
            if p is None:
                bits[x // 8] |= 0x80 >> (x % 8)
        mask += bytes(bits)
    info = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, len(xor) + len(mask), 0, 0, 0, 0)
    return info + xor + mask


def ico(images):
    header = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    entries = b""
    data = b""
    for size, image in images:
        entries += struct.pack("<BBBBHHII", size, size, 0, 0, 1, 32, len(image), offset + len(data))
        data += image
    return header + entries + data


def main():
    product = bmp_16_colours(draw(64), SILVER)
    (HERE / "bitmaps" / "product.bmp").write_bytes(product)
    (HERE / "tandrel.ico").write_bytes(ico([(32, icon_image(draw(32))), (16, icon_image(draw(16)))]))

    layout_path = HERE / "forms" / "main.txt"
    layout = layout_path.read_text()
    hex_text = product.hex().upper()
    indent = "        "
    lines = "\n".join(indent + hex_text[i:i + 64] for i in range(0, len(hex_text), 64))
    layout, count = re.subn(r"Picture\.Data = \{[^}]*\}", "Picture.Data = {\n" + lines + "}", layout)
    if count != 1:
        raise SystemExit("main.txt: expected one Picture.Data block")
    layout_path.write_text(layout)


if __name__ == "__main__":
    main()
