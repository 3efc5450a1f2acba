// The CSV log reader on arbitrary files, and the format detection on the same bytes.
#include <cstddef>
#include <cstdint>

#include "formats/any_log.h"
#include "formats/csv_log.h"
#include "formats/diagnostic.h"
#include "fuzz_util.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    {
        const auto kind = lorvane::detectLogFormat(std::string_view(reinterpret_cast<const char*>(data), size),
                                                   "fuzz input.csv");
        volatile int keep = kind ? static_cast<int>(*kind) : -1;
        (void)keep;
    }
    lorvane::fuzz::readWithAndWithoutChannels([&](bool wantChannels) {
        auto bytes = lorvane::fuzz::bytesOf(data, size, "fuzz input");
        lorvane::fuzz::ImportSink sink(wantChannels);
        const auto info = lorvane::readCsvLog(bytes, sink);
        volatile double keep = sink.sum() + static_cast<double>(info.samples);
        (void)keep;
        return sink.positionSum();
    });
    return 0;
}
