// The program's shared state and the operations that the main window and the
// command-line driver call: loading the start/finish file and the logs,
// choosing a lap and writing the reference file. Qt-free.
#pragma once

#include <atomic>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "formats/diagnostic.h"
#include "formats/sample.h"
#include "formats/start_finish.h"
#include "formats/text_log.h"
#include "laps/lap_segmenter.h"
#include "laps/local_plane.h"
#include "laps/reference_lap.h"
#include "track/track.h"

namespace lorvane {

struct LoadReport {
    LogKind kind = LogKind::Text;
    std::string path;
    bool ok = false;
    bool cancelled = false;
    Diagnostic error;              // when !ok
    std::int64_t samples = 0;      // samples fully processed
    std::int64_t plotted = 0;      // track points handed to the observer
    std::int64_t resyncs = 0;      // binary log: records dropped by resynchronisation
    std::int64_t shortRecords = 0; // binary log: a short last record dropped
    bool hasBase = false;
    double baseLat = 0, baseLong = 0, longScale = 0;
    std::int32_t lapCount = 0;
    std::int32_t bestLap = 0;
    double bestLapTime = LapSegmenter::kNoBest;
    TrackExtent extent;
    // Markers for the plot, in the local plane of this load (when it has a base point).
    std::optional<LocalPoint> startMarker;
    std::optional<LocalPoint> finishMarker;
};

// Everything a window wants to hear during a load. Called on the thread that
// runs the load.
class SessionObserver {
public:
    virtual ~SessionObserver() = default;
    // The lap list and the track are reset: a file has been chosen.
    virtual void loadStarted(LogKind kind, const std::string& path) { (void)kind, (void)path; }
    // Track points, in recorded order, in batches.
    virtual void trackPoints(std::span<const TrackPoint> points) { (void)points; }
    // A lap was completed; `best` when it is the new fastest lap.
    virtual void lapAdded(const Lap& lap, bool best) { (void)lap, (void)best; }
    // Progress through the file; return false to cancel the load.
    virtual bool progress(std::uint64_t done, std::uint64_t total) { (void)done, (void)total; return true; }
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

class Session {
public:
    // Loads the start/finish file. Failures leave the gates and the remembered
    // file name as they were.
    StartFinishReport loadStartFinish(const std::string& path);

    // Loads a text or binary log: resets the laps and the track, reads every
    // sample through the base point selection, the track and the lap step.
    LoadReport loadLog(LogKind kind, const std::string& path, SessionObserver& observer);

    // Re-reads lap `lap` (from 1) of the current load. Throws LoadError.
    ReferenceLap pickLap(std::int32_t lap);

    // Composes the reference file for the picked lap and writes it atomically
    // to `target`. Throws LoadError; `target` is untouched on failure.
    void saveLapRefFile(const ReferenceLap& ref, const std::string& target, bool fixedReference);
    // The bytes saveLapRefFile would write.
    std::string composeLapRefFile(const ReferenceLap& ref, bool fixedReference) const;

    // True while a load or a lap choice runs; other calls are refused meanwhile.
    bool busy() const { return busy_.load(); }

    // --- shared state, read by the windows and the driver ---
    const StartFinish& gates() const { return gates_; }
    bool hasStartFinish() const { return !gxrFileName_.empty(); }
    const std::string& gxrFileName() const { return gxrFileName_; }
    bool hasFinishLine() const { return gates_.hasFinishLine; }

    bool logLoaded() const { return logLoaded_; }
    bool logIsBinary() const { return logKind_ == LogKind::Binary; }
    LogKind logKind() const { return logKind_; }
    const std::string& logFileName() const { return logFileName_; }
    const TextLogColumns& columns() const { return columns_; }

    bool hasBasePoint() const { return plane_.baseLat != 0 || plane_.baseLong != 0; }
    const LocalPlane& plane() const { return plane_; }
    double baseLat() const { return plane_.baseLat; }
    double baseLong() const { return plane_.baseLong; }
    double longScale() const { return plane_.longScale; }

    const std::vector<Lap>& laps() const { return segmenter_.laps(); }
    const std::vector<Crossing>& crossings() const { return segmenter_.crossings(); }
    std::int32_t bestLap() const { return segmenter_.bestLap(); }
    double bestLapTime() const { return segmenter_.bestLapTime(); }
    std::int32_t chosenLap() const { return chosenLap_; }

private:
    class Busy;
    StartFinish gates_;
    std::string gxrFileName_;

    LogKind logKind_ = LogKind::Text;
    std::string logFileName_;
    bool logLoaded_ = false;
    TextLogColumns columns_;
    int recordLength_ = 0;

    LocalPlane plane_;
    LapSegmenter segmenter_;
    std::int32_t chosenLap_ = 0;

    std::atomic<bool> busy_{false};
};

} // namespace lorvane
