#include "cli/compare_command.h"

#include <cstdio>
#include <iostream>
#include <memory>
#include <optional>

#include "analysis/lap_analysis.h"
#include "analysis/lap_delta.h"
#include "cli/circuit_lookup.h"
#include "cli/cli_util.h"
#include "cli/json_out.h"
#include "cli/log_arg.h"
#include "formats/numbers.h"
#include "reference/reference_read.h"
#include "session/session.h"

namespace lorvane {

namespace {

struct CompareArgs {
    std::string ref, gxr, db, circuit;
    cli::LogOptions log;
    cli::RuleOptions rules;
    bool json = false;
    CLI::Option *refOpt = nullptr, *gxrOpt = nullptr, *dbOpt = nullptr, *circuitOpt = nullptr;
};

struct LapRow {
    std::int32_t lap = 0;
    double time = 0;
    double delta = 0;
    std::optional<DeltaExtremes> extremes; // none for a lap whose samples the track lacks
};

int compareFail(const Diagnostic& d) {
    return cli::reportError(d);
}

void printPlain(const std::vector<LapRow>& rows) {
    std::string out;
    for (const LapRow& r : rows) {
        out += std::to_string(r.lap);
        out += ' ';
        appendFixed(out, r.time, 1, 3);
        out += ' ';
        if (r.delta >= 0) out += '+';
        appendFixed(out, r.delta, 1, 3);
        if (r.extremes) {
            out += ' ';
            appendFixed(out, r.extremes->highest.delta, 1, 3);
            out += ' ';
            appendFixed(out, r.extremes->highest.distance, 1, 1);
            out += ' ';
            appendFixed(out, 0.0 - r.extremes->lowest.delta, 1, 3);
            out += ' ';
            appendFixed(out, r.extremes->lowest.distance, 1, 1);
        } else {
            out += " - - - -";
        }
        out += '\n';
    }
    std::fwrite(out.data(), 1, out.size(), stdout);
}

void printJson(const std::string& refPath, const ReferenceFileData& ref, const LapTrace& refTrace,
               const std::optional<std::string>& circuit, const std::vector<LapRow>& rows) {
    using cli::Json;
    Json o;
    o["reference"] = {{"file", refPath},
                      {"time", ref.lapTime},
                      {"points", ref.points.size()},
                      {"distance", refTrace.distance},
                      {"fixed", ref.fixedReference}};
    o["circuit"] = circuit ? Json(*circuit) : Json();
    Json& laps = o["laps"] = Json::array();
    for (const LapRow& r : rows) {
        Json lap = {{"lap", r.lap}, {"time", r.time}, {"delta", r.delta}};
        lap["max_loss"] = r.extremes ? Json(r.extremes->highest.delta) : Json();
        lap["max_loss_at"] = r.extremes ? Json(r.extremes->highest.distance) : Json();
        lap["max_gain"] = r.extremes ? Json(0.0 - r.extremes->lowest.delta) : Json();
        lap["max_gain_at"] = r.extremes ? Json(r.extremes->lowest.distance) : Json();
        laps.push_back(std::move(lap));
    }
    const std::string text = cli::dumpJson(o, cli::JsonNumbers::Digits17) + "\n";
    std::fwrite(text.data(), 1, text.size(), stdout);
}

int runCompare(CompareArgs& a) {
    if (!a.refOpt->count()) throw cli::UsageError("--ref FILE is required");
    if (a.gxrOpt->count() && (a.dbOpt->count() || a.circuitOpt->count()))
        throw cli::UsageError("give --gxr or the circuit database, not both");
    if (a.log.count() > 1) throw cli::UsageError("give one log, --zlg, --wmx or --log");
    if (a.log.count() == 0) throw cli::UsageError("--zlg FILE, --wmx FILE or --log FILE is required");
    a.log.resolve();
    GateRules rules;
    a.rules.apply(rules);
    const std::string& logPath = a.log.path();

    ReferenceFileData ref;
    LogKind kind;
    try {
        ref = readReferenceFile(a.ref);
        kind = cli::logKindFor(a.log.option(), logPath);
    } catch (const LoadError& e) {
        return compareFail(e.diagnostic());
    }

    // As `laps` loads: with --gxr once; else once to look the circuit up on
    // the kept track, then cut again with it in force.
    Session session;
    SessionObserver quiet;
    session.setKeepTrack(true);
    std::optional<std::string> circuit;
    if (!a.gxrOpt->count()) {
        session.setGateRules(rules);
        session.loadLog(kind, logPath, quiet);
        circuit = useCircuitFromDb(session, a.db, a.circuit, a.rules.circuitRulesGiven(), rules);
        if (!circuit) return 1;
    } else {
        const StartFinishReport sf = session.loadStartFinish(a.gxr);
        if (!sf.ok) return compareFail(sf.error);
    }
    // A reference lap cut at other lines is no lap of this circuit.
    if (const auto why = startFinishMismatch(session.gates(), ref.gates))
        return compareFail(Diagnostic{"The reference file's start/finish line is not that of the log's circuit (" +
                                          (circuit ? *circuit : session.gxrFileName()) + "): " + *why,
                                      a.ref, 0, -1, ErrorKind::Invalid});

    session.setGateRules(rules);
    LoadReport report;
    try {
        report = circuit ? session.recutLoaded() : session.loadLog(kind, logPath, quiet);
    } catch (const LoadError& e) {
        return compareFail(e.diagnostic());
    }
    if (!report.readerNote.empty()) std::cerr << "lorvane-cli: " << logPath << ": " << report.readerNote << "\n";
    if (!report.ok) return compareFail(report.error);
    if (report.ok && !report.noLaps.empty()) std::cerr << "lorvane-cli: no laps: " << report.noLaps << "\n";

    // The reference lap in the log's plane, through latitude and longitude:
    // its base point is that of the log it was made from.
    const LapTrace refTrace = referenceTrace(ref, session.plane());
    const auto log = session.loaded();
    std::vector<LapRow> rows;
    for (const Lap& l : session.laps()) {
        LapRow row;
        row.lap = l.number;
        row.time = l.time;
        row.delta = l.time - ref.lapTime;
        const LapTrace trace = log && log->track ? traceLapNumber(*log->track, log->laps, log->crossings, l.number)
                                                 : LapTrace{};
        row.extremes = deltaExtremes(trace, refTrace);
        if (row.extremes) row.delta = row.extremes->finish;
        rows.push_back(row);
    }
    if (a.json)
        printJson(a.ref, ref, refTrace, circuit, rows);
    else
        printPlain(rows);
    std::fflush(stdout);
    return 0;
}

} // namespace

cli::CommandRun addCompareCommand(CLI::App& app) {
    auto a = std::make_shared<CompareArgs>();
    CLI::App* cmd = app.add_subcommand("compare", "Every lap of a log against the lap of a reference file");
    a->refOpt = cmd->add_option("--ref", a->ref, "The reference file (required)")->type_name("FILE");
    a->gxrOpt = cmd->add_option("--gxr", a->gxr, "The start/finish line file")->type_name("FILE")->group("Circuit");
    a->circuitOpt = cmd->add_option("--circuit", a->circuit, "Without --gxr: the circuit of the database to use")
                        ->type_name("NAME")
                        ->group("Circuit");
    a->dbOpt = cmd->add_option("--db", a->db, "The circuit database (default: the user's circuits.db)")
                   ->type_name("PATH")
                   ->group("Circuit");
    a->log.add(*cmd);
    a->rules.add(*cmd);
    cmd->add_flag("--json", a->json, "The reference and every lap's figures as JSON");
    cmd->footer("One line per lap: lap number, lap time (s), delta at the finish (s, + when slower than the\n"
                "reference), largest loss (s) and the distance along the reference lap where it is (m),\n"
                "largest gain (s) and its distance (m). The reference file's start/finish line must be\n"
                "that of the circuit in force. Without --gxr the circuit comes from the circuit database.");
    return [a] { return runCompare(*a); };
}

} // namespace lorvane
