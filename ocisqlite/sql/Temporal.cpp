// TIMESTAMP, INTERVAL and binary floating point values: their stored forms, chosen so that
// SQLite's order is Oracle's order, and their text.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>

#include "ocisqlite/sql/Convert.h"

namespace velnor::ocisqlite::sql {

namespace {

constexpr std::int64_t kNanosPerSecond = 1000000000;
constexpr std::int64_t kNanosPerDay = 86400 * kNanosPerSecond;

std::int64_t Pow10(int n) {
    std::int64_t v = 1;
    while (n-- > 0) v *= 10;
    return v;
}

// Minutes since 1970 of the wall-clock time in `d`, and back.
std::int64_t MinuteNumber(const DateTime& d) {
    return DayNumber(d.year, d.month, d.day) * 1440 + d.hour * 60 + d.minute;
}
void FromMinuteNumber(std::int64_t m, DateTime& d) {
    std::int64_t days = m >= 0 ? m / 1440 : -((-m + 1439) / 1440);
    std::int64_t rest = m - days * 1440;
    FromDayNumber(days, d.year, d.month, d.day);
    d.hour = static_cast<int>(rest / 60);
    d.minute = static_cast<int>(rest % 60);
}

void CheckYear(const DateTime& d) {
    if (d.year == 0 || d.year < -4712 || d.year > 9999)
        Fail(1841, "(full) year must be between -4713 and +9999, and not be 0");
}

std::string StampText(const DateTime& d) {
    std::string out;
    out.reserve(36);  // with a zone suffix: one allocation
    AppendStoredDate(out, d);
    out += '.';
    AppendDigits(out, d.nanos, 9);
    return out;
}

[[noreturn]] void BadInterval() { Fail(1867, "the interval is invalid"); }

}  // namespace

bool IsTimestamp(int code) {
    return code == tcTimestamp || code == tcTimestampTz || code == tcTimestampLtz;
}

DateTime ShiftMinutes(DateTime d, std::int64_t minutes) {
    FromMinuteNumber(MinuteNumber(d) + minutes, d);
    return d;
}

DateTime RoundFraction(DateTime d, int precision) {
    std::int64_t unit = Pow10(9 - precision);
    std::int64_t n = (d.nanos + unit / 2) / unit * unit;
    if (n >= kNanosPerSecond) {
        n -= kNanosPerSecond;
        if (++d.second == 60) {
            d.second = 0;
            d = ShiftMinutes(d, 1);
        }
    }
    d.nanos = static_cast<int>(n);
    CheckYear(d);
    return d;
}

std::string StoredTimestamp(DateTime d, int code, int precision, int sessionZone) {
    CheckYear(d);
    d = RoundFraction(d, precision);
    if (code == tcTimestamp) return StampText(d);
    int zone = d.hasZone ? d.zone : sessionZone;
    DateTime utc = ShiftMinutes(d, -zone);
    CheckYear(utc);
    if (code == tcTimestampLtz) return StampText(utc);
    char buf[16];
    int a = zone < 0 ? -zone : zone;
    std::snprintf(buf, sizeof buf, " %c%02d:%02d", zone < 0 ? '-' : '+', a / 60, a % 60);
    return StampText(utc) + buf;
}

std::optional<DateTime> ParseStoredTimestamp(std::string_view t, int code, int sessionZone) {
    std::size_t dot = t.find('.');
    if (dot == std::string_view::npos || t.size() < dot + 10) return std::nullopt;
    auto d = ParseStoredDate(t.substr(0, dot));
    if (!d) return std::nullopt;
    const std::string_view fraction = t.substr(dot + 1, 9);
    if (fraction[0] >= '0' && fraction[0] <= '9') {
        // The digits as atoi reads them, without a string per row.
        int nanos = 0;
        for (char c : fraction) {
            if (c < '0' || c > '9') break;
            nanos = nanos * 10 + (c - '0');
        }
        d->nanos = nanos;
    } else {
        d->nanos = std::atoi(std::string(fraction).c_str());
    }
    if (code == tcTimestamp) return d;
    int zone = sessionZone;
    if (code == tcTimestampTz) {
        if (t.size() != dot + 17) return std::nullopt;
        std::string_view z = t.substr(dot + 11);
        zone = (z[0] == '-' ? -1 : 1) * (std::atoi(std::string(z.substr(1, 2)).c_str()) * 60 +
                                         std::atoi(std::string(z.substr(4, 2)).c_str()));
    }
    DateTime local = ShiftMinutes(*d, zone);
    local.zone = zone;
    local.hasZone = true;
    return local;
}

int LocalZone() {
    std::time_t now = std::time(nullptr);
    std::tm tm{};
    localtime_r(&now, &tm);
    return static_cast<int>(tm.tm_gmtoff / 60);
}

int ParseZoneOffset(std::string_view text) {
    DateTime d = ParseDate(text, "TZR", true);
    return d.zone;
}

std::int64_t ParseInterval(std::string_view text, int code, int leading, int fraction) {
    std::size_t pos = 0;
    auto skip = [&] {
        while (pos < text.size() && text[pos] == ' ') ++pos;
    };
    auto number = [&](int maxDigits, std::int64_t& out) {
        std::size_t start = pos;
        out = 0;
        while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9') {
            if (static_cast<int>(pos - start) >= maxDigits) BadInterval();
            out = out * 10 + (text[pos++] - '0');
        }
        if (pos == start) BadInterval();
    };
    skip();
    bool negative = false;
    if (pos < text.size() && (text[pos] == '-' || text[pos] == '+')) negative = text[pos++] == '-';
    std::int64_t lead = 0;
    number(18, lead);
    if (lead >= Pow10(leading)) Fail(1873, "the leading precision of the interval is too small");
    std::int64_t value = 0;
    if (code == tcIntervalYm) {
        std::int64_t months = 0;
        if (pos < text.size() && text[pos] == '-') {
            ++pos;
            number(2, months);
            if (months > 11) Fail(1843, "not a valid month");
        }
        value = lead * 12 + months;
    } else {
        std::int64_t h = 0, mi = 0, s = 0, nanos = 0;
        if (pos < text.size() && text[pos] == ' ') {
            skip();
            number(2, h);
            if (h > 23) Fail(1850, "hour must be between 0 and 23");
            if (pos < text.size() && text[pos] == ':') {
                ++pos;
                number(2, mi);
                if (mi > 59) Fail(1851, "minutes must be between 0 and 59");
                if (pos < text.size() && text[pos] == ':') {
                    ++pos;
                    number(2, s);
                    if (s > 59) Fail(1852, "seconds must be between 0 and 59");
                    if (pos < text.size() && text[pos] == '.') {
                        ++pos;
                        std::size_t start = pos;
                        number(9, nanos);
                        nanos *= Pow10(9 - static_cast<int>(pos - start));
                    }
                }
            }
        }
        // Whole days beyond int64 nanoseconds cannot be kept exactly.
        if (lead > 106000) Fail(1873, "the leading precision of the interval is too small");
        std::int64_t unit = Pow10(9 - fraction);
        nanos = (nanos + unit / 2) / unit * unit;
        value = lead * kNanosPerDay + ((h * 60 + mi) * 60 + s) * kNanosPerSecond + nanos;
        if (value / kNanosPerDay >= Pow10(leading))
            Fail(1873, "the leading precision of the interval is too small");
    }
    skip();
    if (pos != text.size()) BadInterval();
    return negative ? -value : value;
}

std::string IntervalText(std::int64_t v, int code, int leading, int fraction) {
    char sign = v < 0 ? '-' : '+';
    std::uint64_t a = v < 0 ? 0 - static_cast<std::uint64_t>(v) : static_cast<std::uint64_t>(v);
    char buf[64];
    if (code == tcIntervalYm) {
        std::snprintf(buf, sizeof buf, "%c%0*llu-%02llu", sign, leading,
                      static_cast<unsigned long long>(a / 12),
                      static_cast<unsigned long long>(a % 12));
        return buf;
    }
    const auto day = static_cast<std::uint64_t>(kNanosPerDay);
    const auto second = static_cast<std::uint64_t>(kNanosPerSecond);
    std::uint64_t secs = a % day / second;
    std::snprintf(buf, sizeof buf, "%c%0*llu %02llu:%02llu:%02llu", sign, leading,
                  static_cast<unsigned long long>(a / day),
                  static_cast<unsigned long long>(secs / 3600),
                  static_cast<unsigned long long>(secs / 60 % 60),
                  static_cast<unsigned long long>(secs % 60));
    std::string out = buf;
    if (fraction > 0) {
        std::snprintf(buf, sizeof buf, "%09llu", static_cast<unsigned long long>(a % second));
        out += '.';
        out.append(buf, static_cast<std::size_t>(fraction));
    }
    return out;
}

std::string BinaryText(double v, bool single) {
    if (std::isnan(v)) return "Nan";
    if (std::isinf(v)) return v < 0 ? "-Inf" : "Inf";
    if (v == 0) return "0";
    char buf[64];
    // Enough digits to read back the same value: 17 for a double, 9 for a float.
    std::snprintf(buf, sizeof buf, "%.*E", single ? 8 : 16, v);
    std::string s = buf;
    std::size_t e = s.find('E');
    std::string mantissa = s.substr(0, e);
    while (mantissa.back() == '0' && mantissa[mantissa.size() - 2] != '.') mantissa.pop_back();
    int exponent = std::atoi(s.c_str() + e + 1);
    std::snprintf(buf, sizeof buf, "E%c%03d", exponent < 0 ? '-' : '+', std::abs(exponent));
    return mantissa + buf;
}

double TextToBinary(std::string_view text, bool single) {
    std::string t(text);
    while (!t.empty() && t.back() == ' ') t.pop_back();
    std::size_t start = t.find_first_not_of(' ');
    t = start == std::string::npos ? std::string() : t.substr(start);
    std::string u = t;
    for (char& c : u)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    if (u == "NAN") return std::nan("");
    if (u == "INF" || u == "+INF") return HUGE_VAL;
    if (u == "-INF") return -HUGE_VAL;
    bool ok = !t.empty();
    for (char c : t)
        ok = ok &&
             ((c >= '0' && c <= '9') || c == '.' || c == '-' || c == '+' || c == 'e' || c == 'E');
    char* end = nullptr;
    // A float is read directly: through a double it could be rounded twice.
    double v = !ok ? 0 : single ? std::strtof(t.c_str(), &end) : std::strtod(t.c_str(), &end);
    if (!ok || end != t.c_str() + t.size()) Fail(1722, "invalid number");
    return v;
}

}  // namespace velnor::ocisqlite::sql
