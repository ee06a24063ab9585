// Exact NUMBER values in the CSV files: the text the export writes and the literal the import
// reads, both without a binary double in between.
#pragma once
#include <string>
#include <string_view>

#include "oracle/query/OracleNumber.h"
#include "platform/RegionalSettings.h"

namespace velnor::app {

// The general form of FloatToText at precision P = max(15, significant digits): positional
// unless the value is below 1E-4 or needs more than P digits before the point, then one
// digit, the rest after the decimal symbol and "E" with the power ("1E15", "2,5E20",
// "1.234567890123456789E-5"). A value of at most 15 digits gets exactly FloatToText's text;
// a longer one keeps every digit, positional whenever FloatToText's rule allows it at the
// longer precision.
[[nodiscard]] std::string CsvNumberText(const oracle::TDecimal& value,
                                        const platform::TRegionalSettings& settings);
// CsvNumberText's text appended to `out`.
void AppendCsvNumberText(std::string& out, const oracle::TDecimal& value,
                         const platform::TRegionalSettings& settings);

enum class TCsvNumberKind {
    Number,      // `text` is the canonical text (oracle::DecimalToText), every digit
    NonFinite,   // INF, -INF or NAN as the export writes them for floats
    NotNumber,   // no number literal
    OutOfRange,  // a literal a NUMBER would change; `text` says why
};

// A numeric field as the import reads it: blanks around, sign, digits with "." or
// `decimalSymbol`, exponent. Plain integers and decimals already in canonical form are taken
// as they are, so the common field costs one scan and no exact parse.
[[nodiscard]] TCsvNumberKind CsvNumberLiteral(std::string_view field,
                                              std::string_view decimalSymbol, std::string& text);

}  // namespace velnor::app
