#!/usr/bin/python3
"""Tile-compressed images read by our reader and by astropy must give the same pixels.

Usage: tile_compression_check.py FITS_VALUES [CONVERTER PALETTES | --make DIR | --hostile DIR]
Builds images with astropy.io.fits.CompImageHDU for every codec with signed, unsigned and real
data, quantised and lossless, with the layouts older compressors and astropy itself write
(no ZTENSION/ZSIMPLE, BSCALE/BZERO before TTYPE1), and compares the stored values our reader
holds (FITS_VALUES prints them) with what astropy decompresses: exactly, lossy quantised
reals included, since both must undo the same quantisation. With --make, only writes the
files into DIR; with --hostile, writes the hostile files of the fuzz seeds into DIR. Exit 77 (skipped) when astropy is missing.

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


def rewrite_table_header(path, change):
    """Applies change(cards) to the compressed table's header cards, in place: the header
    keeps its block count, so the data stay where they were."""
    with open(path, "rb") as f:
        raw = bytearray(f.read())
    start = 2880 * ((raw.index(b"END     ") // 2880) + 1)
    end = start
    while raw[end:end + 8] != b"END     ":
        end += 80
    cards = [bytes(raw[i:i + 80]) for i in range(start, end, 80)]
    cards = change(cards)
    block = b"".join(cards) + b"END".ljust(80)
    stop = 2880 * ((end - start) // 2880 + 1) + start
    assert len(block) <= stop - start
    raw[start:stop] = block.ljust(stop - start)
    with open(path, "wb") as f:
        f.write(bytes(raw))


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
    """Writes every case into `folder`; returns [(file name, hdu index)]."""
    rng = np.random.default_rng(16)
    made = []

    def write(name, data, header=(), layout=None, **options):
        hdu = fits.CompImageHDU(data, **options)
        for key, value in header:
            hdu.header[key] = value
        path = os.path.join(folder, name)
        fits.HDUList([fits.PrimaryHDU(), hdu]).writeto(path, overwrite=True)
        if layout:
            rewrite_table_header(path, layout)
        made.append(name)

    for codec in CODECS:
        tiles = dict(compression_type=codec, tile_size=(16, 8))
        for dtype in ["uint8", "int8", "int16", "uint16", "int32", "uint32"]:
            if codec == "PLIO_1" and dtype in ("uint16", "uint32"):
                continue  # stored values below 0: PLIO cannot hold them
            write(f"{codec}_{dtype}.fz", values(dtype, codec, rng), WCS, **tiles)
        if codec != "PLIO_1":
            for dtype in ["float32", "float64"]:
                write(f"{codec}_{dtype}_quantised.fz", values(dtype, codec, rng), **tiles)
            dithered = values("float32", codec, rng)
            write(f"{codec}_float32_dither1.fz", dithered, quantize_method=1, **tiles)
            write(f"{codec}_float32_dither2.fz", dithered, quantize_method=2, **tiles)
        write(f"{codec}_int16_older.fz", values("int16", codec, rng), WCS,
              layout=older_layout, **tiles)
        if codec != "PLIO_1":
            write(f"{codec}_uint16_older.fz", values("uint16", codec, rng), layout=older_layout,
                  **tiles)
    for codec in ["GZIP_1", "GZIP_2"]:
        for dtype in ["float32", "float64"]:
            write(f"{codec}_{dtype}_lossless.fz", values(dtype, codec, rng),
                  compression_type=codec, quantize_level=0.0, tile_size=(16, 8))
    # A smooth ramp cannot be quantised: its tiles go to the GZIP_COMPRESSED_DATA column.
    ramp = np.add.outer(np.arange(ROWS), np.arange(COLS) / 64.0).astype("float32")
    write("float32_ramp_gzip_column.fz", ramp, compression_type="RICE_1", tile_size=(16, 8))
    # Undefined values: NaN reals (ZBLANK in the integer tiles), BLANK integers.
    nan = values("float32", "RICE_1", rng)
    nan[3, 4] = nan[10, 11] = np.nan
    write("float32_nan.fz", nan, compression_type="RICE_1", tile_size=(16, 8))
    blank = values("int16", "RICE_1", rng)
    blank[2, 2] = -32768
    write("int16_blank.fz", blank, [("BLANK", -32768)], compression_type="RICE_1",
          tile_size=(16, 8))
    # Scaling keywords of the image itself, and a cube whose second plane is asked for.
    write("int16_scaled.fz", values("int16", "RICE_1", rng), [("BSCALE", 0.5), ("BZERO", 7.0)],
          compression_type="RICE_1", do_not_scale_image_data=False)
    cube = rng.integers(-1000, 1000, (3, ROWS, COLS)).astype("int16")
    write("int16_cube.fz", cube, compression_type="RICE_1", tile_size=(16, 8, 1))
    return made


def expected_stored(path, plane):
    """What our reader must hold: astropy's stored values, BLANK and NaN as 0, and reals whose
    first byte in the file would be 0x7F or 0xFF as 0."""
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
    return data.shape[-1], data.shape[-2], bitpix, float(bzero), float(bscale), flat


def ours(tool, path, plane):
    out = subprocess.run([tool, path, str(plane)], capture_output=True, text=True, timeout=120)
    lines = out.stdout.splitlines()
    if out.returncode != 0 or not lines or lines[0].startswith(("refused", "error")):
        return None, (lines[0] if lines else out.stderr)
    head = lines[0].split()
    return (int(head[0]), int(head[1]), int(head[2]), float(head[3]), float(head[4]),
            np.array([float(v) for v in lines[1:]])), ""


def convert(converter, palettes, dest, *files, jobs=1):
    os.makedirs(dest, exist_ok=True)
    out = subprocess.run([converter, "--caption", "--quiet", "--jobs", str(jobs), "--dest", dest,
                          "--palettes", palettes, *files], capture_output=True, text=True,
                         timeout=120)
    return out.returncode, out.stdout.splitlines(), out.stderr


def bmp(dest, name):
    path = os.path.join(dest, os.path.splitext(name)[0] + ".bmp")
    if not os.path.exists(path):
        return None
    with open(path, "rb") as f:
        return f.read()


def converter_checks(converter, palettes, folder):
    failures = []
    rng = np.random.default_rng(9)

    def write(name, data, codec="RICE_1"):
        path = os.path.join(folder, name)
        fits.HDUList([fits.PrimaryHDU(), fits.CompImageHDU(data, compression_type=codec)]) \
            .writeto(path, overwrite=True)
        return path

    first = write("a_float.fz", rng.normal(0, 1, (200, 300)).astype("float32"))
    # The HCOMPRESS stream's own header damaged: cfitsio writes past its buffer.
    damaged = write("b_damaged.fz", rng.integers(0, 3000, (200, 300)).astype("int16"),
                    "HCOMPRESS_1")
    with open(damaged, "r+b") as f:
        raw = bytearray(f.read())
        header = raw[2880:2880 * 2].decode("latin-1")
        rows = int(header.split("NAXIS2  =")[1][:21])
        width = int(header.split("NAXIS1  =")[1][:21])
        heap = 2880 * 2 + rows * width
        raw[heap + 5] ^= 0x80
        f.seek(0)
        f.write(raw)
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


def hostile(folder):
    """Files that made cfitsio loop, grow or write past its buffers, for the fuzz seeds."""
    import gzip
    import struct
    rng = np.random.default_rng(3)
    made = {}
    for codec in ("GZIP_1", "HCOMPRESS_1"):
        path = os.path.join(folder, "base.fz")
        data = rng.integers(0, 3000, (64, 64)).astype("int16")
        fits.HDUList([fits.PrimaryHDU(), fits.CompImageHDU(
            data, compression_type=codec, tile_size=(64, 8 if codec == "GZIP_1" else 64))]) \
            .writeto(path, overwrite=True)
        with open(path, "rb") as f:
            made[codec] = bytearray(f.read())
    raw = made["GZIP_1"]
    header = raw[2880:2880 * 2].decode("latin-1")
    rows = int(header.split("NAXIS2  =")[1][:21])
    table = 2880 * 2

    def descriptors(change):
        out = bytearray(raw)
        for r in range(rows):
            count, offset = struct.unpack(">ii", out[table + 8 * r:table + 8 * r + 8])
            out[table + 8 * r:table + 8 * r + 8] = struct.pack(">ii", *change(count, offset))
        return out

    files = {
        "tiles_gzip_header_only.fz": descriptors(lambda count, offset: (10, offset)),
        "tiles_gzip_cut.fz": descriptors(lambda count, offset: (count // 2, offset)),
    }
    # Every tile on one gzip stream that inflates to 16 MB.
    bomb = gzip.compress(bytes(16 << 20), 9)
    shared = descriptors(lambda count, offset: (len(bomb), 0))[:table + 8 * rows]
    at = shared.index(b"PCOUNT  =", 2880)
    shared[at:at + 30] = b"PCOUNT  = %20d" % len(bomb)
    shared += bomb + bytes(-(len(shared) + len(bomb)) % 2880)
    files["tiles_shared_heap.fz"] = shared
    flipped = bytearray(made["HCOMPRESS_1"])
    flipped[table + 8 + 5] ^= 0x80  # inside the HCOMPRESS stream's sizes
    files["tiles_hcompress_flip.fz"] = flipped
    for name, content in files.items():
        with open(os.path.join(folder, name), "wb") as f:
            f.write(content)
    os.remove(os.path.join(folder, "base.fz"))
    return list(files)


def main():
    if len(sys.argv) == 4 and sys.argv[2] == "--hostile":
        for name in hostile(sys.argv[3]):
            print(name)
        return 0
    if len(sys.argv) == 4 and sys.argv[2] == "--make":
        for name in build(sys.argv[3]):
            print(name)
        return 0
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
            got, why = ours(tool, path, plane)
            if got is None:
                failures.append(f"{name}: not read ({why})")
                continue
            w, h, bitpix, bzero, bscale, flat = expected_stored(path, plane)
            if got[:5] != (w, h, bitpix, bzero, bscale):
                failures.append(f"{name}: {got[:5]} instead of {(w, h, bitpix, bzero, bscale)}")
                continue
            want = flat.astype(np.float64)
            differ = np.flatnonzero(got[5] != want)
            if differ.size:
                i = differ[0]
                failures.append(f"{name}: {differ.size} values differ, first at {i}: "
                                f"{got[5][i]!r} instead of {want[i]!r}")
        if len(sys.argv) == 4:
            failures += converter_checks(sys.argv[2], sys.argv[3], folder)
    for f in failures:
        print(f)
    print(f"{len(names)} compressed images compared with astropy, {len(failures)} failures")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
