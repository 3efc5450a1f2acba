// Locale-free number text for the generated files.
#pragma once

#include <charconv>
#include <cstdint>
#include <string>

namespace lorvane::gen {

inline void appendInt(std::string& out, std::int64_t v) {
    char buf[24];
    auto r = std::to_chars(buf, buf + sizeof buf, v);
    out.append(buf, r.ptr);
}

// Non-negative integer with at least `width` digits, zero padded.
inline void appendPadded(std::string& out, std::int64_t v, int width) {
    char buf[24];
    auto r = std::to_chars(buf, buf + sizeof buf, v);
    for (auto n = r.ptr - buf; n < width; ++n) out.push_back('0');
    out.append(buf, r.ptr);
}

// Fixed point with `decimals` digits after the point.
inline void appendFixed(std::string& out, double v, int decimals) {
    char buf[64];
    auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed, decimals);
    out.append(buf, r.ptr);
}

// Shortest text that reads back as the same double.
inline void appendShortest(std::string& out, double v) {
    char buf[32];
    auto r = std::to_chars(buf, buf + sizeof buf, v);
    out.append(buf, r.ptr);
}

// A value in 1/100000 units as a decimal number with five decimals and at
// least `intDigits` digits before the point: 309012345 -> "3090.12345".
inline void appendUnits(std::string& out, std::int64_t units, int intDigits) {
    if (units < 0) {
        out.push_back('-');
        units = -units;
    }
    appendPadded(out, units / 100000, intDigits);
    out.push_back('.');
    appendPadded(out, units % 100000, 5);
}

// Time of day as hhmmss.ss from hundredths of a second.
inline void appendClock(std::string& out, std::int64_t centis) {
    appendPadded(out, centis / 360000, 2);
    appendPadded(out, centis / 6000 % 60, 2);
    appendPadded(out, centis / 100 % 60, 2);
    out.push_back('.');
    appendPadded(out, centis % 100, 2);
}

} // namespace lorvane::gen
