#!/usr/bin/python3
"""Tile-compressed images read by our reader and by astropy must give the same pixels.

Usage: tile_compression_check.py FITS_VALUES [CONVERTER PALETTES]
Builds images with astropy for every codec with signed, unsigned and real data, quantised and
lossless, in the layouts older compressors and astropy itself write (no ZTENSION/ZSIMPLE,
BSCALE/BZERO before TTYPE1), and compares the stored values our reader holds (FITS_VALUES
prints them) with what astropy decompresses: exactly, lossy quantised reals included, since
both must undo the same quantisation. Exit 77 (skipped) when astropy is missing.

Given the converter, also runs batches through it: a failed compressed file followed by a
small one, a real image in the GZIP_COMPRESSED_DATA column after another file (each must
convert as if alone), and stand-ins for the decompression helper that crash or hang (that
file is refused, the run goes on) or a missing helper (the run ends in error, no BMP).
"""
import os
import shutil
import subprocess
import sys
import tempfile
import time

from fitsfiles import compressed, save, table_rows

try:
    import numpy as np
    from astropy.io import fits
except ImportError:
    print("astropy or numpy missing: skipped")
    sys.exit(77)

CODECS = ["RICE_1", "GZIP_1", "GZIP_2", "HCOMPRESS_1", "PLIO_1"]
COLS, ROWS = 37, 29  # tiles of 16 x 8 divide neither side
WCS = [("CTYPE1", "RA---TAN"), ("CTYPE2", "DEC--TAN"), ("CRVAL1", 150.0), ("CRVAL2", 2.0),
       ("CRPIX1", 3.0), ("CRPIX2", 3.0), ("CDELT1", -0.001), ("CDELT2", 0.001)]


def values(dtype, codec, rng):
    """Data of a kind that `codec` takes: PLIO only small non-negative stored integers (astropy's
    encoder overruns its buffer on larger ones), HCOMPRESS no full-range noise."""
    if np.dtype(dtype).kind == "f":
        base = np.add.outer(np.arange(ROWS) * 3.0, np.arange(COLS) * 0.5)
        return (base + rng.normal(0, 4.0, (ROWS, COLS))).astype(dtype)
    info = np.iinfo(dtype)
    low, high = int(info.min), int(info.max)
    if codec == "PLIO_1":
        low, high = max(low, 0), min(high, 4095)
    if codec == "HCOMPRESS_1":  # astropy's encoder runs out of room on full-range noise
        low, high = max(low, info.min // 256), min(high, max(info.max // 256, 255))
    return rng.integers(low, high, (ROWS, COLS), endpoint=True).astype(dtype)


def relayout(raw, change):
    """Applies change(cards) to the compressed table's header cards: the header keeps its
    block count, so the data stay where they were."""
    start = 2880 * ((raw.index(b"END     ") // 2880) + 1)
    end = start
    while raw[end:end + 8] != b"END     ":
        end += 80
    block = b"".join(change([bytes(raw[i:i + 80]) for i in range(start, end, 80)]))
    stop = 2880 * ((end - start) // 2880 + 1) + start
    raw[start:stop] = (block + b"END".ljust(80)).ljust(stop - start)
    return raw


def older_layout(cards):
    """As older compressors wrote: no ZTENSION/ZSIMPLE/ZPCOUNT/ZGCOUNT, BSCALE and BZERO
    moved before TTYPE1."""
    drop = (b"ZTENSION", b"ZSIMPLE ", b"ZPCOUNT ", b"ZGCOUNT ")
    kept = [c for c in cards if c[:8] not in drop]
    scaling = [c for c in kept if c[:8] in (b"BSCALE  ", b"BZERO   ")]
    kept = [c for c in kept if c not in scaling]
    at = next(i for i, c in enumerate(kept) if c.startswith(b"TTYPE1"))
    return kept[:at] + scaling + kept[at:]


def build(folder):
    """Writes every case into `folder`; returns the file names."""
    rng = np.random.default_rng(16)
    made = []

    def write(name, data, header=(), layout=None, codec="RICE_1", tiles=(16, 8), **options):
        raw = compressed(data, header, compression_type=codec, tile_size=tiles, **options)
        save(os.path.join(folder, name), relayout(raw, layout) if layout else raw)
        made.append(name)

    for codec in CODECS:
        plio = codec == "PLIO_1"  # stored values below 0 cannot be held: no uint16/32
        for dtype in ["uint8", "int8", "int16", "int32"] + ([] if plio else ["uint16", "uint32"]):
            write(f"{codec}_{dtype}.fz", values(dtype, codec, rng), WCS, codec=codec)
        if not plio:
            for dtype in ["float32", "float64"]:
                write(f"{codec}_{dtype}_quantised.fz", values(dtype, codec, rng), codec=codec)
            dithered = values("float32", codec, rng)
            for method in (1, 2):
                write(f"{codec}_float32_dither{method}.fz", dithered, codec=codec,
                      quantize_method=method)
        for dtype in ["int16"] + ([] if plio else ["uint16"]):
            write(f"{codec}_{dtype}_older.fz", values(dtype, codec, rng),
                  WCS if dtype == "int16" else (), older_layout, codec)
    for codec in ["GZIP_1", "GZIP_2"]:
        for dtype in ["float32", "float64"]:
            write(f"{codec}_{dtype}_lossless.fz", values(dtype, codec, rng), codec=codec,
                  quantize_level=0.0)
    # A smooth ramp cannot be quantised: its tiles go to the GZIP_COMPRESSED_DATA column.
    write("float32_ramp_gzip_column.fz",
          np.add.outer(np.arange(ROWS), np.arange(COLS) / 64.0).astype("float32"))
    # Undefined values: NaN reals (ZBLANK in the integer tiles), BLANK integers.
    nan = values("float32", "RICE_1", rng)
    nan[3, 4] = nan[10, 11] = np.nan
    write("float32_nan.fz", nan)
    blank = values("int16", "RICE_1", rng)
    blank[2, 2] = -32768
    write("int16_blank.fz", blank, [("BLANK", -32768)])
    # Scaling keywords of the image itself (row tiles), and a cube whose second plane is asked.
    write("int16_scaled.fz", values("int16", "RICE_1", rng), [("BSCALE", 0.5), ("BZERO", 7.0)],
          tiles=None, do_not_scale_image_data=False)
    write("int16_cube.fz", rng.integers(-1000, 1000, (3, ROWS, COLS)).astype("int16"),
          tiles=(16, 8, 1))
    return made


def expected_stored(path, plane):
    """What our reader must hold: (width, height, BITPIX, BZERO, BSCALE) and astropy's stored
    values, BLANK and NaN as 0, and reals whose first byte in the file would be 0x7F or 0xFF
    as 0."""
    with fits.open(path, do_not_scale_image_data=True, disable_image_compression=False) as f:
        hdu = f[1]
        data = np.asarray(hdu.data)
        blank = hdu.header.get("BLANK")
        bzero = hdu.header.get("BZERO", 0.0)
        bscale = hdu.header.get("BSCALE", 1.0)
        bitpix = hdu.header["BITPIX"]
    if data.ndim == 3:
        data = data[plane - 1]
    flat = data.ravel()
    if flat.dtype.kind == "f":
        first = flat.astype(flat.dtype.newbyteorder(">")).view(np.uint8)[::flat.dtype.itemsize]
        flat = np.where(np.isnan(flat) | (first == 0x7F) | (first == 0xFF), 0, flat)
    elif blank is not None:
        flat = np.where(flat == blank, 0, flat)
    return (data.shape[-1], data.shape[-2], bitpix, float(bzero), float(bscale)), \
        flat.astype(np.float64)


def ours(tool, path, plane):
    """The same as expected_stored() from our reader, or None and why it failed."""
    out = subprocess.run([tool, path, str(plane)], capture_output=True, text=True, timeout=120)
    lines = out.stdout.splitlines()
    if out.returncode != 0 or not lines or lines[0].startswith(("refused", "error")):
        return None, (lines[0] if lines else out.stderr)
    head = lines[0].split()
    return (tuple(map(int, head[:3])) + tuple(map(float, head[3:5])),
            np.array([float(v) for v in lines[1:]]))


def convert(converter, palettes, dest, *files, jobs=1):
    os.makedirs(dest, exist_ok=True)
    out = subprocess.run([converter, "--caption", "--quiet", "--jobs", str(jobs), "--dest", dest,
                          "--palettes", palettes, *files], capture_output=True, text=True,
                         timeout=120)
    return out.returncode, out.stdout.splitlines(), out.stderr


def bmp(dest, name):
    path = os.path.join(dest, os.path.splitext(name)[0] + ".bmp")
    return open(path, "rb").read() if os.path.exists(path) else None


def converter_checks(converter, palettes, folder):
    failures = []
    rng = np.random.default_rng(9)

    def write(name, data, codec="RICE_1"):
        return save(os.path.join(folder, name), compressed(data, compression_type=codec))

    first = write("a_float.fz", rng.normal(0, 1, (200, 300)).astype("float32"))
    # The HCOMPRESS stream's own header damaged: cfitsio writes past its buffer.
    damaged = compressed(rng.integers(0, 3000, (200, 300)).astype("int16"),
                         compression_type="HCOMPRESS_1")
    damaged[table_rows(damaged)[1] + 5] ^= 0x80
    damaged = save(os.path.join(folder, "b_damaged.fz"), damaged)
    small = write("c_small8.fz", np.arange(100, dtype="uint8").reshape(10, 10))
    ramp = write("d_ramp.fz", np.add.outer(np.arange(50), np.arange(60) / 64.0).astype("float32"))
    for jobs in (1, 2):
        alone = os.path.join(folder, f"alone{jobs}")
        batch = os.path.join(folder, f"batch{jobs}")
        _, small_caption, _ = convert(converter, palettes, alone, small, jobs=jobs)
        convert(converter, palettes, alone, ramp, jobs=jobs)
        _, captions, _ = convert(converter, palettes, batch, first, damaged, small, ramp,
                                 jobs=jobs)
        if small_caption != ["c_small8.fz  10x10  8 bits"] or small_caption[0] not in captions:
            failures.append(f"--jobs {jobs}: the small file after a failed one: {captions}")
        for name in ("c_small8.fz", "d_ramp.fz"):
            if bmp(alone, name) is None or bmp(alone, name) != bmp(batch, name):
                failures.append(f"--jobs {jobs}: {name} converts otherwise after other files")

    # Stand-ins for the helper beside a copy of the converter.
    bin_dir = os.path.join(folder, "bin")
    os.makedirs(bin_dir)
    copy = shutil.copy(converter, bin_dir)
    helper = os.path.join(bin_dir, "pelorin-fitsdecomp")
    plain = os.path.join(folder, "plain.fits")
    fits.PrimaryHDU(np.arange(100, dtype="int16").reshape(10, 10)).writeto(plain)
    for what, script in (("crashes", "kill -SEGV $$"), ("hangs", "exec /bin/sleep 100")):
        with open(helper, "w") as f:
            f.write("#!/bin/sh\n" + script + "\n")
        os.chmod(helper, 0o755)
        dest = os.path.join(folder, what)
        started = time.monotonic()
        code, captions, _ = convert(copy, palettes, dest, small, plain)
        took = time.monotonic() - started
        if (captions[:1] != ["Format non supporté.Image compressée illisible"]
                or captions[1:] != ["plain.fits  10x10  16 bits"] or bmp(dest, "plain.fits") is None
                or took > 30):
            failures.append(f"a helper that {what}: {code} {captions} in {took:.0f} s")
    os.remove(helper)
    if not os.path.exists("/usr/local/lib/pelorin/pelorin-fitsdecomp"):
        dest = os.path.join(folder, "missing")
        code, captions, errors = convert(copy, palettes, dest, small)
        if code == 0 or bmp(dest, "c_small8.fz") is not None or "introuvable" not in errors:
            failures.append(f"a missing helper: exit {code}, {captions}, {errors}")
    return failures


def main():
    tool = sys.argv[1]
    failures = []
    with tempfile.TemporaryDirectory() as folder:
        names = build(folder)
        # Real files: those astropy's own tests read.
        data = os.path.join(os.path.dirname(fits.__file__), "tests", "data")
        names += [os.path.join(data, name) for name in ("comp.fits", "compressed_image.fits")
                  if os.path.exists(os.path.join(data, name))]
        for name in names:
            path = os.path.join(folder, name)
            plane = 2 if "cube" in name else 1
            (head, got), (want_head, want) = ours(tool, path, plane), expected_stored(path, plane)
            differ = np.flatnonzero(got != want) if head == want_head else []
            if head is None:
                failures.append(f"{name}: not read ({got})")
            elif head != want_head:
                failures.append(f"{name}: {head} instead of {want_head}")
            elif len(differ):
                failures.append(f"{name}: {len(differ)} values differ, first at {differ[0]}: "
                                f"{got[differ[0]]!r} instead of {want[differ[0]]!r}")
        if len(sys.argv) == 4:
            failures += converter_checks(sys.argv[2], sys.argv[3], folder)
    for f in failures:
        print(f)
    print(f"{len(names)} compressed images compared with astropy, {len(failures)} failures")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
