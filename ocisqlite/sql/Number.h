// Exact decimal numbers as Oracle's NUMBER holds them: at most 20 base-100 digits (38 to 40
// decimal digits), from 1E-130 to below 1E126, and Oracle's byte-comparable internal form.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace velnor::ocisqlite::sql {

// value = (negative ? -1 : 1) * 0.digits * 10^exponent; digits has no leading or trailing
// zeros and is empty for zero.
struct Decimal {
    bool negative = false;
    std::string digits;
    int exponent = 0;

    [[nodiscard]] bool IsZero() const noexcept { return digits.empty(); }
    bool operator==(const Decimal&) const = default;

    static Decimal FromInt(std::int64_t value);
    static Decimal FromUnsigned(std::uint64_t value);
    // The shortest digits that read back as the same double; ORA-01426 for Inf/NaN.
    static Decimal FromDouble(double value);
    // Exact, any number of digits (not yet fitted); ORA-01722 for anything else.
    static Decimal Parse(std::string_view text);
    // Oracle's internal form (exponent byte, base-100 digits); ORA-01722 when malformed.
    static Decimal FromBytes(const unsigned char* bytes, std::size_t length);
};

// Rounds half away from zero to what a NUMBER holds: ORA-01426 at 1E126 and above, zero
// below 1E-130.
[[nodiscard]] Decimal Fit(Decimal value);
// Rounds half away from zero (or truncates) to `scale` decimal places (negative: left of
// the point).
[[nodiscard]] Decimal RoundTo(const Decimal& value, int scale, bool truncate = false);

[[nodiscard]] int Compare(const Decimal& a, const Decimal& b);
[[nodiscard]] Decimal Add(const Decimal& a, const Decimal& b);
[[nodiscard]] Decimal Subtract(const Decimal& a, Decimal b);
[[nodiscard]] Decimal Multiply(const Decimal& a, const Decimal& b);
// ORA-01476 for a zero divisor; the quotient is fitted.
[[nodiscard]] Decimal Divide(const Decimal& a, const Decimal& b);

// Oracle's internal form of a fitted value: 1 to 21 bytes, memcmp order is numeric order.
[[nodiscard]] std::string OracleBytes(const Decimal& value);
// Oracle's text of a number without a format: "0", ".5", "-12.25", "1E+100".
[[nodiscard]] std::string OracleText(const Decimal& value);
// The same straight from the internal form.
[[nodiscard]] std::string OracleText(const unsigned char* bytes, std::size_t length);
// OracleText when that keeps every digit, else a scientific form that does.
[[nodiscard]] std::string ExactText(const Decimal& value);
// Plain positional digits of |value| with exactly `decimals` places ("0.50", "12").
[[nodiscard]] std::string PositionalText(const Decimal& value, int decimals);
[[nodiscard]] std::optional<std::int64_t> ToInt64(const Decimal& value);
[[nodiscard]] double ToDouble(const Decimal& value);
// Integer digits left of the point (may be negative for values below .1).
[[nodiscard]] inline int IntegerDigits(const Decimal& value) { return value.exponent; }

}  // namespace velnor::ocisqlite::sql
