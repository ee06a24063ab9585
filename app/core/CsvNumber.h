// Exact NUMBER values in the CSV files: the text the export writes and the literal the import
// reads, both without a binary double in between.
#pragma once
#include <optional>
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

// A numeric field as the import accepts it: blanks around, sign, digits with "." or
// `decimalSymbol`, exponent; INF, -INF and NAN as the export writes them for floats. Gives the
// canonical text (oracle::DecimalToText, or "INF", "-INF", "NAN"), every digit kept; nullopt
// when the field is no number literal. Range and digit count are the encoder's to judge.
[[nodiscard]] std::optional<std::string> CsvNumberLiteral(std::string_view field,
                                                          std::string_view decimalSymbol);

}  // namespace velnor::app
