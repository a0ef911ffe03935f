"""The pictures the end-to-end test opens in the program.

A green-screen shot drawn here rather than taken from samples/: its soft,
partly transparent edges give the key many alpha values between solid and
clear, so auto adjust picks a non-zero Contrast and Offset, and its subjects
in red, blue and grey make the three key channels give visibly different
previews. Not 3:2 and not 240 x 160, so the stretch to the preview is tested.
"""

import math
import struct

from targa import write_picture

WIDTH, HEIGHT = 317, 203
IMAGE_ID = b"keyvale e2e"  # the keyed file must carry as many zero bytes


def _backdrop(x, y):
    # An uneven screen, as a real one lit from above is.
    return (28 + (x * 7 + y * 3) % 23, 176 + (y * 60) // HEIGHT, 44 + (x % 17))


def _mix(front, back, coverage):
    return tuple(int(f * coverage + b * (1.0 - coverage) + 0.5)
                 for f, b in zip(front, back))


def _ramp(distance_inside, width):
    """Coverage from 0 outside to 1 at `width` pixels inside an edge."""
    return min(1.0, max(0.0, distance_inside / width))


def _pixel(x, y):
    colour = _backdrop(x, y)
    # An orange ball with a wide soft rim.
    inside = 58.0 - math.hypot(x - 96, y - 92)
    colour = _mix((232, 118, 36), colour, _ramp(inside, 9.0))
    # A blue card with feathered edges.
    card = min(x - 196, 292 - x, y - 30, 150 - y)
    colour = _mix((64, 78, 206), colour, _ramp(card, 6.0))
    # A strip of frosted glass: partly transparent all over.
    if 20 <= x < 300 and 166 <= y < 190:
        colour = _mix((250, 250, 250), colour, 0.45)
    return colour


def make_green_screen(path, bits_per_pixel=24, rle=False):
    write_picture(path, WIDTH, HEIGHT, _pixel, bits_per_pixel, rle, IMAGE_ID)


def make_bitmap(path):
    """A valid 2 x 2 Windows bitmap: listed by the open dialog's filter, but
    refused by the program's reader."""
    row = bytes((0, 0, 255, 0, 255, 0)) + b"\0\0"  # padded to 4 bytes
    pixels = row * 2
    info = struct.pack("<IiiHHIIiiII", 40, 2, 2, 1, 24, 0, len(pixels), 2835, 2835, 0, 0)
    header = struct.pack("<2sIHHI", b"BM", 14 + len(info) + len(pixels), 0, 0, 14 + len(info))
    with open(path, "wb") as f:
        f.write(header + info + pixels)
