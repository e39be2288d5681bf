#!/usr/bin/env bash
# Installs the Debian 12 packages Korvelline needs to build, run and test.
# Only missing packages are installed, so a prepared machine costs nothing.
#   --fuzz  also clang and its libFuzzer runtime, for the fuzz targets in CI.
set -euo pipefail

packages=(
  build-essential cmake
  libfltk1.3-dev libfreeimage-dev
  libgl1-mesa-dev libglu1-mesa-dev libgl1-mesa-dri
  libcsv-dev nlohmann-json3-dev libxxhash-dev
  libgtest-dev libbenchmark-dev libagg-dev
  xvfb xauth x11-utils xdotool imagemagick
)
for arg in "$@"; do
  case "$arg" in
    --fuzz) packages+=(clang libclang-rt-14-dev) ;;
    *) echo "install-deps: unknown option $arg" >&2; exit 2 ;;
  esac
done

is_installed() {
  dpkg -s "$1" 2>/dev/null | grep -q '^Status: install ok installed$'
}

missing=()
for p in "${packages[@]}"; do
  is_installed "$p" || missing+=("$p")
done

if [ "${#missing[@]}" -eq 0 ]; then
  echo "install-deps: all packages present"
  exit 0
fi

echo "install-deps: installing ${missing[*]}"
if [ "$(id -u)" -eq 0 ]; then
  sudo=()
elif command -v sudo >/dev/null 2>&1; then
  sudo=(sudo)
else
  echo "install-deps: need root or sudo to install: ${missing[*]}" >&2
  exit 1
fi

export DEBIAN_FRONTEND=noninteractive
"${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update -q
"${sudo[@]}" env DEBIAN_FRONTEND=noninteractive \
  apt-get install -y -q --no-install-recommends "${missing[@]}"
