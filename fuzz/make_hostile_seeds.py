#!/usr/bin/python3
"""Writes the hostile FITS files that once crashed, hung or blew up the readers into the
fuzz seed folders, so that every replay runs them again.

Usage: fuzz/make_hostile_seeds.py   (from anywhere; writes under fuzz/corpus)
"""
import gzip
import os
import struct
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
CORPUS = os.path.join(HERE, "corpus")
sys.path.insert(0, os.path.join(HERE, "..", "tests"))
from fitsfiles import card, compressed, header, image, save, table_rows  # noqa: E402


def write(folder, name, data):
    os.makedirs(os.path.join(CORPUS, folder), exist_ok=True)
    save(os.path.join(CORPUS, folder, name), data)


tiny = [("DATAMIN", 0), ("DATAMAX", "1E-310")]
# Thresholds a subnormal apart: the render's level estimate was NaN, cast to an index.
for bitpix, kind in ((32, "32"), (64, "64"), (-32, "r32")):
    write("fits", f"hostile_datamax_subnormal_{kind}.fits",
          image(bitpix, 4, 1, [0, 1, 2, 3], tiny))
write("fits", "hostile_subnormal_r64.fits", image(-64, 2, 1, [0.0, 1e-310]))
write("fits", "hostile_extreme_r64.fits",
      image(-64, 8, 8, [1.797e308, -1.797e308, 4.9e-324, 0.0] * 16))
write("fits", "hostile_scale_overflow.fits",
      image(-32, 4, 2, [1e30, -1e30, 3, 4, 5, 6, 7, 8], [("BSCALE", "1E4000"), ("BZERO", "-1E308")]))
# A small file claiming a huge image, a file cut short, a header without data.
write("fits", "hostile_tiny_claims_huge.fits", image(-64, 20000, 20000, [1.0]))
cut = image(-32, 300, 200, [float(i) for i in range(60000)])
write("fits", "hostile_cut_short.fits", cut[:2880 + 5000])
write("fits", "hostile_header_only.fits", cut[:2880])

# Header runs: a primary of 999 blocks of cards, then extensions of as many, inheriting them,
# none of them an image: the walk must end within its budget of header blocks.
primary = [card("SIMPLE", "T"), card("BITPIX", 8), card("NAXIS", 0), card("EXTEND", "T")]
primary += [card("PKEY", 1)] * (999 * 36 - 1 - len(primary))
ext = [card("XTENSION", "'IMAGE   '"), card("BITPIX", 8), card("NAXIS", 0), card("PCOUNT", 0),
       card("GCOUNT", 1), card("INHERIT", "T")]
ext += [card("EKEY", 1)] * (999 * 36 - 1 - len(ext))
runs = header(primary) + header(ext) * 5
write("gzip", "hostile_inherit_runs.fits.gz", gzip.compress(runs, 9, mtime=0))
runs = header(primary) + header(ext[:2] + [card("NAXIS", 2), card("NAXIS1", 2),
                                           card("NAXIS2", 2)] + ext[3:]) + b"\1\2\3\4".ljust(2880, b"\0")
write("gzip", "hostile_inherit_image.fits.gz", gzip.compress(runs, 9, mtime=0))
# What follows an empty primary: a chain of more HDUs than any real file holds.
empty = header([card("XTENSION", "'IMAGE   '"), card("BITPIX", 8), card("NAXIS", 0),
                card("PCOUNT", 0), card("GCOUNT", 1)])
chain = header([card("SIMPLE", "T"), card("BITPIX", 8), card("NAXIS", 0)]) + empty * 1100
chain += image(8, 2, 2, [1, 2, 3, 4])
write("gzip", "hostile_hdu_chain.fits.gz", gzip.compress(chain, 9, mtime=0))
# Header cards for the header model.
write("header", "cards", header([card("SIMPLE", "T"), card("BITPIX", -32), card("NAXIS", 2),
                                 card("NAXIS1", 3000000000), card("BZERO", "1E-310"),
                                 "CTYPE1  = 'RA---TAN' / a comment".ljust(80),
                                 "HISTORY  no equals sign".ljust(80)]))

# Tile tables that made cfitsio loop, grow or write past its buffers (written by astropy, so
# only where it is installed), for the whole-file and the one-HDU targets.
try:
    import astropy.io.fits  # noqa: F401 (compressed() writes with it)
    import numpy as np
except ImportError:
    sys.exit("numpy and astropy missing: the tile-compressed seeds were not written")
rng = np.random.default_rng(3)
made = {codec: compressed(rng.integers(0, 3000, (64, 64)).astype("int16"), compression_type=codec,
                          tile_size=(64, 8 if codec == "GZIP_1" else 64))
        for codec in ("GZIP_1", "HCOMPRESS_1")}
raw = made["GZIP_1"]
rows, _ = table_rows(raw)
table = 2880 * 2


def descriptors(change):
    out = bytearray(raw)
    for at in range(table, table + 8 * rows, 8):
        out[at:at + 8] = struct.pack(">ii", *change(*struct.unpack(">ii", out[at:at + 8])))
    return out


tiles = {"tiles_gzip_header_only": descriptors(lambda count, offset: (10, offset)),
         "tiles_gzip_cut": descriptors(lambda count, offset: (count // 2, offset))}
# Every tile on one gzip stream that inflates to 16 MB.
bomb = gzip.compress(bytes(16 << 20), 9, mtime=0)
shared = descriptors(lambda count, offset: (len(bomb), 0))[:table + 8 * rows]
at = shared.index(b"PCOUNT  =", 2880)
shared[at:at + 30] = b"PCOUNT  = %20d" % len(bomb)
tiles["tiles_shared_heap"] = shared + bomb + bytes(-(len(shared) + len(bomb)) % 2880)
flipped = made["HCOMPRESS_1"]
flipped[table_rows(flipped)[1] + 5] ^= 0x80  # inside the HCOMPRESS stream's sizes
tiles["tiles_hcompress_flip"] = flipped
for name, content in tiles.items():
    write("fits", name + ".fz", content)
    write("fits_hdu", name, content)
