#!/usr/bin/env bash
# Makes the release farcall.jar, which carries libFarcall for x86-64, arm64,
# 64-bit PowerPC little-endian and IBM Z Linux: builds libFarcall with the
# cross-compiling presets "aarch64", "ppc64le" and "s390x", then an optimised
# build for this (x86-64) machine whose jar adds their libraries through
# FARCALL_JAR_NATIVES. Prints the jar's libraries. The same jar goes into the
# release build's Maven repository.
#   tools/release-jar.sh          ->  build/release/farcall/farcall.jar
#                                     build/release/farcall/maven-repository
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

fail() { echo "release-jar: $*" >&2; exit 1; }

[ "$(uname -m)" = x86_64 ] || fail "runs on x86-64 machines, which build the x86-64 library natively"

# Cross preset, the jar's platform name for it (JNA's, os.arch after "linux-")
# and the strip of its toolchain.
crosses=(
  "aarch64 linux-aarch64 aarch64-linux-gnu-strip"
  "ppc64le linux-ppc64le powerpc64le-linux-gnu-strip"
  "s390x linux-s390x s390x-linux-gnu-strip"
)
mkdir -p build/release
natives=()
platforms=(linux-x86-64)
for cross in "${crosses[@]}"; do
  read -r preset platform strip <<<"$cross"
  cmake --list-presets=configure 2>/dev/null | grep -q "\"$preset\"" ||
    fail "CMakePresets.json has no configure preset \"$preset\", so the $platform libFarcall cannot be built"
  cmake --preset "$preset" >/dev/null
  cmake --build "build/$preset" -j2 --target Farcall
  library=$root/build/$preset/farcall/libFarcall.so
  [ -f "$library" ] || fail "the $preset build made no $library"
  # Without debugging information, as the jar's own library is (its strip
  # cannot read other processors' files).
  copy=$root/build/release/libFarcall-$preset.so
  cp "$library" "$copy"
  if command -v "$strip" >/dev/null; then
    "$strip" --strip-debug "$copy"
  fi
  natives+=("$platform=$copy")
  platforms+=("$platform")
done

cmake -S . -B build/release -DCMAKE_BUILD_TYPE=Release \
  "-DFARCALL_JAR_NATIVES=$(IFS=';'; echo "${natives[*]}")" >/dev/null
cmake --build build/release -j2 --target farcall_jar farcall_maven
jar=build/release/farcall/farcall.jar
jar --list --file "$jar" | grep '/libFarcall\.so$' | tee build/release/natives.txt
for platform in "${platforms[@]}"; do
  grep -q "/$platform/libFarcall.so\$" build/release/natives.txt || fail "$jar lacks the library for $platform"
done
maven_jar=$(ls build/release/farcall/maven-repository/com/tamsor/cobol/farcall/*/farcall-*.jar | grep -v -e '-sources\.jar$' -e '-javadoc\.jar$')
cmp -s "$jar" "$maven_jar" || fail "$maven_jar is not the release jar"
echo "release jar: $root/$jar"
echo "Maven repository: $root/build/release/farcall/maven-repository (com.tamsor.cobol:farcall)"
