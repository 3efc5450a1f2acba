// A reference file read back: the start/finish lines at its head, the base
// point, the lap time and the lap's points, and the lap laid out in any local
// plane for comparing laps of other logs against it. See docs/analysis.md.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "analysis/lap_trace.h"
#include "formats/start_finish.h"
#include "laps/local_plane.h"

namespace lorvane {

struct RefFilePoint {
    double east = 0, north = 0; // metres from the file's base point, as written
    double lat = 0, lon = 0;    // minutes, from the file's base point and scale
    double time = 0;            // seconds since the opening crossing; the last point: the lap time
};

struct ReferenceFileData {
    std::string startFinishText;      // the start/finish file's lines at the head, each ending in CR LF
    StartFinish gates;                // read from them with the start/finish reader
    double baseLat = 0, baseLong = 0; // minutes, as written (to 1/100000)
    double longScale = 0;             // as written
    double lapTime = 0;               // seconds, as written (to the millisecond)
    bool fixedReference = false;
    std::vector<RefFilePoint> points; // in file order, at least two
};

// Reads what composeReferenceFile writes. Throws LoadError naming `fileName`
// and the line that does not read. The point count in the file is checked
// against the points found, never used to size anything.
ReferenceFileData parseReferenceFile(std::string_view text, const std::string& fileName);

// Reads the file at `path`.
ReferenceFileData readReferenceFile(const std::string& path);

// The reference lap along its path in `plane` (the file's own plane when
// `plane` has no scale): from the opening crossing point at 0 s, through the
// file's points before the lap time, to the closing crossing point at the lap
// time. The crossing points lie where the path meets the gate's line (the
// start gate's, or the finish gate's where its point 1 is nearer): the first
// point's segment to the next one, extended back, for the opening; the
// segment into the last point for the closing. Points carry no sample (-1);
// speeds are derived. Lap number 0.
LapTrace referenceTrace(const ReferenceFileData& ref, const LocalPlane& plane);

// Why `b` is not the start/finish definition `a` within `toleranceMetres`:
// every gate's point 1 lies that close to the other's and the gates' lines
// run the same way within 10°, and both have a finish line or neither. Empty
// when they match.
std::optional<std::string> startFinishMismatch(const StartFinish& a, const StartFinish& b,
                                               double toleranceMetres = 5.0);

} // namespace lorvane
