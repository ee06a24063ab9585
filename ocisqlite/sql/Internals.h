// State behind Connection and Statement, shared by their implementation files.
#pragma once
#include <sqlite3.h>

#include "ocisqlite/sql/Ast.h"
#include "ocisqlite/sql/Catalog.h"
#include "ocisqlite/sql/Engine.h"
#include "ocisqlite/sql/Functions.h"
#include "ocisqlite/sql/Translator.h"

namespace velnor::ocisqlite::sql {

struct Connection::Impl {
    sqlite3* db = nullptr;
    Catalog catalog;
    SessionState state;
    int busyTimeoutMs = 5000;
    // The last row written or removed, from SQLite's update hook; cleared before each DML.
    std::optional<RowAddress> lastRow;
    std::string lastRowTable;  // the table of lastRow and its object number
    std::uint32_t lastRowObject = 0;

    // Runs SQL that returns no rows; SQLite failures become Oracle errors.
    void Exec(const char* sql);

    // The LOB read last, kept open: a blob handle reads at any offset without walking the
    // value from its start again. Closed before anything else runs on the connection.
    sqlite3_blob* lobBlob = nullptr;
    LobRef lobOpen;
    void CloseLob() noexcept {
        if (lobBlob) sqlite3_blob_close(lobBlob);
        lobBlob = nullptr;
    }
};

struct Statement::Impl {
    bool parsed = false;
    ParsedStatement statement;
    Translation translation;
    sqlite3_stmt* stmt = nullptr;
    sqlite3_stmt* other = nullptr;  // the form with or without LOB references not in use
    bool open = false;              // a query has been executed and not closed
    bool pending = false;           // Execute stepped to a row that Fetch has not delivered yet
    bool done = false;
    std::vector<Value> converted;  // bind values in the form handed to SQLite
};

// The Oracle error for a failed SQLite call. `kind` and `table` name the statement for
// constraint messages.
[[noreturn]] void RaiseSqlite(Connection::Impl& c, const std::string& schema, int rc,
                              ParsedStatement::Kind kind);

}  // namespace velnor::ocisqlite::sql
