// The FIT log reader on arbitrary files.
#include <cstddef>
#include <cstdint>

#include "formats/diagnostic.h"
#include "formats/fit_log.h"
#include "fuzz_util.h"

namespace {

// A FIT sample has no line but the byte of its record, inside the input.
class FitSink : public lorvane::fuzz::CheckingSink {
public:
    FitSink(std::size_t size, bool wantChannels) : CheckingSink(wantChannels), size_(size) {}
    bool sample(const lorvane::Sample& s) override {
        if (!(s.lat >= -90 * 60 && s.lat <= 90 * 60 && s.lon >= -180 * 60 && s.lon <= 180 * 60)) __builtin_trap();
        if (s.time != static_cast<double>(s.clock) / 1000.0) __builtin_trap();
        if (s.satsKnown || s.sats != lorvane::kSatsUnknown) __builtin_trap();
        if (s.offset < 12 || static_cast<std::uint64_t>(s.offset) >= size_) __builtin_trap();
        if (s.offset <= last_) __builtin_trap();
        last_ = s.offset;
        return CheckingSink::sample(s);
    }
    void layout(const lorvane::LogLayout& l) override {
        if (l.ticksPerSecond != 1000) __builtin_trap();
        CheckingSink::layout(l);
    }

private:
    std::size_t size_;
    std::int64_t last_ = -1;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    lorvane::fuzz::readWithAndWithoutChannels([&](bool wantChannels) {
        auto bytes = lorvane::fuzz::bytesOf(data, size, "fuzz input");
        FitSink sink(size, wantChannels);
        const auto info = lorvane::readFitLog(bytes, sink);
        // Damage names a byte of the input; a clean read checked every CRC.
        if (!info.damage.empty() && (info.damageOffset < 0 || static_cast<std::uint64_t>(info.damageOffset) > size))
            __builtin_trap();
        if (info.crcChecked && !info.damage.empty()) __builtin_trap();
        volatile double keep = sink.sum() + static_cast<double>(info.samples);
        (void)keep;
        return sink.positionSum();
    });
    return 0;
}
