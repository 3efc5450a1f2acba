#include "analysis/sectors.h"

#include <algorithm>
#include <cmath>

#include "laps/gate_rules.h"

namespace lorvane {

std::vector<SectorLine> sectorLines(const LapTrace& reference, int sectors) {
    std::vector<SectorLine> lines;
    if (reference.empty() || sectors < 2) return lines;
    const double D = reference.distance;
    for (int k = 1; k < sectors; ++k) {
        SectorLine l;
        l.distance = D * k / sectors;
        l.p1 = positionAtDistance(reference, l.distance);
        const LocalPoint a = positionAtDistance(reference, l.distance - kSectorChordHalf);
        const LocalPoint b = positionAtDistance(reference, l.distance + kSectorChordHalf);
        const double de = b.east - a.east, dn = b.north - a.north;
        const double len = std::hypot(de, dn);
        l.p2 = l.p1;
        if (len > 0 && std::isfinite(len)) { // otherwise no direction: a line nothing crosses
            l.p2.east += de / len * kSectorLineDirection;
            l.p2.north += dn / len * kSectorLineDirection;
        }
        lines.push_back(l);
    }
    return lines;
}

std::vector<std::optional<double>> lineCrossings(const LapTrace& trace, const std::vector<SectorLine>& lines) {
    // The start/finish gate test, forward only, with a gate of fixed width.
    GateRules rules;
    rules.direction = GateDirection::Forward;
    rules.gateWidth = kSectorGateHalfWidth;
    std::vector<std::optional<double>> out(lines.size());
    const auto& p = trace.points;
    // Where the last line was found: the segment ending at point `seg`, and
    // the time into the lap.
    std::size_t seg = 1;
    double last = 0;
    for (std::size_t k = 0; k < lines.size(); ++k) {
        for (std::size_t i = seg; i < p.size(); ++i) {
            // The measured-interval rule: the time between the two points.
            const double dt = p[i].time - p[i - 1].time;
            const auto c = crossGate(lines[k].p1, lines[k].p2, LocalPoint{p[i].east, p[i].north},
                                     LocalPoint{p[i - 1].east, p[i - 1].north}, dt > 0 ? dt : 0, rules);
            if (!c) continue;
            const double t = p[i].time - c->offset;
            if (i == seg && t < last) continue; // on the same segment, before the last line found
            out[k] = t;
            seg = i;
            last = t;
            break;
        }
    }
    return out;
}

std::vector<std::optional<double>> sectorTimes(const LapTrace& trace, const std::vector<SectorLine>& lines) {
    std::vector<std::optional<double>> out(lines.size() + 1);
    if (trace.empty()) return out;
    const auto x = lineCrossings(trace, lines);
    std::optional<double> from = 0.0;
    for (std::size_t k = 0; k <= lines.size(); ++k) {
        const std::optional<double> to = k < lines.size() ? x[k] : std::optional<double>(trace.time);
        if (from && to) out[k] = *to - *from;
        from = to;
    }
    return out;
}

SectorTable bestSectors(const std::vector<std::int32_t>& laps,
                        const std::vector<std::vector<std::optional<double>>>& sectors, int sectorCount) {
    SectorTable t;
    const auto n = static_cast<std::size_t>(std::max(sectorCount, 0));
    t.best.resize(n);
    for (std::size_t i = 0; i < laps.size() && i < sectors.size(); ++i)
        for (std::size_t k = 0; k < n && k < sectors[i].size(); ++k) {
            const auto& s = sectors[i][k];
            if (s && (!t.best[k] || *s < t.best[k]->time)) t.best[k] = BestSector{laps[i], *s};
        }
    if (n == 0) return t;
    double sum = 0;
    for (const auto& b : t.best) {
        if (!b) return t;
        sum += b->time;
    }
    t.theoreticalBest = sum;
    return t;
}

} // namespace lorvane
