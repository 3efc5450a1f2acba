// The lap re-read on arbitrary files with arbitrary lap bounds and layout.
//
// Input: 12 bytes of parameters, then the log's bytes.
//   [0]      kind (even: text, odd: binary)
//   [1..4]   column numbers lat, lon, time, sats (text) / [1] record length pick (binary)
//   [5..8]   first sample, little endian, signed
//   [9..11]  lap length in samples (24 bits), may exceed what the log holds
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "formats/diagnostic.h"
#include "fuzz_util.h"
#include "laps/reference_lap.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 12) return 0;
    lorvane::LapSource src;
    src.kind = (data[0] & 1) ? lorvane::LogKind::Binary : lorvane::LogKind::Text;
    src.columns.lat = data[1] % 40;
    src.columns.lon = data[2] % 40;
    src.columns.time = data[3] % 40;
    src.columns.sats = data[4] % 40;
    static constexpr int kLengths[] = {33, 34, 36, 0};
    src.recordLength = kLengths[data[1] % 4];
    std::int32_t first = 0;
    std::memcpy(&first, data + 5, sizeof first);
    // Mostly small starts, so that the lap lies inside the fuzzed log.
    if (!(data[0] & 2)) first = static_cast<std::int32_t>(static_cast<std::uint32_t>(first) % 4096u);
    const std::int32_t length = data[9] | (data[10] << 8) | ((data[11] & 0x7f) << 16);
    src.firstSample = first;
    src.lastSample = static_cast<std::int32_t>(static_cast<std::int64_t>(first) + length > INT32_MAX ? INT32_MAX
                                                                                                     : first + length);

    auto bytes = lorvane::fuzz::bytesOf(data + 12, size - 12, "fuzz input");
    src.path = "fuzz input";
    try {
        const auto points = lorvane::readReferenceLap(src, bytes);
        // Thinning goes by the log's clock, which here is whatever the bytes
        // say: at least the first sample and the closing repeat, at most one
        // point a sample plus that repeat, never past the file's limit, and
        // elapsed time starting at zero and never running back.
        const std::int64_t n = static_cast<std::int64_t>(src.lastSample) - src.firstSample + 1;
        const auto count = static_cast<std::int64_t>(points.size());
        if (count < 2 || count > n + 1 || count > lorvane::kMaxRefPoints) __builtin_trap();
        if (points.front().elapsed != 0) __builtin_trap();
        for (std::size_t i = 1; i < points.size(); ++i)
            if (points[i].elapsed < points[i - 1].elapsed) __builtin_trap();
    } catch (const lorvane::LoadError& e) {
        lorvane::fuzz::checkError(e, "fuzz input");
    }
    return 0;
}
