#include "formats/text_log.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "formats/block_reader.h"
#include "formats/line_source.h"
#include "formats/numbers.h"

namespace lorvane {

namespace {

bool contains(std::string_view s, std::string_view what) {
    return s.find(what) != std::string_view::npos;
}

bool isHeaderMarker(std::string_view l) {
    return l == "[header]" || l == "[Header]";
}
bool isChannelEnd(std::string_view l) {
    return l == "[channel units]" || l == "[Channel units]" || l == "[comments]" || l == "[Comments]" ||
           l == "[column names]" || l == "[Column names]";
}
bool isDataMarker(std::string_view l) {
    return l == "[data]" || l == "[Data]";
}
bool isUnitsMarker(std::string_view l) {
    return l == "[channel units]" || l == "[Channel units]";
}

// Most channels a load keeps; a channel list longer than this is not a
// logger's.
constexpr std::size_t kMaxChannels = 256;

std::string_view trimmed(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t' || s.front() == '\r')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) s.remove_suffix(1);
    return s;
}

// The channels of the channel list: every line that names one, with the unit
// of the same line of the "[channel units]" section, names made unique.
struct TextChannels {
    std::vector<ChannelInfo> info;
    std::vector<int> column; // 1-based field of each channel
};

void addChannel(TextChannels& ch, std::string_view name, int column) {
    name = trimmed(name);
    if (name.empty() || ch.info.size() >= kMaxChannels) return;
    std::string unique(name);
    for (int n = 2;; ++n) {
        const bool taken = std::any_of(ch.info.begin(), ch.info.end(),
                                       [&](const ChannelInfo& c) { return c.name == unique; });
        if (!taken) break;
        unique = std::string(name) + " " + std::to_string(n);
    }
    ch.info.push_back(ChannelInfo{std::move(unique), {}});
    ch.column.push_back(column);
}

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

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

// The common time field: up to six digits, optionally a point (or, with
// `commaPoint`, a comma) and up to two decimals. Formatting such a value with
// "000000.00" gives back its own digits, so they can be split directly.
bool plainLogTime(std::string_view field, double& out, bool commaPoint) {
    const char* p = field.data();
    const char* const end = p + field.size();
    std::int32_t clock = 0; // HHMMSS
    while (p < end && isDigit(*p)) {
        if (p - field.data() == 6) return false;
        clock = clock * 10 + (*p++ - '0');
    }
    if (p == field.data()) return false;
    int hundredths = clock % 100 * 100;
    if (p < end) {
        if (*p != '.' && !(commaPoint && *p == ',')) return false;
        ++p;
        const auto decimals = end - p;
        if (decimals > 2 || (decimals >= 1 && !isDigit(p[0])) || (decimals == 2 && !isDigit(p[1]))) return false;
        if (decimals >= 1) hundredths += (p[0] - '0') * 10;
        if (decimals == 2) hundredths += p[1] - '0';
    }
    const int hours = clock / 10000;
    const int minutes = clock / 100 % 100;
    double seconds = static_cast<double>(hundredths) / 100.0;
    out = static_cast<double>(hours * 3600 + minutes * 60) + seconds;
    return true;
}

// Up to nine digits and nothing else: what parseInteger makes of them.
bool plainCount(std::string_view field, std::int32_t& out) {
    if (field.size() > 9) return false;
    std::int32_t v = 0;
    for (char c : field) {
        if (!isDigit(c)) return false;
        v = v * 10 + (c - '0');
    }
    out = v;
    return true;
}

// Word-at-a-time search for the blanks between fields: eight bytes at once.
constexpr std::uint64_t kEachByte = 0x0101010101010101ull;
constexpr std::uint64_t kLow7 = 0x7F * kEachByte;

std::uint64_t load8(const char* p) {
    std::uint64_t w;
    std::memcpy(&w, p, 8);
    if constexpr (std::endian::native == std::endian::big) w = __builtin_bswap64(w);
    return w; // first byte lowest
}

// The top bit of each byte of `w` that is a blank, and no other bit.
std::uint64_t blankBytes(std::uint64_t w) {
    const std::uint64_t x = w ^ (0x20 * kEachByte);
    return ~(((x & kLow7) + kLow7) | x | kLow7);
}

// Just past the `count`th blank from p (count >= 1), or nullptr when the
// line holds fewer.
const char* pastBlanks(const char* p, const char* end, int count) {
    if (p < end && *p == ' ') { // mostly: the blank after the field just read
        if (--count == 0) return p + 1;
        ++p;
    }
    for (; end - p >= 8; p += 8) {
        std::uint64_t m = blankBytes(load8(p));
        const int n = static_cast<int>(((m >> 7) * kEachByte) >> 56); // blanks in the word
        if (n >= count) {
            while (--count) m &= m - 1;
            return p + std::countr_zero(m) / 8 + 1;
        }
        count -= n;
    }
    for (; p < end; ++p)
        if (*p == ' ' && --count == 0) return p + 1;
    return nullptr;
}

// The first blank at or after p, or end.
const char* nextBlank(const char* p, const char* end) {
    for (; end - p >= 8; p += 8)
        if (const std::uint64_t m = blankBytes(load8(p))) return p + std::countr_zero(m) / 8;
    while (p < end && *p != ' ') ++p;
    return p;
}

} // namespace

void applyChannelRules(std::string_view line, int n, TextLogColumns& cols) {
    if (contains(line, "atitude")) cols.lat = n;
    if (contains(line, "ongitude")) cols.lon = n;
    if (contains(line, "ime") && !contains(line, "rigger") && !contains(line, "ync")) cols.time = n;
    if (contains(line, "atellites")) cols.sats = n;
}

double convertLogTime(std::string_view field) {
    if (double t; plainLogTime(field, t, false)) return t;
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
    const bool wantChannels = sink.wantsChannels();
    TextChannels channels;
    int column = 1;
    while (true) {
        if (!src.next(line))
            fail(ErrorKind::Syntax,
                 "The log ends inside its channel list (no \"[channel units]\", \"[comments]\" or "
                 "\"[column names]\" line)",
                 path);
        applyChannelRules(line, column, cols);
        if (isChannelEnd(line)) break;
        if (wantChannels) addChannel(channels, line, column);
        if (column < 1000000) ++column;
    }
    const bool unitsFollow = isUnitsMarker(line);
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
    // The units come after the channel list, a line for each of its lines
    // (blank ones included), up to the next section.
    std::vector<std::string> units;
    bool inUnits = unitsFollow;
    while (true) {
        if (!src.next(line)) fail(ErrorKind::Syntax, "No \"[data]\" line in the log", path);
        if (isDataMarker(line)) break;
        if (inUnits && !line.empty() && line.front() == '[') inUnits = false;
        if (inUnits && wantChannels && units.size() < 1000000) units.emplace_back(trimmed(line));
    }
    for (std::size_t i = 0; i < channels.info.size(); ++i) {
        const auto u = static_cast<std::size_t>(channels.column[i] - 1);
        if (u < units.size()) channels.info[i].unit = units[u];
    }
    sink.layout(LogLayout{cols.lat, cols.lon, cols.time, cols.sats, 0, 100, channels.info});
    std::vector<double> values(channels.info.size(), std::numeric_limits<double>::quiet_NaN());
    std::vector<std::string_view> fields;

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
    // Until a line gives both latitude and longitude the fields repeat
    // nothing: such a line has no position (an empty first data line).
    s.hasPosition = false;
    while (src.next(line)) {
        // Split only as far as the wanted fields. A field that the line does
        // not have leaves its value from the previous line, exactly as if the
        // earlier line's text had been kept for it. `p` is the start of field
        // `at`, or the blank that ends it, or nullptr past the line's last field.
        const char* p = line.data();
        const char* const end = p + line.size();
        int at = 1;
        bool shortLine = false;
        for (const Want& w : wants) {
            if (p && w.column > at) {
                p = pastBlanks(p, end, w.column - at);
                at = w.column;
            }
            if (p) {
                const char* q = nextBlank(p, end);
                field[w.slot] = std::string_view(p, static_cast<std::size_t>(q - p));
                p = q;
            } else {
                field[w.slot] = {};
                shortLine = true;
            }
        }
        if (shortLine && src.lastLineUnended()) info.cutMidLine = true;

        // Plain numbers are read at once, a decimal comma as a point; any
        // other text goes through the general conversion and its errors.
        if (!field[0].empty() && !parsePlainDecimal(field[0], s.lat, true)) {
            auto v = parseDecimal(ft.of(field[0]));
            if (!v) failHere(notAValidFloat(ft.of(field[0])));
            s.lat = *v;
        }
        if (!field[1].empty()) {
            double v;
            if (!parsePlainDecimal(field[1], v, true)) {
                auto g = parseDecimal(ft.of(field[1]));
                if (!g) failHere(notAValidFloat(ft.of(field[1])));
                v = *g;
            }
            s.lon = -v;
        }
        if (!field[2].empty()) {
            // A comma makes no integer, so the field is read as it stands.
            if (!plainCount(field[2], s.sats)) {
                auto v = parseInteger(field[2]);
                if (!v) failHere(notAValidInteger(ft.of(field[2])));
                s.sats = *v;
            }
        }
        if (!field[0].empty() && !field[1].empty()) s.hasPosition = true;
        s.timeError = nullptr;
        if (!field[3].empty()) {
            if (plainLogTime(field[3], s.time, true)) {
                s.clock = std::llround(s.time * 100);
            } else {
                try {
                    s.time = convertLogTime(ft.of(field[3]));
                    // The field has hundredths at most (its text is cut at two decimals).
                    s.clock = std::llround(s.time * 100);
                } catch (const LoadError& e) {
                    timeError = Diagnostic{e.diagnostic().message, path, src.lineNumber(), -1, ErrorKind::Syntax};
                    s.timeError = &timeError;
                }
            }
        }
        if (wantChannels) {
            // Every field of the line, split at single blanks; an empty or
            // missing field, or one that is no number, has no value here.
            fields.clear();
            const char* f = line.data();
            while (true) {
                const char* q = nextBlank(f, end);
                fields.emplace_back(f, static_cast<std::size_t>(q - f));
                if (q == end) break;
                f = q + 1;
            }
            for (std::size_t i = 0; i < values.size(); ++i) {
                const auto c = static_cast<std::size_t>(channels.column[i] - 1);
                double v = std::numeric_limits<double>::quiet_NaN();
                if (c < fields.size() && !fields[c].empty() && !parsePlainDecimal(fields[c], v, true)) {
                    auto g = parseDecimal(ft.of(fields[c]));
                    v = g && std::isfinite(*g) ? *g : std::numeric_limits<double>::quiet_NaN();
                }
                values[i] = v;
            }
            s.channels = values;
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
