#!/usr/bin/env python3
"""Reads the BMP files that bmp_pil_writer writes with PIL, an independent reader, and
compares every pixel with the colour the writer says it holds.

Usage: bmp_pil_check.py <bmp_pil_writer executable>
Exit status 77 (skipped) when PIL is not installed.
"""
import os
import subprocess
import sys
import tempfile

try:
    from PIL import Image
except ImportError:
    print("PIL is not installed: skipped")
    sys.exit(77)


def expand(value, bits):
    """The two ways a reader may widen a 5 or 6-bit channel: repeating the top bits, or
    scaling by 255 / (2^bits - 1) and dropping the fraction. Either is a faithful reading."""
    top = (1 << bits) - 1
    return {(value << (8 - bits)) | (value >> (2 * bits - 8)), value * 255 // top}


def main():
    writer = sys.argv[1]
    failures = 0
    with tempfile.TemporaryDirectory() as folder:
        subprocess.run([writer, folder], check=True)
        names = sorted(n[:-4] for n in os.listdir(folder) if n.endswith(".txt"))
        if len(names) != 8:
            print("expected 8 pictures, found", names)
            return 1
        for name in names:
            with open(os.path.join(folder, name + ".txt")) as f:
                width, height, depth = (int(v) for v in f.readline().split())
                want = [tuple(int(v) for v in line.split()) for line in f]
            image = Image.open(os.path.join(folder, name + ".bmp"))
            image.load()
            if image.size != (width, height):
                print(f"{name}: size {image.size}, expected {(width, height)}")
                failures += 1
                continue
            rgb = image.convert("RGB")
            got = list(rgb.getdata())
            bad = 0
            for i, (g, w) in enumerate(zip(got, want)):
                if depth in (15, 16):
                    # Compare the channels as the file holds them.
                    widths = (5, 5, 5) if depth == 15 else (5, 6, 5)
                    ok = all(gc in expand(wc >> (8 - b), b) for gc, wc, b in zip(g, w, widths))
                else:
                    ok = g == w
                if not ok:
                    if bad < 5:
                        print(f"{name}: pixel {i % width},{i // width}: PIL {g}, expected {w}")
                    bad += 1
            if bad:
                failures += 1
            else:
                print(f"{name}: {width}x{height}, {depth} bits, {len(got)} pixels agree")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
