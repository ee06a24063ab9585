#include "platform/RegionalSettings.h"

#include <langinfo.h>
#include <locale.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <vector>

namespace velnor::platform {
namespace {

std::mutex publishMutex;
std::atomic<const TRegionalSettings*> current{nullptr};

// Every published object lives until the process ends, so a reference handed out by
// RegionalSettings() never dangles while another thread reloads.
std::vector<std::unique_ptr<const TRegionalSettings>>& Published() {
    static auto* list = new std::vector<std::unique_ptr<const TRegionalSettings>>();
    return *list;
}

const TRegionalSettings& Publish(const TRegionalSettings& settings) {
    std::lock_guard lock(publishMutex);
    auto& list = Published();
    list.push_back(std::make_unique<const TRegionalSettings>(settings));
    current.store(list.back().get(), std::memory_order_release);
    return *list.back();
}

// Expands the composite conversions of strftime into their parts.
std::string ExpandPattern(const std::string& pattern) {
    std::string out;
    for (std::size_t i = 0; i < pattern.size(); ++i) {
        if (pattern[i] != '%' || i + 1 >= pattern.size()) {
            out += pattern[i];
            continue;
        }
        std::size_t j = i + 1;
        std::string flag;
        while (j < pattern.size() && (pattern[j] == '-' || pattern[j] == '_' || pattern[j] == '0' ||
                                      pattern[j] == 'E' || pattern[j] == 'O'))
            flag += pattern[j++];
        if (j >= pattern.size()) break;
        switch (pattern[j]) {
            case 'D':
                out += "%m/%d/%y";
                break;
            case 'F':
                out += "%Y-%m-%d";
                break;
            case 'T':
                out += "%H:%M:%S";
                break;
            case 'R':
                out += "%H:%M";
                break;
            case 'r':
                out += "%I:%M:%S %p";
                break;
            default:
                // A "-" or "_" flag drops the leading zero; the other flags change nothing here.
                out += '%';
                if (flag.find_first_of("-_") != std::string::npos) out += '-';
                out += pattern[j];
                break;
        }
        i = j;
    }
    return out;
}

// A pattern split into conversions ("%Y") and the literal texts between them.
struct TPiece {
    bool conversion;
    std::string text;  // "Y", "-m" for a conversion; the bytes for a literal
};

std::vector<TPiece> SplitPattern(const std::string& pattern) {
    std::vector<TPiece> pieces;
    for (std::size_t i = 0; i < pattern.size(); ++i) {
        if (pattern[i] == '%' && i + 1 < pattern.size()) {
            std::string conv;
            if (pattern[i + 1] == '-' && i + 2 < pattern.size()) conv += pattern[++i];
            conv += pattern[++i];
            if (conv == "%") {
                if (pieces.empty() || pieces.back().conversion) pieces.push_back({false, ""});
                pieces.back().text += '%';
            } else if (conv == "n" || conv == "t") {
                if (pieces.empty() || pieces.back().conversion) pieces.push_back({false, ""});
                pieces.back().text += ' ';
            } else {
                pieces.push_back({true, conv});
            }
        } else {
            if (pieces.empty() || pieces.back().conversion) pieces.push_back({false, ""});
            pieces.back().text += pattern[i];
        }
    }
    return pieces;
}

// A literal as format text: quoted unless it is blank, since letters would be elements.
std::string QuoteLiteral(const std::string& text) {
    if (text.find_first_not_of(' ') == std::string::npos) return text;
    return "\"" + text + "\"";
}

// The separator a pattern uses between its first three conversions, or "" when the literals
// between them differ.
std::string CommonSeparator(const std::vector<TPiece>& pieces) {
    std::vector<std::string> between;
    bool started = false;
    std::string literal;
    for (const TPiece& piece : pieces) {
        if (piece.conversion) {
            if (started) between.push_back(literal);
            started = true;
            literal.clear();
        } else if (started) {
            literal = piece.text;
        }
    }
    if (between.empty() || between[0].empty()) return {};
    for (const std::string& s : between)
        if (s != between[0]) return {};
    for (char c : between[0])
        if ((c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z')) return {};
    return between[0];
}

std::string Info(locale_t locale, nl_item item) {
    const char* text = nl_langinfo_l(item, locale);
    return text ? std::string(text) : std::string();
}

}  // namespace

const TRegionalSettings& RegionalSettings() noexcept {
    if (const TRegionalSettings* settings = current.load(std::memory_order_acquire))
        return *settings;
    try {
        {
            std::lock_guard lock(publishMutex);
            if (const TRegionalSettings* settings = current.load(std::memory_order_acquire))
                return *settings;
        }
        return Publish(ReadLocaleSettings());
    } catch (...) {
        // Out of memory at the first use: the built-in defaults still format correctly.
        static const TRegionalSettings defaults;
        return defaults;
    }
}

void ReloadRegionalSettings() { Publish(ReadLocaleSettings()); }

void SetRegionalSettings(const TRegionalSettings& settings) { Publish(settings); }

void ApplyDatePattern(TRegionalSettings& settings, const std::string& pattern) {
    const std::vector<TPiece> pieces = SplitPattern(ExpandPattern(pattern));
    const std::string separator = CommonSeparator(pieces);
    std::string format;
    int elements = 0;
    for (const TPiece& piece : pieces) {
        if (!piece.conversion) {
            format +=
                (!separator.empty() && piece.text == separator) ? "/" : QuoteLiteral(piece.text);
            continue;
        }
        const std::string& c = piece.text;
        if (c == "Y" || c == "G" || c == "-Y")
            format += "yyyy";
        else if (c == "y" || c == "g" || c == "-y")
            format += "yy";
        else if (c == "m" || c == "b" || c == "h" || c == "B")
            format += "mm";
        else if (c == "-m")
            format += "m";
        else if (c == "d")
            format += "dd";
        else if (c == "e" || c == "-d" || c == "-e")
            format += "d";
        else
            continue;  // weekday names and the like have no short date element
        ++elements;
    }
    if (elements == 0) return;
    settings.shortDateFormat = format;
    if (!separator.empty()) settings.dateSeparator = separator;
}

void ApplyTimePattern(TRegionalSettings& settings, const std::string& pattern) {
    const std::vector<TPiece> pieces = SplitPattern(ExpandPattern(pattern));
    int hourAt = -1, minuteAt = -1, secondAt = -1, markerAt = -1;
    bool leadingZero = true, twelveHour = false;
    for (int i = 0; i < static_cast<int>(pieces.size()); ++i) {
        const TPiece& piece = pieces[static_cast<std::size_t>(i)];
        if (!piece.conversion) continue;
        const std::string& c = piece.text;
        if (c == "H" || c == "I" || c == "k" || c == "l" || c == "-H" || c == "-I") {
            hourAt = i;
            twelveHour = c.back() == 'I' || c.back() == 'l';
            leadingZero = c == "H" || c == "I";
        } else if ((c == "M" || c == "-M") && minuteAt < 0) {
            minuteAt = i;
        } else if ((c == "S" || c == "-S") && secondAt < 0) {
            secondAt = i;
        } else if (c == "p" || c == "P") {
            markerAt = i;
        }
    }
    if (hourAt < 0) return;
    // The locale's separator when hour, minute and second are parted by the same punctuation.
    std::string separator = ":";
    if (minuteAt == hourAt + 2) {
        std::vector<TPiece> parts(
            pieces.begin() + hourAt,
            pieces.begin() + (secondAt == minuteAt + 2 ? secondAt : minuteAt) + 1);
        const std::string common = CommonSeparator(parts);
        if (!common.empty()) separator = common;
    }
    std::string format = leadingZero ? "hh:mm:ss" : "h:mm:ss";
    if (twelveHour)
        format = markerAt >= 0 && markerAt < hourAt ? "AMPM " + format : format + " AMPM";
    settings.longTimeFormat = format;
    settings.timeSeparator = separator;
}

TRegionalSettings ReadLocaleSettings(const std::string& name) {
    TRegionalSettings settings;
    locale_t locale = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
    if (!locale) return settings;
    // Each category on its own, so a missing time locale still lets the numeric one count.
    for (int mask : {LC_NUMERIC_MASK, LC_TIME_MASK}) {
        if (locale_t combined = newlocale(mask, name.c_str(), locale)) locale = combined;
    }
    const std::string decimal = Info(locale, RADIXCHAR);
    if (!decimal.empty()) settings.decimalSymbol = decimal;
    ApplyDatePattern(settings, Info(locale, D_FMT));
    ApplyTimePattern(settings, Info(locale, T_FMT));
    const std::string am = Info(locale, AM_STR);
    const std::string pm = Info(locale, PM_STR);
    if (!am.empty()) settings.timeAMString = am;
    if (!pm.empty()) settings.timePMString = pm;
    freelocale(locale);
    return settings;
}

}  // namespace velnor::platform
