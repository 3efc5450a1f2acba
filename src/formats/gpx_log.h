// GPX 1.0 and 1.1 tracks: every <trkpt> of every <trkseg> of every <trk>, in
// file order, read with a streaming XML parser. Waypoints and routes are
// skipped. A point needs lat, lon and <time>; <sat> gives the satellites
// (unknown without it), <speed> the speed. Times are ISO 8601 with or without
// fractions and zone; a time with a zone is taken to UTC. The clock starts at
// the first point's time of day and runs on past midnight.
//
// The file may be in UTF-8, UTF-16 (with its byte order mark), US-ASCII,
// windows-1252 (also "cp1252") or ISO-8859-1 to -16, as its XML declaration
// says; names are read ignoring case. Another encoding is refused by name.
//
// Channels, when the sink wants them: "Elevation" (<ele>, m), "Speed" (m/s),
// "Course" (deg), "HDOP", "Satellites", and from the extensions "Heart rate"
// (hr, bpm), "Cadence" (cad, rpm), "Air temperature" (atemp, °C) and "Power"
// (W): those the first 64 track points have (they are held back until then).
// A value that does not read is no value (NaN); a point without the element
// has none either.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "formats/block_reader.h"
#include "formats/sample.h"

namespace lorvane {

struct GpxLogInfo {
    std::string version;       // the gpx element's version attribute
    std::int64_t samples = 0;  // track points handed to the sink and accepted
    std::int64_t tracks = 0;   // <trk> elements
    std::int64_t segments = 0; // <trkseg> elements
    bool satellites = false;   // some point gave <sat>
    bool stopped = false;
    // UTC date of the first fix (days since 1970-01-01), when the log gives dates.
    std::optional<std::int64_t> firstDay;
};

// Reads the file, handing every track point to the sink. Throws LoadError with
// the line on XML that is not well-formed (a file cut short among them), a
// root element other than <gpx>, and a track point without a readable lat,
// lon or time.
GpxLogInfo readGpxLog(ByteSource& source, SampleSink& sink);
GpxLogInfo readGpxLog(const std::string& path, SampleSink& sink);

} // namespace lorvane
