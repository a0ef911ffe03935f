"""One run of keyvale.exe under Wine, worked the way a user works it: clicks on
its buttons, the real file dialogs, the keyboard.

Positions are the window's client coordinates, which is what Wine maps as the
window's own X window when no window manager runs.
"""

import os
import re
import subprocess

import screen
from screen import Failure


def _project_version():
    """The version CMake builds into the program, from the one place it is
    written: project(Keyvale VERSION x.y.z) in the top CMakeLists.txt."""
    path = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "CMakeLists.txt")
    with open(path, encoding="utf-8") as f:
        match = re.search(r"project\(Keyvale\s+VERSION\s+(\S+)", f.read())
    if match is None:
        raise RuntimeError(f"no project(Keyvale VERSION ...) in {path}")
    return match.group(1)


TITLE = "Keyvale " + _project_version()
CLIENT_SIZE = (495, 261)     # 501 x 286 outside, less the fixed frame and title bar
COMPOSITE_AT = (4, 4)
MATTE_AT = (250, 4)
CONTRAST_SLIDER = (135, 183, 275, 23)
BUTTONS = {  # centres of the controls
    "Red": (26, 193), "Green": (31, 218), "Blue": (26, 243),
    "Open": (454, 185), "Auto adjust": (454, 210), "Save As": (454, 248),
}
CLOSE_CLICK = (370, 84)     # the middle of the matte preview


def windows_path(path):
    """Wine's file dialogs take Windows paths; Z: is the Linux root."""
    return "Z:" + os.path.abspath(path).replace("/", "\\")


class Program:
    def __init__(self, exe, log, desktop=None):
        # scripts/wine-run --session says where Wine is.
        wine = os.environ["KEYVALE_WINE"]
        command = [wine, "explorer", f"/desktop={desktop}", exe] if desktop else [wine, exe]
        self.process = subprocess.Popen(command, stdout=log, stderr=subprocess.STDOUT)
        self.window = screen.wait_for(f'the window "{TITLE}"', self._main_window, 60)
        # Where the client area starts inside self.window: (0, 0) when Wine
        # maps the client alone; set by the caller when the frame is drawn too.
        self.client_origin = (0, 0)

    def _main_window(self):
        if self.process.poll() is not None:
            raise Failure(f"keyvale.exe ended with code {self.process.returncode} "
                          "before its window appeared")
        return screen.find_window(TITLE)

    def screenshot(self):
        return screen.screenshot(self.window)

    def click(self, button):
        self.click_at(*BUTTONS[button])

    def click_at(self, x, y):
        screen.click(self.window, x + self.client_origin[0], y + self.client_origin[1])

    def is_running(self):
        return self.process.poll() is None and screen.find_window(TITLE) == self.window

    def _dialog(self, title):
        dialog = screen.wait_for(f'the dialog "{title}"', lambda: screen.find_window(title))
        screen.wait_until_settled(dialog)
        return dialog

    def choose_file(self, button, title, path, confirm=False):
        """Clicks Open or Save As and types a path into the real dialog; its
        file-name field has the focus, and the keyboard follows the pointer.
        With confirm, a prompt must follow (overwrite), answered with its
        default button; its title is returned."""
        self.click(button)
        dialog = self._dialog(title)
        screen.hover(dialog, 200, 60)
        screen.type_text(windows_path(path))
        screen.press("Return")
        prompt = self._answer_prompt(title) if confirm else None
        screen.wait_for(f'the dialog "{title}" to close',
                        lambda: screen.find_window(title) is None)
        return prompt

    def _answer_prompt(self, dialog_title):
        # Whatever Wine titles its question: the one new window.
        known = {TITLE, dialog_title}
        title = screen.wait_for(f'a prompt over "{dialog_title}"', lambda: next(
            (t for t in screen.visible_titles() if t not in known), None))
        self.dismiss_box(title)
        return title

    def dismiss_box(self, title):
        """Waits for a message box and closes it with Return: its default
        button (OK, or Yes)."""
        box = self._dialog(title)
        screen.hover(box, 20, 20)
        screen.press("Return")
        screen.wait_for(f'the box "{title}" to close', lambda: screen.find_window(title) is None)

    def close(self, timeout=30.0):
        """Alt+F4 on the main window; returns the process exit code. A click
        on the matte first, as a user would: after a task-modal box no window
        is active, and Alt+F4 goes to the active one. The program ignores
        clicks outside its controls."""
        self.click_at(*CLOSE_CLICK)
        screen.press("alt+F4")
        try:
            return self.process.wait(timeout)
        except subprocess.TimeoutExpired:
            raise Failure(f"keyvale.exe still runs {timeout:.0f} s after Alt+F4") from None

    def kill(self):
        if self.process.poll() is None:
            self.process.kill()
            self.process.wait()
