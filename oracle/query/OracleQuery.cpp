#include "oracle/query/OracleQuery.h"

#include <algorithm>
#include <cstring>
#include <iostream>
#include <limits>
#include <mutex>

#include "oracle/client/OciLibrary.h"
#include "oracle/client/OracleError.h"
#include "oracle/query/detail/QueryThread.h"
#include "platform/Exception.h"
#include "platform/UiHooks.h"

namespace velnor::oracle {

using platform::Exception;

namespace {

constexpr int kNoDataFound = 1403;
constexpr int kVarNotInSelectList = 1007;
constexpr int kValueTruncated = 1406;

std::mutex& DebugDisplayMutex() {
    static std::mutex mutex;
    return mutex;
}

std::function<void(const std::string&)>& DebugDisplay() {
    static std::function<void(const std::string&)> display;
    return display;
}

bool ReusableStatement(int code) noexcept {
    switch (code) {
        case 3:
        case 4:
        case 5:
        case 9:
        case 33:
        case 34:
        case 35:
        case 54:
        case 55:
        case 56:
            return true;
        default:
            return false;
    }
}

int StatementCodeFromType(ub2 type) noexcept {
    switch (type) {
        case OCI_STMT_SELECT:
            return scSelect;
        case OCI_STMT_UPDATE:
            return scUpdate;
        case OCI_STMT_DELETE:
            return scDelete;
        case OCI_STMT_INSERT:
            return scInsert;
        case OCI_STMT_BEGIN:
        case OCI_STMT_DECLARE:
            return scPlSql;
        default:
            return scUnknown;
    }
}

bool IsLobType(int typeCode) noexcept {
    return typeCode == otCLOB || typeCode == otBLOB || typeCode == otBFile;
}

}  // namespace

bool IsConnectionError(int code) noexcept {
    switch (code) {
        case 28:    // session killed
        case 1012:  // not logged on
        case 1092:  // instance terminated
        case 3113:  // end-of-file on communication channel
        case 3114:  // not connected
        case 3135:  // connection lost contact
            return true;
        default:
            return false;
    }
}

void SetQueryDebugDisplay(std::function<void(const std::string& text)> display) {
    std::lock_guard lock(DebugDisplayMutex());
    DebugDisplay() = std::move(display);
}

// ---- construction ----

TOracleQuery::TOracleQuery(platform::TComponent* owner)
    : platform::TComponent(owner),
      variables_(std::make_unique<TVariables>(static_cast<TVariablesHost*>(this))) {}

TOracleQuery::~TOracleQuery() {
    thread_.reset();
    CloseStatement();
    if (session_) session_->DetachDependent(this);
    session_ = nullptr;
}

void TOracleQuery::SetSession(TOracleSession* session) {
    if (session == session_) return;
    if (session_) {
        CloseStatement();
        session_->DetachDependent(this);
    }
    session_ = nullptr;
    if (session) session->AttachDependent(this);
    session_ = session;
}

void TOracleQuery::SessionDestroyed() noexcept {
    // The session's handles go with it: forget ours without calling the client library.
    FreeFields(false);
    opened_ = false;
    described_ = false;
    parsedText_.clear();
    stmt_ = nullptr;
    err_ = nullptr;
    infoErr_ = nullptr;
    rowId_ = nullptr;
    cda_ = {};
    eof_ = true;
    session_ = nullptr;
}

void TOracleQuery::SetVariables(const TVariables& other) {
    if (&other == variables_.get()) return;
    variables_->Assign(other);
}

void TOracleQuery::SetStringFieldsOnly(bool value) noexcept {
    if (value == stringFieldsOnly_) return;
    stringFieldsOnly_ = value;
    parsedText_.clear();
}

bool TOracleQuery::UsingOCI8() const noexcept { return session_ && session_->UsingOCI8(); }

// ---- variables host ----

TVariableSettings TOracleQuery::VariableSettings() const {
    TVariableSettings settings;
    if (!session_) return settings;
    settings.hasSession = true;
    // Measuring the bytes per character runs a query of its own, whose settings must not
    // ask for the measurement again.
    static thread_local bool measuring = false;
    if (measuring) {
        settings.maxVarcharChars = session_->UsingOCI8() ? 4000 : 2000;
    } else {
        measuring = true;
        try {
            settings.maxVarcharChars = session_->MaxVarcharChars();
        } catch (...) {
            measuring = false;
            throw;
        }
        measuring = false;
    }
    settings.nullValueIsNull = session_->NullValue() == TNullValueOption::nvNull;
    settings.convertCRLF = session_->Preferences().ConvertCRLF();
    settings.zeroDateIsNull = session_->Preferences().ZeroDateIsNull();
    return settings;
}

void TOracleQuery::VariablesChanged() {
    parsedText_.clear();
    if (session_ && session_->ODBCMode()) CloseStatement();
}

bool TOracleQuery::AcceptsObject(std::int16_t typeCode, platform::TComponent& object) const {
    return typeCode == otCursor && dynamic_cast<TOracleQuery*>(&object) != nullptr;
}

void* TOracleQuery::PrepareCursorVariable(platform::TComponent& query, bool oci8) {
    auto* target = dynamic_cast<TOracleQuery*>(&query);
    if (!target) throw Exception("Assign TOracleQuery instance to a cursor variable");
    if (!target->session_) target->SetSession(session_);
    target->CloseStatement();
    target->ClearQuery();
    target->isCursorVariable_ = true;
    if (!oci8) return &target->cda_;
    target->OpenStatement();
    target->AllocStatementHandle();
    return &target->stmt_;
}

// ---- status and errors ----

int TOracleQuery::LastErrorCode() const {
    if (!openedOci8_) return cda_.rc;
    switch (lastStatus_) {
        case OCI_SUCCESS:
        case OCI_SUCCESS_WITH_INFO:
        case OCI_NEED_DATA:
            return 0;
        case OCI_NO_DATA:
            return kNoDataFound;
        case OCI_ERROR:
        case OCI_INVALID_HANDLE: {
            sb4 code = 0;
            if (err_) Oci().OCIErrorGet(err_, 1, nullptr, &code, nullptr, 0, OCI_HTYPE_ERROR);
            // An error without a record must still count as one.
            return code != 0 ? code : (lastStatus_ == OCI_INVALID_HANDLE ? -2 : -1);
        }
        default:
            return lastStatus_;
    }
}

void TOracleQuery::Check(sword status, int allowed) {
    if (openedOci8_) StoreStatus(status);
    const int code = LastErrorCode();
    if (code != 0 && code != allowed) RaiseQueryError();
}

void TOracleQuery::RaiseQueryError() {
    eof_ = true;
    parsedText_.clear();
    RestoreWaitCursor();
    FireAfterQuery();
    if (!session_) throw Exception("Session undefined");
    if (openedOci8_ && err_) {
        sb4 code = 0;
        Oci().OCIErrorGet(err_, 1, nullptr, &code, nullptr, 0, OCI_HTYPE_ERROR);
        if (code == 0) {
            throw EOracleError("The client library reported an error without a message",
                               lastStatus_ == OCI_INVALID_HANDLE ? -2 : -1);
        }
        if (lockDepth_ > 0) errorUnlocked_ = true;
        RaiseOracleError(session_, TErrorSource::FromHandle(err_));
    }
    if (lockDepth_ > 0) errorUnlocked_ = true;
    RaiseOracleError(session_, TErrorSource::FromReturnCode(cda_.rc));
}

void TOracleQuery::RaiseFetchTruncated(const TFieldData& field) {
    eof_ = true;
    parsedText_.clear();
    RestoreWaitCursor();
    FireAfterQuery();
    throw EOracleError(
        "ORA-01406: fetched column value was truncated (column " + field.Name() + ")\n",
        kValueTruncated);
}

void TOracleQuery::FireAfterQuery() {
    if (!afterQueryPending_) return;
    afterQueryPending_ = false;
    if (AfterQuery) AfterQuery(*this);
}

void TOracleQuery::SetWaitCursor() {
    if (cursor_ == 0) return;
    savedCursor_ = platform::ScreenCursor();
    platform::SetScreenCursor(cursor_);
}

void TOracleQuery::RestoreWaitCursor() noexcept {
    if (cursor_ == 0) return;
    try {
        platform::SetScreenCursor(savedCursor_);
    } catch (...) {
        // A failing GUI hook must not replace the error being reported.
    }
}

void TOracleQuery::LockSession() {
    if (session_) session_->LockSession(1);
}

void TOracleQuery::UnlockSession() noexcept {
    if (session_) session_->UnlockSession(1);
}

void TOracleQuery::CheckSessionReady() const {
    if (!session_) throw Exception("Session undefined");
    if (!session_->Connected()) throw Exception("Not logged on");
}

// ---- execution ----

void TOracleQuery::Execute() {
    if (!threaded_) {
        ExecuteRows(-1, -1);
        return;
    }
    if (!thread_) thread_ = std::make_unique<detail::TQueryThread>(*this);
    if (thread_->Busy()) throw Exception("Query thread is still in progress");
    thread_->Resume();
}

bool TOracleQuery::ThreadBusy() const noexcept { return thread_ && thread_->Busy(); }

int TOracleQuery::ExecuteRows(int index, int count) {
    if (count == 0) return 0;
    const bool all = index == -1 && count == -1;
    if (!all && (index < 0 || count < 0 || index > std::numeric_limits<int>::max() - count)) {
        throw Exception("Invalid row range " + std::to_string(index) + ", " +
                        std::to_string(count));
    }
    if (BeforeQuery) BeforeQuery(*this);
    afterQueryPending_ = true;
    int iters = all ? 0 : index + count;
    int rowoff = all ? 0 : index;
    std::int64_t total = 0;
    try {
        for (;;) {
            try {
                failedRow_ = -1;
                RunStatement(false, true, iters, rowoff);
                total += RowsProcessed();
                break;
            } catch (const EOracleError& error) {
                // Only a failing row of an array execution can be skipped.
                if (failedRow_ < 0 || !OnArrayError) throw;
                if (iters == 0) iters = arrayLength_;
                total += std::max<std::int64_t>(0, failedRow_ - rowoff);
                rowoff = failedRow_ + 1;
                bool continueRun = true;
                OnArrayError(*this, failedRow_, error.ErrorCode(), error.Message(), continueRun);
                if (!continueRun || rowoff >= iters) break;
            }
        }
    } catch (...) {
        FireAfterQuery();
        throw;
    }
    if (eof_) FireAfterQuery();
    return static_cast<int>(std::min<std::int64_t>(total, std::numeric_limits<int>::max()));
}

void TOracleQuery::Describe() {
    if (ThreadBusy()) throw Exception("Query thread is still in progress");
    RunStatement(true, true, 0, 0);
}

void TOracleQuery::RunStatement(bool describe, bool deferred, int iters, int rowoff) {
    if (!session_) throw Exception("Session undefined");
    ub4 mode = OCI_DEFAULT;
    if (describe) {
        mode = OCI_DESCRIBE_ONLY;
    } else if (session_->AutoCommit()) {
        mode = OCI_COMMIT_ON_SUCCESS;
    }
    eof_ = true;
    if (!OCILoaded()) {
        SetWaitCursor();
        try {
            InitializeOCI();
        } catch (...) {
            RestoreWaitCursor();
            throw;
        }
        RestoreWaitCursor();
    }
    if (!session_->Connected()) throw Exception("Not logged on");
    if (debug_ && !describe && !isCursorVariable_) {
        std::string text = sql_.Text();
        for (int i = 0; i < variables_->Count(); ++i) {
            text +=
                '\r' + variables_->GetVariableName(i) + " = " + variables_->VariableDisplayText(i);
        }
        std::function<void(const std::string&)> display;
        {
            std::lock_guard lock(DebugDisplayMutex());
            display = DebugDisplay();
        }
        if (display) {
            display(text);
        } else {
            std::cerr << text << '\n';
        }
    }
    SetWaitCursor();
    try {
        ParseStatement(deferred);
        if (statementCode_ == scSelect) {
            SelectPath(describe, mode);
        } else {
            OtherPath(describe, mode, iters, rowoff);
        }
    } catch (...) {
        RestoreWaitCursor();
        throw;
    }
}

void TOracleQuery::OpenStatement() {
    if (opened_) return;
    CheckSessionReady();
    TLockScope lock(*this);
    openedOci8_ = session_->UsingOCI8();
    if (openedOci8_) {
        OCIEnv* env = session_->EnvironmentHandle();
        const auto& oci = Oci();
        if (oci.OCIHandleAlloc(env, reinterpret_cast<void**>(&err_), OCI_HTYPE_ERROR, 0, nullptr) !=
                OCI_SUCCESS ||
            oci.OCIHandleAlloc(env, reinterpret_cast<void**>(&infoErr_), OCI_HTYPE_ERROR, 0,
                               nullptr) != OCI_SUCCESS) {
            ReleaseHandles();
            throw Exception("The client library could not allocate an error handle");
        }
        // Without a ROWID descriptor only RowIdText is lost.
        if (oci.OCIDescriptorAlloc(env, &rowId_, OCI_DTYPE_ROWID, 0, nullptr) != OCI_SUCCESS) {
            rowId_ = nullptr;
        }
    } else if (!isCursorVariable_) {
        cda_ = {};
        Oci().oopen(&cda_, session_->CurrentLDA(), nullptr, -1, -1, nullptr, -1);
        if (cda_.rc != 0) RaiseQueryError();
    }
    opened_ = true;
}

void TOracleQuery::AllocStatementHandle() {
    const auto& oci = Oci();
    if (stmt_) {
        oci.OCIHandleFree(stmt_, OCI_HTYPE_STMT);
        stmt_ = nullptr;
    }
    if (oci.OCIHandleAlloc(session_->EnvironmentHandle(), reinterpret_cast<void**>(&stmt_),
                           OCI_HTYPE_STMT, 0, nullptr) != OCI_SUCCESS) {
        stmt_ = nullptr;
        throw Exception("The client library could not allocate a statement handle");
    }
    // Rows arrive only through the array fetch; the client library keeps none in advance.
    ub4 zero = 0;
    Check(oci.OCIAttrSet(stmt_, OCI_HTYPE_STMT, &zero, sizeof zero, OCI_ATTR_PREFETCH_ROWS, err_));
    Check(
        oci.OCIAttrSet(stmt_, OCI_HTYPE_STMT, &zero, sizeof zero, OCI_ATTR_PREFETCH_MEMORY, err_));
    variables_->ForgetBinds();
}

void TOracleQuery::ParseStatement(bool deferred) {
    OpenStatement();
    if (isCursorVariable_) {
        statementCode_ = scSelect;
        described_ = false;
        return;
    }
    std::string text = variables_->SubstituteVariables(sql_.Text());
    text.erase(std::remove(text.begin(), text.end(), '\r'), text.end());
    if (text.empty()) text = " ";
    if (text.size() > static_cast<std::size_t>(SB4MAXVAL)) throw Exception("SQL text too long");

    if (openedOci8_) {
        bool rebind = previousArrayLength_ > 1;
        for (int i = 0; i < variables_->Count() && !rebind; ++i) {
            const TVariableData& v = variables_->Item(i);
            rebind = v.TypeCode() == otLong || v.TypeCode() == otLongRaw || v.IsTable() ||
                     v.ElementCount() > 1;
        }
        if (rebind) parsedText_.clear();
    }
    if (optimize_ && !parsedText_.empty() && parsedText_ == text &&
        ReusableStatement(statementCode_)) {
        return;
    }

    FreeFields();
    described_ = false;
    parsedText_ = text;
    statementCode_ = 0;
    TLockScope lock(*this);
    const auto& oci = Oci();
    if (openedOci8_) {
        AllocStatementHandle();
        StoreStatus(oci.OCIStmtPrepare(stmt_, err_, reinterpret_cast<const OraText*>(text.data()),
                                       static_cast<ub4>(text.size()), OCI_NTV_SYNTAX, OCI_DEFAULT));
        if (lastStatus_ == OCI_SUCCESS || lastStatus_ == OCI_SUCCESS_WITH_INFO) {
            ub2 type = 0;
            StoreStatus(
                oci.OCIAttrGet(stmt_, OCI_HTYPE_STMT, &type, nullptr, OCI_ATTR_STMT_TYPE, err_));
            statementCode_ = StatementCodeFromType(type);
        }
    } else {
        oci.oparse(&cda_, reinterpret_cast<OraText*>(text.data()), -1, deferred ? 1 : 0, 2);
        statementCode_ = cda_.ft;
    }
    if (LastErrorCode() != 0) RaiseQueryError();
}

void TOracleQuery::BindAll() {
    if (isCursorVariable_ || variables_->Count() == 0) {
        arrayLength_ = 0;
        previousArrayLength_ = 0;
        return;
    }
    TBindContext context;
    context.oci8 = openedOci8_;
    context.statement = stmt_;
    context.error = err_;
    context.cda = &cda_;
    context.bindByName = Oci().OCIBindByName.Get();
    context.obndra = Oci().obndra.Get();
    context.check = [this](sword status) { Check(status); };
    TLockScope lock(*this);
    arrayLength_ = variables_->BindVariables(context);
    previousArrayLength_ = arrayLength_;
}

void TOracleQuery::SelectPath(bool describe, ub4 mode) {
    BindAll();
    const auto& oci = Oci();
    ub4 iters = 0;
    if (openedOci8_ && !isCursorVariable_ && !(describe && described_)) {
        if (described_ && !describe) {
            // A reused statement executes and fills the existing defines in one call.
            iters = static_cast<ub4>(rowsPerFetch_);
            ResetLongPieces();
        }
        TLockScope lock(*this);
        StoreStatus(oci.OCIStmtExecute(session_->ServiceContext(), stmt_, err_, iters, 0, nullptr,
                                       nullptr, mode & ~ub4{OCI_COMMIT_ON_SUCCESS}));
        if (iters != 0) {
            CheckFetchStatus(true);
        } else {
            Check(lastStatus_, kNoDataFound);
        }
    }
    if (!described_) {
        DescribeColumns();
        DefineColumns();
    }
    if (describe) {
        RestoreWaitCursor();
        currentRow_ = 0;
        rowsInBuffer_ = 0;
        eof_ = true;
        return;
    }
    {
        TLockScope lock(*this);
        if (openedOci8_) {
            if (iters == 0) {
                ResetLongPieces();
                StoreStatus(oci.OCIStmtFetch(stmt_, err_, static_cast<ub4>(rowsPerFetch_),
                                             OCI_FETCH_NEXT, OCI_DEFAULT));
                CheckFetchStatus(true);
            }
        } else if (isCursorVariable_) {
            oci.ofen(&cda_, rowsPerFetch_);
            CheckFetchStatus(true);
        } else {
            oci.oexfet(&cda_, static_cast<ub4>(rowsPerFetch_), 0, 0);
            CheckFetchStatus(true);
        }
    }
    isCursorVariable_ = false;
    RestoreWaitCursor();
    currentRow_ = 0;
    rowsInBuffer_ = static_cast<int>(std::min<ub4>(RawRowCount(), static_cast<ub4>(rowsPerFetch_)));
    eof_ = rowsInBuffer_ == 0;
    CheckFetchedValues();
}

void TOracleQuery::CheckFetchStatus(bool allowNoData) {
    const int code = LastErrorCode();
    if (code == 0 || (allowNoData && code == kNoDataFound)) return;
    if (code == kValueTruncated) {
        // Name the column that was cut. Rows not written by this fetch hold values that
        // passed this check before, so every row can be looked at.
        bool hasLong = false;
        for (const auto& field : fields_) {
            hasLong = hasLong || field->IsLong();
            for (std::size_t r = 0; r < field->rowCapacity; ++r) {
                if (field->Truncated(r)) RaiseFetchTruncated(*field);
            }
        }
        // The first part of a LONG is cut on purpose; the rest is read on demand.
        if (hasLong) return;
    }
    RaiseQueryError();
}

void TOracleQuery::CheckFetchedValues() {
    const std::size_t rows = static_cast<std::size_t>(std::max(rowsInBuffer_, 0));
    for (const auto& field : fields_) {
        for (std::size_t r = 0; r < rows; ++r) {
            if (field->Truncated(r)) RaiseFetchTruncated(*field);
        }
    }
}

void TOracleQuery::OtherPath(bool describe, ub4 mode, int iters, int rowoff) {
    BindAll();
    if (arrayLength_ <= 1) {
        if (iters > 1) {
            throw Exception("Rows " + std::to_string(rowoff) + " to " + std::to_string(iters - 1) +
                            " exceed the single row of the statement");
        }
        iters = 1;
        rowoff = 0;
    } else if (iters <= 0) {
        iters = arrayLength_;
        rowoff = 0;
    } else if (iters > arrayLength_) {
        throw Exception("Rows " + std::to_string(rowoff) + " to " + std::to_string(iters - 1) +
                        " exceed the arrays of " + std::to_string(arrayLength_) + " rows");
    }
    if (!describe) {
        TLockScope lock(*this);
        const auto& oci = Oci();
        if (openedOci8_) {
            StoreStatus(oci.OCIStmtExecute(session_->ServiceContext(), stmt_, err_,
                                           static_cast<ub4>(iters), static_cast<ub4>(rowoff),
                                           nullptr, nullptr, mode));
            if (LastErrorCode() == 0) {
                // Read after a clean execution only: failing then is no error of any one row.
                ub2 code = static_cast<ub2>(statementCode_);
                Check(oci.OCIAttrGet(stmt_, OCI_HTYPE_STMT, &code, nullptr, OCI_ATTR_SQLFNCODE,
                                     err_));
                statementCode_ = code;
            }
        } else {
            oci.oexn(&cda_, iters, rowoff);
            statementCode_ = cda_.ft;
        }
        if (const int code = LastErrorCode(); code != 0) {
            // A lost connection failed the execution as a whole: no row of it can be skipped.
            if (arrayLength_ > 1 && !IsConnectionError(code))
                failedRow_ = FailedArrayRow(rowoff, iters);
            RaiseQueryError();
        }
    }
    RestoreWaitCursor();
}

int TOracleQuery::FailedArrayRow(int rowoff, int iters) const {
    if (openedOci8_) {
        ub4 offset = 0;
        if (Oci().OCIAttrGet(err_, OCI_HTYPE_ERROR, &offset, nullptr, OCI_ATTR_DML_ROW_OFFSET,
                             infoErr_) == OCI_SUCCESS &&
            offset >= static_cast<ub4>(rowoff) && offset < static_cast<ub4>(iters)) {
            return static_cast<int>(offset);
        }
    }
    // Rows before the failing one went through: the count points at the failing row.
    ub4 count = 0;
    if (!ReadRowCount(count)) return rowoff;
    const std::int64_t row = rowoff + static_cast<std::int64_t>(count);
    return static_cast<int>(std::clamp<std::int64_t>(row, rowoff, iters - 1));
}

void TOracleQuery::DescribeColumns() {
    rowsPerFetch_ = readBuffer_;
    FreeFields();
    std::vector<TColumnDescription> columns;
    try {
        const auto& oci = Oci();
        if (openedOci8_) {
            ub4 count = 0;
            {
                TLockScope lock(*this);
                StoreStatus(oci.OCIAttrGet(stmt_, OCI_HTYPE_STMT, &count, nullptr,
                                           OCI_ATTR_PARAM_COUNT, err_));
                if (LastErrorCode() != 0) RaiseQueryError();
            }
            for (ub4 p = 1; p <= count; ++p) {
                TLockScope lock(*this);
                void* param = nullptr;
                StoreStatus(oci.OCIParamGet(stmt_, OCI_HTYPE_STMT, err_, &param, p));
                if (LastErrorCode() != 0) RaiseQueryError();
                TColumnDescription c;
                ub2 dataSize = 0;
                ub2 dataType = 0;
                OraText* name = nullptr;
                ub4 nameLength = 0;
                sb2 precision = 0;  // the client library writes two bytes here
                sb1 scale = 0;
                ub1 nullable = 1;
                // A column described in part would be fetched and named wrongly.
                Check(oci.OCIAttrGet(param, OCI_DTYPE_PARAM, &dataSize, nullptr, OCI_ATTR_DATA_SIZE,
                                     err_));
                Check(oci.OCIAttrGet(param, OCI_DTYPE_PARAM, &dataType, nullptr, OCI_ATTR_DATA_TYPE,
                                     err_));
                Check(oci.OCIAttrGet(param, OCI_DTYPE_PARAM, &name, &nameLength, OCI_ATTR_NAME,
                                     err_));
                Check(oci.OCIAttrGet(param, OCI_DTYPE_PARAM, &precision, nullptr,
                                     OCI_ATTR_PRECISION, err_));
                Check(
                    oci.OCIAttrGet(param, OCI_DTYPE_PARAM, &scale, nullptr, OCI_ATTR_SCALE, err_));
                Check(oci.OCIAttrGet(param, OCI_DTYPE_PARAM, &nullable, nullptr, OCI_ATTR_IS_NULL,
                                     err_));
                c.dataSize = dataSize;
                c.internalType = dataType;
                if (name) {
                    c.name.assign(reinterpret_cast<const char*>(name),
                                  std::min<std::size_t>(nameLength, kMaxColumnNameLength));
                }
                c.precision = precision;
                c.scale = scale;
                c.nullable = nullable != 0;
                columns.push_back(std::move(c));
            }
        } else {
            for (sword p = 1;; ++p) {
                TLockScope lock(*this);
                sb4 dataSize = 0;
                sb2 dataType = 0;
                sb1 name[kMaxColumnNameLength + 1] = {};
                sb4 nameLength = static_cast<sb4>(kMaxColumnNameLength);
                sb4 displaySize = 0;
                sb2 precision = 0;
                sb2 scale = 0;
                sb2 nullable = 1;
                oci.odescr(&cda_, p, &dataSize, &dataType, name, &nameLength, &displaySize,
                           &precision, &scale, &nullable);
                if (cda_.rc == kVarNotInSelectList) break;
                if (cda_.rc != 0) RaiseQueryError();
                TColumnDescription c;
                c.dataSize = dataSize;
                c.internalType = dataType;
                c.name.assign(reinterpret_cast<const char*>(name),
                              static_cast<std::size_t>(std::clamp<sb4>(
                                  nameLength, 0, static_cast<sb4>(kMaxColumnNameLength))));
                c.precision = precision;
                c.scale = scale;
                c.nullable = nullable != 0;
                columns.push_back(std::move(c));
            }
        }

        TMappingContext context;
        context.oci8 = openedOci8_;
        context.stringFieldsOnly = stringFieldsOnly_;
        context.numberRule = [this](int p, int s, bool f) {
            return session_->ChooseNumberFieldType(p, s, f);
        };
        context.dateFormatLength = [this] { return session_->DateFormatLength(); };
        context.bytesPerCharacter = [this] { return session_->EffectiveBytesPerCharacter(); };
        context.checkFeature = [this](const char* feature) {
            CheckSessionFeature(session_, feature);
        };
        for (auto& c : columns) {
            auto field = std::make_unique<TFieldData>();
            const TColumnMapping m = MapColumnType(c, context);
            field->column = std::move(c);
            field->typeCode = m.typeCode;
            field->bufferSize = m.bufferSize;
            if (m.isLong) rowsPerFetch_ = 1;
            fields_.push_back(std::move(field));
        }
        const auto rows = static_cast<std::size_t>(rowsPerFetch_);
        for (auto& field : fields_) {
            field->Allocate(rows);
            if (IsLobType(field->typeCode) || field->typeCode == otCursor) {
                for (std::size_t r = 0; r < rows; ++r) {
                    void* handle = nullptr;
                    const sword status =
                        field->typeCode == otCursor
                            ? oci.OCIHandleAlloc(session_->EnvironmentHandle(), &handle,
                                                 OCI_HTYPE_STMT, 0, nullptr)
                            : oci.OCIDescriptorAlloc(
                                  session_->EnvironmentHandle(), &handle,
                                  field->typeCode == otBFile ? OCI_DTYPE_FILE : OCI_DTYPE_LOB, 0,
                                  nullptr);
                    if (status != OCI_SUCCESS) {
                        throw Exception("The client library could not allocate a locator");
                    }
                    std::memcpy(field->buffer.data() + r * field->bufferSize, &handle,
                                sizeof handle);
                }
            }
        }
    } catch (...) {
        FreeFields();
        parsedText_.clear();
        throw;
    }
    described_ = true;
}

void TOracleQuery::DefineColumns() {
    const auto& oci = Oci();
    for (std::size_t i = 0; i < fields_.size(); ++i) {
        TFieldData& f = *fields_[i];
        TLockScope lock(*this);
        const int defineType = f.column.internalType == itMlsLabel ? itMlsLabel : f.typeCode;
        if (f.bufferSize > static_cast<std::size_t>(SB4MAXVAL)) {
            throw Exception("Column " + f.Name() + " is too wide to fetch");
        }
        const auto position = static_cast<ub4>(i + 1);
        if (openedOci8_) {
            OCIDefine* define = nullptr;
            if (f.IsLong()) {
                StoreStatus(oci.OCIDefineByPos(stmt_, &define, err_, position, nullptr, SB4MAXVAL,
                                               static_cast<ub2>(defineType), f.indicators.data(),
                                               f.lengths.data(), nullptr, OCI_DYNAMIC_FETCH));
                if (LastErrorCode() == 0) {
                    StoreStatus(oci.OCIDefineDynamic(define, err_, &f, &LongPieceCallback));
                }
            } else {
                StoreStatus(oci.OCIDefineByPos(
                    stmt_, &define, err_, position, f.buffer.empty() ? nullptr : f.buffer.data(),
                    static_cast<sb4>(f.bufferSize), static_cast<ub2>(defineType),
                    f.indicators.data(), f.lengths.data(), f.returnCodes.data(), OCI_DEFAULT));
            }
        } else {
            oci.odefin(&cda_, static_cast<sword>(position),
                       reinterpret_cast<ub1*>(f.buffer.empty() ? nullptr : f.buffer.data()),
                       static_cast<sword>(f.bufferSize), defineType, -1, f.indicators.data(),
                       nullptr, -1, -1, f.lengths.data(), f.returnCodes.data());
        }
        if (LastErrorCode() != 0) RaiseQueryError();
    }
}

sb4 TOracleQuery::LongPieceCallback(void* context, OCIDefine*, ub4, void** buffer, ub4** length,
                                    ub1*, void** indicator, ub2** returnCode) {
    try {
        auto& field = *static_cast<TFieldData*>(context);
        TLongPiece& piece = field.AddLongPiece();
        *buffer = piece.data.data();
        *length = &piece.length;
        *indicator = field.indicators.data();
        if (returnCode) *returnCode = nullptr;
        return OCI_CONTINUE;
    } catch (...) {
        return OCI_ERROR;  // nothing may cross the client library's frames
    }
}

void TOracleQuery::ResetLongPieces() noexcept {
    for (auto& field : fields_) {
        if (field->IsLong()) field->ResetLongPieces();
    }
}

void TOracleQuery::Next() {
    if (eof_) return;
    CheckSessionReady();
    ++currentRow_;
    if (currentRow_ >= rowsInBuffer_) {
        if (rowsInBuffer_ < rowsPerFetch_) {
            eof_ = true;
        } else {
            FetchNextBatch();
        }
    }
    if (eof_) FireAfterQuery();
}

void TOracleQuery::FetchNextBatch() {
    const ub4 before = RawRowCount();
    SetWaitCursor();
    {
        TLockScope lock(*this);
        const auto& oci = Oci();
        if (openedOci8_) {
            ResetLongPieces();
            StoreStatus(oci.OCIStmtFetch(stmt_, err_, static_cast<ub4>(rowsPerFetch_),
                                         OCI_FETCH_NEXT, OCI_DEFAULT));
        } else {
            oci.ofen(&cda_, rowsPerFetch_);
        }
        CheckFetchStatus(true);
    }
    RestoreWaitCursor();
    currentRow_ = 0;
    // Unsigned difference: the count may wrap beyond 2^32 rows.
    const ub4 fetched = RawRowCount() - before;
    rowsInBuffer_ = static_cast<int>(std::min<ub4>(fetched, static_cast<ub4>(rowsPerFetch_)));
    eof_ = rowsInBuffer_ == 0;
    CheckFetchedValues();
}

bool TOracleQuery::ReadRowCount(ub4& count) const {
    count = 0;
    if (!session_ || !session_->Connected() || !opened_) return true;
    if (!openedOci8_) {
        count = cda_.rpc;
        return true;
    }
    if (!stmt_) return true;
    return Oci().OCIAttrGet(stmt_, OCI_HTYPE_STMT, &count, nullptr, OCI_ATTR_ROW_COUNT, infoErr_) ==
           OCI_SUCCESS;
}

ub4 TOracleQuery::RawRowCount() const {
    ub4 count = 0;
    if (ReadRowCount(count)) return count;
    // A guessed count would drop fetched rows or hand out stale ones.
    sb4 code = 0;
    Oci().OCIErrorGet(infoErr_, 1, nullptr, &code, nullptr, 0, OCI_HTYPE_ERROR);
    if (code == 0) throw EOracleError("The client library could not tell the row count", -1);
    RaiseOracleError(session_, TErrorSource::FromHandle(infoErr_));
}

std::int64_t TOracleQuery::RowsProcessed() const { return RawRowCount(); }

// ---- closing ----

void TOracleQuery::FreeFields(bool callClient) noexcept {
    if (callClient && session_ && session_->Connected() && OCILoaded()) {
        const auto& oci = Oci();
        for (auto& field : fields_) {
            const bool lob = IsLobType(field->typeCode);
            if (!lob && field->typeCode != otCursor) continue;
            for (std::size_t r = 0; r < field->rowCapacity; ++r) {
                void* handle = nullptr;
                std::memcpy(&handle, field->buffer.data() + r * field->bufferSize, sizeof handle);
                if (!handle) continue;
                try {
                    if (lob) {
                        oci.OCIDescriptorFree(
                            handle, field->typeCode == otBFile ? OCI_DTYPE_FILE : OCI_DTYPE_LOB);
                    } else {
                        oci.OCIHandleFree(handle, OCI_HTYPE_STMT);
                    }
                } catch (...) {
                    // Releasing goes on for the other rows.
                }
            }
        }
    }
    fields_.clear();
}

void TOracleQuery::ReleaseHandles() noexcept {
    try {
        const auto& oci = Oci();
        if (stmt_) oci.OCIHandleFree(stmt_, OCI_HTYPE_STMT);
        if (rowId_) oci.OCIDescriptorFree(rowId_, OCI_DTYPE_ROWID);
        if (infoErr_) oci.OCIHandleFree(infoErr_, OCI_HTYPE_ERROR);
        if (err_) oci.OCIHandleFree(err_, OCI_HTYPE_ERROR);
    } catch (...) {
        // An unbound entry point: the handles die with the environment.
    }
    stmt_ = nullptr;
    rowId_ = nullptr;
    infoErr_ = nullptr;
    err_ = nullptr;
}

void TOracleQuery::CloseStatement() noexcept {
    if (!opened_) return;
    opened_ = false;
    parsedText_.clear();
    described_ = false;
    eof_ = true;
    const bool connected = session_ && session_->Connected() && OCILoaded();
    FreeFields(connected);
    if (connected) {
        try {
            TLockScope lock(*this);
            if (openedOci8_) {
                ReleaseHandles();
            } else if (!isCursorVariable_) {
                Oci().oclose(&cda_);
            }
        } catch (...) {
            // Closing goes on: the first error is the one the caller already has.
        }
    }
    stmt_ = nullptr;
    err_ = nullptr;
    infoErr_ = nullptr;
    rowId_ = nullptr;
    cda_ = {};
}

void TOracleQuery::ClearQuery() {
    variables_->RemoveAllVariables();
    sql_.Clear();
    parsedText_.clear();
    described_ = false;
    isCursorVariable_ = false;
}

// ---- ROWID ----

std::string FormatRowId(std::uint32_t object, std::uint16_t file, std::uint32_t block,
                        std::uint16_t row) {
    if (object == 0) {
        char text[32];
        std::snprintf(text, sizeof text, "%8.8x.%4.4x.%4.4x", block, row, file);
        return text;
    }
    static constexpr char kDigits[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string text;
    auto put = [&text](std::uint64_t value, int digits) {
        std::string part(static_cast<std::size_t>(digits), 'A');
        for (int i = digits - 1; i >= 0; --i) {
            part[static_cast<std::size_t>(i)] = kDigits[value % 64];
            value /= 64;
        }
        text += part;
    };
    put(object, 6);
    put(file, 3);
    put(block, 6);
    put(row, 3);
    return text;
}

std::string TOracleQuery::RowIdText() const {
    if (!opened_ || openedOci8_) {
        // The OCI8 ROWID descriptor is opaque; only the OCI7 cursor exposes the parts.
        return {};
    }
    return FormatRowId(cda_.rid.rd.rcs4, cda_.rid.rd.rcs5, cda_.rid.rcs7, cda_.rid.rcs8);
}

// ---- background thread ----

namespace detail {

TQueryThread::TQueryThread(TOracleQuery& query) : query_(query), thread_([this] { Run(); }) {}

TQueryThread::~TQueryThread() {
    {
        std::lock_guard lock(mutex_);
        terminated_ = true;
    }
    wake_.notify_all();
    if (thread_.joinable()) thread_.join();
}

void TQueryThread::Resume() {
    {
        std::lock_guard lock(mutex_);
        busy_ = true;
    }
    wake_.notify_all();
}

bool TQueryThread::Busy() const {
    std::lock_guard lock(mutex_);
    return busy_;
}

bool TQueryThread::Terminated() const {
    std::lock_guard lock(mutex_);
    return terminated_;
}

void TQueryThread::Run() {
    for (;;) {
        {
            std::unique_lock lock(mutex_);
            wake_.wait(lock, [this] { return busy_ || terminated_; });
            if (terminated_) return;
        }
        RunOnce();
        std::lock_guard lock(mutex_);
        busy_ = false;
    }
}

void TQueryThread::RunOnce() {
    TOracleQuery& q = query_;
    auto fire = [&q](const std::function<void()>& call) {
        if (q.threadSynchronized_) {
            platform::Synchronize(call);
        } else {
            call();
        }
    };
    auto fireEvent = [&](const TOracleQueryEvent& event) {
        if (event) fire([&] { event(q); });
    };
    try {
        q.ExecuteRows(-1, -1);
        fireEvent(q.OnThreadExecuted);
        while (!q.Eof() && !Terminated()) {
            fireEvent(q.OnThreadRecord);
            q.Next();
        }
    } catch (const EOracleError& error) {
        try {
            if (q.OnThreadError) fire([&] { q.OnThreadError(q, error.ErrorCode(), error.what()); });
        } catch (...) {
            // An error handler that fails has nobody left to report to.
        }
    } catch (const std::exception& error) {
        try {
            if (q.OnThreadError) fire([&] { q.OnThreadError(q, 0, error.what()); });
        } catch (...) {
            // An error handler that fails has nobody left to report to.
        }
    } catch (...) {
        // Not an exception object: nothing to report, but the thread must survive it.
    }
    try {
        if (!Terminated()) fireEvent(q.OnThreadFinished);
    } catch (...) {
        // The thread has nobody to report to; the next run starts clean.
    }
}

}  // namespace detail

}  // namespace velnor::oracle
