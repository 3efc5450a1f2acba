// CSV logs: a header line naming the columns, then one row per sample.
// Comma, semicolon or tab separated (found from the header line); values may
// be quoted. Lines before the header (a logger's key/value metadata) are
// skipped. Columns are found by name, ignoring case and units in brackets:
//   time       "Time", "Elapsed Time", "Timestamp", "UTC", "Interval"... holding
//              seconds (milliseconds when the unit says ms), a clock time
//              hh:mm:ss[.fff] or an ISO 8601 date and time
//   latitude   "Lat", "Latitude", "Lat (Degrees)", "GPS Latitude"... decimal degrees
//   longitude  "Lon", "Lng", "Long", "Longitude"...              decimal degrees
//   satellites "Sats", "Satellites", "# Sats"...                 optional
//   speed      "Speed", "Velocity (MPH)", "Speed (km/h)"...      optional; unit from the name, else m/s
// With a semicolon or tab separator a decimal comma is read as a point.
// A row whose time, latitude or longitude is empty gives no sample (a logger
// writes such rows between GPS updates); a value that does not read is an
// error naming the line.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "formats/block_reader.h"
#include "formats/sample.h"

namespace lorvane {

struct CsvColumns {
    int time = 0, lat = 0, lon = 0, sats = 0, speed = 0; // 1-based, 0 = none
    bool operator==(const CsvColumns&) const = default;
};

enum class CsvTime {
    Seconds,  // seconds (or milliseconds) from any origin: the clock is that number
    Clock,    // hh:mm:ss[.fff]: time of day, on past midnight
    DateTime, // ISO 8601 date and time: time of day of the first row's date, on past midnight
};

struct CsvLogInfo {
    CsvColumns columns;
    char separator = ',';
    std::int64_t headerLine = 0;
    CsvTime timeKind = CsvTime::Seconds;
    std::int64_t samples = 0;             // rows handed to the sink and accepted
    std::int64_t rowsWithoutPosition = 0; // rows with an empty time, latitude or longitude
    bool stopped = false;
};

// Header lines looked for before the file is said not to be a CSV log.
inline constexpr int kMaxCsvPreamble = 1000;

// Whether `line` reads as a CSV header naming a latitude or a longitude column.
bool looksLikeCsvHeader(std::string_view line);

// Reads the log, handing every row with a position to the sink. Throws
// LoadError (with file and line) on a file without a header line, a header
// without a time, latitude or longitude column (named), and a row whose
// value does not read. With `expected`, a header that gives other time,
// latitude, longitude or satellites columns is refused (the log has changed).
CsvLogInfo readCsvLog(ByteSource& source, SampleSink& sink, const CsvColumns* expected = nullptr);
CsvLogInfo readCsvLog(const std::string& path, SampleSink& sink, const CsvColumns* expected = nullptr);

} // namespace lorvane
