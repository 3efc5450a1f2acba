#!/bin/sh
# Text load side by side: `lorvane-cli laps` on the 12-channel 1,000,000-sample
# text log against pandas `read_csv` of the same data section and `wc -l` of
# the file, in one run, best of N (default 3) each, warm file cache; also the
# command-line load of the binary log of the same session.
#
#   bench/compare_text_load.sh [BUILD_DIR [STEM]]
#
# BUILD_DIR defaults to build. STEM is a session without extension
# (STEM.gxr, STEM.zlg, STEM.wmx); by default lorvane-bench makes or reuses
# session-1m-12ch in its data folder ($LORVANE_BENCH_DATA, default
# $TMPDIR/lorvane-bench). pandas comes from the Debian package python3-pandas
# (only for this comparison); PYTHON names the interpreter (/usr/bin/python3).
set -eu
BUILD=${1:-build}
CLI=$BUILD/src/lorvane-cli
if [ $# -ge 2 ]; then
    STEM=$2
else
    DATA=${LORVANE_BENCH_DATA:-${TMPDIR:-/tmp}/lorvane-bench}
    "$BUILD/bench/lorvane-bench" --data-dir "$DATA" --inputs-only >/dev/null
    STEM=$DATA/session-1m-12ch
fi
for f in "$CLI" "$STEM.gxr" "$STEM.zlg" "$STEM.wmx"; do
    [ -e "$f" ] || { echo "missing: $f" >&2; exit 1; }
done
exec "${PYTHON:-/usr/bin/python3}" - "$CLI" "$STEM" "${RUNS:-3}" <<'EOF'
import os, subprocess, sys, time
import pandas as pd

cli, stem, runs = sys.argv[1], sys.argv[2], int(sys.argv[3])
zlg, wmx, gxr = stem + ".zlg", stem + ".wmx", stem + ".gxr"

def run(*cmd):
    t = time.perf_counter()
    subprocess.run(cmd, stdout=subprocess.DEVNULL, check=True)
    return time.perf_counter() - t

# The data section: everything after the "[data]" line.
with open(zlg, "rb") as f:
    head = f.read(1 << 20)
    at = head.find(b"\n[data]")
    if at < 0:
        sys.exit("no [data] line in " + zlg)
    data_from = head.index(b"\n", at + 1) + 1

def pandas_read():
    with open(zlg, "rb") as f:
        f.seek(data_from)
        t = time.perf_counter()
        frame = pd.read_csv(f, sep=" ", header=None)
        return time.perf_counter() - t, frame.shape

for path in (zlg, wmx):  # warm the file cache
    with open(path, "rb") as f:
        while f.read(1 << 22):
            pass

best = {"cli": 1e9, "wc": 1e9, "pandas": 1e9, "binary": 1e9}
shape = None
for _ in range(runs):  # interleaved, so that a busy moment hits all alike
    best["cli"] = min(best["cli"], run(cli, "laps", "--gxr", gxr, "--zlg", zlg))
    best["wc"] = min(best["wc"], run("wc", "-l", zlg))
    t, shape = pandas_read()
    best["pandas"] = min(best["pandas"], t)
    best["binary"] = min(best["binary"], run(cli, "laps", "--gxr", gxr, "--wmx", wmx))

mb = os.path.getsize(zlg) / 1e6
bmb = os.path.getsize(wmx) / 1e6
print(f"text log {zlg}: {mb:.1f} MB, {shape[0]} data lines of {shape[1]} fields; best of {runs}")
print(f"  lorvane-cli laps       {best['cli'] * 1e3:8.1f} ms  {mb / best['cli']:7.0f} MB/s")
print(f"  pandas read_csv        {best['pandas'] * 1e3:8.1f} ms  {mb / best['pandas']:7.0f} MB/s")
print(f"  wc -l                  {best['wc'] * 1e3:8.1f} ms  {mb / best['wc']:7.0f} MB/s")
print(f"  lorvane-cli is {best['pandas'] / best['cli']:.1f} times faster than pandas (target >= 5)")
print(f"  lorvane-cli takes {best['cli'] / best['wc']:.1f} times as long as wc -l (target <= 8)")
print(f"binary log {wmx}: {bmb:.1f} MB")
print(f"  lorvane-cli laps       {best['binary'] * 1e3:8.1f} ms  {bmb / best['binary']:7.0f} MB/s (target >= 1000)")
EOF
