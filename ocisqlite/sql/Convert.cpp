#include "ocisqlite/sql/Convert.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <limits>

namespace velnor::ocisqlite::sql {

namespace {

[[noreturn]] void PrecisionError() {
    Fail(1438, "value larger than specified precision allowed for this column");
}

}  // namespace

void Fail(int code, std::string text) { throw OraError(code, std::move(text)); }

OraError::OraError(int code, std::string text) : code_(code), text_(std::move(text)) {
    char prefix[16];
    std::snprintf(prefix, sizeof prefix, "ORA-%05d: ", code);
    message_ = prefix + text_;
}

Value Value::Integer(std::int64_t v) {
    Value r;
    r.kind = Kind::Integer;
    r.integer = v;
    return r;
}
Value Value::Double(double v) {
    Value r;
    r.kind = Kind::Double;
    r.real = v;
    return r;
}
Value Value::Text(std::string v) {
    Value r;
    r.kind = Kind::Text;
    r.bytes = std::move(v);
    return r;
}
Value Value::Raw(std::string v) {
    Value r;
    r.kind = Kind::Raw;
    r.bytes = std::move(v);
    return r;
}
Value Value::Date(const DateTime& v) {
    Value r;
    r.kind = Kind::Date;
    r.date = v;
    return r;
}

Value Value::Number(const sql::Decimal& v) {
    const Decimal fitted = Fit(v);
    if (auto i = ToInt64(fitted)) return Integer(*i);
    Value r;
    r.kind = Kind::Decimal;
    r.bytes = OracleBytes(fitted);
    return r;
}

Decimal DecimalOf(const Value& number) {
    switch (number.kind) {
        case Value::Kind::Integer:
            return Decimal::FromInt(number.integer);
        case Value::Kind::Double:
            return Decimal::FromDouble(number.real);
        case Value::Kind::Decimal:
            return Decimal::FromBytes(reinterpret_cast<const unsigned char*>(number.bytes.data()),
                                      number.bytes.size());
        default:
            Fail(932, "inconsistent datatypes: expected NUMBER got CHAR");
    }
}

Value NormalizeNumber(double value) { return Value::Number(Decimal::FromDouble(value)); }

Value RoundNumber(const Value& number, int precision, int scale) {
    if (number.kind == Value::Kind::Integer && scale >= 0) {
        // The fast path: an int64 needs no rounding, only its digits counted.
        if (precision == 0) return number;
        const int digits = precision - scale;
        if (digits >= 19) return number;
        const std::uint64_t magnitude = number.integer < 0
                                            ? 0 - static_cast<std::uint64_t>(number.integer)
                                            : static_cast<std::uint64_t>(number.integer);
        std::uint64_t limit = 1;
        for (int i = 0; i < digits; ++i) limit *= 10;
        if (digits <= 0 ? magnitude != 0 : magnitude >= limit) PrecisionError();
        return number;
    }
    if (!number.IsNumber()) return number;
    Decimal d = Fit(DecimalOf(number));
    if (precision == 0) return Value::Number(d);
    if (scale == kFloatScale) {
        // FLOAT(b): b binary digits, which Oracle counts as ceil(b * log10(2)) decimal ones.
        const int digits = static_cast<int>(std::ceil(precision * 0.30103));
        d = RoundTo(d, digits - IntegerDigits(d));
        return Value::Number(d);
    }
    d = RoundTo(d, scale);
    // Judged on the rounded exact value: integer digits beyond precision - scale.
    if (!d.IsZero() && IntegerDigits(d) > precision - scale) PrecisionError();
    return Value::Number(d);
}

namespace {

// Canonical NUMBER bytes, as OracleBytes writes them, described without building a Decimal:
// value = 0.digits * 10^exponent with `digits` significant decimal digits.
struct NumberShape {
    bool negative = false;
    int exp100 = 0;         // power of 100 of the first base-100 digit
    std::size_t pairs = 0;  // base-100 digits
    int exponent = 0;       // decimal, as Decimal::exponent
    int digits = 0;         // decimal, as Decimal::digits.size()
};

bool ShapeOf(const unsigned char* b, std::size_t n, NumberShape& shape) {
    if (n < 2 || n > 21) return false;
    const bool negative = b[0] < 0x80;
    std::size_t pairs = n - 1;
    if (negative) {
        if (b[n - 1] == 102)
            --pairs;
        else if (n != 21)
            return false;
        if (pairs == 0) return false;
    }
    // Base-100 digits 0..99, the first and last never 0.
    const int lo = negative ? 2 : 1, hi = negative ? 101 : 100;
    for (std::size_t i = 1; i <= pairs; ++i)
        if (b[i] < lo || b[i] > hi) return false;
    const int first = negative ? 101 - b[1] : b[1] - 1;
    const int last = negative ? 101 - b[pairs] : b[pairs] - 1;
    if (first == 0 || last == 0) return false;
    shape.negative = negative;
    shape.exp100 = negative ? 62 - b[0] : b[0] - 193;
    shape.pairs = pairs;
    shape.exponent = 2 * (shape.exp100 + 1) - (first < 10 ? 1 : 0);
    shape.digits = static_cast<int>(2 * pairs) - (first < 10 ? 1 : 0) - (last % 10 == 0 ? 1 : 0);
    return true;
}

}  // namespace

bool ReadNumberBytes(const unsigned char* bytes, std::size_t length, Value& out) {
    if (length == 1 && bytes[0] == 0x80) {
        out.kind = Value::Kind::Integer;
        out.integer = 0;
        return true;
    }
    NumberShape shape;
    if (!ShapeOf(bytes, length, shape)) return false;
    // Integral within int64: the Integer a NUMBER of that value always is.
    const auto pairs = static_cast<int>(shape.pairs);
    if (pairs - 1 <= shape.exp100 && shape.exp100 <= 9) {
        std::uint64_t m = 0;
        bool fits = true;
        for (int i = 1; i <= pairs && fits; ++i) {
            fits = m <= (UINT64_MAX - 99) / 100;
            m = m * 100 + static_cast<unsigned>(shape.negative ? 101 - bytes[i] : bytes[i] - 1);
        }
        for (int i = pairs - 1; i < shape.exp100 && fits; ++i) {
            fits = m <= UINT64_MAX / 100;
            m *= 100;
        }
        const std::uint64_t limit =
            static_cast<std::uint64_t>(INT64_MAX) + (shape.negative ? 1 : 0);
        if (fits && m <= limit) {
            out.kind = Value::Kind::Integer;
            out.integer =
                shape.negative ? static_cast<std::int64_t>(0 - m) : static_cast<std::int64_t>(m);
            return true;
        }
    }
    out.kind = Value::Kind::Decimal;
    out.bytes.assign(reinterpret_cast<const char*>(bytes), length);
    return true;
}

bool StoresAsIs(const Value& number, int precision, int scale) {
    if (scale == kFloatScale) return false;
    if (number.kind == Value::Kind::Integer) {
        if (precision == 0) return true;
        static constexpr auto kPowers = [] {
            std::array<std::uint64_t, 19> p{};
            p[0] = 1;
            for (std::size_t i = 1; i < p.size(); ++i) p[i] = p[i - 1] * 10;
            return p;
        }();
        const std::uint64_t magnitude = number.integer < 0
                                            ? 0 - static_cast<std::uint64_t>(number.integer)
                                            : static_cast<std::uint64_t>(number.integer);
        // A negative scale rounds away the last -scale digits, which must be zeros already.
        const auto drop = static_cast<std::size_t>(scale < 0 ? -scale : 0);
        if (magnitude != 0 && drop > 0 &&
            (drop >= kPowers.size() || magnitude % kPowers[drop] != 0))
            return false;
        const int digits = precision - scale;
        if (digits >= 19) return true;
        return digits <= 0 ? magnitude == 0 : magnitude < kPowers[static_cast<std::size_t>(digits)];
    }
    if (number.kind != Value::Kind::Decimal) return false;
    NumberShape shape;
    if (!ShapeOf(reinterpret_cast<const unsigned char*>(number.bytes.data()), number.bytes.size(),
                 shape))
        return false;
    if (precision == 0) return true;
    // No digit beyond the scale, and no more integer digits than the precision leaves.
    return shape.digits - shape.exponent <= scale && shape.exponent <= precision - scale;
}

std::string NumberToText(std::int64_t value) { return std::to_string(value); }

std::string NumberToText(double value) {
    if (std::isnan(value)) return "NaN";
    if (std::isinf(value)) return value < 0 ? "-~" : "~";
    return OracleText(Fit(Decimal::FromDouble(value)));
}

std::string NumberToText(const Value& number) {
    if (number.kind == Value::Kind::Integer) return NumberToText(number.integer);
    if (number.kind == Value::Kind::Double) return NumberToText(number.real);
    if (number.kind == Value::Kind::Decimal)
        return OracleText(reinterpret_cast<const unsigned char*>(number.bytes.data()),
                          number.bytes.size());
    return OracleText(DecimalOf(number));
}

Value TextToNumber(std::string_view text) {
    std::size_t b = 0, e = text.size();
    while (b < e && (text[b] == ' ' || text[b] == '\t' || text[b] == '\n' || text[b] == '\r')) ++b;
    while (e > b && (text[e - 1] == ' ' || text[e - 1] == '\t' || text[e - 1] == '\n' ||
                     text[e - 1] == '\r'))
        --e;
    std::string_view s = text.substr(b, e - b);
    // The fast path: plain integers of up to 18 digits.
    std::size_t i = s.size() > 1 && (s[0] == '-' || s[0] == '+') ? 1 : 0;
    if (s.size() > i && s.size() - i <= 18 &&
        std::all_of(s.begin() + static_cast<std::ptrdiff_t>(i), s.end(),
                    [](char c) { return c >= '0' && c <= '9'; })) {
        std::int64_t v = 0;
        std::from_chars(s.data() + i, s.data() + s.size(), v);
        return Value::Integer(s[0] == '-' ? -v : v);
    }
    return Value::Number(Decimal::Parse(s));
}

void AppendDigits(std::string& out, long long v, int width) {
    if (width == 2 && v >= 0 && v < 100) {  // the usual month, day and time fields
        const char pair[] = {static_cast<char>('0' + v / 10), static_cast<char>('0' + v % 10)};
        out.append(pair, 2);
        return;
    }
    if (width == 4 && v >= 0 && v < 10000) {  // years
        const char four[] = {static_cast<char>('0' + v / 1000),
                             static_cast<char>('0' + v / 100 % 10),
                             static_cast<char>('0' + v / 10 % 10), static_cast<char>('0' + v % 10)};
        out.append(four, 4);
        return;
    }
    unsigned long long magnitude = static_cast<unsigned long long>(v);
    if (v < 0) {
        out += '-';
        magnitude = 0 - magnitude;
        --width;
    }
    char buf[24];
    const auto end = std::to_chars(buf, buf + sizeof buf, magnitude).ptr;
    const auto n = static_cast<int>(end - buf);
    if (n < width) out.append(static_cast<std::size_t>(width - n), '0');
    out.append(buf, end);
}

std::string StoredDate(const DateTime& date) {
    std::string out;
    out.reserve(20);
    AppendStoredDate(out, date);
    return out;
}

void AppendStoredDate(std::string& out, const DateTime& date) {
    const auto two = [](int v) { return v >= 0 && v <= 99; };
    if (date.year >= 0 && date.year <= 9999 && two(date.month) && two(date.day) && two(date.hour) &&
        two(date.minute) && two(date.second)) {
        // Every value a DATE column holds: one append of fixed-width fields.
        char b[19];
        const auto put2 = [&](int at, int v) {
            b[at] = static_cast<char>('0' + v / 10);
            b[at + 1] = static_cast<char>('0' + v % 10);
        };
        put2(0, date.year / 100);
        put2(2, date.year % 100);
        b[4] = '-';
        put2(5, date.month);
        b[7] = '-';
        put2(8, date.day);
        b[10] = ' ';
        put2(11, date.hour);
        b[13] = ':';
        put2(14, date.minute);
        b[16] = ':';
        put2(17, date.second);
        out.append(b, sizeof b);
        return;
    }
    if (date.year < 0) out += '-';
    AppendDigits(out, date.year < 0 ? -date.year : date.year, 4);
    out += '-';
    AppendDigits(out, date.month, 2);
    out += '-';
    AppendDigits(out, date.day, 2);
    out += ' ';
    AppendDigits(out, date.hour, 2);
    out += ':';
    AppendDigits(out, date.minute, 2);
    out += ':';
    AppendDigits(out, date.second, 2);
}

std::optional<DateTime> ParseStoredDate(std::string_view t) {
    const bool bc = !t.empty() && t[0] == '-';
    if (bc) t.remove_prefix(1);
    if (t.size() != 19 || t[4] != '-' || t[7] != '-' || t[10] != ' ' || t[13] != ':' ||
        t[16] != ':')
        return std::nullopt;
    // Every row of a DATE column comes through here: fixed places, one check for all digits.
    const auto* p = reinterpret_cast<const unsigned char*>(t.data());
    unsigned v[19];
    unsigned bad = 0;
    for (std::size_t k = 0; k < 19; ++k) {
        v[k] = p[k] - unsigned{'0'};
        if (k != 4 && k != 7 && k != 10 && k != 13 && k != 16) bad |= v[k] > 9 ? 1u : 0u;
    }
    DateTime d;
    d.year = static_cast<int>(v[0] * 1000 + v[1] * 100 + v[2] * 10 + v[3]);
    d.month = static_cast<int>(v[5] * 10 + v[6]);
    d.day = static_cast<int>(v[8] * 10 + v[9]);
    d.hour = static_cast<int>(v[11] * 10 + v[12]);
    d.minute = static_cast<int>(v[14] * 10 + v[15]);
    d.second = static_cast<int>(v[17] * 10 + v[18]);
    if (bad) return std::nullopt;
    if (bc) d.year = -d.year;
    return d;
}

int DaysInMonth(int year, int month) {
    static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (month == 2) {
        // Years before Christ count with a year 0 in the proleptic calendar: -1 is leap.
        int y = year < 0 ? year + 1 : year;
        bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
        return leap ? 29 : 28;
    }
    return days[month - 1];
}

bool ValidDate(const DateTime& d) {
    return d.year >= -4712 && d.year <= 9999 && d.year != 0 && d.month >= 1 && d.month <= 12 &&
           d.day >= 1 && d.day <= DaysInMonth(d.year, d.month) && d.hour >= 0 && d.hour <= 23 &&
           d.minute >= 0 && d.minute <= 59 && d.second >= 0 && d.second <= 59;
}

std::int64_t DayNumber(int year, int month, int day) {
    std::int64_t y = year < 0 ? year + 1 : year;  // astronomical numbering
    y -= month <= 2;
    std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    std::int64_t yoe = y - era * 400;
    std::int64_t mp = (month + 9) % 12;
    std::int64_t doy = (153 * mp + 2) / 5 + day - 1;
    std::int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

void FromDayNumber(std::int64_t z, int& year, int& month, int& day) {
    z += 719468;
    std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    std::int64_t doe = z - era * 146097;
    std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    std::int64_t y = yoe + era * 400;
    std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    std::int64_t mp = (5 * doy + 2) / 153;
    day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    y += month <= 2;
    year = static_cast<int>(y <= 0 ? y - 1 : y);
}

DateTime Now() {
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    std::time_t t = ts.tv_sec;
    std::tm tm{};
    localtime_r(&t, &tm);
    DateTime d{tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec};
    d.nanos = static_cast<int>(ts.tv_nsec / 1000 * 1000);  // SYSTIMESTAMP keeps microseconds
    return d;
}

std::array<unsigned char, 7> EncodeDate(const DateTime& d) {
    std::array<unsigned char, 7> b{};
    int y = d.year;
    if (y > 0) {
        b[0] = static_cast<unsigned char>(y / 100 + 100);
        b[1] = static_cast<unsigned char>(y % 100 + 100);
    } else {
        b[0] = static_cast<unsigned char>(100 - (-y) / 100);
        b[1] = static_cast<unsigned char>(100 - (-y) % 100);
    }
    b[2] = static_cast<unsigned char>(d.month);
    b[3] = static_cast<unsigned char>(d.day);
    b[4] = static_cast<unsigned char>(d.hour + 1);
    b[5] = static_cast<unsigned char>(d.minute + 1);
    b[6] = static_cast<unsigned char>(d.second + 1);
    return b;
}

DateTime DecodeDate(const unsigned char* b) {
    DateTime d;
    if (b[0] >= 100 && b[1] >= 100) {
        d.year = (b[0] - 100) * 100 + (b[1] - 100);
    } else if (b[0] <= 100 && b[1] <= 100) {
        d.year = -((100 - b[0]) * 100 + (100 - b[1]));
    } else {
        Fail(1841, "(full) year must be between -4713 and +9999, and not be 0");
    }
    d.month = b[2];
    d.day = b[3];
    d.hour = b[4] - 1;
    d.minute = b[5] - 1;
    d.second = b[6] - 1;
    if (d.year == 0 || d.year < -4712 || d.year > 9999)
        Fail(1841, "(full) year must be between -4713 and +9999, and not be 0");
    if (d.month < 1 || d.month > 12) Fail(1843, "not a valid month");
    if (d.day < 1 || d.day > DaysInMonth(d.year, d.month))
        Fail(1847, "day of month must be between 1 and last day of month");
    if (d.hour < 0 || d.hour > 23) Fail(1850, "hour must be between 0 and 23");
    if (d.minute < 0 || d.minute > 59) Fail(1851, "minutes must be between 0 and 59");
    if (d.second < 0 || d.second > 59) Fail(1852, "seconds must be between 0 and 59");
    return d;
}

namespace {
std::size_t SequenceLength(std::string_view t, std::size_t i) {
    auto c = static_cast<unsigned char>(t[i]);
    std::size_t n = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
    if (n <= 1) return 1;
    if (i + n > t.size()) return 1;
    for (std::size_t k = 1; k < n; ++k)
        if ((static_cast<unsigned char>(t[i + k]) & 0xC0) != 0x80) return 1;
    return n;
}
}  // namespace

std::size_t CharCount(std::string_view t) {
    std::size_t n = 0;
    for (std::size_t i = 0; i < t.size(); i += SequenceLength(t, i)) ++n;
    return n;
}

std::size_t CharOffset(std::string_view t, std::size_t index) {
    std::size_t i = 0;
    for (std::size_t n = 0; n < index && i < t.size(); ++n) i += SequenceLength(t, i);
    return i < t.size() ? i : t.size();
}

std::string RawToHex(std::string_view raw) {
    static const char* digits = "0123456789ABCDEF";
    std::string out;
    out.reserve(raw.size() * 2);
    for (unsigned char c : raw) {
        out.push_back(digits[c >> 4]);
        out.push_back(digits[c & 15]);
    }
    return out;
}

std::string HexToRaw(std::string_view hex) {
    auto nibble = [](char c) -> int {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        Fail(1465, "invalid hex number");
    };
    std::string out;
    std::size_t i = 0;
    if (hex.size() % 2) out.push_back(static_cast<char>(nibble(hex[i++])));
    for (; i < hex.size(); i += 2)
        out.push_back(static_cast<char>(nibble(hex[i]) * 16 + nibble(hex[i + 1])));
    return out;
}

std::string ValueText(const Value& v, std::string_view dateFormat) {
    switch (v.kind) {
        case Value::Kind::Null:
            return {};
        case Value::Kind::Integer:
            return NumberToText(v.integer);
        case Value::Kind::Double:
            return BinaryText(v.real, v.integer == 1);
        case Value::Kind::Decimal:
            return NumberToText(v);
        case Value::Kind::Text:
            return v.bytes;
        case Value::Kind::Raw:
            return RawToHex(v.bytes);
        case Value::Kind::Date:
            return FormatDate(v.date, dateFormat);
    }
    return {};
}

}  // namespace velnor::ocisqlite::sql
