// Shared pieces of the fuzz targets: the input handed to a reader as bytes in
// memory, and checks on what comes back.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
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

// Checks what a reader hands on and keeps the values alive.
class CheckingSink : public SampleSink {
public:
    bool sample(const Sample& s) override {
        // Indices run from 0 without gaps.
        if (s.index != expected_) std::abort();
        ++expected_;
        sum_ += s.lat + s.lon + s.time + s.sats;
        return true;
    }
    double sum() const { return sum_; }

private:
    std::int32_t expected_ = 0;
    double sum_ = 0;
};

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
    bool sample(const Sample& s) override {
        checkImported(s);
        return CheckingSink::sample(s);
    }
    void layout(const LogLayout& l) override {
        if (l.ticksPerSecond != 1000) __builtin_trap();
    }
};

} // namespace lorvane::fuzz
