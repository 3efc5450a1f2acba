#include "formats/fit_log.h"

#include <array>
#include <cmath>
#include <cstring>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "formats/log_time.h"

namespace lorvane {

namespace {

constexpr std::uint16_t kFileId = 0;
constexpr std::uint16_t kRecord = 20;
constexpr int kTimestampField = 253;
// 1989-12-31 00:00 UTC, the origin of FIT times, in days since 1970-01-01.
constexpr std::int64_t kFitEpochDay = 7304;
constexpr double kDegreesPerSemicircle = 180.0 / 2147483648.0;
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// The record fields kept as channels, with their scale and offset from
// Garmin's profile: value = raw / scale - offset. The enhanced fields (wider,
// same scale) stand for the plain ones when a record has both.
enum Channel : std::size_t { kSpeed, kAltitude, kDistance, kHeartRate, kCadence, kPower, kTemperature, kChannels };
const ChannelInfo kChannelInfo[kChannels] = {
    {"Speed", "m/s"},   {"Altitude", "m"}, {"Distance", "m"},     {"Heart rate", "bpm"},
    {"Cadence", "rpm"}, {"Power", "W"},    {"Temperature", "°C"},
};
struct ChannelField {
    std::uint8_t number;
    Channel channel;
    int size; // bytes of the profile's type
    bool isSigned;
    double scale, offset;
    bool enhanced;
};
constexpr ChannelField kChannelFields[] = {
    {6, kSpeed, 2, false, 1000, 0, false},    {73, kSpeed, 4, false, 1000, 0, true},
    {2, kAltitude, 2, false, 5, 500, false},  {78, kAltitude, 4, false, 5, 500, true},
    {5, kDistance, 4, false, 100, 0, false},  {3, kHeartRate, 1, false, 1, 0, false},
    {4, kCadence, 1, false, 1, 0, false},     {7, kPower, 2, false, 1, 0, false},
    {13, kTemperature, 1, true, 1, 0, false},
};
const ChannelField* channelField(std::uint8_t number) {
    for (const ChannelField& f : kChannelFields)
        if (f.number == number) return &f;
    return nullptr;
}

// Garmin's CRC-16, folded in a nibble at a time.
std::uint16_t crc16(std::uint16_t crc, const std::uint8_t* p, std::size_t n) {
    static constexpr std::array<std::uint16_t, 16> kTable = {0x0000, 0xCC01, 0xD801, 0x1400, 0xF001, 0x3C00,
                                                             0x2800, 0xE401, 0xA001, 0x6C00, 0x7800, 0xB401,
                                                             0x5000, 0x9C01, 0x8801, 0x4400};
    for (std::size_t i = 0; i < n; ++i) {
        const unsigned b = p[i];
        unsigned t = kTable[crc & 0xF];
        crc = static_cast<std::uint16_t>(((crc >> 4) & 0x0FFF) ^ t ^ kTable[b & 0xF]);
        t = kTable[crc & 0xF];
        crc = static_cast<std::uint16_t>(((crc >> 4) & 0x0FFF) ^ t ^ kTable[(b >> 4) & 0xF]);
    }
    return crc;
}

std::uint64_t readUnsigned(const std::uint8_t* p, int size, bool bigEndian) {
    std::uint64_t v = 0;
    for (int i = 0; i < size; ++i) v |= std::uint64_t{p[bigEndian ? size - 1 - i : i]} << (8 * i);
    return v;
}

// The value that marks a field as not set, for each base type (low five bits
// of the base type byte); nullopt for the ones without (strings, bytes).
std::optional<std::uint64_t> invalidValue(std::uint8_t baseType) {
    switch (baseType & 0x1F) {
    case 0x00: return 0xFF;                  // enum
    case 0x01: return 0x7F;                  // sint8
    case 0x02: return 0xFF;                  // uint8
    case 0x03: return 0x7FFF;                // sint16
    case 0x04: return 0xFFFF;                // uint16
    case 0x05: return 0x7FFFFFFF;            // sint32
    case 0x06: return 0xFFFFFFFF;            // uint32
    case 0x08: return 0xFFFFFFFF;            // float32
    case 0x09: return 0xFFFFFFFFFFFFFFFFull; // float64
    case 0x0A: return 0;                     // uint8z
    case 0x0B: return 0;                     // uint16z
    case 0x0C: return 0;                     // uint32z
    case 0x0E: return 0x7FFFFFFFFFFFFFFFull; // sint64
    case 0x0F: return 0xFFFFFFFFFFFFFFFFull; // uint64
    case 0x10: return 0;                     // uint64z
    default: return std::nullopt;            // string, byte
    }
}

struct Field {
    std::uint8_t number = 0, size = 0, baseType = 0;
    std::uint32_t at = 0; // offset in the message's content
};

struct Definition {
    bool defined = false;
    bool bigEndian = false;
    std::uint16_t global = 0;
    std::uint32_t size = 0; // content bytes of a data message, developer fields included
    std::vector<Field> fields;
};

const char* manufacturerName(std::uint64_t id) {
    switch (id) {
    case 1: return "Garmin";
    case 13: return "Dynastream OEM";
    case 15: return "Dynastream";
    case 23: return "Suunto";
    case 32: return "Wahoo Fitness";
    case 255: return "development";
    case 260: return "Zwift";
    case 265: return "Strava";
    case 267: return "Bryton";
    case 294: return "Coros";
    default: return nullptr;
    }
}

class FitReader {
public:
    FitReader(ByteSource& source, SampleSink& sink)
        : source_(source), sink_(sink), buf_(source, sink), wantChannels_(sink.wantsChannels()) {}

    FitLogInfo run() {
        if (!need(12) || !looksLikeFit(std::string_view(reinterpret_cast<const char*>(peek()), buf_.available())))
            fail(ErrorKind::Syntax, "Not a FIT file: no FIT header (\".FIT\" at bytes 8 to 11)", source_.name(), 0, 0);
        // With channels wanted, the layout waits for the first record that
        // gives a sample: the record definitions before it name the channels.
        if (!wantChannels_) announce();
        bool allCrcs = true;
        // One pass per file of a chain; each ends at its CRC.
        for (;;) {
            bool crcOk = false;
            if (!readFile(crcOk)) {
                allCrcs = false;
                break;
            }
            allCrcs = allCrcs && crcOk;
            if (!need(1)) break;
            if (!need(12) || !looksLikeFit(std::string_view(reinterpret_cast<const char*>(peek()), buf_.available()))) {
                damage(offset(), "bytes after the file's CRC that are not a FIT file");
                break;
            }
        }
        info_.crcChecked = allCrcs && info_.damage.empty();
        announce();
        return std::move(info_);
    }

private:
    void announce() {
        if (announced_) return;
        announced_ = true;
        LogLayout layout;
        layout.ticksPerSecond = 1000;
        if (wantChannels_) {
            for (std::size_t c = 0; c < kChannels; ++c) {
                if (!defined_[c]) continue;
                slot_[c] = static_cast<int>(layout.channels.size());
                layout.channels.push_back(kChannelInfo[c]);
            }
            values_.assign(layout.channels.size(), kNaN);
        }
        sink_.layout(layout);
    }

    // Makes sure n bytes are in the buffer; false when the file ends first.
    bool need(std::size_t n) {
        while (buf_.available() < n)
            if (!buf_.fill()) return buf_.available() >= n;
        return true;
    }
    const std::uint8_t* peek() const { return reinterpret_cast<const std::uint8_t*>(buf_.data() + buf_.begin()); }
    std::int64_t offset() const { return static_cast<std::int64_t>(buf_.offset()); }
    void take(std::size_t n) {
        crc_ = crc16(crc_, peek(), n);
        buf_.consume(n);
    }

    // Notes the damage that ended the read. A header CRC that did not match
    // (`readOn`: the read went on) is kept as a second note after it.
    void damage(std::int64_t at, std::string what, bool readOn = false) {
        if (!info_.damage.empty() && !readOnDamage_) return;
        std::string note = "Byte " + std::to_string(at) + ": " + std::move(what);
        if (!info_.damage.empty()) note += "; before it, " + info_.damage;
        info_.damage = std::move(note);
        info_.damageOffset = at;
        readOnDamage_ = readOn;
    }

    // Reads one file of the chain from its header to its CRC. Returns false
    // when the read ends early (damage, or the sink said stop); `crcOk` says
    // whether the file's CRC matched.
    bool readFile(bool& crcOk) {
        const std::int64_t start = offset();
        crc_ = 0;
        const std::size_t headerSize = peek()[0];
        if (!need(headerSize)) {
            damage(start, "the file ends inside its header");
            return false;
        }
        const std::uint32_t dataSize = static_cast<std::uint32_t>(readUnsigned(peek() + 4, 4, false));
        if (headerSize == 14) {
            // A header CRC of 0 is allowed: the writer did not compute one.
            const auto headerCrc = static_cast<std::uint16_t>(readUnsigned(peek() + 12, 2, false));
            if (headerCrc != 0 && headerCrc != crc16(0, peek(), 12))
                damage(start + 12, "the header's CRC does not match (the messages are read all the same)", true);
        }
        take(headerSize);
        for (auto& d : defs_) d = Definition{};
        haveTimestamp_ = false;
        std::int64_t dataEnd = start + static_cast<std::int64_t>(headerSize) + dataSize;
        if (dataSize == 0) {
            // Left by a device that did not close the file: the data runs to
            // the CRC at the end, or to the end of what there is.
            const auto total = static_cast<std::int64_t>(source_.size());
            dataEnd = total >= offset() + 2 ? total - 2 : INT64_MAX;
        }
        while (offset() < dataEnd) {
            const std::int64_t at = offset();
            if (!need(1)) {
                damage(at, "the file ends before its data does (is it cut short?)");
                return false;
            }
            if (!readMessage(at, dataEnd)) return false;
        }
        const std::int64_t at = offset();
        if (!need(2)) {
            damage(at, "the file ends before its CRC (is it cut short?)");
            return false;
        }
        const auto fileCrc = static_cast<std::uint16_t>(readUnsigned(peek(), 2, false));
        const std::uint16_t computed = crc_;
        take(2);
        if (fileCrc != computed) {
            damage(at, "the file's CRC does not match its content (it may be damaged)");
            return false;
        }
        crcOk = true;
        return true;
    }

    // Reads the message at `at`; false when the read ends there.
    bool readMessage(std::int64_t at, std::int64_t dataEnd) {
        const std::uint8_t h = peek()[0];
        auto fits = [&](std::size_t n) {
            if (at + static_cast<std::int64_t>(n) > dataEnd) {
                damage(at, "a message that runs past the end of the data");
                return false;
            }
            if (!need(n)) {
                damage(at, "the file ends inside a message (is it cut short?)");
                return false;
            }
            return true;
        };
        if (!(h & 0x80) && (h & 0x40)) {
            // Definition: header, reserved, architecture, global number (2), field count.
            if (!fits(6)) return false;
            const std::uint8_t arch = peek()[2];
            if (arch > 1) {
                damage(at, "a definition with an unknown architecture " + std::to_string(arch));
                return false;
            }
            const std::size_t count = peek()[5];
            const bool developer = h & 0x20;
            std::size_t size = 6 + 3 * count + (developer ? 1 : 0);
            if (!fits(size)) return false;
            std::size_t devCount = 0;
            if (developer) {
                devCount = peek()[size - 1];
                size += 3 * devCount;
                if (!fits(size)) return false;
            }
            const std::uint8_t* p = peek();
            Definition& d = defs_[h & 0x0F];
            d.defined = true;
            d.bigEndian = arch == 1;
            d.global = static_cast<std::uint16_t>(readUnsigned(p + 3, 2, d.bigEndian));
            d.fields.clear();
            std::uint32_t content = 0;
            for (std::size_t i = 0; i < count; ++i) {
                const std::uint8_t* f = p + 6 + 3 * i;
                d.fields.push_back(Field{f[0], f[1], f[2], content});
                content += f[1];
                if (wantChannels_ && !announced_ && d.global == kRecord)
                    if (const ChannelField* cf = channelField(f[0]); cf && f[1] >= cf->size)
                        defined_[cf->channel] = true;
            }
            for (std::size_t i = 0; i < devCount; ++i) content += p[6 + 3 * count + 1 + 3 * i + 1];
            d.size = content;
            take(size);
            return true;
        }
        const bool compressed = h & 0x80;
        const int local = compressed ? (h >> 5) & 0x03 : h & 0x0F;
        const Definition& d = defs_[local];
        if (!d.defined) {
            damage(at, "a data message of local type " + std::to_string(local) + ", which no definition precedes");
            return false;
        }
        const std::size_t size = 1 + std::size_t{d.size};
        if (!fits(size)) return false;
        if (compressed) {
            const std::uint32_t off = h & 0x1F;
            if (haveTimestamp_) {
                std::uint32_t t = (timestamp_ & ~std::uint32_t{0x1F}) + off;
                if (off < (timestamp_ & 0x1F)) t += 0x20;
                timestamp_ = t;
            }
        }
        ++info_.messages;
        const bool ok = dataMessage(d, peek() + 1, at);
        take(size);
        return ok;
    }

    // Takes what is wanted from a data message's content.
    bool dataMessage(const Definition& d, const std::uint8_t* p, std::int64_t at) {
        std::optional<std::uint64_t> lat, lon, speed, enhancedSpeed, manufacturer, product;
        const bool channels = wantChannels_ && d.global == kRecord;
        if (channels) {
            channels_.fill(kNaN);
            enhanced_.fill(false);
        }
        for (const Field& f : d.fields) {
            auto value = [&](int size) -> std::optional<std::uint64_t> {
                if (f.size < size) return std::nullopt;
                const std::uint64_t v = readUnsigned(p + f.at, size, d.bigEndian);
                const auto invalid = invalidValue(f.baseType);
                const std::uint64_t all = size == 8 ? ~std::uint64_t{0} : (std::uint64_t{1} << (8 * size)) - 1;
                if (invalid && (*invalid & all) == v) return std::nullopt;
                return v;
            };
            if (f.number == kTimestampField) {
                if (auto t = value(4)) {
                    timestamp_ = static_cast<std::uint32_t>(*t);
                    haveTimestamp_ = true;
                }
                continue;
            }
            if (channels) {
                if (const ChannelField* cf = channelField(f.number); cf && (cf->enhanced || !enhanced_[cf->channel])) {
                    if (auto raw = value(cf->size)) {
                        double v = cf->isSigned ? static_cast<double>(static_cast<std::int8_t>(*raw))
                                                : static_cast<double>(*raw);
                        // One rounding: -88 / 5 is the double nearest -17.6.
                        channels_[cf->channel] = (v - cf->offset * cf->scale) / cf->scale;
                        enhanced_[cf->channel] = cf->enhanced;
                    }
                }
            }
            if (d.global == kRecord) {
                switch (f.number) {
                case 0: lat = value(4); break;
                case 1: lon = value(4); break;
                case 6: speed = value(2); break;
                case 73: enhancedSpeed = value(4); break;
                default: break;
                }
            } else if (d.global == kFileId) {
                if (f.number == 1) manufacturer = value(2);
                if (f.number == 2) product = value(2);
            }
        }
        if (d.global == kFileId && info_.device.empty() && manufacturer) {
            const char* name = manufacturerName(*manufacturer);
            info_.device = name ? name : "manufacturer " + std::to_string(*manufacturer);
            if (product) info_.device += ", product " + std::to_string(*product);
        }
        if (d.global != kRecord) return true;
        ++info_.records;
        const double latDeg = lat ? static_cast<std::int32_t>(static_cast<std::uint32_t>(*lat)) * kDegreesPerSemicircle
                                  : 0;
        const double lonDeg = lon ? static_cast<std::int32_t>(static_cast<std::uint32_t>(*lon)) * kDegreesPerSemicircle
                                  : 0;
        if (!lat || !lon || latDeg < -90 || latDeg > 90 || lonDeg < -180 || lonDeg >= 180) {
            ++info_.recordsWithoutPosition;
            return true;
        }
        if (!haveTimestamp_) return true;
        const std::int64_t unixDay = kFitEpochDay + timestamp_ / 86400;
        const std::int64_t msOfDay = static_cast<std::int64_t>(timestamp_ % 86400) * 1000;
        Sample s;
        s.index = index_;
        s.lat = latDeg * 60;
        s.lon = lonDeg * 60;
        s.satsKnown = false;
        s.sats = kSatsUnknown;
        s.clock = clock_.clock(msOfDay, unixDay);
        s.time = static_cast<double>(s.clock) / 1000.0;
        if (enhancedSpeed)
            s.speed = static_cast<double>(*enhancedSpeed) / 1000.0;
        else if (speed)
            s.speed = static_cast<double>(*speed) / 1000.0;
        s.offset = at;
        if (wantChannels_) {
            announce();
            for (std::size_t c = 0; c < kChannels; ++c)
                if (slot_[c] >= 0) values_[static_cast<std::size_t>(slot_[c])] = channels_[c];
            s.channels = values_;
        }
        if (!sink_.sample(s)) {
            info_.stopped = true;
            return false;
        }
        ++info_.samples;
        if (!info_.firstDay) info_.firstDay = clock_.firstDay();
        if (index_ == INT32_MAX) fail(ErrorKind::Invalid, "Too many samples in one log", source_.name(), 0, at);
        ++index_;
        return true;
    }

    ByteSource& source_;
    SampleSink& sink_;
    BlockBuffer buf_;
    FitLogInfo info_;
    std::uint16_t crc_ = 0;
    bool readOnDamage_ = false;
    std::array<Definition, 16> defs_;
    std::uint32_t timestamp_ = 0;
    bool haveTimestamp_ = false;
    DayClock clock_;
    std::int32_t index_ = 0;
    const bool wantChannels_;
    bool announced_ = false;
    std::array<bool, kChannels> defined_{}; // a record definition before the layout has the field
    std::array<int, kChannels> slot_ = {-1, -1, -1, -1, -1, -1, -1}; // index in values_, -1: not announced
    std::array<double, kChannels> channels_{};                       // the record being read
    std::array<bool, kChannels> enhanced_{};                         // ... its value came from an enhanced field
    std::vector<double> values_;
};

} // namespace

bool looksLikeFit(std::string_view firstBytes) {
    if (firstBytes.size() < 12) return false;
    const auto size = static_cast<unsigned char>(firstBytes[0]);
    return (size == 12 || size == 14) && firstBytes.substr(8, 4) == ".FIT";
}

FitLogInfo readFitLog(const std::string& path, SampleSink& sink) {
    FileSource file(path);
    return readFitLog(file, sink);
}

FitLogInfo readFitLog(ByteSource& source, SampleSink& sink) {
    return FitReader(source, sink).run();
}

} // namespace lorvane
