#!/usr/bin/env bash
# lorvane-cli circuits as a user runs it, on a database in a temporary folder.
set -u
CLI=$1
SAMPLES=$2
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
fails=0
check() { # description, condition
    if eval "$2"; then echo "ok: $1"; else echo "FAILED: $1"; fails=$((fails + 1)); fi
}
DB="$tmp/data/circuits.db"

"$CLI" circuits add-country --name Demoland --box 53 -1 53.3 -0.3 --db "$DB" >/dev/null; rc=$?
check "add-country creates the database and its folder" "[ $rc -eq 0 ] && [ -s '$DB' ]"

out=$("$CLI" circuits add --gxr "$SAMPLES/demo.gxr" --name "Demo full" --lap-distance 2503.6 --db "$DB"); rc=$?
check "add takes the country from the stored boxes" "[ $rc -eq 0 ] && [ \"\$out\" = 'added Demo full (Demoland)' ]"
"$CLI" circuits add --gxr "$SAMPLES/demo.gxr" --name "Demo club" --direction forward --db "$DB" >/dev/null
check "a second layout on the same start line" "[ \$? -eq 0 ]"

"$CLI" circuits add --gxr "$SAMPLES/demo.gxr" --name "demo FULL" --db "$DB" 2>"$tmp/err"; rc=$?
check "a duplicate name is refused" "[ $rc -eq 1 ] && grep -q \"^lorvane-cli: A circuit named 'demo FULL' is already in the database\" $tmp/err"
"$CLI" circuits add --gxr "$SAMPLES/demo.zlg" --name "Not a gxr" --db "$DB" 2>"$tmp/err"; rc=$?
check "a start/finish file that does not read is refused, naming it" "[ $rc -eq 1 ] && grep -q 'demo.zlg' $tmp/err"
"$CLI" circuits add --gxr "$SAMPLES/demo.gxr" --name "" --db "$DB" 2>"$tmp/err"; rc=$?
check "an empty name is refused" "[ $rc -eq 1 ] && grep -q 'empty' $tmp/err"
"$CLI" circuits add --gxr "$SAMPLES/demo.gxr" --name X --country Nowhere --db "$DB" 2>"$tmp/err"; rc=$?
check "an unknown country is refused" "[ $rc -eq 1 ] && grep -q 'Nowhere' $tmp/err"
list=$("$CLI" circuits list --db "$DB")
check "refused adds stored nothing" "[ \$(wc -l <<<\"\$list\") -eq 2 ]"
check "list is sorted by name, tab-separated" "[ \"\$(cut -f1 <<<\"\$list\" | tr '\n' ,)\" = 'Demo club,Demo full,' ] && grep -q \$'^Demo full\tDemoland\t2503.6\t53.15' <<<\"\$list\""

json=$("$CLI" circuits list --json --db "$DB")
check "json list" "grep -q '\"name\": \"Demo club\"' <<<\"\$json\" && grep -q '\"direction\": \"forward\"' <<<\"\$json\" && grep -q '\"lap_distance\": 2503.6' <<<\"\$json\""
check "search" "[ \"\$(\"$CLI\" circuits list --search CLUB --db '$DB' | cut -f1)\" = 'Demo club' ]"

"$CLI" circuits export "demo full" -o "$tmp/out.gxr" --db "$DB" >/dev/null; rc=$?
check "export writes a .gxr" "[ $rc -eq 0 ] && grep -q '^\[Start finish\]' $tmp/out.gxr"
check "exported lines end in CR LF" "[ \$(grep -c \$'\\r\$' $tmp/out.gxr) -eq \$(wc -l <$tmp/out.gxr) ]"
a=$("$CLI" laps --gxr "$SAMPLES/demo.gxr" --zlg "$SAMPLES/demo.zlg")
b=$("$CLI" laps --gxr "$tmp/out.gxr" --zlg "$SAMPLES/demo.zlg")
check "the exported file gives the same laps" "[ -n \"\$a\" ] && [ \"\$a\" = \"\$b\" ]"
cp "$tmp/out.gxr" "$tmp/keep.gxr"
"$CLI" circuits export "Missing" -o "$tmp/out.gxr" --db "$DB" 2>"$tmp/err"; rc=$?
check "export of an unknown circuit fails and leaves the file" "[ $rc -eq 1 ] && cmp -s $tmp/out.gxr $tmp/keep.gxr"

mkdir "$tmp/folder"
cp "$SAMPLES/demo.gxr" "$tmp/folder/Imported.gxr"
printf '[Start finish]\r\nabc\r\n' >"$tmp/folder/broken.gxr"
cp "$SAMPLES/demo.gxr" "$tmp/folder/Demo club.gxr"
out=$("$CLI" circuits import "$tmp/folder" --db "$DB" 2>"$tmp/err"); rc=$?
check "import adds the good files and names the others" "[ $rc -eq 1 ] && [ \"\$out\" = 'added 1, skipped 2' ] && grep -q 'broken.gxr, line 2' $tmp/err && grep -q 'Demo club.gxr' $tmp/err"

"$CLI" circuits rename Imported "Imported 2" --db "$DB" >/dev/null
"$CLI" circuits remove "imported 2" --db "$DB" >/dev/null; rc=$?
check "rename and remove" "[ $rc -eq 0 ] && [ \$(\"$CLI\" circuits list --db '$DB' | wc -l) -eq 2 ]"
"$CLI" circuits remove "imported 2" --db "$DB" 2>/dev/null; rc=$?
check "removing what is not there fails" "[ $rc -eq 1 ]"

"$CLI" circuits add --gxr "$SAMPLES/demo.gxr" --name "Demo reversed" --direction reverse --db "$DB" >/dev/null
nlaps=$("$CLI" laps --gxr "$SAMPLES/demo.gxr" --zlg "$SAMPLES/demo.zlg" | wc -l)
found=$("$CLI" circuits find --zlg "$SAMPLES/demo.zlg" --db "$DB"); rc=$?
check "find offers both layouts on the start line the log crosses, not the reversed one" "[ $rc -eq 0 ] && [ \"\$(cut -f1 <<<\"\$found\" | tr '\n' ,)\" = 'Demo club,Demo full,' ]"
check "find counts one crossing more than there are laps" "[ \"\$(cut -f2 <<<\"\$found\" | sort -u)\" = $((nlaps + 1)) ]"
wfound=$("$CLI" circuits find --wmx "$SAMPLES/demo.wmx" --json --db "$DB")
check "find on the binary log, as json" "grep -q '\"circuit\": {\"name\": \"Demo club\"' <<<\"\$wfound\" && ! grep -q 'Demo reversed' <<<\"\$wfound\""
"$CLI" circuits find --zlg "$tmp/missing.zlg" --db "$DB" 2>"$tmp/err"; rc=$?
check "find on a missing log: File not found" "[ $rc -eq 1 ] && grep -q 'File not found' $tmp/err"

printf 'not a database at all, just text that is long enough' >"$tmp/text.db"
cp "$tmp/text.db" "$tmp/text.orig"
"$CLI" circuits list --db "$tmp/text.db" 2>"$tmp/err"; rc=$?
check "a file that is not a database: error naming it, file untouched" "[ $rc -eq 1 ] && grep -q 'text.db' $tmp/err && cmp -s $tmp/text.db $tmp/text.orig"
cp "$DB" "$tmp/newer.db"
sqlite3 "$tmp/newer.db" 'PRAGMA user_version = 9' 2>/dev/null || python3 -c "import sqlite3,sys; c=sqlite3.connect(sys.argv[1]); c.execute('PRAGMA user_version = 9'); c.commit()" "$tmp/newer.db"
"$CLI" circuits list --db "$tmp/newer.db" 2>"$tmp/err"; rc=$?
check "a newer schema is refused" "[ $rc -eq 1 ] && grep -q 'newer Lorvane (schema 9' $tmp/err"

XDG_DATA_HOME="$tmp/xdg" "$CLI" circuits list >/dev/null; rc=$?
check "the default database lives in the XDG data folder" "[ $rc -eq 0 ] && [ -f $tmp/xdg/lorvane/circuits.db ]"

"$CLI" circuits add --name X --db "$DB" 2>/dev/null; rc=$?
check "missing --gxr is a usage error" "[ $rc -eq 2 ]"
"$CLI" circuits frobnicate --db "$DB" 2>/dev/null; rc=$?
check "unknown command is a usage error" "[ $rc -eq 2 ]"
"$CLI" circuits add-country --name Y --box 1 2 3 --db "$DB" 2>/dev/null; rc=$?
check "a short --box is a usage error" "[ $rc -eq 2 ]"
"$CLI" circuits list --lap 3 --db "$DB" 2>/dev/null; rc=$?
check "an option of another command is a usage error" "[ $rc -eq 2 ]"

echo "$(( $(grep -c '^check ' "$0") - fails )) passed, $fails failed"
[ $fails -eq 0 ]
