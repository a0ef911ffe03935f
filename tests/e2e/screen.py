"""The X display as a user meets it: windows found by title, the mouse, the
keyboard and screenshots, through xdotool and ImageMagick's import.

Everything waits by polling with a deadline; a timeout is a test failure.
"""

import re
import subprocess
import time

POLL_SECONDS = 0.1


class Failure(Exception):
    """A check of the scenario failed; the message says what differed."""


def wait_for(what, probe, timeout=15.0):
    """Polls probe() until it returns something truthy, and returns that."""
    deadline = time.monotonic() + timeout
    while True:
        result = probe()
        if result:
            return result
        if time.monotonic() > deadline:
            raise Failure(f"timed out after {timeout:.0f} s waiting for {what}")
        time.sleep(POLL_SECONDS)


def _xdotool(*args, check=True):
    done = subprocess.run(["xdotool", *map(str, args)], capture_output=True, text=True)
    if check and done.returncode != 0:
        raise Failure(f"xdotool {' '.join(map(str, args))} failed: {done.stderr.strip()}")
    return done.stdout


def find_window(title):
    """The id of a visible window with exactly this title, or None."""
    found = _xdotool("search", "--onlyvisible", "--name", f"^{re.escape(title)}$",
                     check=False).split()
    return int(found[0]) if found else None


def visible_titles():
    """Titles of all visible named windows; the program's windows all have one."""
    titles = []
    for window in _xdotool("search", "--onlyvisible", "--name", ".", check=False).split():
        name = _xdotool("getwindowname", window, check=False).strip()
        if name and name != "Default IME":
            titles.append(name)
    return sorted(titles)


def geometry(window):
    """(x, y, width, height) of a window on the screen. From xwininfo:
    xdotool counts the position of a window inside another one twice."""
    done = subprocess.run(["xwininfo", "-id", str(window)], capture_output=True, text=True)
    if done.returncode != 0:
        raise Failure(f"xwininfo -id {window} failed: {done.stderr.strip()}")
    fields = dict(line.strip().split(":", 1) for line in done.stdout.splitlines() if ":" in line)
    return tuple(int(fields[k]) for k in ("Absolute upper-left X", "Absolute upper-left Y",
                                           "Width", "Height"))


def wait_until_settled(window, timeout=10.0):
    """Waits until a new window keeps one geometry over three polls: Wine maps
    a dialog first and lays it out afterwards."""
    history = []

    def settled():
        history.append(geometry(window))
        return len(history) >= 3 and history[-1] == history[-2] == history[-3]

    wait_for("a window to settle", settled, timeout)
    return history[-1]


def hover(window, x, y):
    """Moves the pointer into a window; without a window manager the keyboard
    follows the pointer."""
    _xdotool("mousemove", "--sync", "--window", window, x, y)


def click(window, x, y):
    hover(window, x, y)
    _xdotool("click", "1")


def type_text(text):
    _xdotool("type", "--delay", "25", text)


def press(*keys):
    _xdotool("key", "--delay", "40", *keys)


class Image:
    """An RGB screenshot, rows top to bottom."""

    def __init__(self, width, height, rgb):
        self.width, self.height, self.rgb = width, height, rgb

    def pixel(self, x, y):
        i = 3 * (y * self.width + x)
        return tuple(self.rgb[i:i + 3])

    def row(self, x, y, width):
        i = 3 * (y * self.width + x)
        return self.rgb[i:i + 3 * width]

    def save_png(self, path):
        ppm = b"P6\n%d %d\n255\n" % (self.width, self.height) + self.rgb
        subprocess.run(["convert", "ppm:-", str(path)], input=ppm, check=True)


def _parse_ppm(data):
    # P6 header: magic, width, height, maximum, each separated by whitespace,
    # with optional comment lines; one whitespace byte before the pixels.
    fields, pos = [], 0
    while len(fields) < 4:
        while data[pos:pos + 1].isspace():
            pos += 1
        if data[pos:pos + 1] == b"#":
            pos = data.index(b"\n", pos)
            continue
        end = pos
        while not data[end:end + 1].isspace():
            end += 1
        fields.append(data[pos:end])
        pos = end
    if fields[0] != b"P6" or fields[3] != b"255":
        raise Failure("screenshot is not an 8-bit PPM")
    width, height = int(fields[1]), int(fields[2])
    rgb = data[pos + 1:pos + 1 + 3 * width * height]
    if len(rgb) != 3 * width * height:
        raise Failure("screenshot cut short")
    return Image(width, height, rgb)


def screenshot(window="root"):
    """The window's pixels as the X server shows them."""
    done = subprocess.run(["import", "-window", str(window), "-depth", "8", "ppm:-"], capture_output=True)
    if done.returncode != 0:
        raise Failure(f"import -window {window} failed: {done.stderr.decode().strip()}")
    return _parse_ppm(done.stdout)


def display_size():
    width, height = _xdotool("getdisplaygeometry").split()
    return int(width), int(height)
