#!/usr/bin/env bash
# Converter throughput beside GraphicsMagick: 100 FITS files of 1024 x 1024 BITPIX 16 turned
# into BMP files, by pelorin-convert ("data" mode, grey ramp) and by `gm convert`, one
# process per file, and by `gm mogrify`, one process for all. Run from a Release build:
#   bench/convert_vs_gm.sh build/bin/pelorin-convert
set -euo pipefail
convert_bin=$(realpath "${1:-build/bin/pelorin-convert}")
palettes=$(realpath "$(dirname "$0")/../palettes")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

/usr/bin/python3 - "$work" <<'PY'
import struct, sys, os
import numpy as np
rng = np.random.default_rng(1)
folder = sys.argv[1]
cards = ["SIMPLE  =                    T", "BITPIX  =                   16", "NAXIS   =                    2",
         "NAXIS1  =                 1024", "NAXIS2  =                 1024", "BZERO   =                32768",
         "END"]
header = b"".join(c.ljust(80).encode() for c in cards).ljust(2880, b" ")
for i in range(100):
    data = rng.integers(-32768, 32767, size=(1024, 1024), dtype=np.int16).astype(">i2").tobytes()
    data += b"\0" * (-len(data) % 2880)
    with open(os.path.join(folder, f"f{i:03d}.fits"), "wb") as f:
        f.write(header + data)
PY

now() { date +%s.%N; }
mkdir "$work/pelorin" "$work/gm" "$work/mogrify"
t0=$(now)
"$convert_bin" --palettes "$palettes" --mode data --quiet --dest "$work/pelorin" "$work"/f*.fits
t1=$(now)
for f in "$work"/f*.fits; do gm convert "$f" "$work/gm/$(basename "${f%.fits}").bmp"; done
t2=$(now)
cp "$work"/f*.fits "$work/mogrify/"
t3=$(now)
gm mogrify -format bmp "$work"/mogrify/*.fits
t4=$(now)

p=$(echo "$t1 - $t0" | bc -l); g=$(echo "$t2 - $t1" | bc -l); m=$(echo "$t4 - $t3" | bc -l)
printf 'pelorin-convert : %6.2f s  (%d files)\n' "$p" "$(ls "$work/pelorin" | wc -l)"
printf 'gm convert      : %6.2f s  (%d files)  pelorin is %.1fx faster\n' "$g" "$(ls "$work/gm" | wc -l)" "$(echo "$g / $p" | bc -l)"
printf 'gm mogrify      : %6.2f s  (%d files)  pelorin is %.1fx faster\n' "$m" "$(ls "$work/mogrify"/*.bmp | wc -l)" "$(echo "$m / $p" | bc -l)"
