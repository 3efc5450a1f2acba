// The lap analysis on the command line: `lorvane-cli trace` and the analysis
// fields of `lorvane-cli laps --json`. Definitions in docs/analysis.md.
#pragma once

#include <cstddef>
#include <memory>
#include <string>

#include "analysis/lap_analysis.h"
#include "session/session.h"
#include "track/track.h"

namespace lorvane {

// `lorvane-cli trace --gxr F (--zlg F | --wmx F) --lap N [--vs M]`, given the
// whole command line. Returns the exit status.
int runTrace(int argc, char** argv);

// The samples of the loaded log that reached the lap step (none when the load
// did not keep them: Session::setKeepTrack).
std::shared_ptr<const Track> loadedTrack(const Session& session);

// The analysis fields that `laps --json` adds to its output.
class LapsJsonAnalysis {
public:
    // From the session's loaded log, which must have kept its track.
    LapsJsonAnalysis(const Session& session, int sectors);
    // `, "distance": ..., "max_speed": ..., "sectors": [...]` for the i-th lap
    // of the session's lap list.
    std::string lapFields(std::size_t i) const;
    // `, "theoretical_best": ..., "best_sectors": [...], "sector_lines": [...]`.
    std::string topFields() const;

private:
    LapAnalysis analysis_;
    LocalPlane plane_;
};

} // namespace lorvane
