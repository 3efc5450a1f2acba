// One lap written out for other programs: as CSV, a row per point of the
// lap's path, and as a GPX track. Positions go back from the local plane to
// latitude and longitude through the load's own plane, so they lie exactly
// where the lap was drawn.
#pragma once

#include <string>

#include "analysis/lap_trace.h"
#include "laps/local_plane.h"

namespace lorvane {

// Latitude and longitude in degrees (north and east positive) of a point of
// the local plane.
struct GeoDegrees {
    double lat = 0;
    double lon = 0;
};
GeoDegrees toGeo(const LocalPlane& plane, LocalPoint p);

// Header "distance,time,speed,east,north,latitude,longitude", then a row per
// point of the lap's path: metres (3 decimals), seconds into the lap (3),
// km/h (2), metres east and north (3), degrees (8). LF line ends, '.' always.
std::string lapCsv(const LapTrace& lap, const LocalPlane& plane);

// A GPX 1.1 document with one track of one segment, a trkpt per point of the
// lap's path. The logs hold the time of day only, so each point's time is
// `date` (YYYY-MM-DD, UTC) plus the opening crossing's time on the log's clock
// (`startTime`, seconds) plus its time into the lap, to the millisecond.
std::string lapGpx(const LapTrace& lap, const LocalPlane& plane, double startTime,
                   const std::string& date = "1970-01-01", const std::string& name = {});

} // namespace lorvane
