#!/usr/bin/env bash
# Builds everything and runs the whole test suite with ctest.
# KORVELLINE_SANITIZE=1 uses a separate ASan/UBSan build in build-asan/.
set -euo pipefail
cd "$(dirname "$0")"

./scripts/install-deps.sh

build_dir=build
sanitize=OFF
if [ "${KORVELLINE_SANITIZE:-0}" = 1 ]; then
  build_dir=build-asan
  sanitize=ON
  # Make undefined behaviour fail the test instead of only printing, and
  # ignore leaks that live inside the system's GL and font libraries.
  export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
  export LSAN_OPTIONS="suppressions=$PWD/tests/sanitizer/lsan.supp:print_suppressions=0"
fi

cmake -S . -B "$build_dir" -DCMAKE_BUILD_TYPE=Release -DKORVELLINE_SANITIZE="$sanitize"
cmake --build "$build_dir" -j"$(nproc)"

cd "$build_dir"
status=0
ctest --output-on-failure -j2 || status=$?
exit "$status"
