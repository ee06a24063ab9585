// The machinery behind TOracleQuery: the open statement's backend, the described fields
// and their buffers, the fetch position and the background thread. Only the access layer
// includes this; callers see oracle/query/OracleQuery.h.
#pragma once
#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "oracle/client/StatementBackend.h"
#include "oracle/query/FieldData.h"
#include "oracle/query/OracleQuery.h"
#include "oracle/query/detail/QueryThread.h"

namespace velnor::oracle {

class TQueryImpl {
public:
    explicit TQueryImpl(TOracleQuery& query) : q_(query) {}

    void RunStatement(bool describe, bool deferred, int iters, int rowoff);
    // Creates the statement backend (OCI8 handles or an OCI7 cursor) once per open statement.
    void OpenStatement();
    void ParseStatement(bool deferred);
    void SelectPath(bool describe, ub4 mode);
    void OtherPath(bool describe, ub4 mode, int iters, int rowoff);
    // Describe, then map each column's type, then the locators of LOB and cursor columns.
    void DescribeColumns();
    [[nodiscard]] TMappingContext MappingContext();
    void AllocateLocators(TFieldData& field, std::size_t rows);
    void DefineColumns();
    void BindAll();
    void CheckFetchStatus(bool allowNoData);
    void CheckFetchedValues();
    void FetchNextBatch();
    void FreeFields(bool callClient = true) noexcept;
    void ResetLongPieces() noexcept;
    void FireAfterQuery();
    // What a failed client call does to the query before its error is raised.
    void AbandonRows();
    void SetWaitCursor();
    void RestoreWaitCursor() noexcept;
    void CheckSessionReady() const;
    [[noreturn]] void RaiseFetchTruncated(const TFieldData& field);
    // The statement's row count; raises when the client library cannot give it.
    [[nodiscard]] ub4 RawRowCount() const;
    // False when the client library could not give it.
    [[nodiscard]] bool ReadRowCount(ub4& count) const;
    [[nodiscard]] int FailedArrayRow(int rowoff, int iters) const;

    [[nodiscard]] const TFieldData& CheckedField(int index) const;
    [[nodiscard]] const TFieldData& ValueField(int index) const;
    [[nodiscard]] std::string LongValue(const TFieldData& field, int index) const;
    // The locator of LOB field `index` in the current row; null for a NULL value.
    [[nodiscard]] void* LobHandle(const TFieldData& field) const;
    // A LOB field's whole value (GetFieldValue only: the export streams instead).
    [[nodiscard]] std::string LobValue(const TFieldData& field) const;

    TOracleQuery& q_;
    std::unique_ptr<detail::TStatementBackend> statement_;  // while opened
    int statementCode_ = 0;
    int savedCursor_ = 0;
    int rowsPerFetch_ = 0;
    int currentRow_ = 0;
    int rowsInBuffer_ = 0;
    bool opened_ = false;
    bool described_ = false;
    std::string parsedText_;
    bool afterQueryPending_ = false;
    bool isCursorVariable_ = false;
    int arrayLength_ = 0;
    int previousArrayLength_ = 0;
    bool eof_ = true;
    int failedRow_ = -1;  // array DML: the row the client library reported failing
    bool probe_ = false;  // measures a fact of the session, so it must not ask for one
    // Each record stays at its address while the client library holds its buffers.
    std::vector<std::unique_ptr<TFieldData>> fields_;
    std::unique_ptr<detail::TQueryThread> thread_;
    std::vector<std::unique_ptr<TLobLocator>> lobs_;  // by field index, made on first use
};

}  // namespace velnor::oracle
