#!/usr/bin/env python3
"""Draws the application icon (two relay lanes through a hub) as PNGs at the sizes the
desktop asks for. Pure Python, no imaging library: shapes are signed-distance functions,
each pixel is supersampled and the layers are composited front over back.

Run once after changing the drawing:  python3 res/make-icons.py
"""
import math
import os
import struct
import zlib

SIZES = (16, 24, 32, 48, 64, 128, 256)
OUT_DIR = os.path.join(os.path.dirname(os.path.abspath(__file__)), "icons")


def rounded_rect(px, py, x0, y0, x1, y1, r):
    cx, cy = (x0 + x1) / 2, (y0 + y1) / 2
    hx, hy = (x1 - x0) / 2 - r, (y1 - y0) / 2 - r
    dx, dy = abs(px - cx) - hx, abs(py - cy) - hy
    outside = math.hypot(max(dx, 0.0), max(dy, 0.0))
    return outside + min(max(dx, dy), 0.0) - r


def segment(px, py, ax, ay, bx, by, half_width):
    vx, vy = bx - ax, by - ay
    t = max(0.0, min(1.0, ((px - ax) * vx + (py - ay) * vy) / (vx * vx + vy * vy)))
    return math.hypot(px - ax - t * vx, py - ay - t * vy) - half_width


def triangle(px, py, pts):
    # Distance sign from the three edges; exact enough for coverage at these sizes.
    d = -1e9
    for i in range(3):
        (ax, ay), (bx, by) = pts[i], pts[(i + 1) % 3]
        ex, ey = bx - ax, by - ay
        length = math.hypot(ex, ey)
        d = max(d, ((px - ax) * ey - (py - ay) * ex) / length)
    return d


TOP, BOTTOM = 0.34, 0.66
LANE = 0.04
HEAD = 0.11


def background(px, py):
    return rounded_rect(px, py, 0.06, 0.06, 0.94, 0.94, 0.2)


def lanes(px, py):
    right = min(segment(px, py, 0.17, TOP, 0.74, TOP, LANE),
                triangle(px, py, [(0.72, TOP - HEAD), (0.88, TOP), (0.72, TOP + HEAD)]))
    left = min(segment(px, py, 0.83, BOTTOM, 0.26, BOTTOM, LANE),
               triangle(px, py, [(0.28, BOTTOM + HEAD), (0.12, BOTTOM), (0.28, BOTTOM - HEAD)]))
    return min(right, left)


def hub(px, py):
    return rounded_rect(px, py, 0.405, 0.2, 0.595, 0.8, 0.07)


def mix(a, b, t):
    return tuple(a[i] + (b[i] - a[i]) * t for i in range(3))


def sample(px, py):
    """Colour and alpha of one point, painted back to front."""
    rgb, alpha = (0.0, 0.0, 0.0), 0.0
    layers = []
    if background(px, py) <= 0:
        layers.append(mix((0.17, 0.49, 0.91), (0.07, 0.24, 0.55), py))
    if lanes(px, py) <= 0:
        layers.append((1.0, 1.0, 1.0))
    d = hub(px, py)
    if d <= 0:
        layers.append((0.05, 0.18, 0.43) if d > -0.025 else (1.0, 0.69, 0.13))
    for colour in layers:
        rgb, alpha = colour, 1.0
    return rgb, alpha


def render(size):
    n = 4 if size >= 128 else 8
    rows = []
    for y in range(size):
        row = bytearray([0])  # filter type: none
        for x in range(size):
            r = g = b = a = 0.0
            for sy in range(n):
                for sx in range(n):
                    (cr, cg, cb), ca = sample((x + (sx + 0.5) / n) / size, (y + (sy + 0.5) / n) / size)
                    r, g, b, a = r + cr * ca, g + cg * ca, b + cb * ca, a + ca
            count = n * n
            if a > 0:
                r, g, b = r / a, g / a, b / a  # un-premultiply
            row += bytes(int(round(v * 255)) for v in (r, g, b, a / count))
        rows.append(bytes(row))
    return b"".join(rows)


def png(size, pixels):
    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)

    header = struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)  # 8-bit RGBA
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) +
            chunk(b"IDAT", zlib.compress(pixels, 9)) + chunk(b"IEND", b""))


def main():
    os.makedirs(OUT_DIR, exist_ok=True)
    for size in SIZES:
        path = os.path.join(OUT_DIR, "relvanetiv-%d.png" % size)
        with open(path, "wb") as out:
            out.write(png(size, render(size)))
        print(path)


if __name__ == "__main__":
    main()
