#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "platform/DateTime.h"
#include "platform/RegionalSettings.h"

using namespace velnor::platform;
using ::testing::ThrowsMessage;

namespace {

constexpr double Second = 1.0 / 86400.0;

std::string Iso(const TDateTimeParts& p) {
    char text[48];
    std::snprintf(text, sizeof text, "%d-%02d-%02d %02d:%02d:%02d.%03d", p.year, p.month, p.day,
                  p.hour, p.minute, p.second, p.millisecond);
    return text;
}

struct DayCase {
    int year, month, day;
    double value;
};

class CalendarTest : public ::testing::TestWithParam<DayCase> {};

TEST_P(CalendarTest, EncodesAndDecodesKnownDays) {
    const DayCase& c = GetParam();
    EXPECT_EQ(EncodeDate(c.year, c.month, c.day), c.value);
    const TDateTimeParts p = DecodeDateTime(c.value);
    EXPECT_EQ(p.year, c.year);
    EXPECT_EQ(p.month, c.month);
    EXPECT_EQ(p.day, c.day);
}

INSTANTIATE_TEST_SUITE_P(Days, CalendarTest,
                         ::testing::Values(DayCase{1899, 12, 30, 0}, DayCase{1900, 1, 1, 2},
                                           DayCase{1970, 1, 1, 25569}, DayCase{2004, 3, 15, 38061},
                                           DayCase{1, 1, 1, -693593},
                                           DayCase{9999, 12, 31, 2958465},
                                           DayCase{-1, 12, 31, -693594},
                                           DayCase{1600, 3, 1, -109511}));

TEST(DateTimeTest, EveryDayFollowsItsPredecessorInTheCalendar) {
    // Walks the whole range, so each month length and leap rule is checked independently of
    // the day arithmetic.
    const auto first = static_cast<std::int64_t>(EncodeDate(MinYear, 1, 1));
    const auto last = static_cast<std::int64_t>(EncodeDate(MaxYear, 12, 31));
    TDateTimeParts prev = DecodeDateTime(static_cast<double>(first));
    ASSERT_EQ(Iso(prev), "-4712-01-01 00:00:00.000");
    int failures = 0;
    for (std::int64_t d = first + 1; d <= last && failures < 5; ++d) {
        const TDateTimeParts p = DecodeDateTime(static_cast<double>(d));
        TDateTimeParts expected = prev;
        if (IsValidDate(prev.year, prev.month, prev.day + 1)) {
            ++expected.day;
        } else if (prev.month < 12) {
            ++expected.month;
            expected.day = 1;
        } else {
            expected.year = prev.year == -1 ? 1 : prev.year + 1;
            expected.month = expected.day = 1;
        }
        expected.dayOfWeek = prev.dayOfWeek % 7 + 1;
        if (p != expected) {
            ADD_FAILURE() << d << ": " << Iso(p) << " after " << Iso(prev);
            ++failures;
        }
        if (static_cast<std::int64_t>(EncodeDate(p.year, p.month, p.day)) != d) ++failures;
        prev = p;
    }
    EXPECT_EQ(failures, 0);
    EXPECT_EQ(Iso(prev), "9999-12-31 00:00:00.000");
}

TEST(DateTimeTest, KnowsLeapYearsAndInvalidDates) {
    EXPECT_TRUE(IsValidDate(2000, 2, 29));
    EXPECT_TRUE(IsValidDate(1600, 2, 29));
    EXPECT_FALSE(IsValidDate(1900, 2, 29));
    EXPECT_FALSE(IsValidDate(2004, 4, 31));
    EXPECT_FALSE(IsValidDate(0, 1, 1));
    EXPECT_FALSE(IsValidDate(10000, 1, 1));
    EXPECT_TRUE(IsValidDate(-1, 2, 29));  // 1 BC is a leap year in the proleptic calendar
    EXPECT_THROW((void)EncodeDate(2004, 2, 30), EConvertError);
    EXPECT_THROW((void)EncodeTime(24, 0, 0), EConvertError);
    EXPECT_EQ(DecodeDateTime(0).dayOfWeek, 7);  // 1899-12-30 was a Saturday
    EXPECT_EQ(DecodeDateTime(EncodeDate(2004, 3, 15)).dayOfWeek, 2);
}

struct SplitCase {
    double value;
    const char* expected;
};

class DecodeTest : public ::testing::TestWithParam<SplitCase> {};

TEST_P(DecodeTest, SplitsDateAndTimeOfDay) {
    EXPECT_EQ(Iso(DecodeDateTime(GetParam().value)), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Values, DecodeTest,
    ::testing::Values(SplitCase{1.5, "1899-12-31 12:00:00.000"},
                      SplitCase{-1.25, "1899-12-29 06:00:00.000"},
                      SplitCase{-0.5, "1899-12-30 12:00:00.000"},
                      SplitCase{38061 + 49530 * Second, "2004-03-15 13:45:30.000"},
                      // Rounding to the millisecond carries into the next day ...
                      SplitCase{36525 + 86399.9996 * Second, "2000-01-01 00:00:00.000"},
                      SplitCase{36525 + 86399.9994 * Second, "1999-12-31 23:59:59.999"},
                      // ... also below zero, where the next day is nearer to zero.
                      SplitCase{-1 - 86399.9996 * Second, "1899-12-30 00:00:00.000"},
                      SplitCase{-2 - 86399.9996 * Second, "1899-12-29 00:00:00.000"},
                      SplitCase{-693593 - 86399.9996 * Second, "1-01-02 00:00:00.000"},
                      SplitCase{2958465 + 86399.999 * Second, "9999-12-31 23:59:59.999"}));

TEST(DateTimeTest, EncodedPartsDecodeToThemselves) {
    for (int year : {-4712, -1, 1, 1899, 1900, 2004, 9999}) {
        TDateTimeParts p;
        p.year = year;
        p.month = 7;
        p.day = 31;
        p.hour = 23;
        p.minute = 59;
        p.second = 58;
        p.millisecond = 999;
        TDateTimeParts back = DecodeDateTime(EncodeDateTime(p));
        back.dayOfWeek = p.dayOfWeek;
        EXPECT_EQ(Iso(back), Iso(p));
    }
}

TEST(DateTimeTest, RaisesForValuesNoCalendarHolds) {
    for (double v :
         {std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::infinity(),
          -std::numeric_limits<double>::infinity(), 2958466.0, 1e300, -3000000.0,
          2958465 + 86399.9996 * Second}) {
        EXPECT_THROW((void)DecodeDateTime(v), EConvertError) << v;
        EXPECT_THROW((void)FormatDateTime("yyyy", v, TRegionalSettings{}), EConvertError) << v;
    }
}

struct FormatTest : ::testing::Test {
    FormatTest() {
        s.decimalSymbol = ",";
        s.dateSeparator = "-";
        s.timeSeparator = ".";
        s.shortDateFormat = "yyyy/mm/dd";
        s.longTimeFormat = "hh:mm:ss";
        s.timeAMString = "午前";
        s.timePMString = "午後";
    }
    [[nodiscard]] std::string F(std::string_view format, double value) const {
        return FormatDateTime(format, value, s);
    }
    TRegionalSettings s;
    const double afternoon = EncodeDate(2004, 3, 5) + EncodeTime(13, 4, 5, 67);
    const double morning = EncodeDate(2004, 3, 5) + EncodeTime(0, 7, 9);
};

TEST_F(FormatTest, WritesEveryElement) {
    struct Case {
        const char* format;
        const char* expected;
    };
    for (const Case& c : {
             Case{"yyyymmddhhnnss", "20040305130405"},
             Case{"YYYYMMDDHHNNSS", "20040305130405"},
             Case{"yy", "04"},
             Case{"m/d/yy", "3-5-04"},
             Case{"mm", "03"},
             Case{"d", "5"},
             Case{"h:m", "13.4"},  // m after an hour is the minute
             Case{"hh:mm:ss", "13.04.05"},
             Case{"hh\"h\"mm", "13h04"},
             Case{"n:s", "4.5"},
             Case{"z zzz", "67 067"},
             Case{"ddddd", "2004-03-05"},
             Case{"tt", "13.04.05"},
             Case{"t", "13.04"},
             Case{"ddddd tt", "2004-03-05 13.04.05"},
             Case{"h ampm", "1 午後"},
             Case{"hh am/pm", "01 pm"},
             Case{"hh AM/PM", "01 PM"},
             Case{"h a/p", "1 p"},
             Case{"'yyyy' yyyy", "yyyy 2004"},
             Case{"yyyy年mm月", "2004年03月"},
         }) {
        EXPECT_EQ(F(c.format, afternoon), c.expected) << c.format;
    }
}

TEST_F(FormatTest, TwelveHourClockWritesMidnightAndNoonAsTwelve) {
    EXPECT_EQ(F("h:nn ampm", morning), "12.07 午前");
    EXPECT_EQ(F("h:nn ampm", EncodeDate(2004, 3, 5) + EncodeTime(12, 0, 0)), "12.00 午後");
    s.longTimeFormat = "AMPM h:mm:ss";
    EXPECT_EQ(F("tt", afternoon), "午後 1.04.05");
}

TEST_F(FormatTest, CsvFormHasFourteenDigits) {
    EXPECT_EQ(F("yyyymmddhhnnss", 0), "18991230000000");
    EXPECT_EQ(F("yyyymmddhhnnss", EncodeDate(1, 1, 1)), "00010101000000");
    EXPECT_EQ(F("yyyymmddhhnnss", EncodeDate(9999, 12, 31) + EncodeTime(23, 59, 59)),
              "99991231235959");
    EXPECT_EQ(F("yyyymmddhhnnss", EncodeDate(2004, 3, 5) + 86399.9996 * Second), "20040306000000");
    EXPECT_EQ(F("yyyymmddhhnnss", -1.25), "18991229060000");
    EXPECT_EQ(F("yyyy", EncodeDate(-44, 3, 15)), "-0044");
}

TEST_F(FormatTest, TextShowsTheTimeOnlyWhenThereIsOne) {
    EXPECT_EQ(DateTimeToText(EncodeDate(2004, 3, 5), s), "2004-03-05");
    EXPECT_EQ(DateTimeToText(afternoon, s), "2004-03-05 13.04.05");
    EXPECT_EQ(DateTimeToText(morning, s), "2004-03-05 00.07.09");
    EXPECT_EQ(DateTimeToText(0, TRegionalSettings{}), "12/30/99");
}

TEST_F(FormatTest, ParsesDatesInTheShortDateOrder) {
    s.dateSeparator = "/";
    EXPECT_EQ(TextToDate("2004/03/05", s), EncodeDate(2004, 3, 5));
    EXPECT_EQ(TextToDate(" 2004/3/5 ", s), EncodeDate(2004, 3, 5));
    s.shortDateFormat = "dd/mm/yyyy";
    s.dateSeparator = ".";
    EXPECT_EQ(TextToDate("05.03.2004", s), EncodeDate(2004, 3, 5));
    s.shortDateFormat = "m/d/yy";
    s.dateSeparator = "/";
    EXPECT_EQ(TextToDate("3/5/04", s), EncodeDate(2004, 3, 5));
    EXPECT_EQ(TextToDate("3/5/99", s), EncodeDate(1999, 3, 5));
    EXPECT_EQ(TextToDate("3/5/1850", s), EncodeDate(1850, 3, 5));
    s.shortDateFormat = "yyyy\"年\"mm\"月\"dd\"日\"";
    EXPECT_EQ(TextToDate("2004年03月05日", s), EncodeDate(2004, 3, 5));
}

TEST_F(FormatTest, RejectsTextsThatAreNoDate) {
    s.shortDateFormat = "m/d/yy";
    s.dateSeparator = "/";
    for (const char* text :
         {"", "abc", "2/30/2004", "13/1/2004", "1.5", "3/5/2004 x", "3", "3/5/2004 13:45"}) {
        EXPECT_THAT(
            [&] { (void)TextToDate(text, s); },
            ThrowsMessage<EConvertError>(std::string("'") + text + "' は日付ではありません"))
            << text;
    }
}

TEST_F(FormatTest, ParsesDateTimesAndTimes) {
    s.dateSeparator = "/";
    s.timeSeparator = ":";
    const double date = EncodeDate(2004, 3, 5);
    EXPECT_EQ(TextToDateTime("2004/03/05 13:04:05", s), date + EncodeTime(13, 4, 5));
    EXPECT_EQ(TextToDateTime("2004/03/05", s), date);
    EXPECT_EQ(TextToDateTime("13:04", s), EncodeTime(13, 4, 0));
    EXPECT_EQ(TextToDateTime("1:04:05 pm", s), EncodeTime(13, 4, 5));
    EXPECT_EQ(TextToDateTime("12:00 am", s), 0.0);
    EXPECT_EQ(TextToDateTime("午後 1:04", s), EncodeTime(13, 4, 0));
    EXPECT_EQ(TextToDateTime("13:04:05.25", s), EncodeTime(13, 4, 5, 250));
    for (const char* text : {"25:00", "13:60", "2004/03/05 x", "13 pm:00", "13:00 pm"})
        EXPECT_THROW((void)TextToDateTime(text, s), EConvertError) << text;
}

}  // namespace
