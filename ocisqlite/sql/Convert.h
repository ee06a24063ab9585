// Conversions shared by the engine: NUMBER rounding and range, the stored DATE text,
// character counting and RAW as hex.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "ocisqlite/sql/Engine.h"

namespace velnor::ocisqlite::sql {

[[noreturn]] void Fail(int code, std::string text);

// Rounds a number (Kind::Integer or Kind::Double) to `scale` decimal places and raises
// ORA-01438 when it needs more than precision - scale integer digits. precision 0 means
// unconstrained. Integral results come back as Kind::Integer when they fit.
Value RoundNumber(const Value& number, int precision, int scale);
// Doubles that hold an exact integer in range become integers; non-finite raise ORA-01426.
Value NormalizeNumber(double value);

// Dates are stored as "YYYY-MM-DD HH:MI:SS" ("-YYYY-..." before Christ), so text order
// is date order for the years the program meets.
std::string StoredDate(const DateTime& date);
std::optional<DateTime> ParseStoredDate(std::string_view text);
bool ValidDate(const DateTime& date);
int DaysInMonth(int year, int month);
// Day number (proleptic Gregorian, 1970-01-01 is 0) and back.
std::int64_t DayNumber(int year, int month, int day);
void FromDayNumber(std::int64_t days, int& year, int& month, int& day);
// The current local date and time.
DateTime Now();

// Characters in UTF-8 text; a byte that starts no valid sequence counts as one character.
std::size_t CharCount(std::string_view text);
// Byte offset of character `index` (0-based), or text.size() past the end.
std::size_t CharOffset(std::string_view text, std::size_t index);

std::string RawToHex(std::string_view raw);
std::string HexToRaw(std::string_view hex);  // ORA-01465 for a bad digit

// Raises ORA-01821 for a format model TO_CHAR and TO_DATE would not accept.
void ValidateDateFormat(std::string_view format);

// Oracle's text of a value of the given kind in a session date format.
std::string ValueText(const Value& value, std::string_view dateFormat);

}  // namespace velnor::ocisqlite::sql
