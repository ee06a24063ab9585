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

struct TCsvColumn {
    std::string name;
    // The access layer's field type: the files tell otInteger, otFloat, otString and otDate
    // apart; a column of any other type is written empty and read as NULL.
    int type = 0;
};

struct TCsvValue {
    enum class Kind { Null, Number, Text };
    Kind kind = Kind::Null;
    // Text: the string, or a date's 14 digits; Number: oracle::DecimalToText, every digit.
    std::string text;
};

class TCsvRowConverter {
public:
    // `decimalSymbol` is accepted in numbers besides ".".
    TCsvRowConverter(std::vector<TCsvColumn> columns, std::string decimalSymbol);

    [[nodiscard]] const std::vector<TCsvColumn>& Columns() const noexcept { return columns_; }

    // One value per column. Missing trailing fields are empty; more fields than columns,
    // a numeric field that is not a number and a date field that is not a date raise
    // ECsvError naming the line, the column and the value. Empty numbers and dates are NULL.
    void Convert(std::span<const std::string> fields, std::int64_t line,
                 std::vector<TCsvValue>& values) const;

    // 14 digits naming an existing date and time in the years 1 to 9999.
    [[nodiscard]] static bool IsDateText(std::string_view text) noexcept;

private:
    std::vector<TCsvColumn> columns_;
    std::string decimalSymbol_;
};

}  // namespace velnor::app
