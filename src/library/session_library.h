// The session library: every log the user has added, read once, with its
// circuit, its laps and their analysis, kept in the circuit database's file
// (tables sessions, session_laps and session_splits; docs/library.md). The
// window and the command line may use it at the same time: every write is one
// transaction per log, so a run that is stopped part-way keeps the logs it
// had stored. Qt-free.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "analysis/lap_trace.h"
#include "circuits/circuit_db.h"
#include "formats/diagnostic.h"
#include "formats/sample.h"
#include "laps/gate_rules.h"
#include "session/loaded_log.h"

namespace lorvane {

// The content hash of the library: FNV-1a 64 over every byte of the file,
// written as 16 lower-case hex digits. Not cryptographic: it tells a changed
// or moved file from the stored one, it does not guard against tampering.
// Throws LoadError when the file cannot be read.
std::string fileContentHash(const std::string& path);
std::uint64_t fnv1a64(const void* data, std::size_t size, std::uint64_t hash = 0xcbf29ce484222325ULL);

enum class AddOutcome {
    Added,     // a new session
    Unchanged, // the stored session is this file's (same path, same bytes)
    Updated,   // the file changed since it was stored and was read again, or it moved (path updated)
    Refused,   // not a log that reads; `reason` says why
};
std::string_view addOutcomeName(AddOutcome o); // "added", "unchanged", "updated", "refused"

struct AddResult {
    std::string path; // as found: the path given, or below a folder given
    AddOutcome outcome = AddOutcome::Refused;
    std::string reason;         // when refused
    std::int64_t sessionId = 0; // the stored session, when not refused
};

struct StoredLap {
    std::int32_t lap = 0;
    double time = 0;                            // seconds
    bool traced = false;                        // false: no distance, top speed or sectors
    std::optional<double> distance;             // metres
    std::optional<double> maxSpeed;             // km/h
    std::vector<std::optional<double>> sectors; // seconds, one per sector
};

struct StoredSession {
    std::int64_t id = 0;
    std::string path; // absolute, symbolic links resolved
    std::uint64_t size = 0;
    std::int64_t mtimeNs = 0; // modification time, nanoseconds since 1970 UTC
    std::string hash;         // fileContentHash
    LogKind kind = LogKind::Text;
    std::optional<std::string> date;      // "YYYY-MM-DD" (UTC)
    std::optional<std::string> timeOfDay; // "HH:MM:SS" (UTC)
    std::string dateSource;               // "log" or "file" (its modification time)
    std::optional<std::int64_t> circuitId;
    std::optional<std::string> circuit; // the circuit's name when the log was added
    std::string startFinishText;        // the start/finish text that cut the laps
    std::vector<Gate> splits;           // the split lines the sectors were cut at
    GateRules rules;                    // the rules that cut the laps
    int sectorCount = 0;
    std::int32_t lapCount = 0;
    std::optional<std::int32_t> bestLap;
    std::optional<double> bestTime;
    std::optional<double> theoreticalBest;
    std::string driver, vehicle, notes;

    // The start/finish definition that cut the laps, as the circuit put it in
    // force then (circuitStartFinish). Throws LoadError when there is none.
    StartFinishFile startFinish() const;
};

// A stored lap's path, kept so that it can be compared with a lap of another
// log without reading its file again: its points every few metres (and its
// two crossing points) in the plane of its own log.
struct StoredLapPath {
    LocalPlane plane;
    LapTrace trace;
};

// The path as stored: per point distance, time, speed, east and north as
// 32-bit floats, little-endian; a point every kStoredPathStep metres.
inline constexpr double kStoredPathStep = 5.0;
std::string encodeLapPath(const LapTrace& trace);
LapTrace decodeLapPath(std::string_view bytes, std::int32_t lap);

struct BestLapEntry {
    std::int64_t session = 0;
    std::int32_t lap = 0;
    double time = 0;
    std::string path;
    std::optional<std::string> date;
};

// One log read and analysed, ready to be stored: what a worker thread hands
// to the thread that writes.
struct AnalysedLog {
    StoredSession session; // id unset
    std::vector<StoredLap> laps;
    LocalPlane plane;               // the log's, for the paths
    std::vector<std::string> paths; // per lap, encodeLapPath (empty when not traced)
};

// Reads the log at `path` once, keeping its track; looks its circuit up in
// `circuits` on that track (the first match, most start line crossings
// first), puts it in force, cuts the laps again and analyses them. A log that
// no circuit matches is kept without laps. Throws LoadError when the file is
// not a log that reads.
AnalysedLog analyseLogFile(const std::string& path, const CircuitDb& circuits);

struct AddOptions {
    unsigned jobs = 0; // worker threads reading the logs; 0: one per core
    // Called on the calling thread after each file, in the order of the
    // files, once its result is stored: the result, files done, files in all.
    std::function<void(const AddResult&, std::size_t, std::size_t)> onFile;
    // Asked on the calling thread before each file is stored (any thread
    // may have set what it reads): false ends the add there. The files
    // stored so far stay; the results are theirs.
    std::function<bool()> keepGoing;
};

class SessionLibrary {
public:
    // Opens the circuit database at `path` (created or brought up to date as
    // CircuitDb::open does; a damaged or newer file is refused, untouched).
    static SessionLibrary open(const std::string& path);

    SessionLibrary(SessionLibrary&&) noexcept;
    SessionLibrary& operator=(SessionLibrary&&) noexcept;
    ~SessionLibrary();

    const std::string& path() const;
    const CircuitDb& circuits() const;

    // Adds the files named and every log below the folders named (a file of
    // a log format's extension, or of .txt whose content is a log; in name
    // order). A file named itself is always tried. One result per file, in
    // that order; a path that does not exist is one refused result.
    std::vector<AddResult> add(std::span<const std::string> paths, const AddOptions& options = {});

    // The sessions, by date and time of day, then id; those at `circuit`
    // (its name as stored, case ignored) when given.
    std::vector<StoredSession> sessions(std::optional<std::string_view> circuit = std::nullopt) const;
    std::optional<StoredSession> session(std::int64_t id) const;
    std::vector<StoredLap> laps(std::int64_t session) const;
    // The fastest `top` laps at `circuit` over all sessions, fastest first
    // (then by session and lap).
    std::vector<BestLapEntry> bestLaps(std::string_view circuit, int top) const;
    // A stored lap's path; nothing when it has none (not traced).
    std::optional<StoredLapPath> lapPath(std::int64_t session, std::int32_t lap) const;

    // The user's notes on a session; throws LoadError for an unknown id.
    void setDriver(std::int64_t session, std::string_view driver);
    void setVehicle(std::int64_t session, std::string_view vehicle);
    void setNotes(std::int64_t session, std::string_view notes);

private:
    struct Impl;
    explicit SessionLibrary(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
};

} // namespace lorvane
