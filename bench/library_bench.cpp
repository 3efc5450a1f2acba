// lorvane-library-bench: the session library's queries on a large library.
// A database of 20,000 sessions (10,000 at "Bench Ring", 10 laps each; the
// others at nine other circuits) is made once in the data folder (--data-dir
// DIR, or $LORVANE_BENCH_DATA, default $TMPDIR/lorvane-bench) through the
// library's own schema, its rows written directly: only the queries are timed.
//
//   lorvane-library-bench [--data-dir DIR] [benchmark options]
#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>

#include "formats/start_finish.h"
#include "library/session_library.h"
#include "workspace/workspace.h"

using namespace lorvane;

namespace {

std::string g_dataDir;
constexpr int kSessions = 20000, kAtBenchRing = 10000, kLaps = 10;
// What a circuit's start/finish text takes in each row.
constexpr const char* kStartFinish = "[Start finish]\n-488277909 170476316 -488278014 170476909\n[Finish]\n0 0 0 0\n"
                                     "; Lorvane circuit: Bench Ring (United Kingdom)\n; Length 2503.6 m\n";

std::string databasePath() {
    const std::string path = g_dataDir + "/library-20k.db";
    if (std::filesystem::exists(path)) return path;
    std::filesystem::create_directories(g_dataDir);
    const std::string building = path + ".building";
    std::filesystem::remove(building);
    SessionLibrary::open(building); // the schema
    sqlite3* db = nullptr;
    sqlite3_open(building.c_str(), &db);
    sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr);
    sqlite3_stmt *s = nullptr, *l = nullptr;
    sqlite3_prepare_v2(db,
                       "INSERT INTO sessions (path, size, mtime_ns, hash, kind, date, time_of_day, date_source,"
                       " circuit, start_finish, lap_count, best_lap, best_time, theoretical_best, sector_count)"
                       " VALUES (?1, 1000000, 0, ?2, 'zlg', ?3, '10:00:00', 'file', ?4, ?8, 10, ?5, ?6, ?7, 3)",
                       -1, &s, nullptr);
    sqlite3_prepare_v2(db,
                       "INSERT INTO session_laps (session_id, lap, time, circuit, traced, distance, max_speed, sectors)"
                       " VALUES (?1, ?2, ?3, ?4, 1, 2500, 160, '30.1 31.2 29.3')",
                       -1, &l, nullptr);
    std::mt19937_64 rng(7);
    std::uniform_real_distribution<double> lapTime(88, 95);
    for (int i = 0; i < kSessions; ++i) {
        const std::string circuit = i % 2 == 0 && i / 2 < kAtBenchRing ? "Bench Ring"
                                                                       : "Other " + std::to_string(i % 9);
        char date[16], hash[17];
        std::snprintf(date, sizeof date, "20%02d-%02d-%02d", 10 + i % 16, 1 + i % 12, 1 + i % 28);
        std::snprintf(hash, sizeof hash, "%016x", i);
        double times[kLaps], best = 1e9;
        int bestLap = 0;
        for (int k = 0; k < kLaps; ++k) {
            times[k] = lapTime(rng);
            if (times[k] < best) best = times[k], bestLap = k + 1;
        }
        const std::string path = "/data/logs/session" + std::to_string(i) + ".zlg";
        sqlite3_reset(s);
        sqlite3_bind_text(s, 1, path.c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_text(s, 2, hash, -1, SQLITE_TRANSIENT);
        sqlite3_bind_text(s, 3, date, -1, SQLITE_TRANSIENT);
        sqlite3_bind_text(s, 4, circuit.c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_int(s, 5, bestLap);
        sqlite3_bind_double(s, 6, best);
        sqlite3_bind_double(s, 7, best - 0.3);
        sqlite3_bind_text(s, 8, kStartFinish, -1, SQLITE_STATIC);
        sqlite3_step(s);
        const sqlite3_int64 id = sqlite3_last_insert_rowid(db);
        for (int k = 0; k < kLaps; ++k) {
            sqlite3_reset(l);
            sqlite3_bind_int64(l, 1, id);
            sqlite3_bind_int(l, 2, k + 1);
            sqlite3_bind_double(l, 3, times[k]);
            sqlite3_bind_text(l, 4, circuit.c_str(), -1, SQLITE_TRANSIENT);
            sqlite3_step(l);
        }
    }
    sqlite3_finalize(s);
    sqlite3_finalize(l);
    sqlite3_exec(db, "COMMIT; PRAGMA wal_checkpoint(TRUNCATE);", nullptr, nullptr, nullptr);
    sqlite3_close(db);
    std::filesystem::rename(building, path);
    std::filesystem::remove(building + "-wal");
    std::filesystem::remove(building + "-shm");
    return path;
}

// `library list --circuit`: the 10,000 sessions at one circuit.
void BM_ListCircuit(benchmark::State& state) {
    const SessionLibrary lib = SessionLibrary::open(databasePath());
    std::size_t n = 0;
    for (auto _ : state) {
        const auto v = lib.sessions("Bench Ring");
        n = v.size();
        benchmark::DoNotOptimize(v.data());
    }
    if (n != kAtBenchRing) state.SkipWithError("wrong session count");
    state.counters["sessions"] = static_cast<double>(n);
}
BENCHMARK(BM_ListCircuit)->Name("library_list/circuit_10k_sessions")->Unit(benchmark::kMillisecond);

// `library best --circuit --top 10` over its 100,000 laps.
void BM_BestLaps(benchmark::State& state) {
    const SessionLibrary lib = SessionLibrary::open(databasePath());
    for (auto _ : state) {
        const auto v = lib.bestLaps("Bench Ring", static_cast<int>(state.range(0)));
        benchmark::DoNotOptimize(v.data());
    }
}
BENCHMARK(BM_BestLaps)->Name("library_best/circuit_100k_laps")->Arg(10)->Arg(1000)->Unit(benchmark::kMillisecond);

// Opening a stored lap for comparison: the fastest lap of a stored
// 1,000,000-sample session (session-1m of lorvane-bench --inputs-only)
// laid out in the plane of that session loaded in a workspace, as the
// Sessions window's "Use as reference" does.
void BM_OpenStoredLap(benchmark::State& state) {
    const std::string stem = g_dataDir + "/session-1m";
    if (!std::filesystem::exists(stem + ".zlg")) {
        state.SkipWithError("run lorvane-bench --inputs-only first");
        return;
    }
    const std::string db = g_dataDir + "/library-1m.db";
    if (!std::filesystem::exists(db)) {
        CircuitDb circuits = CircuitDb::open(db);
        Circuit c;
        c.name = "Bench 1M";
        c.start = readStartFinishFile(stem + ".gxr").start;
        circuits.addCircuit(c);
        SessionLibrary::open(db).add(std::vector<std::string>{stem + ".zlg"});
    }
    SessionLibrary lib = SessionLibrary::open(db);
    const auto listed = lib.sessions();
    if (listed.empty() || !listed[0].bestLap) {
        state.SkipWithError("the session did not store");
        return;
    }
    const StoredSession stored = *lib.session(listed[0].id);
    Session session;
    session.setKeepTrack(true);
    Workspace ws(session);
    ws.setCircuitDbPath(db);
    ws.useStoredSession(stored);
    ws.loadLogNow(LogKind::Text, stem + ".zlg");
    ws.useStoredLap(stored, *stored.bestLap, false); // the database opened once
    for (auto _ : state) benchmark::DoNotOptimize(ws.useStoredLap(stored, *stored.bestLap, false).referenceFile);
    state.counters["points"] = static_cast<double>(ws.snapshot().referenceFile->points.size());
}
BENCHMARK(BM_OpenStoredLap)->Name("library_open_stored_lap/1M_samples")->Unit(benchmark::kMillisecond);

#ifdef LORVANE_CLI_PATH
// The same through the command line, the process included.
void BM_CliList(benchmark::State& state, const char* what) {
    const std::string cmd = std::string(LORVANE_CLI_PATH) + " library " + what +
                            " --circuit 'Bench Ring' --json --db '" + databasePath() + "' >/dev/null";
    for (auto _ : state)
        if (std::system(cmd.c_str()) != 0) state.SkipWithError("lorvane-cli failed");
}
BENCHMARK_CAPTURE(BM_CliList, list, "list")
    ->Name("cli_library_list/circuit_10k_sessions")
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_CliList, best, "best")->Name("cli_library_best/circuit_100k_laps")->Unit(benchmark::kMillisecond);
#endif

} // namespace

int main(int argc, char** argv) {
    const char* env = std::getenv("LORVANE_BENCH_DATA");
    const char* tmp = std::getenv("TMPDIR");
    g_dataDir = env ? env : std::string(tmp ? tmp : "/tmp") + "/lorvane-bench";
    int out = 1;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--data-dir") == 0 && i + 1 < argc)
            g_dataDir = argv[++i];
        else
            argv[out++] = argv[i];
    }
    argc = out;
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
