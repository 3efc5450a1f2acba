// Splits a file read in blocks into lines ending at LF, CRLF or a lone CR.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "formats/block_reader.h"
#include "formats/sample.h"

namespace lorvane {

class LineSource {
public:
    LineSource(BlockReader& reader, SampleSink& sink, std::size_t maxLine);

    // Next line without its end; false at the end of the file.
    bool next(std::string_view& line);
    // 1-based number of the line last returned.
    std::int64_t lineNumber() const { return lineNo_; }

private:
    bool fill();
    bool deliver(std::string_view line);

    BlockReader& reader_;
    SampleSink& sink_;
    std::size_t maxLine_;
    RawBuffer buf_;
    std::size_t begin_ = 0, end_ = 0;
    std::size_t lfAt_ = 0;      // index of the next LF at or after begin_, when lfKnown_
    std::size_t scanned_ = 0;   // no LF in [begin_, scanned_) when !lfKnown_
    bool lfKnown_ = false;
    bool eof_ = false;
    std::uint64_t done_ = 0;
    std::int64_t lineNo_ = 0;
};

} // namespace lorvane
