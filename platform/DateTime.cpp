#include "platform/DateTime.h"

#include <cmath>
#include <cstdlib>
#include <ctime>
#include <optional>
#include <vector>

#include "platform/RegionalSettings.h"
#include "platform/Variant.h"

namespace velnor::platform {
namespace {

constexpr std::int64_t MsPerDay = 86'400'000;
constexpr std::int64_t UnixEpochDay = 25'569;  // 1970-01-01 counted from 1899-12-30

// Astronomical years (0 = 1 BC) let the day arithmetic run without a gap.
constexpr int Astronomical(int year) noexcept { return year < 0 ? year + 1 : year; }
constexpr int Historical(std::int64_t year) noexcept {
    return static_cast<int>(year <= 0 ? year - 1 : year);
}

// Days since 1899-12-30 of a proleptic Gregorian date (astronomical year).
constexpr std::int64_t DaysFromCivil(std::int64_t y, int m, int d) noexcept {
    y -= m <= 2 ? 1 : 0;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const auto yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy =
        (153 * static_cast<unsigned>(m > 2 ? m - 3 : m + 9) + 2) / 5 + static_cast<unsigned>(d) - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<std::int64_t>(doe) - 719468 + UnixEpochDay;
}

struct TCivil {
    std::int64_t year;  // astronomical
    int month;
    int day;
};

constexpr TCivil CivilFromDays(std::int64_t days) noexcept {
    const std::int64_t z = days - UnixEpochDay + 719468;
    const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const auto doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    const auto d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    const auto m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    const std::int64_t y = static_cast<std::int64_t>(yoe) + era * 400 + (m <= 2 ? 1 : 0);
    return {y, m, d};
}

constexpr std::int64_t MinDay = DaysFromCivil(Astronomical(MinYear), 1, 1);
constexpr std::int64_t MaxDay = DaysFromCivil(MaxYear, 12, 31);
static_assert(DaysFromCivil(1899, 12, 30) == 0);
static_assert(DaysFromCivil(1, 1, 1) == static_cast<std::int64_t>(InvalidDate) + 1);

[[noreturn]] void RaiseOutOfRange(TDateTime value) {
    throw EConvertError("Date-time value out of range: " + FloatToText(value));
}

void AppendDigits(std::string& out, std::int64_t value, int width) {
    if (value < 0) {
        out += '-';
        value = -value;
    }
    char buf[24];
    int n = 0;
    do {
        buf[n++] = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value > 0);
    for (int i = n; i < width; ++i) out += '0';
    while (n > 0) out += buf[--n];
}

char Lower(char c) noexcept { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; }

bool StartsWithNoCase(std::string_view text, std::size_t pos, std::string_view word) noexcept {
    if (text.size() - pos < word.size()) return false;
    for (std::size_t i = 0; i < word.size(); ++i)
        if (Lower(text[pos + i]) != word[i]) return false;
    return true;
}

std::size_t RunLength(std::string_view text, std::size_t pos) noexcept {
    const char c = Lower(text[pos]);
    std::size_t n = 1;
    while (pos + n < text.size() && Lower(text[pos + n]) == c) ++n;
    return n;
}

// Whether the format (outside literals) asks for the 12-hour clock.
bool UsesTwelveHourClock(std::string_view format) noexcept {
    for (std::size_t i = 0; i < format.size(); ++i) {
        const char c = format[i];
        if (c == '"' || c == '\'') {
            const std::size_t close = format.find(c, i + 1);
            if (close == std::string_view::npos) return false;
            i = close;
        } else if (StartsWithNoCase(format, i, "ampm") || StartsWithNoCase(format, i, "am/pm") ||
                   StartsWithNoCase(format, i, "a/p")) {
            return true;
        }
    }
    return false;
}

// The long time format without its seconds, for the "t" element.
std::string ShortTimeFormat(const std::string& longTime) {
    std::string result = longTime;
    for (std::size_t i = 0; i + 1 < result.size(); ++i) {
        if (Lower(result[i]) == 's') {
            std::size_t start = i;
            std::size_t end = i + RunLength(result, i);
            if (start > 0 && result[start - 1] == ':') --start;
            result.erase(start, end - start);
            break;
        }
    }
    return result;
}

void Format(std::string& out, std::string_view format, const TDateTimeParts& p,
            const TRegionalSettings& settings, int depth) {
    const bool twelveHour = UsesTwelveHourClock(format);
    bool afterHour = false;
    std::size_t i = 0;
    while (i < format.size()) {
        const char c = format[i];
        const char lc = Lower(c);
        std::size_t run = 1;
        switch (lc) {
            case '"':
            case '\'': {
                std::size_t close = format.find(c, i + 1);
                if (close == std::string_view::npos) close = format.size();
                out.append(format.substr(i + 1, close - i - 1));
                i = close + 1;
                continue;
            }
            case 'y':
                run = RunLength(format, i);
                if (run <= 2)
                    AppendDigits(out, std::abs(p.year) % 100, 2);
                else
                    AppendDigits(out, p.year, 4);
                afterHour = false;
                break;
            case 'm':
                run = std::min<std::size_t>(RunLength(format, i), 2);
                AppendDigits(out, afterHour ? p.minute : p.month, static_cast<int>(run));
                afterHour = false;
                break;
            case 'd':
                run = RunLength(format, i);
                if (run >= 5) {
                    run = 5;
                    if (depth == 0) Format(out, settings.shortDateFormat, p, settings, depth + 1);
                } else {
                    run = std::min<std::size_t>(run, 2);
                    AppendDigits(out, p.day, static_cast<int>(run));
                }
                afterHour = false;
                break;
            case 'h': {
                run = std::min<std::size_t>(RunLength(format, i), 2);
                int hour = p.hour;
                if (twelveHour) {
                    hour %= 12;
                    if (hour == 0) hour = 12;
                }
                AppendDigits(out, hour, static_cast<int>(run));
                afterHour = true;
                i += run;
                continue;
            }
            case 'n':
                run = std::min<std::size_t>(RunLength(format, i), 2);
                AppendDigits(out, p.minute, static_cast<int>(run));
                afterHour = false;
                break;
            case 's':
                run = std::min<std::size_t>(RunLength(format, i), 2);
                AppendDigits(out, p.second, static_cast<int>(run));
                afterHour = false;
                break;
            case 'z':
                run = RunLength(format, i) >= 3 ? 3 : 1;
                AppendDigits(out, p.millisecond, run == 3 ? 3 : 1);
                afterHour = false;
                break;
            case 't':
                run = std::min<std::size_t>(RunLength(format, i), 2);
                if (depth == 0) {
                    if (run == 2)
                        Format(out, settings.longTimeFormat, p, settings, depth + 1);
                    else
                        Format(out, ShortTimeFormat(settings.longTimeFormat), p, settings,
                               depth + 1);
                }
                afterHour = false;
                break;
            case 'a':
                if (StartsWithNoCase(format, i, "ampm")) {
                    out += p.hour < 12 ? settings.timeAMString : settings.timePMString;
                    run = 4;
                } else if (StartsWithNoCase(format, i, "am/pm")) {
                    // Written in the letter case of the format.
                    out.append(format.substr(i + (p.hour < 12 ? 0 : 3), 2));
                    run = 5;
                } else if (StartsWithNoCase(format, i, "a/p")) {
                    out += format[i + (p.hour < 12 ? 0 : 2)];
                    run = 3;
                } else {
                    out += c;
                }
                break;
            case '/':
                out += settings.dateSeparator;
                break;
            case ':':
                out += settings.timeSeparator;
                break;
            default:
                out += c;
                break;
        }
        i += run;
    }
}

// Reading of date and time texts.
class TScanner {
public:
    explicit TScanner(std::string_view text) : text_(text) {}
    [[nodiscard]] bool AtEnd() const noexcept { return pos_ >= text_.size(); }
    [[nodiscard]] std::size_t Pos() const noexcept { return pos_; }
    void SetPos(std::size_t pos) noexcept { pos_ = pos; }
    void SkipBlanks() noexcept {
        while (pos_ < text_.size() && (text_[pos_] == ' ' || text_[pos_] == '\t')) ++pos_;
    }
    // Decimal digits; `digits` gets how many there were.
    std::optional<int> Number(int& digits) noexcept {
        int value = 0;
        digits = 0;
        while (pos_ < text_.size() && text_[pos_] >= '0' && text_[pos_] <= '9') {
            if (digits < 9) value = value * 10 + (text_[pos_] - '0');
            ++digits;
            ++pos_;
        }
        if (digits == 0 || digits > 9) return std::nullopt;
        return value;
    }
    bool Take(std::string_view word) noexcept {
        if (word.empty() || text_.substr(pos_, word.size()) != word) return false;
        pos_ += word.size();
        return true;
    }
    bool TakeNoCase(std::string_view lowerWord) noexcept {
        if (lowerWord.empty() || !StartsWithNoCase(text_, pos_, lowerWord)) return false;
        pos_ += lowerWord.size();
        return true;
    }

private:
    std::string_view text_;
    std::size_t pos_ = 0;
};

std::string LowerText(std::string_view text) {
    std::string result(text);
    for (char& c : result) c = Lower(c);
    return result;
}

// The order of year, month and day in a short date format, and the literal texts between them.
struct TDateOrder {
    char order[3] = {'m', 'd', 'y'};
    int count = 0;
    std::vector<std::string> literals;
};

TDateOrder ReadDateOrder(const TRegionalSettings& settings) {
    TDateOrder result;
    const std::string& f = settings.shortDateFormat;
    char found[3] = {};
    int n = 0;
    std::string literal;
    auto flush = [&] {
        if (!literal.empty()) result.literals.push_back(literal);
        literal.clear();
    };
    for (std::size_t i = 0; i < f.size(); ++i) {
        const char lc = Lower(f[i]);
        if (lc == '"' || lc == '\'') {
            std::size_t close = f.find(f[i], i + 1);
            if (close == std::string::npos) close = f.size();
            literal += f.substr(i + 1, close - i - 1);
            i = close;
        } else if (lc == 'y' || lc == 'm' || lc == 'd') {
            flush();
            bool seen = false;
            for (int k = 0; k < n; ++k) seen = seen || found[k] == lc;
            if (!seen && n < 3) found[n++] = lc;
            i += RunLength(f, i) - 1;
        } else if (lc == '/') {
            literal += settings.dateSeparator;
        } else if (lc != ' ') {
            literal += f[i];
        }
    }
    flush();
    if (n == 3) {
        for (int k = 0; k < 3; ++k) result.order[k] = found[k];
    }
    result.count = 3;
    return result;
}

bool TakeDateLiteral(TScanner& s, const TDateOrder& order, const TRegionalSettings& settings) {
    s.SkipBlanks();
    if (s.Take(settings.dateSeparator)) return true;
    for (const std::string& literal : order.literals)
        if (s.Take(literal)) return true;
    return false;
}

int CurrentYear() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    return local.tm_year + 1900;
}

// A date at the scanner's position; on failure the position is unspecified.
std::optional<TDateTime> ScanDate(TScanner& s, const TRegionalSettings& settings) {
    const TDateOrder order = ReadDateOrder(settings);
    int values[3] = {};
    int digits[3] = {};
    int n = 0;
    s.SkipBlanks();
    while (n < 3) {
        auto v = s.Number(digits[n]);
        if (!v) return std::nullopt;
        values[n++] = *v;
        const std::size_t before = s.Pos();
        if (!TakeDateLiteral(s, order, settings)) {
            s.SetPos(before);
            break;
        }
        s.SkipBlanks();
        if (n == 3) break;
        // A trailing literal (as in "15日") may end the date.
        int probe = 0;
        const std::size_t mark = s.Pos();
        if (!s.Number(probe)) {
            s.SetPos(mark);
            break;
        }
        s.SetPos(mark);
    }
    if (n < 2) return std::nullopt;
    int year = 0, month = 0, day = 0;
    int yearDigits = 4;
    if (n == 3) {
        for (int k = 0; k < 3; ++k) {
            switch (order.order[k]) {
                case 'y':
                    year = values[k];
                    yearDigits = digits[k];
                    break;
                case 'm':
                    month = values[k];
                    break;
                default:
                    day = values[k];
                    break;
            }
        }
    } else {
        // Without a year the month and day keep their order and the year is this one.
        int k = 0;
        for (char part : order.order) {
            if (part == 'y') continue;
            (part == 'm' ? month : day) = values[k++];
        }
        year = CurrentYear();
    }
    if (yearDigits <= 2) year += year < 50 ? 2000 : 1900;
    if (year < 1 || !IsValidDate(year, month, day)) return std::nullopt;
    return static_cast<TDateTime>(DaysFromCivil(year, month, day));
}

// A time of day at the scanner's position, as milliseconds.
std::optional<std::int64_t> ScanTime(TScanner& s, const TRegionalSettings& settings) {
    s.SkipBlanks();
    auto takeSeparator = [&] { return s.Take(settings.timeSeparator) || s.Take(":"); };
    int digits = 0;
    std::optional<bool> pm;
    auto scanMarker = [&] {
        s.SkipBlanks();
        if (s.TakeNoCase(LowerText(settings.timeAMString)) || s.TakeNoCase("am"))
            pm = false;
        else if (s.TakeNoCase(LowerText(settings.timePMString)) || s.TakeNoCase("pm"))
            pm = true;
        s.SkipBlanks();
    };
    scanMarker();
    auto hour = s.Number(digits);
    if (!hour || !takeSeparator()) return std::nullopt;
    auto minute = s.Number(digits);
    if (!minute) return std::nullopt;
    int second = 0, millisecond = 0;
    if (takeSeparator()) {
        auto sec = s.Number(digits);
        if (!sec) return std::nullopt;
        second = *sec;
        if (s.Take(".") || s.Take(settings.decimalSymbol)) {
            auto ms = s.Number(digits);
            if (!ms || digits > 3) return std::nullopt;
            millisecond = *ms * (digits == 1 ? 100 : digits == 2 ? 10 : 1);
        }
    }
    int h = *hour;
    if (!pm) scanMarker();
    if (pm) {
        if (h < 1 || h > 12) return std::nullopt;
        h = (h % 12) + (*pm ? 12 : 0);
    }
    if (!IsValidTime(h, *minute, second, millisecond)) return std::nullopt;
    return ((h * 60 + *minute) * 60 + second) * std::int64_t{1000} + millisecond;
}

[[noreturn]] void RaiseNotADate(std::string_view text) {
    throw EConvertError("'" + std::string(text) + "' は日付ではありません");
}

}  // namespace

bool IsLeapYear(int year) noexcept {
    const int y = Astronomical(year);
    return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
}

bool IsValidDate(int year, int month, int day) noexcept {
    static constexpr int DaysIn[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (year == 0 || year < MinYear || year > MaxYear || month < 1 || month > 12 || day < 1)
        return false;
    return day <= DaysIn[month - 1] + (month == 2 && IsLeapYear(year) ? 1 : 0);
}

bool IsValidTime(int hour, int minute, int second, int millisecond) noexcept {
    return hour >= 0 && hour < 24 && minute >= 0 && minute < 60 && second >= 0 && second < 60 &&
           millisecond >= 0 && millisecond < 1000;
}

TDateTime EncodeDate(int year, int month, int day) {
    if (!IsValidDate(year, month, day))
        throw EConvertError("Invalid date: " + std::to_string(year) + "-" + std::to_string(month) +
                            "-" + std::to_string(day));
    return static_cast<TDateTime>(DaysFromCivil(Astronomical(year), month, day));
}

TDateTime EncodeTime(int hour, int minute, int second, int millisecond) {
    if (!IsValidTime(hour, minute, second, millisecond))
        throw EConvertError("Invalid time: " + std::to_string(hour) + ":" + std::to_string(minute) +
                            ":" + std::to_string(second) + "." + std::to_string(millisecond));
    return static_cast<double>(((hour * 60 + minute) * 60 + second) * 1000 + millisecond) /
           static_cast<double>(MsPerDay);
}

TDateTime EncodeDateTime(const TDateTimeParts& parts) {
    const TDateTime date = EncodeDate(parts.year, parts.month, parts.day);
    const TDateTime time = EncodeTime(parts.hour, parts.minute, parts.second, parts.millisecond);
    return date >= 0 ? date + time : date - time;
}

TDateTime ComposeDateTime(std::int64_t days, std::int64_t millisecondOfDay) noexcept {
    const double time = static_cast<double>(millisecondOfDay) / static_cast<double>(MsPerDay);
    return days >= 0 ? static_cast<double>(days) + time : static_cast<double>(days) - time;
}

TDateTimeParts DecodeDateTime(TDateTime value) {
    if (!std::isfinite(value) || value < static_cast<double>(MinDay - 1) ||
        value > static_cast<double>(MaxDay + 1))
        RaiseOutOfRange(value);
    auto days = static_cast<std::int64_t>(std::trunc(value));
    // Below zero the fraction still counts forward from midnight, so a carry moves to the
    // following day (-1.9999999999 is 1899-12-29 24:00, which is 1899-12-30 00:00).
    auto ms = static_cast<std::int64_t>(
        std::llround(std::fabs(value - static_cast<double>(days)) * static_cast<double>(MsPerDay)));
    if (ms >= MsPerDay) {
        ms -= MsPerDay;
        ++days;
    }
    if (days < MinDay || days > MaxDay) RaiseOutOfRange(value);
    const TCivil civil = CivilFromDays(days);
    TDateTimeParts parts;
    parts.year = Historical(civil.year);
    parts.month = civil.month;
    parts.day = civil.day;
    parts.millisecond = static_cast<int>(ms % 1000);
    ms /= 1000;
    parts.second = static_cast<int>(ms % 60);
    ms /= 60;
    parts.minute = static_cast<int>(ms % 60);
    parts.hour = static_cast<int>(ms / 60);
    parts.dayOfWeek = static_cast<int>(((days + 6) % 7 + 7) % 7) + 1;
    return parts;
}

std::string FormatDateTime(std::string_view format, TDateTime value,
                           const TRegionalSettings& settings) {
    const TDateTimeParts parts = DecodeDateTime(value);
    std::string out;
    out.reserve(format.size() + 8);
    Format(out, format, parts, settings, 0);
    return out;
}

std::string FormatDateTime(std::string_view format, TDateTime value) {
    return FormatDateTime(format, value, RegionalSettings());
}

std::string DateTimeToText(TDateTime value, const TRegionalSettings& settings) {
    const TDateTimeParts p = DecodeDateTime(value);
    const bool midnight = p.hour == 0 && p.minute == 0 && p.second == 0 && p.millisecond == 0;
    std::string out;
    Format(out, midnight ? "ddddd" : "ddddd tt", p, settings, 0);
    return out;
}

std::string DateTimeToText(TDateTime value) { return DateTimeToText(value, RegionalSettings()); }

TDateTime TextToDate(std::string_view text, const TRegionalSettings& settings) {
    TScanner s(text);
    const auto date = ScanDate(s, settings);
    s.SkipBlanks();
    if (!date || !s.AtEnd()) RaiseNotADate(text);
    return *date;
}

TDateTime TextToDate(std::string_view text) { return TextToDate(text, RegionalSettings()); }

TDateTime TextToDateTime(std::string_view text, const TRegionalSettings& settings) {
    TScanner s(text);
    auto date = ScanDate(s, settings);
    std::optional<std::int64_t> time;
    if (date) {
        s.SkipBlanks();
        if (!s.AtEnd()) {
            time = ScanTime(s, settings);
            if (!time) RaiseNotADate(text);
        }
    } else {
        s.SetPos(0);
        time = ScanTime(s, settings);
        if (!time) RaiseNotADate(text);
    }
    s.SkipBlanks();
    if (!s.AtEnd()) RaiseNotADate(text);
    return ComposeDateTime(static_cast<std::int64_t>(date.value_or(0.0)), time.value_or(0));
}

TDateTime TextToDateTime(std::string_view text) { return TextToDateTime(text, RegionalSettings()); }

}  // namespace velnor::platform
