#include "analysis/lap_export.h"

#include <sys/stat.h>

#include <cmath>
#include <cstdint>

#include "formats/log_time.h"
#include "formats/numbers.h"

namespace lorvane {

namespace {

void appendXmlEscaped(std::string& out, const std::string& s) {
    for (char c : s) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        default: out += c;
        }
    }
}

// "YYYY-MM-DDThh:mm:ss.mmmZ" for `seconds` after midnight of `date`; a time
// past midnight rolls the date on.
std::string timestamp(const std::string& date, double seconds) {
    std::int64_t ms = std::llround(seconds * 1000.0);
    std::int64_t days = ms >= 0 ? ms / 86400000 : -((-ms + 86399999) / 86400000);
    ms -= days * 86400000;
    // Civil date arithmetic on the given day (days from 1970-01-01, after H. Hinnant).
    int y = 1970, m = 1, d = 1;
    if (date.size() == 10) {
        y = std::stoi(date.substr(0, 4));
        m = std::stoi(date.substr(5, 2));
        d = std::stoi(date.substr(8, 2));
    }
    auto toDays = [](int yy, int mm, int dd) {
        yy -= mm <= 2;
        const std::int64_t era = (yy >= 0 ? yy : yy - 399) / 400;
        const std::int64_t yoe = yy - era * 400;
        const std::int64_t doy = (153 * (mm + (mm > 2 ? -3 : 9)) + 2) / 5 + dd - 1;
        const std::int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
        return era * 146097 + doe - 719468;
    };
    std::int64_t z = toDays(y, m, d) + days + 719468;
    const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const std::int64_t doe = z - era * 146097;
    const std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const std::int64_t mp = (5 * doy + 2) / 153;
    const int dd = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    const int mm = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    const int yy = static_cast<int>(yoe + era * 400 + (mm <= 2));
    std::string out = formatPadded(yy, 4) + '-' + formatPadded(mm, 2) + '-' + formatPadded(dd, 2) + 'T';
    out += formatPadded(ms / 3600000, 2) + ':' + formatPadded(ms / 60000 % 60, 2) + ':' +
           formatPadded(ms / 1000 % 60, 2) + '.' + formatPadded(ms % 1000, 3) + 'Z';
    return out;
}

} // namespace

std::string gpxDate(const std::optional<std::string>& logDate, const std::string& logPath) {
    if (logDate) return *logDate;
    struct stat st {};
    if (logPath.empty() || ::stat(logPath.c_str(), &st) != 0) return {};
    const auto seconds = static_cast<std::int64_t>(st.st_mtime);
    return isoDate(seconds >= 0 ? seconds / 86400 : (seconds - 86399) / 86400);
}

GeoDegrees toGeo(const LocalPlane& plane, LocalPoint p) {
    GeoDegrees g;
    g.lat = (plane.baseLat + p.north / kMetresPerMinute) / 60.0;
    const double scale = plane.longScale != 0 ? plane.longScale : 1.0;
    g.lon = (plane.baseLong + p.east / (kMetresPerMinute * scale)) / 60.0;
    return g;
}

std::string lapCsv(const LapTrace& lap, const LocalPlane& plane, const Units& units) {
    // The documented units keep the plain header that readers of older exports expect.
    std::string out = units == Units{}
                          ? "distance,time,speed,east,north,latitude,longitude\n"
                          : std::string("distance_") + distanceUnitName(units.distance) + ",time_s,speed_" +
                                speedUnitName(units.speed) + ",east_m,north_m,latitude,longitude\n";
    out.reserve(out.size() + lap.points.size() * 80);
    for (const TracePoint& p : lap.points) {
        const GeoDegrees g = toGeo(plane, LocalPoint{p.east, p.north});
        appendFixed(out, units.distanceFromMetres(p.distance), 1, 3);
        out += ',';
        appendFixed(out, p.time, 1, 3);
        out += ',';
        appendFixed(out, units.speedFromKmh(p.speed), 1, 2);
        out += ',';
        appendFixed(out, p.east, 1, 3);
        out += ',';
        appendFixed(out, p.north, 1, 3);
        out += ',';
        appendFixed(out, g.lat, 1, 8);
        out += ',';
        appendFixed(out, g.lon, 1, 8);
        out += '\n';
    }
    return out;
}

std::string lapGpx(const LapTrace& lap, const LocalPlane& plane, double startTime, const std::string& date,
                   const std::string& name) {
    std::string out = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                      "<gpx version=\"1.1\" creator=\"Lorvane\" xmlns=\"http://www.topografix.com/GPX/1/1\">\n"
                      "  <trk>\n";
    out += "    <name>";
    appendXmlEscaped(out, name.empty() ? "Lap " + std::to_string(lap.lap) : name);
    out += "</name>\n    <trkseg>\n";
    for (const TracePoint& p : lap.points) {
        const GeoDegrees g = toGeo(plane, LocalPoint{p.east, p.north});
        out += "      <trkpt lat=\"";
        appendFixed(out, g.lat, 1, 8);
        out += "\" lon=\"";
        appendFixed(out, g.lon, 1, 8);
        out += '"';
        if (date.empty())
            out += "/>\n";
        else
            out += "><time>" + timestamp(date, startTime + p.time) + "</time></trkpt>\n";
    }
    out += "    </trkseg>\n  </trk>\n</gpx>\n";
    return out;
}

} // namespace lorvane
