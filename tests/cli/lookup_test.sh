#!/usr/bin/env bash
# laps and ref without --gxr: the circuit is found in the database.
set -u
CLI=$1
GEN=$2
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
fails=0
check() { # description, condition
    if eval "$2"; then echo "ok: $1"; else echo "FAILED: $1"; fails=$((fails + 1)); fi
}
DB="$tmp/circuits.db"

# Three circuits in three places, one with a separate finish line.
"$GEN" --seed 71 --laps 4 --lat 52.07 --lon -1.01 --out "$tmp/a" --quiet
"$GEN" --seed 72 --laps 3 --lat 45.61 --lon 9.28 --finish --out "$tmp/b" --quiet
"$GEN" --seed 73 --laps 5 --lat -37.85 --lon 144.97 --out "$tmp/c" --quiet
for s in a b c; do
    "$CLI" circuits add --gxr "$tmp/$s.gxr" --name "Circuit $s" --lap-distance 1234.5 --db "$DB" >/dev/null
    check "circuit $s added" "[ \$? -eq 0 ]"
done

for s in a b c; do
    want=$("$CLI" laps --gxr "$tmp/$s.gxr" --zlg "$tmp/$s.zlg")
    got=$("$CLI" laps --zlg "$tmp/$s.zlg" --db "$DB"); rc=$?
    check "laps of $s without --gxr are those with its .gxr" "[ $rc -eq 0 ] && [ -n \"\$want\" ] && [ \"\$want\" = \"\$got\" ]"
    got=$("$CLI" laps --wmx "$tmp/$s.wmx" --db "$DB"); rc=$?
    want=$("$CLI" laps --gxr "$tmp/$s.gxr" --wmx "$tmp/$s.wmx")
    check "and of its binary log" "[ $rc -eq 0 ] && [ \"\$want\" = \"\$got\" ]"
    json=$("$CLI" laps --zlg "$tmp/$s.zlg" --json --db "$DB")
    check "the JSON names circuit $s" "grep -q '\"circuit\": \"Circuit $s\"' <<<\"\$json\""
done
json=$("$CLI" laps --gxr "$tmp/a.gxr" --zlg "$tmp/a.zlg" --json)
check "the JSON has a null circuit with --gxr" "grep -q '\"circuit\": null' <<<\"\$json\""

"$CLI" circuits export "Circuit b" -o "$tmp/b-export.gxr" --db "$DB" >/dev/null
"$CLI" ref --gxr "$tmp/b-export.gxr" --zlg "$tmp/b.zlg" --lap best -o "$tmp/want.ref" >/dev/null
"$CLI" ref --zlg "$tmp/b.zlg" --lap best -o "$tmp/got.ref" --db "$DB" >/dev/null; rc=$?
check "ref without --gxr writes the reference file of the exported circuit" "[ $rc -eq 0 ] && cmp -s $tmp/want.ref $tmp/got.ref"

# The stored gate rules apply unless the command line gives rules.
"$CLI" circuits add --gxr "$tmp/c.gxr" --name "Circuit c backwards" --direction reverse --db "$DB" >/dev/null
"$CLI" circuits remove "Circuit c" --db "$DB" >/dev/null
got=$("$CLI" laps --zlg "$tmp/c.zlg" --db "$DB" 2>"$tmp/err"); rc=$?
dir=$("$CLI" laps --gxr "$tmp/c.gxr" --zlg "$tmp/c.zlg" --json | grep -o '"direction": "[a-z]*"' | sed -n 2p | cut -d'"' -f4)
other=$([ "$dir" = forward ] && echo reverse || echo forward)
# A reverse-only circuit crossed forward is no match; crossed in reverse, one.
if [ "$dir" = forward ]; then
    check "a circuit whose direction rule the log breaks is no match" "[ $rc -eq 1 ] && grep -q 'no circuit in the database matches this log; give --gxr' $tmp/err"
else
    check "the stored direction rule is used" "[ $rc -eq 0 ]"
fi
got=$("$CLI" laps --zlg "$tmp/c.zlg" --circuit "Circuit c backwards" --direction both --db "$DB"); rc=$?
want=$("$CLI" laps --gxr "$tmp/c.gxr" --zlg "$tmp/c.zlg")
check "rules on the command line win over the stored ones" "[ $rc -eq 0 ] && [ \"\$want\" = \"\$got\" ]"
json=$("$CLI" laps --zlg "$tmp/c.zlg" --circuit "Circuit c backwards" --json --db "$DB")
check "the stored rules are in the JSON" "grep -q '\"rules\": {\"direction\": \"reverse\"' <<<\"\$json\""

# Two layouts on one start line: both are offered.
"$CLI" circuits add --gxr "$tmp/a.gxr" --name "Circuit a short" --lap-distance 987.6 --db "$DB" >/dev/null
out=$("$CLI" laps --zlg "$tmp/a.zlg" --db "$DB" 2>"$tmp/err"); rc=$?
check "two layouts: exit 1, nothing listed on standard output" "[ $rc -eq 1 ] && [ -z \"\$out\" ]"
check "both layouts offered with their lap distances" "grep -q 'give --circuit NAME' $tmp/err && grep -q \$'Circuit a\t1234.5 m' $tmp/err && grep -q \$'Circuit a short\t987.6 m' $tmp/err"
got=$("$CLI" laps --zlg "$tmp/a.zlg" --circuit "circuit a short" --db "$DB"); rc=$?
want=$("$CLI" laps --gxr "$tmp/a.gxr" --zlg "$tmp/a.zlg")
check "--circuit chooses one" "[ $rc -eq 0 ] && [ \"\$want\" = \"\$got\" ]"
"$CLI" laps --zlg "$tmp/a.zlg" --circuit "Nowhere" --db "$DB" 2>"$tmp/err"; rc=$?
check "an unknown --circuit fails naming it" "[ $rc -eq 1 ] && grep -q \"no circuit named 'Nowhere'\" $tmp/err"

# No circuit here at all.
"$GEN" --seed 74 --laps 2 --lat 10.5 --lon 20.5 --out "$tmp/d" --quiet
"$CLI" laps --zlg "$tmp/d.zlg" --db "$DB" 2>"$tmp/err"; rc=$?
check "no match: exit 1 asking for --gxr" "[ $rc -eq 1 ] && grep -q 'no circuit in the database matches this log; give --gxr' $tmp/err"
"$CLI" laps --gxr "$tmp/d.gxr" --circuit "Circuit a" --zlg "$tmp/d.zlg" 2>/dev/null; rc=$?
check "--gxr with --circuit is a usage error" "[ $rc -eq 2 ]"
printf 'not a database' >"$tmp/bad.db"
"$CLI" laps --zlg "$tmp/a.zlg" --db "$tmp/bad.db" 2>"$tmp/err"; rc=$?
check "a file that is not a database fails naming it" "[ $rc -eq 1 ] && grep -q 'bad.db' $tmp/err && [ \"\$(cat $tmp/bad.db)\" = 'not a database' ]"

# Split lines: given with --gxr, or stored with a circuit and found without it.
# Two lines where the equal-distance ones of circuit a lie, given out of order,
# in the .gxr's units (hundred-thousandths of a minute, longitude first).
splits=$("$CLI" laps --gxr "$tmp/a.gxr" --zlg "$tmp/a.zlg" --json | python3 -c '
import json, sys
for l in reversed(json.load(sys.stdin)["sector_lines"]):
    print("--split=%d,%d,%d,%d" % tuple(round(l[k] * 100000) for k in ("long1", "lat1", "long2", "lat2")))')
# shellcheck disable=SC2086
"$CLI" laps --gxr "$tmp/a.gxr" --zlg "$tmp/a.zlg" --json $splits --sectors 7 >"$tmp/split.json"; rc=$?
check "--split with --gxr: three sectors a lap at the lines given, summing to each lap time" "[ $rc -eq 0 ] && python3 - $tmp/split.json '$splits' <<'PY'
import json, sys
d = json.load(open(sys.argv[1]))
given = [[int(v) / 100000 for v in s.split('=')[1].split(',')] for s in sys.argv[2].split()]
lines = [[l['long1'], l['lat1'], l['long2'], l['lat2']] for l in d['sector_lines']]
ok = d['sector_count'] == 3 and len(d['laps']) == 4 and lines == given[::-1]
ok = ok and lines[0] != lines[1] and d['sector_lines'][0]['distance'] < d['sector_lines'][1]['distance']
for l in d['laps']:
    ok = ok and len(l['sectors']) == 3 and all(s is not None and s > 0 for s in l['sectors'])
    ok = ok and abs(sum(l['sectors']) - l['time']) < 1e-9
sys.exit(0 if ok else 1)
PY"
SDB="$tmp/splits.db"
# shellcheck disable=SC2086
"$CLI" circuits add --gxr "$tmp/a.gxr" --name "Circuit a split" $splits --db "$SDB" >/dev/null; rc=$?
check "circuits add --split stores the lines in order" "[ $rc -eq 0 ] && [ \$(\"$CLI\" circuits list --json --db \"$SDB\" | grep -o '\"lat1\"' | wc -l) -eq 3 ]"
"$CLI" laps --zlg "$tmp/a.zlg" --json --db "$SDB" | sed 's/"circuit": "Circuit a split"/"circuit": null/' >"$tmp/stored.json"
check "without --gxr the stored split lines cut the sectors as --split does" "[ -s $tmp/split.json ] && cmp -s $tmp/split.json $tmp/stored.json"
# The same lines in the split file beside a copy of the .gxr.
cp "$tmp/a.gxr" "$tmp/b.gxr"
for s in $splits; do echo "${s#--split=}"; done >"$tmp/b.splits"
"$CLI" laps --gxr "$tmp/b.gxr" --zlg "$tmp/a.zlg" --json --sectors 7 >"$tmp/beside.json"
"$CLI" circuits add --gxr "$tmp/b.gxr" --name "Circuit b" --db "$tmp/beside.db" >/dev/null
check "--gxr and circuits add read the split file beside the .gxr" "python3 -c '
import json, sys
a, b = (json.load(open(f)) for f in sys.argv[1:3])
sys.exit(0 if a[\"sector_lines\"] == b[\"sector_lines\"] and [l[\"sectors\"] for l in a[\"laps\"]] == [l[\"sectors\"] for l in b[\"laps\"]] else 1)' $tmp/split.json $tmp/beside.json && [ \$(\"$CLI\" circuits list --json --db \"$tmp/beside.db\" | grep -o '\"lat1\"' | wc -l) -eq 3 ]"
"$CLI" laps --zlg "$tmp/a.zlg" --json --db "$SDB" --split=1,2,3,4 | grep -o '"sector_count": [0-9]*' >"$tmp/count"
check "--split in place of the stored lines (none on the track: equal distances)" "grep -qx '\"sector_count\": 3' $tmp/count"
bad=0
for v in 1,2,3 1,2,3,4,5 1,x,3,4 1,2,1,2 0,0,3,4 1,2e9,3,4 ''; do
    for cmd in "laps --gxr $tmp/a.gxr --zlg $tmp/a.zlg" "ref --gxr $tmp/a.gxr --zlg $tmp/a.zlg --lap 1 -o $tmp/x.ref" \
        "trace --gxr $tmp/a.gxr --zlg $tmp/a.zlg --lap 1" "circuits add --gxr $tmp/a.gxr --name x --db $SDB"; do
        # shellcheck disable=SC2086
        "$CLI" $cmd --split="$v" >/dev/null 2>"$tmp/err"
        [ $? -eq 2 ] && grep -q -- '--split' "$tmp/err" || { bad=1; echo "  --split '$v' on ${cmd%% *}"; }
    done
done
check "a bad --split is a usage error naming it, on laps, ref, trace and circuits add" "[ $bad -eq 0 ] && [ ! -e $tmp/x.ref ]"

[ $fails -eq 0 ] && echo "all passed" || echo "$fails failed"
exit $((fails > 0))
