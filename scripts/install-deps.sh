#!/usr/bin/env bash
# Installs the Debian 12 packages Korvelline needs to build, run and test,
# then DuckDB's C library, which Debian does not package (see fetch_duckdb).
# Only what is missing is installed, so a prepared machine costs nothing.
#   --fuzz  also clang and its libFuzzer runtime, for the fuzz targets in CI.
set -euo pipefail
cd "$(dirname "$0")/.."

packages=(
  build-essential cmake
  libfltk1.3-dev libfreeimage-dev
  libgl1-mesa-dev libglu1-mesa-dev libgl1-mesa-dri
  nlohmann-json3-dev libxxhash-dev
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

# npm fetches DuckDB (below); a machine may have it from its own Node.js.
command -v npm >/dev/null 2>&1 || packages+=(npm)

missing=()
for p in "${packages[@]}"; do
  is_installed "$p" || missing+=("$p")
done

install_packages() {
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
}

# DuckDB reads Parquet and JSON files. Its official build comes from the npm
# registry: the library from the Node bindings' Linux package, the C header
# from the package holding DuckDB's sources, one version for both. Each
# tarball must match the sha512 integrity the registry publishes for it,
# pinned here. They are unpacked into third_party/duckdb (ignored by git),
# where CMake looks when the system has no libduckdb of its own.
duckdb_version=1.4.4
duckdb_dir=third_party/duckdb
duckdb_packages=(
  "@duckdb/node-bindings-linux-x64@1.4.4-r.4|sha512-jBTL/WvfwxLToFa/pVHfT6elMtltJGnc3wSuxZD9OfMltit9YUdVFS37vBFQzXMT1Z8OWjtSjMh+zPKxOwHLHA=="
  "duckdb@1.4.4|sha512-hEJJ5hyVF0VLj3dmOLpsWrQR0b3d4Ykqtygm6iUXjHJDDnSqg/USKxcb5qvNrOhFYPgktayU6dXCtgPqcmmpog=="
)

# A system-wide DuckDB (library and header) takes precedence, as in CMake.
system_duckdb() {
  ldconfig -p 2>/dev/null | grep -q 'libduckdb\.so ' &&
    { [ -f /usr/include/duckdb.h ] || [ -f /usr/local/include/duckdb.h ]; }
}

fetch_duckdb() {
  if system_duckdb; then
    return 0
  fi
  if [ "$(cat "$duckdb_dir/VERSION" 2>/dev/null)" = "$duckdb_version" ] &&
     [ -f "$duckdb_dir/lib/libduckdb.so" ] && [ -f "$duckdb_dir/include/duckdb.h" ]; then
    return 0
  fi
  echo "install-deps: fetching DuckDB $duckdb_version from the npm registry"
  local work
  work="$(mktemp -d)"
  trap 'rm -rf "$work"' RETURN
  local entry spec integrity tarball actual
  for entry in "${duckdb_packages[@]}"; do
    spec="${entry%%|*}"
    integrity="${entry#*|}"
    tarball="$(cd "$work" && npm pack --silent "$spec" | tail -n 1)"
    actual="sha512-$(node -e 'const c = require("crypto"), fs = require("fs");
      process.stdout.write(c.createHash("sha512").update(fs.readFileSync(process.argv[1])).digest("base64"))' \
      "$work/$tarball")"
    if [ "$actual" != "$integrity" ]; then
      echo "install-deps: $spec does not match its pinned integrity ($actual)" >&2
      exit 1
    fi
    tar -xzf "$work/$tarball" -C "$work" --no-same-owner \
      package/libduckdb.so package/src/duckdb/src/include/duckdb.h 2>/dev/null || true
  done
  if [ ! -f "$work/package/libduckdb.so" ] || [ ! -f "$work/package/src/duckdb/src/include/duckdb.h" ]; then
    echo "install-deps: the DuckDB packages did not hold libduckdb.so and duckdb.h" >&2
    exit 1
  fi
  rm -rf "$duckdb_dir"
  mkdir -p "$duckdb_dir/lib" "$duckdb_dir/include"
  mv "$work/package/libduckdb.so" "$duckdb_dir/lib/"
  mv "$work/package/src/duckdb/src/include/duckdb.h" "$duckdb_dir/include/"
  echo "$duckdb_version" > "$duckdb_dir/VERSION"
}

if [ "${#missing[@]}" -eq 0 ]; then
  echo "install-deps: all packages present"
else
  install_packages
fi
fetch_duckdb
