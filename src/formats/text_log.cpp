#include "formats/text_log.h"

#include <algorithm>
#include <cmath>
#include <array>
#include <cmath>
#include <cstring>
#include <string>

#include "formats/block_reader.h"
#include "formats/line_source.h"
#include "formats/numbers.h"

namespace lorvane {

namespace {

bool contains(std::string_view s, std::string_view what) { return s.find(what) != std::string_view::npos; }

bool isHeaderMarker(std::string_view l) { return l == "[header]" || l == "[Header]"; }
bool isChannelEnd(std::string_view l) {
    return l == "[channel units]" || l == "[Channel units]" || l == "[comments]" || l == "[Comments]" ||
           l == "[column names]" || l == "[Column names]";
}
bool isDataMarker(std::string_view l) { return l == "[data]" || l == "[Data]"; }

// A field with its decimal commas turned into points.
class FieldText {
public:
    std::string_view of(std::string_view field) {
        if (field.find(',') == std::string_view::npos) return field;
        scratch_.assign(field);
        std::replace(scratch_.begin(), scratch_.end(), ',', '.');
        return scratch_;
    }

private:
    std::string scratch_;
};

bool allDigits(std::string_view s) {
    for (char c : s)
        if (c < '0' || c > '9') return false;
    return true;
}

} // namespace

void applyChannelRules(std::string_view line, int n, TextLogColumns& cols) {
    if (contains(line, "atitude")) cols.lat = n;
    if (contains(line, "ongitude")) cols.lon = n;
    if (contains(line, "ime") && !contains(line, "rigger") && !contains(line, "ync")) cols.time = n;
    if (contains(line, "atellites")) cols.sats = n;
}

double convertLogTime(std::string_view field) {
    // Common case: up to six digits, optionally a point and up to two
    // decimals. Formatting such a value with "000000.00" gives back its own
    // digits, so they can be split directly.
    {
        std::string_view ip = field, fp;
        if (auto dot = field.find('.'); dot != std::string_view::npos) {
            ip = field.substr(0, dot);
            fp = field.substr(dot + 1);
        }
        if (!ip.empty() && ip.size() <= 6 && fp.size() <= 2 && allDigits(ip) && allDigits(fp)) {
            char d[6];
            std::size_t pad = 6 - ip.size();
            std::fill(d, d + pad, '0');
            std::memcpy(d + pad, ip.data(), ip.size());
            int hours = (d[0] - '0') * 10 + (d[1] - '0');
            int minutes = (d[2] - '0') * 10 + (d[3] - '0');
            int hundredths = ((d[4] - '0') * 10 + (d[5] - '0')) * 100;
            if (fp.size() >= 1) hundredths += (fp[0] - '0') * 10;
            if (fp.size() == 2) hundredths += fp[1] - '0';
            double seconds = static_cast<double>(hundredths) / 100.0;
            return static_cast<double>(hours * 3600 + minutes * 60) + seconds;
        }
    }
    auto t = parseDecimal(field);
    if (!t) fail(ErrorKind::Syntax, notAValidFloat(field));
    std::string s = formatFixed(*t, 6, 2);
    // Characters 1-2 are the hours, 3-4 the minutes, 5-9 the seconds.
    std::string_view sv = s;
    std::string_view hText = sv.substr(0, 2), mText = sv.substr(std::min<std::size_t>(2, sv.size()), 2),
                     sText = sv.substr(std::min<std::size_t>(4, sv.size()), 5);
    auto h = parseInteger(hText);
    if (!h) fail(ErrorKind::Syntax, notAValidInteger(hText));
    auto m = parseInteger(mText);
    if (!m) fail(ErrorKind::Syntax, notAValidInteger(mText));
    auto sec = parseDecimal(sText);
    if (!sec) fail(ErrorKind::Syntax, notAValidFloat(sText));
    return static_cast<double>(static_cast<std::int64_t>(*h) * 3600 + static_cast<std::int64_t>(*m) * 60) + *sec;
}

TextLogInfo readTextLog(const std::string& path, SampleSink& sink, const TextLogColumns* expected) {
    FileSource file(path);
    return readTextLog(file, sink, expected);
}

TextLogInfo readTextLog(ByteSource& source, SampleSink& sink, const TextLogColumns* expected) {
    const std::string& path = source.name();
    LineSource src(source, sink, kMaxTextLine);
    TextLogInfo info;
    std::string_view line;

    auto failHere = [&](std::string msg) { fail(ErrorKind::Syntax, std::move(msg), path, src.lineNumber()); };

    while (true) {
        if (!src.next(line)) fail(ErrorKind::Syntax, "No \"[header]\" line in the log", path);
        if (isHeaderMarker(line)) break;
    }
    TextLogColumns cols;
    int column = 1;
    while (true) {
        if (!src.next(line))
            fail(ErrorKind::Syntax, "The log ends inside its channel list (no \"[channel units]\", \"[comments]\" or "
                 "\"[column names]\" line)",
                 path);
        applyChannelRules(line, column, cols);
        if (column < 1000000) ++column;
        if (isChannelEnd(line)) break;
    }
    {
        std::string missing;
        auto need = [&](int c, const char* name) {
            if (c == 0) missing += missing.empty() ? name : std::string(", ") + name;
        };
        need(cols.lat, "latitude");
        need(cols.lon, "longitude");
        need(cols.time, "time");
        need(cols.sats, "satellites");
        if (expected && (expected->lat != cols.lat || expected->lon != cols.lon || expected->time != cols.time ||
                         expected->sats != cols.sats))
            fail(ErrorKind::Changed, "The log's channel list has changed since it was loaded", path, src.lineNumber());
        if (!missing.empty())
            fail(ErrorKind::Syntax, "No " + missing + " channel in the log's channel list", path, src.lineNumber());
    }
    info.columns = cols;
    sink.layout(LogLayout{cols.lat, cols.lon, cols.time, cols.sats, 0, 100});
    while (true) {
        if (!src.next(line)) fail(ErrorKind::Syntax, "No \"[data]\" line in the log", path);
        if (isDataMarker(line)) break;
    }

    // The four wanted columns in field order, so one walk finds them all.
    struct Want {
        int column;
        int slot;
    };
    std::array<Want, 4> wants{{{cols.lat, 0}, {cols.lon, 1}, {cols.sats, 2}, {cols.time, 3}}};
    std::sort(wants.begin(), wants.end(), [](const Want& a, const Want& b) { return a.column < b.column; });

    Sample s;
    Diagnostic timeError;
    FieldText ft;
    std::array<std::string_view, 4> field;
    std::int32_t index = 0;
    while (src.next(line)) {
        // Split only as far as the wanted fields. A field that the line does
        // not have leaves its value from the previous line, exactly as if the
        // earlier line's text had been kept for it.
        const char* p = line.data();
        const char* end = p + line.size();
        int at = 1;
        bool more = !line.empty();
        for (const Want& w : wants) {
            if (more) {
                // Fields are short: a plain loop beats memchr's call overhead.
                while (at < w.column) {
                    while (p < end && *p != ' ') ++p;
                    if (p == end) {
                        more = false;
                        break;
                    }
                    ++p;
                    ++at;
                }
            }
            if (more && at == w.column) {
                const char* q = p;
                while (q < end && *q != ' ') ++q;
                field[w.slot] = std::string_view(p, static_cast<std::size_t>(q - p));
            } else {
                field[w.slot] = {};
            }
        }

        if (!field[0].empty()) {
            auto v = parseDecimal(ft.of(field[0]));
            if (!v) failHere(notAValidFloat(ft.of(field[0])));
            s.lat = *v;
        }
        if (!field[1].empty()) {
            auto v = parseDecimal(ft.of(field[1]));
            if (!v) failHere(notAValidFloat(ft.of(field[1])));
            s.lon = -*v;
        }
        if (!field[2].empty()) {
            auto v = parseInteger(ft.of(field[2]));
            if (!v) failHere(notAValidInteger(ft.of(field[2])));
            s.sats = *v;
        }
        s.timeError = nullptr;
        if (!field[3].empty()) {
            try {
                s.time = convertLogTime(ft.of(field[3]));
                // The field has hundredths at most (its text is cut at two decimals).
                s.clock = std::llround(s.time * 100);
            } catch (const LoadError& e) {
                timeError = Diagnostic{e.diagnostic().message, path, src.lineNumber(), -1, ErrorKind::Syntax};
                s.timeError = &timeError;
            }
        }
        s.index = index;
        s.line = src.lineNumber();
        if (!sink.sample(s)) {
            info.stopped = true;
            return info;
        }
        ++info.samples;
        if (index == INT32_MAX) fail(ErrorKind::Invalid, "Too many samples in one log", path, src.lineNumber());
        ++index;
    }
    return info;
}

} // namespace lorvane
