#!/usr/bin/env bash
# Builds the fuzz targets with clang and runs each for a while.
# usage: tests/fuzz/run.sh [seconds per target, default 60] [target ...]
# Environment: BUILD (default build-fuzz), JOBS (fuzzers run at once, default 1).
# New inputs go to $BUILD/corpus/<target>; crashes to $BUILD/crashes/<target>.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
secs=${1:-60}
shift || true
build=${BUILD:-$root/build-fuzz}
jobs=${JOBS:-1}

if [ ! -f "$build/build.ninja" ]; then
  CC=clang-14 CXX=clang++-14 cmake -S "$root" -B "$build" -G Ninja \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo -DLORVANE_FUZZ=ON -DLORVANE_SANITIZE=address,undefined \
    -DLORVANE_GUI=OFF -DLORVANE_TESTS=OFF -DLORVANE_BENCH=OFF >/dev/null
fi
cmake --build "$build" -j2

# Without names: every fuzz target the build made (tests/fuzz/fuzz_*).
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  for exe in "$build"/tests/fuzz/fuzz_*; do
    [ -f "$exe" ] && [ -x "$exe" ] && targets+=("${exe##*/fuzz_}")
  done
fi
if [ ${#targets[@]} -eq 0 ]; then
  echo "run.sh: no fuzz targets in $build/tests/fuzz" >&2
  exit 1
fi

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}

run_one() {
  local t=$1
  mkdir -p "$build/corpus/$t" "$build/crashes/$t"
  # Seeds from tests/fuzz/corpus/<target>, when the target has any.
  local seeds=()
  [ -d "$here/corpus/$t" ] && seeds=("$here/corpus/$t")
  # -max_len: the readers work in blocks of MBs; small inputs explore the
  # formats faster. -rss_limit_mb and -timeout turn a blow-up or hang into a finding.
  local rc=0
  "$build/tests/fuzz/fuzz_$t" "$build/corpus/$t" "${seeds[@]}" \
    -max_total_time="$secs" -max_len=16384 -timeout=10 -rss_limit_mb=1024 \
    -artifact_prefix="$build/crashes/$t/" -print_final_stats=1 \
    >"$build/fuzz_$t.log" 2>&1 || rc=$?
  if [ $rc -eq 0 ]; then
    echo "fuzz_$t: clean ($(grep -Eo '#[0-9]+' "$build/fuzz_$t.log" | tail -1 | tr -d '#') runs in ${secs}s)"
  else
    echo "fuzz_$t: FAILED (exit $rc), see $build/fuzz_$t.log and $build/crashes/$t/"
  fi
  return $rc
}

status=0
running=0
pids=()
for t in "${targets[@]}"; do
  run_one "$t" &
  pids+=($!)
  running=$((running + 1))
  if [ $running -ge "$jobs" ]; then
    wait "${pids[0]}" || status=1
    pids=("${pids[@]:1}")
    running=$((running - 1))
  fi
done
for p in "${pids[@]}"; do wait "$p" || status=1; done
exit $status
