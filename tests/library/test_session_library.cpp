// The session library: logs added once, found again when unchanged, read
// again when changed, followed when moved; the laps it stores are those a
// load with the circuit in force gives.
#include <gtest/gtest.h>

#include <sqlite3.h>

#include <filesystem>
#include <fstream>

#include "circuits/circuit_db.h"
#include "library/session_library.h"
#include "session/session.h"
#include "sessiongen/session_gen.h"
#include "test_util.h"

using namespace lorvane;
using lorvane::test::TempDir;

namespace fs = std::filesystem;

namespace {

gen::Session generated(std::uint64_t seed, int laps, double lat, double lon) {
    gen::Options o;
    o.seed = seed;
    o.laps = laps;
    o.centreLat = lat;
    o.centreLon = lon;
    return gen::generate(o);
}

Circuit circuitOf(const std::string& name, const std::string& gxrPath) {
    const StartFinish sf = readStartFinishFile(gxrPath);
    Circuit c;
    c.name = name;
    c.start = sf.start;
    if (sf.hasFinishLine) c.finish = sf.finish;
    return c;
}

std::vector<AddOutcome> outcomes(const std::vector<AddResult>& rs) {
    std::vector<AddOutcome> v;
    for (const AddResult& r : rs) v.push_back(r.outcome);
    return v;
}

// The laps a load of `log` with `gxr` in force gives.
std::vector<double> lapTimes(LogKind kind, const std::string& log, const std::string& gxr) {
    Session s;
    EXPECT_TRUE(s.loadStartFinish(gxr).ok);
    SessionObserver quiet;
    EXPECT_TRUE(s.loadLog(kind, log, quiet).ok);
    std::vector<double> v;
    for (const Lap& l : s.laps()) v.push_back(l.time);
    return v;
}

std::vector<double> storedTimes(const SessionLibrary& lib, std::int64_t id) {
    std::vector<double> v;
    for (const StoredLap& l : lib.laps(id)) v.push_back(l.time);
    return v;
}

} // namespace

TEST(SessionLibrary, AddsOnceFindsChangedAndMovedFilesAndListsTheRefused) {
    TempDir t;
    const std::string logs = t.file("logs");
    fs::create_directories(logs + "/day2");
    gen::writeSession(generated(11, 4, 52.07, -1.01), t.file("a"));
    gen::writeSession(generated(12, 3, 45.61, 9.28), t.file("b"));
    gen::writeSession(generated(11, 5, 52.07, -1.01), t.file("a2")); // the same circuit, a lap more
    fs::copy_file(t.file("a.zlg"), logs + "/a.zlg");
    fs::copy_file(t.file("b.wmx"), logs + "/day2/b.wmx");
    t.write("logs/broken.zlg", "[header]\nnot a log\n");
    t.write("logs/readme.md", "not looked at: no log extension\n");
    {
        CircuitDb db = CircuitDb::open(t.file("c.db"));
        db.addCircuit(circuitOf("Alpha", t.file("a.gxr")));
        db.addCircuit(circuitOf("Bravo", t.file("b.gxr")));
    }
    SessionLibrary lib = SessionLibrary::open(t.file("c.db"));
    AddOptions opts;
    opts.jobs = 3;
    const std::vector<std::string> paths = {logs, t.file("missing.zlg")};
    auto r = lib.add(paths, opts);
    ASSERT_EQ(r.size(), 4u);
    EXPECT_EQ(r[0].path, logs + "/a.zlg");
    EXPECT_EQ(r[1].path, logs + "/broken.zlg");
    EXPECT_EQ(r[2].path, logs + "/day2/b.wmx");
    EXPECT_EQ(outcomes(r),
              (std::vector{AddOutcome::Added, AddOutcome::Refused, AddOutcome::Added, AddOutcome::Refused}));
    EXPECT_FALSE(r[1].reason.empty());
    EXPECT_EQ(r[3].reason, "File not found");
    const std::int64_t a = r[0].sessionId, b = r[2].sessionId;

    // What is stored is what the log gives with its circuit in force.
    auto sa = lib.session(a), sb = lib.session(b);
    ASSERT_TRUE(sa && sb);
    EXPECT_EQ(sa->circuit, "Alpha");
    EXPECT_EQ(sb->circuit, "Bravo");
    EXPECT_EQ(sb->kind, LogKind::Binary);
    EXPECT_EQ(sa->hash, fileContentHash(logs + "/a.zlg"));
    EXPECT_EQ(storedTimes(lib, a), lapTimes(LogKind::Text, logs + "/a.zlg", t.file("a.gxr")));
    EXPECT_EQ(storedTimes(lib, b), lapTimes(LogKind::Binary, logs + "/day2/b.wmx", t.file("b.gxr")));
    EXPECT_EQ(sa->lapCount, 4);
    ASSERT_TRUE(sa->bestLap && sa->bestTime && sa->theoreticalBest);
    EXPECT_EQ(lib.laps(a)[static_cast<std::size_t>(*sa->bestLap - 1)].time, *sa->bestTime);
    EXPECT_LE(*sa->theoreticalBest, *sa->bestTime);
    EXPECT_EQ(lib.laps(a).front().sectors.size(), static_cast<std::size_t>(sa->sectorCount));
    lib.setDriver(a, "Ayrton");
    lib.setNotes(a, "wet");
    EXPECT_THROW(lib.setVehicle(999, "x"), LoadError);

    // Again: nothing changes, even with the modification time alone touched.
    fs::last_write_time(logs + "/a.zlg", fs::last_write_time(logs + "/a.zlg") + std::chrono::seconds(5));
    r = lib.add(std::vector<std::string>{logs + "/a.zlg", logs + "/day2/b.wmx"});
    EXPECT_EQ(outcomes(r), (std::vector{AddOutcome::Unchanged, AddOutcome::Unchanged}));
    EXPECT_EQ(r[0].sessionId, a);

    // Another drive written over the file: read again, the same session with the user's notes.
    fs::copy_file(t.file("a2.zlg"), logs + "/a.zlg", fs::copy_options::overwrite_existing);
    r = lib.add(std::vector<std::string>{logs + "/a.zlg"});
    EXPECT_EQ(outcomes(r), std::vector{AddOutcome::Updated});
    EXPECT_EQ(r[0].sessionId, a);
    sa = lib.session(a);
    EXPECT_EQ(sa->lapCount, 5);
    EXPECT_EQ(sa->driver, "Ayrton");
    EXPECT_EQ(sa->notes, "wet");
    EXPECT_EQ(storedTimes(lib, a), lapTimes(LogKind::Text, logs + "/a.zlg", t.file("a2.gxr")));

    // Moved: found by its content, the path follows. A copy beside its
    // original is a session of its own.
    fs::rename(logs + "/day2/b.wmx", logs + "/b-moved.wmx");
    fs::copy_file(logs + "/a.zlg", logs + "/a-copy.zlg");
    r = lib.add(std::vector<std::string>{logs + "/b-moved.wmx", logs + "/a-copy.zlg"});
    EXPECT_EQ(outcomes(r), (std::vector{AddOutcome::Updated, AddOutcome::Added}));
    EXPECT_EQ(r[0].sessionId, b);
    EXPECT_EQ(lib.session(b)->path, fs::canonical(logs + "/b-moved.wmx").string());
    EXPECT_NE(r[1].sessionId, a);

    EXPECT_EQ(lib.sessions().size(), 3u);
    EXPECT_EQ(lib.sessions("alpha").size(), 2u);
    const auto best = lib.bestLaps("ALPHA", 3);
    ASSERT_EQ(best.size(), 3u);
    EXPECT_LE(best[0].time, best[1].time);
    EXPECT_EQ(best[0].time, *sa->bestTime); // the copy's laps tie with the original's: lower id first
    EXPECT_EQ(best[0].session, a);
    EXPECT_EQ(best[1].time, best[0].time);
}

// Two kart sessions at Orlando Kart Center, NMEA as recorded: the circuit is
// found in the database, one lap per lap driven (forward, a 10 m gate), and
// the fastest laps over both sessions come from the quicker one.
TEST(SessionLibrary, RealKartSessionsAtOneCircuit) {
    LORVANE_REQUIRE_REALDATA(four, "okc-kart-4laps/okc_kart_2023-06-04_4laps.nmea");
    LORVANE_REQUIRE_REALDATA(rental, "okc-kart-rental-3laps/okc_kart_2023-04-29_rental.nmea");
    TempDir t;
    {
        CircuitDb db = CircuitDb::open(t.file("c.db"));
        Circuit okc = circuitOf("Orlando Kart Center", std::string(LORVANE_TEST_DATA) + "/realdata/okc.gxr");
        okc.rules.direction = GateDirection::Forward;
        okc.rules.gateWidth = 10;
        db.addCircuit(okc);
    }
    SessionLibrary lib = SessionLibrary::open(t.file("c.db"));
    const auto r = lib.add(std::vector<std::string>{fs::path(four).parent_path(), rental});
    ASSERT_EQ(outcomes(r), (std::vector{AddOutcome::Added, AddOutcome::Added})) << r[0].reason;
    const auto s = lib.sessions("Orlando Kart Center");
    ASSERT_EQ(s.size(), 2u);
    const std::vector<std::vector<double>> want = {{58.857, 56.791, 56.797, 56.172}, {69.961, 68.742, 70.148}};
    for (std::size_t k = 0; k < 2; ++k) {
        const auto laps = lib.laps(r[k].sessionId);
        ASSERT_EQ(laps.size(), want[k].size());
        for (std::size_t i = 0; i < laps.size(); ++i) {
            EXPECT_NEAR(laps[i].time, want[k][i], 0.01);
            EXPECT_TRUE(laps[i].traced);
            EXPECT_GT(*laps[i].maxSpeed, 50); // km/h: a kart at speed
        }
    }
    EXPECT_EQ(lib.session(r[1].sessionId)->bestLap, 2);
    const auto best = lib.bestLaps("orlando kart center", 5);
    ASSERT_EQ(best.size(), 5u);
    const std::vector<std::pair<std::int64_t, int>> order = {
        {r[0].sessionId, 4}, {r[0].sessionId, 2}, {r[0].sessionId, 3}, {r[0].sessionId, 1}, {r[1].sessionId, 2}};
    for (std::size_t i = 0; i < order.size(); ++i) {
        EXPECT_EQ(best[i].session, order[i].first) << i;
        EXPECT_EQ(best[i].lap, order[i].second) << i;
    }
}

// A database of the circuits alone (schema 1) gains the library's tables and
// keeps its circuits; a file the library cannot read is left as it was.
TEST(SessionLibrary, OlderDatabaseGainsTheLibraryAndKeepsItsCircuits) {
    TempDir t;
    const std::string path = t.file("old.db");
    {
        sqlite3* raw = nullptr;
        ASSERT_EQ(sqlite3_open(path.c_str(), &raw), SQLITE_OK);
        const char* v1 = R"sql(
        CREATE TABLE countries (id INTEGER PRIMARY KEY, name TEXT NOT NULL UNIQUE COLLATE NOCASE,
            min_lat REAL NOT NULL, min_long REAL NOT NULL, max_lat REAL NOT NULL, max_long REAL NOT NULL);
        CREATE TABLE circuits (id INTEGER PRIMARY KEY, name TEXT NOT NULL UNIQUE COLLATE NOCASE,
            country_id INTEGER REFERENCES countries(id) ON DELETE SET NULL,
            start_lat1 REAL NOT NULL, start_long1 REAL NOT NULL, start_lat2 REAL NOT NULL, start_long2 REAL NOT NULL,
            finish_lat1 REAL, finish_long1 REAL, finish_lat2 REAL, finish_long2 REAL,
            direction TEXT NOT NULL DEFAULT 'both', gate_width REAL, min_lap REAL NOT NULL DEFAULT 0,
            lap_distance REAL, notes TEXT NOT NULL DEFAULT '');
        CREATE INDEX circuits_by_start ON circuits (start_lat1, start_long1);
        CREATE TABLE splits (circuit_id INTEGER NOT NULL REFERENCES circuits(id) ON DELETE CASCADE,
            seq INTEGER NOT NULL, lat1 REAL NOT NULL, long1 REAL NOT NULL, lat2 REAL NOT NULL, long2 REAL NOT NULL,
            PRIMARY KEY (circuit_id, seq));
        INSERT INTO circuits (name, start_lat1, start_long1, start_lat2, start_long2, direction, gate_width)
            VALUES ('Old Ring', 3124.4, -60.5, 3124.41, -60.49, 'forward', 12);
        INSERT INTO splits VALUES (1, 0, 3124.5, -60.6, 3124.51, -60.59);
        PRAGMA application_id = 1280266838;
        PRAGMA user_version = 1;
        )sql";
        ASSERT_EQ(sqlite3_exec(raw, v1, nullptr, nullptr, nullptr), SQLITE_OK);
        sqlite3_close(raw);
    }
    {
        SessionLibrary lib = SessionLibrary::open(path);
        EXPECT_TRUE(lib.sessions().empty());
        const auto c = lib.circuits().findByName("old ring");
        ASSERT_TRUE(c);
        EXPECT_EQ(c->rules.direction, GateDirection::Forward);
        EXPECT_EQ(c->rules.gateWidth, 12.0);
        EXPECT_EQ(c->splits.size(), 1u);
        const gen::Session g = generated(5, 3, 52.07, -1.01);
        gen::writeSession(g, t.file("s"));
        EXPECT_EQ(outcomes(lib.add(std::vector<std::string>{t.file("s.zlg")})), std::vector{AddOutcome::Added});
        EXPECT_FALSE(lib.sessions().front().circuit); // no circuit there: kept without laps
        // Its circuit added later: the same file is looked up again, once.
        CircuitDb::open(path).addCircuit(circuitOf("New Ring", t.file("s.gxr")));
        const auto again = lib.add(std::vector<std::string>{t.file("s.zlg")});
        EXPECT_EQ(outcomes(again), std::vector{AddOutcome::Updated});
        EXPECT_EQ(lib.session(again[0].sessionId)->circuit, "New Ring");
        EXPECT_EQ(lib.session(again[0].sessionId)->lapCount, 3);
        EXPECT_EQ(outcomes(lib.add(std::vector<std::string>{t.file("s.zlg")})), std::vector{AddOutcome::Unchanged});
    }
    sqlite3* raw = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &raw), SQLITE_OK);
    sqlite3_stmt* s = nullptr;
    sqlite3_prepare_v2(raw, "SELECT (SELECT user_version FROM pragma_user_version), count(*) FROM sessions", -1, &s,
                       nullptr);
    ASSERT_EQ(sqlite3_step(s), SQLITE_ROW);
    EXPECT_EQ(sqlite3_column_int(s, 0), circuitDbSchemaVersion());
    EXPECT_EQ(sqlite3_column_int(s, 1), 1);
    sqlite3_finalize(s);
    sqlite3_close(raw);

    // Not a database of ours: refused by name, not a byte changed.
    const std::string other = t.write("other.db", std::string("SQLite format 3\0", 16) + std::string(1000, 'x'));
    const std::string before = test::readFile(other);
    try {
        SessionLibrary::open(other);
        FAIL() << "opened";
    } catch (const LoadError& e) {
        EXPECT_EQ(e.diagnostic().file, other);
    }
    EXPECT_EQ(test::readFile(other), before);
}
