// A real recording: a kart's GPS at 16-18 fixes a second (NMEA, see
// tests/data/realdata/SOURCE.md), turned into a text log and cut into laps.
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <numbers>
#include <sstream>

#include "session/session.h"
#include "formats/numbers.h"
#include "test_util.h"

using namespace lorvane;
using lorvane::test::Recorder;
using lorvane::test::TempDir;

namespace {

std::vector<std::string> split(const std::string& s, char sep) {
    std::vector<std::string> out;
    std::string cur;
    for (char c : s) {
        if (c == sep) {
            out.push_back(cur);
            cur.clear();
        } else {
            cur += c;
        }
    }
    out.push_back(cur);
    return out;
}

// ddmm.mmmmm -> minutes of arc.
double nmeaMinutes(const std::string& v, int degDigits) {
    return std::stod(v.substr(0, static_cast<std::size_t>(degDigits))) * 60 +
           std::stod(v.substr(static_cast<std::size_t>(degDigits)));
}

// The GGA sentences as a text log: satellites, time, latitude, longitude (west positive).
std::string ggaToZlg(const std::string& nmeaPath) {
    std::ifstream in(nmeaPath);
    std::string line, out = "[header]\nSatellites\nTime\nLatitude\nLongitude\n[channel units]\n[data]\n";
    while (std::getline(in, line)) {
        if (line.rfind("$GPGGA,", 0) != 0) continue;
        auto f = split(line, ',');
        double lat = nmeaMinutes(f[2], 2) * (f[3] == "S" ? -1 : 1);
        double lonEast = nmeaMinutes(f[4], 3) * (f[5] == "W" ? -1 : 1);
        out += f[7] + " " + f[1] + " " + formatFixed(lat, 1, 5) + " " + formatFixed(-lonEast, 1, 5) + "\n";
    }
    return out;
}

// The circuit's crossing line is given by its two ends; the gate is its
// midpoint, with point 2 a few metres across the line.
std::string gxrForLine(double latA, double lonA, double latB, double lonB) {
    const double c = std::cos(latA * std::numbers::pi / 180);
    const double mLat = (latA + latB) / 2, mLon = (lonA + lonB) / 2;
    const double dN = latB - latA, dE = (lonB - lonA) * c;
    const double len = std::hypot(dN, dE);
    const double k = 0.0001 / len; // about 11 m
    const double p2Lat = mLat + dE * k, p2Lon = mLon - dN * k / c;
    return test::gxrText(mLat * 60, mLon * 60, p2Lat * 60, p2Lon * 60);
}

} // namespace

TEST(RealRecording, KartSessionAcrossTheGateBothWays) {
    TempDir dir;
    Session s;
    ASSERT_TRUE(s.loadStartFinish(dir.write("okc.gxr", gxrForLine(28.41270817, -81.37973266, 28.41273039, -81.37957049))).ok);
    Recorder rec;
    const std::string zlg = ggaToZlg(std::string(LORVANE_TEST_DATA) + "/realdata/okc_kart_2023-06-04_4laps.nmea");
    auto r = s.loadLog(LogKind::Text, dir.write("okc.zlg", zlg), rec);
    ASSERT_TRUE(r.ok) << r.error.describe();
    EXPECT_EQ(r.samples, 3828);
    // Laps of 58.8, 56.8, 56.8 and 56.2 s. The fixes are 50-60 ms apart while
    // the crossing offset assumes 100 ms, so allow a few hundredths more.
    // Both directions of travel count and the gate reaches 25 m from its
    // centre: on this kart track the section eight seconds after the line
    // passes back across the gate's line within that reach, so every lap
    // shows as a short and a long part. Their sums are the laps driven.
    const double expected[] = {58.8, 56.8, 56.8, 56.2};
    ASSERT_EQ(s.laps().size(), 9u);
    for (int i = 0; i < 4; ++i) {
        const double part1 = s.laps()[2 * i].time, part2 = s.laps()[2 * i + 1].time;
        EXPECT_NEAR(part1, 7.7, 0.5) << "lap " << i + 1;
        EXPECT_NEAR(part1 + part2, expected[i], 0.15) << "lap " << i + 1;
    }
    EXPECT_EQ(s.bestLap(), 7);

    // A reference file of a long part holds one point a second by the log's
    // clock (fixes come about 60 ms apart), then the last fix.
    auto ref = s.pickLap(8);
    ASSERT_GE(ref.points.size(), 40u);
    EXPECT_EQ(ref.points.size(), static_cast<std::size_t>(std::floor(ref.points.back().elapsed)) + 2);
    for (std::size_t i = 1; i + 1 < ref.points.size(); ++i) {
        EXPECT_GE(ref.points[i].elapsed, static_cast<double>(i));
        EXPECT_LT(ref.points[i].elapsed, static_cast<double>(i) + 0.5);
    }
}
