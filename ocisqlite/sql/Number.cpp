#include "ocisqlite/sql/Number.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <vector>

#include "ocisqlite/sql/Convert.h"

namespace velnor::ocisqlite::sql {

namespace {

constexpr int kMaxExponent100 = 62;   // 99..E125
constexpr int kMinExponent100 = -65;  // 1E-130
constexpr std::size_t kMantissaBytes = 20;

[[noreturn]] void Overflow() { Fail(1426, "numeric overflow"); }

Decimal Normalized(bool negative, std::string digits, int exponent) {
    std::size_t lead = 0;
    while (lead < digits.size() && digits[lead] == '0') ++lead;
    digits.erase(0, lead);
    exponent -= static_cast<int>(lead);
    while (!digits.empty() && digits.back() == '0') digits.pop_back();
    Decimal d;
    if (digits.empty()) return d;
    d.negative = negative;
    d.digits = std::move(digits);
    d.exponent = exponent;
    return d;
}

// Magnitudes as digit strings, most significant first, no sign.
int CompareMagnitude(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return a.size() < b.size() ? -1 : 1;
    int c = a.compare(b);
    return c < 0 ? -1 : c > 0 ? 1 : 0;
}
std::string AddMagnitude(const std::string& a, const std::string& b) {
    std::string out;
    int carry = 0;
    for (std::size_t i = 0; i < std::max(a.size(), b.size()) || carry; ++i) {
        int s = carry;
        if (i < a.size()) s += a[a.size() - 1 - i] - '0';
        if (i < b.size()) s += b[b.size() - 1 - i] - '0';
        out.push_back(static_cast<char>('0' + s % 10));
        carry = s / 10;
    }
    std::reverse(out.begin(), out.end());
    return out;
}
// a >= b
std::string SubtractMagnitude(const std::string& a, const std::string& b) {
    std::string out;
    int borrow = 0;
    for (std::size_t i = 0; i < a.size(); ++i) {
        int s = (a[a.size() - 1 - i] - '0') - borrow;
        if (i < b.size()) s -= b[b.size() - 1 - i] - '0';
        borrow = s < 0;
        out.push_back(static_cast<char>('0' + (s + 10) % 10));
    }
    while (out.size() > 1 && out.back() == '0') out.pop_back();
    std::reverse(out.begin(), out.end());
    return out;
}
std::string StripLeading(std::string s) {
    std::size_t lead = 0;
    while (lead + 1 < s.size() && s[lead] == '0') ++lead;
    return s.erase(0, lead);
}

// Keeps `keep` leading digits, rounding half away from zero (or truncating).
Decimal KeepDigits(const Decimal& d, int keep, bool truncate) {
    if (keep >= static_cast<int>(d.digits.size())) return d;
    if (keep < 0) return {};
    std::string digits = d.digits.substr(0, static_cast<std::size_t>(keep));
    int exponent = d.exponent;
    if (!truncate && d.digits[static_cast<std::size_t>(keep)] >= '5') {
        digits = AddMagnitude(digits.empty() ? "0" : digits, "1");
        if (static_cast<int>(digits.size()) > keep) ++exponent;  // 99.. carried into a new digit
    }
    return Normalized(d.negative, std::move(digits), exponent);
}

}  // namespace

Decimal Decimal::FromUnsigned(std::uint64_t value) {
    char buf[24];
    auto r = std::to_chars(buf, buf + sizeof buf, value);
    std::string digits(buf, r.ptr);
    const int exponent = static_cast<int>(digits.size());
    return Normalized(false, std::move(digits), exponent);
}

Decimal Decimal::FromInt(std::int64_t value) {
    // Magnitude in unsigned arithmetic: the lowest int64 has no positive counterpart.
    const std::uint64_t magnitude =
        value < 0 ? 0 - static_cast<std::uint64_t>(value) : static_cast<std::uint64_t>(value);
    Decimal d = FromUnsigned(magnitude);
    d.negative = value < 0;
    return d;
}

Decimal Decimal::FromDouble(double value) {
    if (!std::isfinite(value)) Overflow();
    if (value == 0) return {};
    char buf[64];
    auto r = std::to_chars(buf, buf + sizeof buf, std::fabs(value), std::chars_format::scientific);
    std::string_view s(buf, static_cast<std::size_t>(r.ptr - buf));
    const std::size_t e = s.find('e');
    std::string digits;
    for (char c : s.substr(0, e))
        if (c != '.') digits.push_back(c);
    int exp10 = 0;
    std::from_chars(s.data() + e + 1 + (s[e + 1] == '+'), s.data() + s.size(), exp10);
    return Normalized(value < 0, std::move(digits), exp10 + 1);
}

Decimal Decimal::Parse(std::string_view s) {
    auto invalid = [] { Fail(1722, "invalid number"); };
    std::size_t i = 0;
    bool negative = false;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) negative = s[i++] == '-';
    std::string digits;
    int pointAt = -1;
    std::size_t counted = 0;
    for (; i < s.size(); ++i) {
        if (s[i] >= '0' && s[i] <= '9') {
            digits.push_back(s[i]);
            ++counted;
        } else if (s[i] == '.' && pointAt < 0) {
            pointAt = static_cast<int>(digits.size());
        } else {
            break;
        }
    }
    if (counted == 0) invalid();
    long long exp10 = 0;
    if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
        ++i;
        bool minus = false;
        if (i < s.size() && (s[i] == '+' || s[i] == '-')) minus = s[i++] == '-';
        const std::size_t start = i;
        for (; i < s.size() && s[i] >= '0' && s[i] <= '9'; ++i)
            if (exp10 < 100000) exp10 = exp10 * 10 + (s[i] - '0');
        if (i == start) invalid();
        if (minus) exp10 = -exp10;
    }
    if (i != s.size()) invalid();
    const long long point = pointAt < 0 ? static_cast<long long>(digits.size()) : pointAt;
    // Far beyond NUMBER's range either way: no need to carry the exact exponent.
    const long long exponent = std::clamp(point + exp10, -1000000LL, 1000000LL);
    return Normalized(negative, std::move(digits), static_cast<int>(exponent));
}

Decimal Decimal::FromBytes(const unsigned char* bytes, std::size_t length) {
    if (length == 0 || length > 1 + kMantissaBytes) Fail(1722, "invalid number");
    if (length == 1 && bytes[0] == 0x80) return {};
    const bool negative = bytes[0] < 0x80;
    const int exp100 = negative ? 62 - bytes[0] : bytes[0] - 193;
    std::string digits;
    for (std::size_t i = 1; i < length; ++i) {
        if (negative && bytes[i] == 102 && i == length - 1) break;
        const int pair = negative ? 101 - bytes[i] : bytes[i] - 1;
        if (pair < 0 || pair > 99) Fail(1722, "invalid number");
        digits.push_back(static_cast<char>('0' + pair / 10));
        digits.push_back(static_cast<char>('0' + pair % 10));
    }
    if (digits.empty()) Fail(1722, "invalid number");
    return Normalized(negative, std::move(digits), (exp100 + 1) * 2);
}

Decimal Fit(Decimal value) {
    if (value.IsZero()) return value;
    // Base-100 digits: an odd decimal exponent spends a leading zero of the first pair.
    const int keep = static_cast<int>(2 * kMantissaBytes) - (value.exponent % 2 != 0 ? 1 : 0);
    value = KeepDigits(value, keep, false);
    const int aligned = value.exponent + (value.exponent % 2 != 0 ? 1 : 0);
    const int exp100 = aligned / 2 - 1;
    if (exp100 > kMaxExponent100) Overflow();
    if (exp100 < kMinExponent100) return {};
    return value;
}

Decimal RoundTo(const Decimal& value, int scale, bool truncate) {
    if (value.IsZero()) return value;
    const long long keep = static_cast<long long>(value.exponent) + scale;
    if (keep > static_cast<long long>(value.digits.size())) return value;
    if (keep < 0) return {};
    return KeepDigits(value, static_cast<int>(keep), truncate);
}

int Compare(const Decimal& a, const Decimal& b) {
    if (a.IsZero() || b.IsZero() || a.negative != b.negative) {
        auto sign = [](const Decimal& d) { return d.IsZero() ? 0 : d.negative ? -1 : 1; };
        const int sa = sign(a), sb = sign(b);
        return sa < sb ? -1 : sa > sb ? 1 : 0;
    }
    int magnitude = 0;
    if (a.exponent != b.exponent)
        magnitude = a.exponent < b.exponent ? -1 : 1;
    else
        magnitude = a.digits < b.digits ? -1 : a.digits > b.digits ? 1 : 0;
    return a.negative ? -magnitude : magnitude;
}

Decimal Add(const Decimal& a, const Decimal& b) {
    if (a.IsZero()) return b;
    if (b.IsZero()) return a;
    // Both as integers scaled to the lower of their last digits' powers.
    const int lowA = a.exponent - static_cast<int>(a.digits.size());
    const int lowB = b.exponent - static_cast<int>(b.digits.size());
    const int low = std::min(lowA, lowB);
    const std::string x = a.digits + std::string(static_cast<std::size_t>(lowA - low), '0');
    const std::string y = b.digits + std::string(static_cast<std::size_t>(lowB - low), '0');
    std::string sum;
    bool negative = a.negative;
    if (a.negative == b.negative) {
        sum = AddMagnitude(x, y);
    } else if (CompareMagnitude(x, y) >= 0) {
        sum = SubtractMagnitude(x, y);
    } else {
        sum = SubtractMagnitude(y, x);
        negative = b.negative;
    }
    const int exponent = static_cast<int>(sum.size()) + low;
    return Normalized(negative, std::move(sum), exponent);
}

Decimal Subtract(const Decimal& a, Decimal b) {
    if (!b.IsZero()) b.negative = !b.negative;
    return Add(a, b);
}

Decimal Multiply(const Decimal& a, const Decimal& b) {
    if (a.IsZero() || b.IsZero()) return {};
    std::vector<int> acc(a.digits.size() + b.digits.size(), 0);
    for (std::size_t i = a.digits.size(); i-- > 0;)
        for (std::size_t j = b.digits.size(); j-- > 0;)
            acc[i + j + 1] += (a.digits[i] - '0') * (b.digits[j] - '0');
    for (std::size_t k = acc.size(); k-- > 1;) {
        acc[k - 1] += acc[k] / 10;
        acc[k] %= 10;
    }
    std::string digits;
    for (int v : acc) digits.push_back(static_cast<char>('0' + v));
    return Normalized(a.negative != b.negative, std::move(digits), a.exponent + b.exponent);
}

Decimal Divide(const Decimal& a, const Decimal& b) {
    if (b.IsZero()) Fail(1476, "divisor is equal to zero");
    if (a.IsZero()) return {};
    // Long division to 45 significant digits: enough to round to 40 correctly, since a
    // cut-off tail can only ever lie strictly inside a rounding interval.
    constexpr int kDigits = 45;
    std::string remainder = "0";
    std::string quotient;
    std::size_t next = 0;  // digits of a taken, zeros past its end included
    int significant = 0;
    while (significant < kDigits) {
        remainder = StripLeading(remainder + (next < a.digits.size() ? a.digits[next] : '0'));
        ++next;
        int q = 0;
        while (CompareMagnitude(remainder, b.digits) >= 0) {
            remainder = StripLeading(SubtractMagnitude(remainder, b.digits));
            ++q;
        }
        quotient.push_back(static_cast<char>('0' + q));
        if (q != 0 || significant > 0) ++significant;
        if (remainder == "0" && next >= a.digits.size()) break;
    }
    // The digits taken form P with a ~ P * 10^(ea - next), and b = B * 10^(eb - lb).
    const int low =
        a.exponent - static_cast<int>(next) - b.exponent + static_cast<int>(b.digits.size());
    const int exponent = static_cast<int>(quotient.size()) + low;
    return Fit(Normalized(a.negative != b.negative, std::move(quotient), exponent));
}

std::string OracleBytes(const Decimal& value) {
    if (value.IsZero()) return std::string(1, '\x80');
    std::string digits = value.digits;
    int exponent = value.exponent;
    if (exponent % 2 != 0) {
        digits.insert(0, 1, '0');
        ++exponent;
    }
    if (digits.size() % 2 != 0) digits.push_back('0');
    const int exp100 = exponent / 2 - 1;
    if (exp100 > kMaxExponent100 || exp100 < kMinExponent100 || digits.size() > 2 * kMantissaBytes)
        Overflow();
    std::string out;
    out.push_back(static_cast<char>(value.negative ? 62 - exp100 : 193 + exp100));
    for (std::size_t i = 0; i < digits.size(); i += 2) {
        const int pair = (digits[i] - '0') * 10 + (digits[i + 1] - '0');
        out.push_back(static_cast<char>(value.negative ? 101 - pair : pair + 1));
    }
    // Negative numbers end in 102 unless all 20 digits are used, so a longer magnitude
    // sorts first.
    if (value.negative && out.size() < 1 + kMantissaBytes) out.push_back(static_cast<char>(102));
    return out;
}

namespace {

std::string Fixed(const Decimal& d) {
    const int n = static_cast<int>(d.digits.size());
    if (d.exponent <= 0)
        return "." + std::string(static_cast<std::size_t>(-d.exponent), '0') + d.digits;
    if (d.exponent >= n)
        return d.digits + std::string(static_cast<std::size_t>(d.exponent - n), '0');
    return d.digits.substr(0, static_cast<std::size_t>(d.exponent)) + "." +
           d.digits.substr(static_cast<std::size_t>(d.exponent));
}

std::string Scientific(const Decimal& d) {
    std::string out = d.digits.substr(0, 1);
    if (d.digits.size() > 1) out += "." + d.digits.substr(1);
    const int e = d.exponent - 1;
    char buf[16];
    std::snprintf(buf, sizeof buf, "E%c%02d", e < 0 ? '-' : '+', e < 0 ? -e : e);
    return out + buf;
}

}  // namespace

std::string OracleText(const Decimal& d) {
    if (d.IsZero()) return "0";
    // The positional form within 40 characters, its fraction rounded to fit as long as
    // NUMBER's 38 guaranteed digits survive; else the scientific form with every digit.
    const std::string sign = d.negative ? "-" : "";
    const int room = 40 - static_cast<int>(sign.size());
    if (d.exponent <= room && d.exponent > -room) {
        std::string plain = Fixed(d);  // the common case: it fits as it is
        if (static_cast<int>(plain.size()) <= room) return sign + plain;
    }
    if (d.exponent <= room) {
        const Decimal fixed = RoundTo(d, room - std::max(d.exponent, 0) - 1);
        const std::size_t wanted = std::min<std::size_t>(38, d.digits.size());
        if (!fixed.IsZero() && fixed.digits.size() >= wanted &&
            static_cast<int>(Fixed(fixed).size()) <= room)
            return sign + Fixed(fixed);
    }
    return sign + Scientific(d);
}

std::string OracleText(const unsigned char* bytes, std::size_t length) {
    // Straight from the internal form when the positional form fits: the fetch of a
    // non-integral column as text takes this path for every row.
    if (length >= 2 && length <= 1 + kMantissaBytes && bytes[0] != 0x80) {
        const bool negative = bytes[0] < 0x80;
        const int exp100 = negative ? 62 - bytes[0] : bytes[0] - 193;
        char digits[2 * kMantissaBytes];
        std::size_t n = 0;
        bool valid = true;
        for (std::size_t i = 1; i < length; ++i) {
            if (negative && bytes[i] == 102 && i == length - 1) break;
            const int pair = negative ? 101 - bytes[i] : bytes[i] - 1;
            valid = valid && pair >= 0 && pair <= 99;
            digits[n++] = static_cast<char>('0' + pair / 10);
            digits[n++] = static_cast<char>('0' + pair % 10);
        }
        std::size_t first = 0;
        while (first < n && digits[first] == '0') ++first;
        while (n > first && digits[n - 1] == '0') --n;
        const int exponent = (exp100 + 1) * 2 - static_cast<int>(first);
        const int count = static_cast<int>(n - first);
        const int room = negative ? 39 : 40;
        if (valid && count > 0 && exponent > -room && exponent <= room) {
            const int size = exponent <= 0       ? 1 - exponent + count
                             : exponent >= count ? exponent
                                                 : count + 1;
            if (size <= room) {
                std::string out;
                out.reserve(static_cast<std::size_t>(size + 1));
                if (negative) out.push_back('-');
                const char* d = digits + first;
                if (exponent <= 0) {
                    out.push_back('.');
                    out.append(static_cast<std::size_t>(-exponent), '0');
                    out.append(d, static_cast<std::size_t>(count));
                } else if (exponent >= count) {
                    out.append(d, static_cast<std::size_t>(count));
                    out.append(static_cast<std::size_t>(exponent - count), '0');
                } else {
                    out.append(d, static_cast<std::size_t>(exponent));
                    out.push_back('.');
                    out.append(d + exponent, static_cast<std::size_t>(count - exponent));
                }
                return out;
            }
        }
    }
    return OracleText(Decimal::FromBytes(bytes, length));
}

std::string ExactText(const Decimal& d) {
    std::string text = OracleText(d);
    if (Decimal::Parse(text) == d) return text;
    return (d.negative ? "-" : "") + Scientific(d);
}

std::string PositionalText(const Decimal& d, int decimals) {
    std::string integer, fraction;
    const int n = static_cast<int>(d.digits.size());
    for (int p = std::max(d.exponent, 1) - 1; p >= 0; --p) {  // p: power of the digit
        const int index = d.exponent - 1 - p;
        integer.push_back(index >= 0 && index < n ? d.digits[static_cast<std::size_t>(index)]
                                                  : '0');
    }
    for (int k = 1; k <= decimals; ++k) {
        const int index = d.exponent - 1 + k;
        fraction.push_back(index >= 0 && index < n ? d.digits[static_cast<std::size_t>(index)]
                                                   : '0');
    }
    if (integer.empty()) integer = "0";
    return decimals > 0 ? integer + "." + fraction : integer;
}

std::optional<std::int64_t> ToInt64(const Decimal& d) {
    if (d.IsZero()) return 0;
    const int n = static_cast<int>(d.digits.size());
    if (d.exponent < n || d.exponent > 19) return std::nullopt;
    std::uint64_t magnitude = 0;
    for (int i = 0; i < d.exponent; ++i) {
        const unsigned digit =
            i < n ? static_cast<unsigned>(d.digits[static_cast<std::size_t>(i)] - '0') : 0;
        if (magnitude > (UINT64_MAX - digit) / 10) return std::nullopt;
        magnitude = magnitude * 10 + digit;
    }
    constexpr std::uint64_t kMaxPositive = static_cast<std::uint64_t>(INT64_MAX);
    if (!d.negative) {
        if (magnitude > kMaxPositive) return std::nullopt;
        return static_cast<std::int64_t>(magnitude);
    }
    if (magnitude > kMaxPositive + 1) return std::nullopt;
    return magnitude == kMaxPositive + 1 ? INT64_MIN : -static_cast<std::int64_t>(magnitude);
}

double ToDouble(const Decimal& d) {
    if (d.IsZero()) return 0;
    const std::string s = "0." + d.digits + "e" + std::to_string(d.exponent);
    double v = 0;
    std::from_chars(s.data(), s.data() + s.size(), v);  // correctly rounded
    return d.negative ? -v : v;
}

}  // namespace velnor::ocisqlite::sql
