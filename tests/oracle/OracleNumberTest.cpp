#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <array>
#include <random>
#include <string>

#include "oracle/query/OracleNumber.h"
#include "platform/DateTime.h"

using namespace velnor;
using oracle::TDecimal;
using platform::EConvertError;
using ::testing::HasSubstr;
using ::testing::ThrowsMessage;

namespace {

// "C1 02" or "C1" + Bytes(19, "64") for repetitions.
std::string Bytes(int count, const char* hex) {
    std::string text;
    for (int i = 0; i < count; ++i) text += std::string(" ") + hex;
    return text;
}

std::vector<std::uint8_t> FromHex(const std::string& hex) {
    std::vector<std::uint8_t> bytes;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 3)
        bytes.push_back(static_cast<std::uint8_t>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    return bytes;
}

TDecimal Parse(const std::string& text) {
    const auto value = oracle::ParseDecimal(text);
    if (!value) throw std::invalid_argument("not a literal: " + text);
    return *value;
}

struct NumberCase {
    std::string text;   // canonical
    std::string bytes;  // external type 2
};

class OracleNumberBytesTest : public ::testing::TestWithParam<NumberCase> {};

TEST_P(OracleNumberBytesTest, EncodesAndDecodesOraclesBytes) {
    const NumberCase& c = GetParam();
    std::array<std::uint8_t, oracle::OracleVarnumSize> buffer{};
    const auto bytes = FromHex(c.bytes + " ");
    const std::size_t length = oracle::EncodeOracleNumber(Parse(c.text), buffer.data());
    EXPECT_EQ(std::vector<std::uint8_t>(buffer.data(), buffer.data() + length), bytes);
    EXPECT_EQ(oracle::DecimalToText(oracle::DecodeOracleNumber(bytes.data(), bytes.size())),
              c.text);

    oracle::EncodeOracleVarnum(Parse(c.text), buffer.data());
    EXPECT_EQ(buffer[0], bytes.size());
    EXPECT_EQ(oracle::DecimalToText(oracle::DecodeOracleVarnum(buffer.data())), c.text);
}

// Examples of the client documentation and of independent drivers' integer limits.
INSTANTIATE_TEST_SUITE_P(
    Documented, OracleNumberBytesTest,
    ::testing::Values(NumberCase{"0", "80"}, NumberCase{"1", "C1 02"}, NumberCase{"-1", "3E 64 66"},
                      NumberCase{"5", "C1 06"}, NumberCase{"-5", "3E 60 66"},
                      NumberCase{"100", "C2 02"}, NumberCase{"0.01", "C0 02"},
                      NumberCase{"123.45", "C2 02 18 2E"}, NumberCase{"12345678", "C4 0D 23 39 4F"},
                      NumberCase{"-12345678", "3B 59 43 2D 17 66"},
                      NumberCase{"9223372036854775807", "CA 0A 17 22 49 04 45 37 4E 3B 08"},
                      NumberCase{"-9223372036854775808", "35 5C 4F 44 1D 62 21 2F 18 2B 5D 66"},
                      NumberCase{"1E-130", "80 02"}, NumberCase{"-1E-130", "7F 64 66"},
                      NumberCase{"9." + std::string(37, '9') + "E125", "FF" + Bytes(19, "64")},
                      NumberCase{"-9." + std::string(37, '9') + "E125",
                                 "00" + Bytes(19, "02") + " 66"},
                      NumberCase{"0." + std::string(40, '9'), "C0" + Bytes(20, "64")},
                      NumberCase{"-0." + std::string(40, '9'), "3F" + Bytes(20, "02")},
                      NumberCase{"1234567890.0123456789", "C5 0D 23 39 4F 5B 02 18 2E 44 5A"}));

TEST(OracleNumberTest, RefusesValuesANumberWouldChange) {
    std::array<std::uint8_t, oracle::OracleVarnumSize> buffer{};
    struct Case {
        std::string text;
        const char* message;
    };
    for (const Case& c : {Case{"1E126", "1E126 or more"}, Case{"-1E126", "1E126 or more"},
                          Case{"9.9E-131", "below 1E-130"}, Case{"1E999999999999", "1E126"},
                          Case{"1." + std::string(39, '1'), "significant digits"},
                          Case{std::string(41, '7'), "significant digits"}}) {
        EXPECT_FALSE(oracle::FitsOracleNumber(Parse(c.text))) << c.text;
        EXPECT_THAT([&] { (void)oracle::EncodeOracleNumber(Parse(c.text), buffer.data()); },
                    ThrowsMessage<EConvertError>(HasSubstr(c.message)))
            << c.text;
    }
    // 40 digits fit when the point falls between two pairs.
    EXPECT_EQ(oracle::EncodeOracleNumber(Parse(std::string(40, '7')), buffer.data()), 21u);
}

TEST(OracleNumberTest, RefusesBytesNoNumberHas) {
    for (const char* hex : {"", "00", "FF 65", "C1 00", "C1 66", "C1 01", "3E 66", "81",
                            "C1 02 02 02 02 02 02 02 02 02 02 02 02 02 02 02 02 02 02 02 02 02"}) {
        const auto bytes = FromHex(std::string(hex) + " ");
        EXPECT_THAT([&] { (void)oracle::DecodeOracleNumber(bytes.data(), bytes.size()); },
                    ThrowsMessage<EConvertError>(HasSubstr("Invalid Oracle NUMBER")))
            << hex;
    }
}

TEST(OracleNumberTest, ParsesLiteralsExactly) {
    struct Case {
        const char* text;
        const char* symbol;
        const char* canonical;  // nullptr: no literal
    };
    for (const Case& c :
         {Case{"000123.4500", ".", "123.45"}, Case{"+.5", ".", "0.5"}, Case{"5.", ".", "5"},
          Case{"-0.000", ".", "0"}, Case{"-1,5e-3", ",", "-0.0015"}, Case{"1.5", ",", "1.5"},
          Case{"12345678901234567890123456789012345678", ".",
               "12345678901234567890123456789012345678"},
          Case{"0.0000001", ".", "0.0000001"}, Case{"0.00000001", ".", "1E-8"},
          Case{"1e41", ".", "1E41"}, Case{"123E-2", ".", "1.23"},
          // Far beyond any NUMBER the exponent stops at a limit, which reads
          // back from the canonical text all the same.
          Case{"0.01E-99999999999", ".", "1E-1000000001"}, Case{"", ".", nullptr},
          Case{"-", ".", nullptr}, Case{".", ".", nullptr}, Case{"1e", ".", nullptr},
          Case{"1e+", ".", nullptr}, Case{"0x10", ".", nullptr}, Case{"1.2.3", ".", nullptr},
          Case{" 1", ".", nullptr}, Case{"inf", ".", nullptr}, Case{"1,5", ".", nullptr},
          Case{"--1", ".", nullptr}}) {
        const auto value = oracle::ParseDecimal(c.text, c.symbol);
        if (c.canonical == nullptr) {
            EXPECT_FALSE(value) << c.text;
        } else {
            ASSERT_TRUE(value) << c.text;
            EXPECT_EQ(oracle::DecimalToText(*value), c.canonical) << c.text;
            EXPECT_EQ(oracle::ParseDecimal(c.canonical), value) << c.text;
        }
    }
}

TEST(OracleNumberTest, TellsTheDigitsAColumnCanHold) {
    struct Case {
        int precision, scale, digits;
    };
    for (const Case& c :
         {Case{0, -127, 40}, Case{0, 0, 40}, Case{15, 2, 15}, Case{38, 0, 38}, Case{5, -2, 5},
          Case{126, -127, 38}, Case{49, -127, 15}, Case{50, -127, 16}, Case{1, -127, 1}}) {
        EXPECT_EQ(oracle::NumberColumnDigits(c.precision, c.scale), c.digits)
            << c.precision << "," << c.scale;
    }
}

TEST(OracleNumberTest, EveryEncodableValueSurvivesBytesAndText) {
    std::mt19937 random(20261209);
    std::array<std::uint8_t, oracle::OracleVarnumSize> buffer{};
    for (int i = 0; i < 20000; ++i) {
        TDecimal value;
        value.negative = random() % 2 == 0;
        const int count = 1 + static_cast<int>(random() % 39);
        for (int k = 0; k < count; ++k)
            value.digits += static_cast<char>(
                '0' + (k == 0 || k == count - 1 ? 1 + random() % 9 : random() % 10));
        value.exponent = -129 + static_cast<int>(random() % 256);
        const std::size_t length = oracle::EncodeOracleNumber(value, buffer.data());
        ASSERT_EQ(oracle::DecodeOracleNumber(buffer.data(), length), value)
            << oracle::DecimalToText(value);
        ASSERT_EQ(oracle::ParseDecimal(oracle::DecimalToText(value)), value);
        ASSERT_TRUE(oracle::FitsOracleNumber(value));
    }
}

}  // namespace
