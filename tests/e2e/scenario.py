"""Keyvale as a user meets it: the real keyvale.exe under Wine on an X display,
worked only through the mouse and the keyboard, with the real file dialogs
and message boxes, and every preview pixel and saved byte compared with what
keyvale-cli computes for the same picture and settings.

Run by run.sh inside scripts/wine-run --session, which provide the display,
the Wine prefix and these variables: KEYVALE_EXE, KEYVALE_CLI,
KEYVALE_E2E_WORK (scratch folder for pictures and files), KEYVALE_E2E_RESULTS
(screenshots; failures leave theirs there), KEYVALE_E2E_SAMPLE (the bundled
sample, for the screenshot of the window) and KEYVALE_WINE (wine64). Exits 0
when every check passes, 1 on the first failure.
"""

import itertools
import os
import sys
import time
import traceback

import checks
import pictures
import screen
from program import CLIENT_SIZE, COMPOSITE_AT, CONTRAST_SLIDER, MATTE_AT, TITLE, Program
from reference import Reference
from screen import Failure

OUTER_SIZE = (501, 286)
DESKTOP_SIZE = (800, 600)
BLACK, WHITE = (0, 0, 0), (255, 255, 255)
CHECKERBOARD_PERIOD = 24  # scrolls before the squares line up again


class Scenario:
    def __init__(self):
        self.exe = os.environ["KEYVALE_EXE"]
        self.work = os.environ["KEYVALE_E2E_WORK"]
        self.results = os.environ["KEYVALE_E2E_RESULTS"]
        self.evidence = checks.Evidence(self.results)
        self.reference = Reference(os.environ["KEYVALE_CLI"], self.work)
        self.log = open(os.path.join(self.results, "wine.log"), "ab")
        self.program = None
        self.started = time.monotonic()
        self.steps = 0  # begun; all but a failing one have passed
        self.contrast = self.offset = None  # the settings the window should show
        self.client_at = None  # where step 1 found the client area on the screen
        self.shot = self._file("shot.tga")
        self.shot_rle = self._file("shot-rle.tga")
        self.bitmap = self._file("not-a-targa.bmp")
        pictures.make_green_screen(self.shot)
        pictures.make_green_screen(self.shot_rle, bits_per_pixel=32, rle=True)
        pictures.make_bitmap(self.bitmap)

    def _file(self, name):
        return os.path.join(self.work, name)

    def step(self, text):
        self.steps += 1
        print(f"[{time.monotonic() - self.started:5.1f} s] {text}", flush=True)

    def start(self, desktop=None):
        self.program = Program(self.exe, self.log, desktop)
        return self.program

    def expect(self, composite, matte, what, timeout=10.0):
        return checks.expect_previews(self.program, composite, matte, what,
                                      self.evidence, timeout)

    def expect_start_up(self, what):
        """The start-up render of the empty preview source: opaque black
        composite, white matte."""
        return self.expect(checks.solid_rows(BLACK), checks.solid_rows(WHITE), what)

    def expect_reference(self, what, picture, channel="auto", contrast=None, offset=None, scroll=0):
        settings, composite, matte = self.reference.preview(picture, channel, contrast, offset, scroll)
        self.expect(composite, matte, what)
        return settings

    def close(self, what):
        code = self.program.close()
        self.program = None
        if code != 0:
            raise Failure(f"{what}: keyvale.exe exited with code {code}, not 0")

    # -- the window frame, and the picture for the documentation ------------

    def frame_in_virtual_desktop(self):
        """Wine draws the frame itself only in its virtual desktop, so the
        outer size is measured there. Last: the virtual desktop's screen size
        outlives it in the Wine server. The picture goes to the docs."""
        self.step("1: virtual desktop: outer size and place; a keyed picture for the docs")
        program = self.start(desktop="e2e,%dx%d" % DESKTOP_SIZE)
        desktop = screen.wait_for("the Wine desktop", lambda: screen.find_window("e2e - Wine desktop"))
        x, y, width, height = screen.wait_until_settled(program.window)
        dx, dy = screen.geometry(desktop)[:2]
        if (width, height) != OUTER_SIZE or (x - dx, y - dy) != _centred(DESKTOP_SIZE):
            raise Failure(f"window frame {width} x {height} at {(x - dx, y - dy)}; expected "
                          f"{OUTER_SIZE[0]} x {OUTER_SIZE[1]} at {_centred(DESKTOP_SIZE)}")
        border = (width - CLIENT_SIZE[0]) // 2  # the fixed frame is as wide on every side
        program.client_origin = (border, height - CLIENT_SIZE[1] - border)
        # Without the virtual desktop the client area stood where this frame
        # around a centred window puts it.
        centred = _centred(screen.display_size())
        client_at = (centred[0] + program.client_origin[0], centred[1] + program.client_origin[1])
        if self.client_at != client_at:
            raise Failure(f"the client area stood at {self.client_at}; a centred window with this "
                          f"frame puts it at {client_at}")
        self.expect_start_up("virtual desktop start-up")
        # The bundled sample makes the friendlier picture.
        picture = os.environ["KEYVALE_E2E_SAMPLE"]
        program.choose_file("Open", "Open", picture)
        self.expect_reference("virtual desktop open", picture)
        self.evidence.keep("keyvale-window", program.screenshot())
        self.close("virtual desktop")

    # -- steps 1 to 5 and 7 --------------------------------------------------

    def start_up(self):
        self.step("1: start-up: window, size, black and white previews")
        program = self.start()
        x, y, width, height = screen.wait_until_settled(program.window)
        if (width, height) != CLIENT_SIZE:
            raise Failure(f"client area {width} x {height}, expected {CLIENT_SIZE[0]} x {CLIENT_SIZE[1]}")
        self.client_at = (x, y)  # checked against the frame in the virtual desktop
        image = self.expect_start_up("start-up")
        self.evidence.keep("step1-start-up", image)

    def open_picture(self):
        self.step("2: Open a green-screen picture: previews as keyvale-cli --channel auto --auto-adjust")
        self.program.choose_file("Open", "Open", self.shot)
        channel, contrast, offset = self.expect_reference("open", self.shot)
        if channel != "green" or contrast == 0:
            raise Failure(f"the test picture should auto-adjust to green with a non-zero Contrast, "
                          f"got {channel} {contrast}/{offset}")
        self.contrast, self.offset = contrast, offset

    def channels(self):
        for channel in ("Red", "Blue", "Green"):
            self.step(f"3: click {channel}: previews as keyvale-cli --channel {channel.lower()} "
                      f"--contrast {self.contrast} --offset {self.offset}")
            self.program.click(channel)
            self.expect_reference(f"click {channel}", self.shot, channel.lower(), self.contrast, self.offset)

    def contrast_by_keyboard(self):
        self.step("4: Contrast slider by keyboard: click its thumb, End, Home, arrows")
        program = self.program
        thumb = checks.thumb_centre(program.screenshot(), CONTRAST_SLIDER, program.client_origin)
        if thumb is None:
            raise Failure(f"no slider thumb found (screenshot {self.evidence.keep('step4-no-thumb', program.screenshot())})")
        program.click_at(thumb, CONTRAST_SLIDER[1] + 10)
        # The pointer stays on the slider, so the keys go to the window.
        moves = ((("End",), 255), (("Home",), 0), (("Right",) * 30 + ("Left",) * 3, 27))
        for keys, contrast in moves:
            screen.press(*keys)
            # End and Home give the extreme mattes, which neighbouring values share.
            self.expect_contrast(contrast, _describe(keys), search=len(keys) > 1)
        self.contrast = contrast

    def expect_contrast(self, contrast, keys, search=False):
        """The matte must be keyvale-cli's at that Contrast, the composite its
        composite after some number of checkerboard scrolls (one per slider
        message, and a key sends more than one)."""
        what = f"after {keys}"
        _, _, matte = self.reference.preview(self.shot, "green", contrast, self.offset)
        try:
            image = self.expect(None, matte, what)
        except Failure as failure:
            matching = self.contrasts_matching(self.program.screenshot())
            raise Failure(f"{failure}; the matte equals keyvale-cli's at Contrast {matching}") from None
        scroll = self.scroll_matching(image, contrast, what)
        print(f"    Contrast {contrast}, Offset {self.offset}, checkerboard scrolled {scroll} (mod 24)")
        if search:
            # Only a matte that no other Contrast gives would show a slider
            # that lands one step off.
            matching = self.contrasts_matching(image)
            if matching != [contrast]:
                raise Failure(f"{what}: the matte equals keyvale-cli's at Contrast {matching}; "
                              f"the test picture should single out {contrast}")
            print(f"    of all 256 Contrast values only {contrast} gives this matte")

    def contrasts_matching(self, image):
        """Every Contrast at which keyvale-cli's matte equals the window's."""
        requests = [(self.shot, "green", c, self.offset) for c in range(256)]
        mattes = [matte for _, _, matte in self.reference.previews(requests)]
        return [c for c in range(256) if checks.shows(image, self._at(MATTE_AT), mattes[c])]

    def scroll_matching(self, image, contrast, what):
        """The checkerboard scroll count (mod 24) at which keyvale-cli's
        composite equals the window's."""
        for scroll in range(CHECKERBOARD_PERIOD):
            _, composite, _ = self.reference.preview(self.shot, "green", contrast, self.offset, scroll)
            if checks.shows(image, self._at(COMPOSITE_AT), composite):
                return scroll
        shown = self.evidence.keep(what.replace(" ", "-") + "-window", image)
        _, composite, _ = self.reference.preview(self.shot, "green", contrast, self.offset, 0)
        problem = checks.mismatch(image, self._at(COMPOSITE_AT), composite)
        raise Failure(f"{what}: the composite equals keyvale-cli's at no scroll count 0..23; "
                      f"at 0: {problem} (screenshot {shown})")

    def _at(self, preview):
        origin = self.program.client_origin
        return preview[0] + origin[0], preview[1] + origin[1]

    def save_as(self):
        self.step("5: Save As a name without extension: NAME.tga as keyvale-cli key writes it")
        expected = self._file("expected.tga")
        self.reference.key(self.shot, expected, "green", self.contrast, self.offset)
        with open(expected, "rb") as f:
            wanted = f.read()
        self.program.choose_file("Save As", "Save As", self._file("keyed"))
        self.expect_file(self._file("keyed.tga"), wanted)
        if os.path.exists(self._file("keyed")):
            raise Failure("Save As also wrote a file without the extension")
        self.step("5: Save As over an existing file: the overwrite prompt, Yes, the file is written")
        with open(self._file("existing.tga"), "wb") as f:
            f.write(b"an older file that the save must replace\n" * 50)
        prompt = self.program.choose_file("Save As", "Save As", self._file("existing.tga"), confirm=True)
        print(f'    overwrite prompt "{prompt}" answered Yes')
        self.expect_file(self._file("existing.tga"), wanted)
        # Save As changes no setting, but its click renders again, and the
        # checkerboard scrolled after the last slider message's render.
        self.expect_contrast(self.contrast, "Save As")

    def expect_file(self, path, wanted, timeout=10.0):
        def written():
            if not os.path.exists(path):
                return None
            with open(path, "rb") as f:
                data = f.read()
            return data if data == wanted else None

        try:
            screen.wait_for(f"{path} to be written", written, timeout)
        except Failure:
            self._explain_file_difference(path, wanted)

    def _explain_file_difference(self, path, wanted):
        if not os.path.exists(path):
            raise Failure(f"Save As did not write {path}") from None
        with open(path, "rb") as f:
            data = f.read()
        first = next((i for i, (a, b) in enumerate(zip(data, wanted)) if a != b), min(len(data), len(wanted)))
        got = data[first] if first < len(data) else "end of file"
        want = wanted[first] if first < len(wanted) else "end of file"
        raise Failure(f"{path} ({len(data)} bytes) differs from keyvale-cli key's file ({len(wanted)} bytes) "
                      f"first at byte {first}: {got} instead of {want}") from None

    # -- step 6, on a fresh start, then 7 again ------------------------------

    def failures(self):
        self.step("6: fresh start: Save As before any Open shows \"Saving Failed\"")
        program = self.start()
        self.expect_start_up("fresh start")
        program.choose_file("Save As", "Save As", self._file("never"))
        program.dismiss_box("Saving Failed")
        if os.path.exists(self._file("never.tga")):
            raise Failure("the failed save wrote never.tga")
        if not program.is_running():
            raise Failure("keyvale.exe did not survive the failed save")
        self.expect_start_up("after the failed save")
        self.step("6: Open a 32-bit run-length-encoded picture, then a file that is not a Targa")
        program.choose_file("Open", "Open", self.shot_rle)
        self.expect_reference("open of the run-length-encoded picture", self.shot_rle)
        before = program.screenshot()
        program.choose_file("Open", "Open", self.bitmap)
        checks.expect_same_previews(program, before, "after opening a non-Targa file", self.evidence)
        if screen.visible_titles() != [TITLE]:
            raise Failure(f"opening a non-Targa file showed windows: {screen.visible_titles()}")
        self.step("6: Save As after that Open reads the refused file again: \"Saving Failed\"")
        program.choose_file("Save As", "Save As", self._file("after-bitmap"))
        program.dismiss_box("Saving Failed")
        self.step("7: close the window (Alt+F4): exit code 0")
        self.close("fresh start")


def _describe(keys):
    """("Right", "Right", "Left") -> "Right x2 Left"."""
    groups = [(key, len(list(run))) for key, run in itertools.groupby(keys)]
    return " ".join(key if count == 1 else f"{key} x{count}" for key, count in groups)


def _centred(screen_size):
    """Where the window's outer top-left goes on a screen of this size."""
    return screen_size[0] // 2 - 250, screen_size[1] // 2 - 155


def run(scenario):
    scenario.start_up()
    scenario.open_picture()
    scenario.channels()
    scenario.contrast_by_keyboard()
    scenario.save_as()
    scenario.step("7: close the window (Alt+F4): exit code 0")
    scenario.close("first run")
    scenario.failures()
    scenario.frame_in_virtual_desktop()


def main():
    scenario = Scenario()
    try:
        run(scenario)
    except Exception as error:  # a failure of any kind leaves its evidence
        if not isinstance(error, Failure):
            traceback.print_exc()
        try:
            print(f"    screen at the failure: {scenario.evidence.keep('failure-screen', screen.screenshot())}")
        except Failure:
            pass
        if scenario.program:
            scenario.program.kill()
        print(f"e2e FAILED: {error}", file=sys.stderr)
        print(f"e2e: {max(scenario.steps - 1, 0)} passed, 1 failed")
        return 1
    print(f"e2e: all checks passed in {time.monotonic() - scenario.started:.0f} s")
    print(f"e2e: {scenario.steps} passed, 0 failed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
