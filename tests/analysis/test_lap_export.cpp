// A lap written as CSV and GPX: the rows are the lap's path, the positions go
// back to latitude and longitude exactly through the load's plane, and the
// GPX times count from the opening crossing on the log's clock.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>

#include <sstream>
#include <string>
#include <vector>

#include "analysis/lap_export.h"
#include "formats/numbers.h"
#include "test_util.h"

namespace lorvane {
namespace {

LocalPlane plane() {
    LocalPlane p;
    p.baseLat = 52.0 * 60 + 4.25;  // minutes of arc
    p.baseLong = -1.0 * 60 - 0.75; // west of Greenwich
    p.longScale = calcLongScale(p.baseLat, p.baseLong);
    return p;
}

LapTrace lap() {
    LapTrace t;
    t.lap = 7;
    for (int i = 0; i <= 4; ++i) {
        TracePoint p;
        p.distance = i * 12.5;
        p.time = i * 0.25;
        p.speed = 180.0 + i;
        p.east = -40.0 + i * 12.5;
        p.north = 20.0 - i * 0.1;
        t.points.push_back(p);
    }
    t.distance = 50;
    t.time = 1.0;
    return t;
}

std::vector<std::string> lines(const std::string& s) {
    std::vector<std::string> out;
    std::istringstream in(s);
    for (std::string l; std::getline(in, l);) out.push_back(l);
    return out;
}

std::vector<std::string> fields(const std::string& line) {
    std::vector<std::string> out;
    std::istringstream in(line);
    for (std::string f; std::getline(in, f, ',');) out.push_back(f);
    return out;
}

TEST(LapExport, CsvRowsArePathPointsAndGoBackThroughThePlane) {
    const LapTrace t = lap();
    const std::string csv = lapCsv(t, plane());
    const auto rows = lines(csv);
    ASSERT_EQ(rows.size(), t.points.size() + 1);
    EXPECT_EQ(rows[0], "distance,time,speed,east,north,latitude,longitude");
    EXPECT_EQ(csv.find('\r'), std::string::npos);
    for (std::size_t i = 0; i < t.points.size(); ++i) {
        const auto f = fields(rows[i + 1]);
        ASSERT_EQ(f.size(), 7u) << rows[i + 1];
        EXPECT_NEAR(*parseDecimal(f[0]), t.points[i].distance, 5e-4);
        EXPECT_NEAR(*parseDecimal(f[1]), t.points[i].time, 5e-4);
        EXPECT_NEAR(*parseDecimal(f[2]), t.points[i].speed, 5e-3);
        // Degrees to 8 decimals: a millimetre or so back in the plane.
        const double lat = *parseDecimal(f[5]), lon = *parseDecimal(f[6]);
        const LocalPoint back = plane().toLocal(lat * 60, lon * 60);
        EXPECT_NEAR(back.east, t.points[i].east, 2e-3);
        EXPECT_NEAR(back.north, t.points[i].north, 2e-3);
        EXPECT_LT(lon, 0); // west stays negative
    }
    EXPECT_EQ(fields(rows[1])[3], "-40.000");
}

// The user's units convert distance and speed only, and the header says so;
// positions and times keep theirs.
TEST(LapExport, CsvInTheUsersUnitsNamesThemInItsHeader) {
    const LapTrace t = lap();
    const Units imperial{SpeedUnit::Mph, DistanceUnit::Feet};
    const auto rows = lines(lapCsv(t, plane(), imperial));
    ASSERT_EQ(rows.size(), t.points.size() + 1);
    EXPECT_EQ(rows[0], "distance_ft,time_s,speed_mph,east_m,north_m,latitude,longitude");
    const auto plain = lines(lapCsv(t, plane()));
    for (std::size_t i = 1; i < rows.size(); ++i) {
        const auto f = fields(rows[i]), g = fields(plain[i]);
        EXPECT_NEAR(*parseDecimal(f[0]), t.points[i - 1].distance / 0.3048, 5e-4);
        EXPECT_NEAR(*parseDecimal(f[2]), t.points[i - 1].speed / 1.609344, 5e-3);
        EXPECT_EQ(f[1], g[1]);
        for (std::size_t k = 3; k < 7; ++k) EXPECT_EQ(f[k], g[k]);
    }
    // Only one unit changed: both are still named, so a reader never guesses.
    EXPECT_EQ(lines(lapCsv(t, plane(), Units{SpeedUnit::Mph, DistanceUnit::Metres}))[0],
              "distance_m,time_s,speed_mph,east_m,north_m,latitude,longitude");
}

TEST(LapExport, GpxTimesCountFromTheOpeningCrossingAndRollOverMidnight) {
    LapTrace t = lap();
    // Opened 0.6 s before midnight: the third point lies on the next day.
    const std::string gpx = lapGpx(t, plane(), 86399.4, "2024-02-28", "Lap <7> & more");
    EXPECT_NE(gpx.find("<name>Lap &lt;7&gt; &amp; more</name>"), std::string::npos);
    EXPECT_NE(gpx.find("<time>2024-02-28T23:59:59.400Z</time>"), std::string::npos);
    EXPECT_NE(gpx.find("<time>2024-02-28T23:59:59.650Z</time>"), std::string::npos);
    EXPECT_NE(gpx.find("<time>2024-02-29T00:00:00.150Z</time>"), std::string::npos); // a leap day
    std::size_t n = 0;
    for (std::size_t at = gpx.find("<trkpt "); at != std::string::npos; at = gpx.find("<trkpt ", at + 1)) ++n;
    EXPECT_EQ(n, t.points.size());
    const GeoDegrees g = toGeo(plane(), {t.points[0].east, t.points[0].north});
    EXPECT_NE(gpx.find("lat=\"" + formatFixed(g.lat, 1, 8) + "\" lon=\"" + formatFixed(g.lon, 1, 8) + "\""),
              std::string::npos);
    // Without a date the points fall on the first day of 1970.
    EXPECT_NE(lapGpx(t, plane(), 3600).find("<time>1970-01-01T01:00:00.000Z</time>"), std::string::npos);
    EXPECT_NE(lapGpx(t, plane(), 3600).find("<name>Lap 7</name>"), std::string::npos);
}

TEST(LapExport, EmptyLapWritesOnlyTheFrame) {
    const LapTrace empty;
    EXPECT_EQ(lapCsv(empty, plane()), "distance,time,speed,east,north,latitude,longitude\n");
    EXPECT_EQ(lapGpx(empty, plane(), 0).find("<trkpt"), std::string::npos);
}

// A log without a date must not give its lap a date in 1970: the file's last
// modification day stands in, and with no date at all the points go without times.
TEST(LapExport, GpxDateFromTheLogOrItsFile) {
    test::TempDir dir;
    const std::string log = dir.write("run.zlg", "x");
    const ::timespec times[2] = {{1'500'000'000, 0}, {1'500'000'000, 0}}; // 2017-07-14 02:40 UTC
    ASSERT_EQ(::utimensat(AT_FDCWD, log.c_str(), times, 0), 0);
    EXPECT_EQ(gpxDate(std::string("2023-06-04"), log), "2023-06-04");
    EXPECT_EQ(gpxDate(std::nullopt, log), "2017-07-14");
    EXPECT_EQ(gpxDate(std::nullopt, dir.file("gone.zlg")), "");
    const std::string gpx = lapGpx(lap(), plane(), 3600, "", "Lap");
    EXPECT_EQ(gpx.find("<time>"), std::string::npos);
    EXPECT_NE(gpx.find("\"/>\n      <trkpt "), std::string::npos);
}

} // namespace
} // namespace lorvane
