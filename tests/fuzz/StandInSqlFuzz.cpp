// libFuzzer target for the stand-in's SQL engine: any statement, run with its binds against a
// small schema, is lexed, parsed, translated and executed or refused with an Oracle error;
// it never crashes, hangs, leaks or leaves the session changed.
#include <sqlite3.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>

#include "ocisqlite/sql/Convert.h"
#include "ocisqlite/sql/Engine.h"
#include "ocisqlite/sql/Internals.h"

namespace sql = velnor::ocisqlite::sql;

namespace {

// Few rows, so that even a join of many tables stays small for the step budget below.
const char* const kSchema[] = {
    "CREATE TABLE T (ID NUMBER(3) PRIMARY KEY, N NUMBER(5,2), S VARCHAR2(10) NOT NULL, D DATE,"
    " C CHAR(3), R RAW(4), F FLOAT, V VARCHAR2(6 CHAR) DEFAULT 'v')",
    "CREATE TABLE U (K NUMBER CONSTRAINT U_K UNIQUE, L LONG)",
    "INSERT INTO T VALUES (1, 1.5, 'one', TO_DATE('2024-02-29 13:45:30', 'YYYY-MM-DD HH24:MI:SS'),"
    " 'a', HEXTORAW('00FF'), 2.5e10, '日本')",
    "INSERT INTO T VALUES (2, NULL, 'two', TO_DATE('-4712-01-01', 'SYYYY-MM-DD'), NULL, NULL,"
    " -0.5, NULL)",
    "INSERT INTO T (ID, S) VALUES (3, 'x''y')",
    "INSERT INTO U VALUES (1, 'long text')",
    "INSERT INTO U VALUES (NULL, NULL)",
};

// SQLite calls this every kStepsPerCall virtual machine steps; past the budget the statement
// is interrupted, which the engine reports as an Oracle error like any other SQLite failure.
constexpr int kStepsPerCall = 1000;
constexpr int kCallBudget = 2000;

struct Session {
    std::unique_ptr<sql::Connection> db;
    int calls = 0;
    int schemaVersion = 0;
};

int SchemaVersion(sqlite3* db) {
    sqlite3_stmt* stmt = nullptr;
    int version = -1;
    if (sqlite3_prepare_v2(db, "PRAGMA schema_version", -1, &stmt, nullptr) == SQLITE_OK &&
        sqlite3_step(stmt) == SQLITE_ROW)
        version = sqlite3_column_int(stmt, 0);
    sqlite3_finalize(stmt);
    return version;
}

void Open(Session& s) {
    s.db.reset();
    s.db = std::make_unique<sql::Connection>(":memory:", "SCOTT");
    s.db->OnCreateUser = [](const std::string&, const std::string&) {};
    for (const char* statement : kSchema) s.db->Execute(statement);
    s.db->Commit();
    sqlite3* handle = s.db->Internals().db;
    sqlite3_progress_handler(
        handle, kStepsPerCall,
        [](void* p) -> int { return ++static_cast<Session*>(p)->calls > kCallBudget; }, &s);
    s.schemaVersion = SchemaVersion(handle);
}

// A bind value per placeholder, picked by its position so each input binds the same way.
sql::Value BindValue(std::size_t position) {
    switch (position % 6) {
        case 0:
            return sql::Value::Integer(static_cast<std::int64_t>(position) + 1);
        case 1:
            return sql::Value::Text("2");
        case 2:
            return sql::Value::Date({2001, 2, 3, 4, 5, 6});
        case 3:
            return sql::Value::Double(-1.25);
        case 4:
            return sql::Value::Raw(std::string("\x01\x02", 2));
        default:
            return sql::Value::Null();
    }
}

void Run(sql::Connection& db, std::string_view text) {
    auto statement = db.Prepare(text);
    const std::size_t binds = statement->Placeholders().size();
    for (std::size_t i = 0; i < binds; ++i) statement->Bind(static_cast<int>(i + 1), BindValue(i));
    const auto& columns = statement->Describe();
    (void)statement->Execute();
    if (statement->Type() != sql::stSelect) return;
    for (int row = 0; row < 64 && statement->Fetch(); ++row) {
        if (statement->Row().size() != columns.size()) std::abort();
        for (const sql::Value& v : statement->Row()) {
            if (v.kind == sql::Value::Kind::Date && !sql::ValidDate(v.date)) std::abort();
            (void)db.ToText(v);
        }
    }
    statement->Close();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > 4096) return 0;  // longer statements only add time, not paths
    static Session session;
    if (!session.db) Open(session);
    session.calls = 0;
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    try {
        Run(*session.db, text);
    } catch (const sql::OraError& e) {
        // ORA-00600 is SQLite refusing what the translator wrote, unless the budget ran out.
        if (e.Code() == 600 && session.calls <= kCallBudget) {
            std::fprintf(stderr, "%s\n", e.what());
            std::abort();
        }
    }
    // Undo the input's work; DDL and session settings need a fresh session.
    session.db->Rollback();
    sqlite3* handle = session.db->Internals().db;
    if (!sqlite3_get_autocommit(handle)) std::abort();  // a transaction left open
    if (SchemaVersion(handle) != session.schemaVersion || session.db->DateFormat() != "DD-MON-RR")
        Open(session);
    return 0;
}
