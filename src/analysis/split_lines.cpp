#include "analysis/split_lines.h"

#include <algorithm>
#include <cmath>

namespace lorvane {

std::vector<SectorLine> splitSectorLines(const std::vector<Gate>& splits, const LocalPlane& plane,
                                         const LapTrace& reference) {
    std::vector<SectorLine> out;
    if (reference.empty()) return out;
    for (std::size_t i = 0; i < splits.size(); ++i) {
        const Gate& g = splits[i];
        SectorLine line;
        line.split = static_cast<int>(i);
        line.p1 = plane.toLocal(g.lat1, g.long1);
        line.p2 = plane.toLocal(g.lat2, g.long2);
        const double len = std::hypot(line.p2.east - line.p1.east, line.p2.north - line.p1.north);
        if (!(len > 0) || !std::isfinite(len)) continue;
        double best = kSectorGateHalfWidth;
        bool near = false;
        for (const TracePoint& p : reference.points) {
            const double d = std::hypot(p.east - line.p1.east, p.north - line.p1.north);
            if (d <= best) {
                best = d;
                line.distance = p.distance;
                near = true;
            }
        }
        if (near) out.push_back(line);
    }
    std::stable_sort(out.begin(), out.end(),
                     [](const SectorLine& a, const SectorLine& b) { return a.distance < b.distance; });
    return out;
}

} // namespace lorvane
