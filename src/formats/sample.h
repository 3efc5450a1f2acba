// One decoded sample of a log, as the readers hand it on.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "formats/diagnostic.h"

namespace lorvane {

enum class LogKind { Text, Binary, Nmea, Gpx, Csv, Fit };

struct Sample {
    std::int32_t index = 0; // from 0 at the first data line / record
    double lat = 0;         // minutes of arc, north positive
    double lon = 0;         // minutes of arc, east positive
    std::int32_t sats = 0;
    double time = 0; // seconds on the log's clock
    // The same time as a whole number of the log's ticks (LogLayout::ticksPerSecond).
    std::int64_t clock = 0;
    // False when the log does not say how many satellites it used; `sats` is
    // then kSatsUnknown, which the base point rule counts as enough.
    bool satsKnown = true;
    // False for a line of a text log before its first position: the sample
    // keeps its index but is no fix.
    bool hasPosition = true;
    double speed = -1;        // metres per second over ground; negative when the log gives none
    std::int64_t line = 0;    // text log: 1-based line number of the sample
    std::int64_t offset = -1; // binary log: byte offset of the record
    // Text log only: the time field of this line did not convert. The line's
    // position has been decoded; the error is raised after the track point,
    // where the load would have met it.
    const Diagnostic* timeError = nullptr;
    // The value of every channel of the log (LogLayout::channels, in that
    // order) on this sample, as the log holds it; NaN where the sample has
    // none. Empty unless the sink wants channels (SampleSink::wantsChannels).
    std::span<const double> channels;
};

// A channel the log records: its name and its unit as the file gives them
// (the unit is empty when the file names none).
struct ChannelInfo {
    std::string name;
    std::string unit;
    bool operator==(const ChannelInfo&) const = default;
};

// What a log's header told the reader.
struct LogLayout {
    int latColumn = 0, longColumn = 0, timeColumn = 0, satColumn = 0; // text and CSV log, 1-based
    int recordLength = 0;                                             // binary log
    int ticksPerSecond = 100; // resolution of Sample::clock: 100 for the text and binary logs, 1000 for the others
    // Every channel the log carries, names unique, in the order of
    // Sample::channels. Filled only when the sink wants channels.
    std::vector<ChannelInfo> channels;
};

// Satellites delivered when a log does not record them.
inline constexpr std::int32_t kSatsUnknown = 99;

// Receives what a reader decodes. Returning false from sample() stops the read
// (used by the lap re-read once it has the lap); false from progress() cancels.
class SampleSink {
public:
    virtual ~SampleSink() = default;
    virtual bool sample(const Sample& s) = 0;
    // Called once the header has been read, before the first sample.
    virtual void layout(const LogLayout& l) { (void)l; }
    // Whether the reader should decode every channel of every sample into
    // Sample::channels (and list them in LogLayout::channels). Readers skip
    // that work when no one wants it, so a plain lap count stays as fast.
    virtual bool wantsChannels() const { return false; }
    virtual bool progress(std::uint64_t bytesDone, std::uint64_t bytesTotal) {
        (void)bytesDone;
        (void)bytesTotal;
        return true;
    }
};

} // namespace lorvane
