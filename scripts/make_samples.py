#!/usr/bin/python3
"""Writes the sample images of the samples/ folder, all of them synthetic.

    scripts/make_samples.py [OUTPUT_DIR]        (default: samples/ of this repository)

Needs Debian's python3-numpy and python3-pil (both in scripts/install-deps.sh). FITS and PIC
files are written by hand here, byte by byte, so that their layout is exactly the one the
readers expect; the ordinary pictures go through PIL.

Every image is built as an array whose row 0 is the top of the picture as it should be seen.
FITS and PIC files store the bottom row first, so those arrays are written upside down; each
picture carries a feature that shows its orientation (a companion galaxy at the top, a large
crater at the top left, a dark bay, a bright star with spikes...), so a reader that gets the
row order wrong shows a visibly mirrored picture.

Deterministic: fixed seeds and the legacy numpy generator, whose stream never changes.
"""

import math
import os
import struct
import sys

import numpy as np

try:
    from PIL import Image
except ImportError:  # pragma: no cover - reported at the point of use
    Image = None

BLOCK = 2880


# ---------------------------------------------------------------------------------------
# Image building blocks


def grid(h, w):
    y, x = np.mgrid[0:h, 0:w]
    return y.astype(np.float64), x.astype(np.float64)


def fractal(rng, h, w, beta):
    """A smooth random field with a power-law spectrum (cloud-like), zero mean, unit sigma."""
    noise = rng.standard_normal((h, w))
    spectrum = np.fft.rfft2(noise)
    ky = np.fft.fftfreq(h)[:, None]
    kx = np.fft.rfftfreq(w)[None, :]
    k = np.sqrt(kx * kx + ky * ky)
    k[0, 0] = 1.0
    spectrum *= k ** (-beta / 2.0)
    spectrum[0, 0] = 0.0
    field = np.fft.irfft2(spectrum, s=(h, w))
    return (field - field.mean()) / field.std()


def add_star(img, x, y, flux, fwhm, beta=3.0):
    """Adds a Moffat star of total flux `flux` centred on (x, y), clipped to the image."""
    h, w = img.shape[-2:]
    alpha = fwhm / (2.0 * math.sqrt(2.0 ** (1.0 / beta) - 1.0))
    radius = int(math.ceil(max(4.0, 8.0 * fwhm)))
    x0, x1 = max(0, int(x) - radius), min(w, int(x) + radius + 1)
    y0, y1 = max(0, int(y) - radius), min(h, int(y) + radius + 1)
    if x0 >= x1 or y0 >= y1:
        return
    yy, xx = np.mgrid[y0:y1, x0:x1]
    r2 = (xx - x) ** 2 + (yy - y) ** 2
    norm = (beta - 1.0) / (math.pi * alpha * alpha)
    img[..., y0:y1, x0:x1] += flux * norm * (1.0 + r2 / (alpha * alpha)) ** (-beta)


def random_stars(rng, img, count, flux_min, flux_max, fwhm, slope=1.4):
    """Scatters `count` stars with a power-law distribution of fluxes."""
    h, w = img.shape[-2:]
    xs = rng.uniform(0, w, count)
    ys = rng.uniform(0, h, count)
    u = rng.uniform(0.0, 1.0, count)
    fluxes = np.minimum(flux_max, flux_min * (1.0 - u) ** (-1.0 / slope))
    for x, y, f in zip(xs, ys, fluxes):
        add_star(img, x, y, f, fwhm)
    return list(zip(xs, ys, fluxes))


def sersic(r, r_eff, n):
    b = 2.0 * n - 1.0 / 3.0
    return np.exp(-b * ((r / r_eff) ** (1.0 / n) - 1.0))


def elliptic_radius(y, x, cy, cx, axis_ratio, angle_deg):
    a = math.radians(angle_deg)
    dx, dy = x - cx, y - cy
    u = dx * math.cos(a) + dy * math.sin(a)
    v = -dx * math.sin(a) + dy * math.cos(a)
    return np.sqrt(u * u + (v / axis_ratio) ** 2), np.arctan2(v / axis_ratio, u)


# ---------------------------------------------------------------------------------------
# FITS writing


def _fits_real(value):
    """Shortest text that reads back as the same double, with a decimal point and an
    upper-case exponent letter, as fixed-format FITS reals are written."""
    text = repr(float(value)).upper()
    mantissa, _, exponent = text.partition("E")
    if "." not in mantissa:
        mantissa += ".0"
    return mantissa + ("E" + exponent if exponent else "")


class Header:
    """Header cards in fixed format: keyword in columns 1-8, '= ' in 9-10, numbers
    right-aligned to column 30, strings quoted from column 11."""

    def __init__(self):
        self.cards = []

    def _add(self, text):
        if len(text) > 80:
            raise ValueError("card longer than 80 characters: " + text)
        text.encode("ascii")
        self.cards.append(text.ljust(80))

    def value(self, key, value, comment=None):
        if isinstance(value, bool):
            field = ("T" if value else "F").rjust(20)
        elif isinstance(value, (int, np.integer)):
            field = str(int(value)).rjust(20)
        elif isinstance(value, (float, np.floating)):
            field = _fits_real(float(value)).rjust(20)
        else:
            # A '/' inside a string would end the value early for a reader that cuts the
            # card at its first '/', so string values never hold one.
            if "/" in value or "'" in value:
                raise ValueError("string value with '/' or quote: " + value)
            field = ("'" + value.ljust(8) + "'").ljust(20)
        text = key.ljust(8) + "= " + field
        if comment:
            text += " / " + comment
        self._add(text)

    def comment(self, text, key="COMMENT"):
        if "=" in text or "/" in text:
            raise ValueError("commentary text with '=' or '/': " + text)
        self._add(key.ljust(8) + text)

    def bytes(self):
        cards = self.cards + ["END".ljust(80)]
        text = "".join(cards)
        text += " " * (-len(text) % BLOCK)
        return text.encode("ascii")


FITS_DTYPES = {8: ">u1", 16: ">i2", 32: ">i4", -32: ">f4", -64: ">f8"}


def fits_header(bitpix, data):
    """Mandatory cards for `data`, an array of shape (rows, cols) or (planes, rows, cols)."""
    h = Header()
    h.value("SIMPLE", True, "file conforms to FITS standard")
    h.value("BITPIX", bitpix, "bits per data value")
    shape = data.shape
    h.value("NAXIS", len(shape), "number of data axes")
    h.value("NAXIS1", shape[-1], "columns")
    h.value("NAXIS2", shape[-2], "rows")
    if len(shape) == 3:
        h.value("NAXIS3", shape[0], "planes")
    return h


def write_fits(path, header, bitpix, stored):
    """Writes the stored values `stored` (row 0 = top of the picture) bottom row first."""
    stored = np.asarray(stored)
    flipped = stored[..., ::-1, :]
    data = np.ascontiguousarray(flipped).astype(FITS_DTYPES[bitpix]).tobytes()
    data += b"\0" * (-len(data) % BLOCK)
    with open(path, "wb") as f:
        f.write(header.bytes())
        f.write(data)


def to_uint16_offset(physical):
    """Physical values 0..65535 as BITPIX 16 values with BZERO 32768."""
    return (np.clip(np.rint(physical), 0, 65535) - 32768).astype(np.int16)


# ---------------------------------------------------------------------------------------
# The FITS samples


def make_m51(path):
    """A face-on two-armed spiral with a companion at the top (north), in BITPIX 16 with
    BZERO 32768, and no DATAMIN/DATAMAX so the viewer takes its range from the data."""
    rng = np.random.RandomState(5194)
    h, w = 512, 512
    y, x = grid(h, w)
    cy, cx = 280.0, 250.0
    r, theta = elliptic_radius(y, x, cy, cx, 0.85, 25.0)

    disc = np.exp(-r / 60.0)
    pitch = math.radians(24.0)
    spiral_phase = 2.0 * (theta - np.log(np.maximum(r, 3.0) / 12.0) / math.tan(pitch))
    arms = ((1.0 + np.cos(spiral_phase)) / 2.0) ** 4
    # Dust lanes hug the inner edge of each arm.
    lanes = ((1.0 + np.cos(spiral_phase + 0.8)) / 2.0) ** 8
    inner_fade = 1.0 - np.exp(-((r / 22.0) ** 2))
    galaxy = 7000.0 * disc * (0.5 + 2.2 * arms * inner_fade) * (1.0 - 0.5 * lanes * inner_fade)
    galaxy += 30000.0 * sersic(np.maximum(r, 0.5), 10.0, 2.5) / sersic(0.5, 10.0, 2.5)

    # Star-forming knots strung along the arms.
    knots = np.zeros((h, w))
    for _ in range(110):
        rr = rng.uniform(25.0, 170.0)
        arm = rng.randint(2)
        t = math.log(rr / 12.0) / math.tan(pitch) + math.pi * arm + rng.normal(0.0, 0.08)
        u, v = rr * math.cos(t), 0.85 * rr * math.sin(t)
        a = math.radians(25.0)
        kx = cx + u * math.cos(a) - v * math.sin(a)
        ky = cy + u * math.sin(a) + v * math.cos(a)
        add_star(knots, kx, ky, rng.uniform(4000.0, 16000.0) * math.exp(-rr / 150.0), 3.5)
    galaxy += knots

    # The companion, to the north, at the end of a faint tidal plume.
    qx, qy = 212.0, 92.0
    rc, _ = elliptic_radius(y, x, qy, qx, 0.75, -30.0)
    galaxy += 26000.0 * sersic(np.maximum(rc, 0.5), 14.0, 2.0) / sersic(0.5, 14.0, 2.0)
    galaxy += 1500.0 * np.exp(-rc / 30.0) * (1.0 + 0.3 * np.cos(2.0 * np.arctan2(y - qy, x - qx)))

    image = 1200.0 + galaxy
    random_stars(rng, image, 70, 3000.0, 900000.0, 2.6)
    image += rng.normal(0.0, 1.0, (h, w)) * np.sqrt(25.0**2 + 0.6 * np.maximum(image - 1200.0, 0))

    stored = to_uint16_offset(image)
    hd = fits_header(16, stored)
    hd.value("BZERO", 32768.0, "physical = stored + 32768")
    hd.value("BSCALE", 1.0)
    hd.value("OBJECT", "M51 SIMULATION")
    hd.value("TELESCOP", "PELORIN SAMPLES")
    hd.value("EXPTIME", 300.0, "seconds")
    hd.value("CTYPE1", "RA---TAN")
    hd.value("CTYPE2", "DEC--TAN")
    hd.value("CRPIX1", 256.5)
    hd.value("CRPIX2", 256.5)
    hd.value("CRVAL1", 202.4696, "degrees")
    hd.value("CRVAL2", 47.1952, "degrees")
    hd.value("CD1_1", -4.1666667e-4, "degrees per pixel")
    hd.value("CD1_2", 0.0)
    hd.value("CD2_1", 0.0)
    hd.value("CD2_2", 4.1666667e-4, "degrees per pixel")
    hd.value("EQUINOX", 2000.0)
    hd.value("RADECSYS", "FK5")
    hd.comment("Synthetic spiral galaxy with a companion to the north.")
    hd.comment("Made by scripts make_samples.py of Pelorin.")
    write_fits(path, hd, 16, stored)


def make_ngc7000(path):
    """A wide emission-nebula field in 32-bit reals, old-style 1950 header with CDELT and
    CROTA2, and DATAMIN/DATAMAX proposing display thresholds."""
    rng = np.random.RandomState(7000)
    h, w = 480, 640
    y, x = grid(h, w)

    clouds = fractal(rng, h, w, 3.2)
    fine = fractal(rng, h, w, 2.2)
    # A broad glow, brightest left of centre.
    envelope = np.exp(-(((x - 260.0) / 260.0) ** 2 + ((y - 230.0) / 200.0) ** 2))
    emission = envelope * np.exp(0.9 * clouds + 0.25 * fine)

    # A dark cloud cuts in from the right, with a curved edge lit along its rim.
    edge_y = 250.0 + 70.0 * np.sin((x - 380.0) / 110.0) + 12.0 * fine
    depth = np.where(x > 330.0, (y - edge_y) / 18.0, -10.0)
    inside = 1.0 / (1.0 + np.exp(-np.clip(depth, -30, 30)))
    side = 1.0 / (1.0 + np.exp(-np.clip((x - 345.0) / 12.0, -30, 30)))
    absorb = inside * side
    rim = np.exp(-(((y - edge_y) / 6.0) ** 2)) * side * (x > 330.0)
    emission = emission * (1.0 - 0.88 * absorb) + 1.6 * rim * envelope

    image = 200.0 + 2600.0 * emission
    stars = np.zeros((h, w))
    random_stars(rng, stars, 1400, 150.0, 250000.0, 2.1, slope=1.2)
    image += stars * (1.0 - 0.8 * absorb)
    image += rng.normal(0.0, 1.0, (h, w)) * np.sqrt(6.0**2 + 0.5 * np.maximum(image - 200.0, 0))
    data = image.astype(np.float32)

    hd = fits_header(-32, data)
    hd.value("OBJECT", "NGC 7000 SIMULATION")
    hd.value("TELESCOP", "PELORIN SAMPLES")
    hd.value("DATAMIN", 150.0, "proposed low threshold")
    hd.value("DATAMAX", float(np.round(np.percentile(data, 99.7), 1)), "proposed high threshold")
    hd.value("CTYPE1", "RA---TAN")
    hd.value("CTYPE2", "DEC--TAN")
    hd.value("CRPIX1", 320.5)
    hd.value("CRPIX2", 240.5)
    # Field centre, referred to the 1950 equinox.
    hd.value("CRVAL1", 314.3744, "degrees")
    hd.value("CRVAL2", 44.3334, "degrees")
    hd.value("CDELT1", -3.3333333e-3, "degrees per pixel")
    hd.value("CDELT2", 3.3333333e-3, "degrees per pixel")
    hd.value("CROTA2", 12.0, "degrees")
    hd.value("EPOCH", 1950.0)
    hd.comment("Synthetic emission nebula with a dark cloud, equinox 1950.")
    hd.comment("Made by scripts make_samples.py of Pelorin.")
    write_fits(path, hd, -32, data)


def make_cube(path):
    """A three-plane cube: each plane shows a different part of a ring nebula, so that the
    plane choice changes the picture at once."""
    rng = np.random.RandomState(303)
    h, w = 200, 300
    y, x = grid(h, w)
    r, theta = elliptic_radius(y, x, 92.0, 140.0, 0.78, -15.0)

    field = fractal(rng, h, w, 2.6)
    ring = np.exp(-(((r - 52.0) / 9.0) ** 2)) * (1.0 + 0.35 * np.cos(2.0 * theta))
    ring = ring * np.exp(0.2 * field)
    inner = np.exp(-((r / 38.0) ** 4)) * np.exp(0.25 * field)
    halo = np.exp(-r / 70.0)

    planes = np.zeros((3, h, w))
    planes[0] = 12.0 + 190.0 * ring + 25.0 * halo  # outer ring
    planes[1] = 10.0 + 140.0 * inner + 40.0 * ring  # filled inner disc
    planes[2] = 15.0 + 30.0 * halo + 25.0 * inner  # faint glow and the central star
    add_star(planes[2], 140.0, 92.0, 2600.0, 2.2)
    # Field stars with colours: each plane gets its own share of a star's light.
    for _ in range(60):
        sx, sy = rng.uniform(0, w), rng.uniform(0, h)
        flux = 60.0 * (1.0 - rng.uniform()) ** (-1.0 / 1.3)
        colour = rng.dirichlet([1.5, 1.5, 1.5]) * 3.0
        for p in range(3):
            add_star(planes[p], sx, sy, min(flux, 6000.0) * colour[p], 1.8)
    # A red star at the top left, absent from the other planes, marks the orientation.
    add_star(planes[0], 30.0, 22.0, 5000.0, 2.0)
    planes += rng.normal(0.0, 3.0, planes.shape)
    data = np.clip(np.rint(planes), 0, 255).astype(np.uint8)

    hd = fits_header(8, data)
    hd.value("OBJECT", "RING NEBULA SIMULATION")
    hd.value("TELESCOP", "PELORIN SAMPLES")
    hd.value("PLANE1", "RED", "outer ring")
    hd.value("PLANE2", "GREEN", "inner disc")
    hd.value("PLANE3", "BLUE", "central star")
    hd.comment("Synthetic three-plane cube, one colour band per plane.")
    hd.comment("Made by scripts make_samples.py of Pelorin.")
    write_fits(path, hd, 8, data)


def make_galactic_centre(path):
    """The galactic plane around l = 0, b = 0 in galactic coordinates (CAR projection),
    32-bit integers scaled by BSCALE, THRESH/THRESL thresholds and a BLANK corner."""
    rng = np.random.RandomState(17452)
    h, w = 256, 256
    y, x = grid(h, w)
    # Galactic longitude grows to the left, latitude upwards; 0.05 degree per pixel.
    lon = (127.5 - x) * 0.05
    lat = (127.5 - y) * 0.05

    dust = fractal(rng, h, w, 2.8)
    band = np.exp(-np.abs(lat) / 1.1) * (0.6 + 0.4 * np.exp(-np.abs(lon) / 6.0))
    bulge = np.exp(-np.sqrt(lon**2 + (lat / 0.7) ** 2) / 1.6)
    extinction = np.exp(-np.clip(1.6 + 0.9 * dust, 0.0, None) * np.exp(-((lat / 0.7) ** 2)))
    light = (1800.0 * band + 2500.0 * bulge) * extinction

    stars = np.zeros((h, w))
    random_stars(rng, stars, 1500, 300.0, 60000.0, 1.8, slope=1.3)
    stars *= 0.3 + 0.7 * np.exp(-np.abs(lat) / 4.0)
    image = 100.0 + light + stars * (0.4 + 0.6 * extinction)
    image += rng.normal(0.0, 1.0, (h, w)) * np.sqrt(8.0**2 + 0.8 * np.maximum(image - 100.0, 0))

    bscale = 0.01
    blank = -2147483648
    stored = np.rint(image / bscale).astype(np.int64)
    # The survey did not cover the bottom-right corner.
    uncovered = x + y > 2.0 * (w - 1) - 40.0
    uncovered |= (x > w - 18) & (y > h - 60)
    stored[uncovered] = blank
    stored = stored.astype(np.int32)

    hd = fits_header(32, stored)
    hd.value("BZERO", 0.0)
    hd.value("BSCALE", bscale, "physical = 0.01 * stored")
    hd.value("BLANK", blank, "pixels with no data")
    hd.value("OBJECT", "GALACTIC CENTRE SIMULATION")
    hd.value("TELESCOP", "PELORIN SAMPLES")
    hd.value("THRESH", float(np.round(np.percentile(image, 99.5), 0)), "proposed high threshold")
    hd.value("THRESL", float(np.round(np.percentile(image, 2.0), 0)), "proposed low threshold")
    hd.value("CTYPE1", "GLON-CAR")
    hd.value("CTYPE2", "GLAT-CAR")
    hd.value("CRPIX1", 128.5)
    hd.value("CRPIX2", 128.5)
    hd.value("CRVAL1", 0.0, "degrees")
    hd.value("CRVAL2", 0.0, "degrees")
    hd.value("CDELT1", -0.05, "degrees per pixel")
    hd.value("CDELT2", 0.05, "degrees per pixel")
    hd.comment("Synthetic galactic plane around the galactic centre.")
    hd.comment("Made by scripts make_samples.py of Pelorin.")
    write_fits(path, hd, 32, stored)


def make_deep_field(path):
    """A background-subtracted deep field in 64-bit reals (negative noise values included),
    with a rotated PC matrix and SIN projection. DATAMIN/DATAMAX give the full range and the
    THRESL/THRESH cards after them the range worth showing."""
    rng = np.random.RandomState(400)
    h, w = 400, 400
    y, x = grid(h, w)
    image = np.zeros((h, w))

    # Small galaxies: ellipticals and inclined discs at random angles.
    for _ in range(140):
        gx, gy = rng.uniform(0, w), rng.uniform(0, h)
        size = 1.2 + 6.0 * rng.uniform() ** 3
        flux = 40.0 * (1.0 - rng.uniform()) ** (-1.0 / 1.2)
        flux = min(flux, 4000.0)
        q = rng.uniform(0.25, 1.0)
        angle = rng.uniform(0.0, 180.0)
        n = 1.0 if rng.uniform() < 0.6 else 3.0
        y0, y1 = max(0, int(gy - 12 * size)), min(h, int(gy + 12 * size) + 1)
        x0, x1 = max(0, int(gx - 12 * size)), min(w, int(gx + 12 * size) + 1)
        if y0 >= y1 or x0 >= x1:
            continue
        rr, _ = elliptic_radius(y[y0:y1, x0:x1], x[y0:y1, x0:x1], gy, gx, q, angle)
        profile = sersic(np.maximum(rr, 0.3), size, n)
        image[y0:y1, x0:x1] += flux * profile / profile.sum()

    random_stars(rng, image, 45, 60.0, 30000.0, 2.0)
    # A bright star with diffraction spikes near the top left marks the orientation.
    add_star(image, 70.0, 58.0, 400000.0, 2.2)
    for dx, dy in ((1, 0), (0, 1)):
        t = np.arange(-60, 61)
        sx = np.clip(np.rint(70 + dx * t).astype(int), 0, w - 1)
        sy = np.clip(np.rint(58 + dy * t).astype(int), 0, h - 1)
        image[sy, sx] += 900.0 * np.exp(-np.abs(t) / 18.0)

    image += rng.normal(0.0, 1.0, (h, w)) * np.sqrt(1.0 + 0.05 * np.maximum(image, 0))
    data = image.astype(np.float64)

    angle = math.radians(20.0)
    hd = fits_header(-64, data)
    hd.value("OBJECT", "DEEP FIELD SIMULATION")
    hd.value("TELESCOP", "PELORIN SAMPLES")
    hd.value("BUNIT", "COUNTS", "sky subtracted")
    # The true range, then a display proposal: the later threshold cards win.
    hd.value("DATAMIN", float(np.floor(data.min() * 1000.0) / 1000.0), "lowest value")
    hd.value("DATAMAX", float(np.ceil(data.max() * 1000.0) / 1000.0), "highest value")
    hd.value("THRESL", -3.0, "proposed low threshold")
    hd.value("THRESH", 40.0, "proposed high threshold")
    hd.value("CTYPE1", "RA---SIN")
    hd.value("CTYPE2", "DEC--SIN")
    hd.value("CRPIX1", 200.5)
    hd.value("CRPIX2", 200.5)
    hd.value("CRVAL1", 161.25, "degrees")
    hd.value("CRVAL2", 12.5, "degrees")
    hd.value("CDELT1", -2.7777778e-5, "degrees per pixel")
    hd.value("CDELT2", 2.7777778e-5, "degrees per pixel")
    hd.value("PC001001", round(math.cos(angle), 10))
    hd.value("PC001002", round(-math.sin(angle), 10))
    hd.value("PC002001", round(math.sin(angle), 10))
    hd.value("PC002002", round(math.cos(angle), 10))
    hd.value("EQUINOX", 2000.0)
    hd.value("RADECSYS", "FK5")
    hd.comment("Synthetic deep field of faint galaxies and a few stars.")
    hd.comment("Made by scripts make_samples.py of Pelorin.")
    write_fits(path, hd, -64, data)


# ---------------------------------------------------------------------------------------
# PIC sample


PIC_HEADER_SIZE = 290


def _text(value, size):
    raw = value.encode("ascii")
    if len(raw) > size:
        raise ValueError("text too long for its field: " + value)
    return raw + b"\0" * (size - len(raw))


def pic_header(width, height, high, low, fields):
    header = b"".join(
        [
            struct.pack("<BBh", fields["signature"], fields["version"], PIC_HEADER_SIZE),
            _text(fields["imageName"], 32),
            _text(fields["linkedImageName"], 32),
            struct.pack("<hhhh", width, height, 2, 3),  # 16-bit integers, data type 3
            struct.pack("<iii", 0, fields["scaleX"], fields["scaleY"]),
            struct.pack("<hhh", fields["binningX"], fields["binningY"], 1),
            _text(fields["date"], 10),
            _text(fields["time"], 14),
            struct.pack("<hhhh", high, low, 0, 0),
            struct.pack("<i", fields["integrationTime"]),
            _text(fields["comment1"], 80),
            _text(fields["comment2"], 80),
        ]
    )
    assert len(header) == PIC_HEADER_SIZE
    return header


def make_moon(path):
    """A stretch of the lunar surface near the terminator: cratered heights lit by a low
    sun from the left, with cast shadows; the largest crater sits at the top left."""
    rng = np.random.RandomState(1969)
    h, w = 240, 320
    y, x = grid(h, w)
    height = 2.0 * fractal(rng, h, w, 3.6)

    def crater(cx, cy, radius, depth):
        d = np.hypot(x - cx, y - cy) / radius
        bowl = np.where(d < 1.0, -depth * (1.0 - d * d), 0.0)
        rim = 0.35 * depth * np.exp(-(((d - 1.0) / 0.18) ** 2))
        ejecta = np.where(d > 1.0, 0.12 * depth * np.exp(-(d - 1.0) * 2.5), 0.0)
        peak = np.where(radius > 18.0, 0.45 * depth * np.exp(-((d / 0.15) ** 2)), 0.0)
        return bowl + rim + ejecta + peak

    height += crater(70.0, 62.0, 44.0, 26.0)  # the orientation mark
    for _ in range(70):
        radius = 3.0 + 20.0 * rng.uniform() ** 3
        height += crater(rng.uniform(0, w), rng.uniform(0, h), radius, 0.55 * radius)

    # Albedo: dark smooth plains over part of the field.
    plains = fractal(rng, h, w, 4.0)
    albedo = 0.75 - 0.3 / (1.0 + np.exp(-3.0 * (plains - 0.3)))

    # The sun stands to the left, lower and lower towards the terminator on the right.
    terminator = 268.0 + 14.0 * np.sin(y / 23.0) + 4.0 * fractal(rng, h, w, 3.0)
    elevation = np.radians(np.clip(28.0 * (1.0 - x / terminator), -5.0, None))
    gx = np.gradient(height, axis=1)
    gy = np.gradient(height, axis=0)
    normal_len = np.sqrt(gx * gx + gy * gy + 1.0)
    lit = (np.cos(elevation) * -gx + np.sin(elevation)) / normal_len
    lit = np.clip(lit, 0.0, None)

    # Cast shadows: walk each row away from the sun tracking the shadow line.
    shadow = np.zeros((h, w), dtype=bool)
    slope = np.tan(np.clip(elevation, 0.0, None))
    for row in range(h):
        line = -1e9
        for col in range(w):
            line -= slope[row, col]
            if height[row, col] < line - 0.05:
                shadow[row, col] = True
            else:
                line = height[row, col]
    lit[shadow] *= 0.04
    lit[elevation <= 0.0] = 0.0

    image = 300.0 + 30000.0 * albedo * lit
    image += rng.normal(0.0, 1.0, (h, w)) * np.sqrt(40.0**2 + 2.0 * image)
    data = np.clip(np.rint(image), -32768, 32767).astype("<i2")

    fields = {
        "signature": 0x01,
        "version": 0x01,
        "imageName": "MOON_SIM",
        "linkedImageName": "",
        "scaleX": 1,
        "scaleY": 1,
        "binningX": 2,
        "binningY": 2,
        "date": "2024-03-17",
        "time": "21:45:30.25",
        "integrationTime": 20,
        "comment1": "Synthetic lunar terminator with craters, sun from the left",
        "comment2": "Pelorin sample made by scripts make_samples.py",
    }
    header = pic_header(w, h, 24000, 200, fields)
    with open(path, "wb") as f:
        f.write(header)
        f.write(np.ascontiguousarray(data[::-1, :]).tobytes())


# ---------------------------------------------------------------------------------------
# Ordinary pictures


def to_8bit(values, low, high, gamma=1.0):
    scaled = np.clip((values - low) / (high - low), 0.0, 1.0) ** gamma
    return np.rint(scaled * 255.0).astype(np.uint8)


def need_pil():
    if Image is None:
        sys.exit("make_samples.py: the pictures need python3-pil (apt-get install python3-pil)")


def make_m42(path):
    """A colour emission nebula with a bright core, a dark bay on the left and a tight
    group of four stars: 24 bits per pixel."""
    need_pil()
    rng = np.random.RandomState(1976)
    h, w = 180, 240
    y, x = grid(h, w)
    clouds = fractal(rng, h, w, 3.0)
    fine = fractal(rng, h, w, 2.0)
    core = np.exp(-(((x - 130.0) / 38.0) ** 2 + ((y - 80.0) / 30.0) ** 2))
    wings = np.exp(-(((x - 125.0) / 95.0) ** 2 + ((y - 95.0) / 70.0) ** 2))
    gas = (0.55 * wings + core) * np.exp(0.5 * clouds + 0.15 * fine)
    bay_depth = (45.0 - np.hypot(x - 55.0, (y - 85.0) * 1.4)) / 6.0
    bay = 1.0 / (1.0 + np.exp(-np.clip(bay_depth, -30, 30)))
    gas *= 1.0 - 0.85 * bay

    rgb = np.zeros((3, h, w))
    rgb[0] = 1.00 * gas + 0.3 * core
    rgb[1] = 0.35 * gas + 0.55 * core**2
    rgb[2] = 0.55 * gas + 0.35 * core
    core_stars = (
        (128.0, 78.0, 900.0),
        (134.0, 76.0, 650.0),
        (131.0, 83.0, 700.0),
        (126.0, 84.0, 500.0),
    )
    for sx, sy, f in core_stars:
        add_star(rgb, sx, sy, f, 1.6)
    for _ in range(90):
        sx, sy = rng.uniform(0, w), rng.uniform(0, h)
        f = min(800.0, 8.0 * (1.0 - rng.uniform()) ** (-1.0 / 1.3))
        tint = np.array([1.0, 0.9, 0.8]) if rng.uniform() < 0.5 else np.array([0.8, 0.9, 1.0])
        for p in range(3):
            add_star(rgb[p], sx, sy, f * tint[p], 1.4)
    rgb = np.arcsinh(rgb * 4.0) / np.arcsinh(4.0 * 1.6)
    rgb += rng.normal(0.0, 0.01, rgb.shape)
    pixels = to_8bit(rgb, 0.0, 1.0).transpose(1, 2, 0)
    Image.fromarray(np.ascontiguousarray(pixels), "RGB").save(path, format="BMP")


def make_palette8(path):
    """A barred spiral drawn through a colour palette of its own: an 8-bit BMP whose
    256-entry palette is not grey."""
    need_pil()
    rng = np.random.RandomState(88)
    h, w = 150, 200
    y, x = grid(h, w)
    r, theta = elliptic_radius(y, x, 78.0, 96.0, 0.7, 20.0)
    bar = np.exp(-(((r * np.cos(theta)) / 30.0) ** 2 + ((r * np.sin(theta)) / 6.0) ** 2))
    phase = 2.0 * (theta - np.log(np.maximum(r, 2.0) / 25.0) / math.tan(math.radians(22.0)))
    arms = ((1.0 + np.cos(phase)) / 2.0) ** 3 * np.exp(-r / 40.0)
    arms = arms * (1.0 - np.exp(-((r / 24.0) ** 4)))
    light = 0.02 + 0.9 * np.exp(-r / 8.0) + 0.55 * bar + 0.6 * arms + 0.05 * np.exp(-r / 60.0)
    add_star(light, 170.0, 20.0, 25.0, 1.6)
    light += rng.normal(0.0, 0.004, light.shape)
    index = to_8bit(light, 0.0, 0.9, gamma=0.6)

    # Deep blue through violet and orange to pale yellow.
    t = np.arange(256) / 255.0
    palette = np.stack(
        [
            np.clip(1.6 * t - 0.1, 0.0, 1.0),
            np.clip(1.5 * t * t, 0.0, 1.0),
            np.clip(0.25 + 0.9 * np.sin(math.pi * t) - 0.3 * t, 0.0, 1.0),
        ],
        axis=1,
    )
    palette[0] = 0.0
    image = Image.fromarray(index, "P")
    image.putpalette(np.rint(palette * 255.0).astype(np.uint8).ravel().tolist())
    image.save(path, format="BMP")


def make_orion(path):
    """A wide star field with a hunter-like figure of bright stars (a red one at the top
    left, a blue-white one at the bottom right) and a small nebula below the belt."""
    need_pil()
    rng = np.random.RandomState(1054)
    h, w = 200, 300
    y, x = grid(h, w)
    rgb = np.zeros((3, h, w))
    sky_tint = np.array([0.8, 0.9, 1.2])[:, None, None]
    rgb += 0.03 + 0.03 * np.exp(-(((x - 150.0) / 200.0) ** 2)) * sky_tint
    nebula = np.exp(-(((x - 143.0) / 7.0) ** 2 + ((y - 128.0) / 11.0) ** 2))
    rgb[0] += 0.45 * nebula
    rgb[1] += 0.18 * nebula
    rgb[2] += 0.35 * nebula
    figure = [
        (105.0, 45.0, 260.0, (1.0, 0.55, 0.35)),  # red shoulder, top left
        (190.0, 52.0, 160.0, (0.85, 0.9, 1.0)),
        (130.0, 100.0, 150.0, (0.8, 0.9, 1.0)),  # belt
        (150.0, 96.0, 170.0, (0.8, 0.9, 1.0)),
        (170.0, 91.0, 150.0, (0.8, 0.9, 1.0)),
        (112.0, 165.0, 140.0, (0.85, 0.9, 1.0)),
        (200.0, 158.0, 280.0, (0.7, 0.85, 1.0)),  # blue-white foot, bottom right
        (148.0, 22.0, 50.0, (0.9, 0.9, 1.0)),
    ]
    for sx, sy, f, colour in figure:
        for p in range(3):
            add_star(rgb[p], sx, sy, f * colour[p], 1.7)
    for _ in range(260):
        sx, sy = rng.uniform(0, w), rng.uniform(0, h)
        f = min(60.0, 1.5 * (1.0 - rng.uniform()) ** (-1.0 / 1.4))
        tint = rng.uniform(0.8, 1.0, 3)
        for p in range(3):
            add_star(rgb[p], sx, sy, f * tint[p], 1.3)
    rgb += rng.normal(0.0, 0.008, rgb.shape)
    pixels = to_8bit(rgb, 0.0, 1.0, gamma=0.7).transpose(1, 2, 0)
    Image.fromarray(np.ascontiguousarray(pixels), "RGB").save(
        path, format="JPEG", quality=88, optimize=False, progressive=False
    )


def make_pleiades(path):
    """A young cluster of blue stars in a reflection nebula, drawn with a blue palette of
    its own: a GIF of 256 colours."""
    need_pil()
    rng = np.random.RandomState(45)
    h, w = 150, 200
    y, x = grid(h, w)
    light = 0.04 + 0.20 * np.exp(0.6 * fractal(rng, h, w, 2.8)) * np.exp(
        -(((x - 95.0) / 70.0) ** 2 + ((y - 78.0) / 55.0) ** 2)
    )
    members = [
        (88.0, 70.0, 9.0),
        (110.0, 62.0, 6.0),
        (70.0, 52.0, 5.0),
        (126.0, 84.0, 5.5),
        (60.0, 88.0, 4.0),
        (100.0, 96.0, 4.5),
        (137.0, 70.0, 3.5),
        (80.0, 112.0, 3.0),
        (150.0, 40.0, 2.5),
    ]
    for sx, sy, f in members:
        add_star(light, sx, sy, f, 1.8)
        light += 0.18 * f / 9.0 * np.exp(-np.hypot(x - sx, y - sy) / 10.0)
    random_stars(rng, light, 70, 0.15, 2.0, 1.4)
    light += rng.normal(0.0, 0.008, light.shape)
    index = to_8bit(light, 0.0, 1.2, gamma=0.55)

    t = np.arange(256) / 255.0
    palette = np.stack(
        [np.clip(1.4 * t - 0.35, 0, 1), np.clip(1.2 * t - 0.1, 0, 1), np.clip(0.1 + 1.3 * t, 0, 1)],
        axis=1,
    )
    image = Image.fromarray(index, "P")
    image.putpalette(np.rint(palette * 255.0).astype(np.uint8).ravel().tolist())
    image.save(path, format="GIF")


SAMPLES = [
    ("m51_sim.fit", make_m51),
    ("ngc7000_sim.fts", make_ngc7000),
    ("cube_rgb.fits", make_cube),
    ("galactic_centre.fit", make_galactic_centre),
    ("deep_field.fits", make_deep_field),
    ("moon_sim.pic", make_moon),
    ("m42_colour.bmp", make_m42),
    ("palette8.bmp", make_palette8),
    ("orion.jpg", make_orion),
    ("pleiades.gif", make_pleiades),
]


def main(argv):
    here = os.path.dirname(os.path.abspath(__file__))
    out = argv[1] if len(argv) > 1 else os.path.join(here, "..", "samples")
    os.makedirs(out, exist_ok=True)
    total = 0
    for name, make in SAMPLES:
        path = os.path.join(out, name)
        make(path)
        size = os.path.getsize(path)
        total += size
        print("%-22s %9d bytes" % (name, size))
    print("%-22s %9d bytes in %s" % ("total", total, os.path.normpath(out)))


if __name__ == "__main__":
    main(sys.argv)
