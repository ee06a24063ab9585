#include "ocisqlite/sql/Convert.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <limits>

namespace velnor::ocisqlite::sql {

namespace {

// Shortest decimal digits of |value| with value = 0.d1d2... * 10^exponent.
struct Decimal {
    bool negative = false;
    std::string digits;  // no leading or trailing zeros; empty for zero
    int exponent = 0;
};

Decimal ToDecimal(double value) {
    Decimal d;
    if (value == 0) return d;
    d.negative = value < 0;
    char buf[64];
    auto res =
        std::to_chars(buf, buf + sizeof buf, std::fabs(value), std::chars_format::scientific);
    std::string_view s(buf, static_cast<std::size_t>(res.ptr - buf));
    auto e = s.find('e');
    std::string_view mant = s.substr(0, e);
    int exp10 = std::atoi(std::string(s.substr(e + 1)).c_str());
    for (char c : mant)
        if (c != '.') d.digits.push_back(c);
    while (!d.digits.empty() && d.digits.back() == '0') d.digits.pop_back();
    d.exponent = exp10 + 1;
    return d;
}

double FromDecimal(const Decimal& d) {
    if (d.digits.empty()) return 0;
    std::string s = "0." + d.digits + "e" + std::to_string(d.exponent);
    double v = 0;
    std::from_chars(s.data(), s.data() + s.size(), v);
    return d.negative ? -v : v;
}

std::int64_t Pow10(int n) {
    std::int64_t p = 1;
    for (int i = 0; i < n; ++i) p *= 10;
    return p;
}

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

Value NormalizeNumber(double value) {
    if (!std::isfinite(value)) Fail(1426, "numeric overflow");
    if (std::fabs(value) >= 1e126) Fail(1426, "numeric overflow");
    if (value == std::trunc(value) && std::fabs(value) < 9.2e18)
        return Value::Integer(static_cast<std::int64_t>(value));
    return Value::Double(value);
}

Value RoundNumber(const Value& number, int precision, int scale) {
    if (number.kind == Value::Kind::Integer) {
        if (precision == 0) return number;
        std::int64_t v = number.integer;
        if (scale < 0) {
            if (-scale > 18) {
                v = 0;
            } else {
                std::int64_t unit = Pow10(-scale);
                std::int64_t rem = v % unit;
                v -= rem;
                if (rem >= (unit + 1) / 2 && rem > 0) v += unit;
                if (rem <= -(unit + 1) / 2 && rem < 0) v -= unit;
            }
        }
        int digits = precision - scale;
        if (precision > 0 && digits < 19) {
            std::int64_t limit = digits <= 0 ? 1 : Pow10(digits);
            if (digits <= 0 ? v != 0 : (v >= limit || v <= -limit)) PrecisionError();
        }
        return Value::Integer(v);
    }
    if (number.kind != Value::Kind::Double) return number;
    if (precision == 0) return NormalizeNumber(number.real);
    Decimal d = ToDecimal(number.real);
    {
        // Keep the digits up to the scale's decimal place, rounding half away from zero.
        int keep = d.exponent + scale;
        if (keep < 0) {
            d.digits.clear();
        } else if (keep < static_cast<int>(d.digits.size())) {
            bool up = d.digits[static_cast<std::size_t>(keep)] >= '5';
            d.digits.resize(static_cast<std::size_t>(keep));
            if (up) {
                int i = keep - 1;
                while (i >= 0 && d.digits[static_cast<std::size_t>(i)] == '9') {
                    d.digits[static_cast<std::size_t>(i)] = '0';
                    --i;
                }
                if (i < 0) {
                    d.digits.insert(d.digits.begin(), '1');
                    ++d.exponent;
                } else {
                    ++d.digits[static_cast<std::size_t>(i)];
                }
            }
            while (!d.digits.empty() && d.digits.back() == '0') d.digits.pop_back();
        }
    }
    if (d.digits.empty()) return Value::Integer(0);
    if (precision > 0 && d.exponent > precision - scale) PrecisionError();
    return NormalizeNumber(FromDecimal(d));
}

std::string NumberToText(std::int64_t value) { return std::to_string(value); }

std::string NumberToText(double value) {
    if (std::isnan(value)) return "NaN";
    if (std::isinf(value)) return value < 0 ? "-~" : "~";
    Decimal d = ToDecimal(value);
    if (d.digits.empty()) return "0";
    std::string out = d.negative ? "-" : "";
    int n = static_cast<int>(d.digits.size());
    std::string fixed;
    if (d.exponent <= 0) {
        fixed = "." + std::string(static_cast<std::size_t>(-d.exponent), '0') + d.digits;
    } else if (d.exponent >= n) {
        fixed = d.digits + std::string(static_cast<std::size_t>(d.exponent - n), '0');
    } else {
        fixed = d.digits.substr(0, static_cast<std::size_t>(d.exponent)) + "." +
                d.digits.substr(static_cast<std::size_t>(d.exponent));
    }
    if (out.size() + fixed.size() <= 40) return out + fixed;
    // Too long for the fixed form: scientific, as TO_CHAR writes it.
    out += d.digits.substr(0, 1);
    if (n > 1) out += "." + d.digits.substr(1);
    int e = d.exponent - 1;
    char buf[16];
    std::snprintf(buf, sizeof buf, "E%c%02d", e < 0 ? '-' : '+', e < 0 ? -e : e);
    return out + buf;
}

Value TextToNumber(std::string_view text) {
    std::size_t b = 0, e = text.size();
    while (b < e && (text[b] == ' ' || text[b] == '\t' || text[b] == '\n' || text[b] == '\r')) ++b;
    while (e > b && (text[e - 1] == ' ' || text[e - 1] == '\t' || text[e - 1] == '\n' ||
                     text[e - 1] == '\r'))
        --e;
    std::string_view s = text.substr(b, e - b);
    auto invalid = [] { Fail(1722, "invalid number"); };
    std::size_t i = 0;
    bool negative = false;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) negative = s[i++] == '-';
    std::size_t intStart = i;
    while (i < s.size() && s[i] >= '0' && s[i] <= '9') ++i;
    std::size_t intDigits = i - intStart;
    std::size_t fracDigits = 0;
    bool dot = false;
    if (i < s.size() && s[i] == '.') {
        dot = true;
        ++i;
        std::size_t f = i;
        while (i < s.size() && s[i] >= '0' && s[i] <= '9') ++i;
        fracDigits = i - f;
    }
    if (intDigits + fracDigits == 0) invalid();
    bool exponent = false;
    if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
        exponent = true;
        ++i;
        if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
        std::size_t f = i;
        while (i < s.size() && s[i] >= '0' && s[i] <= '9') ++i;
        if (i == f) invalid();
    }
    if (i != s.size()) invalid();
    if (!dot && !exponent && intDigits <= 18) {
        std::int64_t v = 0;
        std::from_chars(s.data() + intStart, s.data() + intStart + intDigits, v);
        return Value::Integer(negative ? -v : v);
    }
    std::string copy(s.substr(s[0] == '+' ? 1 : 0));
    if (!copy.empty() && copy[0] == '.') copy.insert(0, "0");
    if (copy.size() > 1 && copy[0] == '-' && copy[1] == '.') copy.insert(1, "0");
    double v = 0;
    auto res = std::from_chars(copy.data(), copy.data() + copy.size(), v);
    if (res.ec == std::errc::result_out_of_range) {
        // Underflow is zero; overflow is out of NUMBER's range.
        bool tiny = copy.find("e-") != std::string::npos || copy.find("E-") != std::string::npos;
        if (tiny) return Value::Integer(0);
        Fail(1426, "numeric overflow");
    }
    if (res.ec != std::errc()) invalid();
    return NormalizeNumber(v);
}

std::string StoredDate(const DateTime& date) {
    char buf[40];
    int y = date.year < 0 ? -date.year : date.year;
    std::snprintf(buf, sizeof buf, "%s%04d-%02d-%02d %02d:%02d:%02d", date.year < 0 ? "-" : "", y,
                  date.month, date.day, date.hour, date.minute, date.second);
    return buf;
}

std::optional<DateTime> ParseStoredDate(std::string_view t) {
    bool bc = !t.empty() && t[0] == '-';
    if (bc) t.remove_prefix(1);
    if (t.size() != 19 || t[4] != '-' || t[7] != '-' || t[10] != ' ' || t[13] != ':' ||
        t[16] != ':')
        return std::nullopt;
    auto num = [&](std::size_t pos, std::size_t len, int& out) {
        int v = 0;
        for (std::size_t k = pos; k < pos + len; ++k) {
            if (t[k] < '0' || t[k] > '9') return false;
            v = v * 10 + (t[k] - '0');
        }
        out = v;
        return true;
    };
    DateTime d;
    if (!num(0, 4, d.year) || !num(5, 2, d.month) || !num(8, 2, d.day) || !num(11, 2, d.hour) ||
        !num(14, 2, d.minute) || !num(17, 2, d.second))
        return std::nullopt;
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
    std::time_t t = std::time(nullptr);
    std::tm tm{};
    localtime_r(&t, &tm);
    return DateTime{tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec};
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
            return NumberToText(v.real);
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
