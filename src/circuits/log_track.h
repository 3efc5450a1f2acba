// The positions of a log, for finding its circuit before any start/finish
// line is known.
#pragma once

#include <string>
#include <vector>

#include "circuits/circuit_db.h"
#include "formats/sample.h"

namespace lorvane {

// Every sample's position, in recorded order. Throws LoadError (file, line or
// byte) as the log readers do.
std::vector<GeoSample> readLogTrack(LogKind kind, const std::string& path);

} // namespace lorvane
