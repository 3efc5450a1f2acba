#!/usr/bin/env bash
# lorvane-cli as a user runs it, on the demo session in samples/.
set -u
CLI=$1
SAMPLES=$2
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
fails=0
passes=0
check() { # description, condition
    if eval "$2"; then echo "ok: $1"; passes=$((passes + 1)); else echo "FAILED: $1"; fails=$((fails + 1)); fi
}

out=$("$CLI" laps --gxr "$SAMPLES/demo.gxr" --zlg "$SAMPLES/demo.zlg"); rc=$?
check "text log loads" "[ $rc -eq 0 ]"
check "lap lines in the list's format" "[ -n \"\$out\" ] && ! grep -qvE '^[0-9]{3,} :   [0-9]{2}:[0-9]{2}\.[0-9]{2}$' <<<\"\$out\""
nlaps=$(wc -l <<<"$out")

bout=$("$CLI" laps --gxr "$SAMPLES/demo.gxr" --wmx "$SAMPLES/demo.wmx"); rc=$?
check "binary log loads" "[ $rc -eq 0 ]"
check "binary lap lines in seconds" "! grep -qvE '^[0-9]{3,} :   [0-9]{3,}\.[0-9]{2}$' <<<\"\$bout\""
check "both logs give the same number of laps" "[ $(wc -l <<<"$bout") -eq $nlaps ]"

json=$("$CLI" laps --gxr "$SAMPLES/demo.gxr" --zlg "$SAMPLES/demo.zlg" --json)
check "json names the kind and has no error" "grep -q '\"kind\": \"zlg\"' <<<\"\$json\" && grep -q '\"error\": null}' <<<\"\$json\""

"$CLI" ref --gxr "$SAMPLES/demo.gxr" --zlg "$SAMPLES/demo.zlg" --lap best -o "$tmp/LAP.REF" >"$tmp/out"; rc=$?
check "reference file written" "[ $rc -eq 0 ] && [ -s $tmp/LAP.REF ] && grep -qx '$tmp/LAP.REF' $tmp/out"
check "every line ends in CR LF" "[ \$(grep -c \$'\\r\$' $tmp/LAP.REF) -eq \$(wc -l <$tmp/LAP.REF) ]"
check "sections present" "grep -q '^\[BasePoint\]' $tmp/LAP.REF && grep -q '^FixedReference false' $tmp/LAP.REF && grep -q '^\[Points\]' $tmp/LAP.REF"
cp "$tmp/LAP.REF" "$tmp/before"

"$CLI" ref --gxr "$SAMPLES/demo.gxr" --zlg "$SAMPLES/demo.zlg" --lap 9999 -o "$tmp/LAP.REF" 2>"$tmp/err"; rc=$?
check "a lap that does not exist fails" "[ $rc -eq 1 ] && grep -q '^lorvane-cli: There is no lap 9999' $tmp/err"
check "and leaves the file untouched" "cmp -s $tmp/before $tmp/LAP.REF"

"$CLI" ref --gxr "$SAMPLES/demo.gxr" --wmx "$SAMPLES/demo.wmx" --lap 2 --fixed -o "$tmp/B.REF" >/dev/null; rc=$?
check "binary reference with --fixed" "[ $rc -eq 0 ] && grep -q '^FixedReference true' $tmp/B.REF"

cp "$SAMPLES/demo.gxr" "$tmp/track.txt"
"$CLI" laps --gxr "$tmp/track.txt" --zlg "$SAMPLES/demo.zlg" 2>"$tmp/err"; rc=$?
check "a start/finish path without gxr is refused" "[ $rc -eq 1 ] && grep -q 'gxr' $tmp/err"

"$CLI" laps --gxr "$SAMPLES/demo.gxr" --zlg "$tmp/missing.zlg" 2>"$tmp/err"; rc=$?
check "missing log: File not found" "[ $rc -eq 1 ] && grep -q 'File not found' $tmp/err"

"$CLI" laps --gxr "$SAMPLES/demo.gxr" --zlg "$tmp" 2>"$tmp/err"; rc=$?
check "a folder as log is an error" "[ $rc -eq 1 ]"

"$CLI" laps --gxr "$SAMPLES/demo.gxr" 2>/dev/null; rc=$?
check "usage error exits 2" "[ $rc -eq 2 ]"

# What a lap timer receives, byte for byte as kept in tests/data/golden.
GOLDEN=$(dirname "$0")/../data/golden
"$CLI" ref --gxr "$SAMPLES/demo.gxr" --zlg "$SAMPLES/demo.zlg" --lap 3 -o "$tmp/g1.REF" >/dev/null
check "text log reference file as kept" "cmp -s $tmp/g1.REF $GOLDEN/demo_zlg_lap3.REF"
"$CLI" ref --gxr "$SAMPLES/demo.gxr" --wmx "$SAMPLES/demo.wmx" --lap best --fixed -o "$tmp/g2.REF" >/dev/null
check "binary log reference file as kept" "cmp -s $tmp/g2.REF $GOLDEN/demo_wmx_best_fixed.REF"
"$CLI" laps --gxr "$SAMPLES/demo.gxr" --zlg "$SAMPLES/demo.zlg" --json >"$tmp/g.json"
check "json as kept" "cmp -s $tmp/g.json $GOLDEN/demo_zlg.json"

# Gate rules.
rj=$("$CLI" laps --gxr "$SAMPLES/demo.gxr" --zlg "$SAMPLES/demo.zlg" --direction forward --gate-width 12.5 --min-lap 30 --json)
check "json names the rules" "grep -q '\"rules\": {\"direction\": \"forward\", \"gate_width\": 12.5, \"min_lap\": 30}' <<<\"\$rj\""
check "crossings say their direction and distance" "grep -q '\"direction\": \"forward\", \"distance\": ' <<<\"\$rj\""
fwd=$("$CLI" laps --gxr "$SAMPLES/demo.gxr" --zlg "$SAMPLES/demo.zlg" --direction forward | wc -l)
rev=$("$CLI" laps --gxr "$SAMPLES/demo.gxr" --zlg "$SAMPLES/demo.zlg" --direction reverse | wc -l)
check "the demo is driven forward: every lap one way, none the other" "[ $fwd -eq $nlaps ] && [ $rev -eq 0 ]"
for bad in "--direction sideways" "--gate-width 0" "--gate-width -3" "--gate-width inf" "--min-lap -1" "--min-lap nan" "--gate-width"; do
    "$CLI" laps --gxr "$SAMPLES/demo.gxr" --zlg "$SAMPLES/demo.zlg" $bad >/dev/null 2>&1; rc=$?
    check "usage error for $bad" "[ $rc -eq 2 ]"
done
"$CLI" ref --gxr "$SAMPLES/demo.gxr" --zlg "$SAMPLES/demo.zlg" --direction forward --lap 3 -o "$tmp/r.REF" >/dev/null
check "ref takes the rules too" "cmp -s $tmp/r.REF $GOLDEN/demo_zlg_lap3.REF"

echo "$passes passed, $fails failed"
[ $fails -eq 0 ]
