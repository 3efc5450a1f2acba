#include "formats/log_formats.h"

#include <algorithm>
#include <array>
#include <cstdint>

#include "formats/binary_log.h"
#include "formats/csv_log.h"
#include "formats/diagnostic.h"
#include "formats/fit_log.h"
#include "formats/gpx_log.h"
#include "formats/nmea_log.h"
#include "formats/text_log.h"

namespace lorvane {

namespace {

// The head's lines (the last one may be cut by the end of the head).
template <class F>
void eachLine(std::string_view s, std::size_t maxLines, F&& f) {
    std::size_t n = 0;
    while (!s.empty() && n < maxLines) {
        auto nl = s.find_first_of("\r\n");
        std::string_view line = s.substr(0, nl);
        if (!f(line)) return;
        ++n;
        if (nl == std::string_view::npos) return;
        s.remove_prefix(nl + 1);
        if (!s.empty() && s[0] == '\n' && s.data()[-1] == '\r') s.remove_prefix(1);
    }
}

bool holdsBinaryBytes(std::string_view s) {
    return std::any_of(s.begin(), s.end(), [](char ch) {
        const auto c = static_cast<unsigned char>(ch);
        return c == 0 || (c < 0x20 && c != '\r' && c != '\n' && c != '\t' && c != '\f');
    });
}

bool blank(std::string_view s) {
    return s.find_first_not_of(" \t\r\n") == std::string_view::npos;
}

// --- text log: a "[header]" line among the first lines ---

bool isHeaderMarker(std::string_view l) {
    return l == "[header]" || l == "[Header]";
}

bool recogniseText(std::string_view s) {
    bool text = false;
    eachLine(s, 200, [&](std::string_view l) {
        text = isHeaderMarker(l);
        return !text;
    });
    return text;
}

std::optional<std::string> refuseText(std::string_view s, bool whole) {
    // The reader skips whatever comes before the "[header]" line.
    bool header = false;
    eachLine(s, SIZE_MAX, [&](std::string_view l) {
        header = isHeaderMarker(l);
        return !header;
    });
    if (header) return std::nullopt;
    if (holdsBinaryBytes(s)) return "the file holds binary data";
    if (whole) return "no \"[header]\" line";
    return std::nullopt;
}

AnyLogInfo readText(ByteSource& source, SampleSink& sink, const LogLayout* expected) {
    AnyLogInfo info;
    TextLogColumns cols;
    if (expected)
        cols = TextLogColumns{expected->latColumn, expected->longColumn, expected->timeColumn, expected->satColumn};
    info.text = readTextLog(source, sink, expected ? &cols : nullptr);
    info.samples = info.text.samples;
    info.stopped = info.text.stopped;
    info.cutMidLine = info.text.cutMidLine;
    return info;
}

// --- binary log: a line of text ending in '$', then records ---

bool recogniseBinary(std::string_view s) {
    const auto d = s.find('$');
    if (d == std::string_view::npos || d == 0 || d >= 4096) return false;
    const bool printable = std::all_of(s.begin(), s.begin() + static_cast<std::ptrdiff_t>(d), [](char c) {
        return static_cast<unsigned char>(c) >= 0x20 && static_cast<unsigned char>(c) < 0x7f;
    });
    const std::string_view rest = s.substr(d + 1);
    const bool binary = std::any_of(rest.begin(), rest.end(), [](char ch) {
        const auto c = static_cast<unsigned char>(ch);
        return (c < 0x20 && c != '\r' && c != '\n' && c != '\t') || c >= 0x7f;
    });
    return printable && binary;
}

std::optional<std::string> refuseBinary(std::string_view s, bool) {
    // The header line ends at the first '$'; a log's header is short.
    if (s.find('$') == std::string_view::npos) return "no header line ending in '$'";
    return std::nullopt;
}

AnyLogInfo readBinary(ByteSource& source, SampleSink& sink, const LogLayout* expected) {
    AnyLogInfo info;
    info.binary = readBinaryLog(source, sink, expected ? expected->recordLength : 0);
    info.samples = info.binary.samples;
    info.stopped = info.binary.stopped;
    info.dropped = info.binary.resyncs + info.binary.shortRecords;
    info.cutMidLine = info.binary.cutMidRecord;
    return info;
}

// --- NMEA 0183: lines of "$GPRMC,..." sentences ---

bool nmeaSentenceStart(std::string_view line) {
    if (line.size() < 7 || line[0] != '$') return false;
    for (std::size_t i = 1; i < 6; ++i) {
        const char c = line[i];
        if (!((c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'))) return false;
    }
    return line[6] == ',';
}

bool recogniseNmea(std::string_view s) {
    int lines = 0, sentences = 0;
    bool firstIsSentence = false;
    eachLine(s, 1000, [&](std::string_view l) {
        if (blank(l)) return true;
        const bool sentence = nmeaSentenceStart(l);
        if (lines == 0) firstIsSentence = sentence;
        sentences += sentence;
        return ++lines < 20;
    });
    return firstIsSentence || (sentences >= 2 && sentences * 2 >= lines);
}

std::optional<std::string> refuseNmea(std::string_view s, bool whole) {
    // Captures often mix sentences with a receiver's binary messages.
    if (whole && s.find('$') == std::string_view::npos) return "no NMEA sentence such as $GPRMC or $GPGGA";
    return std::nullopt;
}

AnyLogInfo readNmea(ByteSource& source, SampleSink& sink, const LogLayout*) {
    AnyLogInfo info;
    info.nmea = readNmeaLog(source, sink);
    info.samples = info.nmea.samples;
    info.stopped = info.nmea.stopped;
    info.dropped = info.nmea.dropped();
    info.firstDroppedLine = info.nmea.firstDroppedLine;
    return info;
}

// --- GPX: XML whose root is <gpx> ---

bool recogniseGpx(std::string_view s) {
    const auto first = s.find_first_not_of(" \t\r\n");
    if (first == std::string_view::npos || s[first] != '<') return false;
    const std::string_view body = s.substr(first);
    return body.find("<gpx") != std::string_view::npos || body.find(":gpx") != std::string_view::npos;
}

std::optional<std::string> refuseGpx(std::string_view s, bool whole) {
    const auto first = s.find_first_not_of(" \t\r\n");
    if (first != std::string_view::npos && s[first] != '<') return "the file is not XML";
    if (whole && s.find("gpx") == std::string_view::npos) return "no <gpx> element";
    return std::nullopt;
}

AnyLogInfo readGpx(ByteSource& source, SampleSink& sink, const LogLayout*) {
    AnyLogInfo info;
    info.gpx = readGpxLog(source, sink);
    info.samples = info.gpx.samples;
    info.stopped = info.gpx.stopped;
    return info;
}

// --- CSV: a header line naming latitude and longitude columns ---

bool recogniseCsv(std::string_view s) {
    bool csv = false;
    eachLine(s, static_cast<std::size_t>(kMaxCsvPreamble), [&](std::string_view l) {
        csv = looksLikeCsvHeader(l);
        return !csv;
    });
    return csv;
}

std::optional<std::string> refuseCsv(std::string_view s, bool whole) {
    if (holdsBinaryBytes(s)) return "the file holds binary data";
    if (whole) return "no header line naming latitude and longitude columns";
    return std::nullopt;
}

AnyLogInfo readCsv(ByteSource& source, SampleSink& sink, const LogLayout* expected) {
    AnyLogInfo info;
    CsvColumns cols;
    if (expected) {
        cols.time = expected->timeColumn;
        cols.lat = expected->latColumn;
        cols.lon = expected->longColumn;
        cols.sats = expected->satColumn;
    }
    info.csv = readCsvLog(source, sink, expected ? &cols : nullptr);
    info.samples = info.csv.samples;
    info.stopped = info.csv.stopped;
    info.dropped = info.csv.rowsWithoutPosition;
    if (info.csv.dialect != "CSV") info.layoutName = info.csv.dialect;
    return info;
}

// --- Garmin FIT: a binary header with ".FIT" at bytes 8-11 ---

std::optional<std::string> refuseFit(std::string_view s, bool whole) {
    if (whole || s.size() >= 12) return "no FIT file header (\".FIT\" at bytes 8 to 11)";
    return std::nullopt;
}

AnyLogInfo readFit(ByteSource& source, SampleSink& sink, const LogLayout*) {
    AnyLogInfo info;
    info.fit = readFitLog(source, sink);
    info.samples = info.fit.samples;
    info.stopped = info.fit.stopped;
    if (!info.fit.damage.empty()) {
        info.note = info.fit.damage + "; the records before it are kept";
    }
    if (!info.fit.device.empty()) info.layoutName = info.fit.device;
    return info;
}

constexpr std::array<std::string_view, 1> kTextExt{"zlg"};
constexpr std::array<std::string_view, 1> kBinaryExt{"wmx"};
constexpr std::array<std::string_view, 3> kNmeaExt{"nmea", "nma", "nme"};
constexpr std::array<std::string_view, 1> kGpxExt{"gpx"};
constexpr std::array<std::string_view, 1> kFitExt{"fit"};
constexpr std::array<std::string_view, 3> kCsvExt{"csv", "tsv", "log"}; // RaceCapture writes .log

// A name that loggers give files of several formats: offered in the file
// dialog, a log only by its content.
constexpr std::array<std::string_view, 1> kGenericLogExtensions{"txt"};

// Content is tried in this order: the most particular formats first.
const std::array<LogFormat, 6> kFormats{{
    {LogKind::Fit, "fit", "Garmin FIT file", "a", kFitExt, looksLikeFit, refuseFit, readFit, 1000, 25.0,
     LapTimeStyle::Clock},
    {LogKind::Gpx, "gpx", "GPX file", "a", kGpxExt, recogniseGpx, refuseGpx, readGpx, 1000, 25.0, LapTimeStyle::Clock},
    {LogKind::Text, "zlg", "text (.zlg) log", "a", kTextExt, recogniseText, refuseText, readText, 100, std::nullopt,
     LapTimeStyle::Clock},
    {LogKind::Binary, "wmx", "binary (.wmx) log", "a", kBinaryExt, recogniseBinary, refuseBinary, readBinary, 100,
     std::nullopt, LapTimeStyle::Seconds},
    {LogKind::Nmea, "nmea", "NMEA 0183 log", "an", kNmeaExt, recogniseNmea, refuseNmea, readNmea, 1000, 25.0,
     LapTimeStyle::Clock},
    {LogKind::Csv, "csv", "CSV log", "a", kCsvExt, recogniseCsv, refuseCsv, readCsv, 1000, 25.0, LapTimeStyle::Clock},
}};

std::string lowerExtension(std::string_view path) {
    const auto slash = path.find_last_of("/\\");
    const std::string_view name = slash == std::string_view::npos ? path : path.substr(slash + 1);
    const auto dot = name.rfind('.');
    if (dot == std::string_view::npos) return {};
    std::string ext(name.substr(dot + 1));
    for (char& c : ext)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return ext;
}

} // namespace

std::span<const LogFormat> logFormats() {
    return kFormats;
}

const LogFormat& logFormat(LogKind kind) {
    for (const LogFormat& f : kFormats)
        if (f.kind == kind) return f;
    return kFormats.front();
}

const LogFormat* logFormatByExtension(std::string_view path) {
    const std::string ext = lowerExtension(path);
    if (ext.empty()) return nullptr;
    for (const LogFormat& f : kFormats)
        for (std::string_view e : f.extensions)
            if (e == ext) return &f;
    return nullptr;
}

bool isGenericLogExtension(std::string_view path) {
    const std::string ext = lowerExtension(path);
    return std::find(kGenericLogExtensions.begin(), kGenericLogExtensions.end(), ext) != kGenericLogExtensions.end();
}

std::string logFilePatterns() {
    std::string out;
    auto add = [&](std::string_view e) {
        if (!out.empty()) out += ' ';
        out += "*.";
        out += e;
    };
    for (const LogFormat& f : kFormats)
        for (std::string_view e : f.extensions) add(e);
    for (std::string_view e : kGenericLogExtensions) add(e);
    return out;
}

std::string logFormatsInWords() {
    std::string out;
    for (std::size_t i = 0; i < kFormats.size(); ++i) {
        if (i > 0) out += i + 1 == kFormats.size() ? " or " : ", ";
        out += kFormats[i].description;
    }
    return out;
}

} // namespace lorvane
