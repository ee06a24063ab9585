#include "app/core/CsvNumber.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>

#include "platform/DateTime.h"

namespace velnor::app {
namespace {

bool IsBlank(char c) noexcept { return c == ' ' || c == '\t'; }
bool IsDigit(char c) noexcept { return c >= '0' && c <= '9'; }

// Whether `t` reads as a NUMBER and DecimalToText gives `t` back: "-"?, an integer part
// without leading zeros, "." and digits not ending in 0, few zeros after "0.", at most 38
// digits (a NUMBER holds 38 in any alignment).
bool IsCanonical(std::string_view t) noexcept {
    std::size_t i = t.starts_with('-') ? 1 : 0;
    const std::size_t intStart = i;
    while (i < t.size() && IsDigit(t[i])) ++i;
    const std::size_t intDigits = i - intStart;
    if (intDigits == 0 || (intDigits > 1 && t[intStart] == '0')) return false;
    if (i == t.size()) return intDigits <= 38 && t != "-0";
    if (t[i] != '.') return false;
    const std::size_t fracStart = ++i;
    while (i < t.size() && IsDigit(t[i])) ++i;
    if (i != t.size() || i == fracStart || t.back() == '0') return false;
    if (t[intStart] == '0') {
        std::size_t zeros = 0;
        while (t[fracStart + zeros] == '0') ++zeros;
        if (zeros > 3) return false;
    }
    return intDigits + (i - fracStart) <= 38;
}

}  // namespace

void AppendCsvNumberText(std::string& out, const oracle::TDecimal& value,
                         const platform::TRegionalSettings& settings) {
    if (value.IsZero()) {
        out += '0';
        return;
    }
    const std::string& digits = value.digits;
    const auto count = static_cast<int>(digits.size());
    const int precision = std::max(15, count);
    const int e = value.exponent;  // value = 0.d1d2... x 10^e

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
}

std::string CsvNumberText(const oracle::TDecimal& value,
                          const platform::TRegionalSettings& settings) {
    std::string out;
    out.reserve(value.digits.size() + settings.decimalSymbol.size() + 8);
    AppendCsvNumberText(out, value, settings);
    return out;
}

TCsvNumberKind CsvNumberLiteral(std::string_view field, std::string_view decimalSymbol,
                                std::string& text) {
    while (!field.empty() && IsBlank(field.front())) field.remove_prefix(1);
    while (!field.empty() && IsBlank(field.back())) field.remove_suffix(1);
    if (IsCanonical(field)) {
        text.assign(field);
        return TCsvNumberKind::Number;
    }
    if (field == "INF" || field == "-INF" || field == "NAN") return TCsvNumberKind::NonFinite;
    const auto value = oracle::ParseDecimal(field, decimalSymbol);
    if (!value) return TCsvNumberKind::NotNumber;
    if (!oracle::FitsOracleNumber(*value)) {
        std::uint8_t bytes[oracle::OracleNumberMaxLength];
        try {
            (void)oracle::EncodeOracleNumber(*value, bytes);
        } catch (const platform::EConvertError& e) {
            text = e.Message();
            return TCsvNumberKind::OutOfRange;
        }
    }
    text = oracle::DecimalToText(*value);
    return TCsvNumberKind::Number;
}

}  // namespace velnor::app
