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

"$CLI" laps --gxr "$SAMPLES/demo.gxr" --wmx "$SAMPLES/demo.zlg" 2>"$tmp/err" >/dev/null; rc=$?
check "a text log given as --wmx is named for what it is" "[ $rc -eq 1 ] && grep -q 'Not a binary (.wmx) log: the file reads as a text (.zlg) log' $tmp/err"
cp "$SAMPLES/demo.gxr" "$tmp/track.txt"
"$CLI" laps --gxr "$tmp/track.txt" --zlg "$SAMPLES/demo.zlg" 2>"$tmp/err"; rc=$?
check "a start/finish path without gxr is refused" "[ $rc -eq 1 ] && grep -q 'gxr' $tmp/err"

"$CLI" laps --gxr "$SAMPLES/demo.gxr" --zlg "$tmp/missing.zlg" 2>"$tmp/err"; rc=$?
check "missing log: File not found" "[ $rc -eq 1 ] && grep -q 'File not found' $tmp/err"

"$CLI" laps --gxr "$SAMPLES/demo.gxr" --zlg "$tmp" 2>"$tmp/err"; rc=$?
check "a folder as log is an error" "[ $rc -eq 1 ]"

"$CLI" laps --gxr "$SAMPLES/demo.gxr" 2>/dev/null; rc=$?
check "usage error exits 2" "[ $rc -eq 2 ]"

# Lap analysis: the fields of laps --json and the trace command.
check "json: distance, top speed and three sectors per lap" "[ \$(grep -oE '\"distance\": [0-9.e+]+, \"max_speed\": [0-9.e+]+, \"sectors\": \[[0-9.e+-]+, [0-9.e+-]+, [0-9.e+-]+\]' <<<\"\$json\" | wc -l) -eq $nlaps ]"
check "json: theoretical best and two sector lines" "grep -qE '\"theoretical_best\": [0-9]' <<<\"\$json\" && [ \$(grep -oE '\{\"lat1\": [0-9.e+-]+, \"long1\": [0-9.e+-]+, \"lat2\": [0-9.e+-]+, \"long2\": [0-9.e+-]+' <<<\"\$json\" | wc -l) -eq 2 ]"
json5=$("$CLI" laps --gxr "$SAMPLES/demo.gxr" --zlg "$SAMPLES/demo.zlg" --json --sectors 5)
check "--sectors 5: five sectors a lap, four lines" "[ \$(grep -oE '\"sectors\": \[([0-9.e+-]+, ){4}[0-9.e+-]+\]' <<<\"\$json5\" | wc -l) -eq $nlaps ] && [ \$(grep -o '\"lat1\"' <<<\"\$json5\" | wc -l) -eq 4 ]"
bad=0
for n in 0 21 2.5 x ""; do
    "$CLI" laps --gxr "$SAMPLES/demo.gxr" --zlg "$SAMPLES/demo.zlg" --sectors "$n" >/dev/null 2>&1; [ $? -eq 2 ] || bad=1
done
check "--sectors outside 1..20 is a usage error" "[ $bad -eq 0 ]"
check "the plain lap list is unchanged by --sectors" "[ \"\$("$CLI" laps --gxr "$SAMPLES/demo.gxr" --zlg "$SAMPLES/demo.zlg" --sectors 4)\" = \"\$out\" ]"

lap2=$(grep -oE '"lap": 2, "start_sample": [0-9]+, "end_sample": [0-9]+, "time": [0-9.e+-]+' <<<"$json")
start2=$(sed -E 's/.*"start_sample": ([0-9]+).*/\1/' <<<"$lap2")
end2=$(sed -E 's/.*"end_sample": ([0-9]+).*/\1/' <<<"$lap2")
time2=$(sed -E 's/.*"time": ([0-9.e+-]+).*/\1/' <<<"$lap2")
"$CLI" trace --gxr "$SAMPLES/demo.gxr" --zlg "$SAMPLES/demo.zlg" --lap 2 >"$tmp/trace"; rc=$?
check "trace: header and one row per sample plus the two crossing points" "[ $rc -eq 0 ] && [ \"\$(head -1 $tmp/trace)\" = distance,time,speed,east,north ] && [ \$(wc -l <$tmp/trace) -eq \$(( end2 - start2 + 3 )) ]"
check "trace: from 0 m at 0 s to the lap time" "sed -n 2p $tmp/trace | grep -q '^0.000,0.000,' && [ \"\$(tail -1 $tmp/trace | cut -d, -f2)\" = \"\$(printf '%.3f' $time2)\" ]"
check "trace: five numbers a row, distance and time never decrease" "awk -F, 'NR > 1 && (NF != 5 || \$1 < d || \$2 < t) { bad = 1 } NR > 1 { d = \$1; t = \$2 } END { exit bad }' $tmp/trace"
"$CLI" trace --gxr "$SAMPLES/demo.gxr" --wmx "$SAMPLES/demo.wmx" --lap 2 --vs 2 >"$tmp/self"; rc=$?
check "trace --vs the same lap: delta 0 throughout" "[ $rc -eq 0 ] && head -1 $tmp/self | grep -qx 'distance,time,speed,east,north,delta' && ! awk -F, 'NR > 1' $tmp/self | grep -qv ',0\.000$'"
"$CLI" trace --gxr "$SAMPLES/demo.gxr" --zlg "$SAMPLES/demo.zlg" --lap 2 --vs 4 >"$tmp/vs"; rc=$?
check "trace --vs another lap: a delta on every row within the shorter lap" "[ $rc -eq 0 ] && [ \$(awk -F, 'NR > 1 && \$6 != \"\"' $tmp/vs | wc -l) -ge \$(( end2 - start2 - 5 )) ]"
"$CLI" trace --gxr "$SAMPLES/demo.gxr" --zlg "$SAMPLES/demo.zlg" --lap 9999 2>"$tmp/err"; rc=$?
check "trace of a lap that does not exist fails" "[ $rc -eq 1 ] && grep -q 'There is no lap 9999' $tmp/err"
"$CLI" trace --gxr "$SAMPLES/demo.gxr" --zlg "$SAMPLES/demo.zlg" --direction reverse --lap 1 2>"$tmp/err"; rc=$?
check "trace cuts the laps with the gate rules given" "[ $rc -eq 1 ] && grep -q 'There is no lap 1' $tmp/err"
"$CLI" trace --gxr "$SAMPLES/demo.gxr" --zlg "$SAMPLES/demo.zlg" --lap 0 2>/dev/null; rc=$?
check "trace --lap 0 is a usage error" "[ $rc -eq 2 ]"
"$CLI" trace --gxr "$SAMPLES/demo.gxr" --zlg "$SAMPLES/demo.zlg" 2>/dev/null; rc=$?
check "trace without --lap is a usage error" "[ $rc -eq 2 ]"

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
for bad in "--direction sideways" "--gate-width 0" "--gate-width -3" "--gate-width inf" "--min-lap -1" "--min-lap nan" "--gate-width" "--max-gap 0" "--max-gap -2" "--max-gap nan" "--max-gap"; do
    "$CLI" laps --gxr "$SAMPLES/demo.gxr" --zlg "$SAMPLES/demo.zlg" $bad >/dev/null 2>&1; rc=$?
    check "usage error for $bad" "[ $rc -eq 2 ]"
done
"$CLI" ref --gxr "$SAMPLES/demo.gxr" --zlg "$SAMPLES/demo.zlg" --direction forward --lap 3 -o "$tmp/r.REF" >/dev/null
check "ref takes the rules too" "cmp -s $tmp/r.REF $GOLDEN/demo_zlg_lap3.REF"

# Pauses: a stretch without a fix longer than --max-gap ends a run, and no lap spans it.
check "json lists the runs: the demo is one" "grep -q '\"runs\": \[{\"first_sample\": [0-9]*, \"last_sample\": 6903, \"first_time\": [0-9.]*, \"last_time\": [0-9.]*}\], \"laps\"' <<<\"\$json\""
gj=$("$CLI" laps --gxr "$SAMPLES/demo.gxr" --zlg "$SAMPLES/demo.zlg" --max-gap 0.05 --json)
check "every 0.1 s step a pause under --max-gap 0.05: no laps" "grep -q '\"laps\": \[\]' <<<\"\$gj\""
"$CLI" trace --gxr "$SAMPLES/demo.gxr" --zlg "$SAMPLES/demo.zlg" --max-gap 0.05 --lap 1 2>"$tmp/err"; rc=$?
check "trace cuts the laps with --max-gap too" "[ $rc -eq 1 ] && grep -q 'There is no lap 1' $tmp/err"
"$CLI" trace --gxr "$SAMPLES/demo.gxr" --zlg "$SAMPLES/demo.zlg" --max-gap 0 --lap 1 2>/dev/null; rc=$?
check "trace --max-gap 0 is a usage error" "[ $rc -eq 2 ]"

# A text log whose data opens with an empty line: that line is no fix at 0 0.
awk '{ print } /^\[data\]/ { print "" }' "$SAMPLES/demo.zlg" >"$tmp/empty-first.zlg"
"$CLI" convert --zlg "$tmp/empty-first.zlg" -o "$tmp/ef.zlg" >"$tmp/out"; rc=$?
"$CLI" convert --zlg "$SAMPLES/demo.zlg" -o "$tmp/plain.zlg" >/dev/null
check "convert leaves out a line before the first position" "[ $rc -eq 0 ] && grep -q ': 6904 samples' $tmp/out && cmp -s $tmp/ef.zlg $tmp/plain.zlg"
"$CLI" laps --gxr "$SAMPLES/demo.gxr" --zlg "$tmp/empty-first.zlg" >"$tmp/ef.laps"
check "and the laps are the same" "[ \"\$(cat $tmp/ef.laps)\" = \"\$out\" ]"

# Help and usage errors: --help answers on every command, every rule option is
# checked the same way wherever it is taken.
bad=""
for cmd in "" laps ref trace convert circuits "circuits add" "circuits list" "circuits export" "circuits import" \
    "circuits find" "circuits rename" "circuits remove" "circuits add-country" "circuits countries"; do
    "$CLI" $cmd --help >"$tmp/help" 2>&1 && grep -q "^Usage: lorvane-cli $cmd" "$tmp/help" || bad="$bad '$cmd'"
done
check "--help prints the usage and exits 0 on the program and each command:$bad" "[ -z \"$bad\" ]"
bad=""
for cmd in laps "ref --lap 1" "trace --lap 1"; do
    for opt in "--gate-width x" "--min-lap -1" "--max-gap" "--direction up"; do
        "$CLI" $cmd --gxr "$SAMPLES/demo.gxr" --zlg "$SAMPLES/demo.zlg" $opt >/dev/null 2>"$tmp/err"
        [ $? -eq 2 ] && grep -q "^lorvane-cli: ${opt%% *}" "$tmp/err" || bad="$bad '$cmd $opt'"
    done
done
check "a bad rule value is a usage error naming the option for laps, ref and trace:$bad" "[ -z \"$bad\" ]"

# A path that is not UTF-8 (byte 0xFF) in the JSON: still valid JSON, read strictly.
ff="$tmp/bad"$'\xff'".zlg"
awk 'NR == 300 { print "12 345678.90 abc def" } { print }' "$SAMPLES/demo.zlg" >"$ff"
"$CLI" laps --gxr "$SAMPLES/demo.gxr" --zlg "$ff" --json >"$tmp/ff.json" 2>/dev/null; rc=$?
check "json of a log whose path is not UTF-8 parses, the path in its error" "[ $rc -eq 1 ] && python3 -c 'import json, sys; e = json.loads(open(sys.argv[1], \"rb\").read().decode(\"utf-8\"))[\"error\"]; sys.exit(\"bad\\ufffd.zlg, line 300\" not in e)' $tmp/ff.json"

echo "$passes passed, $fails failed"
[ $fails -eq 0 ]
