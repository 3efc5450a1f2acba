#include "formats/any_log.h"

#include <algorithm>
#include <cstdint>
#include <filesystem>

#include "formats/diagnostic.h"

namespace lorvane {

namespace {

bool nmeaSentenceStart(std::string_view line) {
    if (line.size() < 7 || line[0] != '$') return false;
    for (std::size_t i = 1; i < 6; ++i) {
        const char c = line[i];
        if (!((c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'))) return false;
    }
    return line[6] == ',';
}

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

} // namespace

const char* logKindName(LogKind kind) {
    switch (kind) {
    case LogKind::Text: return "zlg";
    case LogKind::Binary: return "wmx";
    case LogKind::Nmea: return "nmea";
    case LogKind::Gpx: return "gpx";
    case LogKind::Csv: return "csv";
    }
    return "unknown";
}

std::optional<LogKind> detectLogContent(std::string_view head) {
    std::string_view s = head;
    if (s.substr(0, 3) == "\xEF\xBB\xBF") s.remove_prefix(3);
    const auto first = s.find_first_not_of(" \t\r\n");
    const std::string_view body = first == std::string_view::npos ? std::string_view() : s.substr(first);

    if (!body.empty() && body[0] == '<' &&
        (body.find("<gpx") != std::string_view::npos || body.find(":gpx") != std::string_view::npos))
        return LogKind::Gpx;

    bool text = false;
    eachLine(s, 200, [&](std::string_view l) {
        if (l == "[header]" || l == "[Header]") text = true;
        return !text;
    });
    if (text) return LogKind::Text;

    // The binary log: a line of text ending in '$', then records.
    if (auto d = s.find('$'); d != std::string_view::npos && d > 0 && d < 4096) {
        const bool printable = std::all_of(s.begin(), s.begin() + static_cast<std::ptrdiff_t>(d), [](char c) {
            return static_cast<unsigned char>(c) >= 0x20 && static_cast<unsigned char>(c) < 0x7f;
        });
        const std::string_view rest = s.substr(d + 1);
        const bool binary = std::any_of(rest.begin(), rest.end(), [](char ch) {
            const auto c = static_cast<unsigned char>(ch);
            return (c < 0x20 && c != '\r' && c != '\n' && c != '\t') || c >= 0x7f;
        });
        if (printable && binary) return LogKind::Binary;
    }

    int lines = 0, sentences = 0;
    bool firstIsSentence = false;
    eachLine(s, 1000, [&](std::string_view l) {
        if (l.find_first_not_of(" \t") == std::string_view::npos) return true;
        const bool sentence = nmeaSentenceStart(l);
        if (lines == 0) firstIsSentence = sentence;
        sentences += sentence;
        return ++lines < 20;
    });
    if (firstIsSentence || (sentences >= 2 && sentences * 2 >= lines)) return LogKind::Nmea;

    bool csv = false;
    eachLine(s, static_cast<std::size_t>(kMaxCsvPreamble), [&](std::string_view l) {
        csv = looksLikeCsvHeader(l);
        return !csv;
    });
    if (csv) return LogKind::Csv;
    return std::nullopt;
}

std::optional<LogKind> detectLogFormat(std::string_view head, std::string_view path) {
    if (auto kind = detectLogContent(head)) return kind;
    const std::string ext = lowerExtension(path);
    if (ext == "zlg") return LogKind::Text;
    if (ext == "wmx") return LogKind::Binary;
    if (ext == "nmea" || ext == "nma" || ext == "nme") return LogKind::Nmea;
    if (ext == "gpx") return LogKind::Gpx;
    if (ext == "csv" || ext == "tsv") return LogKind::Csv;
    return std::nullopt;
}

namespace {

// The file's first kDetectBytes; `whole` tells whether that is all of it.
std::string readHead(const std::string& path, bool& whole) {
    FileSource file(path);
    std::string head(kDetectBytes + 1, '\0');
    std::size_t got = 0;
    while (got < head.size()) {
        const std::size_t n = file.read(head.data() + got, head.size() - got);
        if (n == 0) break;
        got += n;
    }
    whole = got <= kDetectBytes;
    head.resize(std::min(got, kDetectBytes));
    return head;
}

bool holdsBinaryBytes(std::string_view s) {
    return std::any_of(s.begin(), s.end(), [](char ch) {
        const auto c = static_cast<unsigned char>(ch);
        return c == 0 || (c < 0x20 && c != '\r' && c != '\n' && c != '\t' && c != '\f');
    });
}

} // namespace

std::optional<LogKind> detectLogFile(const std::string& path) {
    bool whole = false;
    return detectLogFormat(readHead(path, whole), path);
}

const char* logKindDescription(LogKind kind) {
    switch (kind) {
    case LogKind::Text: return "text (.zlg) log";
    case LogKind::Binary: return "binary (.wmx) log";
    case LogKind::Nmea: return "NMEA 0183 log";
    case LogKind::Gpx: return "GPX file";
    case LogKind::Csv: return "CSV log";
    }
    return "log";
}

std::optional<std::string> notALogOfKind(LogKind kind, std::string_view head, bool whole) {
    const auto article = [](LogKind k) { return k == LogKind::Nmea ? "an " : "a "; };
    const std::string what = std::string("Not ") + article(kind) + logKindDescription(kind) + ": ";
    if (const auto found = detectLogContent(head)) {
        if (*found == kind) return std::nullopt;
        return what + "the file reads as " + article(*found) + logKindDescription(*found);
    }

    // Nothing recognised: refuse only what the reader would refuse too.
    std::string_view s = head;
    if (s.substr(0, 3) == "\xEF\xBB\xBF") s.remove_prefix(3);
    if (s.find_first_not_of(" \t\r\n") == std::string_view::npos && whole) return what + "the file is empty";
    switch (kind) {
    case LogKind::Text: {
        // The reader skips whatever comes before the "[header]" line.
        bool header = false;
        eachLine(s, SIZE_MAX, [&](std::string_view l) {
            header = l == "[header]" || l == "[Header]";
            return !header;
        });
        if (header) break;
        if (holdsBinaryBytes(s)) return what + "the file holds binary data";
        if (whole) return what + "no \"[header]\" line";
        break;
    }
    case LogKind::Binary:
        // The header line ends at the first '$'; a log's header is short.
        if (s.find('$') == std::string_view::npos) return what + "no header line ending in '$'";
        break;
    case LogKind::Nmea:
        // Captures often mix sentences with a receiver's binary messages.
        if (whole && s.find('$') == std::string_view::npos) return what + "no NMEA sentence such as $GPRMC or $GPGGA";
        break;
    case LogKind::Gpx: {
        const auto first = s.find_first_not_of(" \t\r\n");
        if (first != std::string_view::npos && s[first] != '<') return what + "the file is not XML";
        if (whole && s.find("gpx") == std::string_view::npos) return what + "no <gpx> element";
        break;
    }
    case LogKind::Csv:
        if (holdsBinaryBytes(s)) return what + "the file holds binary data";
        if (whole) return what + "no header line naming latitude and longitude columns";
        break;
    }
    return std::nullopt;
}

void checkLogFile(LogKind kind, const std::string& path) {
    // A pipe or device is read once, by the reader itself.
    std::error_code ec;
    if (!std::filesystem::is_regular_file(path, ec)) return;
    bool whole = false;
    const std::string head = readHead(path, whole);
    if (auto why = notALogOfKind(kind, head, whole)) fail(ErrorKind::Syntax, *why, path);
}

AnyLogInfo readAnyLog(LogKind kind, const std::string& path, SampleSink& sink, const LogLayout* expected) {
    FileSource file(path);
    return readAnyLog(kind, file, sink, expected);
}

AnyLogInfo readAnyLog(LogKind kind, ByteSource& source, SampleSink& sink, const LogLayout* expected) {
    AnyLogInfo info;
    info.kind = kind;
    info.ticksPerSecond = 1000;
    switch (kind) {
    case LogKind::Text: {
        TextLogColumns cols;
        if (expected)
            cols = TextLogColumns{expected->latColumn, expected->longColumn, expected->timeColumn, expected->satColumn};
        info.text = readTextLog(source, sink, expected ? &cols : nullptr);
        info.samples = info.text.samples;
        info.stopped = info.text.stopped;
        info.cutMidLine = info.text.cutMidLine;
        info.ticksPerSecond = 100;
        break;
    }
    case LogKind::Binary:
        info.binary = readBinaryLog(source, sink, expected ? expected->recordLength : 0);
        info.samples = info.binary.samples;
        info.stopped = info.binary.stopped;
        info.dropped = info.binary.resyncs + info.binary.shortRecords;
        info.cutMidLine = info.binary.shortRecords > 0;
        info.ticksPerSecond = 100;
        break;
    case LogKind::Nmea:
        info.nmea = readNmeaLog(source, sink);
        info.samples = info.nmea.samples;
        info.stopped = info.nmea.stopped;
        info.dropped = info.nmea.dropped();
        info.firstDroppedLine = info.nmea.firstDroppedLine;
        break;
    case LogKind::Gpx:
        info.gpx = readGpxLog(source, sink);
        info.samples = info.gpx.samples;
        info.stopped = info.gpx.stopped;
        break;
    case LogKind::Csv: {
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
        break;
    }
    }
    return info;
}

} // namespace lorvane
