// Reference files read back: what they were written from, in any plane, and
// the lines that do not read.
#include <gtest/gtest.h>

#include <cmath>

#include "analysis/lap_analysis.h"
#include "analysis/lap_delta.h"
#include "formats/numbers.h"
#include "reference/reference_file.h"
#include "reference/reference_read.h"
#include "session/session.h"
#include "test_util.h"

using namespace lorvane;

namespace {

const std::string kSamples = LORVANE_SAMPLES;
const std::string kGolden = std::string(LORVANE_TEST_DATA) + "/golden";

std::unique_ptr<Session> demo(LogKind kind) {
    auto s = std::make_unique<Session>();
    EXPECT_TRUE(s->loadStartFinish(kSamples + "/demo.gxr").ok);
    s->setKeepTrack(true);
    SessionObserver quiet;
    EXPECT_TRUE(s->loadLog(kind, kSamples + (kind == LogKind::Text ? "/demo.zlg" : "/demo.wmx"), quiet).ok);
    return s;
}

// Metres between two positions in minutes.
double apart(double lat1, double lon1, double lat2, double lon2) {
    const LocalPlane p{lat1, lon1, calcLongScale(lat1, lon1)};
    const LocalPoint q = p.toLocal(lat2, lon2);
    return std::hypot(q.east, q.north);
}

bool sameGates(const StartFinish& a, const StartFinish& b) {
    auto same = [](const Gate& x, const Gate& y) {
        return x.lat1 == y.lat1 && x.long1 == y.long1 && x.lat2 == y.lat2 && x.long2 == y.long2;
    };
    return same(a.start, b.start) && same(a.finish, b.finish) && a.hasFinishLine == b.hasFinishLine;
}

// `written` read back from `text`: the lap time to the millisecond, each point
// within 2 cm (the base point is written to 1/100000 of a minute) and at its
// time since the opening crossing, the last at the lap time.
void expectReadsBack(const std::string& text, const ReferenceInput& written, const std::string& what) {
    SCOPED_TRACE(what);
    const ReferenceFileData r = parseReferenceFile(text, what);
    EXPECT_NEAR(r.lapTime, written.lapTime, 0.001);
    EXPECT_LE(r.lapTime, written.lapTime);
    EXPECT_EQ(r.fixedReference, written.fixedReference);
    EXPECT_EQ(splitLines(r.startFinishText), splitLines(written.startFinishText));
    EXPECT_TRUE(sameGates(r.gates, parseStartFinish(written.startFinishText, what)));
    EXPECT_LT(apart(r.baseLat, r.baseLong, written.baseLat, written.baseLong), 0.02);
    ASSERT_EQ(r.points.size(), written.points.size());
    for (std::size_t i = 0; i < r.points.size(); ++i) {
        const GeoPoint& w = written.points[i];
        ASSERT_LT(apart(r.points[i].lat, r.points[i].lon, w.lat, w.lon), 0.02) << "point " << i;
        const double time = i + 1 < r.points.size() ? w.elapsed + written.openingOffset : written.lapTime;
        ASSERT_NEAR(r.points[i].time, time, 0.001) << "point " << i;
    }
}

} // namespace

TEST(ReferenceRead, GivesBackTheLapTimeAndPointsItWasWrittenFrom) {
    // The golden files, from the demo session's laps they were made of.
    for (const auto& [kind, lapNo, fixed, file] : {std::tuple{LogKind::Text, 3, false, "demo_zlg_lap3.REF"},
                                                   std::tuple{LogKind::Binary, 0, true, "demo_wmx_best_fixed.REF"}}) {
        auto s = demo(kind);
        const std::int32_t n = lapNo ? lapNo : s->bestLap();
        const auto log = s->loaded();
        const Lap& lap = log->laps[static_cast<std::size_t>(n) - 1];
        ReferenceInput in;
        in.startFinishText = log->startFinish.text;
        in.baseLat = log->plane.baseLat;
        in.baseLong = log->plane.baseLong;
        in.lapTime = lap.time;
        in.openingOffset = log->crossings[static_cast<std::size_t>(lap.openingCrossing)].offset;
        in.fixedReference = fixed;
        in.points = s->pickLap(n).points;
        expectReadsBack(test::readFile(kGolden + "/" + file), in, file);
    }

    // One written here, south and west of the equator and Greenwich, with a
    // comment line, LF line ends and a separate finish line.
    ReferenceInput in;
    in.startFinishText = "A hand-made circuit\n[Start finish]\n-847009800 -203001200 -847009900 -203001300\n"
                         "[Finish]\n-847012000 -203003000 -847012100 -203003100\n";
    in.baseLat = -2030.0123456;
    in.baseLong = -8470.0987654;
    in.lapTime = 61.2345;
    in.openingOffset = 0.042;
    for (int i = 0; i <= 62; ++i) {
        const double a = i * 0.1, r = 300.0 / kMetresPerMinute;
        in.points.push_back(GeoPoint{in.baseLat + r * std::sin(a), in.baseLong + r * std::cos(a) / 0.9, i * 1.0});
    }
    in.points.push_back(in.points.back());
    expectReadsBack(composeReferenceFile(in), in, "written.REF");
}

// The lap a file was made of, compared with the file: nothing lost or gained
// beyond what thinning to one point a second costs, and the delta at the
// finish is the lap time the file rounds off. A plane of another log places
// the file's points where they are.
TEST(ReferenceRead, TraceLandsInAnyPlane) {
    auto s = demo(LogKind::Text);
    const ReferenceFileData ref = readReferenceFile(kGolden + "/demo_zlg_lap3.REF");
    const auto log = s->loaded();
    const LapTrace own = traceLapNumber(*log->track, log->laps, log->crossings, 3);
    const LapTrace trace = referenceTrace(ref, s->plane());
    ASSERT_EQ(trace.points.size(), ref.points.size() + 1); // opening point; the sample past the line left out
    EXPECT_EQ(trace.points.front().time, 0);
    EXPECT_EQ(trace.points.back().time, ref.lapTime);
    EXPECT_NEAR(trace.distance, own.distance, own.distance * 0.01);
    // The crossing points lie on the start/finish line, within a metre of the lap's own.
    for (const auto& [t, o] :
         {std::pair{trace.points.front(), own.points.front()}, std::pair{trace.points.back(), own.points.back()}})
        EXPECT_LT(std::hypot(t.east - o.east, t.north - o.north), 1.0);
    const auto e = deltaExtremes(own, trace);
    ASSERT_TRUE(e);
    EXPECT_NEAR(e->finish, own.time - ref.lapTime, 1e-12);
    EXPECT_LT(e->finish, 0.001);
    EXPECT_LT(e->highest.delta, 0.15);
    EXPECT_GT(e->lowest.delta, -0.15);

    // Another log's base point, 3 km away: the same positions.
    LocalPlane other{s->plane().baseLat + 1.2, s->plane().baseLong - 1.7, 0};
    other.longScale = calcLongScale(other.baseLat, other.baseLong);
    const LapTrace there = referenceTrace(ref, other);
    ASSERT_EQ(there.points.size(), trace.points.size());
    for (std::size_t i = 1; i + 1 < there.points.size(); ++i) {
        const LocalPoint q = other.toLocal(ref.points[i - 1].lat, ref.points[i - 1].lon);
        ASSERT_NEAR(there.points[i].east, q.east, 1e-6);
        ASSERT_NEAR(there.points[i].north, q.north, 1e-6);
    }
    EXPECT_NEAR(there.distance, trace.distance, trace.distance * 1e-3);
}

TEST(ReferenceRead, NamesTheLineThatDoesNotRead) {
    const std::string good = test::readFile(kGolden + "/demo_zlg_lap3.REF");
    auto replaced = [&](const std::string& from, const std::string& to) {
        std::string t = good;
        const auto at = t.find(from);
        EXPECT_NE(at, std::string::npos) << from;
        return t.replace(at, from.size(), to);
    };
    const std::int64_t lines = static_cast<std::int64_t>(splitLines(good).size());
    const std::pair<std::string, std::int64_t> cases[] = {
        {replaced("NumPoints 69", "NumPoints 2000000000"), lines}, // a count never trusted
        {replaced("NumPoints 69", "NumPoints 68"), lines},         // one point too many
        {replaced("68.496 -324.483 1033", "68.496 -324,483 1033"), 17},
        {replaced("68.496 -324.483 1033", "68.496 -324.483"), 17},
        {replaced("-3283898 318918466 0.599674", "-3283898 318918466 0"), 9},
        {replaced("[Info]", "[Inf0]"), 11},
        {replaced("FixedReference false", "FixedReference maybe"), 13},
        {replaced("Time 67866", "Time -5"), 12},
        {good.substr(0, good.find("[Points]")), 14},
        {replaced("[BasePoint]", "[Base]"), lines},
        {replaced("[Finish]", "[Finnish]"), 0},
    };
    for (const auto& [text, line] : cases) {
        try {
            parseReferenceFile(text, "LAP.REF");
            ADD_FAILURE() << "read: line " << line;
        } catch (const LoadError& e) {
            EXPECT_EQ(e.diagnostic().file, "LAP.REF");
            EXPECT_EQ(e.diagnostic().line, line) << e.diagnostic().message;
        }
    }
}
