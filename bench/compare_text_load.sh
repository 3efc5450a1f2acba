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

# Wall time and CPU time (user + system) of one run of a program.
def run(*cmd):
    t = time.perf_counter()
    child = subprocess.Popen(cmd, stdout=subprocess.DEVNULL)
    _, status, usage = os.wait4(child.pid, 0)
    wall = time.perf_counter() - t
    child.returncode = os.waitstatus_to_exitcode(status)
    if child.returncode != 0:
        sys.exit(f"{cmd[0]} failed")
    return wall, usage.ru_utime + usage.ru_stime

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
        t, c = time.perf_counter(), time.process_time()
        frame = pd.read_csv(f, sep=" ", header=None)
        return (time.perf_counter() - t, time.process_time() - c), frame.shape

for path in (zlg, wmx):  # warm the file cache
    with open(path, "rb") as f:
        while f.read(1 << 22):
            pass

names = ("cli", "wc", "pandas", "binary")
wall = {k: 1e9 for k in names}
cpu = {k: 1e9 for k in names}
def keep(name, times):
    wall[name] = min(wall[name], times[0])
    cpu[name] = min(cpu[name], times[1])

shape = None
for _ in range(runs):  # interleaved, so that a busy moment hits all alike
    keep("cli", run(cli, "laps", "--gxr", gxr, "--zlg", zlg))
    keep("wc", run("wc", "-l", zlg))
    times, shape = pandas_read()
    keep("pandas", times)
    keep("binary", run(cli, "laps", "--gxr", gxr, "--wmx", wmx))

mb = os.path.getsize(zlg) / 1e6
bmb = os.path.getsize(wmx) / 1e6
print(f"text log {zlg}: {mb:.1f} MB, {shape[0]} data lines of {shape[1]} fields; best of {runs}")
print("                           wall time             CPU time")
def line(label, name, size):
    print(f"  {label:22} {wall[name] * 1e3:8.1f} ms {size / wall[name]:6.0f} MB/s"
          f"  {cpu[name] * 1e3:8.1f} ms {size / cpu[name]:6.0f} MB/s")
line("lorvane-cli laps", "cli", mb)
line("pandas read_csv", "pandas", mb)
line("wc -l", "wc", mb)
print(f"  lorvane-cli faster than pandas: {wall['pandas'] / wall['cli']:.1f} times (wall),"
      f" {cpu['pandas'] / cpu['cli']:.1f} times (CPU); target >= 5")
print(f"  lorvane-cli against wc -l: {wall['cli'] / wall['wc']:.1f} times as long (wall),"
      f" {cpu['cli'] / cpu['wc']:.1f} times (CPU); target <= 8")
print(f"binary log {wmx}: {bmb:.1f} MB")
line("lorvane-cli laps", "binary", bmb)
print("  (the whole process, start-up included; the engine's own load is lorvane-bench engine_load/binary)")
EOF
