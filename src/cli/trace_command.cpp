#include "cli/trace_command.h"

#include <cmath>
#include <cstdio>
#include <iostream>
#include <optional>

#include "analysis/lap_delta.h"
#include "cli/log_arg.h"
#include "formats/numbers.h"
#include "laps/gate_rules.h"
#include "laps/reference_lap.h"

namespace lorvane {

namespace {

const char* kTraceUsage =
    "usage: lorvane-cli trace --gxr FILE (--zlg FILE | --wmx FILE | --log FILE) [RULES] --lap N [--vs M]\n"
    "  RULES: [--direction both|forward|reverse] [--gate-width METRES] [--min-lap SECONDS]\n"
    "         [--max-gap SECONDS]\n";

int traceUsage(const std::string& why) {
    std::cerr << "lorvane-cli: " << why << "\n" << kTraceUsage;
    return 2;
}

int traceFail(const Diagnostic& d) {
    std::cerr << "lorvane-cli: " << d.message;
    const std::string w = d.where();
    if (!w.empty()) std::cerr << " (" << w << ")";
    std::cerr << "\n";
    return 1;
}

GeoPoint toGeo(const LocalPlane& plane, LocalPoint p) {
    GeoPoint g;
    g.lat = plane.baseLat + p.north / kMetresPerMinute;
    g.lon = plane.longScale != 0 ? plane.baseLong + p.east / (kMetresPerMinute * plane.longScale) : plane.baseLong;
    return g;
}

std::string jsonNumber(const std::optional<double>& v) {
    return v ? format17(*v) : "null";
}

struct TraceArgs {
    std::string gxr, log;
    LogKind kind = LogKind::Text;
    std::string logOption; // --zlg, --wmx or --log
    bool haveLog = false;
    std::int32_t lap = 0, vs = 0;
    GateRules rules; // the laps are cut as `laps` cuts them with the same options
};

std::optional<TraceArgs> parseTraceArgs(int argc, char** argv, std::string& err) {
    TraceArgs a;
    auto lapNumber = [&](const std::string& opt, const char* text, std::int32_t& dst) {
        const auto n = parseInteger(text);
        if (!n || *n < 1) {
            err = opt + " takes a lap number from 1";
            return false;
        }
        dst = *n;
        return true;
    };
    for (int i = 2; i < argc; ++i) {
        const std::string opt = argv[i];
        if (i + 1 >= argc) {
            err = opt == "--gxr" || cli::isLogOption(opt) || opt == "--lap" || opt == "--vs" || opt == "--direction" ||
                          opt == "--gate-width" || opt == "--min-lap" || opt == "--max-gap"
                      ? opt + " needs a value"
                      : "unknown option '" + opt + "'";
            return std::nullopt;
        }
        const char* value = argv[++i];
        if (opt == "--gxr") {
            a.gxr = value;
        } else if (cli::isLogOption(opt)) {
            if (a.haveLog) {
                err = "give one log, --zlg, --wmx or --log";
                return std::nullopt;
            }
            a.log = value;
            a.logOption = opt;
            a.haveLog = true;
        } else if (opt == "--lap") {
            if (!lapNumber(opt, value, a.lap)) return std::nullopt;
        } else if (opt == "--vs") {
            if (!lapNumber(opt, value, a.vs)) return std::nullopt;
        } else if (opt == "--direction") {
            const auto d = parseDirection(value);
            if (!d) {
                err = "--direction takes both, forward or reverse";
                return std::nullopt;
            }
            a.rules.direction = *d;
        } else if (opt == "--gate-width") {
            const auto v = parseDecimal(value);
            if (!v || !std::isfinite(*v) || !(*v > 0)) {
                err = "--gate-width takes a number of metres above 0";
                return std::nullopt;
            }
            a.rules.gateWidth = *v;
        } else if (opt == "--min-lap") {
            const auto v = parseDecimal(value);
            if (!v || !std::isfinite(*v) || !(*v >= 0)) {
                err = "--min-lap takes a number of seconds, 0 or more";
                return std::nullopt;
            }
            a.rules.minLap = *v;
        } else if (opt == "--max-gap") {
            const auto v = parseDecimal(value);
            if (!v || !std::isfinite(*v) || !(*v > 0)) {
                err = "--max-gap takes a number of seconds above 0";
                return std::nullopt;
            }
            a.rules.maxGap = *v;
        } else {
            err = "unknown option '" + opt + "'";
            return std::nullopt;
        }
    }
    if (a.gxr.empty())
        err = "--gxr FILE is required";
    else if (!a.haveLog)
        err = "--zlg FILE, --wmx FILE or --log FILE is required";
    else if (a.lap == 0)
        err = "--lap N is required";
    if (!err.empty()) return std::nullopt;
    return a;
}

} // namespace

std::shared_ptr<const Track> loadedTrack(const Session& session) {
    const auto log = session.loaded();
    if (log && log->track) return log->track;
    return std::make_shared<const Track>();
}

LapsJsonAnalysis::LapsJsonAnalysis(const Session& session, int sectors) : plane_(session.plane()) {
    analysis_ = analyseLaps(*loadedTrack(session), session.laps(), session.crossings(), sectors);
}

std::string LapsJsonAnalysis::lapFields(std::size_t i) const {
    if (i >= analysis_.laps.size()) return {};
    const LapSummary& s = analysis_.laps[i];
    std::string o = ", \"distance\": ";
    o += s.traced ? format17(s.distance) : "null";
    o += ", \"max_speed\": ";
    o += s.traced ? format17(s.maxSpeed) : "null";
    o += ", \"sectors\": [";
    for (std::size_t k = 0; k < s.sectors.size(); ++k) {
        if (k) o += ", ";
        o += jsonNumber(s.sectors[k]);
    }
    return o + "]";
}

std::string LapsJsonAnalysis::topFields() const {
    std::string o = ", \"sector_count\": " + std::to_string(analysis_.sectorCount);
    o += ", \"theoretical_best\": " + jsonNumber(analysis_.table.theoreticalBest);
    o += ", \"best_sectors\": [";
    for (std::size_t k = 0; k < analysis_.table.best.size(); ++k) {
        if (k) o += ", ";
        const auto& b = analysis_.table.best[k];
        o += b ? "{\"lap\": " + std::to_string(b->lap) + ", \"time\": " + format17(b->time) + "}" : "null";
    }
    o += "], \"sector_reference_lap\": " + std::to_string(analysis_.referenceLap);
    o += ", \"sector_lines\": [";
    for (std::size_t k = 0; k < analysis_.lines.size(); ++k) {
        const SectorLine& l = analysis_.lines[k];
        const GeoPoint a = toGeo(plane_, l.p1), b = toGeo(plane_, l.p2);
        if (k) o += ", ";
        o += "{\"lat1\": " + format17(a.lat) + ", \"long1\": " + format17(a.lon) + ", \"lat2\": " + format17(b.lat) +
             ", \"long2\": " + format17(b.lon) + ", \"east1\": " + format17(l.p1.east) +
             ", \"north1\": " + format17(l.p1.north) + ", \"east2\": " + format17(l.p2.east) +
             ", \"north2\": " + format17(l.p2.north) + ", \"distance\": " + format17(l.distance) + "}";
    }
    return o + "]";
}

int runTrace(int argc, char** argv) {
    std::string err;
    const auto args = parseTraceArgs(argc, argv, err);
    if (!args) return traceUsage(err);

    Session session;
    const StartFinishReport sf = session.loadStartFinish(args->gxr);
    if (!sf.ok) return traceFail(sf.error);
    SessionObserver quiet;
    session.setGateRules(args->rules);
    session.setKeepTrack(true);
    LogKind kind;
    try {
        kind = cli::logKindFor(args->logOption, args->log);
    } catch (const LoadError& e) {
        return traceFail(e.diagnostic());
    }
    const LoadReport report = session.loadLog(kind, args->log, quiet);
    if (!report.ok) return traceFail(report.error);

    const auto& laps = session.laps();
    for (std::int32_t n : {args->lap, args->vs})
        if (n != 0 && (static_cast<std::size_t>(n) > laps.size()))
            return traceFail(
                Diagnostic{"There is no lap " + std::to_string(n) + " in the loaded log", args->log, 0, -1});

    const auto kept = loadedTrack(session);
    const Track& track = *kept;
    const LapTrace trace = traceLapNumber(track, laps, session.crossings(), args->lap);
    if (trace.empty())
        return traceFail(Diagnostic{"Lap " + std::to_string(args->lap) + " has no samples to trace", args->log, 0, -1});
    std::vector<std::optional<double>> delta;
    if (args->vs) {
        const LapTrace ref = traceLapNumber(track, laps, session.crossings(), args->vs);
        if (ref.empty())
            return traceFail(
                Diagnostic{"Lap " + std::to_string(args->vs) + " has no samples to trace", args->log, 0, -1});
        delta = deltaAtPoints(trace, ref);
    }

    std::string out = args->vs ? "distance,time,speed,east,north,delta\n" : "distance,time,speed,east,north\n";
    for (std::size_t i = 0; i < trace.points.size(); ++i) {
        const TracePoint& p = trace.points[i];
        appendFixed(out, p.distance, 1, 3);
        out += ',';
        appendFixed(out, p.time, 1, 3);
        out += ',';
        appendFixed(out, p.speed, 1, 2);
        out += ',';
        appendFixed(out, p.east, 1, 3);
        out += ',';
        appendFixed(out, p.north, 1, 3);
        if (args->vs) {
            out += ',';
            if (delta[i]) appendFixed(out, *delta[i], 1, 3);
        }
        out += '\n';
        if (out.size() >= (1u << 16)) {
            std::fwrite(out.data(), 1, out.size(), stdout);
            out.clear();
        }
    }
    std::fwrite(out.data(), 1, out.size(), stdout);
    std::fflush(stdout);
    return 0;
}

} // namespace lorvane
