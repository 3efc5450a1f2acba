// What the database windows share: opening the circuit database with its
// errors shown to the user, and the texts of gates and distances.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include <QString>

#include "circuits/circuit_db.h"
#include "session/loaded_log.h"

class QWidget;

class TAddToDatabaseForm;

namespace lorvane {
class Session;
}
namespace lorvane::app {
class Prompts;
}
namespace lorvane::display {
class TrackPlot;
}

namespace lorvane::dbtools {

// Opens the database at `path`, the user's default one when `path` is empty.
// A file that cannot be opened is reported through `prompts` (naming it) and
// nothing is returned.
std::optional<CircuitDb> openCircuitDb(const std::string& path, app::Prompts& prompts,
                                       QWidget* parent);

// The error's message and where it happened, for the error box.
QString errorText(const Diagnostic& d);

// "53.150562, -0.546333 to 53.150472, -0.546322": the gate's two points in
// degrees, latitude first.
QString gateText(const Gate& g, int decimals = 6);

// "2503.6 m".
QString distanceText(double metres);

// The length in metres of the plotted track from sample `first` to sample
// `last`; nothing when fewer than two plotted points lie in that range.
std::optional<double> plottedLength(const display::TrackPlot& plot, std::int32_t first,
                                    std::int32_t last);

// Fills the add-to-database window from a loaded log: the start/finish file
// that cut its laps (name, gates, split lines), the gate rules they were cut
// with, and the lap distance of its fastest lap as plotted. A gate width that
// is only the log format's default is stored unset, so that logs of other
// formats get their own default. Without a start/finish file the window is
// emptied.
void proposeLoadedCircuit(TAddToDatabaseForm& form, const LoadedLog& log,
                          const display::TrackPlot& plot);

// The same before any log is loaded: `startFinish` and `rules` are the ones in
// force for the next load; no lap distance.
void proposeLoadedCircuit(TAddToDatabaseForm& form, const StartFinishFile& startFinish,
                          const GateRules& rules);

// The session's loaded log when it has one cut by a start/finish file, else the
// start/finish file and rules in force.
void proposeLoadedCircuit(TAddToDatabaseForm& form, const Session& session,
                          const display::TrackPlot& plot);

} // namespace lorvane::dbtools
