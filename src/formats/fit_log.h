// Garmin FIT activity files, as watches, bike computers and coaching devices
// write them, read after the binary protocol Garmin publishes
// (developer.garmin.com/fit/protocol).
//
// A file is a 12 or 14 byte header (".FIT" at bytes 8-11, the size of the
// data, an optional header CRC), a run of messages and a CRC-16 of everything
// before it. Definition messages give a local message type (0-15) its global
// message number, byte order and fields; data messages carry the values.
// A compressed-timestamp header (bit 7) gives a data message of local type 0-3
// a 5-bit time offset from the last full timestamp. Developer fields are
// skipped by their sizes. Files chained one after the other are all read.
//
// Samples come from `record` messages (global 20): timestamp (253, seconds
// since 1989-12-31 00:00 UTC), position_lat (0) and position_long (1) in
// semicircles, speed (6) or enhanced_speed (73) in mm/s. A record without a
// valid position (or without any time before it) gives no sample. The clock
// starts at the time of day (UTC) of the first sample and runs on past
// midnight. Satellites are unknown. file_id (global 0) gives the device.
//
// Channels, when the sink wants them, from the record fields with Garmin's
// scales: "Speed" (m/s, enhanced_speed before speed), "Altitude" (m,
// enhanced_altitude before altitude), "Distance" (m), "Heart rate" (bpm),
// "Cadence" (rpm), "Power" (W) and "Temperature" (°C): those the record
// definitions before the first sample hold. A field at its invalid value, or
// missing from a record, is no value (NaN).
//
// Damage part-way (a file cut short, a data message whose local type has no
// definition, a bad architecture byte, a message past the data size, a CRC
// that does not match) ends the read there: the samples before it are kept
// and the info says what was wrong and at which byte.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "formats/block_reader.h"
#include "formats/sample.h"

namespace lorvane {

struct FitLogInfo {
    std::int64_t samples = 0;                // records handed to the sink and accepted
    std::int64_t records = 0;                // record messages read
    std::int64_t recordsWithoutPosition = 0; // record messages without a valid position
    std::int64_t messages = 0;               // data messages read, of every kind
    bool crcChecked = false;                 // every file's CRC was there and matched
    bool stopped = false;                    // the sink asked to stop
    std::string damage;                      // empty, or what was wrong
    std::int64_t damageOffset = -1;          // byte
    std::string device;                      // manufacturer/product from file_id when known, may stay empty
    // UTC date of the first fix (days since 1970-01-01), when the log gives dates.
    std::optional<std::int64_t> firstDay;
};

// Header size 12 or 14 and ".FIT" at bytes 8..11.
bool looksLikeFit(std::string_view firstBytes);

// Reads the file, handing every record with a position to the sink. Throws
// LoadError (Syntax, byte 0) when the file does not start with a FIT header,
// Cancelled when the sink's progress() says stop, and on a read error; damage
// after the header is returned in the info, never thrown.
FitLogInfo readFitLog(ByteSource& source, SampleSink& sink);
FitLogInfo readFitLog(const std::string& path, SampleSink& sink);

} // namespace lorvane
