#!/usr/bin/env python3
"""Draws Fenwick's program icon, the Halden's face in the device picture's style, as Fenwick.ico.

    python3 panel/resources/make_icon.py [OUT_DIR]

The icon holds the sizes Windows asks for: 16, 32 and 48 pixels as 32-bit bitmaps with an
alpha channel and a mask, and 256 pixels as PNG. Each size is drawn on its own from one design
in a 256-unit square, with fewer details where the pixels are few, so that the small icons stay
sharp instead of being shrunk. The drawing is that of make_pictures.py; the output is
deterministic.
"""
import os
import struct
import sys

from make_pictures import AMBER, Canvas, circle, grain, lerp, ring, rounded_rect, segment, text

SIZES = (16, 32, 48, 256)
LED = (0.25, 0.95, 0.35)


def icon(size):
    c = Canvas(size, size)
    s = size / 256.0

    def at(v):
        return v * s

    def thick(v, least=1.0):
        return max(v * s, least)

    def rect(x, y, w, h, r):
        return rounded_rect(at(x), at(y), at(w), at(h), at(r))

    detailed = size >= 48
    body_top, body_bottom = (0.34, 0.35, 0.38), (0.17, 0.175, 0.19)

    # Shadow, chassis and face plate.
    c.shape(*rect(32, 14, 200, 238, 22), (0.0, 0.0, 0.0), 0.45)
    c.shape(*rect(28, 8, 200, 238, 22), lambda x, y: lerp(body_top, body_bottom, y / size))

    def face(x, y):
        base = lerp((0.52, 0.53, 0.56), (0.40, 0.41, 0.44), y / size)
        if not detailed:
            return base
        return tuple(v + grain(x / s, y / s) * 0.05 for v in base)

    c.shape(*rect(38, 18, 180, 218, 14), face)

    # Header strip with the name (where there is room for it) and the status light.
    c.shape(*rect(48, 28, 160, 36, 6), (0.10, 0.105, 0.115))
    if size >= 256:
        text(c, "HALDEN", at(60), at(37), at(18), (0.86, 0.87, 0.9), at(2.8))
    c.shape(*circle(at(188), at(46), at(17)), LED, 0.25)
    c.shape(*circle(at(188), at(46), thick(9, 1.1)), LED)

    # Three channel strips: a knob and a fader each.
    for ch, x in enumerate((80, 128, 176)):
        if size >= 32:
            c.shape(*rect(x - 19, 76, 38, 150, 6), (0.30, 0.305, 0.325), 0.55)
            ky = 104
            cap = (0.16, 0.165, 0.18)
            c.shape(*circle(at(x), at(ky + 2), at(15.5)), (0.0, 0.0, 0.0), 0.35)
            c.shape(*circle(at(x), at(ky), at(15)),
                    lambda px, py: lerp((0.32, 0.33, 0.36), cap, (py / s - ky + 15) / 30))
            if detailed:
                c.shape(*ring(at(x), at(ky), at(15), thick(1.6, 0.8)), (0.08, 0.08, 0.09))
                dx, dy = ((-8.0, -8.0), (0.0, -11.0), (8.0, -8.0))[ch]
                pointer = AMBER if ch == 0 else (0.85, 0.86, 0.9)
                c.shape(*segment(at(x), at(ky), at(x + dx), at(ky + dy), thick(3.0)), pointer)
        # The fader's slot and its cap, at a different height in each strip.
        slot_top = 132 if size >= 32 else 82
        c.shape(*rounded_rect(at(x) - thick(6) / 2, at(slot_top), thick(6), at(220 - slot_top),
                              thick(6) / 2), (0.05, 0.05, 0.06))
        fy = (186, 152, 172)[ch] if size >= 32 else (196, 126, 164)[ch]
        c.shape(*rect(x - 15, fy - 8, 30, 18, 3), (0.0, 0.0, 0.0), 0.35)
        c.shape(*rect(x - 15, fy - 10, 30, 18, 3), (0.78, 0.79, 0.82))
        if detailed:
            c.shape(*segment(at(x - 12), at(fy - 1), at(x + 12), at(fy - 1), thick(1.6)),
                    (0.2, 0.2, 0.22))
    return c


def bitmap_entry(c):
    """A 32-bit icon bitmap: header (twice the height: colour, then mask), the BGRA rows bottom
    up with straight alpha, and the mask, one bit a pixel (set where it is transparent)."""
    w, h = c.w, c.h
    pixels = bytearray()
    mask = bytearray()
    mask_stride = ((w + 31) // 32) * 4
    for y in reversed(range(h)):
        bits = bytearray(mask_stride)
        for x in range(w):
            r, g, b, a = (max(0, min(255, round(v * 255))) for v in c.px[y * w + x])
            pixels += bytes((b, g, r, a))
            if a < 128:
                bits[x // 8] |= 0x80 >> (x % 8)
        mask += bits
    header = struct.pack("<IiiHHIIiiII", 40, w, 2 * h, 1, 32, 0, len(pixels) + len(mask), 0, 0, 0, 0)
    return header + bytes(pixels) + bytes(mask)


def ico(entries):
    """entries: (size, data) pairs. A size of 256 is written as 0 in the directory."""
    out = struct.pack("<HHH", 0, 1, len(entries))
    offset = 6 + 16 * len(entries)
    body = b""
    for size, data in entries:
        edge = 0 if size >= 256 else size
        out += struct.pack("<BBBBHHII", edge, edge, 0, 0, 1, 32, len(data), offset + len(body))
        body += data
    return out + body


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.dirname(os.path.abspath(__file__))
    entries = []
    for size in SIZES:
        c = icon(size)
        entries.append((size, c.png_bytes(with_alpha=True) if size >= 256 else bitmap_entry(c)))
    with open(os.path.join(out, "Fenwick.ico"), "wb") as f:
        f.write(ico(entries))


if __name__ == "__main__":
    main()
