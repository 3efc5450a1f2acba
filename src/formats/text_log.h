// The text log (.zlg): marker lines, a channel list, then one line of
// blank-separated values per sample.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "formats/block_reader.h"
#include "formats/sample.h"

namespace lorvane {

struct TextLogColumns {
    int lat = 0, lon = 0, time = 0, sats = 0; // 1-based field numbers, 0 = none
};

struct TextLogInfo {
    TextLogColumns columns;
    std::int64_t samples = 0; // samples handed to the sink and accepted
    bool stopped = false;     // the sink asked to stop
    // The last line has no line end and lacks some of the columns read: the
    // log was cut off in mid-line, and that sample carries fields over.
    bool cutMidLine = false;
};

// Applies the channel rules to one channel-list line (column `n`).
void applyChannelRules(std::string_view line, int n, TextLogColumns& cols);

// Converts a time field (hhmmss.ss, comma already turned into a point) to
// seconds since midnight. Throws LoadError with the invalid-number message.
double convertLogTime(std::string_view field);

// Longest line accepted; a longer one ends the load with an error.
inline constexpr std::size_t kMaxTextLine = 16u << 20;

// Reads the log, handing every data line to the sink as a sample.
// Throws LoadError (with file and line) on the first error. With `expected`,
// a channel list that gives other columns is refused (the log has changed).
TextLogInfo readTextLog(ByteSource& source, SampleSink& sink, const TextLogColumns* expected = nullptr);
// The same for the file at `path`.
TextLogInfo readTextLog(const std::string& path, SampleSink& sink, const TextLogColumns* expected = nullptr);

} // namespace lorvane
