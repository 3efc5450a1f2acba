// The NMEA 0183 log reader on arbitrary files.
#include <cstddef>
#include <cstdint>

#include "formats/diagnostic.h"
#include "formats/nmea_log.h"
#include "fuzz_util.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    lorvane::fuzz::readWithAndWithoutChannels([&](bool wantChannels) {
        auto bytes = lorvane::fuzz::bytesOf(data, size, "fuzz input");
        lorvane::fuzz::ImportSink sink(wantChannels);
        const auto info = lorvane::readNmeaLog(bytes, sink);
        volatile double keep = sink.sum() + static_cast<double>(info.samples);
        (void)keep;
        return sink.positionSum();
    });
    return 0;
}
