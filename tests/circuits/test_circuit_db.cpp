// The circuit database: what it stores, what it refuses, and that a failure,
// another user of the file or a killed writer loses nothing already stored.
#include <gtest/gtest.h>

#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <thread>

#include "circuits/circuit_db.h"
#include "test_util.h"

using namespace lorvane;
using lorvane::test::TempDir;

namespace {

Gate gate(double lat, double lon) {
    return Gate{lat, lon, lat + 0.01, lon + 0.005};
}

Circuit circuit(std::string name, double lat = 3090, double lon = -60) {
    Circuit c;
    c.name = std::move(name);
    c.start = gate(lat, lon);
    return c;
}

std::vector<std::string> names(const std::vector<Circuit>& cs) {
    std::vector<std::string> out;
    for (const Circuit& c : cs) out.push_back(c.name);
    return out;
}

std::string openError(const std::string& path) {
    try {
        CircuitDb::open(path);
    } catch (const LoadError& e) {
        EXPECT_EQ(e.diagnostic().file, path);
        return e.diagnostic().message;
    }
    return "(opened)";
}

// Runs SQL on the file directly, as another program would.
void rawSql(const std::string& path, const std::string& sql) {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
    char* err = nullptr;
    int rc = sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &err);
    EXPECT_EQ(rc, SQLITE_OK) << (err ? err : "");
    sqlite3_free(err);
    sqlite3_close(db);
}

std::string gxrFor(const Gate& g) {
    StartFinish sf;
    sf.start = g;
    return composeStartFinishText(sf);
}

} // namespace

TEST(CircuitDbFile, CreatedOnFirstUseWithFoldersAndKeptAcrossOpens) {
    TempDir t;
    const std::string path = t.file("a/b/circuits.db");
    {
        CircuitDb db = CircuitDb::open(path);
        EXPECT_TRUE(db.circuits().empty());
        db.addCircuit(circuit("Home"));
    }
    ASSERT_TRUE(std::filesystem::exists(path));
    CircuitDb db = CircuitDb::open(path);
    EXPECT_EQ(names(db.circuits()), std::vector<std::string>{"Home"});

    sqlite3* raw = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &raw), SQLITE_OK);
    sqlite3_stmt* s = nullptr;
    sqlite3_prepare_v2(raw, "PRAGMA user_version", -1, &s, nullptr);
    ASSERT_EQ(sqlite3_step(s), SQLITE_ROW);
    EXPECT_EQ(sqlite3_column_int(s, 0), circuitDbSchemaVersion());
    sqlite3_finalize(s);
    sqlite3_close(raw);
}

TEST(CircuitDbFile, DefaultPathFollowsXdgDataHome) {
    const char* oldXdg = std::getenv("XDG_DATA_HOME");
    const char* oldHome = std::getenv("HOME");
    std::string keepXdg = oldXdg ? oldXdg : "", keepHome = oldHome ? oldHome : "";
    ::setenv("XDG_DATA_HOME", "/data/me", 1);
    EXPECT_EQ(defaultCircuitDbPath(), "/data/me/lorvane/circuits.db");
    ::setenv("XDG_DATA_HOME", "relative/is/ignored", 1);
    ::setenv("HOME", "/home/me", 1);
    EXPECT_EQ(defaultCircuitDbPath(), "/home/me/.local/share/lorvane/circuits.db");
    ::unsetenv("XDG_DATA_HOME");
    EXPECT_EQ(defaultCircuitDbPath(), "/home/me/.local/share/lorvane/circuits.db");
    if (oldXdg) ::setenv("XDG_DATA_HOME", keepXdg.c_str(), 1);
    if (oldHome) ::setenv("HOME", keepHome.c_str(), 1);
}

// Every refused file is named in the error and left byte for byte as it was.
TEST(CircuitDbFile, RefusesFilesItCannotUseAndLeavesThemAlone) {
    TempDir t;
    // A good database to damage.
    const std::string good = t.file("good.db");
    {
        CircuitDb db = CircuitDb::open(good);
        std::vector<Circuit> many;
        for (int i = 0; i < 400; ++i) {
            Circuit c = circuit("Circuit number " + std::to_string(i), 3000 + i, -60);
            c.notes = std::string(200, 'n');
            many.push_back(c);
        }
        db.addCircuits(many);
    }
    const std::string goodBytes = test::readFile(good);
    ASSERT_GT(goodBytes.size(), 40000u);

    struct Case {
        std::string name, bytes, expect;
    };
    std::mt19937 rng(7);
    std::string garbage(8192, '\0');
    for (char& c : garbage) c = static_cast<char>(rng());
    std::string headerThenGarbage = goodBytes.substr(0, 100) + garbage;
    std::string pagesScrambled = goodBytes;
    for (std::size_t i = 4096; i < pagesScrambled.size(); i += 3) pagesScrambled[i] = static_cast<char>(rng());
    const Case cases[] = {
        {"garbage.db", garbage, "not an SQLite file"},
        {"text.db", "[Start finish]\r\n1 2 3 4\r\n", "not an SQLite file"},
        {"tiny.db", goodBytes.substr(0, 200), "damaged"},
        {"truncated.db", goodBytes.substr(0, goodBytes.size() / 2), "damaged"},
        {"header-only.db", headerThenGarbage, "damaged"},
        {"scrambled.db", pagesScrambled, "damaged"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string p = t.write(c.name, c.bytes);
        EXPECT_NE(openError(p).find(c.expect), std::string::npos) << openError(p);
        EXPECT_TRUE(test::readFile(p) == c.bytes) << "the file changed";
    }

    // Newer schema.
    const std::string newer = t.file("newer.db");
    std::filesystem::copy_file(good, newer);
    rawSql(newer, "PRAGMA user_version = 3");
    const std::string newerBytes = test::readFile(newer);
    EXPECT_EQ(openError(newer), "The circuit database was made by a newer Lorvane (schema 3; this one reads up to " +
                                    std::to_string(circuitDbSchemaVersion()) + ")");
    EXPECT_TRUE(test::readFile(newer) == newerBytes) << "the file changed";

    // Another program's SQLite file gets none of our tables.
    const std::string other = t.file("other.db");
    rawSql(other, "CREATE TABLE songs (title TEXT)");
    const std::string otherBytes = test::readFile(other);
    EXPECT_NE(openError(other).find("another program"), std::string::npos);
    EXPECT_TRUE(test::readFile(other) == otherBytes) << "the file changed";

    EXPECT_NE(openError(t.path()).find("folder"), std::string::npos);

    // An empty file is an empty database and becomes ours.
    const std::string empty = t.write("empty.db", "");
    EXPECT_NO_THROW(CircuitDb::open(empty).addCircuit(circuit("X")));

    // The good file still opens and holds everything.
    EXPECT_EQ(CircuitDb::open(good).circuits().size(), 400u);
}

TEST(CircuitDbCountries, SmallestContainingBoxWins) {
    TempDir t;
    CircuitDb db = CircuitDb::open(t.file("c.db"));
    db.addCountry({0, "Big", 3000, -600, 3300, 600});
    db.addCountry({0, "Small", 3080, -100, 3100, -20});
    db.addCountry({0, "Elsewhere", -2000, 100, -1900, 200});
    EXPECT_EQ(db.countryFor(3090, -60)->name, "Small");
    EXPECT_EQ(db.countryFor(3200, 0)->name, "Big");
    EXPECT_EQ(db.countryFor(3100, -20)->name, "Small"); // the edge belongs to the box
    EXPECT_FALSE(db.countryFor(0, 0));
    const std::vector<std::string> sorted{"Big", "Elsewhere", "Small"};
    std::vector<std::string> got;
    for (const Country& c : db.countries()) got.push_back(c.name);
    EXPECT_EQ(got, sorted);

    EXPECT_THROW(db.addCountry({0, "big", 0, 0, 1, 1}), LoadError);  // same name, other case
    EXPECT_THROW(db.addCountry({0, "  ", 0, 0, 1, 1}), LoadError);   // empty after trimming
    EXPECT_THROW(db.addCountry({0, "Inv", 10, 0, 5, 1}), LoadError); // inverted
    EXPECT_THROW(db.addCountry({0, "Nan", 0, 0, std::nan(""), 1}), LoadError);
    EXPECT_EQ(db.countries().size(), 3u);
}

TEST(CircuitDbCircuits, StoresEveryFieldAndFindsByNameAnyCase) {
    TempDir t;
    CircuitDb db = CircuitDb::open(t.file("c.db"));
    db.addCountry({0, "Ruritania", 3000, -100, 3200, 0});
    Circuit c = circuit("  Grand Loop ");
    c.country = "Ruritania";
    c.finish = gate(3091, -61);
    c.splits = {gate(3092, -62), gate(3093, -63)};
    c.rules.direction = GateDirection::Forward;
    c.rules.gateWidth = 12.5;
    c.rules.minLap = 30;
    c.lapDistance = 2503.6;
    c.notes = "clockwise, pit lane on the left";
    const std::int64_t id = db.addCircuit(c);
    EXPECT_GT(id, 0);

    auto got = db.findByName("GRAND LOOP");
    ASSERT_TRUE(got);
    EXPECT_EQ(got->id, id);
    EXPECT_EQ(got->name, "Grand Loop"); // trimmed
    EXPECT_EQ(got->country, std::optional<std::string>("Ruritania"));
    EXPECT_EQ(got->start.lat1, c.start.lat1);
    EXPECT_EQ(got->start.long2, c.start.long2);
    ASSERT_TRUE(got->finish);
    EXPECT_EQ(got->finish->lat1, 3091);
    ASSERT_EQ(got->splits.size(), 2u);
    EXPECT_EQ(got->splits[1].long1, -63);
    EXPECT_EQ(got->rules, c.rules);
    EXPECT_EQ(got->lapDistance, c.lapDistance);
    EXPECT_EQ(got->notes, c.notes);

    // Update replaces everything, splits included.
    got->splits = {gate(3094, -64)};
    got->finish.reset();
    got->rules = {};
    got->lapDistance.reset();
    db.updateCircuit(*got);
    auto again = db.findByName("grand loop");
    EXPECT_EQ(again->splits.size(), 1u);
    EXPECT_FALSE(again->finish);
    EXPECT_EQ(again->rules, GateRules{});
    EXPECT_FALSE(again->lapDistance);

    // A finish gate whose point 1 latitude is 0 means "no finish line".
    Circuit z = circuit("Zero finish");
    z.finish = Gate{};
    db.addCircuit(z);
    EXPECT_FALSE(db.findByName("Zero finish")->finish);
}

TEST(CircuitDbCircuits, ListSearchRenameRemove) {
    TempDir t;
    CircuitDb db = CircuitDb::open(t.file("c.db"));
    db.addCountry({0, "Freedonia", 3000, -100, 3200, 0});
    for (const char* n : {"beta", "Alpha", "gamma 100%", "Delta_long"}) db.addCircuit(circuit(n));
    Circuit f = circuit("Epsilon");
    f.country = "Freedonia";
    f.notes = "night race";
    db.addCircuit(f);
    EXPECT_EQ(names(db.circuits()), (std::vector<std::string>{"Alpha", "beta", "Delta_long", "Epsilon", "gamma 100%"}));
    EXPECT_EQ(names(db.search("ALP")), std::vector<std::string>{"Alpha"});
    EXPECT_EQ(names(db.search("freedon")), std::vector<std::string>{"Epsilon"});
    EXPECT_EQ(names(db.search("NIGHT")), std::vector<std::string>{"Epsilon"});
    EXPECT_EQ(names(db.search("0%")), std::vector<std::string>{"gamma 100%"});  // % is literal
    EXPECT_EQ(names(db.search("a_l")), std::vector<std::string>{"Delta_long"}); // _ is literal
    EXPECT_EQ(db.search("").size(), 5u);

    db.renameCircuit("ALPHA", "Omega");
    EXPECT_FALSE(db.findByName("Alpha"));
    EXPECT_TRUE(db.findByName("Omega"));
    db.renameCircuit("Omega", "omega"); // a change of case only is allowed
    EXPECT_EQ(db.findByName("OMEGA")->name, "omega");
    EXPECT_THROW(db.renameCircuit("omega", "BETA"), LoadError);
    EXPECT_THROW(db.renameCircuit("nope", "x"), LoadError);
    EXPECT_THROW(db.renameCircuit("omega", " "), LoadError);

    db.removeCircuit("beta");
    EXPECT_FALSE(db.findByName("beta"));
    EXPECT_THROW(db.removeCircuit("beta"), LoadError);
    EXPECT_EQ(db.circuits().size(), 4u);
}

TEST(CircuitDbCircuits, BadInputIsRefusedAndStoresNothing) {
    TempDir t;
    CircuitDb db = CircuitDb::open(t.file("c.db"));
    db.addCircuit(circuit("Taken"));
    auto expectRefused = [&](const Circuit& c, const std::string& words) {
        try {
            db.addCircuit(c);
            ADD_FAILURE() << "stored " << c.name;
        } catch (const LoadError& e) {
            EXPECT_NE(e.diagnostic().message.find(words), std::string::npos) << e.diagnostic().message;
            EXPECT_EQ(e.diagnostic().file, db.path());
        }
    };
    expectRefused(circuit(""), "empty");
    expectRefused(circuit(" \t "), "empty");
    expectRefused(circuit("TAKEN"), "already");
    expectRefused(circuit("Line\nbreak"), "control");
    Circuit c = circuit("No country");
    c.country = "Atlantis";
    expectRefused(c, "Atlantis");
    c = circuit("Point gate");
    c.start.lat2 = c.start.lat1;
    c.start.long2 = c.start.long1;
    expectRefused(c, "same");
    c = circuit("Off the globe", 91 * 60, 0);
    expectRefused(c, "latitude");
    c = circuit("Nan");
    c.start.long1 = std::nan("");
    expectRefused(c, "not a number");
    c = circuit("Width");
    c.rules.gateWidth = 0;
    expectRefused(c, "width");
    c = circuit("Distance");
    c.lapDistance = -1;
    expectRefused(c, "distance");
    EXPECT_EQ(names(db.circuits()), std::vector<std::string>{"Taken"});
}

TEST(CircuitDbTransactions, AFailureInTheMiddleOfABatchStoresNone) {
    TempDir t;
    CircuitDb db = CircuitDb::open(t.file("c.db"));
    db.addCircuit(circuit("Old"));
    std::vector<Circuit> batch{circuit("One"), circuit("Two"), circuit("one"), circuit("Three")};
    EXPECT_THROW(db.addCircuits(batch), LoadError);
    batch = {circuit("One"), circuit("OLD"), circuit("Three")};
    EXPECT_THROW(db.addCircuits(batch), LoadError);
    EXPECT_EQ(names(db.circuits()), std::vector<std::string>{"Old"});
    batch = {circuit("One"), circuit("Two")};
    EXPECT_EQ(db.addCircuits(batch).size(), 2u);
    EXPECT_EQ(db.circuits().size(), 3u);
}

TEST(CircuitDbTransactions, ImportSkipsBadFilesAndIsAllOrNothingForTheRest) {
    TempDir t;
    const std::string dir = t.file("gxr");
    std::filesystem::create_directory(dir);
    auto put = [&](const std::string& name, const std::string& text) {
        std::ofstream(dir + "/" + name, std::ios::binary) << text;
    };
    put("Alpha.gxr", gxrFor(gate(3090, -60)));
    put("Beta.GXR", gxrFor(gate(3091, -61)));
    put("broken.gxr", "[Start finish]\r\nabc 1 2 3\r\n");
    put("Existing.gxr", gxrFor(gate(3092, -62)));
    put("notes.txt", "not a start/finish file");
    put("Zeta.gxr", gxrFor(gate(3093, -63)));
    std::filesystem::create_directory(dir + "/sub.gxr");

    CircuitDb db = CircuitDb::open(t.file("c.db"));
    db.addCountry({0, "Land", 3000, -100, 3200, 0});
    db.addCircuit(circuit("existing"));
    ImportResult r = db.importGxrFolder(dir);
    EXPECT_EQ(r.added, 3);
    ASSERT_EQ(r.errors.size(), 2u);
    EXPECT_EQ(r.errors[0].file, dir + "/Existing.gxr");
    EXPECT_NE(r.errors[0].message.find("already"), std::string::npos);
    EXPECT_EQ(r.errors[1].file, dir + "/broken.gxr");
    EXPECT_EQ(r.errors[1].line, 2);
    EXPECT_EQ(names(db.circuits()), (std::vector<std::string>{"Alpha", "Beta", "existing", "Zeta"}));
    EXPECT_EQ(db.findByName("Beta")->country, std::optional<std::string>("Land"));
    EXPECT_EQ(db.findByName("Beta")->start.lat1, 3091);

    // Importing again adds nothing and reports each file.
    r = db.importGxrFolder(dir);
    EXPECT_EQ(r.added, 0);
    EXPECT_EQ(r.errors.size(), 5u);

    EXPECT_THROW(db.importGxrFolder(t.file("missing")), LoadError);

    // A write that fails half-way through the batch (forced here by a trigger
    // another program left in the file) stores none of it.
    const std::string dir2 = t.file("more");
    std::filesystem::create_directory(dir2);
    for (const char* n : {"m1", "m2", "m3", "m4"}) std::ofstream(dir2 + "/" + n + ".gxr") << gxrFor(gate(3095, -65));
    rawSql(db.path(), "CREATE TRIGGER refuse BEFORE INSERT ON circuits WHEN NEW.name = 'm3' "
                      "BEGIN SELECT RAISE(ABORT, 'refused'); END");
    EXPECT_THROW(db.importGxrFolder(dir2), LoadError);
    EXPECT_EQ(db.circuits().size(), 4u);
    EXPECT_FALSE(db.findByName("m1"));
}

TEST(CircuitDbExport, GivesTheStoredGatesBack) {
    TempDir t;
    CircuitDb db = CircuitDb::open(t.file("c.db"));
    Circuit c = circuit("Exported", 3189.03369, -32.77997);
    c.finish = Gate{3189.1, -32.7, 3189.2, -32.71};
    c.lapDistance = 2503.6;
    db.addCircuit(c);
    const std::string text = db.exportGxr("exported");
    StartFinish sf = parseStartFinish(text, "x.gxr");
    EXPECT_NEAR(sf.start.lat1, 3189.03369, 1e-9);
    EXPECT_NEAR(sf.start.long1, -32.77997, 1e-9);
    ASSERT_TRUE(sf.hasFinishLine);
    EXPECT_NEAR(sf.finish.long2, -32.71, 1e-9);
    EXPECT_EQ(text.substr(0, 26), "Lorvane circuit: Exported\r");
    EXPECT_THROW(db.exportGxr("nothing"), LoadError);
}

TEST(CircuitDbConcurrency, TwoConnectionsSeeEachOthersWrites) {
    TempDir t;
    CircuitDb a = CircuitDb::open(t.file("c.db"));
    CircuitDb b = CircuitDb::open(t.file("c.db"));
    a.addCircuit(circuit("From A"));
    b.addCircuit(circuit("From B"));
    EXPECT_EQ(a.circuits().size(), 2u);
    EXPECT_THROW(b.addCircuit(circuit("from a")), LoadError);
    b.removeCircuit("From A");
    EXPECT_EQ(names(a.circuits()), std::vector<std::string>{"From B"});
}

// Two processes create the file and write to it at the same moment; every
// write lands.
TEST(CircuitDbConcurrency, TwoProcessesWritingAtOnce) {
    TempDir t;
    const std::string path = t.file("shared/c.db");
    constexpr int kEach = 60;
    int go[2];
    ASSERT_EQ(::pipe(go), 0);
    pid_t child = ::fork();
    ASSERT_GE(child, 0);
    auto work = [&](const std::string& who) {
        char ch;
        if (::read(go[0], &ch, 1) != 1) return 3;
        try {
            CircuitDb db = CircuitDb::open(path);
            for (int i = 0; i < kEach; ++i) {
                db.addCircuit(circuit(who + std::to_string(i)));
                if (i % 10 == 0) db.circuits();
            }
        } catch (const LoadError& e) {
            std::fprintf(stderr, "%s: %s\n", who.c_str(), e.diagnostic().describe().c_str());
            return 1;
        }
        return 0;
    };
    if (child == 0) {
        ::_exit(work("child "));
    }
    ASSERT_EQ(::write(go[1], "gg", 2), 2);
    const int mine = work("parent ");
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_EQ(mine, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(CircuitDb::open(path).circuits().size(), 2u * kEach);
    ::close(go[0]);
    ::close(go[1]);
}

// A writer killed before its commit loses only its own unfinished write.
TEST(CircuitDbCrashSafety, KilledWriterLosesNothingStoredBefore) {
    TempDir t;
    const std::string path = t.file("c.db");
    {
        CircuitDb db = CircuitDb::open(path);
        db.addCountry({0, "Land", 3000, -100, 3200, 0});
        db.addCircuit(circuit("Kept 1"));
        db.addCircuit(circuit("Kept 2"));
    }

    // 1. Killed inside an open transaction, for certain.
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        CircuitDb db = CircuitDb::open(path);
        sqlite3* raw = nullptr;
        sqlite3_open(path.c_str(), &raw);
        sqlite3_exec(raw,
                     "BEGIN IMMEDIATE; DELETE FROM circuits; INSERT INTO circuits (name, start_lat1, start_long1,"
                     " start_lat2, start_long2) VALUES ('Half', 1, 1, 2, 2);",
                     nullptr, nullptr, nullptr);
        // Push the change into the log file so that it is on disk, uncommitted.
        sqlite3_exec(raw, "PRAGMA cache_size = 1", nullptr, nullptr, nullptr);
        (void)::write(ready[1], "r", 1);
        for (;;) ::pause();
    }
    char ch;
    ASSERT_EQ(::read(ready[0], &ch, 1), 1);
    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
    {
        CircuitDb db = CircuitDb::open(path);
        EXPECT_EQ(names(db.circuits()), (std::vector<std::string>{"Kept 1", "Kept 2"}));
        EXPECT_EQ(db.countries().size(), 1u);
    }

    // 2. Killed at some moment during big imports of ours: each import is
    // there entirely or not at all.
    const std::string dir = t.file("many");
    std::filesystem::create_directory(dir);
    constexpr int kFiles = 300;
    for (int i = 0; i < kFiles; ++i)
        std::ofstream(dir + "/c" + std::to_string(i) + ".gxr") << gxrFor(gate(3000 + i * 0.1, -60));
    std::mt19937 rng(11);
    for (int round = 0; round < 6; ++round) {
        {
            CircuitDb db = CircuitDb::open(path);
            for (const Circuit& c : db.circuits())
                if (c.name.rfind("Kept", 0) != 0) db.removeCircuit(c.name);
        }
        pid_t w = ::fork();
        ASSERT_GE(w, 0);
        if (w == 0) {
            try {
                CircuitDb db = CircuitDb::open(path);
                (void)::write(ready[1], "r", 1);
                db.importGxrFolder(dir);
            } catch (...) {
            }
            for (;;) ::pause();
        }
        ASSERT_EQ(::read(ready[0], &ch, 1), 1);
        std::this_thread::sleep_for(std::chrono::microseconds(rng() % 40000));
        ::kill(w, SIGKILL);
        ::waitpid(w, nullptr, 0);
        CircuitDb db = CircuitDb::open(path);
        const std::size_t n = db.circuits().size();
        EXPECT_TRUE(n == 2 || n == 2 + kFiles) << "round " << round << ": " << n << " circuits";
        EXPECT_TRUE(db.findByName("Kept 1") && db.findByName("Kept 2"));
    }
    ::close(ready[0]);
    ::close(ready[1]);
}

// A newer program that migrated the file and was killed before its log was
// folded into the file: refused, and neither the file nor its log touched.
TEST(CircuitDbCrashSafety, RefusedFileWithAPendingLogIsLeftAsFound) {
    TempDir t;
    const std::string path = t.file("c.db");
    CircuitDb::open(path).addCircuit(circuit("Kept"));
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        sqlite3* raw = nullptr;
        sqlite3_open(path.c_str(), &raw);
        sqlite3_exec(raw, "PRAGMA wal_autocheckpoint = 0; PRAGMA user_version = 7;", nullptr, nullptr, nullptr);
        (void)::write(ready[1], "r", 1);
        for (;;) ::pause();
    }
    char ch;
    ASSERT_EQ(::read(ready[0], &ch, 1), 1);
    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
    ::close(ready[0]);
    ::close(ready[1]);
    const std::string file = test::readFile(path), log = test::readFile(path + "-wal");
    ASSERT_FALSE(log.empty());
    EXPECT_NE(openError(path).find("newer Lorvane (schema 7"), std::string::npos);
    EXPECT_TRUE(test::readFile(path) == file) << "the database file changed";
    EXPECT_TRUE(test::readFile(path + "-wal") == log) << "its log changed";
}
