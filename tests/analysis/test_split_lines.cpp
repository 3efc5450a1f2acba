// Split lines placed by the user cut the laps into sectors in driving order.
#include <gtest/gtest.h>

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
