#include "library/session_library.h"

#include <sqlite3.h>
#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <map>
#include <mutex>
#include <set>
#include <thread>
#include <unordered_map>

#include "analysis/lap_analysis.h"
#include "formats/any_log.h"
#include "formats/log_formats.h"
#include "formats/numbers.h"
#include "formats/start_finish.h"
#include "session/session.h"

namespace lorvane {

namespace fs = std::filesystem;

// ---------------------------------------------------------------------------
// Content hash

std::uint64_t fnv1a64(const void* data, std::size_t size, std::uint64_t hash) {
    const auto* p = static_cast<const unsigned char*>(data);
    for (std::size_t i = 0; i < size; ++i) {
        hash ^= p[i];
        hash *= 0x100000001b3ULL;
    }
    return hash;
}

std::string fileContentHash(const std::string& path) {
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) fail(ErrorKind::InputOutput, std::string("Cannot open the file: ") + std::strerror(errno), path);
    std::vector<char> buf(1 << 20);
    std::uint64_t h = 0xcbf29ce484222325ULL;
    for (;;) {
        const std::size_t n = std::fread(buf.data(), 1, buf.size(), f);
        h = fnv1a64(buf.data(), n, h);
        if (n < buf.size()) break;
    }
    const bool bad = std::ferror(f) != 0;
    std::fclose(f);
    if (bad) fail(ErrorKind::InputOutput, "Cannot read the file", path);
    char hex[17];
    std::snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(h));
    return hex;
}

std::string_view addOutcomeName(AddOutcome o) {
    switch (o) {
    case AddOutcome::Added: return "added";
    case AddOutcome::Unchanged: return "unchanged";
    case AddOutcome::Updated: return "updated";
    case AddOutcome::Refused: break;
    }
    return "refused";
}

namespace {

constexpr std::size_t kPathFields = 5;

void putFloat(std::string& out, double v) {
    const auto f = static_cast<float>(v);
    std::uint32_t u;
    std::memcpy(&u, &f, sizeof u);
    for (int k = 0; k < 4; ++k) out.push_back(static_cast<char>((u >> (8 * k)) & 0xFF));
}

double getFloat(const unsigned char* p) {
    std::uint32_t u = 0;
    for (int k = 0; k < 4; ++k) u |= static_cast<std::uint32_t>(p[k]) << (8 * k);
    float f;
    std::memcpy(&f, &u, sizeof f);
    return f;
}

} // namespace

std::string encodeLapPath(const LapTrace& trace) {
    std::string out;
    const auto& pts = trace.points;
    double kept = -kStoredPathStep;
    for (std::size_t i = 0; i < pts.size(); ++i) {
        const TracePoint& p = pts[i];
        // Every few metres, and always the two crossing points.
        if (i != 0 && i + 1 != pts.size() && p.distance - kept < kStoredPathStep) continue;
        kept = p.distance;
        for (const double v : {p.distance, p.time, p.speed, p.east, p.north}) putFloat(out, v);
    }
    return out;
}

LapTrace decodeLapPath(std::string_view bytes, std::int32_t lap) {
    LapTrace t;
    t.lap = lap;
    const std::size_t n = bytes.size() / (4 * kPathFields);
    t.points.reserve(n);
    const auto* b = reinterpret_cast<const unsigned char*>(bytes.data());
    for (std::size_t i = 0; i < n; ++i) {
        const unsigned char* q = b + i * 4 * kPathFields;
        TracePoint p;
        p.distance = getFloat(q);
        p.time = getFloat(q + 4);
        p.speed = getFloat(q + 8);
        p.east = getFloat(q + 12);
        p.north = getFloat(q + 16);
        t.maxSpeed = std::max(t.maxSpeed, p.speed);
        t.points.push_back(p);
    }
    if (!t.points.empty()) {
        t.time = t.points.back().time;
        t.distance = t.points.back().distance;
    }
    return t;
}

StartFinishFile StoredSession::startFinish() const {
    if (!circuit || startFinishText.empty())
        fail(ErrorKind::Invalid, "Session " + std::to_string(id) + " has no circuit, so no laps", path);
    StartFinishFile f;
    f.path = *circuit;
    f.text = startFinishText;
    f.gates = parseStartFinish(f.text, f.path);
    f.splits = splits;
    return f;
}

namespace {

struct FileStamp {
    std::uint64_t size = 0;
    std::int64_t mtimeNs = 0;
};

std::optional<FileStamp> stampOf(const std::string& path, std::string* why = nullptr) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        if (why)
            *why = errno == ENOENT ? "File not found" : std::string("Cannot read the file: ") + std::strerror(errno);
        return std::nullopt;
    }
    if (!S_ISREG(st.st_mode)) {
        if (why) *why = "Not a regular file";
        return std::nullopt;
    }
    return FileStamp{static_cast<std::uint64_t>(st.st_size),
                     static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec};
}

// The one place that says when a session was driven: the log's own date once
// the load reports one, until then the file's modification time (UTC).
// The log's own date where its times carry one, with the time of day of its
// first fix; else the file's modification time (a logger writes the file
// while it records).
void setSessionDate(StoredSession& s, const LoadReport& report, const LoadedLog* log, std::int64_t mtimeNs) {
    char date[48], time[48];
    if (report.date) {
        s.date = *report.date;
        s.dateSource = "log";
        s.timeOfDay.reset();
        if (log && log->track && !log->track->samples.empty()) {
            const double t = log->track->samples.front().time;
            if (t >= 0 && t < 86400) {
                const auto secs = static_cast<int>(t);
                std::snprintf(time, sizeof time, "%02d:%02d:%02d", secs / 3600, secs / 60 % 60, secs % 60);
                s.timeOfDay = time;
            }
        }
        return;
    }
    const std::time_t t = static_cast<std::time_t>(mtimeNs / 1000000000 - (mtimeNs % 1000000000 < 0 ? 1 : 0));
    std::tm tm{};
    if (!gmtime_r(&t, &tm)) return;
    std::snprintf(date, sizeof date, "%04d-%02d-%02d", tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday);
    std::snprintf(time, sizeof time, "%02d:%02d:%02d", tm.tm_hour, tm.tm_min, tm.tm_sec);
    s.date = date;
    s.timeOfDay = time;
    s.dateSource = "file";
}

std::string canonicalPath(const std::string& path) {
    std::error_code ec;
    fs::path p = fs::canonical(path, ec);
    if (ec) p = fs::absolute(path, ec).lexically_normal();
    return p.string();
}

// Sector times as stored: shortest round-trip decimals separated by spaces,
// "-" for a sector without a time.
std::string sectorsText(const std::vector<std::optional<double>>& sectors) {
    std::string out;
    for (const auto& s : sectors) {
        if (!out.empty()) out += ' ';
        out += s ? formatRoundTrip(*s) : "-";
    }
    return out;
}

std::vector<std::optional<double>> parseSectors(std::string_view text) {
    std::vector<std::optional<double>> out;
    std::size_t i = 0;
    while (i < text.size()) {
        std::size_t j = text.find(' ', i);
        if (j == std::string_view::npos) j = text.size();
        const std::string_view item = text.substr(i, j - i);
        out.push_back(item == "-" ? std::nullopt : parseDecimal(item));
        i = j + 1;
    }
    return out;
}

bool isCandidateLog(const fs::path& p) {
    const std::string s = p.string();
    if (logFormatByExtension(s)) return true;
    if (!isGenericLogExtension(s)) return false;
    try {
        return detectLogFile(s).has_value();
    } catch (const LoadError&) {
        return true; // named as a log; its reason shows when it is read
    }
}

struct Found {
    std::string shown;
    std::string error; // the path itself cannot be used
};

std::vector<Found> expandPaths(std::span<const std::string> paths) {
    std::vector<Found> out;
    for (const std::string& p : paths) {
        std::error_code ec;
        const fs::file_status st = fs::status(p, ec);
        if (ec || !fs::exists(st)) {
            out.push_back({p, ec && ec != std::errc::no_such_file_or_directory ? "Cannot read: " + ec.message()
                                                                               : "File not found"});
            continue;
        }
        if (!fs::is_directory(st)) {
            out.push_back({p, {}});
            continue;
        }
        std::vector<std::string> files;
        fs::recursive_directory_iterator it(p, fs::directory_options::skip_permission_denied, ec), end;
        for (; !ec && it != end; it.increment(ec)) {
            std::error_code e2;
            if (it->is_regular_file(e2) && isCandidateLog(it->path())) files.push_back(it->path().string());
        }
        if (ec) out.push_back({p, "Cannot read the folder: " + ec.message()});
        std::sort(files.begin(), files.end());
        for (std::string& f : files) out.push_back({std::move(f), {}});
    }
    return out;
}

struct StmtDeleter {
    void operator()(sqlite3_stmt* s) const { sqlite3_finalize(s); }
};
using Stmt = std::unique_ptr<sqlite3_stmt, StmtDeleter>;

void bindText(sqlite3_stmt* s, int i, std::string_view t) {
    sqlite3_bind_text(s, i, t.data(), static_cast<int>(t.size()), SQLITE_TRANSIENT);
}
void bindOpt(sqlite3_stmt* s, int i, const std::optional<double>& v) {
    if (v)
        sqlite3_bind_double(s, i, *v);
    else
        sqlite3_bind_null(s, i);
}
void bindOptText(sqlite3_stmt* s, int i, const std::optional<std::string>& v) {
    if (v)
        bindText(s, i, *v);
    else
        sqlite3_bind_null(s, i);
}
std::string columnText(sqlite3_stmt* s, int i) {
    const unsigned char* t = sqlite3_column_text(s, i);
    return t ? std::string(reinterpret_cast<const char*>(t), static_cast<std::size_t>(sqlite3_column_bytes(s, i)))
             : std::string();
}
std::optional<std::string> columnOptText(sqlite3_stmt* s, int i) {
    if (sqlite3_column_type(s, i) == SQLITE_NULL) return std::nullopt;
    return columnText(s, i);
}
std::optional<double> columnOpt(sqlite3_stmt* s, int i) {
    if (sqlite3_column_type(s, i) == SQLITE_NULL) return std::nullopt;
    return sqlite3_column_double(s, i);
}

std::optional<LogKind> kindByName(std::string_view name) {
    for (const LogFormat& f : logFormats())
        if (logKindName(f.kind) == name) return f.kind;
    return std::nullopt;
}

} // namespace

// ---------------------------------------------------------------------------
// Reading one log

namespace {

// `hash`: the file's content hash, taken after `stamp` and before the load,
// so that a file changing meanwhile is found changed on the next add.
AnalysedLog analyse(const std::string& path, const CircuitDb& circuits, const FileStamp& stamp, std::string hash) {
    const auto kind = detectLogFile(path);
    if (!kind) fail(ErrorKind::Syntax, "Not a log this program reads (" + logFormatsInWords() + ")", path);

    Session session;
    SessionObserver quiet;
    session.setKeepTrack(true);
    LoadReport report = session.loadLog(*kind, path, quiet);
    if (!report.ok) throw LoadError(report.error);
    // A settings or workout file of a watch reads well but is no session.
    if (report.samples == 0) fail(ErrorKind::Invalid, "The log holds no position fix", path);
    auto log = session.loaded();

    AnalysedLog out;
    StoredSession& s = out.session;
    s.path = canonicalPath(path);
    s.size = stamp.size;
    s.mtimeNs = stamp.mtimeNs;
    s.kind = *kind;
    setSessionDate(s, report, log.get(), stamp.mtimeNs);
    if (log && log->track && log->hasBase) {
        const auto matches = circuits.findCircuitsForTrack(*log->track, log->plane, log->kind, session.gateRules());
        if (!matches.empty()) {
            const Circuit& c = matches.front().circuit;
            session.setStartFinish(circuitStartFinish(c));
            session.setGateRules(circuitRules(c, session.gateRules()));
            report = session.recutLoaded();
            log = session.loaded();
            s.circuitId = c.id;
            s.circuit = c.name;
            s.startFinishText = log->startFinish.text;
            s.splits = log->startFinish.splits;
        }
    }
    s.rules = session.gateRules(); // as chosen: an unset gate width stays unset
    if (log && s.circuit) {
        const LapAnalysis a = analyseLaps(*log);
        s.sectorCount = a.sectorCount;
        s.lapCount = static_cast<std::int32_t>(log->laps.size());
        if (log->bestLap > 0) {
            s.bestLap = log->bestLap;
            s.bestTime = log->bestLapTime;
        }
        s.theoreticalBest = a.table.theoreticalBest;
        out.plane = log->plane;
        out.paths.resize(log->laps.size());
        for (std::size_t i = 0; i < log->laps.size(); ++i) {
            const Lap& l = log->laps[i];
            if (i < a.laps.size() && a.laps[i].traced && log->track)
                out.paths[i] = encodeLapPath(traceLapNumber(*log->track, log->laps, log->crossings, l.number));
            StoredLap lap;
            lap.lap = l.number;
            lap.time = l.time;
            if (i < a.laps.size() && a.laps[i].traced) {
                lap.traced = true;
                lap.distance = a.laps[i].distance;
                lap.maxSpeed = a.laps[i].maxSpeed;
                lap.sectors = a.laps[i].sectors;
            }
            out.laps.push_back(std::move(lap));
        }
    }
    s.hash = std::move(hash);
    return out;
}

} // namespace

AnalysedLog analyseLogFile(const std::string& path, const CircuitDb& circuits) {
    std::string why;
    const auto stamp = stampOf(path, &why);
    if (!stamp) fail(ErrorKind::InputOutput, why, path);
    return analyse(path, circuits, *stamp, fileContentHash(path));
}

// ---------------------------------------------------------------------------
// The library

struct SessionLibrary::Impl {
    CircuitDb db;
    sqlite3* c = nullptr;

    explicit Impl(CircuitDb d) : db(std::move(d)), c(db.connection()) {
        // A library of thousands of sessions outgrows SQLite's default 2 MB
        // page cache: a listing would read its pages from the file again on
        // every query. Reads go through a memory map instead.
        sqlite3_exec(c, "PRAGMA mmap_size = 268435456; PRAGMA cache_size = -16384", nullptr, nullptr, nullptr);
    }

    [[noreturn]] void sqlFail(int rc) const {
        const int primary = rc & 0xff;
        std::string msg;
        if (primary == SQLITE_BUSY || primary == SQLITE_LOCKED)
            msg = "The circuit database is busy: another program kept it locked for too long";
        else if (primary == SQLITE_FULL)
            msg = "The disk is full; nothing was stored";
        else
            msg = std::string("Database error: ") + sqlite3_errmsg(c);
        fail(primary == SQLITE_BUSY || primary == SQLITE_LOCKED ? ErrorKind::Busy : ErrorKind::InputOutput, msg,
             db.path());
    }
    Stmt prepare(const char* sql) const {
        sqlite3_stmt* s = nullptr;
        const int rc = sqlite3_prepare_v2(c, sql, -1, &s, nullptr);
        if (rc != SQLITE_OK) sqlFail(rc);
        return Stmt(s);
    }
    bool step(sqlite3_stmt* s) const {
        const int rc = sqlite3_step(s);
        if (rc == SQLITE_ROW) return true;
        if (rc == SQLITE_DONE) return false;
        sqlFail(rc);
    }
    void exec(const char* sql) const {
        const int rc = sqlite3_exec(c, sql, nullptr, nullptr, nullptr);
        if (rc != SQLITE_OK) sqlFail(rc);
    }
    template <class F>
    auto write(F&& f) {
        exec("BEGIN IMMEDIATE");
        try {
            auto r = f();
            exec("COMMIT");
            return r;
        } catch (...) {
            sqlite3_exec(c, "ROLLBACK", nullptr, nullptr, nullptr);
            throw;
        }
    }

    // `full`: with the start/finish text and the split lines, which only a
    // single session's reader wants; a listing leaves them out.
    static std::string selectSql(bool full) {
        return std::string("SELECT id, path, size, mtime_ns, hash, kind, date, time_of_day, date_source, circuit_id,"
                           " circuit, ") +
               (full ? "start_finish" : "''") +
               ", direction, gate_width, min_lap, max_gap, sector_count, lap_count, best_lap, best_time,"
               " theoretical_best, driver, vehicle, notes FROM sessions ";
    }

    void readRow(sqlite3_stmt* s, StoredSession& r) const {
        r.id = sqlite3_column_int64(s, 0);
        r.path = columnText(s, 1);
        r.size = static_cast<std::uint64_t>(sqlite3_column_int64(s, 2));
        r.mtimeNs = sqlite3_column_int64(s, 3);
        r.hash = columnText(s, 4);
        r.kind = kindByName(columnText(s, 5)).value_or(LogKind::Text);
        r.date = columnOptText(s, 6);
        r.timeOfDay = columnOptText(s, 7);
        r.dateSource = columnText(s, 8);
        if (sqlite3_column_type(s, 9) != SQLITE_NULL) r.circuitId = sqlite3_column_int64(s, 9);
        r.circuit = columnOptText(s, 10);
        r.startFinishText = columnText(s, 11);
        r.rules.direction = parseDirection(columnText(s, 12)).value_or(GateDirection::Both);
        r.rules.gateWidth = columnOpt(s, 13);
        r.rules.minLap = sqlite3_column_double(s, 14);
        r.rules.maxGap = sqlite3_column_double(s, 15);
        r.sectorCount = sqlite3_column_int(s, 16);
        r.lapCount = sqlite3_column_int(s, 17);
        if (sqlite3_column_type(s, 18) != SQLITE_NULL) r.bestLap = sqlite3_column_int(s, 18);
        r.bestTime = columnOpt(s, 19);
        r.theoreticalBest = columnOpt(s, 20);
        r.driver = columnText(s, 21);
        r.vehicle = columnText(s, 22);
        r.notes = columnText(s, 23);
    }

    std::vector<StoredSession> select(const std::string& where, const std::string& order,
                                      const std::function<void(sqlite3_stmt*)>& bind, bool full) const {
        std::vector<StoredSession> out;
        { // the rows are large: counted first (from the index), so they are not moved as the list grows
            auto n = prepare(("SELECT count(*) FROM sessions " + where).c_str());
            bind(n.get());
            if (step(n.get())) out.reserve(static_cast<std::size_t>(sqlite3_column_int64(n.get(), 0)));
        }
        auto s = prepare((selectSql(full) + where + order).c_str());
        bind(s.get());
        while (step(s.get())) readRow(s.get(), out.emplace_back());
        if (full) {
            auto sp = prepare("SELECT lat1, long1, lat2, long2 FROM session_splits WHERE session_id = ?1 ORDER BY seq");
            for (StoredSession& r : out) {
                sqlite3_reset(sp.get());
                sqlite3_bind_int64(sp.get(), 1, r.id);
                while (step(sp.get()))
                    r.splits.push_back({sqlite3_column_double(sp.get(), 0), sqlite3_column_double(sp.get(), 1),
                                        sqlite3_column_double(sp.get(), 2), sqlite3_column_double(sp.get(), 3)});
            }
        }
        return out;
    }

    // Inside a transaction: the session's row, laps and splits, replacing
    // those of `id` when it is not 0 (the user's driver, vehicle and notes stay).
    std::int64_t store(const AnalysedLog& a, std::int64_t id) {
        const StoredSession& s = a.session;
        auto st = prepare(
            id ? "UPDATE sessions SET path = ?1, size = ?2, mtime_ns = ?3, hash = ?4, kind = ?5, date = ?6,"
                 " time_of_day = ?7, date_source = ?8, circuit_id = ?9, circuit = ?10, start_finish = ?11,"
                 " direction = ?12, gate_width = ?13, min_lap = ?14, max_gap = ?15, sector_count = ?16,"
                 " lap_count = ?17, best_lap = ?18, best_time = ?19, theoretical_best = ?20 WHERE id = ?21"
               : "INSERT INTO sessions (path, size, mtime_ns, hash, kind, date, time_of_day, date_source, circuit_id,"
                 " circuit, start_finish, direction, gate_width, min_lap, max_gap, sector_count, lap_count, best_lap,"
                 " best_time, theoretical_best) VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, ?12, ?13,"
                 " ?14, ?15, ?16, ?17, ?18, ?19, ?20)");
        sqlite3_stmt* q = st.get();
        bindText(q, 1, s.path);
        sqlite3_bind_int64(q, 2, static_cast<std::int64_t>(s.size));
        sqlite3_bind_int64(q, 3, s.mtimeNs);
        bindText(q, 4, s.hash);
        bindText(q, 5, logKindName(s.kind));
        bindOptText(q, 6, s.date);
        bindOptText(q, 7, s.timeOfDay);
        bindText(q, 8, s.dateSource.empty() ? "file" : s.dateSource);
        // The circuit may have been removed since the lookup.
        std::optional<std::int64_t> cid = s.circuitId;
        if (cid) {
            auto k = prepare("SELECT 1 FROM circuits WHERE id = ?1");
            sqlite3_bind_int64(k.get(), 1, *cid);
            if (!step(k.get())) cid.reset();
        }
        if (cid)
            sqlite3_bind_int64(q, 9, *cid);
        else
            sqlite3_bind_null(q, 9);
        bindOptText(q, 10, s.circuit);
        if (s.circuit)
            bindText(q, 11, s.startFinishText);
        else
            sqlite3_bind_null(q, 11);
        bindText(q, 12, directionName(s.rules.direction));
        bindOpt(q, 13, s.rules.gateWidth);
        sqlite3_bind_double(q, 14, s.rules.minLap);
        sqlite3_bind_double(q, 15, s.rules.maxGap);
        sqlite3_bind_int(q, 16, s.sectorCount);
        sqlite3_bind_int(q, 17, s.lapCount);
        if (s.bestLap)
            sqlite3_bind_int(q, 18, *s.bestLap);
        else
            sqlite3_bind_null(q, 18);
        bindOpt(q, 19, s.bestTime);
        bindOpt(q, 20, s.theoreticalBest);
        if (id) sqlite3_bind_int64(q, 21, id);
        step(q);
        if (!id) id = sqlite3_last_insert_rowid(c);
        for (const char* del :
             {"DELETE FROM session_laps WHERE session_id = ?1", "DELETE FROM session_splits WHERE session_id = ?1",
              "DELETE FROM session_lap_paths WHERE session_id = ?1"}) {
            auto d = prepare(del);
            sqlite3_bind_int64(d.get(), 1, id);
            step(d.get());
        }
        auto sp = prepare(
            "INSERT INTO session_splits (session_id, seq, lat1, long1, lat2, long2) VALUES (?1, ?2, ?3, ?4, ?5, ?6)");
        for (std::size_t i = 0; i < s.splits.size(); ++i) {
            sqlite3_reset(sp.get());
            sqlite3_bind_int64(sp.get(), 1, id);
            sqlite3_bind_int64(sp.get(), 2, static_cast<std::int64_t>(i));
            sqlite3_bind_double(sp.get(), 3, s.splits[i].lat1);
            sqlite3_bind_double(sp.get(), 4, s.splits[i].long1);
            sqlite3_bind_double(sp.get(), 5, s.splits[i].lat2);
            sqlite3_bind_double(sp.get(), 6, s.splits[i].long2);
            step(sp.get());
        }
        auto pp = prepare("INSERT INTO session_lap_paths (session_id, lap, base_lat, base_long, long_scale, points)"
                          " VALUES (?1, ?2, ?3, ?4, ?5, ?6)");
        for (std::size_t i = 0; i < a.laps.size() && i < a.paths.size(); ++i) {
            if (a.paths[i].empty()) continue;
            sqlite3_reset(pp.get());
            sqlite3_bind_int64(pp.get(), 1, id);
            sqlite3_bind_int(pp.get(), 2, a.laps[i].lap);
            sqlite3_bind_double(pp.get(), 3, a.plane.baseLat);
            sqlite3_bind_double(pp.get(), 4, a.plane.baseLong);
            sqlite3_bind_double(pp.get(), 5, a.plane.longScale);
            sqlite3_bind_blob(pp.get(), 6, a.paths[i].data(), static_cast<int>(a.paths[i].size()), SQLITE_TRANSIENT);
            step(pp.get());
        }
        auto lp = prepare("INSERT INTO session_laps (session_id, lap, time, circuit, traced, distance, max_speed,"
                          " sectors) VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8)");
        for (const StoredLap& l : a.laps) {
            sqlite3_reset(lp.get());
            sqlite3_bind_int64(lp.get(), 1, id);
            sqlite3_bind_int(lp.get(), 2, l.lap);
            sqlite3_bind_double(lp.get(), 3, l.time);
            bindOptText(lp.get(), 4, s.circuit);
            sqlite3_bind_int(lp.get(), 5, l.traced ? 1 : 0);
            bindOpt(lp.get(), 6, l.distance);
            bindOpt(lp.get(), 7, l.maxSpeed);
            bindText(lp.get(), 8, sectorsText(l.sectors));
            step(lp.get());
        }
        return id;
    }

    void setText(std::int64_t id, const char* sql, std::string_view text) {
        write([&] {
            auto s = prepare(sql);
            bindText(s.get(), 1, text);
            sqlite3_bind_int64(s.get(), 2, id);
            step(s.get());
            if (sqlite3_changes(c) == 0)
                fail(ErrorKind::Invalid, "No session " + std::to_string(id) + " in the library", db.path());
            return 0;
        });
    }
};

SessionLibrary::SessionLibrary(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
SessionLibrary::SessionLibrary(SessionLibrary&&) noexcept = default;
SessionLibrary& SessionLibrary::operator=(SessionLibrary&&) noexcept = default;
SessionLibrary::~SessionLibrary() = default;

SessionLibrary SessionLibrary::open(const std::string& path) {
    return SessionLibrary(std::make_unique<Impl>(CircuitDb::open(path)));
}

const std::string& SessionLibrary::path() const {
    return impl_->db.path();
}
const CircuitDb& SessionLibrary::circuits() const {
    return impl_->db;
}

std::vector<StoredSession> SessionLibrary::sessions(std::optional<std::string_view> circuit) const {
    const std::string order = " ORDER BY date, time_of_day, id";
    if (!circuit)
        return impl_->select(
            "", order, [](sqlite3_stmt*) {}, false);
    const std::string name(*circuit);
    return impl_->select(
        "WHERE circuit = ?1 COLLATE NOCASE", order, [&](sqlite3_stmt* s) { bindText(s, 1, name); }, false);
}

std::optional<StoredSession> SessionLibrary::session(std::int64_t id) const {
    auto v = impl_->select(
        "WHERE id = ?1", "", [&](sqlite3_stmt* s) { sqlite3_bind_int64(s, 1, id); }, true);
    if (v.empty()) return std::nullopt;
    return std::move(v.front());
}

std::vector<StoredLap> SessionLibrary::laps(std::int64_t session) const {
    auto s = impl_->prepare("SELECT lap, time, traced, distance, max_speed, sectors FROM session_laps"
                            " WHERE session_id = ?1 ORDER BY lap");
    sqlite3_bind_int64(s.get(), 1, session);
    std::vector<StoredLap> out;
    while (impl_->step(s.get())) {
        StoredLap l;
        l.lap = sqlite3_column_int(s.get(), 0);
        l.time = sqlite3_column_double(s.get(), 1);
        l.traced = sqlite3_column_int(s.get(), 2) != 0;
        l.distance = columnOpt(s.get(), 3);
        l.maxSpeed = columnOpt(s.get(), 4);
        l.sectors = parseSectors(columnText(s.get(), 5));
        out.push_back(std::move(l));
    }
    return out;
}

std::optional<StoredLapPath> SessionLibrary::lapPath(std::int64_t session, std::int32_t lap) const {
    auto s = impl_->prepare("SELECT base_lat, base_long, long_scale, points FROM session_lap_paths"
                            " WHERE session_id = ?1 AND lap = ?2");
    sqlite3_bind_int64(s.get(), 1, session);
    sqlite3_bind_int(s.get(), 2, lap);
    if (!impl_->step(s.get())) return std::nullopt;
    StoredLapPath p;
    p.plane.baseLat = sqlite3_column_double(s.get(), 0);
    p.plane.baseLong = sqlite3_column_double(s.get(), 1);
    p.plane.longScale = sqlite3_column_double(s.get(), 2);
    const auto* bytes = static_cast<const char*>(sqlite3_column_blob(s.get(), 3));
    const auto size = static_cast<std::size_t>(sqlite3_column_bytes(s.get(), 3));
    p.trace = decodeLapPath(std::string_view(bytes ? bytes : "", bytes ? size : 0), lap);
    if (p.trace.empty()) return std::nullopt;
    return p;
}

std::vector<BestLapEntry> SessionLibrary::bestLaps(std::string_view circuit, int top) const {
    auto s = impl_->prepare("SELECT l.session_id, l.lap, l.time, s.path, s.date FROM session_laps l"
                            " JOIN sessions s ON s.id = l.session_id WHERE l.circuit = ?1 COLLATE NOCASE"
                            " ORDER BY l.time, l.session_id, l.lap LIMIT ?2");
    bindText(s.get(), 1, circuit);
    sqlite3_bind_int(s.get(), 2, std::max(top, 0));
    std::vector<BestLapEntry> out;
    while (impl_->step(s.get()))
        out.push_back({sqlite3_column_int64(s.get(), 0), sqlite3_column_int(s.get(), 1),
                       sqlite3_column_double(s.get(), 2), columnText(s.get(), 3), columnOptText(s.get(), 4)});
    return out;
}

void SessionLibrary::setDriver(std::int64_t session, std::string_view driver) {
    impl_->setText(session, "UPDATE sessions SET driver = ?1 WHERE id = ?2", driver);
}
void SessionLibrary::setVehicle(std::int64_t session, std::string_view vehicle) {
    impl_->setText(session, "UPDATE sessions SET vehicle = ?1 WHERE id = ?2", vehicle);
}
void SessionLibrary::setNotes(std::int64_t session, std::string_view notes) {
    impl_->setText(session, "UPDATE sessions SET notes = ?1 WHERE id = ?2", notes);
}

// ---------------------------------------------------------------------------
// Adding logs: worker threads read, hash and analyse; this thread writes, one
// transaction per file, in the order of the files.

namespace {

struct KnownFile {
    std::int64_t id = 0;
    std::string path;
    std::uint64_t size = 0;
    std::int64_t mtimeNs = 0;
    std::string hash;
    bool hasCircuit = false;
};

// What a worker found out about one file.
struct Work {
    enum class Plan { Refuse, Same, Move, Store } plan = Plan::Refuse;
    std::string reason;             // Refuse
    std::int64_t id = 0;            // Same, Move: the stored session
    std::string path, hash;         // canonical path and content hash
    FileStamp stamp;                // Same (when the stamp changed), Move
    bool touch = false;             // Same: the stored stamp is to be updated
    std::optional<AnalysedLog> log; // Store
};

} // namespace

std::vector<AddResult> SessionLibrary::add(std::span<const std::string> paths, const AddOptions& options) {
    Impl& d = *impl_;
    const std::vector<Found> files = expandPaths(paths);

    // What is stored now, for the decisions that need no write.
    std::unordered_map<std::string, KnownFile> byPath;
    std::unordered_multimap<std::string, std::string> pathsByHash;
    {
        auto s = d.prepare("SELECT id, path, size, mtime_ns, hash, circuit IS NOT NULL FROM sessions");
        while (d.step(s.get())) {
            KnownFile k{sqlite3_column_int64(s.get(), 0),
                        columnText(s.get(), 1),
                        static_cast<std::uint64_t>(sqlite3_column_int64(s.get(), 2)),
                        sqlite3_column_int64(s.get(), 3),
                        columnText(s.get(), 4),
                        sqlite3_column_int(s.get(), 5) != 0};
            pathsByHash.emplace(k.hash, k.path);
            byPath.emplace(k.path, std::move(k));
        }
    }
    // A stored session whose file is gone and whose hash is `hash`.
    auto movedFrom = [&](const std::string& hash) -> std::optional<std::int64_t> {
        auto [b, e] = pathsByHash.equal_range(hash);
        for (auto it = b; it != e; ++it) {
            std::error_code ec;
            if (!fs::exists(it->second, ec) && !ec) return byPath.at(it->second).id;
        }
        return std::nullopt;
    };

    const std::string dbPath = d.db.path();
    auto examine = [&](const Found& f, const CircuitDb& lookup) {
        Work w;
        if (!f.error.empty()) {
            w.reason = f.error;
            return w;
        }
        try {
            std::string why;
            const auto stamp = stampOf(f.shown, &why);
            if (!stamp) {
                w.reason = why;
                return w;
            }
            w.stamp = *stamp;
            w.path = canonicalPath(f.shown);
            const auto known = byPath.find(w.path);
            // A session stored without a circuit is looked up again: its
            // circuit may have been added since.
            const bool lookAgain = known != byPath.end() && !known->second.hasCircuit;
            if (known != byPath.end() && known->second.size == stamp->size && known->second.mtimeNs == stamp->mtimeNs &&
                !lookAgain) {
                w.plan = Work::Plan::Same;
                w.id = known->second.id;
                return w;
            }
            w.hash = fileContentHash(f.shown);
            if (known != byPath.end() && known->second.hash == w.hash) {
                w.plan = Work::Plan::Same;
                w.id = known->second.id;
                w.touch = known->second.size != stamp->size || known->second.mtimeNs != stamp->mtimeNs;
                if (!lookAgain) return w;
                AnalysedLog again = analyse(f.shown, lookup, w.stamp, w.hash);
                if (!again.session.circuit) return w;
                w.log = std::move(again);
                w.plan = Work::Plan::Store;
                return w;
            }
            if (known == byPath.end())
                if (auto id = movedFrom(w.hash)) {
                    w.plan = Work::Plan::Move;
                    w.id = *id;
                    return w;
                }
            w.log = analyse(f.shown, lookup, w.stamp, w.hash);
            w.plan = Work::Plan::Store;
        } catch (const LoadError& e) {
            w.plan = Work::Plan::Refuse;
            w.reason = e.diagnostic().message;
            const std::string where = e.diagnostic().where();
            if (!where.empty() && e.diagnostic().line > 0) w.reason += " (" + where + ")";
        } catch (const std::exception& e) {
            w.plan = Work::Plan::Refuse;
            w.reason = e.what();
        }
        return w;
    };

    const std::size_t n = files.size();
    std::vector<std::optional<Work>> done(n);
    std::mutex m;
    std::condition_variable cv;
    std::atomic<std::size_t> next{0};
    std::atomic<bool> stop{false};
    unsigned jobs = options.jobs ? options.jobs : std::max(1u, std::thread::hardware_concurrency());
    jobs = static_cast<unsigned>(std::min<std::size_t>(jobs, std::max<std::size_t>(n, 1)));

    std::vector<std::thread> workers;
    for (unsigned j = 0; j < jobs && n > 0; ++j)
        workers.emplace_back([&] {
            std::optional<CircuitDb> lookup;
            std::string openError;
            try {
                lookup.emplace(CircuitDb::open(dbPath));
            } catch (const LoadError& e) {
                openError = e.diagnostic().message;
            }
            for (std::size_t i; !stop && (i = next++) < n;) {
                Work w;
                if (lookup)
                    w = examine(files[i], *lookup);
                else
                    w.reason = "The circuit lookup cannot open the database: " + openError;
                std::lock_guard lock(m);
                done[i] = std::move(w);
                cv.notify_all();
            }
        });

    std::vector<AddResult> results;
    std::set<std::int64_t> movedNow;
    try {
        for (std::size_t i = 0; i < n; ++i) {
            if (options.keepGoing && !options.keepGoing()) {
                stop = true;
                break;
            }
            Work w;
            {
                std::unique_lock lock(m);
                cv.wait(lock, [&] { return done[i].has_value(); });
                w = std::move(*done[i]);
                done[i].reset();
            }
            AddResult r;
            r.path = files[i].shown;
            if (w.plan == Work::Plan::Move && movedNow.count(w.id)) {
                // Two copies of a moved file: the first took the session over.
                try {
                    w.log = analyseLogFile(r.path, d.db);
                    w.plan = Work::Plan::Store;
                } catch (const LoadError& e) {
                    w.plan = Work::Plan::Refuse;
                    w.reason = e.diagnostic().message;
                }
            }
            switch (w.plan) {
            case Work::Plan::Refuse:
                r.outcome = AddOutcome::Refused;
                r.reason = w.reason;
                break;
            case Work::Plan::Same:
                r.outcome = AddOutcome::Unchanged;
                r.sessionId = w.id;
                if (w.touch)
                    d.write([&] {
                        auto s = d.prepare("UPDATE sessions SET size = ?1, mtime_ns = ?2 WHERE id = ?3");
                        sqlite3_bind_int64(s.get(), 1, static_cast<std::int64_t>(w.stamp.size));
                        sqlite3_bind_int64(s.get(), 2, w.stamp.mtimeNs);
                        sqlite3_bind_int64(s.get(), 3, w.id);
                        d.step(s.get());
                        return 0;
                    });
                break;
            case Work::Plan::Move:
                r.outcome = AddOutcome::Updated;
                r.sessionId = w.id;
                movedNow.insert(w.id);
                d.write([&] {
                    auto s = d.prepare("UPDATE sessions SET path = ?1, size = ?2, mtime_ns = ?3 WHERE id = ?4");
                    bindText(s.get(), 1, w.path);
                    sqlite3_bind_int64(s.get(), 2, static_cast<std::int64_t>(w.stamp.size));
                    sqlite3_bind_int64(s.get(), 3, w.stamp.mtimeNs);
                    sqlite3_bind_int64(s.get(), 4, w.id);
                    d.step(s.get());
                    return 0;
                });
                break;
            case Work::Plan::Store:
                d.write([&] {
                    // Looked up again inside the transaction: another program
                    // may have stored this file meanwhile.
                    auto s = d.prepare("SELECT id, hash, circuit FROM sessions WHERE path = ?1");
                    bindText(s.get(), 1, w.log->session.path);
                    std::int64_t id = 0;
                    if (d.step(s.get())) {
                        id = sqlite3_column_int64(s.get(), 0);
                        const bool same = columnText(s.get(), 1) == w.log->session.hash &&
                                          columnOptText(s.get(), 2) == w.log->session.circuit;
                        r.outcome = same ? AddOutcome::Unchanged : AddOutcome::Updated;
                    } else {
                        r.outcome = AddOutcome::Added;
                    }
                    s.reset();
                    r.sessionId = d.store(*w.log, id);
                    return 0;
                });
                break;
            }
            if (options.onFile) options.onFile(r, i + 1, n);
            results.push_back(std::move(r));
        }
    } catch (...) {
        stop = true;
        for (std::thread& t : workers) t.join();
        throw;
    }
    for (std::thread& t : workers) t.join();
    return results;
}

} // namespace lorvane
