#include "ocisqlite/sql/Parser.h"

#include <set>

#include "ocisqlite/sql/Convert.h"

namespace velnor::ocisqlite::sql {

namespace {

// Words that end an expression or cannot name a column or alias without quotes.
const std::set<std::string, std::less<>> kReserved = {
    "ALL",    "ALTER",     "AND",    "ANY",     "AS",     "ASC",    "BETWEEN",  "BY",
    "CHECK",  "CONNECT",   "CREATE", "DEFAULT", "DELETE", "DESC",   "DISTINCT", "DROP",
    "ELSE",   "END",       "ESCAPE", "EXISTS",  "FROM",   "GROUP",  "HAVING",   "IN",
    "INSERT", "INTERSECT", "INTO",   "IS",      "LIKE",   "MINUS",  "NOT",      "NULL",
    "OF",     "ON",        "OR",     "ORDER",   "PRIOR",  "SELECT", "SET",      "START",
    "TABLE",  "THEN",      "UNION",  "UNIQUE",  "UPDATE", "VALUES", "WHEN",     "WHERE",
    "WITH",   "NULLS",     "FOR",
};

class Parser {
public:
    Parser(std::string_view sql, const std::vector<Token>& tokens) : sql_(sql), t_(tokens) {}

    ParsedStatement Statement() {
        ParsedStatement s;
        const Token& first = Peek();
        if (first.Is("SELECT") || first.IsSymbol("(")) {
            s.kind = ParsedStatement::Kind::Select;
            s.query = ParseQuery();
            if (Accept("FOR")) ParseForUpdate(s);
        } else if (first.Is("INSERT")) {
            ParseInsert(s);
        } else if (first.Is("UPDATE")) {
            ParseUpdate(s);
        } else if (first.Is("DELETE")) {
            ParseDelete(s);
        } else if (first.Is("CREATE")) {
            ParseCreate(s);
        } else if (first.Is("DROP")) {
            ParseDrop(s);
        } else if (first.Is("ALTER")) {
            ParseAlter(s);
        } else if (first.Is("COMMIT") || first.Is("ROLLBACK")) {
            s.kind = first.Is("COMMIT") ? ParsedStatement::Kind::Commit
                                        : ParsedStatement::Kind::Rollback;
            Next();
            if (Peek().Is("WORK")) Next();
            if (s.kind == ParsedStatement::Kind::Rollback && Peek().Is("TO"))
                Fail(3001, "unimplemented feature");
        } else if (first.Is("BEGIN") || first.Is("DECLARE")) {
            Fail(3001, "unimplemented feature");
        } else {
            Fail(900, "invalid SQL statement");
        }
        ExpectEnd();
        return s;
    }

    ExprPtr StandaloneExpression() {
        ExprPtr e = Condition();
        ExpectEnd();
        return e;
    }

private:
    // Every cycle of the descent passes one of the functions holding this, so it bounds the
    // stack the parser uses.
    struct Nested {
        explicit Nested(Parser& p) : parser(p) {
            if (++parser.depth_ > kMaxNesting) Fail(3001, "unimplemented feature");
        }
        ~Nested() { --parser.depth_; }
        Nested(const Nested&) = delete;
        Nested& operator=(const Nested&) = delete;
        Parser& parser;
    };

    const Token& Peek(std::size_t ahead = 0) const {
        std::size_t i = pos_ + ahead;
        return i < t_.size() ? t_[i] : t_.back();
    }
    const Token& Next() {
        const Token& t = Peek();
        if (pos_ < t_.size() - 1) ++pos_;
        return t;
    }
    bool Accept(std::string_view word) {
        if (Peek().Is(word)) {
            Next();
            return true;
        }
        return false;
    }
    bool AcceptSymbol(std::string_view s) {
        if (Peek().IsSymbol(s)) {
            Next();
            return true;
        }
        return false;
    }
    void ExpectEnd() {
        if (Peek().kind != Token::Kind::End) Fail(933, "SQL command not properly ended");
    }
    void ExpectRightParen() {
        if (!AcceptSymbol(")")) Fail(907, "missing right parenthesis");
    }
    void ExpectLeftParen() {
        if (!AcceptSymbol("(")) Fail(906, "missing left parenthesis");
    }

    bool IsName(const Token& t) const {
        return t.kind == Token::Kind::QuotedName ||
               (t.kind == Token::Kind::Word && !kReserved.count(t.text));
    }
    // An identifier; `code` is the error when the token is none.
    std::string Name(int code, const char* text) {
        const Token& t = Peek();
        if (!IsName(t)) Fail(code, text);
        Next();
        return t.text;
    }
    std::string ColumnName() {
        const Token& t = Peek();
        if (!IsName(t)) {
            if (t.kind == Token::Kind::Word) Fail(904, "\"" + t.text + "\": invalid identifier");
            Fail(904, "invalid identifier");
        }
        Next();
        return t.text;
    }

    TableRef TableName() {
        TableRef r;
        r.name = Name(903, "invalid table name");
        if (AcceptSymbol(".")) {
            r.schema = r.name;
            r.name = Name(903, "invalid table name");
        }
        return r;
    }

    // Column name Oracle shows for an expression: its text upper-cased without blanks.
    std::string Display(std::size_t from, std::size_t to) const {
        std::string out;
        for (std::size_t i = from; i < to; ++i) {
            const Token& t = t_[i];
            std::string piece;
            switch (t.kind) {
                case Token::Kind::String: {
                    piece = "'";
                    for (char c : t.text) {
                        if (c == '\'') piece += "'";
                        piece.push_back(c);
                    }
                    piece += "'";
                    break;
                }
                case Token::Kind::Bind:
                    piece = ":" + t.text;
                    break;
                case Token::Kind::QuotedName:
                    out += t.text;
                    continue;
                default:
                    piece = t.text;
            }
            for (char c : piece) {
                // Blanks are dropped as Oracle does; a NUL of a literal cannot be in a name.
                if (c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\0') continue;
                out.push_back(c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c);
            }
        }
        return out;
    }

    // --- queries ---------------------------------------------------------------

    // FOR UPDATE [OF [schema.][table.]column, ...] [NOWAIT | WAIT n | SKIP LOCKED]; the words
    // after FOR have been read. A lock needs each row to come from one table row.
    void ParseForUpdate(ParsedStatement& s) {
        if (!Accept("UPDATE")) Fail(933, "SQL command not properly ended");
        const Query& q = *s.query;
        if (q.parts.size() != 1 || q.parts[0].distinct || !q.parts[0].groupBy.empty())
            Fail(1786, "FOR UPDATE of this query expression is not allowed");
        s.forUpdate = true;
        if (Accept("OF")) {
            do {
                for (int part = 0; part < 3; ++part) {
                    Name(904, "invalid identifier");
                    if (!AcceptSymbol(".")) break;
                }
            } while (AcceptSymbol(","));
        }
        if (Accept("WAIT")) {
            const Token& seconds = Peek();
            if (seconds.kind != Token::Kind::Number ||
                seconds.text.find_first_not_of("0123456789") != std::string::npos ||
                seconds.text.size() > 6)
                Fail(30005, "missing or invalid WAIT interval");
            s.lockWaitMs = std::stoi(Next().text) * 1000;
        } else if (Accept("SKIP")) {
            if (!Accept("LOCKED")) Fail(933, "SQL command not properly ended");
        } else if (Accept("NOWAIT")) {
            s.lockWaitMs = 0;
        }
    }

    std::unique_ptr<Query> ParseQuery() {
        Nested nested(*this);
        auto q = std::make_unique<Query>();
        while (true) {
            if (Peek().IsSymbol("(")) {
                // A parenthesised query block: only a plain one, as one part.
                Next();
                auto inner = ParseQuery();
                ExpectRightParen();
                if (inner->parts.size() != 1 || !inner->orderBy.empty())
                    Fail(3001, "unimplemented feature");
                q->parts.push_back(std::move(inner->parts[0]));
            } else {
                q->parts.push_back(ParseSelect());
            }
            if (Peek().Is("UNION")) {
                Next();
                q->operators.push_back(Accept("ALL") ? "UNION ALL" : "UNION");
            } else if (Peek().Is("MINUS") || Peek().Is("INTERSECT")) {
                q->operators.push_back(Next().text);
            } else {
                break;
            }
            if (!Peek().Is("SELECT") && !Peek().IsSymbol("(")) Fail(928, "missing SELECT keyword");
        }
        if (Peek().Is("ORDER")) {
            Next();
            if (!Accept("BY")) Fail(924, "missing BY keyword");
            do {
                OrderItem item;
                item.expr = Condition();
                if (Accept("DESC"))
                    item.descending = true;
                else
                    Accept("ASC");
                if (Accept("NULLS")) {
                    if (Accept("FIRST"))
                        item.nulls = 1;
                    else if (Accept("LAST"))
                        item.nulls = 2;
                    else
                        Fail(933, "SQL command not properly ended");
                }
                q->orderBy.push_back(std::move(item));
            } while (AcceptSymbol(","));
        }
        return q;
    }

    Select ParseSelect() {
        if (!Accept("SELECT")) Fail(928, "missing SELECT keyword");
        Select s;
        if (Accept("DISTINCT") || Accept("UNIQUE"))
            s.distinct = true;
        else
            Accept("ALL");
        do {
            SelectItem item;
            if (Peek().IsSymbol("*")) {
                Next();
                item.star = true;
            } else if (IsName(Peek()) && Peek(1).IsSymbol(".") && Peek(2).IsSymbol("*")) {
                item.star = true;
                item.starQualifier = Next().text;
                Next();
                Next();
            } else {
                std::size_t from = pos_;
                if (Peek().Is("FROM")) Fail(936, "missing expression");
                item.expr = Condition();
                item.display = Display(from, pos_);
                if (Accept("AS")) {
                    item.alias = Name(923, "FROM keyword not found where expected");
                } else if (IsName(Peek())) {
                    item.alias = Next().text;
                }
            }
            s.items.push_back(std::move(item));
        } while (AcceptSymbol(","));
        if (!Accept("FROM")) Fail(923, "FROM keyword not found where expected");
        do {
            TableRef r;
            if (AcceptSymbol("(")) {
                r.subquery = ParseQuery();
                ExpectRightParen();
            } else {
                r = TableName();
            }
            if (IsName(Peek()) && !Peek().Is("JOIN") && !Peek().Is("LEFT") && !Peek().Is("INNER") &&
                !Peek().Is("RIGHT") && !Peek().Is("FULL") && !Peek().Is("CROSS"))
                r.alias = Next().text;
            s.from.push_back(std::move(r));
        } while (AcceptSymbol(","));
        if (Peek().Is("JOIN") || Peek().Is("LEFT") || Peek().Is("INNER") || Peek().Is("RIGHT") ||
            Peek().Is("FULL") || Peek().Is("CROSS") || Peek().Is("NATURAL"))
            Fail(3001, "unimplemented feature");
        if (Accept("WHERE")) s.where = Condition();
        if (Peek().Is("CONNECT") || Peek().Is("START")) Fail(3001, "unimplemented feature");
        if (Accept("GROUP")) {
            if (!Accept("BY")) Fail(924, "missing BY keyword");
            do s.groupBy.push_back(Condition());
            while (AcceptSymbol(","));
        }
        if (Accept("HAVING")) s.having = Condition();
        return s;
    }

    // --- expressions -------------------------------------------------------------

    ExprPtr Make(Expr::Kind kind, ExprPtr a = nullptr, ExprPtr b = nullptr) {
        auto e = std::make_unique<Expr>();
        e->kind = kind;
        if (a) e->args.push_back(std::move(a));
        if (b) e->args.push_back(std::move(b));
        return e;
    }

    ExprPtr Condition() {
        ExprPtr left = AndCondition();
        while (Accept("OR")) left = Make(Expr::Kind::Or, std::move(left), AndCondition());
        return left;
    }
    ExprPtr AndCondition() {
        ExprPtr left = NotCondition();
        while (Accept("AND")) left = Make(Expr::Kind::And, std::move(left), NotCondition());
        return left;
    }
    ExprPtr NotCondition() {
        Nested nested(*this);
        if (Accept("NOT")) return Make(Expr::Kind::Not, NotCondition());
        return Predicate();
    }
    ExprPtr Predicate() {
        if (Peek().Is("EXISTS")) {
            Next();
            ExpectLeftParen();
            auto e = Make(Expr::Kind::Exists);
            e->query = ParseQuery();
            ExpectRightParen();
            return e;
        }
        ExprPtr left = Sum();
        const Token& t = Peek();
        if (t.kind == Token::Kind::Symbol && (t.text == "=" || t.text == "!=" || t.text == "<" ||
                                              t.text == "<=" || t.text == ">" || t.text == ">=")) {
            std::string op = Next().text;
            if (Peek().Is("ANY") || Peek().Is("SOME") || Peek().Is("ALL"))
                Fail(3001, "unimplemented feature");
            auto e = Make(Expr::Kind::Compare, std::move(left), Sum());
            e->text = op;
            return e;
        }
        if (t.Is("IS")) {
            Next();
            bool negated = Accept("NOT");
            if (!Accept("NULL")) Fail(908, "missing NULL keyword");
            auto e = Make(Expr::Kind::IsNull, std::move(left));
            e->negated = negated;
            return e;
        }
        bool negated = false;
        if (t.Is("NOT") && (Peek(1).Is("LIKE") || Peek(1).Is("IN") || Peek(1).Is("BETWEEN"))) {
            Next();
            negated = true;
        }
        if (Accept("LIKE")) {
            auto e = Make(Expr::Kind::Like, std::move(left), Sum());
            if (Accept("ESCAPE")) e->args.push_back(Sum());
            e->negated = negated;
            return e;
        }
        if (Accept("BETWEEN")) {
            auto e = Make(Expr::Kind::Between, std::move(left), Sum());
            if (!Accept("AND")) Fail(905, "missing keyword");
            e->args.push_back(Sum());
            e->negated = negated;
            return e;
        }
        if (Accept("IN")) {
            auto e = Make(Expr::Kind::In, std::move(left));
            e->negated = negated;
            ExpectLeftParen();
            if (Peek().Is("SELECT")) {
                e->query = ParseQuery();
            } else {
                do e->args.push_back(Sum());
                while (AcceptSymbol(","));
            }
            ExpectRightParen();
            return e;
        }
        if (negated) Fail(920, "invalid relational operator");
        return left;
    }
    ExprPtr Sum() {
        ExprPtr left = Term();
        while (true) {
            const Token& t = Peek();
            if (t.IsSymbol("+") || t.IsSymbol("-")) {
                std::string op = Next().text;
                left = Make(Expr::Kind::Arith, std::move(left), Term());
                left->text = op;
            } else if (t.IsSymbol("||")) {
                Next();
                left = Make(Expr::Kind::Concat, std::move(left), Term());
            } else {
                return left;
            }
        }
    }
    ExprPtr Term() {
        ExprPtr left = Unary();
        while (Peek().IsSymbol("*") || Peek().IsSymbol("/")) {
            std::string op = Next().text;
            left = Make(Expr::Kind::Arith, std::move(left), Unary());
            left->text = op;
        }
        return left;
    }
    ExprPtr Unary() {
        Nested nested(*this);
        if (AcceptSymbol("-")) return Make(Expr::Kind::Negate, Unary());
        if (AcceptSymbol("+")) return Unary();
        return Primary();
    }
    ExprPtr Primary() {
        const Token& t = Peek();
        switch (t.kind) {
            case Token::Kind::Number: {
                auto e = Make(Expr::Kind::Number);
                e->text = Next().text;
                return e;
            }
            case Token::Kind::String: {
                auto e = Make(Expr::Kind::String);
                e->text = Next().text;
                return e;
            }
            case Token::Kind::Bind: {
                if (!bindsAllowed_) Fail(1036, "illegal variable name/number");
                auto e = Make(Expr::Kind::Bind);
                e->text = Next().text;
                e->bindIndex = bindCount_++;
                return e;
            }
            case Token::Kind::Symbol:
                if (t.text == "(") {
                    Next();
                    if (Peek().Is("SELECT")) {
                        auto e = Make(Expr::Kind::Subquery);
                        e->query = ParseQuery();
                        ExpectRightParen();
                        return e;
                    }
                    ExprPtr inner = Condition();
                    if (Peek().IsSymbol(",")) Fail(907, "missing right parenthesis");
                    ExpectRightParen();
                    return inner;
                }
                Fail(936, "missing expression");
            case Token::Kind::End:
                Fail(936, "missing expression");
            case Token::Kind::QuotedName:
            case Token::Kind::Word:
                break;
        }
        if (t.Is("NULL")) {
            Next();
            return Make(Expr::Kind::Null);
        }
        if (t.Is("DEFAULT")) {
            Next();
            return Make(Expr::Kind::Default);
        }
        if (t.Is("CASE")) return CaseExpression();
        if ((t.Is("TIMESTAMP") || t.Is("INTERVAL")) && t.kind == Token::Kind::Word &&
            Peek(1).kind == Token::Kind::String)
            return DatetimeLiteral();
        if (!IsName(t)) Fail(936, "missing expression");
        bool quoted = t.kind == Token::Kind::QuotedName;
        std::string name = Next().text;
        if (!quoted && Peek().IsSymbol("(")) return FunctionCall(name);
        // A packaged function: DBMS_LOB.GETLENGTH(...).
        if (!quoted && Peek().IsSymbol(".") && Peek(1).kind == Token::Kind::Word &&
            Peek(2).IsSymbol("(")) {
            Next();
            return FunctionCall(name + "." + Next().text);
        }
        auto e = Make(Expr::Kind::Column);
        e->text = name;
        if (AcceptSymbol(".")) {
            e->qualifier = e->text;
            e->text = ColumnName();
            if (AcceptSymbol(".")) {
                e->schema = e->qualifier;
                e->qualifier = e->text;
                e->text = ColumnName();
            }
        }
        return e;
    }
    // TIMESTAMP '...' and INTERVAL '...' YEAR[(p)] [TO MONTH] | DAY[(p)] [TO SECOND[(s)]]:
    // a call of an internal function with the text and the precisions.
    ExprPtr DatetimeLiteral() {
        bool interval = Next().Is("INTERVAL");
        auto e = Make(Expr::Kind::Function);
        auto text = Make(Expr::Kind::String);
        text->text = Next().text;
        e->args.push_back(std::move(text));
        auto number = [&](int v) {
            auto n = Make(Expr::Kind::Number);
            n->text = std::to_string(v);
            e->args.push_back(std::move(n));
        };
        if (!interval) {
            e->text = "$TIMESTAMP";
            return e;
        }
        if (Accept("YEAR")) {
            e->text = "$INTERVAL_YM";
            number(OptionalPrecision(2));
            if (Accept("TO") && !Accept("MONTH")) Fail(905, "missing keyword");
            number(0);
        } else if (Accept("DAY")) {
            e->text = "$INTERVAL_DS";
            number(OptionalPrecision(2));
            int fraction = 6;
            if (Accept("TO")) {
                if (!Accept("SECOND")) Fail(905, "missing keyword");
                fraction = OptionalPrecision(6);
            }
            number(fraction);
        } else {
            Fail(3001, "unimplemented feature");
        }
        return e;
    }
    ExprPtr FunctionCall(const std::string& name) {
        auto e = Make(Expr::Kind::Function);
        e->text = name;
        Next();  // (
        if (AcceptSymbol("*")) {
            e->star = true;
            ExpectRightParen();
            return e;
        }
        if (Accept("DISTINCT"))
            e->distinct = true;
        else
            Accept("ALL");
        if (AcceptSymbol(")")) return e;
        do e->args.push_back(Condition());
        while (AcceptSymbol(","));
        ExpectRightParen();
        return e;
    }
    ExprPtr CaseExpression() {
        Next();
        auto e = Make(Expr::Kind::Case);
        if (!Peek().Is("WHEN")) {
            e->caseHasSubject = true;
            e->args.push_back(Sum());
        }
        if (!Peek().Is("WHEN")) Fail(905, "missing keyword");
        while (Accept("WHEN")) {
            e->args.push_back(Condition());
            if (!Accept("THEN")) Fail(905, "missing keyword");
            e->args.push_back(Condition());
        }
        if (Accept("ELSE")) {
            e->caseHasElse = true;
            e->args.push_back(Condition());
        }
        if (!Accept("END")) Fail(905, "missing keyword");
        return e;
    }

    // --- DML ----------------------------------------------------------------------

    void ParseInsert(ParsedStatement& s) {
        s.kind = ParsedStatement::Kind::Insert;
        Next();
        if (!Accept("INTO")) Fail(925, "missing INTO keyword");
        s.table = TableName();
        if (IsName(Peek()) && !Peek().Is("VALUES")) s.table.alias = Next().text;
        if (AcceptSymbol("(")) {
            if (Peek().Is("SELECT")) Fail(3001, "unimplemented feature");
            do s.columns.push_back(ColumnName());
            while (AcceptSymbol(","));
            ExpectRightParen();
        }
        if (Accept("VALUES")) {
            ExpectLeftParen();
            do s.values.push_back(Condition());
            while (AcceptSymbol(","));
            if (!Peek().IsSymbol(")")) Fail(917, "missing comma");
            Next();
        } else if (Peek().Is("SELECT") || Peek().IsSymbol("(")) {
            s.query = ParseQuery();
        } else {
            Fail(926, "missing VALUES keyword");
        }
    }
    void ParseUpdate(ParsedStatement& s) {
        s.kind = ParsedStatement::Kind::Update;
        Next();
        s.table = TableName();
        if (IsName(Peek())) s.table.alias = Next().text;
        if (!Accept("SET")) Fail(971, "missing SET keyword");
        do {
            if (Peek().IsSymbol("(")) Fail(3001, "unimplemented feature");
            std::string col = ColumnName();
            if (AcceptSymbol(".")) col = ColumnName();  // alias.column
            s.columns.push_back(col);
            if (!AcceptSymbol("=")) Fail(927, "missing equal sign");
            s.values.push_back(Sum());
        } while (AcceptSymbol(","));
        if (Accept("WHERE")) s.where = Condition();
    }
    void ParseDelete(ParsedStatement& s) {
        s.kind = ParsedStatement::Kind::Delete;
        Next();
        Accept("FROM");
        s.table = TableName();
        if (IsName(Peek())) s.table.alias = Next().text;
        if (Accept("WHERE")) s.where = Condition();
    }

    // --- DDL and session ------------------------------------------------------------

    std::string SourceText(std::size_t from, std::size_t to) const {
        std::size_t b = t_[from].offset;
        std::size_t e = to < t_.size() ? t_[to].offset : sql_.size();
        std::string text(sql_.substr(b, e - b));
        while (!text.empty() && (text.back() == ' ' || text.back() == '\n' || text.back() == '\t' ||
                                 text.back() == '\r'))
            text.pop_back();
        return text;
    }

    int Integer() {
        const Token& t = Peek();
        if (t.kind != Token::Kind::Number ||
            t.text.find_first_not_of("0123456789") != std::string::npos)
            Fail(2017, "integer value required");
        Next();
        return t.text.size() > 9 ? 999999999 : std::stoi(t.text);
    }
    int SignedInteger() {
        bool negative = AcceptSymbol("-");
        if (!negative) AcceptSymbol("+");
        int v = Integer();
        return negative ? -v : v;
    }

    // NVARCHAR2(n) / NCHAR[(n)]: n characters of AL16UTF16, two bytes each.
    void NationalLength(TypeSpec& decl, const std::string& word) {
        decl.name = word;
        decl.charSemantics = true;
        decl.length = 1;
        if (word == "NVARCHAR2" && !Peek().IsSymbol("(")) Fail(906, "missing left parenthesis");
        if (AcceptSymbol("(")) {
            decl.length = Integer();
            ExpectRightParen();
        }
        if (decl.length < 1) Fail(1724, "floating point precision is out of range (1 to 126)");
        if (decl.length > (word == "NCHAR" ? 1000 : 2000))
            Fail(910, "specified length too long for its datatype");
    }

    // "(n)" after TIMESTAMP, DAY, YEAR or SECOND: 0 to 9.
    int OptionalPrecision(int absent) {
        if (!AcceptSymbol("(")) return absent;
        int v = Integer();
        ExpectRightParen();
        if (v > 9) Fail(30088, "datetime/interval precision is out of range");
        return v;
    }

    TypeSpec Type() {
        TypeSpec decl;
        const Token& t = Peek();
        if (t.kind != Token::Kind::Word) Fail(902, "invalid datatype");
        std::string w = Next().text;
        auto lengthClause = [&](bool required, int max) {
            if (!Peek().IsSymbol("(")) {
                if (required) Fail(906, "missing left parenthesis");
                return;
            }
            Next();
            decl.length = Integer();
            if (Accept("CHAR"))
                decl.charSemantics = true;
            else
                Accept("BYTE");
            ExpectRightParen();
            if (decl.length < 1) Fail(1724, "floating point precision is out of range (1 to 126)");
            if (decl.length > max) Fail(910, "specified length too long for its datatype");
        };
        if (w == "NUMBER" || w == "DECIMAL" || w == "DEC" || w == "NUMERIC") {
            decl.name = "NUMBER";
            if (AcceptSymbol("(")) {
                if (AcceptSymbol("*")) {
                    decl.starPrecision = true;
                    decl.length = 38;
                } else {
                    decl.length = Integer();
                    if (decl.length < 1 || decl.length > 38)
                        Fail(1727, "numeric precision specifier is out of range (1 to 38)");
                }
                if (AcceptSymbol(",")) {
                    decl.scale = SignedInteger();
                    if (decl.scale < -84 || decl.scale > 127)
                        Fail(1728, "numeric scale specifier is out of range (-84 to 127)");
                } else {
                    decl.scale = 0;
                }
                ExpectRightParen();
            } else if (w != "NUMBER") {
                decl.length = 38;
                decl.scale = 0;
            }
        } else if (w == "INTEGER" || w == "INT" || w == "SMALLINT") {
            decl.name = "NUMBER";
            decl.length = 38;
            decl.scale = 0;
        } else if (w == "FLOAT") {
            decl.name = "FLOAT";
            decl.length = 126;
            if (AcceptSymbol("(")) {
                decl.length = Integer();
                ExpectRightParen();
                if (decl.length < 1 || decl.length > 126)
                    Fail(1724, "floating point precision is out of range (1 to 126)");
            }
        } else if (w == "REAL") {
            decl.name = "FLOAT";
            decl.length = 63;
        } else if (w == "DOUBLE") {
            if (!Accept("PRECISION")) Fail(902, "invalid datatype");
            decl.name = "FLOAT";
            decl.length = 126;
        } else if (w == "VARCHAR2" || w == "VARCHAR") {
            decl.name = "VARCHAR2";
            lengthClause(true, 4000);
        } else if (w == "CHAR" || w == "CHARACTER") {
            decl.name = "CHAR";
            decl.length = 1;
            lengthClause(false, 2000);
        } else if (w == "DATE") {
            decl.name = "DATE";
        } else if (w == "LONG") {
            decl.name = Accept("RAW") ? "LONG RAW" : "LONG";
        } else if (w == "RAW") {
            decl.name = "RAW";
            lengthClause(true, 2000);
        } else if (w == "NVARCHAR2" || w == "NCHAR") {
            NationalLength(decl, w);
        } else if (w == "BINARY_FLOAT" || w == "BINARY_DOUBLE") {
            decl.name = w;
        } else if (w == "TIMESTAMP") {
            decl.name = "TIMESTAMP";
            decl.scale = OptionalPrecision(6);
            if (Accept("WITH")) {
                bool local = Accept("LOCAL");
                if (!Accept("TIME") || !Accept("ZONE")) Fail(905, "missing keyword");
                decl.name = local ? "TIMESTAMP WITH LOCAL TIME ZONE" : "TIMESTAMP WITH TIME ZONE";
            }
        } else if (w == "INTERVAL") {
            if (Accept("YEAR")) {
                decl.name = "INTERVAL YEAR TO MONTH";
                decl.length = OptionalPrecision(2);
                decl.scale = 0;
                if (!Accept("TO") || !Accept("MONTH")) Fail(905, "missing keyword");
            } else if (Accept("DAY")) {
                decl.name = "INTERVAL DAY TO SECOND";
                decl.length = OptionalPrecision(2);
                if (!Accept("TO") || !Accept("SECOND")) Fail(905, "missing keyword");
                decl.scale = OptionalPrecision(6);
            } else {
                Fail(902, "invalid datatype");
            }
        } else if (w == "CLOB" || w == "NCLOB" || w == "BLOB" || w == "BFILE") {
            decl.name = w;
        } else if (w == "ROWID" || w == "UROWID" || w == "XMLTYPE") {
            Fail(3001, "unimplemented feature");
        } else {
            Fail(902, "invalid datatype");
        }
        return decl;
    }

    void ParseCreate(ParsedStatement& s) {
        Next();
        if (Accept("USER")) {
            s.kind = ParsedStatement::Kind::CreateUser;
            s.user = Name(922, "missing or invalid option");
            if (!Accept("IDENTIFIED")) Fail(922, "missing or invalid option");
            if (!Accept("BY")) Fail(922, "missing or invalid option");
            const Token& p = Peek();
            if (p.kind != Token::Kind::Word && p.kind != Token::Kind::QuotedName)
                Fail(988, "missing or invalid password(s)");
            s.password = Next().text;
            return;
        }
        if (Peek().Is("GLOBAL") || Peek().Is("OR") || Peek().Is("VIEW") || Peek().Is("INDEX") ||
            Peek().Is("SEQUENCE") || Peek().Is("SYNONYM") || Peek().Is("PROCEDURE"))
            Fail(3001, "unimplemented feature");
        if (!Accept("TABLE")) Fail(901, "invalid CREATE command");
        s.kind = ParsedStatement::Kind::CreateTable;
        s.table = TableName();
        if (Peek().Is("AS")) Fail(3001, "unimplemented feature");
        ExpectLeftParen();
        do {
            if (Peek().Is("CONSTRAINT") || Peek().Is("PRIMARY") || Peek().Is("UNIQUE") ||
                Peek().Is("CHECK") || Peek().Is("FOREIGN")) {
                TableConstraint c;
                if (Accept("CONSTRAINT")) c.name = Name(902, "invalid datatype");
                if (Accept("PRIMARY")) {
                    if (!Accept("KEY")) Fail(905, "missing keyword");
                    c.kind = 'P';
                } else if (Accept("UNIQUE")) {
                    c.kind = 'U';
                } else {
                    Fail(3001, "unimplemented feature");
                }
                ExpectLeftParen();
                do c.columns.push_back(ColumnName());
                while (AcceptSymbol(","));
                ExpectRightParen();
                s.constraints.push_back(std::move(c));
                continue;
            }
            ColumnDef col;
            col.name = ColumnName();
            col.type = Type();
            while (true) {
                std::string name;
                if (Accept("CONSTRAINT")) name = Name(902, "invalid datatype");
                if (Accept("DEFAULT")) {
                    std::size_t from = pos_;
                    bindsAllowed_ = false;
                    (void)Sum();
                    bindsAllowed_ = true;
                    col.defaultSql = SourceText(from, pos_);
                } else if (Accept("NOT")) {
                    if (!Accept("NULL")) Fail(905, "missing keyword");
                    col.notNull = true;
                    col.notNullName = name;
                } else if (Accept("NULL")) {
                } else if (Accept("PRIMARY")) {
                    if (!Accept("KEY")) Fail(905, "missing keyword");
                    s.constraints.push_back({name, 'P', {col.name}});
                } else if (Accept("UNIQUE")) {
                    s.constraints.push_back({name, 'U', {col.name}});
                } else if (Peek().Is("CHECK") || Peek().Is("REFERENCES")) {
                    Fail(3001, "unimplemented feature");
                } else {
                    if (!name.empty()) Fail(2253, "constraint specification not allowed here");
                    break;
                }
            }
            s.columnDefs.push_back(std::move(col));
        } while (AcceptSymbol(","));
        if (!Peek().IsSymbol(")")) Fail(907, "missing right parenthesis");
        Next();
        while (Peek().Is("TABLESPACE") || Peek().Is("PCTFREE") || Peek().Is("STORAGE")) {
            // Physical attributes mean nothing here.
            Next();
            if (Peek().kind == Token::Kind::Word || Peek().kind == Token::Kind::Number) Next();
        }
    }
    void ParseDrop(ParsedStatement& s) {
        Next();
        if (!Accept("TABLE")) {
            if (Peek().Is("USER") || Peek().Is("VIEW") || Peek().Is("INDEX") ||
                Peek().Is("SEQUENCE"))
                Fail(3001, "unimplemented feature");
            Fail(950, "invalid DROP option");
        }
        s.kind = ParsedStatement::Kind::DropTable;
        s.table = TableName();
        if (Accept("CASCADE")) {
            if (!Accept("CONSTRAINTS")) Fail(905, "missing keyword");
        }
        Accept("PURGE");
    }
    void ParseAlter(ParsedStatement& s) {
        Next();
        if (!Accept("SESSION")) {
            if (Peek().Is("TABLE") || Peek().Is("USER")) Fail(3001, "unimplemented feature");
            Fail(940, "invalid ALTER command");
        }
        s.kind = ParsedStatement::Kind::AlterSession;
        if (!Accept("SET")) Fail(922, "missing or invalid option");
        do {
            const Token& name = Peek();
            if (name.kind != Token::Kind::Word) Fail(922, "missing or invalid option");
            Next();
            if (!AcceptSymbol("=")) Fail(922, "missing or invalid option");
            std::string value;
            // A value is one token, or words such as READ COMMITTED.
            while (true) {
                const Token& v = Peek();
                if (v.kind == Token::Kind::End) break;
                if (v.kind == Token::Kind::Word && Peek(1).IsSymbol("=") && !value.empty()) break;
                if (v.kind == Token::Kind::Symbol && v.text != "-") break;
                if (!value.empty()) value += ' ';
                value += v.text;
                Next();
                if (v.kind != Token::Kind::Word) break;
            }
            if (value.empty()) Fail(922, "missing or invalid option");
            s.settings.emplace_back(name.text, value);
            AcceptSymbol(",");
        } while (Peek().kind == Token::Kind::Word);
    }

    std::string_view sql_;
    const std::vector<Token>& t_;
    std::size_t pos_ = 0;
    int bindCount_ = 0;
    bool bindsAllowed_ = true;
    int depth_ = 0;
};

}  // namespace

ParsedStatement ParseStatement(std::string_view sql, const std::vector<Token>& tokens) {
    Parser p(sql, tokens);
    return p.Statement();
}

ExprPtr ParseExpression(std::string_view sql) {
    std::vector<Token> tokens = Tokenize(sql);
    Parser p(sql, tokens);
    return p.StandaloneExpression();
}

}  // namespace velnor::ocisqlite::sql
