// Text forms of values as the CSV files and the generated SQL carry them.
#pragma once
#include <string>
#include <string_view>

#include "platform/DateTime.h"
#include "platform/Variant.h"

namespace velnor::app {

// The platform's forms, so the CSV code finds every rule in one place.
using platform::DateTimeToText;
using platform::FloatToText;
using platform::FormatDateTime;
using platform::IntToText;

// `quote`, the text with every `quote` in it doubled, `quote`. Inline: the CSV export
// calls it for every text field.
inline void AppendQuoted(std::string& out, std::string_view text, char quote) {
    out.push_back(quote);
    for (std::size_t start = 0;;) {
        const std::size_t found = text.find(quote, start);
        if (found == std::string_view::npos) {
            out.append(text.substr(start));
            break;
        }
        out.append(text.substr(start, found + 1 - start));
        out.push_back(quote);
        start = found + 1;
    }
    out.push_back(quote);
}

// A single quote, the text with every single quote doubled, a single quote; nothing else
// changes ("O'Neil" gives 'O''Neil', "" gives '').
[[nodiscard]] std::string QuoteForSql(std::string_view text);
void AppendQuotedForSql(std::string& out, std::string_view text);

// The CSV date form "yyyymmddhhnnss": 14 digits for years 1 to 9999, the same text as
// FormatDateTime("yyyymmddhhnnss", value). Raises platform::EConvertError as DecodeDateTime.
[[nodiscard]] std::string CsvDateTimeText(platform::TDateTime value);
void AppendCsvDateTime(std::string& out, platform::TDateTime value);

}  // namespace velnor::app
