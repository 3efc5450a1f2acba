// The binary log reader on arbitrary files.
#include <cstddef>
#include <cstdint>

#include "formats/binary_log.h"
#include "formats/diagnostic.h"
#include "fuzz_util.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    lorvane::fuzz::readWithAndWithoutChannels([&](bool wantChannels) {
        auto bytes = lorvane::fuzz::bytesOf(data, size, "fuzz input");
        lorvane::fuzz::CheckingSink sink(wantChannels);
        const auto info = lorvane::readBinaryLog(bytes, sink);
        if (info.samples < 0 || info.resyncs < 0) __builtin_trap();
        volatile double keep = sink.sum() + static_cast<double>(info.samples);
        (void)keep;
        return sink.positionSum();
    });
    return 0;
}
