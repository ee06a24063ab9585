// Turns the fields of one CSV record into the values of a table's columns.
#pragma once
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "oracle/Oracle.h"

namespace velnor::app {

// The date form of the files: 14 digits, year to second.
inline constexpr const char* kCsvDateFormat = "YYYYMMDDHH24MISS";
// The timestamp forms; the sign of the year appears only before Christ.
inline constexpr const char* kCsvTimestampFormat = "SYYYY-MM-DD HH24:MI:SS.FF";
inline constexpr const char* kCsvTimestampTzFormat = "SYYYY-MM-DD HH24:MI:SS.FF TZH:TZM";

// How a column's values are written and read back.
enum class TCsvForm {
    Integer,
    Float,
    Number,
    Text,
    Date,
    Raw,      // upper-case hexadecimal text
    Long,     // text of any length
    LongRaw,  // hexadecimal text of any length
    Timestamp,
    TimestampTz,   // with the zone's offset
    TimestampLtz,  // written in UTC with "+00:00", so any session reads the same instant
    IntervalYm,
    IntervalDs,
    BinaryFloat,  // shortest digits, Nan, Inf, -Inf
    BinaryDouble,
    Lob,              // CLOB, NCLOB, BLOB
    Unrepresentable,  // object, REF, cursor, BFILE or a type unknown to the files
};

// The form of a column of the given field type and described internal type; an internal
// type of 0 (not told) goes by the field type alone.
[[nodiscard]] TCsvForm CsvFormOf(int fieldType, int internalType) noexcept;

// Oracle's name of a column's type, for messages.
[[nodiscard]] std::string CsvTypeName(int fieldType, int internalType);

struct TCsvColumn {
    std::string name;
    // The access layer's field type and the described internal type (0 when not told).
    int type = 0;
    int internalType = 0;
    [[nodiscard]] TCsvForm Form() const noexcept { return CsvFormOf(type, internalType); }
};

struct TCsvValue {
    enum class Kind { Null, Number, Text, Bytes, Binary };
    Kind kind = Kind::Null;
    // Text: the string, a date's 14 digits, a timestamp or interval in the form the SQL
    // conversion reads; Number: oracle::DecimalToText, every digit; Bytes: the raw bytes.
    std::string text;
    double binary = 0;  // Binary: the BINARY_FLOAT or BINARY_DOUBLE value
};

class TCsvRowConverter {
public:
    // `decimalSymbol` is accepted in numbers besides ".".
    TCsvRowConverter(std::vector<TCsvColumn> columns, std::string decimalSymbol);

    [[nodiscard]] const std::vector<TCsvColumn>& Columns() const noexcept { return columns_; }

    // One value per column. Missing trailing fields are empty; more fields than columns and
    // a field not in its column's form raise ECsvError naming the line, the column and the
    // value. An empty field is NULL in every column but a text or LONG one.
    void Convert(std::span<const std::string> fields, std::int64_t line,
                 std::vector<TCsvValue>& values) const;

    // 14 digits naming an existing date and time in the years 1 to 9999.
    [[nodiscard]] static bool IsDateText(std::string_view text) noexcept;

    // Oracle's 7-byte DATE of 14 digits IsDateText accepts.
    static void DateBytes(std::string_view digits, std::uint8_t* bytes) noexcept;
    // The VARNUM (22 bytes of room) of a number's text as Convert gives it.
    static void NumberVarnum(std::string_view text, std::uint8_t* bytes);

    // The file's timestamp form ("[-]YYYY-MM-DD HH:MI:SS[.F...][ +HH:MM]", the zone present
    // exactly when `zoned`) as read by kCsvTimestampFormat: the fraction always present.
    // Empty when the text is no such timestamp.
    [[nodiscard]] static std::string TimestampText(std::string_view text, bool zoned);
    // The same into `out`, reusing its room; false when the text is no such timestamp.
    static bool TimestampText(std::string_view text, bool zoned, std::string& out);
    // Oracle's interval literal form: "[+-]Y-MM" or "[+-]D HH:MI:SS[.F...]".
    [[nodiscard]] static bool IsIntervalText(std::string_view text, bool dayToSecond) noexcept;

private:
    std::vector<TCsvColumn> columns_;
    std::string decimalSymbol_;
};

}  // namespace velnor::app
