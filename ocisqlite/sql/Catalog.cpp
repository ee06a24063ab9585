#include "ocisqlite/sql/Catalog.h"

#include <sqlite3.h>

#include <cctype>
#include <cstdio>
#include <set>

#include "ocisqlite/sql/Convert.h"
#include "ocisqlite/sql/Parser.h"

namespace velnor::ocisqlite::sql {

namespace {

void Exec(sqlite3* db, const std::string& sql) {
    char* err = nullptr;
    if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &err) != SQLITE_OK) {
        std::string text = err ? err : "unknown";
        sqlite3_free(err);
        if (text.rfind("ORA-", 0) == 0 && text.size() > 11)
            Fail(std::stoi(text.substr(4, 5)), text.substr(11));
        Fail(600, "internal error code, arguments: [sqlite], [" + text + "]");
    }
}

// RAII for one prepared statement of the metadata code.
class MetaQuery {
public:
    MetaQuery(sqlite3* db, const std::string& sql) {
        if (sqlite3_prepare_v2(db, sql.c_str(), -1, &stmt_, nullptr) != SQLITE_OK)
            Fail(600, std::string("internal error code, arguments: [sqlite], [") +
                          sqlite3_errmsg(db) + "]");
    }
    ~MetaQuery() { sqlite3_finalize(stmt_); }
    MetaQuery(const MetaQuery&) = delete;
    MetaQuery& operator=(const MetaQuery&) = delete;
    sqlite3_stmt* operator*() const { return stmt_; }
    bool Step() {
        int rc = sqlite3_step(stmt_);
        if (rc == SQLITE_ROW) return true;
        if (rc == SQLITE_DONE) return false;
        Fail(600, std::string("internal error code, arguments: [sqlite], [") +
                      sqlite3_errmsg(sqlite3_db_handle(stmt_)) + "]");
    }
    std::string Text(int i) const {
        auto p = reinterpret_cast<const char*>(sqlite3_column_text(stmt_, i));
        return p ? std::string(p, static_cast<std::size_t>(sqlite3_column_bytes(stmt_, i))) : "";
    }
    bool IsNull(int i) const { return sqlite3_column_type(stmt_, i) == SQLITE_NULL; }
    int Int(int i) const { return sqlite3_column_int(stmt_, i); }
    void Bind(int i, const std::string& v) {
        sqlite3_bind_text(stmt_, i, v.data(), static_cast<int>(v.size()), SQLITE_TRANSIENT);
    }
    void Bind(int i, long long v) { sqlite3_bind_int64(stmt_, i, v); }
    void BindNull(int i) { sqlite3_bind_null(stmt_, i); }

private:
    sqlite3_stmt* stmt_ = nullptr;
};

constexpr char kSeparator = '\x1f';

std::vector<std::string> SplitColumns(const std::string& s) {
    std::vector<std::string> out;
    std::size_t b = 0;
    while (true) {
        std::size_t e = s.find(kSeparator, b);
        out.push_back(s.substr(b, e == std::string::npos ? std::string::npos : e - b));
        if (e == std::string::npos) return out;
        b = e + 1;
    }
}

bool StartsWithNoCase(const std::string& s, std::string_view prefix) {
    if (s.size() < prefix.size()) return false;
    for (std::size_t i = 0; i < prefix.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(s[i])) != prefix[i]) return false;
    return true;
}

}  // namespace

std::string Quote(const std::string& name) {
    std::string out = "\"";
    for (char c : name) {
        if (c == '"') out.push_back('"');
        out.push_back(c);
    }
    return out + "\"";
}

std::string Literal(const std::string& text) {
    // SQLite's tokenizer ends the statement at a NUL, so such text goes in as hex.
    if (text.find('\0') != std::string::npos) return "CAST(X'" + RawToHex(text) + "' AS TEXT)";
    std::string out = "'";
    for (char c : text) {
        if (c == '\'') out.push_back('\'');
        out.push_back(c);
    }
    return out + "'";
}

const ColumnMeta* TableMeta::Find(const std::string& column) const {
    for (const ColumnMeta& c : columns)
        if (c.name == column) return &c;
    return nullptr;
}

SqlType TypeOfSpec(const TypeSpec& decl, std::string& typeName) {
    SqlType t;
    typeName = decl.name;
    if (decl.name == "NUMBER") {
        t.code = tcNumber;
        t.size = 22;
        if (decl.length < 0) {
            t.precision = 0;
            t.scale = -127;
        } else {
            t.precision = decl.length;
            t.scale = decl.scale;
        }
    } else if (decl.name == "FLOAT") {
        t.code = tcNumber;
        t.size = 22;
        t.precision = decl.length;
        t.scale = -127;
    } else if (decl.name == "VARCHAR2" || decl.name == "CHAR") {
        t.code = decl.name == "CHAR" ? tcChar : tcVarchar2;
        t.charSemantics = decl.charSemantics;
        t.charLength = decl.length;
        int limit = decl.name == "CHAR" ? 2000 : 4000;
        t.size = decl.charSemantics ? std::min(decl.length * 4, limit) : decl.length;
    } else if (decl.name == "NVARCHAR2" || decl.name == "NCHAR") {
        t.code = decl.name == "NCHAR" ? tcChar : tcVarchar2;
        t.national = true;
        t.charSemantics = true;
        t.charLength = decl.length;
        t.size = decl.length * 2;
    } else if (decl.name == "DATE") {
        t.code = tcDate;
        t.size = 7;
    } else if (decl.name == "LONG") {
        t.code = tcLong;
    } else if (decl.name == "RAW") {
        t.code = tcRaw;
        t.size = decl.length;
    } else if (decl.name == "LONG RAW") {
        t.code = tcLongRaw;
    } else if (decl.name == "CLOB" || decl.name == "NCLOB" || decl.name == "BLOB") {
        // The size describe and the dictionary report for a LOB column.
        t.code = decl.name == "BLOB" ? tcBlob : tcClob;
        t.national = decl.name == "NCLOB";
        t.size = 4000;
        t.charLength = 0;
    } else if (decl.name == "BFILE") {
        t.code = tcBfile;
        t.size = 530;
    } else if (decl.name == "BINARY_FLOAT" || decl.name == "BINARY_DOUBLE") {
        t.code = decl.name == "BINARY_FLOAT" ? tcBinaryFloat : tcBinaryDouble;
        t.size = decl.name == "BINARY_FLOAT" ? 4 : 8;
    } else if (decl.name.rfind("TIMESTAMP", 0) == 0) {
        // Describe: the fractional precision in the scale, the sizes of the internal forms.
        bool tz = decl.name == "TIMESTAMP WITH TIME ZONE";
        bool ltz = decl.name == "TIMESTAMP WITH LOCAL TIME ZONE";
        t.code = tz ? tcTimestampTz : ltz ? tcTimestampLtz : tcTimestamp;
        t.size = tz ? 13 : 11;
        t.scale = decl.scale < 0 ? 6 : decl.scale;
        typeName = "TIMESTAMP(" + std::to_string(t.scale) + ")" + decl.name.substr(9);
    } else if (decl.name.rfind("INTERVAL", 0) == 0) {
        bool ym = decl.name == "INTERVAL YEAR TO MONTH";
        t.code = ym ? tcIntervalYm : tcIntervalDs;
        t.size = ym ? 5 : 11;
        t.precision = decl.length < 0 ? 2 : decl.length;
        t.scale = ym ? 0 : decl.scale < 0 ? 6 : decl.scale;
        typeName = ym ? "INTERVAL YEAR(" + std::to_string(t.precision) + ") TO MONTH"
                      : "INTERVAL DAY(" + std::to_string(t.precision) + ") TO SECOND(" +
                            std::to_string(t.scale) + ")";
    }
    return t;
}

void Catalog::Initialize(sqlite3* db) {
    Exec(db,
         std::string("CREATE TABLE IF NOT EXISTS \"") + kTables +
             "\"(table_name TEXT PRIMARY KEY) WITHOUT ROWID;"
             "CREATE TABLE IF NOT EXISTS \"" +
             kColumns +
             "\"(table_name TEXT NOT NULL, column_id INTEGER NOT NULL, column_name TEXT NOT NULL,"
             " data_type TEXT NOT NULL, data_length INTEGER, data_precision INTEGER,"
             " data_scale INTEGER, char_length INTEGER, char_used TEXT, nullable TEXT,"
             " data_default TEXT, PRIMARY KEY(table_name, column_id)) WITHOUT ROWID;"
             "CREATE TABLE IF NOT EXISTS \"" +
             kConstraints +
             "\"(constraint_name TEXT PRIMARY KEY, table_name TEXT NOT NULL,"
             " constraint_type TEXT NOT NULL, columns TEXT NOT NULL);");
}

void Catalog::Refresh(sqlite3* db, const std::string& schema) {
    long long version = 0;
    {
        MetaQuery v(db, "PRAGMA schema_version");
        if (v.Step()) version = sqlite3_column_int64(*v, 0);
    }
    if (version == version_) return;
    tables_.clear();
    {
        MetaQuery q(db, std::string("SELECT table_name, column_name, data_type, data_length,"
                                    " data_precision, data_scale, char_length, char_used, nullable,"
                                    " data_default FROM \"") +
                            kColumns + "\" ORDER BY table_name, column_id");
        while (q.Step()) {
            TableMeta& t = tables_[q.Text(0)];
            t.name = q.Text(0);
            ColumnMeta c;
            c.name = q.Text(1);
            c.typeName = q.Text(2);
            TypeSpec decl;
            decl.name = c.typeName;
            if (c.typeName == "NUMBER") {
                decl.length = q.IsNull(4) ? -1 : q.Int(4);
                decl.scale = q.IsNull(5) ? -1 : q.Int(5);
            } else if (c.typeName == "FLOAT") {
                decl.length = q.Int(4);
            } else if (c.typeName.rfind("TIMESTAMP", 0) == 0 ||
                       c.typeName.rfind("INTERVAL", 0) == 0) {
                // The dictionary name carries the precisions: drop them to get the type.
                std::string name;
                for (std::size_t k = 0; k < c.typeName.size(); ++k) {
                    if (c.typeName[k] == '(')
                        k = c.typeName.find(')', k);
                    else
                        name += c.typeName[k];
                }
                decl.name = name;
                decl.length = q.IsNull(4) ? -1 : q.Int(4);
                decl.scale = q.IsNull(5) ? -1 : q.Int(5);
            } else {
                decl.length = q.IsNull(6) ? q.Int(3) : q.Int(6);
                decl.charSemantics = q.Text(7) == "C";
            }
            c.type = TypeOfSpec(decl, c.typeName);
            c.type.nullable = q.Text(8) != "N";
            c.type.owner = Quote(schema) + "." + Quote(t.name) + "." + Quote(c.name);
            c.defaultSql = q.Text(9);
            t.columns.push_back(std::move(c));
        }
    }
    {
        MetaQuery q(
            db,
            std::string("SELECT constraint_name, table_name, constraint_type, columns FROM \"") +
                kConstraints + "\"");
        while (q.Step()) {
            auto it = tables_.find(q.Text(1));
            if (it == tables_.end()) continue;
            std::string kind = q.Text(2);
            it->second.constraints.push_back(
                {q.Text(0), kind.empty() ? 'U' : kind[0], SplitColumns(q.Text(3))});
        }
    }
    version_ = version;
}

const TableMeta* Catalog::Find(const std::string& table) const {
    auto it = tables_.find(table);
    return it == tables_.end() ? nullptr : &it->second;
}

void Catalog::CreateTable(sqlite3* db, const std::string& schema, const ParsedStatement& s) {
    const std::string& name = s.table.name;
    if (!s.table.schema.empty() && s.table.schema != schema) Fail(1031, "insufficient privileges");
    if (StartsWithNoCase(name, "sqlite_") || StartsWithNoCase(name, "ocisqlite$"))
        Fail(903, "invalid table name");
    static const std::set<std::string> dictionary = {"DUAL", "USER_TABLES", "TABS",
                                                     "USER_TAB_COLUMNS", "COLS"};
    if (Find(name) || dictionary.count(name))
        Fail(955, "name is already used by an existing object");
    {
        // A table made outside the engine (sqlite3 shell) still takes the name.
        MetaQuery q(db, "SELECT 1 FROM sqlite_master WHERE lower(name) = lower(?1)");
        q.Bind(1, name);
        if (q.Step()) Fail(955, "name is already used by an existing object");
    }
    std::set<std::string> names;
    int longs = 0;
    for (const ColumnDef& c : s.columnDefs) {
        if (!names.insert(c.name).second) Fail(957, "duplicate column name");
        if (c.type.name == "LONG" || c.type.name == "LONG RAW") ++longs;
    }
    if (longs > 1) Fail(1754, "a table may contain only one column of type LONG");
    if (s.columnDefs.size() > 1000)
        Fail(1792, "maximum number of columns in a table or view is 1000");

    // Constraint names: given ones must be free; the rest get SYS_Cnnnnnn names.
    std::vector<TableConstraint> constraints = s.constraints;
    std::set<std::string> pkColumns;
    int primaryKeys = 0;
    long long next = 0;
    {
        MetaQuery q(db, std::string("SELECT count(*) FROM \"") + kConstraints + "\"");
        if (q.Step()) next = sqlite3_column_int64(*q, 0);
    }
    std::set<std::string> used;
    for (TableConstraint& c : constraints) {
        if (c.kind == 'P' && ++primaryKeys > 1) Fail(2260, "table can have only one primary key");
        std::set<std::string> seen;
        for (const std::string& col : c.columns) {
            if (!names.count(col)) Fail(904, "\"" + col + "\": invalid identifier");
            if (!seen.insert(col).second) Fail(957, "duplicate column name");
            if (c.kind == 'P') pkColumns.insert(col);
        }
        if (c.name.empty()) {
            do {
                char buf[32];
                std::snprintf(buf, sizeof buf, "SYS_C%07lld", 7000 + ++next);
                c.name = buf;
                MetaQuery q(db, std::string("SELECT 1 FROM \"") + kConstraints +
                                    "\" WHERE constraint_name = ?1");
                q.Bind(1, c.name);
                if (q.Step() || used.count(c.name)) c.name.clear();
            } while (c.name.empty());
        } else {
            MetaQuery q(db, std::string("SELECT 1 FROM \"") + kConstraints +
                                "\" WHERE constraint_name = ?1");
            q.Bind(1, c.name);
            if (q.Step() || used.count(c.name))
                Fail(2264, "name already used by an existing constraint");
        }
        used.insert(c.name);
    }
    // Defaults must at least parse and hold no column names.
    for (const ColumnDef& c : s.columnDefs) {
        if (c.defaultSql.empty()) continue;
        ExprPtr e = ParseExpression(c.defaultSql);
        std::vector<const Expr*> stack{e.get()};
        while (!stack.empty()) {
            const Expr* x = stack.back();
            stack.pop_back();
            if (x->kind == Expr::Kind::Column && x->text != "SYSDATE" && x->text != "USER")
                Fail(984, "column not allowed here");
            for (const auto& a : x->args) stack.push_back(a.get());
        }
    }

    std::string sql = "CREATE TABLE " + Quote(name) + " (";
    for (std::size_t i = 0; i < s.columnDefs.size(); ++i) {
        const ColumnDef& c = s.columnDefs[i];
        std::string typeName;
        SqlType t = TypeOfSpec(c.type, typeName);
        if (i) sql += ", ";
        sql += Quote(c.name);
        sql += t.IsNumber()        ? " NUMERIC"
               : t.IsRaw()         ? " BLOB"
               : t.IsBinaryFloat() ? " REAL"
               : t.IsInterval()    ? " INTEGER"
                                   : " TEXT";
        if (c.notNull || pkColumns.count(c.name)) sql += " NOT NULL";
    }
    for (const TableConstraint& c : constraints) {
        sql += ", CONSTRAINT " + Quote(c.name) + (c.kind == 'P' ? " PRIMARY KEY (" : " UNIQUE (");
        for (std::size_t i = 0; i < c.columns.size(); ++i)
            sql += (i ? ", " : "") + Quote(c.columns[i]);
        sql += ")";
    }
    sql += ")";
    Exec(db, sql);

    {
        MetaQuery q(db, std::string("INSERT INTO \"") + kTables + "\" VALUES (?1)");
        q.Bind(1, name);
        q.Step();
    }
    MetaQuery col(db, std::string("INSERT INTO \"") + kColumns +
                          "\" VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11)");
    for (std::size_t i = 0; i < s.columnDefs.size(); ++i) {
        const ColumnDef& c = s.columnDefs[i];
        std::string typeName;
        SqlType t = TypeOfSpec(c.type, typeName);
        sqlite3_reset(*col);
        col.Bind(1, name);
        col.Bind(2, static_cast<long long>(i + 1));
        col.Bind(3, c.name);
        col.Bind(4, typeName);
        if (typeName == "NUMBER") {
            col.Bind(5, 22LL);
            if (c.type.length < 0) {
                col.BindNull(6);
                col.BindNull(7);
            } else {
                col.Bind(6, static_cast<long long>(t.precision));
                col.Bind(7, static_cast<long long>(t.scale));
            }
            col.BindNull(8);
            col.BindNull(9);
        } else if (typeName == "FLOAT") {
            col.Bind(5, 22LL);
            col.Bind(6, static_cast<long long>(t.precision));
            col.BindNull(7);
            col.BindNull(8);
            col.BindNull(9);
        } else if (IsTimestamp(t.code) || t.IsInterval()) {
            col.Bind(5, static_cast<long long>(t.size));
            if (t.IsInterval())
                col.Bind(6, static_cast<long long>(t.precision));
            else
                col.BindNull(6);
            col.Bind(7, static_cast<long long>(t.scale));
            col.BindNull(8);
            col.BindNull(9);
        } else {
            col.Bind(5, static_cast<long long>(t.size));
            col.BindNull(6);
            col.BindNull(7);
            if (t.IsText() && typeName != "LONG" && !t.IsLob()) {
                col.Bind(8, static_cast<long long>(t.charLength));
                col.Bind(9, std::string(t.charSemantics ? "C" : "B"));
            } else {
                col.BindNull(8);
                col.BindNull(9);
            }
        }
        col.Bind(10, std::string(c.notNull || pkColumns.count(c.name) ? "N" : "Y"));
        if (c.defaultSql.empty())
            col.BindNull(11);
        else
            col.Bind(11, c.defaultSql);
        col.Step();
    }
    MetaQuery con(db, std::string("INSERT INTO \"") + kConstraints + "\" VALUES (?1, ?2, ?3, ?4)");
    for (const TableConstraint& c : constraints) {
        sqlite3_reset(*con);
        std::string cols;
        for (std::size_t i = 0; i < c.columns.size(); ++i)
            cols += (i ? std::string(1, kSeparator) : "") + c.columns[i];
        con.Bind(1, c.name);
        con.Bind(2, name);
        con.Bind(3, std::string(1, c.kind));
        con.Bind(4, cols);
        con.Step();
    }
    Invalidate();
}

void Catalog::DropTable(sqlite3* db, const std::string& table) {
    if (!Find(table)) Fail(942, "table or view does not exist");
    Exec(db, "DROP TABLE " + Quote(table));
    for (const char* meta : {kTables, kColumns, kConstraints}) {
        MetaQuery q(db, std::string("DELETE FROM \"") + meta + "\" WHERE table_name = ?1");
        q.Bind(1, table);
        q.Step();
    }
    Invalidate();
}

}  // namespace velnor::ocisqlite::sql
