// Statement text of a query: its lines, and the scanner that finds ":name" placeholders in it.
#pragma once
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace velnor::oracle {

// One ":name" found in a statement: the upper-cased name without the colon and the 1-based
// byte position of the colon.
struct TPlaceholder {
    std::string name;
    std::size_t position = 0;
    bool operator==(const TPlaceholder&) const = default;
};

// Lists the placeholders of `text` outside string literals and comments. With
// `allOccurrences` every occurrence is listed in text order, otherwise each name once, at its
// first position. A name is "#", "$", "_", digits, ASCII letters and every byte from 128 up
// (so multi-byte characters pass). The character that ends a name is not looked at again,
// which is why "::a" and ":=" list nothing.
[[nodiscard]] std::vector<TPlaceholder> ScanVariableNames(std::string_view text,
                                                          bool allOccurrences);

// True for the bytes a placeholder name is made of.
[[nodiscard]] bool IsVariableNameChar(unsigned char c) noexcept;

// Upper-cases ASCII letters only; other bytes (UTF-8 sequences among them) stay as they are.
[[nodiscard]] std::string UpperCaseAscii(std::string_view text);

// The ordered text lines of a statement.
class TSqlLines {
public:
    TSqlLines() = default;
    explicit TSqlLines(std::vector<std::string> lines) : lines_(std::move(lines)) {}

    [[nodiscard]] int Count() const noexcept { return static_cast<int>(lines_.size()); }
    [[nodiscard]] bool Empty() const noexcept { return lines_.empty(); }
    [[nodiscard]] const std::string& Line(int index) const;
    void SetLine(int index, std::string line);
    void Add(std::string line) { lines_.push_back(std::move(line)); }
    void Insert(int index, std::string line);
    void Delete(int index);
    void Clear() noexcept { lines_.clear(); }
    [[nodiscard]] const std::vector<std::string>& Lines() const noexcept { return lines_; }

    // Every line followed by CR LF; no lines give an empty text.
    [[nodiscard]] std::string Text() const;
    // Replaces the lines by `text` split at CR LF, LF or a lone CR; a final line break adds
    // no empty line.
    void SetText(std::string_view text);

    bool operator==(const TSqlLines&) const = default;

private:
    std::vector<std::string> lines_;
};

}  // namespace velnor::oracle
