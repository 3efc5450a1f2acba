#include "display/thinning.h"

#include <cmath>
#include <cstdint>
#include <limits>

namespace lorvane::display {

namespace {

enum : unsigned { kLeft = 1, kRight = 2, kBelow = 4, kAbove = 8 };

struct Grid {
    double x0, y0, x1, y1; // viewport with margin
    double cellW, cellH;

    explicit Grid(const Viewport& v) {
        const double w = v.widthPx > 1 ? v.widthPx : 1;
        const double h = v.heightPx > 1 ? v.heightPx : 1;
        cellW = (v.xMax - v.xMin) / w;
        cellH = (v.yMax - v.yMin) / h;
        if (!(cellW > 0)) cellW = std::numeric_limits<double>::min();
        if (!(cellH > 0)) cellH = std::numeric_limits<double>::min();
        x0 = v.xMin - kThinMarginPx * cellW;
        x1 = v.xMax + kThinMarginPx * cellW;
        y0 = v.yMin - kThinMarginPx * cellH;
        y1 = v.yMax + kThinMarginPx * cellH;
    }

    unsigned outcode(const TrackPoint& p) const {
        unsigned c = 0;
        if (p.east < x0) c |= kLeft;
        else if (p.east > x1) c |= kRight;
        if (p.north < y0) c |= kBelow;
        else if (p.north > y1) c |= kAbove;
        // NaN lands in no half-plane; such a point is kept and drawn as the
        // plotting library draws it.
        return c;
    }

    // Cell of a point known to be inside (with margin): small non-negative ints.
    std::uint64_t cell(const TrackPoint& p) const {
        const auto cx = static_cast<std::uint64_t>((p.east - x0) / cellW);
        const auto cy = static_cast<std::uint64_t>((p.north - y0) / cellH);
        return (cy << 32) ^ cx;
    }
};

} // namespace

void thinForView(std::span<const TrackPoint> points, const Viewport& view,
                 std::vector<TrackPoint>& out) {
    out.clear();
    const std::size_t n = points.size();
    if (n <= 2) {
        out.assign(points.begin(), points.end());
        return;
    }
    const Grid g(view);
    constexpr std::uint64_t kNoCell = ~std::uint64_t{0};
    std::uint64_t lastCell = kNoCell;

    std::size_t i = 0;
    while (i < n) {
        const unsigned code = g.outcode(points[i]);
        if (code != 0) {
            // A run beyond one common edge: keep its ends only.
            unsigned common = code;
            std::size_t j = i + 1;
            while (j < n) {
                const unsigned c = common & g.outcode(points[j]);
                if (c == 0) break;
                common = c;
                ++j;
            }
            out.push_back(points[i]);
            if (j - 1 > i) out.push_back(points[j - 1]);
            lastCell = kNoCell;
            i = j;
            continue;
        }
        const std::uint64_t c = g.cell(points[i]);
        if (c != lastCell || i == n - 1) {
            out.push_back(points[i]);
            lastCell = c;
        }
        ++i;
    }
    // The last point closes either an outside run or the inside branch above,
    // so it is always in `out`.
}

} // namespace lorvane::display
