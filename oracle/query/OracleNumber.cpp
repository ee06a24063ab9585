#include "oracle/query/OracleNumber.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>

#include "platform/DateTime.h"

namespace velnor::oracle {
namespace {

using platform::EConvertError;

bool IsDigit(char c) noexcept { return c >= '0' && c <= '9'; }

// Exponents far beyond any NUMBER are kept at this size; a written exponent may go further, so
// the canonical text of a value at the limit reads back to the same limit.
constexpr std::int64_t kExponentLimit = 1'000'000'000;
constexpr std::int64_t kWrittenExponentLimit = 1'000'000'000'000'000;

constexpr std::uint8_t kZero = 0x80;
constexpr std::uint8_t kNegativeTerminator = 102;
constexpr int kMaxMantissa = 20;
constexpr int kMinExponent100 = -64;  // exponent byte 0x80 with a digit: 1E-130
constexpr int kMaxExponent100 = 63;   // exponent byte 0xFF: below 1E126

std::string ByteList(const std::uint8_t* bytes, std::size_t length) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string text;
    for (std::size_t i = 0; i < length; ++i) {
        if (i > 0) text += ' ';
        text += kHex[bytes[i] >> 4];
        text += kHex[bytes[i] & 0x0F];
    }
    return text;
}

[[noreturn]] void RaiseInvalid(const std::uint8_t* bytes, std::size_t length) {
    throw EConvertError("Invalid Oracle NUMBER (bytes " + ByteList(bytes, length) + ")");
}

}  // namespace

int NumberColumnDigits(int precision, int scale) noexcept {
    constexpr int kFloatScale = -127;
    if (precision <= 0) return static_cast<int>(OracleNumberMaxDigits);
    if (scale != kFloatScale) return precision;
    // Binary to decimal precision: b x log10(2), with log10(2) = 0.30103 as Oracle gives it.
    return static_cast<int>((static_cast<long long>(precision) * 30103 + 99999) / 100000);
}

std::optional<TDecimal> ParseDecimal(std::string_view text, std::string_view decimalSymbol) {
    TDecimal result;
    std::size_t i = 0;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) result.negative = text[i++] == '-';

    std::size_t mantissaDigits = 0;
    std::int64_t exponent = 0;  // of 0.digits, before the literal's own exponent
    for (; i < text.size() && IsDigit(text[i]); ++i, ++mantissaDigits) {
        if (result.digits.empty() && text[i] == '0') continue;
        result.digits.push_back(text[i]);
        if (exponent < kExponentLimit) ++exponent;
    }
    std::size_t pointLength = 0;
    if (i < text.size()) {
        if (text[i] == '.')
            pointLength = 1;
        else if (!decimalSymbol.empty() && text.substr(i, decimalSymbol.size()) == decimalSymbol)
            pointLength = decimalSymbol.size();
    }
    if (pointLength != 0) {
        for (i += pointLength; i < text.size() && IsDigit(text[i]); ++i, ++mantissaDigits) {
            if (result.digits.empty() && text[i] == '0') {
                if (exponent > -kExponentLimit) --exponent;
                continue;
            }
            result.digits.push_back(text[i]);
        }
    }
    if (mantissaDigits == 0) return std::nullopt;

    if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
        ++i;
        bool negativeExponent = false;
        if (i < text.size() && (text[i] == '+' || text[i] == '-'))
            negativeExponent = text[i++] == '-';
        std::int64_t written = 0;
        std::size_t exponentDigits = 0;
        for (; i < text.size() && IsDigit(text[i]); ++i, ++exponentDigits)
            written = std::min(written * 10 + (text[i] - '0'), kWrittenExponentLimit);
        if (exponentDigits == 0) return std::nullopt;
        exponent += negativeExponent ? -written : written;
    }
    if (i != text.size()) return std::nullopt;

    while (!result.digits.empty() && result.digits.back() == '0') result.digits.pop_back();
    if (result.digits.empty()) return TDecimal{};
    result.exponent = static_cast<int>(std::clamp(exponent, -kExponentLimit, kExponentLimit));
    return result;
}

TDecimal DecimalFromDouble(double value) {
    if (!std::isfinite(value)) throw EConvertError("Not a finite number");
    char digits[32];
    const auto result = std::to_chars(digits, digits + sizeof digits, value);
    return *ParseDecimal(std::string_view(digits, static_cast<std::size_t>(result.ptr - digits)));
}

std::string DecimalToText(const TDecimal& value) {
    if (value.IsZero()) return "0";
    const int e = value.exponent;
    const auto n = static_cast<int>(value.digits.size());
    std::string out;  // short numbers stay in the string's own storage
    if (value.negative) out += '-';
    if (e > 40 || e < -6) {
        out += value.digits[0];
        if (n > 1) {
            out += '.';
            out.append(value.digits, 1);
        }
        out += 'E';
        out += std::to_string(e - 1);
    } else if (e <= 0) {
        out += "0.";
        out.append(static_cast<std::size_t>(-e), '0');
        out += value.digits;
    } else if (n <= e) {
        out += value.digits;
        out.append(static_cast<std::size_t>(e - n), '0');
    } else {
        out.append(value.digits, 0, static_cast<std::size_t>(e));
        out += '.';
        out.append(value.digits, static_cast<std::size_t>(e));
    }
    return out;
}

std::size_t EncodeOracleNumber(const TDecimal& value, std::uint8_t* bytes) {
    if (value.IsZero()) {
        bytes[0] = kZero;
        return 1;
    }
    // Base-100 digits pair up decimal digits from the point, so an odd decimal exponent
    // puts a zero before the first digit.
    const bool odd = (value.exponent % 2) != 0;
    const int exponent100 = odd ? (value.exponent + 1) / 2 : value.exponent / 2;
    if (exponent100 > kMaxExponent100)
        throw EConvertError("Number out of the range of Oracle NUMBER (1E126 or more): " +
                            DecimalToText(value));
    if (exponent100 < kMinExponent100)
        throw EConvertError("Number out of the range of Oracle NUMBER (below 1E-130): " +
                            DecimalToText(value));
    const std::size_t padded = value.digits.size() + (odd ? 1 : 0);
    const auto mantissa = static_cast<int>((padded + 1) / 2);
    if (mantissa > kMaxMantissa)
        throw EConvertError("Number has more significant digits than Oracle NUMBER holds: " +
                            DecimalToText(value));

    const auto positiveExponent = static_cast<std::uint8_t>(0x80 + 64 + exponent100);
    bytes[0] = value.negative ? static_cast<std::uint8_t>(~positiveExponent) : positiveExponent;
    for (int k = 0; k < mantissa; ++k) {
        const auto at = [&](std::size_t padIndex) -> int {
            if (odd && padIndex == 0) return 0;
            const std::size_t index = padIndex - (odd ? 1 : 0);
            return index < value.digits.size() ? value.digits[index] - '0' : 0;
        };
        const int digit =
            at(2 * static_cast<std::size_t>(k)) * 10 + at(2 * static_cast<std::size_t>(k) + 1);
        bytes[1 + k] = static_cast<std::uint8_t>(value.negative ? 101 - digit : digit + 1);
    }
    std::size_t length = 1 + static_cast<std::size_t>(mantissa);
    if (value.negative && mantissa < kMaxMantissa) bytes[length++] = kNegativeTerminator;
    return length;
}

bool FitsOracleNumber(const TDecimal& value) noexcept {
    if (value.IsZero()) return true;
    const bool odd = (value.exponent % 2) != 0;
    const int exponent100 = odd ? (value.exponent + 1) / 2 : value.exponent / 2;
    return exponent100 >= kMinExponent100 && exponent100 <= kMaxExponent100 &&
           value.digits.size() + (odd ? 1 : 0) <= 2 * static_cast<std::size_t>(kMaxMantissa);
}

void EncodeOracleVarnum(const TDecimal& value, std::uint8_t* bytes) {
    bytes[0] = static_cast<std::uint8_t>(EncodeOracleNumber(value, bytes + 1));
}

TDecimal DecodeOracleNumber(const std::uint8_t* bytes, std::size_t length) {
    if (length == 0 || length > OracleNumberMaxLength) RaiseInvalid(bytes, length);
    if (length == 1 && bytes[0] == kZero) return TDecimal{};
    TDecimal result;
    result.negative = (bytes[0] & 0x80) == 0;
    std::size_t mantissaEnd = length;
    if (result.negative && bytes[length - 1] == kNegativeTerminator) --mantissaEnd;
    // Zero has no mantissa; a lone 0x00 or a digit of 101 marks the legacy infinities.
    if (mantissaEnd < 2 || mantissaEnd - 1 > kMaxMantissa) RaiseInvalid(bytes, length);
    const std::uint8_t exponentByte =
        result.negative ? static_cast<std::uint8_t>(~bytes[0]) : bytes[0];
    const int exponent100 = (exponentByte & 0x7F) - 64;

    result.digits.reserve(2 * (mantissaEnd - 1));
    for (std::size_t k = 1; k < mantissaEnd; ++k) {
        const int digit = result.negative ? 101 - bytes[k] : bytes[k] - 1;
        if (digit < 0 || digit > 99) RaiseInvalid(bytes, length);
        result.digits += static_cast<char>('0' + digit / 10);
        result.digits += static_cast<char>('0' + digit % 10);
    }
    if (result.digits[0] == '0' && result.digits[1] == '0') RaiseInvalid(bytes, length);
    result.exponent = 2 * exponent100;
    if (result.digits[0] == '0') {
        result.digits.erase(0, 1);
        --result.exponent;
    }
    while (result.digits.back() == '0') result.digits.pop_back();
    return result;
}

TDecimal DecodeOracleVarnum(const std::uint8_t* bytes) {
    return DecodeOracleNumber(bytes + 1, bytes[0]);
}

}  // namespace velnor::oracle
