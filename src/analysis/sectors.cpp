#include "analysis/sectors.h"

#include <algorithm>
#include <cmath>

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

namespace {

// Where along the segment from point i-1 to point i it crosses the line
// forwards, within the gate: the fraction of the segment back from point i.
std::optional<double> forwardCrossing(const SectorLine& l, const TracePoint& prev, const TracePoint& cur) {
    const double de = l.p2.east - l.p1.east, dn = l.p2.north - l.p1.north;
    if (de == 0 && dn == 0) return std::nullopt;
    const double dPrev = (prev.east - l.p1.east) * de + (prev.north - l.p1.north) * dn;
    const double dCur = (cur.east - l.p1.east) * de + (cur.north - l.p1.north) * dn;
    if (!(dPrev < 0 && dCur >= 0)) return std::nullopt;
    const double g = std::fabs(dCur) / (std::fabs(dPrev) + std::fabs(dCur));
    if (!std::isfinite(g)) return std::nullopt;
    const double xe = cur.east + (prev.east - cur.east) * g;
    const double xn = cur.north + (prev.north - cur.north) * g;
    if (!(std::hypot(xe - l.p1.east, xn - l.p1.north) <= kSectorGateHalfWidth)) return std::nullopt;
    return g;
}

} // namespace

std::vector<std::optional<double>> lineCrossings(const LapTrace& trace, const std::vector<SectorLine>& lines) {
    std::vector<std::optional<double>> out(lines.size());
    const auto& p = trace.points;
    // Position after the last line found: segment (ending at point `seg`) and
    // fraction of it from its start.
    std::size_t seg = 1;
    double along = -1;
    for (std::size_t k = 0; k < lines.size(); ++k) {
        for (std::size_t i = seg; i < p.size(); ++i) {
            const auto g = forwardCrossing(lines[k], p[i - 1], p[i]);
            if (!g || (i == seg && 1 - *g < along)) continue;
            // The measured-interval rule: the offset back from point i is the
            // time between the two points times the fraction of the segment.
            const double dt = p[i].time - p[i - 1].time;
            const double offset = dt > 0 ? dt * *g : 0;
            out[k] = p[i].time - offset;
            seg = i;
            along = 1 - *g;
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
