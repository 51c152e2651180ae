#!/usr/bin/env bash
# One 4000 x 4000 FITS file to BMP, the way a user runs it: one process per file, warm cache.
# pelorin-convert against `gm convert FILE out.bmp` on BITPIX 16 (BZERO 32768), -32 with NaNs
# and 8, interleaved A B A B over ROUNDS rounds; medians, ratios and peak resident memory.
# Then --jobs 1 against --jobs 2 on 200 files of 1024 x 1024 BITPIX 16.
# Run from a Release build; a second converter (an older build) is timed beside the first:
#   bench/convert_4k.sh build/bin/pelorin-convert [OTHER/pelorin-convert]
set -euo pipefail
ROUNDS=${ROUNDS:-11}
JOB_ROUNDS=${JOB_ROUNDS:-5}
convert_bin=$(realpath "${1:-build/bin/pelorin-convert}")
other_bin=${2:+$(realpath "$2")}
palettes=$(realpath "$(dirname "$0")/../palettes")
command -v gm >/dev/null || { echo "needs gm (apt-get install graphicsmagick)" >&2; exit 1; }
[ -x /usr/bin/time ] || { echo "needs /usr/bin/time (apt-get install time)" >&2; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

/usr/bin/python3 - "$work" <<'PY'
import os, sys
import numpy as np
folder = sys.argv[1]
rng = np.random.default_rng(7)
side = 4000

def header(bitpix, width, height, extra=()):
    cards = ["SIMPLE  =                    T", f"BITPIX  = {bitpix:>20}", "NAXIS   =                    2",
             f"NAXIS1  = {width:>20}", f"NAXIS2  = {height:>20}", *extra, "END"]
    return b"".join(c.ljust(80).encode() for c in cards).ljust(2880 * (1 + len(cards) // 36), b" ")

def write(name, head, data):
    data += b"\0" * (-len(data) % 2880)
    with open(os.path.join(folder, name), "wb") as f:
        f.write(head + data)

# A sky-like picture: a smooth background, noise and a few bright spots.
y, x = np.mgrid[0:side, 0:side].astype(np.float32)
sky = 1000 + 200 * np.sin(x / 500) * np.cos(y / 700) + rng.normal(0, 30, (side, side)).astype(np.float32)
for _ in range(300):
    cx, cy = rng.integers(0, side, 2)
    sky[max(cy - 3, 0):cy + 4, max(cx - 3, 0):cx + 4] += rng.uniform(1000, 20000)
i16 = np.clip(sky * 2, 0, 65535).astype(np.int64) - 32768
write("b16.fits", header(16, side, side, ["BZERO   =                32768"]), i16.astype(">i2").tobytes())
r32 = sky.astype(">f4")
r32.flat[rng.integers(0, side * side, 20000)] = np.nan
write("r32.fits", header(-32, side, side), r32.tobytes())
write("b8.fits", header(8, side, side), np.clip(sky / 100, 0, 255).astype(np.uint8).tobytes())

small = header(16, 1024, 1024, ["BZERO   =                32768"])
os.mkdir(os.path.join(folder, "many"))
for i in range(200):
    data = rng.integers(-32768, 32767, size=(1024, 1024), dtype=np.int16).astype(">i2").tobytes()
    write(os.path.join("many", f"f{i:03d}.fits"), small, data)
PY

ms() { echo $(( ($2 - $1) / 1000000 )); }
now() { date +%s%N; }
median() { sort -n | awk '{v[NR]=$1} END {print (NR % 2) ? v[(NR+1)/2] : (v[NR/2] + v[NR/2+1]) / 2}'; }

# run NAME CMD...: one timed run, wall time (ms) and peak RSS (kB) appended to NAME's lists.
run() {
    local name=$1; shift
    local t0 t1
    t0=$(now)
    /usr/bin/time -f %M -o "$work/rss" "$@" >/dev/null
    t1=$(now)
    ms "$t0" "$t1" >>"$work/$name.ms"
    cat "$work/rss" >>"$work/$name.kb"
}

mkdir -p "$work/out"
for kind in b16 r32 b8; do
    f="$work/$kind.fits"
    cat "$f" >/dev/null
    # One untimed run of each to warm the caches.
    "$convert_bin" --palettes "$palettes" --quiet --dest "$work/out" "$f"
    gm convert "$f" "$work/out/gm.bmp"
    for ((r = 0; r < ROUNDS; ++r)); do
        run "$kind.pelorin" "$convert_bin" --palettes "$palettes" --quiet --dest "$work/out" "$f"
        run "$kind.gm" gm convert "$f" "$work/out/gm.bmp"
        [ -n "$other_bin" ] && run "$kind.other" "$other_bin" --palettes "$palettes" --quiet --dest "$work/out" "$f"
    done
done

echo "4000 x 4000, $ROUNDS rounds interleaved, medians (peak RSS: median of /usr/bin/time %M)"
printf '%-8s %14s %14s %8s %12s %12s' kind "pelorin ms" "gm ms" ratio "pelorin MB" "gm MB"
[ -n "$other_bin" ] && printf ' %12s %10s' "other ms" "other MB"
echo
for kind in b16 r32 b8; do
    p=$(median <"$work/$kind.pelorin.ms"); g=$(median <"$work/$kind.gm.ms")
    pk=$(median <"$work/$kind.pelorin.kb"); gk=$(median <"$work/$kind.gm.kb")
    printf '%-8s %14s %14s %7.2fx %12.1f %12.1f' "$kind" "$p" "$g" "$(echo "$g / $p" | bc -l)" \
        "$(echo "$pk / 1024" | bc -l)" "$(echo "$gk / 1024" | bc -l)"
    if [ -n "$other_bin" ]; then
        o=$(median <"$work/$kind.other.ms"); ok=$(median <"$work/$kind.other.kb")
        printf ' %12s %10.1f' "$o" "$(echo "$ok / 1024" | bc -l)"
    fi
    echo
done

mkdir -p "$work/j1" "$work/j2"
cat "$work"/many/*.fits >/dev/null
for ((r = 0; r < JOB_ROUNDS; ++r)); do
    run jobs1 "$convert_bin" --palettes "$palettes" --quiet --jobs 1 --dest "$work/j1" "$work"/many/*.fits
    run jobs2 "$convert_bin" --palettes "$palettes" --quiet --jobs 2 --dest "$work/j2" "$work"/many/*.fits
done
same=$(diff -rq "$work/j1" "$work/j2" >/dev/null && echo "same bytes" || echo "OUTPUTS DIFFER")
j1=$(median <"$work/jobs1.ms"); j2=$(median <"$work/jobs2.ms")
printf '200 x 1024 x 1024 BITPIX 16, %d rounds: --jobs 1 %s ms, --jobs 2 %s ms, %.2fx (%s)\n' \
    "$JOB_ROUNDS" "$j1" "$j2" "$(echo "$j1 / $j2" | bc -l)" "$same"
