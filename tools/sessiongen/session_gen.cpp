#include "sessiongen/session_gen.h"

#include <algorithm>
#include <cmath>
#include <fstream>
#include <numbers>
#include <stdexcept>
#include <string_view>

#include "sessiongen/circuit.h"
#include "sessiongen/format_util.h"
#include "sessiongen/rng.h"

namespace lorvane::gen {

namespace {

constexpr std::int64_t kDay = 8640000;            // hundredths of a second
constexpr std::int64_t kMaxBinaryTime = 0xFFFFFF; // 24-bit time field
constexpr int kMaxChannels = 32;

// ---------------------------------------------------------------------------
// Geography: the flat plane around the circuit's centre.

struct Place {
    double latMin = 0, lonMin = 0; // centre in minutes
    double cosLat = 1;

    LatLon toLatLon(Vec2 p) const {
        return {latMin + p.y / kMetresPerMinute, lonMin + p.x / (kMetresPerMinute * cosLat)};
    }
    Vec2 toLocal(const LatLon& q) const {
        return {(q.lon - lonMin) * kMetresPerMinute * cosLat, (q.lat - latMin) * kMetresPerMinute};
    }
};

Place placeFor(double latDeg, double lonDeg) {
    Place p;
    p.latMin = latDeg * 60;
    p.lonMin = lonDeg * 60;
    p.cosLat = std::cos(latDeg * std::numbers::pi / 180);
    return p;
}

std::int32_t toUnits(double minutes) {
    return static_cast<std::int32_t>(std::llround(minutes * kUnitsPerMinute));
}

// ---------------------------------------------------------------------------
// Stateless noise for values that nobody checks (filler channels, jitter).

double hashUnit(std::uint64_t seed, std::uint64_t a, std::uint64_t b) {
    std::uint64_t z = seed * 0x9E3779B97F4A7C15ull ^ (a + 0x632BE59BD9B4E019ull) * 0xBF58476D1CE4E5B9ull ^
                      (b + 1) * 0x94D049BB133111EBull;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    z ^= z >> 31;
    return static_cast<double>(z >> 11) * 0x1.0p-53 * 2 - 1; // [-1, 1)
}

// ---------------------------------------------------------------------------
// Text log channels.

enum class Kind {
    Lat,
    Lon,
    Time,
    Sats,
    Velocity,
    Heading,
    TriggerTime,
    SyncTime,
    Altitude,
    Filler,
    Rpm,
    Gear,
    Throttle,
    Brake,
    LateralAcc,
    LongitudinalAcc
};

struct Channel {
    Kind kind = Kind::Filler;
    std::string name;
    std::string unit;
    int filler = 0; // index into kFillers, or beyond it for the plain auxiliaries
};

struct FillerDef {
    const char* name;
    const char* unit;
    double base, amp, period, jitter;
    int decimals;
};

constexpr FillerDef kFillers[] = {
    {"RPM", "rpm", 7500, 3000, 23, 40, 0},
    {"Throttle", "%", 60, 40, 17, 2, 1},
    {"Brake pressure", "bar", 8, 8, 19, 0.3, 1},
    {"Lateral acc", "g", 0, 1.2, 11, 0.05, 2},
    {"Long acc", "g", 0, 0.8, 13, 0.05, 2},
    {"Water temp", "C", 88, 4, 300, 0.1, 1},
    {"Oil temp", "C", 105, 6, 400, 0.1, 1},
    {"Oil pressure", "bar", 4.5, 1.2, 29, 0.05, 2},
    {"Battery", "V", 13.8, 0.2, 200, 0.02, 2},
    {"Steering", "deg", 0, 45, 15, 1, 1},
    {"Gear", "", 3, 2, 21, 0, 0},
    {"Lambda", "", 0.92, 0.05, 37, 0.005, 3},
    {"Fuel level", "l", 40, 0, 1, 0.01, 2},
};
constexpr int kFillerPool = static_cast<int>(std::size(kFillers));
const FillerDef kAux = {"Aux", "", 2.5, 2.5, 31, 0.01, 3};

const char* const kStandardExtras[] = {"Velocity", "Heading", "Trigger time", "Sync time", "Altitude"};

struct EngineChannelDef {
    Kind kind;
    const char* name;
    const char* unit;
};
constexpr EngineChannelDef kEngineChannels[] = {
    {Kind::Rpm, "RPM", "rpm"},
    {Kind::Gear, "Gear", ""},
    {Kind::Throttle, "Throttle", "%"},
    {Kind::Brake, "Brake", "bar"},
    {Kind::LateralAcc, "Lateral acc", "g"},
    {Kind::LongitudinalAcc, "Longitudinal acc", "g"},
};
constexpr int kEngineChannelCount = static_cast<int>(std::size(kEngineChannels));

// What the engine channels show at one sample, from the noise-free drive.
struct EngineState {
    double rpm = 0, throttle = 0, brake = 0, latG = 0, longG = 0;
    int gear = 1;
};

constexpr double kG = 9.81;
constexpr double kWheelRadius = 0.31;                                // metres
constexpr double kOverallRatios[] = {12.0, 9.0, 7.3, 6.1, 5.3, 4.6}; // gearbox times final drive

EngineState engineAt(const Trajectory& traj, double driven, double speed, double arc) {
    EngineState e;
    const Circuit& c = traj.circuit();
    // Acceleration along the track, v dv/ds at this lap's pace (the pace
    // changes in one step once a lap; differencing the speed in time would
    // make a spike of it).
    constexpr double kStep = 2.0; // metres
    const double reference = c.speedAt(arc);
    if (driven >= 0 && reference > 0) {
        const double pace = speed / reference;
        const double dvds = (c.speedAt(arc + kStep) - c.speedAt(arc - kStep)) / (2 * kStep) * pace;
        e.longG = speed * dvds / kG;
        // Lateral: v^2 times the curvature, positive in a left-hand bend.
        const double curvature = cross(c.tangent(arc - kStep), c.tangent(arc + kStep)) / (2 * kStep);
        e.latG = speed * speed * curvature / kG;
    }
    // Throttle to hold the speed against the drag and rolling, plus what the
    // acceleration asks; the brakes take over when it slows harder than
    // drag alone would.
    const double resist = 0.03 + 0.45 * (speed / 65) * (speed / 65);
    const double need = e.longG + resist;
    if (driven < 0) {
        e.throttle = 0;
    } else if (need >= 0) {
        e.throttle = std::clamp(need / 0.6 * 100, 0.0, 100.0);
    } else {
        e.brake = std::min(90.0, -need * 70);
    }
    // Accelerating, the driver holds each gear up to 7000 rpm; cruising and
    // braking, he runs the highest gear that keeps 4500 rpm. So the gear
    // changes where the drive does, not at every ripple of the speed.
    const double wheelRpm = speed / (2 * std::numbers::pi * kWheelRadius) * 60;
    const int gears = static_cast<int>(std::size(kOverallRatios));
    e.gear = gears;
    if (e.longG > 0.05) {
        for (int g = 0; g < gears; ++g)
            if (wheelRpm * kOverallRatios[g] <= 7000) {
                e.gear = g + 1;
                break;
            }
    } else {
        e.gear = 1;
        for (int g = gears - 1; g >= 0; --g)
            if (wheelRpm * kOverallRatios[g] >= 4500 && wheelRpm * kOverallRatios[g] <= 7000) {
                e.gear = g + 1;
                break;
            }
        if (wheelRpm * kOverallRatios[e.gear - 1] > 7000) e.gear = gears;
    }
    e.rpm = std::max(1100.0, wheelRpm * kOverallRatios[e.gear - 1]);
    return e;
}

bool contains(std::string_view s, std::string_view part) {
    return s.find(part) != std::string_view::npos;
}

// Would a reader take this channel name for latitude, longitude, time or satellites?
bool takenForPosition(std::string_view name) {
    return contains(name, "atitude") || contains(name, "ongitude") || contains(name, "atellites") ||
           (contains(name, "ime") && !contains(name, "rigger") && !contains(name, "ync"));
}

bool isEngineChannel(std::string_view name) {
    for (const EngineChannelDef& e : kEngineChannels)
        if (name == e.name) return true;
    return false;
}

bool isMarker(std::string_view line) {
    return line.size() >= 2 && line.front() == '[' && line.back() == ']';
}

Channel extraChannel(const std::string& name, int& auxCount) {
    Channel c;
    c.name = name;
    if (name == "Velocity") {
        c.kind = Kind::Velocity;
        c.unit = "km/h";
    } else if (name == "Heading") {
        c.kind = Kind::Heading;
        c.unit = "deg";
    } else if (name == "Trigger time") {
        c.kind = Kind::TriggerTime;
        c.unit = "s";
    } else if (name == "Sync time") {
        c.kind = Kind::SyncTime;
        c.unit = "s";
    } else if (name == "Altitude") {
        c.kind = Kind::Altitude;
        c.unit = "m";
    } else {
        c.kind = Kind::Filler;
        c.filler = kFillerPool + auxCount++;
    }
    return c;
}

std::vector<Channel> channelList(const Session& s, int fillers) {
    Rng rng(s.options.seed, kStreamChannels);
    std::vector<Channel> ch = {{Kind::Lat, "Latitude", "min", 0},
                               {Kind::Lon, "Longitude", "min", 0},
                               {Kind::Time, "Time", "hhmmss.ss", 0},
                               {Kind::Sats, "Satellites", "", 0}};
    int aux = 0;
    for (const std::string& name : *s.options.text.extraChannels) ch.push_back(extraChannel(name, aux));
    for (int i = 0; i < fillers; ++i) {
        Channel c;
        c.kind = Kind::Filler;
        if (i < kFillerPool) {
            c.filler = i;
            c.name = kFillers[i].name;
            c.unit = kFillers[i].unit;
        } else {
            c.filler = kFillerPool + aux++;
        }
        ch.push_back(c);
    }
    for (Channel& c : ch)
        if (c.kind == Kind::Filler && c.filler >= kFillerPool) {
            c.name = "Aux " + std::to_string(c.filler - kFillerPool + 1);
        }
    for (std::size_t i = ch.size(); i > 1; --i)
        std::swap(ch[i - 1], ch[static_cast<std::size_t>(rng.range(0, static_cast<int>(i) - 1))]);
    // After the shuffle, so the columns before them keep their places.
    if (s.options.text.engineChannels)
        for (const EngineChannelDef& e : kEngineChannels) ch.push_back({e.kind, e.name, e.unit, 0});
    return ch;
}

// What the text writer needs per sample besides the written values.
struct Motion {
    float speed = 0;    // m/s
    float heading = 0;  // degrees from north, clockwise
    double arc = 0;     // unrolled arc, metres
    double elapsed = 0; // seconds since the first sample
};

struct TextContext {
    const Session& s;
    const std::vector<Motion>& motion;
    std::vector<double> startCrossings; // elapsed seconds, in order
    double altitudeBase = 0, altPhase1 = 0, altPhase2 = 0;
};

// Two decimals, never "-0.00".
void appendHundredths(std::string& out, double v) {
    double r = std::round(v * 100) / 100;
    if (r == 0) r = 0;
    appendFixed(out, r, 2);
}

void appendValue(std::string& out, const TextContext& ctx, const Channel& c, std::size_t i) {
    const WrittenSample& w = ctx.s.samples[i];
    const Motion& m = ctx.motion[i];
    const double elapsed = m.elapsed;
    const std::uint64_t seed = ctx.s.options.seed;
    switch (c.kind) {
    case Kind::Lat: appendUnits(out, w.latUnits, 4); return;
    case Kind::Lon: appendUnits(out, -static_cast<std::int64_t>(w.lonUnits), 5); return; // west positive
    case Kind::Time: appendClock(out, w.centis); return;
    case Kind::Sats: appendPadded(out, w.sats, 2); return;
    case Kind::Velocity: appendFixed(out, std::max(0.0, m.speed * 3.6 + 0.3 * hashUnit(seed, 1000, i)), 1); return;
    case Kind::Heading: appendFixed(out, m.heading, 1); return;
    case Kind::TriggerTime: {
        const auto& sc = ctx.startCrossings;
        auto it = std::upper_bound(sc.begin(), sc.end(), elapsed);
        appendFixed(out, it == sc.begin() ? 0.0 : elapsed - *(it - 1), 2);
        return;
    }
    case Kind::SyncTime: appendFixed(out, elapsed, 3); return;
    case Kind::Altitude: {
        const double a = 2 * std::numbers::pi * m.arc / ctx.s.lapLength;
        appendFixed(out,
                    ctx.altitudeBase + 6 * std::sin(a + ctx.altPhase1) + 2 * std::sin(3 * a + ctx.altPhase2) +
                        0.3 * hashUnit(seed, 1001, i),
                    1);
        return;
    }
    case Kind::Filler: {
        const FillerDef& f = c.filler < kFillerPool ? kFillers[c.filler] : kAux;
        const double phase = 6.283 * hashUnit(seed, 2000 + static_cast<std::uint64_t>(c.filler), 0);
        double v = f.base + f.amp * std::sin(2 * std::numbers::pi * elapsed / f.period + phase) +
                   f.jitter * hashUnit(seed, 3000 + static_cast<std::uint64_t>(c.filler), i);
        if (f.decimals == 0) v = std::round(v);
        appendFixed(out, v, f.decimals);
        return;
    }
    case Kind::Rpm:
    case Kind::Gear:
    case Kind::Throttle:
    case Kind::Brake:
    case Kind::LateralAcc:
    case Kind::LongitudinalAcc: {
        const Trajectory& traj = *ctx.s.trajectory;
        const double driven = elapsed - ctx.s.standing;
        const EngineState e = engineAt(traj, driven, driven < 0 ? 0.0 : traj.speedAt(driven), m.arc);
        const auto jitter = [&](std::uint64_t stream) { return hashUnit(seed, stream, i); };
        switch (c.kind) {
        case Kind::Rpm: appendFixed(out, std::round(e.rpm + 15 * jitter(4000)), 0); return;
        case Kind::Gear: appendInt(out, e.gear); return;
        case Kind::Throttle:
            appendFixed(out, std::clamp(e.throttle + (e.throttle > 0 ? 0.3 * jitter(4001) : 0), 0.0, 100.0), 1);
            return;
        case Kind::Brake: appendFixed(out, e.brake > 0 ? std::max(0.0, e.brake + 0.2 * jitter(4002)) : 0.0, 1); return;
        case Kind::LateralAcc: appendHundredths(out, e.latG + 0.02 * jitter(4003)); return;
        default: appendHundredths(out, e.longG + 0.02 * jitter(4004)); return;
        }
    }
    }
}

void appendDataLine(std::string& out, const TextContext& ctx, const std::vector<Channel>& ch, std::size_t i) {
    const std::size_t from = out.size();
    for (std::size_t k = 0; k < ch.size(); ++k) {
        if (k) out.push_back(' ');
        appendValue(out, ctx, ch[k], i);
    }
    if (ctx.s.options.text.decimalComma)
        std::replace(out.begin() + static_cast<std::ptrdiff_t>(from), out.end(), '.', ',');
    out += ctx.s.options.text.crlf ? "\r\n" : "\n";
}

std::string writeTextLog(const Session& s, const std::vector<Motion>& motion) {
    TextContext ctx{s, motion, {}, 0, 0, 0};
    for (const Crossing& c : s.crossings)
        if (c.gate == GateKind::Start) ctx.startCrossings.push_back(c.elapsed);
    Rng rng(s.options.seed, kStreamValues);
    ctx.altitudeBase = rng.uniform(20, 600);
    ctx.altPhase1 = rng.uniform(0, 6.28);
    ctx.altPhase2 = rng.uniform(0, 6.28);

    const int fixedChannels = 4 + static_cast<int>(s.options.text.extraChannels->size()) +
                              (s.options.text.engineChannels ? kEngineChannelCount : 0);
    int fillers = s.options.text.fillerChannels;
    if (fillers < 0) { // just enough for lines of about 100 bytes on average
        for (fillers = 0; fixedChannels + fillers < kMaxChannels; ++fillers) {
            const std::vector<Channel> probe = channelList(s, fillers);
            std::string lines;
            for (std::size_t k = 1; k <= 32; ++k) appendDataLine(lines, ctx, probe, s.samples.size() * k / 33);
            if (lines.size() >= 32 * 100) break;
        }
    }
    if (fixedChannels + fillers > kMaxChannels)
        throw std::invalid_argument("a text log has room for at most 32 channels");
    const std::vector<Channel> ch = channelList(s, fillers);

    const char* eol = s.options.text.crlf ? "\r\n" : "\n";
    std::string out;
    out.reserve(s.samples.size() * (12 + 8 * ch.size()) + 1024);
    out += "Lorvane synthetic session";
    out += eol;
    out += "Seed ";
    appendInt(out, static_cast<std::int64_t>(s.options.seed));
    out += eol;
    out += "[header]";
    out += eol;
    for (const Channel& c : ch) {
        out += c.name;
        out += eol;
    }
    out += "[channel units]";
    out += eol;
    for (const Channel& c : ch) {
        out += c.unit;
        out += eol;
    }
    out += "[comments]";
    out += eol;
    out += "Longitude west positive; ";
    appendInt(out, s.options.samplesPerSecond);
    out += " samples per second";
    out += eol;
    out += "[data]";
    out += eol;
    for (std::size_t i = 0; i < s.samples.size(); ++i) appendDataLine(out, ctx, ch, i);
    return out;
}

// ---------------------------------------------------------------------------
// Binary log.

void putBE(std::string& out, std::size_t at, std::uint32_t v, int bytes) {
    for (int b = bytes - 1; b >= 0; --b) out[at++] = static_cast<char>((v >> (8 * b)) & 0xFF);
}

std::string writeBinaryLog(Session& s, const std::vector<Motion>& motion) {
    const int L = s.recordLength;
    std::string header = "WMX LOG 2 SATS TIME LAT LONG";
    if (L >= 34) header += " VELOCITY(3)";
    if (L == 36) header += " VERT_SPEED(2)";
    header += " $\r\n";
    Rng rng(s.options.seed, kStreamPayload);
    header.push_back(static_cast<char>(rng.range(0, 255))); // the byte after the header line

    const std::size_t n = s.samples.size();
    const auto rl = static_cast<std::size_t>(L);
    std::string out = header;
    out.resize(header.size() + n * rl);
    auto at = [&](std::size_t i) { return header.size() + i * rl; };
    for (std::size_t i = 0; i < n; ++i) {
        const WrittenSample& w = s.samples[i];
        const std::size_t r = at(i);
        out[r] = static_cast<char>(w.sats);
        putBE(out, r + 1, static_cast<std::uint32_t>(w.centis), 3);
        putBE(out, r + 4, static_cast<std::uint32_t>(w.latUnits), 4);
        putBE(out, r + 8, static_cast<std::uint32_t>(w.lonUnits), 4);
        putBE(out, r + 12, static_cast<std::uint32_t>(std::lround(motion[i].speed * 100)), 2);
        putBE(out, r + 14, static_cast<std::uint32_t>(std::lround(motion[i].heading * 100)) % 36000, 2);
        putBE(out, r + 16, static_cast<std::uint32_t>(std::lround(motion[i].arc * 100)), 4);
        for (std::size_t b = 20; b + 1 < rl; ++b) out[r + b] = static_cast<char>(rng.next() & 0xFF);
        out[r + rl - 1] = '$';
    }

    // Broken terminators. A record whose last byte is not '$' makes the reader
    // skip to the next '$'; the next record is kept free of '$' before its own
    // terminator, so exactly the two records vanish and the reader is back in
    // step. Kept away from the base point, the gates and the end of the file.
    if (s.options.binary.damageRate > 0) {
        Rng dmg(s.options.seed, kStreamDamage);
        std::vector<std::int64_t> crossingSamples;
        for (const Crossing& c : s.crossings) crossingSamples.push_back(c.sample);
        std::int64_t lastDamaged = -10;
        for (std::int64_t i = s.baseSample + 10; i + 3 < static_cast<std::int64_t>(n); ++i) {
            if (!dmg.chance(s.options.binary.damageRate)) continue;
            if (i < lastDamaged + 3) continue;
            auto it = std::lower_bound(crossingSamples.begin(), crossingSamples.end(), i - 40);
            if (it != crossingSamples.end() && *it <= i + 41) continue;
            const std::size_t next = at(static_cast<std::size_t>(i + 1));
            if (std::find(out.begin() + static_cast<std::ptrdiff_t>(next),
                          out.begin() + static_cast<std::ptrdiff_t>(next + 12),
                          '$') != out.begin() + static_cast<std::ptrdiff_t>(next + 12))
                continue;
            for (std::size_t b = next + 12; b + 1 < next + rl; ++b)
                if (out[b] == '$') out[b] = '%';
            char broken = static_cast<char>(dmg.range(0, 254));
            if (broken == '$') broken = static_cast<char>(0xFF);
            out[at(static_cast<std::size_t>(i)) + rl - 1] = broken;
            s.droppedSamples.push_back(i);
            s.droppedSamples.push_back(i + 1);
            lastDamaged = i;
        }
    }
    if (!s.options.binary.lastTerminator) out.pop_back();
    return out;
}

// ---------------------------------------------------------------------------
// Start/finish line file.

void appendGate(std::string& out, const GateUnits& g) {
    appendInt(out, g.long1);
    out.push_back(' ');
    appendInt(out, g.lat1);
    out.push_back(' ');
    appendInt(out, g.long2);
    out.push_back(' ');
    appendInt(out, g.lat2);
}

std::string writeStartFinish(const Session& s) {
    const char* eol = s.options.text.crlf ? "\r\n" : "\n";
    std::string out = "Lorvane synthetic circuit, seed ";
    appendInt(out, static_cast<std::int64_t>(s.options.seed));
    out += eol;
    out += "Length ";
    appendFixed(out, s.lapLength, 1);
    out += " m";
    out += eol;
    out += "[Start finish]";
    out += eol;
    appendGate(out, s.startGate);
    out += eol;
    out += "[Finish]";
    out += eol;
    appendGate(out, s.finishGate);
    out += eol;
    return out;
}

// ---------------------------------------------------------------------------

GateUnits gateAt(const Circuit& c, const Place& place, double arc) {
    const Vec2 p1 = c.at(arc);
    const Vec2 p2 = p1 + c.tangent(arc) * 10.0;
    const LatLon a = place.toLatLon(p1), b = place.toLatLon(p2);
    GateUnits g{toUnits(a.lon), toUnits(a.lat), toUnits(b.lon), toUnits(b.lat)};
    if (g.long2 == g.long1 && g.lat2 == g.lat1) throw std::logic_error("gate direction unusable");
    return g;
}

// Arc (near `arc`) at which the path crosses the gate line as written: the
// line through point 1 perpendicular to point 1 -> point 2.
double crossingArc(const Circuit& c, const Place& place, const GateUnits& g, double arc) {
    const Vec2 p1 = place.toLocal({g.lat1 / kUnitsPerMinute, g.long1 / kUnitsPerMinute});
    const Vec2 p2 = place.toLocal({g.lat2 / kUnitsPerMinute, g.long2 / kUnitsPerMinute});
    const Vec2 dir = (p2 - p1) * (1.0 / norm(p2 - p1));
    const auto centre = static_cast<std::int64_t>(std::llround(arc / c.ds));
    const auto w = static_cast<std::int64_t>(40.0 / c.ds);
    for (std::int64_t j = centre - w; j < centre + w; ++j) {
        const double d0 = dot(c.point(j) - p1, dir);
        const double d1 = dot(c.point(j + 1) - p1, dir);
        if (d0 < 0 && d1 >= 0) return (static_cast<double>(j) + d0 / (d0 - d1)) * c.ds;
    }
    throw std::logic_error("path does not cross the gate");
}

void validate(const Options& o) {
    if (o.laps < 1 || o.laps > 5000) throw std::invalid_argument("laps must be 1 to 5000");
    if (o.centreLat.has_value() != o.centreLon.has_value())
        throw std::invalid_argument("give both latitude and longitude of the centre, or neither");
    if (o.centreLat && (!(std::abs(*o.centreLat) <= 80) || !(std::abs(*o.centreLon) <= 179.5)))
        throw std::invalid_argument("centre latitude must be within +-80 and longitude within +-179.5 degrees");
    const int rl = o.binary.recordLength;
    if (rl != 0 && rl != 33 && rl != 34 && rl != 36) throw std::invalid_argument("record length must be 33, 34 or 36");
    if (!(o.binary.damageRate >= 0 && o.binary.damageRate <= 0.2))
        throw std::invalid_argument("damage rate must be 0 to 0.2");
    if (o.startTime && !(*o.startTime >= 0 && *o.startTime < 86400))
        throw std::invalid_argument("start time must be 0 to 86400 seconds");
    const int r = o.samplesPerSecond;
    if (r < 1 || r > 100 || 100 % r != 0 || r == 100)
        throw std::invalid_argument("samples per second must be 1, 2, 4, 5, 10, 20, 25 or 50");
    if (o.noise && !(*o.noise >= 0 && *o.noise <= 20)) throw std::invalid_argument("noise must be 0 to 20 m");
    if (o.text.fillerChannels < -1) throw std::invalid_argument("filler channel count must be -1 or more");
    if (o.text.engineChannels && o.text.fillerChannels != 0)
        throw std::invalid_argument("engine channels and filler channels do not go together (their names overlap)");
    if (o.text.extraChannels)
        for (const std::string& name : *o.text.extraChannels) {
            if (name.empty() || takenForPosition(name) || isMarker(name) ||
                (o.text.engineChannels && isEngineChannel(name)) || name.find_first_of("\r\n") != std::string::npos)
                throw std::invalid_argument("unusable extra channel name: '" + name + "'");
        }
}

// ---------------------------------------------------------------------------
// The stages of generate(), in the order it runs them. A stage that draws
// random numbers has a stream of its own.

// Where on Earth: the given centre, or one chosen by the seed.
Place placeCentre(Session& s) {
    Options& o = s.options;
    if (!o.centreLat) {
        Rng rng(o.seed, kStreamPlace);
        double lat;
        do {
            lat = std::asin(rng.uniform(-1, 1) * std::sin(70 * std::numbers::pi / 180)) * 180 / std::numbers::pi;
        } while (std::abs(lat) < 0.2);
        o.centreLat = std::round(lat * 1e4) / 1e4;
        o.centreLon = std::round(rng.uniform(-179.5, 179.5) * 1e4) / 1e4;
    }
    s.centreLat = *o.centreLat;
    s.centreLon = *o.centreLon;
    return placeFor(s.centreLat, s.centreLon);
}

// The circuit and its finish gate's position.
CircuitLayout buildCircuit(Session& s) {
    Rng circuitRng(s.options.seed, kStreamCircuit);
    CircuitLayout layout = makeCircuit(circuitRng);
    s.lapLength = layout.circuit.length;
    return layout;
}

// The vehicle's path over all the laps: from the run-up to the start line to
// the run-on after the last crossing, at a pace that changes once a lap.
std::shared_ptr<const Trajectory> driveLaps(const Options& o, const CircuitLayout& layout) {
    const double L = layout.circuit.length;
    const double finishArc = layout.finishArc;
    Rng drive(o.seed, kStreamDrive);
    // Run up to the line and run on after the last crossing, both short of
    // the finish gate so that it is only crossed within the laps.
    const double runUp = drive.uniform(250, std::min(700.0, L - finishArc - 100));
    const double runOn = drive.uniform(100, std::min(500.0, finishArc - 100));
    const double begin = -runUp;
    const double end = o.laps * L + runOn;
    const double paceOrigin = finishArc / 2;
    const int stretches = static_cast<int>(std::floor((end - paceOrigin) / L)) -
                          static_cast<int>(std::floor((begin - paceOrigin) / L)) + 1;
    std::vector<double> pace;
    for (int k = 0; k < stretches; ++k) pace.push_back(std::clamp(1 + 0.012 * drive.normal(), 0.97, 1.03));
    pace.front() = std::min(pace.front(), 0.97); // the out lap is a little slower
    return std::make_shared<Trajectory>(layout.circuit, begin, end, paceOrigin, std::move(pace));
}

// Arcs within a lap at which the path crosses the gates as written.
struct GateArcs {
    double start = 0;
    double finish = 0;
};

// The start gate (and the finish gate when asked for) as written to the file.
GateArcs placeGates(Session& s, const Place& place, const CircuitLayout& layout) {
    const Circuit& c = layout.circuit;
    s.startGate = gateAt(c, place, 0);
    const GateUnits finishUnits = gateAt(c, place, layout.finishArc);
    if (s.options.finishGate) s.finishGate = finishUnits;
    return {crossingArc(c, place, s.startGate, 0), crossingArc(c, place, finishUnits, layout.finishArc)};
}

// A log of few fixes a second would reach the line before the readers have
// their base point (the tenth good sample, and ten more): the vehicle then
// stands at the start of its run-up until the line is at least 40 samples in.
double standingTime(const Options& o, const Trajectory& traj, const GateArcs& arcs) {
    if (o.samplesPerSecond >= kSamplesPerSecond) return 0;
    return std::max(0.0, 40.0 / o.samplesPerSecond - traj.elapsedAtArc(arcs.start));
}

// Hundredths of a second from one sample to the next.
std::int64_t sampleInterval(const Options& o) {
    return 100 / o.samplesPerSecond;
}

// The log clock at the first sample, in hundredths of a second; `n` samples
// follow at samplesPerSecond.
std::int64_t startClock(Session& s, std::size_t n) {
    const Options& o = s.options;
    const std::int64_t step = sampleInterval(o);
    const auto durationCentis = static_cast<std::int64_t>(n - 1) * step;
    std::int64_t start;
    {
        Rng rng(o.seed, kStreamClock);
        if (o.startTime) {
            start = std::llround(*o.startTime * 100);
        } else if (o.crossMidnight) {
            start = kDay - durationCentis * rng.range(30, 70) / 100;
            start = std::max<std::int64_t>(0, start - start % step);
        } else if (durationCentis < kDay - 120000) {
            const std::int64_t latest = kDay - 60000 - durationCentis; // ten minutes before midnight
            const std::int64_t earliest = std::min<std::int64_t>(8 * 360000, latest);
            const std::int64_t last = std::max(earliest, std::min<std::int64_t>(18 * 360000, latest));
            start = earliest + static_cast<std::int64_t>(rng.uniform() * static_cast<double>(last - earliest));
            start -= start % step;
        } else {
            start = 60000; // 00:10:00, and the clock runs on past 24:00
        }
    }
    s.startTime = static_cast<double>(start) / 100;
    if (!o.crossMidnight && start + durationCentis > kMaxBinaryTime)
        throw std::invalid_argument("session too long for the binary log's clock");
    return start;
}

// The true crossings in time order, and the lap times between them.
void computeTruth(Session& s, const GateArcs& arcs) {
    const Options& o = s.options;
    const Trajectory& traj = *s.trajectory;
    const double L = s.lapLength;
    for (int k = 0; k <= o.laps; ++k) {
        s.crossings.push_back({GateKind::Start, traj.elapsedAtArc(k * L + arcs.start) + s.standing, 0, 0, 0});
        if (o.finishGate && k < o.laps)
            s.crossings.push_back({GateKind::Finish, traj.elapsedAtArc(k * L + arcs.finish) + s.standing, 0, 0, 0});
    }
    for (Crossing& x : s.crossings) {
        x.time = s.startTime + x.elapsed;
        x.clockTime = o.crossMidnight ? std::fmod(x.time, 86400.0) : x.time;
        x.sample = static_cast<std::int64_t>(std::ceil(x.elapsed * o.samplesPerSecond - 1e-9));
    }
    for (std::size_t i = 1; i < s.crossings.size(); ++i)
        s.lapTimes.push_back(s.crossings[i].time - s.crossings[i - 1].time);
    s.expectedLaps = static_cast<int>(s.crossings.size()) - 1;
}

// Satellites: no fix at first, a few samples of three, then mostly 6 to 12
// with the odd dropout.
std::vector<std::int32_t> satelliteCounts(const Options& o, std::size_t n) {
    std::vector<std::int32_t> sats(n);
    Rng rng(o.seed, kStreamSats);
    std::size_t i = 0;
    const std::size_t noFix = static_cast<std::size_t>(rng.range(2, 6));
    for (; i < noFix && i < n; ++i) sats[i] = rng.range(0, 2);
    const std::size_t acquire = i + static_cast<std::size_t>(rng.range(3, 8));
    for (; i < acquire && i < n; ++i) sats[i] = rng.chance(0.5) ? 3 : rng.range(4, 6);
    int level = rng.range(7, 10);
    int dropout = 0;
    for (; i < n; ++i) {
        if (dropout > 0) {
            --dropout;
            sats[i] = rng.range(0, 3);
            continue;
        }
        if (o.dropouts && i > 200 && rng.chance(1.0 / 3000)) {
            dropout = rng.range(3, 25);
            sats[i] = rng.range(0, 3);
            continue;
        }
        if (rng.chance(0.004)) level = std::clamp(level + (rng.chance(0.5) ? 1 : -1), 6, 12);
        sats[i] = level;
        if (rng.chance(0.001))
            sats[i] = 3;
        else if (rng.chance(0.002))
            sats[i] = rng.range(4, 5);
    }
    return sats;
}

// The readers' base point: the tenth good sample.
void findBaseSample(Session& s, const std::vector<std::int32_t>& sats) {
    int counted = 0;
    for (std::size_t i = 0; i < sats.size() && s.baseSample < 0; ++i) {
        if (sats[i] > 3 && ++counted >= 10) s.baseSample = static_cast<std::int64_t>(i);
        if (sats[i] < 3) counted = 0;
    }
    if (s.baseSample < 0 || s.baseSample + 10 >= s.crossings.front().sample)
        throw std::logic_error("base point too late");
}

// The samples: the true position plus slowly wandering noise, on the log
// clock from `start`. Returns what the writers need besides the samples.
std::vector<Motion> sampleWithNoise(Session& s, const Place& place, std::int64_t start,
                                    const std::vector<std::int32_t>& sats) {
    Options& o = s.options;
    const Trajectory& traj = *s.trajectory;
    const Circuit& c = traj.circuit();
    const std::size_t n = sats.size();
    auto clockCentis = [&](std::int64_t t) { return o.crossMidnight ? t % kDay : t; };
    Rng rng(o.seed, kStreamNoise);
    s.noiseSigma = o.noise ? *o.noise : rng.uniform(0.2, 0.5);
    o.noise = s.noiseSigma;
    const int rate = o.samplesPerSecond;
    const double rho = std::exp(-1.0 / (2.0 * rate)); // about 2 s memory
    const double kick = std::sqrt(1 - rho * rho) * s.noiseSigma;
    double ne = s.noiseSigma * rng.normal(), nn = s.noiseSigma * rng.normal();
    s.samples.resize(n);
    std::vector<Motion> motion(n);
    for (std::size_t i = 0; i < n; ++i) {
        const double elapsed = static_cast<double>(i) / rate;
        const double driven = elapsed - s.standing;
        if (i) {
            ne = rho * ne + kick * rng.normal();
            nn = rho * nn + kick * rng.normal();
        }
        const double arc = traj.arcAt(driven);
        const Vec2 p = c.at(arc) + Vec2{ne, nn};
        const LatLon q = place.toLatLon(p);
        WrittenSample& w = s.samples[i];
        w.centis = clockCentis(start + static_cast<std::int64_t>(i) * sampleInterval(o));
        w.latUnits = toUnits(q.lat);
        w.lonUnits = toUnits(q.lon);
        w.sats = sats[i];
        const Vec2 dir = c.tangent(arc);
        double heading = std::atan2(dir.x, dir.y) * 180 / std::numbers::pi;
        if (heading < 0) heading += 360;
        const double speed = driven < 0 ? 0.0 : traj.speedAt(driven);
        motion[i] = {static_cast<float>(speed), static_cast<float>(heading), arc, elapsed};
    }
    return motion;
}

// Leaves out the fixes right at the line (dropFixesAtLine): crossing k loses
// the fix before it, the fix after it, or both, in turn. The remaining samples
// close up, and the crossings and the base point are renumbered.
void dropFixesAtLine(Session& s, std::vector<Motion>& motion) {
    if (!s.options.dropFixesAtLine) return;
    std::vector<std::int64_t> drop;
    for (std::size_t k = 0; k < s.crossings.size(); ++k) {
        const std::int64_t after = s.crossings[k].sample;
        if (k % 3 != 1) drop.push_back(after - 1);
        if (k % 3 != 0) drop.push_back(after);
    }
    std::sort(drop.begin(), drop.end());
    drop.erase(std::unique(drop.begin(), drop.end()), drop.end());
    auto dropped = [&](std::int64_t i) { return std::binary_search(drop.begin(), drop.end(), i); };
    // Index among the written samples of the first one at or after raw sample i.
    auto renumber = [&](std::int64_t i) {
        while (dropped(i)) ++i;
        return i - (std::lower_bound(drop.begin(), drop.end(), i) - drop.begin());
    };
    for (Crossing& x : s.crossings) x.sample = renumber(x.sample);
    s.baseSample = renumber(s.baseSample);
    std::size_t kept = 0;
    for (std::size_t i = 0; i < s.samples.size(); ++i) {
        if (dropped(static_cast<std::int64_t>(i))) continue;
        s.samples[kept] = s.samples[i];
        motion[kept] = motion[i];
        ++kept;
    }
    s.samples.resize(kept);
    motion.resize(kept);
}

// The seed's choices of the text log's extra channels and the binary record
// length, where the options leave them open.
void chooseFormats(Session& s) {
    Options& o = s.options;
    if (!o.text.extraChannels) {
        Rng pick(o.seed, kStreamChannels ^ 0x55);
        std::vector<std::string> extras;
        for (const char* name : kStandardExtras)
            if (pick.chance(0.6)) extras.emplace_back(name);
        o.text.extraChannels = std::move(extras);
    }
    if (o.binary.recordLength == 0) {
        Rng pick(o.seed, kStreamPayload ^ 0x55);
        const int lengths[] = {33, 34, 36};
        o.binary.recordLength = lengths[pick.range(0, 2)];
    }
    s.recordLength = o.binary.recordLength;
}

// One lap of the noise-free path.
void traceTruePath(Session& s, const Place& place) {
    const Circuit& c = s.trajectory->circuit();
    s.truePath.reserve(c.size());
    for (const Vec2& p : c.pts) s.truePath.push_back(place.toLatLon(p));
}

} // namespace

// ---------------------------------------------------------------------------

LatLon Session::truePositionAt(double elapsed) const {
    return placeFor(centreLat, centreLon).toLatLon(trajectory->positionAt(elapsed - standing));
}

double Session::distanceToPath(const LatLon& p) const {
    return trajectory->circuit().distanceTo(placeFor(centreLat, centreLon).toLocal(p));
}

std::vector<double> Session::trueLineCrossings(const LatLon& p1, const LatLon& p2, double halfWidth) const {
    const Place place = placeFor(centreLat, centreLon);
    const Circuit& c = trajectory->circuit();
    const Vec2 a = place.toLocal(p1), b = place.toLocal(p2);
    if (norm(b - a) == 0) return {};
    const Vec2 dir = (b - a) * (1.0 / norm(b - a));
    // Where one lap of the circuit crosses the line, as arcs from arc 0.
    std::vector<double> arcs;
    const auto m = static_cast<std::int64_t>(c.size());
    for (std::int64_t j = 0; j < m; ++j) {
        const double d0 = dot(c.point(j) - a, dir);
        const double d1 = dot(c.point(j + 1) - a, dir);
        if (!(d0 < 0 && d1 >= 0)) continue;
        const double u = d0 / (d0 - d1);
        if (norm(lerp(c.point(j), c.point(j + 1), u) - a) <= halfWidth)
            arcs.push_back((static_cast<double>(j) + u) * c.ds);
    }
    // Every pass of the drive over those arcs.
    std::vector<double> out;
    const Trajectory& t = *trajectory;
    const double first = t.arcAt(0), last = t.arcAt(t.duration());
    const auto k0 = static_cast<std::int64_t>(std::floor(first / c.length)) - 1;
    const auto k1 = static_cast<std::int64_t>(std::floor(last / c.length)) + 1;
    for (std::int64_t k = k0; k <= k1; ++k)
        for (double arc : arcs) {
            const double s = static_cast<double>(k) * c.length + arc;
            if (s >= first && s <= last) out.push_back(t.elapsedAtArc(s) + standing);
        }
    std::sort(out.begin(), out.end());
    return out;
}

double Session::trueSpeedAt(double elapsed) const {
    return elapsed < standing ? 0.0 : trajectory->speedAt(elapsed - standing);
}

std::int64_t Session::binaryIndex(std::int64_t sample) const {
    auto it = std::lower_bound(droppedSamples.begin(), droppedSamples.end(), sample);
    if (it != droppedSamples.end() && *it == sample) return -1;
    return sample - (it - droppedSamples.begin());
}

Session generate(const Options& options) {
    validate(options);
    Session s;
    s.options = options;

    const Place place = placeCentre(s);
    const CircuitLayout layout = buildCircuit(s);
    s.trajectory = driveLaps(s.options, layout);
    const GateArcs gateArcs = placeGates(s, place, layout);
    s.standing = standingTime(s.options, *s.trajectory, gateArcs);
    const auto n = static_cast<std::size_t>(
                       std::floor((s.trajectory->duration() + s.standing) * s.options.samplesPerSecond + 1e-9)) +
                   1;
    const std::int64_t start = startClock(s, n);
    computeTruth(s, gateArcs);
    const std::vector<std::int32_t> sats = satelliteCounts(s.options, n);
    findBaseSample(s, sats);
    std::vector<Motion> motion = sampleWithNoise(s, place, start, sats);
    dropFixesAtLine(s, motion);
    chooseFormats(s);
    s.gxr = writeStartFinish(s);
    s.zlg = writeTextLog(s, motion);
    s.wmx = writeBinaryLog(s, motion);
    traceTruePath(s, place);
    return s;
}

// ---------------------------------------------------------------------------

std::string truthJson(const Session& s) {
    std::string j = "{\n";
    auto key = [&](const char* k) {
        j += "  \"";
        j += k;
        j += "\": ";
    };
    auto num = [&](double v) { appendShortest(j, v); };
    auto gate = [&](const GateUnits& g) {
        j += '[';
        appendInt(j, g.long1);
        j += ", ";
        appendInt(j, g.lat1);
        j += ", ";
        appendInt(j, g.long2);
        j += ", ";
        appendInt(j, g.lat2);
        j += ']';
    };
    auto intField = [&](const char* k, std::int64_t v) {
        key(k);
        appendInt(j, v);
        j += ",\n";
    };
    auto numField = [&](const char* k, double v) {
        key(k);
        num(v);
        j += ",\n";
    };
    auto boolField = [&](const char* k, bool v) {
        key(k);
        j += v ? "true" : "false";
        j += ",\n";
    };
    intField("seed", static_cast<std::int64_t>(s.options.seed));
    intField("laps", s.options.laps);
    intField("expectedLaps", s.expectedLaps);
    intField("samples", static_cast<std::int64_t>(s.samples.size()));
    intField("binarySamples", s.binarySampleCount());
    intField("samplesPerSecond", s.options.samplesPerSecond);
    numField("centreLatitude", s.centreLat);
    numField("centreLongitude", s.centreLon);
    numField("lapLength", s.lapLength);
    numField("noise", s.noiseSigma);
    numField("startTime", s.startTime);
    boolField("clockWraps", s.options.crossMidnight);
    intField("recordLength", s.recordLength);
    boolField("lastTerminator", s.options.binary.lastTerminator);
    intField("baseSample", s.baseSample);
    key("startGate");
    gate(s.startGate);
    j += ",\n";
    key("finishGate");
    gate(s.finishGate);
    j += ",\n";
    key("crossings");
    j += "[";
    for (std::size_t i = 0; i < s.crossings.size(); ++i) {
        const Crossing& c = s.crossings[i];
        j += i ? ",\n    " : "\n    ";
        j += c.gate == GateKind::Start ? "{\"gate\": \"start\", \"time\": " : "{\"gate\": \"finish\", \"time\": ";
        num(c.time);
        j += ", \"clockTime\": ";
        num(c.clockTime);
        j += ", \"elapsed\": ";
        num(c.elapsed);
        j += ", \"sample\": ";
        appendInt(j, c.sample);
        j += ", \"binarySample\": ";
        appendInt(j, s.binaryIndex(c.sample));
        j += '}';
    }
    j += "\n  ],\n";
    key("lapTimes");
    j += "[";
    for (std::size_t i = 0; i < s.lapTimes.size(); ++i) {
        if (i) j += ", ";
        num(s.lapTimes[i]);
    }
    j += "],\n";
    key("droppedSamples");
    j += "[";
    for (std::size_t i = 0; i < s.droppedSamples.size(); ++i) {
        if (i) j += ", ";
        appendInt(j, s.droppedSamples[i]);
    }
    j += "]\n}\n";
    return j;
}

void writeSession(const Session& s, const std::string& stem) {
    auto put = [](const std::string& path, const std::string& data) {
        std::ofstream f(path, std::ios::binary | std::ios::trunc);
        f.write(data.data(), static_cast<std::streamsize>(data.size()));
        f.close();
        if (!f) throw std::runtime_error("cannot write " + path);
    };
    put(stem + ".gxr", s.gxr);
    put(stem + ".zlg", s.zlg);
    put(stem + ".wmx", s.wmx);
    put(stem + ".truth.json", truthJson(s));
}

} // namespace lorvane::gen
