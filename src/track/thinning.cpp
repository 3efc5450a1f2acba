#include "track/thinning.h"

#include <cstdint>
#include <limits>
#include <unordered_set>

namespace lorvane::track {

namespace {

enum : unsigned { kLeft = 1, kRight = 2, kBelow = 4, kAbove = 8 };

constexpr std::uint32_t kNoCell = ~std::uint32_t{0};

struct Grid {
    double x0, y0, x1, y1; // viewport with margin
    double cellW, cellH;
    bool packable; // cells fit 16 bits a side

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
        packable = w + 2 * kThinMarginPx < 65000 && h + 2 * kThinMarginPx < 65000;
    }

    template <class Point>
    unsigned outcode(const Point& p) const {
        if (std::isnan(p.east) || std::isnan(p.north)) return kLeft | kRight | kBelow | kAbove;
        unsigned c = 0;
        if (p.east < x0)
            c |= kLeft;
        else if (p.east > x1)
            c |= kRight;
        if (p.north < y0)
            c |= kBelow;
        else if (p.north > y1)
            c |= kAbove;
        return c;
    }

    // Cell of a point inside the viewport with its margin.
    template <class Point>
    std::uint32_t cell(const Point& p) const {
        auto cx = static_cast<std::uint32_t>((p.east - x0) / cellW);
        auto cy = static_cast<std::uint32_t>((p.north - y0) / cellH);
        if (!packable) return (cy * 2654435761u) ^ cx; // no step is then skipped
        return (std::min(cy, 0xFFFFu) << 16) | std::min(cx, 0xFFFFu);
    }
};

TrackPoint breakAfter(const TrackPoint& prev) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    return {nan, nan, prev.sample};
}
LocalPoint breakAfter(const LocalPoint&) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    return {nan, nan};
}

// Emits the kept points, drawing a segment to each one unless told to skip.
template <class Point>
class Writer {
public:
    Writer(std::span<const Point> pts, std::vector<Point>& out) : pts_(pts), out_(out) {}

    // Keeps point i and draws the segment from the previous kept point to it.
    void connect(std::size_t i) {
        if (havePrev_ && !prevWritten_) {
            breakLine();
            out_.push_back(pts_[prev_]);
        }
        out_.push_back(pts_[i]);
        keep(i, true);
    }
    // Keeps point i without drawing the segment to it.
    void skip(std::size_t i) { keep(i, false); }

    void finish() {
        if (havePrev_ && !prevWritten_) {
            breakLine();
            out_.push_back(pts_[prev_]);
        }
    }

private:
    void keep(std::size_t i, bool written) {
        prev_ = i;
        havePrev_ = true;
        prevWritten_ = written;
    }
    void breakLine() {
        if (out_.empty() || isBreak(out_.back())) return;
        out_.push_back(breakAfter(out_.back()));
    }

    std::span<const Point> pts_;
    std::vector<Point>& out_;
    std::size_t prev_ = 0;
    bool havePrev_ = false;
    bool prevWritten_ = false;
};

} // namespace

template <class Point>
void thinForView(std::span<const Point> points, const Viewport& view, std::vector<Point>& out) {
    out.clear();
    const std::size_t n = points.size();
    if (n <= 2) {
        out.assign(points.begin(), points.end());
        return;
    }
    const Grid g(view);
    Writer<Point> w(points, out);
    std::unordered_set<std::uint64_t> drawn; // steps between two cells already drawn
    std::uint32_t lastCell = kNoCell;

    std::size_t i = 0;
    while (i < n) {
        const unsigned code = g.outcode(points[i]);
        if (code != 0) {
            // A run beyond one common edge: its ends only.
            unsigned common = code;
            std::size_t j = i + 1;
            while (j < n) {
                const unsigned c = common & g.outcode(points[j]);
                if (c == 0) break;
                common = c;
                ++j;
            }
            w.connect(i);
            if (j - 1 > i) w.connect(j - 1);
            lastCell = kNoCell;
            i = j;
            continue;
        }
        const std::uint32_t c = g.cell(points[i]);
        if (c == lastCell) {
            if (i == n - 1) w.connect(i);
            ++i;
            continue;
        }
        bool seen = false;
        if (lastCell != kNoCell && g.packable) {
            const std::uint64_t a = std::min(lastCell, c), b = std::max(lastCell, c);
            seen = !drawn.insert((a << 32) | b).second;
        }
        if (seen) {
            w.skip(i);
        } else {
            w.connect(i);
        }
        lastCell = c;
        ++i;
    }
    w.finish();
}

template void thinForView<TrackPoint>(std::span<const TrackPoint>, const Viewport&, std::vector<TrackPoint>&);
template void thinForView<LocalPoint>(std::span<const LocalPoint>, const Viewport&, std::vector<LocalPoint>&);

} // namespace lorvane::track
