// The program's shared state and the operations that the main window and the
// command-line driver call: loading the start/finish file and the logs,
// choosing a lap and writing the reference file. Qt-free.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <vector>

#include "formats/diagnostic.h"
#include "formats/sample.h"
#include "laps/gate_rules.h"
#include "laps/lap_segmenter.h"
#include "laps/reference_lap.h"
#include "session/loaded_log.h"
#include "track/track.h"

namespace lorvane {

// Everything a window wants to hear during a load. Called on the thread that
// runs the load.
class SessionObserver {
public:
    virtual ~SessionObserver() = default;
    // The lap list and the track are reset: a file has been chosen.
    virtual void loadStarted(LogKind kind, const std::string& path) { (void)kind, (void)path; }
    // Track points, in recorded order, in batches. Every point of a batch
    // arrives before any lap that closes after it.
    virtual void trackPoints(std::span<const TrackPoint> points) { (void)points; }
    // A lap was completed; `best` when it is the new fastest lap.
    virtual void lapAdded(const Lap& lap, bool best) { (void)lap, (void)best; }
    // Progress through the file; return false to cancel the load.
    virtual bool progress(std::uint64_t done, std::uint64_t total) {
        (void)done, (void)total;
        return true;
    }
    // The load has ended, successfully or not.
    virtual void loadFinished(const LoadReport& report) { (void)report; }
};

struct StartFinishReport {
    bool ok = false;           // gates read and in force
    bool nameRejected = false; // the path failed the name test; nothing was read
    Diagnostic error;          // when neither ok nor nameRejected
    // Whether the log loads may now be offered (after a success or a rejected name).
    bool enableLogLoads() const { return ok || nameRejected; }
};

struct ReferenceLap {
    std::int32_t lap = 0;
    std::vector<GeoPoint> points;
};

// Re-reads lap `lap` (from 1) of `log` from its file. Throws LoadError.
ReferenceLap pickLap(const LoadedLog& log, std::int32_t lap);

// The reference file of a picked lap of `log`: the start/finish text that cut
// its laps, its base point, the lap's time and its points.
std::string composeLapRefFile(const LoadedLog& log, const ReferenceLap& ref, bool fixedReference);

// Composes the reference file and writes it atomically to `target`. Throws
// LoadError; `target` is untouched on failure.
void saveLapRefFile(const LoadedLog& log, const ReferenceLap& ref, const std::string& target, bool fixedReference);

// The rules a log of `kind` is cut with when the user chose `chosen`: an
// unset gate width is the format's default (25 m at the crossing point for
// imported logs, which come at 1 to 25 samples a second).
GateRules effectiveRules(LogKind kind, const GateRules& chosen);

// Cuts the laps of `log` again from its kept track, with another start/finish
// file or other rules, without reading the log: the result is what a fresh
// load of the same log with `startFinish` and `rules` gives. Throws LoadError
// when the log kept no track.
std::shared_ptr<const LoadedLog> recut(const LoadedLog& log, const StartFinishFile& startFinish,
                                       const GateRules& rules);

// A start/finish definition that is not (yet) a file on disk: gates placed on
// the map or taken from the circuit database. Its text is composed as a .gxr
// would be written, and its gates are read back from that text, so that they
// cut exactly the laps a saved copy of it cuts. `name` stands in for the
// file's path (it names the circuit or the placed lines). Throws LoadError
// for an empty name or a gate that cannot be written.
StartFinishFile startFinishFromGates(const StartFinish& gates, const std::string& name);

// Saves `file` as a start/finish file at `gxrPath` (its text as it is, or
// composed from its gates when it has none) and its split lines in the split
// file beside it (splitLinesPathFor), each written atomically, the .gxr
// first. Without split lines, a split file left beside `gxrPath` by an
// earlier save is removed once the .gxr is written. Throws LoadError naming
// the file that failed; a failure on the .gxr leaves both files as they were.
void saveStartFinishFile(const StartFinishFile& file, const std::string& gxrPath);

class Session {
public:
    // Loads the start/finish file and the split lines of the split file beside
    // it, when there is one (splitLinesPathFor). Failures, a bad split file's
    // included, leave the gates, the split lines and the remembered file as
    // they were.
    StartFinishReport loadStartFinish(const std::string& path);
    // Puts a start/finish definition in force for the next load and for
    // recutLoaded(), as loading a file would (see startFinishFromGates). A
    // file whose text is empty gets it composed from its gates. Refused while
    // another operation runs; throws LoadError and then changes nothing.
    void setStartFinish(StartFinishFile file);

    // Loads a text or binary log: reads every sample through the base point
    // selection, the track and the lap step, and makes the result the loaded
    // log (also when the load stops part-way: what it found stays).
    LoadReport loadLog(LogKind kind, const std::string& path, SessionObserver& observer);

    // The rules later loads cut their laps with.
    void setGateRules(const GateRules& rules) { rules_ = rules; }
    // Cuts the loaded log's laps again with the start/finish file and rules
    // now in force, and makes the result the loaded log. Refused while
    // another operation runs; throws LoadError.
    LoadReport recutLoaded();
    const GateRules& gateRules() const { return rules_; }
    // Whether loads keep their samples' positions and times (for cutting the
    // laps again and for lap analysis).
    void setKeepTrack(bool keep) { keepTrack_ = keep; }
    // Whether a load that keeps its track keeps every channel of the log
    // with it (Track::channels). Off by default: reading them costs time.
    void setKeepChannels(bool keep) { keepChannels_ = keep; }

    // The latest load's result; null before the first load.
    std::shared_ptr<const LoadedLog> loaded() const;

    // The same operations on the loaded log, refused while another runs.
    ReferenceLap pickLap(std::int32_t lap);
    void saveLapRefFile(const ReferenceLap& ref, const std::string& target, bool fixedReference);

    // True while a load or a lap choice runs; other calls are refused meanwhile.
    bool busy() const { return busy_.load(); }

    // --- the start/finish file in force for the next load ---
    const StartFinish& gates() const { return startFinish_.gates; }
    bool hasStartFinish() const { return !startFinish_.path.empty(); }
    const std::string& gxrFileName() const { return startFinish_.path; }
    bool hasFinishLine() const { return startFinish_.gates.hasFinishLine; }
    const StartFinishFile& startFinish() const { return startFinish_; }

    // --- the loaded log, for readers that want one value ---
    bool logLoaded() const { return loaded() != nullptr; }
    bool logIsBinary() const { return logKind() == LogKind::Binary; }
    LogKind logKind() const;
    std::string logFileName() const;
    TextLogColumns columns() const;
    LocalPlane plane() const;
    // Valid until the next load ends.
    const std::vector<Lap>& laps() const;
    const std::vector<Crossing>& crossings() const;
    std::int32_t bestLap() const;
    // The lap last chosen for a reference file (0: none yet).
    std::int32_t chosenLap() const { return chosenLap_; }
    void setChosenLap(std::int32_t lap) { chosenLap_ = lap; }

private:
    class Busy;
    StartFinishFile startFinish_;
    GateRules rules_;
    bool keepTrack_ = false;
    bool keepChannels_ = false;

    mutable std::mutex loadedMutex_;
    std::shared_ptr<const LoadedLog> loaded_;
    std::atomic<std::int32_t> chosenLap_{0};

    std::atomic<bool> busy_{false};
};

} // namespace lorvane
