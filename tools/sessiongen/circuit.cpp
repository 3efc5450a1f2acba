#include "sessiongen/circuit.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <stdexcept>
#include <utility>

namespace lorvane::gen {

double norm(Vec2 a) {
    return std::hypot(a.x, a.y);
}
Vec2 lerp(Vec2 a, Vec2 b, double u) {
    return {a.x + (b.x - a.x) * u, a.y + (b.y - a.y) * u};
}

const Vec2& Circuit::point(std::int64_t i) const {
    const auto n = static_cast<std::int64_t>(pts.size());
    i %= n;
    if (i < 0) i += n;
    return pts[static_cast<std::size_t>(i)];
}

namespace {

// Splits an arc into a point index and the fraction towards the next point.
std::pair<std::int64_t, double> split(double s, double ds) {
    const double f = s / ds;
    const double j = std::floor(f);
    return {static_cast<std::int64_t>(j), f - j};
}

} // namespace

Vec2 Circuit::at(double s) const {
    const auto [j, u] = split(s, ds);
    return lerp(point(j), point(j + 1), u);
}

Vec2 Circuit::tangent(double s) const {
    const auto [j, u] = split(s, ds);
    (void)u;
    const Vec2 d = point(j + 1) - point(j);
    return d * (1.0 / norm(d));
}

double Circuit::speedAt(double s) const {
    const auto [j, u] = split(s, ds);
    const auto n = static_cast<std::int64_t>(pts.size());
    auto idx = [n](std::int64_t i) { return static_cast<std::size_t>(((i % n) + n) % n); };
    return speed[idx(j)] + (speed[idx(j + 1)] - speed[idx(j)]) * u;
}

double Circuit::distanceTo(Vec2 p) const {
    double best = 1e300;
    const std::size_t n = pts.size();
    for (std::size_t i = 0; i < n; ++i) {
        const Vec2 a = pts[i];
        const Vec2 b = pts[(i + 1) % n];
        const Vec2 ab = b - a;
        const double len2 = dot(ab, ab);
        double u = len2 > 0 ? dot(p - a, ab) / len2 : 0;
        u = std::clamp(u, 0.0, 1.0);
        const Vec2 d = p - lerp(a, b, u);
        best = std::min(best, dot(d, d));
    }
    return std::sqrt(best);
}

namespace {

constexpr std::size_t kPoints = 8192; // points per lap
constexpr double kMinLength = 1500, kMaxLength = 5000;
constexpr double kMinLapTime = 60, kMaxLapTime = 120;
constexpr double kMinSpeed = 15;

// Driving style of one circuit.
struct Pace {
    double lateral = 12; // m/s^2 through corners
    double accel = 5;    // m/s^2 out of corners
    double brake = 9;    // m/s^2 into corners
    double top = 58;     // m/s
};

// The layout of a circuit before it is scaled: corners at the vertices of a
// star-shaped polygon (so its straights never cross), each rounded with its
// own radius in metres.
struct Shape {
    std::vector<Vec2> corners;  // polygon vertices, in driving order, mean radius about 1
    std::vector<double> radius; // wanted corner radius in metres
};

Shape makeShape(Rng& rng) {
    Shape sh;
    const int k = rng.range(7, 12);
    const double aspect = rng.uniform(0.5, 1.0);
    const double turn = rng.uniform(0, 2 * std::numbers::pi);
    for (int i = 0; i < k; ++i) {
        const double th = 2 * std::numbers::pi * (i + rng.uniform(-0.3, 0.3)) / k;
        const double r = rng.uniform(0.55, 1.0);
        const double x = r * std::cos(th), y = aspect * r * std::sin(th);
        sh.corners.push_back({x * std::cos(turn) - y * std::sin(turn), x * std::sin(turn) + y * std::cos(turn)});
        // Now and then a hairpin; mostly medium and fast corners.
        sh.radius.push_back(rng.chance(0.3) ? rng.uniform(12, 25)
                                            : std::exp(rng.uniform(std::log(30.0), std::log(160.0))));
    }
    if (rng.chance(0.5)) {
        std::reverse(sh.corners.begin(), sh.corners.end());
        std::reverse(sh.radius.begin(), sh.radius.end());
    }
    return sh;
}

// The track for the shape scaled by `scale` metres: straights joined by
// circular arcs, resampled at kPoints equal steps. Empty when the corners do
// not fit.
std::vector<Vec2> buildTrack(const Shape& sh, double scale) {
    const std::size_t k = sh.corners.size();
    auto corner = [&](std::size_t i) { return sh.corners[i % k] * scale; };
    std::vector<Vec2> dense;
    for (std::size_t i = 0; i < k; ++i) {
        const Vec2 prev = corner(i + k - 1), v = corner(i), next = corner(i + 1);
        const Vec2 din = (v - prev) * (1.0 / norm(v - prev));
        const Vec2 dout = (next - v) * (1.0 / norm(next - v));
        const double angle = std::acos(std::clamp(dot(din, dout), -1.0, 1.0));
        if (angle > 0.8 * std::numbers::pi) return {}; // doubling back on itself
        const double half = std::tan(angle / 2);
        double rho = sh.radius[i];
        // Tangent points must leave some straight either side.
        const double room = 0.45 * std::min(norm(v - prev), norm(next - v));
        if (rho * half > room) rho = room / half;
        const double t = rho * half;
        const Vec2 a = v - din * t;
        const double side = cross(din, dout) >= 0 ? 1.0 : -1.0;
        const Vec2 centre = a + Vec2{-din.y, din.x} * (rho * side);
        const Vec2 r0 = a - centre;
        const int steps = std::max(2, static_cast<int>(rho * angle / 0.25));
        for (int s = 0; s <= steps; ++s) {
            const double phi = side * angle * s / steps;
            dense.push_back(centre + Vec2{r0.x * std::cos(phi) - r0.y * std::sin(phi),
                                          r0.x * std::sin(phi) + r0.y * std::cos(phi)});
        }
    }
    // Resample at equal arc steps.
    const std::size_t m = dense.size();
    std::vector<double> cum(m + 1, 0.0);
    for (std::size_t i = 0; i < m; ++i) cum[i + 1] = cum[i] + norm(dense[(i + 1) % m] - dense[i]);
    const double total = cum.back();
    std::vector<Vec2> out(kPoints);
    std::size_t j = 0;
    for (std::size_t i = 0; i < kPoints; ++i) {
        const double s = total * static_cast<double>(i) / kPoints;
        while (cum[j + 1] < s) ++j;
        const double u = cum[j + 1] > cum[j] ? (s - cum[j]) / (cum[j + 1] - cum[j]) : 0;
        out[i] = lerp(dense[j], dense[(j + 1) % m], u);
    }
    return out;
}

// No two parts of the track closer than 25 m unless they are within 150 m of
// each other along it (which also rules out crossings).
bool wellSeparated(const std::vector<Vec2>& pts, double ds) {
    const std::size_t step = std::max<std::size_t>(1, static_cast<std::size_t>(5.0 / ds));
    std::vector<Vec2> q;
    for (std::size_t i = 0; i < pts.size(); i += step) q.push_back(pts[i]);
    const auto n = static_cast<std::int64_t>(q.size());
    const auto skip = static_cast<std::int64_t>(150.0 / (ds * static_cast<double>(step)));
    for (std::int64_t i = 0; i < n; ++i)
        for (std::int64_t j = i + skip; j < n; ++j) {
            if (n - (j - i) < skip) break;
            if (norm(q[static_cast<std::size_t>(i)] - q[static_cast<std::size_t>(j)]) < 25.0) return false;
        }
    return true;
}

// Curvature (1/m) at each point, from the circle through the points a few
// metres either side.
std::vector<double> curvature(const std::vector<Vec2>& pts, double ds) {
    const auto n = static_cast<std::int64_t>(pts.size());
    const auto w = std::max<std::int64_t>(1, std::llround(8.0 / ds));
    std::vector<double> k(pts.size());
    for (std::int64_t i = 0; i < n; ++i) {
        const Vec2 a = pts[static_cast<std::size_t>((i - w + n) % n)];
        const Vec2 b = pts[static_cast<std::size_t>(i)];
        const Vec2 c = pts[static_cast<std::size_t>((i + w) % n)];
        const double den = norm(b - a) * norm(c - b) * norm(c - a);
        k[static_cast<std::size_t>(i)] = den > 0 ? 2 * std::abs(cross(b - a, c - a)) / den : 0;
    }
    return k;
}

// Speeds and times round the lap for the circuit's points.
void profile(Circuit& c, const Pace& pace) {
    const std::size_t n = c.pts.size();
    const std::vector<double> k = curvature(c.pts, c.ds);
    std::vector<double> v(n);
    for (std::size_t i = 0; i < n; ++i) {
        const double limit = k[i] > 0 ? std::sqrt(pace.lateral / k[i]) : pace.top;
        v[i] = std::clamp(limit, kMinSpeed, pace.top);
    }
    // Acceleration and braking limits, twice round so the lap closes smoothly.
    for (int round = 0; round < 2; ++round) {
        for (std::size_t i = 0; i < n; ++i) {
            const std::size_t nx = (i + 1) % n;
            v[nx] = std::min(v[nx], std::sqrt(v[i] * v[i] + 2 * pace.accel * c.ds));
        }
        for (std::size_t i = n; i-- > 0;) {
            const std::size_t nx = (i + 1) % n;
            v[i] = std::min(v[i], std::sqrt(v[nx] * v[nx] + 2 * pace.brake * c.ds));
        }
    }
    c.speed = std::move(v);
    c.time.assign(n + 1, 0.0);
    for (std::size_t i = 0; i < n; ++i) c.time[i + 1] = c.time[i] + c.ds / (0.5 * (c.speed[i] + c.speed[(i + 1) % n]));
}

Circuit withProfile(std::vector<Vec2> pts, const Pace& pace) {
    Circuit c;
    c.pts = std::move(pts);
    c.ds = 0;
    for (std::size_t i = 0; i < c.pts.size(); ++i) c.ds += norm(c.pts[(i + 1) % c.pts.size()] - c.pts[i]);
    c.length = c.ds;
    c.ds /= static_cast<double>(c.pts.size());
    profile(c, pace);
    return c;
}

// A gate site: a fairly straight stretch, in any direction of travel, with no
// other part of the track within 50 m.
bool goodGateSite(const Circuit& c, const std::vector<double>& k, std::size_t i, double maxCurv) {
    const auto n = static_cast<std::int64_t>(c.size());
    const auto ii = static_cast<std::int64_t>(i);
    const auto w = static_cast<std::int64_t>(30.0 / c.ds);
    for (std::int64_t d = -w; d <= w; ++d)
        if (k[static_cast<std::size_t>(((ii + d) % n + n) % n)] > maxCurv) return false;
    const auto near = static_cast<std::int64_t>(100.0 / c.ds);
    const Vec2 p = c.pts[i];
    for (std::int64_t j = 0; j < n; ++j) {
        std::int64_t d = std::abs(j - ii);
        d = std::min(d, n - d);
        if (d <= near) continue;
        if (norm(c.pts[static_cast<std::size_t>(j)] - p) < 50.0) return false;
    }
    return true;
}

// Picks a random good site among points [from, to) (indices taken round the lap).
std::int64_t pickSite(Rng& rng, const Circuit& c, const std::vector<double>& k, std::int64_t from, std::int64_t to) {
    const auto n = static_cast<std::int64_t>(c.size());
    for (double maxCurv : {1.0 / 200, 1.0 / 80}) {
        std::vector<std::int64_t> cand;
        for (std::int64_t i = from; i < to; i += 8) cand.push_back(((i % n) + n) % n);
        for (std::size_t i = cand.size(); i > 1; --i)
            std::swap(cand[i - 1], cand[static_cast<std::size_t>(rng.range(0, static_cast<int>(i) - 1))]);
        for (std::int64_t i : cand)
            if (goodGateSite(c, k, static_cast<std::size_t>(i), maxCurv)) return i;
    }
    return -1;
}

} // namespace

CircuitLayout makeCircuit(Rng& rng) {
    for (int attempt = 0; attempt < 1000; ++attempt) {
        Pace pace;
        pace.lateral = rng.uniform(10, 16);
        pace.accel = rng.uniform(4, 7);
        pace.brake = rng.uniform(8, 12);
        pace.top = rng.uniform(50, 60);
        const Shape shape = makeShape(rng);
        const double target = rng.uniform(65, 110);

        // Lap time grows with the size; find the size for the target time
        // within the allowed lengths.
        auto lapAt = [&](double scale, double& len) {
            std::vector<Vec2> pts = buildTrack(shape, scale);
            if (pts.empty()) return -1.0;
            Circuit c = withProfile(std::move(pts), pace);
            len = c.length;
            return c.lapTime();
        };
        double lo = 200, hi = 2000, len = 0;
        if (lapAt(lo, len) < 0) continue;
        for (int it = 0; it < 24; ++it) {
            const double mid = 0.5 * (lo + hi);
            const double t = lapAt(mid, len);
            const bool smaller = t < target && len < kMaxLength;
            (smaller ? lo : hi) = mid;
        }
        std::vector<Vec2> pts = buildTrack(shape, lo);
        if (pts.empty()) continue;
        Circuit c = withProfile(std::move(pts), pace);
        if (c.length < kMinLength || c.length > kMaxLength) continue;
        if (c.lapTime() < kMinLapTime || c.lapTime() > kMaxLapTime) continue;
        if (!wellSeparated(c.pts, c.ds)) continue;

        const auto n = static_cast<std::int64_t>(c.size());
        const std::vector<double> k = curvature(c.pts, c.ds);
        const std::int64_t start = pickSite(rng, c, k, 0, n);
        if (start < 0) continue;
        // The finish gate lies between 0.3 and 0.7 of the lap after the start.
        const std::int64_t finish = pickSite(rng, c, k, start + n * 3 / 10, start + n * 7 / 10);
        if (finish < 0) continue;

        // Put arc 0 on the start line.
        std::rotate(c.pts.begin(), c.pts.begin() + start, c.pts.end());
        c = withProfile(std::move(c.pts), pace);
        CircuitLayout layout;
        layout.finishArc = static_cast<double>((finish - start + n) % n) * c.ds;
        layout.circuit = std::move(c);
        return layout;
    }
    throw std::runtime_error("no usable circuit for this seed");
}

Trajectory::Trajectory(Circuit circuit, double begin, double end, double paceOrigin, std::vector<double> pace)
    : c_(std::move(circuit)), begin_(begin), end_(end), origin_(paceOrigin), pace_(std::move(pace)) {
    const double lapLen = c_.length;
    firstStretch_ = static_cast<int>(std::floor((begin_ - origin_) / lapLen));
    const int lastStretch = static_cast<int>(std::floor((end_ - origin_) / lapLen));
    if (static_cast<int>(pace_.size()) < lastStretch - firstStretch_ + 1) throw std::logic_error("pace list too short");
    // Time from the stretch's origin to `begin`, at its pace, goes before zero.
    const double into = stretchTime(begin_ - origin_ - firstStretch_ * lapLen);
    stretchStart_.push_back(-into / pace_[0]);
    for (int k = firstStretch_; k < lastStretch; ++k) {
        const auto i = static_cast<std::size_t>(k - firstStretch_);
        stretchStart_.push_back(stretchStart_.back() + c_.lapTime() / pace_[i]);
    }
    duration_ = elapsedAtArc(end_);
}

// Reference time from the pace origin to `local` metres after it.
double Trajectory::stretchTime(double local) const {
    return cumTime(local + origin_) - cumTime(origin_);
}

// Reference time from arc 0 to arc x, for x in [0, 2 L).
double Trajectory::cumTime(double x) const {
    double extra = 0;
    if (x >= c_.length) {
        x -= c_.length;
        extra = c_.lapTime();
    }
    const auto n = static_cast<std::int64_t>(c_.size());
    auto [j, u] = split(x, c_.ds);
    if (j >= n) {
        j = n - 1;
        u = 1;
    }
    if (j < 0) {
        j = 0;
        u = 0;
    }
    const auto js = static_cast<std::size_t>(j);
    return extra + c_.time[js] + (c_.time[js + 1] - c_.time[js]) * u;
}

// Arc from arc 0 reached after reference time t, for t in [0, 2 T).
double Trajectory::arcAtCumTime(double t) const {
    double extra = 0;
    if (t >= c_.lapTime()) {
        t -= c_.lapTime();
        extra = c_.length;
    }
    const auto& tm = c_.time;
    auto it = std::upper_bound(tm.begin(), tm.end(), t);
    auto j = static_cast<std::size_t>(std::max<std::ptrdiff_t>(0, (it - tm.begin()) - 1));
    j = std::min(j, c_.size() - 1);
    const double u = std::clamp((t - tm[j]) / (tm[j + 1] - tm[j]), 0.0, 1.0);
    return extra + (static_cast<double>(j) + u) * c_.ds;
}

double Trajectory::elapsedAtArc(double s) const {
    const double sigma = s - origin_;
    int k = static_cast<int>(std::floor(sigma / c_.length));
    k = std::clamp(k, firstStretch_, firstStretch_ + static_cast<int>(stretchStart_.size()) - 1);
    const auto i = static_cast<std::size_t>(k - firstStretch_);
    return stretchStart_[i] + stretchTime(sigma - k * c_.length) / pace_[i];
}

std::size_t Trajectory::stretchAtTime(double elapsed) const {
    auto it = std::upper_bound(stretchStart_.begin(), stretchStart_.end(), elapsed);
    if (it == stretchStart_.begin()) return 0;
    return static_cast<std::size_t>(it - stretchStart_.begin() - 1);
}

double Trajectory::arcAt(double elapsed) const {
    elapsed = std::clamp(elapsed, 0.0, duration_);
    const std::size_t i = stretchAtTime(elapsed);
    const int k = firstStretch_ + static_cast<int>(i);
    const double t = (elapsed - stretchStart_[i]) * pace_[i] + cumTime(origin_);
    return arcAtCumTime(t) + k * c_.length;
}

Vec2 Trajectory::positionAt(double elapsed) const {
    return c_.at(arcAt(elapsed));
}

double Trajectory::speedAt(double elapsed) const {
    const std::size_t i = stretchAtTime(std::clamp(elapsed, 0.0, duration_));
    return c_.speedAt(arcAt(elapsed)) * pace_[i];
}

Vec2 Trajectory::directionAt(double elapsed) const {
    return c_.tangent(arcAt(elapsed));
}

} // namespace lorvane::gen
