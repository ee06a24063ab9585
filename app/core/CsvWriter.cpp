#include "app/core/CsvWriter.h"

#include <algorithm>
#include <charconv>
#include <cmath>

#include "app/core/CsvNumber.h"
#include "app/core/Formatting.h"
#include "oracle/query/OracleConvert.h"
#include "platform/DateTime.h"
#include "platform/Variant.h"

namespace velnor::app {
namespace {

void AppendDigits(std::string& out, int value, int width) {
    char digits[8];
    for (int i = width - 1; i >= 0; --i) {
        digits[i] = static_cast<char>('0' + value % 10);
        value /= 10;
    }
    out.append(digits, static_cast<std::size_t>(width));
}

}  // namespace

TCsvWriter::TCsvWriter(const platform::TRegionalSettings& settings)
    : settings_(settings),
      quoteFloats_(settings_.decimalSymbol.find_first_of(",\"\r\n") != std::string::npos) {}

void TCsvWriter::Clear() noexcept {
    line_.clear();
    empty_ = true;
    fields_ = 0;
    emptyFields_ = 0;
}

void TCsvWriter::Separate() {
    if (!empty_) line_.push_back(',');
    empty_ = false;
    ++fields_;
}

void TCsvWriter::AppendField(std::string& out, std::string_view text) {
    // One pass: find_first_of searches the set once per character.
    const bool quote = std::any_of(text.begin(), text.end(), [](char c) {
        return c == ',' || c == '"' || c == '\r' || c == '\n';
    });
    if (quote) {
        AppendQuoted(out, text, '"');
    } else {
        out.append(text);
    }
}

void TCsvWriter::AddHeader(std::span<const std::string> names) {
    for (const auto& name : names) {
        Separate();
        AppendQuoted(line_, name, '"');
    }
}

void TCsvWriter::AddInteger(std::int32_t value) {
    Separate();
    char digits[16];
    const auto result = std::to_chars(digits, digits + sizeof digits, value);
    line_.append(digits, result.ptr);
}

void TCsvWriter::AddFloat(double value) {
    Separate();
    if (quoteFloats_)
        AppendField(line_, platform::FloatToText(value, settings_));
    else
        platform::AppendFloatText(line_, value, settings_);
}

void TCsvWriter::AddNumber(const oracle::TDecimal& value) {
    Separate();
    if (quoteFloats_)
        AppendField(line_, CsvNumberText(value, settings_));
    else
        AppendCsvNumberText(line_, value, settings_);
}

void TCsvWriter::AddString(std::string_view text) {
    Separate();
    AppendQuoted(line_, text, '"');
}

void TCsvWriter::AddDate(double value) {
    const platform::TDateTimeParts parts = platform::DecodeDateTime(value);
    if (parts.year < 1) {
        throw platform::EConvertError(
            "日付 " + std::to_string(parts.year) + "/" + std::to_string(parts.month) + "/" +
            std::to_string(parts.day) + " は CSV の日付形式 (yyyymmddhhnnss) で書けません");
    }
    Separate();
    AppendDigits(line_, parts.year, 4);
    AppendDigits(line_, parts.month, 2);
    AppendDigits(line_, parts.day, 2);
    AppendDigits(line_, parts.hour, 2);
    AppendDigits(line_, parts.minute, 2);
    AppendDigits(line_, parts.second, 2);
}

void TCsvWriter::AddOracleDate(const std::uint8_t* bytes) {
    const int year = (bytes[0] - 100) * 100 + bytes[1] - 100;
    const int month = bytes[2];
    const int day = bytes[3];
    const int hour = bytes[4] - 1;
    const int minute = bytes[5] - 1;
    const int second = bytes[6] - 1;
    // Anything but a plain date after Christ takes the checked way, which raises for it.
    if (bytes[0] < 100 || bytes[1] < 100 || bytes[1] > 199 || year < 1 || year > 9999 ||
        !platform::IsValidDate(year, month, day) ||
        !platform::IsValidTime(hour, minute, second, 0)) {
        AddDate(oracle::OracleDateToDateTime(bytes));
        return;
    }
    Separate();
    AppendDigits(line_, year, 4);
    AppendDigits(line_, month, 2);
    AppendDigits(line_, day, 2);
    AppendDigits(line_, hour, 2);
    AppendDigits(line_, minute, 2);
    AppendDigits(line_, second, 2);
}

void TCsvWriter::AddEmpty() {
    Separate();
    ++emptyFields_;
}

}  // namespace velnor::app

namespace velnor::app {

void TCsvWriter::AddText(std::string_view text) {
    Separate();
    AppendField(line_, text);
}

void TCsvWriter::AddHex(std::string_view bytes) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    Separate();
    line_.reserve(line_.size() + bytes.size() * 2 + 2);
    line_.push_back('"');
    for (char c : bytes) {
        const auto b = static_cast<unsigned char>(c);
        line_.push_back(kDigits[b >> 4]);
        line_.push_back(kDigits[b & 15]);
    }
    line_.push_back('"');
}

void TCsvWriter::AddBinary(double value, bool single) {
    Separate();
    if (std::isnan(value)) {
        line_.append("Nan");
    } else if (std::isinf(value)) {
        line_.append(value < 0 ? "-Inf" : "Inf");
    } else {
        char digits[32];
        const auto result =
            single ? std::to_chars(digits, digits + sizeof digits, static_cast<float>(value))
                   : std::to_chars(digits, digits + sizeof digits, value);
        for (char* c = digits; c != result.ptr; ++c)
            if (*c == 'e') *c = 'E';  // as Oracle writes exponents
        line_.append(digits, result.ptr);
    }
}

void TCsvWriter::EndRecord() {
    if (fields_ == 1 && emptyFields_ == 1) line_ = "\"\"";
}

std::string TCsvWriter::TakeLineForStreamedField() {
    Separate();
    std::string line = std::move(line_);
    line_.clear();
    return line;
}

}  // namespace velnor::app
