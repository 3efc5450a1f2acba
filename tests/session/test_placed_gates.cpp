// Start/finish definitions that are not files: gates from the database or
// placed on the map cut the same laps a saved copy of them cuts, and the
// reference files made from those laps carry their text.
#include <gtest/gtest.h>

#include <cmath>

#include "reference/reference_file.h"
#include "session/session.h"
#include "sessiongen/session_gen.h"
#include "test_util.h"
#include "track/gate_lines.h"

using namespace lorvane;
using lorvane::test::TempDir;

namespace {

struct Loaded {
    gen::Session g;
    TempDir dir;
    Session s;
};

std::unique_ptr<Loaded> load(std::uint64_t seed, int laps, bool finish) {
    auto l = std::make_unique<Loaded>();
    gen::Options o;
    o.seed = seed;
    o.laps = laps;
    o.finishGate = finish;
    l->g = gen::generate(o);
    gen::writeSession(l->g, l->dir.file("s"));
    l->s.setKeepTrack(true);
    EXPECT_TRUE(l->s.loadStartFinish(l->dir.file("s.gxr")).ok);
    SessionObserver quiet;
    EXPECT_TRUE(l->s.loadLog(LogKind::Text, l->dir.file("s.zlg"), quiet).ok);
    return l;
}

void expectSameLaps(const LoadedLog& a, const LoadedLog& b) {
    ASSERT_EQ(a.laps.size(), b.laps.size());
    ASSERT_EQ(a.crossings.size(), b.crossings.size());
    for (std::size_t i = 0; i < a.crossings.size(); ++i) {
        EXPECT_EQ(a.crossings[i].sample, b.crossings[i].sample);
        EXPECT_EQ(a.crossings[i].offset, b.crossings[i].offset);
    }
    for (std::size_t i = 0; i < a.laps.size(); ++i) EXPECT_EQ(a.laps[i].line, b.laps[i].line);
}

} // namespace

TEST(PlacedGates, GatesWithoutAFileCutTheFilesLapsAndSaveToTheSameLaps) {
    for (bool finish : {false, true}) {
        SCOPED_TRACE(finish ? "with a finish line" : "start/finish only");
        auto l = load(61, 3, finish);
        const auto fromFile = l->s.loaded();
        ASSERT_EQ(fromFile->laps.size(), static_cast<std::size_t>(l->g.expectedLaps));
        ASSERT_GE(fromFile->laps.size(), 2u);

        // The same gates, as the database hands them over.
        l->s.setStartFinish(StartFinishFile{l->s.gates(), "Demo circuit", "", {}});
        EXPECT_TRUE(l->s.hasStartFinish());
        EXPECT_EQ(l->s.gxrFileName(), "Demo circuit");
        EXPECT_EQ(l->s.startFinish().text, composeStartFinishText(l->s.gates()));
        l->s.recutLoaded();
        const auto fromGates = l->s.loaded();
        expectSameLaps(*fromFile, *fromGates);

        // A reference file made now carries the composed text; saved as a
        // .gxr and loaded back, that text cuts the same laps and gives the
        // same reference file.
        const ReferenceLap ref = pickLap(*fromGates, 2);
        const std::string refText = composeLapRefFile(*fromGates, ref, false);
        EXPECT_EQ(refText.rfind(fromGates->startFinish.text, 0), 0u);
        writeFileAtomically(l->dir.file("saved.gxr"), fromGates->startFinish.text);
        ASSERT_TRUE(l->s.loadStartFinish(l->dir.file("saved.gxr")).ok);
        l->s.recutLoaded();
        expectSameLaps(*fromGates, *l->s.loaded());
        EXPECT_EQ(composeLapRefFile(*l->s.loaded(), ref, false), refText);
    }
}

TEST(PlacedGates, GatesOffTheHundredThousandthAreRoundedAsASavedFileWouldBe) {
    StartFinish sf;
    sf.start = Gate{3189.0123456789, -32.7654321, 3189.0129, -32.7651};
    const StartFinishFile f = startFinishFromGates(sf, "placed");
    EXPECT_EQ(f.gates.start.lat1, 318901235 / 100000.0);
    EXPECT_EQ(f.gates.start.long1, -3276543 / 100000.0);
    EXPECT_FALSE(f.gates.hasFinishLine);
    EXPECT_EQ(f.gates.start.lat1, parseStartFinish(f.text, "x").start.lat1);
}

TEST(PlacedGates, ABadDefinitionChangesNothing) {
    auto l = load(62, 2, false);
    const StartFinishFile before = l->s.startFinish();
    EXPECT_THROW(l->s.setStartFinish(StartFinishFile{l->s.gates(), "", "", {}}), LoadError);
    StartFinish far;
    far.start = Gate{1e300, 0, 0, 0};
    EXPECT_THROW(l->s.setStartFinish(StartFinishFile{far, "far", "", {}}), LoadError);
    EXPECT_EQ(l->s.startFinish().path, before.path);
    EXPECT_EQ(l->s.startFinish().text, before.text);
}

// A gate placed by clicking the track at the start line: point 2 lies ahead
// in the direction of travel, so "forward" keeps every lap and "reverse"
// keeps none.
TEST(PlacedGates, AGatePlacedOnTheTrackPointsAlongTheDirectionOfTravel) {
    auto l = load(63, 4, false);
    const auto log = l->s.loaded();
    ASSERT_TRUE(log->track);
    const Track& track = *log->track;
    const LocalPoint start = log->plane.toLocal(l->s.gates().start.lat1, l->s.gates().start.long1);
    const auto near = track::nearestTrackSample(track, start);
    ASSERT_TRUE(near);
    const auto gate = track::gateAtTrackPoint(track, *near, log->plane);
    ASSERT_TRUE(gate);
    const LocalPoint p1 = log->plane.toLocal(gate->lat1, gate->long1);
    const LocalPoint p2 = log->plane.toLocal(gate->lat2, gate->long2);
    EXPECT_NEAR(std::hypot(p2.east - p1.east, p2.north - p1.north), track::kPlacedGateAhead, 1e-6);
    EXPECT_NEAR(p1.east, track.samples[*near].east, 1e-6);
    EXPECT_NEAR(p1.north, track.samples[*near].north, 1e-6);
    // The direction of travel there.
    const TrackSample& a = track.samples[*near];
    const TrackSample& b = track.samples[*near + 3];
    EXPECT_GT((p2.east - p1.east) * (b.east - a.east) + (p2.north - p1.north) * (b.north - a.north), 0);

    StartFinish placed;
    placed.start = *gate;
    l->s.setStartFinish(startFinishFromGates(placed, "placed on the map"));
    l->s.setGateRules(GateRules{GateDirection::Forward, {}, 0});
    l->s.recutLoaded();
    ASSERT_EQ(l->s.laps().size(), static_cast<std::size_t>(l->g.expectedLaps));
    l->s.setGateRules(GateRules{GateDirection::Reverse, {}, 0});
    l->s.recutLoaded();
    EXPECT_TRUE(l->s.laps().empty());

    // At the last sample the direction comes from the way the car arrived.
    const auto last = track::gateAtTrackPoint(track, track.samples.size() - 1, log->plane);
    ASSERT_TRUE(last);
    EXPECT_FALSE(track::gateAtTrackPoint(track, track.samples.size(), log->plane));
    EXPECT_FALSE(track::nearestTrackSample(Track{}, start));
}
