// Split lines placed by the user cut the laps into sectors in driving order.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "analysis/lap_analysis.h"
#include "analysis/split_lines.h"
#include "session/session.h"
#include "sessiongen/session_gen.h"
#include "test_util.h"
#include "track/gate_lines.h"

using namespace lorvane;

TEST(SplitLines, PlacedOutOfOrderTheyCutEveryLapInDrivingOrder) {
    gen::Options o;
    o.seed = 91;
    o.laps = 4;
    o.dropouts = false;
    const gen::Session g = gen::generate(o);
    test::TempDir dir;
    gen::writeSession(g, dir.file("s"));
    Session s;
    s.setKeepTrack(true);
    ASSERT_TRUE(s.loadStartFinish(dir.file("s.gxr")).ok);
    SessionObserver quiet;
    ASSERT_TRUE(s.loadLog(LogKind::Text, dir.file("s.zlg"), quiet).ok);
    const auto log = s.loaded();
    ASSERT_EQ(log->laps.size(), 4u);
    const LapTrace ref = traceLapNumber(*log->track, log->laps, log->crossings, 2);
    ASSERT_FALSE(ref.empty());

    // Two thirds round lap 2, then one third: placed in that order.
    std::vector<Gate> splits;
    for (double share : {2.0 / 3.0, 1.0 / 3.0}) {
        const auto& pt = ref.points[static_cast<std::size_t>(share * static_cast<double>(ref.points.size()))];
        const auto index = trackIndex(*log->track, pt.sample);
        ASSERT_TRUE(index);
        const auto gate = track::gateAtTrackPoint(*log->track, *index, log->plane);
        ASSERT_TRUE(gate);
        splits.push_back(*gate);
    }
    // One far off the track is left out.
    Gate far = splits.front();
    far.lat1 += 1;
    far.lat2 += 1;
    splits.push_back(far);

    const auto lines = splitSectorLines(splits, log->plane, ref);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_LT(lines[0].distance, lines[1].distance);
    EXPECT_NEAR(lines[0].distance, ref.distance / 3, ref.distance * 0.02);
    for (std::int32_t lap = 1; lap <= 4; ++lap) {
        SCOPED_TRACE(lap);
        const LapTrace t = traceLapNumber(*log->track, log->laps, log->crossings, lap);
        const auto times = sectorTimes(t, lines);
        ASSERT_EQ(times.size(), 3u);
        double sum = 0;
        for (const auto& v : times) {
            ASSERT_TRUE(v);
            EXPECT_GT(*v, 0);
            sum += *v;
        }
        EXPECT_NEAR(sum, t.time, 1e-6);
    }
    EXPECT_TRUE(splitSectorLines(splits, log->plane, LapTrace{}).empty());
}

// Split lines in force with a load cut its sectors wherever the laps are
// analysed (the window, laps --json): at the times the true path crosses them,
// adding up to each lap time.
TEST(SplitLines, InForceTheyCutTheSectorsAtTheTruePasses) {
    gen::Options o;
    o.seed = 93;
    o.laps = 5;
    o.noise = 0.05;
    const gen::Session g = gen::generate(o);
    test::TempDir dir;
    gen::writeSession(g, dir.file("s"));
    Session s;
    s.setKeepTrack(true);
    ASSERT_TRUE(s.loadStartFinish(dir.file("s.gxr")).ok);

    // Three lines across the true path a quarter, half and four fifths into
    // lap 1, point 2 ahead in the direction of travel.
    const double open = g.crossings[0].elapsed, lapTime = g.crossings[1].elapsed - open;
    std::vector<Gate> splits, backwards;
    for (double share : {0.25, 0.5, 0.8}) {
        const gen::LatLon p = g.truePositionAt(open + share * lapTime),
                          q = g.truePositionAt(open + share * lapTime + 0.2);
        splits.push_back(Gate{p.lat, p.lon, q.lat, q.lon});
        backwards.push_back(Gate{p.lat, p.lon, 2 * p.lat - q.lat, 2 * p.lon - q.lon});
    }
    StartFinishFile f = s.startFinish();
    f.splits = splits;
    s.setStartFinish(f);
    SessionObserver quiet;
    ASSERT_TRUE(s.loadLog(LogKind::Text, dir.file("s.zlg"), quiet).ok);
    const auto log = s.loaded();
    ASSERT_EQ(log->laps.size(), 5u);

    const LapAnalysis a = analyseLaps(*log, 7); // the split lines take the place of 7 equal sectors
    ASSERT_EQ(a.sectorCount, 4);
    ASSERT_EQ(a.lines.size(), 3u);
    double worst = 0;
    for (std::size_t k = 0; k < 3; ++k) EXPECT_EQ(a.lines[k].split, static_cast<int>(k));
    for (std::size_t j = 0; j < a.laps.size(); ++j) {
        SCOPED_TRACE("lap " + std::to_string(j + 1));
        const LapSummary& lap = a.laps[j];
        ASSERT_EQ(lap.sectors.size(), 4u);
        double from = g.crossings[j].elapsed, sum = 0;
        const double close = g.crossings[j + 1].elapsed;
        for (std::size_t k = 0; k < 4; ++k) {
            double to = close;
            if (k < 3) {
                const Gate& gl = splits[k];
                const auto passes = g.trueLineCrossings({gl.lat1, gl.long1}, {gl.lat2, gl.long2}, 25);
                const auto it = std::upper_bound(passes.begin(), passes.end(), from);
                ASSERT_TRUE(it != passes.end() && *it < close);
                to = *it;
            }
            ASSERT_TRUE(lap.sectors[k]);
            EXPECT_NEAR(*lap.sectors[k], to - from, 0.02) << "sector " << k + 1;
            worst = std::max(worst, std::fabs(*lap.sectors[k] - (to - from)));
            sum += *lap.sectors[k];
            from = to;
        }
        EXPECT_NEAR(sum, lap.time, 1e-9);
    }
    ASSERT_TRUE(a.table.theoreticalBest);
    std::printf("sectors at split lines: worst error %.4f s\n", worst);

    // Laps cut the other way cross the lines the other way: lines pointing
    // backwards give the same sectors then.
    const Track& track = *log->track;
    const LapAnalysis r = analyseLaps(track, log->laps, log->crossings, 3, 0, {backwards, log->plane, true});
    ASSERT_EQ(r.lines.size(), 3u);
    for (std::size_t j = 0; j < a.laps.size(); ++j) EXPECT_EQ(r.laps[j].sectors, a.laps[j].sectors);

    // None on the track: equal distances, as without split lines.
    std::vector<Gate> off = splits;
    for (Gate& gl : off) gl.lat1 += 1, gl.lat2 += 1;
    const LapAnalysis e = analyseLaps(track, log->laps, log->crossings, 5, 0, {off, log->plane, false});
    EXPECT_EQ(e.sectorCount, 5);
    ASSERT_EQ(e.lines.size(), 4u);
    EXPECT_EQ(e.lines[0].split, -1);
    EXPECT_TRUE(e.splits.empty());
}
