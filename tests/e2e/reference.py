"""What the program must show and write, from keyvale-cli: `preview` writes
the very buffers the window paints, `key` the file Save As writes."""

import itertools
import os
import subprocess
from concurrent.futures import ThreadPoolExecutor

import targa
from screen import Failure


class Reference:
    def __init__(self, cli, work_dir):
        self.cli, self.work_dir = cli, work_dir
        self._previews = {}
        self._names = itertools.count()

    def _run(self, arguments):
        done = subprocess.run([self.cli, *arguments], capture_output=True, text=True)
        if done.returncode != 0:
            raise Failure(f"keyvale-cli {' '.join(arguments)} failed: {done.stderr.strip()}")
        # The one settings line, e.g. "channel=green contrast=40 offset=20".
        fields = dict(item.split("=", 1) for item in done.stdout.split())
        return fields["channel"], int(fields["contrast"]), int(fields["offset"])

    def preview(self, picture, channel="auto", contrast=None, offset=None, scroll=0):
        """(settings, composite rows, matte rows) as the screen shows them;
        contrast=None with offset=None means --auto-adjust."""
        key = (picture, channel, contrast, offset, scroll)
        if key not in self._previews:
            self._previews[key] = self._make_preview(*key)
        return self._previews[key]

    def _make_preview(self, picture, channel, contrast, offset, scroll):
        stem = os.path.join(self.work_dir, f"reference-{next(self._names)}")
        arguments = ["preview", picture, "--composite", stem + "-c.tga", "--matte", stem + "-m.tga",
                     "--channel", channel, "--scroll", str(scroll)]
        if contrast is None and offset is None:
            arguments.append("--auto-adjust")
        else:
            arguments += ["--contrast", str(contrast), "--offset", str(offset)]
        settings = self._run(arguments)
        result = (settings, targa.screen_rgb_rows(stem + "-c.tga"), targa.screen_rgb_rows(stem + "-m.tga"))
        os.remove(stem + "-c.tga")
        os.remove(stem + "-m.tga")
        return result

    def previews(self, requests):
        """Many previews at once: each is a separate process, and the machine
        has more than one core."""
        with ThreadPoolExecutor(max_workers=2) as pool:
            return list(pool.map(lambda request: self.preview(*request), requests))

    def key(self, picture, output, channel, contrast, offset):
        self._run(["key", picture, output, "--channel", channel,
                   "--contrast", str(contrast), "--offset", str(offset)])
