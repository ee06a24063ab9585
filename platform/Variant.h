// A tagged value for field values and bind variables, and the text forms of numbers.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "platform/DateTime.h"
#include "platform/Exception.h"

namespace velnor::platform {

struct TRegionalSettings;

// A variant that cannot be converted to the kind asked for.
class EVariantError : public Exception {
public:
    using Exception::Exception;
};

enum class TVariantKind {
    vkUnassigned,
    vkNull,
    vkInteger,
    vkFloat,
    vkDate,
    vkString,
    vkBytes,
    vkArray
};

// "Unassigned", "Null", "Integer", "Float", "Date", "String", "Bytes", "Array".
[[nodiscard]] const char* VariantKindName(TVariantKind kind) noexcept;

// Value type. Scalars copy cheaply; strings, byte arrays and variant arrays copy deeply.
// Text is a byte string; byte arrays are indexed from 0, variant arrays from a lower bound.
class TVariant {
public:
    TVariant() noexcept = default;  // Unassigned
    TVariant(std::int32_t value) noexcept : value_(value) {}
    TVariant(double value) noexcept : value_(value) {}
    TVariant(std::string value) noexcept : value_(std::move(value)) {}
    TVariant(std::string_view value) : value_(std::string(value)) {}
    TVariant(const char* value) : value_(std::string(value)) {}
    TVariant(bool) = delete;  // no boolean kind: say which number is meant

    [[nodiscard]] static TVariant Unassigned() noexcept { return {}; }
    [[nodiscard]] static TVariant Null() noexcept;
    [[nodiscard]] static TVariant FromDateTime(TDateTime value) noexcept;
    [[nodiscard]] static TVariant FromBytes(std::vector<std::uint8_t> bytes) noexcept;
    [[nodiscard]] static TVariant FromBytes(const void* data, std::size_t count);
    // Elements low..high, all Unassigned; high = low - 1 gives an empty array.
    // Raises EVariantError when high < low - 1.
    [[nodiscard]] static TVariant Array(int low, int high);
    [[nodiscard]] static TVariant Array(std::vector<TVariant> elements, int low = 0);

    [[nodiscard]] TVariantKind Kind() const noexcept {
        return static_cast<TVariantKind>(value_.index());
    }
    [[nodiscard]] bool IsUnassigned() const noexcept {
        return Kind() == TVariantKind::vkUnassigned;
    }
    [[nodiscard]] bool IsNull() const noexcept { return Kind() == TVariantKind::vkNull; }
    // Unassigned or Null: "no value" for a bind or a field.
    [[nodiscard]] bool IsEmpty() const noexcept { return value_.index() <= 1; }
    // A byte array or a variant array.
    [[nodiscard]] bool IsArray() const noexcept { return value_.index() >= 6; }

    // Conversions. Unassigned gives 0 or ""; Null, arrays and values out of the target's range
    // raise EVariantError; a text that does not parse raises EConvertError with the parser's
    // message. Floats become integers rounded to nearest, ties to even.
    [[nodiscard]] std::int32_t AsInteger() const;
    [[nodiscard]] double AsFloat() const;
    [[nodiscard]] TDateTime AsDateTime() const;
    // Integers and floats in their text forms (IntToText, FloatToText), date-times by
    // DateTimeToText, text as it is.
    [[nodiscard]] std::string AsString() const;
    // A byte array's bytes, or a text's bytes; anything else raises EVariantError.
    [[nodiscard]] std::vector<std::uint8_t> AsBytes() const;

    // Direct access without conversion; raise EVariantError for another kind.
    [[nodiscard]] const std::string& StringRef() const;
    [[nodiscard]] const std::vector<std::uint8_t>& BytesRef() const;
    [[nodiscard]] std::vector<std::uint8_t>& BytesRef();

    // Arrays (bytes or variants). Raise EVariantError on a non-array or an index out of bounds.
    [[nodiscard]] int LowBound() const;
    [[nodiscard]] int HighBound() const;
    [[nodiscard]] int ElementCount() const;
    // A byte comes back as an integer variant.
    [[nodiscard]] TVariant Element(int index) const;
    // Storing into a byte array takes an integer 0..255.
    void SetElement(int index, const TVariant& value);
    // Keeps the lower bound and the elements that still fit; new ones are Unassigned (0 bytes).
    void Redim(int high);

    // Same kind and same value (a Float 1.0 is not equal to the Integer 1, nor to a Date).
    friend bool operator==(const TVariant& a, const TVariant& b);

private:
    struct NullTag {
        friend bool operator==(NullTag, NullTag) noexcept { return true; }
    };
    struct DateValue {
        TDateTime value;
        friend bool operator==(DateValue a, DateValue b) noexcept { return a.value == b.value; }
    };
    struct ArrayValue {
        int low = 0;
        std::vector<TVariant> elements;
        friend bool operator==(const ArrayValue&, const ArrayValue&) = default;
    };
    [[noreturn]] void Fail(const char* target) const;
    std::variant<std::monostate, NullTag, std::int32_t, double, DateValue, std::string,
                 std::vector<std::uint8_t>, ArrayValue>
        value_;
};

// Text forms of numbers, with the decimal symbol of the regional settings.
// Decimal, "-" for negatives, no grouping.
[[nodiscard]] std::string IntToText(std::int64_t value);
// General form with 15 significant digits: fixed between 1E-4 and 1E15, else d.dddE[-]x;
// "INF", "-INF", "NAN" for the non-finite values.
[[nodiscard]] std::string FloatToText(double value);
[[nodiscard]] std::string FloatToText(double value, const TRegionalSettings& settings);
// FloatToText's text appended to `out`.
void AppendFloatText(std::string& out, double value, const TRegionalSettings& settings);
// Leading blanks, an optional sign and decimal digits, or hexadecimal after "$", "x" or "0x";
// raises EConvertError "'%s' は整数ではありません" for anything else or outside 32 bits.
[[nodiscard]] std::int32_t TextToInteger(std::string_view text);
// An optional sign, digits with the locale's decimal symbol, an optional exponent, blanks
// around; raises EConvertError "'%s' は浮動小数点数ではありません".
[[nodiscard]] double TextToFloat(std::string_view text);
[[nodiscard]] double TextToFloat(std::string_view text, const TRegionalSettings& settings);

}  // namespace velnor::platform
