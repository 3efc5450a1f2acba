// laps and ref without --gxr: the circuit comes from the circuit database.
#pragma once

#include <optional>
#include <string>

#include "laps/gate_rules.h"
#include "session/session.h"

namespace lorvane {

// Puts the circuit of the log at `logPath` in force in `session`: the circuit
// named `circuit` when given, else the one circuit of the database at `dbPath`
// (the default database when empty) whose start line the log crosses. Its
// stored gate rules replace `rules` unless `rulesGiven`. Returns the circuit's
// name; its split lines come with it. On failure (no match, several, a database or log that does not read)
// the reason is on standard error and nothing is returned.
std::optional<std::string> useCircuitFromDb(Session& session, LogKind kind, const std::string& logPath,
                                            const std::string& dbPath, const std::string& circuit, bool rulesGiven,
                                            GateRules& rules);

} // namespace lorvane
