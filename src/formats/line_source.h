// Splits a file read in blocks into lines ending at LF, CRLF or a lone CR.
#pragma once

#include <cstdint>
#include <string_view>

#include "formats/block_reader.h"
#include "formats/sample.h"

namespace lorvane {

class LineSource {
public:
    LineSource(ByteSource& reader, SampleSink& sink, std::size_t maxLine) : buf_(reader, sink), maxLine_(maxLine) {}

    // Next line without its end; false at the end of the file.
    bool next(std::string_view& line);
    // 1-based number of the line last returned.
    std::int64_t lineNumber() const { return lineNo_; }
    // True when the line last returned was the file's last and had no line
    // end: the file may have been cut off in it.
    bool lastLineUnended() const { return unended_; }

private:
    bool fill();
    bool deliver(std::string_view line);
    void take(std::size_t upTo) { buf_.consume(upTo - buf_.begin()); }

    BlockBuffer buf_;
    std::size_t maxLine_;
    // The next LF and CR at or after the line's start, each found once: when
    // known, its index in the buffer; else no such byte before its `scanned`.
    struct Next {
        std::size_t at = 0;
        std::size_t scanned = 0;
        bool known = false;
    };
    void find(Next& n, char c);
    void moved(Next& n, std::size_t by);
    Next lf_, cr_;
    std::int64_t lineNo_ = 0;
    bool unended_ = false;
};

} // namespace lorvane
