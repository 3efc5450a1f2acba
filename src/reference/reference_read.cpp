#include "reference/reference_read.h"

#include <cmath>
#include <cstdint>
#include <numbers>

#include "formats/diagnostic.h"
#include "formats/numbers.h"

namespace lorvane {

namespace {

// Farther from the base point than this, a point is no lap's.
constexpr double kMaxOffsetMetres = 2e7;

std::string_view trimmed(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
    return s;
}

std::vector<std::string_view> fieldsOf(std::string_view line) {
    std::vector<std::string_view> out;
    std::size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
        const std::size_t from = i;
        while (i < line.size() && line[i] != ' ' && line[i] != '\t') ++i;
        if (i > from) out.push_back(line.substr(from, i - from));
    }
    return out;
}

class RefReader {
public:
    RefReader(std::string_view text, const std::string& file) : lines_(splitLines(text)), file_(file) {}

    ReferenceFileData read(std::string_view text) {
        ReferenceFileData r;
        r.gates = parseStartFinish(text, file_);
        readHead(r);
        readBasePoint(r);
        const std::int64_t count = readInfo(r);
        readPoints(r, count);
        return r;
    }

private:
    [[noreturn]] void failAt(std::size_t i, const std::string& message) const {
        fail(ErrorKind::Syntax, message, file_, static_cast<std::int64_t>(i) + 1);
    }
    [[noreturn]] void failEnd(const std::string& message) const {
        fail(ErrorKind::Syntax, message, file_, static_cast<std::int64_t>(lines_.size()));
    }

    std::size_t find(std::size_t from, std::string_view a, std::string_view b = {}) const {
        while (from < lines_.size() && lines_[from] != a && (b.empty() || lines_[from] != b)) ++from;
        return from;
    }

    // The next line that is not blank, at or after at_.
    std::size_t nextLine(const char* what) {
        while (at_ < lines_.size() && trimmed(lines_[at_]).empty()) ++at_;
        if (at_ == lines_.size()) failEnd(std::string("The reference file ends before ") + what);
        return at_++;
    }

    void expectHeader(std::string_view header) {
        const std::size_t i = nextLine(("the \"" + std::string(header) + "\" section").c_str());
        if (trimmed(lines_[i]) != header) failAt(i, "Expected \"" + std::string(header) + "\"");
    }

    double number(std::size_t i, std::string_view text) const {
        const auto v = parseDecimal(text);
        if (!v) failAt(i, notAValidFloat(text));
        return *v;
    }

    // The start/finish file's lines run up to the blank line before
    // "[BasePoint]", which follows the finish line's coordinates (found as
    // the start/finish reader finds them, so a comment cannot end the head).
    void readHead(ReferenceFileData& r) {
        const std::size_t start = find(0, "[Start finish]", "[Start Finish]");
        const std::size_t finish = find(start + 1, "[finish]", "[Finish]");
        const std::size_t base = find(finish + 2, "[BasePoint]");
        if (base >= lines_.size()) failEnd("No \"[BasePoint]\" section after the start/finish lines");
        std::size_t end = base;
        if (end > finish + 2 && lines_[end - 1].empty()) --end;
        for (std::size_t i = 0; i < end; ++i) {
            r.startFinishText.append(lines_[i]);
            r.startFinishText += "\r\n";
        }
        at_ = base + 1;
    }

    void readBasePoint(ReferenceFileData& r) {
        const std::size_t i = nextLine("the base point");
        const auto f = fieldsOf(lines_[i]);
        if (f.size() != 3) failAt(i, "The base point is not \"longitude latitude scale\"");
        r.baseLong = number(i, f[0]) / 100000;
        r.baseLat = number(i, f[1]) / 100000;
        r.longScale = number(i, f[2]);
        if (std::fabs(r.baseLat) > 90 * 60 || std::fabs(r.baseLong) > 180 * 60)
            failAt(i, "The base point is not on the Earth");
        if (!(r.longScale > 0 && r.longScale <= 1.5)) failAt(i, "The longitude scale is not above 0 and at most 1.5");
    }

    std::int64_t readInfo(ReferenceFileData& r) {
        expectHeader("[Info]");
        std::size_t i = nextLine("the lap time");
        const auto f = fieldsOf(lines_[i]);
        if (f.size() != 4 || f[0] != "Time" || f[2] != "NumPoints")
            failAt(i, "Expected \"Time MILLISECONDS NumPoints COUNT\"");
        const auto ms = parseInteger(f[1]);
        if (!ms) failAt(i, notAValidInteger(f[1]));
        if (*ms <= 0) failAt(i, "The lap time is not above 0");
        r.lapTime = *ms / 1000.0;
        const auto count = parseInteger(f[3]);
        if (!count) failAt(i, notAValidInteger(f[3]));
        if (*count < 2) failAt(i, "A lap has at least two points");

        i = nextLine("\"FixedReference\"");
        const auto g = fieldsOf(lines_[i]);
        if (g.size() != 2 || g[0] != "FixedReference" || (g[1] != "true" && g[1] != "false"))
            failAt(i, "Expected \"FixedReference true\" or \"FixedReference false\"");
        r.fixedReference = g[1] == "true";
        return *count;
    }

    void readPoints(ReferenceFileData& r, std::int64_t count) {
        expectHeader("[Points]");
        const double eastScale = kMetresPerMinute * r.longScale;
        for (; at_ < lines_.size(); ++at_) {
            const std::size_t i = at_;
            const auto f = fieldsOf(lines_[i]);
            if (f.empty()) continue;
            if (static_cast<std::int64_t>(r.points.size()) == count)
                failAt(i, "More points than NumPoints (" + std::to_string(count) + ") says");
            if (f.size() != 3) failAt(i, "A point is not \"east north milliseconds\"");
            RefFilePoint p;
            p.east = number(i, f[0]);
            p.north = number(i, f[1]);
            if (std::fabs(p.east) > kMaxOffsetMetres || std::fabs(p.north) > kMaxOffsetMetres)
                failAt(i, "The point lies farther from the base point than any lap");
            const auto ms = parseInteger(f[2]);
            if (!ms) failAt(i, notAValidInteger(f[2]));
            if (*ms < 0) failAt(i, "A point's time is below 0");
            p.time = *ms / 1000.0;
            p.lat = r.baseLat + p.north / kMetresPerMinute;
            p.lon = r.baseLong + p.east / eastScale;
            r.points.push_back(p);
        }
        if (static_cast<std::int64_t>(r.points.size()) != count)
            failEnd("The file ends after " + std::to_string(r.points.size()) + " of " + std::to_string(count) +
                    " points");
    }

    std::vector<std::string_view> lines_;
    const std::string& file_;
    std::size_t at_ = 0;
};

// A gate's line in a plane: through p1, across the direction p1 -> p2 (unit
// `u`); none when the two points coincide.
struct GateLine {
    LocalPoint p1;
    double ux = 0, uy = 0;
    bool valid = false;

    GateLine(const LocalPlane& plane, const Gate& g) : p1(plane.toLocal(g.lat1, g.long1)) {
        const LocalPoint p2 = plane.toLocal(g.lat2, g.long2);
        const double len = std::hypot(p2.east - p1.east, p2.north - p1.north);
        if (len > 0 && std::isfinite(len)) {
            ux = (p2.east - p1.east) / len;
            uy = (p2.north - p1.north) / len;
            valid = true;
        }
    }
    double distanceTo(LocalPoint q) const { return std::hypot(q.east - p1.east, q.north - p1.north); }
    // Signed distance from the line, positive on point 2's side.
    double side(LocalPoint q) const { return (q.east - p1.east) * ux + (q.north - p1.north) * uy; }
};

LocalPoint along(LocalPoint a, LocalPoint b, double t) {
    return LocalPoint{a.east + (b.east - a.east) * t, a.north + (b.north - a.north) * t};
}

} // namespace

ReferenceFileData parseReferenceFile(std::string_view text, const std::string& fileName) {
    return RefReader(text, fileName).read(text);
}

ReferenceFileData readReferenceFile(const std::string& path) {
    return parseReferenceFile(readWholeFile(path), path);
}

LapTrace referenceTrace(const ReferenceFileData& ref, const LocalPlane& given) {
    LapTrace t;
    t.time = ref.lapTime;
    if (ref.points.size() < 2) return t;
    const LocalPlane plane = given.longScale != 0 ? given : LocalPlane{ref.baseLat, ref.baseLong, ref.longScale};
    auto local = [&](const RefFilePoint& p) { return plane.toLocal(p.lat, p.lon); };

    // The points before the closing crossing: those stamped before the lap
    // time (the last is the sample past the line, stamped with the lap time;
    // one just before it may repeat that sample with its own later time).
    std::vector<LocalPoint> inner;
    std::vector<double> times;
    for (std::size_t i = 0; i + 1 < ref.points.size(); ++i)
        if (ref.points[i].time < ref.lapTime) {
            inner.push_back(local(ref.points[i]));
            times.push_back(ref.points[i].time);
        }
    const LocalPoint last = local(ref.points.back());

    // With a separate finish line a lap runs from either gate to either: the
    // gate at an end is the one whose point 1 lies nearer to it.
    const GateLine start(plane, ref.gates.start);
    const GateLine finish(plane, ref.gates.hasFinishLine ? ref.gates.finish : ref.gates.start);
    auto gateAt = [&](LocalPoint q) -> const GateLine& {
        return finish.distanceTo(q) < start.distanceTo(q) ? finish : start;
    };
    const GateLine& open = gateAt(inner.empty() ? last : inner.front());
    const GateLine& close = gateAt(last);

    // The opening crossing: the first point lies just past the line; the
    // line through it and the next point meets the gate at most one segment back.
    LocalPoint a = inner.empty() ? last : inner.front();
    if (open.valid) {
        const LocalPoint next = inner.size() > 1 ? inner[1] : last;
        const double s0 = open.side(a), s1 = open.side(next);
        if (s1 != s0) {
            const double u = -s0 / (s1 - s0);
            if (u >= -1 && u <= 0) a = along(a, next, u);
        }
    }
    // The closing crossing: on the segment into the last point, where it
    // meets the gate's line.
    LocalPoint b = last;
    if (close.valid) {
        const LocalPoint prev = inner.empty() ? a : inner.back();
        const double sp = close.side(prev), sc = close.side(last);
        if (sp != sc && ((sp <= 0 && sc >= 0) || (sp >= 0 && sc <= 0))) b = along(prev, last, sp / (sp - sc));
    }

    t.points.reserve(inner.size() + 2);
    double dist = 0;
    auto add = [&](LocalPoint q, double time) {
        if (!t.points.empty()) {
            const TracePoint& p = t.points.back();
            const double d = std::hypot(q.east - p.east, q.north - p.north);
            if (std::isfinite(d)) dist += d;
        }
        t.points.push_back(TracePoint{dist, time, 0, q.east, q.north, -1});
    };
    add(a, 0);
    for (std::size_t i = 0; i < inner.size(); ++i) add(inner[i], times[i]);
    add(b, ref.lapTime);
    t.distance = dist;
    smoothSpeeds(t);
    return t;
}

std::optional<std::string> startFinishMismatch(const StartFinish& a, const StartFinish& b, double tolerance) {
    if (a.hasFinishLine != b.hasFinishLine)
        return std::string(a.hasFinishLine ? "the first has a separate finish line, the other none"
                                           : "the other has a separate finish line, the first none");
    const LocalPlane plane{a.start.lat1, a.start.long1, calcLongScale(a.start.lat1, a.start.long1)};
    auto compare = [&](const Gate& ga, const Gate& gb, const char* name) -> std::optional<std::string> {
        const LocalPoint pa = plane.toLocal(ga.lat1, ga.long1), pb = plane.toLocal(gb.lat1, gb.long1);
        const double apart = std::hypot(pa.east - pb.east, pa.north - pb.north);
        if (!(apart <= tolerance))
            return std::string("their ") + name + " lines lie " + formatFixed(apart, 1, 1) + " m apart";
        const GateLine la(plane, ga), lb(plane, gb);
        // The lines' directions, either way round.
        if (la.valid && lb.valid && std::fabs(la.ux * lb.uy - la.uy * lb.ux) > std::sin(10 * std::numbers::pi / 180))
            return std::string("their ") + name + " lines run in directions more than 10° apart";
        return std::nullopt;
    };
    if (auto why = compare(a.start, b.start, "start")) return why;
    if (a.hasFinishLine) return compare(a.finish, b.finish, "finish");
    return std::nullopt;
}

} // namespace lorvane
