// A loaded log: everything one load found, as one value that does not change
// once the load has ended. The window, the command-line driver and the
// reference writer all read it; a new load (or cutting the laps again) makes a
// new one.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "formats/diagnostic.h"
#include "formats/sample.h"
#include "formats/start_finish.h"
#include "formats/text_log.h"
#include "laps/gate_rules.h"
#include "laps/lap_segmenter.h"
#include "laps/local_plane.h"
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
    std::int64_t dropped = 0;      // imported logs: sentences or rows dropped without failing
    std::int64_t firstDroppedLine = 0;
    bool hasBase = false;
    double baseLat = 0, baseLong = 0, longScale = 0;
    std::int32_t lapCount = 0;
    std::int32_t bestLap = 0;
    double bestLapTime = LapSegmenter::kNoBest;
    TrackExtent extent;
    // Markers for the plot, in the local plane of this load (when it has a base point).
    std::optional<LocalPoint> startMarker;
    std::optional<LocalPoint> finishMarker;
    // What a load without laps needs to say why.
    bool cutMidLine = false; // the log ends in mid-line or mid-record
    std::string readerNote;  // the reader read the file only in part: why
    std::string layoutName;  // which app's layout the log has, when one is known
    // "YYYY-MM-DD": the date of the log's first fix, when its times carry
    // dates (NMEA RMC, GPX, FIT, CSV with dates or Unix times; UTC where the
    // log says). Text and binary logs have none.
    std::optional<std::string> date;
    std::int32_t crossingCount = 0;                        // gate crossings counted
    std::optional<double> nearestToStart, nearestToFinish; // metres, from the gates' point 1
    std::int32_t runCount = 0;                             // runs of the recording, split by its pauses
    std::vector<double> pauses;                            // seconds between one run and the next
    std::string noLaps;                                    // why there is no lap, when the load ended well without one
};

// The start/finish file that cut a log's laps: its gates, where it came from
// and its text as it was read (the head of every reference file made from
// those laps).
struct StartFinishFile {
    StartFinish gates;
    std::string path;
    std::string text;
    // Sector split lines in driving order, placed on the map or stored with a
    // circuit; not part of the .gxr text.
    std::vector<Gate> splits;
};

struct LoadedLog {
    LogKind kind = LogKind::Text;
    std::string path; // the log file
    LogLayout layout; // columns (text log) or record length (binary log) the load found
    StartFinishFile startFinish;
    GateRules rules;
    LocalPlane plane; // base point and longitude scale
    bool hasBase = false;
    std::vector<Crossing> crossings;
    std::vector<Lap> laps;
    std::vector<Run> runs;    // the recording's stretches between pauses
    std::int32_t bestLap = 0; // from 1; 0 when there is no lap
    double bestLapTime = LapSegmenter::kNoBest;
    LoadReport report;
    // The samples that reached the lap step, when the load was asked to keep
    // them (the window does; the command-line driver does not need them).
    std::shared_ptr<const Track> track;

    const Lap* lap(std::int32_t number) const {
        if (number < 1 || static_cast<std::size_t>(number) > laps.size()) return nullptr;
        return &laps[static_cast<std::size_t>(number) - 1];
    }
    TextLogColumns columns() const {
        return TextLogColumns{layout.latColumn, layout.longColumn, layout.timeColumn, layout.satColumn};
    }
};

} // namespace lorvane
