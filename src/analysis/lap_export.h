// One lap written out for other programs: as CSV, a row per point of the
// lap's path, and as a GPX track. Positions go back from the local plane to
// latitude and longitude through the load's own plane, so they lie exactly
// where the lap was drawn.
#pragma once

#include <optional>
#include <string>

#include "analysis/lap_trace.h"
#include "analysis/units.h"
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
// In other `units` the distance and speed columns are converted and the header
// names every column's unit: "distance_ft,time_s,speed_mph,east_m,north_m,...".
std::string lapCsv(const LapTrace& lap, const LocalPlane& plane, const Units& units = {});

// A GPX 1.1 document with one track of one segment, a trkpt per point of the
// lap's path. The logs hold the time of day only, so each point's time is
// `date` (YYYY-MM-DD, UTC) plus the opening crossing's time on the log's clock
// (`startTime`, seconds) plus its time into the lap, to the millisecond. With
// an empty `date` the points have no time (GPX allows that; a time there must
// have a date).
std::string lapGpx(const LapTrace& lap, const LocalPlane& plane, double startTime,
                   const std::string& date = "1970-01-01", const std::string& name = {});

// The date to give lapGpx for a lap of the log at `logPath`: `logDate` (the
// load's LoadReport::date) when the log gave one. The text and binary logs
// hold no date; for them it is the UTC date of the file's last modification:
// a logger writes its file while it records, so the last write falls on the
// day the recording ended, and a copy that kept the file's times keeps that
// day. Empty (points without times) when the file's time cannot be read:
// better no time than 1970.
std::string gpxDate(const std::optional<std::string>& logDate, const std::string& logPath);

} // namespace lorvane
