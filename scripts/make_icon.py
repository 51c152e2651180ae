#!/usr/bin/python3
"""Renders the program icon src/app/pelorin.svg into the PNG icons of the icon theme.

    scripts/make_icon.py

writes src/app/pelorin.png (64 x 64, also built into the program for its windows) and
src/app/pelorin-128.png (128 x 128).

Generation-only dependency: rsvg-convert from Debian's librsvg2-bin
(`apt-get install librsvg2-bin`). The committed PNGs are the product; the build needs nothing.
"""

import os
import shutil
import subprocess
import sys

SIZES = {64: "pelorin.png", 128: "pelorin-128.png"}


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    app = os.path.normpath(os.path.join(here, "..", "src", "app"))
    svg = os.path.join(app, "pelorin.svg")
    tool = shutil.which("rsvg-convert")
    if tool is None:
        sys.exit("make_icon.py: rsvg-convert is missing (apt-get install librsvg2-bin)")
    for size, name in SIZES.items():
        png = os.path.join(app, name)
        subprocess.run(
            [tool, "--width", str(size), "--height", str(size), "--format", "png", "-o", png,
             svg],
            check=True,
        )
        print("wrote %s (%d x %d)" % (png, size, size))


if __name__ == "__main__":
    main()
