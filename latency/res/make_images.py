#!/usr/bin/env python3
"""Draws Tamsin's tool-bar bitmap (Toolbar.bmp) and program icon (Tamsin.ico).

Both are 4-bit images on the 16-colour VGA palette, so that every Windows version shows
them. Run it from this folder; the results are committed beside it.
"""
import math
import struct

PALETTE = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0),
    (0, 0, 128), (128, 0, 128), (0, 128, 128), (192, 192, 192),
    (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0),
    (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255),
]
# Glyph characters to palette indices; '.' is the tool bar's transparent silver.
INK = {'.': 7, 'k': 0, 'w': 15, 'g': 8, 'y': 11, 'b': 4, 'B': 12, 'r': 9, 'c': 6, 'G': 2}

GLYPHS = {
    'new': """
................
..kkkkkkkk......
..kwwwwwwkk.....
..kwwwwwwkwk....
..kwwwwwwkkkk...
..kwwwwwwwwwk...
..kwwwwwwwwwk...
..kwwwwwwwwwk...
..kwwwwwwwwwk...
..kwwwwwwwwwk...
..kwwwwwwwwwk...
..kwwwwwwwwwk...
..kwwwwwwwwwk...
..kkkkkkkkkkk...
................""",
    'open': """
................
..........kkk...
.........k...k.k
..............kk
..kkk........kkk
.kyyykkkkkkk....
.kywywywywyk....
.kwywywywywk....
.kywywykkkkkkkkk
.kwywykgggggggk.
.kywkgggggggggk.
.kwkgggggggggk..
.kkgggggggggk...
.kkkkkkkkkkk....
................""",
    'save': """
................
.kkkkkkkkkkkkkk.
.kbkwwwwwwwwkbk.
.kbkwwwwwwwwkbk.
.kbkwwwwwwwwkbk.
.kbkwwwwwwwwkbk.
.kbbkkkkkkkkbbk.
.kbbbbbbbbbbbbk.
.kbbkkkkkkkkbbk.
.kbbkggkwwwkbbk.
.kbbkggkwwwkbbk.
.kbbkggkwwwkbbk.
..kbkkkkkkkkkbk.
...kkkkkkkkkkkk.
................""",
    'cut': """
................
....k.....k.....
....k.....k.....
....k.....k.....
....kk...kk.....
.....k...k......
.....kk.kk......
......kkk.......
.......k........
......bkb.......
....bbb.bbb.....
...b..b.b..b....
...b..b.b..b....
...b..b.b..b....
....bb...bb.....""",
    'copy': """
................
kkkkkk..........
kwwwwkk.........
kwkkwkwk........
kwwwwkkkkkkk....
kwkkkkwwwwwkk...
kwwwwkwkkkwkwk..
kwkkkkwwwwwkkkk.
kwwwwkwkkkkkkwk.
kkkkkkwwwwwwwwk.
.....kwkkkkkkwk.
.....kwwwwwwwwk.
.....kwkkkkkkwk.
.....kwwwwwwwwk.
.....kkkkkkkkkk.""",
    'paste': """
................
....kkkk........
kkkkyyyykkkk....
kyyky..ykyyk....
kykkkkkkkkyk....
kyyyyyyyykyk....
kyyyykkkkkkkkk..
kyyyykwwwwwwwkk.
kyyyykwkkkkwwkwk
kyyyykwwwwwwwkkk
kyyyykwkkkkkkkwk
kyyyykwwwwwwwwwk
kyyyykwkkkkkkkwk
.kkkkkwwwwwwwwwk
.....kkkkkkkkkkk""",
    'print': """
................
....kkkkkkkkk...
...kwwwwwwwwk...
...kwkkkkkwk....
..kwwwwwwwwk....
..kwkkkkkwk.....
.kkkkkkkkkkkkk..
kwwwwwwwwwwwkgk.
kwwwwwwwwwgwkgk.
kkkkkkkkkkkkkggk
kwwwwwwwwwwwkgk.
.kkkkkkkkkkkkk..
..kwwwwwwwwwk...
..kkkkkkkkkkk...
................""",
    'about': """
................
.....kkkkkk.....
....kBBBBBBk....
...kBBwwwwBBk...
...kBwwkkwwBk...
...kBkkBkwwBk...
....kBBBkwwBk...
......kBwwBk....
......kBwwk.....
......kBBBk.....
.......kkk......
......kBBBk.....
......kBwwBk....
......kBBBBk....
.......kkkk.....""",
}
ORDER = ['new', 'open', 'save', 'cut', 'copy', 'paste', 'print', 'about']


def rows_of(glyph):
    rows = [r for r in glyph.strip('\n').split('\n')]
    assert len(rows) == 15 and all(len(r) == 16 for r in rows), glyph
    return rows


def pack4(pixels, width):
    """One row of 4-bit indices, padded to a multiple of 4 bytes."""
    out = bytearray()
    for x in range(0, width, 2):
        hi = pixels[x]
        lo = pixels[x + 1] if x + 1 < width else 0
        out.append((hi << 4) | lo)
    while len(out) % 4:
        out.append(0)
    return bytes(out)


def pack1(bits, width):
    out = bytearray()
    for x in range(0, width, 8):
        byte = 0
        for i in range(8):
            if x + i < width and bits[x + i]:
                byte |= 0x80 >> i
        out.append(byte)
    while len(out) % 4:
        out.append(0)
    return bytes(out)


def palette_bytes():
    return b''.join(struct.pack('<BBBB', b, g, r, 0) for (r, g, b) in PALETTE)


def toolbar_bmp():
    width, height = 16 * len(ORDER), 15
    image = [[0] * width for _ in range(height)]
    for n, name in enumerate(ORDER):
        for y, row in enumerate(rows_of(GLYPHS[name])):
            for x, ch in enumerate(row):
                image[y][n * 16 + x] = INK[ch]
    data = b''.join(pack4(image[y], width) for y in reversed(range(height)))
    header = struct.pack('<IiiHHIIiiII', 40, width, height, 1, 4, 0, len(data), 2835, 2835, 16, 0)
    pal = palette_bytes()
    offset = 14 + len(header) + len(pal)
    file_header = struct.pack('<2sIHHI', b'BM', offset + len(data), 0, 0, offset)
    return file_header + header + pal + data


def gauge(size):
    """A round meter: dark face, a green-yellow-red scale and a white needle in the green."""
    c = (size - 1) / 2.0
    outer = size / 2.0 - 0.5
    image = [[0] * size for _ in range(size)]
    mask = [[1] * size for _ in range(size)]
    needle = math.radians(140)  # pointing up-left, into the green part of the scale
    for y in range(size):
        for x in range(size):
            dx, dy = x - c, c - y
            r = math.hypot(dx, dy)
            if r > outer:
                continue
            mask[y][x] = 0
            colour = 8  # grey rim
            if r < outer - 1.2:
                colour = 0  # black face
                angle = math.degrees(math.atan2(dy, dx))
                if outer * 0.62 <= r < outer - 1.2 and -20 <= angle <= 200:
                    # the scale runs from 200 degrees (left) clockwise to -20 (right)
                    if angle > 110:
                        colour = 10
                    elif angle > 50:
                        colour = 11
                    else:
                        colour = 9
                # the needle
                along = dx * math.cos(needle) + dy * math.sin(needle)
                across = abs(-dx * math.sin(needle) + dy * math.cos(needle))
                if 0 <= along <= outer * 0.8 and across <= max(0.6, size / 40.0):
                    colour = 15
                if r <= max(1.0, size / 14.0):
                    colour = 15
            image[y][x] = colour
    return image, mask


def icon_entry(size):
    image, mask = gauge(size)
    xor = b''.join(pack4(image[y], size) for y in reversed(range(size)))
    andm = b''.join(pack1(mask[y], size) for y in reversed(range(size)))
    header = struct.pack('<IiiHHIIiiII', 40, size, size * 2, 1, 4, 0, len(xor) + len(andm), 0, 0,
                         16, 0)
    return header + palette_bytes() + xor + andm


def tamsin_ico():
    sizes = [32, 16]
    blobs = [icon_entry(s) for s in sizes]
    out = struct.pack('<HHH', 0, 1, len(sizes))
    offset = 6 + 16 * len(sizes)
    for s, blob in zip(sizes, blobs):
        out += struct.pack('<BBBBHHII', s, s, 16, 0, 1, 4, len(blob), offset)
        offset += len(blob)
    return out + b''.join(blobs)


if __name__ == '__main__':
    with open('Toolbar.bmp', 'wb') as f:
        f.write(toolbar_bmp())
    with open('Tamsin.ico', 'wb') as f:
        f.write(tamsin_ico())
