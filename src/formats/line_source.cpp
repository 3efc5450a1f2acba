#include "formats/line_source.h"

#include <algorithm>
#include <cstring>

#include "formats/diagnostic.h"

namespace lorvane {

void LineSource::moved(Next& n, std::size_t by) {
    if (n.known) n.at -= by;
    n.scanned = n.scanned > by ? n.scanned - by : 0;
}

bool LineSource::fill() {
    std::size_t by = 0;
    bool more = buf_.fill(&by);
    moved(lf_, by);
    moved(cr_, by);
    return more;
}

void LineSource::find(Next& n, char c) {
    if (n.known) return;
    const std::size_t from = std::max(n.scanned, buf_.begin()), end = buf_.end();
    if (from == end) return;
    if (auto* hit = static_cast<const char*>(std::memchr(buf_.data() + from, c, end - from))) {
        n.known = true;
        n.at = static_cast<std::size_t>(hit - buf_.data());
    } else {
        n.scanned = end;
    }
}

bool LineSource::deliver(std::string_view line) {
    ++lineNo_;
    if (line.size() > maxLine_)
        fail(ErrorKind::Syntax, "Line longer than " + std::to_string(maxLine_ >> 20) + " MB", buf_.reader().name(),
             lineNo_);
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
        // A file without CR searches for it once a block, not once a line.
        find(lf_, '\n');
        find(cr_, '\r');
        const std::size_t limit = lf_.known ? lf_.at : end;
        if (cr_.known && cr_.at < limit) {
            const std::size_t at = cr_.at;
            if (at + 1 < end || buf_.eof()) {
                line = std::string_view(base + begin, at - begin);
                std::size_t next = at + 1;
                if (next < end && base[next] == '\n') {
                    ++next;
                    lf_.known = false;
                }
                cr_.known = false;
                take(next);
                return deliver(line);
            }
        } else if (lf_.known) {
            line = std::string_view(base + begin, lf_.at - begin);
            take(lf_.at + 1);
            lf_.known = false;
            return deliver(line);
        } else if (buf_.eof()) {
            line = std::string_view(base + begin, end - begin);
            take(end);
            unended_ = true;
            return deliver(line);
        }
        // The line goes on beyond what is buffered.
        if (end - begin > maxLine_)
            fail(ErrorKind::Syntax, "Line longer than " + std::to_string(maxLine_ >> 20) + " MB", buf_.reader().name(),
                 lineNo_ + 1);
        fill(); // at the end of the file, loop once more to hand out the last line
    }
}

} // namespace lorvane
