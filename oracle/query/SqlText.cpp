#include "oracle/query/SqlText.h"

#include <algorithm>

#include "platform/Exception.h"

namespace velnor::oracle {

bool IsVariableNameChar(unsigned char c) noexcept {
    return c == '#' || c == '$' || c == '_' || (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') ||
           (c >= 'a' && c <= 'z') || c >= 128;
}

std::string UpperCaseAscii(std::string_view text) {
    std::string result(text);
    for (char& c : result) {
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
    return result;
}

std::vector<TPlaceholder> ScanVariableNames(std::string_view text, bool allOccurrences) {
    enum class State { Sql, Name, Quote, BlockComment, LineComment };
    std::vector<TPlaceholder> found;
    State state = State::Sql;
    std::size_t nameStart = 0;

    auto endName = [&](std::size_t end) {
        state = State::Sql;
        if (end == nameStart) return;
        std::string name = UpperCaseAscii(text.substr(nameStart, end - nameStart));
        const bool listed = std::any_of(found.begin(), found.end(),
                                        [&](const TPlaceholder& p) { return p.name == name; });
        if (allOccurrences || !listed) found.push_back({std::move(name), nameStart});
    };

    // The text behaves as if followed by a line break, so a name at its very end is complete.
    const std::size_t n = text.size();
    for (std::size_t i = 0; i < n; ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        const unsigned char next = i + 1 < n ? static_cast<unsigned char>(text[i + 1]) : '\r';
        switch (state) {
            case State::Sql:
                if (c == ':') {
                    state = State::Name;
                    nameStart = i + 1;  // the colon's 1-based position
                } else if (c == '\'') {
                    state = State::Quote;
                } else if (c == '/' && next == '*') {
                    state = State::BlockComment;
                    ++i;  // "/*/" does not close the comment it opens
                } else if (c == '-' && next == '-') {
                    state = State::LineComment;
                    ++i;
                }
                break;
            case State::Name:
                if (!IsVariableNameChar(c)) endName(i);
                break;
            case State::Quote:
                if (c == '\'') state = State::Sql;
                break;
            case State::BlockComment:
                if (c == '*' && next == '/') {
                    state = State::Sql;
                    ++i;
                }
                break;
            case State::LineComment:
                // The server ends a line comment at LF; CR LF ends in LF as well.
                if (c == '\n') state = State::Sql;
                break;
        }
    }
    if (state == State::Name) endName(n);
    return found;
}

namespace {
[[noreturn]] void RaiseListIndex(int index) {
    throw platform::Exception("List index out of bounds (" + std::to_string(index) + ")");
}
}  // namespace

const std::string& TSqlLines::Line(int index) const {
    if (index < 0 || index >= Count()) RaiseListIndex(index);
    return lines_[static_cast<std::size_t>(index)];
}

void TSqlLines::SetLine(int index, std::string line) {
    if (index < 0 || index >= Count()) RaiseListIndex(index);
    lines_[static_cast<std::size_t>(index)] = std::move(line);
}

void TSqlLines::Insert(int index, std::string line) {
    if (index < 0 || index > Count()) RaiseListIndex(index);
    lines_.insert(lines_.begin() + index, std::move(line));
}

void TSqlLines::Delete(int index) {
    if (index < 0 || index >= Count()) RaiseListIndex(index);
    lines_.erase(lines_.begin() + index);
}

std::string TSqlLines::Text() const {
    std::size_t size = 0;
    for (const auto& line : lines_) size += line.size() + 2;
    std::string text;
    text.reserve(size);
    for (const auto& line : lines_) {
        text += line;
        text += "\r\n";
    }
    return text;
}

void TSqlLines::SetText(std::string_view text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\r' && text[i] != '\n') continue;
        lines.emplace_back(text.substr(start, i - start));
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
        start = i + 1;
    }
    if (start < text.size()) lines.emplace_back(text.substr(start));
    lines_ = std::move(lines);
}

}  // namespace velnor::oracle
