// Shared pieces of the fuzz targets: the input handed to a reader as bytes in
// memory, and checks on what comes back.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>

#include "formats/block_reader.h"
#include "formats/diagnostic.h"
#include "formats/sample.h"

namespace lorvane::fuzz {

// The input as the readers' byte source.
inline MemorySource bytesOf(const std::uint8_t* data, std::size_t size, std::string name) {
    return MemorySource(std::string_view(reinterpret_cast<const char*>(data), size), std::move(name));
}

// Every error must say what it is and where it comes from.
inline void checkError(const LoadError& e, const std::string& name) {
    const Diagnostic& d = e.diagnostic();
    if (d.message.empty() || d.kind == ErrorKind::None || d.file != name) __builtin_trap();
}

// Checks what a reader hands on and keeps the values alive. With
// `wantChannels` it asks for every channel: the layout comes once, before the
// first sample, with unique names, and every sample has one value per channel.
class CheckingSink : public SampleSink {
public:
    explicit CheckingSink(bool wantChannels = false) : want_(wantChannels) {}
    bool wantsChannels() const override { return want_; }
    void layout(const LogLayout& l) override {
        if (layouts_++ != 0 || expected_ != 0) __builtin_trap();
        if (!want_ && !l.channels.empty()) __builtin_trap();
        std::set<std::string> names;
        for (const ChannelInfo& c : l.channels)
            if (c.name.empty() || !names.insert(c.name).second) __builtin_trap();
        channels_ = l.channels.size();
    }
    bool sample(const Sample& s) override {
        // Indices run from 0 without gaps.
        if (s.index != expected_) std::abort();
        ++expected_;
        if (layouts_ != 1 || s.channels.size() != channels_) __builtin_trap();
        for (double v : s.channels)
            if (std::isfinite(v)) channelSum_ += v;
        sum_ += s.lat + s.lon + s.time + s.sats;
        return true;
    }
    double sum() const { return sum_ + channelSum_; }
    // What a reader hands on whether or not channels are wanted.
    double positionSum() const { return sum_; }

private:
    bool want_;
    int layouts_ = 0;
    std::size_t channels_ = 0;
    std::int32_t expected_ = 0;
    double sum_ = 0, channelSum_ = 0;
};

// Reads the input twice, without channels and with them (`read(wantChannels)`
// returns the sink's positionSum(), or throws): wanting channels must change
// neither the samples nor whether the read fails.
template <class Read>
void readWithAndWithoutChannels(Read read) {
    double sums[2] = {0, 0};
    bool failed[2] = {false, false};
    for (int want = 0; want < 2; ++want) {
        try {
            sums[want] = read(want == 1);
        } catch (const LoadError& e) {
            checkError(e, "fuzz input");
            failed[want] = true;
        }
    }
    if (failed[0] != failed[1] || std::memcmp(&sums[0], &sums[1], sizeof sums[0]) != 0) __builtin_trap();
}

// Checks on a sample of the NMEA, GPX and CSV readers: a position on the
// globe, the time and its clock in step, unknown satellites marked.
inline void checkImported(const Sample& s) {
    if (!(s.lat >= -90 * 60 && s.lat <= 90 * 60 && s.lon >= -180 * 60 && s.lon <= 180 * 60)) __builtin_trap();
    if (s.time != static_cast<double>(s.clock) / 1000.0) __builtin_trap();
    if (!s.satsKnown && s.sats != kSatsUnknown) __builtin_trap();
    if (s.sats < 0 || s.line < 1) __builtin_trap();
}

class ImportSink : public CheckingSink {
public:
    using CheckingSink::CheckingSink;
    bool sample(const Sample& s) override {
        checkImported(s);
        return CheckingSink::sample(s);
    }
    void layout(const LogLayout& l) override {
        if (l.ticksPerSecond != 1000) __builtin_trap();
        CheckingSink::layout(l);
    }
};

} // namespace lorvane::fuzz
