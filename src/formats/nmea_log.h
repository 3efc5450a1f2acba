// NMEA 0183 logs: the sentences a GPS receiver sends, one per line. Only
// $..RMC and $..GGA (any talker) give samples; every other sentence is skipped.
//
// One sample per fix time: the RMC and GGA sentences that follow each other
// with the same time are one fix. It gives a sample when any of them has a
// fix (RMC status A, GGA quality above 0), at the position of the first such
// sentence; a GGA gives the satellites (without one they are unknown). The
// clock runs on past midnight (RMC dates, else a time far before the last).
//
// Damaged sentences are dropped and counted, never fatal: a checksum that
// does not match, a sentence cut short (no checksum where the log's other
// sentences have one, or too few fields), a field that does not read. A
// logger that lost power mid-sentence leaves such a last line; the samples
// before it are all kept. Without checksums a cut is only seen when it leaves
// too few fields.
//
// Channels, when the sink wants them: "Speed" (kn, RMC), "Course" (deg, RMC),
// "Altitude" (m above mean sea level, GGA), "HDOP" and "Satellites" (GGA),
// each as the sentence writes it, taken from the fix's first sentence that
// gives it; those of a sentence type the log has not sent by its 64th fix
// are left out (the first 64 fixes are held back until then). A channel
// field that does not read is no value (NaN), never a damaged sentence.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "formats/block_reader.h"
#include "formats/sample.h"

namespace lorvane {

struct NmeaLogInfo {
    std::int64_t samples = 0;          // fix times handed to the sink and accepted
    std::int64_t sentences = 0;        // RMC and GGA sentences read
    std::int64_t otherSentences = 0;   // other sentences, skipped
    std::int64_t badChecksums = 0;     // sentences dropped: the checksum did not match
    std::int64_t damaged = 0;          // RMC/GGA sentences dropped: cut short or a field that does not read
    std::int64_t otherLines = 0;       // non-blank lines holding no sentence at all
    std::int64_t firstDroppedLine = 0; // line of the first of the three above, 0 when none
    std::int64_t noFix = 0;            // fix times without a fix (void RMC, GGA quality 0)
    bool satellites = false;           // some GGA gave the satellites
    bool stopped = false;              // the sink asked to stop
    // UTC date of the first fix (days since 1970-01-01), when the log gives dates.
    std::optional<std::int64_t> firstDay;
    std::int64_t dropped() const { return badChecksums + damaged + otherLines; }
};

// Reads the log, handing one sample per fix time to the sink. Throws LoadError
// when the file holds no RMC or GGA sentence at all, on a read error and on a
// line longer than kMaxTextLine.
NmeaLogInfo readNmeaLog(ByteSource& source, SampleSink& sink);
NmeaLogInfo readNmeaLog(const std::string& path, SampleSink& sink);

} // namespace lorvane
