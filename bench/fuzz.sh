#!/usr/bin/env bash
# Fuzzes the X11 responder with libFuzzer under AddressSanitizer and
# UndefinedBehaviorSanitizer: the targets run at once, each for the given
# number of seconds (default 60) from the committed seed corpus, then the
# executions, the corpus growth and the findings are printed.
#
#   bench/fuzz.sh [seconds] [target...]     targets: connection reply_builder
#
# New inputs go to build/fuzz/work/<target>, findings (crash-*, timeout-*,
# oom-*, leak-*) to build/fuzz/findings/ and, in hex, to the output; nothing
# in the source tree changes. Exits 1 when a target found anything.
# A finding is fixed at its root and its input is added to the corpus as
# ghostdpy/fuzz/corpus/<target>/regression-<what>, which CTest replays.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-60}
shift || true
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(connection reply_builder)

build=build/fuzz
CC=clang CXX=clang++ cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DGHOSTDPY_FUZZ=ON -DPROJECT_SANITIZE=address,undefined >"$build.configure.log" 2>&1 ||
  { cat "$build.configure.log"; exit 1; }
cmake --build "$build" -j2 $(printf -- '--target ghostdpy_%s_fuzzer ' "${targets[@]}") >"$build.build.log" 2>&1 ||
  { tail -50 "$build.build.log"; exit 1; }

declare -A max_len=([connection]=40000 [reply_builder]=4096)

# One target for the given time; its output goes to its log, its exit status
# to the log's .rc beside it.
fuzz_one() {
  local target=$1
  local work=$build/work/$target findings=$build/findings/$target log=$build/$target.log
  rm -rf "$findings"
  mkdir -p "$work" "$findings"
  # -close_fd_mask=2: the server's own messages on standard error are noise
  # here; libFuzzer and the sanitizers keep a copy of the stream for reports.
  local rc=0
  "$build/ghostdpy/fuzz/ghostdpy_${target}_fuzzer" "$work" "ghostdpy/fuzz/corpus/$target" \
    -max_total_time="$seconds" -max_len="${max_len[$target]}" -timeout=10 -rss_limit_mb=2048 \
    -close_fd_mask=2 -print_final_stats=1 -artifact_prefix="$findings/" >"$log" 2>&1 || rc=$?
  echo "$rc" >"$log.rc"
}

# The targets at once, one process each: the machine's cores are shared out
# and the whole run takes the time of one target.
for target in "${targets[@]}"; do
  echo "== $target: ${seconds}s from $(ls "ghostdpy/fuzz/corpus/$target" | wc -l) seeds"
  fuzz_one "$target" &
done
wait

status=0
summary=""
for target in "${targets[@]}"; do
  findings=$build/findings/$target
  log=$build/$target.log
  rc=$(cat "$log.rc")
  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  found=$(find "$findings" -type f | wc -l)
  cov=$(grep -Eo 'cov: [0-9]+ ft: [0-9]+ corp: [0-9]+' "$log" | tail -1 || true)
  line="$target: ${execs:-?} executions in ${seconds}s, ${cov:-no coverage line}, exit $rc, findings $found"
  echo "$line"
  summary+="$line"$'\n'
  if [ "$rc" -ne 0 ] || [ "$found" -ne 0 ]; then
    status=1
    # The report with its stack, from the first alarm to the sanitizer's summary.
    sed -n '/ERROR\|property violated\|runtime error/,/SUMMARY/p' "$log" | head -60
    [ "$found" -ne 0 ] || tail -20 "$log"
    echo "   log: $log; inputs: $findings"
    # The inputs themselves, so that a run whose build tree is gone (CI)
    # still tells how to reproduce: the bytes, in hex.
    for input in "$findings"/*; do
      [ -f "$input" ] || continue
      echo "   $(basename "$input"), $(stat -c %s "$input") bytes:"
      od -An -tx1 -v "$input" | head -2600
    done
  fi
done
echo "-- summary"
printf '%s' "$summary"
exit $status
