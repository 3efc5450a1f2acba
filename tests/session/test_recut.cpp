// Cutting the laps of a loaded log again, with other gates or other rules,
// gives exactly what a fresh load of the same file gives.
#include <gtest/gtest.h>

#include "session/session.h"
#include "sessiongen/session_gen.h"
#include "test_util.h"

using namespace lorvane;
using lorvane::test::TempDir;

namespace {

std::vector<GateRules> allRules() {
    std::vector<GateRules> r;
    for (GateDirection d : {GateDirection::Both, GateDirection::Forward, GateDirection::Reverse})
        for (std::optional<double> w :
             {std::optional<double>{}, std::optional<double>{10.0}, std::optional<double>{40.0}})
            for (double m : {0.0, 30.0}) r.push_back(GateRules{d, w, m});
    return r;
}

void expectSameLaps(const LoadedLog& a, const LoadedLog& b) {
    ASSERT_EQ(a.laps.size(), b.laps.size());
    ASSERT_EQ(a.crossings.size(), b.crossings.size());
    for (std::size_t i = 0; i < a.crossings.size(); ++i) {
        EXPECT_EQ(a.crossings[i].sample, b.crossings[i].sample);
        EXPECT_EQ(a.crossings[i].offset, b.crossings[i].offset); // to the bit
        EXPECT_EQ(a.crossings[i].time, b.crossings[i].time);
        EXPECT_EQ(a.crossings[i].forward, b.crossings[i].forward);
        EXPECT_EQ(a.crossings[i].distance, b.crossings[i].distance);
    }
    for (std::size_t i = 0; i < a.laps.size(); ++i) {
        EXPECT_EQ(a.laps[i].line, b.laps[i].line);
        EXPECT_EQ(a.laps[i].time, b.laps[i].time);
    }
    EXPECT_EQ(a.bestLap, b.bestLap);
    EXPECT_EQ(a.report.startMarker.has_value(), b.report.startMarker.has_value());
    EXPECT_EQ(a.startFinish.text, b.startFinish.text);
}

} // namespace

TEST(Recut, EqualsAFreshLoadForEveryRuleAndBothLogs) {
    gen::Options o;
    o.seed = 41;
    o.laps = 4;
    o.finishGate = true;
    const gen::Session g = gen::generate(o);
    o.seed = 42;
    o.finishGate = false;
    const gen::Session other = gen::generate(o);
    TempDir dir;
    gen::writeSession(g, dir.file("s"));
    // The second start/finish file: another circuit's gates over this log, and
    // this circuit's gates moved onto the finish line.
    gen::writeSession(other, dir.file("o"));
    for (LogKind kind : {LogKind::Text, LogKind::Binary}) {
        const std::string log = dir.file(kind == LogKind::Text ? "s.zlg" : "s.wmx");
        Session cut;
        cut.setKeepTrack(true);
        ASSERT_TRUE(cut.loadStartFinish(dir.file("s.gxr")).ok);
        SessionObserver quiet;
        ASSERT_TRUE(cut.loadLog(kind, log, quiet).ok);
        for (const GateRules& rules : allRules()) {
            for (const char* gxr : {"s.gxr", "o.gxr", "s.gxr"}) {
                SCOPED_TRACE(std::string(gxr) + " " + std::string(directionName(rules.direction)) + " width " +
                             (rules.gateWidth ? std::to_string(*rules.gateWidth) : "unset") + " min " +
                             std::to_string(rules.minLap));
                ASSERT_TRUE(cut.loadStartFinish(dir.file(gxr)).ok);
                cut.setGateRules(rules);
                cut.recutLoaded();

                Session fresh;
                ASSERT_TRUE(fresh.loadStartFinish(dir.file(gxr)).ok);
                fresh.setGateRules(rules);
                ASSERT_TRUE(fresh.loadLog(kind, log, quiet).ok);
                expectSameLaps(*cut.loaded(), *fresh.loaded());
                if (!fresh.laps().empty()) {
                    const auto lap = static_cast<std::int32_t>(fresh.laps().size());
                    EXPECT_EQ(composeLapRefFile(*cut.loaded(), pickLap(*cut.loaded(), lap), false),
                              composeLapRefFile(*fresh.loaded(), pickLap(*fresh.loaded(), lap), false));
                }
            }
        }
        // Back to the first file and the default rules: the laps the generator drove.
        cut.setGateRules(GateRules{});
        ASSERT_TRUE(cut.loadStartFinish(dir.file("s.gxr")).ok);
        cut.recutLoaded();
        EXPECT_EQ(cut.laps().size(), static_cast<std::size_t>(g.expectedLaps));
    }
}

TEST(Recut, NeedsAKeptTrack) {
    gen::Options o;
    o.seed = 43;
    o.laps = 2;
    const gen::Session g = gen::generate(o);
    TempDir dir;
    gen::writeSession(g, dir.file("s"));
    Session s;
    ASSERT_TRUE(s.loadStartFinish(dir.file("s.gxr")).ok);
    SessionObserver quiet;
    ASSERT_TRUE(s.loadLog(LogKind::Text, dir.file("s.zlg"), quiet).ok);
    EXPECT_THROW(s.recutLoaded(), LoadError);
    EXPECT_EQ(s.laps().size(), 2u); // what was loaded stays
}

// The gate rules on a circuit whose gate the track crosses both ways.
TEST(Recut, DirectionAndMinimumLapJoinSplitLaps) {
    gen::Options o;
    o.seed = 44;
    o.laps = 3;
    const gen::Session g = gen::generate(o);
    TempDir dir;
    gen::writeSession(g, dir.file("s"));
    Session s;
    s.setKeepTrack(true);
    ASSERT_TRUE(s.loadStartFinish(dir.file("s.gxr")).ok);
    SessionObserver quiet;
    ASSERT_TRUE(s.loadLog(LogKind::Text, dir.file("s.zlg"), quiet).ok);
    ASSERT_EQ(s.laps().size(), 3u);
    const bool forward = s.crossings().front().forward;
    // The counted direction of travel keeps every lap; the other finds none.
    s.setGateRules(GateRules{forward ? GateDirection::Forward : GateDirection::Reverse, {}, 0});
    s.recutLoaded();
    EXPECT_EQ(s.laps().size(), 3u);
    s.setGateRules(GateRules{forward ? GateDirection::Reverse : GateDirection::Forward, {}, 0});
    s.recutLoaded();
    EXPECT_TRUE(s.laps().empty());
    // A minimum lap time of one and a half laps: the first crossing counts,
    // the second is ignored, the third closes a lap of two laps' time, the
    // fourth comes too soon after it.
    s.setGateRules(GateRules{});
    s.recutLoaded();
    const double lap1 = s.laps()[0].time, lap2 = s.laps()[1].time;
    s.setGateRules(GateRules{GateDirection::Both, {}, lap1 * 1.5});
    s.recutLoaded();
    ASSERT_EQ(s.laps().size(), 1u);
    EXPECT_NEAR(s.laps()[0].time, lap1 + lap2, 1e-6);
    EXPECT_EQ(s.crossings().size(), 2u);
}
