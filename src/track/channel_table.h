// The channel values a load keeps, one column per channel, a row for every
// sample that reached the lap step (the same rows as Track::samples).
//
// A column holds 32-bit floats while every value it was given reads back the
// same at the precision the log wrote it (six significant digits or fewer:
// speeds, revs, pedal travel, accelerations...), and turns into 64-bit doubles
// at the first value that does not (a latitude in minutes with five decimals,
// a time of day). So a value prints as the log holds it, and a 12-channel log
// of a million samples keeps its values in about 50 MB rather than 96 MB.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "formats/sample.h"

namespace lorvane {

inline constexpr double kNoValue = std::numeric_limits<double>::quiet_NaN();

class ChannelColumn {
public:
    // Appends a value; NaN for a sample without one.
    void push(double v);
    double at(std::size_t row) const { return wide_ ? wideValues_[row] : static_cast<double>(narrow_[row]); }
    // The value of `row` as the log wrote it ("" when none): the shortest
    // text that reads back as the stored float or double.
    std::string text(std::size_t row) const;
    std::size_t size() const { return wide_ ? wideValues_.size() : narrow_.size(); }
    // Rows that carry a value.
    std::int64_t count() const { return count_; }
    double min() const { return min_; } // over the values; NaN when none
    double max() const { return max_; }
    bool wide() const { return wide_; }
    // Every value is a whole number (a gear, a lap count, satellites).
    bool whole() const { return whole_; }
    std::size_t memoryBytes() const {
        return narrow_.capacity() * sizeof(float) + wideValues_.capacity() * sizeof(double);
    }
    void reserve(std::size_t rows);
    void shrinkToFit();

private:
    std::vector<float> narrow_;
    std::vector<double> wideValues_;
    bool wide_ = false;
    bool whole_ = true;
    std::int64_t count_ = 0;
    double min_ = kNoValue, max_ = kNoValue;
};

// Whether `v` is a decimal of six significant digits or fewer, which a float
// holds and prints back unchanged.
bool fitsInFloat(double v);

struct ChannelTable {
    std::vector<ChannelInfo> info;      // names unique, in the log's order
    std::vector<ChannelColumn> columns; // one per entry of info

    bool empty() const { return info.empty(); }
    std::size_t rows() const { return columns.empty() ? 0 : columns.front().size(); }
    // The channel named `name` (exact, then ignoring case), if any.
    std::optional<std::size_t> find(std::string_view name) const;
    // Starts the table for a log's channels, dropping what it held.
    void reset(std::vector<ChannelInfo> channels);
    // Appends one row: values in the order of info (shorter: the rest NaN).
    void push(std::span<const double> values);
    void shrinkToFit();
    std::size_t memoryBytes() const;
};

} // namespace lorvane
