#!/usr/bin/env bash
# The committed stroke bitmaps must be exactly what resources/make_bitmaps.cpp
# draws, and must stay 24-bit uncompressed BMPs with power-of-two sides.
# Usage: bitmaps_test.sh <make_bitmaps binary> <source dir>
set -euo pipefail
bin="$1"
src="$2"
tmp="$(mktemp -d)"
trap 'rm -rf "$tmp"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

"$bin" "$tmp"
u16() { od -An -tu2 -j "$2" -N2 "$1" | tr -d ' '; }
u32() { od -An -tu4 -j "$2" -N4 "$1" | tr -d ' '; }
for name in 1.bmp 2.bmp 3.bmp straw.bmp; do
  f="$tmp/$name"
  [ "$(head -c2 "$f")" = "BM" ] || fail "$name: no BM signature"
  [ "$(u16 "$f" 28)" = 24 ] || fail "$name: not 24 bits per pixel"
  [ "$(u32 "$f" 30)" = 0 ] || fail "$name: compressed"
  w="$(u32 "$f" 18)"
  h="$(u32 "$f" 22)"
  for side in "$w" "$h"; do
    if [ "$side" -le 0 ] || [ $((side & (side - 1))) -ne 0 ]; then
      fail "$name: side $side is not a power of two"
    fi
  done
  [ "$(stat -c %s "$f")" -eq $((54 + w * h * 3)) ] || fail "$name: unexpected file size"
  # Must contain both white (transparent) and near-black (opaque) pixels.
  extremes="$(od -An -v -tu1 -j 54 "$f" |
    awk '{ for (i = 1; i <= NF; i++) { if ($i == 255) w = 1; if ($i <= 40) b = 1 } } END { print w + 0, b + 0 }')"
  [ "${extremes% *}" = 1 ] || fail "$name: no white pixels"
  [ "${extremes#* }" = 1 ] || fail "$name: no dark pixels"
  cmp -s "$f" "$src/resources/$name" ||
    fail "resources/$name differs from make_bitmaps output: rebuild and run 'make_bitmaps resources'"
done
echo "bitmaps: all checks passed"
