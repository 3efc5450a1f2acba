// The binary log (.wmx): a text header up to the first '$', the rest of that
// line, one dropped byte, then fixed-length '$'-terminated records.
// Channels, when the sink wants them: "Satellites" (from the record's first
// byte) only; the bytes after the position are not documented and not read.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "formats/block_reader.h"
#include "formats/sample.h"

namespace lorvane {

struct BinaryLogInfo {
    int recordLength = 0;          // 33, 34 or 36
    std::int64_t samples = 0;      // records decoded and accepted by the sink
    std::int64_t resyncs = 0;      // records dropped because their last byte was not '$'
    std::int64_t shortRecords = 0; // a last record under 12 bytes, dropped
    // The file ends inside a record: a short one is dropped (shortRecords),
    // one that holds its fields is kept without its end.
    bool cutMidRecord = false;
    bool stopped = false;
};

// Record length from the header text (bytes up to and including the first '$').
int recordLengthForHeader(std::string_view header);

// Decodes the first 12 bytes of a record (satellites, time, latitude, longitude).
void decodeRecord(const unsigned char* rec, Sample& s);

// Reads the log, handing every record to the sink as a sample. With
// `expectedRecordLength`, a header that gives another length is refused.
BinaryLogInfo readBinaryLog(ByteSource& source, SampleSink& sink, int expectedRecordLength = 0);
// The same for the file at `path`.
BinaryLogInfo readBinaryLog(const std::string& path, SampleSink& sink, int expectedRecordLength = 0);

} // namespace lorvane
