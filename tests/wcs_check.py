#!/usr/bin/python3
"""Sky position and width of the status caption against astropy.

Usage: wcs_check.py PELORIN_CONVERT

Builds FITS files with a celestial coordinate system of every kind the caption must read
(made headers, and the headers of the real files shipped with astropy's tests), runs
pelorin-convert --caption on them and compares the caption with astropy:
SkyCoord(wcs.all_pix2world(centre)).transform_to(FK5(equinox='J2000')), where the centre
of the whole image of C x R pixels is the FITS pixel ((C + 1) / 2, (R + 1) / 2), and the
width is the angle between the middles of the left and right edges.

The caption writes the right ascension to 0.1 s and the declination to 1": its text alone
is half a unit off at worst, that is 0.75" cos(dec) and 0.5". The position must lie within
that rounding plus 0.05" of astropy (so well within 1"), the width within 1 % or, for
fields so small that 1 % is below the text's resolution, within 0.5" plus 0.05".

A file for which astropy finds no usable celestial position must show no sky position.
Prints the table of files and differences. Exits 77 (skipped) without astropy.
"""
import glob
import math
import os
import re
import subprocess
import sys
import tempfile
import warnings

from fitsfiles import card, image, save, value_text

SKIP = 77

try:
    import astropy
    import numpy as np
    from astropy import units as u
    from astropy.coordinates import FK5, SkyCoord
    from astropy.io import fits
    from astropy.wcs import WCS
    from astropy.wcs.utils import wcs_to_celestial_frame
except ImportError as exc:
    print(f"skipped: {exc}")
    sys.exit(SKIP)

ASTROPY = os.path.dirname(os.path.abspath(astropy.__file__))
SLACK = 0.05  # arc seconds beyond the rounding of the text

STRUCTURAL = re.compile(
    r"^(SIMPLE|XTENSION|BITPIX|NAXIS\d*|PCOUNT|GCOUNT|EXTEND|BSCALE|BZERO|BLANK|END|"
    r"CHECKSUM|DATASUM|GROUPS|Z[A-Z0-9_]*|TFIELDS|T[A-Z]+\d+|THEAP)$")


def tan(**extra):
    """A TAN header around (150, 30) with the given cards."""
    cards = {"CTYPE1": "RA---TAN", "CTYPE2": "DEC--TAN", "CRVAL1": 150.0, "CRVAL2": 30.0,
             "CRPIX1": 100.5, "CRPIX2": 80.5}
    cards.update(extra)
    return cards


def made_headers():
    """(name, cols, rows, cards) of the headers written for this check."""
    sip = tan(CTYPE1="RA---TAN-SIP", CTYPE2="DEC--TAN-SIP", CRPIX1=300.0, CRPIX2=250.0,
              CD1_1=-2.5e-4, CD1_2=1.0e-5, CD2_1=1.2e-5, CD2_2=2.5e-4, RADESYS="ICRS",
              A_ORDER=2, B_ORDER=2, A_2_0=4e-5, A_1_1=-2e-5, A_0_2=3e-5, B_2_0=-1e-5,
              B_1_1=5e-5, B_0_2=2e-5)
    tpv = tan(CTYPE1="RA---TPV", CTYPE2="DEC--TPV", CRPIX1=500.0, CRPIX2=400.0,
              CD1_1=-7.3e-5, CD1_2=0.0, CD2_1=0.0, CD2_2=7.3e-5, RADESYS="ICRS",
              PV1_0=0.0, PV1_1=1.0, PV1_2=0.0, PV1_4=3e-3, PV1_5=-2e-3, PV1_6=1e-3,
              PV1_7=-5e-2, PV2_0=0.0, PV2_1=1.0, PV2_2=0.0, PV2_4=2e-3, PV2_5=4e-3,
              PV2_6=-1e-3, PV2_7=3e-2)
    rot = math.radians(25.0)
    fk5 = dict(RADESYS="FK5", EQUINOX=2000.0)
    arcmin = dict(CDELT1=-1e-3, CDELT2=1e-3)
    return [
        ("icrs_astropy", 200, 160, tan(RADESYS="ICRS", CDELT1=-5e-4, CDELT2=5e-4,
                                       PC1_1=math.cos(rot), PC1_2=-math.sin(rot),
                                       PC2_1=math.sin(rot), PC2_2=math.cos(rot),
                                       CUNIT1="deg", CUNIT2="deg")),
        ("pc_cdelt_one", 200, 160, tan(**fk5, PC1_1=-2.8e-4,
                                       PC1_2=0.0, PC2_1=0.0, PC2_2=2.8e-4)),
        ("sip", 600, 500, sip),
        ("tpv", 1000, 800, tpv),
        ("azp_12deg", 512, 512, {"CTYPE1": "RA---AZP", "CTYPE2": "DEC--AZP", "CRVAL1": 80.0,
                                 "CRVAL2": -20.0, "CRPIX1": 200.0, "CRPIX2": 300.0,
                                 "CDELT1": -0.025, "CDELT2": 0.025, "PV2_1": 2.0,
                                 "RADESYS": "FK5", "EQUINOX": 2000.0}),
        ("zea_pole", 1000, 900, {"CTYPE1": "RA---ZEA", "CTYPE2": "DEC--ZEA", "CRVAL1": 45.0,
                                 "CRVAL2": 89.0, "CRPIX1": 300.0, "CRPIX2": 350.0,
                                 "CDELT1": -0.005, "CDELT2": 0.005, "RADESYS": "FK5"}),
        ("glon_car", 720, 360, {"CTYPE1": "GLON-CAR", "CTYPE2": "GLAT-CAR", "CRVAL1": 30.0,
                                "CRVAL2": 0.0, "CRPIX1": 200.5, "CRPIX2": 100.5,
                                "CDELT1": -0.05, "CDELT2": 0.05}),
        ("fk4_epoch", 300, 200, tan(RADECSYS="FK4", EPOCH=1950.0, **arcmin)),
        ("no_frame_equinox1950", 300, 200, tan(EQUINOX=1950.0, **arcmin)),
        ("fk4_1900", 300, 200, tan(RADESYS="FK4", EQUINOX=1900.0, **arcmin)),
        ("fk4_no_e", 300, 200, tan(RADESYS="FK4-NO-E", EQUINOX=1950.0, **arcmin)),
        ("fk5_1975", 300, 200, tan(RADESYS="FK5", EQUINOX=1975.0, **arcmin)),
        ("crota2", 400, 300, tan(CRPIX1=100.0, CRPIX2=100.0, CROTA2=30.0, **arcmin, **fk5)),
        ("pc00i00j", 300, 200, tan(PC001001=0.9, PC001002=0.3, PC002001=-0.3,
                                   PC002002=0.9, **arcmin, **fk5)),
        ("tall_300x4500", 300, 4500, tan(CRPIX1=150.5, CRPIX2=2250.5, CDELT1=-2.8e-4,
                                         CDELT2=2.8e-4, **fk5)),
        ("cd_small", 512, 512, tan(CRPIX1=256.5, CRPIX2=256.5, CD1_1=-5e-4, CD1_2=0.0,
                                   CD2_1=0.0, CD2_2=5e-4, **fk5)),
        ("cdelt_small", 120, 100, tan(CRPIX1=20.0, CRPIX2=30.0, CDELT1=-1e-4, CDELT2=1e-4,
                                      **fk5)),
    ]


def read_hdr(path):
    """The cards of a header text file: 80-column records, with or without newlines."""
    with open(path, "rb") as f:
        raw = f.read().decode("latin-1")
    lines = raw.splitlines() if "\n" in raw else [raw[i:i + 80] for i in range(0, len(raw), 80)]
    return [line.ljust(80)[:80] for line in lines]


def real_headers():
    """(name, cols, rows, cards) of astropy's test files with a celestial system."""
    data = os.path.join(ASTROPY, "wcs", "tests", "data")
    headers = []
    for path in sorted(glob.glob(os.path.join(data, "*.fits*")) +
                       glob.glob(os.path.join(ASTROPY, "io", "fits", "tests", "data", "*.fits"))):
        try:
            with warnings.catch_warnings(), fits.open(path) as hdus:
                warnings.simplefilter("ignore")
                headers += [(f"{os.path.basename(path)}[{index}]",
                             [c.image for c in hdu.header.cards],
                             hdu.header.get("NAXIS1", 0), hdu.header.get("NAXIS2", 0))
                            for index, hdu in enumerate(hdus)
                            if not isinstance(hdu, (fits.BinTableHDU, fits.TableHDU))]
        except Exception:  # files astropy itself cannot open are not part of the check
            continue
    for path in sorted(glob.glob(os.path.join(data, "*.hdr")) +
                       glob.glob(os.path.join(data, "maps", "*.hdr"))):
        cards = read_hdr(path)
        size = dict(m.groups() for m in map(re.compile(r"(NAXIS[12]) *= *(\d+)").match, cards) if m)
        headers.append((os.path.basename(path), cards, int(size.get("NAXIS1", 0)),
                        int(size.get("NAXIS2", 0))))
    found = []
    for name, cards, cols, rows in headers:
        kept = [c for c in cards if not STRUCTURAL.match(c[:8].strip())]
        # A header without an image (or a huge one) gets a size of its own: the check is
        # about the centre of whatever is shown.
        if any(c.startswith(("CTYPE1", "PLTRAH")) for c in kept):
            found.append((name, *((cols, rows) if 1 <= cols <= 5000 and 1 <= rows <= 5000
                                  else (200, 150)), kept))
    return found


def parse_caption(text):
    m = re.search(r"  (\d+)x(\d+)  ", text)
    size = (int(m.group(1)), int(m.group(2))) if m else None
    m = re.search(r" ([A-Z]) ar: *(-?\d+)h(\d+)m([\d.]+)s de:([+-])(\d+)\u00b0(\d+)'(\d+)\" "
                  r"l:\+(\d+)\u00b0(\d+)'(\d+)\"$", text)
    if not m:
        return size, None
    g = m.groups()
    ra = (int(g[1]) + int(g[2]) / 60 + float(g[3]) / 3600) * 15
    dec = (int(g[5]) + int(g[6]) / 60 + int(g[7]) / 3600) * (-1 if g[4] == "-" else 1)
    width = int(g[8]) + int(g[9]) / 60 + int(g[10]) / 3600
    return size, (g[0], ra, dec, width)


def reference(path, cols, rows):
    """astropy's FK5 J2000 centre and width, or None when it has no celestial position."""
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")
        try:
            w = WCS(fits.getheader(path))
            frame = wcs_to_celestial_frame(w)
        except Exception:
            return None
        if sorted((w.wcs.lng, w.wcs.lat)) != [0, 1]:
            return None
        y = (rows + 1) / 2

        def at(x):
            pix = [x, y] + [1.0] * (w.naxis - 2)
            world = w.all_pix2world([pix], 1)[0]
            lon, lat = world[w.wcs.lng], world[w.wcs.lat]
            if not (np.isfinite(lon) and np.isfinite(lat)):
                return None
            return SkyCoord(lon * u.deg, lat * u.deg, frame=frame).transform_to(
                FK5(equinox="J2000"))

        try:
            centre, left, right = at((cols + 1) / 2), at(0.5), at(cols + 0.5)
        except Exception:
            return None
    if centre is None or left is None or right is None:
        return None
    return centre, left.separation(right).deg


def main():
    if len(sys.argv) != 2:
        print(__doc__)
        return 2
    convert = sys.argv[1]
    cases = [("made", *h) for h in made_headers()] + [("real", *h) for h in real_headers()]
    failures = []
    rows_out = []
    with tempfile.TemporaryDirectory() as tmp:
        files = []
        for kind, name, cols, rows, cards in cases:
            if isinstance(cards, dict):
                cards = [card(k, value_text(v)) for k, v in cards.items()]
            path = save(os.path.join(tmp, re.sub(r"[^A-Za-z0-9_.-]", "_", name) + ".fits"),
                        image(8, cols, rows, extra=cards))
            files.append((kind, name, path))
        out = subprocess.run([convert, "--caption", "--quiet", "--keep-going", "--dest", tmp,
                              *[p for _, _, p in files]],
                             capture_output=True, timeout=600)
        captions = out.stdout.decode("utf-8").splitlines()
        if len(captions) != len(files):
            print(out.stdout.decode(), out.stderr.decode())
            print(f"expected {len(files)} captions, got {len(captions)}")
            return 1
        for (kind, name, path), caption in zip(files, captions):
            size, shown = parse_caption(caption)
            ref = reference(path, *size) if size else None
            row = [kind, name, caption.split(" bits ")[-1] if shown else "none", "none", "", ""]
            if ref is None or shown is None:
                ok = size is not None and ref is None and shown is None
            else:
                (centre, width), (_, ra, dec, shown_width) = ref, shown
                cosd = math.cos(math.radians(centre.dec.deg))
                dra = ((ra - centre.ra.deg + 180) % 360 - 180) * 3600 * cosd
                ddec = (dec - centre.dec.deg) * 3600
                ok = (abs(dra) <= 0.75 * cosd + SLACK and abs(ddec) <= 0.5 + SLACK and
                      abs(shown_width - width) * 3600 <= max(0.01 * width * 3600, 0.5 + SLACK))
                row[3:] = [f"{centre.ra.deg:.6f} {centre.dec.deg:+.6f}", f"{dra:+.2f} {ddec:+.2f}",
                           f"{100 * (shown_width - width) / width:+.3f}%"]
            rows_out.append(row + ["ok" if ok else "FAIL"])
            if not ok:
                failures.append(f"{name}: caption {caption!r}, astropy " +
                                (f"{ref[0].to_string('hmsdms')} width {ref[1]:.6f}" if ref
                                 else "has no position"))
    print(f"{'':4} {'file':32} {'caption':48} {'astropy ra dec':24}"
          f" {'dRA cos dec, dDec (arcsec)':>14} {'width':>9}")
    for r in rows_out:
        print(f"{r[0]:4} {r[1][:32]:32} {r[2]:48} {r[3]:24} {r[4]:>14} {r[5]:>9} {r[6]}")
    print(f"{len(rows_out)} files, {len(failures)} failures")
    for f in failures:
        print("FAIL", f)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
