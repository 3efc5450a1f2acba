// laps and ref without --gxr: the circuit comes from the circuit database.
#pragma once

#include <optional>
#include <string>

#include "laps/gate_rules.h"
#include "session/session.h"

namespace lorvane {

// Puts the circuit of the log loaded in `session` (loaded keeping its track,
// with no start/finish line yet) in force: the circuit named `circuit` when
// given, else the one circuit of the database at `dbPath` (the default
// database when empty) whose start line the kept track crosses. Its
// start/finish file and split lines replace the session's, and its stored gate
// rules replace `rules` (keeping their pause limit) unless `rulesGiven`; the
// caller then cuts the laps again with recutLoaded(). Returns the circuit's
// name. On failure (no match, several, a database or log that does not read)
// the reason is on standard error and nothing is returned.
std::optional<std::string> useCircuitFromDb(Session& session, const std::string& dbPath, const std::string& circuit,
                                            bool rulesGiven, GateRules& rules);

} // namespace lorvane
