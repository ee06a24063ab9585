// Conversions between the client library's buffer formats and the program's values: the
// 7-byte DATE, the line breaks of text in each direction, and one buffered value to a variant.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "oracle/query/OracleNumber.h"
#include "platform/DateTime.h"
#include "platform/Variant.h"

namespace velnor::oracle {

inline constexpr std::size_t OracleDateSize = 7;

// Years -4712 .. 9999 (4713 BC .. AD 9999). Raises platform::EConvertError for bytes that are
// no valid date or time of day, instead of producing a value that was never stored.
[[nodiscard]] platform::TDateTime OracleDateToDateTime(const std::uint8_t* bytes);

// Rounds to the nearest millisecond first and drops the milliseconds (23:59:59.9996
// becomes 00:00:00 of the next day). Raises platform::EConvertError for NaN, infinities and
// date-times outside -4712 .. 9999; nothing is written then.
void DateTimeToOracleDate(platform::TDateTime value, std::uint8_t* bytes);

// Text from the database: with `convertCRLF` every line break becomes CR LF (CR LF stays,
// a lone CR or LF becomes CR LF). Without it the text comes back unchanged. A caller without
// a session passes true.
[[nodiscard]] std::string NormalizeLineBreaksIn(std::string_view text, bool convertCRLF = true);
// Text to the database: with `convertCRLF` every CR is removed, so CR LF goes out as LF.
[[nodiscard]] std::string NormalizeLineBreaksOut(std::string_view text, bool convertCRLF = true);

// One buffered value of field type code `typeCode` into `value`:
//   1, 5, 10, 97  text up to the first NUL within `length` bytes, through NormalizeLineBreaksIn
//   8             exactly `length` bytes as text (NULs kept, no line-break conversion)
//   24            a byte array 0 .. length - 1
//   3, 108, 110, 112, 113, 114, 116  a signed integer (4 bytes; 2 or 8 when `length` says so)
//   4             a floating-point number (8 bytes; 4 when `length` says so)
//   6             an exact number (VARNUM, 22 bytes) as its text, DecimalToText
//   12            OracleDateToDateTime of 7 bytes, as a date-time
// For the fixed-width codes `length` 0 means the type's own width; a length the type cannot
// have raises platform::EConvertError. Any other code leaves `value` as it was.
void BufferToVariant(const void* buffer, int typeCode, std::size_t length, bool convertCRLF,
                     platform::TVariant& value);

// One buffered number of type 3, 4 or 6 (lengths as BufferToVariant), or a decimal literal in
// a text of type 1, 5 or 97 (blanks around allowed), as an exact decimal: a float gives the
// shortest digits that read back to it. Raises platform::EConvertError for anything else.
[[nodiscard]] TDecimal BufferToDecimal(const void* buffer, int typeCode, std::size_t length);

}  // namespace velnor::oracle
