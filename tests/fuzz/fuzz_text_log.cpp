// The text log reader on arbitrary files.
#include <cstddef>
#include <cstdint>

#include "formats/diagnostic.h"
#include "formats/text_log.h"
#include "fuzz_util.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    lorvane::fuzz::MemFile file(data, size);
    lorvane::fuzz::CheckingSink sink;
    try {
        const auto info = lorvane::readTextLog(file.path(), sink);
        volatile double keep = sink.sum() + static_cast<double>(info.samples);
        (void)keep;
    } catch (const lorvane::LoadError& e) {
        if (e.diagnostic().message.empty() || e.diagnostic().file != file.path()) __builtin_trap();
    }
    return 0;
}
