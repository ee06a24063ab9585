#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <array>
#include <array>
#include <cmath>
#include <functional>
#include <limits>

#include "app/core/CsvReader.h"
#include "app/core/CsvRowConverter.h"
#include "app/core/CsvWriter.h"
#include "platform/DateTime.h"

namespace velnor::app {
namespace {

platform::TRegionalSettings WithDecimal(const char* symbol) {
    platform::TRegionalSettings settings;
    settings.decimalSymbol = symbol;
    return settings;
}

struct FieldCase {
    const char* name;
    std::function<void(TCsvWriter&)> add;
    const char* decimalSymbol;
    std::string expected;
    friend void PrintTo(const FieldCase& c, std::ostream* os) { *os << c.name; }
};

class CsvWriterFieldTest : public ::testing::TestWithParam<FieldCase> {};

TEST_P(CsvWriterFieldTest, RendersTheValueByItsType) {
    TCsvWriter writer(WithDecimal(GetParam().decimalSymbol));
    GetParam().add(writer);
    EXPECT_EQ(writer.Line(), GetParam().expected);
}

const double kDay = platform::EncodeDate(2024, 3, 5);

INSTANTIATE_TEST_SUITE_P(
    Values, CsvWriterFieldTest,
    ::testing::Values(
        FieldCase{"Integer", [](auto& w) { w.AddInteger(-2147483647 - 1); }, ".", "-2147483648"},
        FieldCase{"Zero", [](auto& w) { w.AddInteger(0); }, ".", "0"},
        FieldCase{"Float", [](auto& w) { w.AddFloat(1234.5); }, ".", "1234.5"},
        FieldCase{"FloatFifteenDigits", [](auto& w) { w.AddFloat(0.1 + 0.2); }, ".", "0.3"},
        FieldCase{"FloatSmall", [](auto& w) { w.AddFloat(0.00001); }, ".", "1E-5"},
        FieldCase{"FloatDecimalCommaIsQuoted", [](auto& w) { w.AddFloat(1234.5); }, ",",
                  "\"1234,5\""},
        FieldCase{"FloatIntegralNeedsNoQuotes", [](auto& w) { w.AddFloat(100); }, ",", "100"},
        FieldCase{"NumberEveryDigit",
                  [](auto& w) { w.AddNumber(*oracle::ParseDecimal("-1234567890123456789")); }, ".",
                  "-1234567890123456789"},
        FieldCase{"NumberDecimalCommaIsQuoted",
                  [](auto& w) { w.AddNumber(*oracle::ParseDecimal("1234567890.0123456789")); }, ",",
                  "\"1234567890,0123456789\""},
        FieldCase{"String", [](auto& w) { w.AddString("abc"); }, ".", "\"abc\""},
        FieldCase{"EmptyString", [](auto& w) { w.AddString(""); }, ".", "\"\""},
        FieldCase{"StringQuotesDoubled", [](auto& w) { w.AddString("a\"b\"\""); }, ".",
                  "\"a\"\"b\"\"\"\"\""},
        FieldCase{"StringCommaAndBreaksKept", [](auto& w) { w.AddString("a,b\r\nc\nd"); }, ".",
                  "\"a,b\r\nc\nd\""},
        FieldCase{"StringJapanese", [](auto& w) { w.AddString("日本語のテキスト"); }, ".",
                  "\"日本語のテキスト\""},
        FieldCase{"ZeroDate", [](auto& w) { w.AddDate(0); }, ".", "18991230000000"},
        FieldCase{"DateWithTime",
                  [](auto& w) { w.AddDate(kDay + platform::EncodeTime(13, 4, 59)); }, ".",
                  "20240305130459"},
        FieldCase{"DateYear999", [](auto& w) { w.AddDate(platform::EncodeDate(999, 1, 2)); }, ".",
                  "09990102000000"},
        FieldCase{"DateRoundsIntoNextDay",
                  [](auto& w) { w.AddDate(kDay + (86399.9996 / 86400.0)); }, ".", "20240306000000"},
        FieldCase{"DateBefore1899", [](auto& w) { w.AddDate(platform::EncodeDate(1, 1, 1)); }, ".",
                  "00010101000000"},
        FieldCase{"OracleDateBytes",
                  [](auto& w) {
                      const std::uint8_t year1[] = {100, 101, 1, 1, 1, 1, 1};
                      const std::uint8_t last[] = {199, 199, 12, 31, 24, 60, 60};
                      w.AddOracleDate(year1);
                      w.AddOracleDate(last);
                  },
                  ".", "00010101000000,99991231235959"},
        FieldCase{"Empty", [](auto& w) { w.AddEmpty(); }, ".", ""},
        FieldCase{"BinaryDoubleShortest", [](auto& w) { w.AddBinary(0.1, false); }, ",", "0.1"},
        FieldCase{"TextQuotedOnlyWhenNeeded",
                  [](auto& w) {
                      w.AddText("-05 04:03:02.5");
                      w.AddText("a,b");
                  },
                  ".", "-05 04:03:02.5,\"a,b\""},
        FieldCase{"NullFieldsOfSeveralStayEmpty",
                  [](auto& w) {
                      w.AddEmpty();
                      w.AddEmpty();
                      w.EndRecord();
                  },
                  ".", ","},
        FieldCase{"Row",
                  [](auto& w) {
                      w.AddInteger(7);
                      w.AddEmpty();
                      w.AddString("x");
                      w.AddEmpty();
                  },
                  ".", "7,,\"x\","}),
    [](const auto& p) { return std::string(p.param.name); });

TEST(CsvWriterTest, HeaderQuotesEveryName) {
    TCsvWriter writer(WithDecimal("."));
    const std::vector<std::string> names{"EMPNO", "ENAME", "say \"x\"", "名前"};
    writer.AddHeader(names);
    EXPECT_EQ(writer.Line(), "\"EMPNO\",\"ENAME\",\"say \"\"x\"\"\",\"名前\"");
}

TEST(CsvWriterTest, ClearStartsAFreshLine) {
    TCsvWriter writer(WithDecimal("."));
    writer.AddInteger(1);
    writer.Clear();
    writer.AddInteger(2);
    EXPECT_EQ(writer.Line(), "2");
}

TEST(CsvWriterTest, DateWithoutAFourDigitYearRaises) {
    TCsvWriter writer(WithDecimal("."));
    EXPECT_THROW(writer.AddDate(platform::EncodeDate(-44, 3, 15)), platform::Exception);
    EXPECT_EQ(writer.Line(), "");
    // The same from DATE bytes: a year before Christ, a day February lacks, an hour byte 0.
    for (const auto& bytes : std::vector<std::array<std::uint8_t, 7>>{
             {100, 56, 3, 15, 1, 1, 1}, {120, 123, 2, 30, 1, 1, 1}, {120, 124, 1, 1, 0, 1, 1}}) {
        EXPECT_THROW(writer.AddOracleDate(bytes.data()), platform::EConvertError);
        EXPECT_EQ(writer.Line(), "");
    }
}

// What the writer produces, the reader and the converter must give back unchanged.
struct RoundTripTest : ::testing::TestWithParam<const char*> {};

TEST_P(RoundTripTest, WrittenRowsReadBackToTheSameValues) {
    const auto settings = WithDecimal(GetParam());
    const std::vector<std::string> strings{"",           "plain",         "a,b",
                                           "\"quoted\"", "line\r\nbreak", "lf\nonly",
                                           "cr\ronly",   "O'Neil",        "全角、カンマ",
                                           "\",\"",      "trailing\"",    std::string(5000, 'z')};
    const std::vector<double> floats{0, -2.5, 1234.5, 0.0001, 1e-5, 2.5e20, 123456789012345};
    const auto date = [](std::size_t i) {
        const int n = static_cast<int>(i);
        return platform::EncodeDate(1990 + n, 1 + n, 28) + platform::EncodeTime(n, 2 * n, 3 * n);
    };
    TCsvWriter writer(settings);
    std::string file;
    writer.AddHeader(std::vector<std::string>{"N", "F", "S", "D"});
    file += writer.Line() + "\r\n";
    for (std::size_t i = 0; i < strings.size(); ++i) {
        writer.Clear();
        writer.AddInteger(static_cast<std::int32_t>(i) - 3);
        writer.AddFloat(floats[i % floats.size()]);
        writer.AddString(strings[i]);
        writer.AddDate(date(i));
        file += writer.Line() + "\r\n";
    }
    TCsvMemorySource source(file);
    TCsvReader reader(source, 64);
    TCsvRowConverter converter({{"N", oracle::otInteger},
                                {"F", oracle::otFloat},
                                {"S", oracle::otString},
                                {"D", oracle::otDate}},
                               settings.decimalSymbol);
    ASSERT_TRUE(reader.ReadRecord());  // header
    std::vector<TCsvValue> values;
    for (std::size_t i = 0; i < strings.size(); ++i) {
        ASSERT_TRUE(reader.ReadRecord()) << i;
        converter.Convert(reader.Fields(), reader.RecordLine(), values);
        EXPECT_EQ(std::stod(values[0].text), static_cast<double>(i) - 3);
        EXPECT_EQ(std::stod(values[1].text), floats[i % floats.size()]);
        EXPECT_EQ(values[2].text, strings[i]);
        EXPECT_EQ(values[3].text, platform::FormatDateTime("yyyymmddhhnnss", date(i)));
    }
    EXPECT_FALSE(reader.ReadRecord());
}

INSTANTIATE_TEST_SUITE_P(DecimalSymbols, RoundTripTest, ::testing::Values(".", ","),
                         [](const auto& p) {
                             return std::string(p.param[0] == '.' ? "Point" : "Comma");
                         });

}  // namespace
}  // namespace velnor::app
