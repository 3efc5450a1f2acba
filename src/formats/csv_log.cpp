#include "formats/csv_log.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <deque>
#include <limits>
#include <optional>
#include <vector>

#include "formats/line_source.h"
#include "formats/log_time.h"
#include "formats/numbers.h"
#include "formats/text_log.h"

namespace lorvane {

namespace {

constexpr std::array<char, 3> kSeparators{',', ';', '\t'};

std::string_view trimBlanks(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
    return s;
}

// Splits one line at `sep`, outside double quotes. Quoted fields lose their
// quotes ("" inside stands for one quote); all fields lose surrounding blanks.
// Stops after `maxFields` fields (the rest of the line is not looked at).
class Splitter {
public:
    const std::vector<std::string_view>& split(std::string_view line, char sep, std::size_t maxFields = SIZE_MAX) {
        fields_.clear();
        owned_.clear();
        std::size_t i = 0;
        const std::size_t n = line.size();
        while (fields_.size() < maxFields) {
            while (i < n && line[i] == ' ' && sep != ' ') ++i;
            if (i < n && line[i] == '"') {
                std::size_t j = i + 1;
                bool escaped = false;
                while (j < n) {
                    if (line[j] == '"') {
                        if (j + 1 < n && line[j + 1] == '"') {
                            escaped = true;
                            j += 2;
                            continue;
                        }
                        break;
                    }
                    ++j;
                }
                std::string_view inside = line.substr(i + 1, std::min(j, n) - i - 1);
                if (escaped) {
                    std::string s;
                    for (std::size_t k = 0; k < inside.size(); ++k) {
                        s += inside[k];
                        if (inside[k] == '"' && k + 1 < inside.size() && inside[k + 1] == '"') ++k;
                    }
                    owned_.push_back(std::move(s));
                    inside = owned_.back();
                }
                fields_.push_back(trimBlanks(inside));
                // Skip to the separator after the closing quote.
                std::size_t k = j < n ? j + 1 : n;
                while (k < n && line[k] != sep) ++k;
                if (k >= n) break;
                i = k + 1;
                if (i == n) {
                    if (fields_.size() < maxFields) fields_.push_back({});
                    break;
                }
                continue;
            }
            const std::size_t start = i;
            while (i < n && line[i] != sep) ++i;
            fields_.push_back(trimBlanks(line.substr(start, i - start)));
            if (i >= n) break;
            ++i;
            if (i == n) {
                if (fields_.size() < maxFields) fields_.push_back({});
                break;
            }
        }
        return fields_;
    }

private:
    std::vector<std::string_view> fields_;
    std::deque<std::string> owned_; // unescaped quoted fields; a deque keeps them in place as it grows
};

// A column name taken apart: its words (lower case, camel case split) and
// the text of its brackets (the unit).
struct ColumnName {
    std::vector<std::string> words;
    std::string unit;
    std::string joined; // the words with single blanks

    bool has(std::string_view w) const { return std::find(words.begin(), words.end(), w) != words.end(); }
    template <std::size_t N>
    bool hasAny(const std::array<std::string_view, N>& ws) const {
        for (auto w : ws)
            if (has(w)) return true;
        return false;
    }
    bool wordEndsWith(std::string_view tail) const {
        for (const auto& w : words)
            if (w.size() >= tail.size() && std::string_view(w).substr(w.size() - tail.size()) == tail) return true;
        return false;
    }
};

char lower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}
bool isUpper(char c) {
    return c >= 'A' && c <= 'Z';
}
bool isLowerOrDigit(char c) {
    return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
}
bool isAlnum(char c) {
    return isUpper(c) || isLowerOrDigit(c);
}

ColumnName nameOf(std::string_view raw) {
    ColumnName n;
    std::string word;
    int bracket = 0;
    auto endWord = [&]() {
        if (!word.empty()) n.words.push_back(std::move(word));
        word.clear();
    };
    for (std::size_t i = 0; i < raw.size(); ++i) {
        const char c = raw[i];
        if (c == '(' || c == '[' || c == '{') {
            endWord();
            ++bracket;
            continue;
        }
        if ((c == ')' || c == ']' || c == '}') && bracket > 0) {
            --bracket;
            n.unit += ' ';
            continue;
        }
        if (bracket > 0) {
            n.unit += lower(c);
            continue;
        }
        if (!isAlnum(c)) {
            endWord();
            continue;
        }
        // camelCase and "GPSLatitude": a new word at a capital after a small
        // letter, or at the last capital of a run followed by a small letter.
        if (isUpper(c) && i > 0 &&
            (isLowerOrDigit(raw[i - 1]) ||
             (isUpper(raw[i - 1]) && i + 1 < raw.size() && raw[i + 1] >= 'a' && raw[i + 1] <= 'z')))
            endWord();
        word += lower(c);
    }
    endWord();
    for (const auto& w : n.words) n.joined += (n.joined.empty() ? "" : " ") + w;
    return n;
}

// Words that make a name about something else than the position or time.
constexpr std::array<std::string_view, 13> kNotPosition{
    "g", "acc", "accel", "acceleration", "error", "err", "accuracy", "std", "stddev", "sd", "dev", "precision", "dop"};

bool isLatitude(const ColumnName& n) {
    return (n.has("lat") || n.wordEndsWith("latitude")) && !n.hasAny(kNotPosition);
}
bool isLongitude(const ColumnName& n) {
    return (n.has("lon") || n.has("lng") || n.has("long") || n.wordEndsWith("longitude")) && !n.hasAny(kNotPosition);
}
// 2: a plain time name; 1: a name with a time word; 0: no time.
int timeRank(const ColumnName& n) {
    static constexpr std::array<std::string_view, 18> kPlain{
        "time", "timestamp", "interval", "elapsed",  "elapsed time", "elapsed seconds",
        "utc",  "utc time",  "gps time", "datetime", "date time",    "session time",
        "t",    "seconds",   "secs",     "sec",      "time utc",     "gps timestamp"};
    for (auto p : kPlain)
        if (n.joined == p) return 2;
    static constexpr std::array<std::string_view, 6> kWords{"time", "timestamp", "elapsed",
                                                            "utc",  "datetime",  "seconds"};
    static constexpr std::array<std::string_view, 13> kOther{"lap",  "sector", "split",    "delta", "predicted",
                                                             "best", "start",  "starting", "end",   "reaction",
                                                             "zone", "lag",    "offset"};
    return n.hasAny(kWords) && !n.hasAny(kOther) ? 1 : 0;
}
bool isSatellites(const ColumnName& n) {
    static constexpr std::array<std::string_view, 11> kWords{
        "sat", "sats", "satellite", "satellites", "nsat", "nsats", "numsat", "numsats", "numsv", "svs", "sv"};
    return n.hasAny(kWords) && !n.has("snr");
}
bool isSpeed(const ColumnName& n) {
    static constexpr std::array<std::string_view, 11> kOther{"vertical", "vert", "wheel", "engine",  "wind", "shaft",
                                                             "max",      "min",  "avg",   "average", "lap"};
    return (n.has("speed") || n.has("velocity") || n.has("spd") || n.wordEndsWith("speed")) && !n.hasAny(kOther);
}

// Metres per second per unit of a speed, from a text holding its unit (a
// column name with its brackets, or a units row's cell); none when no unit
// is seen.
std::optional<double> speedUnit(std::string all) {
    all = " " + all + " ";
    for (char& c : all) c = lower(c);
    auto has = [&](std::string_view what) { return all.find(what) != std::string::npos; };
    if (has("mph") || has("mi/h") || has("miles")) return 0.44704;
    if (has("km/h") || has("kmh") || has("kph") || has("km h") || has("kmph")) return 1 / 3.6;
    if (has("knot") || has("kts") || has(" kt ") || has(" kn ")) return 1852.0 / 3600.0;
    if (has("m/s") || has(" mps ") || has("metres per second") || has("meters per second")) return 1.0;
    return std::nullopt;
}

enum class TimeUnit { Unknown, Seconds, Millis, UnixSeconds, UnixMillis };

// The unit a units row (or a header's bracket) gives a time column.
TimeUnit timeUnitOf(std::string_view text) {
    std::string u;
    for (char c : trimBlanks(text)) u += lower(c);
    const bool ms = u == "ms" || u.find("msec") != std::string::npos || u.find("milli") != std::string::npos ||
                    u.find("(ms)") != std::string::npos || u.find(" ms") != std::string::npos;
    if (u.find("unix") != std::string::npos || u.find("epoch") != std::string::npos)
        return ms ? TimeUnit::UnixMillis : TimeUnit::UnixSeconds;
    if (ms) return TimeUnit::Millis;
    if (u == "s" || u == "sec" || u == "secs" || u == "second" || u == "seconds") return TimeUnit::Seconds;
    return TimeUnit::Unknown;
}
TimeUnit timeUnitOf(const ColumnName& n) {
    std::string all = " " + n.unit + " " + n.joined + " ";
    if (all.find(" ms ") != std::string::npos || all.find("millis") != std::string::npos ||
        all.find("msec") != std::string::npos)
        return all.find("unix") != std::string::npos || all.find("epoch") != std::string::npos ? TimeUnit::UnixMillis
                                                                                               : TimeUnit::Millis;
    if (TimeUnit u = timeUnitOf(n.unit); u != TimeUnit::Unknown) return u;
    if (n.has("seconds") || n.has("secs") || n.has("sec")) return TimeUnit::Seconds;
    return TimeUnit::Unknown;
}

// A units row's latitude or longitude unit that means decimal degrees.
bool degrees(std::string_view text) {
    std::string u;
    for (char c : trimBlanks(text)) u += lower(c);
    return u.empty() || u == "deg" || u == "deg." || u == "degree" || u == "degrees" || u == "\xC2\xB0" || u == "dd" ||
           u == "decimal degrees";
}

struct Header {
    CsvColumns cols;
    char sep = ',';
    std::vector<std::string> names; // as error messages quote them: 40 characters at most
    std::vector<std::string> cells; // in full
    std::vector<std::string> units; // per column, from the header cell (RaceCapture) or its brackets
    TimeUnit timeUnit = TimeUnit::Unknown;
    std::optional<double> speedFactor; // from the speed column's name
    int gpsUpdate = 0;                 // TrackAddict's "GPS_Update": 1 on rows with a new fix
    int date = 0;                      // a date beside a clock time column
    bool raceCapture = false;
};

// RaceCapture's header cells: "Name"|"unit"|min|max|rate.
bool splitRaceCapture(std::string_view line, std::vector<std::string>& names, std::vector<std::string>& units) {
    if (line.find("\"|") == std::string_view::npos) return false;
    std::size_t i = 0;
    for (;;) {
        std::size_t end = line.find(',', i);
        if (end == std::string_view::npos) end = line.size();
        const std::string_view cell = trimBlanks(line.substr(i, end - i));
        if (cell.size() < 2 || cell[0] != '"') return false;
        const std::size_t q = cell.find('"', 1);
        if (q == std::string_view::npos) return false;
        names.emplace_back(cell.substr(1, q - 1));
        std::string_view rest = cell.substr(q + 1);
        std::string unit;
        if (rest.substr(0, 2) == "|\"") {
            const std::size_t q2 = rest.find('"', 2);
            if (q2 == std::string_view::npos) return false;
            unit = rest.substr(2, q2 - 2);
        }
        units.push_back(std::move(unit));
        if (end >= line.size()) break;
        i = end + 1;
    }
    return names.size() >= 2;
}

std::optional<Header> readHeader(std::string_view line, Splitter& sp) {
    std::optional<Header> best;
    for (char sep : kSeparators) {
        std::vector<std::string> cells, units;
        const bool raceCapture = sep == ',' && splitRaceCapture(line, cells, units);
        if (!raceCapture) {
            cells.clear();
            units.clear();
            const auto& f = sp.split(line, sep);
            if (f.size() < 2) continue;
            // Names, not values: a "Latitude,45.59" metadata line is no header.
            if (std::any_of(f.begin(), f.end(), [](std::string_view v) { return parseDecimal(v).has_value(); }))
                continue;
            for (auto v : f) cells.emplace_back(v);
            units.resize(cells.size());
        }
        Header h;
        h.sep = sep;
        h.raceCapture = raceCapture;
        int timeBest = 0, utc = 0, interval = 0;
        for (std::size_t i = 0; i < cells.size(); ++i) {
            const ColumnName n = nameOf(units[i].empty() ? cells[i] : cells[i] + " (" + units[i] + ")");
            const int col = static_cast<int>(i) + 1;
            if (n.joined == "utc" && !utc) utc = col;
            if (n.joined == "interval" && !interval) interval = col;
            if (isLatitude(n)) {
                if (!h.cols.lat) h.cols.lat = col;
            } else if (isLongitude(n)) {
                if (!h.cols.lon) h.cols.lon = col;
            } else if (int r = timeRank(n); r > timeBest) {
                timeBest = r;
                h.cols.time = col;
                h.timeUnit = timeUnitOf(n);
            } else if (isSatellites(n)) {
                if (!h.cols.sats) h.cols.sats = col;
            } else if (isSpeed(n)) {
                if (!h.cols.speed) {
                    h.cols.speed = col;
                    h.speedFactor = speedUnit(n.unit + " " + n.joined);
                }
            } else if (n.joined == "gps update") {
                if (!h.gpsUpdate) h.gpsUpdate = col;
            } else if (n.joined == "date") {
                if (!h.date) h.date = col;
            }
        }
        if (!h.cols.lat && !h.cols.lon) continue;
        // RaceCapture: the GPS time of the fix, else the logger's tick in ms.
        if (raceCapture && (utc || interval)) {
            h.cols.time = utc ? utc : interval;
            h.timeUnit = utc ? TimeUnit::UnixMillis : TimeUnit::Millis;
        }
        if (best && best->names.size() >= cells.size()) continue;
        for (const auto& v : cells) h.names.emplace_back(std::string_view(v).substr(0, 40));
        h.cells = cells;
        h.units = std::move(units);
        best = std::move(h);
    }
    return best;
}

bool binaryLine(std::string_view line) {
    for (char ch : line) {
        const auto c = static_cast<unsigned char>(ch);
        if ((c < 0x20 && c != '\t') || c == 0x7f) return true;
    }
    return false;
}

bool commentLine(std::string_view line) {
    const std::string_view t = trimBlanks(line);
    return !t.empty() && t[0] == '#';
}

bool containsNoCase(std::string_view text, std::string_view what) {
    if (what.size() > text.size()) return false;
    for (std::size_t i = 0; i + what.size() <= text.size(); ++i) {
        std::size_t k = 0;
        while (k < what.size() && lower(text[i + k]) == what[k]) ++k;
        if (k == what.size()) return true;
    }
    return false;
}

// "14-AUG-16", "14-Aug-2016" or "2016-08-14": days since 1970-01-01.
std::optional<std::int64_t> parseDate(std::string_view t) {
    t = trimBlanks(t);
    auto digits = [](std::string_view d) -> std::optional<int> {
        if (d.empty() || d.size() > 4) return std::nullopt;
        int v = 0;
        for (char c : d) {
            if (c < '0' || c > '9') return std::nullopt;
            v = v * 10 + (c - '0');
        }
        return v;
    };
    const std::size_t a = t.find('-');
    if (a == std::string_view::npos) return std::nullopt;
    const std::size_t b = t.find('-', a + 1);
    if (b == std::string_view::npos) return std::nullopt;
    const std::string_view p1 = t.substr(0, a), p2 = t.substr(a + 1, b - a - 1), p3 = t.substr(b + 1);
    int year = 0, month = 0, day = 0;
    if (p1.size() == 4) {
        auto y = digits(p1), m = digits(p2), d = digits(p3);
        if (!y || !m || !d || p2.size() > 2 || p3.size() > 2) return std::nullopt;
        year = *y, month = *m, day = *d;
    } else {
        static constexpr std::array<std::string_view, 12> kMonths{"jan", "feb", "mar", "apr", "may", "jun",
                                                                  "jul", "aug", "sep", "oct", "nov", "dec"};
        std::string mon;
        for (char c : p2) mon += lower(c);
        for (std::size_t i = 0; i < kMonths.size(); ++i)
            if (mon == kMonths[i]) month = static_cast<int>(i) + 1;
        auto d = digits(p1), y = digits(p3);
        if (!month || !d || !y || p1.size() > 2 || (p3.size() != 2 && p3.size() != 4)) return std::nullopt;
        day = *d;
        year = p3.size() == 2 ? (*y < 70 ? 2000 + *y : 1900 + *y) : *y;
    }
    if (!validDate(year, month, day)) return std::nullopt;
    return daysFromCivil(year, month, day);
}

// Most channels a load keeps: the columns after these are not read (a header
// of more columns than any logger writes would otherwise cost memory for each).
constexpr std::size_t kMaxCsvChannels = 256;

// Sample steps a GPS logger can have, for a time column without a unit.
constexpr double kMinStep = 0.002, kMaxStep = 10;
constexpr std::size_t kStepsLookedAt = 10;

// A header cell taken apart into a channel's name and unit: "Velocity (MPH)"
// is "Velocity" in "MPH". Only a short last bracket without blanks is a unit;
// "Brake (calculated)" keeps its brackets; a list of values in square
// brackets ("GPSFIX[NOFIX/2D/3D/UNKNOWN]") is left out of the name.
// Harry's LapTimer writes the unit as the name's last word ("SPEED_KPH",
// "HEIGHT_FT"): the name stays whole, the unit is read from it.
ChannelInfo channelOfCell(std::string_view cell) {
    ChannelInfo c;
    c.name = trimBlanks(cell);
    if (c.name.size() >= 3) {
        const char close = c.name.back();
        const char open = close == ')' ? '(' : close == ']' ? '[' : 0;
        const std::size_t at = open ? c.name.rfind(open) : std::string::npos;
        if (at != std::string::npos && at > 0) {
            const std::string inside = c.name.substr(at + 1, c.name.size() - at - 2);
            const std::string before(trimBlanks(std::string_view(c.name).substr(0, at)));
            if (!inside.empty() && inside.size() <= 9 && inside.find(' ') == std::string::npos && !before.empty()) {
                c.unit = inside;
                c.name = before;
                return c;
            }
            // Harry's LapTimer lists a column's values in brackets: "GPSFIX[NOFIX/2D/3D/UNKNOWN]".
            if (close == ']' && std::count(inside.begin(), inside.end(), '/') >= 2 && !before.empty()) {
                c.name = before;
                return c;
            }
        }
    }
    static constexpr std::array<std::pair<std::string_view, std::string_view>, 8> kSuffixes{{{"_KPH", "km/h"},
                                                                                             {"_MPH", "mph"},
                                                                                             {"_M", "m"},
                                                                                             {"_FT", "ft"},
                                                                                             {"_KM", "km"},
                                                                                             {"_MILE", "mi"},
                                                                                             {"_DEG", "deg"},
                                                                                             {"_CELSIUS", "degC"}}};
    for (const auto& [suffix, unit] : kSuffixes)
        if (c.name.size() > suffix.size() && c.name.ends_with(suffix)) {
            c.unit = unit;
            break;
        }
    return c;
}

bool sameNoCase(std::string_view a, std::string_view b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char p, char q) { return lower(p) == lower(q); });
}

// The channels of the columns in `columns` (0-based): names and units from
// the header cells, the header's own units (RaceCapture) and the units row.
// `names` are the header cells in full. Names are made unique (ignoring case): columns whose names only differ in
// their units keep their whole header text ("Altitude (m)", "Altitude (ft)");
// a name repeated after that gets its source from the sources row ("speed",
// "speed (calc)", "speed (obd)"), else a number ("Lap 2").
std::vector<ChannelInfo> csvChannels(const std::vector<std::string>& names, const std::vector<std::string>& headerUnits,
                                     const std::vector<std::string>& unitsRow,
                                     const std::vector<std::string>& sourcesRow,
                                     const std::vector<std::size_t>& columns) {
    auto cell = [](const std::vector<std::string>& row, std::size_t i) -> std::string_view {
        return i < row.size() ? trimBlanks(row[i]) : std::string_view();
    };
    std::vector<ChannelInfo> out;
    for (std::size_t i : columns) {
        ChannelInfo c = channelOfCell(names[i]);
        if (!cell(headerUnits, i).empty()) c.unit = cell(headerUnits, i);
        if (!cell(unitsRow, i).empty()) c.unit = cell(unitsRow, i);
        if (c.name.empty()) c.name = "Column " + std::to_string(i + 1);
        out.push_back(std::move(c));
    }
    std::vector<bool> clash(out.size());
    for (std::size_t a = 0; a < out.size(); ++a)
        for (std::size_t b = 0; b < out.size(); ++b)
            if (b != a && sameNoCase(out[a].name, out[b].name) &&
                !sameNoCase(trimBlanks(names[columns[a]]), trimBlanks(names[columns[b]])))
                clash[a] = true;
    for (std::size_t a = 0; a < out.size(); ++a)
        if (clash[a]) out[a].name = trimBlanks(names[columns[a]]);
    auto taken = [&](std::string_view name, std::size_t upTo) {
        for (std::size_t b = 0; b < upTo; ++b)
            if (sameNoCase(out[b].name, name)) return true;
        return false;
    };
    for (std::size_t a = 1; a < out.size(); ++a) {
        if (!taken(out[a].name, a)) continue;
        std::string_view source = cell(sourcesRow, columns[a]);
        if (const std::size_t colon = source.find(':'); colon != std::string_view::npos)
            source = trimBlanks(source.substr(colon + 1));
        const std::string base = out[a].name;
        if (!source.empty() && !taken(base + " (" + std::string(source) + ")", a)) {
            out[a].name = base + " (" + std::string(source) + ")";
            continue;
        }
        for (int k = 2; taken(out[a].name, a); ++k) out[a].name = base + " " + std::to_string(k);
    }
    return out;
}

// The channel values of the rows, out of the row loop so that a read
// without channels does not pay for them: the values of the row being read,
// and the last value of each channel in the rows since the last sample that
// gave none (a logger writes its faster channels on rows between fixes).
class ChannelCells {
public:
    std::vector<std::size_t> columns; // 0-based, one per channel

    void start() {
        values_.assign(columns.size(), std::numeric_limits<double>::quiet_NaN());
        held_ = values_;
    }
    // The row's values; a cell that is no number is no value.
    void read(const std::vector<std::string_view>& fields, bool decimalComma) {
        std::string scratch;
        for (std::size_t k = 0; k < columns.size(); ++k) {
            const std::size_t c = columns[k];
            double v = std::numeric_limits<double>::quiet_NaN();
            if (c < fields.size() && !fields[c].empty() && !parsePlainDecimal(fields[c], v, decimalComma)) {
                std::string_view text = fields[c];
                if (decimalComma && text.find(',') != std::string_view::npos) {
                    scratch.assign(text);
                    std::replace(scratch.begin(), scratch.end(), ',', '.');
                    text = scratch;
                }
                const auto d = parseDecimal(text);
                if (d && std::isfinite(*d)) v = *d;
            }
            values_[k] = v;
        }
    }
    // The row gives no sample: its values wait for the next one.
    void hold() {
        for (std::size_t k = 0; k < values_.size(); ++k)
            if (!std::isnan(values_[k])) held_[k] = values_[k];
    }
    // The row gives a sample: its values, those it lacks from the rows held.
    std::span<const double> sampleValues() {
        for (std::size_t k = 0; k < values_.size(); ++k) {
            if (std::isnan(values_[k])) values_[k] = held_[k];
            held_[k] = std::numeric_limits<double>::quiet_NaN();
        }
        return values_;
    }

private:
    std::vector<double> values_, held_;
};

} // namespace

bool looksLikeCsvHeader(std::string_view line) {
    if (binaryLine(line)) return false;
    Splitter sp;
    return readHeader(line, sp).has_value();
}

CsvLogInfo readCsvLog(const std::string& path, SampleSink& sink, const CsvColumns* expected) {
    FileSource file(path);
    return readCsvLog(file, sink, expected);
}

CsvLogInfo readCsvLog(ByteSource& source, SampleSink& sink, const CsvColumns* expected) {
    const std::string& path = source.name();
    LineSource src(source, sink, kMaxTextLine);
    CsvLogInfo info;
    Splitter sp;
    std::string_view line;
    auto failHere = [&](std::string msg) { fail(ErrorKind::Syntax, std::move(msg), path, src.lineNumber()); };

    // The app, from lines before the header.
    std::string app, formatVersion;
    auto notePreamble = [&](std::string_view l) {
        if (!app.empty()) { // the first hint stands
        } else if (containsNoCase(l, "racechrono"))
            app = "RaceChrono CSV";
        else if (containsNoCase(l, "aim csv file"))
            app = "AiM Race Studio CSV";
        else if (containsNoCase(l, "trackaddict"))
            app = "TrackAddict CSV";
        else if (containsNoCase(l, "harry's") && containsNoCase(l, "laptimer"))
            app = "Harry's LapTimer CSV";
        const std::string_view t = trimBlanks(l);
        if (t.substr(0, 7) == "Format," && t.size() <= 12) formatVersion = t.substr(7);
    };

    std::optional<Header> header;
    for (;;) {
        if (!src.next(line) || src.lineNumber() > kMaxCsvPreamble)
            fail(ErrorKind::Syntax,
                 "Not a CSV log: no header line naming latitude and longitude columns" +
                     std::string(src.lineNumber() > kMaxCsvPreamble
                                     ? " in the first " + std::to_string(kMaxCsvPreamble) + " lines"
                                     : ""),
                 path);
        if (src.lineNumber() == 1 && line.substr(0, 3) == "\xEF\xBB\xBF") line.remove_prefix(3);
        if (binaryLine(line)) failHere("Not a CSV file: the line holds binary data (NUL or control bytes)");
        header = readHeader(line, sp);
        if (header) break;
        if (commentLine(line)) ++info.commentLines;
        notePreamble(line);
    }
    info.headerLine = src.lineNumber();
    info.separator = header->sep;
    CsvColumns cols = header->cols;
    {
        std::string missing;
        auto need = [&](int c, const char* name) {
            if (c == 0) missing += missing.empty() ? name : std::string(", ") + name;
        };
        need(cols.time, "time");
        need(cols.lat, "latitude");
        need(cols.lon, "longitude");
        if (!missing.empty()) {
            if (expected)
                fail(ErrorKind::Changed, "The log's header line has changed since it was loaded", path,
                     info.headerLine);
            std::string list;
            for (const auto& n : header->names) list += (list.empty() ? "\"" : ", \"") + n + "\"";
            failHere("No " + missing + " column in the CSV header line (its columns: " + list + ")");
        }
    }

    const bool decimalComma = header->sep != ',';
    std::string scratch;
    auto number = [&](std::string_view f) -> std::string_view {
        if (!decimalComma || f.find(',') == std::string_view::npos) return f;
        scratch.assign(f);
        std::replace(scratch.begin(), scratch.end(), ',', '.');
        return scratch;
    };
    auto columnName = [&](int c) { return "\"" + header->names[static_cast<std::size_t>(c) - 1] + "\""; };

    // Rows under the header that hold text where the position stands: the
    // units row, then a sources row. Settled at the first data row.
    std::vector<std::string> unitsRow, sourcesRow;
    bool settled = false;
    double speedFactor = 1;
    bool speedUsed = cols.speed != 0;
    TimeUnit timeUnit = header->timeUnit;
    bool roundSats = false;
    std::size_t needFields = 0, splitFields = 0;
    const bool wantChannels = sink.wantsChannels();
    ChannelCells channels; // when the sink wants them
    auto settle = [&](std::optional<std::string_view> firstRow) {
        settled = true;
        auto cell = [](const std::vector<std::string>& row, int c) -> std::string {
            return c > 0 && static_cast<std::size_t>(c) <= row.size() ? row[static_cast<std::size_t>(c) - 1]
                                                                      : std::string();
        };
        // Columns sharing a name: the GPS source's.
        if (!sourcesRow.empty()) {
            auto gps = [&](int c) { return containsNoCase(cell(sourcesRow, c), "gps"); };
            auto sameName = [&](int a, int b) {
                const std::string &x = header->names[static_cast<std::size_t>(a) - 1],
                                  &y = header->names[static_cast<std::size_t>(b) - 1];
                return std::equal(x.begin(), x.end(), y.begin(), y.end(),
                                  [](char p, char q) { return lower(p) == lower(q); });
            };
            for (int* c : {&cols.lat, &cols.lon, &cols.sats, &cols.speed}) {
                if (!*c || gps(*c)) continue;
                for (int k = 1; k <= static_cast<int>(header->names.size()); ++k)
                    if (k != *c && gps(k) && sameName(k, *c)) {
                        *c = k;
                        break;
                    }
            }
        }
        if (!unitsRow.empty()) {
            for (int c : {cols.lat, cols.lon})
                if (!degrees(cell(unitsRow, c)))
                    fail(ErrorKind::Syntax,
                         "The units row gives column " + columnName(c) + " in '" + cell(unitsRow, c).substr(0, 40) +
                             "', not in degrees",
                         path, info.unitsLine);
            if (timeUnit == TimeUnit::Unknown) timeUnit = timeUnitOf(cell(unitsRow, cols.time));
            roundSats = true; // such logs put every channel on one time base: counts come interpolated
        }
        if (cols.speed) {
            const std::size_t i = static_cast<std::size_t>(cols.speed) - 1;
            std::optional<double> f = i < header->units.size() && !header->units[i].empty()
                                          ? speedUnit(header->units[i])
                                          : std::nullopt;
            if (!f && cols.speed == header->cols.speed) f = header->speedFactor;
            if (!f && !unitsRow.empty() && !cell(unitsRow, cols.speed).empty()) {
                f = speedUnit(cell(unitsRow, cols.speed));
                speedUsed = f.has_value(); // a unit not known: no speed rather than a wrong one
            }
            speedFactor = f.value_or(1.0);
        }
        if (expected && (expected->time != cols.time || expected->lat != cols.lat || expected->lon != cols.lon ||
                         expected->sats != cols.sats))
            fail(ErrorKind::Changed, "The log's header line has changed since it was loaded", path, info.headerLine);
        info.columns = cols;
        if (header->raceCapture)
            app = "RaceCapture log";
        else if (app.empty() && header->gpsUpdate)
            app = "TrackAddict CSV";
        if (app == "RaceChrono CSV" && !formatVersion.empty()) app += " v" + formatVersion;
        if (!app.empty()) info.dialect = app;
        needFields = static_cast<std::size_t>(
            std::max({cols.time, cols.lat, cols.lon, cols.sats, cols.speed, header->gpsUpdate, header->date}));
        splitFields = needFields;
        LogLayout layout;
        if (wantChannels) {
            // Every column but those holding text on the first row (a clock
            // time, a date): their values are no numbers.
            std::vector<std::string_view> first;
            if (firstRow) first = sp.split(*firstRow, header->sep);
            for (std::size_t i = 0; i < header->cells.size() && channels.columns.size() < kMaxCsvChannels; ++i) {
                const std::string_view v = i < first.size() ? first[i] : std::string_view();
                if (v.empty() || parseDecimal(number(v))) channels.columns.push_back(i);
            }
            layout.channels = csvChannels(header->cells, header->units, unitsRow, sourcesRow, channels.columns);
            channels.start();
            if (!channels.columns.empty()) splitFields = std::max(needFields, channels.columns.back() + 1);
        }
        layout.latColumn = cols.lat;
        layout.longColumn = cols.lon;
        layout.timeColumn = cols.time;
        layout.satColumn = cols.sats;
        layout.ticksPerSecond = 1000;
        sink.layout(layout);
    };
    auto parsesAsTime = [&](std::string_view t) {
        return parseDecimal(number(t)) || parseClockTime(t) || parseIsoDateTime(t);
    };

    enum class Form { Iso, Clock, ClockWithDate, Number, Epoch };
    std::optional<Form> form;
    DayClock dayClock;
    Sample s;
    std::int32_t index = 0;
    double lastLat = 0, lastLon = 0;
    std::int64_t lastClock = 0;
    std::vector<double> firstTimes; // seconds as read, for the step check of a time without a unit
    auto checkSteps = [&]() {
        std::vector<double> steps;
        for (std::size_t i = 1; i < firstTimes.size(); ++i)
            if (firstTimes[i] > firstTimes[i - 1]) steps.push_back(firstTimes[i] - firstTimes[i - 1]);
        if (steps.size() < 5) return;
        std::sort(steps.begin(), steps.end());
        const double step = steps[steps.size() / 2];
        if (step >= kMinStep && step <= kMaxStep) return;
        std::string shown = formatFixed(step, 1, 6);
        while (shown.back() == '0') shown.pop_back();
        if (shown.back() == '.') shown.pop_back();
        failHere("The time column " + columnName(cols.time) + " gives no unit, and read as seconds its rows are " +
                 shown + " s apart: too " + (step > kMaxStep ? "far apart" : "close together") +
                 " for a GPS log. Give the unit in the header (\"" + header->names[cols.time - 1] +
                 (step > kMaxStep ? " (ms)" : " (s)") + "\") or in a units row");
    };
    while (src.next(line)) {
        if (trimBlanks(line).empty()) continue;
        if (commentLine(line)) {
            ++info.commentLines;
            continue;
        }
        if (!settled && sourcesRow.empty()) {
            const auto& all = sp.split(line, header->sep);
            auto at = [&](int c) {
                return static_cast<std::size_t>(c) <= all.size() ? all[static_cast<std::size_t>(c) - 1]
                                                                 : std::string_view();
            };
            const std::string_view t = at(cols.time), la = at(cols.lat), lo = at(cols.lon);
            const bool text = (!la.empty() && !parseDecimal(number(la))) || (!lo.empty() && !parseDecimal(number(lo)));
            if (text && (t.empty() || !parsesAsTime(t))) {
                if (binaryLine(line)) failHere("Not a CSV file: the line holds binary data (NUL or control bytes)");
                std::vector<std::string>& row = unitsRow.empty() ? unitsRow : sourcesRow;
                for (auto v : all) row.emplace_back(v);
                if (&row == &unitsRow) info.unitsLine = src.lineNumber();
                continue;
            }
        }
        if (!settled) settle(line);
        const auto& f = sp.split(line, header->sep, splitFields);
        auto field = [&](int c) {
            return c > 0 && static_cast<std::size_t>(c) <= f.size() ? f[static_cast<std::size_t>(c) - 1]
                                                                    : std::string_view();
        };
        if (f.size() < needFields) {
            bool allEmpty = true;
            for (auto v : f)
                if (!v.empty()) allEmpty = false;
            if (!allEmpty)
                failHere("The row has " + std::to_string(f.size()) + " fields; the header line names " +
                         std::to_string(header->names.size()) + " columns");
        }
        if (wantChannels) channels.read(f, decimalComma);
        const std::string_view t = field(cols.time), la = field(cols.lat), lo = field(cols.lon);
        if (t.empty() || la.empty() || lo.empty()) {
            ++info.rowsWithoutPosition;
            if (wantChannels) channels.hold();
            continue;
        }
        if (header->gpsUpdate && !field(header->gpsUpdate).empty()) {
            const std::string_view v = field(header->gpsUpdate);
            auto u = parseDecimal(number(v));
            if (!u) failHere(notAValidFloat(v) + " (column " + columnName(header->gpsUpdate) + ")");
            if (*u == 0) {
                ++info.rowsRepeated;
                if (wantChannels) channels.hold();
                continue;
            }
        }
        auto lat = parseDecimal(number(la));
        if (!lat) failHere(notAValidFloat(la) + " (column " + columnName(cols.lat) + ")");
        if (*lat < -90 || *lat > 90)
            failHere("Latitude " + std::string(la.substr(0, 40)) + " is outside -90 to 90 degrees");
        auto lon = parseDecimal(number(lo));
        if (!lon) failHere(notAValidFloat(lo) + " (column " + columnName(cols.lon) + ")");
        if (*lon < -180 || *lon > 180)
            failHere("Longitude " + std::string(lo.substr(0, 40)) + " is outside -180 to 180 degrees");

        std::optional<std::int64_t> clock;
        if (!form || *form == Form::Iso) {
            if (auto dt = parseIsoDateTime(t)) {
                form = Form::Iso;
                clock = dayClock.clock(dt->ms, dt->day);
            }
        }
        if (!clock && (!form || *form == Form::Clock || *form == Form::ClockWithDate)) {
            if (auto ms = parseClockTime(t)) {
                std::optional<std::int64_t> day;
                if (header->date && (!form || *form == Form::ClockWithDate)) {
                    const std::string_view d = field(header->date);
                    day = parseDate(d);
                    if (!day && form)
                        failHere("'" + std::string(d.substr(0, 40)) + "' is not a valid date (column " +
                                 columnName(header->date) + ")");
                }
                form = day ? Form::ClockWithDate : Form::Clock;
                clock = dayClock.clock(*ms, day);
            }
        }
        if (!clock && (!form || *form == Form::Number || *form == Form::Epoch)) {
            if (auto v = parseDecimal(number(t))) {
                const bool epoch = timeUnit == TimeUnit::UnixSeconds || timeUnit == TimeUnit::UnixMillis;
                const double ms = timeUnit == TimeUnit::Millis || timeUnit == TimeUnit::UnixMillis ? *v : *v * 1000;
                if (std::fabs(ms) < 9e15) {
                    const std::int64_t whole = std::llround(ms);
                    if (epoch) {
                        const std::int64_t day = whole >= 0 ? whole / kMsPerDay : -((-whole - 1) / kMsPerDay) - 1;
                        form = Form::Epoch;
                        clock = dayClock.clock(whole - day * kMsPerDay, day);
                    } else {
                        form = Form::Number;
                        clock = whole;
                    }
                }
            }
        }
        if (!clock) {
            const char* what = !form ? "seconds, hh:mm:ss[.fff] or an ISO 8601 date and time"
                               : *form == Form::Number || *form == Form::Epoch ? "a number of seconds"
                               : *form == Form::Clock || *form == Form::ClockWithDate
                                   ? "hh:mm:ss[.fff], as in the rows before"
                                   : "an ISO 8601 date and time, as in the rows before";
            std::string q = notAValidFloat(t);
            failHere(q.substr(0, q.rfind('\'') + 1) + " is not a valid time (" + what + ")");
        }

        // The last fix again: the same time and place, or (RaceCapture, whose
        // rows carry the GPS values until the next fix comes) the same place.
        if (index > 0 && *lat == lastLat && *lon == lastLon && (*clock == lastClock || header->raceCapture)) {
            ++info.rowsRepeated;
            if (wantChannels) channels.hold();
            continue;
        }

        s.satsKnown = false;
        s.sats = kSatsUnknown;
        if (cols.sats && !field(cols.sats).empty()) {
            const std::string_view v = field(cols.sats);
            auto n = parseDecimal(number(v));
            if (n && roundSats && *n >= 0 && *n <= 1e6) n = std::round(*n);
            if (!n || *n < 0 || *n > 1e6 || *n != std::floor(*n))
                failHere(notAValidInteger(v) + " (column " + columnName(cols.sats) + ")");
            s.sats = static_cast<std::int32_t>(*n);
            s.satsKnown = true;
        }
        s.speed = -1;
        if (speedUsed && !field(cols.speed).empty()) {
            const std::string_view v = field(cols.speed);
            auto n = parseDecimal(number(v));
            if (!n) failHere(notAValidFloat(v) + " (column " + columnName(cols.speed) + ")");
            if (*n >= 0) s.speed = *n * speedFactor;
        }
        s.index = index;
        s.lat = *lat * 60;
        s.lon = *lon * 60;
        s.clock = *clock;
        s.time = static_cast<double>(*clock) / 1000.0;
        s.line = src.lineNumber();
        if (wantChannels) s.channels = channels.sampleValues();
        lastLat = *lat;
        lastLon = *lon;
        lastClock = *clock;
        if (form == Form::Number && timeUnit == TimeUnit::Unknown && firstTimes.size() <= kStepsLookedAt) {
            firstTimes.push_back(*parseDecimal(number(t)));
            if (firstTimes.size() == kStepsLookedAt + 1) checkSteps();
        }
        if (!sink.sample(s)) {
            info.stopped = true;
            break;
        }
        ++info.samples;
        if (!info.firstDay) info.firstDay = dayClock.firstDay();
        if (index == INT32_MAX) failHere("Too many samples in one log");
        ++index;
    }
    if (!settled) settle(std::nullopt);
    if (!info.stopped && firstTimes.size() <= kStepsLookedAt) checkSteps();
    if (form)
        info.timeKind = *form == Form::Iso || *form == Form::ClockWithDate ? CsvTime::DateTime
                        : *form == Form::Clock                             ? CsvTime::Clock
                        : *form == Form::Epoch                             ? CsvTime::Unix
                                                                           : CsvTime::Seconds;
    return info;
}

} // namespace lorvane
