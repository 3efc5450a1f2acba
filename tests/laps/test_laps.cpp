#include <gtest/gtest.h>

#include <cmath>

#include "laps/lap_segmenter.h"
#include "laps/lap_time_text.h"

using namespace lorvane;

TEST(LapTimeText, MinutesAndSeconds) {
    EXPECT_EQ(convertRealtoUTC(83.45), "01:23.45");
    EXPECT_EQ(convertRealtoUTC(60), "01:00.00");
    EXPECT_EQ(convertRealtoUTC(5.5), "00:05.50");
    EXPECT_EQ(convertRealtoUTC(0), "00:00.00");
    EXPECT_EQ(convertRealtoUTC(600), "10:00.00");
    EXPECT_EQ(convertRealtoUTC(3599.99), "59:59.99");
    // Rounded before it is split: never 60 seconds.
    EXPECT_EQ(convertRealtoUTC(119.996), "02:00.00");
    EXPECT_EQ(convertRealtoUTC(3599.996), "1:00:00.00");
    // Hours are kept.
    EXPECT_EQ(convertRealtoUTC(3725), "1:02:05.00");
    EXPECT_EQ(convertRealtoUTC(-5.5), "-00:05.50");
}

TEST(LapTimeText, ListLines) {
    EXPECT_EQ(lapListLine(1, 83.45, LogKind::Text), "001 :   01:23.45");
    EXPECT_EQ(lapListLine(1, 95.37, LogKind::Binary), "001 :   095.37");
    EXPECT_EQ(lapListLine(12, 1234.5, LogKind::Binary), "012 :   1234.50");
    EXPECT_EQ(lapListLine(1234, 61, LogKind::Text), "1234 :   01:01.00");
}

namespace {

// Drives the segmenter along the east axis across a gate at east 0 (point 2
// east of point 1, so the gate line runs north to south).
struct Track {
    LapSegmenter seg;
    LocalPlane plane{3000, 0, 0.5};
    std::int32_t index = 0;
    // These tracks jump far between samples, seconds apart: no pause ends a run.
    explicit Track(LogKind kind = LogKind::Text, GateRules rules = noPauses()) {
        StartFinish g;
        g.start = Gate{3000, 0, 3000, 0.001};
        g.finish = Gate{};
        seg.reset(g, kind, rules);
    }
    static GateRules noPauses() {
        GateRules r;
        r.maxGap = 0;
        return r;
    }
    // A sample `metres` east of the gate at time t.
    const Lap* at(double metres, double t) {
        Sample s;
        s.index = index++;
        s.lat = 3000;
        s.lon = metres / (kMetresPerMinute * plane.longScale);
        s.time = t;
        s.clock = std::llround(t * 100);
        return seg.step(plane, s);
    }
};

} // namespace

TEST(Laps, CrossingOffsetsMakeTheLapTime) {
    Track tr;
    tr.at(-1, 99.9);
    tr.at(3, 100.0); // offset 0.1 * 3/4 = 0.075
    tr.at(100, 150); // far away: outside the radius
    tr.at(-100, 160);
    tr.at(-7, 183.4);
    const Lap* lap = tr.at(1, 183.5); // offset 0.1 * 1/8 = 0.0125
    ASSERT_NE(lap, nullptr);
    EXPECT_EQ(lap->number, 1);
    EXPECT_NEAR(lap->time, (183.5 - 0.0125) - (100.0 - 0.075), 1e-9);
    EXPECT_EQ(lap->startSample, 1);
    EXPECT_EQ(lap->endSample, 5);
    ASSERT_EQ(tr.seg.crossings().size(), 2u);
    EXPECT_NEAR(tr.seg.crossings()[0].offset, 0.075, 1e-12);
}

TEST(Laps, FastestIsStrictlyFasterAndMidnightWraps) {
    Track tr;
    auto crossAt = [&](double t) {
        tr.at(-1, t - 0.1);
        return tr.at(1, t);
    };
    EXPECT_EQ(crossAt(0.05), nullptr); // a crossing at time ~0 counts as a first crossing
    auto away = [&](double t) {
        tr.at(200, t);
        tr.at(-200, t + 1);
    };
    away(10);
    ASSERT_NE(crossAt(90.05), nullptr);
    EXPECT_TRUE(tr.seg.lastWasBest());
    away(100);
    ASSERT_NE(crossAt(175.55), nullptr); // 85.50
    EXPECT_TRUE(tr.seg.lastWasBest());
    away(180);
    ASSERT_NE(crossAt(261.05), nullptr); // 85.50 again: not a new best
    EXPECT_FALSE(tr.seg.lastWasBest());
    EXPECT_EQ(tr.seg.bestLap(), 2);
    // A lap over midnight.
    away(270);
    crossAt(86390.05);
    away(86395);
    const Lap* lap = crossAt(50.05);
    ASSERT_NE(lap, nullptr);
    EXPECT_NEAR(lap->time, 60.0, 1e-6);
    EXPECT_EQ(tr.seg.bestLap(), 5);
}

TEST(Laps, FinishGateClosesLapsToo) {
    LapSegmenter seg;
    StartFinish g;
    g.start = Gate{3000, 0, 3000, 0.001};
    g.finish = Gate{3000.1, 0, 3000.1, 0.001}; // 185 m north, same direction
    g.hasFinishLine = true;
    seg.reset(g, LogKind::Binary, Track::noPauses());
    LocalPlane plane{3000, 0, 0.5};
    std::int32_t i = 0;
    auto at = [&](double lat, double east, double t) {
        Sample s;
        s.index = i++;
        s.lat = lat;
        s.lon = east / (kMetresPerMinute * plane.longScale);
        s.time = t;
        s.clock = std::llround(t * 100);
        return seg.step(plane, s);
    };
    at(3000, -1, 1);
    at(3000, 1, 1.1); // start gate
    at(3000.1, -100, 19);
    at(3000.1, -1, 20);
    const Lap* lap = at(3000.1, 1, 20.1); // finish gate
    ASSERT_NE(lap, nullptr);
    EXPECT_EQ(lap->line, "001 :   019.00");
}
