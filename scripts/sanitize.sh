#!/usr/bin/env bash
# Builds everything with AddressSanitizer and UndefinedBehaviorSanitizer in
# build-asan (GCC, RelWithDebInfo) and runs the whole test suite there.
# usage: scripts/sanitize.sh   (BUILD_ASAN and JOBS override the folder and job count)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_ASAN:-$root/build-asan}
jobs=${JOBS:-2}

gui=OFF
if dpkg-query -W -f='${Status}' qt6-base-dev 2>/dev/null | grep -q "install ok installed"; then gui=ON; fi

start=$(date +%s)
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DLORVANE_SANITIZE=address,undefined -DLORVANE_GUI=$gui -DLORVANE_TESTS=ON -DLORVANE_BENCH=OFF \
  -DLORVANE_FUZZ=OFF >/dev/null
cmake --build "$build" -j "$jobs"
built=$(date +%s)

export ASAN_OPTIONS=detect_leaks=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
# The GUI tests need no display.
export QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen}
status=0
ctest --test-dir "$build" --output-on-failure -j "$jobs" || status=$?
end=$(date +%s)
echo "sanitize: build $((built - start)) s, tests $((end - built)) s, total $((end - start)) s"
exit $status
