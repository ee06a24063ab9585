#include "platform/Variant.h"

#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>

#include "platform/RegionalSettings.h"

namespace velnor::platform {
namespace {

bool IsBlank(char c) noexcept { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

std::string_view Trim(std::string_view text) noexcept {
    while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
    while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
    return text;
}

[[noreturn]] void RaiseNotAnInteger(std::string_view text) {
    throw EConvertError("'" + std::string(text) + "' は整数ではありません");
}

[[noreturn]] void RaiseNotAFloat(std::string_view text) {
    throw EConvertError("'" + std::string(text) + "' は浮動小数点数ではありません");
}

int HexDigit(char c) noexcept {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

std::int32_t RoundToInteger(double value, TVariantKind from) {
    const double rounded = std::nearbyint(value);  // ties to even in the default rounding mode
    if (!(rounded >= -2147483648.0 && rounded <= 2147483647.0))
        throw EVariantError(std::string("Variant value out of range: ") + VariantKindName(from) +
                            " " + FloatToText(value) + " to Integer");
    return static_cast<std::int32_t>(rounded);
}

}  // namespace

const char* VariantKindName(TVariantKind kind) noexcept {
    switch (kind) {
        case TVariantKind::vkUnassigned:
            return "Unassigned";
        case TVariantKind::vkNull:
            return "Null";
        case TVariantKind::vkInteger:
            return "Integer";
        case TVariantKind::vkFloat:
            return "Float";
        case TVariantKind::vkDate:
            return "Date";
        case TVariantKind::vkString:
            return "String";
        case TVariantKind::vkBytes:
            return "Bytes";
        case TVariantKind::vkArray:
            return "Array";
    }
    return "?";
}

TVariant TVariant::Null() noexcept {
    TVariant v;
    v.value_ = NullTag{};
    return v;
}

TVariant TVariant::FromDateTime(TDateTime value) noexcept {
    TVariant v;
    v.value_ = DateValue{value};
    return v;
}

TVariant TVariant::FromBytes(std::vector<std::uint8_t> bytes) noexcept {
    TVariant v;
    v.value_ = std::move(bytes);
    return v;
}

TVariant TVariant::FromBytes(const void* data, std::size_t count) {
    const auto* p = static_cast<const std::uint8_t*>(data);
    return FromBytes(std::vector<std::uint8_t>(p, p + count));
}

TVariant TVariant::Array(int low, int high) {
    if (static_cast<std::int64_t>(high) < static_cast<std::int64_t>(low) - 1)
        throw EVariantError("Invalid variant array bounds " + std::to_string(low) + ".." +
                            std::to_string(high));
    const auto count = static_cast<std::size_t>(static_cast<std::int64_t>(high) - low + 1);
    TVariant v;
    v.value_ = ArrayValue{low, std::vector<TVariant>(count)};
    return v;
}

TVariant TVariant::Array(std::vector<TVariant> elements, int low) {
    if (elements.size() > static_cast<std::size_t>(std::numeric_limits<int>::max()) ||
        static_cast<std::int64_t>(low) + static_cast<std::int64_t>(elements.size()) - 1 >
            std::numeric_limits<int>::max())
        throw EVariantError("Variant array too large");
    TVariant v;
    v.value_ = ArrayValue{low, std::move(elements)};
    return v;
}

void TVariant::Fail(const char* target) const {
    throw EVariantError(std::string("Cannot convert a variant of type ") + VariantKindName(Kind()) +
                        " to " + target);
}

std::int32_t TVariant::AsInteger() const {
    switch (Kind()) {
        case TVariantKind::vkUnassigned:
            return 0;
        case TVariantKind::vkInteger:
            return std::get<std::int32_t>(value_);
        case TVariantKind::vkFloat:
            return RoundToInteger(std::get<double>(value_), Kind());
        case TVariantKind::vkDate:
            return RoundToInteger(std::get<DateValue>(value_).value, Kind());
        case TVariantKind::vkString:
            return TextToInteger(std::get<std::string>(value_));
        default:
            Fail("Integer");
    }
}

double TVariant::AsFloat() const {
    switch (Kind()) {
        case TVariantKind::vkUnassigned:
            return 0.0;
        case TVariantKind::vkInteger:
            return std::get<std::int32_t>(value_);
        case TVariantKind::vkFloat:
            return std::get<double>(value_);
        case TVariantKind::vkDate:
            return std::get<DateValue>(value_).value;
        case TVariantKind::vkString:
            return TextToFloat(std::get<std::string>(value_));
        default:
            Fail("Float");
    }
}

TDateTime TVariant::AsDateTime() const {
    switch (Kind()) {
        case TVariantKind::vkString:
            return TextToDateTime(std::get<std::string>(value_));
        case TVariantKind::vkUnassigned:
        case TVariantKind::vkInteger:
        case TVariantKind::vkFloat:
        case TVariantKind::vkDate:
            return AsFloat();
        default:
            Fail("Date");
    }
}

std::string TVariant::AsString() const {
    switch (Kind()) {
        case TVariantKind::vkUnassigned:
            return {};
        case TVariantKind::vkInteger:
            return IntToText(std::get<std::int32_t>(value_));
        case TVariantKind::vkFloat:
            return FloatToText(std::get<double>(value_));
        case TVariantKind::vkDate:
            return DateTimeToText(std::get<DateValue>(value_).value);
        case TVariantKind::vkString:
            return std::get<std::string>(value_);
        default:
            Fail("String");
    }
}

std::vector<std::uint8_t> TVariant::AsBytes() const {
    if (const auto* bytes = std::get_if<std::vector<std::uint8_t>>(&value_)) return *bytes;
    if (const auto* text = std::get_if<std::string>(&value_))
        return std::vector<std::uint8_t>(text->begin(), text->end());
    Fail("Bytes");
}

const std::string& TVariant::StringRef() const {
    if (const auto* text = std::get_if<std::string>(&value_)) return *text;
    Fail("String");
}

const std::vector<std::uint8_t>& TVariant::BytesRef() const {
    if (const auto* bytes = std::get_if<std::vector<std::uint8_t>>(&value_)) return *bytes;
    Fail("Bytes");
}

std::vector<std::uint8_t>& TVariant::BytesRef() {
    if (auto* bytes = std::get_if<std::vector<std::uint8_t>>(&value_)) return *bytes;
    Fail("Bytes");
}

int TVariant::LowBound() const {
    if (const auto* array = std::get_if<ArrayValue>(&value_)) return array->low;
    if (std::holds_alternative<std::vector<std::uint8_t>>(value_)) return 0;
    Fail("Array");
}

int TVariant::ElementCount() const {
    if (const auto* array = std::get_if<ArrayValue>(&value_))
        return static_cast<int>(array->elements.size());
    if (const auto* bytes = std::get_if<std::vector<std::uint8_t>>(&value_)) {
        if (bytes->size() > static_cast<std::size_t>(std::numeric_limits<int>::max()))
            throw EVariantError("Byte array too large");
        return static_cast<int>(bytes->size());
    }
    Fail("Array");
}

int TVariant::HighBound() const { return LowBound() + ElementCount() - 1; }

TVariant TVariant::Element(int index) const {
    const std::int64_t offset = static_cast<std::int64_t>(index) - LowBound();
    if (offset < 0 || offset >= ElementCount())
        throw EVariantError("Variant array index out of bounds: " + std::to_string(index));
    if (const auto* array = std::get_if<ArrayValue>(&value_))
        return array->elements[static_cast<std::size_t>(offset)];
    return TVariant(static_cast<std::int32_t>(BytesRef()[static_cast<std::size_t>(offset)]));
}

void TVariant::SetElement(int index, const TVariant& value) {
    const std::int64_t offset = static_cast<std::int64_t>(index) - LowBound();
    if (offset < 0 || offset >= ElementCount())
        throw EVariantError("Variant array index out of bounds: " + std::to_string(index));
    if (auto* array = std::get_if<ArrayValue>(&value_)) {
        array->elements[static_cast<std::size_t>(offset)] = value;
        return;
    }
    const std::int32_t byte = value.AsInteger();
    if (byte < 0 || byte > 255)
        throw EVariantError("Byte array element out of range: " + std::to_string(byte));
    BytesRef()[static_cast<std::size_t>(offset)] = static_cast<std::uint8_t>(byte);
}

void TVariant::Redim(int high) {
    const std::int64_t count = static_cast<std::int64_t>(high) - LowBound() + 1;
    if (count < 0) throw EVariantError("Invalid variant array bound " + std::to_string(high));
    if (auto* array = std::get_if<ArrayValue>(&value_))
        array->elements.resize(static_cast<std::size_t>(count));
    else
        BytesRef().resize(static_cast<std::size_t>(count));
}

bool operator==(const TVariant& a, const TVariant& b) { return a.value_ == b.value_; }

std::string IntToText(std::int64_t value) {
    char buf[24];
    const auto result = std::to_chars(buf, buf + sizeof buf, value);
    return std::string(buf, result.ptr);
}

namespace {

// The significant digits of |value| (no trailing zeros) and e with |value| = 0.d1d2... x 10^e,
// correctly rounded to 15 digits. Returns the digit count.
int FifteenDigits(double value, char (&digits)[17], int& e) {
    const double magnitude = std::fabs(value);
    char sci[32];
    // The shortest digits that read back: when there are at most 15 of them, rounding the
    // exact value to 15 digits gives the same ones (a normal double's half unit is far below
    // half a unit of the 15th digit), so the slower fixed-precision conversion is needed only
    // beyond, and for subnormals, whose precision is less.
    const bool normal = magnitude >= std::numeric_limits<double>::min();
    int count = 0;
    const char* p = sci;
    // The mantissa's digits of `res`, leaving p on its 'e'.
    const auto read = [&](std::to_chars_result res, bool trimZeros) {
        count = 0;
        for (p = sci; p < res.ptr && *p != 'e'; ++p)
            if (*p != '.') digits[count++] = *p;
        if (trimZeros)
            while (count > 1 && digits[count - 1] == '0') --count;
        return res;
    };
    const auto fifteen = [&] {
        return std::to_chars(sci, sci + sizeof sci, magnitude, std::chars_format::scientific, 14);
    };
    auto res =
        normal
            ? read(std::to_chars(sci, sci + sizeof sci, magnitude, std::chars_format::scientific),
                   false)
            : read(fifteen(), true);
    if (normal && count > 15) res = read(fifteen(), true);
    // e[+-]dd or e[+-]ddd
    const bool negative = p[1] == '-';
    int exponent = 0;
    for (const char* q = p + 2; q < res.ptr; ++q) exponent = exponent * 10 + (*q - '0');
    e = (negative ? -exponent : exponent) + 1;
    return count;
}

// A value that is n / 10^k for an integer n below 10^15 and k <= 4 (money and most other data):
// that decimal reads back to the value and has at most 15 digits, so it is the 15-digit form,
// and it lies in the fixed range. The division is exact in, correctly rounded out, so the test
// is exact. False, writing nothing, for any other value.
bool AppendFewDecimals(std::string& out, double value, const TRegionalSettings& settings) {
    static constexpr double kScale[] = {1, 10, 100, 1000, 10000};
    const double magnitude = std::fabs(value);
    if (!(magnitude < 1e11)) return false;
    for (int k = 0; k <= 4; ++k) {
        const double scaled = magnitude * kScale[k];
        if (scaled != std::trunc(scaled)) continue;
        if (scaled == 0 || scaled / kScale[k] != magnitude) return false;
        auto n = static_cast<std::uint64_t>(scaled);
        char digits[24];
        char* end = digits + sizeof digits;
        char* p = end;
        int fraction = k;
        while (fraction > 0 && n % 10 == 0) {  // the zeros a shorter k would not have
            n /= 10;
            --fraction;
        }
        for (int i = 0; i < fraction; ++i) {
            *--p = static_cast<char>('0' + n % 10);
            n /= 10;
        }
        const char* point = p;
        do {
            *--p = static_cast<char>('0' + n % 10);
            n /= 10;
        } while (n > 0);
        if (value < 0) out += '-';
        out.append(p, static_cast<std::size_t>(point - p));
        if (fraction > 0) {
            out += settings.decimalSymbol;
            out.append(point, static_cast<std::size_t>(end - point));
        }
        return true;
    }
    return false;
}

}  // namespace

void AppendFloatText(std::string& out, double value, const TRegionalSettings& settings) {
    if (AppendFewDecimals(out, value, settings)) return;
    if (std::isnan(value)) {
        out += "NAN";
        return;
    }
    if (std::isinf(value)) {
        out += value < 0 ? "-INF" : "INF";
        return;
    }
    if (value == 0) {
        out += '0';
        return;
    }
    char digits[17];
    int e = 0;
    const int count = FifteenDigits(value, digits, e);
    if (value < 0) out += '-';
    if (e > 15 || e < -3) {
        out += digits[0];
        if (count > 1) {
            out += settings.decimalSymbol;
            out.append(digits + 1, static_cast<std::size_t>(count - 1));
        }
        out += 'E';
        if (e - 1 < 0) out += '-';
        char exponent[8];
        const auto res = std::to_chars(exponent, exponent + sizeof exponent, std::abs(e - 1));
        out.append(exponent, res.ptr);
    } else if (e <= 0) {
        out += '0';
        out += settings.decimalSymbol;
        out.append(static_cast<std::size_t>(-e), '0');
        out.append(digits, static_cast<std::size_t>(count));
    } else if (count <= e) {
        out.append(digits, static_cast<std::size_t>(count));
        out.append(static_cast<std::size_t>(e - count), '0');
    } else {
        out.append(digits, static_cast<std::size_t>(e));
        out += settings.decimalSymbol;
        out.append(digits + e, static_cast<std::size_t>(count - e));
    }
}

std::string FloatToText(double value, const TRegionalSettings& settings) {
    std::string out;
    out.reserve(24);
    AppendFloatText(out, value, settings);
    return out;
}

std::string FloatToText(double value) { return FloatToText(value, RegionalSettings()); }

std::int32_t TextToInteger(std::string_view text) {
    std::string_view s = text;
    while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
    bool negative = false;
    if (!s.empty() && (s.front() == '-' || s.front() == '+')) {
        negative = s.front() == '-';
        s.remove_prefix(1);
    }
    std::uint64_t magnitude = 0;
    if (!s.empty() && (s.front() == '$' || s.front() == 'x' || s.front() == 'X' ||
                       (s.size() > 1 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')))) {
        s.remove_prefix(s.front() == '0' ? 2 : 1);
        if (s.empty()) RaiseNotAnInteger(text);
        while (s.size() > 1 && s.front() == '0') s.remove_prefix(1);
        if (s.size() > 8) RaiseNotAnInteger(text);
        for (char c : s) {
            const int d = HexDigit(c);
            if (d < 0) RaiseNotAnInteger(text);
            magnitude = magnitude * 16 + static_cast<unsigned>(d);
        }
        // Hexadecimal spells the 32 bits, so $FFFFFFFF is -1.
        const auto bits = static_cast<std::uint32_t>(magnitude);
        const auto value = static_cast<std::int32_t>(bits);
        return negative ? static_cast<std::int32_t>(0u - bits) : value;
    }
    if (s.empty()) RaiseNotAnInteger(text);
    while (s.size() > 1 && s.front() == '0') s.remove_prefix(1);
    if (s.size() > 10) RaiseNotAnInteger(text);
    for (char c : s) {
        if (c < '0' || c > '9') RaiseNotAnInteger(text);
        magnitude = magnitude * 10 + static_cast<unsigned>(c - '0');
    }
    if (magnitude > (negative ? 2147483648ULL : 2147483647ULL)) RaiseNotAnInteger(text);
    return negative ? static_cast<std::int32_t>(-static_cast<std::int64_t>(magnitude))
                    : static_cast<std::int32_t>(magnitude);
}

double TextToFloat(std::string_view text, const TRegionalSettings& settings) {
    const std::string_view s = Trim(text);
    std::string plain;
    plain.reserve(s.size());
    std::size_t i = 0;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) {
        if (s[i] == '-') plain += '-';
        ++i;
    }
    int mantissaDigits = 0;
    bool seenPoint = false;
    const std::string& point = settings.decimalSymbol.empty() ? "." : settings.decimalSymbol;
    while (i < s.size()) {
        if (s[i] >= '0' && s[i] <= '9') {
            plain += s[i++];
            ++mantissaDigits;
        } else if (!seenPoint && s.substr(i, point.size()) == point) {
            plain += '.';
            i += point.size();
            seenPoint = true;
        } else {
            break;
        }
    }
    if (mantissaDigits == 0) RaiseNotAFloat(text);
    if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
        plain += 'e';
        ++i;
        if (i < s.size() && (s[i] == '+' || s[i] == '-')) plain += s[i++];
        int exponentDigits = 0;
        while (i < s.size() && s[i] >= '0' && s[i] <= '9') {
            plain += s[i++];
            ++exponentDigits;
        }
        if (exponentDigits == 0) RaiseNotAFloat(text);
    }
    if (i != s.size()) RaiseNotAFloat(text);
    double value = 0;
    const auto res = std::from_chars(plain.data(), plain.data() + plain.size(), value);
    if (res.ec != std::errc() || res.ptr != plain.data() + plain.size()) RaiseNotAFloat(text);
    return value;
}

double TextToFloat(std::string_view text) { return TextToFloat(text, RegionalSettings()); }

}  // namespace velnor::platform
