// The reference file reader on arbitrary text, and the lap it reads laid out
// in its own plane and in another.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "formats/diagnostic.h"
#include "fuzz_util.h"
#include "reference/reference_read.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    lorvane::ReferenceFileData ref;
    try {
        ref = lorvane::parseReferenceFile(text, "fuzz.REF");
    } catch (const lorvane::LoadError& e) {
        lorvane::fuzz::checkError(e, "fuzz.REF");
        return 0;
    }
    // What was read is a lap: a time, at least two points, each no farther
    // than the input holds lines for.
    if (!(ref.lapTime > 0) || ref.points.size() < 2 || ref.points.size() > size) __builtin_trap();
    const lorvane::LocalPlane other{ref.baseLat + 0.5, ref.baseLong - 0.5, 0.6};
    for (const lorvane::LocalPlane& plane : {lorvane::LocalPlane{}, other}) {
        const lorvane::LapTrace t = lorvane::referenceTrace(ref, plane);
        // From the opening crossing at 0 s to the closing one at the lap time,
        // never going back along the lap.
        if (t.points.size() < 2 || t.points.front().time != 0 || t.points.back().time != ref.lapTime ||
            t.points.back().distance != t.distance)
            __builtin_trap();
        for (std::size_t i = 1; i < t.points.size(); ++i)
            if (!(t.points[i].distance >= t.points[i - 1].distance) || t.points[i].time > ref.lapTime) __builtin_trap();
    }
    lorvane::StartFinish moved = ref.gates;
    moved.start.lat1 += 0.001;
    volatile bool differ = lorvane::startFinishMismatch(ref.gates, moved).has_value();
    (void)differ;
    return 0;
}
