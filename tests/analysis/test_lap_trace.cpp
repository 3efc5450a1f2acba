// The analysis definitions on hand-made tracks and traces, where every value
// can be worked out by hand.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <tuple>

#include "analysis/lap_analysis.h"
#include "analysis/lap_delta.h"
#include "analysis/sectors.h"

using namespace lorvane;

namespace {

// A pass eastwards along north = 0 from east = -9 m at 10 samples a second,
// `speed(east)` m/s, starting at `t0` on the log's clock. Sample indices go on
// from the track's last one.
void drive(Track& track, double t0, double until, const std::function<double(double)>& speed) {
    double x = -9, t = t0;
    std::int32_t index = track.samples.empty() ? 0 : track.samples.back().sample + 1;
    while (true) {
        track.samples.push_back(TrackSample{x, 0, t, std::llround(t * 100), index++});
        if (x > until) break;
        x += speed(x) * 0.1;
        t += 0.1;
    }
}

// The crossing of east = `at` by the track's samples, with the offset of the
// measured-interval rule.
Crossing crossingAt(const Track& track, double at, std::size_t from = 1) {
    for (std::size_t i = std::max<std::size_t>(from, 1); i < track.samples.size(); ++i) {
        const TrackSample& p = track.samples[i - 1];
        const TrackSample& c = track.samples[i];
        if (p.east < at && c.east >= at) {
            const double offset = (c.time - p.time) * (c.east - at) / (c.east - p.east);
            return Crossing{c.sample, offset, c.time - offset};
        }
    }
    ADD_FAILURE() << "no crossing at " << at;
    return {};
}

Lap lapBetween(std::int32_t n, const Crossing& a, const Crossing& b) {
    Lap l;
    l.number = n;
    l.startSample = a.sample;
    l.endSample = b.sample;
    l.time = b.time - a.time;
    if (l.time < 0) l.time += 86400;
    return l;
}

// A trace from (distance, time) pairs along north = 0.
LapTrace straightTrace(std::int32_t lap, const std::vector<std::pair<double, double>>& dt) {
    LapTrace t;
    t.lap = lap;
    for (auto [d, s] : dt) t.points.push_back(TracePoint{d, s, 0, d, 0, -1});
    t.distance = dt.back().first;
    t.time = dt.back().second;
    return t;
}

} // namespace

TEST(LapTrace, DistanceTimeAndSpeedOfAStraightLap) {
    Track track;
    drive(track, 1000, 1010, [](double) { return 20.0; });
    const Crossing open = crossingAt(track, 0), close = crossingAt(track, 1000);
    const Lap lap = lapBetween(1, open, close);
    const LapTrace t = traceLap(track, lap, open, close);

    ASSERT_EQ(t.points.size(), static_cast<std::size_t>(close.sample - open.sample + 2));
    // From crossing point to crossing point.
    EXPECT_NEAR(t.points.front().east, 0, 1e-9);
    EXPECT_NEAR(t.points.back().east, 1000, 1e-9);
    EXPECT_EQ(t.points.front().sample, -1);
    EXPECT_EQ(t.points[1].sample, open.sample);
    EXPECT_NEAR(t.distance, 1000, 1e-9);
    EXPECT_NEAR(t.time, 50, 1e-9);
    EXPECT_EQ(t.points.back().time, lap.time);
    EXPECT_NEAR(t.points[1].time, open.offset, 1e-9);
    for (const TracePoint& p : t.points) {
        EXPECT_NEAR(p.speed, 72, 1e-6);
        EXPECT_NEAR(p.time, p.distance / 20, 1e-9);
    }
    EXPECT_NEAR(t.maxSpeed, 72, 1e-6);
    EXPECT_NEAR(*timeAtDistance(t, 500), 25, 1e-9);
    EXPECT_FALSE(timeAtDistance(t, 1000.5));
    EXPECT_FALSE(timeAtDistance(t, -0.1));

    // The lap found by number, through the crossing list.
    const std::vector<Crossing> crossings = {open, close};
    const LapTrace byNumber = traceLapNumber(track, {lap}, crossings, 1);
    EXPECT_EQ(byNumber.points.size(), t.points.size());
    EXPECT_TRUE(traceLapNumber(track, {lap}, crossings, 2).empty());
}

TEST(LapTrace, SpeedIsSmoothedOverTheWindow) {
    // 10 m/s up to 500 m, then 30 m/s: a step the window spreads over ±0.25 s.
    Track track;
    drive(track, 0, 1010, [](double x) { return x < 500 ? 10.0 : 30.0; });
    const Crossing open = crossingAt(track, 0), close = crossingAt(track, 1000);
    const LapTrace t = traceLap(track, lapBetween(1, open, close), open, close);
    std::size_t step = 0;
    while (t.points[step + 1].distance <= 500) ++step; // the last point before the change of speed
    // Away from the step, the speed; next to it, between the two; the mean of
    // a window that straddles it is the distance over the time.
    EXPECT_NEAR(t.points[step - 3].speed, 36, 1e-6);
    EXPECT_NEAR(t.points[step + 4].speed, 108, 1e-6);
    for (std::size_t i = step - 1; i <= step + 1; ++i) {
        EXPECT_GT(t.points[i].speed, 36.1);
        EXPECT_LT(t.points[i].speed, 107.9);
        const TracePoint& a = t.points[i - 2];
        const TracePoint& b = t.points[i + 2];
        EXPECT_NEAR(t.points[i].speed, 3.6 * (b.distance - a.distance) / (b.time - a.time), 1e-9);
    }
    EXPECT_NEAR(t.maxSpeed, 108, 1e-6);
}

TEST(LapTrace, CrossingPointUsesTheMeasuredInterval) {
    Track track;
    track.samples = {{0, 0, 10.0, 1000, 7},   {8, 0, 10.2, 1020, 8},        {16, 0, 10.2, 1020, 9},
                     {20, 0, 10.1, 1010, 10}, {0, 0, 86399.9, 8639990, 11}, {6, 0, 0.05, 5, 12}};
    EXPECT_NEAR(sampleInterval(track, 1), 0.2, 1e-12);
    EXPECT_EQ(sampleInterval(track, 2), 0);
    EXPECT_EQ(sampleInterval(track, 3), 0);             // back in time
    EXPECT_NEAR(sampleInterval(track, 5), 0.15, 1e-12); // past midnight
    // 0.05 s back over a 0.2 s interval: a quarter of the way back.
    EXPECT_NEAR(crossingPoint(track, 1, 0.05).east, 6, 1e-12);
    EXPECT_NEAR(crossingPoint(track, 5, 0.05).east, 4, 1e-12);
    // No time between the samples, an offset beyond the segment, no sample before.
    EXPECT_DOUBLE_EQ(crossingPoint(track, 2, 0.05).east, 16);
    EXPECT_DOUBLE_EQ(crossingPoint(track, 1, 0.5).east, 0);
    EXPECT_DOUBLE_EQ(crossingPoint(track, 0, 0.05).east, 0);
    EXPECT_EQ(trackIndex(track, 8), std::optional<std::size_t>(1));
    EXPECT_FALSE(trackIndex(track, 13));
}

TEST(LapTrace, RepeatedBackwardAndMissingTimesStayFinite) {
    Track track;
    drive(track, 500, 300, [](double) { return 15.0; });
    // Samples repeating a time, one going back, a long gap and a stop.
    for (std::size_t i = 30; i < 34; ++i) track.samples[i].time = track.samples[29].time;
    track.samples[60].time -= 0.3;
    for (std::size_t i = 100; i < track.samples.size(); ++i) track.samples[i].time += 5;
    for (std::size_t i = 150; i < 160; ++i) {
        track.samples[i].east = track.samples[149].east;
        track.samples[i].time = track.samples[149].time + 0.1 * static_cast<double>(i - 149);
    }
    for (std::size_t i = 160; i < track.samples.size(); ++i) track.samples[i].time += 1;
    Crossing open = crossingAt(track, 0), close = crossingAt(track, 250);
    const LapTrace t = traceLap(track, lapBetween(1, open, close), open, close);
    ASSERT_FALSE(t.empty());
    for (const TracePoint& p : t.points) {
        EXPECT_TRUE(std::isfinite(p.speed)) << p.sample;
        EXPECT_GE(p.speed, 0);
        EXPECT_TRUE(std::isfinite(p.time));
        EXPECT_GE(p.time, 0);
        EXPECT_LE(p.time, t.time);
    }
    EXPECT_TRUE(std::isfinite(t.maxSpeed));
    EXPECT_NEAR(t.distance, 250, 1e-9);
    // Standing still: the time at a distance is when it was reached.
    std::size_t stop = 0;
    while (t.points[stop].sample != 149) ++stop;
    EXPECT_EQ(t.points[stop + 1].distance, t.points[stop].distance);
    EXPECT_EQ(pointAtOrAfter(t, t.points[stop].distance), stop);
    EXPECT_DOUBLE_EQ(*timeAtDistance(t, t.points[stop].distance), t.points[stop].time);
}

TEST(LapTrace, ClockPastMidnight) {
    Track track;
    drive(track, 86380, 1010, [](double) { return 25.0; });
    for (TrackSample& s : track.samples)
        if (s.time >= 86400) {
            s.time -= 86400;
            s.clock -= 8640000;
        }
    const Crossing open = crossingAt(track, 0), close = crossingAt(track, 1000);
    const Lap lap = lapBetween(1, open, close);
    EXPECT_NEAR(lap.time, 40, 1e-6);
    const LapTrace t = traceLap(track, lap, open, close);
    for (std::size_t i = 1; i < t.points.size(); ++i) {
        EXPECT_GT(t.points[i].time, t.points[i - 1].time);
        EXPECT_NEAR(t.points[i].speed, 90, 1e-3);
    }
}

TEST(LapTrace, LoggedSpeedWhereTheLogHasOneElseJumpsLeftOut) {
    // 20 m/s along the straight. One fix leaps 6 m aside and back; further on
    // the fixes jump 14 m ahead from one to the next and go on from there.
    Track track;
    drive(track, 1000, 1030, [](double) { return 20.0; });
    track.samples[200].north = 6;
    for (std::size_t i = 300; i < track.samples.size(); ++i) track.samples[i].east += 14;
    const Crossing open = crossingAt(track, 0), close = crossingAt(track, 1000);
    const Lap lap = lapBetween(1, open, close);
    const LapTrace t = traceLap(track, lap, open, close);
    // The leaps count in the distance but not in the speed.
    EXPECT_NEAR(t.distance, 1000 + 2 * (std::hypot(2, 6) - 2), 1e-6);
    for (const TracePoint& p : t.points) EXPECT_NEAR(p.speed, 72, 1e-6) << p.sample;
    EXPECT_NEAR(t.maxSpeed, 72, 1e-6);

    // The log's own speed, where it has one, is the speed: 16 m/s rising by
    // 0.01 m/s a sample, between the samples at the crossing points.
    Track logged = track;
    for (TrackSample& s : logged.samples) s.speed = static_cast<float>(16 + 0.01 * s.sample);
    logged.samples[250].speed = -1;
    const LapTrace u = traceLap(logged, lap, open, close);
    ASSERT_EQ(u.points.size(), t.points.size());
    EXPECT_EQ(u.distance, t.distance);
    auto kmh = [](double sample) { return 3.6 * (16 + 0.01 * sample); };
    EXPECT_NEAR(u.points.front().speed, kmh(open.sample - open.offset / 0.1), 1e-4);
    EXPECT_NEAR(u.points.back().speed, kmh(close.sample - close.offset / 0.1), 1e-4);
    for (std::size_t i = 1; i + 1 < u.points.size(); ++i) {
        const TracePoint& p = u.points[i];
        EXPECT_NEAR(p.speed, p.sample == 250 ? 72 : kmh(p.sample), 1e-4) << p.sample;
    }
    EXPECT_DOUBLE_EQ(u.maxSpeed, u.points.back().speed);
}

TEST(LapDelta, PositiveWhereBehind) {
    // The reference does 20 m/s throughout; the compared lap 10 m/s for the
    // first 100 m, then 20 m/s, over a lap 10 m longer. Matched by share of
    // the lap, metre d of the reference is metre 1.01 d of the compared lap:
    // 0.051 s lost a metre up to 99 m, then 5 s plus the 0.5 s the longer lap
    // costs, spread evenly.
    std::vector<std::pair<double, double>> r, c;
    for (int d = 0; d <= 1000; d += 10) r.push_back({d, d / 20.0});
    for (int d = 0; d <= 1010; d += 10) c.push_back({d, d <= 100 ? d / 10.0 : 10 + (d - 100) / 20.0});
    const LapTrace ref = straightTrace(1, r), cmp = straightTrace(2, c);
    auto lost = [](double d) { return 1.01 * d <= 100 ? 0.051 * d : 5 + d / 2000; };

    EXPECT_DOUBLE_EQ(*deltaAt(cmp, ref, 0), 0);
    EXPECT_NEAR(*deltaAt(cmp, ref, 55), lost(55), 1e-12);
    EXPECT_NEAR(*deltaAt(cmp, ref, 600), lost(600), 1e-12);
    EXPECT_NEAR(*deltaAt(ref, cmp, 606), -lost(600), 1e-12); // ahead: negative
    EXPECT_DOUBLE_EQ(*deltaAt(cmp, ref, 1000), 5.5);         // the lap-time difference
    EXPECT_DOUBLE_EQ(*deltaAt(ref, cmp, 1010), -5.5);
    EXPECT_FALSE(deltaAt(cmp, ref, 1005)); // beyond the reference lap
    EXPECT_FALSE(deltaAt(cmp, ref, -1));

    const auto grid = deltaOnGrid(cmp, ref, 11);
    ASSERT_EQ(grid.size(), 11u);
    EXPECT_DOUBLE_EQ(grid.front().distance, 0);
    EXPECT_DOUBLE_EQ(grid.back().distance, 1000);
    for (const DeltaPoint& p : grid) EXPECT_NEAR(p.delta, lost(p.distance), 1e-12) << p.distance;
    EXPECT_EQ(deltaOnGrid(ref, cmp, 11).back().delta, -5.5);
    EXPECT_EQ(deltaOnGrid(cmp, ref, 1).size(), 1u);
    EXPECT_TRUE(deltaOnGrid(cmp, ref, 0).empty());
    EXPECT_TRUE(deltaOnGrid(cmp, LapTrace{}, 100).empty());

    // On every point of either lap, longer or shorter, from 0 to the lap-time
    // difference.
    for (const auto& [a, b, sign] : {std::tuple{&cmp, &ref, 1.0}, std::tuple{&ref, &cmp, -1.0}}) {
        const auto own = deltaAtPoints(*a, *b);
        ASSERT_EQ(own.size(), a->points.size());
        for (std::size_t i = 0; i < own.size(); ++i) {
            ASSERT_TRUE(own[i]) << i;
            const double d = a == &cmp ? a->points[i].distance / 1.01 : a->points[i].distance;
            EXPECT_NEAR(*own[i], sign * lost(d), 1e-12) << i;
        }
        EXPECT_EQ(*own.front(), 0);
        EXPECT_EQ(*own.back(), sign * 5.5);
    }
    const auto none = deltaAtPoints(cmp, LapTrace{});
    EXPECT_TRUE(none.size() == cmp.points.size() && !none.front());

    // A closing crossing point as far along as the sample before it (a fix
    // repeated at the line): the lap still ends at its lap time.
    std::vector<std::pair<double, double>> stalled = r;
    stalled.back().second = 49.9;
    stalled.push_back({1000, 51});
    const LapTrace late = straightTrace(3, stalled);
    EXPECT_DOUBLE_EQ(*deltaAt(late, ref, 1000), 1);
    EXPECT_DOUBLE_EQ(*deltaAtPoints(ref, late).back(), -1);
    EXPECT_DOUBLE_EQ(deltaOnGrid(ref, late, 5).back().delta, -1);
}

TEST(Sectors, LinesAcrossTheReferenceAndTheirCrossings) {
    std::vector<std::pair<double, double>> r;
    for (int d = 0; d <= 1200; d += 3) r.push_back({d, d / 30.0});
    const LapTrace ref = straightTrace(1, r);
    const auto lines = sectorLines(ref, 4);
    ASSERT_EQ(lines.size(), 3u);
    for (int k = 0; k < 3; ++k) {
        const SectorLine& l = lines[static_cast<std::size_t>(k)];
        EXPECT_DOUBLE_EQ(l.distance, 300.0 * (k + 1));
        EXPECT_NEAR(l.p1.east, 300.0 * (k + 1), 1e-9);
        EXPECT_NEAR(l.p1.north, 0, 1e-12);
        EXPECT_NEAR(l.p2.east - l.p1.east, kSectorLineDirection, 1e-9); // along the direction of travel
        EXPECT_NEAR(l.p2.north, 0, 1e-12);
    }
    auto s = sectorTimes(ref, lines);
    ASSERT_EQ(s.size(), 4u);
    for (const auto& v : s) EXPECT_NEAR(*v, 10, 1e-9);
    EXPECT_TRUE(sectorLines(ref, 1).empty());
    EXPECT_EQ(sectorTimes(ref, {}).size(), 1u);
    EXPECT_DOUBLE_EQ(*sectorTimes(ref, {})[0], ref.time);

    // A lap that swings 24 m north round 600 m still crosses the second line;
    // one 26 m north misses it, and so has neither sector 2 nor sector 3.
    for (double off : {24.0, 26.0}) {
        LapTrace t = ref;
        for (TracePoint& p : t.points)
            if (std::fabs(p.east - 600) < 50) p.north = off;
        s = sectorTimes(t, lines);
        EXPECT_NEAR(*s[0], 10, 1e-9);
        EXPECT_EQ(s[1].has_value(), off < 25);
        EXPECT_EQ(s[2].has_value(), off < 25);
        EXPECT_NEAR(*s[3], 10, 1e-9);
    }
    // Crossing a line backwards does not count; the forward crossing after it does.
    LapTrace back = ref;
    back.points.clear();
    auto add = [&](double e, double t) { back.points.push_back(TracePoint{0, t, 0, e, 0, -1}); };
    add(400, 0);
    add(290, 1); // back over the first line
    add(320, 2); // and forward again
    add(1200, 30);
    back.time = 30;
    const auto x = lineCrossings(back, lines);
    EXPECT_NEAR(*x[0], 2 - 20 / 30.0, 1e-9);
    EXPECT_NEAR(*x[1], 30 - 28 * 600 / 880.0, 1e-9);

    // Two lines on one segment are crossed in order.
    LapTrace jump = ref;
    jump.points = {TracePoint{0, 0, 0, 0, 0, -1}, TracePoint{0, 10, 0, 1000, 0, -1}, TracePoint{0, 11, 0, 1200, 0, -1}};
    jump.time = 11;
    s = sectorTimes(jump, lines);
    EXPECT_NEAR(*s[0], 3, 1e-9);
    EXPECT_NEAR(*s[1], 3, 1e-9);
    EXPECT_NEAR(*s[2], 3, 1e-9);
    EXPECT_NEAR(*s[3], 2, 1e-9);
}

TEST(Sectors, BestSectorsAndTheoreticalBest) {
    using S = std::optional<double>;
    SectorTable t = bestSectors({1, 2, 3, 4}, {{10, 20, 30}, {9, S{}, 31}, {11, 19, S{}}, {9, 19, 35}}, 3);
    ASSERT_EQ(t.best.size(), 3u);
    EXPECT_EQ(t.best[0]->lap, 2); // a tie goes to the first lap
    EXPECT_EQ(t.best[1]->lap, 3);
    EXPECT_EQ(t.best[2]->lap, 1);
    EXPECT_DOUBLE_EQ(*t.theoreticalBest, 58);

    t = bestSectors({1, 2}, {{10, S{}}, {12, S{}}}, 2);
    EXPECT_EQ(t.best[0]->lap, 1);
    EXPECT_FALSE(t.best[1]);
    EXPECT_FALSE(t.theoreticalBest);
    EXPECT_FALSE(bestSectors({}, {}, 3).theoreticalBest);
}
