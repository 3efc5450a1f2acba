// Times of day and dates as the imported logs write them, and the clock that
// runs on across midnight. All times are whole milliseconds.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace lorvane {

inline constexpr std::int64_t kMsPerDay = 86'400'000;

// Days from 1970-01-01 to the given date of the Gregorian calendar.
std::int64_t daysFromCivil(int year, int month, int day);
// "YYYY-MM-DD" for days since 1970-01-01 (years 0 to 9999; other years are
// written as they come, with a sign when negative).
std::string isoDate(std::int64_t day);
// Whether the date exists (year 1 to 9999).
bool validDate(int year, int month, int day);

// Milliseconds of "digits[.digits]" fraction text after the seconds' point,
// rounded to the nearest millisecond ("5" -> 500, "0625" -> 63). Returns
// nullopt when the text holds anything but digits.
std::optional<int> fractionMs(std::string_view digits);

// "hh:mm:ss[.fff]" (also "h:mm:ss"): milliseconds since midnight. The seconds
// may be 60 (a leap second); hours 0 to 23.
std::optional<std::int64_t> parseClockTime(std::string_view text);

// An ISO 8601 date and time: "YYYY-MM-DDThh:mm:ss[.fff][Z|+hh:mm|-hh:mm|+hhmm|+hh]",
// with 'T' or one blank between date and time.
struct DateTime {
    std::int64_t day = 0; // days since 1970-01-01 (UTC when the text gave a zone)
    std::int64_t ms = 0;  // milliseconds since that day's midnight
};
std::optional<DateTime> parseIsoDateTime(std::string_view text);

// Turns times of day (with the date when the log gives one) into one clock
// that runs on past midnight: the first day's times are its times of day, the
// next day's come 86,400 s later. A time that would put the clock more than
// 12 hours back is taken as the next day (without a date, and when a date
// lags behind the time).
class DayClock {
public:
    std::int64_t clock(std::int64_t msOfDay, std::optional<std::int64_t> day);
    // The date of the first time's day (days since 1970-01-01), once a time
    // has come with a date; that first time may have come without one.
    std::optional<std::int64_t> firstDay() const {
        return haveBase_ ? std::optional<std::int64_t>(baseDay_) : std::nullopt;
    }

private:
    bool any_ = false;
    bool haveBase_ = false;
    std::int64_t baseDay_ = 0; // the date of day index 0
    std::int64_t dayIndex_ = 0;
    std::int64_t last_ = 0; // the clock last returned
};

} // namespace lorvane
