#include "laps/lap_time_text.h"

#include <cmath>

#include "formats/log_formats.h"
#include "formats/numbers.h"

namespace lorvane {

std::string convertRealtoUTC(double x) {
    if (!std::isfinite(x) || std::fabs(x) > 1e15) return "--:--.--";
    // Round to hundredths first, so the seconds never show 60.00.
    long long total = std::llround(x * 100);
    std::string out;
    if (total < 0) {
        out += '-';
        total = -total;
    }
    const long long hundredths = total % 100;
    const long long seconds = (total / 100) % 60;
    const long long minutes = (total / 6000) % 60;
    const long long hours = total / 360000;
    if (hours > 0) {
        out += formatPadded(hours, 1);
        out += ':';
    }
    out += formatPadded(minutes, 2);
    out += ':';
    out += formatPadded(seconds, 2);
    out += '.';
    out += formatPadded(hundredths, 2);
    return out;
}

std::string lapListLine(std::int32_t lap, double lapTime, LogKind kind) {
    std::string line = formatPadded(lap, 3);
    line += " :   ";
    if (logFormat(kind).lapTimes == LapTimeStyle::Clock)
        line += convertRealtoUTC(lapTime);
    else
        appendFixed(line, lapTime, 3, 2);
    return line;
}

} // namespace lorvane
