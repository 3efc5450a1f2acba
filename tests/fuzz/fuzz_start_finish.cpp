// The start/finish file reader on arbitrary text.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "formats/diagnostic.h"
#include "formats/start_finish.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    try {
        const auto sf = lorvane::parseStartFinish(text, "fuzz.gxr");
        volatile double keep = sf.start.lat1 + sf.finish.long2;
        (void)keep;
    } catch (const lorvane::LoadError& e) {
        if (e.diagnostic().message.empty() || e.diagnostic().file != "fuzz.gxr" ||
            e.diagnostic().kind == lorvane::ErrorKind::None)
            __builtin_trap();
    }
    return 0;
}
