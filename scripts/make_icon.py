#!/usr/bin/python3
"""Renders the program icon src/app/pelorin.svg into the 64 x 64 PNG src/app/pelorin.png.

    scripts/make_icon.py [SIZE]        (default: 64)

Generation-only dependency: rsvg-convert from Debian's librsvg2-bin
(`apt-get install librsvg2-bin`). The committed PNG is the product; the build needs nothing.
"""

import os
import shutil
import subprocess
import sys


def main(argv):
    size = int(argv[1]) if len(argv) > 1 else 64
    here = os.path.dirname(os.path.abspath(__file__))
    app = os.path.normpath(os.path.join(here, "..", "src", "app"))
    svg = os.path.join(app, "pelorin.svg")
    png = os.path.join(app, "pelorin.png")
    tool = shutil.which("rsvg-convert")
    if tool is None:
        sys.exit("make_icon.py: rsvg-convert is missing (apt-get install librsvg2-bin)")
    subprocess.run(
        [tool, "--width", str(size), "--height", str(size), "--format", "png", "-o", png, svg],
        check=True,
    )
    print("wrote %s (%d x %d)" % (png, size, size))


if __name__ == "__main__":
    main(sys.argv)
