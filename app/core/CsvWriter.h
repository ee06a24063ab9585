// Builds the lines of a CSV file: the header of quoted column names and one line per row,
// each value rendered by its column's field type code.
#pragma once
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "oracle/query/OracleNumber.h"
#include "platform/RegionalSettings.h"

namespace velnor::app {

class TCsvWriter {
public:
    // Floating-point values follow the settings' decimal symbol; the settings are copied.
    explicit TCsvWriter(const platform::TRegionalSettings& settings);

    // Starts a new, empty line.
    void Clear() noexcept;
    // The line built so far, without a line end.
    [[nodiscard]] const std::string& Line() const noexcept { return line_; }

    // Every name quoted, embedded quotes doubled.
    void AddHeader(std::span<const std::string> names);

    void AddInteger(std::int32_t value);
    // 15 significant digits; quoted when the decimal symbol is a comma.
    void AddFloat(double value);
    // Every digit in the same general form (CsvNumberText); quoted like AddFloat.
    void AddNumber(const oracle::TDecimal& value);
    // Always quoted, embedded quotes doubled; commas and line breaks stay inside.
    void AddString(std::string_view text);
    // yyyymmddhhnnss; raises for a date outside the years 1 to 9999, which has no such form.
    void AddDate(double value);
    // The same from a DATE's 7 bytes as the client library gives them.
    void AddOracleDate(const std::uint8_t* bytes);
    // An empty field: a NULL number or date, or a column of a type the files do not carry.
    void AddEmpty();
    // A value already in its file form (timestamp, interval), quoted only when it must be.
    void AddText(std::string_view text);
    // Upper-case hexadecimal text of the bytes, quoted like a string.
    void AddHex(std::string_view bytes);
    // The fewest digits that read back to the same BINARY_FLOAT (`single`) or BINARY_DOUBLE,
    // with "." whatever the settings; NaN and infinities as Nan, Inf and -Inf.
    void AddBinary(double value, bool single);
    // Ends a record: a lone empty field becomes "", which an empty line could not carry.
    void EndRecord();
    // Starts a field whose content the caller writes itself (a streamed value) and hands
    // over the line so far, separator included; the next field follows a separator.
    [[nodiscard]] std::string TakeLineForStreamedField();

    // `text` as one field: quoted (quotes doubled) when it holds a comma, quote, CR or LF.
    static void AppendField(std::string& out, std::string_view text);

private:
    void Separate();

    platform::TRegionalSettings settings_;
    bool quoteFloats_ = false;  // the decimal symbol is a character a field must quote
    std::string line_;
    bool empty_ = true;
    int fields_ = 0;
    int emptyFields_ = 0;  // fields added by AddEmpty
};

}  // namespace velnor::app
