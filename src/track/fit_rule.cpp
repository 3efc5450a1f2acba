#include "track/fit_rule.h"

#include <algorithm>
#include <cmath>

namespace lorvane::track {

namespace {

void widenToMinimum(double& lo, double& hi) {
    if (hi - lo >= kMinimumSpan) return;
    const double mid = lo + (hi - lo) / 2;
    lo = mid - kMinimumSpan / 2;
    hi = mid + kMinimumSpan / 2;
}

} // namespace

std::optional<AxisLimits> fitTrack(const TrackExtent& extent) {
    if (extent.empty() || extent.maxNorth < extent.minNorth) return std::nullopt;

    const double spanEast = extent.maxEast - extent.minEast;
    const double spanNorth = extent.maxNorth - extent.minNorth;
    AxisLimits lim{extent.minEast, extent.maxEast, extent.minNorth, extent.maxNorth};
    if (spanEast > spanNorth) {
        const double pad = std::trunc(spanEast - spanNorth) / 2;
        lim.northMax += pad;
        lim.northMin -= pad;
    } else if (spanNorth > spanEast) {
        const double pad = std::trunc(spanNorth - spanEast) / 2;
        lim.eastMax += pad;
        lim.eastMin -= pad;
    }
    widenToMinimum(lim.eastMin, lim.eastMax);
    widenToMinimum(lim.northMin, lim.northMax);
    const double margin = std::max(lim.eastMax - lim.eastMin, lim.northMax - lim.northMin) * kFitMargin;
    lim.eastMin -= margin;
    lim.eastMax += margin;
    lim.northMin -= margin;
    lim.northMax += margin;
    return lim;
}

} // namespace lorvane::track
