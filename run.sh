#!/usr/bin/env bash
# Builds a release build in build/ and starts the viewer in build/workdir,
# where the stroke bitmaps and the example data files are.
set -euo pipefail
cd "$(dirname "$0")"

./scripts/install-deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release
cmake --build build -j"$(nproc)"
if [ ! -x build/korvelline ]; then
  echo "run.sh: build/korvelline was not built" >&2
  exit 1
fi
cd build/workdir
exec ../korvelline "$@"
