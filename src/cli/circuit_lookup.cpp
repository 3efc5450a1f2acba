#include "cli/circuit_lookup.h"

#include <iostream>

#include "circuits/circuit_db.h"
#include "circuits/log_track.h"
#include "cli/cli_util.h"

namespace lorvane {

namespace {

std::string distanceText(const Circuit& c) {
    return c.lapDistance ? lorvane::distanceText(*c.lapDistance) : std::string("lap distance not stored");
}

// The lookup on the loaded log's kept track. A load that stopped on an error
// or never found its base point has no laps to cut whatever the circuit; it is
// looked up from the file's positions as they read, as before the load kept
// its track: a log the readers refuse fails here with the readers' own
// message, and one whose load stopped on a bad time, or that lacks the
// satellites for a base point, still names its circuit.
std::vector<CircuitMatch> lookUp(const CircuitDb& db, const LoadedLog& log, const GateRules& rules) {
    if (!log.report.ok || !log.hasBase || !log.track) return db.findCircuitsForTrack(readLogTrack(log.kind, log.path));
    return db.findCircuitsForTrack(*log.track, log.plane, log.kind, rules);
}

} // namespace

std::optional<std::string> useCircuitFromDb(Session& session, const std::string& dbPath, const std::string& circuit,
                                            bool rulesGiven, GateRules& rules) {
    try {
        const CircuitDb db = CircuitDb::open(dbPath.empty() ? defaultCircuitDbPath() : dbPath);
        std::optional<Circuit> chosen;
        if (!circuit.empty()) {
            chosen = db.findByName(circuit);
            if (!chosen) {
                std::cerr << "lorvane-cli: no circuit named '" << circuit << "' in the database (" << db.path()
                          << ")\n";
                return std::nullopt;
            }
        } else {
            const auto log = session.loaded();
            if (!log) fail(ErrorKind::Invalid, "No log has been loaded");
            const std::vector<CircuitMatch> matches = lookUp(db, *log, rules);
            if (matches.empty()) {
                std::cerr << "lorvane-cli: no circuit in the database matches this log; give --gxr\n";
                return std::nullopt;
            }
            if (matches.size() > 1) {
                std::cerr << "lorvane-cli: " << matches.size()
                          << " circuits in the database match this log; give --circuit NAME:\n";
                for (const CircuitMatch& m : matches)
                    std::cerr << "  " << m.circuit.name << "\t" << distanceText(m.circuit) << "\n";
                return std::nullopt;
            }
            chosen = matches.front().circuit;
        }
        session.setStartFinish(circuitStartFinish(*chosen));
        if (!rulesGiven) rules = circuitRules(*chosen, rules);
        return chosen->name;
    } catch (const LoadError& e) {
        cli::reportError(e.diagnostic());
        return std::nullopt;
    }
}

} // namespace lorvane
