#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstring>
#include <limits>

#include "oracle/query/OracleConvert.h"

using namespace velnor;
using platform::EConvertError;
using platform::EncodeDate;
using platform::EncodeTime;
using platform::TVariant;
using ::testing::HasSubstr;
using ::testing::ThrowsMessage;

namespace {

using TBytes = std::array<std::uint8_t, 7>;

TBytes ToBytes(double value) {
    TBytes b{};
    oracle::DateTimeToOracleDate(value, b.data());
    return b;
}

double At(int y, int m, int d, int hh = 0, int nn = 0, int ss = 0) {
    const double date = EncodeDate(y, m, d);
    const double time = EncodeTime(hh, nn, ss);
    return date >= 0 ? date + time : date - time;
}

struct DateCase {
    TBytes bytes;
    double value;
};

class OracleDateTest : public ::testing::TestWithParam<DateCase> {};

TEST_P(OracleDateTest, ConvertsBothWays) {
    EXPECT_EQ(oracle::OracleDateToDateTime(GetParam().bytes.data()), GetParam().value);
    EXPECT_EQ(ToBytes(GetParam().value), GetParam().bytes);
}

INSTANTIATE_TEST_SUITE_P(
    Dates, OracleDateTest,
    ::testing::Values(DateCase{{120, 104, 3, 15, 14, 46, 31}, At(2004, 3, 15, 13, 45, 30)},
                      DateCase{{119, 199, 12, 31, 24, 60, 60}, At(1999, 12, 31, 23, 59, 59)},
                      DateCase{{120, 100, 1, 1, 1, 1, 1}, At(2000, 1, 1)},
                      DateCase{{118, 199, 12, 30, 1, 1, 1}, 0.0},
                      DateCase{{118, 100, 1, 1, 7, 1, 1}, At(1800, 1, 1, 6, 0, 0)},
                      DateCase{{100, 101, 1, 1, 1, 1, 1}, At(1, 1, 1)},
                      DateCase{{199, 199, 12, 31, 24, 60, 60}, At(9999, 12, 31, 23, 59, 59)},
                      // Years before Christ count both bytes down from 100.
                      DateCase{{100, 99, 12, 31, 1, 1, 1}, At(-1, 12, 31)},
                      DateCase{{99, 100, 6, 1, 13, 1, 1}, At(-100, 6, 1, 12, 0, 0)},
                      DateCase{{53, 88, 1, 1, 1, 1, 1}, At(-4712, 1, 1)}));

TEST(OracleConvertTest, EveryCenturyRoundTripsThroughTheBytes) {
    for (int year = -4700; year <= 9900; year += 100) {
        for (int y : {year - 1, year, year + 1}) {
            if (y == 0 || y < platform::MinYear) continue;
            for (double value : {At(y, 1, 1, 0, 0, 0), At(y, 12, 31, 23, 59, 59),
                                 At(y, 2, platform::IsLeapYear(y) ? 29 : 28, 12, 30, 1)}) {
                const TBytes bytes = ToBytes(value);
                ASSERT_EQ(oracle::OracleDateToDateTime(bytes.data()), value) << y;
                ASSERT_EQ(ToBytes(oracle::OracleDateToDateTime(bytes.data())), bytes) << y;
            }
        }
    }
}

TEST(OracleConvertTest, DateTimesLoseOnlyTheirMilliseconds) {
    const double start = At(2004, 3, 15);
    for (int i = 0; i < 100000; ++i) {
        const double value = start + i * 0.0123456789;
        const platform::TDateTimeParts p = platform::DecodeDateTime(value);
        const double expected =
            EncodeDate(p.year, p.month, p.day) + EncodeTime(p.hour, p.minute, p.second);
        const TBytes bytes = ToBytes(value);
        ASSERT_EQ(oracle::OracleDateToDateTime(bytes.data()), expected) << value;
    }
}

TEST(OracleConvertTest, RoundsToTheMillisecondBeforeSplitting) {
    const double second = 1.0 / 86400;
    EXPECT_EQ(ToBytes(At(1999, 12, 31) + 86399.9996 * second), (TBytes{120, 100, 1, 1, 1, 1, 1}));
    EXPECT_EQ(ToBytes(At(1999, 12, 31) + 86399.9994 * second),
              (TBytes{119, 199, 12, 31, 24, 60, 60}));
    // Below 1899-12-30 the carry still moves to the following day.
    EXPECT_EQ(ToBytes(-1 - 86399.9996 * second), (TBytes{118, 199, 12, 30, 1, 1, 1}));
}

TEST(OracleConvertTest, InvalidBytesRaiseInsteadOfGivingAnotherDate) {
    for (const TBytes& b : {TBytes{100, 100, 1, 1, 1, 1, 1},     // year 0
                            TBytes{120, 104, 2, 30, 1, 1, 1},    // 30 February
                            TBytes{120, 104, 13, 1, 1, 1, 1},    // month 13
                            TBytes{120, 104, 0, 0, 1, 1, 1},     // no month and day
                            TBytes{120, 104, 3, 15, 0, 1, 1},    // hour byte 0
                            TBytes{120, 104, 3, 15, 25, 1, 1},   // hour 24
                            TBytes{120, 104, 3, 15, 1, 61, 1},   // minute 60
                            TBytes{120, 104, 3, 15, 1, 1, 0},    // second byte 0
                            TBytes{99, 150, 1, 1, 1, 1, 1},      // mixed signs
                            TBytes{120, 200, 1, 1, 1, 1, 1}}) {  // year of century 100
        EXPECT_THAT([&] { (void)oracle::OracleDateToDateTime(b.data()); },
                    ThrowsMessage<EConvertError>(HasSubstr("Invalid Oracle date")))
            << int(b[0]) << " " << int(b[1]) << " " << int(b[2]) << " " << int(b[3]);
    }
}

TEST(OracleConvertTest, YearsBeyondTheCalendarRaiseOutOfRange) {
    for (const TBytes& b : {TBytes{200, 100, 1, 1, 1, 1, 1},     // 10000
                            TBytes{52, 100, 1, 1, 1, 1, 1},      // 4800 BC
                            TBytes{53, 87, 12, 31, 1, 1, 1}}) {  // 4713 BC
        EXPECT_THAT([&] { (void)oracle::OracleDateToDateTime(b.data()); },
                    ThrowsMessage<EConvertError>(HasSubstr("Oracle date out of range")));
    }
}

TEST(OracleConvertTest, DateTimesNoDateHoldsRaiseAndLeaveTheBufferAlone) {
    for (double v : {std::numeric_limits<double>::quiet_NaN(),
                     std::numeric_limits<double>::infinity(), 3e6, -3e6}) {
        TBytes b{1, 2, 3, 4, 5, 6, 7};
        EXPECT_THROW(oracle::DateTimeToOracleDate(v, b.data()), EConvertError) << v;
        EXPECT_EQ(b, (TBytes{1, 2, 3, 4, 5, 6, 7}));
    }
}

struct BreakCase {
    const char* text;
    const char* in;
    const char* out;
};

class LineBreakTest : public ::testing::TestWithParam<BreakCase> {};

TEST_P(LineBreakTest, ConvertsWhenAskedAndOnlyThen) {
    const BreakCase& c = GetParam();
    EXPECT_EQ(oracle::NormalizeLineBreaksIn(c.text, true), c.in);
    EXPECT_EQ(oracle::NormalizeLineBreaksOut(c.text, true), c.out);
    EXPECT_EQ(oracle::NormalizeLineBreaksIn(c.text, false), c.text);
    EXPECT_EQ(oracle::NormalizeLineBreaksOut(c.text, false), c.text);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, LineBreakTest,
    ::testing::Values(BreakCase{"a\nb", "a\r\nb", "a\nb"}, BreakCase{"a\r\nb", "a\r\nb", "a\nb"},
                      BreakCase{"a\rb", "a\r\nb", "ab"}, BreakCase{"\n\r", "\r\n\r\n", "\n"},
                      BreakCase{"\r\r\n", "\r\n\r\n", "\n"}, BreakCase{"x\r", "x\r\n", "x"},
                      BreakCase{"日本\n語", "日本\r\n語", "日本\n語"}, BreakCase{"", "", ""},
                      BreakCase{"abc", "abc", "abc"}));

struct BufferTest : ::testing::Test {
    TVariant Convert(const void* buffer, int code, std::size_t length, bool crlf = true) {
        TVariant v;
        oracle::BufferToVariant(buffer, code, length, crlf, v);
        return v;
    }
};

TEST_F(BufferTest, TextStopsAtTheFirstNulAndNeverReadsPastTheLength) {
    const char text[] = "abc\0def";
    for (int code : {1, 5, 10, 97}) EXPECT_EQ(Convert(text, code, 8), TVariant("abc")) << code;
    EXPECT_EQ(Convert(text, 5, 2), TVariant("ab"));
    EXPECT_EQ(Convert(text, 5, 0), TVariant(""));
    EXPECT_EQ(Convert("x\ny", 5, 4), TVariant("x\r\ny"));
    EXPECT_EQ(Convert("x\ny", 5, 4, false), TVariant("x\ny"));
}

TEST_F(BufferTest, LongTextKeepsExactlyItsLengthUnconverted) {
    const char text[] = "a\0b\ncdefghi";  // eleven bytes
    EXPECT_EQ(Convert(text, 8, 5), TVariant(std::string("a\0b\nc", 5)));
}

TEST_F(BufferTest, LongRawBecomesAByteArrayFromZero) {
    const std::uint8_t raw[] = {0, 255, 13, 10};
    const TVariant v = Convert(raw, 24, 4);
    EXPECT_EQ(v, TVariant::FromBytes({0, 255, 13, 10}));
    EXPECT_EQ(v.LowBound(), 0);
    EXPECT_EQ(v.HighBound(), 3);
    EXPECT_EQ(Convert(nullptr, 24, 0).HighBound(), -1);
}

TEST_F(BufferTest, NumbersAndDatesKeepTheirKind) {
    const std::int32_t i = -5;
    for (int code : {3, 108, 110, 112, 113, 114, 116})
        EXPECT_EQ(Convert(&i, code, 4), TVariant(-5));
    EXPECT_EQ(Convert(&i, 3, 0), TVariant(-5));
    const std::int16_t s = -300;
    EXPECT_EQ(Convert(&s, 3, 2), TVariant(-300));
    const std::int64_t wide = 1234567;
    EXPECT_EQ(Convert(&wide, 3, 8), TVariant(1234567));
    const std::int64_t huge = 1LL << 40;
    EXPECT_THROW(Convert(&huge, 3, 8), EConvertError);
    const double d = 2.5;
    EXPECT_EQ(Convert(&d, 4, 8), TVariant(2.5));
    const float f = 0.5f;
    EXPECT_EQ(Convert(&f, 4, 4), TVariant(0.5));
    EXPECT_THROW(Convert(&d, 4, 3), EConvertError);
    const std::uint8_t date[] = {120, 104, 3, 15, 14, 46, 31};
    EXPECT_EQ(Convert(date, 12, 7), TVariant::FromDateTime(At(2004, 3, 15, 13, 45, 30)));
    EXPECT_THROW(Convert(date, 12, 5), EConvertError);
    const std::uint8_t bad[] = {120, 104, 2, 30, 1, 1, 1};
    EXPECT_THROW(Convert(bad, 12, 7), EConvertError);
}

TEST_F(BufferTest, UnknownCodesLeaveTheVariantAsItWas) {
    TVariant v(42);
    const std::int32_t i = 1;
    oracle::BufferToVariant(&i, 999, 4, true, v);
    EXPECT_EQ(v, TVariant(42));
    EXPECT_THROW(oracle::BufferToVariant(nullptr, 3, 4, true, v), EConvertError);
}

TEST(BufferToDecimalTest, EveryNumericBufferGivesItsExactDigits) {
    const std::int32_t i32 = -42;
    const std::int16_t i16 = 7;
    const double tenth = 0.1;
    const std::uint8_t varnum[22] = {3, 0x3E, 0x64, 0x66};
    const char text[] = " 123.4500 ";
    struct Case {
        const void* buffer;
        int typeCode;
        std::size_t length;
        const char* digits;  // nullptr: refused
    };
    for (const Case& c : {Case{&i32, 3, 0, "-42"}, Case{&i16, 3, 2, "7"}, Case{&tenth, 4, 8, "0.1"},
                          Case{varnum, 6, 22, "-1"}, Case{varnum, 6, 21, nullptr},
                          Case{text, 5, sizeof text, "123.45"}, Case{"1,5", 5, 4, nullptr},
                          Case{varnum, 12, 7, nullptr}}) {
        if (c.digits == nullptr) {
            EXPECT_THROW((void)oracle::BufferToDecimal(c.buffer, c.typeCode, c.length),
                         EConvertError)
                << c.typeCode;
        } else {
            EXPECT_EQ(
                oracle::DecimalToText(oracle::BufferToDecimal(c.buffer, c.typeCode, c.length)),
                c.digits)
                << c.typeCode;
        }
    }
    const double nan = std::numeric_limits<double>::quiet_NaN();
    EXPECT_THROW((void)oracle::BufferToDecimal(&nan, 4, 8), EConvertError);
}

}  // namespace
