// CSV logs: a header line naming the columns, then one row per sample.
// Comma, semicolon or tab separated (found from the header line); values may
// be quoted. Lines before the header (a logger's key/value metadata) are
// skipped, and so are '#' comment lines anywhere. Columns are found by name,
// ignoring case and units in brackets:
//   time       "Time", "Elapsed Time", "Timestamp", "UTC", "Interval"... holding
//              seconds (milliseconds when the unit says ms, Unix time when it
//              says so), a clock time hh:mm:ss[.fff] (with the day from a
//              "Date" column when there is one) or an ISO 8601 date and time
//   latitude   "Lat", "Latitude", "Lat (Degrees)", "GPS Latitude"... decimal degrees
//   longitude  "Lon", "Lng", "Long", "Longitude"...              decimal degrees
//   satellites "Sats", "Satellites", "# Sats"...                 optional
//   speed      "Speed", "Velocity (MPH)", "Speed (km/h)"...      optional; unit from the name, else m/s
// A units row right under the header (text where the latitude and longitude
// values stand: "s,deg,deg,km/h") gives the units the names leave out, and a
// sources row under it ("100: gps", "calc", "200: obd") picks the GPS one of
// columns sharing a name. RaceCapture's header cells "Name"|"unit"|min|max|rate
// carry their unit; its clock is the GPS time of the "Utc" column.
// With a semicolon or tab separator a decimal comma is read as a point.
// When the sink wants channels, every column is one but those holding text on
// the first data row (a clock time, a date): name and unit from the header
// cell ("Velocity (MPH)"), RaceCapture's unit cell or the units row, repeated
// names told apart by the sources row ("speed (obd)") or a number; a cell
// that is no number has no value, and a row that gives no sample hands its
// values to the next sample that lacks them (docs/channels.md).
// A row whose time, latitude or longitude is empty gives no sample (a logger
// writes such rows between GPS updates), nor does a row that only repeats the
// last fix (same time and place; a "GPS_Update" of 0; in a RaceCapture log,
// the same place); a value that does not read is an error naming the line.
#pragma once

#include <cstdint>
#include <optional>
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
    DateTime, // ISO 8601 date and time, or a clock time with a date column: time of day of the
              // first row's date, on past midnight
    Unix,     // seconds or milliseconds since 1970 (the unit says so): as DateTime
};

struct CsvLogInfo {
    CsvColumns columns;
    char separator = ',';
    std::int64_t headerLine = 0;
    CsvTime timeKind = CsvTime::Seconds;
    std::int64_t samples = 0;             // rows handed to the sink and accepted
    std::int64_t rowsWithoutPosition = 0; // rows with an empty time, latitude or longitude: no fix
    std::int64_t rowsRepeated = 0;        // rows that only repeat the last fix
    std::int64_t commentLines = 0;        // '#' lines
    std::int64_t unitsLine = 0;           // the units row under the header, 0 when none
    // The app that wrote the file, from its content: "RaceChrono CSV v3", "AiM Race
    // Studio CSV", "TrackAddict CSV", "RaceCapture log", "Harry's LapTimer CSV" or "CSV".
    std::string dialect = "CSV";
    bool stopped = false;
    // Date of the first fix (days since 1970-01-01) when the times carry dates:
    // UTC for Unix times and ISO times with a zone, else the date as written.
    std::optional<std::int64_t> firstDay;
};

// Header lines looked for before the file is said not to be a CSV log.
inline constexpr int kMaxCsvPreamble = 1000;

// Whether `line` reads as a CSV header naming a latitude or a longitude column.
bool looksLikeCsvHeader(std::string_view line);

// Reads the log, handing every row with a new fix to the sink. Throws
// LoadError (with file and line) on a file without a header line, a header
// without a time, latitude or longitude column (named), a row whose value
// does not read, a units row giving a latitude or longitude not in degrees,
// and a time column without a unit whose rows are too far apart or too close
// together for a GPS (seconds that are milliseconds, or the other way). With `expected`, a header that gives other
// time, latitude, longitude or satellites columns is refused (the log has changed).
CsvLogInfo readCsvLog(ByteSource& source, SampleSink& sink, const CsvColumns* expected = nullptr);
CsvLogInfo readCsvLog(const std::string& path, SampleSink& sink, const CsvColumns* expected = nullptr);

} // namespace lorvane
