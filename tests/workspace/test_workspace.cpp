// The workspace under the window: what a user does to the lines and laps,
// each command leaving the snapshots already handed out as they were.
#include <gtest/gtest.h>

#include <cmath>

#include "formats/start_finish.h"
#include "sessiongen/session_gen.h"
#include "test_util.h"
#include "workspace/workspace.h"

using namespace lorvane;
using lorvane::test::TempDir;

namespace {

// A point of the loaded log's track `share` of the way through lap `lap`.
LocalPoint alongLap(const LoadedLog& log, std::int32_t lap, double share) {
    const Lap& l = *log.lap(lap);
    for (const TrackSample& t : log.track->samples)
        if (t.sample >= l.startSample + static_cast<std::int32_t>(share * (l.endSample - l.startSample)))
            return LocalPoint{t.east, t.north};
    return {};
}

} // namespace

TEST(Workspace, LinesPlacedOnTheMapCutSectorsAndSaveBesideTheGxr) {
    gen::Options o;
    o.seed = 71;
    o.laps = 4;
    const gen::Session g = gen::generate(o);
    TempDir dir;
    gen::writeSession(g, dir.file("s"));
    Session session;
    session.setKeepTrack(true);
    Workspace ws(session);
    EXPECT_FALSE(ws.snapshot().logLoadsEnabled);
    ASSERT_TRUE(ws.loadStartFinish(dir.file("s.gxr")).ok);
    EXPECT_TRUE(ws.snapshot().logLoadsEnabled);
    const Snapshot& loaded = ws.loadLogNow(LogKind::Text, dir.file("s.zlg"));
    ASSERT_NE(loaded.log(), nullptr);
    const auto before = ws.shared();
    const std::size_t laps = before->log()->laps.size();
    ASSERT_EQ(laps, static_cast<std::size_t>(g.expectedLaps));
    EXPECT_EQ(before->selectedLap, before->log()->bestLap);
    ASSERT_NE(before->selected, nullptr);
    EXPECT_TRUE(before->view->analysis.splits.empty()); // equal-distance sectors

    // A lap chosen stays chosen when lines are placed.
    const std::int32_t chosen = before->log()->bestLap == 1 ? 2 : 1;
    ws.selectLap(chosen);
    ws.compareWith(before->log()->bestLap);

    // Two split lines: three sectors, cut at them, summing to each lap.
    const LoadedLog& log = *before->log();
    ws.placeLine(LineKind::Split, alongLap(log, chosen, 0.3));
    const Snapshot& split = ws.placeLine(LineKind::Split, alongLap(log, chosen, 0.7));
    EXPECT_TRUE(split.linesUnsaved);
    EXPECT_EQ(split.selectedLap, chosen);
    ASSERT_EQ(split.startFinish.splits.size(), 2u);
    ASSERT_EQ(split.view->analysis.splits.size(), 2u);
    ASSERT_EQ(split.view->analysis.sectorCount, 3);
    EXPECT_EQ(split.view->gateHandles.size(), 3u); // the start line and two splits
    for (const LapSummary& l : split.view->analysis.laps) {
        double sum = 0;
        for (const auto& s : l.sectors) sum += s.value_or(NAN);
        EXPECT_NEAR(sum, l.time, 0.002) << "lap " << l.lap;
    }
    // What was handed out before is what it was.
    EXPECT_TRUE(before->startFinish.splits.empty());
    EXPECT_EQ(before->view->analysis.sectorCount, kDefaultSectors);

    // A finish line, and its removal: the rules before it come back.
    GateRules forward;
    forward.direction = GateDirection::Forward;
    ws.setRules(forward);
    ws.placeLine(LineKind::Finish, alongLap(log, chosen, 0.5));
    ws.setRules(GateRules{});
    const Snapshot& removed = ws.removeFinishLine();
    EXPECT_FALSE(removed.startFinish.gates.hasFinishLine);
    EXPECT_EQ(removed.rules.direction, GateDirection::Forward);
    EXPECT_EQ(removed.log()->laps.size(), laps);

    // Saved: the .gxr is the text a reference file copies; the split lines
    // sit beside it and come back with it.
    const std::string saved = ws.saveStartFinishFile(dir.file("saved"));
    EXPECT_EQ(saved, dir.file("saved.gxr"));
    EXPECT_FALSE(ws.snapshot().linesUnsaved);
    EXPECT_EQ(readWholeFile(saved), ws.snapshot().startFinish.text);
    Session again;
    Workspace other(again);
    ASSERT_TRUE(other.loadStartFinish(saved).ok);
    EXPECT_EQ(other.snapshot().startFinish.splits.size(), 2u);

    // Laps > Remove split line.
    const Snapshot& one = ws.removeSplitLine(0);
    ASSERT_EQ(one.startFinish.splits.size(), 1u);
    EXPECT_EQ(one.view->analysis.sectorCount, 2);
    EXPECT_TRUE(one.linesUnsaved);

    // Before a log is loaded, a click places nothing and says why.
    EXPECT_THROW(other.placeLine(LineKind::Start, LocalPoint{0, 0}), LoadError);
}

TEST(Workspace, AnOpenedReferenceFileIsWhatEveryLapIsComparedWith) {
    gen::Options o;
    o.seed = 72;
    o.laps = 4;
    const gen::Session g = gen::generate(o);
    TempDir dir;
    gen::writeSession(g, dir.file("s"));
    Session session;
    session.setKeepTrack(true);
    Workspace ws(session);
    ASSERT_TRUE(ws.loadStartFinish(dir.file("s.gxr")).ok);
    const LoadedLog& log = *ws.loadLogNow(LogKind::Text, dir.file("s.zlg")).log();
    const std::int32_t best = log.bestLap;
    ASSERT_GT(best, 0);
    ws.saveLapRefFile(log, pickLap(log, best), dir.file("LAP.REF"), false);

    const Snapshot& s = ws.openReferenceFile(dir.file("LAP.REF"));
    ASSERT_NE(s.referenceFile, nullptr);
    EXPECT_NEAR(s.referenceTime, log.bestLapTime, 0.001);
    // Laid out in the log's plane: it starts where the best lap starts.
    ASSERT_NE(s.selected, nullptr);
    EXPECT_EQ(s.selected->lap, best);
    EXPECT_NEAR(s.referenceFile->points.front().east, s.selected->points.front().east, 1.0);
    EXPECT_NEAR(s.referenceFile->points.front().north, s.selected->points.front().north, 1.0);
    EXPECT_NEAR(s.referenceFile->points.back().time, s.referenceTime, 1e-9);

    // It stays open across a re-cut of the same circuit, and closes.
    EXPECT_NE(ws.setRules(GateRules{}).referenceFile, nullptr);
    EXPECT_EQ(ws.closeReferenceFile().referenceFile, nullptr);
    // A file that is not a reference file is refused and changes nothing.
    EXPECT_THROW(ws.openReferenceFile(dir.file("s.gxr")), LoadError);
    EXPECT_EQ(ws.snapshot().referenceFile, nullptr);
}

// A lap of another stored session of the circuit: laid out in the loaded
// log's plane as the lap every lap is compared with, or as the compared lap.
TEST(Workspace, AStoredLapOfAnotherSessionIsComparedInThisLogsPlane) {
    TempDir dir;
    // One circuit (the seed lays it out), two sessions of it.
    for (const auto& [stem, laps] : {std::pair{"a", 3}, std::pair{"b", 4}}) {
        gen::Options o;
        o.seed = 81;
        o.laps = laps;
        gen::writeSession(gen::generate(o), dir.file(stem));
    }
    const std::string db = dir.file("circuits.db");
    {
        Circuit c;
        c.name = "Ring";
        c.start = readStartFinishFile(dir.file("a.gxr")).start;
        c.rules.direction = GateDirection::Forward;
        CircuitDb::open(db).addCircuit(c);
    }
    SessionLibrary lib = SessionLibrary::open(db);
    lib.add(std::vector<std::string>{dir.file("b.zlg")});
    ASSERT_EQ(lib.sessions().size(), 1u);
    const std::vector stored{*lib.session(lib.sessions()[0].id)};
    ASSERT_TRUE(stored[0].bestLap);

    Session session;
    session.setKeepTrack(true);
    Workspace ws(session);
    ws.setCircuitDbPath(db);
    ws.useStoredSession(stored[0]); // its circuit's lines and rules, for another log of it
    EXPECT_EQ(ws.snapshot().rules.direction, GateDirection::Forward);
    ASSERT_NE(ws.loadLogNow(LogKind::Text, dir.file("a.zlg")).log(), nullptr);
    const Snapshot& s = ws.useStoredLap(stored[0], *stored[0].bestLap, false);
    ASSERT_NE(s.referenceFile, nullptr);
    EXPECT_NEAR(s.referenceTime, *stored[0].bestTime, 1e-9);
    EXPECT_FALSE(s.referenceIsCompared);
    // It starts at this log's start line: within a metre of its own laps' start.
    ASSERT_NE(s.selected, nullptr);
    EXPECT_NEAR(s.referenceFile->points.front().east, s.selected->points.front().east, 1.0);
    EXPECT_NEAR(s.referenceFile->points.front().north, s.selected->points.front().north, 1.0);
    EXPECT_TRUE(ws.useStoredLap(stored[0], 1, true).referenceIsCompared);
    // The same lap from its file (gone from the library's database) lies
    // where the stored path does, within the path's float precision.
    const auto fromLibrary = ws.useStoredLap(stored[0], 2, false).referenceFile;
    Workspace elsewhere(session);
    elsewhere.setCircuitDbPath(dir.file("other.db"));
    const auto fromFile = elsewhere.useStoredLap(stored[0], 2, false).referenceFile;
    ASSERT_TRUE(fromLibrary && fromFile);
    EXPECT_NEAR(fromLibrary->points.back().time, fromFile->points.back().time, 1e-4);
    EXPECT_NEAR(fromLibrary->points.back().east, fromFile->points.back().east, 0.01);
    EXPECT_NEAR(fromLibrary->distance, fromFile->distance, 0.01);
    EXPECT_LT(fromLibrary->points.size(), fromFile->points.size() + 1);

    // Its reference file is what `ref` writes on its log.
    writeStoredLapRefFile(stored[0], 0, dir.file("stored.ref"), false);
    const auto log = loadStoredSession(stored[0]);
    saveLapRefFile(*log, pickLap(*log, log->bestLap), dir.file("direct.ref"), false);
    EXPECT_EQ(readWholeFile(dir.file("stored.ref")), readWholeFile(dir.file("direct.ref")));
}
