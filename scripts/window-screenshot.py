"""window-screenshot.py KEYVALE_EXE KEYVALE_CLI PICTURE SCREENSHOT.png

Starts keyvale.exe, opens PICTURE through the Open button and the real file
dialog, waits until both previews show exactly what keyvale-cli computes for
it, saves a screenshot of the window and closes it. The window is worked with
the end-to-end test's own helpers (tests/e2e). Runs inside
scripts/wine-run --session, which provides the display and the Wine prefix.
"""

import os
import sys
import tempfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "e2e"))

import checks  # noqa: E402  (found through the path above)
from program import Program  # noqa: E402
from reference import Reference  # noqa: E402
from screen import Failure  # noqa: E402


def photograph(exe, cli, picture, shot, log):
    program = Program(exe, log)
    try:
        program.choose_file("Open", "Open", picture)
        with tempfile.TemporaryDirectory() as work:
            _, composite, matte = Reference(cli, work).preview(picture)
        evidence = checks.Evidence(os.path.dirname(shot))
        image = checks.expect_previews(program, composite, matte, "the opened picture", evidence)
        image.save_png(shot)
        program.close()
    finally:
        program.kill()


def main(arguments):
    if len(arguments) != 4:
        print(__doc__.strip().splitlines()[0], file=sys.stderr)
        return 2
    exe, cli, picture, shot = (os.path.abspath(argument) for argument in arguments)
    with open(os.path.splitext(shot)[0] + "-wine.log", "wb") as log:
        try:
            photograph(exe, cli, picture, shot, log)
        except Failure as failure:
            print(f"window-screenshot: {failure}", file=sys.stderr)
            return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
