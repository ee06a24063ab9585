// Oracle column metadata kept inside the schema's SQLite file, and the tables of the
// data dictionary built from it.
#pragma once
#include <map>
#include <string>
#include <vector>

#include "ocisqlite/sql/Ast.h"
#include "ocisqlite/sql/Engine.h"

struct sqlite3;

namespace velnor::ocisqlite::sql {

// Static type of a column or expression. code 0 is "unknown" (NULL, an unconstrained bind).
struct SqlType {
    int code = 0;
    int size = 0;
    int precision = 0;
    int scale = 0;
    bool nullable = true;
    int charLength = 0;
    bool charSemantics = false;
    bool national = false;  // NCHAR / NVARCHAR2: the national character set, AL16UTF16
    std::string owner;      // "SCOTT"."T"."C" for a table column; empty for expressions

    [[nodiscard]] bool IsNumber() const { return code == tcNumber; }
    [[nodiscard]] bool IsText() const {
        return code == tcVarchar2 || code == tcChar || code == tcLong || code == tcRowid ||
               code == tcClob;
    }
    [[nodiscard]] bool IsLob() const { return code == tcClob || code == tcBlob || code == tcBfile; }
    [[nodiscard]] bool IsDate() const { return code == tcDate; }
    [[nodiscard]] bool IsRaw() const {
        return code == tcRaw || code == tcLongRaw || code == tcBlob;
    }
    [[nodiscard]] bool IsBinaryFloat() const {
        return code == tcBinaryFloat || code == tcBinaryDouble;
    }
    [[nodiscard]] bool IsTimestamp() const {
        return code == tcTimestamp || code == tcTimestampTz || code == tcTimestampLtz;
    }
    [[nodiscard]] bool IsInterval() const { return code == tcIntervalYm || code == tcIntervalDs; }
    // NUMBER(p,s) and INTEGER round and check their values; NUMBER and FLOAT do not.
    [[nodiscard]] bool Constrained() const { return code == tcNumber && scale != -127; }
    // FLOAT(b): rounded to b binary digits.
    [[nodiscard]] bool IsFloat() const {
        return code == tcNumber && scale == -127 && precision > 0;
    }
};

struct ColumnMeta {
    std::string name;
    std::string typeName;  // as USER_TAB_COLUMNS shows it: NUMBER, VARCHAR2, LONG RAW ...
    SqlType type;
    std::string defaultSql;
};

struct TableMeta {
    std::string name;
    std::vector<ColumnMeta> columns;
    std::vector<TableConstraint> constraints;
    [[nodiscard]] const ColumnMeta* Find(const std::string& column) const;
};

class Catalog {
public:
    // Creates the metadata tables when the file is new.
    static void Initialize(sqlite3* db);
    // Reloads when another connection (or this one) changed the schema.
    void Refresh(sqlite3* db, const std::string& schema);
    void Invalidate() { version_ = -1; }
    [[nodiscard]] const TableMeta* Find(const std::string& table) const;

    // DDL inside the caller's write transaction; raise the Oracle errors for bad definitions.
    void CreateTable(sqlite3* db, const std::string& schema, const ParsedStatement& create);
    void DropTable(sqlite3* db, const std::string& table);

    // The metadata tables; user tables may not use these names.
    static constexpr const char* kColumns = "ocisqlite$columns";
    static constexpr const char* kConstraints = "ocisqlite$constraints";
    static constexpr const char* kTables = "ocisqlite$tables";

private:
    std::map<std::string, TableMeta, std::less<>> tables_;
    long long version_ = -1;
};

// SqlType of a column declared with `decl`; `typeName` receives the dictionary's name.
SqlType TypeOfSpec(const TypeSpec& decl, std::string& typeName);
// "name" with embedded quotes doubled, for SQLite text.
std::string Quote(const std::string& name);
// 'text' with embedded quotes doubled.
std::string Literal(const std::string& text);

}  // namespace velnor::ocisqlite::sql
