// The circuit (a smooth closed curve with a speed profile) and the vehicle's
// path round it over a whole session.
#pragma once

#include <cstdint>
#include <vector>

#include "sessiongen/rng.h"

namespace lorvane::gen {

// Flat east/north coordinates in metres around the circuit's centre.
struct Vec2 {
    double x = 0; // east
    double y = 0; // north
};

inline Vec2 operator+(Vec2 a, Vec2 b) {
    return {a.x + b.x, a.y + b.y};
}
inline Vec2 operator-(Vec2 a, Vec2 b) {
    return {a.x - b.x, a.y - b.y};
}
inline Vec2 operator*(Vec2 a, double k) {
    return {a.x * k, a.y * k};
}
inline double dot(Vec2 a, Vec2 b) {
    return a.x * b.x + a.y * b.y;
}
inline double cross(Vec2 a, Vec2 b) {
    return a.x * b.y - a.y * b.x;
}
double norm(Vec2 a);
Vec2 lerp(Vec2 a, Vec2 b, double u);

// One lap: M points equally spaced along the track, the last joining the
// first. Arc length 0 is the start/finish line.
struct Circuit {
    std::vector<Vec2> pts;
    std::vector<double> speed; // m/s at each point, at the reference pace
    std::vector<double> time;  // M+1 cumulative times at the reference pace, time[0] = 0
    double ds = 0;             // spacing in metres
    double length = 0;         // metres

    std::size_t size() const { return pts.size(); }
    double lapTime() const { return time.back(); }
    const Vec2& point(std::int64_t i) const; // index taken round the lap
    Vec2 at(double s) const;                 // position at arc s, any s
    Vec2 tangent(double s) const;            // unit direction of travel at arc s
    double speedAt(double s) const;
    // Distance to the polyline, brute force.
    double distanceTo(Vec2 p) const;
};

// Where the two gates sit on the circuit (arc positions of their centres).
struct CircuitLayout {
    Circuit circuit;
    double finishArc = 0; // arc of the finish gate's centre, 0.3 to 0.7 of a lap
};

// A circuit of 1.5 to 5 km with a lap of 60 to 120 s. Both gates sit on
// fairly straight stretches driven with a clear eastward component, with no
// other part of the track within 50 m.
CircuitLayout makeCircuit(Rng& rng);

// The vehicle's path: from arc `begin` (before the start line, negative) to
// arc `end` over the unrolled laps. The pace changes once a lap, at
// `paceOrigin` (somewhere away from the gates): stretch k spans arcs
// [k L + paceOrigin, (k+1) L + paceOrigin) and is driven at pace[k - first]
// times the reference speed, where `first` is the stretch that holds `begin`.
class Trajectory {
public:
    Trajectory(Circuit circuit, double begin, double end, double paceOrigin, std::vector<double> pace);

    const Circuit& circuit() const { return c_; }
    double duration() const { return duration_; }

    // Seconds after the start at which the vehicle is at unrolled arc s.
    double elapsedAtArc(double s) const;
    // Unrolled arc at `elapsed` seconds after the start (clamped to the path).
    double arcAt(double elapsed) const;
    Vec2 positionAt(double elapsed) const;
    double speedAt(double elapsed) const;
    Vec2 directionAt(double elapsed) const;

private:
    double stretchTime(double local) const;
    double cumTime(double x) const;
    double arcAtCumTime(double t) const;
    std::size_t stretchAtTime(double elapsed) const;

    Circuit c_;
    double begin_ = 0, end_ = 0, origin_ = 0;
    std::vector<double> pace_;
    int firstStretch_ = 0;
    std::vector<double> stretchStart_; // elapsed time at the start of each stretch
    double duration_ = 0;
};

} // namespace lorvane::gen
