#!/usr/bin/env python3
"""Draws the bundled sample picture: a figure shot against a green screen.

    scripts/make-sample.py [OUTPUT]    (default: samples/greenscreen.tga)

The picture is 320x240, an uncompressed 24-bit Targa file with the usual
lower-left origin. It carries what makes keying interesting: a slightly uneven
backdrop, soft anti-aliased edges, fine strands of hair, green light spilling
onto the figure's rim, and colours (skin, red, two blues, orange, white, dark
brown) that must stay opaque. The output is the same, byte for byte, on every
run and every Python 3: the only randomness is an integer hash.
"""

import math
import struct
import sys
from pathlib import Path

WIDTH, HEIGHT = 320, 240

SKIN = (224, 172, 140)
HAIR = (62, 38, 28)
SHIRT = (192, 44, 52)
JEANS = (48, 66, 142)
SHOE = (40, 30, 34)
BALL = (84, 152, 228)
BOX = (232, 122, 42)
STRIPE = (244, 240, 236)
EYE = (48, 30, 36)
MOUTH = (150, 48, 56)


# Signed distances in pixels: negative inside a shape, positive outside.
def circle(cx, cy, r):
    return lambda x, y: math.hypot(x - cx, y - cy) - r


def capsule(x0, y0, x1, y1, r):
    dx, dy = x1 - x0, y1 - y0
    length2 = dx * dx + dy * dy

    def distance(x, y):
        t = max(0.0, min(1.0, ((x - x0) * dx + (y - y0) * dy) / length2))
        return math.hypot(x - x0 - t * dx, y - y0 - t * dy) - r
    return distance


def rounded_box(left, top, right, bottom, r):
    cx, cy = (left + right) / 2, (top + bottom) / 2
    hx, hy = (right - left) / 2 - r, (bottom - top) / 2 - r

    def distance(x, y):
        qx, qy = abs(x - cx) - hx, abs(y - cy) - hy
        outside = math.hypot(max(qx, 0.0), max(qy, 0.0))
        return outside + min(max(qx, qy), 0.0) - r
    return distance


def below(shape, limit_y):
    """The part of a shape above the line y = limit_y (y grows downwards)."""
    return lambda x, y: max(shape(x, y), y - limit_y)


def hair_strand(x0, y0, bend, length):
    # A strand one pixel wide: it covers pixels only partly, so it keys to
    # the half-transparent alpha that a real strand of hair gives.
    x1, y1 = x0 + bend, y0 - length
    return capsule(x0, y0, x1, y1, 0.45)


# Painted in order, each over what lies beneath.
FIGURE = [
    (capsule(126, 176, 122, 236, 12), JEANS),
    (capsule(156, 176, 162, 236, 12), JEANS),
    (rounded_box(104, 226, 134, 246, 6), SHOE),
    (rounded_box(150, 226, 180, 246, 6), SHOE),
    (capsule(108, 104, 88, 160, 9), SHIRT),
    (capsule(172, 104, 204, 76, 9), SHIRT),
    (rounded_box(104, 92, 176, 182, 15), SHIRT),
    (rounded_box(133, 76, 147, 96, 4), SKIN),
    (circle(86, 168, 8), SKIN),
    (circle(208, 70, 8), SKIN),
    (circle(222, 50, 15), BALL),
    (circle(140, 60, 21), SKIN),
    (below(circle(140, 54, 23), 50), HAIR),
    (hair_strand(128, 34, -5, 9), HAIR),
    (hair_strand(140, 32, 2, 10), HAIR),
    (hair_strand(150, 34, 6, 8), HAIR),
    (circle(132, 60, 2.2), EYE),
    (circle(148, 60, 2.2), EYE),
    (capsule(134, 71, 146, 71, 1.3), MOUTH),
    (rounded_box(240, 168, 302, 226, 5), BOX),
    (rounded_box(240, 188, 302, 198, 0.5), STRIPE),
]


def noise(x, y):
    """A repeatable value in [-1, 1] for each pixel (an integer hash)."""
    h = (x * 374761393 + y * 668265263) & 0xFFFFFFFF
    h = ((h ^ (h >> 13)) * 1274126177) & 0xFFFFFFFF
    return ((h ^ (h >> 16)) & 0xFFFF) / 32767.5 - 1.0


def backdrop(x, y):
    """A green screen lit a little unevenly: brightest above the centre."""
    falloff = math.hypot((x - 160) / 200, (y - 90) / 180)
    light = 1.0 - 0.16 * falloff * falloff
    grain = 3.0 * noise(x, y)
    return (34 * light + grain, 184 * light + grain, 62 * light + grain)


def coverage(distance):
    """The share of a pixel a shape covers, from its distance at the centre."""
    return max(0.0, min(1.0, 0.5 - distance))


def spill(colour, rim_distance):
    """Green light from the backdrop tints the figure within a few pixels."""
    strength = 0.24 * max(0.0, 1.0 - rim_distance / 3.5)
    r, g, b = colour
    return (r * (1 - strength * 0.3), g + (200 - g) * strength, b * (1 - strength * 0.3))


def pixel(x, y):
    px, py = x + 0.5, y + 0.5
    colour = backdrop(x, y)
    silhouette = min(shape(px, py) for shape, _ in FIGURE)
    for shape, paint in FIGURE:
        share = coverage(shape(px, py))
        if share > 0.0:
            paint = spill(paint, -silhouette)
            colour = tuple(c + (p - c) * share for c, p in zip(colour, paint))
    return tuple(max(0, min(255, int(round(c)))) for c in colour)


def targa_bytes():
    # Image type 2 (uncompressed true colour), 24 bits, descriptor 0: rows
    # from the bottom up, pixels blue-green-red.
    header = struct.pack("<BBBHHBHHHHBB", 0, 0, 2, 0, 0, 0, 0, 0, WIDTH, HEIGHT, 24, 0)
    rows = []
    for y in reversed(range(HEIGHT)):
        row = bytearray()
        for x in range(WIDTH):
            r, g, b = pixel(x, y)
            row += bytes((b, g, r))
        rows.append(bytes(row))
    return header + b"".join(rows)


def main():
    repo = Path(__file__).resolve().parent.parent
    output = Path(sys.argv[1]) if len(sys.argv) > 1 else repo / "samples" / "greenscreen.tga"
    output.parent.mkdir(parents=True, exist_ok=True)
    output.write_bytes(targa_bytes())
    print(f"wrote {output} ({WIDTH}x{HEIGHT}, 24-bit Targa)")


if __name__ == "__main__":
    main()
