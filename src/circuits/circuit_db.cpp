#include "circuits/circuit_db.h"

#include <sqlite3.h>

#include <chrono>
#include <thread>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <sys/stat.h>
#include <type_traits>

#include "formats/log_formats.h"
#include "formats/numbers.h"
#include "laps/lap_segmenter.h"
#include "laps/local_plane.h"
#include "session/session.h"

namespace lorvane {

namespace fs = std::filesystem;

namespace {

// "LORV": marks the file as ours, so another program's SQLite file is refused
// instead of having our tables added to it.
constexpr std::int32_t kApplicationId = 0x4C4F5256;

// Step i brings a database of schema i to schema i + 1. Steps are never edited
// once released; a change of layout is a new step at the end.
const char* const kMigrations[] = {
    // 0 -> 1
    R"sql(
    CREATE TABLE countries (
        id       INTEGER PRIMARY KEY,
        name     TEXT NOT NULL UNIQUE COLLATE NOCASE CHECK (length(trim(name)) > 0),
        min_lat  REAL NOT NULL,
        min_long REAL NOT NULL,
        max_lat  REAL NOT NULL,
        max_long REAL NOT NULL,
        CHECK (min_lat <= max_lat AND min_long <= max_long)
    );
    CREATE TABLE circuits (
        id           INTEGER PRIMARY KEY,
        name         TEXT NOT NULL UNIQUE COLLATE NOCASE CHECK (length(trim(name)) > 0),
        country_id   INTEGER REFERENCES countries(id) ON DELETE SET NULL,
        start_lat1   REAL NOT NULL,
        start_long1  REAL NOT NULL,
        start_lat2   REAL NOT NULL,
        start_long2  REAL NOT NULL,
        finish_lat1  REAL,
        finish_long1 REAL,
        finish_lat2  REAL,
        finish_long2 REAL,
        direction    TEXT NOT NULL DEFAULT 'both' CHECK (direction IN ('both', 'forward', 'reverse')),
        gate_width   REAL CHECK (gate_width IS NULL OR gate_width > 0),
        min_lap      REAL NOT NULL DEFAULT 0 CHECK (min_lap >= 0),
        lap_distance REAL CHECK (lap_distance IS NULL OR lap_distance > 0),
        notes        TEXT NOT NULL DEFAULT ''
    );
    CREATE INDEX circuits_by_start ON circuits (start_lat1, start_long1);
    CREATE TABLE splits (
        circuit_id INTEGER NOT NULL REFERENCES circuits(id) ON DELETE CASCADE,
        seq        INTEGER NOT NULL,
        lat1       REAL NOT NULL,
        long1      REAL NOT NULL,
        lat2       REAL NOT NULL,
        long2      REAL NOT NULL,
        PRIMARY KEY (circuit_id, seq)
    );
    )sql",
    // 1 -> 2: the session library (src/library/session_library.h, docs/library.md).
    R"sql(
    CREATE TABLE sessions (
        id               INTEGER PRIMARY KEY,
        path             TEXT NOT NULL UNIQUE,
        size             INTEGER NOT NULL,
        mtime_ns         INTEGER NOT NULL,
        hash             TEXT NOT NULL,
        kind             TEXT NOT NULL,
        date             TEXT,
        time_of_day      TEXT,
        date_source      TEXT NOT NULL CHECK (date_source IN ('log', 'file')),
        circuit_id       INTEGER REFERENCES circuits(id) ON DELETE SET NULL,
        circuit          TEXT,
        start_finish     TEXT,
        direction        TEXT NOT NULL DEFAULT 'both' CHECK (direction IN ('both', 'forward', 'reverse')),
        gate_width       REAL,
        min_lap          REAL NOT NULL DEFAULT 0,
        max_gap          REAL NOT NULL DEFAULT 0,
        sector_count     INTEGER NOT NULL DEFAULT 0,
        lap_count        INTEGER NOT NULL DEFAULT 0,
        best_lap         INTEGER,
        best_time        REAL,
        theoretical_best REAL,
        driver           TEXT NOT NULL DEFAULT '',
        vehicle          TEXT NOT NULL DEFAULT '',
        notes            TEXT NOT NULL DEFAULT '',
        added_at         TEXT NOT NULL DEFAULT (strftime('%Y-%m-%dT%H:%M:%SZ', 'now'))
    );
    CREATE INDEX sessions_by_hash ON sessions (hash);
    CREATE INDEX sessions_by_circuit ON sessions (circuit COLLATE NOCASE, date, time_of_day);
    CREATE TABLE session_splits (
        session_id INTEGER NOT NULL REFERENCES sessions(id) ON DELETE CASCADE,
        seq        INTEGER NOT NULL,
        lat1       REAL NOT NULL,
        long1      REAL NOT NULL,
        lat2       REAL NOT NULL,
        long2      REAL NOT NULL,
        PRIMARY KEY (session_id, seq)
    );
    CREATE TABLE session_laps (
        session_id INTEGER NOT NULL REFERENCES sessions(id) ON DELETE CASCADE,
        lap        INTEGER NOT NULL,
        time       REAL NOT NULL,
        circuit    TEXT,
        traced     INTEGER NOT NULL DEFAULT 0,
        distance   REAL,
        max_speed  REAL,
        sectors    TEXT NOT NULL DEFAULT '',
        PRIMARY KEY (session_id, lap)
    );
    CREATE INDEX session_laps_by_circuit ON session_laps (circuit COLLATE NOCASE, time);
    CREATE TABLE session_lap_paths (
        session_id INTEGER NOT NULL REFERENCES sessions(id) ON DELETE CASCADE,
        lap        INTEGER NOT NULL,
        base_lat   REAL NOT NULL,
        base_long  REAL NOT NULL,
        long_scale REAL NOT NULL,
        points     BLOB NOT NULL,
        PRIMARY KEY (session_id, lap)
    );
    )sql",
};
constexpr int kSchemaVersion = static_cast<int>(sizeof kMigrations / sizeof kMigrations[0]);

struct StmtDeleter {
    void operator()(sqlite3_stmt* s) const { sqlite3_finalize(s); }
};

std::string trimmed(std::string_view s) {
    std::size_t b = 0, e = s.size();
    while (b < e && std::isspace(static_cast<unsigned char>(s[b]))) ++b;
    while (e > b && std::isspace(static_cast<unsigned char>(s[e - 1]))) --e;
    return std::string(s.substr(b, e - b));
}

bool equalsNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

std::string degrees(double minutes) {
    return formatFixed(minutes / 60, 1, 6) + "\xC2\xB0";
}

} // namespace

StartFinish Circuit::startFinish() const {
    StartFinish sf;
    sf.start = start;
    if (finish) {
        sf.finish = *finish;
        sf.hasFinishLine = finish->lat1 != 0;
    }
    return sf;
}

std::string distanceText(double metres) {
    return formatFixed(metres, 1, 1) + " m";
}

std::string circuitGxrText(const Circuit& c) {
    std::string comment = "Lorvane circuit: " + c.name;
    if (c.country) comment += " (" + *c.country + ")";
    if (c.lapDistance) comment += "\nLength " + formatFixed(*c.lapDistance, 1, 1) + " m";
    return composeStartFinishText(c.startFinish(), comment);
}

StartFinishFile circuitStartFinish(const Circuit& c) {
    StartFinishFile file;
    file.path = c.name;
    file.text = circuitGxrText(c);
    file.gates = parseStartFinish(file.text, c.name);
    file.splits = c.splits;
    return file;
}

GateRules circuitRules(const Circuit& c, const GateRules& current) {
    GateRules rules = c.rules;
    rules.maxGap = current.maxGap;
    return rules;
}

std::string defaultCircuitDbPath() {
    const char* xdg = std::getenv("XDG_DATA_HOME");
    // A relative XDG_DATA_HOME is invalid and ignored.
    if (xdg && xdg[0] == '/') return std::string(xdg) + "/lorvane/circuits.db";
    const char* home = std::getenv("HOME");
    return std::string(home && *home ? home : ".") + "/.local/share/lorvane/circuits.db";
}

int circuitDbSchemaVersion() {
    return kSchemaVersion;
}

// ---------------------------------------------------------------------------

struct CircuitDb::Impl {
    sqlite3* db = nullptr;
    std::string path;

    ~Impl() {
        if (db) sqlite3_close_v2(db);
    }

    [[noreturn]] void sqlFail(int rc, std::string_view what) const {
        const int primary = rc & 0xff;
        std::string msg;
        if (primary == SQLITE_BUSY || primary == SQLITE_LOCKED)
            msg = "The circuit database is busy: another program kept it locked for too long";
        else if (primary == SQLITE_CORRUPT || primary == SQLITE_NOTADB)
            msg = "The circuit database is damaged (" + std::string(sqlite3_errstr(rc)) + ")";
        else if (primary == SQLITE_FULL)
            msg = "The disk is full; nothing was stored";
        else if (primary == SQLITE_READONLY)
            msg = "The circuit database cannot be written (read-only)";
        else
            msg = std::string(what) + ": " + (db ? sqlite3_errmsg(db) : sqlite3_errstr(rc));
        fail(primary == SQLITE_BUSY || primary == SQLITE_LOCKED      ? ErrorKind::Busy
             : primary == SQLITE_CORRUPT || primary == SQLITE_NOTADB ? ErrorKind::Syntax
                                                                     : ErrorKind::InputOutput,
             msg, path);
    }

    void exec(const char* sql) const {
        char* err = nullptr;
        int rc = sqlite3_exec(db, sql, nullptr, nullptr, &err);
        sqlite3_free(err);
        if (rc != SQLITE_OK) sqlFail(rc, "Database error");
    }

    std::unique_ptr<sqlite3_stmt, StmtDeleter> prepare(const char* sql) const {
        sqlite3_stmt* s = nullptr;
        int rc = sqlite3_prepare_v2(db, sql, -1, &s, nullptr);
        if (rc != SQLITE_OK) sqlFail(rc, "Database error");
        return std::unique_ptr<sqlite3_stmt, StmtDeleter>(s);
    }

    // Steps once; true for a row, false when done.
    bool step(sqlite3_stmt* s) const {
        int rc = sqlite3_step(s);
        if (rc == SQLITE_ROW) return true;
        if (rc == SQLITE_DONE) return false;
        sqlFail(rc, "Database error");
    }

    std::int64_t pragmaInt(const char* sql) const {
        auto s = prepare(sql);
        return step(s.get()) ? sqlite3_column_int64(s.get(), 0) : 0;
    }

    template <class F>
    auto write(F&& f) {
        exec("BEGIN IMMEDIATE");
        try {
            if constexpr (std::is_void_v<decltype(f())>) {
                f();
                exec("COMMIT");
            } else {
                auto r = f();
                exec("COMMIT");
                return r;
            }
        } catch (...) {
            sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
            throw;
        }
    }

    static void bindOpt(sqlite3_stmt* s, int i, const std::optional<double>& v) {
        if (v)
            sqlite3_bind_double(s, i, *v);
        else
            sqlite3_bind_null(s, i);
    }
    static void bindText(sqlite3_stmt* s, int i, std::string_view t) {
        sqlite3_bind_text(s, i, t.data(), static_cast<int>(t.size()), SQLITE_TRANSIENT);
    }
    static std::string columnText(sqlite3_stmt* s, int i) {
        const unsigned char* t = sqlite3_column_text(s, i);
        return t ? std::string(reinterpret_cast<const char*>(t), static_cast<std::size_t>(sqlite3_column_bytes(s, i)))
                 : std::string();
    }
    static std::optional<double> columnOpt(sqlite3_stmt* s, int i) {
        if (sqlite3_column_type(s, i) == SQLITE_NULL) return std::nullopt;
        return sqlite3_column_double(s, i);
    }

    std::optional<std::int64_t> countryId(std::string_view name) const {
        auto s = prepare("SELECT id FROM countries WHERE name = ?1");
        bindText(s.get(), 1, name);
        if (step(s.get())) return sqlite3_column_int64(s.get(), 0);
        return std::nullopt;
    }
    std::optional<std::int64_t> circuitId(std::string_view name) const {
        auto s = prepare("SELECT id FROM circuits WHERE name = ?1");
        bindText(s.get(), 1, name);
        if (step(s.get())) return sqlite3_column_int64(s.get(), 0);
        return std::nullopt;
    }

    void checkName(std::string_view name, std::string_view what) const {
        if (name.empty()) fail(ErrorKind::Invalid, std::string(what) + " name is empty", path);
        for (unsigned char c : name)
            if (c < 0x20 || c == 0x7f)
                fail(ErrorKind::Invalid, std::string(what) + " name contains a control character", path);
    }

    void checkGate(const Gate& g, std::string_view what) const {
        for (double v : {g.lat1, g.long1, g.lat2, g.long2})
            if (!std::isfinite(v))
                fail(ErrorKind::Invalid, std::string(what) + " has a coordinate that is not a number", path);
        for (double v : {g.lat1, g.lat2})
            if (std::fabs(v) > 90 * 60)
                fail(ErrorKind::Invalid, std::string(what) + " has a latitude beyond 90\xC2\xB0: " + degrees(v), path);
        for (double v : {g.long1, g.long2})
            if (std::fabs(v) > 180 * 60)
                fail(ErrorKind::Invalid, std::string(what) + " has a longitude beyond 180\xC2\xB0: " + degrees(v),
                     path);
        if (g.lat1 == g.lat2 && g.long1 == g.long2)
            fail(ErrorKind::Invalid, std::string(what) + "'s two points are the same, so it has no direction", path);
    }

    // Validates and normalises; throws LoadError naming the problem.
    Circuit checked(const Circuit& in) const {
        Circuit c = in;
        c.name = trimmed(c.name);
        checkName(c.name, "The circuit");
        checkGate(c.start, "The start gate");
        if (c.finish) {
            if (c.finish->lat1 == 0)
                c.finish.reset(); // the file format's "no finish line"
            else
                checkGate(*c.finish, "The finish gate");
        }
        for (std::size_t i = 0; i < c.splits.size(); ++i) checkGate(c.splits[i], "Split line " + std::to_string(i + 1));
        if (c.rules.gateWidth && !(std::isfinite(*c.rules.gateWidth) && *c.rules.gateWidth > 0))
            fail(ErrorKind::Invalid, "The gate width must be a positive number of metres", path);
        if (!(std::isfinite(c.rules.minLap) && c.rules.minLap >= 0))
            fail(ErrorKind::Invalid, "The minimum lap time must be zero or more seconds", path);
        if (c.lapDistance && !(std::isfinite(*c.lapDistance) && *c.lapDistance > 0))
            fail(ErrorKind::Invalid, "The lap distance must be a positive number of metres", path);
        if (c.country) {
            *c.country = trimmed(*c.country);
            if (c.country->empty()) c.country.reset();
        }
        return c;
    }

    // Inside a transaction.
    std::int64_t insertCircuit(const Circuit& c) {
        if (circuitId(c.name))
            fail(ErrorKind::Invalid, "A circuit named '" + c.name + "' is already in the database", path);
        std::optional<std::int64_t> cid;
        if (c.country) {
            cid = countryId(*c.country);
            if (!cid) fail(ErrorKind::Invalid, "No country named '" + *c.country + "' in the database", path);
        }
        auto s = prepare(
            "INSERT INTO circuits (name, country_id, start_lat1, start_long1, start_lat2, start_long2,"
            " finish_lat1, finish_long1, finish_lat2, finish_long2, direction, gate_width, min_lap,"
            " lap_distance, notes) VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, ?12, ?13, ?14, ?15)");
        bindFields(s.get(), c, cid);
        step(s.get());
        const std::int64_t id = sqlite3_last_insert_rowid(db);
        insertSplits(id, c.splits);
        return id;
    }

    void bindFields(sqlite3_stmt* s, const Circuit& c, std::optional<std::int64_t> cid) const {
        bindText(s, 1, c.name);
        if (cid)
            sqlite3_bind_int64(s, 2, *cid);
        else
            sqlite3_bind_null(s, 2);
        sqlite3_bind_double(s, 3, c.start.lat1);
        sqlite3_bind_double(s, 4, c.start.long1);
        sqlite3_bind_double(s, 5, c.start.lat2);
        sqlite3_bind_double(s, 6, c.start.long2);
        std::optional<double> f[4];
        if (c.finish) {
            f[0] = c.finish->lat1;
            f[1] = c.finish->long1;
            f[2] = c.finish->lat2;
            f[3] = c.finish->long2;
        }
        for (int k = 0; k < 4; ++k) bindOpt(s, 7 + k, f[k]);
        bindText(s, 11, directionName(c.rules.direction));
        bindOpt(s, 12, c.rules.gateWidth);
        sqlite3_bind_double(s, 13, c.rules.minLap);
        bindOpt(s, 14, c.lapDistance);
        bindText(s, 15, c.notes);
    }

    void insertSplits(std::int64_t id, const std::vector<Gate>& splits) {
        auto s = prepare(
            "INSERT INTO splits (circuit_id, seq, lat1, long1, lat2, long2) VALUES (?1, ?2, ?3, ?4, ?5, ?6)");
        for (std::size_t i = 0; i < splits.size(); ++i) {
            sqlite3_reset(s.get());
            sqlite3_bind_int64(s.get(), 1, id);
            sqlite3_bind_int64(s.get(), 2, static_cast<std::int64_t>(i));
            sqlite3_bind_double(s.get(), 3, splits[i].lat1);
            sqlite3_bind_double(s.get(), 4, splits[i].long1);
            sqlite3_bind_double(s.get(), 5, splits[i].lat2);
            sqlite3_bind_double(s.get(), 6, splits[i].long2);
            step(s.get());
        }
    }

    static constexpr const char* kSelectCircuits =
        "SELECT c.id, c.name, k.name, c.start_lat1, c.start_long1, c.start_lat2, c.start_long2,"
        " c.finish_lat1, c.finish_long1, c.finish_lat2, c.finish_long2, c.direction, c.gate_width,"
        " c.min_lap, c.lap_distance, c.notes FROM circuits c LEFT JOIN countries k ON k.id = c.country_id ";

    // Runs a kSelectCircuits query (already bound) and fills in the splits.
    std::vector<Circuit> readCircuits(sqlite3_stmt* s) const {
        std::vector<Circuit> out;
        while (step(s)) {
            Circuit c;
            c.id = sqlite3_column_int64(s, 0);
            c.name = columnText(s, 1);
            if (sqlite3_column_type(s, 2) != SQLITE_NULL) c.country = columnText(s, 2);
            c.start = {sqlite3_column_double(s, 3), sqlite3_column_double(s, 4), sqlite3_column_double(s, 5),
                       sqlite3_column_double(s, 6)};
            if (sqlite3_column_type(s, 7) != SQLITE_NULL)
                c.finish = Gate{sqlite3_column_double(s, 7), sqlite3_column_double(s, 8), sqlite3_column_double(s, 9),
                                sqlite3_column_double(s, 10)};
            c.rules.direction = parseDirection(columnText(s, 11)).value_or(GateDirection::Both);
            c.rules.gateWidth = columnOpt(s, 12);
            c.rules.minLap = sqlite3_column_double(s, 13);
            c.lapDistance = columnOpt(s, 14);
            c.notes = columnText(s, 15);
            out.push_back(std::move(c));
        }
        if (out.empty()) return out;
        std::map<std::int64_t, Circuit*> byId;
        for (Circuit& c : out) byId[c.id] = &c;
        // A few circuits: their own splits; many: one pass over the table.
        const bool few = out.size() <= 8;
        auto sp = prepare(
            few ? "SELECT circuit_id, lat1, long1, lat2, long2 FROM splits WHERE circuit_id = ?1 ORDER BY seq"
                : "SELECT circuit_id, lat1, long1, lat2, long2 FROM splits ORDER BY circuit_id, seq");
        for (std::size_t i = 0; i < (few ? out.size() : 1); ++i) {
            if (few) {
                sqlite3_reset(sp.get());
                sqlite3_bind_int64(sp.get(), 1, out[i].id);
            }
            readSplits(sp.get(), byId);
        }
        return out;
    }

    void readSplits(sqlite3_stmt* sp, std::map<std::int64_t, Circuit*>& byId) const {
        while (step(sp)) {
            auto it = byId.find(sqlite3_column_int64(sp, 0));
            if (it == byId.end()) continue;
            it->second->splits.push_back({sqlite3_column_double(sp, 1), sqlite3_column_double(sp, 2),
                                          sqlite3_column_double(sp, 3), sqlite3_column_double(sp, 4)});
        }
    }

    void checkFile(bool existed);
    void migrate();
};

CircuitDb::CircuitDb(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
CircuitDb::CircuitDb(CircuitDb&&) noexcept = default;
CircuitDb& CircuitDb::operator=(CircuitDb&&) noexcept = default;
CircuitDb::~CircuitDb() = default;

const std::string& CircuitDb::path() const {
    return impl_->path;
}

sqlite3* CircuitDb::connection() const {
    return impl_->db;
}

void CircuitDb::Impl::checkFile(bool existed) {
    const std::string damaged = "The circuit database is damaged";
    std::int64_t appId = 0, version = 0, objects = 0;
    // One statement, so one snapshot: another program may be creating the
    // schema right now.
    auto s0 = prepare("SELECT (SELECT application_id FROM pragma_application_id),"
                      " (SELECT user_version FROM pragma_user_version), (SELECT count(*) FROM sqlite_master)");
    if (step(s0.get())) {
        appId = sqlite3_column_int64(s0.get(), 0);
        version = sqlite3_column_int64(s0.get(), 1);
        objects = sqlite3_column_int64(s0.get(), 2);
    }
    s0.reset();
    if (!existed && objects == 0) return;
    if (appId != kApplicationId && (appId != 0 || version != 0 || objects != 0))
        fail(ErrorKind::Syntax, "This file is a database of another program, not a Lorvane circuit database", path);
    if (version > kSchemaVersion)
        fail(ErrorKind::Invalid,
             "The circuit database was made by a newer Lorvane (schema " + std::to_string(version) +
                 "; this one reads up to " + std::to_string(kSchemaVersion) + ")",
             path);
    if (objects == 0) return;
    auto s = prepare("PRAGMA quick_check");
    std::string first;
    try {
        if (step(s.get())) first = columnText(s.get(), 0);
    } catch (const LoadError& e) {
        fail(e.diagnostic().kind, e.diagnostic().message, path);
    }
    if (first != "ok") fail(ErrorKind::Syntax, damaged + " (" + first + ")", path);
}

void CircuitDb::Impl::migrate() {
    if (pragmaInt("PRAGMA user_version") >= kSchemaVersion) return;
    write([&] {
        // Another program may have migrated it while we waited for the lock.
        std::int64_t v = pragmaInt("PRAGMA user_version");
        if (v > kSchemaVersion)
            fail(ErrorKind::Invalid,
                 "The circuit database was made by a newer Lorvane (schema " + std::to_string(v) +
                     "; this one reads up to " + std::to_string(kSchemaVersion) + ")",
                 path);
        for (; v < kSchemaVersion; ++v) exec(kMigrations[v]);
        exec(("PRAGMA application_id = " + std::to_string(kApplicationId)).c_str());
        exec(("PRAGMA user_version = " + std::to_string(kSchemaVersion)).c_str());
    });
}

CircuitDb CircuitDb::open(const std::string& path) {
    // Two programs opening a new database at once: one creates it and brings
    // it up to date while the other finds it locked in ways SQLite's busy
    // wait does not cover (switching to the write-ahead log, the first
    // schema). The later one tries again for as long as that wait would.
    for (int attempt = 0;; ++attempt) {
        try {
            return openOnce(path);
        } catch (const LoadError& e) {
            if (e.diagnostic().kind != ErrorKind::Busy || attempt >= 100) throw;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
}

CircuitDb CircuitDb::openOnce(const std::string& path) {
    if (path.empty()) fail(ErrorKind::Invalid, "No path given for the circuit database");
    auto impl = std::make_unique<Impl>();
    impl->path = path;

    struct stat st {};
    const bool existed = ::stat(path.c_str(), &st) == 0;
    if (existed) {
        if (S_ISDIR(st.st_mode)) fail(ErrorKind::InputOutput, "Is a folder, not a circuit database file", path);
        if (st.st_size > 0) {
            // An SQLite file starts with its 16-byte magic and has a 100-byte header.
            char head[16] = {};
            std::FILE* f = std::fopen(path.c_str(), "rb");
            if (!f)
                fail(ErrorKind::InputOutput, std::string("Cannot open the circuit database: ") + std::strerror(errno),
                     path);
            std::size_t got = std::fread(head, 1, sizeof head, f);
            std::fclose(f);
            if (got < sizeof head || std::memcmp(head, "SQLite format 3", 16) != 0)
                fail(ErrorKind::Syntax, "This file is not a circuit database (not an SQLite file)", path);
            if (st.st_size < 512)
                fail(ErrorKind::Syntax, "The circuit database is damaged (shorter than its header)", path);
        }
    } else {
        std::error_code ec;
        const fs::path parent = fs::path(path).parent_path();
        if (!parent.empty()) fs::create_directories(parent, ec);
        if (ec)
            fail(ErrorKind::InputOutput, "Cannot create the folder for the circuit database: " + ec.message(), path);
    }

    int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_FULLMUTEX;
    if (!existed) flags |= SQLITE_OPEN_CREATE;
    int rc = sqlite3_open_v2(path.c_str(), &impl->db, flags, nullptr);
    if (rc != SQLITE_OK) {
        std::string msg = impl->db ? sqlite3_errmsg(impl->db) : sqlite3_errstr(rc);
        fail(ErrorKind::InputOutput, "Cannot open the circuit database: " + msg, path);
    }
    if (sqlite3_db_readonly(impl->db, "main") == 1)
        fail(ErrorKind::InputOutput, "The circuit database cannot be written (no permission to write the file)", path);
    sqlite3_extended_result_codes(impl->db, 1);
    sqlite3_busy_timeout(impl->db, 5000);

    // Closing a connection can fold a write-ahead log left behind into the
    // file; a file that fails the checks must be left exactly as found.
    sqlite3_db_config(impl->db, SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 1, nullptr);
    impl->checkFile(existed);
    sqlite3_db_config(impl->db, SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 0, nullptr);
    // From here on the file is ours and readable.
    impl->exec("PRAGMA foreign_keys = ON");
    {
        auto s = impl->prepare("PRAGMA journal_mode = WAL");
        std::string mode = impl->step(s.get()) ? Impl::columnText(s.get(), 0) : "";
        if (mode != "wal")
            fail(ErrorKind::InputOutput,
                 "The circuit database cannot use a write-ahead log (journal mode " + mode + ")", path);
    }
    impl->exec("PRAGMA synchronous = FULL");
    impl->migrate();
    return CircuitDb(std::move(impl));
}

// ---------------------------------------------------------------------------
// Countries

std::int64_t CircuitDb::addCountry(const Country& in) {
    Impl& d = *impl_;
    Country c = in;
    c.name = trimmed(c.name);
    d.checkName(c.name, "The country");
    for (double v : {c.minLat, c.minLong, c.maxLat, c.maxLong})
        if (!std::isfinite(v))
            fail(ErrorKind::Invalid, "The country's bounding box has a value that is not a number", d.path);
    if (c.minLat > c.maxLat || c.minLong > c.maxLong)
        fail(ErrorKind::Invalid, "The country's bounding box is inverted (a minimum above its maximum)", d.path);
    if (std::fabs(c.minLat) > 90 * 60 || std::fabs(c.maxLat) > 90 * 60 || std::fabs(c.minLong) > 180 * 60 ||
        std::fabs(c.maxLong) > 180 * 60)
        fail(ErrorKind::Invalid, "The country's bounding box lies outside the globe", d.path);
    return d.write([&] {
        if (d.countryId(c.name))
            fail(ErrorKind::Invalid, "A country named '" + c.name + "' is already in the database", d.path);
        auto s = d.prepare(
            "INSERT INTO countries (name, min_lat, min_long, max_lat, max_long) VALUES (?1, ?2, ?3, ?4, ?5)");
        Impl::bindText(s.get(), 1, c.name);
        sqlite3_bind_double(s.get(), 2, c.minLat);
        sqlite3_bind_double(s.get(), 3, c.minLong);
        sqlite3_bind_double(s.get(), 4, c.maxLat);
        sqlite3_bind_double(s.get(), 5, c.maxLong);
        d.step(s.get());
        return static_cast<std::int64_t>(sqlite3_last_insert_rowid(d.db));
    });
}

namespace {
Country readCountry(sqlite3_stmt* s) {
    Country c;
    c.id = sqlite3_column_int64(s, 0);
    const unsigned char* t = sqlite3_column_text(s, 1);
    c.name = t ? reinterpret_cast<const char*>(t) : "";
    c.minLat = sqlite3_column_double(s, 2);
    c.minLong = sqlite3_column_double(s, 3);
    c.maxLat = sqlite3_column_double(s, 4);
    c.maxLong = sqlite3_column_double(s, 5);
    return c;
}
} // namespace

std::vector<Country> CircuitDb::countries() const {
    auto s = impl_->prepare(
        "SELECT id, name, min_lat, min_long, max_lat, max_long FROM countries ORDER BY name COLLATE NOCASE");
    std::vector<Country> out;
    while (impl_->step(s.get())) out.push_back(readCountry(s.get()));
    return out;
}

std::optional<Country> CircuitDb::countryFor(double lat, double lon) const {
    auto s = impl_->prepare("SELECT id, name, min_lat, min_long, max_lat, max_long FROM countries"
                            " WHERE min_lat <= ?1 AND max_lat >= ?1 AND min_long <= ?2 AND max_long >= ?2"
                            " ORDER BY (max_lat - min_lat) * (max_long - min_long), name COLLATE NOCASE LIMIT 1");
    sqlite3_bind_double(s.get(), 1, lat);
    sqlite3_bind_double(s.get(), 2, lon);
    if (impl_->step(s.get())) return readCountry(s.get());
    return std::nullopt;
}

// ---------------------------------------------------------------------------
// Circuits

std::int64_t CircuitDb::addCircuit(const Circuit& c) {
    Circuit ok = impl_->checked(c);
    return impl_->write([&] { return impl_->insertCircuit(ok); });
}

std::vector<std::int64_t> CircuitDb::addCircuits(std::span<const Circuit> cs) {
    std::vector<Circuit> ok;
    ok.reserve(cs.size());
    for (const Circuit& c : cs) ok.push_back(impl_->checked(c));
    return impl_->write([&] {
        std::vector<std::int64_t> ids;
        for (const Circuit& c : ok) ids.push_back(impl_->insertCircuit(c));
        return ids;
    });
}

void CircuitDb::updateCircuit(const Circuit& c) {
    Impl& d = *impl_;
    Circuit ok = d.checked(c);
    d.write([&] {
        auto other = d.circuitId(ok.name);
        if (other && *other != ok.id)
            fail(ErrorKind::Invalid, "A circuit named '" + ok.name + "' is already in the database", d.path);
        std::optional<std::int64_t> cid;
        if (ok.country) {
            cid = d.countryId(*ok.country);
            if (!cid) fail(ErrorKind::Invalid, "No country named '" + *ok.country + "' in the database", d.path);
        }
        auto s = d.prepare(
            "UPDATE circuits SET name = ?1, country_id = ?2, start_lat1 = ?3, start_long1 = ?4, start_lat2 = ?5,"
            " start_long2 = ?6, finish_lat1 = ?7, finish_long1 = ?8, finish_lat2 = ?9, finish_long2 = ?10,"
            " direction = ?11, gate_width = ?12, min_lap = ?13, lap_distance = ?14, notes = ?15 WHERE id = ?16");
        d.bindFields(s.get(), ok, cid);
        sqlite3_bind_int64(s.get(), 16, ok.id);
        d.step(s.get());
        if (sqlite3_changes(d.db) == 0) fail(ErrorKind::Invalid, "That circuit is no longer in the database", d.path);
        auto del = d.prepare("DELETE FROM splits WHERE circuit_id = ?1");
        sqlite3_bind_int64(del.get(), 1, ok.id);
        d.step(del.get());
        d.insertSplits(ok.id, ok.splits);
    });
}

void CircuitDb::renameCircuit(std::string_view oldNameIn, std::string_view newName) {
    Impl& d = *impl_;
    const std::string oldName = trimmed(oldNameIn);
    const std::string to = trimmed(newName);
    d.checkName(to, "The new circuit");
    d.write([&] {
        auto id = d.circuitId(oldName);
        if (!id) fail(ErrorKind::Invalid, "No circuit named '" + oldName + "' in the database", d.path);
        auto other = d.circuitId(to);
        if (other && *other != *id)
            fail(ErrorKind::Invalid, "A circuit named '" + to + "' is already in the database", d.path);
        auto s = d.prepare("UPDATE circuits SET name = ?1 WHERE id = ?2");
        Impl::bindText(s.get(), 1, to);
        sqlite3_bind_int64(s.get(), 2, *id);
        d.step(s.get());
    });
}

void CircuitDb::removeCircuit(std::string_view nameIn) {
    Impl& d = *impl_;
    const std::string name = trimmed(nameIn);
    d.write([&] {
        auto s = d.prepare("DELETE FROM circuits WHERE name = ?1");
        Impl::bindText(s.get(), 1, name);
        d.step(s.get());
        if (sqlite3_changes(d.db) == 0)
            fail(ErrorKind::Invalid, "No circuit named '" + name + "' in the database", d.path);
    });
}

std::vector<Circuit> CircuitDb::circuits() const {
    auto s = impl_->prepare((std::string(Impl::kSelectCircuits) + "ORDER BY c.name COLLATE NOCASE").c_str());
    return impl_->readCircuits(s.get());
}

std::optional<Circuit> CircuitDb::findByName(std::string_view name) const {
    auto s = impl_->prepare((std::string(Impl::kSelectCircuits) + "WHERE c.name = ?1").c_str());
    Impl::bindText(s.get(), 1, trimmed(name));
    auto v = impl_->readCircuits(s.get());
    if (v.empty()) return std::nullopt;
    return std::move(v.front());
}

std::vector<Circuit> CircuitDb::search(std::string_view text) const {
    const std::string t = trimmed(text);
    if (t.empty()) return circuits();
    std::string pattern = "%";
    for (char ch : t) {
        if (ch == '%' || ch == '_' || ch == '\\') pattern += '\\';
        pattern += ch;
    }
    pattern += '%';
    auto s = impl_->prepare((std::string(Impl::kSelectCircuits) +
                             "WHERE c.name LIKE ?1 ESCAPE '\\' OR k.name LIKE ?1 ESCAPE '\\'"
                             " OR c.notes LIKE ?1 ESCAPE '\\' ORDER BY c.name COLLATE NOCASE")
                                .c_str());
    Impl::bindText(s.get(), 1, pattern);
    return impl_->readCircuits(s.get());
}

std::string CircuitDb::exportGxr(std::string_view name) const {
    auto c = findByName(name);
    if (!c) fail(ErrorKind::Invalid, "No circuit named '" + std::string(name) + "' in the database", impl_->path);
    return circuitGxrText(*c);
}

ImportResult CircuitDb::importGxrFolder(const std::string& dir) {
    std::error_code ec;
    if (!fs::is_directory(dir, ec)) {
        if (fs::exists(dir, ec)) fail(ErrorKind::InputOutput, "Not a folder", dir);
        fail(ErrorKind::NotFound, "Folder not found", dir);
    }
    std::vector<fs::path> files;
    for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
        std::string ext = it->path().extension().string();
        std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char ch) { return std::tolower(ch); });
        if (ext == ".gxr" && !it->is_directory(ec)) files.push_back(it->path());
    }
    if (ec) fail(ErrorKind::InputOutput, "Cannot read the folder: " + ec.message(), dir);
    std::sort(files.begin(), files.end());

    ImportResult result;
    std::vector<Circuit> batch;
    for (const fs::path& p : files) {
        try {
            StartFinish sf = readStartFinishFile(p.string());
            Circuit c;
            c.name = trimmed(p.stem().string());
            c.start = sf.start;
            if (sf.hasFinishLine) c.finish = sf.finish;
            if (auto k = countryFor(c.start.lat1, c.start.long1)) c.country = k->name;
            c = impl_->checked(c);
            bool taken = findByName(c.name).has_value();
            for (const Circuit& b : batch) taken = taken || equalsNoCase(b.name, c.name);
            if (taken)
                fail(ErrorKind::Invalid, "A circuit named '" + c.name + "' is already in the database", p.string());
            batch.push_back(std::move(c));
        } catch (const LoadError& e) {
            Diagnostic d = e.diagnostic();
            d.file = p.string();
            result.errors.push_back(std::move(d));
        }
    }
    if (!batch.empty()) result.added = static_cast<int>(addCircuits(batch).size());
    return result;
}

// ---------------------------------------------------------------------------
// Finding the circuit of a track

namespace {
bool usable(const GeoSample& s) {
    return std::isfinite(s.lat) && std::isfinite(s.lon) && !(s.lat == 0 && s.lon == 0) && std::fabs(s.lat) <= 90 * 60 &&
           std::fabs(s.lon) <= 180 * 60;
}
} // namespace

int countGateCrossings(const Gate& gate, const GateRules& rules, std::span<const GeoSample> track) {
    const LocalPlane plane{gate.lat1, gate.long1, calcLongScale(gate.lat1, gate.long1)};
    const LocalPoint p1 = plane.toLocal(gate.lat1, gate.long1);
    const LocalPoint p2 = plane.toLocal(gate.lat2, gate.long2);
    GateRules r = rules;
    if (!r.gateWidth) r.gateWidth = kGateRadius;
    int n = 0;
    bool havePrev = false;
    LocalPoint prev;
    for (const GeoSample& s : track) {
        if (!usable(s)) {
            havePrev = false;
            continue;
        }
        const LocalPoint cur = plane.toLocal(s.lat, s.lon);
        if (havePrev && crossGate(p1, p2, cur, prev, kSampleInterval, r)) ++n;
        prev = cur;
        havePrev = true;
    }
    return n;
}

namespace {
void sortMatches(std::vector<CircuitMatch>& out) {
    std::stable_sort(out.begin(), out.end(), [](const CircuitMatch& a, const CircuitMatch& b) {
        if (a.crossings != b.crossings) return a.crossings > b.crossings;
        return a.circuit.name < b.circuit.name;
    });
}
} // namespace

std::vector<Circuit> CircuitDb::circuitsNear(double minLat, double maxLat, double minLon, double maxLon,
                                             double reach) const {
    // A crossing point lies on the track, so a start gate's point 1 lies
    // within the widest gate width of the track's box.
    double width = reach;
    {
        auto s = impl_->prepare("SELECT max(gate_width) FROM circuits");
        if (impl_->step(s.get()) && sqlite3_column_type(s.get(), 0) != SQLITE_NULL)
            width = std::max(width, sqlite3_column_double(s.get(), 0));
    }
    const double latMargin = width / kMetresPerMinute * 1.01;
    const double scale = calcLongScale(std::max(std::fabs(minLat), std::fabs(maxLat)) + latMargin, 0);
    const double lonMargin = scale > 1e-6 ? width / (kMetresPerMinute * scale) * 1.01 : 360 * 60;
    auto s = impl_->prepare((std::string(Impl::kSelectCircuits) +
                             "WHERE c.start_lat1 BETWEEN ?1 AND ?2 AND c.start_long1 BETWEEN ?3 AND ?4")
                                .c_str());
    sqlite3_bind_double(s.get(), 1, minLat - latMargin);
    sqlite3_bind_double(s.get(), 2, maxLat + latMargin);
    sqlite3_bind_double(s.get(), 3, minLon - lonMargin);
    sqlite3_bind_double(s.get(), 4, maxLon + lonMargin);
    return impl_->readCircuits(s.get());
}

std::vector<CircuitMatch> CircuitDb::findCircuitsForTrack(std::span<const GeoSample> track) const {
    double minLat = 1e300, maxLat = -1e300, minLon = 1e300, maxLon = -1e300;
    for (const GeoSample& s : track) {
        if (!usable(s)) continue;
        minLat = std::min(minLat, s.lat);
        maxLat = std::max(maxLat, s.lat);
        minLon = std::min(minLon, s.lon);
        maxLon = std::max(maxLon, s.lon);
    }
    if (minLat > maxLat) return {};
    std::vector<CircuitMatch> out;
    for (Circuit& c : circuitsNear(minLat, maxLat, minLon, maxLon, kGateRadius)) {
        int n = countGateCrossings(c.start, c.rules, track);
        if (n > 0) out.push_back({std::move(c), n});
    }
    sortMatches(out);
    return out;
}

std::vector<CircuitMatch> CircuitDb::findCircuitsForTrack(const Track& track, const LocalPlane& plane, LogKind kind,
                                                          const GateRules& current) const {
    if (track.samples.empty() || plane.longScale == 0 || !std::isfinite(plane.longScale)) return {};
    TrackExtent box;
    for (const TrackSample& t : track.samples) box.add(t.east, t.north);
    const double metresPerMinuteEast = kMetresPerMinute * plane.longScale;
    const double minLat = plane.baseLat + box.minNorth / kMetresPerMinute;
    const double maxLat = plane.baseLat + box.maxNorth / kMetresPerMinute;
    const double lonA = plane.baseLong + box.minEast / metresPerMinuteEast;
    const double lonB = plane.baseLong + box.maxEast / metresPerMinuteEast;
    // Unset widths: the format's own, else the 25 m of the sample after the line.
    const double reach = std::max(kGateRadius, logFormat(kind).defaultGateWidth.value_or(kGateRadius));
    std::vector<CircuitMatch> out;
    for (Circuit& c : circuitsNear(minLat, maxLat, std::min(lonA, lonB), std::max(lonA, lonB), reach)) {
        // The lap step over the kept track, as recut() runs it.
        const StartFinishFile file = circuitStartFinish(c);
        LapSegmenter segmenter;
        segmenter.reset(file.gates, kind, effectiveRules(kind, circuitRules(c, current)), track.ticksPerSecond);
        for (const TrackSample& t : track.samples)
            segmenter.step(plane, LocalPoint{t.east, t.north}, t.time, t.clock, t.sample);
        const auto n = std::count_if(segmenter.crossings().begin(), segmenter.crossings().end(),
                                     [](const Crossing& x) { return !x.finishGate; });
        if (n > 0) out.push_back({std::move(c), static_cast<int>(n)});
    }
    sortMatches(out);
    return out;
}

} // namespace lorvane
