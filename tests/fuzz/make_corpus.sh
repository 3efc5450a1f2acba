#!/usr/bin/env bash
# Regenerates the seed corpora from the session generator (and samples/ when it
# holds files). Each seed is cut to a few KB so the fuzzers stay fast.
# usage: tests/fuzz/make_corpus.sh path/to/lorvane-gen
set -euo pipefail
gen=${1:?usage: make_corpus.sh path/to/lorvane-gen}
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
corpus=$here/corpus
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

# Seeds are written over, never removed: hand-made ones (the lap apps' CSV
# layouts, FIT files from the test writer, crash inputs kept as seeds) stay.
mkdir -p "$corpus"/{start_finish,text_log,binary_log,reference_lap,kml}

# seed  extra options
variants=(
  "3|"
  "7|--finish --crlf"
  "11|--comma --record-length 33 --damage-rate 0.05"
  "19|--filler-channels auto --record-length 36 --no-terminator"
  "23|--cross-midnight --channels \"\" --record-length 34"
)
for v in "${variants[@]}"; do
  seed=${v%%|*}
  opts=${v#*|}
  eval "\"$gen\" --quiet --seed $seed --laps 1 $opts --out \"$tmp/s$seed\""
  cp "$tmp/s$seed.gxr" "$corpus/start_finish/s$seed.gxr"
  head -c 3000 "$tmp/s$seed.zlg" > "$corpus/text_log/s$seed.zlg"
  head -c 2500 "$tmp/s$seed.wmx" > "$corpus/binary_log/s$seed.wmx"
done

# Lap re-read seeds: 12 parameter bytes (see fuzz_reference_lap.cpp), then a log.
# Text: columns as the generator's seed 3 header lists them; binary: length 34.
params() { printf "$1" > "$2"; }
cols=$(awk '/^\[header\]/{h=1;next} /^\[/{h=0} h{n++; if($0=="Latitude")a=n; if($0=="Longitude")o=n; if($0=="Time")t=n; if($0=="Satellites")s=n} END{printf "%d %d %d %d", a,o,t,s}' "$tmp/s3.zlg")
read -r la lo ti sa <<<"$cols"
oct() { printf '\\%03o' "$1"; }
params "\000$(oct "$la")$(oct "$lo")$(oct "$ti")$(oct "$sa")\005\000\000\000\036\000\000" "$tmp/p_text"
cat "$tmp/p_text" "$corpus/text_log/s3.zlg" > "$corpus/reference_lap/text_s3"
params "\001\001\000\000\000\003\000\000\000\024\000\000" "$tmp/p_bin"
cat "$tmp/p_bin" "$corpus/binary_log/s23.wmx" > "$corpus/reference_lap/binary_s23"

# Reference file seeds: the golden reference files of the demo session.
mkdir -p "$corpus/reference_read"
cp "$root"/tests/data/golden/*.REF "$corpus/reference_read/"

# KML: a short path around the first lap of seed 3, and a few small shapes.
awk -v la="$la" -v lo="$lo" 'f && NF>=la && n<40 {n++; lat=$la/60; lon=-$lo/60; printf "%.6f,%.6f,0 ", lon, lat} /^\[data\]/{f=1}' \
  "$tmp/s3.zlg" > "$tmp/coords"
{
  echo '<?xml version="1.0" encoding="UTF-8"?>'
  echo '<kml xmlns="http://www.opengis.net/kml/2.2"><Document><Placemark><name>Circuit</name>'
  echo "<LineString><coordinates>$(cat "$tmp/coords")</coordinates></LineString></Placemark></Document></kml>"
} > "$corpus/kml/circuit.kml"
printf '<kml><Placemark><Point><coordinates>-1.5,52.07</coordinates></Point></Placemark></kml>\n' > "$corpus/kml/point.kml"
printf '<?xml version="1.0"?>\n<k:kml xmlns:k="x"><k:coordinates>\n 10,20,5\n\t11,21 ,,12,19\n</k:coordinates></k:kml>\n' > "$corpus/kml/ns.kml"

# Imported logs: small files written here (real recordings stay outside the
# project), and a few variants.
mkdir -p "$corpus"/{nmea_log,gpx_log,csv_log}
# "$body*hh" with its checksum.
nmea() {
  local body=$1 sum=0 i c
  for ((i = 0; i < ${#body}; i++)); do
    printf -v c '%d' "'${body:i:1}"
    sum=$((sum ^ c))
  done
  printf '$%s*%02X\r\n' "$body" "$sum"
}
# Thirty fixes 60 ms apart along a straight, RMC and GGA with the same time.
for ((i = 0; i < 30; i++)); do
  t=$(printf '1653%02d.%03d' $((33 + i * 60 / 1000)) $((i * 60 % 1000)))
  lat=$(printf '2824.%05d' $((65615 + i * 7)))
  lon=$(printf '08122.%05d' $((74703 - i * 11)))
  nmea "GPRMC,$t,A,$lat,N,$lon,W,28.71,269.63,040623,,,"
  nmea "GPGGA,$t,$lat,N,$lon,W,1,10,0.8,27.1,M,,M,,"
done > "$corpus/nmea_log/kart.nmea"
{ head -c 1000 "$corpus/nmea_log/kart.nmea"; printf '\n'; } > "$corpus/nmea_log/cut_last_line.nmea"
{
  nmea 'GNRMC,235959.95,A,3352.12345,S,15112.50000,E,0.5,1.0,311223,,,A'
  nmea 'GNGGA,235959.95,3352.12345,S,15112.50000,E,1,05,1.0,3.0,M,,M,,'
  nmea 'GPGSV,1,1,00'
  nmea 'GNRMC,000000.05,A,3352.12345,S,15112.50000,E,0.5,1.0,010124,,,A'
  nmea 'GNGGA,000000.05,,,,,0,00,99.9,,,,,,'
  nmea 'GNRMC,000000.15,V,,,,,,,010124,,,N'
  printf '$GNRMC,000000.25,A,3352.1'
} > "$corpus/nmea_log/midnight.nmea"
awk -F, 'BEGIN { print "<?xml version=\"1.0\" encoding=\"UTF-8\"?>"; print "<gpx version=\"1.1\" creator=\"corpus\" xmlns=\"http://www.topografix.com/GPX/1/1\">"; print "<wpt lat=\"28.4127\" lon=\"-81.3797\"><name>line</name></wpt><trk><name>kart</name><trkseg>" }
  $1 == "$GPGGA" && n < 30 {
    n++; lat = substr($3, 1, 2) + substr($3, 3) / 60; if ($4 == "S") lat = -lat
    lon = substr($5, 1, 3) + substr($5, 4) / 60; if ($6 == "W") lon = -lon
    printf "<trkpt lat=\"%.8f\" lon=\"%.8f\"><ele>%s</ele><time>2023-06-04T%s:%s:%sZ</time><sat>%d</sat></trkpt>\n", lat, lon, $10, substr($2, 1, 2), substr($2, 3, 2), substr($2, 5), $8 }
  END { print "</trkseg><trkseg></trkseg></trk></gpx>" }' "$corpus/nmea_log/kart.nmea" > "$corpus/gpx_log/kart.gpx"
printf '%s\n' '<?xml version="1.0"?>' '<gpx version="1.0" xmlns="http://www.topografix.com/GPX/1/0"><rte><rtept lat="1" lon="2"/></rte>' \
  '<trk><trkseg><trkpt lat="45.5" lon="-122.5"><time>2019-08-18T23:59:59.5+02:00</time><speed>30.5</speed></trkpt>' \
  '<trkpt lat="45.5" lon="-122.5"><time>2019-08-19T00:00:00</time></trkpt></trkseg></trk></gpx>' > "$corpus/gpx_log/v10.gpx"
{
  printf 'Format,Logger,V2\r\nTrack,Circuit\r\nSample Rate (samps/sec),10\r\n\r\n'
  printf 'Elapsed Time,Lat (Degrees),Lon (Degrees),Altitude (meters),Velocity (MPH),Lap\r\n'
  for ((i = 0; i < 40; i++)); do
    printf '%d.%03d,45.%06d,-122.%06d,12,%d.%d,1\r\n' $((i / 40)) $((i * 25 % 1000)) $((594000 + i * 3)) $((690000 + i * 5)) $((60 + i % 7)) $((i % 10))
  done
} > "$corpus/csv_log/key_value.csv"
printf 'Time;Latitude;Longitude;Satellites;Speed (km/h)\r\n23:59:59,9;45,5;-122,25;9;120,5\r\n00:00:00,05;45,5;-122,25;;\r\n' > "$corpus/csv_log/semicolon_clock.csv"
printf '"UTC"\t"GPS Latitude"\t"GPS Longitude"\t"# Sats"\n2019-08-18T16:53:01.250Z\t45.5\t-122.25\t7\n2019-08-18 18:53:02+02:00\t45.5\t-122.25\t\n' > "$corpus/csv_log/tab_iso.csv"

# Files under samples/ seed the matching targets (cut the same way).
shopt -s nullglob
for f in "$root"/samples/*.gxr "$root"/samples/*.GXR; do cp "$f" "$corpus/start_finish/"; done
for f in "$root"/samples/*.zlg "$root"/samples/*.ZLG; do head -c 3000 "$f" > "$corpus/text_log/$(basename "$f")"; done
for f in "$root"/samples/*.wmx "$root"/samples/*.WMX; do head -c 2500 "$f" > "$corpus/binary_log/$(basename "$f")"; done
for f in "$root"/samples/*.kml; do head -c 4000 "$f" > "$corpus/kml/$(basename "$f")"; done

du -sh "$corpus"/*
