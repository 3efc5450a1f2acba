#include "analysis/lap_delta.h"

#include <algorithm>

namespace lorvane {

namespace {

// Time into a lap at a distance along it, as timeAtDistance gives it, but
// the lap time at the lap distance itself: the closing crossing point is
// where the lap ends, even when a sample before it lies just as far along
// (a fix repeated, or a crossing point clamped onto the sample before it).
// Walks the points forward as the distance grows, so a whole lap costs one
// pass; a distance that goes back costs the steps back.
class LapClock {
public:
    explicit LapClock(const LapTrace& t) : t_(t) {}

    std::optional<double> timeAt(double d) {
        const auto& p = t_.points;
        if (p.empty() || !(d >= 0) || d > t_.distance) return std::nullopt;
        if (d == t_.distance) return p.back().time;
        while (i_ > 0 && p[i_ - 1].distance >= d) --i_;
        while (i_ + 1 < p.size() && p[i_].distance < d) ++i_;
        // i_ is now the first point whose distance reaches d.
        if (i_ == 0 || p[i_].distance == d || !(p[i_].distance > p[i_ - 1].distance)) return p[i_].time;
        const double u = (d - p[i_ - 1].distance) / (p[i_].distance - p[i_ - 1].distance);
        return p[i_ - 1].time + (p[i_].time - p[i_ - 1].time) * u;
    }

private:
    const LapTrace& t_;
    std::size_t i_ = 0;
};

// The distance along `to` at the same share of its lap as `d` along `from`:
// d itself when the two laps are as long, `to`'s lap distance at `from`'s.
double sameShare(double d, const LapTrace& from, const LapTrace& to) {
    if (d >= from.distance) return to.distance;
    if (from.distance == to.distance) return d;
    return std::min(d * (to.distance / from.distance), to.distance);
}

} // namespace

std::optional<double> deltaAt(const LapTrace& compared, const LapTrace& reference, double d) {
    if (compared.empty() || reference.empty() || !(d >= 0) || d > reference.distance) return std::nullopt;
    const auto c = LapClock(compared).timeAt(sameShare(d, reference, compared));
    const auto r = LapClock(reference).timeAt(d);
    if (!c || !r) return std::nullopt;
    return *c - *r;
}

std::vector<DeltaPoint> deltaOnGrid(const LapTrace& compared, const LapTrace& reference, std::size_t count) {
    std::vector<DeltaPoint> out;
    if (count == 0 || compared.empty() || reference.empty()) return out;
    const double end = reference.distance;
    out.reserve(count);
    LapClock c(compared), r(reference);
    for (std::size_t k = 0; k < count; ++k) {
        // The last point lands on `end` exactly.
        const double d = k + 1 == count ? (count == 1 ? 0.0 : end)
                                        : end * static_cast<double>(k) / static_cast<double>(count - 1);
        const auto tc = c.timeAt(sameShare(d, reference, compared));
        const auto tr = r.timeAt(d);
        if (tc && tr) out.push_back(DeltaPoint{d, *tc - *tr});
    }
    return out;
}

std::vector<std::optional<double>> deltaAtPoints(const LapTrace& compared, const LapTrace& reference) {
    std::vector<std::optional<double>> out(compared.points.size());
    if (compared.empty() || reference.empty()) return out;
    LapClock r(reference);
    // The point's own time: where the compared vehicle stands still, its
    // delta grows with it. The last point, at the lap distance, meets the
    // reference lap's closing crossing.
    for (std::size_t i = 0; i < compared.points.size(); ++i) {
        const TracePoint& p = compared.points[i];
        if (const auto tr = r.timeAt(sameShare(p.distance, compared, reference))) out[i] = p.time - *tr;
    }
    return out;
}

std::optional<DeltaExtremes> deltaExtremes(const LapTrace& compared, const LapTrace& reference) {
    if (compared.empty() || reference.empty()) return std::nullopt;
    DeltaExtremes e;
    LapClock c(compared), r(reference);
    auto look = [&](double d) {
        const auto tc = c.timeAt(sameShare(d, reference, compared));
        const auto tr = r.timeAt(d);
        if (!tc || !tr) return;
        const double delta = *tc - *tr;
        if (delta > e.highest.delta) e.highest = DeltaPoint{d, delta};
        if (delta < e.lowest.delta) e.lowest = DeltaPoint{d, delta};
    };
    // Both lists of distances run forward: walk them together, so that the
    // two clocks only ever step forward.
    const auto& rp = reference.points;
    const auto& cp = compared.points;
    std::size_t i = 0, j = 0;
    while (i < rp.size() || j < cp.size()) {
        const double dr = i < rp.size() ? rp[i].distance : reference.distance;
        const double dc = j < cp.size() ? sameShare(cp[j].distance, compared, reference) : reference.distance;
        if (i < rp.size() && (j == cp.size() || dr <= dc)) {
            look(dr);
            ++i;
        } else {
            look(dc);
            ++j;
        }
    }
    e.finish = compared.points.back().time - reference.points.back().time;
    return e;
}

} // namespace lorvane
