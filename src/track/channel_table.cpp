#include "track/channel_table.h"

#include <algorithm>
#include <cctype>
#include <charconv>

namespace lorvane {

bool fitsInFloat(double v) {
    if (std::isnan(v)) return true;
    if (!std::isfinite(v)) return true; // a float holds infinities too
    double a = std::fabs(v);
    if (a == 0) return true;
    if (a >= 1e6 || a < 1e-4) return static_cast<double>(static_cast<float>(v)) == v;
    // Scale to an integer of at most six digits: v = m / 10^k.
    double scaled = a;
    for (int k = 0; k <= 10; ++k) {
        const double r = std::nearbyint(scaled);
        if (std::fabs(scaled - r) <= 1e-9 * std::max(1.0, scaled)) return r < 1e6;
        scaled *= 10;
        if (scaled >= 1e6 * 10) return false;
    }
    return false;
}

void ChannelColumn::push(double v) {
    if (!wide_ && !fitsInFloat(v)) {
        wide_ = true;
        wideValues_.reserve(std::max(narrow_.capacity(), narrow_.size() + 1));
        // Each float becomes the double of the decimal it stood for (132.4f
        // becomes 132.4, not 132.39999389648438).
        for (float f : narrow_) {
            char buf[32];
            const auto r = std::to_chars(buf, buf + sizeof buf, f);
            double d = static_cast<double>(f);
            if (std::isfinite(f)) std::from_chars(buf, r.ptr, d);
            wideValues_.push_back(d);
        }
        std::vector<float>().swap(narrow_);
    }
    if (wide_)
        wideValues_.push_back(v);
    else
        narrow_.push_back(static_cast<float>(v));
    if (!std::isnan(v)) {
        ++count_;
        if (whole_ && v != std::nearbyint(v)) whole_ = false;
        if (!(v >= min_)) min_ = v;
        if (!(v <= max_)) max_ = v;
    }
}

std::string ChannelColumn::text(std::size_t row) const {
    char buf[64];
    std::to_chars_result r;
    if (wide_) {
        if (std::isnan(wideValues_[row])) return {};
        r = std::to_chars(buf, buf + sizeof buf, wideValues_[row]);
    } else {
        if (std::isnan(narrow_[row])) return {};
        r = std::to_chars(buf, buf + sizeof buf, narrow_[row]);
    }
    return std::string(buf, r.ptr);
}

void ChannelColumn::reserve(std::size_t rows) {
    if (wide_)
        wideValues_.reserve(rows);
    else
        narrow_.reserve(rows);
}

void ChannelColumn::shrinkToFit() {
    narrow_.shrink_to_fit();
    wideValues_.shrink_to_fit();
}

std::optional<std::size_t> ChannelTable::find(std::string_view name) const {
    for (std::size_t i = 0; i < info.size(); ++i)
        if (info[i].name == name) return i;
    const auto lower = [](std::string_view s) {
        std::string r(s);
        for (char& c : r) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        return r;
    };
    const std::string want = lower(name);
    for (std::size_t i = 0; i < info.size(); ++i)
        if (lower(info[i].name) == want) return i;
    return std::nullopt;
}

void ChannelTable::reset(std::vector<ChannelInfo> channels) {
    info = std::move(channels);
    columns.assign(info.size(), ChannelColumn{});
}

void ChannelTable::push(std::span<const double> values) {
    for (std::size_t i = 0; i < columns.size(); ++i) columns[i].push(i < values.size() ? values[i] : kNoValue);
}

void ChannelTable::shrinkToFit() {
    for (ChannelColumn& c : columns) c.shrinkToFit();
}

std::size_t ChannelTable::memoryBytes() const {
    std::size_t n = 0;
    for (const ChannelColumn& c : columns) n += c.memoryBytes();
    for (const ChannelInfo& i : info) n += sizeof(ChannelInfo) + i.name.capacity() + i.unit.capacity();
    return n;
}

} // namespace lorvane
