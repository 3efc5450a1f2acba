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

void proposeLoadedCircuit(TAddToDatabaseForm& form, const Session& session,
                          const display::TrackPlot& plot) {
    if (!session.hasStartFinish()) {
        form.clearProposal();
        return;
    }
    std::optional<double> distance;
    if (session.logLoaded() && session.bestLap() > 0) {
        const auto& laps = session.laps();
        auto it = std::find_if(laps.begin(), laps.end(),
                               [&](const Lap& l) { return l.number == session.bestLap(); });
        if (it != laps.end()) distance = plottedLength(plot, it->startSample, it->endSample);
    }
    form.proposeCircuit(QFile::decodeName(session.gxrFileName().c_str()), session.gates(),
                        distance);
    form.proposeSplits(session.startFinish().splits);
}

} // namespace lorvane::dbtools
