// Logs at other rates than ten fixes a second, and logs that lack the fixes
// right at the line: the laps must still be the laps driven, and the
// reference file must still hold one point a second by the clock.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <iostream>
#include <sstream>

#include "laps/gate_rules.h"
#include "session/session.h"
#include "sessiongen/session_gen.h"
#include "test_util.h"

using namespace lorvane;
using lorvane::test::Recorder;
using lorvane::test::TempDir;

namespace {

struct RateCase {
    int rate;
    bool dropAtLine;
};

std::string describe(const RateCase& c, std::uint64_t seed, LogKind kind) {
    std::ostringstream o;
    o << c.rate << " Hz" << (c.dropAtLine ? " without the fixes at the line" : "") << ", seed " << seed
      << (kind == LogKind::Text ? ", text log" : ", binary log");
    return o.str();
}

gen::Session make(int rate, bool dropAtLine, std::uint64_t seed, bool finish) {
    gen::Options o;
    o.seed = seed;
    o.laps = 5;
    o.samplesPerSecond = rate;
    o.dropFixesAtLine = dropAtLine;
    o.finishGate = finish;
    o.noise = 0.02; // low noise: the crossing times are then down to the path's own curvature
    o.dropouts = false;
    return gen::generate(o);
}

const char* logName(LogKind kind) {
    return kind == LogKind::Text ? "s.zlg" : "s.wmx";
}

// Hundredths of a second from sample `from` to sample `to` of the generated log.
std::int64_t centisBetween(const gen::Session& g, std::int64_t from, std::int64_t to) {
    std::int64_t d = g.samples[static_cast<std::size_t>(to)].centis - g.samples[static_cast<std::size_t>(from)].centis;
    if (d < 0) d += 8640000;
    return d;
}

} // namespace

TEST(SampleRates, LapTimesMatchTheDriveAtEveryRate) {
    const RateCase cases[] = {{5, false}, {20, false}, {25, false}, {10, true}};
    for (const RateCase& c : cases) {
        double worst = 0;
        for (std::uint64_t seed : {11u, 12u, 13u}) {
            const gen::Session g = make(c.rate, c.dropAtLine, seed, seed == 12);
            TempDir dir;
            gen::writeSession(g, dir.file("s"));
            for (LogKind kind : {LogKind::Text, LogKind::Binary}) {
                SCOPED_TRACE(describe(c, seed, kind));
                Session s;
                ASSERT_TRUE(s.loadStartFinish(dir.file("s.gxr")).ok);
                Recorder r;
                const LoadReport rep = s.loadLog(kind, dir.file(logName(kind)), r);
                ASSERT_TRUE(rep.ok) << rep.error.describe();
                ASSERT_EQ(s.crossings().size(), g.crossings.size());
                ASSERT_EQ(s.laps().size(), g.lapTimes.size());
                for (std::size_t i = 0; i < g.lapTimes.size(); ++i) {
                    const double err = std::abs(s.laps()[i].time - g.lapTimes[i]);
                    worst = std::max(worst, err);
                    EXPECT_LE(err, 0.01) << "lap " << i + 1;
                }
                for (std::size_t i = 0; i < g.crossings.size(); ++i)
                    EXPECT_LE(std::abs(s.crossings()[i].sample - g.crossings[i].sample), 1) << "crossing " << i;
            }
        }
        std::cout << "[ rates    ] " << c.rate << " Hz" << (c.dropAtLine ? " dropped at line" : "")
                  << ": worst lap time error " << worst << " s\n";
    }
}

TEST(SampleRates, ReferencePointsOneASecondByTheClock) {
    const RateCase cases[] = {{5, false}, {20, false}, {25, false}, {10, true}};
    for (const RateCase& c : cases) {
        const std::uint64_t seed = 21;
        const gen::Session g = make(c.rate, c.dropAtLine, seed, false);
        TempDir dir;
        gen::writeSession(g, dir.file("s"));
        for (LogKind kind : {LogKind::Text, LogKind::Binary}) {
            SCOPED_TRACE(describe(c, seed, kind));
            Session s;
            ASSERT_TRUE(s.loadStartFinish(dir.file("s.gxr")).ok);
            Recorder r;
            ASSERT_TRUE(s.loadLog(kind, dir.file(logName(kind)), r).ok);
            ASSERT_GE(s.laps().size(), 3u);
            const std::int32_t lapNo = 2;
            const Lap lap = s.laps()[lapNo - 1];
            const Crossing& opening = s.crossings()[lapNo - 1];
            ASSERT_EQ(opening.sample, lap.startSample);
            const ReferenceLap ref = s.pickLap(lapNo);
            const std::string file = composeLapRefFile(*s.loaded(), ref, false);

            std::istringstream in(file.substr(file.find("[Points]\r\n") + 10));
            double east, north;
            long long ms;
            std::vector<long long> stamps;
            while (in >> east >> north >> ms) stamps.push_back(ms);
            ASSERT_EQ(stamps.size(), ref.points.size());
            ASSERT_GE(ref.points.size(), 3u);

            // Point i is the first sample of the lap at or past i seconds.
            std::int64_t sample = lap.startSample;
            for (std::size_t i = 0; i + 1 < ref.points.size(); ++i) {
                const double e = ref.points[i].elapsed;
                EXPECT_GE(e, static_cast<double>(i)) << "point " << i;
                // The interval, or across the line where fixes are missing, up to three.
                EXPECT_LT(e, static_cast<double>(i) + (c.dropAtLine ? 3.0 : 1.0) / c.rate) << "point " << i;
                while (centisBetween(g, lap.startSample, sample) < 100 * static_cast<std::int64_t>(i)) ++sample;
                EXPECT_EQ(std::llround(e * 100), centisBetween(g, lap.startSample, sample)) << "point " << i;
                EXPECT_EQ(stamps[i], static_cast<long long>(std::trunc((e + opening.offset) * 1000))) << "point " << i;
            }
            // The last point is the lap's last sample again, stamped with the lap time.
            EXPECT_EQ(std::llround(ref.points.back().elapsed * 100), centisBetween(g, lap.startSample, lap.endSample));
            EXPECT_NEAR(stamps.back() / 1000.0, lap.time, 0.0011);
        }
    }
}

TEST(SampleRates, OneFixASecondWithAGateWidthMissesNoCrossing) {
    double worst = 0;
    for (std::uint64_t seed : {31u, 32u, 33u, 34u}) {
        const gen::Session g = make(1, false, seed, seed == 32);
        TempDir dir;
        gen::writeSession(g, dir.file("s"));
        for (LogKind kind : {LogKind::Text, LogKind::Binary}) {
            SCOPED_TRACE(describe({1, false}, seed, kind));
            Session s;
            s.setGateRules(GateRules{GateDirection::Both, 25.0, 0});
            ASSERT_TRUE(s.loadStartFinish(dir.file("s.gxr")).ok);
            Recorder r;
            ASSERT_TRUE(s.loadLog(kind, dir.file(logName(kind)), r).ok);
            ASSERT_EQ(s.crossings().size(), g.crossings.size());
            ASSERT_EQ(s.laps().size(), g.lapTimes.size());
            for (std::size_t i = 0; i < g.crossings.size(); ++i)
                EXPECT_EQ(s.crossings()[i].sample, g.crossings[i].sample) << "crossing " << i;
            for (std::size_t i = 0; i < g.lapTimes.size(); ++i)
                worst = std::max(worst, std::abs(s.laps()[i].time - g.lapTimes[i]));
        }
    }
    std::cout << "[ rates    ] 1 Hz, gate width 25 m: worst lap time error " << worst << " s\n";
}
