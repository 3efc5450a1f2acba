// lorvane-cli: runs a load headlessly through the engine, lists the laps and
// writes reference files.
#include <algorithm>
#include <cstdio>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "cli/channels_command.h"
#include "cli/circuit_lookup.h"
#include "cli/circuits_command.h"
#include "cli/cli_options.h"
#include "cli/cli_util.h"
#include "cli/compare_command.h"
#include "cli/convert_command.h"
#include "cli/json_out.h"
#include "cli/library_command.h"
#include "cli/log_arg.h"
#include "cli/trace_command.h"
#include "formats/numbers.h"
#include "lorvane/version.h"
#include "session/session.h"
#include "workspace/workspace.h"

using namespace lorvane;

namespace {

int fail(const Diagnostic& d) {
    return cli::reportError(d);
}

// laps and ref: the same load, then the lap list or a reference file.
struct LapsArgs {
    bool ref = false;
    std::string gxr, db, circuit, lap, out = "LAP.REF";
    cli::LogOptions log;
    cli::RuleOptions rules;
    cli::SplitOptions splits;
    bool json = false, fixed = false;
    std::string sectors, session;
    CLI::Option* sessionOpt = nullptr;
    CLI::Option *gxrOpt = nullptr, *dbOpt = nullptr, *circuitOpt = nullptr, *sectorsOpt = nullptr;
};

void printJson(const Session& s, const LoadReport& r, const GateRules& rules, int sectors,
               const std::optional<std::string>& circuit) {
    using cli::Json;
    const LapsJsonAnalysis analysis(s, sectors);
    Json o;
    o["kind"] = logKindName(r.kind);
    o["circuit"] = circuit ? Json(*circuit) : Json();
    // The rules are written as given: the shortest text of each number.
    o["rules"] = {{"direction", directionName(rules.direction)},
                  {"gate_width", rules.gateWidth ? Json(*rules.gateWidth) : Json()},
                  {"min_lap", rules.minLap}};
    o["samples"] = r.samples;
    o["base_point"] = r.hasBase ? Json{{"lat", r.baseLat}, {"long", r.baseLong}} : Json();
    o["long_scale"] = r.longScale;
    Json& crossings = o["crossings"] = Json::array();
    for (const Crossing& c : s.crossings())
        crossings.push_back({{"sample", c.sample},
                             {"offset", c.offset},
                             {"time", c.time},
                             {"direction", c.forward ? "forward" : "reverse"},
                             {"distance", c.distance}});
    Json& runs = o["runs"] = Json::array();
    if (const auto log = s.loaded())
        for (const Run& run : log->runs)
            runs.push_back({{"first_sample", run.firstSample},
                            {"last_sample", run.lastSample},
                            {"first_time", run.firstTime},
                            {"last_time", run.lastTime}});
    Json& laps = o["laps"] = Json::array();
    std::size_t lapIndex = 0;
    for (const Lap& l : s.laps()) {
        Json lap = {{"lap", l.number},
                    {"start_sample", l.startSample},
                    {"end_sample", l.endSample},
                    {"time", l.time},
                    {"line", l.line}};
        analysis.addLapFields(lapIndex++, lap);
        laps.push_back(std::move(lap));
    }
    o["best_lap"] = r.bestLap;
    o["no_laps"] = r.noLaps.empty() ? Json() : Json(r.noLaps);
    analysis.addTopFields(o);
    o["error"] = r.ok ? Json() : Json(r.error.describe());
    const std::string text = cli::dumpJson(o, cli::JsonNumbers::Digits17, {"rules"}) + "\n";
    std::fwrite(text.data(), 1, text.size(), stdout);
}

int runLaps(LapsArgs& a) {
    if (a.sessionOpt && a.sessionOpt->count()) { // ref --session: a log of the session library
        if (a.gxrOpt->count() || a.circuitOpt->count() || a.log.count() || a.splits.given() ||
            a.rules.circuitRulesGiven())
            throw cli::UsageError(
                "--session takes no log, --gxr, --circuit, --split or gate rules: the session has them");
        return runStoredRef(a.db, a.session, a.lap, a.fixed, a.out);
    }
    if (a.gxrOpt->count() && (a.dbOpt->count() || a.circuitOpt->count()))
        throw cli::UsageError("give --gxr or the circuit database, not both");
    if (a.log.count() > 1) throw cli::UsageError("give one log, --zlg, --wmx or --log");
    if (a.log.count() == 0) throw cli::UsageError("--zlg FILE, --wmx FILE or --log FILE is required");
    a.log.resolve();
    GateRules rules;
    a.rules.apply(rules);
    const std::vector<Gate> splits = a.splits.lines();
    int sectors = kDefaultSectors; // laps --json: equal-distance sectors
    if (a.sectorsOpt && a.sectorsOpt->count()) {
        const auto k = parseInteger(a.sectors);
        if (!k || *k < 1 || *k > kMaxSectors)
            throw cli::UsageError("--sectors takes a whole number from 1 to " + std::to_string(kMaxSectors));
        sectors = *k;
    }
    std::int32_t lap = 0; // ref: 0 for the best lap
    if (a.ref) {
        if (a.lap.empty()) throw cli::UsageError("--lap N|best is required");
        if (a.lap != "best") {
            const auto n = parseInteger(a.lap);
            if (!n || *n < 1) throw cli::UsageError("--lap takes a lap number from 1, or best");
            lap = *n;
        }
    }
    const std::string& logPath = a.log.path();

    LogKind kind;
    try {
        kind = cli::logKindFor(a.log.option(), logPath);
    } catch (const LoadError& e) {
        return fail(e.diagnostic());
    }
    // The load goes through the same workspace as the window's.
    Session session;
    Workspace ws(session);
    ws.setAnalyse(false); // --json analyses with the sectors asked for
    std::optional<std::string> circuit;
    if (!a.gxrOpt->count()) {
        // The log is read once, keeping its track: the circuit is looked up
        // on it and its laps are then cut again with the circuit in force.
        session.setKeepTrack(true);
        ws.setRules(rules);
        ws.loadLogNow(kind, logPath);
        circuit = useCircuitFromDb(session, a.db, a.circuit, a.rules.circuitRulesGiven(), rules);
        if (!circuit) return 1;
    } else {
        StartFinishReport sf = ws.loadStartFinish(a.gxr);
        if (!sf.ok) return fail(sf.error);
    }
    if (a.splits.given()) { // in place of a circuit's own
        StartFinishFile f = session.startFinish();
        f.splits = splits;
        session.setStartFinish(std::move(f));
    }

    LoadReport report;
    if (circuit) {
        try {
            report = ws.setRules(rules).log()->report;
        } catch (const LoadError& e) {
            return fail(e.diagnostic());
        }
    } else {
        session.setKeepTrack(a.json); // the lap analysis reads it; the plain list keeps nothing per sample
        ws.setRules(rules);
        const LoadedLog* log = ws.loadLogNow(kind, logPath).log();
        if (!log) return fail(Diagnostic{"The log was not loaded", logPath, 0, -1});
        report = log->report;
    }

    // A file read only in part loads what came before the damage; say so.
    if (!report.readerNote.empty()) std::cerr << "lorvane-cli: " << logPath << ": " << report.readerNote << "\n";
    if (!a.ref) {
        if (a.json) {
            printJson(session, report, session.loaded() ? session.loaded()->rules : rules, sectors, circuit);
        } else {
            std::string out;
            for (const Lap& l : session.laps()) {
                out += l.line;
                out += '\n';
            }
            std::fwrite(out.data(), 1, out.size(), stdout);
            if (report.ok && !report.noLaps.empty()) std::cerr << "lorvane-cli: no laps: " << report.noLaps << "\n";
        }
        std::fflush(stdout);
        return report.ok ? 0 : fail(report.error);
    }

    if (!report.ok) return fail(report.error);
    if (lap == 0) {
        lap = session.bestLap();
        if (lap == 0)
            return fail(Diagnostic{"The log has no complete lap" + (report.noLaps.empty() ? "" : ": " + report.noLaps),
                                   logPath, 0, -1});
    }
    try {
        ReferenceLap ref = session.pickLap(lap);
        ws.saveLapRefFile(*session.loaded(), ref, a.out, a.fixed);
    } catch (const LoadError& e) {
        return fail(e.diagnostic());
    }
    std::cout << a.out << "\n";
    return 0;
}

cli::CommandRun addLapsCommand(CLI::App& app, bool ref) {
    auto a = std::make_shared<LapsArgs>();
    a->ref = ref;
    CLI::App* cmd = ref ? app.add_subcommand("ref", "Write the reference file of a lap: the bytes the window writes")
                        : app.add_subcommand(
                              "laps", "List the laps of a log as the window does, or everything about them as JSON");
    a->gxrOpt = cmd->add_option("--gxr", a->gxr, "The start/finish line file")->type_name("FILE")->group("Circuit");
    a->circuitOpt = cmd->add_option("--circuit", a->circuit, "Without --gxr: the circuit of the database to use")
                        ->type_name("NAME")
                        ->group("Circuit");
    a->dbOpt = cmd->add_option("--db", a->db, "The circuit database (default: the user's circuits.db)")
                   ->type_name("PATH")
                   ->group("Circuit");
    a->log.add(*cmd);
    a->rules.add(*cmd);
    a->splits.add(*cmd);
    if (ref) {
        cmd->add_option("--lap", a->lap, "The lap to write, or the fastest (required)")->type_name("N|best");
        cmd->add_flag("--fixed", a->fixed, "Mark the reference as fixed");
        cmd->add_option("-o", a->out, "Where to write it (default LAP.REF)")->type_name("PATH");
        a->sessionOpt = cmd->add_option("--session", a->session, "In place of a log: a session of `library list`")
                            ->type_name("ID");
    } else {
        cmd->add_flag("--json", a->json, "The samples, crossings, runs, laps and their analysis as JSON");
        a->sectorsOpt = cmd->add_option("--sectors", a->sectors,
                                        "With --json and no split lines: sectors of equal distance (default 3)")
                            ->type_name("N");
    }
    cmd->footer("Without --gxr the circuit comes from the circuit database: the one whose start line the log\n"
                "crosses, with its stored gate rules and split lines unless they are given, or --circuit NAME.");
    return [a] { return runLaps(*a); };
}

} // namespace

int main(int argc, char** argv) {
    CLI::App app{"Lap times from GPS logs, as the window gives them.", "lorvane-cli"};
    // An option given twice: the last one counts.
    app.option_defaults()->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
    app.set_version_flag("--version", "lorvane-cli " LORVANE_VERSION, "The version of lorvane-cli");
    app.footer("Exit status: 0 done, 1 an error, 2 a usage error. lorvane-cli COMMAND --help lists a command's "
               "options.");

    std::vector<std::pair<CLI::App*, cli::CommandRun>> commands;
    auto add = [&](const char* name, cli::CommandRun run) { commands.emplace_back(app.get_subcommand(name), run); };
    add("laps", addLapsCommand(app, false));
    add("ref", addLapsCommand(app, true));
    add("trace", addTraceCommand(app));
    add("channels", addChannelsCommand(app));
    add("convert", addConvertCommand(app));
    add("circuits", addCircuitsCommand(app));
    add("compare", addCompareCommand(app));
    add("library", addLibraryCommand(app));

    // `circuits help` has always been `circuits --help`.
    char help[] = "--help";
    if (argc >= 3 && std::string_view(argv[1]) == "circuits" && std::string_view(argv[2]) == "help") argv[2] = help;
    try {
        if (argc >= 2 && argv[1][0] != '-' && std::none_of(commands.begin(), commands.end(), [&](const auto& c) {
                return c.first->get_name() == argv[1];
            }))
            throw cli::UsageError("unknown command '" + std::string(argv[1]) + "'");
        app.parse(argc, argv);
        for (auto& [cmd, run] : commands) {
            if (!cmd->parsed()) continue;
            return run();
        }
        throw cli::UsageError("no command given");
    } catch (const CLI::Success& e) {
        return app.exit(e);
    } catch (const CLI::ParseError& e) {
        return cli::usageError(cli::parseErrorMessage(e, app), app);
    } catch (const cli::UsageError& e) {
        return cli::usageError(e.what(), app);
    }
}
