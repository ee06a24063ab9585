// libFuzzer target for the stand-in's TO_CHAR / TO_DATE format models: a format is accepted by
// all three entry points or refused by all with ORA-01821, parsing gives a valid date or an
// Oracle error, and a full format built from the input reads back the date it wrote.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "ocisqlite/sql/Convert.h"
#include "ocisqlite/sql/Engine.h"

namespace sql = velnor::ocisqlite::sql;

namespace {

// Reads the input as a stream of choices; zeros once it is used up.
class Choices {
public:
    Choices(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
    unsigned Next(unsigned count) {
        unsigned v = pos_ < size_ ? data_[pos_] : 0;
        ++pos_;
        return count == 0 ? v : v % count;
    }
    int Between(int low, int high) {  // inclusive; two bytes so the whole year range is reached
        unsigned v = Next(0) << 8 | Next(0);
        return low + static_cast<int>(v % static_cast<unsigned>(high - low + 1));
    }

private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t pos_ = 0;
};

// Formats `d`, which must work for a format the validator accepted.
std::string MustFormat(const sql::DateTime& d, std::string_view format) {
    std::string text;
    try {
        text = sql::FormatDate(d, format);
    } catch (const sql::OraError&) {
        std::abort();
    }
    // No element writes more than nine characters; literals are copied once.
    if (text.size() > format.size() * 9 + 9) std::abort();
    return text;
}

// An element written in upper, lower or title case.
std::string Cased(std::string_view element, unsigned how) {
    std::string out(element);
    for (std::size_t i = 0; i < out.size(); ++i) {
        const bool upper = how == 0 || (how == 2 && i == 0);
        const char c = out[i];
        if (upper && c >= 'a' && c <= 'z') out[i] = static_cast<char>(c - 'a' + 'A');
        if (!upper && c >= 'A' && c <= 'Z') out[i] = static_cast<char>(c - 'A' + 'a');
    }
    return out;
}

// A format that pins every field of the date, its elements parted by separators, and the
// date to write with it; the date read back must be the same.
void CheckRoundTrip(Choices& in) {
    sql::DateTime d;
    d.year = in.Between(-4712, 9999);
    if (d.year == 0) d.year = 1;
    d.month = 1 + static_cast<int>(in.Next(12));
    d.day = 1 + static_cast<int>(in.Next(static_cast<unsigned>(sql::DaysInMonth(d.year, d.month))));
    d.hour = static_cast<int>(in.Next(24));
    d.minute = static_cast<int>(in.Next(60));
    d.second = static_cast<int>(in.Next(60));

    std::vector<std::string> elements;
    const unsigned dateForm = in.Next(3);
    if (dateForm == 2) {
        elements.push_back("J");
    } else {
        // YYYY and RRRR write no sign, so they only hold years after Christ.
        const unsigned yearForm = d.year < 0 ? 0 : in.Next(3);
        elements.push_back(yearForm == 0 ? "SYYYY" : yearForm == 1 ? "YYYY" : "RRRR");
        if (dateForm == 1) {
            elements.push_back("DDD");
        } else {
            const char* const months[] = {"MM", "MON", "MONTH"};
            elements.push_back(months[in.Next(3)]);
            elements.push_back("DD");
        }
    }
    switch (in.Next(3)) {
        case 0:
            elements.insert(elements.end(), {"HH24", "MI", "SS"});
            break;
        case 1: {
            const char* const hours[] = {"HH", "HH12"};
            const char* const meridians[] = {"AM", "PM", "A.M.", "P.M."};
            elements.insert(elements.end(), {hours[in.Next(2)], "MI", "SS", meridians[in.Next(4)]});
            break;
        }
        default:
            elements.push_back("SSSSS");
            break;
    }
    // Day-of-week elements are written and skipped on reading.
    const char* const extras[] = {"", "D", "DY", "DAY"};
    if (const char* extra = extras[in.Next(4)]; *extra) elements.push_back(extra);
    // Any order of the elements.
    for (std::size_t i = elements.size(); i > 1; --i)
        std::swap(elements[i - 1], elements[in.Next(static_cast<unsigned>(i))]);

    std::string format;
    bool fill = false;
    // Punctuation, runs of it, and quoted text without letters, which names could take in.
    const char* const separators[] = {" ",       "-",     "/",      ",",      ".",
                                      ";",       ":",     " - ",    "\"年\"", " \"(\"",
                                      "-\"#\" ", "\"\"-", "-\"\"-", "\"、\" "};
    for (std::size_t i = 0; i < elements.size(); ++i) {
        if (i > 0) format += separators[in.Next(std::size(separators))];
        // FM drops padding; a four-digit year without it is what tells RRRR from RR.
        const bool wantFill = elements[i] != "RRRR" && in.Next(4) == 0;
        if (wantFill != fill) {
            format += "FM";
            fill = wantFill;
        }
        format += Cased(elements[i], in.Next(3));
    }

    const std::string text = MustFormat(d, format);
    auto fail = [&](const char* what) {
        std::fprintf(stderr, "%d-%02d-%02d %02d:%02d:%02d with '%s' wrote '%s': %s\n", d.year,
                     d.month, d.day, d.hour, d.minute, d.second, format.c_str(), text.c_str(),
                     what);
        std::abort();
    };
    sql::DateTime back;
    try {
        back = sql::ParseDate(text, format);
    } catch (const sql::OraError& e) {
        fail(e.what());
    }
    if (!(back == d)) fail("read back another date");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > 1024) return 0;
    // "format\nvalue": the first line is the format model, the rest the text to read.
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const std::size_t newline = input.find('\n');
    const std::string_view format = input.substr(0, newline);
    const std::string_view value =
        newline == std::string_view::npos ? std::string_view() : input.substr(newline + 1);

    bool accepted = true;
    try {
        sql::ValidateDateFormat(format);
    } catch (const sql::OraError& e) {
        if (e.Code() != 1821) std::abort();
        accepted = false;
    }

    const sql::DateTime samples[] = {{2024, 2, 29, 13, 45, 30},
                                     {-4712, 1, 1, 0, 0, 0},
                                     {9999, 12, 31, 23, 59, 59},
                                     {1, 1, 1, 12, 0, 0},
                                     {-1, 12, 31, 0, 0, 1}};
    if (accepted) {
        for (const sql::DateTime& d : samples) (void)MustFormat(d, format);
    } else {
        try {
            (void)sql::FormatDate(samples[0], format);
            std::abort();
        } catch (const sql::OraError& e) {
            if (e.Code() != 1821) std::abort();
        }
    }

    sql::DateTime parsed;
    bool read = true;
    try {
        parsed = sql::ParseDate(value, format);
    } catch (const sql::OraError& e) {
        if (!accepted && e.Code() != 1821) std::abort();
        read = false;
    }
    if (read) {
        if (!accepted || !sql::ValidDate(parsed)) std::abort();
        // Reading back what the format wrote need not work for any format (a short input
        // may have ended before a Q, and digits of adjacent numbers run together), but what
        // it reads is a date.
        try {
            if (!sql::ValidDate(sql::ParseDate(MustFormat(parsed, format), format))) std::abort();
        } catch (const sql::OraError&) {
        }
    }

    Choices choices(data, size);
    CheckRoundTrip(choices);
    return 0;
}
