#!/usr/bin/env bash
# Builds a release build in build/ and starts the viewer in build/workdir,
# where the stroke bitmaps and the example data files are.
set -euo pipefail
start_dir="$PWD"
cd "$(dirname "$0")"

./scripts/install-deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release
cmake --build build -j"$(nproc)"
if [ ! -x build/korvelline ]; then
  echo "run.sh: build/korvelline was not built" >&2
  exit 1
fi
# The viewer runs in build/workdir, so a table named relative to where the
# command was typed is made absolute first. Words after a single-dash toolkit
# switch that takes a value (-geometry WxH, -display :1, ...) stay as they are.
args=()
value_next=0
options_ended=0
for word in "$@"; do
  if [ "$value_next" = 1 ]; then
    args+=("$word"); value_next=0; continue
  fi
  if [ "$options_ended" = 0 ]; then
    case "$word" in
      --) options_ended=1; args+=("$word"); continue ;;
      --*|-) args+=("$word"); continue ;;
      -i|-ic*|-k*|-nok*|-d[n]*|-nod*|-to*|-not*|-h) args+=("$word"); continue ;;
      -*) args+=("$word"); value_next=1; continue ;;
    esac
  fi
  case "$word" in
    /*) args+=("$word") ;;
    *) args+=("$start_dir/$word") ;;
  esac
done
cd build/workdir
exec ../korvelline "${args[@]+"${args[@]}"}"
