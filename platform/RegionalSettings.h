// The user's regional settings that the text forms of numbers and date-times follow.
#pragma once
#include <string>

namespace velnor::platform {

struct TRegionalSettings {
    std::string decimalSymbol = ".";
    std::string dateSeparator = "/";
    std::string timeSeparator = ":";
    // Date-time format elements (see FormatDateTime), e.g. "mm/dd/yy" and "hh:mm:ss AMPM".
    std::string shortDateFormat = "m/d/yy";
    std::string longTimeFormat = "hh:mm:ss";
    std::string timeAMString = "am";
    std::string timePMString = "pm";
    friend bool operator==(const TRegionalSettings&, const TRegionalSettings&) = default;
};

// The settings in force; read from the environment's locale on first use. The reference stays
// valid for the whole run (a reload publishes a new object and keeps the old ones).
[[nodiscard]] const TRegionalSettings& RegionalSettings() noexcept;

// Reads the settings again; the GUI calls it when the system announces a locale change.
void ReloadRegionalSettings();

// Puts settings in force directly (tests, or a program that wants fixed text forms).
void SetRegionalSettings(const TRegionalSettings& settings);

// The settings of the locale `name` ("" for the environment's: LC_ALL, LC_NUMERIC, LC_TIME,
// LANG), without touching the process locale. An unknown locale gives the defaults of "C".
[[nodiscard]] TRegionalSettings ReadLocaleSettings(const std::string& name = "");

// Turns a date pattern of nl_langinfo(D_FMT) into short date elements with "/" for the
// separator it finds ("%d.%m.%Y" gives "dd/mm/yyyy" and "."), and a time pattern of
// nl_langinfo(T_FMT) into the long time elements. Exposed for tests.
void ApplyDatePattern(TRegionalSettings& settings, const std::string& pattern);
void ApplyTimePattern(TRegionalSettings& settings, const std::string& pattern);

}  // namespace velnor::platform
