#!/usr/bin/python3
"""Writes the colour palettes (.lut) and intensity tables (.itt) of the palettes/ folder.

    scripts/make_palettes.py [OUTPUT_DIR]        (default: palettes/ of this repository)

A LUT file has 255 lines, line k = "r g b" (reals in 0..1) for palette entry k; entry 0 is
always black and is not written. An ITT file has 255 lines, line k = the palette index / 255
that display level k is drawn with. The viewer turns every value back into a byte with
round(value * 255), so each value is first snapped to a byte and written as byte / 255 with
six decimals: that reads back as exactly the byte it came from, whatever the rounding of ties.

Output is deterministic: the same files, byte for byte, at every run.

Generation-only dependency: the perceptually uniform maps (viridis, magma, inferno, cividis)
take their colours from matplotlib's published colormap tables (CC0), so regenerating needs
Debian's python3-matplotlib (`apt-get install python3-matplotlib`). The viewer itself needs
nothing: the committed files are the product.
"""

import math
import os
import sys

ENTRIES = 255  # lines per file: entries 1..255


def to_byte(value):
    """A real in 0..1 as the byte the viewer will make of it (round half to even, clamped)."""
    return min(255, max(0, round(value * 255.0)))


def number_text(byte):
    return "%.6f" % (byte / 255.0)


def clamp01(x):
    return min(1.0, max(0.0, x))


# ---------------------------------------------------------------------------------------
# Colour palettes: functions of t in (0, 1] giving (r, g, b) in 0..1.


def ramp(t):
    return (t, t, t)


def heat(t):
    # Black -> red -> yellow -> white, each channel rising in its own third.
    return (clamp01(3.0 * t), clamp01(3.0 * t - 1.0), clamp01(3.0 * t - 2.0))


def hsv_to_rgb(h, s, v):
    h = (h % 1.0) * 6.0
    i = int(math.floor(h))
    f = h - i
    p = v * (1.0 - s)
    q = v * (1.0 - s * f)
    r = v * (1.0 - s * (1.0 - f))
    return [(v, r, p), (q, v, p), (p, v, r), (p, q, v), (r, p, v), (v, p, q)][i % 6]


def rainbow(t):
    # Violet through blue, green and yellow to red; the first few entries fade in from
    # black so that the faintest levels stay dark.
    hue = 0.78 * (1.0 - t)
    value = clamp01(t / 0.08)
    return hsv_to_rgb(hue, 1.0, value)


def cool(t):
    # Cyan -> magenta.
    return (t, 1.0 - t, 1.0)


def ice(t):
    # Black -> deep blue -> cyan -> white.
    return (clamp01(2.0 * t - 1.0), clamp01(1.5 * t - 0.35), clamp01(1.6 * t))


def stairs(t):
    # Eight flat colour bands: a quick contour-like view of the levels.
    colours = [
        (0.10, 0.10, 0.45),
        (0.00, 0.35, 0.85),
        (0.00, 0.70, 0.70),
        (0.10, 0.65, 0.15),
        (0.70, 0.80, 0.10),
        (1.00, 0.60, 0.00),
        (0.90, 0.15, 0.10),
        (1.00, 1.00, 1.00),
    ]
    return colours[min(7, int(t * 8.0))]


def matplotlib_map(name):
    try:
        import matplotlib
    except ImportError:
        sys.exit(
            "make_palettes.py: the %s palette needs python3-matplotlib "
            "(apt-get install python3-matplotlib)" % name
        )
    cmap = matplotlib.colormaps[name]
    if cmap.N != 256:
        sys.exit("make_palettes.py: %s has %d entries, expected 256" % (name, cmap.N))
    # Integer arguments index the 256-entry table directly: entry k of the palette is
    # entry k of the published table (its entry 0 is replaced by black, as in every LUT).
    return lambda t: tuple(cmap(int(round(t * 255.0)))[:3])


LUTS = {
    "ramp": ramp,
    "heat": heat,
    "rainbow": rainbow,
    "cool": cool,
    "ice": ice,
    "stairs": stairs,
}
PUBLISHED_LUTS = ["viridis", "magma", "inferno", "cividis"]


# ---------------------------------------------------------------------------------------
# Intensity tables: functions of t = level / 255 in (0, 1] giving the palette index / 255.


def asinh_stretch(t):
    beta = 10.0
    return math.asinh(beta * t) / math.asinh(beta)


def equal3(t):
    # Three equal steps of the 256 levels (0..85, 86..170, 171..255): black, mid, top.
    level = int(round(t * 255.0))
    return min(2, (3 * level) // 256) / 2.0


ITTS = {
    "4_ramp": lambda t: t,
    # log2(1 + level) / 8: level 255 reaches 1, faint levels are lifted strongly.
    "log": lambda t: math.log(1.0 + 255.0 * t) / math.log(256.0),
    "sqrt": math.sqrt,
    "square": lambda t: t * t,
    "neg": lambda t: 1.0 - t,
    "asinh": asinh_stretch,
    "equal3": equal3,
}


def write_lines(path, lines):
    with open(path, "w", encoding="ascii", newline="\n") as f:
        for line in lines:
            f.write(line + "\n")


def make_lut(path, colour):
    lines = []
    for k in range(1, ENTRIES + 1):
        rgb = colour(k / 255.0)
        lines.append(" ".join(number_text(to_byte(c)) for c in rgb))
    write_lines(path, lines)


def make_itt(path, transfer):
    lines = [number_text(to_byte(transfer(k / 255.0))) for k in range(1, ENTRIES + 1)]
    write_lines(path, lines)


def main(argv):
    here = os.path.dirname(os.path.abspath(__file__))
    out = argv[1] if len(argv) > 1 else os.path.join(here, "..", "palettes")
    os.makedirs(out, exist_ok=True)
    luts = dict(LUTS)
    for name in PUBLISHED_LUTS:
        luts[name] = matplotlib_map(name)
    for name, colour in sorted(luts.items()):
        make_lut(os.path.join(out, name + ".lut"), colour)
    for name, transfer in sorted(ITTS.items()):
        make_itt(os.path.join(out, name + ".itt"), transfer)
    print("wrote %d LUT and %d ITT files to %s" % (len(luts), len(ITTS), os.path.normpath(out)))


if __name__ == "__main__":
    main(sys.argv)
