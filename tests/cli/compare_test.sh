#!/usr/bin/env bash
# compare: every lap of a log against a reference file. At the finish the
# delta is the lap's time minus the reference lap's (the file keeps it to the
# millisecond). A generated session always; the two real kart sessions at one
# circuit when the recordings are on the machine (REALDATA).
set -u
CLI=$1
GEN=$2
REALDATA=$3
GXRS=$4
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
fails=0
check() { # description, condition
    if eval "$2"; then echo "ok: $1"; else echo "FAILED: $1"; fails=$((fails + 1)); fi
}
# The largest |delta - (time - reference time)| over the laps of `compare
# --json` on stdin, with the reference lap's time taken from `laps --json`
# ($1, lap $2: the best when 0), and the lap count; "none" without laps.
finish_error() {
    python3 -c '
import json, sys
ref = json.load(open(sys.argv[1])); lap = int(sys.argv[2]) or ref["best_lap"]
rt = ref["laps"][lap - 1]["time"]
c = json.load(sys.stdin)["laps"]
print("%.6f %d" % (max(abs(l["delta"] - (l["time"] - rt)) for l in c), len(c)) if c else "none")' "$1" "$2"
}
# The largest loss or gain of the fastest lap of `compare --json` on stdin.
best_spread() { python3 -c 'import json,sys; b=min(json.load(sys.stdin)["laps"], key=lambda l: l["time"]); print("%.3f" % max(b["max_loss"], b["max_gain"]))'; }
# Lap times of `laps --json` or `compare --json` on stdin, to the microsecond.
laptimes() { python3 -c 'import json,sys; print(" ".join("%.6f" % l["time"] for l in json.load(sys.stdin)["laps"]))'; }

"$GEN" --seed 41 --laps 6 --out "$tmp/g" --quiet
"$GEN" --seed 42 --laps 2 --out "$tmp/other" --quiet
"$CLI" laps --gxr "$tmp/g.gxr" --wmx "$tmp/g.wmx" --json >"$tmp/g.json"
"$CLI" ref --gxr "$tmp/g.gxr" --wmx "$tmp/g.wmx" --lap best -o "$tmp/G.REF" >/dev/null
"$CLI" compare --ref "$tmp/G.REF" --gxr "$tmp/g.gxr" --zlg "$tmp/g.zlg" --json >"$tmp/c.json"; rc=$?
read -r err n < <(finish_error "$tmp/g.json" 0 <"$tmp/c.json")
check "generated: every lap's delta at the finish is its time minus the reference's (within 0.001 s: $err, $n laps)" \
    "[ $rc -eq 0 ] && [ \"\$n\" = 6 ] && python3 -c 'import sys; sys.exit(0 if $err <= 0.001 else 1)'"
check "generated: the laps compared are those laps lists" \
    "[ \"\$(laptimes <$tmp/c.json)\" = \"\$($CLI laps --gxr $tmp/g.gxr --zlg $tmp/g.zlg --json | laptimes)\" ]"
plain=$("$CLI" compare --ref "$tmp/G.REF" --gxr "$tmp/g.gxr" --zlg "$tmp/g.zlg")
check "plain: one line of seven columns per lap" "[ \$(wc -l <<<\"\$plain\") -eq 6 ] && [ -z \"\$(awk 'NF != 7' <<<\"\$plain\")\" ]"

# With a separate finish line a lap runs from a crossing of either gate to the
# next: the fastest lap against its own reference stays within what thinning
# costs, which it does not when its path is closed at the wrong gate.
"$GEN" --seed 72 --laps 4 --finish --out "$tmp/f" --quiet
"$CLI" ref --gxr "$tmp/f.gxr" --zlg "$tmp/f.zlg" --lap best -o "$tmp/F.REF" >/dev/null
spread=$("$CLI" compare --ref "$tmp/F.REF" --gxr "$tmp/f.gxr" --wmx "$tmp/f.wmx" --json | best_spread)
check "finish line: the best lap against its own reference stays within 0.1 s (got $spread)" \
    "python3 -c 'import sys; sys.exit(0 if $spread <= 0.1 else 1)'"

# The circuit from the database: the same figures.
"$CLI" circuits add --gxr "$tmp/g.gxr" --name "Generated" --db "$tmp/c.db" >/dev/null
"$CLI" circuits add --gxr "$tmp/other.gxr" --name "Other" --db "$tmp/c.db" >/dev/null
got=$("$CLI" compare --ref "$tmp/G.REF" --zlg "$tmp/g.zlg" --db "$tmp/c.db"); rc=$?
check "without --gxr the circuit comes from the database" "[ $rc -eq 0 ] && [ \"\$got\" = \"\$plain\" ]"

# A reference made at another circuit is refused, whichever way the circuit is given.
"$CLI" compare --ref "$tmp/G.REF" --gxr "$tmp/other.gxr" --zlg "$tmp/other.zlg" >/dev/null 2>"$tmp/err"; rc=$?
check "a reference of another circuit is refused" "[ $rc -eq 1 ] && grep -q 'start/finish line is not that of the log.s circuit' $tmp/err && grep -q 'G.REF' $tmp/err"
"$CLI" compare --ref "$tmp/G.REF" --circuit Other --zlg "$tmp/other.zlg" --db "$tmp/c.db" >/dev/null 2>"$tmp/err"; rc=$?
check "and with the circuit from the database" "[ $rc -eq 1 ] && grep -q '(Other)' $tmp/err"
printf 'not a reference\r\n' >"$tmp/bad.REF"
"$CLI" compare --ref "$tmp/bad.REF" --gxr "$tmp/g.gxr" --zlg "$tmp/g.zlg" 2>"$tmp/err"; rc=$?
check "an unreadable reference file is named" "[ $rc -eq 1 ] && grep -q 'bad.REF' $tmp/err"
"$CLI" compare --gxr "$tmp/g.gxr" --zlg "$tmp/g.zlg" 2>/dev/null; rc=$?
check "--ref is required" "[ $rc -eq 2 ]"

# Two sessions at Orlando Kart Center: the reference from one's best lap, the other compared.
A=$REALDATA/okc-kart-4laps/okc_kart_2023-06-04_4laps.nmea
B=$REALDATA/okc-kart-rental-3laps/okc_kart_2023-04-29_rental.nmea
if [ -f "$A" ] && [ -f "$B" ]; then
    "$CLI" laps --gxr "$GXRS/okc.gxr" --log "$A" --direction forward --json >"$tmp/a.json"
    "$CLI" ref --gxr "$GXRS/okc.gxr" --log "$A" --direction forward --lap best -o "$tmp/OKC.REF" >/dev/null
    "$CLI" compare --ref "$tmp/OKC.REF" --gxr "$GXRS/okc.gxr" --log "$B" --direction forward --json >"$tmp/b.json"; rc=$?
    read -r err n < <(finish_error "$tmp/a.json" 0 <"$tmp/b.json")
    check "kart: the rental session's laps against the other session's best (within 0.001 s: $err, $n laps)" \
        "[ $rc -eq 0 ] && [ \"\$n\" = 3 ] && python3 -c 'import sys; sys.exit(0 if $err <= 0.001 else 1)'"
    # The best lap against its own reference file: thinning to a point a
    # second costs a tenth of a second at most along the lap.
    spread=$("$CLI" compare --ref "$tmp/OKC.REF" --gxr "$GXRS/okc.gxr" --log "$A" --direction forward --json | best_spread)
    check "kart: the best lap against its own reference stays within 0.15 s (got $spread)" \
        "python3 -c 'import sys; sys.exit(0 if $spread <= 0.15 else 1)'"
else
    echo "skipped: the kart recordings are not in $REALDATA"
fi

echo "$fails failed"
[ $fails -eq 0 ]
