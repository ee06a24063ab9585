#include <gtest/gtest.h>

#include "app/core/Formatting.h"
#include "platform/RegionalSettings.h"

using namespace velnor;
using platform::EncodeDate;
using platform::EncodeTime;

namespace {

TEST(FormattingTest, QuotesForSqlByDoublingSingleQuotesOnly) {
    struct Case {
        const char* text;
        const char* quoted;
    };
    for (const Case& c :
         {Case{"O'Neil", "'O''Neil'"}, Case{"", "''"}, Case{"''", "''''''"}, Case{"'", "''''"},
          Case{"a,\"b\"\r\n日本", "'a,\"b\"\r\n日本'"}, Case{"it's Bob's", "'it''s Bob''s'"}}) {
        EXPECT_EQ(app::QuoteForSql(c.text), c.quoted) << c.text;
    }
    std::string out = "x=";
    app::AppendQuotedForSql(out, "a'b");
    EXPECT_EQ(out, "x='a''b'");
}

TEST(FormattingTest, CsvDateFormHasFourteenDigits) {
    const double second = 1.0 / 86400;
    EXPECT_EQ(app::CsvDateTimeText(0), "18991230000000");
    EXPECT_EQ(app::CsvDateTimeText(EncodeDate(1, 1, 1)), "00010101000000");
    EXPECT_EQ(app::CsvDateTimeText(EncodeDate(2004, 3, 15) + EncodeTime(13, 45, 30)),
              "20040315134530");
    EXPECT_EQ(app::CsvDateTimeText(EncodeDate(2004, 3, 15) + 86399.9996 * second),
              "20040316000000");
    EXPECT_EQ(app::CsvDateTimeText(-1.25), "18991229060000");
    EXPECT_THROW((void)app::CsvDateTimeText(1e10), platform::EConvertError);
}

TEST(FormattingTest, CsvDateFormMatchesTheGeneralFormatter) {
    const platform::TRegionalSettings settings;
    for (double v = -700000.123; v < 2958465; v += 9876.54321) {
        ASSERT_EQ(app::CsvDateTimeText(v), platform::FormatDateTime("yyyymmddhhnnss", v, settings))
            << v;
    }
    const double bc = EncodeDate(-44, 3, 15);
    EXPECT_EQ(app::CsvDateTimeText(bc), platform::FormatDateTime("yyyymmddhhnnss", bc, settings));
}

}  // namespace
