#!/usr/bin/python3
"""The zscale thresholds of pelorin-convert against astropy's ZScaleInterval.

Usage: zscale_check.py PELORIN_CONVERT PALETTES_DIR
Builds FITS files (BLANK values, NaN, scaled integers, a large frame with stars, a cube),
adds the real images shipped with astropy's tests, runs
`pelorin-convert --levels --mode zscale` on all of them and checks that both thresholds lie
within 5 % of the zscale range of astropy's limits, computed on the physical values of the
plane shown with the undefined pixels left out. Exits 77 (skipped) without astropy.
"""
import os
import subprocess
import sys
import tempfile
import warnings

try:
    import astropy
    import numpy as np
    from astropy.io import fits
    from astropy.visualization import ZScaleInterval
except ImportError:
    print("astropy is not available: skipped")
    sys.exit(77)

warnings.simplefilter("ignore")
ASTROPY = os.path.dirname(astropy.__file__)
REAL = [f"io/fits/tests/data/{name}.fits"
        for name in ("checksum", "fixed-1890", "o4sp040b0_raw", "scale", "test0", "arange")] + [
    "modeling/tests/data/1904-66_AZP.fits", "nddata/tests/data/sip-wcs.fits",
    "wcs/tests/data/dss.14.29.56-62.41.05.fits.gz"]


def made_files(folder):
    """Synthetic planes: sky noise with dark and bright outliers, stored in several ways."""
    rng = np.random.default_rng(18)
    sky = rng.normal(1000, 30, (300, 400))
    stars = rng.integers(0, sky.size, 900)
    sky.flat[stars] += rng.exponential(3000, stars.size)
    sky.flat[rng.integers(0, sky.size, 400)] = 50
    files = []

    def write(name, data, **keys):
        hdu = fits.PrimaryHDU(data)
        for k, v in keys.items():
            hdu.header[k] = v
        path = os.path.join(folder, name)
        hdu.writeto(path)
        files.append(path)

    ints = np.round(sky).astype(np.int16)
    write("int16.fits", ints)
    blank = ints.copy()
    blank[::3, ::5] = -32768
    write("blank16.fits", blank, BLANK=-32768)
    write("real32_nan.fits", np.where(blank == -32768, np.nan, sky).astype(np.float32))
    # Scaled integers: stored (value - 32768) / 0.5.
    write("scaled16.fits", np.round((sky - 32768) / 0.5).astype(np.int16), BSCALE=0.5,
          BZERO=32768.0)
    big = rng.normal(200, 8, (1024, 1100)) + np.linspace(0, 40, 1100)
    big.flat[rng.integers(0, big.size, 20000)] += 5000
    write("large_real64.fits", big)
    write("cube32.fits", np.stack([np.round(sky).astype(np.int32),
                                   np.round(sky * 3).astype(np.int32)]))
    return files


def first_image(path):
    """Physical values of the plane the converter shows (the first plane of the first image
    HDU), bottom row first, with NaN where the file leaves a pixel undefined."""
    with fits.open(path, do_not_scale_image_data=True) as hdus:
        for hdu in hdus:
            if hdu.is_image and hdu.data is not None and hdu.data.ndim >= 2:
                break
        raw = np.asarray(hdu.data)
        while raw.ndim > 2:
            raw = raw[0]
        header = hdu.header
        # An image extension without its own scaling keeps the primary header's, as the
        # reader does.
        primary = hdus[0].header
        bscale = header.get("BSCALE", primary.get("BSCALE", 1.0))
        bzero = header.get("BZERO", primary.get("BZERO", 0.0))
        values = raw.astype(np.float64) * bscale + bzero
        if "BLANK" in header and raw.dtype.kind in "iu":
            values[raw == header["BLANK"]] = np.nan
        if raw.dtype.kind == "f":
            # The reader stores NaN and infinities as 0; a real 0 cannot be told from them,
            # so zscale leaves both out.
            values[~np.isfinite(raw) | (raw == 0)] = np.nan
        return values


def main():
    convert = sys.argv[1]
    failures = 0
    with tempfile.TemporaryDirectory() as folder:
        files = made_files(folder)
        real = [os.path.join(ASTROPY, f) for f in REAL if os.path.exists(os.path.join(ASTROPY, f))]
        if len(real) < len(REAL) // 2:
            print("FAIL: astropy's test images are missing")
            failures += 1
        files += real
        out = subprocess.run([convert, "--quiet", "--levels", "--mode", "zscale", "--jobs", "1",
                              "--dest", folder, *files],
                             capture_output=True, text=True, timeout=300)
        if out.returncode != 0:
            print(out.stdout, out.stderr)
            return 1
        printed = {name: (float(low), float(high))
                   for name, low, high in (line.split("\t") for line in out.stdout.splitlines())}
        for path in files:
            name = os.path.basename(path)
            if name not in printed:
                print(f"FAIL {name}: no thresholds printed")
                failures += 1
                continue
            ref_low, ref_high = ZScaleInterval().get_limits(first_image(path))
            low, high = printed[name]
            tolerance = 0.05 * max(ref_high - ref_low, 1e-9)
            ok = abs(low - ref_low) <= tolerance and abs(high - ref_high) <= tolerance
            failures += not ok
            print(f"{'ok  ' if ok else 'FAIL'} {name:32} pelorin {low:14.3f} {high:14.3f}"
                  f"   astropy {ref_low:14.3f} {ref_high:14.3f}")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
