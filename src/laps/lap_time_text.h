// The texts of lap times: minutes and seconds for the text log's lap list and
// the confirmation prompt, plain seconds for the binary log's lap list.
#pragma once

#include <cstdint>
#include <string>

#include "formats/sample.h"

namespace lorvane {

// 83.45 -> "01:23.45"; an hour or more keeps its hours: 3725 -> "1:02:05.00".
// Rounded to hundredths before it is split, so 119.996 -> "02:00.00".
std::string convertRealtoUTC(double seconds);

// The lap list line: "001 :   01:23.45", or "001 :   083.45" for a format
// whose lap times read in seconds (the binary log).
std::string lapListLine(std::int32_t lap, double lapTime, LogKind kind);

} // namespace lorvane
