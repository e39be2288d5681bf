#!/usr/bin/env bash
# Times the road from the command to the first complete picture of a table
# named on the command line, and how it splits: the program's start, the
# window, reading the table, installing it, counting the bins and drawing.
# The real program runs under a private Xvfb; uprobes on its functions (perf,
# Debian's linux-perf, as root) take the times without changing the program.
#
#   bench/first_picture.sh <build dir> <table> [case name] [runs]
#
# The case is named after the table unless given: csv-flights and
# parquet-flights for the flights table as CSV and as Parquet.
#
# Prints the phases of every run and one line for the best run:
#   bench=first-picture case=<name> ms=<command to complete picture>
#   floor_ms=<the later of the empty window and the end of the read> ratio=...
# and the phases, each from the command (exec) in ms: start (main), window
# (the empty window's first frame), read_from (the table's read begins);
# then the lengths of read, install, bins (counted in the first frame after
# the install) and frame (that frame, bins included). The floor is what the
# picture cannot come sooner than: the window up and the table read, the
# read starting where it starts now (before the window is up), so
# max(window, read_from + read); floor_work says so.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
build="$(cd "$1" && pwd)"
table="$(cd "$(dirname "$2")" && pwd)/$(basename "$2")"
# The flights table (make_table --flights, load_bench's copies) is named as
# load_bench names its cases.
case "$(basename "$2")" in
  *flights*.csv) default_name=csv-flights ;;
  *flights*.parquet) default_name=parquet-flights ;;
  *) default_name="$(basename "$2")" ;;
esac
name="${3:-$default_name}"
runs="${4:-3}"
bin="$build/korvelline"
work="$(mktemp -d)"
probes=(main runApplication readTableFileOrRefuse 'readTableFileOrRefuse%return' installTable
        'installTable%return' onDisplay 'onDisplay%return' prepareBins 'prepareBins%return')
cleanup() {
  perf probe -q -d 'probe_korvelline:*' 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
perf probe -q -d 'probe_korvelline:*' 2>/dev/null || true
for p in "${probes[@]}"; do perf probe -q -x "$bin" -a "$p"; done

best=""
for run in $(seq 1 "$runs"); do
  # The program runs until the timeout ends it: long after its picture.
  (cd "$build/workdir" && bash "$here/../tests/gui/with_xvfb.sh" \
     perf record -q -k CLOCK_MONOTONIC -o "$work/perf.data" \
       -e 'probe_korvelline:*' -e sched:sched_process_exec -- timeout -s INT 8 "$bin" "$table" \
     > "$work/out.txt" 2>&1) || true
  perf script -i "$work/perf.data" -F time,event 2>/dev/null > "$work/events.txt"
  line="$(awk -v name="$name" '
    { t = $1; sub(":", "", t); e = $2; sub(":$", "", e); sub("^probe_korvelline:", "", e) }
    e == "sched:sched_process_exec" && exec == "" { exec = t }
    e == "main" && main == "" { main = t }
    e == "onDisplay__return" && window == "" { window = t }
    e == "readTableFileOrRefuse" { lastReadStart = t }
    e == "readTableFileOrRefuse__return" { lastReadEnd = t }
    e == "installTable" && !installStart { installStart = t; readStart = lastReadStart; readEnd = lastReadEnd }
    e == "installTable__return" && !installEnd { installEnd = t }
    e == "prepareBins" && installEnd && !binsStart { binsStart = t }
    e == "prepareBins__return" && binsStart && !binsEnd { binsEnd = t }
    e == "onDisplay" && installEnd && !frameStart { frameStart = t }
    e == "onDisplay__return" && installEnd { if (!firstFrame) firstFrame = t; last = t; frames++ }
    END {
      if (exec == "" || !last) { print "incomplete"; exit }
      ms = (last - exec) * 1000
      floor = (window > readEnd ? window - exec : readEnd - exec) * 1000
      printf "bench=first-picture case=%s ms=%.1f floor_ms=%.1f ratio=%.2f", name, ms, floor, ms / floor
      printf " start_ms=%.1f window_ms=%.1f read_from_ms=%.1f read_ms=%.1f install_ms=%.1f", (main - exec) * 1000, (window - exec) * 1000, (readStart - exec) * 1000, (readEnd - readStart) * 1000, (installEnd - installStart) * 1000
      printf " bins_ms=%.1f frame_ms=%.1f frames=%d floor_work=max(window,read_from+read)\n", (binsEnd - binsStart) * 1000, (firstFrame - frameStart) * 1000, frames
    }' "$work/events.txt")"
  echo "run $run: $line"
  ms="$(echo "$line" | sed -n 's/.* ms=\([0-9.]*\) .*/\1/p')"
  if [ -n "$ms" ] && { [ -z "$best" ] || awk -v a="$ms" -v b="$bestms" 'BEGIN { exit !(a < b) }'; }; then
    best="$line"
    bestms="$ms"
  fi
done
[ -n "$best" ] || { echo "first_picture.sh: no complete run" >&2; exit 1; }
echo "$best"
