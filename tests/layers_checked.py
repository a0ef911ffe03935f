"""layers_checked.py SOURCE_ROOT

Keeps the folders' layers honest: every #include of ours points down (or
within its own folder), windows.h appears only in app/ and platform/, and
codec headers only in imageio/ and video/. Exits 1 with one line per
include that breaks a rule.
"""

import pathlib
import re
import sys

# What each folder of the product may include of ours, besides itself.
BELOW = {
    "keying": set(),
    "platform": set(),
    "imageio": {"keying", "platform"},
    "video": {"keying", "imageio"},
    "engine": {"keying", "imageio"},
    "cli": {"keying", "imageio", "video", "engine", "platform"},
    "app": {"keying", "imageio", "engine", "platform"},
}
WINDOWS_FOLDERS = {"app", "platform"}
CODEC_FOLDERS = {"imageio", "video"}
CODEC_HEADER = re.compile(r"^(png\.h|pngconf\.h|jpeglib\.h|jerror\.h|libdeflate\.h|tiffio\.h|tiff\.h|wincodec\.h"
                          r"|lib(av|sw)[a-z]+/.*|Imf[A-Za-z]*\.h|Imath[A-Za-z]*\.h|OpenEXR/.*)$")
INCLUDE = re.compile(r'^\s*#\s*include\s*([<"])([^>"]+)[>"]')


def problems(root):
    for folder, allowed in BELOW.items():
        for path in sorted((root / folder).glob("*")):
            if path.suffix not in (".h", ".cpp"):
                continue
            for number, line in enumerate(path.read_text(encoding="utf-8").splitlines(), 1):
                match = INCLUDE.match(line)
                if not match:
                    continue
                where = f"{path.relative_to(root)}:{number}: {match.group(2)}"
                header = match.group(2)
                if match.group(1) == '"' and "/" in header:
                    top = header.split("/")[0]
                    if top in BELOW and top != folder and top not in allowed:
                        yield f"{where}: {folder}/ may not include {top}/"
                if header.lower() == "windows.h" and folder not in WINDOWS_FOLDERS:
                    yield f"{where}: windows.h outside app/ and platform/"
                if CODEC_HEADER.match(header) and folder not in CODEC_FOLDERS | {"platform"}:
                    yield f"{where}: a codec header outside imageio/ and video/"


def main():
    found = list(problems(pathlib.Path(sys.argv[1])))
    for line in found:
        print(line)
    return 1 if found else 0


if __name__ == "__main__":
    sys.exit(main())
