#include "gui/dbtools/circuit_store.h"

#include <algorithm>
#include <cmath>

#include <QFile>
#include <QWidget>

#include "formats/numbers.h"
#include "gui/common/prompts.h"
#include "gui/dbtools/uAddToDataBase.h"
#include "gui/display/track_plot.h"
#include "session/session.h"

namespace lorvane::dbtools {

std::optional<CircuitDb> openCircuitDb(const std::string& path, app::Prompts& prompts,
                                       QWidget* parent) {
    try {
        return CircuitDb::open(path.empty() ? defaultCircuitDbPath() : path);
    } catch (const LoadError& e) {
        prompts.error(parent, errorText(e.diagnostic()));
    }
    return std::nullopt;
}

QString errorText(const Diagnostic& d) {
    return QString::fromStdString(d.describe());
}

QString gateText(const Gate& g, int decimals) {
    auto deg = [&](double minutes) {
        return QString::fromStdString(formatFixed(minutes / 60, 1, decimals));
    };
    return deg(g.lat1) + QStringLiteral(", ") + deg(g.long1) + QStringLiteral(" to ") +
           deg(g.lat2) + QStringLiteral(", ") + deg(g.long2);
}

QString distanceText(double metres) {
    return QString::fromStdString(lorvane::distanceText(metres));
}

std::optional<double> plottedLength(const display::TrackPlot& plot, std::int32_t first,
                                    std::int32_t last) {
    const auto& track = plot.track();
    double sum = 0;
    int used = 0;
    LocalPoint prev;
    for (std::size_t i = 0; i < track.size(); ++i) {
        const std::int32_t s = plot.trackSample(i);
        if (s < first) continue;
        if (s > last) break;
        if (used > 0) sum += std::hypot(track[i].east - prev.east, track[i].north - prev.north);
        prev = track[i];
        ++used;
    }
    if (used < 2) return std::nullopt;
    return sum;
}

void proposeLoadedCircuit(TAddToDatabaseForm& form, const LoadedLog& log,
                          const display::TrackPlot& plot) {
    if (log.startFinish.path.empty()) {
        form.clearProposal();
        return;
    }
    std::optional<double> distance;
    if (const Lap* best = log.lap(log.bestLap))
        distance = plottedLength(plot, best->startSample, best->endSample);
    // The log's rules hold its format's default width when none was chosen.
    GateRules rules = log.rules;
    GateRules unset = rules;
    unset.gateWidth.reset();
    if (effectiveRules(log.kind, unset).gateWidth == rules.gateWidth) rules.gateWidth.reset();
    form.proposeCircuit(QFile::decodeName(log.startFinish.path.c_str()), log.startFinish.gates,
                        distance, rules);
    form.proposeSplits(log.startFinish.splits);
}

void proposeLoadedCircuit(TAddToDatabaseForm& form, const StartFinishFile& startFinish,
                          const GateRules& rules) {
    if (startFinish.path.empty()) {
        form.clearProposal();
        return;
    }
    form.proposeCircuit(QFile::decodeName(startFinish.path.c_str()), startFinish.gates,
                        std::nullopt, rules);
    form.proposeSplits(startFinish.splits);
}

void proposeLoadedCircuit(TAddToDatabaseForm& form, const Session& session,
                          const display::TrackPlot& plot) {
    const std::shared_ptr<const LoadedLog> log = session.loaded();
    if (log && !log->startFinish.path.empty())
        proposeLoadedCircuit(form, *log, plot);
    else
        proposeLoadedCircuit(form, session.startFinish(), session.gateRules());
}

} // namespace lorvane::dbtools
