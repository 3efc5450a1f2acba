// Every log format behind one call: finding a file's format from its content
// (then its name), and reading it with the right reader. The formats
// themselves are the entries of the table in formats/log_formats.h.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "formats/binary_log.h"
#include "formats/block_reader.h"
#include "formats/csv_log.h"
#include "formats/fit_log.h"
#include "formats/gpx_log.h"
#include "formats/nmea_log.h"
#include "formats/sample.h"
#include "formats/text_log.h"

namespace lorvane {

// The format's short name: "zlg", "wmx", "nmea", "gpx", "csv"...
const char* logKindName(LogKind kind);

// Bytes of a file's start that detectLogFormat looks at.
inline constexpr std::size_t kDetectBytes = 64 * 1024;

// The format of a log from its first bytes, else from the extension of
// `path` (each format's own extensions); nullopt when neither tells.
std::optional<LogKind> detectLogFormat(std::string_view firstBytes, std::string_view path);
// The same for a file, reading its first kDetectBytes. Throws LoadError when
// the file cannot be opened or read.
std::optional<LogKind> detectLogFile(const std::string& path);
// The format from the first bytes alone; nullopt when they do not tell.
std::optional<LogKind> detectLogContent(std::string_view firstBytes);

// "text (.zlg) log", "binary (.wmx) log", "NMEA 0183 log", "GPX file", "CSV log"...
const char* logKindDescription(LogKind kind);

// Why a file starting with `firstBytes` cannot be a log of `kind`, or nullopt
// when it may be: its content is another format's, or it lacks what the
// reader needs at the start. `whole`: firstBytes is the entire file. Only
// what the reader would refuse anyway is refused, so this answers at once
// what a full read would find out at the end.
std::optional<std::string> notALogOfKind(LogKind kind, std::string_view firstBytes, bool whole);
// The same for a file, before a load resets anything. Throws LoadError
// (ErrorKind::Syntax with that reason, or the file's open or read error).
// Pipes and devices are not looked at: the reader alone reads them.
void checkLogFile(LogKind kind, const std::string& path);

struct AnyLogInfo {
    LogKind kind = LogKind::Text;
    std::int64_t samples = 0; // samples handed to the sink and accepted
    bool stopped = false;     // the sink asked to stop
    int ticksPerSecond = 100; // resolution of Sample::clock
    // Lines, sentences or records the reader dropped without failing (NMEA:
    // damaged sentences and bad checksums; binary log: resynchronised and
    // short records; CSV: rows without a position), and the first line of them
    // where the reader knows it.
    std::int64_t dropped = 0;
    std::int64_t firstDroppedLine = 0;
    // The log ends in mid-line (text log) or mid-record (binary log).
    bool cutMidLine = false;
    // What the reader has to say of a file it read only in part, for the
    // user (a FIT file damaged part-way: what, and at which byte); empty
    // when nothing.
    std::string note;
    // Which app's layout the file has, when the format has several (the CSV
    // exports of the lap apps); empty otherwise.
    std::string layoutName;
    // The date of the first fix (days since 1970-01-01, UTC where the log
    // says), when the log's times carry dates: NMEA RMC, GPX, FIT, CSV with
    // dates or Unix times. The text and binary logs have none.
    std::optional<std::int64_t> firstDay;
    // The reader's own report; only the one of `kind` is filled.
    TextLogInfo text;
    BinaryLogInfo binary;
    NmeaLogInfo nmea;
    GpxLogInfo gpx;
    CsvLogInfo csv;
    FitLogInfo fit;
};

// Reads `source` with the reader of `kind`. With `expected` (the layout the
// first load reported), a text, binary or CSV log whose header now gives
// another layout is refused with ErrorKind::Changed.
AnyLogInfo readAnyLog(LogKind kind, ByteSource& source, SampleSink& sink, const LogLayout* expected = nullptr);
AnyLogInfo readAnyLog(LogKind kind, const std::string& path, SampleSink& sink, const LogLayout* expected = nullptr);

} // namespace lorvane
