#include <gtest/gtest.h>
#include <stdlib.h>

#include <optional>
#include <string>

#include "platform/DateTime.h"
#include "platform/RegionalSettings.h"
#include "platform/Variant.h"

using namespace velnor::platform;

namespace {

struct PatternCase {
    const char* pattern;
    const char* format;
    const char* separator;
};

class DatePatternTest : public ::testing::TestWithParam<PatternCase> {};

TEST_P(DatePatternTest, BecomesShortDateElements) {
    TRegionalSettings s;
    ApplyDatePattern(s, GetParam().pattern);
    EXPECT_EQ(s.shortDateFormat, GetParam().format);
    EXPECT_EQ(s.dateSeparator, GetParam().separator);
}

INSTANTIATE_TEST_SUITE_P(
    Patterns, DatePatternTest,
    ::testing::Values(PatternCase{"%m/%d/%y", "mm/dd/yy", "/"},
                      PatternCase{"%d.%m.%Y", "dd/mm/yyyy", "."},
                      PatternCase{"%D", "mm/dd/yy", "/"}, PatternCase{"%F", "yyyy/mm/dd", "-"},
                      PatternCase{"%e/%-m/%Y", "d/m/yyyy", "/"},
                      PatternCase{"%Y. %m. %d.", "yyyy/mm/dd\".\"", ". "},
                      // Different texts between the parts stay literal; the separator is kept.
                      PatternCase{"%Y年%m月%d日", "yyyy\"年\"mm\"月\"dd\"日\"", "/"},
                      PatternCase{"", "m/d/yy", "/"}, PatternCase{"%a", "m/d/yy", "/"}));

class TimePatternTest : public ::testing::TestWithParam<PatternCase> {};

TEST_P(TimePatternTest, BecomesLongTimeElements) {
    TRegionalSettings s;
    ApplyTimePattern(s, GetParam().pattern);
    EXPECT_EQ(s.longTimeFormat, GetParam().format);
    EXPECT_EQ(s.timeSeparator, GetParam().separator);
}

INSTANTIATE_TEST_SUITE_P(Patterns, TimePatternTest,
                         ::testing::Values(PatternCase{"%H:%M:%S", "hh:mm:ss", ":"},
                                           PatternCase{"%T", "hh:mm:ss", ":"},
                                           PatternCase{"%r", "hh:mm:ss AMPM", ":"},
                                           PatternCase{"%l:%M:%S %p", "h:mm:ss AMPM", ":"},
                                           PatternCase{"%p %I時%M分%S秒", "AMPM hh:mm:ss", ":"},
                                           PatternCase{"%k.%M.%S", "h:mm:ss", "."},
                                           PatternCase{"%-H:%M", "h:mm:ss", ":"},
                                           PatternCase{"", "hh:mm:ss", ":"}));

// Restores the environment variable and the settings in force after a test.
class RegionalSettingsTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (const char* v = getenv("LC_ALL")) savedLcAll_ = v;
    }
    void TearDown() override {
        if (savedLcAll_)
            setenv("LC_ALL", savedLcAll_->c_str(), 1);
        else
            unsetenv("LC_ALL");
        SetRegionalSettings(TRegionalSettings{});
    }
    std::optional<std::string> savedLcAll_;
};

TEST_F(RegionalSettingsTest, TheCLocaleGivesPointAndUsDates) {
    const TRegionalSettings s = ReadLocaleSettings("C");
    EXPECT_EQ(s.decimalSymbol, ".");
    EXPECT_EQ(s.shortDateFormat, "mm/dd/yy");
    EXPECT_EQ(s.dateSeparator, "/");
    EXPECT_EQ(s.longTimeFormat, "hh:mm:ss");
    EXPECT_EQ(s.timeAMString, "AM");
    EXPECT_EQ(FormatDateTime("ddddd tt", EncodeDate(2004, 3, 15) + EncodeTime(13, 45, 30), s),
              "03/15/04 13:45:30");
}

TEST_F(RegionalSettingsTest, AnUnknownLocaleFallsBackToC) {
    EXPECT_EQ(ReadLocaleSettings("xx_NOWHERE.bogus"), ReadLocaleSettings("C"));
}

TEST_F(RegionalSettingsTest, ConversionsFollowTheSettingsInForce) {
    TRegionalSettings s;
    s.decimalSymbol = ",";
    SetRegionalSettings(s);
    EXPECT_EQ(FloatToText(1234.5), "1234,5");
    EXPECT_EQ(RegionalSettings().decimalSymbol, ",");
}

TEST_F(RegionalSettingsTest, ReloadReadsTheEnvironmentAgainAndOldReferencesStayValid) {
    TRegionalSettings s;
    s.decimalSymbol = ",";
    SetRegionalSettings(s);
    const TRegionalSettings& before = RegionalSettings();
    setenv("LC_ALL", "C", 1);
    ReloadRegionalSettings();
    EXPECT_EQ(RegionalSettings(), ReadLocaleSettings("C"));
    EXPECT_EQ(before.decimalSymbol, ",");  // a reader holding the old settings is not left dangling
}

}  // namespace
