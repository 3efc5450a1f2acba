#include "cli/circuit_lookup.h"

#include <iostream>

#include "circuits/circuit_db.h"
#include "circuits/log_track.h"
#include "formats/numbers.h"
#include "formats/start_finish.h"

namespace lorvane {

namespace {

void report(const Diagnostic& d) {
    std::cerr << "lorvane-cli: " << d.message;
    const std::string w = d.where();
    if (!w.empty()) std::cerr << " (" << w << ")";
    std::cerr << "\n";
}

std::string distanceText(const Circuit& c) {
    return c.lapDistance ? formatFixed(*c.lapDistance, 1, 1) + " m" : std::string("lap distance not stored");
}

} // namespace

std::optional<std::string> useCircuitFromDb(Session& session, LogKind kind, const std::string& logPath,
                                            const std::string& dbPath, const std::string& circuit, bool rulesGiven,
                                            GateRules& rules) {
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
            const std::vector<GeoSample> track = readLogTrack(kind, logPath);
            const std::vector<CircuitMatch> matches = db.findCircuitsForTrack(track);
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
        // The text a reference file copies is the circuit's exported .gxr.
        StartFinishFile file;
        file.path = chosen->name;
        file.text = db.exportGxr(chosen->name);
        file.gates = parseStartFinish(file.text, chosen->name);
        file.splits = chosen->splits;
        session.setStartFinish(std::move(file));
        if (!rulesGiven) rules = chosen->rules;
        return chosen->name;
    } catch (const LoadError& e) {
        report(e.diagnostic());
        return std::nullopt;
    }
}

} // namespace lorvane
