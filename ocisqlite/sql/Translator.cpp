#include "ocisqlite/sql/Translator.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <set>
#include <string_view>

#include "ocisqlite/sql/Convert.h"
#include "ocisqlite/sql/Parser.h"

namespace velnor::ocisqlite::sql {

namespace {

// A translated expression.
struct Tx {
    std::string sql;
    SqlType type;
    int bind = -1;           // a bare bind variable: its occurrence
    bool boolean = false;    // a condition, not a value
    bool aggregate = false;  // contains a group function
    bool column = false;     // refers to a column outside any group function
    bool literal = false;    // a string literal (CHAR for comparisons)
    // TO_TIMESTAMP(text, format) at full precision: its arguments, so that a place of the
    // same type parses at its own scale instead of parsing and converting again.
    std::string parsedText, parsedFormat;
};

struct Source {
    std::string alias;     // the name that qualifies its columns in the statement
    std::string sqlAlias;  // quoted name in the SQLite text
    std::vector<std::pair<std::string, SqlType>> columns;
    bool table = false;        // a stored table (has ROWID)
    std::uint32_t object = 0;  // its object number, for ROWID
    std::string tableName;     // the stored table's name in the schema file
};

struct Scope {
    std::vector<Source> sources;
    const Scope* outer = nullptr;
    bool selectList = false;
    bool aggregatesAllowed = false;
};

struct OutColumn {
    std::string name;
    SqlType type;
};

struct QueryOut {
    std::string sql;
    std::vector<OutColumn> columns;
    bool limited = false;
    LobReferences lobs;
};

SqlType NumberType() {
    SqlType t;
    t.code = tcNumber;
    t.size = 22;
    t.precision = 0;
    t.scale = -127;
    return t;
}
SqlType TextType(int size, int code = tcVarchar2) {
    SqlType t;
    t.code = code;
    t.size = std::min(std::max(size, 0), 4000);
    t.charLength = t.size;
    return t;
}
SqlType DateType() {
    SqlType t;
    t.code = tcDate;
    t.size = 7;
    return t;
}

SqlType TemporalType(int code, int precision, int scale) {
    SqlType t;
    t.code = code;
    t.size = code == tcTimestampTz ? 13 : code == tcIntervalYm ? 5 : 11;
    t.precision = precision;
    t.scale = scale;
    return t;
}
SqlType LobType(bool national) {
    SqlType t;
    t.code = tcClob;
    t.size = 4000;
    t.national = national;
    return t;
}
SqlType BlobType() {
    SqlType t;
    t.code = tcBlob;
    t.size = 4000;
    return t;
}
SqlType BinaryType(bool single) {
    SqlType t;
    t.code = single ? tcBinaryFloat : tcBinaryDouble;
    t.size = single ? 4 : 8;
    return t;
}

const char* TypeWord(const SqlType& t) {
    if (t.IsNumber()) return "NUMBER";
    if (t.code == tcBinaryFloat) return "BINARY_FLOAT";
    if (t.code == tcBinaryDouble) return "BINARY_DOUBLE";
    if (t.code == tcTimestamp) return "TIMESTAMP";
    if (t.code == tcTimestampTz) return "TIMESTAMP WITH TIME ZONE";
    if (t.code == tcTimestampLtz) return "TIMESTAMP WITH LOCAL TIME ZONE";
    if (t.code == tcIntervalYm) return "INTERVAL YEAR TO MONTH";
    if (t.code == tcIntervalDs) return "INTERVAL DAY TO SECOND";
    if (t.IsDate()) return "DATE";
    if (t.code == tcClob) return t.national ? "NCLOB" : "CLOB";
    if (t.code == tcBlob) return "BLOB";
    if (t.code == tcBfile) return "FILE";
    if (t.IsRaw()) return "BINARY";
    return "CHAR";
}

[[noreturn]] void Inconsistent(const char* expected, const SqlType& got) {
    Fail(932,
         std::string("inconsistent datatypes: expected ") + expected + " got " + TypeWord(got));
}

// LOB values cannot be compared, sorted, grouped or made distinct.
void RejectLob(const SqlType& t) {
    if (t.IsLob()) Fail(932, std::string("inconsistent datatypes: expected - got ") + TypeWord(t));
}

bool IsRownum(const Expr& e) {
    return e.kind == Expr::Kind::Column && e.text == "ROWNUM" && e.qualifier.empty();
}
bool ContainsRownum(const Expr& e) {
    if (IsRownum(e)) return true;
    for (const auto& a : e.args)
        if (ContainsRownum(*a)) return true;
    return false;
}

void Conjuncts(Expr* e, std::vector<Expr*>& out) {
    if (e->kind == Expr::Kind::And) {
        Conjuncts(e->args[0].get(), out);
        Conjuncts(e->args[1].get(), out);
    } else {
        out.push_back(e);
    }
}

std::string FlipOperator(const std::string& op) {
    if (op == "<") return ">";
    if (op == "<=") return ">=";
    if (op == ">") return "<";
    if (op == ">=") return "<=";
    return op;
}

class Translator {
public:
    Translator(const Catalog& catalog, const std::string& schema, const std::string& dateFormat,
               int bindCount)
        : catalog_(catalog), schema_(schema), dateFormat_(dateFormat) {
        bindTypes_.resize(static_cast<std::size_t>(bindCount));
    }

    Translation Run(const ParsedStatement& s) {
        Translation t;
        switch (s.kind) {
            case ParsedStatement::Kind::Select: {
                topQuery_ = true;
                QueryOut q = Query(*s.query, nullptr, nullptr);
                t.sql = q.sql;
                t.lobs = std::move(q.lobs);
                for (const OutColumn& c : q.columns) {
                    t.columns.push_back(Describe(c));
                    t.columnTypes.push_back(c.type);
                }
                break;
            }
            case ParsedStatement::Kind::Insert:
                t.sql = Insert(s);
                break;
            case ParsedStatement::Kind::Update:
                t.sql = Update(s);
                break;
            case ParsedStatement::Kind::Delete:
                t.sql = Delete(s);
                break;
            default:
                Fail(900, "invalid SQL statement");
        }
        t.bindTypes = bindTypes_;
        t.table = s.table.name;
        return t;
    }

private:
    static ColumnInfo Describe(const OutColumn& c) {
        ColumnInfo info;
        info.name = c.name;
        const SqlType& t = c.type;
        info.type = t.code == 0 ? tcVarchar2 : t.code;
        info.size = t.code == 0 ? 0 : t.size;
        const bool precise = t.IsNumber() || t.IsTimestamp() || t.IsInterval();
        info.precision = precise ? t.precision : 0;
        info.scale = precise ? t.scale : 0;
        info.nullable = t.nullable;
        info.charLength = t.charSemantics ? t.charLength : info.size;
        info.charSemantics = t.charSemantics;
        info.national = t.national;
        return info;
    }

    // --- sources -------------------------------------------------------------------

    const TableMeta& Table(const TableRef& r) const {
        if (!r.schema.empty() && r.schema != schema_) Fail(942, "table or view does not exist");
        const TableMeta* t = catalog_.Find(r.name);
        if (!t) Fail(942, "table or view does not exist");
        return *t;
    }

    std::string NewAlias() { return Quote("t" + std::to_string(++aliases_)); }

    // Operators chain without recursion in the parser, so the translator bounds its own depth.
    struct Nested {
        explicit Nested(Translator& t) : translator(t) {
            if (++translator.depth_ > kMaxNesting) Fail(3001, "unimplemented feature");
        }
        ~Nested() { --translator.depth_; }
        Nested(const Nested&) = delete;
        Nested& operator=(const Nested&) = delete;
        Translator& translator;
    };

    // The operands of a chain a op b op c, which the parser builds leaning left.
    static std::vector<const Expr*> Chain(const Expr& e) {
        std::vector<const Expr*> parts;
        const Expr* left = &e;
        for (; left->kind == e.kind; left = left->args[0].get())
            parts.push_back(left->args[1].get());
        parts.push_back(left);
        std::reverse(parts.begin(), parts.end());
        return parts;
    }

    Source MakeSource(const TableRef& r, std::string& fromSql) {
        Source s;
        s.sqlAlias = NewAlias();
        if (r.subquery) {
            QueryOut q = Query(*r.subquery, nullptr, nullptr);
            for (const OutColumn& c : q.columns) s.columns.emplace_back(c.name, c.type);
            s.alias = r.alias;
            fromSql = "(" + q.sql + ") AS " + s.sqlAlias;
            return s;
        }
        s.alias = r.alias.empty() ? r.name : r.alias;
        bool own = r.schema.empty() || r.schema == schema_;
        auto vc = [](int n) {
            SqlType t = TextType(n);
            return t;
        };
        auto notNull = [](SqlType t) {
            t.nullable = false;
            return t;
        };
        if (r.name == "DUAL" && (r.schema.empty() || r.schema == "SYS")) {
            s.columns.emplace_back("DUMMY", vc(1));
            fromSql = "(SELECT 'X' AS \"DUMMY\") AS " + s.sqlAlias;
            return s;
        }
        if (own && (r.name == "USER_TABLES" || r.name == "TABS") && !catalog_.Find(r.name)) {
            s.columns = {{"TABLE_NAME", notNull(vc(128))},
                         {"TABLESPACE_NAME", vc(30)},
                         {"STATUS", vc(8)},
                         {"TEMPORARY", vc(1)},
                         {"NUM_ROWS", NumberType()}};
            fromSql = std::string(
                          "(SELECT table_name AS \"TABLE_NAME\", 'USERS' AS "
                          "\"TABLESPACE_NAME\", 'VALID' AS \"STATUS\", 'N' AS "
                          "\"TEMPORARY\", NULL AS \"NUM_ROWS\" FROM \"") +
                      Catalog::kTables + "\") AS " + s.sqlAlias;
            return s;
        }
        if (own && (r.name == "USER_TAB_COLUMNS" || r.name == "COLS") && !catalog_.Find(r.name)) {
            s.columns = {{"TABLE_NAME", notNull(vc(128))},
                         {"COLUMN_NAME", notNull(vc(128))},
                         {"DATA_TYPE", vc(128)},
                         {"DATA_LENGTH", notNull(NumberType())},
                         {"DATA_PRECISION", NumberType()},
                         {"DATA_SCALE", NumberType()},
                         {"NULLABLE", vc(1)},
                         {"COLUMN_ID", NumberType()},
                         {"DATA_DEFAULT", TextType(0, tcLong)},
                         {"CHAR_LENGTH", NumberType()},
                         {"CHAR_USED", vc(1)}};
            fromSql = std::string(
                          "(SELECT table_name AS \"TABLE_NAME\", column_name AS "
                          "\"COLUMN_NAME\", data_type AS \"DATA_TYPE\", data_length AS "
                          "\"DATA_LENGTH\", data_precision AS \"DATA_PRECISION\", "
                          "data_scale AS \"DATA_SCALE\", nullable AS \"NULLABLE\", "
                          "column_id AS \"COLUMN_ID\", data_default AS \"DATA_DEFAULT\", "
                          "coalesce(char_length, 0) AS \"CHAR_LENGTH\", char_used AS "
                          "\"CHAR_USED\" FROM \"") +
                      Catalog::kColumns + "\") AS " + s.sqlAlias;
            return s;
        }
        const TableMeta& t = Table(r);
        for (const ColumnMeta& c : t.columns) s.columns.emplace_back(c.name, c.type);
        s.table = true;
        s.tableName = t.name;
        s.object = TableObjectNumber(t.name);
        fromSql = Quote(t.name) + " AS " + s.sqlAlias;
        return s;
    }

    // --- expressions ---------------------------------------------------------------

    Tx Resolve(const Expr& e, const Scope& scope) {
        for (const Scope* sc = &scope; sc; sc = sc->outer) {
            const Source* found = nullptr;
            const SqlType* type = nullptr;
            int matches = 0;
            for (const Source& s : sc->sources) {
                if (!e.qualifier.empty() && s.alias != e.qualifier) continue;
                for (const auto& [name, t] : s.columns) {
                    if (name == e.text) {
                        if (!found || found != &s) ++matches;
                        found = &s;
                        type = &t;
                    }
                }
            }
            if (matches > 1) Fail(918, "column ambiguously defined");
            if (found) {
                Tx tx;
                tx.sql = found->sqlAlias + "." + Quote(e.text);
                tx.type = *type;
                tx.column = true;
                return tx;
            }
            if (e.text == "ROWID" && (e.qualifier.empty() ? sc->sources.size() == 1 : true)) {
                for (const Source& s : sc->sources) {
                    if (!e.qualifier.empty() && s.alias != e.qualifier) continue;
                    if (!s.table)
                        Fail(1446,
                             "cannot select ROWID from, or sample, a view with DISTINCT, GROUP BY, "
                             "etc.");
                    Tx tx;
                    tx.sql =
                        "ora_rowid(" + std::to_string(s.object) + ", " + s.sqlAlias + ".rowid)";
                    tx.type = TextType(18, tcRowid);
                    tx.type.nullable = false;
                    tx.column = true;
                    return tx;
                }
            }
        }
        if (e.qualifier.empty()) {
            Tx tx;
            if (e.text == "SYSDATE") {
                tx.sql = "ora_sysdate()";
                tx.type = DateType();
                tx.type.nullable = false;
                return tx;
            }
            if (e.text == "SYSTIMESTAMP") {
                tx.sql = "ora_systimestamp()";
                tx.type = TemporalType(tcTimestampTz, 0, 6);
                tx.type.nullable = false;
                return tx;
            }
            if (e.text == "BINARY_DOUBLE_NAN" || e.text == "BINARY_FLOAT_NAN" ||
                e.text == "BINARY_DOUBLE_INFINITY" || e.text == "BINARY_FLOAT_INFINITY") {
                tx.sql = e.text.find("NAN") != std::string::npos ? "'NaN'" : "9e999";
                tx.type = BinaryType(e.text.rfind("BINARY_FLOAT", 0) == 0);
                tx.type.nullable = false;
                return tx;
            }
            if (e.text == "USER") {
                tx.sql = Literal(schema_);
                tx.type = TextType(128);
                tx.type.nullable = false;
                return tx;
            }
            if (e.text == "ROWNUM") {
                if (!scope.selectList) Fail(3001, "unimplemented feature");
                tx.sql = "row_number() OVER ()";
                tx.type = NumberType();
                tx.type.nullable = false;
                return tx;
            }
        }
        std::string name = "\"" + e.text + "\"";
        if (!e.qualifier.empty()) name = "\"" + e.qualifier + "\"." + name;
        Fail(904, name + ": invalid identifier");
    }

    std::string AsNumber(const Tx& t) {
        if (t.type.IsDate() || t.type.IsTimestamp() || t.type.IsInterval())
            Inconsistent("NUMBER", t.type);
        if (t.type.IsRaw()) Inconsistent("NUMBER", t.type);
        if (t.type.IsText()) return "ora_to_number(" + t.sql + ")";
        return t.sql;
    }
    // Character value of a date, number or raw (functions convert numbers themselves).
    std::string AsText(const Tx& t) {
        if (t.type.IsNumber()) return "ora_text(" + t.sql + ")";
        if (t.type.IsDate()) return "ora_date_text(" + t.sql + ")";
        if (t.type.IsRaw()) return "hex(" + t.sql + ")";
        if (t.type.IsTimestamp() || t.type.IsInterval())
            return "ora_tmp_text(" + t.sql + ", " + std::to_string(t.type.code) + ", " +
                   std::to_string(t.type.precision) + ", " + std::to_string(t.type.scale) + ")";
        if (t.type.IsBinaryFloat())
            return "ora_bin_text(" + t.sql + ", " + (t.type.code == tcBinaryFloat ? "1" : "0") +
                   ")";
        return t.sql;
    }
    static std::string TimestampParse(const std::string& text, int code, int scale,
                                      const std::string& format) {
        return "ora_ts_in(" + text + ", " + std::to_string(code) + ", " + std::to_string(scale) +
               ", " + format + ")";
    }
    // `t` as a value of the TIMESTAMP, INTERVAL or binary floating point type `target`.
    std::string AsSpecial(const Tx& t, const SqlType& target) {
        const std::string code = std::to_string(target.code);
        if (target.IsBinaryFloat()) {
            if (t.type.IsDate() || t.type.IsRaw() || t.type.IsTimestamp() || t.type.IsInterval())
                Inconsistent(TypeWord(target), t.type);
            if (t.type.code == target.code || (t.type.code == tcBinaryFloat)) return t.sql;
            return "ora_bin(" + t.sql + ", " + (target.code == tcBinaryFloat ? "1" : "0") + ")";
        }
        const std::string scale = std::to_string(target.scale);
        if (target.IsInterval()) {
            if (t.type.code != 0 && !t.type.IsText() && t.type.code != target.code)
                Inconsistent(TypeWord(target), t.type);
            return "ora_iv_in(" + t.sql + ", " + code + ", " + std::to_string(target.precision) +
                   ", " + scale + ")";
        }
        if (t.type.code == target.code && !t.parsedText.empty() &&
            t.sql == TimestampParse(t.parsedText, t.type.code, 9, t.parsedFormat))
            return TimestampParse(t.parsedText, target.code, target.scale, t.parsedFormat);
        if (t.type.IsDate() || t.type.IsTimestamp())
            return "ora_ts_cast(" + t.sql + ", " + std::to_string(t.type.code) + ", " + code +
                   ", " + scale + ")";
        if (t.type.code != 0 && !t.type.IsText()) Inconsistent(TypeWord(target), t.type);
        return "ora_ts_in(" + t.sql + ", " + code + ", " + scale + ")";
    }
    std::string AsStrictText(const Tx& t) {
        if (t.type.IsNumber()) return "ora_text(" + t.sql + ")";
        return AsText(t);
    }
    std::string AsDate(const Tx& t) {
        if (t.type.IsNumber() || t.type.IsRaw()) Inconsistent("DATE", t.type);
        if (t.type.IsText()) return "ora_to_date(" + t.sql + ")";
        return t.sql;
    }
    // `t` converted to the type class of `target`, as Oracle's implicit conversion does.
    std::string Coerce(const Tx& t, const SqlType& target) {
        if (target.IsBinaryFloat() || target.IsTimestamp() || target.IsInterval())
            return t.bind >= 0 ? t.sql : AsSpecial(t, target);  // binds convert at execute
        if (target.IsNumber()) return AsNumber(t);
        if (target.IsDate()) return AsDate(t);
        if (target.IsRaw()) {
            if (t.type.IsText()) return "ora_hextoraw(" + t.sql + ")";
            if (t.type.IsNumber() || t.type.IsDate()) Inconsistent("BINARY", t.type);
            return t.sql;
        }
        if (target.IsText()) return t.type.IsNumber() ? "ora_text(" + t.sql + ")" : AsText(t);
        return t.sql;
    }

    static SqlType Hint(SqlType t) {
        t.owner.clear();
        return t;
    }

    int DisplaySize(const SqlType& t) const {
        if (t.IsNumber()) return 40;
        if (t.IsDate()) return DateTextSize(dateFormat_);
        if (t.IsRaw()) return t.size * 2;
        if (t.IsBinaryFloat()) return t.code == tcBinaryFloat ? 15 : 24;
        if (t.IsInterval())
            return static_cast<int>(IntervalText(0, t.code, t.precision, t.scale).size());
        if (t.IsTimestamp()) return 75;
        if (t.code == tcLong) return 4000;
        return t.size;
    }

    static int DateTextSize(const std::string& format) {
        std::size_t size = 0;
        for (const DateTime& d :
             {DateTime{2000, 9, 27, 23, 59, 59}, DateTime{2000, 12, 31, 0, 0, 0},
              DateTime{2000, 5, 1, 12, 0, 0}}) {
            try {
                size = std::max(size, FormatDate(d, format).size());
            } catch (const OraError&) {
                return 75;
            }
        }
        return static_cast<int>(size);
    }

    Tx Translate(const Expr& e, Scope& scope, const SqlType& hint = SqlType()) {
        Nested nested(*this);
        Tx tx;
        switch (e.kind) {
            case Expr::Kind::Number: {
                if (char last = e.text.back();
                    last == 'd' || last == 'D' || last == 'f' || last == 'F') {
                    const bool single = last == 'f' || last == 'F';
                    double v =
                        TextToBinary(std::string_view(e.text).substr(0, e.text.size() - 1), single);
                    char buf[40];
                    std::snprintf(buf, sizeof buf, "%.17g", v);
                    tx.sql = std::isinf(v) ? "9e999" : buf;
                    tx.type = BinaryType(single);
                    tx.type.nullable = false;
                    return tx;
                }
                tx.sql = NumberLiteral(TextToNumber(e.text));
                tx.type = NumberType();
                tx.type.nullable = false;
                return tx;
            }
            case Expr::Kind::String:
                if (e.text.empty()) {  // '' is NULL
                    tx.sql = "NULL";
                    return tx;
                }
                tx.sql = Literal(e.text);
                tx.type = TextType(static_cast<int>(e.text.size()), tcChar);
                tx.type.nullable = false;
                tx.literal = true;
                return tx;
            case Expr::Kind::Null:
                tx.sql = "NULL";
                return tx;
            case Expr::Kind::Default:
                Fail(936, "missing expression");
            case Expr::Kind::Column:
                return Resolve(e, scope);
            case Expr::Kind::Bind: {
                tx.sql = "?" + std::to_string(e.bindIndex + 1);
                tx.bind = e.bindIndex;
                bindTypes_[static_cast<std::size_t>(e.bindIndex)] = hint;
                tx.type = hint.code ? Hint(hint) : TextType(4000);
                if (!hint.code) tx.type.code = tcVarchar2;
                return tx;
            }
            case Expr::Kind::Negate: {
                Tx a = Translate(*e.args[0], scope, NumberType());
                tx = a;
                tx.bind = -1;
                if (a.type.IsBinaryFloat()) {  // NaN stays NaN
                    tx.sql = "ora_bin(-(" + a.sql + "), " +
                             (a.type.code == tcBinaryFloat ? "1" : "0") + ")";
                    tx.type.owner.clear();
                    return tx;
                }
                tx.sql = "ora_neg(" + AsNumber(a) + ")";
                tx.type = NumberType();
                return tx;
            }
            case Expr::Kind::Arith:
                return Arith(e, scope);
            case Expr::Kind::Concat: {
                // One call per 100 operands: nested calls soon overflow SQLite's parser, and
                // it takes at most 127 arguments.
                std::string call;
                long long size = 0;
                int arguments = 0;
                SqlType lob;
                for (const Expr* part : Chain(e)) {
                    Tx p = Translate(*part, scope, TextType(4000));
                    if (arguments == 100) {
                        call = "ora_concat(" + call + ")";
                        arguments = 1;
                    }
                    call += (call.empty() ? "" : ", ") + AsText(p);
                    ++arguments;
                    size = std::min(size + DisplaySize(p.type), 4000LL);
                    if (p.type.code == tcClob) lob = p.type;
                    if (p.type.code == tcBlob) Inconsistent("CHAR", p.type);
                    Merge(tx, tx, p);
                }
                tx.sql = "ora_concat(" + call + ")";
                tx.type = TextType(static_cast<int>(size));
                if (lob.code) tx.type = LobType(lob.national);  // CLOB || text is a CLOB
                return tx;
            }
            case Expr::Kind::Compare:
                return Compare(e, scope);
            case Expr::Kind::And:
            case Expr::Kind::Or: {
                // Written flat: SQLite reads a chain of one operator without nesting.
                const char* op = e.kind == Expr::Kind::And ? " AND " : " OR ";
                tx.sql = "(";
                for (const Expr* part : Chain(e)) {
                    Tx p = Condition(*part, scope);
                    tx.sql += (tx.sql.size() > 1 ? op : "") + p.sql;
                    Merge(tx, tx, p);
                }
                tx.sql += ")";
                tx.boolean = true;
                return tx;
            }
            case Expr::Kind::Not: {
                Tx a = Condition(*e.args[0], scope);
                tx = a;
                tx.sql = "(NOT " + a.sql + ")";
                return tx;
            }
            case Expr::Kind::IsNull: {
                Tx a = Translate(*e.args[0], scope);
                tx = a;
                tx.bind = -1;
                tx.sql = "(" + a.sql + (e.negated ? " IS NOT NULL)" : " IS NULL)");
                tx.boolean = true;
                return tx;
            }
            case Expr::Kind::Like: {
                Tx a = Translate(*e.args[0], scope, TextType(4000));
                Tx p = Translate(*e.args[1], scope, TextType(4000));
                tx.sql =
                    "(" + AsStrictText(a) + (e.negated ? " NOT LIKE " : " LIKE ") + AsStrictText(p);
                if (e.args.size() > 2) {
                    Tx esc = Translate(*e.args[2], scope, TextType(1));
                    tx.sql += " ESCAPE " + AsStrictText(esc);
                    Merge(tx, tx, esc);
                }
                tx.sql += ")";
                tx.boolean = true;
                return Merge(tx, a, p);
            }
            case Expr::Kind::Between: {
                Tx v = Translate(*e.args[0], scope);
                Tx lo = Translate(*e.args[1], scope, Hint(v.type));
                Tx hi = Translate(*e.args[2], scope, Hint(v.type));
                RejectLob(v.type);
                std::string vs = v.sql;
                if (v.bind >= 0 && lo.type.code) {
                    bindTypes_[static_cast<std::size_t>(v.bind)] = Hint(lo.type);
                    v.type = Hint(lo.type);
                }
                if (Ordered(v, lo, "<=") || Ordered(v, hi, "<="))
                    tx.sql = std::string(e.negated ? "(NOT " : "(") + "(ora_ncmp(" +
                             Operand(v, lo) + ", " + Operand(lo, v) + ") >= 0 AND ora_ncmp(" +
                             Operand(v, hi) + ", " + Operand(hi, v) + ") <= 0))";
                else
                    tx.sql = "(" + Operand(v, lo) + (e.negated ? " NOT BETWEEN " : " BETWEEN ") +
                             Operand(lo, v) + " AND " + Operand(hi, v) + ")";
                tx.boolean = true;
                Merge(tx, v, lo);
                return Merge(tx, tx, hi);
            }
            case Expr::Kind::In: {
                Tx v = Translate(*e.args[0], scope);
                RejectLob(v.type);
                std::string list;
                if (e.query) {
                    QueryOut q = Query(*e.query, &scope, nullptr);
                    if (q.columns.size() != 1) Fail(913, "too many values");
                    list = q.sql;
                    tx.sql = "(" + v.sql;
                } else {
                    std::vector<Tx> items;
                    for (std::size_t i = 1; i < e.args.size(); ++i) {
                        items.push_back(Translate(*e.args[i], scope, Hint(v.type)));
                        list += (i > 1 ? ", " : "") + Operand(items.back(), v);
                        Merge(tx, tx, items.back());
                    }
                    tx.sql = "(" + Operand(v, items.front());
                }
                tx.sql += (e.negated ? " NOT IN (" : " IN (") + list + "))";
                tx.boolean = true;
                return Merge(tx, tx, v);
            }
            case Expr::Kind::Exists: {
                QueryOut q = Query(*e.query, &scope, nullptr);
                tx.sql = "EXISTS (" + q.sql + ")";
                tx.boolean = true;
                return tx;
            }
            case Expr::Kind::Subquery: {
                QueryOut q = Query(*e.query, &scope, nullptr);
                if (q.columns.size() != 1) Fail(913, "too many values");
                tx.sql = "(" + q.sql + ")";
                tx.type = q.columns[0].type;
                tx.type.nullable = true;
                tx.type.owner.clear();
                return tx;
            }
            case Expr::Kind::Function:
                return Function(e, scope, hint);
            case Expr::Kind::Case:
                return CaseExpr(e, scope);
        }
        Fail(936, "missing expression");
    }

    static Tx& Merge(Tx& into, const Tx& a, const Tx& b) {
        into.aggregate = into.aggregate || a.aggregate || b.aggregate;
        into.column = into.column || a.column || b.column;
        return into;
    }

    Tx Condition(const Expr& e, Scope& scope) {
        Tx t = Translate(e, scope);
        if (!t.boolean) Fail(920, "invalid relational operator");
        return t;
    }
    Tx Value_(const Expr& e, Scope& scope, const SqlType& hint = SqlType()) {
        Tx t = Translate(e, scope, hint);
        if (t.boolean) Fail(907, "missing right parenthesis");
        return t;
    }

    // Operand `t` of a comparison with `other`, converted as Oracle converts.
    std::string Operand(const Tx& t, const Tx& other) {
        const SqlType& a = t.type;
        const SqlType& b = other.type;
        if (a.code == 0 || b.code == 0) return t.sql;
        // Zoned values compare by their instant: the stored UTC time without the zone.
        if (a.code == tcTimestampTz && b.code == tcTimestampTz)
            return "substr(" + t.sql + ", 1, 29)";
        if (b.IsBinaryFloat() && !a.IsBinaryFloat()) return AsSpecial(t, b);
        if ((b.IsTimestamp() || b.IsInterval()) && a.code != b.code) {
            SqlType target = b;
            target.scale = 9;  // compare every digit the other side has
            target.precision = 9;
            std::string v = AsSpecial(t, target);
            return b.code == tcTimestampTz ? "substr(" + v + ", 1, 29)" : v;
        }
        if ((a.IsTimestamp() || a.IsInterval()) && b.code != a.code && !b.IsText())
            Inconsistent(TypeWord(a), b);
        if (a.IsNumber() && b.IsDate()) Inconsistent("NUMBER", b);
        if (a.IsDate() && b.IsNumber()) Inconsistent("DATE", b);
        if (a.IsText() && b.IsNumber()) return AsNumber(t);
        if (a.IsText() && b.IsDate()) return AsDate(t);
        if (a.IsText() && b.IsRaw()) return "ora_hextoraw(" + t.sql + ")";
        // Blank-padded comparison between CHAR values (columns and literals).
        if (a.code == tcChar && b.code == tcChar) return "rtrim(" + t.sql + ", ' ')";
        return t.sql;
    }

    // An order comparison of numbers: SQLite would order an int64 before any blob.
    static bool Ordered(const Tx& a, const Tx& b, const std::string& op) {
        const bool order = op == "<" || op == "<=" || op == ">" || op == ">=";
        auto plain = [](const SqlType& t) {
            return !t.IsDate() && !t.IsBinaryFloat() && !t.IsTimestamp() && !t.IsInterval();
        };
        return order && (a.type.IsNumber() || b.type.IsNumber()) && plain(a.type) && plain(b.type);
    }

    // Numbers in the SQL text as they are stored: int64 as such, others in Oracle's form.
    static std::string NumberLiteral(const Value& v) {
        if (v.kind == Value::Kind::Integer) return std::to_string(v.integer);
        return "X'" + RawToHex(v.bytes) + "'";
    }

    Tx Compare(const Expr& e, Scope& scope) {
        const Expr& l = *e.args[0];
        const Expr& r = *e.args[1];
        Tx a, b;
        if (l.kind == Expr::Kind::Bind && r.kind != Expr::Kind::Bind) {
            b = Value_(r, scope);
            a = Value_(l, scope, Hint(b.type));
        } else {
            a = Value_(l, scope);
            b = Value_(r, scope, Hint(a.type));
        }
        RejectLob(a.type);
        RejectLob(b.type);
        Tx tx;
        if (e.text == "=" && (RowIdKey(a, b, tx) || RowIdKey(b, a, tx))) return Merge(tx, a, b);
        if (Ordered(a, b, e.text))
            tx.sql = "(ora_ncmp(" + Operand(a, b) + ", " + Operand(b, a) + ") " + e.text + " 0)";
        else
            tx.sql = "(" + Operand(a, b) + " " + e.text + " " + Operand(b, a) + ")";
        tx.boolean = true;
        return Merge(tx, a, b);
    }

    // `ROWID = text` compares keys: ora_rowid(object, alias.rowid) becomes alias.rowid.
    static bool RowIdKey(const Tx& rowid, const Tx& other, Tx& tx) {
        static constexpr std::string_view kPrefix = "ora_rowid(";
        const std::string& sql = rowid.sql;
        if (!rowid.column || sql.rfind(kPrefix, 0) != 0 || sql.back() != ')') return false;
        const std::size_t comma = sql.find(", ");
        if (comma == std::string::npos) return false;
        const std::string object = sql.substr(kPrefix.size(), comma - kPrefix.size());
        const std::string key = sql.substr(comma + 2, sql.size() - comma - 3);
        tx.sql = "(" + key + " = ora_rowid_key(" + object + ", " + other.sql + "))";
        tx.boolean = true;
        return true;
    }

    Tx Arith(const Expr& e, Scope& scope) {
        Tx a = Value_(*e.args[0], scope, NumberType());
        Tx b = Value_(*e.args[1], scope, NumberType());
        Tx tx;
        Merge(tx, a, b);
        const std::string& op = e.text;
        if (a.type.IsDate() || b.type.IsDate()) {
            if (op == "+" && a.type.IsDate() && !b.type.IsDate()) {
                tx.sql = "ora_date_add(" + a.sql + ", " + AsNumber(b) + ")";
            } else if (op == "+" && b.type.IsDate() && !a.type.IsDate()) {
                tx.sql = "ora_date_add(" + b.sql + ", " + AsNumber(a) + ")";
            } else if (op == "-" && a.type.IsDate() && b.type.IsDate()) {
                tx.sql = "ora_date_diff(" + a.sql + ", " + b.sql + ")";
                tx.type = NumberType();
                return tx;
            } else if (op == "-" && a.type.IsDate()) {
                tx.sql = "ora_date_add(" + a.sql + ", ora_neg(" + AsNumber(b) + "))";
            } else {
                Inconsistent("NUMBER", a.type.IsDate() ? a.type : b.type);
            }
            tx.type = DateType();
            return tx;
        }
        const char* fn = op == "/"   ? "ora_div("
                         : op == "+" ? "ora_add("
                         : op == "-" ? "ora_sub("
                                     : "ora_mul(";
        tx.sql = fn + AsNumber(a) + ", " + AsNumber(b) + ")";
        tx.type = NumberType();
        return tx;
    }

    Tx CaseExpr(const Expr& e, Scope& scope) {
        Tx tx;
        tx.sql = "CASE";
        std::size_t i = 0;
        Tx subject;
        if (e.caseHasSubject) {
            subject = Value_(*e.args[0], scope);
            tx.sql += " " + subject.sql;
            Merge(tx, tx, subject);
            i = 1;
        }
        std::size_t end = e.args.size() - (e.caseHasElse ? 1 : 0);
        bool first = true;
        for (; i + 1 < end + 1 && i < end; i += 2) {
            Tx when = e.caseHasSubject ? Value_(*e.args[i], scope, Hint(subject.type))
                                       : Condition(*e.args[i], scope);
            Tx then = Value_(*e.args[i + 1], scope, first ? SqlType() : Hint(tx.type));
            tx.sql += " WHEN " + (e.caseHasSubject ? Operand(when, subject) : when.sql) + " THEN " +
                      (first ? then.sql : Coerce(then, tx.type));
            if (first) tx.type = then.type;
            tx.type.size = std::max(tx.type.size, then.type.size);
            if (tx.type.code == 0) tx.type = then.type;
            first = false;
            Merge(tx, when, then);
        }
        if (e.caseHasElse) {
            Tx other = Value_(*e.args.back(), scope, Hint(tx.type));
            tx.sql += " ELSE " + Coerce(other, tx.type);
            tx.type.size = std::max(tx.type.size, other.type.size);
            Merge(tx, tx, other);
        }
        tx.sql += " END";
        tx.type.nullable = true;
        tx.type.owner.clear();
        return tx;
    }

    static void Arity(const Expr& e, std::size_t min, std::size_t max) {
        if (e.args.size() < min || e.args.size() > max) Fail(909, "invalid number of arguments");
    }

    // One function call being translated. Arguments are translated on demand, in the order
    // each function needs, since an argument's hint may depend on an earlier one's type.
    struct Call {
        Call(Translator& t, const Expr& expr, Scope& s, const SqlType& h)
            : self(t), e(expr), scope(s), hint(h) {
            a.reserve(e.args.size() + 1);  // references into it stay valid
        }
        Tx& Arg(std::size_t i, const SqlType& h = SqlType()) {
            while (a.size() <= i) a.emplace_back();
            a[i] = self.Value_(*e.args[i], scope, h);
            Merge(tx, tx, a[i]);
            return a[i];
        }
        [[nodiscard]] const std::string& Name() const { return e.text; }
        [[nodiscard]] std::size_t Count() const { return e.args.size(); }

        Translator& self;
        const Expr& e;
        Scope& scope;
        const SqlType& hint;
        Tx tx;
        std::vector<Tx> a;
    };
    using Builtin = Tx (Translator::*)(Call&);
    struct FunctionDef {
        std::string_view name;
        std::size_t minArgs;
        std::size_t maxArgs;
        Builtin translate;
        bool aggregate = false;  // checks its own arity: COUNT(*) has none
    };

    Tx Function(const Expr& e, Scope& scope, const SqlType& hint) {
        // Sorted by name for the binary search.
        static constexpr FunctionDef kBuiltins[] = {
            {"$INTERVAL_DS", 3, 3, &Translator::LiteralFn},
            {"$INTERVAL_YM", 3, 3, &Translator::LiteralFn},
            {"$TIMESTAMP", 1, 1, &Translator::LiteralFn},
            {"ABS", 1, 1, &Translator::MathFn},
            {"ADD_MONTHS", 2, 2, &Translator::AddMonthsFn},
            {"AVG", 1, 1, &Translator::AggregateFn, true},
            {"BFILENAME", 2, 2, &Translator::BfileNameFn},
            {"CEIL", 1, 1, &Translator::MathFn},
            {"CHR", 1, 1, &Translator::ChrFn},
            {"COALESCE", 1, 1000, &Translator::CoalesceFn},
            {"CONCAT", 2, 2, &Translator::TextFn},
            {"COUNT", 1, 1, &Translator::AggregateFn, true},
            {"DBMS_LOB.GETLENGTH", 1, 1, &Translator::DbmsLobFn},
            {"DBMS_LOB.SUBSTR", 1, 3, &Translator::DbmsLobFn},
            {"DECODE", 3, 255, &Translator::DecodeFn},
            {"EMPTY_BLOB", 0, 0, &Translator::EmptyLobFn},
            {"EMPTY_CLOB", 0, 0, &Translator::EmptyLobFn},
            {"FLOOR", 1, 1, &Translator::MathFn},
            {"GREATEST", 1, 1000, &Translator::CoalesceFn},
            {"HEXTORAW", 1, 1, &Translator::HexToRawFn},
            {"INSTR", 2, 4, &Translator::TextFn},
            {"LAST_DAY", 1, 1, &Translator::LastDayFn},
            {"LEAST", 1, 1000, &Translator::CoalesceFn},
            {"LENGTH", 1, 1, &Translator::LengthFn},
            {"LENGTHB", 1, 1, &Translator::LengthFn},
            {"LOWER", 1, 1, &Translator::CaseFn},
            {"LPAD", 2, 3, &Translator::TextFn},
            {"LTRIM", 1, 2, &Translator::TrimFn},
            {"MAX", 1, 1, &Translator::AggregateFn, true},
            {"MIN", 1, 1, &Translator::AggregateFn, true},
            {"MOD", 2, 2, &Translator::MathFn},
            {"NVL", 2, 2, &Translator::CoalesceFn},
            {"NVL2", 3, 3, &Translator::Nvl2Fn},
            {"POWER", 2, 2, &Translator::MathFn},
            {"RAWTOHEX", 1, 1, &Translator::RawToHexFn},
            {"REPLACE", 2, 3, &Translator::TextFn},
            {"ROUND", 1, 2, &Translator::RoundFn},
            {"RPAD", 2, 3, &Translator::TextFn},
            {"RTRIM", 1, 2, &Translator::TrimFn},
            {"SIGN", 1, 1, &Translator::MathFn},
            {"SQRT", 1, 1, &Translator::MathFn},
            {"SUBSTR", 2, 3, &Translator::SubstrFn},
            {"SUM", 1, 1, &Translator::AggregateFn, true},
            {"SYS_EXTRACT_UTC", 1, 1, &Translator::ExtractUtcFn},
            {"TO_BINARY_DOUBLE", 1, 1, &Translator::ToBinaryFn},
            {"TO_BINARY_FLOAT", 1, 1, &Translator::ToBinaryFn},
            {"TO_CHAR", 1, 3, &Translator::ToCharFn},
            {"TO_CLOB", 1, 1, &Translator::ToLobFn},
            {"TO_DATE", 1, 3, &Translator::ToDateFn},
            {"TO_DSINTERVAL", 1, 1, &Translator::ToIntervalFn},
            {"TO_NCLOB", 1, 1, &Translator::ToLobFn},
            {"TO_NUMBER", 1, 1, &Translator::ToNumberFn},
            {"TO_TIMESTAMP", 1, 2, &Translator::ToTimestampFn},
            {"TO_TIMESTAMP_TZ", 1, 2, &Translator::ToTimestampFn},
            {"TO_YMINTERVAL", 1, 1, &Translator::ToIntervalFn},
            {"TRIM", 1, 1, &Translator::TrimFn},
            {"TRUNC", 1, 2, &Translator::RoundFn},
            {"UPPER", 1, 1, &Translator::CaseFn},
        };
        static_assert(std::is_sorted(
            std::begin(kBuiltins), std::end(kBuiltins),
            [](const FunctionDef& x, const FunctionDef& y) { return x.name < y.name; }));
        const std::string& f = e.text;
        const auto* def = std::lower_bound(
            std::begin(kBuiltins), std::end(kBuiltins), std::string_view(f),
            [](const FunctionDef& d, std::string_view name) { return d.name < name; });
        if (def == std::end(kBuiltins) || def->name != f) {
            if (e.star) Fail(936, "missing expression");
            Fail(904, "\"" + f + "\": invalid identifier");
        }
        Call call(*this, e, scope, hint);
        if (!def->aggregate) {
            if (e.star) Fail(936, "missing expression");
            Arity(e, def->minArgs, def->maxArgs);
        }
        return (this->*def->translate)(call);
    }

    static std::string Lower(std::string s) {
        std::transform(s.begin(), s.end(), s.begin(), ::tolower);
        return s;
    }

    Tx AggregateFn(Call& c) {
        const std::string& f = c.Name();
        Tx& tx = c.tx;
        if (!c.scope.aggregatesAllowed) Fail(934, "group function is not allowed here");
        if (c.e.star) {
            if (f != "COUNT") Fail(936, "missing expression");
            tx.sql = "count(*)";
        } else {
            Arity(c.e, 1, 1);
            Scope inner = c.scope;
            inner.aggregatesAllowed = false;
            inner.selectList = false;
            const bool numeric = f == "SUM" || f == "AVG";
            Tx x = Value_(*c.e.args[0], inner, numeric ? NumberType() : SqlType());
            std::string v = numeric ? AsNumber(x) : x.sql;
            // Numbers fold exactly in the engine's own aggregates.
            const bool exact = numeric || (f != "COUNT" && x.type.IsNumber());
            tx.sql = (exact ? "ora_" : "") + Lower(f) + "(" + (c.e.distinct ? "DISTINCT " : "") +
                     v + ")";
            if (f == "MIN" || f == "MAX") {
                tx.type = x.type;
                tx.type.owner.clear();
                tx.type.nullable = true;
            }
        }
        if (f == "COUNT" || f == "SUM" || f == "AVG") tx.type = NumberType();
        if (f == "COUNT") tx.type.nullable = false;
        tx.aggregate = true;
        tx.column = false;
        return tx;
    }

    Tx ToDateFn(Call& c) {
        Tx& tx = c.tx;
        Tx& x = c.Arg(0, TextType(4000));
        if (x.type.IsDate() && c.Count() == 1) return x;
        tx.sql = "ora_to_date(" + AsStrictText(x);
        if (c.Count() > 1) tx.sql += ", " + AsStrictText(c.Arg(1, TextType(4000)));
        tx.sql += ")";
        tx.type = DateType();
        return tx;
    }

    // TIMESTAMP '...' reads "YYYY-MM-DD HH24:MI:SS[.f] [zone]"; with a zone it is WITH TIME
    // ZONE. INTERVAL literals carry their precisions as arguments.
    Tx LiteralFn(Call& c) {
        Tx& tx = c.tx;
        const std::string& text = c.e.args[0]->text;
        if (c.Name() == "$TIMESTAMP") {
            std::string_view v(text);
            std::size_t digits = v.find_first_of('.') == std::string_view::npos
                                     ? 0
                                     : v.substr(v.find('.') + 1).find_first_not_of("0123456789");
            if (digits == std::string_view::npos) digits = v.size() - v.find('.') - 1;
            const bool zoned =
                v.find_first_of("+-", 10) != std::string_view::npos ||
                v.find_first_of("ABCDEFGHIJKLMNOPQRSTUVWXYZ", 0) != std::string_view::npos;
            const int code = zoned ? tcTimestampTz : tcTimestamp;
            const int scale = static_cast<int>(std::min<std::size_t>(digits, 9));
            std::string format = "YYYY-MM-DD HH24:MI:SS";
            if (v.find('.') != std::string_view::npos) format += ".FF";
            if (zoned) format += " TZR";
            tx.sql = "ora_ts_in(" + Literal(text) + ", " + std::to_string(code) + ", " +
                     std::to_string(scale) + ", " + Literal(format) + ")";
            tx.type = TemporalType(code, 0, scale);
        } else {
            const int code = c.Name() == "$INTERVAL_YM" ? tcIntervalYm : tcIntervalDs;
            const int precision = std::stoi(c.e.args[1]->text);
            const int scale = std::stoi(c.e.args[2]->text);
            tx.sql = std::to_string(ParseInterval(text, code, precision, scale));
            tx.type = TemporalType(code, precision, scale);
        }
        tx.type.nullable = false;
        return tx;
    }

    Tx ToTimestampFn(Call& c) {
        Tx& tx = c.tx;
        const int code = c.Name() == "TO_TIMESTAMP" ? tcTimestamp : tcTimestampTz;
        Tx& x = c.Arg(0, TextType(4000));
        if (x.type.code == code && c.Count() == 1) return x;
        SqlType target = TemporalType(code, 0, 9);
        if (c.Count() == 1) {
            tx.sql = AsSpecial(x, target);
        } else {
            if (!x.type.IsText() && x.type.code != 0) Inconsistent("CHAR", x.type);
            tx.parsedText = x.sql;
            tx.parsedFormat = AsStrictText(c.Arg(1, TextType(4000)));
            tx.sql = TimestampParse(tx.parsedText, code, 9, tx.parsedFormat);
        }
        tx.type = target;
        return tx;
    }

    // The result has the widest leading and fractional precision, as Oracle's does.
    Tx ToIntervalFn(Call& c) {
        Tx& tx = c.tx;
        const int code = c.Name() == "TO_YMINTERVAL" ? tcIntervalYm : tcIntervalDs;
        Tx& x = c.Arg(0, TextType(4000));
        if (!x.type.IsText() && x.type.code != 0) Inconsistent("CHAR", x.type);
        tx.type = TemporalType(code, 9, code == tcIntervalYm ? 0 : 9);
        tx.sql = AsSpecial(x, tx.type);
        return tx;
    }

    // A zoned value's UTC wall-clock time as a TIMESTAMP(9); stored zoned forms begin with it.
    Tx ExtractUtcFn(Call& c) {
        Tx& tx = c.tx;
        Tx& x = c.Arg(0);
        if (x.type.code == tcTimestampLtz) {
            tx.sql = x.sql;
        } else if (x.type.code == tcTimestampTz) {
            tx.sql = "substr(" + x.sql + ", 1, length(" + x.sql + ") - 7)";
        } else if (x.type.code == tcTimestamp) {
            // Taken to be in the session's zone; the local time zone form is its UTC time.
            tx.sql = AsSpecial(x, TemporalType(tcTimestampLtz, 0, 9));
        } else {
            Inconsistent("TIMESTAMP WITH TIME ZONE", x.type);
        }
        tx.type = TemporalType(tcTimestamp, 0, 9);  // whatever the argument's precision
        return tx;
    }

    Tx ToBinaryFn(Call& c) {
        Tx& tx = c.tx;
        const bool single = c.Name() == "TO_BINARY_FLOAT";
        Tx& x = c.Arg(0);
        tx.type = BinaryType(single);
        tx.sql = AsSpecial(x, tx.type);
        if (single && x.type.code == tcBinaryDouble) tx.sql = "ora_bin(" + x.sql + ", 1)";
        return tx;
    }

    Tx ToCharFn(Call& c) {
        Tx& tx = c.tx;
        Tx& x = c.Arg(0);
        std::string fmt;
        const Expr* fe = c.Count() > 1 ? c.e.args[1].get() : nullptr;
        if (fe) fmt = ", " + AsStrictText(c.Arg(1, TextType(4000)));
        if (x.type.IsTimestamp() || (x.type.IsInterval() && !fe)) {
            tx.sql = AsText(x);
            if (fe) tx.sql.insert(tx.sql.size() - 1, fmt);
            tx.type = TextType(fe && fe->kind == Expr::Kind::String
                                   ? static_cast<int>(fe->text.size()) * 4 + 10
                                   : DisplaySize(x.type));
        } else if (x.type.IsBinaryFloat()) {
            if (fe) Fail(3001, "unimplemented feature");
            tx.sql = AsText(x);
            tx.type = TextType(DisplaySize(x.type));
        } else if (x.type.IsDate()) {
            tx.sql = "ora_date_text(" + x.sql + fmt + ")";
            int size = !fe                              ? DateTextSize(dateFormat_)
                       : fe->kind == Expr::Kind::String ? DateTextSize(fe->text)
                                                        : 75;
            tx.type = TextType(size);
        } else if (x.type.IsNumber() || (x.bind >= 0 && fe)) {
            tx.sql = "ora_num_text(" + AsNumber(x) + fmt + ")";
            int size = !fe                              ? 40
                       : fe->kind == Expr::Kind::String ? static_cast<int>(fe->text.size()) + 2
                                                        : 64;
            tx.type = TextType(size);
        } else {
            if (fe) Fail(1722, "invalid number");
            tx.sql = AsText(x);
            tx.type = x.type.IsRaw() ? TextType(x.type.size * 2) : x.type;
            tx.type.owner.clear();
            if (tx.type.code == tcLong) tx.type = TextType(4000);
        }
        return tx;
    }

    Tx ToNumberFn(Call& c) {
        c.tx.sql = "ora_to_number(" + AsStrictText(c.Arg(0, TextType(4000))) + ")";
        c.tx.type = NumberType();
        return c.tx;
    }

    Tx LengthFn(Call& c) {
        const bool bytes = c.Name() == "LENGTHB";
        Tx& x = c.Arg(0, TextType(4000));
        c.tx.type = NumberType();
        // An empty CLOB is not NULL: its length is 0.
        if (!bytes && x.type.code == tcClob) {
            c.tx.sql = "length(" + x.sql + ")";
            return c.tx;
        }
        c.tx.sql = (bytes ? "ora_lengthb(" : "ora_length(") +
                   (bytes && x.type.IsRaw() ? x.sql : AsText(x)) + ")";
        c.tx.type = NumberType();
        return c.tx;
    }

    // DBMS_LOB.GETLENGTH(lob) and DBMS_LOB.SUBSTR(lob[, amount[, offset]]): characters of a
    // CLOB, bytes of a BLOB; text arguments convert to a CLOB.
    Tx DbmsLobFn(Call& c) {
        Tx& x = c.Arg(0, LobType(false));
        const bool blob = x.type.IsRaw();
        if (x.type.code == tcBfile || (!x.type.IsText() && !blob)) Inconsistent("CLOB", x.type);
        if (c.Name() == "DBMS_LOB.GETLENGTH") {
            c.tx.sql = x.type.IsLob() ? "length(" + x.sql + ")"
                       : blob         ? "ora_lengthb(" + x.sql + ")"
                                      : "ora_length(" + AsText(x) + ")";
            c.tx.type = NumberType();
            return c.tx;
        }
        c.tx.sql = "ora_lob_substr(" + (blob ? x.sql : AsText(x)) + ", " +
                   (c.Count() > 1 ? AsNumber(c.Arg(1, NumberType())) : "32767") + ", " +
                   (c.Count() > 2 ? AsNumber(c.Arg(2, NumberType())) : "1") + ")";
        c.tx.type = blob ? BlobType() : TextType(4000);
        if (blob) c.tx.type.code = tcRaw;
        return c.tx;
    }

    Tx ChrFn(Call& c) {
        c.tx.sql = "ora_chr(" + AsNumber(c.Arg(0, NumberType())) + ")";
        c.tx.type = TextType(4);
        return c.tx;
    }

    // NVL, COALESCE, GREATEST, LEAST: the first argument's type decides the others'.
    Tx CoalesceFn(Call& c) {
        const std::string& f = c.Name();
        Tx& tx = c.tx;
        Tx& first = c.Arg(0, c.hint);
        SqlType type = first.type;
        type.owner.clear();
        std::string sql = first.sql;
        for (std::size_t i = 1; i < c.Count(); ++i) {
            Tx& x = c.Arg(i, Hint(type));
            if (type.code == 0) type = x.type;
            sql += ", " + (first.type.code ? Coerce(x, first.type) : x.sql);
            type.size = std::max(type.size, x.type.size);
        }
        const bool numbers = type.IsNumber();
        const char* name = f == "GREATEST" ? (numbers ? "ora_greatest" : "max")
                           : f == "LEAST"  ? (numbers ? "ora_least" : "min")
                                           : "coalesce";
        if (c.Count() == 1 && f != "COALESCE") return first;
        tx.sql = std::string(name) + "(" + sql + ")";
        if (c.Count() == 1) tx.sql = sql;
        tx.type = type;
        tx.type.nullable = true;
        return tx;
    }

    Tx Nvl2Fn(Call& c) {
        Tx& tx = c.tx;
        Tx& x = c.Arg(0);
        Tx& y = c.Arg(1, c.hint);
        Tx& z = c.Arg(2, Hint(y.type));
        tx.sql = "CASE WHEN " + x.sql + " IS NOT NULL THEN " + y.sql + " ELSE " +
                 Coerce(z, y.type) + " END";
        tx.type = y.type;
        tx.type.owner.clear();
        tx.type.size = std::max(y.type.size, z.type.size);
        tx.type.nullable = true;
        return tx;
    }

    Tx DecodeFn(Call& c) {
        Tx& tx = c.tx;
        Tx& x = c.Arg(0);
        tx.sql = "CASE";
        std::size_t n = c.Count();
        SqlType type;
        for (std::size_t i = 1; i + 1 < n; i += 2) {
            Tx& s = c.Arg(i, Hint(x.type));
            Tx& r = c.Arg(i + 1, Hint(type));
            tx.sql += " WHEN " + Operand(x, s) + " IS " + Operand(s, x) + " THEN " +
                      (type.code ? Coerce(r, type) : r.sql);
            if (type.code == 0) type = r.type;
            type.size = std::max(type.size, r.type.size);
        }
        if (n % 2 == 0) {
            Tx& d = c.Arg(n - 1, Hint(type));
            tx.sql += " ELSE " + (type.code ? Coerce(d, type) : d.sql);
            type.size = std::max(type.size, d.type.size);
        }
        tx.sql += " END";
        tx.type = type;
        tx.type.owner.clear();
        tx.type.nullable = true;
        return tx;
    }

    Tx SubstrFn(Call& c) {
        Tx& tx = c.tx;
        Tx& s = c.Arg(0, TextType(4000));
        tx.sql = "ora_substr(" + AsText(s) + ", " + AsNumber(c.Arg(1, NumberType()));
        if (c.Count() > 2) tx.sql += ", " + AsNumber(c.Arg(2, NumberType()));
        tx.sql += ")";
        tx.type = TextType(s.type.IsText() ? s.type.size : DisplaySize(s.type));
        return tx;
    }

    // UPPER, LOWER
    Tx CaseFn(Call& c) {
        Tx& tx = c.tx;
        Tx& s = c.Arg(0, TextType(4000));
        tx.sql = "ora_" + Lower(c.Name()) + "(" + AsText(s) + ")";
        tx.type = s.type.code == tcChar ? s.type : TextType(DisplaySize(s.type));
        tx.type.owner.clear();
        tx.type.nullable = true;
        return tx;
    }

    Tx TrimFn(Call& c) {
        Tx& tx = c.tx;
        Tx& s = c.Arg(0, TextType(4000));
        tx.sql = "ora_" + Lower(c.Name()) + "(" + AsText(s);
        if (c.Count() > 1) tx.sql += ", " + AsText(c.Arg(1, TextType(4000)));
        tx.sql += ")";
        tx.type = TextType(DisplaySize(s.type));
        return tx;
    }

    // REPLACE, INSTR, LPAD, RPAD, CONCAT: text arguments but for the positions and widths.
    Tx TextFn(Call& c) {
        const std::string& f = c.Name();
        Tx& tx = c.tx;
        const bool pad = f == "LPAD" || f == "RPAD";
        std::string sql;
        for (std::size_t i = 0; i < c.Count(); ++i) {
            bool numeric = (f == "INSTR" && i >= 2) || (pad && i == 1);
            Tx& x = c.Arg(i, numeric ? NumberType() : TextType(4000));
            sql += (i ? ", " : "") + (numeric ? AsNumber(x) : AsText(x));
        }
        tx.sql = "ora_" + Lower(f) + "(" + sql + ")";
        if (f == "INSTR") {
            tx.type = NumberType();
        } else if (f == "CONCAT") {
            tx.type = TextType(DisplaySize(c.a[0].type) + DisplaySize(c.a[1].type));
        } else if (pad && c.e.args[1]->kind == Expr::Kind::Number) {
            // The literal may be fractional or huge: its whole part, kept within VARCHAR2's
            // widest, gives the width.
            const double n = std::strtod(c.e.args[1]->text.c_str(), nullptr);
            tx.type = TextType(n >= 1 ? static_cast<int>(std::min(n, 32767.0)) * 4 : 1);
        } else {
            tx.type = TextType(4000);
        }
        return tx;
    }

    // ROUND, TRUNC: of a number, or TRUNC of a date.
    Tx RoundFn(Call& c) {
        const bool round = c.Name() == "ROUND";
        Tx& tx = c.tx;
        Tx& x = c.Arg(0, NumberType());
        if (x.type.IsDate()) {
            if (round) Fail(3001, "unimplemented feature");
            tx.sql = "ora_trunc_date(" + x.sql;
            if (c.Count() > 1) tx.sql += ", " + AsStrictText(c.Arg(1, TextType(10)));
            tx.sql += ")";
            tx.type = DateType();
            return tx;
        }
        tx.sql = (round ? "ora_round(" : "ora_trunc(") + AsNumber(x);
        if (c.Count() > 1) tx.sql += ", " + AsNumber(c.Arg(1, NumberType()));
        tx.sql += ")";
        tx.type = NumberType();
        return tx;
    }

    // ABS, SIGN, FLOOR, CEIL, SQRT, MOD, POWER: one runtime function takes the name.
    Tx MathFn(Call& c) {
        Tx& tx = c.tx;
        tx.sql = "ora_math('" + c.Name() + "'";
        for (std::size_t i = 0; i < c.Count(); ++i)
            tx.sql += ", " + AsNumber(c.Arg(i, NumberType()));
        tx.sql += ")";
        tx.type = NumberType();
        return tx;
    }

    Tx AddMonthsFn(Call& c) {
        c.tx.sql = "ora_add_months(" + AsDate(c.Arg(0, DateType())) + ", " +
                   AsNumber(c.Arg(1, NumberType())) + ")";
        c.tx.type = DateType();
        return c.tx;
    }

    Tx LastDayFn(Call& c) {
        c.tx.sql = "ora_last_day(" + AsDate(c.Arg(0, DateType())) + ")";
        c.tx.type = DateType();
        return c.tx;
    }

    // EMPTY_CLOB() / EMPTY_BLOB(): a LOB of length 0, which is not NULL.
    Tx EmptyLobFn(Call& c) {
        const bool blob = c.Name() == "EMPTY_BLOB";
        c.tx.sql = blob ? "X''" : "''";
        c.tx.type = blob ? BlobType() : LobType(false);
        return c.tx;
    }

    Tx ToLobFn(Call& c) {
        Tx& x = c.Arg(0, TextType(4000));
        if (x.type.IsRaw() || x.type.code == tcBfile) Inconsistent("CHAR", x.type);
        c.tx.sql = x.type.code == tcClob ? x.sql : "nullif(" + AsText(x) + ", '')";
        c.tx.type = LobType(c.Name() == "TO_NCLOB");
        return c.tx;
    }

    // The value names a directory object and a file; nothing reads the file.
    Tx BfileNameFn(Call& c) {
        Tx& dir = c.Arg(0, TextType(30));
        Tx& file = c.Arg(1, TextType(255));
        c.tx.sql = "(" + AsText(dir) + " || '/' || " + AsText(file) + ")";
        c.tx.type.code = tcBfile;
        c.tx.type.size = 530;
        return c.tx;
    }

    Tx HexToRawFn(Call& c) {
        Tx& x = c.Arg(0, TextType(4000));
        c.tx.sql = "ora_hextoraw(" + AsText(x) + ")";
        c.tx.type = TextType((DisplaySize(x.type) + 1) / 2, tcRaw);
        return c.tx;
    }

    Tx RawToHexFn(Call& c) {
        SqlType rawHint;
        rawHint.code = tcRaw;
        Tx& x = c.Arg(0, rawHint);
        c.tx.sql = x.type.IsRaw() || x.bind >= 0 ? "hex(" + x.sql + ")" : AsText(x);
        c.tx.type = TextType(x.type.IsRaw() ? x.type.size * 2 : 4000);
        return c.tx;
    }

    // --- queries ------------------------------------------------------------------

    // `targets`: the columns an INSERT ... SELECT writes, whose checks wrap the items.
    QueryOut Query(const sql::Query& q, const Scope* outer,
                   const std::vector<const ColumnMeta*>* targets) {
        Nested nested(*this);
        if (q.parts.size() == 1) return Part(q.parts[0], outer, targets, &q.orderBy);
        topQuery_ = false;
        QueryOut out;
        for (std::size_t i = 0; i < q.parts.size(); ++i) {
            QueryOut p = Part(q.parts[i], outer, targets, nullptr);
            if (i == 0) {
                out.columns = p.columns;
            } else {
                if (p.columns.size() != out.columns.size())
                    Fail(1789, "query block has incorrect number of result columns");
                if (q.operators[i - 1] != "UNION ALL") {
                    for (const OutColumn& c : out.columns) RejectLob(c.type);
                    for (const OutColumn& c : p.columns) RejectLob(c.type);
                }
                for (std::size_t c = 0; c < p.columns.size(); ++c) {
                    SqlType& t = out.columns[c].type;
                    const SqlType& u = p.columns[c].type;
                    if (t.code == 0) {
                        t = u;
                        continue;
                    }
                    if (u.code == 0) continue;
                    bool same = (t.IsNumber() && u.IsNumber()) || (t.IsDate() && u.IsDate()) ||
                                (t.IsText() && u.IsText()) || (t.IsRaw() && u.IsRaw());
                    if (!same)
                        Fail(1790,
                             "expression must have same datatype as corresponding expression");
                    if (t.code != u.code && t.IsText()) t.code = tcVarchar2;
                    t.size = std::max(t.size, u.size);
                    t.charLength = std::max(t.charLength, u.charLength);
                    t.nullable = t.nullable || u.nullable;
                    if (t.IsNumber() && (t.precision != u.precision || t.scale != u.scale)) {
                        t.precision = 0;
                        t.scale = -127;
                    }
                }
                std::string op = q.operators[i - 1] == "MINUS" ? "EXCEPT" : q.operators[i - 1];
                out.sql += " " + op + " ";
            }
            out.sql += p.limited ? "SELECT * FROM (" + p.sql + ")" : p.sql;
        }
        for (OutColumn& c : out.columns) c.type.owner.clear();
        if (!q.orderBy.empty()) {
            std::string keys;
            bool numbers = false;
            for (std::size_t i = 0; i < q.orderBy.size(); ++i) {
                const OrderItem& item = q.orderBy[i];
                int position = 0;
                const Expr& x = *item.expr;
                if (x.kind == Expr::Kind::Number) {
                    position = PositionOf(x.text, out.columns.size());
                } else if (x.kind == Expr::Kind::Column && x.qualifier.empty()) {
                    for (std::size_t c = 0; c < out.columns.size() && !position; ++c)
                        if (out.columns[c].name == x.text) position = static_cast<int>(c + 1);
                }
                if (!position)
                    Fail(1785, "ORDER BY item must be the number of a SELECT-list expression");
                const OutColumn& column = out.columns[static_cast<std::size_t>(position - 1)];
                RejectLob(column.type);
                std::string key = std::to_string(position);
                if (column.type.IsNumber()) {
                    key = "ora_nkey(" + Quote(column.name) + ")";
                    numbers = true;
                }
                keys += (i ? ", " : "") + key + Direction(item);
            }
            // A compound query orders only by its columns: numbers need the query wrapped.
            if (numbers)
                out.sql = "SELECT * FROM (" + out.sql + ") ORDER BY " + keys;
            else
                out.sql += " ORDER BY " + keys;
        }
        return out;
    }

    // An ORDER BY key: numbers sort by their exact value, others as SQLite sorts them.
    static std::string NumberKey(const Tx& item, const std::string& key) {
        RejectLob(item.type);
        if (item.type.code == tcTimestampTz) return "substr(" + item.sql + ", 1, 29)";  // instant
        return item.type.IsNumber() ? "ora_nkey(" + item.sql + ")" : key;
    }

    static int PositionOf(const std::string& text, std::size_t count) {
        Value v = TextToNumber(text);
        if (v.kind != Value::Kind::Integer || v.integer < 1 ||
            v.integer > static_cast<std::int64_t>(count))
            Fail(1785, "ORDER BY item must be the number of a SELECT-list expression");
        return static_cast<int>(v.integer);
    }

    static std::string Direction(const OrderItem& item) {
        // Oracle sorts NULLs as the highest value: last ascending, first descending.
        std::string s = item.descending ? " DESC" : " ASC";
        int nulls = item.nulls ? item.nulls : (item.descending ? 1 : 2);
        return s + (nulls == 1 ? " NULLS FIRST" : " NULLS LAST");
    }

    QueryOut Part(const Select& s, const Scope* outer,
                  const std::vector<const ColumnMeta*>* targets,
                  const std::vector<OrderItem>* orderBy) {
        const bool top = topQuery_;
        topQuery_ = false;
        Scope scope;
        scope.outer = outer;
        std::string from;
        for (const TableRef& r : s.from) {
            std::string sql;
            scope.sources.push_back(MakeSource(r, sql));
            from += (from.empty() ? "" : ", ") + sql;
        }
        // ROWNUM conditions become a LIMIT on the rows that pass the other conditions.
        std::vector<Expr*> conjuncts;
        if (s.where) Conjuncts(s.where.get(), conjuncts);
        std::string limit;
        std::vector<Expr*> rest;
        for (Expr* c : conjuncts) {
            if (c->kind == Expr::Kind::Compare &&
                (IsRownum(*c->args[0]) || IsRownum(*c->args[1])) &&
                !(IsRownum(*c->args[0]) && IsRownum(*c->args[1]))) {
                bool left = IsRownum(*c->args[0]);
                const Expr& other = *c->args[left ? 1 : 0];
                if (ContainsRownum(other)) Fail(3001, "unimplemented feature");
                std::string op = left ? c->text : FlipOperator(c->text);
                Scope valueScope = scope;
                Tx v = Value_(other, valueScope, NumberType());
                if (v.column) Fail(3001, "unimplemented feature");
                limit += (limit.empty() ? "" : ", ") + Literal(op) + ", " + AsNumber(v);
            } else {
                if (ContainsRownum(*c)) Fail(3001, "unimplemented feature");
                rest.push_back(c);
            }
        }
        std::string where;
        {
            Scope ws = scope;
            for (Expr* c : rest) {
                Tx t = Condition(*c, ws);
                where += (where.empty() ? "" : " AND ") + t.sql;
            }
        }
        QueryOut out;
        std::vector<Tx> items;
        Scope is = scope;
        is.selectList = true;
        is.aggregatesAllowed = true;
        std::string list;
        std::vector<std::string> aliases;  // explicit aliases by output position
        for (const SelectItem& item : s.items) {
            if (item.star) {
                bool any = false;
                for (const Source& src : scope.sources) {
                    if (!item.starQualifier.empty() && src.alias != item.starQualifier) continue;
                    any = true;
                    for (const auto& [name, type] : src.columns) {
                        Tx t;
                        t.sql = src.sqlAlias + "." + Quote(name);
                        t.type = type;
                        t.column = true;
                        items.push_back(t);
                        out.columns.push_back({name, type});
                        aliases.emplace_back();
                    }
                }
                if (!any) Fail(904, "\"" + item.starQualifier + "\": invalid identifier");
                continue;
            }
            std::size_t index = items.size();
            SqlType hint;
            if (targets && index < targets->size()) hint = (*targets)[index]->type;
            Tx t = Translate(*item.expr, is, hint);
            if (t.boolean) Fail(923, "FROM keyword not found where expected");
            std::string name = !item.alias.empty()                     ? item.alias
                               : item.expr->kind == Expr::Kind::Column ? item.expr->text
                                                                       : item.display;
            if (name.size() > 128) name.resize(128);
            items.push_back(t);
            out.columns.push_back({name, t.type});
            aliases.push_back(item.alias);
        }
        bool aggregated = !s.groupBy.empty() || s.having;
        for (const Tx& t : items) aggregated = aggregated || t.aggregate;
        if (s.distinct)
            for (const Tx& t : items) RejectLob(t.type);
        std::vector<std::string> groups;
        std::string groupSql;
        for (const ExprPtr& g : s.groupBy) {
            Scope gs = scope;
            Tx t = Value_(*g, gs);
            if (t.aggregate) Fail(934, "group function is not allowed here");
            RejectLob(t.type);
            groups.push_back(t.sql);
            groupSql += (groupSql.empty() ? "" : ", ") + t.sql;
        }
        std::string having;
        if (s.having) {
            Scope hs = scope;
            hs.aggregatesAllowed = true;
            having = Condition(*s.having, hs).sql;
        }
        if (aggregated) {
            for (const Tx& t : items) {
                if (!t.column || t.aggregate) {
                    if (t.column && t.aggregate &&
                        std::find(groups.begin(), groups.end(), t.sql) == groups.end())
                        Fail(s.groupBy.empty() ? 937 : 979,
                             s.groupBy.empty() ? "not a single-group group function"
                                               : "not a GROUP BY expression");
                    continue;
                }
                if (std::find(groups.begin(), groups.end(), t.sql) == groups.end())
                    Fail(s.groupBy.empty() ? 937 : 979, s.groupBy.empty()
                                                            ? "not a single-group group function"
                                                            : "not a GROUP BY expression");
            }
        }
        if (targets) {
            if (items.size() < targets->size()) Fail(947, "not enough values");
            if (items.size() > targets->size()) Fail(913, "too many values");
        }
        // The top query may read its plain LOB columns by reference: the type and the row
        // instead of the value, which then streams from the file.
        std::string refList;
        std::vector<int> refRowid(items.size(), -1);
        std::vector<std::pair<std::string, std::string>> refColumn(items.size());
        std::string hidden;
        for (std::size_t i = 0; i < items.size(); ++i) {
            std::string sql = targets ? Store(items[i], *(*targets)[i]) : items[i].sql;
            list += (i ? ", " : "") + sql + " AS " + Quote(out.columns[i].name);
            std::string ref = sql;
            if (top && items[i].type.IsLob() && items[i].column && !items[i].aggregate) {
                for (const Source& src : scope.sources) {
                    if (!src.table) continue;
                    for (const auto& column : src.columns) {
                        if (refRowid[i] >= 0 || sql != src.sqlAlias + "." + Quote(column.first))
                            continue;
                        refRowid[i] =
                            static_cast<int>(items.size()) +
                            static_cast<int>(std::count_if(refRowid.begin(), refRowid.end(),
                                                           [](int r) { return r >= 0; }));
                        refColumn[i] = {src.tableName, column.first};
                        ref = "typeof(" + sql + ")";
                        hidden += ", " + src.sqlAlias + ".rowid";
                    }
                }
            }
            refList += (i ? ", " : "") + ref + " AS " + Quote(out.columns[i].name);
        }
        bool ordered = orderBy && !orderBy->empty();
        bool wrap = !limit.empty() && (ordered || aggregated || s.distinct);
        std::string sql = std::string("SELECT ") + (s.distinct ? "DISTINCT " : "") + list;
        const std::size_t listEnd = sql.size();
        if (wrap) {
            if (scope.sources.size() != 1) Fail(3001, "unimplemented feature");
            // The explicit order keeps SQLite from taking the rows in the outer query's order.
            sql += " FROM (SELECT * FROM " + from + (where.empty() ? "" : " WHERE " + where) +
                   (scope.sources[0].table ? " ORDER BY rowid" : "") + " LIMIT ora_rownum_limit(" +
                   limit + ")) AS " + scope.sources[0].sqlAlias;
        } else {
            sql += " FROM " + from;
            if (!where.empty()) sql += " WHERE " + where;
        }
        if (!groupSql.empty()) sql += " GROUP BY " + groupSql;
        if (!having.empty()) sql += " HAVING " + having;
        if (ordered) {
            sql += " ORDER BY ";
            Scope os = scope;
            os.aggregatesAllowed = aggregated;
            for (std::size_t i = 0; i < orderBy->size(); ++i) {
                const OrderItem& item = (*orderBy)[i];
                const Expr& x = *item.expr;
                std::string key;
                if (x.kind == Expr::Kind::Number) {
                    const int position = PositionOf(x.text, items.size());
                    key = NumberKey(items[static_cast<std::size_t>(position - 1)],
                                    std::to_string(position));
                } else if (x.kind == Expr::Kind::Column && x.qualifier.empty()) {
                    for (std::size_t c = 0; c < aliases.size() && key.empty(); ++c)
                        if (!aliases[c].empty() && aliases[c] == x.text)
                            key = NumberKey(items[c], std::to_string(c + 1));
                }
                if (key.empty()) {
                    Tx t = Value_(x, os);
                    key = NumberKey(t, t.sql);
                }
                sql += (i ? ", " : "") + key + Direction(item);
            }
        }
        if (!wrap && !limit.empty()) {
            sql += " LIMIT ora_rownum_limit(" + limit + ")";
            out.limited = true;
        }
        out.sql = sql;
        if (!hidden.empty() && !wrap && !s.distinct && !targets) {
            out.lobs.sql = "SELECT " + refList + hidden + sql.substr(listEnd);
            out.lobs.rowidColumn = std::move(refRowid);
            out.lobs.source = std::move(refColumn);
        }
        for (OutColumn& c : out.columns) {
            if (!c.type.owner.empty()) c.type.owner.clear();
        }
        return out;
    }

    // --- DML --------------------------------------------------------------------------

    // A value written to a column: converted and checked as Oracle stores it.
    std::string Store(const Tx& v, const ColumnMeta& c) {
        const SqlType& t = c.type;
        if (v.bind >= 0) {
            SqlType expect = t;
            bindTypes_[static_cast<std::size_t>(v.bind)] = expect;
            return v.sql;
        }
        if (v.type.code == 0 && v.sql == "NULL") return v.sql;
        std::string owner = Literal(t.owner);
        if (t.IsBinaryFloat() || t.IsTimestamp() || t.IsInterval()) return AsSpecial(v, t);
        if (t.IsLob()) return StoreLob(v, t);
        if (t.IsNumber()) {
            if (v.type.IsDate() || v.type.IsRaw() || v.type.IsTimestamp() || v.type.IsInterval())
                Inconsistent("NUMBER", v.type);
            if (t.Constrained() || t.IsFloat())
                return "ora_num(" + AsNumber(v) + ", " + std::to_string(t.precision) + ", " +
                       std::to_string(t.scale) + ")";
            return v.type.IsNumber() ? v.sql : "ora_to_number(" + v.sql + ")";
        }
        if (t.IsDate()) return AsDate(v);
        if (t.IsRaw()) {
            if (v.type.IsNumber() || v.type.IsDate()) Inconsistent("BINARY", v.type);
            return "ora_raw(" + v.sql + ", " + std::to_string(t.code == tcRaw ? t.size : 0) + ", " +
                   owner + ")";
        }
        std::string text = AsText(v);
        if (t.code == tcLong) return v.type.IsNumber() ? "ora_text(" + v.sql + ")" : text;
        int max = t.charSemantics ? t.charLength : t.size;
        return std::string(t.code == tcChar ? "ora_char(" : "ora_vc(") + text + ", " +
               std::to_string(max) + ", " + (t.charSemantics ? "1" : "0") + ", " + owner + ")";
    }

    // A LOB value keeps an empty LOB; converted text and bytes turn '' into NULL.
    std::string StoreLob(const Tx& v, const SqlType& t) {
        const char* expected = t.code == tcBlob ? "BLOB" : t.code == tcBfile ? "FILE" : "CLOB";
        if (v.type.IsLob() && v.type.code != t.code) Inconsistent(expected, v.type);
        if (v.type.code == t.code) return v.sql;
        if (t.code == tcBfile) Inconsistent(expected, v.type);
        if (t.code == tcBlob) {
            if (!v.type.IsRaw() && !v.type.IsText() && v.type.code != 0)
                Inconsistent(expected, v.type);
            return "nullif(" + (v.type.IsRaw() ? v.sql : "ora_hextoraw(" + v.sql + ")") + ", X'')";
        }
        if (v.type.IsRaw()) Inconsistent(expected, v.type);
        return "nullif(" + AsText(v) + ", '')";
    }

    std::string DefaultValue(const ColumnMeta& c) {
        if (c.defaultSql.empty()) return "NULL";
        ExprPtr e = ParseExpression(c.defaultSql);
        Scope none;
        Tx v = Value_(*e, none, Hint(c.type));
        return Store(v, c);
    }

    std::string Insert(const ParsedStatement& s) {
        const TableMeta& t = Table(s.table);
        std::vector<const ColumnMeta*> targets;
        if (s.columns.empty()) {
            for (const ColumnMeta& c : t.columns) targets.push_back(&c);
        } else {
            for (const std::string& name : s.columns) {
                const ColumnMeta* c = t.Find(name);
                if (!c) Fail(904, "\"" + name + "\": invalid identifier");
                if (std::find(targets.begin(), targets.end(), c) != targets.end())
                    Fail(957, "duplicate column name");
                targets.push_back(c);
            }
        }
        std::string cols, values;
        for (std::size_t i = 0; i < targets.size(); ++i)
            cols += (i ? ", " : "") + Quote(targets[i]->name);
        // Columns left out take their DEFAULT.
        std::string defaultCols, defaultValues;
        for (const ColumnMeta& c : t.columns) {
            if (c.defaultSql.empty()) continue;
            if (std::find(targets.begin(), targets.end(), &c) != targets.end()) continue;
            defaultCols += ", " + Quote(c.name);
            defaultValues += ", " + DefaultValue(c);
        }
        std::string sql = "INSERT INTO " + Quote(t.name) + " (" + cols + defaultCols + ") ";
        if (s.query) {
            if (!defaultCols.empty()) {
                QueryOut q = Query(*s.query, nullptr, &targets);
                std::string outer;
                for (std::size_t i = 0; i < q.columns.size(); ++i)
                    outer += (i ? ", " : "") + std::string("\"s\".") + Quote(q.columns[i].name);
                return sql + "SELECT " + outer + defaultValues + " FROM (" + q.sql + ") AS \"s\"";
            }
            return sql + Query(*s.query, nullptr, &targets).sql;
        }
        if (s.values.size() < targets.size()) Fail(947, "not enough values");
        if (s.values.size() > targets.size()) Fail(913, "too many values");
        Scope scope;
        for (std::size_t i = 0; i < targets.size(); ++i) {
            const Expr& e = *s.values[i];
            std::string v;
            if (e.kind == Expr::Kind::Default) {
                v = DefaultValue(*targets[i]);
            } else {
                Tx tx = Value_(e, scope, targets[i]->type);
                if (tx.aggregate) Fail(934, "group function is not allowed here");
                v = Store(tx, *targets[i]);
            }
            values += (i ? ", " : "") + v;
        }
        return sql + "VALUES (" + values + defaultValues + ")";
    }

    Scope TableScope(const TableMeta& t, const TableRef& r) {
        Scope scope;
        Source src;
        src.alias = r.alias.empty() ? t.name : r.alias;
        src.sqlAlias = Quote(t.name);
        src.table = true;
        src.object = TableObjectNumber(t.name);
        for (const ColumnMeta& c : t.columns) src.columns.emplace_back(c.name, c.type);
        scope.sources.push_back(std::move(src));
        return scope;
    }

    std::string Update(const ParsedStatement& s) {
        const TableMeta& t = Table(s.table);
        Scope scope = TableScope(t, s.table);
        std::string sets;
        std::set<std::string> seen;
        for (std::size_t i = 0; i < s.columns.size(); ++i) {
            const ColumnMeta* c = t.Find(s.columns[i]);
            if (!c) Fail(904, "\"" + s.columns[i] + "\": invalid identifier");
            if (!seen.insert(c->name).second) Fail(1733, "virtual column not allowed here");
            const Expr& e = *s.values[i];
            std::string v;
            if (e.kind == Expr::Kind::Default) {
                v = DefaultValue(*c);
            } else {
                Tx tx = Value_(e, scope, c->type);
                if (tx.aggregate) Fail(934, "group function is not allowed here");
                v = Store(tx, *c);
            }
            sets += (i ? ", " : "") + Quote(c->name) + " = " + v;
        }
        std::string sql = "UPDATE " + Quote(t.name) + " SET " + sets;
        if (s.where) sql += " WHERE " + Condition(*s.where, scope).sql;
        return sql;
    }

    std::string Delete(const ParsedStatement& s) {
        const TableMeta& t = Table(s.table);
        Scope scope = TableScope(t, s.table);
        std::string sql = "DELETE FROM " + Quote(t.name);
        // A WHERE clause keeps SQLite deleting row by row, so the last row is known.
        sql += " WHERE " + (s.where ? Condition(*s.where, scope).sql : std::string("1"));
        return sql;
    }

    const Catalog& catalog_;
    const std::string& schema_;
    const std::string& dateFormat_;
    std::vector<SqlType> bindTypes_;
    int aliases_ = 0;
    int depth_ = 0;
    bool topQuery_ = false;  // the next query part is the statement's own select list
};

}  // namespace

Translation Translate(const ParsedStatement& statement, const Catalog& catalog,
                      const std::string& schema, const std::string& dateFormat, int bindCount) {
    Translator t(catalog, schema, dateFormat, bindCount);
    return t.Run(statement);
}

}  // namespace velnor::ocisqlite::sql
