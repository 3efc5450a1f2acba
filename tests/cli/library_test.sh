#!/usr/bin/env bash
# library add/list/best and ref --session, run as a user would.
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

mkdir -p "$tmp/logs"
"$GEN" --seed 81 --laps 4 --lat 52.07 --lon -1.01 --out "$tmp/a" --quiet
"$GEN" --seed 82 --laps 3 --lat 45.61 --lon 9.28 --finish --out "$tmp/b" --quiet
"$CLI" circuits add --gxr "$tmp/a.gxr" --name "Circuit A" --db "$DB" >/dev/null
"$CLI" circuits add --gxr "$tmp/b.gxr" --name "Circuit B" --direction forward --db "$DB" >/dev/null
cp "$tmp/a.zlg" "$tmp/b.wmx" "$tmp/logs/"
printf 'junk\n' >"$tmp/logs/junk.nmea"

out=$("$CLI" library add "$tmp/logs" --db "$DB" 2>"$tmp/err"); rc=$?
check "add: one line per file, the refused one with its reason, exit 1" \
    "[ $rc -eq 1 ] && [ \"\$(sed 's/:.*//' <<<\"\$out\")\" = \"added $tmp/logs/a.zlg
added $tmp/logs/b.wmx
refused $tmp/logs/junk.nmea\" ] && [ ! -s $tmp/err ]"
out=$("$CLI" library add "$tmp/logs/a.zlg" "$tmp/logs/b.wmx" --jobs 1 --db "$DB"); rc=$?
check "add again: unchanged, exit 0" "[ $rc -eq 0 ] && [ \"\$out\" = \"unchanged $tmp/logs/a.zlg
unchanged $tmp/logs/b.wmx\" ]"

json=$("$CLI" library list --json --db "$DB")
check "list --json has the documented fields" \
    "python3 -c 'import json,sys; v=json.loads(sys.argv[1]); assert [list(o) for o in v]==[[\"id\",\"path\",\"kind\",\"date\",\"circuit\",\"laps\",\"best\",\"best_lap\",\"theoretical_best\"]]*2; assert v[0][\"circuit\"]==\"Circuit A\" and v[0][\"laps\"]==4 and v[1][\"kind\"]==\"wmx\"' \"\$json\""
id_b=$("$CLI" library list --circuit "circuit b" --db "$DB" | cut -f1)
check "list --circuit NAME: the sessions there, case ignored" "[ \"\$id_b\" = 2 ]"
best=$("$CLI" library best --circuit "Circuit A" --top 2 --json --db "$DB")
want=$("$CLI" laps --zlg "$tmp/a.zlg" --circuit "Circuit A" --json --db "$DB")
check "best --json: the fastest laps, fastest first" \
    "python3 -c 'import json,sys; b=json.loads(sys.argv[1]); l=sorted((x[\"time\"],x[\"lap\"]) for x in json.loads(sys.argv[2])[\"laps\"]); assert [(x[\"time\"],x[\"lap\"]) for x in b]==l[:2], (b,l); assert list(b[0])==[\"session\",\"lap\",\"time\",\"path\",\"date\"]' \"\$best\" \"\$want\""

# ref --session: byte for byte what ref writes on the log with the same circuit.
for lap in best 2; do
    "$CLI" ref --zlg "$tmp/a.zlg" --circuit "Circuit A" --lap $lap -o "$tmp/want.ref" --db "$DB" >/dev/null
    "$CLI" ref --session 1 --lap $lap -o "$tmp/got.ref" --db "$DB" >/dev/null; rc=$?
    check "ref --session 1 --lap $lap is ref on the log" "[ $rc -eq 0 ] && cmp -s $tmp/want.ref $tmp/got.ref"
done
"$CLI" ref --wmx "$tmp/b.wmx" --circuit "Circuit B" --lap best --fixed -o "$tmp/want.ref" --db "$DB" >/dev/null
"$CLI" ref --session 2 --lap best --fixed -o "$tmp/got.ref" --db "$DB" >/dev/null; rc=$?
check "and for a binary log with a finish line and a direction rule" "[ $rc -eq 0 ] && cmp -s $tmp/want.ref $tmp/got.ref"
printf 'x' >>"$tmp/logs/a.zlg"
"$CLI" ref --session 1 --lap 1 -o "$tmp/x.ref" --db "$DB" 2>"$tmp/err"; rc=$?
check "a log changed since it was added is refused" "[ $rc -eq 1 ] && grep -q 'has changed since it was added' $tmp/err && [ ! -e $tmp/x.ref ]"
rm "$tmp/logs/b.wmx"
"$CLI" ref --session 2 --lap 1 -o "$tmp/x.ref" --db "$DB" 2>"$tmp/err"; rc=$?
check "a log that is gone is refused" "[ $rc -eq 1 ] && grep -q 'is gone' $tmp/err"

for args in "library" "library add --db $DB" "library best --db $DB" "library add $tmp --jobs 0 --db $DB" \
    "ref --session x --lap 1 --db $DB" "ref --session 1 --zlg $tmp/a.zlg --lap 1 --db $DB" "library list --bogus"; do
    "$CLI" $args >/dev/null 2>&1; rc=$?
    check "usage error: $args" "[ $rc -eq 2 ]"
done
for args in "library --help" "library add --help" "library list --help" "library best --help"; do
    "$CLI" $args >/dev/null 2>&1; rc=$?
    check "$args exits 0" "[ $rc -eq 0 ]"
done

# Stopped part-way: what was stored stays, and adding again completes it.
mkdir -p "$tmp/many"
for i in $(seq 1 40); do cp "$tmp/a.wmx" "$tmp/many/s$i.wmx"; printf '%d' $i >>"$tmp/many/s$i.wmx"; done
"$CLI" library add "$tmp/many" --jobs 1 --db "$DB" >"$tmp/first" 2>/dev/null &
pid=$!
while [ ! -s "$tmp/first" ]; do sleep 0.01; done
kill -KILL $pid 2>/dev/null
wait $pid 2>/dev/null
n1=$(grep -c '^added' "$tmp/first")
"$CLI" library add "$tmp/many" --db "$DB" >"$tmp/second"
check "after a kill, adding again completes it ($n1 stored before)" \
    "[ \$(grep -c '^unchanged' $tmp/second) -ge $n1 ] && [ \$(grep -c . $tmp/second) -eq 40 ] && ! grep -qv '^added\|^unchanged' $tmp/second"
n=$("$CLI" library list --db "$DB" | grep -c "$tmp/many/")
check "each file stored once" "[ $n -eq 40 ]"

# Two adds at once into one database (as the window and the command line may):
# both finish, nothing is lost to a locked database.
mkdir -p "$tmp/one" "$tmp/two"
for i in $(seq 1 15); do
    cp "$tmp/a.zlg" "$tmp/one/s$i.zlg"; printf '\n' >>"$tmp/one/s$i.zlg"; head -c -$i "$tmp/a.wmx" >"$tmp/two/s$i.wmx"
done
"$CLI" library add "$tmp/one" --db "$tmp/both.db" >"$tmp/one.out" 2>&1 & p1=$!
"$CLI" library add "$tmp/two" --db "$tmp/both.db" >"$tmp/two.out" 2>&1 & p2=$!
wait $p1; rc1=$?
wait $p2; rc2=$?
n=$("$CLI" library list --db "$tmp/both.db" | wc -l)
check "two adds at once both store every file ($rc1 $rc2, $n sessions)" "[ $rc1 -eq 0 ] && [ $rc2 -eq 0 ] && [ $n -eq 30 ]"

# A file that is not our database is refused and left alone.
printf 'not a database' >"$tmp/other.db"
"$CLI" library list --db "$tmp/other.db" 2>"$tmp/err"; rc=$?
check "a file that is not our database is refused, untouched" \
    "[ $rc -eq 1 ] && grep -q other.db $tmp/err && [ \"\$(cat $tmp/other.db)\" = 'not a database' ]"

echo "$fails failed"
[ $fails -eq 0 ]
