#include "formats/gpx_log.h"

#include <expat.h>

#include <cstring>
#include <exception>
#include <memory>
#include <optional>

#include "formats/log_time.h"
#include "formats/numbers.h"

namespace lorvane {

namespace {

// Longest text kept of a <time>, <sat> or <speed> element.
constexpr std::size_t kMaxValueText = 256;

std::string_view localName(const XML_Char* name) {
    std::string_view n(name);
    auto colon = n.rfind(':');
    return colon == std::string_view::npos ? n : n.substr(colon + 1);
}

std::string_view trim(std::string_view s) {
    auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; };
    while (!s.empty() && blank(s.front())) s.remove_prefix(1);
    while (!s.empty() && blank(s.back())) s.remove_suffix(1);
    return s;
}

std::string quotedValue(std::string_view v) {
    // notAValidFloat quotes and shortens; reuse its quoting for other messages.
    std::string s = notAValidFloat(v);
    return s.substr(0, s.rfind('\'') + 1);
}

class GpxReader {
public:
    GpxReader(ByteSource& source, SampleSink& sink) : source_(source), sink_(sink), path_(source.name()) {
        parser_ = XML_ParserCreate(nullptr);
        if (!parser_) fail(ErrorKind::InputOutput, "Out of memory for the XML parser", path_);
        XML_SetUserData(parser_, this);
        XML_SetElementHandler(parser_, &GpxReader::onStart, &GpxReader::onEnd);
        XML_SetCharacterDataHandler(parser_, &GpxReader::onText);
        XML_SetEntityDeclHandler(parser_, &GpxReader::onEntityDecl);
    }
    ~GpxReader() { XML_ParserFree(parser_); }
    GpxReader(const GpxReader&) = delete;
    GpxReader& operator=(const GpxReader&) = delete;

    GpxLogInfo run() {
        LogLayout layout;
        layout.ticksPerSecond = 1000;
        sink_.layout(layout);
        BlockBuffer buf(source_, sink_);
        for (;;) {
            const bool more = buf.fill();
            const std::size_t n = buf.available();
            const XML_Status st = XML_Parse(parser_, buf.data() + buf.begin(), static_cast<int>(n),
                                            more ? XML_FALSE : XML_TRUE);
            buf.consume(n);
            if (pending_) std::rethrow_exception(pending_);
            if (error_) throw LoadError(*error_);
            if (info_.stopped) return info_;
            if (st == XML_STATUS_ERROR) xmlError(!more);
            if (!more) break;
        }
        return info_;
    }

private:
    // BlockBuffer hands out at most a few MB at once, well within an int.
    static_assert(kReadBlock < (1u << 30));

    [[noreturn]] void xmlError(bool atEnd) {
        const XML_Error code = XML_GetErrorCode(parser_);
        const auto line = static_cast<std::int64_t>(XML_GetCurrentLineNumber(parser_));
        const auto column = static_cast<std::int64_t>(XML_GetCurrentColumnNumber(parser_)) + 1;
        std::string what = XML_ErrorString(code);
        std::string msg;
        const bool cut = atEnd && (code == XML_ERROR_NO_ELEMENTS || code == XML_ERROR_UNCLOSED_TOKEN ||
                                   code == XML_ERROR_PARTIAL_CHAR || code == XML_ERROR_UNCLOSED_CDATA_SECTION);
        if (!rootSeen_)
            msg = "Not a GPX file: " +
                  (code == XML_ERROR_NO_ELEMENTS ? std::string("no XML element in it") : "not XML (" + what + ")");
        else if (cut)
            msg = "The GPX file ends early, inside an element (is it cut short?)";
        else
            msg = "The GPX file is not well-formed XML: " + what + " (column " + std::to_string(column) + ")";
        fail(ErrorKind::Syntax, msg, path_, line > 0 ? line : 1);
    }

    void stopWith(std::string message) {
        if (!error_)
            error_ = Diagnostic{std::move(message), path_, static_cast<std::int64_t>(XML_GetCurrentLineNumber(parser_)),
                                -1, ErrorKind::Syntax};
        XML_StopParser(parser_, XML_FALSE);
    }

    template <class F>
    static void guarded(void* self, F&& f) {
        auto* r = static_cast<GpxReader*>(self);
        if (r->pending_ || r->error_ || r->info_.stopped) return;
        try {
            f(*r);
        } catch (...) {
            r->pending_ = std::current_exception();
            XML_StopParser(r->parser_, XML_FALSE);
        }
    }

    static void XMLCALL onStart(void* self, const XML_Char* name, const XML_Char** attrs) {
        guarded(self, [&](GpxReader& r) { r.start(name, attrs); });
    }
    static void XMLCALL onEnd(void* self, const XML_Char* name) {
        guarded(self, [&](GpxReader& r) { r.end(name); });
    }
    static void XMLCALL onText(void* self, const XML_Char* s, int len) {
        auto* r = static_cast<GpxReader*>(self);
        if (r->text_ == Text::None) return;
        const std::size_t room = kMaxValueText + 1 - std::min(r->value_.size(), kMaxValueText + 1);
        r->value_.append(s, std::min<std::size_t>(room, static_cast<std::size_t>(len)));
    }
    static void XMLCALL onEntityDecl(void* self, const XML_Char*, int, const XML_Char*, int, const XML_Char*,
                                     const XML_Char*, const XML_Char*, const XML_Char*) {
        guarded(self,
                [&](GpxReader& r) { r.stopWith("The GPX file declares XML entities, which GPX files do not use"); });
    }

    void start(const XML_Char* name, const XML_Char** attrs) {
        ++depth_;
        const std::string_view local = localName(name);
        if (depth_ == 1) {
            rootSeen_ = true;
            if (local != "gpx") {
                stopWith("Not a GPX file: its root element is <" + std::string(std::string_view(name).substr(0, 64)) +
                         ">, not <gpx>");
                return;
            }
            for (const XML_Char** a = attrs; *a; a += 2)
                if (localName(a[0]) == "version") info_.version = std::string(std::string_view(a[1]).substr(0, 32));
        } else if (depth_ == 2 && local == "trk") {
            inTrack_ = true;
            ++info_.tracks;
        } else if (depth_ == 3 && inTrack_ && local == "trkseg") {
            inSegment_ = true;
            ++info_.segments;
        } else if (depth_ == 4 && inSegment_ && local == "trkpt") {
            startPoint(attrs);
        } else if (inPoint_ && text_ == Text::None) {
            if (depth_ == 5 && local == "time" && !point_.hasTime)
                text_ = Text::Time;
            else if (depth_ == 5 && local == "sat" && !point_.hasSats)
                text_ = Text::Sat;
            else if (local == "speed" && point_.speed < 0)
                text_ = Text::Speed;
            if (text_ != Text::None) {
                textDepth_ = depth_;
                value_.clear();
            }
        }
    }

    void end(const XML_Char*) {
        if (text_ != Text::None && depth_ == textDepth_) {
            endValue();
            text_ = Text::None;
        }
        if (depth_ == 4 && inPoint_) {
            inPoint_ = false;
            endPoint();
        } else if (depth_ == 3) {
            inSegment_ = false;
        } else if (depth_ == 2) {
            inTrack_ = false;
        }
        --depth_;
    }

    void startPoint(const XML_Char** attrs) {
        inPoint_ = true;
        point_ = Point{};
        point_.line = static_cast<std::int64_t>(XML_GetCurrentLineNumber(parser_));
        std::optional<std::string_view> lat, lon;
        for (const XML_Char** a = attrs; *a; a += 2) {
            const std::string_view n(a[0]);
            if (n == "lat") lat = trim(a[1]);
            if (n == "lon") lon = trim(a[1]);
        }
        if (!lat) return stopWith("Track point without a lat attribute");
        if (!lon) return stopWith("Track point without a lon attribute");
        auto la = parseDecimal(*lat);
        if (!la) return stopWith(notAValidFloat(*lat) + " (the lat of a track point)");
        auto lo = parseDecimal(*lon);
        if (!lo) return stopWith(notAValidFloat(*lon) + " (the lon of a track point)");
        if (*la < -90 || *la > 90) return stopWith("Latitude " + quotedValue(*lat) + " is outside -90 to 90 degrees");
        if (*lo < -180 || *lo > 180)
            return stopWith("Longitude " + quotedValue(*lon) + " is outside -180 to 180 degrees");
        point_.lat = *la * 60;
        point_.lon = *lo * 60;
    }

    void endValue() {
        const std::string_view v = trim(value_);
        switch (text_) {
        case Text::Time: {
            auto t = parseIsoDateTime(v);
            if (!t) return stopWith(quotedValue(v) + " is not a valid time (ISO 8601, e.g. 2024-05-01T10:15:30.25Z)");
            point_.time = *t;
            point_.hasTime = true;
            break;
        }
        case Text::Sat: {
            auto n = parseInteger(v);
            if (!n || *n < 0) return stopWith(notAValidInteger(v) + " (the <sat> of a track point)");
            point_.sats = *n;
            point_.hasSats = true;
            break;
        }
        case Text::Speed: {
            auto s = parseDecimal(v);
            if (!s || *s < 0) return stopWith(notAValidFloat(v) + " (the <speed> of a track point)");
            point_.speed = *s;
            break;
        }
        case Text::None: break;
        }
    }

    void endPoint() {
        if (!point_.hasTime) {
            error_ = Diagnostic{"Track point without a <time>", path_, point_.line, -1, ErrorKind::Syntax};
            XML_StopParser(parser_, XML_FALSE);
            return;
        }
        Sample s;
        s.index = index_;
        s.lat = point_.lat;
        s.lon = point_.lon;
        s.satsKnown = point_.hasSats;
        s.sats = point_.hasSats ? point_.sats : kSatsUnknown;
        if (point_.hasSats) info_.satellites = true;
        s.clock = clock_.clock(point_.time.ms, point_.time.day);
        s.time = static_cast<double>(s.clock) / 1000.0;
        s.speed = point_.speed;
        s.line = point_.line;
        if (!sink_.sample(s)) {
            info_.stopped = true;
            XML_StopParser(parser_, XML_FALSE);
            return;
        }
        ++info_.samples;
        if (index_ == INT32_MAX) fail(ErrorKind::Invalid, "Too many samples in one log", path_, point_.line);
        ++index_;
    }

    enum class Text { None, Time, Sat, Speed };
    struct Point {
        double lat = 0, lon = 0;
        DateTime time;
        bool hasTime = false;
        bool hasSats = false;
        std::int32_t sats = 0;
        double speed = -1;
        std::int64_t line = 0;
    };

    ByteSource& source_;
    SampleSink& sink_;
    const std::string& path_;
    XML_Parser parser_ = nullptr;
    GpxLogInfo info_;
    std::exception_ptr pending_;
    std::optional<Diagnostic> error_;
    int depth_ = 0;
    bool rootSeen_ = false, inTrack_ = false, inSegment_ = false, inPoint_ = false;
    Text text_ = Text::None;
    int textDepth_ = 0;
    std::string value_;
    Point point_;
    DayClock clock_;
    std::int32_t index_ = 0;
};

} // namespace

GpxLogInfo readGpxLog(const std::string& path, SampleSink& sink) {
    FileSource file(path);
    return readGpxLog(file, sink);
}

GpxLogInfo readGpxLog(ByteSource& source, SampleSink& sink) {
    return GpxReader(source, sink).run();
}

} // namespace lorvane
