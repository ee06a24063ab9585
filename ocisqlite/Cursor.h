// What an OCI8 statement handle and an OCI7 cursor share: the statement text, the binds
// and defines the caller registered, execution over arrays and fetching into buffers.
#pragma once
#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "oci/OciFunctions.h"
#include "ocisqlite/sql/Engine.h"

namespace velnor::ocisqlite {

// The OCI7 function code (the cursor's ft field) of a statement type.
[[nodiscard]] ub2 FunctionCodeOf(int statementType) noexcept;

class TConnection;

// A bind registered by name or position; the caller's arrays are read at execute time.
struct TBindSpec {
    std::string name;  // as given, without the colon; empty for a positional bind
    ub4 position = 0;
    void* value = nullptr;
    sb4 valueSize = 0;
    ub2 type = SQLT_CHR;
    sb2* indicators = nullptr;
    ub2* lengths = nullptr;
    ub2* codes = nullptr;
    ub4 valueSkip = 0, indicatorSkip = sizeof(sb2), lengthSkip = sizeof(ub2),
        codeSkip = sizeof(ub2);
    // The placeholder occurrences it fills, found once per engine statement.
    std::vector<std::size_t> slots;
    ub8 slotsFor = 0;
};

// A define of one select-list position; buffers per row at the strides.
struct TDefineSpec {
    ub4 position = 0;
    void* value = nullptr;
    sb4 valueSize = 0;
    ub2 type = SQLT_CHR;
    sb2* indicators = nullptr;
    ub2* lengths = nullptr;
    ub2* codes = nullptr;
    ub4 valueSkip = 0, indicatorSkip = sizeof(sb2), lengthSkip = sizeof(ub2),
        codeSkip = sizeof(ub2);
    bool dynamic = false;  // pieces through a callback
    void* callbackContext = nullptr;
    OCICallbackDefine callback = nullptr;
    OCIDefine* handle = nullptr;
};

// The outcome of filling one batch of rows.
struct TFetchOutcome {
    ub4 rows = 0;                  // rows delivered by this call
    bool exhausted = false;        // no row left after them
    int rowError = 0;              // 1405 / 1406 when a value could not be delivered unnoticed
    bool truncatedOrNull = false;  // a truncation or NULL reported through indicators
};

class TCursorCore {
public:
    TCursorCore();
    ~TCursorCore();
    TCursorCore(const TCursorCore&) = delete;
    TCursorCore& operator=(const TCursorCore&) = delete;

    void Prepare(std::string sql);
    [[nodiscard]] bool Prepared() const noexcept { return prepared_; }
    [[nodiscard]] const std::string& Sql() const noexcept { return sql_; }
    // The statement type, known without a connection from the leading keyword.
    [[nodiscard]] int StatementType() const noexcept;
    // OCI7 SQL function code (3 INSERT, 4 SELECT, 5 UPDATE, 9 DELETE ...), 0 before execute.
    [[nodiscard]] ub2 FunctionCode() const noexcept;

    TBindSpec& BindByName(std::string name);
    TBindSpec& BindByPosition(ub4 position);
    TDefineSpec& Define(ub4 position);
    [[nodiscard]] TDefineSpec* DefineAt(ub4 position);

    // The select list (parses on the connection); empty for other statements.
    const std::vector<sql::ColumnInfo>& Describe(TConnection& connection);
    [[nodiscard]] bool Described() const noexcept { return described_; }

    // Runs a non-query for elements first..last-1 of the bound arrays; the rows affected
    // accumulate in RowCount(). On a failing element `failedElement` tells which.
    void ExecuteDml(TConnection& connection, ub4 first, ub4 last, ub4& failedElement);
    // Opens a query's cursor with the binds of element 0.
    void OpenQuery(TConnection& connection);
    // Fills up to `rows` rows into the defines.
    TFetchOutcome Fetch(ub4 rows);
    [[nodiscard]] bool QueryOpen() const noexcept { return queryOpen_; }
    [[nodiscard]] bool Executed() const noexcept { return executed_; }
    [[nodiscard]] ub8 RowCount() const noexcept { return rowCount_; }
    [[nodiscard]] ub4 LastFetchRows() const noexcept { return lastFetchRows_; }
    // The last row the last DML execution touched, over all its elements.
    [[nodiscard]] const std::optional<sql::RowAddress>& LastRow() const noexcept {
        return lastRow_;
    }
    // The last fetched row, for reading LONG values in parts.
    [[nodiscard]] const std::vector<sql::Value>& CurrentRow() const noexcept { return row_; }
    [[nodiscard]] const sql::Connection* Session() const noexcept { return session_; }

    // Drops the engine statement (the connection goes away or the text changes).
    void Release() noexcept;

private:
    void EnsureStatement(TConnection& connection);
    void ApplyBinds(ub4 element, bool fresh = true);
    void DeliverRow(ub4 row, TFetchOutcome& outcome);
    [[nodiscard]] bool LobValuesWanted() const;

    std::string sql_;
    bool prepared_ = false;
    bool described_ = false;
    bool executed_ = false;
    bool queryOpen_ = false;
    bool exhausted_ = false;
    bool firstFetchDone_ = false;
    ub8 rowCount_ = 0;
    ub4 lastFetchRows_ = 0;
    std::optional<sql::RowAddress> lastRow_;
    int executedType_ = -1;
    std::vector<std::unique_ptr<TBindSpec>> binds_;
    std::vector<std::unique_ptr<TDefineSpec>> defines_;
    std::vector<sql::Value> row_;
    TConnection* connection_ = nullptr;  // the connection the statement was prepared on
    const sql::Connection* session_ = nullptr;
    std::unique_ptr<sql::Statement> statement_;
    ub8 statementSerial_ = 0;  // counts engine statements made, for TBindSpec::slotsFor
};

}  // namespace velnor::ocisqlite
