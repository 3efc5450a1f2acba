// Splits a file read in blocks into lines ending at LF, CRLF or a lone CR.
#pragma once

#include <cstdint>
#include <string_view>

#include "formats/block_reader.h"
#include "formats/sample.h"

namespace lorvane {

class LineSource {
public:
    LineSource(ByteSource& reader, SampleSink& sink, std::size_t maxLine)
        : buf_(reader, sink), maxLine_(maxLine) {}

    // Next line without its end; false at the end of the file.
    bool next(std::string_view& line);
    // 1-based number of the line last returned.
    std::int64_t lineNumber() const { return lineNo_; }

private:
    bool fill();
    bool deliver(std::string_view line);
    void take(std::size_t upTo) { buf_.consume(upTo - buf_.begin()); }

    BlockBuffer buf_;
    std::size_t maxLine_;
    std::size_t lfAt_ = 0;    // index of the next LF at or after the line's start, when lfKnown_
    std::size_t scanned_ = 0; // no LF in [start, scanned_) when !lfKnown_
    bool lfKnown_ = false;
    std::int64_t lineNo_ = 0;
};

} // namespace lorvane
