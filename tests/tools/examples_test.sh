#!/usr/bin/env bash
# Every examples/*.txt must be a well-formed data file: consistent header,
# the right number of tokens, numeric values, and label sections that name
# an existing dimension. iris.txt is also checked against its known statistics.
# Usage: examples_test.sh <source dir>
set -euo pipefail
src="$1"
fail() { echo "FAIL: $*" >&2; exit 1; }

shopt -s nullglob
files=("$src"/examples/*.txt)
[ "${#files[@]}" -gt 0 ] || fail "no examples found"

for f in "${files[@]}"; do
  awk -v file="$(basename "$f")" '
    { for (i = 1; i <= NF; i++) tok[++n] = $i }
    function bad(msg) { print file ": " msg; err = 1; exit 1 }
    END {
      if (err) exit 1
      R = tok[1]; D = tok[2]; S = tok[3]; L = tok[4]
      if (R !~ /^[0-9]+$/ || D !~ /^[0-9]+$/ || S !~ /^[0-9]+$/ || L !~ /^-?[0-9]+$/) bad("header is not four integers")
      if (D < 1 || D > 999) bad("dimension count out of range")
      if (S > D) bad("more shown axes than dimensions")
      for (j = 1; j <= D; j++) dimname[tok[5 + j]] = 1
      p = 5 + D + 1
      for (r = 0; r < R; r++) {
        if (L != 0) p++
        for (j = 0; j < D; j++) {
          if (tok[p] !~ /^[-+]?([0-9]+\.?[0-9]*|\.[0-9]+)([eE][-+]?[0-9]+)?$/) bad("record " r + 1 " value " j + 1 " is not a number: " tok[p])
          p++
        }
      }
      if (p - 1 > n) bad("file ends inside the records")
      while (p <= n) {
        if (tok[p] != "label") { p++; continue }
        if (!(tok[p + 1] in dimname)) bad("label section names unknown dimension " tok[p + 1])
        cnt = tok[p + 2]
        if (cnt !~ /^[0-9]+$/ || p + 2 + 2 * cnt > n) bad("label section truncated")
        p += 3 + 2 * cnt
      }
    }' "$f" || fail "$(basename "$f") is malformed"
done

# Fisher's iris: 150 flowers, 50 per species, well-known column means.
awk '
  { for (i = 1; i <= NF; i++) tok[++n] = $i }
  END {
    if (tok[1] != 150 || tok[2] != 5 || tok[4] == 0) { print "iris header"; exit 1 }
    p = 11  # 4 header tokens and 6 names come first
    for (r = 0; r < 150; r++) {
      p++  # label
      for (j = 1; j <= 5; j++) s[j] += tok[p++]
      species[tok[p - 1]]++
    }
    if (species[1] != 50 || species[2] != 50 || species[3] != 50) { print "species counts"; exit 1 }
    split("5.843 3.057 3.758 1.199", want, " ")
    for (j = 1; j <= 4; j++) {
      m = s[j] / 150
      if (m - want[j] > 0.0005 || want[j] - m > 0.0005) { printf "iris column %d mean %.4f\n", j, m; exit 1 }
    }
  }' "$src/examples/iris.txt" || fail "iris.txt does not hold the iris data"

echo "examples: all checks passed"
