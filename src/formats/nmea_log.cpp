#include "formats/nmea_log.h"

#include <array>
#include <cmath>
#include <cstring>
#include <limits>
#include <optional>
#include <vector>

#include "formats/held_samples.h"
#include "formats/line_source.h"
#include "formats/log_time.h"
#include "formats/numbers.h"
#include "formats/text_log.h"

namespace lorvane {

namespace {

constexpr double kMetresPerSecondPerKnot = 1852.0 / 3600.0;
constexpr std::size_t kMaxFields = 24;
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// The channels a fix carries, in the order of LogLayout::channels: speed and
// course from RMC, the rest from GGA, each as the sentence writes it.
enum Channel : std::size_t { kSpeed, kCourse, kAltitude, kHdop, kSatellites, kChannels };
using ChannelValues = std::array<double, kChannels>;
constexpr ChannelValues kNoValues = {kNaN, kNaN, kNaN, kNaN, kNaN};

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

// XOR of the bytes [p, end), eight at a time.
unsigned xorOf(const char* p, const char* end) {
    std::uint64_t wide = 0;
    for (; end - p >= 8; p += 8) {
        std::uint64_t w;
        std::memcpy(&w, p, 8);
        wide ^= w;
    }
    unsigned x = 0;
    for (; p < end; ++p) x ^= static_cast<unsigned char>(*p);
    for (int i = 0; i < 8; ++i) x ^= static_cast<unsigned>(wide >> (8 * i)) & 0xff;
    return x;
}

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

// digits[.digits], no sign: the nearest double, as parseDecimal gives it. Up
// to 15 digits the digits as an integer and the power of ten are both exact
// doubles, and one correctly rounded division gives the nearest double to
// their quotient; longer numbers go to parseDecimal.
std::optional<double> unsignedDecimal(std::string_view f) {
    static constexpr double kPow10[] = {1e0, 1e1, 1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                        1e8, 1e9, 1e10, 1e11, 1e12, 1e13, 1e14, 1e15};
    std::uint64_t m = 0;
    int digits = 0, fraction = 0;
    bool point = false;
    for (char c : f) {
        if (isDigit(c)) {
            m = m * 10 + static_cast<unsigned>(c - '0');
            ++digits;
            fraction += point;
            if (digits > 15) return parseDecimal(f);
        } else if (c == '.' && !point) {
            point = true;
        } else {
            return std::nullopt;
        }
    }
    if (digits == 0) return std::nullopt;
    return static_cast<double>(m) / kPow10[fraction];
}

// "hhmmss[.sss]": milliseconds since midnight.
std::optional<std::int64_t> parseFixTime(std::string_view f) {
    if (f.size() < 6) return std::nullopt;
    for (int i = 0; i < 6; ++i)
        if (!isDigit(f[i])) return std::nullopt;
    const int h = (f[0] - '0') * 10 + (f[1] - '0');
    const int m = (f[2] - '0') * 10 + (f[3] - '0');
    const int s = (f[4] - '0') * 10 + (f[5] - '0');
    if (h > 23 || m > 59 || s > 60) return std::nullopt;
    int frac = 0;
    if (f.size() > 6) {
        if (f[6] != '.') return std::nullopt;
        auto ms = fractionMs(f.substr(7));
        if (!ms) return std::nullopt;
        frac = *ms;
    }
    return (static_cast<std::int64_t>(h) * 3600 + m * 60 + s) * 1000 + frac;
}

// "ddmm.mmmm" (latitude) or "dddmm.mmmm" (longitude) with its hemisphere:
// minutes of arc, north and east positive.
bool parseAngle(std::string_view f, std::string_view hemi, int maxDegrees, char positive, char negative,
                double& minutes) {
    if (hemi.size() != 1 || (hemi[0] != positive && hemi[0] != negative)) return false;
    std::size_t dot = f.find('.');
    if (dot == std::string_view::npos) dot = f.size();
    if (dot < 2 || dot > 5) return false;
    for (std::size_t i = 0; i < f.size(); ++i)
        if (i != dot && !isDigit(f[i])) return false;
    int degrees = 0;
    for (std::size_t i = 0; i + 2 < dot; ++i) degrees = degrees * 10 + (f[i] - '0');
    auto mm = unsignedDecimal(f.substr(dot - 2));
    if (!mm || *mm >= 60) return false;
    const double v = degrees * 60.0 + *mm;
    if (v > maxDegrees * 60.0) return false;
    minutes = hemi[0] == negative ? -v : v;
    return true;
}

// "ddmmyy": days since 1970. Two-digit years from 80 are 19xx, the others 20xx.
std::optional<std::int64_t> parseFixDate(std::string_view f) {
    if (f.size() != 6) return std::nullopt;
    for (char c : f)
        if (!isDigit(c)) return std::nullopt;
    const int d = (f[0] - '0') * 10 + (f[1] - '0');
    const int m = (f[2] - '0') * 10 + (f[3] - '0');
    int y = (f[4] - '0') * 10 + (f[5] - '0');
    y += y >= 80 ? 1900 : 2000;
    if (!validDate(y, m, d)) return std::nullopt;
    return daysFromCivil(y, m, d);
}

std::optional<int> smallCount(std::string_view f) {
    if (f.empty() || f.size() > 3) return std::nullopt;
    int v = 0;
    for (char c : f) {
        if (!isDigit(c)) return std::nullopt;
        v = v * 10 + (c - '0');
    }
    return v;
}

// One sentence's fields after the address.
struct Fields {
    std::array<std::string_view, kMaxFields> f;
    std::size_t n = 0;
    std::string_view operator[](std::size_t i) const { return i < n ? f[i] : std::string_view(); }
};

// What one RMC or GGA sentence says.
struct Reading {
    bool timed = false; // has a time that reads
    std::int64_t ms = 0;
    bool fix = false;
    double lat = 0, lon = 0;
    std::optional<std::int64_t> day;
    int sats = -1;
    double speed = -1;
    ChannelValues channels = kNoValues; // filled only when channels are wanted
};

// A channel field that does not read leaves the channel without a value; it
// never drops the sentence, whose position the laps need.
double channelValue(std::string_view f) {
    if (f.empty()) return kNaN;
    auto v = parseDecimal(f);
    return v && std::isfinite(*v) ? *v : kNaN;
}

enum class Verdict { Ok, Damaged };

Verdict readRmc(const Fields& fl, Reading& r, bool channels) {
    if (fl.n < 9) return Verdict::Damaged;
    if (fl[1] == "V") {
        r.fix = false;
    } else if (fl[1] == "A") {
        r.fix = fl.n < 12 || fl[11] != "N"; // mode indicator N: data not valid
    } else {
        return Verdict::Damaged;
    }
    if (auto t = parseFixTime(fl[0])) {
        r.timed = true;
        r.ms = *t;
    } else if (r.fix || !fl[0].empty()) {
        return Verdict::Damaged;
    }
    if (!r.fix) return Verdict::Ok;
    if (!parseAngle(fl[2], fl[3], 90, 'N', 'S', r.lat) || !parseAngle(fl[4], fl[5], 180, 'E', 'W', r.lon))
        return Verdict::Damaged;
    if (!fl[6].empty()) {
        auto v = unsignedDecimal(fl[6]);
        if (!v) return Verdict::Damaged;
        r.speed = *v * kMetresPerSecondPerKnot;
        if (channels) r.channels[kSpeed] = *v;
    }
    if (channels) r.channels[kCourse] = channelValue(fl[7]);
    if (!fl[8].empty()) {
        r.day = parseFixDate(fl[8]);
        if (!r.day) return Verdict::Damaged;
    }
    return Verdict::Ok;
}

Verdict readGga(const Fields& fl, Reading& r, bool channels) {
    if (fl.n < 7) return Verdict::Damaged;
    auto quality = smallCount(fl[5]);
    if (!quality) return Verdict::Damaged;
    r.fix = *quality != 0;
    if (auto t = parseFixTime(fl[0])) {
        r.timed = true;
        r.ms = *t;
    } else if (r.fix || !fl[0].empty()) {
        return Verdict::Damaged;
    }
    if (!fl[6].empty()) {
        auto s = smallCount(fl[6]);
        if (!s) return Verdict::Damaged;
        r.sats = *s;
    }
    if (!r.fix) return Verdict::Ok;
    if (!parseAngle(fl[1], fl[2], 90, 'N', 'S', r.lat) || !parseAngle(fl[3], fl[4], 180, 'E', 'W', r.lon))
        return Verdict::Damaged;
    if (channels) {
        r.channels[kHdop] = channelValue(fl[7]);
        // Altitude above mean sea level, in the unit of the next field (metres).
        if (fl[9].empty() || fl[9] == "M") r.channels[kAltitude] = channelValue(fl[8]);
    }
    return Verdict::Ok;
}

class NmeaReader {
public:
    NmeaReader(ByteSource& source, SampleSink& sink)
        : path_(source.name()), src_(source, sink, kMaxTextLine), sink_(sink), wantChannels_(sink.wantsChannels()) {}

    NmeaLogInfo run() {
        // With channels wanted, the layout waits until the first fixes have
        // told which sentences, and so which channels, the log carries.
        if (!wantChannels_) announce();
        std::string_view line;
        try {
            while (!info_.stopped && src_.next(line)) readLine(line);
        } catch (const LoadError& e) {
            // A line too long to read ends the log there: the fix before it is whole.
            if (e.diagnostic().kind == ErrorKind::Syntax && !info_.stopped) flush();
            release();
            throw;
        }
        if (!info_.stopped) flush();
        release();
        if (info_.sentences == 0) {
            std::string msg = "Not an NMEA 0183 log with fixes: no $..RMC or $..GGA sentence in it";
            if (info_.otherSentences == 0 && info_.badChecksums + info_.damaged == 0)
                msg = "Not an NMEA 0183 log: no line holds a \"$\" sentence";
            else if (info_.badChecksums + info_.damaged > 0)
                msg += " (" + std::to_string(info_.badChecksums + info_.damaged) +
                       " damaged sentences dropped, the first at line " + std::to_string(info_.firstDroppedLine) + ")";
            fail(ErrorKind::Syntax, msg, path_);
        }
        return info_;
    }

private:
    // Hands the layout on, once. The channels are those of the sentence
    // types met so far: speed and course with RMC, altitude, HDOP and
    // satellites with GGA.
    void announce() {
        if (announced_) return;
        announced_ = true;
        LogLayout layout;
        layout.ticksPerSecond = 1000;
        if (wantChannels_) {
            static const ChannelInfo kInfo[kChannels] = {
                {"Speed", "kn"}, {"Course", "deg"}, {"Altitude", "m"}, {"HDOP", ""}, {"Satellites", ""}};
            for (std::size_t c = 0; c < kChannels; ++c) {
                if ((c <= kCourse ? sawRmc_ : sawGga_)) {
                    slot_[c] = static_cast<int>(layout.channels.size());
                    layout.channels.push_back(kInfo[c]);
                }
            }
            values_.assign(layout.channels.size(), kNaN);
        }
        sink_.layout(layout);
    }

    void dropped(std::int64_t& counter) {
        ++counter;
        if (info_.firstDroppedLine == 0) info_.firstDroppedLine = src_.lineNumber();
    }

    void readLine(std::string_view line) {
        const char* p = line.data();
        const char* end = p + line.size();
        const char* dollar = static_cast<const char*>(std::memchr(p, '$', line.size()));
        if (!dollar) {
            for (; p < end; ++p)
                if (*p != ' ' && *p != '\t') {
                    dropped(info_.otherLines);
                    return;
                }
            return;
        }
        // Usually one sentence a line; a line that lost its end to the next
        // sentence holds two.
        while (dollar && !info_.stopped) {
            const char* next = static_cast<const char*>(
                std::memchr(dollar + 1, '$', static_cast<std::size_t>(end - dollar - 1)));
            const char* stop = next ? next : end;
            readSentence(dollar + 1, stop);
            dollar = next;
        }
    }

    // The text after a '$', up to the next '$' or the end of the line.
    void readSentence(const char* p, const char* end) {
        while (end > p && (end[-1] == ' ' || end[-1] == '\t')) --end;
        // The body ends at the '*' of the checksum, nearly always 3 bytes from the end.
        const char* star = end - p >= 3 && end[-3] == '*'
                               ? end - 3
                               : static_cast<const char*>(std::memchr(p, '*', static_cast<std::size_t>(end - p)));
        if (!star) star = end;
        if (star < end) {
            if (end - star != 3 || hexDigit(star[1]) < 0 || hexDigit(star[2]) < 0) {
                dropped(info_.damaged);
                return;
            }
            checksummed_ = true;
            if (static_cast<unsigned>(hexDigit(star[1]) * 16 + hexDigit(star[2])) != xorOf(p, star)) {
                dropped(info_.badChecksums);
                return;
            }
        } else if (checksummed_) {
            dropped(info_.damaged); // cut short: the log's sentences carry checksums
            return;
        }

        const char* addrEnd = static_cast<const char*>(std::memchr(p, ',', static_cast<std::size_t>(star - p)));
        if (!addrEnd) addrEnd = star;
        const std::string_view addr(p, static_cast<std::size_t>(addrEnd - p));
        bool name = !addr.empty() && addr.size() <= 16;
        for (char c : addr)
            if (!((c >= 'A' && c <= 'Z') || isDigit(c))) name = false;
        if (!name) {
            dropped(info_.otherLines);
            return;
        }
        const bool talker = addr.size() == 5 && addr[0] >= 'A' && addr[0] <= 'Z' && addr[1] >= 'A' && addr[1] <= 'Z';
        const std::string_view type = addr.size() >= 3 ? addr.substr(addr.size() - 3) : addr;
        const bool rmc = talker && type == "RMC", gga = talker && type == "GGA";
        if (!rmc && !gga) {
            ++info_.otherSentences;
            return;
        }
        Fields fl;
        if (addrEnd < star) {
            const char* fieldStart = addrEnd + 1;
            for (const char* q = fieldStart;; ++q) {
                if (q == star || *q == ',') {
                    fl.f[fl.n++] = std::string_view(fieldStart, static_cast<std::size_t>(q - fieldStart));
                    if (q == star || fl.n == kMaxFields) break;
                    fieldStart = q + 1;
                }
            }
        }
        Reading r;
        const Verdict v = rmc ? readRmc(fl, r, wantChannels_) : readGga(fl, r, wantChannels_);
        if (v == Verdict::Damaged) {
            dropped(info_.damaged);
            return;
        }
        ++info_.sentences;
        if (!announced_) (rmc ? sawRmc_ : sawGga_) = true;
        if (!r.timed) return; // a receiver without a fix and without a time yet
        if (!fix_.open || fix_.ms != r.ms) {
            flush();
            fix_ = Fix{};
            fix_.open = true;
            fix_.ms = r.ms;
        }
        if (r.fix) {
            if (!fix_.hasFix) {
                fix_.hasFix = true;
                fix_.lat = r.lat;
                fix_.lon = r.lon;
                fix_.line = src_.lineNumber();
            }
            if (r.day && !fix_.day) fix_.day = r.day;
            if (r.speed >= 0 && fix_.speed < 0) fix_.speed = r.speed;
            if (wantChannels_)
                for (std::size_t c = 0; c < kChannels; ++c)
                    if (std::isnan(fix_.channels[c])) fix_.channels[c] = r.channels[c];
        }
        if (gga && r.sats >= 0 && fix_.sats < 0) {
            fix_.sats = r.sats;
            info_.satellites = true;
        }
    }

    // Hands on the layout and the fixes held back for it.
    void release() {
        announce();
        if (!info_.stopped && !held_.release([this](const Sample& s, const ChannelValues& v) { return deliver(s, v); }))
            info_.stopped = true;
    }

    void flush() {
        if (!fix_.open) return;
        fix_.open = false;
        if (!fix_.hasFix) {
            ++info_.noFix;
            return;
        }
        Sample s;
        s.index = index_ + static_cast<std::int32_t>(held_.size());
        s.lat = fix_.lat;
        s.lon = fix_.lon;
        s.satsKnown = fix_.sats >= 0;
        s.sats = s.satsKnown ? fix_.sats : kSatsUnknown;
        s.clock = clock_.clock(fix_.ms, fix_.day);
        s.time = static_cast<double>(s.clock) / 1000.0;
        s.speed = fix_.speed;
        s.line = fix_.line;
        if (wantChannels_) {
            fix_.channels[kSatellites] = fix_.sats >= 0 ? fix_.sats : kNaN;
            if (held_.holding()) {
                held_.hold(s, fix_.channels);
                if (held_.full()) release();
                return;
            }
        }
        deliver(s, fix_.channels);
    }

    // Hands a sample to the sink; false when the sink says stop.
    bool deliver(Sample s, const ChannelValues& values) {
        if (wantChannels_) {
            for (std::size_t c = 0; c < kChannels; ++c)
                if (slot_[c] >= 0) values_[static_cast<std::size_t>(slot_[c])] = values[c];
            s.channels = values_;
        }
        if (!sink_.sample(s)) {
            info_.stopped = true;
            return false;
        }
        ++info_.samples;
        if (!info_.firstDay) info_.firstDay = clock_.firstDay();
        if (index_ == INT32_MAX) fail(ErrorKind::Invalid, "Too many samples in one log", path_, s.line);
        ++index_;
        return true;
    }

    struct Fix {
        bool open = false;
        std::int64_t ms = 0;
        bool hasFix = false;
        double lat = 0, lon = 0;
        std::int64_t line = 0;
        std::optional<std::int64_t> day;
        int sats = -1;
        double speed = -1;
        ChannelValues channels = kNoValues;
    };

    const std::string& path_;
    LineSource src_;
    SampleSink& sink_;
    NmeaLogInfo info_;
    Fix fix_;
    DayClock clock_;
    bool checksummed_ = false;
    std::int32_t index_ = 0;
    const bool wantChannels_;
    bool announced_ = false;
    bool sawRmc_ = false, sawGga_ = false;
    std::array<int, kChannels> slot_ = {-1, -1, -1, -1, -1}; // index in values_, -1 when not announced
    std::vector<double> values_;
    HeldSamples<kChannels> held_;
};

} // namespace

NmeaLogInfo readNmeaLog(const std::string& path, SampleSink& sink) {
    FileSource file(path);
    return readNmeaLog(file, sink);
}

NmeaLogInfo readNmeaLog(ByteSource& source, SampleSink& sink) {
    return NmeaReader(source, sink).run();
}

} // namespace lorvane
