// Whole sessions from the generator: the laps found must be the laps driven.
#include <gtest/gtest.h>

#include <cmath>
#include <sstream>

#include "laps/local_plane.h"
#include "session/session.h"
#include "sessiongen/session_gen.h"
#include "test_util.h"

using namespace lorvane;
using lorvane::test::Recorder;
using lorvane::test::TempDir;

namespace {

struct Loaded {
    Session session;
    LoadReport text, binary;
};

struct Case {
    std::uint64_t seed;
    bool finish = false, comma = false, crlf = false, midnight = false;
    int recordLength = 0;
    double damage = 0;
    bool terminator = true;
};

std::string describe(const Case& c) {
    std::ostringstream o;
    o << "seed " << c.seed << (c.finish ? " finish" : "") << (c.comma ? " comma" : "") << (c.crlf ? " crlf" : "")
      << (c.midnight ? " midnight" : "") << " record " << c.recordLength << " damage " << c.damage;
    return o.str();
}

gen::Session make(const Case& c, int laps = 6, std::optional<double> noise = std::nullopt) {
    gen::Options o;
    o.seed = c.seed;
    o.laps = laps;
    o.finishGate = c.finish;
    o.noise = noise;
    o.crossMidnight = c.midnight;
    o.text.decimalComma = c.comma;
    o.text.crlf = c.crlf;
    o.binary.recordLength = c.recordLength;
    o.binary.damageRate = c.damage;
    o.binary.lastTerminator = c.terminator;
    return gen::generate(o);
}

const Case kCases[] = {
    {1},
    {2, true, false, true},
    {3, false, true, false, false, 34},
    {4, false, false, false, true, 36, 0, false},
    {5, true, true, true, false, 33, 0.002},
    {6, false, false, false, false, 36, 0.004},
    {7, false, true, false, true, 34, 0.001, false},
    {8, true},
};

} // namespace

TEST(GeneratedSessions, LapsFoundAreTheLapsDriven) {
    int westward = 0; // gates whose direction point lies west of the centre
    for (const Case& c : kCases) {
        SCOPED_TRACE(describe(c));
        // Fix-to-fix GPS noise of 10 cm: white noise of that size alone moves a
        // crossing by up to ~0.01 s at corner speeds.
        const gen::Session g = make(c, 6, 0.1);
        if (g.startGate.long2 < g.startGate.long1) ++westward;
        TempDir dir;
        gen::writeSession(g, dir.file("s"));
        Session s;
        ASSERT_TRUE(s.loadStartFinish(dir.file("s.gxr")).ok);
        Recorder rt;
        LoadReport text = s.loadLog(LogKind::Text, dir.file("s.zlg"), rt);
        ASSERT_TRUE(text.ok) << text.error.describe();
        EXPECT_EQ(text.samples, static_cast<std::int64_t>(g.samples.size()));
        ASSERT_EQ(s.laps().size(), static_cast<std::size_t>(g.expectedLaps));
        ASSERT_EQ(s.crossings().size(), g.crossings.size());
        std::vector<Lap> textLaps = s.laps();
        for (std::size_t i = 0; i < textLaps.size(); ++i) {
            EXPECT_NEAR(textLaps[i].time, g.lapTimes[i], 0.02) << "lap " << i + 1;
            // Detected at the first sample past the line, give or take one for the position noise.
            EXPECT_LE(std::abs(s.crossings()[i].sample - g.crossings[i].sample), 1);
        }

        Recorder rb;
        LoadReport binary = s.loadLog(LogKind::Binary, dir.file("s.wmx"), rb);
        ASSERT_TRUE(binary.ok) << binary.error.describe();
        EXPECT_EQ(binary.samples, g.binarySampleCount());
        ASSERT_EQ(s.laps().size(), textLaps.size());
        for (std::size_t i = 0; i < textLaps.size(); ++i) {
            EXPECT_NEAR(s.laps()[i].time, g.lapTimes[i], 0.02) << "lap " << i + 1;
            if (c.damage == 0) {
                // Same samples, so the same crossings up to the clock's last bit.
                EXPECT_NEAR(s.laps()[i].time, textLaps[i].time, 1e-6);
                EXPECT_EQ(s.laps()[i].startSample, textLaps[i].startSample);
            }
        }
        EXPECT_EQ(s.bestLap() > 0, g.expectedLaps > 0);
    }
    // Gates are crossed whatever their direction.
    EXPECT_GT(westward, 0);
}

TEST(GeneratedSessions, ReferenceFileReproducesThePath) {
    for (const Case& c : {kCases[0], kCases[2], kCases[4]}) {
        SCOPED_TRACE(describe(c));
        const gen::Session g = make(c, 3, 0.15); // 1 m is then over six standard deviations
        TempDir dir;
        gen::writeSession(g, dir.file("s"));
        for (LogKind kind : {LogKind::Text, LogKind::Binary}) {
            Session s;
            ASSERT_TRUE(s.loadStartFinish(dir.file("s.gxr")).ok);
            Recorder r;
            ASSERT_TRUE(s.loadLog(kind, dir.file(kind == LogKind::Text ? "s.zlg" : "s.wmx"), r).ok);
            ASSERT_GE(s.laps().size(), 2u);
            const std::int32_t lapNo = 2;
            const Lap lap = s.laps()[lapNo - 1];
            const std::string ref = composeLapRefFile(*s.loaded(), s.pickLap(lapNo), false);

            // Read the points back.
            const double scale = calcLongScale(s.plane().baseLat, s.plane().baseLong);
            std::istringstream in(ref.substr(ref.find("[Points]\r\n") + 10));
            double east, north;
            long long ms;
            std::vector<std::tuple<double, double, long long>> pts;
            while (in >> east >> north >> ms) pts.emplace_back(east, north, ms);
            ASSERT_EQ(static_cast<std::int64_t>(pts.size()), thinnedPointCount(lap.endSample - lap.startSample + 1));

            const gen::Crossing& opening = g.crossings[lapNo - 1];
            for (std::size_t i = 0; i < pts.size(); ++i) {
                auto [e, n, t] = pts[i];
                gen::LatLon p{s.plane().baseLat + n / kMetresPerMinute,
                              s.plane().baseLong + e / (kMetresPerMinute * scale)};
                EXPECT_LT(g.distanceToPath(p), 1.0) << "point " << i;
                if (i + 1 < pts.size() && kind == LogKind::Text) {
                    const auto& sample = g.samples[static_cast<std::size_t>(lap.startSample) + 10 * i];
                    EXPECT_NEAR(t / 1000.0, sample.time() - opening.clockTime, 0.05) << "point " << i;
                }
            }
            EXPECT_NEAR(std::get<2>(pts.back()) / 1000.0, g.lapTimes[lapNo - 1], 0.05);
        }
    }
}
