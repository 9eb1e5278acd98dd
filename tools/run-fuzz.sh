#!/usr/bin/env bash
# Runs every fuzz target of a fuzz build for the given seconds, several at a
# time, each on a scratch copy of its seed corpus, and prints each target's
# executions per second. Fails when any target reports a finding.
#   tools/run-fuzz.sh BUILD_DIR SECONDS PARALLEL
set -uo pipefail
build=${1:-build/fuzz}
seconds=${2:-60}
parallel=${3:-4}
src=$(cd "$(dirname "$0")/.." && pwd)
out="$build/fuzz-runs"
mkdir -p "$out"

run_one() {
  local bin=$1 name=${1##*/fuzz_}
  local corpus="$out/corpus/$name" findings="$out/findings/$name/"
  mkdir -p "$corpus" "$findings"
  cp -n "$src/fuzz/corpus/$name/"* "$corpus/" 2>/dev/null || true
  UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1${UBSAN_OPTIONS:+:$UBSAN_OPTIONS}" \
    "$bin" "$corpus" -max_total_time="$seconds" -rss_limit_mb=2048 -malloc_limit_mb=1024 \
    -artifact_prefix="$findings" -print_final_stats=1 >"$out/$name.log" 2>&1
  local rc=$?
  local rate
  rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$out/$name.log" | tail -1)
  printf '%-20s %8s exec/s  %s\n' "$name" "${rate:-?}" "$([ $rc -eq 0 ] && echo ok || echo "FINDING (see $out/$name.log)")"
  return $rc
}
export -f run_one
export out src seconds

ls "$build"/fuzz/fuzz_* | xargs -P "$parallel" -I{} bash -c 'run_one {}'
