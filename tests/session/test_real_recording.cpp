// A real recording: a kart's GPS at 16-18 fixes a second (NMEA; its source
// is in the SOURCE.md beside it among the real recordings), turned into a
// text log and cut into laps.
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <numbers>
#include <sstream>

#include "formats/any_log.h"
#include "formats/numbers.h"
#include "session/lap_check.h"
#include "session/session.h"
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

// The RMC sentences as a text log (RMC has no satellite count: 99).
std::string rmcToZlg(const std::string& nmeaPath) {
    std::ifstream in(nmeaPath);
    std::string line, out = "[header]\nSatellites\nTime\nLatitude\nLongitude\n[channel units]\n[data]\n";
    while (std::getline(in, line)) {
        if (line.rfind("$GPRMC,", 0) != 0) continue;
        auto f = split(line, ',');
        if (f[2] != "A") continue;
        double lat = nmeaMinutes(f[3], 2) * (f[4] == "S" ? -1 : 1);
        double lonEast = nmeaMinutes(f[5], 3) * (f[6] == "W" ? -1 : 1);
        out += "99 " + f[1] + " " + formatFixed(lat, 1, 5) + " " + formatFixed(-lonEast, 1, 5) + "\n";
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
    LORVANE_REQUIRE_REALDATA(kart, "okc-kart-4laps/okc_kart_2023-06-04_4laps.nmea");
    TempDir dir;
    Session s;
    ASSERT_TRUE(
        s.loadStartFinish(dir.write("okc.gxr", gxrForLine(28.41270817, -81.37973266, 28.41273039, -81.37957049))).ok);
    Recorder rec;
    const std::string zlg = ggaToZlg(kart);
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
    // The check sees the split laps and finds the rule that joins them.
    {
        Session k;
        k.setKeepTrack(true);
        ASSERT_TRUE(k.loadStartFinish(dir.file("okc.gxr")).ok);
        ASSERT_TRUE(k.loadLog(LogKind::Text, dir.file("okc.zlg"), rec).ok);
        const auto split = checkSplitLaps(*k.loaded());
        ASSERT_TRUE(split);
        EXPECT_GE(split->laps.size(), 4u);
        ASSERT_TRUE(split->remedy);
        EXPECT_NE(split->remedy->direction, GateDirection::Both);
        k.setGateRules(*split->remedy);
        k.recutLoaded();
        EXPECT_EQ(k.laps().size(), 4u);
        EXPECT_FALSE(checkSplitLaps(*k.loaded()));
    }

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

// With one direction and a gate reaching 10 m each side, measured where the
// track crosses the line, the return leg no longer counts: one lap per lap
// driven, on both recordings of the circuit.
TEST(RealRecording, OneDirectionAndAGateWidthGiveTheLapsDriven) {
    struct Case {
        const char* file;
        bool gga;
        std::vector<double> laps;
    };
    const Case cases[] = {
        // Laps of about 58.8, 56.8, 56.8 and 56.2 s and 70.0, 68.7 and 70.2 s;
        // to the millisecond, as a straight-line interpolation of the fixes
        // across the line A-B in a plain equirectangular plane gives them.
        {"okc-kart-4laps/okc_kart_2023-06-04_4laps.nmea", true, {58.857, 56.791, 56.797, 56.172}},
        {"okc-kart-rental-3laps/okc_kart_2023-04-29_rental.nmea", false, {69.961, 68.742, 70.148}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        TempDir dir;
        LORVANE_REQUIRE_REALDATA(path, c.file);
        const std::string log = dir.write("okc.zlg", c.gga ? ggaToZlg(path) : rmcToZlg(path));
        const std::string gxr = dir.write("okc.gxr", gxrForLine(28.41270817, -81.37973266, 28.41273039, -81.37957049));
        std::size_t found = 0;
        for (GateDirection d : {GateDirection::Forward, GateDirection::Reverse}) {
            Session s;
            ASSERT_TRUE(s.loadStartFinish(gxr).ok);
            s.setGateRules(GateRules{d, 10.0, 0});
            SessionObserver quiet;
            ASSERT_TRUE(s.loadLog(LogKind::Text, log, quiet).ok);
            if (s.laps().empty()) continue;
            ++found;
            ASSERT_EQ(s.laps().size(), c.laps.size());
            for (std::size_t i = 0; i < c.laps.size(); ++i)
                EXPECT_NEAR(s.laps()[i].time, c.laps[i], 0.01) << "lap " << i + 1;
        }
        // The karts go round one way only.
        EXPECT_EQ(found, 1u);
    }
}

// Harry's LapTimer joins the runs of a day in one export: four sessions an
// hour apart, and inside the third a 21 s stop with no fix at all. Only the
// two laps between two crossings inside one run are laps (105.54 and 97.67 s
// by a straight-line crossing calculation on this line), numbered 1 and 2.
TEST(RealRecording, HarrysLapTimerRunsOfADay) {
    LORVANE_REQUIRE_REALDATA(nmea, "other-apps/harrys-laptimer-nmea-willow/LapTimer-0382-0390-20160824-221730.nmea");
    LORVANE_REQUIRE_REALDATA(gxr, "other-apps/harrys-laptimer-nmea-willow/willow.gxr");
    for (const double maxGap : {10.0, 30.0}) {
        SCOPED_TRACE(maxGap);
        Session s;
        ASSERT_TRUE(s.loadStartFinish(gxr).ok);
        GateRules rules;
        rules.maxGap = maxGap;
        s.setGateRules(rules); // imported: a 25 m gate at the crossing point, as for any NMEA log
        SessionObserver quiet;
        const LoadReport r = s.loadLog(LogKind::Nmea, nmea, quiet);
        ASSERT_TRUE(r.ok) << r.error.describe();
        EXPECT_EQ(r.samples, 843);
        const auto log = s.loaded();
        ASSERT_EQ(log->runs.size(), maxGap < 21 ? 5u : 4u);
        std::vector<long> pauses;
        for (const double p : r.pauses) pauses.push_back(std::lround(p));
        const std::vector<long> expected = maxGap < 21 ? std::vector<long>{3406, 2895, 21, 3195}
                                                       : std::vector<long>{3406, 2895, 3195};
        EXPECT_EQ(pauses, expected);
        ASSERT_EQ(log->laps.size(), 2u);
        EXPECT_EQ(log->laps[0].line, "001 :   01:45.51");
        EXPECT_NEAR(log->laps[0].time, 105.54, 0.05);
        EXPECT_EQ(log->laps[1].line, "002 :   01:37.67");
        EXPECT_NEAR(log->laps[1].time, 97.67, 0.01);
        for (const Lap& l : log->laps)
            for (const lorvane::Run& run : log->runs)
                EXPECT_FALSE(l.startSample < run.firstSample && l.endSample >= run.firstSample) << l.line;
    }
}

// The same day as Harry's LapTimer's GPX, declared windows-1252: the same
// fixes (843 <trkpt>), runs and laps (6 decimals of a degree instead of the
// NMEA's minutes move the first lap by 0.01 s).
TEST(RealRecording, HarrysLapTimerGpxInItsDeclaredEncoding) {
    LORVANE_REQUIRE_REALDATA(gpx, "harrys-laptimer-gpx-willow/LapTimer-0382-0390-20160824-221730.gpx");
    LORVANE_REQUIRE_REALDATA(gxr, "other-apps/harrys-laptimer-nmea-willow/willow.gxr");
    ASSERT_EQ(detectLogFile(gpx), LogKind::Gpx);
    Session s;
    ASSERT_TRUE(s.loadStartFinish(gxr).ok);
    SessionObserver quiet;
    const LoadReport r = s.loadLog(LogKind::Gpx, gpx, quiet);
    ASSERT_TRUE(r.ok) << r.error.describe();
    EXPECT_EQ(r.samples, 843);
    EXPECT_EQ(r.runCount, 5);
    std::vector<std::string> lines;
    for (const Lap& l : s.loaded()->laps) lines.push_back(l.line);
    EXPECT_EQ(lines, (std::vector<std::string>{"001 :   01:45.52", "002 :   01:37.67"}));
}

// Harry's LapTimer's CSV of the same day writes two rows with one time at the
// line at every lap boundary: one crossing each, no laps of 00:00.00.
TEST(RealRecording, HarrysLapTimerCsvWritesTheLineRowTwice) {
    LORVANE_REQUIRE_REALDATA(csv, "harrys-laptimer-csv-willow/LapTimerGPSRecDB.csv");
    LORVANE_REQUIRE_REALDATA(gxr, "other-apps/harrys-laptimer-nmea-willow/willow.gxr");
    Session s;
    ASSERT_TRUE(s.loadStartFinish(gxr).ok);
    SessionObserver quiet;
    const LoadReport r = s.loadLog(LogKind::Csv, csv, quiet);
    ASSERT_TRUE(r.ok) << r.error.describe();
    EXPECT_EQ(r.samples, 869);
    EXPECT_EQ(r.runCount, 5);
    // Harry's own: 1:31.53, 1:36.33 (98.28 in its rows), 1:45.72, 1:37.67, 1:33.30 (94.51 in its rows).
    std::vector<std::string> lines;
    for (const Lap& l : s.laps()) lines.push_back(l.line);
    EXPECT_EQ(lines, (std::vector<std::string>{"001 :   01:31.51", "002 :   01:38.27", "003 :   01:45.52",
                                               "004 :   01:37.67", "005 :   01:34.51"}));
}

// Every imported log whose times carry dates gives the load the date of its
// first fix (UTC); an elapsed-time CSV gives none.
TEST(RealRecording, LoadsGiveTheirLogsDates) {
    LORVANE_REQUIRE_REALDATA(kart, "okc-kart-4laps/okc_kart_2023-06-04_4laps.nmea");
    struct Case {
        const char* file;
        LogKind kind;
        std::optional<std::string> date;
    };
    const Case cases[] = {
        {"okc-kart-4laps/okc_kart_2023-06-04_4laps.nmea", LogKind::Nmea, "2023-06-04"},
        {"okc-kart-rental-3laps/okc_kart_2023-04-29_rental.nmea", LogKind::Nmea, "2023-04-29"},
        // GGA before RMC: the date comes with the first RMC.
        {"other-apps/harrys-laptimer-nmea-willow/LapTimer-0382-0390-20160824-221730.nmea", LogKind::Nmea, "2016-08-14"},
        {"other-apps/garmin-fit-edge820/garmin-edge-820-bike.fit", LogKind::Fit, "2017-06-12"},
        {"other-apps/racechrono-csv3-tianma/session_20251231_111318_tianma_lap9_v3.csv", LogKind::Csv, "2025-12-31"},
        {"pir-corrado-2019/pir_corrado_2019-08-18_tfr.csv", LogKind::Csv, std::nullopt},
        {"harrys-laptimer-gpx-willow/LapTimer-0382-0390-20160824-221730.gpx", LogKind::Gpx, "2016-08-14"},
    };
    TempDir dir;
    Session s;
    ASSERT_TRUE(s.loadStartFinish(dir.write("far.gxr", test::gxrText(3000, 100, 3000.001, 100))).ok);
    s.setKeepTrack(true);
    SessionObserver quiet;
    for (const Case& c : cases) {
        const std::string path = test::realData(c.file);
        if (path.empty()) continue; // a file tried by hand, not in every checkout
        const LoadReport r = s.loadLog(c.kind, path, quiet);
        ASSERT_TRUE(r.ok) << c.file << ": " << r.error.describe();
        EXPECT_EQ(r.date, c.date) << c.file;
        // Cutting the laps again keeps it.
        EXPECT_EQ(s.recutLoaded().date, c.date) << c.file;
    }
}
