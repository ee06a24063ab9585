// Oracle date format models: TO_CHAR of dates and TO_DATE.
#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <vector>

#include "ocisqlite/sql/Convert.h"

namespace velnor::ocisqlite::sql {

namespace {

enum class El {
    Literal,
    SYyyy,
    Yyyy,
    Yyy,
    Yy,
    Y,
    Rrrr,
    Rr,
    Month,
    Mon,
    Mm,
    Ddd,
    Dd,
    Day,
    Dy,
    D,
    Hh24,
    Hh12,
    Mi,
    Sssss,
    Ss,
    Meridian,
    MeridianDots,
    J,
    Q,
    Fm,
    Fx,
    X,   // the radix character
    Ff,  // fractional seconds; text holds the digit count when written FF1..FF9
    Tzh,
    Tzm,
    Tzr,
};
static_assert(static_cast<int>(El::Tzr) < 64, "ParseDate keeps a bit per element");

struct Element {
    El kind;
    std::string text;  // literal text, or the element as written (for its letter case)
};

struct Pattern {
    const char* name;
    El kind;
};

// Longest names first so that MONTH wins over MON and SSSSS over SS.
const Pattern kPatterns[] = {
    {"SYYYY", El::SYyyy},
    {"YYYY", El::Yyyy},
    {"YYY", El::Yyy},
    {"YY", El::Yy},
    {"Y", El::Y},
    {"RRRR", El::Rrrr},
    {"RR", El::Rr},
    {"MONTH", El::Month},
    {"MON", El::Mon},
    {"MM", El::Mm},
    {"MI", El::Mi},
    {"DDD", El::Ddd},
    {"DD", El::Dd},
    {"DAY", El::Day},
    {"DY", El::Dy},
    {"D", El::D},
    {"HH24", El::Hh24},
    {"HH12", El::Hh12},
    {"HH", El::Hh12},
    {"SSSSS", El::Sssss},
    {"SS", El::Ss},
    {"A.M.", El::MeridianDots},
    {"P.M.", El::MeridianDots},
    {"AM", El::Meridian},
    {"PM", El::Meridian},
    {"J", El::J},
    {"Q", El::Q},
    {"FM", El::Fm},
    {"FX", El::Fx},
    {"FF9", El::Ff},
    {"FF8", El::Ff},
    {"FF7", El::Ff},
    {"FF6", El::Ff},
    {"FF5", El::Ff},
    {"FF4", El::Ff},
    {"FF3", El::Ff},
    {"FF2", El::Ff},
    {"FF1", El::Ff},
    {"FF", El::Ff},
    {"TZH", El::Tzh},
    {"TZM", El::Tzm},
    {"TZR", El::Tzr},
    {"X", El::X},
};

bool TimestampOnly(El k) {
    return k == El::Ff || k == El::X || k == El::Tzh || k == El::Tzm || k == El::Tzr;
}
bool ZoneElement(El k) { return k == El::Tzh || k == El::Tzm || k == El::Tzr; }

// Digits FF writes: FFn gives n, plain FF the value's own precision.
int FractionDigits(const std::string& written, int precision) {
    return written.size() == 3 ? written[2] - '0' : precision;
}

std::string ZoneText(int zone) {
    int a = zone < 0 ? -zone : zone;
    char buf[16];
    std::snprintf(buf, sizeof buf, "%c%02d:%02d", zone < 0 ? '-' : '+', a / 60, a % 60);
    return buf;
}

[[noreturn]] void BadFormat() { Fail(1821, "date format not recognized"); }

bool StartsWithNoCase(std::string_view s, std::size_t pos, std::string_view prefix) {
    if (s.size() - pos < prefix.size()) return false;
    // Compared as bytes: a UTF-8 literal such as "年" holds bytes above 127.
    for (std::size_t i = 0; i < prefix.size(); ++i)
        if (static_cast<char>(std::toupper(static_cast<unsigned char>(s[pos + i]))) != prefix[i])
            return false;
    return true;
}

std::string Upper(std::string_view s) {
    std::string out(s);
    for (char& c : out) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return out;
}

std::vector<Element> ParseFormat(std::string_view f) {
    std::vector<Element> out;
    std::size_t i = 0;
    while (i < f.size()) {
        char c = f[i];
        if (c == '"') {
            std::size_t end = f.find('"', i + 1);
            if (end == std::string_view::npos) BadFormat();
            out.push_back({El::Literal, std::string(f.substr(i + 1, end - i - 1))});
            i = end + 1;
            continue;
        }
        if (std::string_view(" -/,.;:").find(c) != std::string_view::npos) {
            out.push_back({El::Literal, std::string(1, c)});
            ++i;
            continue;
        }
        bool found = false;
        for (const Pattern& p : kPatterns) {
            if (StartsWithNoCase(f, i, p.name)) {
                std::string_view name(p.name);
                out.push_back({p.kind, std::string(f.substr(i, name.size()))});
                i += name.size();
                found = true;
                break;
            }
        }
        if (!found) BadFormat();
    }
    return out;
}

struct Model {
    std::string text;
    std::vector<Element> els;
    bool timestampOnly = false;  // holds an element only a TIMESTAMP has
    bool zone = false;           // holds a time zone element
    bool iso = false;            // exactly SYYYY-MM-DD HH24:MI:SS.FF
};

// The model of fixed-width fields whose text needs no general parsing or formatting.
bool IsIsoTimestamp(const std::vector<Element>& els) {
    static constexpr El kinds[] = {El::SYyyy,   El::Literal, El::Mm,      El::Literal, El::Dd,
                                   El::Literal, El::Hh24,    El::Literal, El::Mi,      El::Literal,
                                   El::Ss,      El::Literal, El::Ff};
    static constexpr char literals[] = "?-?-? ?:?:?.?";  // by position: the literals
    if (els.size() != std::size(kinds)) return false;
    for (std::size_t i = 0; i < els.size(); ++i) {
        if (els[i].kind != kinds[i]) return false;
        if (kinds[i] == El::Literal && els[i].text != std::string_view(&literals[i], 1))
            return false;
    }
    return els.back().text.size() == 2;  // FF, not FFn
}

// The same few models (nearly always literals) come back for every row of a statement;
// parsing them once per thread keeps the per-row cost down to a string compare.
const Model& CachedFormat(std::string_view f) {
    constexpr std::size_t kSlots = 8;
    thread_local std::vector<Model> cache;
    thread_local std::size_t next = 0;
    cache.reserve(kSlots);  // a returned reference must outlive later insertions
    for (const Model& m : cache)
        if (m.text == f) return m;
    Model m{std::string(f), ParseFormat(f)};  // throws on a bad model: nothing cached
    for (const Element& e : m.els) {
        m.timestampOnly = m.timestampOnly || TimestampOnly(e.kind);
        m.zone = m.zone || ZoneElement(e.kind);
    }
    m.iso = IsIsoTimestamp(m.els);
    if (cache.size() < kSlots) {
        cache.push_back(std::move(m));
        return cache.back();
    }
    Model& slot = cache[next];
    next = (next + 1) % kSlots;
    slot = std::move(m);
    return slot;
}

const char* const kMonths[] = {"JANUARY",   "FEBRUARY", "MARCH",    "APRIL",
                               "MAY",       "JUNE",     "JULY",     "AUGUST",
                               "SEPTEMBER", "OCTOBER",  "NOVEMBER", "DECEMBER"};
const char* const kDays[] = {"SUNDAY",   "MONDAY", "TUESDAY", "WEDNESDAY",
                             "THURSDAY", "FRIDAY", "SATURDAY"};

// Names follow the letter case of the element: MON -> JAN, Mon -> Jan, mon -> jan.
void AppendCaseAs(std::string& out, std::string_view name, std::string_view written) {
    const bool firstUpper =
        !written.empty() && std::isupper(static_cast<unsigned char>(written[0]));
    const bool secondUpper =
        written.size() > 1 && std::isupper(static_cast<unsigned char>(written[1]));
    if (firstUpper && secondUpper) {  // the names are kept in capitals
        out.append(name);
        return;
    }
    for (std::size_t i = 0; i < name.size(); ++i) {
        const bool upper = i == 0 ? firstUpper : (firstUpper && secondUpper);
        const auto c = static_cast<unsigned char>(name[i]);
        out += static_cast<char>(upper ? std::toupper(c) : std::tolower(c));
    }
}

std::string CaseAs(std::string_view name, std::string_view written) {
    bool firstUpper = !written.empty() && std::isupper(static_cast<unsigned char>(written[0]));
    bool secondUpper = written.size() > 1 && std::isupper(static_cast<unsigned char>(written[1]));
    std::string out(name);
    for (std::size_t i = 0; i < out.size(); ++i) {
        bool upper = i == 0 ? firstUpper : (firstUpper && secondUpper);
        out[i] = static_cast<char>(upper ? std::toupper(static_cast<unsigned char>(out[i]))
                                         : std::tolower(static_cast<unsigned char>(out[i])));
    }
    return out;
}

std::string Digits(long long v, int width, bool fill) {
    std::string out;
    AppendDigits(out, v, fill ? 0 : width);
    return out;
}

int DayOfWeek(const DateTime& d) {  // 0 = Sunday
    std::int64_t n = DayNumber(d.year, d.month, d.day);
    return static_cast<int>(((n % 7) + 7 + 4) % 7);  // 1970-01-01 was a Thursday
}

std::string PadName(std::string name, bool fill) {
    if (!fill && name.size() < 9) name.resize(9, ' ');
    return name;
}

}  // namespace

std::string FormatDate(const DateTime& d, std::string_view format, int fraction, bool zone) {
    const Model& model = CachedFormat(format);
    if ((model.timestampOnly && fraction < 0) || (model.zone && !zone)) BadFormat();
    const std::vector<Element>& els = model.els;
    std::string out;  // most results fit its own small buffer
    bool fill = false;
    int absYear = d.year < 0 ? -d.year : d.year;
    int hour12 = d.hour % 12 == 0 ? 12 : d.hour % 12;
    for (const Element& e : els) {
        switch (e.kind) {
            case El::Literal:
                out += e.text;
                break;
            case El::Fm:
                fill = !fill;
                break;
            case El::Fx:
                break;
            case El::SYyyy:
                out += d.year < 0 ? "-" : (fill ? "" : " ");
                AppendDigits(out, absYear, fill ? 0 : 4);
                break;
            case El::Yyyy:
            case El::Rrrr:
                AppendDigits(out, absYear, fill ? 0 : 4);
                break;
            case El::Yyy:
                AppendDigits(out, absYear % 1000, fill ? 0 : 3);
                break;
            case El::Yy:
            case El::Rr:
                AppendDigits(out, absYear % 100, fill ? 0 : 2);
                break;
            case El::Y:
                AppendDigits(out, absYear % 10, fill ? 0 : 1);
                break;
            case El::Month:
                out += PadName(CaseAs(kMonths[d.month - 1], e.text), fill);
                break;
            case El::Mon:
                AppendCaseAs(out, std::string_view(kMonths[d.month - 1]).substr(0, 3), e.text);
                break;
            case El::Mm:
                AppendDigits(out, d.month, fill ? 0 : 2);
                break;
            case El::Ddd:
                AppendDigits(out, DayNumber(d.year, d.month, d.day) - DayNumber(d.year, 1, 1) + 1,
                             fill ? 0 : 3);
                break;
            case El::Dd:
                AppendDigits(out, d.day, fill ? 0 : 2);
                break;
            case El::Day:
                out += PadName(CaseAs(kDays[DayOfWeek(d)], e.text), fill);
                break;
            case El::Dy:
                AppendCaseAs(out, std::string_view(kDays[DayOfWeek(d)]).substr(0, 3), e.text);
                break;
            case El::D:
                AppendDigits(out, DayOfWeek(d) + 1, fill ? 0 : 1);
                break;
            case El::Hh24:
                AppendDigits(out, d.hour, fill ? 0 : 2);
                break;
            case El::Hh12:
                AppendDigits(out, hour12, fill ? 0 : 2);
                break;
            case El::Mi:
                AppendDigits(out, d.minute, fill ? 0 : 2);
                break;
            case El::Ss:
                AppendDigits(out, d.second, fill ? 0 : 2);
                break;
            case El::Sssss:
                AppendDigits(out, d.hour * 3600 + d.minute * 60 + d.second, fill ? 0 : 5);
                break;
            case El::Meridian:
                AppendCaseAs(out, d.hour < 12 ? "AM" : "PM", e.text);
                break;
            case El::MeridianDots:
                AppendCaseAs(out, d.hour < 12 ? "A.M." : "P.M.", e.text);
                break;
            case El::J:
                AppendDigits(out, DayNumber(d.year, d.month, d.day) + 2440588, fill ? 0 : 7);
                break;
            case El::Q:
                AppendDigits(out, (d.month - 1) / 3 + 1, fill ? 0 : 1);
                break;
            case El::X:
                out += '.';
                break;
            case El::Ff: {
                int n = FractionDigits(e.text, fraction);
                if (d.nanos < 0 || d.nanos > 999999999) {
                    out += Digits(d.nanos, 9, false).substr(0, static_cast<std::size_t>(n));
                    break;
                }
                char digits[9];
                for (int i = 8, v = d.nanos; i >= 0; --i, v /= 10)
                    digits[i] = static_cast<char>('0' + v % 10);
                out.append(digits, std::min<std::size_t>(static_cast<std::size_t>(n), 9));
                break;
            }
            case El::Tzh:
                out += ZoneText(d.zone).substr(0, 3);
                break;
            case El::Tzm:
                out += ZoneText(d.zone).substr(4, 2);
                break;
            case El::Tzr:
                out += ZoneText(d.zone);
                break;
        }
    }
    return out;
}

// A DATE model: fractions, the radix character and zones belong to timestamps only.
void ValidateDateFormat(std::string_view format) {
    if (CachedFormat(format).timestampOnly) BadFormat();
}

namespace {

// Two digits at `at`, or -1.
int TwoDigits(std::string_view t, std::size_t at) {
    const char a = t[at], b = t[at + 1];
    if (a < '0' || a > '9' || b < '0' || b > '9') return -1;
    return (a - '0') * 10 + (b - '0');
}

// "YYYY-MM-DD HH:MI:SS.f..." with one to nine fraction digits and fields in range, read at
// fixed places; anything else is left to the general parser and its errors.
std::optional<DateTime> ParseIsoTimestamp(std::string_view t) {
    if (t.size() < 21 || t.size() > 29 || t[4] != '-' || t[7] != '-' || t[10] != ' ' ||
        t[13] != ':' || t[16] != ':' || t[19] != '.')
        return std::nullopt;
    const int high = TwoDigits(t, 0), low = TwoDigits(t, 2);
    DateTime d;
    d.month = TwoDigits(t, 5);
    d.day = TwoDigits(t, 8);
    d.hour = TwoDigits(t, 11);
    d.minute = TwoDigits(t, 14);
    d.second = TwoDigits(t, 17);
    if (high < 0 || low < 0 || d.month < 1 || d.month > 12 || d.day < 1 || d.hour < 0 ||
        d.hour > 23 || d.minute < 0 || d.minute > 59 || d.second < 0 || d.second > 59)
        return std::nullopt;
    d.year = high * 100 + low;
    if (d.year == 0 || d.day > DaysInMonth(d.year, d.month)) return std::nullopt;
    int nanos = 0;
    for (std::size_t i = 20; i < 29; ++i) {
        const char c = i < t.size() ? t[i] : '0';
        if (c < '0' || c > '9') return std::nullopt;
        nanos = nanos * 10 + (c - '0');
    }
    d.nanos = nanos;
    return d;
}

}  // namespace

bool FormatStoredIsoTimestamp(std::string_view stored, std::string_view format, int fraction,
                              std::string& out) {
    // Stored "YYYY-MM-DD HH:MI:SS.fffffffff": an AD year, every field zero-padded.
    if (fraction < 0 || fraction > 9 || stored.size() != 29 || stored[0] < '0' || stored[0] > '9' ||
        stored[19] != '.' || !CachedFormat(format).iso)
        return false;
    out.clear();
    out += ' ';  // S of a positive year
    out.append(stored.substr(0, 20 + static_cast<std::size_t>(fraction)));
    return true;
}

DateTime ParseDate(std::string_view in, std::string_view format, bool timestamp) {
    const Model& model = CachedFormat(format);
    if (!timestamp && model.timestampOnly) BadFormat();
    if (model.iso && timestamp) {
        if (auto d = ParseIsoTimestamp(in)) return *d;
    }
    const std::vector<Element>& els = model.els;
    int nanos = 0, zoneHours = 0, zoneMinutes = 0;
    bool zoneNegative = false, hasZone = false;
    DateTime now{};
    bool nowKnown = false;
    auto current = [&]() -> const DateTime& {
        if (!nowKnown) now = Now();
        nowKnown = true;
        return now;
    };
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
    bool haveYear = false, haveMonth = false, haveDay = false, hour12 = false;
    int meridian = -1;  // 0 AM, 1 PM
    long long julian = -1;
    std::size_t pos = 0;
    std::uint64_t seen = 0;  // bit per El: TO_DATE runs per row, so no allocation
    auto isDigit = [](char c) { return c >= '0' && c <= '9'; };
    // ASCII letters and digits: what format elements read, without a locale lookup per byte.
    auto isAlnum = [](char c) {
        return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
    };
    auto punctuation = [&](const Element& x) {
        return x.kind == El::Literal && x.text.size() == 1 && !isAlnum(x.text[0]);
    };
    // Elements that read nothing and so do not part a run of punctuation.
    auto transparent = [](const Element& x) {
        return x.kind == El::Fm || x.kind == El::Fx || (x.kind == El::Literal && x.text.empty());
    };
    auto dateElement = [](El k) {
        switch (k) {
            case El::SYyyy:
            case El::Yyyy:
            case El::Yyy:
            case El::Yy:
            case El::Y:
            case El::Rrrr:
            case El::Rr:
            case El::Month:
            case El::Mon:
            case El::Mm:
            case El::Ddd:
            case El::Dd:
            case El::J:
                return true;
            default:
                return false;
        }
    };
    for (std::size_t k = 0; k < els.size(); ++k) {
        const Element& e = els[k];
        if (e.kind == El::Fm || e.kind == El::Fx) continue;
        if (e.kind != El::Literal) {
            const std::uint64_t bit = std::uint64_t{1} << static_cast<unsigned>(e.kind);
            if (seen & bit) Fail(1810, "format code appears twice");
            seen |= bit;
        }
        if (pos >= in.size()) {
            // Input ended: later time fields keep their defaults, missing date fields do not.
            for (std::size_t r = k; r < els.size(); ++r)
                if (dateElement(els[r].kind))
                    Fail(1840, "input value not long enough for date format");
            break;
        }
        auto readNumber = [&](int width, bool allowSign) -> long long {
            while (pos < in.size() && in[pos] == ' ') ++pos;
            bool negative = false;
            if (allowSign && pos < in.size() && (in[pos] == '-' || in[pos] == '+'))
                negative = in[pos++] == '-';
            std::size_t start = pos;
            long long v = 0;
            while (pos < in.size() && static_cast<int>(pos - start) < width && isDigit(in[pos]))
                v = v * 10 + (in[pos++] - '0');
            if (pos == start) {
                if (pos >= in.size()) Fail(1840, "input value not long enough for date format");
                Fail(1858, "a non-numeric character was found where a numeric was expected");
            }
            return negative ? -v : v;
        };
        auto readName = [&](const char* const* names, int count, int code, const char* text) {
            for (int full = 1; full >= 0; --full) {
                for (int n = 0; n < count; ++n) {
                    std::string_view name(names[n]);
                    if (!full) name = name.substr(0, 3);
                    if (StartsWithNoCase(in, pos, name)) {
                        pos += name.size();
                        return n;
                    }
                }
            }
            Fail(code, text);
        };
        switch (e.kind) {
            case El::Literal: {
                if (punctuation(e)) {
                    // A run of punctuation in the format matches any run of punctuation in
                    // the input; the run's first element reads it all.
                    std::size_t prev = k;
                    while (prev > 0 && transparent(els[prev - 1])) --prev;
                    if (prev > 0 && punctuation(els[prev - 1])) break;
                    if (isAlnum(in[pos]) && e.text[0] != ' ')
                        Fail(1861, "literal does not match format string");
                    // The run stops where what follows it begins: quoted text, or the sign
                    // of a signed year once the run's own marks are read ("01--4712" read
                    // with DD-SYYYY is 4712 BC). Blanks are extra, as names are padded.
                    std::size_t next = k;
                    std::size_t marks = 0;
                    for (; next < els.size() && (transparent(els[next]) || punctuation(els[next]));
                         ++next)
                        marks += punctuation(els[next]) && els[next].text != " ";
                    const bool signedYear = next < els.size() && (els[next].kind == El::SYyyy ||
                                                                  els[next].kind == El::Tzh ||
                                                                  els[next].kind == El::Tzr);
                    const std::string quoted = next < els.size() && els[next].kind == El::Literal
                                                   ? Upper(els[next].text)
                                                   : std::string();
                    std::size_t read = 0;
                    while (pos < in.size() && !isAlnum(in[pos])) {
                        if (signedYear && read >= marks && (in[pos] == '-' || in[pos] == '+') &&
                            pos + 1 < in.size() && isDigit(in[pos + 1]))
                            break;
                        if (!quoted.empty() && StartsWithNoCase(in, pos, quoted)) break;
                        read += in[pos++] != ' ';
                    }
                } else {
                    const std::string text = Upper(e.text);
                    if (!StartsWithNoCase(in, pos, text)) {
                        // Blanks before quoted text are extra, as after a padded name.
                        std::size_t after = pos;
                        while (after < in.size() && in[after] == ' ') ++after;
                        if (!StartsWithNoCase(in, after, text))
                            Fail(1861, "literal does not match format string");
                        pos = after;
                    }
                    pos += e.text.size();
                }
                break;
            }
            case El::SYyyy:
            case El::Yyyy:
                year = static_cast<int>(readNumber(4, e.kind == El::SYyyy));
                haveYear = true;
                break;
            case El::Yyy:
            case El::Yy:
            case El::Y: {
                int width = e.kind == El::Yyy ? 3 : e.kind == El::Yy ? 2 : 1;
                int unit = width == 3 ? 1000 : width == 2 ? 100 : 10;
                year = current().year - current().year % unit +
                       static_cast<int>(readNumber(width, false));
                haveYear = true;
                break;
            }
            case El::Rr:
            case El::Rrrr: {
                std::size_t start = pos;
                while (start < in.size() && in[start] == ' ') ++start;
                int v = static_cast<int>(readNumber(4, false));
                if (pos - start <= 2) {
                    int century = current().year / 100, yy = current().year % 100;
                    if (v < 50)
                        year = (yy < 50 ? century : century + 1) * 100 + v;
                    else
                        year = (yy < 50 ? century - 1 : century) * 100 + v;
                } else {
                    year = v;
                }
                haveYear = true;
                break;
            }
            case El::Month:
            case El::Mon:
                month = readName(kMonths, 12, 1843, "not a valid month") + 1;
                haveMonth = true;
                break;
            case El::Mm:
                month = static_cast<int>(readNumber(2, false));
                if (month < 1 || month > 12) Fail(1843, "not a valid month");
                haveMonth = true;
                break;
            case El::Dd:
                day = static_cast<int>(readNumber(2, false));
                if (day < 1 || day > 31)
                    Fail(1847, "day of month must be between 1 and last day of month");
                haveDay = true;
                break;
            case El::Ddd: {
                long long v = readNumber(3, false);
                if (v < 1 || v > 366)
                    Fail(1848, "day of year must be between 1 and 365 (366 for leap year)");
                julian = -2 - v;  // resolved once the year is known
                break;
            }
            case El::Day:
            case El::Dy:
                readName(kDays, 7, 1846, "not a valid day of the week");
                break;
            case El::D: {
                long long v = readNumber(1, false);
                if (v < 1 || v > 7) Fail(1846, "not a valid day of the week");
                break;
            }
            case El::Hh24:
                hour = static_cast<int>(readNumber(2, false));
                if (hour > 23) Fail(1850, "hour must be between 0 and 23");
                break;
            case El::Hh12:
                hour = static_cast<int>(readNumber(2, false));
                if (hour < 1 || hour > 12) Fail(1849, "hour must be between 1 and 12");
                hour12 = true;
                break;
            case El::Mi:
                minute = static_cast<int>(readNumber(2, false));
                if (minute > 59) Fail(1851, "minutes must be between 0 and 59");
                break;
            case El::Ss:
                second = static_cast<int>(readNumber(2, false));
                if (second > 59) Fail(1852, "seconds must be between 0 and 59");
                break;
            case El::Sssss: {
                long long v = readNumber(5, false);
                if (v > 86399) Fail(1853, "seconds in day must be between 0 and 86399");
                hour = static_cast<int>(v / 3600);
                minute = static_cast<int>(v / 60 % 60);
                second = static_cast<int>(v % 60);
                break;
            }
            case El::Meridian:
            case El::MeridianDots: {
                if (StartsWithNoCase(in, pos, "A.M.") || StartsWithNoCase(in, pos, "P.M.")) {
                    meridian = std::toupper(static_cast<unsigned char>(in[pos])) == 'P';
                    pos += 4;
                } else if (StartsWithNoCase(in, pos, "AM") || StartsWithNoCase(in, pos, "PM")) {
                    meridian = std::toupper(static_cast<unsigned char>(in[pos])) == 'P';
                    pos += 2;
                } else {
                    Fail(1855, "AM/A.M. or PM/P.M. required");
                }
                break;
            }
            case El::J: {
                julian = readNumber(7, false);
                // Day 1 is in 4714 BC of this proleptic Gregorian calendar, before the first
                // year a date can hold; refuse the days before 1 January 4712 BC too.
                if (julian < DayNumber(-4712, 1, 1) + 2440588 || julian > 5373484)
                    Fail(1854, "julian date must be between 1 and 5373484");
                break;
            }
            case El::Q:
                Fail(1820, "format code cannot appear in date input format");
            case El::X:
                if (in[pos] != '.') Fail(1861, "literal does not match format string");
                ++pos;
                break;
            case El::Ff: {
                int n = FractionDigits(e.text, 9);
                std::size_t start = pos;
                nanos = 0;
                while (pos < in.size() && isDigit(in[pos]) && static_cast<int>(pos - start) < n)
                    nanos = nanos * 10 + (in[pos++] - '0');
                if (pos == start)
                    Fail(1858, "a non-numeric character was found where a numeric was expected");
                for (std::size_t i = pos - start; i < 9; ++i) nanos *= 10;
                if (pos < in.size() && isDigit(in[pos]))
                    Fail(1830, "date format picture ends before converting entire input string");
                break;
            }
            case El::Tzh: {
                while (pos < in.size() && in[pos] == ' ') ++pos;
                if (pos < in.size() && (in[pos] == '-' || in[pos] == '+'))
                    zoneNegative = in[pos++] == '-';
                zoneHours = static_cast<int>(readNumber(2, false));
                if (zoneHours > 14) Fail(1874, "time zone hour must be between -15 and 15");
                hasZone = true;
                break;
            }
            case El::Tzm:
                zoneMinutes = static_cast<int>(readNumber(2, false));
                if (zoneMinutes > 59) Fail(1875, "time zone minute must be between -59 and 59");
                hasZone = true;
                break;
            case El::Tzr: {
                // Offsets only: region names need the zone files of a server.
                while (pos < in.size() && in[pos] == ' ') ++pos;
                if (StartsWithNoCase(in, pos, "UTC") || StartsWithNoCase(in, pos, "GMT")) {
                    pos += 3;
                } else {
                    if (pos >= in.size() || (in[pos] != '+' && in[pos] != '-'))
                        Fail(1882, "timezone region not found");
                    zoneNegative = in[pos++] == '-';
                    zoneHours = static_cast<int>(readNumber(2, false));
                    if (pos < in.size() && in[pos] == ':') {
                        ++pos;
                        zoneMinutes = static_cast<int>(readNumber(2, false));
                    }
                    if (zoneHours > 14) Fail(1874, "time zone hour must be between -15 and 15");
                    if (zoneMinutes > 59) Fail(1875, "time zone minute must be between -59 and 59");
                }
                hasZone = true;
                break;
            }
            case El::Fm:
            case El::Fx:
                break;
        }
    }
    while (pos < in.size() && in[pos] == ' ') ++pos;
    if (pos < in.size())
        Fail(1830, "date format picture ends before converting entire input string");
    const bool hasHh24 = (seen & (std::uint64_t{1} << static_cast<unsigned>(El::Hh24))) != 0;
    if (hasHh24 && meridian >= 0) Fail(1818, "'HH24' precludes use of meridian indicator");
    if (hour12 && meridian == 1 && hour < 12) hour += 12;
    if (hour12 && meridian != 1 && hour == 12) hour = 0;
    DateTime d;
    if (julian >= 0) {
        FromDayNumber(julian - 2440588, d.year, d.month, d.day);
    } else {
        d.year = haveYear ? year : current().year;
        if (d.year == 0 || d.year < -4712 || d.year > 9999)
            Fail(1841, "(full) year must be between -4713 and +9999, and not be 0");
        if (julian < -2) {
            std::int64_t n = DayNumber(d.year, 1, 1) + (-2 - julian) - 1;
            int y = 0;
            FromDayNumber(n, y, d.month, d.day);
            if (y != d.year)
                Fail(1848, "day of year must be between 1 and 365 (366 for leap year)");
        } else {
            d.month = haveMonth ? month : current().month;
            d.day = haveDay ? day : 1;
            if (d.day > DaysInMonth(d.year, d.month))
                Fail(1839, "date not valid for month specified");
        }
    }
    d.hour = hour;
    d.minute = minute;
    d.second = second;
    d.nanos = nanos;
    d.hasZone = hasZone;
    d.zone = (zoneNegative ? -1 : 1) * (zoneHours * 60 + zoneMinutes);
    return d;
}

}  // namespace velnor::ocisqlite::sql
