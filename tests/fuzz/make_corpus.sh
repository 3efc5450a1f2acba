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

rm -rf "$corpus"
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

# Files under samples/ seed the matching targets (cut the same way).
shopt -s nullglob
for f in "$root"/samples/*.gxr "$root"/samples/*.GXR; do cp "$f" "$corpus/start_finish/"; done
for f in "$root"/samples/*.zlg "$root"/samples/*.ZLG; do head -c 3000 "$f" > "$corpus/text_log/$(basename "$f")"; done
for f in "$root"/samples/*.wmx "$root"/samples/*.WMX; do head -c 2500 "$f" > "$corpus/binary_log/$(basename "$f")"; done
for f in "$root"/samples/*.kml; do head -c 4000 "$f" > "$corpus/kml/$(basename "$f")"; done

du -sh "$corpus"/*
