#!/usr/bin/env python3
"""Checks the data files bundled with Pelorin: palettes, sample images, desktop entry, icon.

    check_assets.py REPOSITORY_ROOT

The palettes must read back in the viewer exactly as generated (255 lines of '.' decimals
in 0..1, LF line ends, names the viewer can reopen), and every sample must be a well-formed
file of its kind with the header values the viewer's features are meant to show. Only the
standard library is needed; when PIL is importable the pictures are also decoded with it.
Exits 1 when any check fails.
"""

import array
import math
import os
import re
import struct
import sys
import xml.etree.ElementTree as ElementTree

try:
    from PIL import Image
except ImportError:
    Image = None

FAILURES = []
PASSED = [0]


def check(condition, what):
    if condition:
        PASSED[0] += 1
    else:
        FAILURES.append(what)
    return condition


# ---------------------------------------------------------------------------------------
# Palettes

NUMBER = re.compile(r"^[0-9]+\.[0-9]+$")
REQUIRED_LUTS = ["ramp", "heat", "rainbow", "cool", "viridis", "magma", "inferno", "cividis"]
REQUIRED_ITTS = ["4_ramp", "log", "sqrt", "square", "neg"]


def to_byte(value):
    # The viewer's conversion: value * 255 rounded to the nearest integer, halves to even.
    return round(value * 255.0)


def read_table(path, per_line):
    """The rows of a palette file as lists of reals, or None after recording why not."""
    name = os.path.basename(path)
    with open(path, "rb") as f:
        raw = f.read()
    if not check(b"\r" not in raw, name + ": CR in line ends"):
        return None
    if not check(raw.endswith(b"\n"), name + ": last line not ended by LF"):
        return None
    try:
        text = raw.decode("ascii")
    except UnicodeDecodeError:
        check(False, name + ": not plain ASCII")
        return None
    lines = text.split("\n")[:-1]
    if not check(len(lines) == 255, "%s: %d lines instead of 255" % (name, len(lines))):
        return None
    rows = []
    for k, line in enumerate(lines, start=1):
        fields = line.split(" ")
        if not check(len(fields) == per_line, "%s line %d: %r" % (name, k, line)):
            return None
        if not check(all(NUMBER.match(x) and len(x) <= 64 for x in fields),
                     "%s line %d: not plain '.' decimals: %r" % (name, k, line)):
            return None
        values = [float(x) for x in fields]
        if not check(all(0.0 <= v <= 1.0 for v in values),
                     "%s line %d: value outside 0..1: %r" % (name, k, line)):
            return None
        rows.append(values)
    return rows


def luma(rgb):
    return 0.2126 * rgb[0] + 0.7152 * rgb[1] + 0.0722 * rgb[2]


def check_palettes(root):
    folder = os.path.join(root, "palettes")
    names = sorted(os.listdir(folder))
    luts, itts = {}, {}
    for name in names:
        stem, dot, ext = name.partition(".")
        if ext not in ("lut", "itt"):
            continue
        # The viewer lists the part of the name before its first '.', lower-cased, and
        # reopens the file under that name.
        check(stem == stem.lower() and "." not in ext,
              name + ": the viewer would reopen it under another name")
        rows = read_table(os.path.join(folder, name), 3 if ext == "lut" else 1)
        if rows is not None:
            (luts if ext == "lut" else itts)[stem] = rows

    for name in REQUIRED_LUTS:
        check(name in luts, "palette %s.lut missing or malformed" % name)
    for name in REQUIRED_ITTS:
        check(name in itts, "intensity table %s.itt missing or malformed" % name)

    def exact_ramp(rows, name):
        bad = [k for k, row in enumerate(rows, start=1)
               if any(to_byte(v) != k or abs(v - k / 255.0) > 1e-6 for v in row)]
        check(not bad, "%s: lines %s do not read back as their own index" % (name, bad[:5]))

    if "ramp" in luts:
        exact_ramp(luts["ramp"], "ramp.lut")
    if "4_ramp" in itts:
        exact_ramp(itts["4_ramp"], "4_ramp.itt")

    # Maps meant to run from dark to light must not be stored reversed.
    for name in ("heat", "viridis", "magma", "inferno", "cividis", "ramp"):
        if name in luts:
            rows = luts[name]
            check(luma(rows[-1]) - luma(rows[0]) > 0.5, name + ".lut does not run dark to light")

    levels = [k / 255.0 for k in range(1, 256)]
    tables = {name: [row[0] for row in rows] for name, rows in itts.items()}

    def monotonic(values, step):
        return all(step * (b - a) >= 0 for a, b in zip(values, values[1:]))

    if "neg" in tables:
        neg = tables["neg"]
        check(monotonic(neg, -1) and to_byte(neg[0]) == 254 and neg[-1] == 0.0,
              "neg.itt is not the reversed ramp")
    for name in ("log", "sqrt", "square", "asinh"):
        if name in tables:
            t = tables[name]
            check(monotonic(t, 1) and t[-1] == 1.0, name + ".itt does not rise to 1")
    if "sqrt" in tables:
        check(all(v >= x - 0.5 / 255 for v, x in zip(tables["sqrt"], levels)),
              "sqrt.itt falls below the linear ramp")
    if "square" in tables:
        check(all(v <= x + 0.5 / 255 for v, x in zip(tables["square"], levels)),
              "square.itt rises above the linear ramp")
    if "log" in tables and "sqrt" in tables:
        check(tables["log"][0] > tables["sqrt"][0], "log.itt lifts faint levels less than sqrt")
    return luts, itts


# ---------------------------------------------------------------------------------------
# FITS samples

BLOCK = 2880
FITS_TYPES = {8: ("B", 1), 16: ("h", 2), 32: ("i", 4), -32: ("f", 4), -64: ("d", 8)}


def parse_fits(path):
    """Header cards and data of a FITS file, or None after recording why not."""
    name = os.path.basename(path)
    with open(path, "rb") as f:
        raw = f.read()
    if not check(len(raw) % BLOCK == 0 and len(raw) > 0,
                 "%s: size %d is not a multiple of 2880" % (name, len(raw))):
        return None
    cards, end_at = [], None
    for offset in range(0, len(raw), 80):
        card = raw[offset:offset + 80]
        if not check(all(32 <= c <= 126 for c in card), "%s: non-printable card" % name):
            return None
        card = card.decode("ascii")
        if card[:8].strip() == "END":
            end_at = offset
            break
        cards.append(card)
    if not check(end_at is not None, name + ": no END card"):
        return None
    header_end = (end_at // BLOCK + 1) * BLOCK
    check(raw[end_at + 80:header_end].strip(b" ") == b"", name + ": text after END")

    values = {}
    for card in cards:
        key = card[:8].strip()
        if card[8:10] != "= ":
            continue
        # A value ends at the first '/' of the card: a string holding one would be cut.
        text = card[10:].split("/")[0].strip()
        check(text.count("'") in (0, 2), "%s: %s value cut by a '/'" % (name, key))
        values[key] = text
    check([c[:8].strip() for c in cards[:3]] == ["SIMPLE", "BITPIX", "NAXIS"],
          name + ": SIMPLE, BITPIX, NAXIS are not the first cards")
    check(values.get("SIMPLE") == "T", name + ": SIMPLE is not T")

    bitpix = int(values.get("BITPIX", "0"))
    if not check(bitpix in FITS_TYPES, "%s: BITPIX %d" % (name, bitpix)):
        return None
    naxis = int(values.get("NAXIS", "0"))
    axes = [int(values.get("NAXIS%d" % i, "0")) for i in range(1, naxis + 1)]
    code, size = FITS_TYPES[bitpix]
    count = 1
    for n in axes:
        count *= n
    data_blocks = (count * size + BLOCK - 1) // BLOCK
    if not check(len(raw) == header_end + data_blocks * BLOCK,
                 "%s: %d bytes, header and data make %d" %
                 (name, len(raw), header_end + data_blocks * BLOCK)):
        return None
    check(raw[header_end + count * size:].strip(b"\0") == b"", name + ": data padding not zero")
    data = array.array(code)
    data.frombytes(raw[header_end:header_end + count * size])
    if sys.byteorder == "little" and size > 1:
        data.byteswap()
    return values, axes, bitpix, data


def real(values, key):
    text = values.get(key)
    return None if text is None else float(text)


def text_value(values, key):
    text = values.get(key, "")
    return text.strip("'").rstrip() if text.startswith("'") else None


def display_row(data, width, height, row, plane=0):
    """Row `row` counted from the top of the picture: files store the bottom row first."""
    start = (plane * height + (height - 1 - row)) * width
    return data[start:start + width]


def box_median(data, width, height, top, left, size):
    values = []
    for row in range(top, top + size):
        values.extend(display_row(data, width, height, row)[left:left + size])
    values.sort()
    return values[len(values) // 2]


def check_fits_samples(folder):
    parsed = {}
    for name in ("m51_sim.fit", "ngc7000_sim.fts", "cube_rgb.fits", "galactic_centre.fit",
                 "deep_field.fits"):
        path = os.path.join(folder, name)
        if check(os.path.isfile(path), "sample %s missing" % name):
            result = parse_fits(path)
            if result is not None:
                parsed[name] = result

    if "m51_sim.fit" in parsed:
        v, axes, bitpix, data = parsed["m51_sim.fit"]
        check(bitpix == 16 and axes == [512, 512], "m51_sim.fit: not 512 x 512 16-bit")
        check(real(v, "BZERO") == 32768.0 and real(v, "BSCALE") in (None, 1.0),
              "m51_sim.fit: BZERO is not 32768")
        check("DATAMIN" not in v and "DATAMAX" not in v, "m51_sim.fit: proposes thresholds")
        check(text_value(v, "CTYPE1") == "RA---TAN" and text_value(v, "CTYPE2") == "DEC--TAN",
              "m51_sim.fit: not a TAN projection")
        check(all(k in v for k in ("CRPIX1", "CRPIX2", "CRVAL1", "CRVAL2", "CD1_1", "CD1_2",
                                   "CD2_1", "CD2_2")), "m51_sim.fit: CD world coordinates missing")
        check(real(v, "EQUINOX") == 2000.0 and text_value(v, "RADECSYS") == "FK5",
              "m51_sim.fit: not FK5 J2000")
        # The companion galaxy sits at the top: bright there, plain sky at the mirrored place.
        top = box_median(data, 512, 512, 80, 200, 24)
        mirrored = box_median(data, 512, 512, 512 - 80 - 24, 200, 24)
        check(top - mirrored > 1000, "m51_sim.fit: companion not at the top (rows reversed?)")

    if "ngc7000_sim.fts" in parsed:
        v, axes, bitpix, data = parsed["ngc7000_sim.fts"]
        check(bitpix == -32 and axes == [640, 480], "ngc7000_sim.fts: not 640 x 480 32-bit real")
        check(real(v, "CDELT1") < 0 < real(v, "CDELT2") and "CROTA2" in v,
              "ngc7000_sim.fts: increments or rotation wrong")
        check(real(v, "EPOCH") == 1950.0, "ngc7000_sim.fts: not equinox 1950")
        low, high = real(v, "DATAMIN"), real(v, "DATAMAX")
        if check(low is not None and high is not None and low < high,
                 "ngc7000_sim.fts: DATAMIN/DATAMAX missing"):
            inside = sum(1 for x in data if low <= x <= high)
            check(inside > 0.95 * len(data), "ngc7000_sim.fts: thresholds miss the data")
        check(all(math.isfinite(x) for x in data), "ngc7000_sim.fts: non-finite values")

    if "cube_rgb.fits" in parsed:
        v, axes, bitpix, data = parsed["cube_rgb.fits"]
        if check(bitpix == 8 and axes == [300, 200, 3], "cube_rgb.fits: not 300 x 200 x 3 8-bit"):
            n = 300 * 200
            planes = [data[i * n:(i + 1) * n] for i in range(3)]
            for a, b in ((0, 1), (0, 2), (1, 2)):
                diff = sum(abs(x - y) for x, y in zip(planes[a], planes[b])) / n
                check(diff > 5.0, "cube_rgb.fits: planes %d and %d alike" % (a + 1, b + 1))

    if "galactic_centre.fit" in parsed:
        v, axes, bitpix, data = parsed["galactic_centre.fit"]
        check(bitpix == 32 and axes == [256, 256], "galactic_centre.fit: not 256 x 256 32-bit")
        check(text_value(v, "CTYPE1") == "GLON-CAR" and text_value(v, "CTYPE2") == "GLAT-CAR",
              "galactic_centre.fit: not galactic CAR")
        check(real(v, "CRVAL1") == 0.0 and real(v, "CRVAL2") == 0.0
              and "CDELT1" in v and "CDELT2" in v, "galactic_centre.fit: not centred on 0, 0")
        blank = real(v, "BLANK")
        check(blank is not None and blank in data, "galactic_centre.fit: no BLANK pixels")
        check(real(v, "THRESL") < real(v, "THRESH"), "galactic_centre.fit: thresholds")
        # The plane runs across the middle rows: far brighter than the top rows.
        middle = box_median(data, 256, 256, 120, 100, 16)
        top = box_median(data, 256, 256, 4, 100, 16)
        check(middle > 2 * top, "galactic_centre.fit: no bright band across the middle")

    if "deep_field.fits" in parsed:
        v, axes, bitpix, data = parsed["deep_field.fits"]
        check(bitpix == -64 and axes == [400, 400], "deep_field.fits: not 400 x 400 64-bit real")
        check(all(k in v for k in ("PC001001", "PC001002", "PC002001", "PC002002")),
              "deep_field.fits: PC matrix missing")
        check(all(math.isfinite(x) for x in data) and min(data) < 0.0,
              "deep_field.fits: values not finite or sky not subtracted")
        # Full range first, display proposal after it: the later cards are the ones used.
        check(real(v, "DATAMIN") <= min(data) and real(v, "DATAMAX") >= max(data),
              "deep_field.fits: DATAMIN/DATAMAX are not the data range")
        check(real(v, "DATAMIN") < real(v, "THRESL") < real(v, "THRESH") < real(v, "DATAMAX"),
              "deep_field.fits: THRESL/THRESH do not narrow the range")
        # The brightest star, the orientation mark, is in the top-left quarter.
        index = max(range(len(data)), key=data.__getitem__)
        row, col = 399 - index // 400, index % 400
        check(row < 200 and col < 200, "deep_field.fits: brightest star not at the top left")


# ---------------------------------------------------------------------------------------
# PIC sample


def check_pic(folder):
    path = os.path.join(folder, "moon_sim.pic")
    if not check(os.path.isfile(path), "sample moon_sim.pic missing"):
        return
    with open(path, "rb") as f:
        raw = f.read()
    if not check(len(raw) >= 290, "moon_sim.pic: shorter than its header"):
        return
    header_size, = struct.unpack_from("<h", raw, 2)
    columns, rows, length, kind = struct.unpack_from("<hhhh", raw, 68)
    high, low = struct.unpack_from("<hh", raw, 118)
    check(header_size == 290, "moon_sim.pic: header size field %d" % header_size)
    check(kind == 3 and length == 2, "moon_sim.pic: data type %d length %d" % (kind, length))
    check((columns, rows) == (320, 240), "moon_sim.pic: %d x %d" % (columns, rows))
    check(len(raw) == 290 + columns * rows * 2, "moon_sim.pic: size does not match the header")
    check(0 <= low < high, "moon_sim.pic: thresholds %d %d" % (low, high))
    for offset, size, what in ((4, 32, "image name"), (94, 10, "date"), (104, 14, "time"),
                               (130, 80, "comment 1"), (210, 80, "comment 2")):
        field = raw[offset:offset + size]
        text = field.split(b"\0")[0]
        check(text and all(32 <= c <= 126 for c in text)
              and field[len(text):].strip(b"\0") == b"", "moon_sim.pic: %s field" % what)
    pixels = array.array("h")
    pixels.frombytes(raw[290:])
    if sys.byteorder == "big":
        pixels.byteswap()
    inside = sum(1 for x in pixels if low <= x <= high)
    check(inside > 0.8 * len(pixels), "moon_sim.pic: thresholds miss the data")
    # Night falls on the right: the right edge is darker than the left half.
    left = sum(pixels[r * 320 + c] for r in range(240) for c in range(0, 160)) / (240 * 160)
    right = sum(pixels[r * 320 + c] for r in range(240) for c in range(300, 320)) / (240 * 20)
    check(right < 0.2 * left, "moon_sim.pic: no terminator on the right")


# ---------------------------------------------------------------------------------------
# Pictures


def bmp_info(raw):
    if raw[:2] != b"BM" or len(raw) < 54:
        return None
    size, offset = struct.unpack_from("<I4xI", raw, 2)
    header, width, height, planes, bpp, compression = struct.unpack_from("<IiiHHI", raw, 14)
    colours, = struct.unpack_from("<I", raw, 46)
    return dict(size=size, offset=offset, header=header, width=width, height=height,
                planes=planes, bpp=bpp, compression=compression, colours=colours)


def jpeg_size(raw):
    pos = 2
    while pos + 4 <= len(raw):
        if raw[pos] != 0xFF:
            return None
        marker, length = raw[pos + 1], struct.unpack_from(">H", raw, pos + 2)[0]
        if marker in (0xC0, 0xC1, 0xC2):
            height, width = struct.unpack_from(">HH", raw, pos + 5)
            return width, height, raw[pos + 9]
        pos += 2 + length
    return None


def check_pictures(folder):
    def load(name):
        path = os.path.join(folder, name)
        if not check(os.path.isfile(path), "sample %s missing" % name):
            return None
        with open(path, "rb") as f:
            return f.read()

    def small(name, width, height):
        check(0 < width <= 300 and 0 < height <= 200, "%s: %d x %d" % (name, width, height))

    for name, bpp in (("m42_colour.bmp", 24), ("palette8.bmp", 8)):
        raw = load(name)
        if raw is None:
            continue
        info = bmp_info(raw)
        if not check(info is not None, name + ": not a BMP file"):
            continue
        check(info["size"] == len(raw) and info["header"] == 40 and info["planes"] == 1
              and info["compression"] == 0, name + ": malformed BMP header")
        check(info["bpp"] == bpp, "%s: %d bits per pixel" % (name, info["bpp"]))
        width, height = info["width"], abs(info["height"])
        small(name, width, height)
        stride = (width * info["bpp"] + 31) // 32 * 4
        check(info["offset"] + stride * height <= len(raw), name + ": pixel data cut short")
        if bpp == 8:
            count = info["colours"] or 256
            entries = [raw[54 + 4 * i:57 + 4 * i] for i in range(count)]
            check(any(not (e[0] == e[1] == e[2]) for e in entries), name + ": grey palette")

    raw = load("orion.jpg")
    if raw is not None:
        check(raw[:2] == b"\xff\xd8" and raw[-2:] == b"\xff\xd9", "orion.jpg: not a JPEG file")
        found = jpeg_size(raw)
        if check(found is not None, "orion.jpg: no frame header"):
            small("orion.jpg", found[0], found[1])
            check(found[2] == 3, "orion.jpg: not a colour picture")

    raw = load("pleiades.gif")
    if raw is not None:
        check(raw[:6] in (b"GIF87a", b"GIF89a") and raw[-1:] == b";", "pleiades.gif: not a GIF")
        width, height = struct.unpack_from("<HH", raw, 6)
        small("pleiades.gif", width, height)

    if Image is None:
        print("note: PIL is not importable here; the pictures were checked by their headers only")
        return
    for name, mode in (("m42_colour.bmp", "RGB"), ("palette8.bmp", "P"), ("orion.jpg", "RGB"),
                       ("pleiades.gif", "P")):
        path = os.path.join(folder, name)
        if not os.path.isfile(path):
            continue
        try:
            with Image.open(path) as picture:
                picture.load()
                check(picture.mode == mode, "%s: PIL mode %s" % (name, picture.mode))
                small(name, *picture.size)
                extrema = picture.convert("L").getextrema()
                check(extrema[1] - extrema[0] > 100, name + ": flat picture")
        except Exception as error:  # any decoder complaint is a malformed sample
            check(False, "%s: PIL cannot read it: %s" % (name, error))


def check_samples(root):
    folder = os.path.join(root, "samples")
    check_fits_samples(folder)
    check_pic(folder)
    check_pictures(folder)
    total = sum(os.path.getsize(os.path.join(folder, n)) for n in os.listdir(folder))
    check(total < 4500000, "samples: %d bytes, too big to bundle" % total)


# ---------------------------------------------------------------------------------------
# Desktop entry and icon


def check_desktop(root):
    app = os.path.join(root, "src", "app")
    path = os.path.join(app, "pelorin.desktop")
    if check(os.path.isfile(path), "pelorin.desktop missing"):
        with open(path, encoding="utf-8") as f:
            lines = f.read().splitlines()
        check(lines and lines[0] == "[Desktop Entry]", "pelorin.desktop: no [Desktop Entry]")
        entries = dict(line.split("=", 1) for line in lines[1:] if "=" in line)
        for key, expected in (("Type", "Application"), ("Name", "Pelorin"),
                              ("Exec", "pelorin %F"), ("Icon", "pelorin")):
            check(entries.get(key) == expected, "pelorin.desktop: %s" % key)
        check("GenericName" in entries and "GenericName[fr]" in entries,
              "pelorin.desktop: GenericName in English and French")
        check("image/fits" in entries.get("MimeType", "").split(";"),
              "pelorin.desktop: image/fits not in MimeType")
        check(entries.get("Categories", "").endswith(";"), "pelorin.desktop: Categories")

    path = os.path.join(app, "pelorin.svg")
    if check(os.path.isfile(path), "pelorin.svg missing"):
        try:
            root_element = ElementTree.parse(path).getroot()
            check(root_element.tag == "{http://www.w3.org/2000/svg}svg", "pelorin.svg: not SVG")
        except ElementTree.ParseError as error:
            check(False, "pelorin.svg: %s" % error)

    for name, size in (("pelorin.png", 64), ("pelorin-128.png", 128)):
        path = os.path.join(app, name)
        if check(os.path.isfile(path), name + " missing"):
            with open(path, "rb") as f:
                raw = f.read(32)
            check(raw[:8] == b"\x89PNG\r\n\x1a\n" and raw[12:16] == b"IHDR"
                  and struct.unpack_from(">II", raw, 16) == (size, size),
                  "%s: not a %dx%d PNG" % (name, size, size))


def main(argv):
    root = argv[1] if len(argv) > 1 else os.path.join(os.path.dirname(__file__), "..")
    check_palettes(root)
    check_samples(root)
    check_desktop(root)
    for failure in FAILURES:
        print("FAIL: " + failure)
    print("assets: %d checks passed, %d failed" % (PASSED[0], len(FAILURES)))
    return 1 if FAILURES else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
