#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <limits>

#include "platform/RegionalSettings.h"
#include "platform/Variant.h"

using namespace velnor::platform;
using ::testing::HasSubstr;
using ::testing::ThrowsMessage;

namespace {

TRegionalSettings Dot() { return TRegionalSettings{}; }

TRegionalSettings Comma() {
    TRegionalSettings s;
    s.decimalSymbol = ",";
    return s;
}

struct FloatCase {
    double value;
    const char* expected;
};

class FloatTextTest : public ::testing::TestWithParam<FloatCase> {};

TEST_P(FloatTextTest, WritesGeneralFormWithFifteenDigits) {
    EXPECT_EQ(FloatToText(GetParam().value, Dot()), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Values, FloatTextTest,
    ::testing::Values(
        FloatCase{1234.5, "1234.5"}, FloatCase{1.0 / 3.0, "0.333333333333333"},
        FloatCase{2.0 / 3.0, "0.666666666666667"}, FloatCase{0.1 + 0.2, "0.3"}, FloatCase{0.0, "0"},
        FloatCase{-0.0, "0"}, FloatCase{100.0, "100"}, FloatCase{-2.5, "-2.5"},
        FloatCase{0.5, "0.5"},
        // The fixed form ends below 1E-4 and at 1E15.
        FloatCase{0.0001, "0.0001"}, FloatCase{0.00012345, "0.00012345"},
        FloatCase{0.00001, "1E-5"}, FloatCase{-0.00001, "-1E-5"}, FloatCase{0.00000015, "1.5E-7"},
        FloatCase{123456789012345.0, "123456789012345"},
        FloatCase{999999999999999.0, "999999999999999"}, FloatCase{1e15, "1E15"},
        FloatCase{2.5e20, "2.5E20"}, FloatCase{1e100, "1E100"}, FloatCase{-1.5e-100, "-1.5E-100"},
        // Rounding to 15 digits can move a value over an exponent switch.
        FloatCase{999999999999999.9, "1E15"},
        FloatCase{0.0000999999999999999, "9.99999999999999E-5"},
        FloatCase{9.999999999999999e-5, "0.0001"},
        FloatCase{123456789012345678.0, "1.23456789012346E17"},
        FloatCase{0.1234567890123456, "0.123456789012346"},
        FloatCase{1e14 + 0.25, "100000000000000"}, FloatCase{12345678901234.56, "12345678901234.6"},
        FloatCase{DBL_MAX, "1.79769313486232E308"}, FloatCase{5e-324, "4.94065645841247E-324"},
        // Shortest digits beyond 15 must still be rounded; subnormals have fewer bits.
        FloatCase{123456789012345.67, "123456789012346"}, FloatCase{1.0000000000000002, "1"},
        FloatCase{-9007199254740993.0, "-9.00719925474099E15"}, FloatCase{1e23, "1E23"},
        FloatCase{-12.34, "-12.34"}, FloatCase{7.3713030335399493e-311, "7.37130303353995E-311"},
        FloatCase{DBL_MIN, "2.2250738585072E-308"},
        // Up to four decimals take integer arithmetic; the text must not change at its edges.
        FloatCase{0.07, "0.07"}, FloatCase{-1234567.8901, "-1234567.8901"},
        FloatCase{99999999999.9999, "99999999999.9999"}, FloatCase{0.0003, "0.0003"},
        FloatCase{100000000000.25, "100000000000.25"}, FloatCase{250.0, "250"},
        FloatCase{std::numeric_limits<double>::infinity(), "INF"},
        FloatCase{-std::numeric_limits<double>::infinity(), "-INF"},
        FloatCase{std::numeric_limits<double>::quiet_NaN(), "NAN"}));

TEST(NumberTextTest, UsesTheDecimalSymbolOfTheSettings) {
    EXPECT_EQ(FloatToText(1234.5, Comma()), "1234,5");
    EXPECT_EQ(FloatToText(1.5e-7, Comma()), "1,5E-7");
    EXPECT_EQ(FloatToText(0.001, Comma()), "0,001");
    EXPECT_DOUBLE_EQ(TextToFloat("1234,5", Comma()), 1234.5);
    // A point is no decimal symbol where the comma is one.
    EXPECT_THROW((void)TextToFloat("1234.5", Comma()), EConvertError);
}

TEST(NumberTextTest, IntegerTextHasNoGroupingOrPlusSign) {
    EXPECT_EQ(IntToText(0), "0");
    EXPECT_EQ(IntToText(1234567), "1234567");
    EXPECT_EQ(IntToText(-2147483648LL), "-2147483648");
}

TEST(NumberTextTest, FloatTextReadsBackToTheSameFifteenDigits) {
    for (double v : {1234.5, 1.0 / 3.0, 1e-5, 2.5e20, -123456.789, 6.02214076e23}) {
        const double back = TextToFloat(FloatToText(v, Dot()), Dot());
        EXPECT_NEAR(back, v, std::fabs(v) * 1e-14) << v;
    }
}

struct ParseCase {
    const char* text;
    double expected;
};

class TextToFloatTest : public ::testing::TestWithParam<ParseCase> {};

TEST_P(TextToFloatTest, ParsesNumberLiterals) {
    EXPECT_DOUBLE_EQ(TextToFloat(GetParam().text, Dot()), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Texts, TextToFloatTest,
                         ::testing::Values(ParseCase{"1.5", 1.5}, ParseCase{" -1.5e3 ", -1500.0},
                                           ParseCase{"+.5", 0.5}, ParseCase{"7.", 7.0},
                                           ParseCase{"1E-5", 1e-5}, ParseCase{"0", 0.0}));

TEST(NumberTextTest, RejectsWhatIsNoFloat) {
    for (const char* text :
         {"", " ", "abc", "1e", "1.5.5", "1,5", "--1", "inf", "nan", "1e999", "0x10", "1 2"}) {
        EXPECT_THAT([&] { (void)TextToFloat(text, Dot()); },
                    ThrowsMessage<EConvertError>(std::string("'") + text +
                                                 "' は浮動小数点数ではありません"))
            << text;
    }
}

struct IntCase {
    const char* text;
    std::int32_t expected;
};

class TextToIntegerTest : public ::testing::TestWithParam<IntCase> {};

TEST_P(TextToIntegerTest, ParsesDecimalAndHexadecimal) {
    EXPECT_EQ(TextToInteger(GetParam().text), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Texts, TextToIntegerTest,
                         ::testing::Values(IntCase{"42", 42}, IntCase{"  -17", -17},
                                           IntCase{"+5", 5}, IntCase{"$FF", 255},
                                           IntCase{"x1f", 31}, IntCase{"0x10", 16},
                                           IntCase{"-$10", -16}, IntCase{"$FFFFFFFF", -1},
                                           IntCase{"2147483647", 2147483647},
                                           IntCase{"-2147483648", INT32_MIN},
                                           IntCase{"0000000000042", 42}));

TEST(NumberTextTest, RejectsWhatIsNoInteger) {
    for (const char* text :
         {"", " ", "12a", "1.5", "2147483648", "-2147483649", "$", "$1FFFFFFFF", "12 ", "- 1"}) {
        EXPECT_THAT(
            [&] { (void)TextToInteger(text); },
            ThrowsMessage<EConvertError>(std::string("'") + text + "' は整数ではありません"))
            << text;
    }
}

struct VariantTest : ::testing::Test {
    void SetUp() override { SetRegionalSettings(TRegionalSettings{}); }
};

TEST_F(VariantTest, FloatsBecomeIntegersRoundedHalfToEven) {
    EXPECT_EQ(TVariant(2.5).AsInteger(), 2);
    EXPECT_EQ(TVariant(3.5).AsInteger(), 4);
    EXPECT_EQ(TVariant(-2.5).AsInteger(), -2);
    EXPECT_EQ(TVariant(-2.6).AsInteger(), -3);
    EXPECT_EQ(TVariant::FromDateTime(38061.75).AsInteger(), 38062);
    EXPECT_EQ(TVariant(2147483647.4).AsInteger(), 2147483647);
}

TEST_F(VariantTest, ConversionsOutOfRangeOrFromNullRaiseVariantErrors) {
    EXPECT_THROW((void)TVariant(3e9).AsInteger(), EVariantError);
    EXPECT_THROW((void)TVariant(std::nan("")).AsInteger(), EVariantError);
    EXPECT_THAT([] { (void)TVariant::Null().AsInteger(); },
                ThrowsMessage<EVariantError>(HasSubstr("Null to Integer")));
    EXPECT_THROW((void)TVariant::Null().AsString(), EVariantError);
    EXPECT_THROW((void)TVariant::Null().AsFloat(), EVariantError);
    EXPECT_THROW((void)TVariant::Array(0, 1).AsFloat(), EVariantError);
    EXPECT_THROW((void)TVariant(5).AsBytes(), EVariantError);
    EXPECT_THROW((void)TVariant(5).StringRef(), EVariantError);
}

TEST_F(VariantTest, UnassignedConvertsToZeroAndEmptyText) {
    const TVariant v;
    EXPECT_TRUE(v.IsUnassigned());
    EXPECT_TRUE(v.IsEmpty());
    EXPECT_EQ(v.AsInteger(), 0);
    EXPECT_EQ(v.AsFloat(), 0.0);
    EXPECT_EQ(v.AsString(), "");
}

TEST_F(VariantTest, TextConvertsThroughTheParsers) {
    EXPECT_EQ(TVariant("12").AsInteger(), 12);
    EXPECT_DOUBLE_EQ(TVariant("1.25").AsFloat(), 1.25);
    EXPECT_THAT([] { (void)TVariant("x").AsInteger(); },
                ThrowsMessage<EConvertError>("'x' は整数ではありません"));
    SetRegionalSettings(Comma());
    EXPECT_DOUBLE_EQ(TVariant("1,25").AsFloat(), 1.25);
    EXPECT_EQ(TVariant(1.25).AsString(), "1,25");
}

TEST_F(VariantTest, ValuesBecomeTheirTextForms) {
    EXPECT_EQ(TVariant(-17).AsString(), "-17");
    EXPECT_EQ(TVariant(0.00001).AsString(), "1E-5");
    TRegionalSettings s;
    s.shortDateFormat = "yyyy/mm/dd";
    s.dateSeparator = "-";
    SetRegionalSettings(s);
    EXPECT_EQ(TVariant::FromDateTime(EncodeDate(2004, 3, 15)).AsString(), "2004-03-15");
    EXPECT_EQ(TVariant::FromDateTime(EncodeDate(2004, 3, 15) + EncodeTime(13, 45, 30)).AsString(),
              "2004-03-15 13:45:30");
}

TEST_F(VariantTest, EqualityNeedsTheSameKind) {
    EXPECT_EQ(TVariant(1), TVariant(1));
    EXPECT_NE(TVariant(1), TVariant(1.0));
    EXPECT_NE(TVariant(1.0), TVariant::FromDateTime(1.0));
    EXPECT_NE(TVariant(), TVariant::Null());
    EXPECT_EQ(TVariant::Null(), TVariant::Null());
    EXPECT_NE(TVariant("1"), TVariant(1));
    EXPECT_EQ(TVariant::FromBytes({1, 2}), TVariant::FromBytes({1, 2}));
    EXPECT_NE(TVariant::FromBytes({1, 2}), TVariant::FromBytes({1, 3}));
}

TEST_F(VariantTest, ArraysKeepTheirBoundsAndCopyDeeply) {
    TVariant a = TVariant::Array(3, 5);
    EXPECT_TRUE(a.IsArray());
    EXPECT_EQ(a.LowBound(), 3);
    EXPECT_EQ(a.HighBound(), 5);
    EXPECT_EQ(a.ElementCount(), 3);
    EXPECT_TRUE(a.Element(4).IsUnassigned());
    a.SetElement(4, TVariant("x"));
    const TVariant copy = a;
    a.SetElement(4, TVariant(7));
    EXPECT_EQ(copy.Element(4), TVariant("x"));
    EXPECT_EQ(a.Element(4), TVariant(7));
    EXPECT_NE(copy, a);
    EXPECT_THROW((void)a.Element(2), EVariantError);
    EXPECT_THROW(a.SetElement(6, TVariant(1)), EVariantError);
    a.Redim(3);
    EXPECT_EQ(a.ElementCount(), 1);
    a.Redim(2);
    EXPECT_EQ(a.ElementCount(), 0);
    EXPECT_THROW(a.Redim(1), EVariantError);
    EXPECT_THROW((void)TVariant::Array(0, -2), EVariantError);
    EXPECT_EQ(TVariant::Array(0, -1).ElementCount(), 0);
    EXPECT_EQ(TVariant::Array({TVariant(1), TVariant(2)}, -1).HighBound(), 0);
}

TEST_F(VariantTest, ByteArraysHandOutBytesAsIntegers) {
    TVariant b = TVariant::FromBytes("\x00\xff\x10", 3);
    EXPECT_EQ(b.Kind(), TVariantKind::vkBytes);
    EXPECT_EQ(b.LowBound(), 0);
    EXPECT_EQ(b.HighBound(), 2);
    EXPECT_EQ(b.Element(1), TVariant(255));
    b.SetElement(0, TVariant(65));
    EXPECT_EQ(b.BytesRef()[0], 65);
    EXPECT_THROW(b.SetElement(0, TVariant(256)), EVariantError);
    EXPECT_THROW(b.SetElement(0, TVariant(-1)), EVariantError);
    b.Redim(4);
    EXPECT_EQ(b.AsBytes(), (std::vector<std::uint8_t>{65, 255, 16, 0, 0}));
    EXPECT_EQ(TVariant("ab").AsBytes(), (std::vector<std::uint8_t>{'a', 'b'}));
    EXPECT_EQ(TVariant::FromBytes(nullptr, 0).HighBound(), -1);
}

}  // namespace
