#include "oracle/query/OracleQuery.h"

#include <algorithm>
#include <cstring>
#include <iostream>
#include <limits>
#include <mutex>

#include "oracle/client/OciLibrary.h"
#include "oracle/client/OracleError.h"
#include "oracle/client/OracleHome.h"
#include "oracle/client/StatementBackend.h"
#include "oracle/query/Probes.h"
#include "oracle/query/detail/QueryImpl.h"
#include "oracle/session/SessionLock.h"
#include "platform/Exception.h"
#include "platform/UiHooks.h"

namespace velnor::oracle {

using platform::Exception;

namespace {

using detail::kNoDataFound;
using detail::TSessionLock;
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
      variables_(std::make_unique<TVariables>(static_cast<TVariablesHost*>(this))),
      impl_(std::make_unique<TQueryImpl>(*this)) {}

TOracleQuery::~TOracleQuery() {
    impl_->thread_.reset();
    CloseStatement();
    if (session_) session_->DetachDependent(this);
    session_ = nullptr;
}

bool TOracleQuery::Eof() const noexcept { return impl_->eof_; }
int TOracleQuery::StatementCode() const noexcept { return impl_->statementCode_; }
int TOracleQuery::FieldCount() const noexcept { return static_cast<int>(impl_->fields_.size()); }

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
    impl_->FreeFields(false);
    impl_->opened_ = false;
    impl_->described_ = false;
    impl_->parsedText_.clear();
    impl_->statement_.reset();
    impl_->eof_ = true;
    session_ = nullptr;
}

void TOracleQuery::SetVariables(const TVariables& other) {
    if (&other == variables_.get()) return;
    variables_->Assign(other);
}

void TOracleQuery::SetStringFieldsOnly(bool value) noexcept {
    if (value == stringFieldsOnly_) return;
    stringFieldsOnly_ = value;
    impl_->parsedText_.clear();
}

void TOracleQuery::SetExactNumbers(bool value) noexcept {
    if (value == exactNumbers_) return;
    exactNumbers_ = value;
    impl_->parsedText_.clear();
}

// ---- variables host ----

TVariableSettings TOracleQuery::VariableSettings() const {
    TVariableSettings settings;
    if (!session_) return settings;
    settings.hasSession = true;
    settings.maxVarcharChars =
        impl_->probe_ ? KnownMaxVarcharChars(*session_) : MaxVarcharChars(*session_);
    settings.nullValueIsNull = session_->NullValue() == TNullValueOption::nvNull;
    settings.convertCRLF = session_->Preferences().ConvertCRLF();
    settings.zeroDateIsNull = session_->Preferences().ZeroDateIsNull();
    return settings;
}

void TOracleQuery::VariablesChanged() {
    impl_->parsedText_.clear();
    if (session_ && session_->ODBCMode()) CloseStatement();
}

bool TOracleQuery::AcceptsObject(std::int16_t typeCode, platform::TComponent& object) const {
    return typeCode == otCursor && dynamic_cast<TOracleQuery*>(&object) != nullptr;
}

void* TOracleQuery::PrepareCursorVariable(platform::TComponent& query) {
    auto* target = dynamic_cast<TOracleQuery*>(&query);
    if (!target) throw Exception("Assign TOracleQuery instance to a cursor variable");
    if (!target->session_) target->SetSession(session_);
    target->CloseStatement();
    target->ClearQuery();
    target->impl_->isCursorVariable_ = true;
    target->impl_->OpenStatement();
    return target->impl_->statement_->CursorVariableAddress();
}

// ---- status and errors ----

int TOracleQuery::LastErrorCode() const {
    return impl_->statement_ ? impl_->statement_->LastErrorCode() : 0;
}

void TQueryImpl::AbandonRows() {
    eof_ = true;
    parsedText_.clear();
    RestoreWaitCursor();
    FireAfterQuery();
}

void TQueryImpl::RaiseFetchTruncated(const TFieldData& field) {
    AbandonRows();
    throw EOracleError(
        "ORA-01406: fetched column value was truncated (column " + field.Name() + ")\n",
        kValueTruncated);
}

void TQueryImpl::FireAfterQuery() {
    if (!afterQueryPending_) return;
    afterQueryPending_ = false;
    if (q_.AfterQuery) q_.AfterQuery(q_);
}

void TQueryImpl::SetWaitCursor() {
    if (q_.cursor_ == 0) return;
    savedCursor_ = platform::ScreenCursor();
    platform::SetScreenCursor(q_.cursor_);
}

void TQueryImpl::RestoreWaitCursor() noexcept {
    if (q_.cursor_ == 0) return;
    try {
        platform::SetScreenCursor(savedCursor_);
    } catch (...) {
        // A failing GUI hook must not replace the error being reported.
    }
}

void TQueryImpl::CheckSessionReady() const {
    if (!q_.session_) throw Exception("Session undefined");
    if (!q_.session_->Connected()) throw Exception("Not logged on");
}

// ---- execution ----

void TOracleQuery::Execute() {
    if (!threaded_) {
        ExecuteRows(-1, -1);
        return;
    }
    if (!impl_->thread_) impl_->thread_ = std::make_unique<detail::TQueryThread>(*this);
    if (impl_->thread_->Busy()) throw Exception("Query thread is still in progress");
    impl_->thread_->Resume();
}

bool TOracleQuery::ThreadBusy() const noexcept { return impl_->thread_ && impl_->thread_->Busy(); }

int TOracleQuery::ExecuteRows(int index, int count) {
    if (count == 0) return 0;
    const bool all = index == -1 && count == -1;
    if (!all && (index < 0 || count < 0 || index > std::numeric_limits<int>::max() - count)) {
        throw Exception("Invalid row range " + std::to_string(index) + ", " +
                        std::to_string(count));
    }
    if (BeforeQuery) BeforeQuery(*this);
    impl_->afterQueryPending_ = true;
    int iters = all ? 0 : index + count;
    int rowoff = all ? 0 : index;
    std::int64_t total = 0;
    try {
        for (;;) {
            try {
                impl_->failedRow_ = -1;
                impl_->RunStatement(false, true, iters, rowoff);
                total += RowsProcessed();
                break;
            } catch (const EOracleError& error) {
                // Only a failing row of an array execution can be skipped.
                if (impl_->failedRow_ < 0 || !OnArrayError) throw;
                if (iters == 0) iters = impl_->arrayLength_;
                total += std::max<std::int64_t>(0, impl_->failedRow_ - rowoff);
                rowoff = impl_->failedRow_ + 1;
                bool continueRun = true;
                OnArrayError(*this, impl_->failedRow_, error.ErrorCode(), error.Message(),
                             continueRun);
                if (!continueRun || rowoff >= iters) break;
            }
        }
    } catch (...) {
        impl_->FireAfterQuery();
        throw;
    }
    if (impl_->eof_) impl_->FireAfterQuery();
    return static_cast<int>(std::min<std::int64_t>(total, std::numeric_limits<int>::max()));
}

void TOracleQuery::Describe() {
    if (ThreadBusy()) throw Exception("Query thread is still in progress");
    impl_->RunStatement(true, true, 0, 0);
}

void TQueryImpl::RunStatement(bool describe, bool deferred, int iters, int rowoff) {
    if (!q_.session_) throw Exception("Session undefined");
    ub4 mode = OCI_DEFAULT;
    if (describe) {
        mode = OCI_DESCRIBE_ONLY;
    } else if (q_.session_->AutoCommit()) {
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
    if (!q_.session_->Connected()) throw Exception("Not logged on");
    if (q_.debug_ && !describe && !isCursorVariable_) {
        std::string text = q_.sql_.Text();
        for (int i = 0; i < q_.variables_->Count(); ++i) {
            text += '\r' + q_.variables_->GetVariableName(i) + " = " +
                    q_.variables_->VariableDisplayText(i);
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

void TQueryImpl::OpenStatement() {
    if (opened_) return;
    CheckSessionReady();
    TSessionLock lock(q_.session_);
    auto statement = q_.session_->Backend().NewStatement(*q_.variables_, [this] { AbandonRows(); });
    statement->Open(isCursorVariable_);
    statement_ = std::move(statement);
    opened_ = true;
}

void TQueryImpl::ParseStatement(bool deferred) {
    OpenStatement();
    if (isCursorVariable_) {
        statementCode_ = scSelect;
        described_ = false;
        return;
    }
    std::string text = q_.variables_->SubstituteVariables(q_.sql_.Text());
    text.erase(std::remove(text.begin(), text.end(), '\r'), text.end());
    if (text.empty()) text = " ";
    if (text.size() > static_cast<std::size_t>(SB4MAXVAL)) throw Exception("SQL text too long");

    if (statement_->NeedsFreshParse(*q_.variables_, previousArrayLength_)) parsedText_.clear();
    if (q_.optimize_ && !parsedText_.empty() && parsedText_ == text &&
        ReusableStatement(statementCode_)) {
        return;
    }

    FreeFields();
    described_ = false;
    parsedText_ = text;
    statementCode_ = 0;
    TSessionLock lock(q_.session_);
    statementCode_ = statement_->Parse(text, deferred);
    statement_->CheckLast();
}

void TQueryImpl::BindAll() {
    if (isCursorVariable_ || q_.variables_->Count() == 0) {
        arrayLength_ = 0;
        previousArrayLength_ = 0;
        return;
    }
    TSessionLock lock(q_.session_);
    arrayLength_ = statement_->Bind(*q_.variables_);
    previousArrayLength_ = arrayLength_;
}

void TQueryImpl::SelectPath(bool describe, ub4 mode) {
    using TSelectRun = detail::TStatementBackend::TSelectRun;
    BindAll();
    // A described statement executes and fills the existing defines in one call.
    if (described_ && !describe && !isCursorVariable_) ResetLongPieces();
    TSelectRun run = TSelectRun::kNotRun;
    {
        TSessionLock lock(q_.session_);
        run =
            statement_->ExecuteSelect(describe, described_, isCursorVariable_, rowsPerFetch_, mode);
        if (run == TSelectRun::kFetched) {
            CheckFetchStatus(true);
        } else if (run == TSelectRun::kExecuted) {
            statement_->CheckLast(kNoDataFound);
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
        TSessionLock lock(q_.session_);
        const bool fetched = run == TSelectRun::kFetched;
        if (!fetched) ResetLongPieces();
        if (statement_->FirstFetch(isCursorVariable_, fetched, rowsPerFetch_)) {
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

void TQueryImpl::CheckFetchStatus(bool allowNoData) {
    const int code = statement_->LastErrorCode();
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
    statement_->FailLastCall();
}

void TQueryImpl::CheckFetchedValues() {
    const std::size_t rows = static_cast<std::size_t>(std::max(rowsInBuffer_, 0));
    for (const auto& field : fields_) {
        for (std::size_t r = 0; r < rows; ++r) {
            if (field->Truncated(r)) RaiseFetchTruncated(*field);
        }
    }
}

void TQueryImpl::OtherPath(bool describe, ub4 mode, int iters, int rowoff) {
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
        TSessionLock lock(q_.session_);
        statementCode_ = statement_->ExecuteOther(iters, rowoff, mode, statementCode_);
        if (const int code = statement_->LastErrorCode(); code != 0) {
            // A lost connection failed the execution as a whole: no row of it can be skipped.
            if (arrayLength_ > 1 && !IsConnectionError(code))
                failedRow_ = FailedArrayRow(rowoff, iters);
            statement_->FailLastCall();
        }
    }
    RestoreWaitCursor();
}

int TQueryImpl::FailedArrayRow(int rowoff, int iters) const {
    // Without batch-error mode the client names no failing element; it stops at the first
    // one and counts the rows done before it. That count is the element index only when
    // every element inserts exactly one row.
    if (!InsertsOneRowPerElement(statementCode_, parsedText_)) return -1;
    ub4 count = 0;
    if (!ReadRowCount(count)) return -1;
    const std::int64_t row = rowoff + static_cast<std::int64_t>(count);
    if (row >= iters) return -1;
    return static_cast<int>(row);
}

// The facts the type mapping needs are measured outside the describe: a probe is a query of
// its own and must not run while this statement's describe calls are under way.
TMappingContext TQueryImpl::MappingContext() {
    TMappingContext context;
    statement_->FillMappingContext(context);
    context.stringFieldsOnly = q_.stringFieldsOnly_;
    context.exactNumbers = q_.exactNumbers_;
    if (const std::string set = ClientCharacterSet(); !set.empty()) {
        context.clientBytesPerCharacter = MaxBytesPerCharacter(set);
        // The Unicode sets' numbers: the usual database sets a UTF-8 client meets unconverted.
        context.clientCharsetId = set == "AL32UTF8" ? 873 : set == "UTF8" ? 871 : 0;
    }
    context.numberRule = [this](int p, int s, bool f) {
        return q_.session_->ChooseNumberFieldType(p, s, f);
    };
    if (probe_) {
        context.dateFormatLength = [this] { return KnownDateFormatLength(*q_.session_); };
        context.bytesPerCharacter = [this] { return KnownBytesPerCharacter(*q_.session_); };
    } else {
        context.dateFormatLength = [this] { return DateFormatLength(*q_.session_); };
        context.bytesPerCharacter = [this] { return BytesPerCharacter(*q_.session_); };
    }
    context.checkFeature = [this](const char* feature) {
        CheckSessionFeature(q_.session_, feature);
    };
    return context;
}

void TQueryImpl::DescribeColumns() {
    rowsPerFetch_ = q_.readBuffer_;
    FreeFields();
    try {
        std::vector<TColumnDescription> columns = statement_->DescribeColumns();
        const TMappingContext context = MappingContext();
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
            AllocateLocators(*field, rows);
        }
    } catch (...) {
        FreeFields();
        parsedText_.clear();
        throw;
    }
    described_ = true;
}

void TQueryImpl::AllocateLocators(TFieldData& field, std::size_t rows) {
    if (!IsLobType(field.typeCode) && field.typeCode != otCursor) return;
    const auto& oci = Oci();
    for (std::size_t r = 0; r < rows; ++r) {
        void* handle = nullptr;
        const sword status =
            field.typeCode == otCursor
                ? oci.OCIHandleAlloc(q_.session_->EnvironmentHandle(), &handle, OCI_HTYPE_STMT, 0,
                                     nullptr)
                : oci.OCIDescriptorAlloc(q_.session_->EnvironmentHandle(), &handle,
                                         field.typeCode == otBFile ? OCI_DTYPE_FILE : OCI_DTYPE_LOB,
                                         0, nullptr);
        if (status != OCI_SUCCESS) {
            throw Exception("The client library could not allocate a locator");
        }
        std::memcpy(field.buffer.data() + r * field.bufferSize, &handle, sizeof handle);
    }
}

void TQueryImpl::DefineColumns() {
    for (std::size_t i = 0; i < fields_.size(); ++i) {
        TFieldData& f = *fields_[i];
        TSessionLock lock(q_.session_);
        const int defineType = f.column.internalType == itMlsLabel ? itMlsLabel : f.typeCode;
        if (f.bufferSize > static_cast<std::size_t>(SB4MAXVAL)) {
            throw Exception("Column " + f.Name() + " is too wide to fetch");
        }
        statement_->Define(static_cast<ub4>(i + 1), f, defineType);
    }
}

void TQueryImpl::ResetLongPieces() noexcept {
    for (auto& field : fields_) {
        if (field->IsLong()) field->ResetLongPieces();
    }
}

void TOracleQuery::Next() {
    if (impl_->eof_) return;
    impl_->CheckSessionReady();
    ++impl_->currentRow_;
    if (impl_->currentRow_ >= impl_->rowsInBuffer_) {
        if (impl_->rowsInBuffer_ < impl_->rowsPerFetch_) {
            impl_->eof_ = true;
        } else {
            impl_->FetchNextBatch();
        }
    }
    if (impl_->eof_) impl_->FireAfterQuery();
}

void TQueryImpl::FetchNextBatch() {
    const ub4 before = RawRowCount();
    SetWaitCursor();
    {
        TSessionLock lock(q_.session_);
        ResetLongPieces();
        statement_->Fetch(rowsPerFetch_);
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

bool TQueryImpl::ReadRowCount(ub4& count) const {
    count = 0;
    if (!q_.session_ || !q_.session_->Connected() || !opened_) return true;
    return statement_->ReadRowCount(count);
}

ub4 TQueryImpl::RawRowCount() const {
    ub4 count = 0;
    if (ReadRowCount(count)) return count;
    // A guessed count would drop fetched rows or hand out stale ones.
    statement_->RaiseRowCountError();
    __builtin_unreachable();  // the attribute of a virtual function is not seen through the call
}

std::int64_t TOracleQuery::RowsProcessed() const { return impl_->RawRowCount(); }

// ---- closing ----

void TQueryImpl::FreeFields(bool callClient) noexcept {
    if (callClient && q_.session_ && q_.session_->Connected() && OCILoaded()) {
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

void TOracleQuery::CloseStatement() noexcept {
    if (!impl_->opened_) return;
    impl_->opened_ = false;
    impl_->parsedText_.clear();
    impl_->described_ = false;
    impl_->eof_ = true;
    const bool connected = session_ && session_->Connected() && OCILoaded();
    impl_->FreeFields(connected);
    if (connected && impl_->statement_) {
        try {
            TSessionLock lock(session_);
            impl_->statement_->Close(impl_->isCursorVariable_);
        } catch (...) {
            // Closing goes on: the first error is the one the caller already has.
        }
    }
    impl_->statement_.reset();
}

void TOracleQuery::ClearQuery() {
    variables_->RemoveAllVariables();
    sql_.Clear();
    impl_->parsedText_.clear();
    impl_->described_ = false;
    impl_->isCursorVariable_ = false;
}

bool InsertsOneRowPerElement(int statementCode, std::string_view text) {
    if (statementCode != scInsert) return false;
    // A subquery (multi-table inserts have one too) may insert any number of rows.
    return UpperCaseAscii(text).find("SELECT") == std::string::npos;
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
    if (!impl_->opened_ || !impl_->statement_) return {};
    return impl_->statement_->RowIdText();
}

}  // namespace velnor::oracle
