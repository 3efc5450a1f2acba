#include "formats/any_log.h"

#include <algorithm>
#include <cstdint>
#include <filesystem>

#include "formats/diagnostic.h"
#include "formats/log_formats.h"

namespace lorvane {

namespace {

std::string_view withoutByteOrderMark(std::string_view s) {
    if (s.substr(0, 3) == "\xEF\xBB\xBF") s.remove_prefix(3);
    return s;
}

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

} // namespace

const char* logKindName(LogKind kind) {
    return logFormat(kind).name.data();
}

const char* logKindDescription(LogKind kind) {
    return logFormat(kind).description.data();
}

std::optional<LogKind> detectLogContent(std::string_view head) {
    const std::string_view s = withoutByteOrderMark(head);
    for (const LogFormat& f : logFormats())
        if (f.recognise(s)) return f.kind;
    return std::nullopt;
}

std::optional<LogKind> detectLogFormat(std::string_view head, std::string_view path) {
    if (auto kind = detectLogContent(head)) return kind;
    if (const LogFormat* f = logFormatByExtension(path)) return f->kind;
    return std::nullopt;
}

std::optional<LogKind> detectLogFile(const std::string& path) {
    bool whole = false;
    return detectLogFormat(readHead(path, whole), path);
}

std::optional<std::string> notALogOfKind(LogKind kind, std::string_view head, bool whole) {
    const LogFormat& format = logFormat(kind);
    const auto named = [](const LogFormat& f) { return std::string(f.article) + " " + std::string(f.description); };
    const std::string what = "Not " + named(format) + ": ";
    if (const auto found = detectLogContent(head)) {
        if (*found == kind) return std::nullopt;
        return what + "the file reads as " + named(logFormat(*found));
    }
    // Nothing recognised: refuse only what the reader would refuse too.
    const std::string_view s = withoutByteOrderMark(head);
    if (s.find_first_not_of(" \t\r\n") == std::string_view::npos && whole) return what + "the file is empty";
    if (auto why = format.refuse(s, whole)) return what + *why;
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
    const LogFormat& format = logFormat(kind);
    AnyLogInfo info = format.read(source, sink, expected);
    info.kind = kind;
    info.ticksPerSecond = format.ticksPerSecond;
    switch (kind) {
    case LogKind::Nmea: info.firstDay = info.nmea.firstDay; break;
    case LogKind::Gpx: info.firstDay = info.gpx.firstDay; break;
    case LogKind::Csv: info.firstDay = info.csv.firstDay; break;
    case LogKind::Fit: info.firstDay = info.fit.firstDay; break;
    case LogKind::Text:
    case LogKind::Binary: break;
    }
    return info;
}

} // namespace lorvane
