// One SQL statement on one session: parse, bind, execute, describe, array fetch and the
// read access to the current row's fields.
#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "oci/OciTypes.h"
#include "oracle/query/FieldData.h"
#include "oracle/query/LobLocator.h"
#include "oracle/query/OracleNumber.h"
#include "oracle/query/SqlText.h"
#include "oracle/query/Variables.h"
#include "oracle/session/OracleSession.h"
#include "platform/Component.h"
#include "platform/Variant.h"

namespace velnor::oracle {

class TOracleQuery;

class TQueryImpl;
namespace detail {
struct TQueryAccess;
}

using TOracleQueryEvent = std::function<void(TOracleQuery& sender)>;
using TArrayErrorEvent = std::function<void(TOracleQuery& sender, int index, int errorCode,
                                            const std::string& errorMessage, bool& continueRun)>;
using TThreadErrorEvent =
    std::function<void(TOracleQuery& sender, int errorCode, const std::string& errorMessage)>;

// Oracle SQL function codes the query tells apart.
constexpr int scInsert = 3;
constexpr int scSelect = 4;
constexpr int scUpdate = 5;
constexpr int scDelete = 9;
constexpr int scPlSql = 34;
constexpr int scUnknown = -1;

// Errors of the connection rather than of the statement or of a row's values.
[[nodiscard]] bool IsConnectionError(int code) noexcept;

// Whether each element of an array execution of `text` inserts exactly one row, so that the
// rows done count the elements done.
[[nodiscard]] bool InsertsOneRowPerElement(int statementCode, std::string_view text);

// Shows the statement text of a query with Debug set. The default writes it to stderr;
// a GUI installs a message box. Installing an empty function restores the default.
void SetQueryDebugDisplay(std::function<void(const std::string& text)> display);

// The text of a ROWID: the extended base-64 form, or the restricted hexadecimal form when
// the object number is 0.
[[nodiscard]] std::string FormatRowId(std::uint32_t object, std::uint16_t file, std::uint32_t block,
                                      std::uint16_t row);

class TOracleQuery : public platform::TComponent,
                     private TSessionDependent,
                     private TVariablesHost {
public:
    explicit TOracleQuery(platform::TComponent* owner = nullptr);
    ~TOracleQuery() override;

    // ---- properties ----
    [[nodiscard]] const TSqlLines& SQL() const noexcept { return sql_; }
    [[nodiscard]] TSqlLines& SQL() noexcept { return sql_; }
    void SetSQL(const TSqlLines& lines) { sql_ = lines; }
    [[nodiscard]] TOracleSession* Session() const noexcept { return session_; }
    // Closes the statement on the old session and moves the query to the new one's list.
    void SetSession(TOracleSession* session);
    [[nodiscard]] int ReadBuffer() const noexcept { return readBuffer_; }
    void SetReadBuffer(int rows) noexcept { readBuffer_ = rows < 1 ? 1 : rows; }
    [[nodiscard]] bool Optimize() const noexcept { return optimize_; }
    void SetOptimize(bool value) noexcept { optimize_ = value; }
    [[nodiscard]] bool Debug() const noexcept { return debug_; }
    void SetDebug(bool value) noexcept { debug_ = value; }
    [[nodiscard]] TVariables& Variables() noexcept { return *variables_; }
    [[nodiscard]] const TVariables& Variables() const noexcept { return *variables_; }
    void SetVariables(const TVariables& other);
    [[nodiscard]] int Cursor() const noexcept { return cursor_; }
    void SetCursor(int cursor) noexcept { cursor_ = cursor; }
    [[nodiscard]] bool StringFieldsOnly() const noexcept { return stringFieldsOnly_; }
    void SetStringFieldsOnly(bool value) noexcept;
    // NUMBER columns that can hold more than 15 digits are fetched with every digit: their
    // FieldType is otNumber and FieldAsDecimal reads them exactly.
    [[nodiscard]] bool ExactNumbers() const noexcept { return exactNumbers_; }
    void SetExactNumbers(bool value) noexcept;
    [[nodiscard]] bool Threaded() const noexcept { return threaded_; }
    void SetThreaded(bool value) noexcept { threaded_ = value; }
    [[nodiscard]] bool ThreadSynchronized() const noexcept { return threadSynchronized_; }
    void SetThreadSynchronized(bool value) noexcept { threadSynchronized_ = value; }

    TOracleQueryEvent BeforeQuery;
    TOracleQueryEvent AfterQuery;
    TArrayErrorEvent OnArrayError;
    TOracleQueryEvent OnThreadExecuted;
    TOracleQueryEvent OnThreadRecord;
    TOracleQueryEvent OnThreadFinished;
    TThreadErrorEvent OnThreadError;

    // ---- execution ----
    // With Threaded the statement runs in the background thread; otherwise ExecuteRows(-1, -1).
    virtual void Execute();
    // Runs rows index .. index + count - 1 of array variables; (-1, -1) runs all of them and
    // raises on error. Returns the rows processed.
    int ExecuteRows(int index, int count);
    // Parses and describes a SELECT without fetching; other statements are only parsed.
    void Describe();
    void Next();
    [[nodiscard]] bool Eof() const noexcept;
    // Releases the statement's client resources; the next Execute opens again. Never raises.
    void CloseStatement() noexcept override;
    void ClearQuery();
    // Rows processed by the statement so far (for a SELECT: rows fetched since execution).
    [[nodiscard]] std::int64_t RowsProcessed() const;
    [[nodiscard]] std::int64_t ProcessedRows() const { return RowsProcessed(); }
    [[nodiscard]] int StatementCode() const noexcept;
    [[nodiscard]] int LastErrorCode() const;
    [[nodiscard]] std::string RowIdText() const;
    [[nodiscard]] bool ThreadBusy() const noexcept;

    // ---- field access (index from 0) ----
    [[nodiscard]] int FieldCount() const noexcept;
    [[nodiscard]] const std::string& FieldName(int index) const;
    [[nodiscard]] int FieldType(int index) const;
    [[nodiscard]] int FieldInternalType(int index) const;
    [[nodiscard]] int FieldPrecision(int index) const;
    [[nodiscard]] int FieldScale(int index) const;
    // Characters of a text field (buffer size less the terminator); 0 for other types.
    [[nodiscard]] int FieldSize(int index) const;
    [[nodiscard]] bool FieldOptional(int index) const;
    // -1 when no field has this name (compared case-insensitively).
    [[nodiscard]] int FindFieldIndex(std::string_view name) const noexcept;
    // As FindFieldIndex, but raises "Field <name> does not exist".
    [[nodiscard]] int FieldIndex(std::string_view name) const;
    [[nodiscard]] bool FieldIsNull(int index) const;
    [[nodiscard]] bool FieldIsNull(std::string_view name) const;
    [[nodiscard]] std::string FieldAsString(int index) const;
    [[nodiscard]] std::string FieldAsString(std::string_view name) const;
    [[nodiscard]] std::int32_t FieldAsInteger(int index) const;
    [[nodiscard]] std::int32_t FieldAsInteger(std::string_view name) const;
    [[nodiscard]] double FieldAsFloat(int index) const;
    [[nodiscard]] double FieldAsFloat(std::string_view name) const;
    [[nodiscard]] double FieldAsDate(int index) const;
    // The exact value of a numeric field, or of a text field holding a number; NULL is 0.
    [[nodiscard]] TDecimal FieldAsDecimal(int index) const;
    [[nodiscard]] double FieldAsDate(std::string_view name) const;
    [[nodiscard]] platform::TVariant Field(int index) const;
    [[nodiscard]] platform::TVariant Field(std::string_view name) const;
    // Copies up to `length` bytes of a LONG or LONG RAW value from byte `offset`.
    std::size_t ReadLongField(int index, void* destination, std::size_t offset,
                              std::size_t length) const;
    [[nodiscard]] const TFieldData& FieldData(int index) const;
    // The current row's index in the fields' buffers (FieldFloat and the like read it there),
    // and the rows the buffers hold from it on; 0 at Eof.
    [[nodiscard]] int BufferRow() const noexcept;
    [[nodiscard]] int BufferedRows() const noexcept;
    // Moves past every buffered row at once, as that many calls of Next.
    void SkipBufferedRows();
    // The LOB of a CLOB, NCLOB, BLOB or BFILE field; it follows the current row.
    [[nodiscard]] TLobLocator& FieldLOB(int index);

    // The traditional spellings of the accessors above.
    [[nodiscard]] int GetFieldCount() const noexcept { return FieldCount(); }
    [[nodiscard]] const std::string& GetFieldName(int i) const { return FieldName(i); }
    [[nodiscard]] int GetFieldType(int i) const { return FieldType(i); }
    [[nodiscard]] int GetFieldInternalType(int i) const { return FieldInternalType(i); }
    [[nodiscard]] int GetFieldPrecision(int i) const { return FieldPrecision(i); }
    [[nodiscard]] int GetFieldScale(int i) const { return FieldScale(i); }
    [[nodiscard]] int GetFieldSize(int i) const { return FieldSize(i); }
    [[nodiscard]] bool GetFieldNullable(int i) const { return FieldOptional(i); }
    [[nodiscard]] int GetFieldIndex(std::string_view name) const { return FieldIndex(name); }
    [[nodiscard]] bool IsFieldNull(int i) const { return FieldIsNull(i); }
    [[nodiscard]] std::string GetFieldString(int i) const { return FieldAsString(i); }
    [[nodiscard]] std::string GetFieldStringByName(std::string_view name) const {
        return FieldAsString(name);
    }
    [[nodiscard]] std::int32_t GetFieldInteger(int i) const { return FieldAsInteger(i); }
    [[nodiscard]] double GetFieldFloat(int i) const { return FieldAsFloat(i); }
    [[nodiscard]] double GetFieldDate(int i) const { return FieldAsDate(i); }
    [[nodiscard]] platform::TVariant GetFieldValue(int i) const;
    [[nodiscard]] TLobLocator& GetFieldLOB(int i) { return FieldLOB(i); }
    [[nodiscard]] platform::TVariant GetFieldValueByName(std::string_view name) const {
        return Field(name);
    }

private:
    friend class TQueryImpl;
    friend struct detail::TQueryAccess;

    // TSessionDependent
    void SessionDestroyed() noexcept override;
    // TVariablesHost
    [[nodiscard]] TVariableSettings VariableSettings() const override;
    void VariablesChanged() override;
    [[nodiscard]] bool AcceptsObject(std::int16_t typeCode,
                                     platform::TComponent& object) const override;
    void* PrepareCursorVariable(platform::TComponent& query) override;

    TSqlLines sql_;
    TOracleSession* session_ = nullptr;
    int readBuffer_ = 25;
    bool optimize_ = true;
    bool debug_ = false;
    std::unique_ptr<TVariables> variables_;
    int cursor_ = 0;
    bool stringFieldsOnly_ = false;
    bool exactNumbers_ = false;
    bool threaded_ = false;
    bool threadSynchronized_ = true;

    // The statement, its rows and the background thread (oracle/query/detail/QueryImpl.h).
    std::unique_ptr<TQueryImpl> impl_;
};

}  // namespace velnor::oracle
