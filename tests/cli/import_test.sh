#!/usr/bin/env bash
# Real recordings from other loggers (NMEA, CSV) through --log and convert:
# the same laps as the same samples written as a text log and loaded with
# --gate-width 25. The recordings stay outside the project (REALDATA); the
# start/finish files made for them are in the project (GXRS).
set -u
CLI=$1
REALDATA=$2
GXRS=$3
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
fails=0
passes=0
check() { # description, condition
    if eval "$2"; then echo "ok: $1"; passes=$((passes + 1)); else echo "FAILED: $1"; fails=$((fails + 1)); fi
}
laptimes() { python3 -c 'import json,sys; print(" ".join("%.6f" % l["time"] for l in json.load(sys.stdin)["laps"]))'; }
# Largest difference between two lists of lap times, or "count" when their lengths differ.
maxdiff() {
    python3 - "$1" "$2" <<'PY'
import sys
a=[float(x) for x in sys.argv[1].split()]; b=[float(x) for x in sys.argv[2].split()]
print("count" if len(a)!=len(b) or not a else max(abs(x-y) for x,y in zip(a,b)))
PY
}

KART=$REALDATA/okc-kart-4laps/okc_kart_2023-06-04_4laps.nmea
if [ ! -f "$KART" ]; then
    echo "skipped: the real recordings are not in $REALDATA"
    exit 77
fi
for f in okc-kart-4laps/okc_kart_2023-06-04_4laps.nmea:okc:0.001:4 okc-kart-rental-3laps/okc_kart_2023-04-29_rental.nmea:okc:0.001:3 pir-corrado-2019/pir_corrado_2019-08-18_tfr.csv:pir:0.01:18; do
    IFS=: read -r log gxr tol want <<<"$f"
    direct=$("$CLI" laps --gxr "$GXRS/$gxr.gxr" --log "$REALDATA/$log" --direction forward --json | laptimes)
    n=$(wc -w <<<"$direct")
    check "$log: $want laps forward" "[ $n -eq $want ]"
    "$CLI" convert --log "$REALDATA/$log" -o "$tmp/c.zlg" >/dev/null; rc=$?
    check "$log converts to a text log" "[ $rc -eq 0 ] && head -1 $tmp/c.zlg | grep -q '^\[header\]'"
    viaText=$("$CLI" laps --gxr "$GXRS/$gxr.gxr" --zlg "$tmp/c.zlg" --direction forward --gate-width 25 --json | laptimes)
    d=$(maxdiff "$direct" "$viaText")
    check "$log: the same laps through the text log (within $tol s, got $d)" "[ \"$d\" != count ] && python3 -c 'import sys; sys.exit(0 if $d <= $tol else 1)'"
done

json=$("$CLI" laps --gxr "$GXRS/okc.gxr" --log "$KART" --json)
check "json names the kind and the default gate width of imported logs" "grep -q '\"kind\": \"nmea\"' <<<\"\$json\" && grep -q '\"rules\": {\"direction\": \"both\", \"gate_width\": 25' <<<\"\$json\""
"$CLI" ref --gxr "$GXRS/okc.gxr" --log "$KART" --direction forward --lap 2 -o "$tmp/K.REF" >/dev/null; rc=$?
check "a reference file from an NMEA log" "[ $rc -eq 0 ] && grep -q '^\[Points\]' $tmp/K.REF"
"$CLI" convert --log "$KART" -o "$tmp/k.zlg" >/dev/null
"$CLI" ref --gxr "$GXRS/okc.gxr" --zlg "$tmp/k.zlg" --direction forward --gate-width 25 --lap 2 -o "$tmp/K2.REF" >/dev/null
check "byte for byte what the same samples give through a text log" "cmp -s $tmp/K.REF $tmp/K2.REF"

# Without --gxr the circuit comes from the database, whatever the log's format.
"$CLI" circuits add --gxr "$GXRS/okc.gxr" --name OKC --direction forward --gate-width 10 --db "$tmp/c.db" >/dev/null
found=$("$CLI" circuits find --log "$KART" --db "$tmp/c.db")
check "circuits find --log names the circuit of an NMEA log" "grep -q '^OKC' <<<\"\$found\""
n=$("$CLI" laps --log "$KART" --db "$tmp/c.db" | wc -l)
check "laps --log without --gxr finds the circuit of an NMEA log (4 laps, got $n)" "[ $n -eq 4 ]"

head -c 4000 /dev/urandom >"$tmp/noise.csv"
"$CLI" laps --gxr "$GXRS/okc.gxr" --log "$tmp/noise.csv" 2>"$tmp/err"; rc=$?
check "a binary file given as a log is a clear error" "[ $rc -eq 1 ] && grep -q 'noise.csv' $tmp/err"
"$CLI" convert --log "$KART" 2>/dev/null; rc=$?
check "convert without -o is a usage error" "[ $rc -eq 2 ]"

echo "$passes passed, $fails failed"
[ $fails -eq 0 ]
