#!/usr/bin/env python3
"""Compares the IAU 1976 precession and the Julian dates of pelorin with ERFA.

Usage: precession_check.py GRID_PROGRAM

GRID_PROGRAM prints lines "P ra0 dec0 jd0 jd1 ra1 dec1" (hours, degrees) and
"J year month day hour jd". For each P line the starting position is turned with
ERFA's precession angles (eraPrec76) as the rotation R3(-z) R2(theta) R3(-zeta), and the
result must lie within one milliarcsecond of ours, with our right ascension in [0, 24).
Each J line must match eraCal2jd plus the hour. Exits 77 (skipped) when ERFA is missing.
"""
import math
import subprocess
import sys

SKIP = 77

try:
    import erfa
    import numpy as np
except ImportError as exc:  # the check needs python3-erfa and numpy
    print(f"skipped: {exc}")
    sys.exit(SKIP)

MAS = math.radians(1.0 / 3600000.0)
MJD0 = 2400000.5


def split(jd):
    """A Julian date as ERFA's two-part form, for full precision."""
    return MJD0, jd - MJD0


def erfa_precess(ra_hours, dec_deg, jd0, jd1):
    zeta, z, theta = erfa.prec76(*split(jd0), *split(jd1))
    r = erfa.ir()
    r = erfa.rz(-zeta, r)
    r = erfa.ry(theta, r)
    r = erfa.rz(-z, r)
    v = erfa.s2c(math.radians(ra_hours * 15.0), math.radians(dec_deg))
    return erfa.c2s(erfa.rxp(r, v))


def main():
    if len(sys.argv) != 2:
        print(__doc__)
        return 2
    out = subprocess.run([sys.argv[1]], check=True, capture_output=True, text=True).stdout
    failures = 0
    positions = dates = 0
    worst = 0.0
    for line in out.splitlines():
        f = line.split()
        if f[0] == "P":
            ra0, dec0, jd0, jd1, ra1, dec1 = map(float, f[1:])
            positions += 1
            if not 0.0 <= ra1 < 24.0:
                print(f"right ascension out of range: {line}")
                failures += 1
            a, d = erfa_precess(ra0, dec0, jd0, jd1)
            sep = erfa.seps(a, d, math.radians(ra1 * 15.0), math.radians(dec1))
            worst = max(worst, float(sep))
            if not sep < MAS:
                print(f"off by {math.degrees(sep) * 3.6e6:.3f} mas: {line}")
                failures += 1
        elif f[0] == "J":
            year, month, day = map(int, f[1:4])
            hour, jd = float(f[4]), float(f[5])
            dates += 1
            d1, d2 = erfa.cal2jd(year, month, day)
            expected = float(d1) + float(d2) + hour / 24.0
            if abs(expected - jd) > 1e-9:
                print(f"Julian date {jd!r}, ERFA {expected!r}: {line}")
                failures += 1
        else:
            print(f"unexpected line: {line}")
            failures += 1
    if positions == 0 or dates == 0:
        print("the grid program printed no positions or no dates")
        failures += 1
    print(f"{positions} positions (worst {math.degrees(worst) * 3.6e6:.6f} mas), "
          f"{dates} dates, {failures} failures")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
