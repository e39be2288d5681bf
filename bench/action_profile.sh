#!/usr/bin/env bash
# Where an action's time goes, in instructions: runs action_bench under
# callgrind for each case given (only the timed part of every repetition is
# collected, see action_bench.cpp) and splits the instructions by what the
# functions do.
#
#   bench/action_profile.sh <build dir> <records> <case> [case...]
#   e.g. bench/action_profile.sh build 1000000 key-c axis-brush geometry
#   bench/action_profile.sh --split <callgrind file>...   (only the split)
#
# Prints per case one line
#   profile case=<case>-<records> instructions=<total> count=<share> line_sums=...
# and keeps the callgrind files in $KORVELLINE_PROFILE_DIR (default
# /tmp/korvelline_action_profile) for callgrind_annotate. Needs valgrind.
set -euo pipefail

# The split of one callgrind file, printed as one line named $2.
split() {
  callgrind_annotate --threshold=100 "$1" 2>/dev/null | awk -v name="$2" '
    # Functions by what they do; the first pattern that matches wins.
    BEGIN {
      n = split("count columns line_sums draw_bins composite per_record gl_and_driver memory loader brush trace other", order, " ")
      pattern["count"] = "::count\\(|countSide|countPart|finishBySelection|::place\\(|poolCounts|BinColors::|countRecords|startCounts|countFine"
      pattern["columns"] = "setScale|setFlipped|logarithmicScale|log1p_fma|log10|Placement::place|computeBinCoordinates|computeRange"
      pattern["line_sums"] = "SlantStack|stackCounts|stackPlaces"
      pattern["draw_bins"] = "drawLines|drawPoints|CellBins::draw|samplePiece|ColumnMark|columnMark|fminf|fmaxf|expf|pieceGeometry"
      pattern["composite"] = "compositeRows|Accumulation::|DensityScale|log1pf"
      pattern["per_record"] = "renderRecord|RasterSink|renderScatter|renderHighlighted|RecordPass"
      pattern["gl_and_driver"] = "libgallium|libGL|mesa|llvmpipe|swrast|libLLVM|libxcb|libX11|\\?\\?\\?:0x"
      pattern["memory"] = "memset|memcpy|memmove|clear_page"
      pattern["loader"] = "parse|from_chars|BlockReader|readTable|duckdb|XXH|strtod|TextColumns|csv"
      pattern["brush"] = "Brush|insideOutline|RecordSelection|RecordColors|intersectSelection|paintSelected|uniteSelection"
      pattern["trace"] = "printf|vfprintf|ostream|num_put|traceAccepted|formatPair|__printf_fp|hack_digit|__mpn"
    }
    /^ *[0-9,]+ \(/ {
      v = $1; gsub(",", "", v); v += 0
      line = $0
      if (line ~ /PROGRAM TOTALS/) { total = v; next }
      hit = "other"
      for (i = 1; i < n; ++i) if (line ~ pattern[order[i]]) { hit = order[i]; break }
      sum[hit] += v
    }
    END {
      if (total == 0) { print "profile case=" name " no instructions collected"; exit }
      printf "profile case=%s instructions=%.3g", name, total
      for (i = 1; i <= n; ++i) printf " %s=%.1f%%", order[i], 100 * sum[order[i]] / total
      printf "\n"
    }'
}

if [ "${1:-}" = --split ]; then
  shift
  for file in "$@"; do split "$file" "$(basename "$file" .callgrind)"; done
  exit 0
fi

here="$(cd "$(dirname "$0")" && pwd)"
build="$(cd "$1" && pwd)"
records="$2"
shift 2
out="${KORVELLINE_PROFILE_DIR:-/tmp/korvelline_action_profile}"
mkdir -p "$out"
for case in "$@"; do
  file="$out/$case-$records.callgrind"
  (cd "$build" && bash "$here/../tests/gui/with_xvfb.sh" valgrind --tool=callgrind --collect-atstart=no \
     --callgrind-out-file="$file" bench/action_bench --only "$case" --repeats 3 --load-repeats 2 --drags 3 \
     "$records" > "$out/$case-$records.txt" 2>&1) || true
  split "$file" "$case-$records"
done
