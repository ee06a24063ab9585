// Date-times: days since 1899-12-30 00:00 as a double; the fraction is the time of day, also
// below zero (-1.25 is 1899-12-29 06:00). Calendar maths, text forms and text parsers.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/Exception.h"

namespace velnor::platform {

struct TRegionalSettings;

using TDateTime = double;

// A text that does not parse, or a value outside the range a conversion can represent.
class EConvertError : public Exception {
public:
    using Exception::Exception;
};

// The day before 0001-01-01; kept for callers that still compare against it.
inline constexpr TDateTime InvalidDate = -693594.0;

// Years follow the historical numbering: -1 is 1 BC and there is no year 0. Dates use the
// proleptic Gregorian calendar from 4713 BC (-4712) to 9999.
inline constexpr int MinYear = -4712;
inline constexpr int MaxYear = 9999;

struct TDateTimeParts {
    int year = 1899;
    int month = 12;
    int day = 30;
    int hour = 0;
    int minute = 0;
    int second = 0;
    int millisecond = 0;
    int dayOfWeek = 7;  // 1 = Sunday .. 7 = Saturday
    friend bool operator==(const TDateTimeParts&, const TDateTimeParts&) = default;
};

[[nodiscard]] bool IsLeapYear(int year) noexcept;
[[nodiscard]] bool IsValidDate(int year, int month, int day) noexcept;
[[nodiscard]] bool IsValidTime(int hour, int minute, int second, int millisecond) noexcept;

// Raise EConvertError for a date or time that does not exist or lies outside MinYear..MaxYear.
[[nodiscard]] TDateTime EncodeDate(int year, int month, int day);
[[nodiscard]] TDateTime EncodeTime(int hour, int minute, int second, int millisecond = 0);
[[nodiscard]] TDateTime EncodeDateTime(const TDateTimeParts& parts);
// Whole days since 1899-12-30 and milliseconds of the day to a date-time.
[[nodiscard]] TDateTime ComposeDateTime(std::int64_t days, std::int64_t millisecondOfDay) noexcept;

// Rounds to the nearest millisecond first, so 23:59:59.9996 becomes 00:00:00 of the next day
// (also for days before 1899-12-30). Raises EConvertError for NaN, infinities and values
// outside MinYear..MaxYear.
[[nodiscard]] TDateTimeParts DecodeDateTime(TDateTime value);

// Formats with the elements (case-insensitive) yyyy yy m mm d dd ddddd h hh n nn s ss z zzz
// t tt ampm am/pm a/p, the separators "/" and ":", and literals in '...' or "...".
// "m"/"mm" directly after an hour element are minutes. Other characters are copied.
[[nodiscard]] std::string FormatDateTime(std::string_view format, TDateTime value,
                                         const TRegionalSettings& settings);
[[nodiscard]] std::string FormatDateTime(std::string_view format, TDateTime value);

// The short date ("ddddd") alone when the time of day is 0, else "ddddd tt".
[[nodiscard]] std::string DateTimeToText(TDateTime value);
[[nodiscard]] std::string DateTimeToText(TDateTime value, const TRegionalSettings& settings);

// A date alone in the order of the short date format; raises "'%s' は日付ではありません".
[[nodiscard]] TDateTime TextToDate(std::string_view text);
[[nodiscard]] TDateTime TextToDate(std::string_view text, const TRegionalSettings& settings);
// A date, a time, or a date followed by a time; raises the same message on failure.
[[nodiscard]] TDateTime TextToDateTime(std::string_view text);
[[nodiscard]] TDateTime TextToDateTime(std::string_view text, const TRegionalSettings& settings);

}  // namespace velnor::platform
