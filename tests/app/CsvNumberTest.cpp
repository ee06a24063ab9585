#include <gtest/gtest.h>

#include <cstdlib>
#include <random>
#include <string>

#include "app/core/CsvNumber.h"
#include "app/core/CsvRowConverter.h"
#include "platform/Variant.h"

using namespace velnor;

namespace {

platform::TRegionalSettings WithDecimalSymbol(const char* symbol) {
    platform::TRegionalSettings settings;
    settings.decimalSymbol = symbol;
    return settings;
}

std::string Text(const std::string& literal, const char* symbol = ".") {
    return app::CsvNumberText(*oracle::ParseDecimal(literal), WithDecimalSymbol(symbol));
}

TEST(CsvNumberTest, WritesEveryDigitInTheGeneralForm) {
    struct Case {
        const char* literal;
        const char* symbol;
        const char* text;
    };
    for (const Case& c :
         {Case{"0.0001", ".", "0.0001"}, Case{"1E-5", ".", "1E-5"},
          Case{"999999999999999", ".", "999999999999999"}, Case{"1E15", ".", "1E15"},
          Case{"2.5E20", ".", "2.5E20"}, Case{"2.5E20", ",", "2,5E20"},
          Case{"-0.0001", ",", "-0,0001"}, Case{"-0", ".", "0"},
          Case{"1234567890123456789", ".", "1234567890123456789"},
          Case{"-9223372036854775808", ".", "-9223372036854775808"},
          Case{"1234567890.0123456789", ",", "1234567890,0123456789"},
          Case{"99999999999999999999999999999999999999", ".",
               "99999999999999999999999999999999999999"},
          // Past the digits the threshold is the digit count, as 15 is for shorter values.
          Case{"12345678901234567890", ".", "1.234567890123456789E19"},
          Case{"0.0001234567890123456", ".", "0.0001234567890123456"},
          Case{"-0.00001234567890123456789", ",", "-1,234567890123456789E-5"},
          Case{"1E-130", ".", "1E-130"},
          Case{"9.9999999999999999999999999999999999999E125", ".",
               "9.9999999999999999999999999999999999999E125"}}) {
        EXPECT_EQ(Text(c.literal, c.symbol), c.text) << c.literal;
    }
}

// Files written before must stay byte-identical: every value of at most 15 digits gets the
// text the floating-point path writes.
TEST(CsvNumberTest, ShortValuesKeepTheFloatText) {
    std::mt19937 random(1209);
    for (const char* symbol : {".", ","}) {
        const auto settings = WithDecimalSymbol(symbol);
        for (int i = 0; i < 50000; ++i) {
            std::string literal = random() % 2 ? "-0." : "0.";
            const int count = 1 + static_cast<int>(random() % 15);
            for (int k = 0; k < count; ++k)
                literal += static_cast<char>('0' + (k == 0 ? 1 + random() % 9 : random() % 10));
            // Mostly near the form's thresholds, sometimes anywhere in NUMBER's range.
            const int exponent = random() % 4 ? -6 + static_cast<int>(random() % 26)
                                              : -129 + static_cast<int>(random() % 256);
            literal += "E" + std::to_string(exponent);
            const double value = std::strtod(literal.c_str(), nullptr);
            ASSERT_EQ(app::CsvNumberText(*oracle::ParseDecimal(literal), settings),
                      platform::FloatToText(value, settings))
                << literal;
        }
    }
}

TEST(CsvNumberTest, ReadsWhatTheImportAcceptsWithEveryDigit) {
    struct Case {
        const char* field;
        const char* symbol;
        const char* canonical;
    };
    for (const Case& c : {
             Case{" 1234567890123456789\t", ".", "1234567890123456789"},
             Case{"1,5", ",", "1.5"},
             Case{"-1234567890,0123456789", ",", "-1234567890.0123456789"},
         }) {
        std::string text;
        ASSERT_EQ(app::CsvNumberLiteral(c.field, c.symbol, text), app::TCsvNumberKind::Number)
            << c.field;
        EXPECT_EQ(text, c.canonical) << c.field;
    }
}

}  // namespace
