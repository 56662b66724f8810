#!/usr/bin/env bash
# libFarcall benchmark, in two parts.
#   calls: ns per call of the trampolines beside a plain JNI static native
#     doing the same work in C, JNA's direct mapping, libffi from C and, where
#     a JDK 22 or later is installed, an FFM downcall handle; and the cost of
#     a cached findSymbol with and without the class's monitor.
#   registry: ns per symbol lookup with 1 to 100,000 names cached, through
#     Farcall.findSymbol, JNA's NativeLibrary.getFunction and dlsym from C.
# Writes results.md (Markdown tables of medians and ratios, one section per
# part; a part not run keeps its section), results.svg (calls) and
# registry.svg beside this script.
#   bench/farcall/run.sh [REPETITIONS [PART...]]     (default 7, both parts)
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
out=$root/build/bench-farcall
repetitions=${1:-7}
shift $(($# > 0 ? 1 : 0))
run_calls=false
run_registry=false
for part in "${@:-calls registry}"; do
  for name in $part; do
    case $name in
      calls) run_calls=true ;;
      registry) run_registry=true ;;
      *) echo "unknown part '$name': calls or registry" >&2; exit 2 ;;
    esac
  done
done
jdk17=/usr/lib/jvm/java-17-openjdk-amd64

# JNA from Debian (the jar and its dispatch library).
if [ ! -f /usr/share/java/jna.jar ]; then
  apt-get install -y libjna-java || { apt-get update && apt-get install -y libjna-java; }
fi
jna=/usr/share/java/jna.jar
jna_native=/usr/lib/$(gcc -print-multiarch)/jni

# The newest installed JDK of version 22 or later, for FFM (optional).
jdk_ffm=""
for release in /usr/lib/jvm/*/release; do
  version=$(sed -n 's/^JAVA_VERSION="\([0-9]*\).*/\1/p' "$release")
  if [ -n "$version" ] && [ "$version" -ge 22 ] && [ -x "$(dirname "$release")/bin/javac" ]; then
    jdk_ffm=$(dirname "$release")
  fi
done

cd "$root"
cmake --preset default > /dev/null
cmake --build build/default -j2 --target Farcall farcall_jar farcall_bench_names > /dev/null
farcall_so=$root/build/default/farcall/libFarcall.so
farcall_jar=$root/build/default/farcall/farcall.jar
names_so=$root/build/default/bench/farcall/libfarcall_bench_names.so
machine="$(nproc) cores, $(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -1)"
mkdir -p "$out"

# A section of the report as it stands, for a part not run now.
previous_section() {  # previous_section calls|registry
  [ -f "$here/results.md" ] || return 0
  awk -v want="$1" '/^# libFarcall registry/ { registry = 1 }
    (want == "registry") == (registry == 1) { if ($0 == "") blank++; else { while (blank) { print ""; blank-- } print } }' \
    "$here/results.md"
}

calls_md=$out/calls.md
registry_md=$out/registry.md
previous_section calls > "$calls_md"
previous_section registry > "$registry_md"

calls_part() {
  mkdir -p "$out/classes" "$out/ffm"
  gcc -O2 -shared -fPIC -fvisibility=hidden -I"$jdk17/include" -I"$jdk17/include/linux" \
    "$here/peers.c" -o "$out/libbench_peers.so"
  gcc -O2 "$here/ffi_bench.c" -lffi -ldl -o "$out/ffi_bench"

  # The long argument lists of the 8- and 64-argument cases.
  list() {  # list COUNT FORMAT-ODD FORMAT-EVEN: alternating i and s
    local items=() k
    for ((k = 1; k <= $1; k++)); do
      if ((k % 2)); then items+=("$2"); else items+=("$3"); fi
    done
    local IFS=,
    echo "${items[*]}" | sed 's/,/, /g'
  }
  params() { local items=() k; for ((k = 1; k <= $1; k++)); do items+=("long a$k"); done; local IFS=,; echo "${items[*]}" | sed 's/,/, /g'; }
  sed -e "s/@PARAMS8@/$(params 8)/g" -e "s/@PARAMS64@/$(params 64)/g" \
      -e "s/@ARGS8@/$(list 8 i s)/g" -e "s/@ARGS64@/$(list 64 i s)/g" \
      "$here/FarcallBench.java.in" > "$out/FarcallBench.java"
  "$jdk17/bin/javac" --release 17 -cp "$farcall_jar:$jna" -d "$out/classes" "$out/FarcallBench.java"

  results=$out/results.txt
  : > "$results"
  classpath="$farcall_jar:$jna:$out/classes"
  echo "JDK 17, standard JNI entry points..." >&2
  "$jdk17/bin/java" -Djna.boot.library.path="$jna_native" -cp "$classpath" FarcallBench \
    standard "$farcall_so" "$out/libbench_peers.so" "$repetitions" jna >> "$results"
  echo "JDK 17, -XX:+CriticalJNINatives..." >&2
  "$jdk17/bin/java" -XX:+CriticalJNINatives -cp "$classpath" FarcallBench \
    critical "$farcall_so" "$out/libbench_peers.so" "$repetitions" 2>/dev/null >> "$results"
  echo "JDK 17, cached findSymbol before and after synchronized..." >&2
  # "before": the same class with the registry methods unsynchronized, as they
  # were before the class's monitor guarded them.
  mkdir -p "$out/before/src" "$out/before/classes"
  sed 's/ synchronized native / native /' "$root/build/default/farcall/java/com/tamsor/cobol/rununit/Farcall.java" \
    > "$out/before/src/Farcall.java"
  [ "$(grep -c ' synchronized native ' "$out/before/src/Farcall.java")" -eq 0 ] || { echo "sed left synchronized" >&2; exit 1; }
  "$jdk17/bin/javac" --release 17 -d "$out/before/classes" "$out/before/src/Farcall.java"
  "$jdk17/bin/jar" --create --file "$out/before/farcall.jar" -C "$out/before/classes" .
  cp "$farcall_so" "$out/before/libFarcall.so"
  "$jdk17/bin/javac" --release 17 -cp "$farcall_jar" -d "$out/classes" "$here/FindSymbolBench.java"
  "$jdk17/bin/java" -cp "$farcall_jar:$out/classes" FindSymbolBench "$farcall_so" "$out/before/farcall.jar" \
    "$out/before/libFarcall.so" "$out/libbench_peers.so" "$repetitions" >> "$results"
  echo "libffi from C..." >&2
  "$out/ffi_bench" "$out/libbench_peers.so" "$repetitions" >> "$results"
  ffm_title=""
  if [ -n "$jdk_ffm" ]; then
    echo "FFM on $jdk_ffm..." >&2
    sed -e "s/@LARGS8@/$(list 8 '(long) i' s)/g" -e "s/@LARGS64@/$(list 64 '(long) i' s)/g" \
      "$here/FfmBench.java.in" > "$out/ffm/FfmBench.java"
    "$jdk_ffm/bin/javac" -d "$out/ffm" "$out/ffm/FfmBench.java"
    "$jdk_ffm/bin/java" --enable-native-access=ALL-UNNAMED -Dbench.peers="$out/libbench_peers.so" \
      -cp "$out/ffm" FfmBench "$out/libbench_peers.so" "$repetitions" >> "$results"
    ffm_title="FFM, JDK $(sed -n 's/^JAVA_VERSION="\([0-9]*\).*/\1/p' "$jdk_ffm/release")"
  fi

  awk -F'|' -v repetitions="$repetitions" -v machine="$machine" -v ffm_title="$ffm_title" \
    -f "$here/report.awk" "$results" > "$calls_md"
  awk -F'|' -f "$here/chart.awk" "$results" > "$here/results.svg"
}

registry_part() {
  echo "JDK 17, the registry with 1 to 100,000 names beside JNA and dlsym..." >&2
  mkdir -p "$out/registry-classes"
  gcc -O2 -Wall -Wextra -shared -fPIC -fvisibility=hidden -I"$jdk17/include" -I"$jdk17/include/linux" \
    "$here/registry_peers.c" -o "$out/libbench_registry_peers.so" -ldl
  "$jdk17/bin/javac" --release 17 -cp "$farcall_jar:$jna" -d "$out/registry-classes" "$here/RegistryBench.java"
  registry_results=$out/registry.txt
  load_before=$(cut -d' ' -f1-3 /proc/loadavg)
  "$jdk17/bin/java" -Djna.boot.library.path="$jna_native" -cp "$farcall_jar:$jna:$out/registry-classes" \
    RegistryBench "$farcall_so" "$names_so" "$out/libbench_registry_peers.so" "$repetitions" > "$registry_results"
  load_after=$(cut -d' ' -f1-3 /proc/loadavg)
  awk -F'|' -v repetitions="$repetitions" -v machine="$machine" -v load="$load_before / $load_after" \
    -v when="$(date -u '+%Y-%m-%d %H:%M UTC')" -v java="$("$jdk17/bin/java" -version 2>&1 | sed -n 's/.*version "\([^"]*\)".*/\1/p')" \
    -f "$here/registry_report.awk" "$registry_results" > "$registry_md"
  awk -F'|' -f "$here/registry_chart.awk" "$registry_results" > "$here/registry.svg"
}

if $run_calls; then calls_part; fi
if $run_registry; then registry_part; fi

{
  cat "$calls_md"
  if [ -s "$calls_md" ] && [ -s "$registry_md" ]; then echo; fi
  cat "$registry_md"
} > "$here/results.md"
cat "$here/results.md"
