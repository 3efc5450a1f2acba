// lorvane-cli: runs a load headlessly through the engine, lists the laps and
// writes reference files.
#include <cmath>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "cli/circuit_lookup.h"
#include "cli/circuits_command.h"
#include "cli/cli_util.h"
#include "cli/convert_command.h"
#include "cli/log_arg.h"
#include "cli/trace_command.h"
#include "formats/numbers.h"
#include "lorvane/version.h"
#include "session/session.h"

using namespace lorvane;

namespace {

using cli::jsonString;
int fail(const Diagnostic& d) {
    return cli::reportError(d);
}

const char* kUsage =
    "usage: lorvane-cli laps [--gxr FILE | --circuit NAME] (--zlg FILE | --wmx FILE | --log FILE) [RULES] [--json]\n"
    "                        [--sectors N]\n"
    "       lorvane-cli ref  [--gxr FILE | --circuit NAME] (--zlg FILE | --wmx FILE | --log FILE) [RULES] --lap "
    "N|best\n"
    "                        [--fixed] [-o PATH]\n"
    "       lorvane-cli trace --gxr FILE (--zlg FILE | --wmx FILE | --log FILE) [RULES] --lap N [--vs M]\n"
    "       lorvane-cli convert (--log FILE | --zlg FILE | --wmx FILE) -o OUT.zlg\n"
    "       lorvane-cli circuits ...   (lorvane-cli circuits --help)\n"
    "       lorvane-cli --version\n"
    "  RULES: [--direction both|forward|reverse] [--gate-width METRES] [--min-lap SECONDS]\n"
    "         [--max-gap SECONDS]  (a pause without a fix for longer ends a run; default 10)\n"
    "  Without --gxr, laps and ref take the circuit from the circuit database: the one whose start\n"
    "  line the log crosses, or --circuit NAME; --db PATH (default: the user's circuits.db).\n";

int usage(const std::string& why) {
    if (!why.empty()) std::cerr << "lorvane-cli: " << why << "\n";
    std::cerr << kUsage;
    return 2;
}

struct Args {
    std::string command, gxr, log, lap, out = "LAP.REF";
    LogKind kind = LogKind::Text;
    std::string logOption; // --zlg, --wmx or --log
    bool json = false, fixed = false, haveLog = false, haveOut = false;
    GateRules rules;
    int sectors = kDefaultSectors; // laps --json: equal-distance sectors
    std::string db, circuit;       // without --gxr: the circuit database
    bool rulesGiven = false;
};

// A finite number, locale-free.
std::optional<double> finiteNumber(const std::string& text) {
    auto v = parseDecimal(text);
    if (!v || !std::isfinite(*v)) return std::nullopt;
    return v;
}

std::optional<Args> parseArgs(int argc, char** argv, std::string& err) {
    Args a;
    if (argc < 2) {
        err = "no command given";
        return std::nullopt;
    }
    a.command = argv[1];
    if (a.command != "laps" && a.command != "ref") {
        err = "unknown command '" + a.command + "'";
        return std::nullopt;
    }
    for (int i = 2; i < argc; ++i) {
        std::string opt = argv[i];
        auto value = [&](std::string& dst) {
            if (i + 1 >= argc) {
                err = opt + " needs a value";
                return false;
            }
            dst = argv[++i];
            return true;
        };
        if (opt == "--gxr") {
            if (!value(a.gxr)) return std::nullopt;
        } else if (cli::isLogOption(opt)) {
            if (a.haveLog) {
                err = "give one log, --zlg, --wmx or --log";
                return std::nullopt;
            }
            if (!value(a.log)) return std::nullopt;
            a.logOption = opt;
            a.haveLog = true;
        } else if ((opt == "--db" || opt == "--circuit") && a.command != "trace") {
            if (!value(opt == "--db" ? a.db : a.circuit)) return std::nullopt;
        } else if (opt == "--direction") {
            std::string d;
            if (!value(d)) return std::nullopt;
            auto dir = parseDirection(d);
            if (!dir) {
                err = "--direction takes both, forward or reverse";
                return std::nullopt;
            }
            a.rules.direction = *dir;
            a.rulesGiven = true;
        } else if (opt == "--gate-width") {
            std::string w;
            if (!value(w)) return std::nullopt;
            auto v = finiteNumber(w);
            if (!v || !(*v > 0)) {
                err = "--gate-width takes a number of metres above 0";
                return std::nullopt;
            }
            a.rules.gateWidth = *v;
            a.rulesGiven = true;
        } else if (opt == "--min-lap") {
            std::string m;
            if (!value(m)) return std::nullopt;
            auto v = finiteNumber(m);
            if (!v || !(*v >= 0)) {
                err = "--min-lap takes a number of seconds, 0 or more";
                return std::nullopt;
            }
            a.rules.minLap = *v;
            a.rulesGiven = true;
        } else if (opt == "--max-gap") {
            std::string m;
            if (!value(m)) return std::nullopt;
            auto v = finiteNumber(m);
            if (!v || !(*v > 0)) {
                err = "--max-gap takes a number of seconds above 0";
                return std::nullopt;
            }
            a.rules.maxGap = *v; // the recording's, not the circuit's: kept with a circuit's own rules
        } else if (opt == "--json" && a.command == "laps") {
            a.json = true;
        } else if (opt == "--sectors" && a.command == "laps") {
            std::string n;
            if (!value(n)) return std::nullopt;
            const auto k = parseInteger(n);
            if (!k || *k < 1 || *k > kMaxSectors) {
                err = "--sectors takes a whole number from 1 to " + std::to_string(kMaxSectors);
                return std::nullopt;
            }
            a.sectors = *k;
        } else if (opt == "--lap" && a.command == "ref") {
            if (!value(a.lap)) return std::nullopt;
        } else if (opt == "--fixed" && a.command == "ref") {
            a.fixed = true;
        } else if (opt == "-o" && a.command == "ref") {
            if (!value(a.out)) return std::nullopt;
        } else {
            err = "unknown option '" + opt + "'";
            return std::nullopt;
        }
    }
    if (!a.gxr.empty() && (!a.db.empty() || !a.circuit.empty()))
        err = "give --gxr or the circuit database, not both";
    else if (!a.haveLog)
        err = "--zlg FILE, --wmx FILE or --log FILE is required";
    else if (a.command == "ref" && a.lap.empty())
        err = "--lap N|best is required";
    if (!err.empty()) return std::nullopt;
    return a;
}

void printJson(const Session& s, const LoadReport& r, const GateRules& rules, int sectors,
               const std::optional<std::string>& circuit) {
    const LapsJsonAnalysis analysis(s, sectors);
    std::string o = "{\"kind\": ";
    o += "\"" + std::string(logKindName(r.kind)) + "\"";
    o += ", \"circuit\": " + (circuit ? jsonString(*circuit) : std::string("null"));
    o += ", \"rules\": {\"direction\": \"" + std::string(directionName(rules.direction)) + "\", \"gate_width\": ";
    o += rules.gateWidth ? formatRoundTrip(*rules.gateWidth) : std::string("null");
    o += ", \"min_lap\": " + formatRoundTrip(rules.minLap) + "}";
    o += ", \"samples\": " + std::to_string(r.samples);
    o += ", \"base_point\": ";
    if (r.hasBase)
        o += "{\"lat\": " + format17(r.baseLat) + ", \"long\": " + format17(r.baseLong) + "}";
    else
        o += "null";
    o += ", \"long_scale\": " + format17(r.longScale);
    o += ", \"crossings\": [";
    bool first = true;
    for (const Crossing& c : s.crossings()) {
        if (!first) o += ", ";
        first = false;
        o += "{\"sample\": " + std::to_string(c.sample) + ", \"offset\": " + format17(c.offset) +
             ", \"time\": " + format17(c.time) + ", \"direction\": \"" + (c.forward ? "forward" : "reverse") +
             "\", \"distance\": " + format17(c.distance) + "}";
    }
    o += "], \"runs\": [";
    first = true;
    if (const auto log = s.loaded()) {
        for (const Run& run : log->runs) {
            if (!first) o += ", ";
            first = false;
            o += "{\"first_sample\": " + std::to_string(run.firstSample) +
                 ", \"last_sample\": " + std::to_string(run.lastSample) +
                 ", \"first_time\": " + format17(run.firstTime) + ", \"last_time\": " + format17(run.lastTime) + "}";
        }
    }
    o += "], \"laps\": [";
    first = true;
    std::size_t lapIndex = 0;
    for (const Lap& l : s.laps()) {
        if (!first) o += ", ";
        first = false;
        o += "{\"lap\": " + std::to_string(l.number) + ", \"start_sample\": " + std::to_string(l.startSample) +
             ", \"end_sample\": " + std::to_string(l.endSample) + ", \"time\": " + format17(l.time) +
             ", \"line\": " + jsonString(l.line) + analysis.lapFields(lapIndex++) + "}";
    }
    o += "], \"best_lap\": " + std::to_string(r.bestLap);
    o += ", \"no_laps\": " + (r.noLaps.empty() ? std::string("null") : jsonString(r.noLaps));
    o += analysis.topFields();
    o += ", \"error\": ";
    o += r.ok ? "null" : jsonString(r.error.describe());
    o += "}\n";
    std::fwrite(o.data(), 1, o.size(), stdout);
}

} // namespace

int main(int argc, char** argv) {
    if (argc >= 2 && std::strcmp(argv[1], "trace") == 0) return runTrace(argc, argv);
    if (argc >= 2 && std::strcmp(argv[1], "convert") == 0) return runConvert(argc, argv);
    if (argc >= 2 && std::strcmp(argv[1], "circuits") == 0) return runCircuitsCommand(argc, argv);
    if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
        std::cout << "lorvane-cli " LORVANE_VERSION "\n";
        return 0;
    }
    std::string err;
    auto args = parseArgs(argc, argv, err);
    if (!args) return usage(err);

    try {
        args->kind = cli::logKindFor(args->logOption, args->log);
    } catch (const LoadError& e) {
        return fail(e.diagnostic());
    }
    Session session;
    std::optional<std::string> circuit;
    if (args->gxr.empty()) {
        const double maxGap = args->rules.maxGap;
        circuit = useCircuitFromDb(session, args->kind, args->log, args->db, args->circuit, args->rulesGiven,
                                   args->rules);
        if (!circuit) return 1;
        args->rules.maxGap = maxGap;
    } else {
        StartFinishReport sf = session.loadStartFinish(args->gxr);
        if (!sf.ok) return fail(sf.error);
    }

    SessionObserver quiet;
    session.setGateRules(args->rules);
    session.setKeepTrack(args->json); // the lap analysis reads it; the plain list keeps nothing per sample
    LoadReport report = session.loadLog(args->kind, args->log, quiet);

    // A file read only in part loads what came before the damage; say so.
    if (!report.readerNote.empty()) std::cerr << "lorvane-cli: " << args->log << ": " << report.readerNote << "\n";
    if (args->command == "laps") {
        if (args->json) {
            printJson(session, report, session.loaded() ? session.loaded()->rules : args->rules, args->sectors,
                      circuit);
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

    // ref
    if (!report.ok) return fail(report.error);
    std::int32_t lap = 0;
    if (args->lap == "best") {
        lap = session.bestLap();
        if (lap == 0)
            return fail(Diagnostic{"The log has no complete lap" + (report.noLaps.empty() ? "" : ": " + report.noLaps),
                                   args->log, 0, -1});
    } else {
        auto n = parseInteger(args->lap);
        if (!n || *n < 1) return usage("--lap takes a lap number from 1, or best");
        lap = *n;
    }
    try {
        ReferenceLap ref = session.pickLap(lap);
        session.saveLapRefFile(ref, args->out, args->fixed);
    } catch (const LoadError& e) {
        return fail(e.diagnostic());
    }
    std::cout << args->out << "\n";
    return 0;
}
