// Conversions shared by the engine: NUMBER rounding and range, the stored DATE text,
// character counting and RAW as hex.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "ocisqlite/sql/Engine.h"
#include "ocisqlite/sql/Number.h"

namespace velnor::ocisqlite::sql {

[[noreturn]] void Fail(int code, std::string text);

// Rounds a number to `scale` decimal places, half away from zero, and raises ORA-01438
// when it needs more than precision - scale integer digits. precision 0 means
// unconstrained. scale kFloatScale rounds to FLOAT(precision)'s binary digits instead.
Value RoundNumber(const Value& number, int precision, int scale);
inline constexpr int kFloatScale = -127;
// The NUMBER nearest a binary double (its shortest digits); non-finite raise ORA-01426.
Value NormalizeNumber(double value);
// Canonical NUMBER bytes (Oracle's internal form as OracleBytes writes it) into the Value
// Value::Number would make of them, reusing out's storage; false for any other bytes.
bool ReadNumberBytes(const unsigned char* bytes, std::size_t length, Value& out);
// True when RoundNumber(number, precision, scale) would give `number` unchanged; false when
// it would round, fail or is not known to do neither.
bool StoresAsIs(const Value& number, int precision, int scale);
// The exact value of a number Value (Integer, Double, Decimal); others raise ORA-00932.
Decimal DecimalOf(const Value& number);

// Dates are stored as "YYYY-MM-DD HH:MI:SS" ("-YYYY-..." before Christ), so text order
// is date order for the years the program meets.
std::string StoredDate(const DateTime& date);
void AppendStoredDate(std::string& out, const DateTime& date);
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

// Appends v in decimal as printf's "%0*lld" writes it, without the per-call cost of
// formatting: at least `width` characters, zero-filled after any sign.
void AppendDigits(std::string& out, long long v, int width);

std::string RawToHex(std::string_view raw);
std::string HexToRaw(std::string_view hex);  // ORA-01465 for a bad digit

// Raises ORA-01821 for a format model TO_CHAR and TO_DATE would not accept.
void ValidateDateFormat(std::string_view format);

// Oracle's text of a value of the given kind in a session date format.
std::string ValueText(const Value& value, std::string_view dateFormat);

}  // namespace velnor::ocisqlite::sql

namespace velnor::ocisqlite::sql {

// TIMESTAMP values are stored as "YYYY-MM-DD HH:MI:SS.nnnnnnnnn", so text order is time
// order; WITH TIME ZONE as the UTC time followed by " +HH:MM" (the zone it was given in),
// WITH LOCAL TIME ZONE as the UTC time. Zones are minutes east of UTC.
bool IsTimestamp(int code);
DateTime ShiftMinutes(DateTime d, std::int64_t minutes);
DateTime RoundFraction(DateTime d, int precision);  // half up; ORA-01841 past year 9999
std::string StoredTimestamp(DateTime d, int code, int precision, int sessionZone);
// The value in its own zone (WITH TIME ZONE) or in the session's (WITH LOCAL TIME ZONE).
std::optional<DateTime> ParseStoredTimestamp(std::string_view text, int code, int sessionZone);
int LocalZone();
int ParseZoneOffset(std::string_view text);  // "+05:30", "-08:00", "UTC"; ORA-01882

// INTERVAL YEAR TO MONTH is stored as months, DAY TO SECOND as nanoseconds. Text is the
// literal form: "[+-]Y-M", "[+-]D HH:MI:SS.fffffffff" (ORA-01867, ORA-01873).
std::int64_t ParseInterval(std::string_view text, int code, int leading, int fraction);
std::string IntervalText(std::int64_t value, int code, int leading, int fraction);

// BINARY_DOUBLE / BINARY_FLOAT as Oracle writes them: "1.5E+000", "Nan", "Inf", "-Inf".
std::string BinaryText(double value, bool single);
double TextToBinary(std::string_view text, bool single);  // also "NaN", "INF"; ORA-01722

}  // namespace velnor::ocisqlite::sql
