#include "formats/line_source.h"

#include <cstring>

#include "formats/diagnostic.h"

namespace lorvane {

bool LineSource::fill() {
    std::size_t moved = 0;
    bool more = buf_.fill(&moved);
    if (lfKnown_) lfAt_ -= moved;
    scanned_ = scanned_ > moved ? scanned_ - moved : 0;
    return more;
}

bool LineSource::deliver(std::string_view line) {
    ++lineNo_;
    if (line.size() > maxLine_)
        fail(ErrorKind::Syntax, "Line longer than " + std::to_string(maxLine_ >> 20) + " MB", buf_.reader().name(), lineNo_);
    return true;
}

bool LineSource::next(std::string_view& line) {
    for (;;) {
        const char* base = buf_.data();
        const std::size_t begin = buf_.begin(), end = buf_.end();
        if (begin == end) {
            if (!fill()) return false;
            continue;
        }
        if (!lfKnown_) {
            std::size_t from = scanned_ > begin ? scanned_ : begin;
            auto* lf = static_cast<const char*>(std::memchr(base + from, '\n', end - from));
            if (lf) {
                lfKnown_ = true;
                lfAt_ = static_cast<std::size_t>(lf - base);
            } else {
                scanned_ = end;
            }
        }
        const std::size_t limit = lfKnown_ ? lfAt_ : end;
        auto* cr = static_cast<const char*>(std::memchr(base + begin, '\r', limit - begin));
        if (cr) {
            const auto at = static_cast<std::size_t>(cr - base);
            if (at + 1 < end || buf_.eof()) {
                line = std::string_view(base + begin, at - begin);
                std::size_t next = at + 1;
                if (next < end && base[next] == '\n') {
                    ++next;
                    lfKnown_ = false;
                }
                take(next);
                return deliver(line);
            }
        } else if (lfKnown_) {
            line = std::string_view(base + begin, lfAt_ - begin);
            take(lfAt_ + 1);
            lfKnown_ = false;
            return deliver(line);
        } else if (buf_.eof()) {
            line = std::string_view(base + begin, end - begin);
            take(end);
            return deliver(line);
        }
        // The line goes on beyond what is buffered.
        if (end - begin > maxLine_)
            fail(ErrorKind::Syntax, "Line longer than " + std::to_string(maxLine_ >> 20) + " MB", buf_.reader().name(), lineNo_ + 1);
        fill(); // at the end of the file, loop once more to hand out the last line
    }
}

} // namespace lorvane
