#include "analysis/lap_trace.h"

#include <algorithm>
#include <cmath>

namespace lorvane {

namespace {

constexpr double kDay = 86400;

// Seconds from the opening crossing to `t` on the log's clock; a clock that
// went past midnight since then is a day behind.
double intoLap(double t, double openTime) {
    double d = t - openTime;
    if (d < 0) d = d > -1e-6 ? 0 : d + kDay; // a rounding step below 0 is 0
    return d;
}

} // namespace

std::optional<std::size_t> trackIndex(const Track& track, std::int32_t sample) {
    const auto& v = track.samples;
    auto it = std::lower_bound(v.begin(), v.end(), sample,
                               [](const TrackSample& s, std::int32_t x) { return s.sample < x; });
    if (it == v.end() || it->sample != sample) return std::nullopt;
    return static_cast<std::size_t>(it - v.begin());
}

std::optional<LapCrossings> findLapCrossings(const std::vector<Crossing>& crossings, const Lap& lap) {
    // The lap's own crossings: after a pause, crossing n does not open lap n.
    const auto n = static_cast<std::size_t>(std::max<std::int32_t>(lap.openingCrossing, 0));
    if (lap.openingCrossing >= 0 && n + 1 < crossings.size() && crossings[n].sample == lap.startSample &&
        crossings[n + 1].sample == lap.endSample)
        return LapCrossings{&crossings[n], &crossings[n + 1]};
    // Otherwise by sample: crossings are in recorded order.
    auto bySample = [](const Crossing& c, std::int32_t x) { return c.sample < x; };
    auto open = std::lower_bound(crossings.begin(), crossings.end(), lap.startSample, bySample);
    if (open == crossings.end() || open->sample != lap.startSample) return std::nullopt;
    auto close = std::lower_bound(open + 1, crossings.end(), lap.endSample, bySample);
    if (close == crossings.end() || close->sample != lap.endSample) return std::nullopt;
    return LapCrossings{&*open, &*close};
}

double sampleInterval(const Track& track, std::size_t i) {
    if (i == 0 || i >= track.samples.size() || track.ticksPerSecond <= 0) return 0;
    const std::int64_t day = 86400 * static_cast<std::int64_t>(track.ticksPerSecond);
    std::int64_t d = track.samples[i].clock - track.samples[i - 1].clock;
    if (d < -day / 2) d += day; // the clock passed midnight
    if (d < 0) d = 0;           // a clock stepping back
    return static_cast<double>(d) / track.ticksPerSecond;
}

namespace {

// Fraction of the segment from the sample before `detection` to the detection
// sample, back from the latter, at which a crossing `offset` seconds before
// the detection sample lies: in [0, 1]; 0 without a sample before or without
// time between the two.
double crossingFraction(const Track& track, std::size_t detection, double offset) {
    if (detection == 0) return 0;
    const double dt = sampleInterval(track, detection);
    double f = dt > 0 ? offset / dt : 0;
    if (!(f > 0)) f = 0; // also NaN
    if (f > 1) f = 1;
    return f;
}

} // namespace

LocalPoint crossingPoint(const Track& track, std::size_t detection, double offset) {
    const TrackSample& cur = track.samples[detection];
    if (detection == 0) return {cur.east, cur.north};
    const TrackSample& prev = track.samples[detection - 1];
    const double f = crossingFraction(track, detection, offset);
    return {cur.east + (prev.east - cur.east) * f, cur.north + (prev.north - cur.north) * f};
}

namespace {

// Speed the log recorded for a track sample, km/h.
std::optional<double> loggedSpeed(const TrackSample& s) {
    if (!(s.speed >= 0) || !std::isfinite(s.speed)) return std::nullopt;
    return 3.6 * static_cast<double>(s.speed);
}

// The logged speed at a crossing point, between the samples either side as
// the point lies between them.
std::optional<double> crossingSpeed(const Track& track, std::size_t detection, double offset) {
    const auto c = loggedSpeed(track.samples[detection]);
    const double f = crossingFraction(track, detection, offset);
    if (!c || f == 0) return c;
    const auto p = loggedSpeed(track.samples[detection - 1]);
    if (!p) return std::nullopt;
    return *c + (*p - *c) * f;
}

// The segments of a path (segment k runs from point k - 1 to point k) that
// are jumps of the fix: one, or two in a row, each of them longer than the
// speed of every timed segment just outside them allows.
std::vector<bool> jumpedSegments(const std::vector<TracePoint>& p) {
    const std::size_t n = p.size();
    std::vector<bool> jumped(n, false);
    auto ds = [&](std::size_t k) { return p[k].distance - p[k - 1].distance; };
    auto dt = [&](std::size_t k) { return p[k].time - p[k - 1].time; };
    auto mid = [&](std::size_t k) { return (p[k].time + p[k - 1].time) / 2; };
    auto timed = [&](std::size_t k) { return k >= 1 && k < n && dt(k) > 0 && std::isfinite(ds(k)); };
    // Segment j is longer than segment o's speed, changed at the highest
    // acceleration over the time between the two, lets it be.
    auto beyond = [&](std::size_t j, std::size_t o) {
        const double reach = (ds(o) / dt(o) + kJumpAcceleration * std::fabs(mid(j) - mid(o))) * dt(j);
        return ds(j) > reach + kJumpSlack;
    };
    // The run of segments k .. m, with the outside ones k - 1 and m + 1.
    auto jump = [&](std::size_t k, std::size_t m) {
        bool outside = false;
        for (std::size_t o : {k - 1, m + 1}) {
            if (!timed(o)) continue;
            outside = true;
            for (std::size_t j = k; j <= m; ++j)
                if (!beyond(j, o)) return false;
        }
        return outside;
    };
    for (std::size_t k = 1; k < n; ++k) {
        if (!timed(k)) continue;
        if (jump(k, k)) jumped[k] = true;
        if (timed(k + 1) && jump(k, k + 1)) jumped[k] = jumped[k + 1] = true;
    }
    return jumped;
}

} // namespace

void smoothSpeeds(LapTrace& trace) {
    auto& p = trace.points;
    const std::size_t n = p.size();
    trace.maxSpeed = 0;
    // Distance and time of the jumps up to each point, left out of every
    // window; all 0 on a path without jumps.
    std::vector<double> jumpDistance, jumpTime;
    const std::vector<bool> jumped = jumpedSegments(p);
    if (std::find(jumped.begin(), jumped.end(), true) != jumped.end()) {
        jumpDistance.assign(n, 0);
        jumpTime.assign(n, 0);
        for (std::size_t k = 1; k < n; ++k) {
            jumpDistance[k] = jumpDistance[k - 1] + (jumped[k] ? p[k].distance - p[k - 1].distance : 0);
            jumpTime[k] = jumpTime[k - 1] + (jumped[k] ? p[k].time - p[k - 1].time : 0);
        }
    }
    auto left = [](const std::vector<double>& v, std::size_t a, std::size_t b) {
        return v.empty() ? 0.0 : v[b] - v[a];
    };
    double last = 0;
    for (std::size_t i = 0; i < n; ++i) {
        // The window: at least the neighbours, and every point within
        // kSpeedHalfWindow of this one's time on either side.
        std::size_t a = i > 0 ? i - 1 : i;
        while (a > 0 && p[i].time - p[a - 1].time <= kSpeedHalfWindow && p[a - 1].time <= p[a].time) --a;
        std::size_t b = i + 1 < n ? i + 1 : i;
        while (b + 1 < n && p[b + 1].time - p[i].time <= kSpeedHalfWindow && p[b + 1].time >= p[b].time) ++b;
        const double dt = (p[b].time - p[a].time) - left(jumpTime, a, b);
        double v = last;
        if (dt > 0) {
            const double w = 3.6 * ((p[b].distance - p[a].distance) - left(jumpDistance, a, b)) / dt;
            if (std::isfinite(w)) v = w;
        }
        p[i].speed = v;
        last = v;
        if (v > trace.maxSpeed) trace.maxSpeed = v;
    }
}

LapTrace traceLap(const Track& track, const Lap& lap, const Crossing& open, const Crossing& close) {
    LapTrace t;
    t.lap = lap.number;
    t.time = lap.time;
    const auto first = trackIndex(track, open.sample);
    const auto last = trackIndex(track, close.sample);
    if (!first || !last || *last <= *first) return t;

    const LocalPoint a = crossingPoint(track, *first, open.offset);
    const LocalPoint b = crossingPoint(track, *last, close.offset);
    t.points.reserve(*last - *first + 2);
    t.points.push_back(TracePoint{0, 0, 0, a.east, a.north, -1});
    double dist = 0;
    auto step = [&](double east, double north) {
        const TracePoint& q = t.points.back();
        const double d = std::hypot(east - q.east, north - q.north);
        if (std::isfinite(d)) dist += d;
    };
    for (std::size_t i = *first; i < *last; ++i) {
        const TrackSample& s = track.samples[i];
        step(s.east, s.north);
        const double into = std::min(intoLap(s.time, open.time), lap.time);
        t.points.push_back(TracePoint{dist, into, 0, s.east, s.north, s.sample});
    }
    step(b.east, b.north);
    t.points.push_back(TracePoint{dist, lap.time, 0, b.east, b.north, -1});
    t.distance = dist;
    smoothSpeeds(t);

    // Where the log recorded a speed, that is the speed.
    bool logged = false;
    auto take = [&](TracePoint& q, std::optional<double> v) {
        if (!v) return;
        q.speed = *v;
        logged = true;
    };
    take(t.points.front(), crossingSpeed(track, *first, open.offset));
    for (std::size_t i = *first; i < *last; ++i) take(t.points[i - *first + 1], loggedSpeed(track.samples[i]));
    take(t.points.back(), crossingSpeed(track, *last, close.offset));
    if (logged) {
        t.maxSpeed = 0;
        for (const TracePoint& q : t.points) t.maxSpeed = std::max(t.maxSpeed, q.speed);
    }
    return t;
}

std::size_t pointAtOrAfter(const LapTrace& trace, double d) {
    const auto& p = trace.points;
    auto it = std::lower_bound(p.begin(), p.end(), d, [](const TracePoint& q, double x) { return q.distance < x; });
    if (it == p.end()) return p.empty() ? 0 : p.size() - 1;
    return static_cast<std::size_t>(it - p.begin());
}

std::optional<double> timeAtDistance(const LapTrace& trace, double d) {
    if (trace.empty() || !(d >= 0) || d > trace.distance) return std::nullopt;
    const auto& p = trace.points;
    const std::size_t i = pointAtOrAfter(trace, d);
    if (i == 0 || !(p[i].distance > p[i - 1].distance)) return p[i].time;
    const double u = (d - p[i - 1].distance) / (p[i].distance - p[i - 1].distance);
    return p[i - 1].time + (p[i].time - p[i - 1].time) * u;
}

LocalPoint positionAtDistance(const LapTrace& trace, double d) {
    if (trace.empty()) return {};
    const auto& p = trace.points;
    d = std::clamp(d, 0.0, trace.distance);
    const std::size_t i = pointAtOrAfter(trace, d);
    if (i == 0 || !(p[i].distance > p[i - 1].distance)) return {p[i].east, p[i].north};
    const double u = (d - p[i - 1].distance) / (p[i].distance - p[i - 1].distance);
    return {p[i - 1].east + (p[i].east - p[i - 1].east) * u, p[i - 1].north + (p[i].north - p[i - 1].north) * u};
}

} // namespace lorvane
