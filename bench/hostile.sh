#!/usr/bin/env bash
# Runs korvelline-convert and the viewer on the files `load_bench --hostile`
# writes, each under the memory limit it was made to exhaust, in a memory
# control group of its own (cgroup v2, or v1 where only that is mounted;
# needs the right to create one, as root in a container). Prints per run the
# lines the program wrote, its exit status, its peak resident size and the
# group's count of processes killed for memory.
#
#   bench/hostile.sh <build dir> <folder of the files> [display for the viewer]
set -u
build=$(cd "$1" && pwd)
dir=$(cd "$2" && pwd)
display=${3:-}

if [ -f /sys/fs/cgroup/cgroup.controllers ]; then
  root=/sys/fs/cgroup; limitFile=memory.max; killsFile=memory.events; killsKey=oom_kill
else
  root=/sys/fs/cgroup/memory; limitFile=memory.limit_in_bytes; killsFile=memory.oom_control; killsKey=oom_kill
fi

# run <limit> <command...>
run() {
  local limit=$1; shift
  local group="$root/korvelline-hostile-$$"
  mkdir "$group" || exit 1
  echo "$limit" > "$group/$limitFile"
  local out
  out=$(bash -c 'echo $$ > "$0/cgroup.procs"; exec /usr/bin/time -f "peak_kb=%M" "$@"' "$group" "$@" 2>&1)
  local status=$?
  local kills
  kills=$(awk -v k="$killsKey" '$1 == k {print $2}' "$group/$killsFile")
  rmdir "$group"
  echo "$out" | grep -E '^ |peak_kb' | grep -v 'init texture' | tr '\n' ' '
  echo "status=$status killed=${kills:-0}"
}

cases="wide200k.csv:300M wide1m.csv:300M longshort.csv:300M cr.csv:300M sparse.csv:300M sparse.csv:4G
labels.parquet:800M labels.parquet:2500M keys.json:300M longfirst.json:300M big.korvelline:300M"
for c in $cases; do
  file=${c%%:*}; limit=${c#*:}
  if [ "${file##*.}" != korvelline ]; then
    echo "convert $file under $limit: $(run "$limit" "$build/korvelline-convert" "$dir/$file" "$dir/converted.txt")"; rm -f "$dir/converted.txt"
  fi
  if [ -n "$display" ]; then
    # Alive when the timeout ends it (status 124): it was never killed.
    echo "viewer $file under $limit: $(cd "$build/workdir" && DISPLAY=$display run "$limit" timeout -s INT 20 "$build/korvelline" "$dir/$file")"
  fi
done
