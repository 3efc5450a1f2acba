#include "formats/log_time.h"

namespace lorvane {

namespace {

bool digitsAt(std::string_view s, std::size_t at, std::size_t n, int& value) {
    if (at + n > s.size()) return false;
    int v = 0;
    for (std::size_t i = at; i < at + n; ++i) {
        if (s[i] < '0' || s[i] > '9') return false;
        v = v * 10 + (s[i] - '0');
    }
    value = v;
    return true;
}

// "hh:mm:ss[.fff]" at the start of `s`; `used` receives its length.
std::optional<std::int64_t> clockPrefix(std::string_view s, std::size_t& used) {
    int h = 0, m = 0, sec = 0;
    std::size_t i = 0;
    if (digitsAt(s, 0, 2, h)) {
        i = 2;
    } else if (digitsAt(s, 0, 1, h)) {
        i = 1;
    } else {
        return std::nullopt;
    }
    if (i >= s.size() || s[i] != ':' || !digitsAt(s, i + 1, 2, m)) return std::nullopt;
    i += 3;
    if (i >= s.size() || s[i] != ':' || !digitsAt(s, i + 1, 2, sec)) return std::nullopt;
    i += 3;
    int frac = 0;
    if (i < s.size() && (s[i] == '.' || s[i] == ',')) {
        std::size_t j = i + 1;
        while (j < s.size() && s[j] >= '0' && s[j] <= '9') ++j;
        if (j == i + 1) return std::nullopt;
        auto f = fractionMs(s.substr(i + 1, j - i - 1));
        if (!f) return std::nullopt;
        frac = *f;
        i = j;
    }
    if (h > 23 || m > 59 || sec > 60) return std::nullopt;
    used = i;
    return (static_cast<std::int64_t>(h) * 3600 + m * 60 + sec) * 1000 + frac;
}

} // namespace

std::int64_t daysFromCivil(int year, int month, int day) {
    // Howard Hinnant's days_from_civil.
    const std::int64_t y = static_cast<std::int64_t>(year) - (month <= 2 ? 1 : 0);
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const std::int64_t yoe = y - era * 400;
    const std::int64_t mp = (month + 9) % 12;
    const std::int64_t doy = (153 * mp + 2) / 5 + day - 1;
    const std::int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

std::string isoDate(std::int64_t day) {
    // Howard Hinnant's civil_from_days.
    const std::int64_t z = day + 719468;
    const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const std::int64_t doe = z - era * 146097;
    const std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const std::int64_t mp = (5 * doy + 2) / 153;
    const std::int64_t d = doy - (153 * mp + 2) / 5 + 1;
    const std::int64_t m = mp < 10 ? mp + 3 : mp - 9;
    const std::int64_t y = yoe + era * 400 + (m <= 2 ? 1 : 0);
    auto padded = [](std::int64_t v, int width) {
        std::string s = std::to_string(v < 0 ? -v : v);
        if (s.size() < static_cast<std::size_t>(width)) s.insert(0, static_cast<std::size_t>(width) - s.size(), '0');
        return v < 0 ? "-" + s : s;
    };
    return padded(y, 4) + "-" + padded(m, 2) + "-" + padded(d, 2);
}

bool validDate(int year, int month, int day) {
    if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1) return false;
    static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    int dim = kDays[month - 1];
    if (month == 2 && (year % 4 == 0 && (year % 100 != 0 || year % 400 == 0))) dim = 29;
    return day <= dim;
}

std::optional<int> fractionMs(std::string_view digits) {
    int ms = 0;
    for (std::size_t i = 0; i < digits.size(); ++i) {
        const char c = digits[i];
        if (c < '0' || c > '9') return std::nullopt;
        if (i < 3) ms = ms * 10 + (c - '0');
    }
    for (std::size_t i = digits.size(); i < 3; ++i) ms *= 10;
    if (digits.size() > 3 && digits[3] >= '5') ++ms; // may give 1000: the next second
    return ms;
}

std::optional<std::int64_t> parseClockTime(std::string_view text) {
    std::size_t used = 0;
    auto t = clockPrefix(text, used);
    if (!t || used != text.size()) return std::nullopt;
    return t;
}

std::optional<DateTime> parseIsoDateTime(std::string_view s) {
    int y = 0, mo = 0, d = 0;
    if (!digitsAt(s, 0, 4, y) || s.size() < 11 || (s[4] != '-' && s[4] != '/') || s[7] != s[4] ||
        !digitsAt(s, 5, 2, mo) || !digitsAt(s, 8, 2, d))
        return std::nullopt;
    if (s[10] != 'T' && s[10] != 't' && s[10] != ' ') return std::nullopt;
    if (!validDate(y, mo, d)) return std::nullopt;
    std::size_t used = 0;
    auto tod = clockPrefix(s.substr(11), used);
    if (!tod) return std::nullopt;
    std::string_view zone = s.substr(11 + used);
    std::int64_t offsetMs = 0;
    if (zone.empty()) {
    } else if (zone == "Z" || zone == "z") {
    } else if (zone[0] == '+' || zone[0] == '-') {
        int zh = 0, zm = 0;
        if (!digitsAt(zone, 1, 2, zh)) return std::nullopt;
        if (zone.size() == 3) {
        } else if (zone.size() == 6 && zone[3] == ':' && digitsAt(zone, 4, 2, zm)) {
        } else if (zone.size() == 5 && digitsAt(zone, 3, 2, zm)) {
        } else {
            return std::nullopt;
        }
        if (zh > 23 || zm > 59) return std::nullopt;
        offsetMs = (static_cast<std::int64_t>(zh) * 60 + zm) * 60000;
        if (zone[0] == '-') offsetMs = -offsetMs;
    } else {
        return std::nullopt;
    }
    // To UTC: the local time minus the zone's offset.
    std::int64_t abs = daysFromCivil(y, mo, d) * kMsPerDay + *tod - offsetMs;
    DateTime dt;
    dt.day = abs >= 0 ? abs / kMsPerDay : -((-abs + kMsPerDay - 1) / kMsPerDay);
    dt.ms = abs - dt.day * kMsPerDay;
    return dt;
}

std::int64_t DayClock::clock(std::int64_t msOfDay, std::optional<std::int64_t> day) {
    if (day) {
        if (!haveBase_) {
            baseDay_ = *day - dayIndex_;
            haveBase_ = true;
        }
        dayIndex_ = *day - baseDay_;
    }
    std::int64_t c = dayIndex_ * kMsPerDay + msOfDay;
    if (any_ && c < last_ - kMsPerDay / 2) {
        // Back by more than half a day: the next day (also when a receiver
        // still gives the old date just after midnight).
        dayIndex_ += (last_ - kMsPerDay / 2 - c) / kMsPerDay + 1;
        c = dayIndex_ * kMsPerDay + msOfDay;
    }
    any_ = true;
    last_ = c;
    return c;
}

} // namespace lorvane
