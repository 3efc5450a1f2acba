#include "analysis/lap_delta.h"

#include <algorithm>

namespace lorvane {

namespace {

// timeAtDistance for distances that never decrease: walks the points once.
class DistanceCursor {
public:
    explicit DistanceCursor(const LapTrace& t) : t_(t) {}

    std::optional<double> timeAt(double d) {
        const auto& p = t_.points;
        if (p.empty() || !(d >= 0) || d > t_.distance) return std::nullopt;
        while (i_ + 1 < p.size() && p[i_].distance < d) ++i_;
        // i_ is now the first point whose distance reaches d.
        if (i_ == 0 || !(p[i_].distance > p[i_ - 1].distance)) return p[i_].time;
        const double u = (d - p[i_ - 1].distance) / (p[i_].distance - p[i_ - 1].distance);
        return p[i_ - 1].time + (p[i_].time - p[i_ - 1].time) * u;
    }

private:
    const LapTrace& t_;
    std::size_t i_ = 0;
};

} // namespace

std::optional<double> deltaAt(const LapTrace& compared, const LapTrace& reference, double d) {
    const auto c = timeAtDistance(compared, d);
    const auto r = timeAtDistance(reference, d);
    if (!c || !r) return std::nullopt;
    return *c - *r;
}

std::vector<DeltaPoint> deltaOnGrid(const LapTrace& compared, const LapTrace& reference, std::size_t count) {
    std::vector<DeltaPoint> out;
    if (count == 0 || compared.empty() || reference.empty()) return out;
    const double end = std::min(compared.distance, reference.distance);
    out.reserve(count);
    DistanceCursor c(compared), r(reference);
    for (std::size_t k = 0; k < count; ++k) {
        // The last point lands on `end` exactly.
        const double d = k + 1 == count ? (count == 1 ? 0.0 : end)
                                        : end * static_cast<double>(k) / static_cast<double>(count - 1);
        const auto tc = c.timeAt(d);
        const auto tr = r.timeAt(d);
        if (tc && tr) out.push_back(DeltaPoint{d, *tc - *tr});
    }
    return out;
}

std::vector<std::optional<double>> deltaAtPoints(const LapTrace& compared, const LapTrace& reference) {
    std::vector<std::optional<double>> out;
    out.reserve(compared.points.size());
    DistanceCursor c(compared), r(reference);
    for (const TracePoint& p : compared.points) {
        const auto tc = c.timeAt(p.distance);
        const auto tr = r.timeAt(p.distance);
        if (tc && tr)
            out.emplace_back(*tc - *tr);
        else
            out.emplace_back(std::nullopt);
    }
    return out;
}

} // namespace lorvane
