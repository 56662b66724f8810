#!/usr/bin/env bash
# Makes the release farcall.jar, which carries libFarcall for both x86-64
# and arm64 Linux: builds libFarcall with the cross-compiling preset
# "aarch64", then an optimised build for this (x86-64) machine whose jar adds
# the arm64 library through FARCALL_JAR_NATIVES. Prints the jar's libraries.
# The same jar goes into the release build's Maven repository.
#   tools/release-jar.sh          ->  build/release/farcall/farcall.jar
#                                     build/release/farcall/maven-repository
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

fail() { echo "release-jar: $*" >&2; exit 1; }

[ "$(uname -m)" = x86_64 ] || fail "runs on x86-64 machines, which build the x86-64 library natively"
cmake --list-presets=configure 2>/dev/null | grep -q '"aarch64"' ||
  fail "CMakePresets.json has no configure preset \"aarch64\", so the arm64 libFarcall cannot be built"

cmake --preset aarch64 >/dev/null
cmake --build build/aarch64 -j2 --target Farcall
arm64_library=$root/build/aarch64/farcall/libFarcall.so
[ -f "$arm64_library" ] || fail "the aarch64 build made no $arm64_library"
# Without debugging information, as the jar's own library is (its strip
# cannot read arm64 files).
mkdir -p build/release
cp "$arm64_library" build/release/libFarcall-aarch64.so
if command -v aarch64-linux-gnu-strip >/dev/null; then
  aarch64-linux-gnu-strip --strip-debug build/release/libFarcall-aarch64.so
fi

cmake -S . -B build/release -DCMAKE_BUILD_TYPE=Release \
  "-DFARCALL_JAR_NATIVES=linux-aarch64=$root/build/release/libFarcall-aarch64.so" >/dev/null
cmake --build build/release -j2 --target farcall_jar farcall_maven
jar=build/release/farcall/farcall.jar
jar --list --file "$jar" | grep '/libFarcall\.so$' | tee build/release/natives.txt
for platform in linux-x86-64 linux-aarch64; do
  grep -q "/$platform/libFarcall.so\$" build/release/natives.txt || fail "$jar lacks the library for $platform"
done
maven_jar=$(ls build/release/farcall/maven-repository/com/tamsor/cobol/farcall/*/farcall-*.jar | grep -v -e '-sources\.jar$' -e '-javadoc\.jar$')
cmp -s "$jar" "$maven_jar" || fail "$maven_jar is not the release jar"
echo "release jar: $root/$jar"
echo "Maven repository: $root/build/release/farcall/maven-repository (com.tamsor.cobol:farcall)"
