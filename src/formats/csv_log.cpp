#include "formats/csv_log.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <deque>
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

// Metres per second per unit of a speed column, from its name.
double speedFactor(const ColumnName& n) {
    std::string all = n.unit + " " + n.joined + " ";
    auto has = [&](std::string_view what) { return all.find(what) != std::string::npos; };
    if (has("mph") || has("mi/h") || has("miles")) return 0.44704;
    if (has("km/h") || has("kmh") || has("kph") || has("km h") || has("kmph")) return 1 / 3.6;
    if (has("knot") || has("kts") || has(" kt ") || has(" kn ") || all.rfind("kn", 0) == 0 || all.rfind("kt", 0) == 0)
        return 1852.0 / 3600.0;
    return 1.0;
}
bool timeInMilliseconds(const ColumnName& n) {
    std::string all = " " + n.unit + " " + n.joined + " ";
    return all.find(" ms ") != std::string::npos || all.find("millis") != std::string::npos ||
           all.find("msec") != std::string::npos;
}

struct Header {
    CsvColumns cols;
    char sep = ',';
    std::vector<std::string> names;
    double speedFactor = 1;
    bool timeMs = false;
};

std::optional<Header> readHeader(std::string_view line, Splitter& sp) {
    std::optional<Header> best;
    for (char sep : kSeparators) {
        const auto& f = sp.split(line, sep);
        if (f.size() < 2) continue;
        // Names, not values: a "Latitude,45.59" metadata line is no header.
        if (std::any_of(f.begin(), f.end(), [](std::string_view v) { return parseDecimal(v).has_value(); })) continue;
        Header h;
        h.sep = sep;
        int timeBest = 0;
        for (std::size_t i = 0; i < f.size(); ++i) {
            const ColumnName n = nameOf(f[i]);
            const int col = static_cast<int>(i) + 1;
            if (isLatitude(n)) {
                if (!h.cols.lat) h.cols.lat = col;
            } else if (isLongitude(n)) {
                if (!h.cols.lon) h.cols.lon = col;
            } else if (int r = timeRank(n); r > timeBest) {
                timeBest = r;
                h.cols.time = col;
                h.timeMs = timeInMilliseconds(n);
            } else if (isSatellites(n)) {
                if (!h.cols.sats) h.cols.sats = col;
            } else if (isSpeed(n)) {
                if (!h.cols.speed) {
                    h.cols.speed = col;
                    h.speedFactor = speedFactor(n);
                }
            }
        }
        if (!h.cols.lat && !h.cols.lon) continue;
        if (best && best->names.size() >= f.size()) continue;
        for (auto v : f) h.names.emplace_back(v.substr(0, 40));
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
    }
    info.headerLine = src.lineNumber();
    info.separator = header->sep;
    const CsvColumns cols = header->cols;
    {
        std::string missing;
        auto need = [&](int c, const char* name) {
            if (c == 0) missing += missing.empty() ? name : std::string(", ") + name;
        };
        need(cols.time, "time");
        need(cols.lat, "latitude");
        need(cols.lon, "longitude");
        if (expected && (expected->time != cols.time || expected->lat != cols.lat || expected->lon != cols.lon ||
                         expected->sats != cols.sats))
            fail(ErrorKind::Changed, "The log's header line has changed since it was loaded", path, src.lineNumber());
        if (!missing.empty()) {
            std::string list;
            for (const auto& n : header->names) list += (list.empty() ? "\"" : ", \"") + n + "\"";
            failHere("No " + missing + " column in the CSV header line (its columns: " + list + ")");
        }
    }
    info.columns = cols;
    LogLayout layout;
    layout.latColumn = cols.lat;
    layout.longColumn = cols.lon;
    layout.timeColumn = cols.time;
    layout.satColumn = cols.sats;
    layout.ticksPerSecond = 1000;
    sink.layout(layout);

    const std::size_t needFields = static_cast<std::size_t>(
        std::max({cols.time, cols.lat, cols.lon, cols.sats, cols.speed}));
    const bool decimalComma = header->sep != ',';
    std::string scratch;
    auto number = [&](std::string_view f) -> std::string_view {
        if (!decimalComma || f.find(',') == std::string_view::npos) return f;
        scratch.assign(f);
        std::replace(scratch.begin(), scratch.end(), ',', '.');
        return scratch;
    };
    auto columnName = [&](int c) { return "\"" + header->names[static_cast<std::size_t>(c) - 1] + "\""; };

    std::optional<CsvTime> timeKind;
    DayClock dayClock;
    Sample s;
    std::int32_t index = 0;
    while (src.next(line)) {
        if (trimBlanks(line).empty()) continue;
        const auto& f = sp.split(line, header->sep, needFields);
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
        const std::string_view t = field(cols.time), la = field(cols.lat), lo = field(cols.lon);
        if (t.empty() || la.empty() || lo.empty()) {
            ++info.rowsWithoutPosition;
            continue;
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
        if (!timeKind || *timeKind == CsvTime::DateTime) {
            if (auto dt = parseIsoDateTime(t)) {
                timeKind = CsvTime::DateTime;
                clock = dayClock.clock(dt->ms, dt->day);
            }
        }
        if (!clock && (!timeKind || *timeKind == CsvTime::Clock)) {
            if (auto ms = parseClockTime(t)) {
                timeKind = CsvTime::Clock;
                clock = dayClock.clock(*ms, std::nullopt);
            }
        }
        if (!clock && (!timeKind || *timeKind == CsvTime::Seconds)) {
            if (auto v = parseDecimal(number(t))) {
                const double ms = header->timeMs ? *v : *v * 1000;
                if (std::fabs(ms) < 9e15) {
                    timeKind = CsvTime::Seconds;
                    clock = std::llround(ms);
                }
            }
        }
        if (!clock) {
            const char* form = !timeKind                       ? "seconds, hh:mm:ss[.fff] or an ISO 8601 date and time"
                               : *timeKind == CsvTime::Seconds ? "a number of seconds"
                               : *timeKind == CsvTime::Clock   ? "hh:mm:ss[.fff], as in the rows before"
                                                               : "an ISO 8601 date and time, as in the rows before";
            std::string q = notAValidFloat(t);
            failHere(q.substr(0, q.rfind('\'') + 1) + " is not a valid time (" + form + ")");
        }

        s.satsKnown = false;
        s.sats = kSatsUnknown;
        if (cols.sats && !field(cols.sats).empty()) {
            const std::string_view v = field(cols.sats);
            auto n = parseDecimal(number(v));
            if (!n || *n < 0 || *n > 1e6 || *n != std::floor(*n))
                failHere(notAValidInteger(v) + " (column " + columnName(cols.sats) + ")");
            s.sats = static_cast<std::int32_t>(*n);
            s.satsKnown = true;
        }
        s.speed = -1;
        if (cols.speed && !field(cols.speed).empty()) {
            const std::string_view v = field(cols.speed);
            auto n = parseDecimal(number(v));
            if (!n) failHere(notAValidFloat(v) + " (column " + columnName(cols.speed) + ")");
            if (*n >= 0) s.speed = *n * header->speedFactor;
        }
        s.index = index;
        s.lat = *lat * 60;
        s.lon = *lon * 60;
        s.clock = *clock;
        s.time = static_cast<double>(*clock) / 1000.0;
        s.line = src.lineNumber();
        if (!sink.sample(s)) {
            info.stopped = true;
            break;
        }
        ++info.samples;
        if (index == INT32_MAX) failHere("Too many samples in one log");
        ++index;
    }
    if (timeKind) info.timeKind = *timeKind;
    return info;
}

} // namespace lorvane
