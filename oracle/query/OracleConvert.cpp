#include "oracle/query/OracleConvert.h"

#include <cstring>

namespace velnor::oracle {
namespace {

using platform::EConvertError;

std::string ByteList(const std::uint8_t* bytes) {
    std::string text;
    for (std::size_t i = 0; i < OracleDateSize; ++i) {
        if (i > 0) text += ' ';
        text += std::to_string(bytes[i]);
    }
    return text;
}

[[noreturn]] void RaiseInvalidDate(const std::uint8_t* bytes) {
    throw EConvertError("Invalid Oracle date (bytes " + ByteList(bytes) + ")");
}

[[noreturn]] void RaiseOutOfRange(const std::uint8_t* bytes) {
    throw EConvertError("Oracle date out of range (bytes " + ByteList(bytes) + ")");
}

template <class T>
T Load(const void* buffer) {
    T value;
    std::memcpy(&value, buffer, sizeof value);
    return value;
}

std::size_t WidthOrDefault(std::size_t length, std::size_t width, int typeCode) {
    if (length == 0) return width;
    throw EConvertError("Invalid buffer length " + std::to_string(length) + " for type " +
                        std::to_string(typeCode));
}

platform::TVariant IntegerAt(const void* buffer, std::size_t length, int typeCode) {
    switch (length) {
        case 2:
            return platform::TVariant(static_cast<std::int32_t>(Load<std::int16_t>(buffer)));
        case 8: {
            const auto wide = Load<std::int64_t>(buffer);
            if (wide < INT32_MIN || wide > INT32_MAX)
                throw EConvertError("Integer value " + platform::IntToText(wide) + " out of range");
            return platform::TVariant(static_cast<std::int32_t>(wide));
        }
        case 4:
            break;
        default:
            WidthOrDefault(length, 4, typeCode);
    }
    return platform::TVariant(Load<std::int32_t>(buffer));
}

}  // namespace

platform::TDateTime OracleDateToDateTime(const std::uint8_t* bytes) {
    const int century = bytes[0] - 100;
    const int yearOfCentury = bytes[1] - 100;
    // Years before Christ count both bytes down from 100; mixed signs are not a date.
    if ((century > 0 && yearOfCentury < 0) || (century < 0 && yearOfCentury > 0) ||
        yearOfCentury > 99 || yearOfCentury < -99)
        RaiseInvalidDate(bytes);
    const int year = century * 100 + yearOfCentury;
    if (year < platform::MinYear || year > platform::MaxYear) RaiseOutOfRange(bytes);
    const int month = bytes[2];
    const int day = bytes[3];
    const int hour = bytes[4] - 1;
    const int minute = bytes[5] - 1;
    const int second = bytes[6] - 1;
    if (!platform::IsValidDate(year, month, day) || !platform::IsValidTime(hour, minute, second, 0))
        RaiseInvalidDate(bytes);
    const auto days = static_cast<std::int64_t>(platform::EncodeDate(year, month, day));
    return platform::ComposeDateTime(days, ((hour * 60 + minute) * 60 + second) * 1000);
}

void DateTimeToOracleDate(platform::TDateTime value, std::uint8_t* bytes) {
    const platform::TDateTimeParts p = platform::DecodeDateTime(value);
    const int magnitude = p.year < 0 ? -p.year : p.year;
    const int sign = p.year < 0 ? -1 : 1;
    bytes[0] = static_cast<std::uint8_t>(100 + sign * (magnitude / 100));
    bytes[1] = static_cast<std::uint8_t>(100 + sign * (magnitude % 100));
    bytes[2] = static_cast<std::uint8_t>(p.month);
    bytes[3] = static_cast<std::uint8_t>(p.day);
    bytes[4] = static_cast<std::uint8_t>(p.hour + 1);
    bytes[5] = static_cast<std::uint8_t>(p.minute + 1);
    bytes[6] = static_cast<std::uint8_t>(p.second + 1);
}

std::string NormalizeLineBreaksIn(std::string_view text, bool convertCRLF) {
    if (!convertCRLF || text.find_first_of("\r\n") == std::string_view::npos)
        return std::string(text);
    // UTF-8 continuation bytes are never CR or LF, so a byte-wise scan keeps characters whole.
    std::string out;
    out.reserve(text.size() + text.size() / 16 + 2);
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '\r') {
            out += "\r\n";
            if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
        } else if (c == '\n') {
            out += "\r\n";
        } else {
            out += c;
        }
    }
    return out;
}

std::string NormalizeLineBreaksOut(std::string_view text, bool convertCRLF) {
    std::string out(text);
    if (convertCRLF) std::erase(out, '\r');
    return out;
}

void BufferToVariant(const void* buffer, int typeCode, std::size_t length, bool convertCRLF,
                     platform::TVariant& value) {
    const auto* bytes = static_cast<const std::uint8_t*>(buffer);
    switch (typeCode) {
        case 1:
        case 5:
        case 10:
        case 97: {
            if (length == 0) {
                value = platform::TVariant(std::string());
                return;
            }
            if (!buffer) break;
            const void* nul = std::memchr(buffer, 0, length);
            const std::size_t n =
                nul ? static_cast<std::size_t>(static_cast<const std::uint8_t*>(nul) - bytes)
                    : length;
            value = platform::TVariant(NormalizeLineBreaksIn(
                std::string_view(static_cast<const char*>(buffer), n), convertCRLF));
            return;
        }
        case 8:
            if (length > 0 && !buffer) break;
            value = platform::TVariant(std::string(static_cast<const char*>(buffer), length));
            return;
        case 24:
            if (length > 0 && !buffer) break;
            value = platform::TVariant::FromBytes(buffer, length);
            return;
        case 3:
        case 108:
        case 110:
        case 112:
        case 113:
        case 114:
        case 116:
            if (!buffer) break;
            value = IntegerAt(buffer, length, typeCode);
            return;
        case 4:
            if (!buffer) break;
            if (length == 4)
                value = platform::TVariant(static_cast<double>(Load<float>(buffer)));
            else if (length == 8 || WidthOrDefault(length, 8, typeCode) == 8)
                value = platform::TVariant(Load<double>(buffer));
            return;
        case 6:
            if (!buffer) break;
            if (length != 0 && length != OracleVarnumSize)
                WidthOrDefault(length, OracleVarnumSize, typeCode);
            value = platform::TVariant(DecimalToText(DecodeOracleVarnum(bytes)));
            return;
        case 12:
            if (!buffer) break;
            if (length != OracleDateSize) WidthOrDefault(length, OracleDateSize, typeCode);
            value = platform::TVariant::FromDateTime(OracleDateToDateTime(bytes));
            return;
        default:
            return;
    }
    throw EConvertError("No buffer for a value of type " + std::to_string(typeCode));
}

TDecimal BufferToDecimal(const void* buffer, int typeCode, std::size_t length) {
    if (typeCode == 6) {
        if (!buffer || (length != 0 && length != OracleVarnumSize))
            WidthOrDefault(length, OracleVarnumSize, typeCode);
        return DecodeOracleVarnum(static_cast<const std::uint8_t*>(buffer));
    }
    platform::TVariant value;
    if (typeCode == 3 || typeCode == 4 || typeCode == 1 || typeCode == 5 || typeCode == 97)
        BufferToVariant(buffer, typeCode, length, false, value);
    switch (value.Kind()) {
        case platform::TVariantKind::vkInteger:
            return *ParseDecimal(platform::IntToText(value.AsInteger()));
        case platform::TVariantKind::vkFloat:
            return DecimalFromDouble(value.AsFloat());
        case platform::TVariantKind::vkString: {
            std::string_view text = value.StringRef();
            while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
            while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
            if (const auto decimal = ParseDecimal(text)) return *decimal;
            throw EConvertError("'" + value.StringRef() + "' is not a valid number");
        }
        default:
            throw EConvertError("A value of type " + std::to_string(typeCode) + " is not a number");
    }
}

}  // namespace velnor::oracle
