#include "cli/trace_command.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "analysis/lap_channels.h"
#include "analysis/lap_delta.h"
#include "cli/cli_util.h"
#include "cli/log_arg.h"
#include "formats/numbers.h"
#include "laps/gate_rules.h"
#include "laps/reference_lap.h"

namespace lorvane {

namespace {

GeoPoint toGeo(const LocalPlane& plane, LocalPoint p) {
    GeoPoint g;
    g.lat = plane.baseLat + p.north / kMetresPerMinute;
    g.lon = plane.longScale != 0 ? plane.baseLong + p.east / (kMetresPerMinute * plane.longScale) : plane.baseLong;
    return g;
}

cli::Json jsonNumber(const std::optional<double>& v) {
    return v ? cli::Json(*v) : cli::Json();
}

struct TraceArgs {
    std::string gxr, lap, vs;
    std::vector<std::string> channels; // --channels NAME[,NAME...]
    cli::LogOptions log;
    cli::RuleOptions rules;   // the laps are cut as `laps` cuts them with the same options
    cli::SplitOptions splits; // taken as `laps` takes them; the trace of a lap does not depend on them
    CLI::Option *gxrOpt = nullptr, *lapOpt = nullptr, *vsOpt = nullptr;
};

int traceFail(const Diagnostic& d) {
    return cli::reportError(d);
}

// A channel's value between two samples: one decimal more than the log
// wrote on the sample beside it (`nextTo`), trailing zeros dropped.
// Digits after the point of a number's text.
int decimalsOf(const std::string& text) {
    const std::size_t point = text.find('.');
    if (point == std::string::npos) return 0;
    const std::size_t exponent = text.find_first_of("eE");
    return static_cast<int>((exponent == std::string::npos ? text.size() : exponent) - point - 1);
}

std::string interpolatedText(double v, const std::string& nextTo) {
    if (std::isnan(v)) return {};
    const std::size_t point = nextTo.find('.');
    const std::size_t exponent = nextTo.find_first_of("eE");
    int decimals = 1;
    if (point != std::string::npos)
        decimals += static_cast<int>((exponent == std::string::npos ? nextTo.size() : exponent) - point - 1);
    std::string text = formatFixed(v, 1, std::min(decimals, 9));
    while (text.back() == '0') text.pop_back();
    if (text.back() == '.') text.pop_back();
    if (text == "-0") text = "0";
    return text;
}

int runTrace(TraceArgs& a) {
    if (a.log.count() > 1) throw cli::UsageError("give one log, --zlg, --wmx or --log");
    if (!a.gxrOpt->count()) throw cli::UsageError("--gxr FILE is required");
    if (a.log.count() == 0) throw cli::UsageError("--zlg FILE, --wmx FILE or --log FILE is required");
    if (!a.lapOpt->count()) throw cli::UsageError("--lap N is required");
    a.log.resolve();
    const std::int32_t lap = cli::lapNumber("--lap", a.lap);
    const std::int32_t vs = a.vsOpt->count() ? cli::lapNumber("--vs", a.vs) : 0;
    GateRules rules;
    a.rules.apply(rules);
    const std::vector<Gate> splits = a.splits.lines();
    const std::string& logPath = a.log.path();

    Session session;
    const StartFinishReport sf = session.loadStartFinish(a.gxr);
    if (!sf.ok) return traceFail(sf.error);
    if (!splits.empty()) {
        StartFinishFile f = session.startFinish();
        f.splits = splits;
        session.setStartFinish(std::move(f));
    }
    SessionObserver quiet;
    session.setGateRules(rules);
    session.setKeepTrack(true);
    session.setKeepChannels(!a.channels.empty()); // read only when asked for
    LogKind kind;
    try {
        kind = cli::logKindFor(a.log.option(), logPath);
    } catch (const LoadError& e) {
        return traceFail(e.diagnostic());
    }
    const LoadReport report = session.loadLog(kind, logPath, quiet);
    if (!report.ok) return traceFail(report.error);

    const auto& laps = session.laps();
    for (std::int32_t n : {lap, vs})
        if (n != 0 && (static_cast<std::size_t>(n) > laps.size()))
            return traceFail(Diagnostic{"There is no lap " + std::to_string(n) + " in the loaded log", logPath, 0, -1});

    const auto kept = loadedTrack(session);
    const Track& track = *kept;
    const LapTrace trace = traceLapNumber(track, laps, session.crossings(), lap);
    if (trace.empty())
        return traceFail(Diagnostic{"Lap " + std::to_string(lap) + " has no samples to trace", logPath, 0, -1});
    std::vector<std::optional<double>> delta;
    if (vs) {
        const LapTrace ref = traceLapNumber(track, laps, session.crossings(), vs);
        if (ref.empty())
            return traceFail(Diagnostic{"Lap " + std::to_string(vs) + " has no samples to trace", logPath, 0, -1});
        delta = deltaAtPoints(trace, ref);
    }

    // --channels: the columns asked for, in that order, with their values
    // along the lap (those of the crossing points interpolated).
    std::vector<std::size_t> channels;
    std::vector<std::vector<double>> along;
    std::vector<std::optional<std::size_t>> rows; // the track row of each point
    for (const std::string& name : a.channels) {
        if (name.empty()) throw cli::UsageError("--channels has an empty name (two commas in a row?)");
        const auto c = track.channels.find(name);
        if (!c) {
            std::string list;
            for (const ChannelInfo& i : track.channels.info) list += (list.empty() ? "" : ", ") + i.name;
            return traceFail(Diagnostic{"The log has no channel \"" + name +
                                            "\" (its channels: " + (list.empty() ? "none" : list) + ")",
                                        logPath, 0, -1});
        }
        channels.push_back(*c);
        along.push_back(channelAlongLap(track, session.crossings(), trace, *c));
    }
    if (!channels.empty())
        for (const TracePoint& p : trace.points)
            rows.push_back(p.sample >= 0 ? trackIndex(track, p.sample) : std::nullopt);

    std::string out = vs ? "distance,time,speed,east,north,delta" : "distance,time,speed,east,north";
    for (std::size_t c : channels) {
        const std::string& name = track.channels.info[c].name;
        out += ',';
        if (name.find_first_of(",\"") == std::string::npos) {
            out += name;
        } else { // quoted as CSV quotes
            out += '"';
            for (char ch : name) out += ch == '"' ? std::string("\"\"") : std::string(1, ch);
            out += '"';
        }
    }
    out += '\n';
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
        if (vs) {
            out += ',';
            if (delta[i]) appendFixed(out, *delta[i], 1, 3);
        }
        for (std::size_t k = 0; k < channels.size(); ++k) {
            out += ',';
            const ChannelColumn& column = track.channels.columns[channels[k]];
            if (rows[i] && *rows[i] < column.size()) {
                out += column.text(*rows[i]);
            } else if (i < along[k].size()) {
                // The crossing points: the opening one first, the closing one last.
                // Written to one decimal more than the finer of the two samples
                // either side, so a lap's closing row and the next lap's opening
                // row read alike.
                const std::size_t beside = i == 0 ? 1 : i - 1;
                const auto row = beside < rows.size() ? rows[beside] : std::nullopt;
                std::string finer;
                if (row && *row < column.size()) {
                    const std::size_t other = i == 0 ? *row - 1 : *row + 1;
                    finer = column.text(*row);
                    if (*row > 0 || i != 0)
                        if (other < column.size() && decimalsOf(column.text(other)) > decimalsOf(finer))
                            finer = column.text(other);
                }
                out += interpolatedText(along[k][i], finer);
            }
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

} // namespace

std::shared_ptr<const Track> loadedTrack(const Session& session) {
    const auto log = session.loaded();
    if (log && log->track) return log->track;
    return std::make_shared<const Track>();
}

LapsJsonAnalysis::LapsJsonAnalysis(const Session& session, int sectors) : plane_(session.plane()) {
    if (const auto log = session.loaded())
        analysis_ = analyseLaps(*log, sectors);
    else
        analysis_ = analyseLaps(Track{}, session.laps(), session.crossings(), sectors);
}

void LapsJsonAnalysis::addLapFields(std::size_t i, cli::Json& lap) const {
    if (i >= analysis_.laps.size()) return;
    const LapSummary& s = analysis_.laps[i];
    lap["distance"] = s.traced ? cli::Json(s.distance) : cli::Json();
    lap["max_speed"] = s.traced ? cli::Json(s.maxSpeed) : cli::Json();
    cli::Json& sectors = lap["sectors"] = cli::Json::array();
    for (const auto& t : s.sectors) sectors.push_back(jsonNumber(t));
}

void LapsJsonAnalysis::addTopFields(cli::Json& o) const {
    o["sector_count"] = analysis_.sectorCount;
    o["theoretical_best"] = jsonNumber(analysis_.table.theoreticalBest);
    cli::Json& best = o["best_sectors"] = cli::Json::array();
    for (const auto& b : analysis_.table.best)
        best.push_back(b ? cli::Json{{"lap", b->lap}, {"time", b->time}} : cli::Json());
    o["sector_reference_lap"] = analysis_.referenceLap;
    cli::Json& lines = o["sector_lines"] = cli::Json::array();
    for (const SectorLine& l : analysis_.lines) {
        GeoPoint a = toGeo(plane_, l.p1), b = toGeo(plane_, l.p2);
        if (l.split >= 0 && static_cast<std::size_t>(l.split) < analysis_.splits.size()) {
            // A split line as it was given, not back from the plane.
            const Gate& g = analysis_.splits[static_cast<std::size_t>(l.split)];
            a = GeoPoint{g.lat1, g.long1};
            b = GeoPoint{g.lat2, g.long2};
        }
        lines.push_back({{"lat1", a.lat},
                         {"long1", a.lon},
                         {"lat2", b.lat},
                         {"long2", b.lon},
                         {"east1", l.p1.east},
                         {"north1", l.p1.north},
                         {"east2", l.p2.east},
                         {"north2", l.p2.north},
                         {"distance", l.distance}});
    }
}

cli::CommandRun addTraceCommand(CLI::App& app) {
    auto a = std::make_shared<TraceArgs>();
    CLI::App* cmd = app.add_subcommand(
        "trace", "Print a lap as CSV: distance, time into the lap, speed, east, north, and the channels asked for");
    a->gxrOpt = cmd->add_option("--gxr", a->gxr, "The start/finish line file (required)")->type_name("FILE");
    a->log.add(*cmd);
    a->rules.add(*cmd);
    a->splits.add(*cmd);
    a->lapOpt = cmd->add_option("--lap", a->lap, "The lap to trace (required)")->type_name("N");
    a->vsOpt = cmd->add_option("--vs", a->vs, "Add the time lost against lap M at each point")->type_name("M");
    cmd->add_option("--channels", a->channels,
                    "Add a column for each channel named (lorvane-cli channels lists them), in the log's unit")
        ->delimiter(',')
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll)
        ->type_name("NAME[,NAME...]");
    return [a] { return runTrace(*a); };
}

} // namespace lorvane
