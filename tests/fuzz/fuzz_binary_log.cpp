// The binary log reader on arbitrary files.
#include <cstddef>
#include <cstdint>

#include "formats/binary_log.h"
#include "formats/diagnostic.h"
#include "fuzz_util.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    auto bytes = lorvane::fuzz::bytesOf(data, size, "fuzz input");
    lorvane::fuzz::CheckingSink sink;
    try {
        const auto info = lorvane::readBinaryLog(bytes, sink);
        if (info.samples < 0 || info.resyncs < 0) __builtin_trap();
        volatile double keep = sink.sum();
        (void)keep;
    } catch (const lorvane::LoadError& e) {
        lorvane::fuzz::checkError(e, "fuzz input");
    }
    return 0;
}
