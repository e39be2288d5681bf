#!/usr/bin/env bash
# Checks bench/make_table: determinism, format, argument handling, and that
# examples/synthetic_10k.txt is still what the generator produces.
# Usage: make_table_test.sh <make_table binary> <source dir>
set -euo pipefail
bin="$1"
src="$2"
tmp="$(mktemp -d)"
trap 'rm -rf "$tmp"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

"$bin" 500 6 "$tmp/a.txt" 42
"$bin" 500 6 "$tmp/b.txt" 42
cmp -s "$tmp/a.txt" "$tmp/b.txt" || fail "same seed gave different output"
"$bin" 500 6 "$tmp/c.txt" 43
cmp -s "$tmp/a.txt" "$tmp/c.txt" && fail "different seeds gave identical output"

# Header, names and exact token count; every value must parse as a number.
awk -v R=500 -v D=6 '
  { for (i = 1; i <= NF; i++) tok[++n] = $i }
  END {
    if (tok[1] != R || tok[2] != D || tok[3] != D || tok[4] != 0) { print "bad header"; exit 1 }
    if (tok[5] != "id" || tok[6] != "x1" || tok[5 + D] != "x" D) { print "bad names"; exit 1 }
    want = 4 + (D + 1) + R * D
    if (n != want) { print "token count " n " != " want; exit 1 }
    for (i = 4 + D + 2; i <= n; i++)
      if (tok[i] !~ /^-?[0-9]+(\.[0-9]*)?(e[-+][0-9]+)?$/) { print "not a number: " tok[i]; exit 1 }
    # Spread must be real: a generator stuck on a constant would pass the rest.
    for (j = 0; j < D; j++) {
      lo = hi = tok[4 + D + 2 + j]
      for (r = 1; r < R; r++) { v = tok[4 + D + 2 + r * D + j] + 0; if (v < lo) lo = v; if (v > hi) hi = v }
      if (hi - lo <= 0) { print "dimension " j + 1 " is constant"; exit 1 }
    }
  }' "$tmp/a.txt" || fail "format check of unlabelled output"

"$bin" 20 3 "$tmp/l.txt" 7 --labels
awk '
  { for (i = 1; i <= NF; i++) tok[++n] = $i }
  END {
    if (tok[4] != 1) { print "L flag not set"; exit 1 }
    if (n != 4 + 4 + 20 * 4) { print "token count " n; exit 1 }
    for (r = 0; r < 20; r++) if (tok[9 + r * 4] != "r" (r + 1)) { print "bad label " tok[9 + r * 4]; exit 1 }
  }' "$tmp/l.txt" || fail "format check of labelled output"

# Standard output and a file must carry the same bytes.
"$bin" 20 3 - 7 --labels > "$tmp/stdout.txt"
cmp -s "$tmp/l.txt" "$tmp/stdout.txt" || fail "'-' output differs from file output"

# Bad arguments are refused with a non-zero status and write nothing.
for args in "10" "10 0 $tmp/x.txt" "10 1000 $tmp/x.txt" "abc 3 $tmp/x.txt" "10 3 $tmp/x.txt -5"; do
  # shellcheck disable=SC2086
  if "$bin" $args 2>/dev/null; then fail "accepted bad arguments: $args"; fi
done
[ ! -e "$tmp/x.txt" ] || fail "wrote a file for bad arguments"

"$bin" 10000 8 "$tmp/s.txt" 1 --labels
cmp -s "$tmp/s.txt" "$src/examples/synthetic_10k.txt" ||
  fail "examples/synthetic_10k.txt is stale: regenerate with 'make_table 10000 8 examples/synthetic_10k.txt 1 --labels'"

# The flights-shaped CSV: the same bytes for the same seed, five columns,
# one row per record, and the 230 airports (fewer in a short table) in use.
"$bin" --flights 20000 "$tmp/f1.csv" 3
"$bin" --flights 20000 "$tmp/f2.csv" 3
cmp -s "$tmp/f1.csv" "$tmp/f2.csv" || fail "--flights gave different output for one seed"
awk -F, '
  NR == 1 { if ($0 != "time,delay,distance,origin,destination") { print "bad header"; exit 1 }; next }
  NF != 5 || $1 !~ /^2006-[0-9][0-9]-[0-9][0-9] [0-9][0-9]:[0-9][0-9]$/ { print "bad row " NR; exit 1 }
  { airports[$4] = 1; rows++ }
  END { n = 0; for (a in airports) n++; if (rows != 20000 || n < 150 || n > 230) { print rows " rows, " n " airports"; exit 1 } }
' "$tmp/f1.csv" || fail "format check of --flights output"

echo "make_table: all checks passed"
