// The reference file: the start/finish file's lines, the base point, the lap's
// time and point count, and its points in metres with their times.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "laps/reference_lap.h"

namespace lorvane {

struct ReferenceInput {
    std::string startFinishText; // contents of the start/finish file, as read
    double baseLat = 0, baseLong = 0;
    double lapTime = 0;       // seconds
    double openingOffset = 0; // crossOffset of the crossing that opened the lap
    bool fixedReference = false;
    std::vector<GeoPoint> points;
};

// The complete file, every line ending in CR LF.
std::string composeReferenceFile(const ReferenceInput& in);

// Writes `bytes` to `target` through a temporary file in the same folder that
// is renamed over the target, so a failure leaves an existing file as it was.
// Throws LoadError naming the target on failure.
void writeFileAtomically(const std::string& target, std::string_view bytes);

} // namespace lorvane
