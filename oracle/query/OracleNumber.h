// Exact decimal values and Oracle's NUMBER format, the buffers of external types 2 (NUMBER)
// and 6 (VARNUM), so numbers travel without a binary double in between.
#pragma once
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace velnor::oracle {

// value = -1^negative x 0.d1 d2 ... dn x 10^exponent. `digits` holds no leading and no
// trailing zeros; zero has no digits, is never negative and has exponent 0.
struct TDecimal {
    bool negative = false;
    std::string digits;
    int exponent = 0;

    [[nodiscard]] bool IsZero() const noexcept { return digits.empty(); }
    friend bool operator==(const TDecimal&, const TDecimal&) = default;
};

// Bytes of a NUMBER value: an exponent byte and up to 20 base-100 digits (21 bytes); a VARNUM
// puts a length byte in front.
inline constexpr std::size_t OracleNumberMaxLength = 21;
inline constexpr std::size_t OracleVarnumSize = 22;
// 20 base-100 digits hold 40 decimal digits when the decimal point falls between two pairs,
// 39 otherwise.
inline constexpr std::size_t OracleNumberMaxDigits = 40;

// The most significant digits a NUMBER column can hold, from its described precision and
// scale: p for NUMBER(p,s), 40 for NUMBER without precision (0, -127), and the decimal digits
// of b bits, rounded up, for FLOAT(b) (b, -127). Columns of at most 15 digits fit a double.
[[nodiscard]] int NumberColumnDigits(int precision, int scale) noexcept;

// A decimal literal: optional sign, digits with an optional point ("." or `decimalSymbol`),
// at least one digit, optional exponent "E" or "e" with optional sign and digits. No blanks,
// no hexadecimal, no INF or NAN. nullopt when `text` is none; the exponent may be as large as
// it likes (range is the encoder's business).
[[nodiscard]] std::optional<TDecimal> ParseDecimal(std::string_view text,
                                                   std::string_view decimalSymbol = ".");

// The shortest digits that read back to `value` (0.1 gives 0.1). Raises platform::EConvertError
// for NaN and infinities.
[[nodiscard]] TDecimal DecimalFromDouble(double value);

// A locale-free text ParseDecimal reads back to the same value: positional ("-1234.5",
// "0.00012") while the integer part has at most 40 digits and at most 6 zeros follow the
// point, else one digit before the point and an exponent ("1.5E-130", "-1E126").
[[nodiscard]] std::string DecimalToText(const TDecimal& value);

// Writes the NUMBER bytes of `value` (room for OracleNumberMaxLength) and returns their count.
// Raises platform::EConvertError, writing nothing, for a value outside 1E-130 .. below 1E126
// in magnitude or with more digits than 20 base-100 digits hold: a stored value would differ.
std::size_t EncodeOracleNumber(const TDecimal& value, std::uint8_t* bytes);
// Whether EncodeOracleNumber takes `value` without raising.
[[nodiscard]] bool FitsOracleNumber(const TDecimal& value) noexcept;
// The same as a VARNUM: the count in the first byte, the NUMBER after it (22 bytes of room).
void EncodeOracleVarnum(const TDecimal& value, std::uint8_t* bytes);

// Reads `length` NUMBER bytes. Raises platform::EConvertError for bytes no NUMBER has (bad
// length or digit, misplaced terminator) and for the legacy infinities.
[[nodiscard]] TDecimal DecodeOracleNumber(const std::uint8_t* bytes, std::size_t length);
[[nodiscard]] TDecimal DecodeOracleVarnum(const std::uint8_t* bytes);

}  // namespace velnor::oracle
