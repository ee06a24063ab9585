// Turns a parsed statement into one SQLite statement over the schema's tables, resolving
// names and types against the catalogue and raising Oracle's semantic errors.
#pragma once
#include <string>
#include <vector>

#include "ocisqlite/sql/Ast.h"
#include "ocisqlite/sql/Catalog.h"

namespace velnor::ocisqlite::sql {

// A query whose plain LOB columns are read by reference: `sql` selects typeof() of each
// such column and, after the select list, the rowid of its row.
struct LobReferences {
    std::string sql;               // empty: no column is read by reference
    std::vector<int> rowidColumn;  // per select-list column: its rowid's column, or -1
    std::vector<std::pair<std::string, std::string>> source;  // table and column
};

struct Translation {
    std::string sql;
    std::vector<ColumnInfo> columns;   // select list as describe reports it
    std::vector<SqlType> columnTypes;  // how each fetched column converts
    // Per bind occurrence: the type the value is converted to before binding. A type with
    // an owner is a column's: the value is checked (and padded, rounded) as a stored value.
    std::vector<SqlType> bindTypes;
    std::string table;  // DML: the table written
    LobReferences lobs;
};

// dateFormat: the session's NLS_DATE_FORMAT, for the sizes of date-to-text conversions.
Translation Translate(const ParsedStatement& statement, const Catalog& catalog,
                      const std::string& schema, const std::string& dateFormat, int bindCount);

}  // namespace velnor::ocisqlite::sql
