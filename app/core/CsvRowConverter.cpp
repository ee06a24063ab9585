#include "app/core/CsvRowConverter.h"

#include <utility>

#include "app/core/CsvNumber.h"
#include "app/core/CsvReader.h"
#include "platform/DateTime.h"

namespace velnor::app {
namespace {

bool IsBlank(char c) noexcept { return c == ' ' || c == '\t'; }
bool IsDigit(char c) noexcept { return c >= '0' && c <= '9'; }

std::string_view Trim(std::string_view text) noexcept {
    while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
    while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
    return text;
}

// Long values are cut in messages, on a UTF-8 character boundary.
std::string Shown(std::string_view value) {
    constexpr std::size_t kMax = 80;
    if (value.size() <= kMax) return std::string(value);
    std::size_t cut = kMax;
    while (cut > 0 && (static_cast<unsigned char>(value[cut]) & 0xC0) == 0x80) --cut;
    return std::string(value.substr(0, cut)) + "...";
}

[[noreturn]] void FieldError(std::int64_t line, std::size_t index, const TCsvColumn& column,
                             std::string_view field, const char* what) {
    throw ECsvError(std::to_string(line) + " 行目 " + std::to_string(index + 1) + " 列目 (" +
                        column.name + "): '" + Shown(field) + "' " + what,
                    line, static_cast<int>(index + 1));
}

int Number2(std::string_view digits, std::size_t at) noexcept {
    return (digits[at] - '0') * 10 + (digits[at + 1] - '0');
}

}  // namespace

TCsvRowConverter::TCsvRowConverter(std::vector<TCsvColumn> columns, std::string decimalSymbol)
    : columns_(std::move(columns)), decimalSymbol_(std::move(decimalSymbol)) {}

bool TCsvRowConverter::IsDateText(std::string_view text) noexcept {
    if (text.size() != 14) return false;
    for (char c : text)
        if (!IsDigit(c)) return false;
    const int year = Number2(text, 0) * 100 + Number2(text, 2);
    const int month = Number2(text, 4);
    const int day = Number2(text, 6);
    if (year < 1 || month < 1 || month > 12 || day < 1) return false;
    static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    const int daysInMonth = kDays[month - 1] + (month == 2 && leap ? 1 : 0);
    return day <= daysInMonth && Number2(text, 8) <= 23 && Number2(text, 10) <= 59 &&
           Number2(text, 12) <= 59;
}

void TCsvRowConverter::Convert(std::span<const std::string> fields, std::int64_t line,
                               std::vector<TCsvValue>& values) const {
    if (fields.size() > columns_.size()) {
        throw ECsvError(std::to_string(line) + " 行目: フィールドの数がテーブルの列数 (" +
                            std::to_string(columns_.size()) + ") を超えています",
                        line);
    }
    values.resize(columns_.size());
    for (std::size_t c = 0; c < columns_.size(); ++c) {
        const TCsvColumn& column = columns_[c];
        const std::string_view field = c < fields.size() ? std::string_view(fields[c]) : "";
        TCsvValue& value = values[c];
        switch (column.type) {
            case oracle::otInteger:
            case oracle::otFloat:
            case oracle::otNumber: {
                if (Trim(field).empty()) {
                    value.kind = TCsvValue::Kind::Null;
                    break;
                }
                switch (CsvNumberLiteral(field, decimalSymbol_, value.text)) {
                    case TCsvNumberKind::Number:
                        break;
                    case TCsvNumberKind::NonFinite:
                        FieldError(line, c, column, field, "は NUMBER 列に格納できません");
                    case TCsvNumberKind::NotNumber:
                        FieldError(line, c, column, field, "は数値ではありません");
                    case TCsvNumberKind::OutOfRange:
                        FieldError(line, c, column, field,
                                   ("は NUMBER 列に格納できません: " + value.text).c_str());
                }
                value.kind = TCsvValue::Kind::Number;
                break;
            }
            case oracle::otString:
                value.kind = TCsvValue::Kind::Text;
                value.text.assign(field);
                break;
            case oracle::otDate: {
                const std::string_view text = Trim(field);
                if (text.empty()) {
                    value.kind = TCsvValue::Kind::Null;
                    break;
                }
                if (!IsDateText(text))
                    FieldError(line, c, column, field, "は日付 (YYYYMMDDHH24MISS) ではありません");
                value.kind = TCsvValue::Kind::Text;
                value.text.assign(text);
                break;
            }
            default:
                value.kind = TCsvValue::Kind::Null;
                break;
        }
    }
}

}  // namespace velnor::app
