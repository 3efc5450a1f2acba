#include "formats/binary_log.h"

#include <cstring>
#include <vector>

#include "formats/block_reader.h"

namespace lorvane {

namespace {

// The file's bytes, with the position of each byte known.
class RecordBytes {
public:
    RecordBytes(ByteSource& r, SampleSink& sink) : buf_(r, sink) {}

    std::size_t available() const { return buf_.available(); }
    const unsigned char* data() const { return reinterpret_cast<const unsigned char*>(buf_.data()) + buf_.begin(); }
    void consume(std::size_t n) { buf_.consume(n); }
    std::uint64_t offset() const { return buf_.offset(); }
    bool atEnd() { return buf_.available() == 0 && !buf_.fill(); }
    // Makes at least `want` bytes available if the file has them; returns what is available.
    std::size_t ensure(std::size_t want) {
        while (buf_.available() < want && buf_.fill()) {
        }
        return buf_.available();
    }

private:
    BlockBuffer buf_;
};

std::int32_t be32(const unsigned char* p) {
    std::uint32_t v = (std::uint32_t(p[0]) << 24) | (std::uint32_t(p[1]) << 16) | (std::uint32_t(p[2]) << 8) | p[3];
    return static_cast<std::int32_t>(v);
}

} // namespace

int recordLengthForHeader(std::string_view header) {
    if (header.find("VERT_SPEED(2)") != std::string_view::npos) return 36;
    if (header.find("VELOCITY(3)") != std::string_view::npos) return 34;
    return 33;
}

void decodeRecord(const unsigned char* r, Sample& s) {
    s.sats = r[0];
    std::uint32_t t = (std::uint32_t(r[1]) << 16) | (std::uint32_t(r[2]) << 8) | r[3];
    s.clock = t;
    s.time = static_cast<double>(t) / 100;
    s.clock = t;
    s.lat = static_cast<double>(be32(r + 4)) / 100000;
    s.lon = static_cast<double>(be32(r + 8)) / 100000;
}

BinaryLogInfo readBinaryLog(const std::string& path, SampleSink& sink, int expectedRecordLength) {
    FileSource file(path);
    return readBinaryLog(file, sink, expectedRecordLength);
}

BinaryLogInfo readBinaryLog(ByteSource& source, SampleSink& sink, int expectedRecordLength) {
    const std::string& path = source.name();
    RecordBytes in(source, sink);
    BinaryLogInfo info;
    auto beyondEnd = [&]() {
        fail(ErrorKind::Syntax, kReadBeyondEnd, path, 0, static_cast<std::int64_t>(in.offset()));
    };

    // Header: everything up to and including the first '$'. Only the two
    // channel names matter, so keep just enough of it to find them across
    // block boundaries.
    bool velocity = false, vertSpeed = false;
    std::string tail;
    for (;;) {
        if (in.atEnd()) beyondEnd();
        const unsigned char* p = in.data();
        std::size_t n = in.available();
        auto* dollar = static_cast<const unsigned char*>(std::memchr(p, '$', n));
        std::size_t take = dollar ? static_cast<std::size_t>(dollar - p) + 1 : n;
        tail.append(reinterpret_cast<const char*>(p), take);
        if (tail.find("VELOCITY(3)") != std::string::npos) velocity = true;
        if (tail.find("VERT_SPEED(2)") != std::string::npos) vertSpeed = true;
        if (tail.size() > 16) tail.erase(0, tail.size() - 16);
        in.consume(take);
        if (dollar) break;
    }
    info.recordLength = vertSpeed ? 36 : velocity ? 34 : 33;
    const std::size_t L = static_cast<std::size_t>(info.recordLength);
    if (expectedRecordLength != 0 && expectedRecordLength != info.recordLength)
        fail(ErrorKind::Changed, "The log's header has changed since it was loaded", path, 0,
             static_cast<std::int64_t>(in.offset()));

    // The only channel the records document besides the position and the
    // time is the satellites; what follows the first 12 bytes is not read.
    const bool wantChannels = sink.wantsChannels();
    LogLayout layout{0, 0, 0, 0, info.recordLength, 100, {}};
    if (wantChannels) layout.channels.push_back({"Satellites", ""});
    sink.layout(layout);

    // Rest of the header line: up to a carriage return, then one more byte,
    // until that byte is a line feed.
    for (;;) {
        for (;;) {
            if (in.atEnd()) beyondEnd();
            const unsigned char* p = in.data();
            auto* cr = static_cast<const unsigned char*>(std::memchr(p, '\r', in.available()));
            if (cr) {
                in.consume(static_cast<std::size_t>(cr - p) + 1);
                break;
            }
            in.consume(in.available());
        }
        if (in.atEnd()) beyondEnd();
        unsigned char b = in.data()[0];
        in.consume(1);
        if (b == '\n') break;
    }
    // One byte before the first record is dropped.
    if (in.atEnd()) beyondEnd();
    in.consume(1);

    Sample s;
    double sats = 0;
    if (wantChannels) s.channels = std::span<const double>(&sats, 1);
    std::int32_t index = 0;
    for (;;) {
        std::size_t avail = in.ensure(L);
        if (avail == 0) break;
        const std::uint64_t recordOffset = in.offset();
        if (avail < L) {
            // The file ends inside this record: decode what it has, when it
            // holds the fields at all.
            info.cutMidRecord = true;
            if (avail >= 12) {
                decodeRecord(in.data(), s);
                sats = s.sats;
                s.index = index;
                s.offset = static_cast<std::int64_t>(recordOffset);
                in.consume(avail);
                if (!sink.sample(s)) {
                    info.stopped = true;
                    return info;
                }
                ++info.samples;
            } else {
                ++info.shortRecords;
                in.consume(avail);
            }
            break;
        }
        const unsigned char* rec = in.data();
        if (rec[L - 1] != '$') {
            // Resynchronise: drop everything up to and including the next '$'.
            ++info.resyncs;
            in.consume(L);
            for (;;) {
                if (in.atEnd()) break;
                const unsigned char* p = in.data();
                auto* d = static_cast<const unsigned char*>(std::memchr(p, '$', in.available()));
                if (d) {
                    in.consume(static_cast<std::size_t>(d - p) + 1);
                    break;
                }
                in.consume(in.available());
            }
            continue;
        }
        decodeRecord(rec, s);
        sats = s.sats;
        s.index = index;
        s.offset = static_cast<std::int64_t>(recordOffset);
        in.consume(L);
        if (!sink.sample(s)) {
            info.stopped = true;
            return info;
        }
        ++info.samples;
        if (index == INT32_MAX)
            fail(ErrorKind::Invalid, "Too many samples in one log", path, 0, static_cast<std::int64_t>(recordOffset));
        ++index;
    }
    return info;
}

} // namespace lorvane
