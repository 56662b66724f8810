#!/usr/bin/env bash
# Release files of the static ghostdpy: builds and tests the static preset,
# then writes the stripped program as dist/ghostdpy-<version>-linux-x86_64,
# and, when the aarch64 toolchain file cmake/aarch64-linux-gnu.cmake
# exists, a static aarch64 build as dist/ghostdpy-<version>-linux-aarch64;
# dist/SHA256SUMS lists the checksums of the files written.
#
#   tools/release-static.sh
set -euo pipefail
cd "$(dirname "$0")/.."

# cache_value BUILD_DIR NAME: a variable of a configured build.
cache_value() {
  sed -n "s/^$2:[A-Z]*=//p" "$1/CMakeCache.txt"
}

# publish BUILD_DIR ARCH: strips the build's program into dist/ after checking
# that it is one static file.
publish() {
  local build=$1 arch=$2
  local program=$build/ghostdpy/ghostdpy
  if readelf -lW "$program" | grep -q INTERP || readelf -dW "$program" | grep -q NEEDED; then
    echo "$program is not a static executable" >&2
    exit 1
  fi
  local name
  name=ghostdpy-$(cache_value "$build" CMAKE_PROJECT_VERSION)-linux-$arch
  "$(cache_value "$build" CMAKE_STRIP)" -o "dist/$name" "$program"
  echo "dist/$name: $(stat -c %s "dist/$name") bytes"
  published+=("$name")
}

published=()
mkdir -p dist

cmake --workflow --preset static
publish build/static x86_64

toolchain=cmake/aarch64-linux-gnu.cmake
if [ -f "$toolchain" ]; then
  build=build/static-aarch64
  cmake -S . -B "$build" -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPROJECT_STATIC=ON
  cmake --build "$build" -j2 --target ghostdpy
  # A smoke run under the emulator when there is one: a bad command line must
  # give the usage text and status 101.
  if command -v qemu-aarch64 >/dev/null; then
    status=0
    qemu-aarch64 "$build/ghostdpy/ghostdpy" :x >/dev/null 2>&1 || status=$?
    [ "$status" -eq 101 ] || { echo "aarch64 ghostdpy under qemu-aarch64: status $status, not 101" >&2; exit 1; }
  fi
  publish "$build" aarch64
else
  echo "no $toolchain: x86_64 only"
fi

(cd dist && sha256sum "${published[@]}" >SHA256SUMS)
echo "dist/SHA256SUMS:"
cat dist/SHA256SUMS
