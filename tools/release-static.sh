#!/usr/bin/env bash
# Release files of the static ghostdpy: builds and tests the static preset,
# then writes the stripped program as dist/ghostdpy-<version>-linux-x86_64,
# and for every cross toolchain file there is (cmake/<arch>-linux-gnu.cmake:
# aarch64, ppc64le, s390x) a static build as dist/ghostdpy-<version>-linux-<arch>;
# dist/SHA256SUMS lists the checksums of the files written.
#
# Each cross-built program is run under its emulator (qemu-<arch>) before it
# is published: a bad command line must give status 101, and, in private
# mount and network namespaces, it must serve the native xprobe of the static
# preset through its socket file, as it runs the client itself.
#
#   tools/release-static.sh
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

fail() { echo "release-static: $*" >&2; exit 1; }

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
    fail "$program is not a static executable"
  fi
  local name
  name=ghostdpy-$(cache_value "$build" CMAKE_PROJECT_VERSION)-linux-$arch
  "$(cache_value "$build" CMAKE_STRIP)" -o "dist/$name" "$program"
  echo "dist/$name: $(stat -c %s "dist/$name") bytes"
  published+=("$name")
}

# serve_under_emulator EMULATOR PROGRAM: the emulated program serves the
# native xprobe on display 7 of a private /tmp, in a network namespace of
# its own (X clients also try abstract sockets, which are per network
# namespace).
serve_under_emulator() {
  local emulator=$1 program=$2 isolate=()
  [ "$(id -u)" -eq 0 ] || isolate=(--user --map-root-user)
  local out=$build/emulated-run.out err=$build/emulated-run.err
  unshare "${isolate[@]}" --net -- "$root/build/static/ghostdpy/test/run_in_private_tmp" \
    "$(command -v "$emulator")" "$root/$program" :7 "$root/build/static/ghostdpy/xprobe" >"$out" 2>"$err" ||
    fail "$program under $emulator exited with $?: $(cat "$err")"
  grep -qx 'Server listening on /tmp/.X11-unix/X7' "$out" || fail "$program under $emulator: no listening line"
  grep -qx 'Program successfully executed.' "$out" || fail "$program under $emulator: xprobe failed: $(cat "$err")"
  grep -q '390 visuals' "$out" || fail "$program under $emulator: xprobe saw the wrong screen"
  echo "$program under $emulator served xprobe: $(grep -c '^Request' "$out") requests traced"
}

published=()
mkdir -p dist

cmake --workflow --preset static
publish build/static x86_64

for arch in aarch64 ppc64le s390x; do
  toolchain=cmake/$arch-linux-gnu.cmake
  if [ ! -f "$toolchain" ]; then
    echo "no $toolchain: no $arch file"
    continue
  fi
  build=build/static-$arch
  cmake -S . -B "$build" -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPROJECT_STATIC=ON
  cmake --build "$build" -j2 --target ghostdpy
  emulator=qemu-$arch
  if command -v "$emulator" >/dev/null; then
    status=0
    "$emulator" "$build/ghostdpy/ghostdpy" :x >/dev/null 2>&1 || status=$?
    [ "$status" -eq 101 ] || fail "$arch ghostdpy under $emulator: status $status, not 101"
    serve_under_emulator "$emulator" "$build/ghostdpy/ghostdpy"
  else
    echo "no $emulator: the $arch file is published untried"
  fi
  publish "$build" "$arch"
done

(cd dist && sha256sum "${published[@]}" >SHA256SUMS)
echo "dist/SHA256SUMS:"
cat dist/SHA256SUMS
