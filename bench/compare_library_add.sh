#!/usr/bin/env bash
# Adding sessions to the library against reading them one after the other:
# `lorvane-cli library add DIR` on N generated text logs (default 1,000) at
# five circuits of the database, side by side with `lorvane-cli laps --zlg F`
# run on each file in turn with the same database (the circuit looked up on
# each log, as library add does), in one run, warm file cache, best of RUNS
# (default 3) each. Every library run starts from a copy of the database with
# the circuits alone.
#
#   bench/compare_library_add.sh [BUILD_DIR [N]]
#
# The logs are made by lorvane-gen (3 laps each) in $LORVANE_BENCH_DATA/library-N
# (default $TMPDIR/lorvane-bench) on first use and reused. JOBS sets
# library add --jobs (default: every core).
set -eu
BUILD=${1:-build}
N=${2:-1000}
RUNS=${RUNS:-3}
CLI=$BUILD/src/lorvane-cli
GEN=$BUILD/tools/lorvane-gen
for f in "$CLI" "$GEN"; do
    [ -x "$f" ] || { echo "missing: $f" >&2; exit 1; }
done
DATA=${LORVANE_BENCH_DATA:-${TMPDIR:-/tmp}/lorvane-bench}/library-$N
LOGS=$DATA/logs
CENTRES=("52.07 -1.01" "45.61 9.28" "-37.85 144.97" "28.41 -81.38" "35.37 138.93")
if [ ! -f "$DATA/complete" ]; then
    rm -rf "$DATA"
    mkdir -p "$LOGS" "$DATA/gen"
    for c in 0 1 2 3 4; do
        read -r lat lon <<<"${CENTRES[$c]}"
        "$GEN" --seed $((1000 + c)) --laps 3 --lat "$lat" --lon "$lon" --out "$DATA/gen/circuit$c" --quiet
        "$CLI" circuits add --gxr "$DATA/gen/circuit$c.gxr" --name "Circuit $c" --db "$DATA/circuits.db" >/dev/null
    done
    # The same five circuits, each driven N/5 times: the seed picks the
    # circuit, so the drives differ in noise, drop-outs and pace only.
    for i in $(seq 1 "$N"); do
        c=$((i % 5))
        read -r lat lon <<<"${CENTRES[$c]}"
        "$GEN" --seed $((1000 + c)) --laps 3 --lat "$lat" --lon "$lon" --noise 0.$((2 + i % 7)) \
            --start-time $((32400 + i * 37)) \
            --out "$DATA/gen/s" --quiet
        mv "$DATA/gen/s.zlg" "$LOGS/s$(printf %04d "$i").zlg"
    done
    rm -f "$DATA"/gen/s.*
    touch "$DATA/complete"
fi
cat "$LOGS"/*.zlg >/dev/null # warm the file cache
MB=$(du -sm "$LOGS" | cut -f1)

now() { date +%s.%N; }
best_laps=1e9
best_add=1e9
for run in $(seq 1 "$RUNS"); do # interleaved, so that a busy moment hits both alike
    t0=$(now)
    for f in "$LOGS"/*.zlg; do "$CLI" laps --zlg "$f" --db "$DATA/circuits.db" >/dev/null; done
    t1=$(now)
    cp "$DATA/circuits.db" "$DATA/library.db"
    rm -f "$DATA/library.db-wal" "$DATA/library.db-shm"
    t2=$(now)
    "$CLI" library add "$LOGS" ${JOBS:+--jobs $JOBS} --db "$DATA/library.db" >"$DATA/add.out"
    t3=$(now)
    added=$(grep -c '^added' "$DATA/add.out")
    [ "$added" -eq "$N" ] || { echo "library add stored $added of $N" >&2; exit 1; }
    best_laps=$(python3 -c "print(min($best_laps, $t1 - $t0))")
    best_add=$(python3 -c "print(min($best_add, $t3 - $t2))")
    echo "run $run: laps one after the other $(python3 -c "print(f'{$t1 - $t0:.2f}')") s, library add $(python3 -c "print(f'{$t3 - $t2:.2f}')") s"
done
laps=$("$CLI" library list --db "$DATA/library.db" | awk -F'\t' '{n += $5} END {print n}')
echo "$N text logs ($MB MB, $laps laps at 5 circuits); best of $RUNS, $(nproc) cores"
python3 -c "
a, b = $best_laps, $best_add
print(f'  lorvane-cli laps, one after the other: {a:7.2f} s ({a / $N * 1e3:.1f} ms a log)')
print(f'  lorvane-cli library add:              {b:7.2f} s ({b / $N * 1e3:.1f} ms a log)')
print(f'  library add takes {b / a:.2f} of the time; target < 1')
"
