#!/usr/bin/env bash
# Checks the bash completion of pelorin-convert: the script parses, offers every option that
# --help lists, the words of --mode and --format, the palettes of a --palettes folder, and
# the image files of a folder (in any letter case) with its subfolders, not other files.
#
#     check_completion.sh COMPLETION_SCRIPT PELORIN_CONVERT PALETTES_DIR
set -u
export LC_ALL=C
script=$1 program=$2 palettes=$3
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

bash -n "$script" || { echo "FAIL: $script does not parse"; exit 1; }
# shellcheck source=/dev/null
source "$script"
[[ $(complete -p pelorin-convert 2>/dev/null) == *_pelorin_convert* ]] ||
  fail "no completion registered for pelorin-convert"

# expect WANT WORD...: the words offered for the command line WORD..., cursor on the last
# word, sorted and each followed by a space, must be WANT.
expect() {
  local want=$1 got
  shift
  COMP_WORDS=(pelorin-convert "$@") COMP_CWORD=$# COMPREPLY=()
  _pelorin_convert
  got=$(printf '%s\n' "${COMPREPLY[@]}" | sort | tr '\n' ' ')
  [[ $got == "$want" ]] || fail "pelorin-convert $* <TAB>: offers '$got', expected '$want'"
}

help_options=$("$program" --help | sed -n 's/^ *\(--[a-z0-9-]*\).*/\1/p' | sort | tr '\n' ' ')
[[ $(wc -w <<<"$help_options") -ge 10 ]] || fail "--help lists only: $help_options"
expect "$help_options" --
expect "--keep-going " --ke
expect "--dest " --dest /tmp --de
expect "1sig 2sig 70 data en-tête fixe zscale " --mode ""
expect "png " --format p
expect "viridis " --palettes "$palettes" --lut vi
expect "log " --palettes "$palettes" --itt lo

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/sub"
touch "$work/a.fits" "$work/B.FIT" "$work/c.fits.gz" "$work/d.fz" "$work/e.jpg" "$work/f.txt" \
  "$work/g.fits.bak"
cd "$work" || exit 1
expect "B.FIT a.fits c.fits.gz d.fz e.jpg sub " ""
expect "a.fits " a
cd - >/dev/null || exit 1
# Completing must not leave the shell's options changed.
[[ $(shopt extglob nocasematch) == *off*off* ]] || fail "shell options left changed"

echo "completion: $failures failures"
[[ $failures -eq 0 ]]
