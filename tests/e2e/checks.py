"""Pixel-exact checks of the window against the command line's buffers, and
the evidence kept when one fails."""

import os
import time

import screen
from program import COMPOSITE_AT, MATTE_AT
from screen import Failure, Image

PREVIEW_SIZE = (240, 160)


class Evidence:
    """Screenshots and expected pictures of every failure, in one folder."""

    def __init__(self, folder):
        self.folder = folder
        os.makedirs(folder, exist_ok=True)

    def keep(self, name, image):
        path = os.path.join(self.folder, name + ".png")
        image.save_png(path)
        return path

    def keep_rows(self, name, rows):
        width = len(rows[0]) // 3
        return self.keep(name, Image(width, len(rows), b"".join(rows)))


def shows(image, origin, rows):
    """Whether the image shows rows at origin exactly (fast: whole rows)."""
    ox, oy = origin
    return all(image.row(ox, oy + y, len(want) // 3) == want for y, want in enumerate(rows))


def mismatch(image, origin, rows):
    """None when the image shows rows at origin exactly, else a description
    of the first differing pixel and how many differ."""
    ox, oy = origin
    first, count = None, 0
    for y, want in enumerate(rows):
        got = image.row(ox, oy + y, len(want) // 3)
        if got == want:
            continue
        for x in range(len(want) // 3):
            if got[3 * x:3 * x + 3] != want[3 * x:3 * x + 3]:
                count += 1
                if first is None:
                    first = (x, y, tuple(got[3 * x:3 * x + 3]), tuple(want[3 * x:3 * x + 3]))
    if first is None:
        return None
    x, y, got, want = first
    return (f"{count} pixels differ; first at preview ({x}, {y}) = client "
            f"({ox + x}, {oy + y}): window RGB {got}, expected RGB {want}")


def previews_mismatch(image, composite, matte, offset=(0, 0)):
    """Either preview may be None: not checked."""
    for name, at, rows in (("composite", COMPOSITE_AT, composite), ("matte", MATTE_AT, matte)):
        if rows is None:
            continue
        problem = mismatch(image, (at[0] + offset[0], at[1] + offset[1]), rows)
        if problem:
            return f"{name} preview: {problem}"
    return None


def expect_previews(program, composite, matte, what, evidence, timeout=10.0):
    """Waits until the window shows exactly these previews; on a timeout keeps
    the last screenshot and the expected pictures, and fails."""
    deadline = time.monotonic() + timeout
    while True:
        image = program.screenshot()
        problem = previews_mismatch(image, composite, matte, program.client_origin)
        if problem is None:
            return image
        if time.monotonic() > deadline:
            tag = what.replace(" ", "-")
            shown = evidence.keep(f"{tag}-window", image)
            for name, rows in (("composite", composite), ("matte", matte)):
                if rows is not None:
                    evidence.keep_rows(f"{tag}-expected-{name}", rows)
            evidence.keep(f"{tag}-screen", screen.screenshot())
            raise Failure(f"{what}: {problem} (screenshot {shown})")
        time.sleep(screen.POLL_SECONDS)


def expect_same_previews(program, before, what, evidence, settle=1.5):
    """Checks that the previews stay as in the screenshot `before` for a
    while: a change would show within that time."""
    deadline = time.monotonic() + settle
    composite = _crop(before, COMPOSITE_AT, program.client_origin)
    matte = _crop(before, MATTE_AT, program.client_origin)
    while time.monotonic() < deadline:
        expect_previews(program, composite, matte, what, evidence, timeout=0)
        time.sleep(screen.POLL_SECONDS)


def thumb_centre(image, slider, offset):
    """The x of a trackbar thumb's centre, client coordinates. Only the
    thumb is white a few rows below the slider's top; the channel lies lower."""
    x0, y0, width = slider[0] + offset[0], slider[1] + offset[1] + 6, slider[2]
    white = [x for x in range(x0, x0 + width) if image.pixel(x, y0) == (255, 255, 255)]
    if not white or white[-1] - white[0] + 1 != len(white) or not 4 <= len(white) <= 16:
        return None
    return (white[0] + white[-1]) // 2 - offset[0]


def _crop(image, at, offset):
    x, y = at[0] + offset[0], at[1] + offset[1]
    return [image.row(x, y + j, PREVIEW_SIZE[0]) for j in range(PREVIEW_SIZE[1])]


def solid_rows(rgb):
    width, height = PREVIEW_SIZE
    return [bytes(rgb) * width] * height
