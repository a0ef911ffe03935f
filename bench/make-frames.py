#!/usr/bin/env python3
"""Writes synthetic green-screen frames as 24-bit Targa files.

Each frame is a green backdrop with a slow gradient, a skin-toned disc and
a grey bar that move from frame to frame, with soft edges so that the key
has partly transparent pixels to work on. Rows are built as byte strings,
so a 1920x1080 frame takes a fraction of a second.

    make-frames.py FOLDER COUNT [WIDTH HEIGHT]
"""
import os
import struct
import sys

EDGE = 6  # pixels of soft edge on each side of a shape


def blend(a, b, t):
    return bytes(round(x + (y - x) * t) for x, y in zip(a, b))


def backdrop_pixel(y, height):
    # Blue, green, red: a green that darkens towards the bottom of the frame.
    shade = 150 + (105 * y) // max(1, height - 1)
    return bytes((60, shade, 40))


def span_row(width, spans, back):
    """A row of `back` with [start, end, colour] spans painted in order."""
    row = bytearray(back * width)
    for start, end, colour in spans:
        if end <= 0 or start >= width:
            continue
        for i in range(EDGE):
            t = (i + 1) / (EDGE + 1)
            edge = blend(back, colour, t)
            for x in (start - EDGE + i, end + EDGE - 1 - i):
                if 0 <= x < width:
                    row[3 * x:3 * x + 3] = edge
        lo, hi = max(0, start), min(width, end)
        row[3 * lo:3 * hi] = colour * (hi - lo)
    return bytes(row)


def frame_rows(width, height, index, count):
    phase = index / max(1, count)
    cx = int(width * (0.3 + 0.4 * phase))
    cy = height // 2
    radius = height // 4
    bar_left = int(width * (0.75 - 0.3 * phase))
    bar_right = bar_left + width // 12
    skin = bytes((120, 160, 220))  # blue, green, red
    grey = bytes((128, 128, 128))
    for y in range(height):  # bottom row first, as the file stores it
        back = backdrop_pixel(y, height)
        spans = []
        if height // 6 <= y < height - height // 6:
            spans.append((bar_left, bar_right, grey))
        dy = y - cy
        if abs(dy) < radius:
            half = int((radius * radius - dy * dy) ** 0.5)
            spans.append((cx - half, cx + half, skin))
        yield span_row(width, spans, back)


def write_frame(path, width, height, index, count):
    header = struct.pack("<BBBHHBHHHHBB", 0, 0, 2, 0, 0, 0, 0, 0, width, height, 24, 0)
    with open(path, "wb") as out:
        out.write(header)
        for row in frame_rows(width, height, index, count):
            out.write(row)


def main():
    if len(sys.argv) not in (3, 5):
        sys.exit(__doc__)
    folder, count = sys.argv[1], int(sys.argv[2])
    width, height = (int(sys.argv[3]), int(sys.argv[4])) if len(sys.argv) == 5 else (1920, 1080)
    os.makedirs(folder, exist_ok=True)
    for index in range(count):
        write_frame(os.path.join(folder, "frame%03d.tga" % index), width, height, index, count)


if __name__ == "__main__":
    main()
