#!/usr/bin/env bash
# lorvane-cli channels and trace --channels: on the demo text log, and on the
# real race car's CSV and kart NMEA recordings when they are on this machine
# (REALDATA; their start/finish files are in GXRS).
set -u
CLI=$1
SAMPLES=$2
REALDATA=$3
GXRS=$4
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
fails=0
passes=0
check() { # description, condition
    if eval "$2"; then echo "ok: $1"; passes=$((passes + 1)); else echo "FAILED: $1"; fails=$((fails + 1)); fi
}
# The JSON of `channels`, checked by the python expression given (`c`: the list).
json_check() { # file, expression
    python3 -c 'import json, sys; c = json.load(open(sys.argv[1])); sys.exit(0 if eval(sys.argv[2]) else 1)' "$1" "$2"
}
# Rows of a trace whose speed column ($3, km/h) is not the channel in column
# $6 times FACTOR to within 0.01 km/h (the trace prints two decimals, and a
# crossing row one decimal more than the log wrote).
speed_mismatches() { # trace file, factor
    awk -F, -v f="$2" 'NR > 1 { d = $3 - $6 * f; if (d < 0) d = -d; if ($6 == "" || d > 0.01) bad++ } END { print bad + 0 }' "$1"
}

# The demo text log: its [header] lines with their [channel units].
data_lines=$(awk 'd { n++ } /^\[data\]/ { d = 1 } END { print n }' "$SAMPLES/demo.zlg")
"$CLI" channels --zlg "$SAMPLES/demo.zlg" --json >"$tmp/demo.json"; rc=$?
check "channels --json of the demo log: its channel list in order, units as the file gives them, a value on every line" \
    "[ $rc -eq 0 ] && json_check $tmp/demo.json \"[(x['name'], x['unit']) for x in c][:7] == [('Velocity', 'km/h'), ('Longitude', 'min'), ('Time', 'hhmmss.ss'), ('Sync time', 's'), ('Latitude', 'min'), ('Heading', 'deg'), ('Satellites', '')] and all(list(x) == ['name', 'unit', 'samples'] and x['samples'] == $data_lines for x in c)\""
nchannels=$(python3 -c 'import json, sys; print(len(json.load(open(sys.argv[1]))))' "$tmp/demo.json" 2>/dev/null || echo 0)
"$CLI" channels --zlg "$SAMPLES/demo.zlg" >"$tmp/demo.txt"; rc=$?
check "channels: a table, a line a channel under a heading" \
    "[ $rc -eq 0 ] && head -1 $tmp/demo.txt | grep -qE '^name +unit +samples$' && grep -qE '^Velocity +km/h +$data_lines$' $tmp/demo.txt && [ \$(wc -l <$tmp/demo.txt) -eq $((nchannels + 1)) ]"
check "channels of the binary log: a JSON list" "\"$CLI\" channels --wmx \"$SAMPLES/demo.wmx\" --json | grep -qx '\[.*\]'"
"$CLI" channels --zlg "$tmp/missing.zlg" 2>"$tmp/err"; rc=$?
check "channels of a missing file: the error names it" "[ $rc -eq 1 ] && grep -q 'File not found (in .*missing.zlg)' $tmp/err"
"$CLI" channels 2>/dev/null; rc=$?
check "channels without a log is a usage error" "[ $rc -eq 2 ]"

# Lap 2's samples (start_sample to end_sample - 1), from laps --json, and the log's Velocity (first field) on every data line.
lap2=$("$CLI" laps --gxr "$SAMPLES/demo.gxr" --zlg "$SAMPLES/demo.zlg" --json | python3 -c 'import json, sys; l = json.load(sys.stdin)["laps"][1]; print(l["start_sample"], l["end_sample"])')
read -r start2 end2 <<<"$lap2"
awk 'd { print $1 } /^\[data\]/ { d = 1 }' "$SAMPLES/demo.zlg" >"$tmp/velocity"
"$CLI" trace --gxr "$SAMPLES/demo.gxr" --zlg "$SAMPLES/demo.zlg" --lap 2 >"$tmp/plain"
"$CLI" trace --gxr "$SAMPLES/demo.gxr" --zlg "$SAMPLES/demo.zlg" --lap 2 --channels velocity,Heading >"$tmp/ch"; rc=$?
check "trace --channels: a column each, headed by the log's name, after the usual five" \
    "[ $rc -eq 0 ] && head -1 $tmp/ch | grep -qx 'distance,time,speed,east,north,Velocity,Heading' && cut -d, -f1-5 $tmp/ch | cmp -s - $tmp/plain"
# Sample rows: the log's own values, line for line; the crossing rows: between the samples either side.
awk -F, 'NR > 1 { print $6 }' "$tmp/ch" >"$tmp/chv"
sed -n "$((start2 + 1)),${end2}p" "$tmp/velocity" >"$tmp/want" # samples start2 to end2 - 1
check "trace --channels: Velocity on every sample row as the log writes it" \
    "[ -s $tmp/want ] && [ \$(sed '1d;\$d' $tmp/chv | wc -l) -eq \$(wc -l <$tmp/want) ] && sed '1d;\$d' $tmp/chv | paste -d' ' - $tmp/want | awk '\$1 == \"\" || \$1 + 0 != \$2 + 0 { exit 1 }'"
between() { awk -v x="${1:-}" -v a="${2:-}" -v b="${3:-}" 'BEGIN { exit !(x != "" && ((x >= a && x <= b) || (x >= b && x <= a))) }'; }
check "trace --channels: the crossing rows' Velocity between the samples either side" \
    "between \$(head -1 $tmp/chv) \$(sed -n ${start2}p $tmp/velocity) \$(sed -n 2p $tmp/chv) && between \$(tail -1 $tmp/chv) \$(sed -n ${end2}p $tmp/velocity) \$(sed -n $((end2 + 1))p $tmp/velocity)"
"$CLI" trace --gxr "$SAMPLES/demo.gxr" --zlg "$SAMPLES/demo.zlg" --lap 2 --channels Velocity,Boost 2>"$tmp/err" >/dev/null; rc=$?
check "trace --channels with a channel the log lacks: the error names it and lists the log's" \
    "[ $rc -eq 1 ] && grep -q 'no channel \"Boost\" (its channels: Velocity, Longitude, Time, Sync time, Latitude, Heading, Satellites[,)]' $tmp/err"

PIR=$REALDATA/pir-corrado-2019/pir_corrado_2019-08-18_tfr.csv
if [ -f "$PIR" ]; then
    "$CLI" channels --log "$PIR" --json >"$tmp/pir.json"; rc=$?
    check "the race car's CSV: every column, units from the names, 77509 samples each" \
        "[ $rc -eq 0 ] && [ \"\$(cat $tmp/pir.json)\" = '[{\"name\": \"Elapsed Time\", \"unit\": \"\", \"samples\": 77509}, {\"name\": \"Lat\", \"unit\": \"Degrees\", \"samples\": 77509}, {\"name\": \"Lon\", \"unit\": \"Degrees\", \"samples\": 77509}, {\"name\": \"Altitude\", \"unit\": \"meters\", \"samples\": 77509}, {\"name\": \"Velocity\", \"unit\": \"MPH\", \"samples\": 77509}, {\"name\": \"Lap\", \"unit\": \"\", \"samples\": 77509}]' ]"
    "$CLI" trace --gxr "$GXRS/pir.gxr" --log "$PIR" --direction forward --lap 3 --channels Velocity,Lap >"$tmp/pir"; rc=$?
    # The file's own speed is the trace's, in km/h; its Lap column steps once, near the line.
    check "the race car's lap 3: Velocity in MPH is the trace's speed on every row" \
        "[ $rc -eq 0 ] && head -1 $tmp/pir | grep -qx 'distance,time,speed,east,north,Velocity,Lap' && [ \$(speed_mismatches $tmp/pir 1.609344) -eq 0 ]"
    check "the race car's lap 3: its rows as the file writes them" \
        "[ \$(wc -l <$tmp/pir) -gt 3000 ] && awk -F, 'NR > 2' $tmp/pir | head -50 | cut -d, -f6 | while read -r v; do grep -q \",\$v,\" \"$PIR\" || exit 1; done"
else
    echo "skipped: the race car's CSV is not in $REALDATA"
fi

KART=$REALDATA/okc-kart-4laps/okc_kart_2023-06-04_4laps.nmea
if [ -f "$KART" ]; then
    "$CLI" channels --log "$KART" --json >"$tmp/kart.json"; rc=$?
    # The NMEA reader's channels, every one on each of the 3,828 fixes, and
    # trace prints the speed as the trace's speed (both from RMC).
    check "the kart's NMEA log: speed, course, altitude, HDOP and satellites on every fix" "[ $rc -eq 0 ] && json_check $tmp/kart.json 'c == [{\"name\": n, \"unit\": u, \"samples\": 3828} for n, u in [(\"Speed\", \"kn\"), (\"Course\", \"deg\"), (\"Altitude\", \"m\"), (\"HDOP\", \"\"), (\"Satellites\", \"\")]]'"
    speed=$(python3 -c 'import json, sys; print(next((x["name"] for x in json.load(open(sys.argv[1])) if x["name"].lower() == "speed"), ""))' "$tmp/kart.json")
    if [ -n "$speed" ]; then
        unit=$(python3 -c 'import json, sys; print(next(x["unit"] for x in json.load(open(sys.argv[1])) if x["name"] == sys.argv[2]))' "$tmp/kart.json" "$speed")
        case "$unit" in kn | knots | kt) f=1.852 ;; km/h) f=1 ;; m/s) f=3.6 ;; *) f=0 ;; esac
        "$CLI" trace --gxr "$GXRS/okc.gxr" --log "$KART" --direction forward --gate-width 10 --lap 2 --channels "$speed" >"$tmp/kart"; rc=$?
        check "the kart's lap 2: the NMEA speed ($unit) is the trace's speed" "[ $rc -eq 0 ] && [ $f != 0 ] && [ \$(speed_mismatches $tmp/kart $f) -eq 0 ]"
    fi
fi

echo "$passes passed, $fails failed"
[ $fails -eq 0 ]
