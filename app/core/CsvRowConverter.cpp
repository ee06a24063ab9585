#include "app/core/CsvRowConverter.h"

#include <charconv>
#include <cmath>
#include <limits>
#include <utility>

#include "app/core/CsvNumber.h"
#include "app/core/CsvReader.h"
#include "oracle/query/FieldData.h"
#include "oracle/query/OracleNumber.h"
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

// Gregorian, month 1 to 12.
int DaysInMonth(int year, int month) noexcept {
    static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return kDays[month - 1] + (month == 2 && leap ? 1 : 0);
}

int Number2(std::string_view digits, std::size_t at) noexcept {
    return (digits[at] - '0') * 10 + (digits[at + 1] - '0');
}

// Reads exactly `count` digits (or 1 to `count` when `upTo`) at `at`; -1 when absent.
int Digits(std::string_view text, std::size_t& at, std::size_t count, bool upTo = false) {
    std::size_t n = 0;
    int value = 0;
    while (n < count && at + n < text.size() && IsDigit(text[at + n])) {
        value = value * 10 + (text[at + n] - '0');
        ++n;
    }
    if (n == 0 || (!upTo && n != count)) return -1;
    at += n;
    return value;
}

bool Skip(std::string_view text, std::size_t& at, char c) noexcept {
    if (at >= text.size() || text[at] != c) return false;
    ++at;
    return true;
}

int HexDigit(char c) noexcept {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

bool DecodeHex(std::string_view text, std::string* bytes) {
    if (text.size() % 2 != 0) return false;
    if (bytes) bytes->resize(text.size() / 2);
    for (std::size_t i = 0; i < text.size(); i += 2) {
        const int high = HexDigit(text[i]);
        const int low = HexDigit(text[i + 1]);
        if (high < 0 || low < 0) return false;
        if (bytes) (*bytes)[i / 2] = static_cast<char>(high * 16 + low);
    }
    return true;
}

bool EqualsNoCase(std::string_view a, std::string_view b) noexcept {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
        if (lower(a[i]) != lower(b[i])) return false;
    }
    return true;
}

// The forms TO_BINARY_DOUBLE reads: a decimal or exponent literal, Nan, Inf, -Inf.
template <typename T>
bool ParseBinary(std::string_view text, double& value) {
    if (EqualsNoCase(text, "nan")) {
        value = std::numeric_limits<double>::quiet_NaN();
        return true;
    }
    if (EqualsNoCase(text, "inf") || EqualsNoCase(text, "+inf")) {
        value = std::numeric_limits<double>::infinity();
        return true;
    }
    if (EqualsNoCase(text, "-inf")) {
        value = -std::numeric_limits<double>::infinity();
        return true;
    }
    if (!text.empty() && text.front() == '+') text.remove_prefix(1);
    if (text.empty() || !(IsDigit(text.front()) || text.front() == '-' || text.front() == '.'))
        return false;
    T parsed{};
    const auto result = std::from_chars(text.data(), text.data() + text.size(), parsed);
    if (result.ec != std::errc() || result.ptr != text.data() + text.size()) return false;
    value = static_cast<double>(parsed);
    return true;
}

}  // namespace

TCsvForm CsvFormOf(int fieldType, int internalType) noexcept {
    using namespace oracle;
    switch (internalType) {
        case itRaw:
            return TCsvForm::Raw;
        case itLong:
            return TCsvForm::Long;
        case itLongRaw:
            return TCsvForm::LongRaw;
        case itTimestamp:
            return TCsvForm::Timestamp;
        case itTimestampTz:
            return TCsvForm::TimestampTz;
        case itTimestampLtz:
            return TCsvForm::TimestampLtz;
        case itIntervalYm:
            return TCsvForm::IntervalYm;
        case itIntervalDs:
            return TCsvForm::IntervalDs;
        case itBinaryFloat:
            return TCsvForm::BinaryFloat;
        case itBinaryDouble:
            return TCsvForm::BinaryDouble;
        // CLOB, NCLOB (by its character set form) and BLOB share their own form.
        case itClob:
        case itBlob:
            return TCsvForm::Lob;
        case 0:
        case itVarchar2:
        case itNumber:
        case itRowId:
        case itDate:
        case itChar:
        case itRowIdDescriptor:
        case itMlsLabel:
            break;
        default:
            return TCsvForm::Unrepresentable;
    }
    switch (fieldType) {
        case otInteger:
            return TCsvForm::Integer;
        case otFloat:
            return TCsvForm::Float;
        case otNumber:
            return TCsvForm::Number;
        case otString:
            return TCsvForm::Text;
        case otDate:
            return TCsvForm::Date;
        case otLong:
            return TCsvForm::Long;
        case otLongRaw:
            return TCsvForm::LongRaw;
        case otCLOB:
        case otBLOB:
            return TCsvForm::Lob;
        default:
            return TCsvForm::Unrepresentable;
    }
}

std::string CsvTypeName(int fieldType, int internalType) {
    using namespace oracle;
    switch (internalType != 0 ? internalType : fieldType) {
        case itObject:
            return "オブジェクト型";
        case itRef:
            return "REF";
        case itBFile:
            return "BFILE";
        case itCursor:
            return "カーソル";
        default:
            return "型コード " + std::to_string(internalType != 0 ? internalType : fieldType);
    }
}

std::string TCsvRowConverter::TimestampText(std::string_view text, bool zoned) {
    std::string out;
    if (!TimestampText(text, zoned, out)) out.clear();
    return out;
}

bool TCsvRowConverter::TimestampText(std::string_view text, bool zoned, std::string& out) {
    std::size_t at = 0;
    const bool bc = Skip(text, at, '-');
    const int year = Digits(text, at, 4);
    if (year < 0 || (year == 0) || !Skip(text, at, '-')) return false;
    const int month = Digits(text, at, 2);
    if (month < 1 || month > 12 || !Skip(text, at, '-')) return false;
    const int day = Digits(text, at, 2);
    if (day < 1 || day > 31 || !Skip(text, at, ' ')) return false;
    const int hour = Digits(text, at, 2);
    if (hour < 0 || hour > 23 || !Skip(text, at, ':')) return false;
    const int minute = Digits(text, at, 2);
    if (minute < 0 || minute > 59 || !Skip(text, at, ':')) return false;
    const int second = Digits(text, at, 2);
    if (second < 0 || second > 59) return false;
    if (!bc && day > DaysInMonth(year, month)) {
        // Before 1583 the database's calendar (Julian) decides about 29 February.
        if (year > 1582 || !(month == 2 && day == 29)) return false;
    }
    out.assign(text.substr(0, at));
    if (Skip(text, at, '.')) {
        const std::size_t start = at;
        if (Digits(text, at, 9, true) < 0) return false;
        out += '.';
        out += text.substr(start, at - start);
    } else {
        out += ".0";
    }
    if (zoned) {
        const std::size_t start = at;
        if (!Skip(text, at, ' ') || !(Skip(text, at, '+') || Skip(text, at, '-'))) return false;
        const int zoneHour = Digits(text, at, 2);
        if (zoneHour < 0 || zoneHour > 14 || !Skip(text, at, ':')) return false;
        const int zoneMinute = Digits(text, at, 2);
        if (zoneMinute < 0 || zoneMinute > 59) return false;
        out += text.substr(start, at - start);
    }
    return at == text.size();
}

bool TCsvRowConverter::IsIntervalText(std::string_view text, bool dayToSecond) noexcept {
    std::size_t at = 0;
    if (!Skip(text, at, '+')) Skip(text, at, '-');
    if (Digits(text, at, 9, true) < 0) return false;
    if (!dayToSecond) {
        if (!Skip(text, at, '-')) return false;
        const int months = Digits(text, at, 2, true);
        return months >= 0 && months <= 11 && at == text.size();
    }
    if (!Skip(text, at, ' ')) return false;
    const int hour = Digits(text, at, 2, true);
    if (hour < 0 || hour > 23 || !Skip(text, at, ':')) return false;
    const int minute = Digits(text, at, 2);
    if (minute < 0 || minute > 59 || !Skip(text, at, ':')) return false;
    const int second = Digits(text, at, 2);
    if (second < 0 || second > 59) return false;
    if (Skip(text, at, '.') && Digits(text, at, 9, true) < 0) return false;
    return at == text.size();
}

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
    return day <= DaysInMonth(year, month) && Number2(text, 8) <= 23 && Number2(text, 10) <= 59 &&
           Number2(text, 12) <= 59;
}

void TCsvRowConverter::DateBytes(std::string_view digits, std::uint8_t* bytes) noexcept {
    const int year = Number2(digits, 0) * 100 + Number2(digits, 2);
    bytes[0] = static_cast<std::uint8_t>(year / 100 + 100);
    bytes[1] = static_cast<std::uint8_t>(year % 100 + 100);
    bytes[2] = static_cast<std::uint8_t>(Number2(digits, 4));
    bytes[3] = static_cast<std::uint8_t>(Number2(digits, 6));
    bytes[4] = static_cast<std::uint8_t>(Number2(digits, 8) + 1);
    bytes[5] = static_cast<std::uint8_t>(Number2(digits, 10) + 1);
    bytes[6] = static_cast<std::uint8_t>(Number2(digits, 12) + 1);
}

void TCsvRowConverter::NumberVarnum(std::string_view text, std::uint8_t* bytes) {
    // Positional text, the common case, pairs its digits directly; anything else (an
    // exponent, more digits than a NUMBER holds) takes the general encoder.
    const bool negative = !text.empty() && text.front() == '-';
    char digits[oracle::OracleNumberMaxDigits + 1];
    int count = 0;
    int exponent = 0;  // value = 0.digits x 10^exponent
    bool point = false;
    bool positional = text.size() > (negative ? 1u : 0u);
    for (std::size_t at = negative ? 1 : 0; positional && at < text.size(); ++at) {
        const char c = text[at];
        if (c == '.' && !point) {
            point = true;
        } else if (!IsDigit(c)) {
            positional = false;
        } else if (count == 0 && c == '0') {
            if (point) --exponent;
        } else if (count == static_cast<int>(sizeof digits)) {
            positional = false;
        } else {
            digits[count++] = c;
            if (!point) ++exponent;
        }
    }
    while (positional && count > 0 && digits[count - 1] == '0') --count;
    if (positional && count == 0) {
        bytes[0] = 1;
        bytes[1] = 0x80;
        return;
    }
    const bool odd = exponent % 2 != 0;
    const int padded = count + (odd ? 1 : 0);
    const int mantissa = (padded + 1) / 2;
    if (!positional || mantissa > 20 || exponent > 2 * 63 || exponent < -2 * 64) {
        const auto value = oracle::ParseDecimal(text);
        if (!value) throw platform::EConvertError("'" + std::string(text) + "' is not a number");
        oracle::EncodeOracleVarnum(*value, bytes);
        return;
    }
    const int exponent100 = odd ? (exponent + 1) / 2 : exponent / 2;
    const auto positiveExponent = static_cast<std::uint8_t>(0x80 + 64 + exponent100);
    bytes[1] = negative ? static_cast<std::uint8_t>(~positiveExponent) : positiveExponent;
    const auto at = [&](int padIndex) {
        const int index = padIndex - (odd ? 1 : 0);
        return index >= 0 && index < count ? digits[index] - '0' : 0;
    };
    for (int k = 0; k < mantissa; ++k) {
        const int digit = at(2 * k) * 10 + at(2 * k + 1);
        bytes[2 + k] = static_cast<std::uint8_t>(negative ? 101 - digit : digit + 1);
    }
    int length = 1 + mantissa;
    if (negative && mantissa < 20) bytes[1 + length++] = 102;
    bytes[0] = static_cast<std::uint8_t>(length);
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
        const TCsvForm form = column.Form();
        const std::string_view trimmed = Trim(field);
        if (form != TCsvForm::Text && form != TCsvForm::Long && trimmed.empty()) {
            // Also a one-column record's "": Oracle keeps no empty value apart from NULL.
            value.kind = TCsvValue::Kind::Null;
            continue;
        }
        switch (form) {
            case TCsvForm::Integer:
            case TCsvForm::Float:
            case TCsvForm::Number: {
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
            case TCsvForm::Text:
            case TCsvForm::Long:
                value.kind = TCsvValue::Kind::Text;
                value.text.assign(field);
                break;
            case TCsvForm::Raw:
                if (!DecodeHex(trimmed, nullptr))
                    FieldError(line, c, column, field, "は16進数のバイト列ではありません");
                value.kind = TCsvValue::Kind::Text;
                value.text.assign(trimmed);
                break;
            case TCsvForm::LongRaw:
                if (!DecodeHex(trimmed, &value.text))
                    FieldError(line, c, column, field, "は16進数のバイト列ではありません");
                value.kind = TCsvValue::Kind::Bytes;
                break;
            case TCsvForm::Timestamp:
            case TCsvForm::TimestampTz:
            case TCsvForm::TimestampLtz: {
                const bool zoned = form != TCsvForm::Timestamp;
                if (!TimestampText(trimmed, zoned, value.text)) {
                    FieldError(line, c, column, field,
                               zoned
                                   ? "はタイムスタンプ (YYYY-MM-DD HH24:MI:SS.FF TZH:TZM) "
                                     "ではありません"
                                   : "はタイムスタンプ (YYYY-MM-DD HH24:MI:SS.FF) ではありません");
                }
                value.kind = TCsvValue::Kind::Text;
                break;
            }
            case TCsvForm::IntervalYm:
            case TCsvForm::IntervalDs: {
                const bool ds = form == TCsvForm::IntervalDs;
                if (!IsIntervalText(trimmed, ds)) {
                    FieldError(line, c, column, field,
                               ds ? "は期間 ([+-]D HH:MI:SS.FF) ではありません"
                                  : "は期間 ([+-]Y-MM) ではありません");
                }
                value.kind = TCsvValue::Kind::Text;
                value.text.assign(trimmed);
                break;
            }
            case TCsvForm::BinaryFloat:
            case TCsvForm::BinaryDouble: {
                const bool single = form == TCsvForm::BinaryFloat;
                const bool ok = single ? ParseBinary<float>(trimmed, value.binary)
                                       : ParseBinary<double>(trimmed, value.binary);
                if (!ok) {
                    FieldError(line, c, column, field,
                               single ? "は BINARY_FLOAT の値ではありません"
                                      : "は BINARY_DOUBLE の値ではありません");
                }
                value.kind = TCsvValue::Kind::Binary;
                break;
            }
            case TCsvForm::Date: {
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
            case TCsvForm::Lob:  // LOB columns: the place of their reading; NULL
                value.kind = TCsvValue::Kind::Null;
                break;
            case TCsvForm::Unrepresentable:
                // Only an empty field can go there (as NULL): no value is dropped unseen.
                FieldError(line, c, column, field,
                           ("は " + CsvTypeName(column.type, column.internalType) +
                            " の列に読み込めません")
                               .c_str());
        }
    }
}

}  // namespace velnor::app
