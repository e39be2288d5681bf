#!/usr/bin/env bash
# Every examples/*.csv has its converted examples/*.txt beside it, and that
# file is exactly what korvelline-convert makes of the CSV today.
# Usage: convert_examples_test.sh <korvelline-convert> <source dir>
set -euo pipefail
convert="$1"
src="$2"
fail() { echo "FAIL: $*" >&2; exit 1; }
tmp="$(mktemp -d)"
trap 'rm -rf "$tmp"' EXIT

shopt -s nullglob
files=("$src"/examples/*.csv)
[ "${#files[@]}" -gt 0 ] || fail "no CSV examples found"
for f in "${files[@]}"; do
  name="$(basename "$f" .csv)"
  [ -f "$src/examples/$name.txt" ] || fail "examples/$name.txt is missing"
  "$convert" "$f" "$tmp/$name.txt" >/dev/null || fail "korvelline-convert refused $name.csv"
  cmp -s "$tmp/$name.txt" "$src/examples/$name.txt" ||
    fail "examples/$name.txt differs from korvelline-convert examples/$name.csv"
done

# A refused CSV gives a non-zero status and no output file.
printf 'a,b\n1,2,3\n' > "$tmp/ragged.csv"
if "$convert" "$tmp/ragged.csv" "$tmp/ragged.txt" >/dev/null 2>&1; then fail "a ragged CSV was converted"; fi
[ ! -e "$tmp/ragged.txt" ] || fail "a refused CSV left an output file"
echo "convert: all checks passed"
