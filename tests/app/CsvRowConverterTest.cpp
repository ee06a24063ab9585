#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "app/core/CsvNumber.h"
#include "app/core/CsvReader.h"
#include "app/core/CsvRowConverter.h"

namespace velnor::app {
namespace {

using ::testing::HasSubstr;

struct NumberCase {
    const char* text;
    const char* decimalSymbol;
    const char* canonical;  // nullptr: not a number
};

class CsvNumberTest : public ::testing::TestWithParam<NumberCase> {};

TEST_P(CsvNumberTest, AcceptsOnlyNumberLiterals) {
    const auto& c = GetParam();
    std::string text;
    const TCsvNumberKind kind = CsvNumberLiteral(c.text, c.decimalSymbol, text);
    if (c.canonical) {
        ASSERT_EQ(kind, TCsvNumberKind::Number) << c.text;
        EXPECT_EQ(text, c.canonical) << c.text;
    } else {
        EXPECT_EQ(kind, TCsvNumberKind::NotNumber) << c.text;
    }
}

// Canonical fields take the short path; the rest must come out the same as if they had.
INSTANTIATE_TEST_SUITE_P(
    Literals, CsvNumberTest,
    ::testing::Values(
        NumberCase{"0", ".", "0"}, NumberCase{"42", ".", "42"}, NumberCase{"-17", ".", "-17"},
        NumberCase{"+5", ".", "5"}, NumberCase{"1234.5", ".", "1234.5"},
        NumberCase{".5", ".", "0.5"}, NumberCase{"5.", ".", "5"}, NumberCase{"-0", ".", "0"},
        NumberCase{"007", ".", "7"}, NumberCase{"1.50", ".", "1.5"}, NumberCase{"100", ".", "100"},
        NumberCase{"0.0001", ".", "0.0001"}, NumberCase{"-0.05", ".", "-0.05"},
        NumberCase{"1E-5", ".", "0.00001"}, NumberCase{"1e+3", ".", "1000"},
        NumberCase{"2.5E20", ".", "250000000000000000000"}, NumberCase{"  7  ", ".", "7"},
        NumberCase{"1234,5", ",", "1234.5"},
        NumberCase{"1234.5", ",", "1234.5"},  // the point is always read
        NumberCase{"12345678901234567890123456789012345678", ".",
                   "12345678901234567890123456789012345678"},
        NumberCase{"0.333333333333333", ".", "0.333333333333333"},
        NumberCase{"999999999999999", ".", "999999999999999"}, NumberCase{"", ".", nullptr},
        NumberCase{"-", ".", nullptr}, NumberCase{".", ".", nullptr},
        NumberCase{"1,5", ".", nullptr}, NumberCase{"1 000", ".", nullptr},
        NumberCase{"12abc", ".", nullptr}, NumberCase{"1E", ".", nullptr},
        NumberCase{"0x1A", ".", nullptr}, NumberCase{"inf", ".", nullptr},
        NumberCase{"-NAN", ".", nullptr}, NumberCase{"+-1", ".", nullptr},
        NumberCase{"1d5", ".", nullptr}, NumberCase{"..", ",", nullptr},
        NumberCase{"1;25", ",", nullptr}, NumberCase{"1); DROP TABLE EMP; --", ".", nullptr},
        NumberCase{"--1", ".", nullptr}, NumberCase{"1.2.3", ".", nullptr}));

TEST(CsvNumberTest, TellsNonFiniteAndOutOfRangeApart) {
    std::string text;
    for (const char* field : {"INF", "-INF", "NAN"})
        EXPECT_EQ(CsvNumberLiteral(field, ".", text), TCsvNumberKind::NonFinite) << field;
    for (const char* field :
         {"1e999", "1E126", "1E-131", "1.2345678901234567890123456789012345678912"}) {
        EXPECT_EQ(CsvNumberLiteral(field, ".", text), TCsvNumberKind::OutOfRange) << field;
        EXPECT_FALSE(text.empty()) << field;
    }
}

struct DateCase {
    const char* text;
    bool valid;
};

class CsvDateTest : public ::testing::TestWithParam<DateCase> {};

TEST_P(CsvDateTest, AcceptsFourteenDigitsOfARealDate) {
    EXPECT_EQ(TCsvRowConverter::IsDateText(GetParam().text), GetParam().valid) << GetParam().text;
}

INSTANTIATE_TEST_SUITE_P(
    Dates, CsvDateTest,
    ::testing::Values(DateCase{"18991230000000", true}, DateCase{"00010101000000", true},
                      DateCase{"99991231235959", true}, DateCase{"20240229120000", true},
                      DateCase{"20000229000000", true}, DateCase{"19000229000000", false},
                      DateCase{"20230229000000", false}, DateCase{"00000101000000", false},
                      DateCase{"20241301000000", false}, DateCase{"20240100000000", false},
                      DateCase{"20240431000000", false}, DateCase{"20240101240000", false},
                      DateCase{"20240101006000", false}, DateCase{"20240101000060", false},
                      DateCase{"2024010100000", false}, DateCase{"202401010000000", false},
                      DateCase{"2024-01-01 00:", false}, DateCase{"", false}));

// The bind bytes must be exactly what the general encoder makes of the same text.
TEST(CsvBindBytesTest, NumbersEncodeAsTheGeneralEncoderDoes) {
    for (const char* text :
         {"0", "7", "-7", "100", "-100", "1234.5", "-0.01", "0.00012", "0.000001", "99.99",
          "-1234567890.123456789", "12345678901234567890123456789012345678",
          "-99999999999999999999999999999999999999", "1.5E-130", "-9.99E125", "1E20",
          "0.1234567890123456789012345678901234567891"}) {
        std::uint8_t expected[oracle::OracleVarnumSize] = {};
        std::uint8_t bytes[oracle::OracleVarnumSize] = {};
        oracle::EncodeOracleVarnum(*oracle::ParseDecimal(text), expected);
        TCsvRowConverter::NumberVarnum(text, bytes);
        EXPECT_EQ(std::vector<int>(bytes, bytes + bytes[0] + 1),
                  std::vector<int>(expected, expected + expected[0] + 1))
            << text;
    }
}

TEST(CsvBindBytesTest, DatesBecomeOracleDateBytes) {
    const struct {
        const char* text;
        std::vector<int> bytes;
    } cases[] = {{"00010101000000", {100, 101, 1, 1, 1, 1, 1}},
                 {"99991231235959", {199, 199, 12, 31, 24, 60, 60}},
                 {"20240229134507", {120, 124, 2, 29, 14, 46, 8}}};
    for (const auto& c : cases) {
        std::uint8_t bytes[7] = {};
        TCsvRowConverter::DateBytes(c.text, bytes);
        EXPECT_EQ(std::vector<int>(bytes, bytes + 7), c.bytes) << c.text;
    }
}

struct CsvRowConverterTest : ::testing::Test {
    TCsvRowConverter converter{{{"ID", oracle::otInteger},
                                {"SAL", oracle::otFloat},
                                {"NAME", oracle::otString},
                                {"HIRED", oracle::otDate},
                                {"PHOTO", oracle::otLongRaw, 24}},
                               ","};
    std::vector<TCsvValue> values;

    void Convert(std::vector<std::string> fields, std::int64_t line = 2) {
        converter.Convert(fields, line, values);
    }
};

TEST_F(CsvRowConverterTest, TurnsFieldsIntoColumnValues) {
    Convert({"7", "1234,5", "O'Neil, \"J\"", "20240131235959", "0aFF"});
    ASSERT_EQ(values.size(), 5u);
    EXPECT_EQ(values[0].kind, TCsvValue::Kind::Number);
    EXPECT_EQ(values[0].text, "7");
    EXPECT_EQ(values[1].text, "1234.5");
    EXPECT_EQ(values[2].kind, TCsvValue::Kind::Text);
    EXPECT_EQ(values[2].text, "O'Neil, \"J\"");
    EXPECT_EQ(values[3].kind, TCsvValue::Kind::Text);
    EXPECT_EQ(values[3].text, "20240131235959");
    EXPECT_EQ(values[4].kind, TCsvValue::Kind::Bytes);
    EXPECT_EQ(values[4].text, "\x0a\xff");
}

TEST_F(CsvRowConverterTest, EmptyNumbersAndDatesAreNull) {
    Convert({"", " ", "", ""});
    EXPECT_EQ(values[0].kind, TCsvValue::Kind::Null);
    EXPECT_EQ(values[1].kind, TCsvValue::Kind::Null);
    EXPECT_EQ(values[2].kind, TCsvValue::Kind::Text);
    EXPECT_EQ(values[2].text, "");
    EXPECT_EQ(values[3].kind, TCsvValue::Kind::Null);
}

TEST_F(CsvRowConverterTest, MissingTrailingFieldsAreEmpty) {
    Convert({"1", "2", "abc", "20240101000000", ""});
    Convert({"1"});
    ASSERT_EQ(values.size(), 5u);
    EXPECT_EQ(values[1].kind, TCsvValue::Kind::Null);
    EXPECT_EQ(values[2].text, "");
    EXPECT_EQ(values[3].kind, TCsvValue::Kind::Null);
}

struct BadRow {
    std::vector<std::string> fields;
    int column;
    const char* message;
};

TEST_F(CsvRowConverterTest, BadFieldRaisesNamingLineColumnAndValue) {
    const BadRow rows[] = {
        {{"1); DELETE FROM EMP; --"},
         1,
         "13 行目 1 列目 (ID): '1); DELETE FROM EMP; --' は数値ではありません"},
        {{"1", "12.5.1"}, 2, "13 行目 2 列目 (SAL): '12.5.1' は数値ではありません"},
        {{"1", "2", "x", "2024-01-01"}, 4, "13 行目 4 列目 (HIRED): '2024-01-01' は日付"},
        {{"1", "2", "x", "20240230000000"}, 4, "'20240230000000' は日付"},
        {{"1", "2", "x", "", "", "extra"},
         0,
         "13 行目: フィールドの数がテーブルの列数 (5) を超えています"},
    };
    for (const auto& row : rows) {
        try {
            converter.Convert(row.fields, 13, values);
            ADD_FAILURE() << "no error for " << row.message;
        } catch (const ECsvError& e) {
            EXPECT_EQ(e.Line(), 13);
            EXPECT_EQ(e.Column(), row.column);
            EXPECT_THAT(e.what(), HasSubstr(row.message));
        }
    }
}

struct FormCase {
    const char* name;
    int internalType;
    const char* field;
    TCsvValue::Kind kind;
    std::string text;  // the value read, or a part of the error message
    friend void PrintTo(const FormCase& c, std::ostream* os) { *os << c.name; }
};

class CsvFormTest : public ::testing::TestWithParam<FormCase> {};

// Null kind with text: the field must be refused with that message.
TEST_P(CsvFormTest, ReadsTheFileFormOfEachColumnType) {
    const FormCase& c = GetParam();
    const int fieldType = c.internalType == 100 || c.internalType == 101 ? oracle::otFloat
                          : c.internalType == 24                         ? oracle::otLongRaw
                          : c.internalType == 8                          ? oracle::otLong
                                                                         : oracle::otString;
    TCsvRowConverter converter({{"V", fieldType, c.internalType}}, ",");
    std::vector<TCsvValue> values;
    const std::vector<std::string> fields = {c.field};
    if (c.kind == TCsvValue::Kind::Null && !c.text.empty()) {
        try {
            converter.Convert(fields, 5, values);
            FAIL() << "accepted";
        } catch (const ECsvError& e) {
            EXPECT_THAT(e.what(), HasSubstr("5 行目 1 列目 (V): '" + std::string(c.field) + "' "));
            EXPECT_THAT(e.what(), HasSubstr(c.text));
        }
        return;
    }
    converter.Convert(fields, 5, values);
    EXPECT_EQ(values.at(0).kind, c.kind);
    if (c.kind != TCsvValue::Kind::Null) {
        EXPECT_EQ(values[0].text, c.text);
    }
}

using K = TCsvValue::Kind;
INSTANTIATE_TEST_SUITE_P(
    Forms, CsvFormTest,
    ::testing::Values(
        FormCase{"TimestampWithoutFractionGetsOne", 187, " 0001-01-01 00:00:00 ", K::Text,
                 "0001-01-01 00:00:00.0"},
        FormCase{"TimestampBeforeChrist", 187, "-4712-01-01 00:00:00", K::Text,
                 "-4712-01-01 00:00:00.0"},
        FormCase{"TimestampJulianLeapDay", 187, "1500-02-29 00:00:00", K::Text,
                 "1500-02-29 00:00:00.0"},
        FormCase{"TimestampBadDay", 187, "2023-02-29 00:00:00", K::Null, "はタイムスタンプ"},
        FormCase{"TimestampWithAZoneRefused", 187, "2024-01-01 00:00:00 +09:00", K::Null,
                 "はタイムスタンプ"},
        FormCase{"TimestampTenFractionDigits", 187, "2024-01-01 00:00:00.1234567890", K::Null,
                 "はタイムスタンプ"},
        FormCase{"ZonedWithoutZoneRefused", 188, "2024-01-01 00:00:00.5", K::Null, "TZH:TZM"},
        FormCase{"ZoneOutOfRange", 232, "2024-01-01 00:00:00 +15:00", K::Null, "TZH:TZM"},
        FormCase{"YearToMonthThirteenMonths", 189, "+01-13", K::Null, "は期間"},
        FormCase{"DayToSecondHour24", 190, "+01 24:00:00", K::Null, "は期間"},
        FormCase{"DoubleLocaleCommaRefused", 101, "0,5", K::Null, "BINARY_DOUBLE"},
        FormCase{"DoubleBeyondRange", 101, "1E309", K::Null, "BINARY_DOUBLE"},
        FormCase{"FloatBeyondRange", 100, "3.5E+38", K::Null, "BINARY_FLOAT"},
        FormCase{"RawOddDigits", 23, "ABC", K::Null, "16進数"},
        FormCase{"LongKeepsBlanks", 8, " a\r\nb ", K::Text, " a\r\nb "},
        FormCase{"LobStaysNullForNow", 112, "text", K::Null, ""},
        FormCase{"ObjectTakesOnlyNull", 108, "x", K::Null, "は オブジェクト型 の列に"}),
    [](const auto& p) { return std::string(p.param.name); });

TEST(CsvFormOfTest, TypesTheFilesCannotCarryAreUnrepresentable) {
    EXPECT_EQ(CsvFormOf(oracle::otObject, 108), TCsvForm::Unrepresentable);
    EXPECT_EQ(CsvFormOf(oracle::otReference, 110), TCsvForm::Unrepresentable);
    EXPECT_EQ(CsvFormOf(oracle::otBFile, 114), TCsvForm::Unrepresentable);
    EXPECT_EQ(CsvFormOf(oracle::otCursor, 116), TCsvForm::Unrepresentable);
    EXPECT_EQ(CsvFormOf(oracle::otString, 58), TCsvForm::Unrepresentable);  // opaque types
    EXPECT_EQ(CsvFormOf(oracle::otString, 1), TCsvForm::Text);
    EXPECT_EQ(CsvFormOf(oracle::otString, 0), TCsvForm::Text);
    EXPECT_EQ(CsvTypeName(oracle::otObject, 108), "オブジェクト型");
}

TEST_F(CsvRowConverterTest, LongBadValueIsCutInTheMessageOnACharacterBoundary) {
    std::string value;
    for (int i = 0; i < 100; ++i) value += "数";
    try {
        Convert({value});
        FAIL();
    } catch (const ECsvError& e) {
        const std::string message = e.what();
        EXPECT_LT(message.size(), 200u);
        EXPECT_THAT(message, HasSubstr("数数...'"));
    }
}

}  // namespace
}  // namespace velnor::app
