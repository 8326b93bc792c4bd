#!/usr/bin/env python3
"""Draws Fenwick's three pictures: the window background and the device present / absent.

    python3 panel/resources/make_pictures.py [OUT_DIR]

Plain Python (zlib and struct only), so that the artwork can be made again on any machine.
Every shape is a signed distance field, shaded with one pixel of anti-aliasing and laid over
the picture with the usual "over" operator. The output is deterministic.
"""
import math
import os
import struct
import sys
import zlib


class Canvas:
    def __init__(self, width, height, background=(0.0, 0.0, 0.0, 0.0)):
        self.w, self.h = width, height
        self.px = [list(background) for _ in range(width * height)]

    def blend(self, x, y, rgb, alpha):
        if alpha <= 0.0:
            return
        p = self.px[y * self.w + x]
        a = alpha + p[3] * (1.0 - alpha)
        if a <= 0.0:
            return
        for i in range(3):
            p[i] = (rgb[i] * alpha + p[i] * p[3] * (1.0 - alpha)) / a
        p[3] = a

    def shape(self, sdf, box, colour, opacity=1.0):
        """Fills where sdf(x, y) < 0; colour is an (r, g, b) tuple or a function of (x, y)."""
        x0, y0, x1, y1 = box
        for y in range(max(0, int(y0) - 1), min(self.h, int(y1) + 2)):
            for x in range(max(0, int(x0) - 1), min(self.w, int(x1) + 2)):
                cx, cy = x + 0.5, y + 0.5
                cover = min(1.0, max(0.0, 0.5 - sdf(cx, cy)))
                if cover > 0.0:
                    rgb = colour(cx, cy) if callable(colour) else colour
                    self.blend(x, y, rgb, cover * opacity)

    def png(self, path, with_alpha):
        with open(path, "wb") as f:
            f.write(self.png_bytes(with_alpha))

    def png_bytes(self, with_alpha):
        rows = []
        for y in range(self.h):
            row = bytearray([0])
            for x in range(self.w):
                p = self.px[y * self.w + x]
                channels = p if with_alpha else p[:3]
                row += bytes(max(0, min(255, round(c * 255))) for c in channels)
            rows.append(bytes(row))
        colour_type = 6 if with_alpha else 2

        def chunk(kind, data):
            body = kind + data
            return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body))

        return (b"\x89PNG\r\n\x1a\n"
                + chunk(b"IHDR", struct.pack(">IIBBBBB", self.w, self.h, 8, colour_type, 0, 0, 0))
                + chunk(b"IDAT", zlib.compress(b"".join(rows), 9))
                + chunk(b"IEND", b""))


# Distance fields ---------------------------------------------------------------------------
def rounded_rect(x, y, w, h, r):
    cx, cy, hw, hh = x + w / 2, y + h / 2, w / 2 - r, h / 2 - r

    def sdf(px, py):
        qx, qy = abs(px - cx) - hw, abs(py - cy) - hh
        outside = math.hypot(max(qx, 0.0), max(qy, 0.0))
        return outside + min(max(qx, qy), 0.0) - r

    return sdf, (x, y, x + w, y + h)


def circle(cx, cy, r):
    return (lambda px, py: math.hypot(px - cx, py - cy) - r), (cx - r, cy - r, cx + r, cy + r)


def ring(cx, cy, r, width):
    return (lambda px, py: abs(math.hypot(px - cx, py - cy) - r) - width / 2), (
        cx - r - width, cy - r - width, cx + r + width, cy + r + width)


def segment(ax, ay, bx, by, width):
    dx, dy = bx - ax, by - ay
    length2 = dx * dx + dy * dy or 1e-9

    def sdf(px, py):
        t = max(0.0, min(1.0, ((px - ax) * dx + (py - ay) * dy) / length2))
        return math.hypot(px - ax - t * dx, py - ay - t * dy) - width / 2

    pad = width
    return sdf, (min(ax, bx) - pad, min(ay, by) - pad, max(ax, bx) + pad, max(ay, by) + pad)


# A small stroke font: letters on a 4 x 6 grid, as polylines.
GLYPHS = {
    "A": [[(0, 6), (2, 0), (4, 6)], [(0.7, 4), (3.3, 4)]],
    "D": [[(0, 0), (0, 6), (2.5, 6), (4, 4.5), (4, 1.5), (2.5, 0), (0, 0)]],
    "E": [[(4, 0), (0, 0), (0, 6), (4, 6)], [(0, 3), (3, 3)]],
    "H": [[(0, 0), (0, 6)], [(4, 0), (4, 6)], [(0, 3), (4, 3)]],
    "L": [[(0, 0), (0, 6), (4, 6)]],
    "M": [[(0, 6), (0, 0), (2, 3.5), (4, 0), (4, 6)]],
    "N": [[(0, 6), (0, 0), (4, 6), (4, 0)]],
    "O": [[(1.2, 0), (2.8, 0), (4, 1.2), (4, 4.8), (2.8, 6), (1.2, 6), (0, 4.8), (0, 1.2), (1.2, 0)]],
    "R": [[(0, 6), (0, 0), (3, 0), (4, 1), (4, 2), (3, 3), (0, 3)], [(2, 3), (4, 6)]],
    "W": [[(0, 0), (1, 6), (2, 2.5), (3, 6), (4, 0)]],
    "0": [[(1.2, 0), (2.8, 0), (4, 1.2), (4, 4.8), (2.8, 6), (1.2, 6), (0, 4.8), (0, 1.2), (1.2, 0)]],
    "1": [[(1, 1), (2, 0), (2, 6)], [(1, 6), (3, 6)]],
    "2": [[(0, 1), (1, 0), (3, 0), (4, 1), (4, 2), (0, 6), (4, 6)]],
    "3": [[(0, 0), (4, 0), (2, 2.5), (3, 2.5), (4, 3.5), (4, 5), (3, 6), (0, 6)]],
    "4": [[(3, 6), (3, 0), (0, 4), (4, 4)]],
    " ": [],
}


def text(canvas, s, x, y, size, colour, width, opacity=1.0, spacing=1.6):
    scale = size / 6.0
    for ch in s:
        for line in GLYPHS[ch]:
            for (ax, ay), (bx, by) in zip(line, line[1:]):
                sdf, box = segment(x + ax * scale, y + ay * scale, x + bx * scale, y + by * scale, width)
                canvas.shape(sdf, box, colour, opacity)
        x += (4 + spacing) * scale


def lerp(a, b, t):
    return tuple(a[i] + (b[i] - a[i]) * t for i in range(3))


def grain(x, y):
    """Brushed-metal grain: deterministic noise that runs along horizontal lines."""
    n = (int(y) * 374761393 + (int(x) // 7) * 668265263) & 0xFFFFFFFF
    n = (n ^ (n >> 13)) * 1274126177 & 0xFFFFFFFF
    return ((n >> 8) & 0xFF) / 255.0 - 0.5


# The pictures ------------------------------------------------------------------------------
AMBER = (0.93, 0.58, 0.16)


def background():
    c = Canvas(485, 515, (0.0, 0.0, 0.0, 1.0))
    top, bottom = (0.20, 0.21, 0.23), (0.07, 0.075, 0.085)
    for y in range(c.h):
        for x in range(c.w):
            t = y / (c.h - 1)
            glow = max(0.0, 1.0 - math.hypot((x - 130) / 170.0, (y - 95) / 150.0))
            base = lerp(bottom, top, (1.0 - t) ** 1.4)
            base = lerp(base, (0.30, 0.32, 0.35), 0.35 * glow * glow)
            g = grain(x, y) * 0.035
            c.px[y * c.w + x] = [min(1.0, max(0.0, v + g)) for v in base] + [1.0]
    # The amber rule along the top edge, and a darker groove under it.
    c.shape(*rounded_rect(0, 0, 485, 3, 0), AMBER)
    c.shape(*rounded_rect(0, 3, 485, 1, 0), (0.03, 0.03, 0.035), 0.8)
    # Machined screw heads in the corners of the visible panel.
    for sx, sy in ((12, 14), (248, 14), (12, 450), (248, 450)):
        c.shape(*circle(sx, sy, 4.2), (0.36, 0.37, 0.40))
        c.shape(*circle(sx, sy, 3.2), lambda x, y: lerp((0.55, 0.56, 0.6), (0.25, 0.26, 0.28), (y - sy + 3) / 6))
        c.shape(*segment(sx - 2.2, sy + 2.2, sx + 2.2, sy - 2.2, 0.9), (0.12, 0.12, 0.13))
    # The maker's wordmark, small, beside where the device picture stands.
    text(c, "MARLOW", 22, 30, 7, (0.78, 0.79, 0.82), 1.1, 0.85)
    c.shape(*segment(22, 43, 57, 43, 1.0), AMBER, 0.9)
    text(c, "HALDEN", 22, 48, 6, (0.60, 0.61, 0.64), 0.9, 0.8)
    return c


def device(present):
    c = Canvas(125, 178)
    dim = 1.0 if present else 0.45
    body_top, body_bottom = (0.34, 0.35, 0.38), (0.17, 0.175, 0.19)

    def body(x, y):
        return lerp(body_top, body_bottom, y / 178.0)

    # Shadow, chassis and face plate.
    c.shape(*rounded_rect(4, 6, 119, 170, 9), (0.0, 0.0, 0.0), 0.45 * dim)
    c.shape(*rounded_rect(2, 2, 119, 170, 9), body, dim)
    c.shape(*rounded_rect(6, 6, 111, 162, 6),
            lambda x, y: tuple(v + grain(x, y) * 0.05 for v in lerp((0.52, 0.53, 0.56), (0.40, 0.41, 0.44), y / 178.0)),
            dim)
    # Header strip with name and the status light.
    c.shape(*rounded_rect(10, 10, 103, 16, 3), (0.10, 0.105, 0.115), dim)
    text(c, "HALDEN", 15, 14.5, 7, (0.86, 0.87, 0.9) if present else (0.55, 0.55, 0.58), 1.0, dim)
    led = (0.25, 0.95, 0.35) if present else (0.35, 0.12, 0.10)
    if present:
        c.shape(*circle(104, 18, 6), led, 0.25)
    c.shape(*circle(104, 18, 3), led, dim)
    # Four channel strips: three knobs and a fader each.
    for ch in range(4):
        x = 21 + ch * 27
        c.shape(*rounded_rect(x - 11, 31, 22, 132, 3), (0.30, 0.305, 0.325), 0.55 * dim)
        for k, ky in enumerate((42, 62, 82)):
            cap = (0.16, 0.165, 0.18)
            c.shape(*circle(x, ky + 1.2, 7.2), (0.0, 0.0, 0.0), 0.35 * dim)
            c.shape(*circle(x, ky, 7), lambda px, py, ky=ky: lerp((0.32, 0.33, 0.36), cap, (py - ky + 7) / 14), dim)
            c.shape(*ring(x, ky, 7, 0.8), (0.08, 0.08, 0.09), dim)
            angle = -2.2 + (ch * 3 + k) * 0.37
            pointer = AMBER if (present and k == 0) else (0.85, 0.86, 0.9)
            c.shape(*segment(x, ky, x + 5.2 * math.sin(angle), ky - 5.2 * math.cos(angle), 1.3), pointer, dim)
        c.shape(*rounded_rect(x - 1.5, 98, 3, 56, 1.5), (0.05, 0.05, 0.06), dim)
        fy = 108 + ((ch * 17) % 30)
        c.shape(*rounded_rect(x - 7, fy - 4, 14, 8, 1.5), (0.0, 0.0, 0.0), 0.35 * dim)
        c.shape(*rounded_rect(x - 7, fy - 5, 14, 8, 1.5), (0.78, 0.79, 0.82), dim)
        c.shape(*segment(x - 6, fy - 1, x + 6, fy - 1, 0.8), (0.2, 0.2, 0.22), dim)
        text(c, str(ch + 1), x - 1.8, 156.5, 5, (0.15, 0.15, 0.17), 0.8, dim)
    if not present:
        # A dashed outline around the missing device.
        sdf, _ = rounded_rect(2, 2, 119, 170, 9)
        for y in range(c.h):
            for x in range(c.w):
                d = abs(sdf(x + 0.5, y + 0.5)) - 0.8
                if d < 0.5 and ((x + y) // 6) % 2 == 0:
                    c.blend(x, y, (0.80, 0.30, 0.22), min(1.0, 0.5 - d) * 0.9)
    return c


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.dirname(os.path.abspath(__file__))
    background().png(os.path.join(out, "background.png"), with_alpha=False)
    device(True).png(os.path.join(out, "HaldenExists.png"), with_alpha=True)
    device(False).png(os.path.join(out, "HaldenNotExists.png"), with_alpha=True)


if __name__ == "__main__":
    main()
