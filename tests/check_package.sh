#!/usr/bin/env bash
# Builds the Debian package from this build tree's install rules, unpacks it into a
# temporary root and uses the programs from there: they must find their palettes and the
# picture decoder module in the unpacked tree, and convert exactly as the build tree's
# converter does with the source palettes.
#
#     check_package.sh CPACK_CONFIG VERSION LIBDIR PELORIN_CONVERT PALETTES SAMPLES
#
# LIBDIR is the library folder relative to the prefix (lib/x86_64-linux-gnu on Debian).
# Exits 77 (skipped) where the Debian tools are missing.
set -u
config=$(realpath "$1") version=$2 libdir=$3 reference=$(realpath "$4")
palettes=$(realpath "$5") samples=$(realpath "$6")
for tool in cpack dpkg-deb dpkg-shlibdeps; do
  command -v "$tool" >/dev/null || { echo "SKIP: $tool is missing"; exit 77; }
done
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cpack --config "$config" -G DEB -B "$work/package" >"$work/cpack.log" 2>&1 ||
  { cat "$work/cpack.log"; echo "FAIL: cpack"; exit 1; }
deb=$work/package/pelorin_${version}_amd64.deb
[[ -f $deb ]] || { ls "$work/package"; echo "FAIL: no pelorin_${version}_amd64.deb"; exit 1; }
echo "package: $(basename "$deb"), $(stat -c %s "$deb") bytes"

# The dependencies found by dpkg-shlibdeps, the decoder module's picture library with them.
control=$(dpkg-deb -I "$deb")
depends=$(sed -n 's/^ Depends: //p' <<<"$control")
echo "Depends: $depends"
for library in libc6 libstdc++6 libcfitsio libdeflate libwcs liberfa libgraphicsmagick; do
  [[ $depends == *"$library"* ]] || fail "Depends lacks $library"
done
for field in "Package: pelorin" "Version: $version" "Section: science" "Maintainer: " \
  "Description: "; do
  [[ $control == *" $field"* ]] || fail "control lacks '$field'"
done

root=$work/root
dpkg-deb -x "$deb" "$root"
prefix=$root/usr
need() { for file; do [[ -f $prefix/$file ]] || fail "the package lacks /usr/$file"; done; }
need bin/pelorin-convert "$libdir/pelorin/libnviewlib.so" "$libdir/pelorin/pelorin-fitsdecomp" \
  share/pelorin/palettes/heat.lut share/pelorin/palettes/4_ramp.itt \
  share/man/man1/pelorin-convert.1.gz share/bash-completion/completions/pelorin-convert

convert=$prefix/bin/pelorin-convert
got=$("$convert" --version)
[[ $got == "pelorin-convert $version" ]] || fail "--version printed '$got'"

# From a folder without palettes of its own, so that only the installed ones can be found.
mkdir -p "$work/run/installed" "$work/run/reference"
cd "$work/run" || exit 1
picture=$samples/orion.jpg fits=$samples/m51_sim.fit
LD_DEBUG=files "$convert" --quiet --lut heat --itt sqrt --dest installed "$picture" "$fits" \
  2>"$work/ld.log" || fail "the unpacked converter failed: $(grep -v '^ *[0-9]*:' "$work/ld.log")"
grep -q "file=$prefix/$libdir/pelorin/libnviewlib.so" "$work/ld.log" ||
  fail "the decoder module was not loaded from the unpacked tree"
"$reference" --quiet --palettes "$palettes" --lut heat --itt sqrt --dest reference \
  "$picture" "$fits" || fail "the build tree's converter failed"
for bmp in orion.bmp m51_sim.bmp; do
  cmp -s "installed/$bmp" "reference/$bmp" || fail "$bmp differs from the build tree's"
done
# A tile-compressed image needs the decompression helper of the unpacked tree.
if /usr/bin/python3 -c 'import astropy' 2>/dev/null; then
  /usr/bin/python3 - "$fits" "$work/run/m51.fits.fz" <<'PY' || fail "could not write the .fz file"
import sys
from astropy.io import fits
data = fits.getdata(sys.argv[1])
fits.HDUList([fits.PrimaryHDU(), fits.CompImageHDU(data, compression_type="RICE_1")]).writeto(sys.argv[2])
PY
  "$convert" --quiet --caption --dest installed "$work/run/m51.fits.fz" >"$work/fz.log" 2>&1 ||
    fail "the unpacked converter could not read a .fz file: $(cat "$work/fz.log")"
  grep -q 'illisible\|introuvable' "$work/fz.log" && fail "the .fz file was refused: $(cat "$work/fz.log")"
fi
message=$("$convert" --lut no-such-palette "$fits" 2>&1 | head -1)
[[ $message == *"in $prefix/share/pelorin/palettes" ]] ||
  fail "palettes not looked up in the unpacked tree: $message"

if [[ -x $prefix/bin/pelorin ]]; then
  got=$(QT_QPA_PLATFORM=offscreen "$prefix/bin/pelorin" --version)
  [[ $got == "Pelorin $version" ]] || fail "pelorin --version printed '$got'"
  need share/applications/pelorin.desktop share/icons/hicolor/scalable/apps/pelorin.svg \
    share/icons/hicolor/64x64/apps/pelorin.png share/icons/hicolor/128x128/apps/pelorin.png \
    share/man/man1/pelorin.1.gz share/mime/packages/pelorin.xml
  metainfo=$(ls "$prefix"/share/metainfo/*.metainfo.xml 2>/dev/null)
  [[ -n $metainfo ]] || fail "the package has no AppStream metainfo"
  if command -v appstreamcli >/dev/null && [[ -n $metainfo ]]; then
    appstreamcli validate --no-net "$metainfo" || fail "appstreamcli validate $metainfo"
  fi
  if command -v desktop-file-validate >/dev/null; then
    desktop-file-validate "$prefix/share/applications/pelorin.desktop" ||
      fail "desktop-file-validate"
  fi
fi

echo "package: $failures failures"
[[ $failures -eq 0 ]]
