#include "app/core/CsvNumber.h"

#include <algorithm>
#include <cstdlib>

namespace velnor::app {
namespace {

bool IsBlank(char c) noexcept { return c == ' ' || c == '\t'; }

}  // namespace

std::string CsvNumberText(const oracle::TDecimal& value,
                          const platform::TRegionalSettings& settings) {
    if (value.IsZero()) return "0";
    const std::string& digits = value.digits;
    const auto count = static_cast<int>(digits.size());
    const int precision = std::max(15, count);
    const int e = value.exponent;  // value = 0.d1d2... x 10^e

    std::string out;
    out.reserve(digits.size() + settings.decimalSymbol.size() + 8);
    if (value.negative) out += '-';
    if (e > precision || e < -3) {
        out += digits[0];
        if (count > 1) {
            out += settings.decimalSymbol;
            out.append(digits, 1);
        }
        out += 'E';
        if (e - 1 < 0) out += '-';
        out += std::to_string(std::abs(e - 1));
    } else if (e <= 0) {
        out += '0';
        out += settings.decimalSymbol;
        out.append(static_cast<std::size_t>(-e), '0');
        out += digits;
    } else if (count <= e) {
        out += digits;
        out.append(static_cast<std::size_t>(e - count), '0');
    } else {
        out.append(digits, 0, static_cast<std::size_t>(e));
        out += settings.decimalSymbol;
        out.append(digits, static_cast<std::size_t>(e));
    }
    return out;
}

std::optional<std::string> CsvNumberLiteral(std::string_view field,
                                            std::string_view decimalSymbol) {
    while (!field.empty() && IsBlank(field.front())) field.remove_prefix(1);
    while (!field.empty() && IsBlank(field.back())) field.remove_suffix(1);
    if (field == "INF" || field == "-INF" || field == "NAN") return std::string(field);
    const auto value = oracle::ParseDecimal(field, decimalSymbol);
    if (!value) return std::nullopt;
    return oracle::DecimalToText(*value);
}

}  // namespace velnor::app
