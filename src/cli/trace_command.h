// The lap analysis on the command line: `lorvane-cli trace` and the analysis
// fields of `lorvane-cli laps --json`. Definitions in docs/analysis.md.
#pragma once

#include <cstddef>
#include <memory>

#include "analysis/lap_analysis.h"
#include "cli/cli_options.h"
#include "cli/json_out.h"
#include "session/session.h"
#include "track/track.h"

namespace lorvane {

// Adds `lorvane-cli trace --gxr F (--zlg F | --wmx F | --log F) [RULES] --lap N
// [--vs M]` to `app`; the work it returns runs once the command is parsed.
cli::CommandRun addTraceCommand(CLI::App& app);

// The samples of the loaded log that reached the lap step (none when the load
// did not keep them: Session::setKeepTrack).
std::shared_ptr<const Track> loadedTrack(const Session& session);

// The analysis fields that `laps --json` adds to its output.
class LapsJsonAnalysis {
public:
    // From the session's loaded log, which must have kept its track.
    LapsJsonAnalysis(const Session& session, int sectors);
    // "distance", "max_speed" and "sectors" of the i-th lap of the session's
    // lap list, added to its object.
    void addLapFields(std::size_t i, cli::Json& lap) const;
    // "sector_count", "theoretical_best", "best_sectors", "sector_reference_lap"
    // and "sector_lines", added to the document.
    void addTopFields(cli::Json& o) const;

private:
    LapAnalysis analysis_;
    LocalPlane plane_;
};

} // namespace lorvane
