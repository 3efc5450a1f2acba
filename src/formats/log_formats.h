// The table of log formats. Every format the program reads is one entry: its
// name, the extensions its files carry, how its content is recognised, its
// reader, the resolution of its clock, its default gate rule and how its lap
// times read. Detection, the window's file filter and drops, the command
// line's --log, convert and the circuit lookup all go through this table, so
// a new format is one entry and a reader.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "formats/any_log.h"

namespace lorvane {

// How a format's lap list shows a lap time.
enum class LapTimeStyle {
    Clock,   // "01:23.45"
    Seconds, // "083.45"
};

struct LogFormat {
    LogKind kind;
    std::string_view name;        // short name: "zlg", "nmea", "fit"...
    std::string_view description; // "text (.zlg) log", "NMEA 0183 log"...
    std::string_view article;     // "a" or "an", before the description
    // Extensions in lower case without the dot; the first is the usual one.
    std::span<const std::string_view> extensions;
    // Whether a file's first bytes (up to kDetectBytes, a UTF-8 byte order
    // mark removed) are of this format. Tried in table order.
    bool (*recognise)(std::string_view head);
    // Why a file starting with `head` cannot be of this format although
    // nothing recognised it, or nullopt when it may be; `whole`: head is the
    // entire file. Only what the reader would refuse anyway.
    std::optional<std::string> (*refuse)(std::string_view head, bool whole);
    // Reads the log; with `expected` (the layout the first load reported), a
    // log whose header now gives another layout is refused with
    // ErrorKind::Changed.
    AnyLogInfo (*read)(ByteSource& source, SampleSink& sink, const LogLayout* expected);
    int ticksPerSecond; // resolution of Sample::clock
    // The gate's reach when the user set none: imported logs come at 1 to 25
    // samples a second, so the gate is measured where the track crosses it.
    std::optional<double> defaultGateWidth;
    LapTimeStyle lapTimes;
};

// Every format, in the order their content is tried.
std::span<const LogFormat> logFormats();
const LogFormat& logFormat(LogKind kind);
// The format whose extension `path` carries (case ignored), or null.
const LogFormat* logFormatByExtension(std::string_view path);

// Whether `path` carries an extension that loggers give to files of several
// formats (.txt): such a file is a log only by its content.
bool isGenericLogExtension(std::string_view path);

// "*.zlg *.wmx *.nmea ..." for every format (the first of each format's
// extensions first, then the others), for a file dialog's filter.
std::string logFilePatterns();
// "a text or binary log, NMEA 0183, GPX..." for messages naming what we read.
std::string logFormatsInWords();

} // namespace lorvane
