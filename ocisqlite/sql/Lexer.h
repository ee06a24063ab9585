// Tokens of the SQL dialect, with Oracle's errors for what does not scan.
#pragma once
#include <string>
#include <string_view>
#include <vector>

namespace velnor::ocisqlite::sql {

struct Token {
    enum class Kind { Word, QuotedName, String, Number, Bind, Symbol, End };
    Kind kind = Kind::End;
    std::string text;  // Word: upper-cased; QuotedName/String: content; Bind: the name
    std::size_t offset = 0;

    [[nodiscard]] bool Is(std::string_view word) const {
        return kind == Kind::Word && text == word;
    }
    [[nodiscard]] bool IsSymbol(std::string_view s) const {
        return kind == Kind::Symbol && text == s;
    }
};

// Splits the statement; raises ORA-00911, ORA-01756, ORA-01740, ORA-00972. The last token
// is always Kind::End.
std::vector<Token> Tokenize(std::string_view sql);

// The statement type from the first word, without a full parse.
int StatementTypeOf(std::string_view sql);

}  // namespace velnor::ocisqlite::sql
