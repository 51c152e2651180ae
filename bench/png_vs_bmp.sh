#!/usr/bin/env bash
# PNG against BMP output of pelorin-convert, side by side in one run: three 4000 x 4000
# FITS files (BITPIX 16, a sky-like picture) rendered with the heat palette, written as 8-bit
# and 24-bit BMP and PNG; median wall time over ROUNDS rounds (interleaved), the PNG sizes,
# and the size of `gm convert`'s PNG of the very same bitmaps.
#   bench/png_vs_bmp.sh [build/bin/pelorin-convert]
set -euo pipefail
ROUNDS=${ROUNDS:-5}
convert_bin=$(realpath "${1:-build/bin/pelorin-convert}")
palettes=$(realpath "$(dirname "$0")/../palettes")
command -v gm >/dev/null || { echo "needs gm (apt-get install graphicsmagick)" >&2; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

/usr/bin/python3 - "$work" <<'PY'
import os, sys
import numpy as np
folder, side = sys.argv[1], 4000
rng = np.random.default_rng(7)
y, x = np.mgrid[0:side, 0:side].astype(np.float32)
cards = ["SIMPLE  =                    T", "BITPIX  =                   16", "NAXIS   =                    2",
         f"NAXIS1  = {side:>20}", f"NAXIS2  = {side:>20}", "BZERO   =                32768", "END"]
head = b"".join(c.ljust(80).encode() for c in cards).ljust(2880, b" ")
for n in range(3):
    sky = 1000 + 200 * np.sin(x / (500 + 50 * n)) * np.cos(y / 700) + rng.normal(0, 30, (side, side))
    for _ in range(300):
        cx, cy = rng.integers(0, side, 2)
        sky[max(cy - 3, 0):cy + 4, max(cx - 3, 0):cx + 4] += rng.uniform(1000, 20000)
    data = (np.clip(sky * 2, 0, 65535).astype(np.int64) - 32768).astype(">i2").tobytes()
    with open(os.path.join(folder, f"sky{n}.fits"), "wb") as f:
        f.write(head + data + b"\0" * (-len(data) % 2880))
PY

run() {  # run KIND OPTIONS...: seconds of one conversion of the three files
    local out="$work/out-$1"; shift
    rm -rf "$out"; mkdir "$out"
    local start end
    start=$(date +%s.%N)
    "$convert_bin" --palettes "$palettes" --quiet --mode 2sig --lut heat --dest "$out" "$@" "$work"/sky*.fits
    end=$(date +%s.%N)
    echo "$end - $start" | bc
}
median() { sort -n | awk '{a[NR] = $1} END {print a[int((NR + 1) / 2)]}'; }
declare -A times m
kinds=(bmp8 png8 bmp24 png24)
for ((r = 0; r < ROUNDS; ++r)); do
    times[bmp8]+="$(run bmp8) "
    times[png8]+="$(run png8 --format png) "
    times[bmp24]+="$(run bmp24 --bmp24) "
    times[png24]+="$(run png24 --format png --bmp24) "
done
for k in "${kinds[@]}"; do
    m[$k]=$(echo "${times[$k]}" | tr ' ' '\n' | grep . | median)
done
size() { stat -c %s "$1"; }
for depth in 8 24; do
    gm convert "$work/out-bmp$depth/sky0.bmp" "$work/gm$depth.png"
    printf '%2d-bit: BMP %6.2f s | PNG %6.2f s (%.2f x BMP) | PNG %9d bytes, gm convert %9d bytes (%+.1f %%)\n' \
        "$depth" "${m[bmp$depth]}" "${m[png$depth]}" "$(echo "${m[png$depth]} / ${m[bmp$depth]}" | bc -l)" \
        "$(size "$work/out-png$depth/sky0.png")" "$(size "$work/gm$depth.png")" \
        "$(echo "100 * $(size "$work/out-png$depth/sky0.png") / $(size "$work/gm$depth.png") - 100" | bc -l)"
done
