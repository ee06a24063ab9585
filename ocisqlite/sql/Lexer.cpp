#include "ocisqlite/sql/Lexer.h"

#include "ocisqlite/sql/Convert.h"

namespace velnor::ocisqlite::sql {

namespace {

bool WordStart(unsigned char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c >= 0x80;
}
bool WordChar(unsigned char c) {
    return WordStart(c) || (c >= '0' && c <= '9') || c == '_' || c == '$' || c == '#';
}
bool Digit(char c) { return c >= '0' && c <= '9'; }

std::string Upper(std::string_view s) {
    std::string out(s);
    for (char& c : out)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return out;
}

void CheckLength(const std::string& name) {
    if (name.size() > 128) Fail(972, "identifier is too long");
}

}  // namespace

std::vector<Token> Tokenize(std::string_view s) {
    std::vector<Token> out;
    std::size_t i = 0;
    while (true) {
        while (i < s.size()) {
            char c = s[i];
            if (c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v') {
                ++i;
            } else if (c == '-' && i + 1 < s.size() && s[i + 1] == '-') {
                while (i < s.size() && s[i] != '\n') ++i;
            } else if (c == '/' && i + 1 < s.size() && s[i + 1] == '*') {
                std::size_t end = s.find("*/", i + 2);
                i = end == std::string_view::npos ? s.size() : end + 2;
            } else {
                break;
            }
        }
        Token t;
        t.offset = i;
        if (i >= s.size()) {
            out.push_back(t);
            return out;
        }
        auto c = static_cast<unsigned char>(s[i]);
        if (WordStart(c)) {
            std::size_t b = i;
            while (i < s.size() && WordChar(static_cast<unsigned char>(s[i]))) ++i;
            // N'...' national string literal
            if (i - b == 1 && (c == 'N' || c == 'n') && i < s.size() && s[i] == '\'') {
                continue;  // the quote starts the string on the next round
            }
            t.kind = Token::Kind::Word;
            t.text = Upper(s.substr(b, i - b));
            CheckLength(t.text);
        } else if (c == '"') {
            std::size_t end = s.find('"', i + 1);
            if (end == std::string_view::npos) Fail(1740, "missing double quote in identifier");
            t.kind = Token::Kind::QuotedName;
            t.text = std::string(s.substr(i + 1, end - i - 1));
            if (t.text.empty()) Fail(1741, "illegal zero-length identifier");
            // Quoted names may hold any character but the quote and NUL.
            if (t.text.find('\0') != std::string::npos) Fail(911, "invalid character");
            CheckLength(t.text);
            i = end + 1;
        } else if (c == '\'') {
            t.kind = Token::Kind::String;
            ++i;
            while (true) {
                if (i >= s.size()) Fail(1756, "quoted string not properly terminated");
                if (s[i] == '\'') {
                    if (i + 1 < s.size() && s[i + 1] == '\'') {
                        t.text.push_back('\'');
                        i += 2;
                        continue;
                    }
                    ++i;
                    break;
                }
                t.text.push_back(s[i++]);
            }
        } else if (Digit(s[i]) || (s[i] == '.' && i + 1 < s.size() && Digit(s[i + 1]))) {
            std::size_t b = i;
            while (i < s.size() && Digit(s[i])) ++i;
            if (i < s.size() && s[i] == '.' && !(i + 1 < s.size() && s[i + 1] == '.')) {
                ++i;
                while (i < s.size() && Digit(s[i])) ++i;
            }
            if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
                std::size_t e = i + 1;
                if (e < s.size() && (s[e] == '+' || s[e] == '-')) ++e;
                if (e < s.size() && Digit(s[e])) {
                    i = e;
                    while (i < s.size() && Digit(s[i])) ++i;
                }
            }
            // 1.5d and 1.5f are BINARY_DOUBLE and BINARY_FLOAT literals.
            if (i < s.size() && (s[i] == 'd' || s[i] == 'D' || s[i] == 'f' || s[i] == 'F') &&
                (i + 1 == s.size() || !WordChar(static_cast<unsigned char>(s[i + 1]))))
                ++i;
            t.kind = Token::Kind::Number;
            t.text = std::string(s.substr(b, i - b));
        } else if (c == ':') {
            ++i;
            t.kind = Token::Kind::Bind;
            if (i < s.size() && s[i] == '"') {
                std::size_t end = s.find('"', i + 1);
                if (end == std::string_view::npos) Fail(1740, "missing double quote in identifier");
                t.text = std::string(s.substr(i + 1, end - i - 1));
                i = end + 1;
            } else if (i < s.size() && (WordChar(static_cast<unsigned char>(s[i])))) {
                std::size_t b = i;
                while (i < s.size() && WordChar(static_cast<unsigned char>(s[i]))) ++i;
                t.text = Upper(s.substr(b, i - b));
            } else {
                Fail(911, "invalid character");
            }
            if (t.text.empty()) Fail(1036, "illegal variable name/number");
        } else {
            static const char* const two[] = {"||", "<=", ">=", "<>", "!=", "^=", "~="};
            bool matched = false;
            for (const char* op : two) {
                if (s.substr(i, 2) == op) {
                    t.kind = Token::Kind::Symbol;
                    t.text = op;
                    if (t.text == "^=" || t.text == "~=") t.text = "!=";
                    if (t.text == "<>") t.text = "!=";
                    i += 2;
                    matched = true;
                    break;
                }
            }
            if (!matched) {
                if (std::string_view("(),.*+-/=<>").find(s[i]) == std::string_view::npos)
                    Fail(911, "invalid character");
                t.kind = Token::Kind::Symbol;
                t.text = std::string(1, s[i]);
                ++i;
            }
        }
        out.push_back(std::move(t));
    }
}

int StatementTypeOf(std::string_view sql) {
    std::size_t i = 0;
    while (i < sql.size()) {
        char c = sql[i];
        if (c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '(') {
            ++i;
        } else if (sql.substr(i, 2) == "--") {
            while (i < sql.size() && sql[i] != '\n') ++i;
        } else if (sql.substr(i, 2) == "/*") {
            std::size_t end = sql.find("*/", i + 2);
            i = end == std::string_view::npos ? sql.size() : end + 2;
        } else {
            break;
        }
    }
    std::size_t b = i;
    while (i < sql.size() && WordChar(static_cast<unsigned char>(sql[i]))) ++i;
    std::string w = Upper(sql.substr(b, i - b));
    if (w == "SELECT" || w == "WITH") return 1;
    if (w == "UPDATE") return 2;
    if (w == "DELETE") return 3;
    if (w == "INSERT") return 4;
    if (w == "CREATE") return 5;
    if (w == "DROP") return 6;
    if (w == "ALTER") return 7;
    if (w == "BEGIN") return 8;
    if (w == "DECLARE") return 9;
    if (w == "ROLLBACK") return 17;
    if (w == "COMMIT") return 21;
    return 0;
}

}  // namespace velnor::ocisqlite::sql
