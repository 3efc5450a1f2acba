#include "formats/line_source.h"

#include <cstring>

#include "formats/diagnostic.h"

namespace lorvane {

LineSource::LineSource(BlockReader& reader, SampleSink& sink, std::size_t maxLine)
    : reader_(reader), sink_(sink), maxLine_(maxLine), buf_(kReadBlock) {}

bool LineSource::fill() {
    if (eof_) return false;
    if (begin_ > 0) {
        std::memmove(buf_.data(), buf_.data() + begin_, end_ - begin_);
        end_ -= begin_;
        if (lfKnown_) lfAt_ -= begin_;
        scanned_ = scanned_ > begin_ ? scanned_ - begin_ : 0;
        begin_ = 0;
    }
    if (end_ == buf_.size()) buf_.grow(buf_.size() * 2, end_);
    std::size_t got = reader_.read(buf_.data() + end_, buf_.size() - end_);
    if (got == 0) {
        eof_ = true;
        return false;
    }
    end_ += got;
    done_ += got;
    if (!sink_.progress(done_, reader_.size())) fail("Load cancelled", reader_.path());
    return true;
}

bool LineSource::deliver(std::string_view line) {
    ++lineNo_;
    if (line.size() > maxLine_)
        fail("Line longer than " + std::to_string(maxLine_ >> 20) + " MB", reader_.path(), lineNo_);
    return true;
}

bool LineSource::next(std::string_view& line) {
    for (;;) {
        char* base = buf_.data();
        if (begin_ == end_) {
            if (!fill()) return false;
            continue;
        }
        if (!lfKnown_) {
            std::size_t from = scanned_ > begin_ ? scanned_ : begin_;
            auto* lf = static_cast<char*>(std::memchr(base + from, '\n', end_ - from));
            if (lf) {
                lfKnown_ = true;
                lfAt_ = static_cast<std::size_t>(lf - base);
            } else {
                scanned_ = end_;
            }
        }
        const std::size_t limit = lfKnown_ ? lfAt_ : end_;
        auto* cr = static_cast<char*>(std::memchr(base + begin_, '\r', limit - begin_));
        if (cr) {
            std::size_t at = static_cast<std::size_t>(cr - base);
            if (at + 1 < end_ || eof_) {
                line = std::string_view(base + begin_, at - begin_);
                begin_ = at + 1;
                if (begin_ < end_ && base[begin_] == '\n') {
                    ++begin_;
                    lfKnown_ = false;
                }
                return deliver(line);
            }
        } else if (lfKnown_) {
            line = std::string_view(base + begin_, lfAt_ - begin_);
            begin_ = lfAt_ + 1;
            lfKnown_ = false;
            return deliver(line);
        } else if (eof_) {
            line = std::string_view(base + begin_, end_ - begin_);
            begin_ = end_;
            return deliver(line);
        }
        // The line goes on beyond what is buffered.
        if (end_ - begin_ > maxLine_)
            fail("Line longer than " + std::to_string(maxLine_ >> 20) + " MB", reader_.path(), lineNo_ + 1);
        if (!fill()) {
            // End of file: loop once more to hand out the last line.
            continue;
        }
    }
}

} // namespace lorvane
