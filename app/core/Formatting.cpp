#include "app/core/Formatting.h"

#include <cstdlib>

namespace velnor::app {
namespace {

void AppendFixed(char*& p, int value, int width) {
    for (int i = width - 1; i >= 0; --i) {
        p[i] = static_cast<char>('0' + value % 10);
        value /= 10;
    }
    p += width;
}

}  // namespace

void AppendQuotedForSql(std::string& out, std::string_view text) {
    out.reserve(out.size() + text.size() + 2);
    AppendQuoted(out, text, '\'');
}

std::string QuoteForSql(std::string_view text) {
    std::string out;
    AppendQuotedForSql(out, text);
    return out;
}

void AppendCsvDateTime(std::string& out, platform::TDateTime value) {
    const platform::TDateTimeParts p = platform::DecodeDateTime(value);
    if (p.year < 1) {
        // Years before Christ keep their sign, as FormatDateTime writes them.
        out += FormatDateTime("yyyymmddhhnnss", value);
        return;
    }
    char text[16];
    char* q = text;
    AppendFixed(q, p.year, 4);
    AppendFixed(q, p.month, 2);
    AppendFixed(q, p.day, 2);
    AppendFixed(q, p.hour, 2);
    AppendFixed(q, p.minute, 2);
    AppendFixed(q, p.second, 2);
    out.append(text, static_cast<std::size_t>(q - text));
}

std::string CsvDateTimeText(platform::TDateTime value) {
    std::string out;
    AppendCsvDateTime(out, value);
    return out;
}

}  // namespace velnor::app
