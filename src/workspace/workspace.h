// What a user works on, under both front ends: the start/finish lines in
// force (from a file, the circuit database or placed on the map), the gate
// rules, the loaded log with its lap analysis, the selected and compared
// laps and the status line. Every command changes that state and hands back
// one immutable Snapshot, which the window only draws and the command line
// only prints. Qt-free; commands run on the caller's thread, and the slow
// part of a load (reading the log, analysing its laps) runs wherever the
// caller puts it (see LoadWorker in the window, and loadLogNow).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "analysis/lap_analysis.h"
#include "analysis/lap_trace.h"
#include "analysis/units.h"
#include "circuits/circuit_db.h"
#include "library/session_library.h"
#include "reference/reference_read.h"
#include "session/lap_check.h"
#include "session/session.h"
#include "track/gate_lines.h"

namespace lorvane {

// Everything derived from one loaded log that the views draw: made once per
// load or re-cut, off the window's thread for a load.
struct LogView {
    std::shared_ptr<const LoadedLog> log;
    LapAnalysis analysis;
    // Laps that look split, and the rules that join them when some do.
    std::optional<SplitLaps> split;
    // The gates (start, finish, then the split lines) as drawn on the track,
    // and each gate's point 1, which may be dragged (NaN for a gate that is
    // not there: no start line before a finish line).
    std::vector<track::GateLine> gateLines;
    std::vector<LocalPoint> gateHandles;
};

// Analyses `log` for the views. Takes as long as the lap analysis and the
// split-lap check (which cuts the laps again for each remedy it tries);
// without `analyse`, only the gates as drawn.
std::shared_ptr<const LogView> makeLogView(std::shared_ptr<const LoadedLog> log, bool analyse = true);

struct Snapshot {
    // The loaded log and its analysis; null before the first load ends.
    std::shared_ptr<const LogView> view;
    // The start/finish lines and rules the next load (or re-cut) uses.
    StartFinishFile startFinish;
    GateRules rules;
    bool hasStartFinish = false;
    // The logs may be loaded: a start/finish file or placed lines are in
    // force, or the circuit database can supply them.
    bool logLoadsEnabled = false;
    // The lines in force came from the circuit database: the next log is
    // looked up again.
    bool circuitFromDb = false;
    // Lines were placed on the map and not saved since.
    bool linesUnsaved = false;
    // The selected lap and the one compared with it (0: none), with their
    // traces when the log kept its track.
    std::int32_t selectedLap = 0;
    std::int32_t comparedLap = 0;
    std::shared_ptr<const LapTrace> selected, compared;
    // A lap from outside the loaded log: a reference file opened (File >
    // Open reference file) or a lap of a stored session of the same circuit,
    // laid out in the loaded log's plane (in its own before a log is
    // loaded). Every lap is compared with it: it is the reference, or, when
    // `referenceIsCompared`, the lap drawn against the selected one. Null
    // when there is none.
    std::shared_ptr<const LapTrace> referenceFile;
    std::string referencePath; // the file, or "PATH lap N" for a stored lap
    double referenceTime = 0;  // its lap time, seconds
    bool referenceIsCompared = false;
    // The status line.
    std::string status;

    const LoadedLog* log() const { return view ? view->log.get() : nullptr; }
};

enum class LineKind { Start, Finish, Split };

class Workspace {
public:
    // Works on `session`'s loads. Whether loads keep their track (for
    // placing lines, cutting again and the lap analysis) is the session's
    // setting: the window keeps it, the plain lap list does not.
    explicit Workspace(Session& session);

    const Snapshot& snapshot() const { return *snapshot_; }
    std::shared_ptr<const Snapshot> shared() const { return snapshot_; }
    Session& session() { return session_; }
    const Session& session() const { return session_; }

    // --- the circuit database ---
    // The database circuits are looked up in (empty: the user's own).
    void setCircuitDbPath(std::string path);
    const std::string& circuitDbPath() const { return circuitDbPath_; }
    // Whether loads and re-cuts analyse the laps for the views (the command
    // line prints an analysis of its own, with the sectors asked for).
    void setAnalyse(bool on) { analyse_ = on; }
    // Whether that database exists and holds a circuit (then the logs may be
    // loaded without a start/finish file). Never creates it.
    bool circuitsAvailable() const;
    // Enables the log loads when the database can supply the lines.
    const Snapshot& enableLogLoadsIfCircuits();
    // Enables them anyway: the user chose to go on without a start/finish file.
    const Snapshot& enableLogLoads();

    // --- the start/finish lines ---
    // Reads a .gxr (and the split lines kept beside it). A log already loaded
    // is cut at the new gates at once. Failures change nothing.
    StartFinishReport loadStartFinish(const std::string& path);
    // Writes the lines in force as a .gxr (split lines beside it), and puts
    // the saved file in force. `path` gets ".gxr" when its name would not
    // pass the loader's name test; returns the path written. Throws LoadError.
    std::string saveStartFinishFile(std::string path);
    // Places a line across the track at the kept sample nearest to `at` (a
    // split line is added after the others) and cuts the laps again. Throws
    // LoadError with a message for the user when there is no track there.
    const Snapshot& placeLine(LineKind kind, LocalPoint at);
    // Moves a gate (its handle index, as in LogView::gateHandles) to the
    // track sample nearest to `at`.
    const Snapshot& moveLine(int handle, LocalPoint at);
    // Removes the finish line and puts back the rules in force before it.
    const Snapshot& removeFinishLine();
    // Removes split line `index` (from 0, in driving order).
    const Snapshot& removeSplitLine(std::size_t index);

    // --- loads ---
    // A log load is about to start: the status says so. The load itself is
    // Session::loadLog, then makeLogView, then loadEnded.
    const Snapshot& loadStarting(const std::string& path);
    // Makes a finished load (and its view, made by makeLogView from the
    // session's loaded log) the one shown.
    const Snapshot& loadEnded(const LoadReport& report, std::shared_ptr<const LogView> view);
    // The whole load on this thread (the command line; tests).
    const Snapshot& loadLogNow(LogKind kind, const std::string& path);
    // Cuts the loaded log's laps again with the lines and rules in force.
    const Snapshot& recut();
    // Puts `rules` in force and cuts the laps again.
    const Snapshot& setRules(const GateRules& rules);

    // --- the circuit lookup for a loaded log without a start/finish file ---
    // The circuits of the database the loaded log's track crosses the start
    // line of. Throws LoadError when the database does not read.
    std::vector<CircuitMatch> findCircuits() const;
    // Puts a circuit's lines and rules in force and cuts the laps again.
    const Snapshot& useCircuit(const Circuit& circuit);
    // A word for the status line after a lookup found nothing or no circuit
    // was chosen.
    const Snapshot& noteStatus(const std::string& note);

    // --- a reference file read back ---
    // Opens a reference file as the lap every lap is compared with. Refused
    // (LoadError) when its start/finish lines are not the loaded log's.
    const Snapshot& openReferenceFile(const std::string& path);
    const Snapshot& closeReferenceFile();
    // (Stored sessions here are as SessionLibrary::session(id) gives them:
    // the listing leaves their lines out.)
    // A lap of a stored session (the library) in place of a reference file:
    // as the reference, or as the lap compared with the selected one.
    // Refused when it is another circuit's, or its log is gone or changed.
    const Snapshot& useStoredLap(const StoredSession& session, std::int32_t lap, bool asCompared = false);
    // Puts a stored session's lines and rules in force for the next load
    // (opening it in the window: then load its log).
    const Snapshot& useStoredSession(const StoredSession& session);

    // --- laps ---
    const Snapshot& selectLap(std::int32_t lap);
    const Snapshot& compareWith(std::int32_t lap);
    // Writes a picked lap of the loaded log as the reference file. Throws.
    void saveLapRefFile(const LoadedLog& log, const ReferenceLap& ref, const std::string& target,
                        bool fixedReference) const;
    // The selected lap as CSV (its distance and speed in `units`) or GPX;
    // returns the lap written. Throws.
    std::int32_t exportLap(const std::string& target, bool gpx, const Units& units = {}) const;

    // The status line of a load's report, with the note about the latest
    // start/finish choice.
    std::string summary(const LoadReport& report) const;

private:
    void publish(Snapshot s);
    Snapshot next() const { return *snapshot_; }
    const Snapshot& adopt(std::shared_ptr<const LogView> view, std::int32_t keepLap);
    const Snapshot& putLines(StartFinishFile file, const std::optional<GateRules>& rules);
    std::optional<Gate> gateNear(LocalPoint at) const;
    std::shared_ptr<const LapTrace> traceOf(std::int32_t lap) const;
    std::string statusOf(const LogView& view) const;
    // The opened reference file laid out in the shown log's plane, or
    // refused when it is not that log's circuit.
    void placeReference(Snapshot& s) const;

    Session& session_;
    std::shared_ptr<const Snapshot> snapshot_;
    std::string circuitDbPath_;
    bool analyse_ = true;
    // About the latest start/finish choice, told in the next summary.
    std::string startFinishNote_;
    // The rules in force before a finish line was placed on the map.
    std::optional<GateRules> rulesBeforeFinish_;
    // The lap from outside the loaded log, as read: its gates, its time and
    // how it is laid out in a plane.
    struct OtherLap {
        StartFinish gates;
        double lapTime = 0;
        std::string label;
        bool asCompared = false;
        std::function<LapTrace(const LocalPlane&)> trace;
    };
    std::shared_ptr<const OtherLap> reference_;
    const Snapshot& useOtherLap(std::shared_ptr<const OtherLap> lap, std::string status);
    // The session library in the circuit database in use, opened when first
    // asked (its stored lap paths make comparing a stored lap quick).
    SessionLibrary& library() const;
    mutable std::unique_ptr<SessionLibrary> library_;
    // Traces of the shown log's laps, made as asked (by lap number - 1).
    mutable std::vector<std::shared_ptr<const LapTrace>> traces_;
};

// "Count forward crossings only", "Ignore laps under 52 s": the button that
// offers a split-lap remedy.
std::string remedyCaption(const SplitLaps& split, const GateRules& inForce);

// A stored session's log loaded as it was when added: its circuit's lines
// and rules, its laps cut again from its kept track. Refused (LoadError) when
// the log has no circuit, is gone or has changed since (its content hash).
std::shared_ptr<const LoadedLog> loadStoredSession(const StoredSession& session);

// The reference file of lap `lap` (0: the fastest) of a stored session: the
// bytes `ref` writes on its log with its circuit and rules.
void writeStoredLapRefFile(const StoredSession& session, std::int32_t lap, const std::string& target,
                           bool fixedReference);

} // namespace lorvane
