// The calls that differ between the two client interfaces: OCI8 works on handles and reports
// through an error handle, OCI7 works on data areas and reports a return code. One backend
// per connection (chosen at logon) and one per open statement; nothing else tells the two
// interfaces apart.
#pragma once
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "oci/OciTypes.h"
#include "oracle/query/FieldData.h"
#include "oracle/query/Variables.h"

namespace velnor::oracle {
class TOracleSession;
}

namespace velnor::oracle::detail {

inline constexpr int kNoDataFound = 1403;

// The error number an OCI8 status stands for: 0 for success (and for information unless
// `infoCounts`), 1403 for no data, the record's number for a failure, -1 or -2 for a failure
// that left no record.
[[nodiscard]] int ErrorNumber(OCIError* err, sword status, bool infoCounts = false) noexcept;
// Whether `err` holds an error record.
[[nodiscard]] bool HasErrorRecord(OCIError* err) noexcept;

// The one check of each interface: raises EOracleError (through RaiseOracleError) unless the
// call succeeded or failed with `allowed`.
void CheckOci8(TOracleSession* session, OCIError* err, sword status, int allowed = 0);
void CheckOci7(TOracleSession* session, int returnCode, int allowed = 0);
// Raises the error recorded on `err` for a failed call that returned `status`.
[[noreturn]] void RaiseOci8(TOracleSession* session, OCIError* err, sword status);

// The bind call of each interface, kept apart from the statement so that it can run on any
// entry point. `check` receives every call's status and raises on an error.
class TOci8Binder final : public TBinder {
public:
    TOci8Binder(OCIStmt* statement, OCIError* error, FnOCIBindByName bindByName,
                std::function<void(sword)> check)
        : statement_(statement), error_(error), bindByName_(bindByName), check_(std::move(check)) {}
    [[nodiscard]] ub2 CursorType() const noexcept override { return otCursor; }
    // Keeps a bind the client library still holds for the same addresses and sizes.
    void Bind(const TBindRequest& request, TBoundState& bound) override;

private:
    OCIStmt* statement_;
    OCIError* error_;
    FnOCIBindByName bindByName_;
    std::function<void(sword)> check_;
};

class TOci7Binder final : public TBinder {
public:
    TOci7Binder(Cda_Def* cda, Fnobndra obndra, std::function<void(sword)> check)
        : cda_(cda), obndra_(obndra), check_(std::move(check)) {}
    // The OCI7 code for a cursor.
    [[nodiscard]] ub2 CursorType() const noexcept override { return 102; }
    // Binds afresh at every execution.
    void Bind(const TBindRequest& request, TBoundState& bound) override;

private:
    Cda_Def* cda_;
    Fnobndra obndra_;
    std::function<void(sword)> check_;
};

// One statement's client resources and calls.
class TStatementBackend {
public:
    // `beforeError` runs before a failed statement call raises: the query gives up its rows.
    TStatementBackend(TOracleSession& session, std::function<void()> beforeError)
        : session_(session), beforeError_(std::move(beforeError)) {}
    virtual ~TStatementBackend() = default;
    TStatementBackend(const TStatementBackend&) = delete;
    TStatementBackend& operator=(const TStatementBackend&) = delete;

    // Records `status` (OCI7 keeps its code in the cursor) and raises unless the call
    // succeeded or failed with `allowed`.
    void Check(sword status, int allowed = 0);
    // As Check, for the call made last.
    void CheckLast(int allowed = 0) { Check(LastStatus(), allowed); }
    // The last call's error number; 0 when it succeeded.
    [[nodiscard]] virtual int LastErrorCode() const = 0;
    // Raises the last call's error; the query is left as it is.
    [[noreturn]] virtual void RaiseLastError() const = 0;
    // As RaiseLastError, after the query gave up its rows.
    [[noreturn]] void FailLastCall() const;

    // Opens the statement's handles or cursor; a cursor variable gets its cursor from a bind.
    virtual void Open(bool cursorVariable) = 0;
    // Releases what Open took. Never raises.
    virtual void Close(bool cursorVariable) noexcept = 0;
    // The address a cursor variable of another statement binds to.
    [[nodiscard]] virtual void* CursorVariableAddress() = 0;
    // Whether binds of `variables` survive no reuse of the parsed statement.
    [[nodiscard]] virtual bool NeedsFreshParse(const TVariables& variables,
                                               int previousArrayLength) const = 0;
    // Parses `text` and returns the statement code.
    virtual int Parse(std::string& text, bool deferred) = 0;
    // Binds `variables` and returns the iteration count for array DML.
    virtual int Bind(TVariables& variables) = 0;
    virtual void FillMappingContext(TMappingContext& context) const = 0;

    enum class TSelectRun { kNotRun, kExecuted, kFetched };
    // Executes a select where the interface needs it before describe; a described statement
    // executes and fetches `rows` in one call. Leaves the checking to the caller.
    virtual TSelectRun ExecuteSelect(bool describeOnly, bool described, bool cursorVariable,
                                     int rows, ub4 mode) = 0;
    [[nodiscard]] virtual std::vector<TColumnDescription> DescribeColumns() = 0;
    // Defines column `position` (from 1); raises on error.
    virtual void Define(ub4 position, TFieldData& field, int defineType) = 0;
    // The fetch after a select's execution; false when ExecuteSelect already fetched.
    virtual bool FirstFetch(bool cursorVariable, bool fetchedWithExecute, int rows) = 0;
    virtual void Fetch(int rows) = 0;
    // Executes a statement that is no select; returns the statement code it reported.
    virtual int ExecuteOther(int iters, int rowoff, ub4 mode, int statementCode) = 0;
    // False when the client library could not give the row count.
    [[nodiscard]] virtual bool ReadRowCount(ub4& count) const = 0;
    // Raises the row count's failure.
    [[noreturn]] virtual void RaiseRowCountError() const = 0;
    // Copies up to `length` bytes of a LONG value of the current row `row`.
    virtual std::size_t ReadLong(const TFieldData& field, int index, int row, std::byte* out,
                                 std::size_t offset, std::size_t length) = 0;
    // The whole length of a LONG value when known without reading.
    [[nodiscard]] virtual std::optional<std::size_t> KnownLongLength(
        const TFieldData& field) const = 0;
    [[nodiscard]] virtual std::string RowIdText() const = 0;
    // A fetched LOB locator's length (characters of CLOB/NCLOB, bytes of BLOB) and its value
    // streamed in pieces of at most `chunk` bytes; raise through the error path.
    [[nodiscard]] virtual std::uint64_t LobLength(void* locator) = 0;
    virtual void ReadLob(void* locator, std::size_t chunk,
                         const std::function<void(std::string_view piece)>& sink) = 0;
    // The statement handle or the cursor data area, to tell one statement from the next.
    [[nodiscard]] virtual const void* Handle() const noexcept = 0;

protected:
    [[nodiscard]] virtual sword LastStatus() const noexcept = 0;
    virtual void StoreStatus(sword status) noexcept = 0;

    TOracleSession& session_;

private:
    std::function<void()> beforeError_;
};

// One connection's calls.
class TConnectionBackend {
public:
    explicit TConnectionBackend(TOracleSession& session) : session_(session) {}
    virtual ~TConnectionBackend() = default;
    TConnectionBackend(const TConnectionBackend&) = delete;
    TConnectionBackend& operator=(const TConnectionBackend&) = delete;

    virtual void Commit() = 0;
    virtual void Rollback() = 0;
    // OCI7 switches the connection; OCI8 reads the flag at each execution.
    virtual void SetAutoCommit(bool value) = 0;
    // Runs one statement without binds or rows.
    virtual void RunStatement(const std::string& sql) = 0;
    // `variables` forget their binds whenever the statement gets a fresh handle.
    [[nodiscard]] virtual std::unique_ptr<TStatementBackend> NewStatement(
        TVariables& variables, std::function<void()> beforeError) = 0;

protected:
    TOracleSession& session_;
};

[[nodiscard]] std::unique_ptr<TConnectionBackend> NewOci8Backend(TOracleSession& session);
[[nodiscard]] std::unique_ptr<TConnectionBackend> NewOci7Backend(TOracleSession& session);

}  // namespace velnor::oracle::detail
