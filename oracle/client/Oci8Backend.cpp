// The OCI8 interface: statement handles, an error handle per statement, describe through
// parameter descriptors and LONG values in pieces through a dynamic define.
#include <algorithm>
#include <cctype>
#include <cstdint>
#include <optional>
#include <string_view>

#include "oracle/client/OciLibrary.h"
#include "oracle/client/OracleError.h"
#include "oracle/client/StatementBackend.h"
#include "oracle/query/OracleQuery.h"
#include "oracle/session/OracleSession.h"
#include "oracle/session/SessionLock.h"
#include "platform/Exception.h"

namespace velnor::oracle::detail {

void TOci8Binder::Bind(const TBindRequest& r, TBoundState& bound) {
    const TBoundState wanted{bound.handle, r.value,   r.valueSize,  r.externalType,
                             r.indicators, r.lengths, r.maxElements};
    // Same statement, same addresses and sizes: the client library still holds this bind.
    if (bound.handle && bound == wanted) return;
    if (!bindByName_) throw platform::Exception("The client library has no OCIBindByName");
    bound = wanted;
    const sword status = bindByName_(
        statement_, &bound.handle, error_, reinterpret_cast<const OraText*>(r.name.data()),
        static_cast<sb4>(r.name.size()), r.value, r.valueSize, r.externalType, r.indicators,
        r.lengths, nullptr, r.maxElements, r.currentCount, 0);
    if (status != 0) bound.value = nullptr;  // bind again next time
    if (check_) check_(status);
}

namespace {

using platform::Exception;

struct TRowIdParts {
    std::uint32_t object = 0;
    std::uint16_t file = 0;
    std::uint32_t block = 0;
    std::uint16_t slot = 0;
};

// The extended base-64 form OOOOOOFFFBBBBBBRRR, or the restricted BBBBBBBB.RRRR.FFFF in
// hexadecimal; nothing for any other text.
std::optional<TRowIdParts> ParseRowIdText(std::string_view text) {
    static constexpr std::string_view kDigits =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    const auto number = [&](std::size_t at, std::size_t digits, int radix,
                            std::uint64_t& out) -> bool {
        out = 0;
        for (std::size_t i = at; i < at + digits; ++i) {
            std::size_t d = std::string_view::npos;
            if (radix == 64) {
                d = kDigits.find(text[i]);
            } else if (std::isxdigit(static_cast<unsigned char>(text[i]))) {
                const char c = static_cast<char>(std::tolower(static_cast<unsigned char>(text[i])));
                d = static_cast<std::size_t>(c <= '9' ? c - '0' : c - 'a' + 10);
            }
            if (d == std::string_view::npos) return false;
            out = out * static_cast<std::uint64_t>(radix) + d;
        }
        return true;
    };
    std::uint64_t object = 0, file = 0, block = 0, slot = 0;
    if (text.size() == 18 && number(0, 6, 64, object) && number(6, 3, 64, file) &&
        number(9, 6, 64, block) && number(15, 3, 64, slot) && object != 0 && file <= 0xFFFF &&
        block <= 0xFFFFFFFF && slot <= 0xFFFF && object <= 0xFFFFFFFF) {
        return TRowIdParts{static_cast<std::uint32_t>(object), static_cast<std::uint16_t>(file),
                           static_cast<std::uint32_t>(block), static_cast<std::uint16_t>(slot)};
    }
    if (text.size() == 18 && text[8] == '.' && text[13] == '.' && number(0, 8, 16, block) &&
        number(9, 4, 16, slot) && number(14, 4, 16, file)) {
        return TRowIdParts{0, static_cast<std::uint16_t>(file), static_cast<std::uint32_t>(block),
                           static_cast<std::uint16_t>(slot)};
    }
    return std::nullopt;
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

class TOci8Statement final : public TStatementBackend {
public:
    TOci8Statement(TOracleSession& session, TVariables& variables,
                   std::function<void()> beforeError)
        : TStatementBackend(session, std::move(beforeError)), variables_(variables) {}

    int LastErrorCode() const override { return ErrorNumber(err_, lastStatus_); }

    [[noreturn]] void RaiseLastError() const override { RaiseOci8(&session_, err_, lastStatus_); }

    void Open(bool) override {
        OCIEnv* env = session_.EnvironmentHandle();
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
    }

    void Close(bool) noexcept override { ReleaseHandles(); }

    void* CursorVariableAddress() override {
        AllocStatementHandle();
        return &stmt_;
    }

    bool NeedsFreshParse(const TVariables& variables, int previousArrayLength) const override {
        // Binds of arrays, tables and LONG values do not survive a re-execution here.
        if (previousArrayLength > 1) return true;
        for (int i = 0; i < variables.Count(); ++i) {
            const TVariableData& v = variables.Item(i);
            if (v.TypeCode() == otLong || v.TypeCode() == otLongRaw || v.IsTable() ||
                v.ElementCount() > 1) {
                return true;
            }
        }
        return false;
    }

    int Parse(std::string& text, bool) override {
        const auto& oci = Oci();
        AllocStatementHandle();
        StoreStatus(oci.OCIStmtPrepare(stmt_, err_, reinterpret_cast<const OraText*>(text.data()),
                                       static_cast<ub4>(text.size()), OCI_NTV_SYNTAX, OCI_DEFAULT));
        if (lastStatus_ != OCI_SUCCESS && lastStatus_ != OCI_SUCCESS_WITH_INFO) return 0;
        ub2 type = 0;
        StoreStatus(
            oci.OCIAttrGet(stmt_, OCI_HTYPE_STMT, &type, nullptr, OCI_ATTR_STMT_TYPE, err_));
        return StatementCodeFromType(type);
    }

    int Bind(TVariables& variables) override {
        TOci8Binder binder(stmt_, err_, Oci().OCIBindByName.Get(),
                           [this](sword status) { Check(status); });
        return variables.BindVariables(binder);
    }

    void FillMappingContext(TMappingContext& context) const override { context.longPrefix = 0; }

    TSelectRun ExecuteSelect(bool describeOnly, bool described, bool cursorVariable, int rows,
                             ub4 mode) override {
        // A cursor variable arrives executed; describe needs the statement executed once.
        if (cursorVariable || (describeOnly && described)) return TSelectRun::kNotRun;
        const ub4 iters = described && !describeOnly ? static_cast<ub4>(rows) : 0;
        StoreStatus(Oci().OCIStmtExecute(session_.ServiceContext(), stmt_, err_, iters, 0, nullptr,
                                         nullptr, mode & ~ub4{OCI_COMMIT_ON_SUCCESS}));
        return iters != 0 ? TSelectRun::kFetched : TSelectRun::kExecuted;
    }

    std::vector<TColumnDescription> DescribeColumns() override {
        const auto& oci = Oci();
        std::vector<TColumnDescription> columns;
        ub4 count = 0;
        {
            TSessionLock lock(&session_);
            Check(
                oci.OCIAttrGet(stmt_, OCI_HTYPE_STMT, &count, nullptr, OCI_ATTR_PARAM_COUNT, err_));
        }
        for (ub4 p = 1; p <= count; ++p) {
            TSessionLock lock(&session_);
            void* param = nullptr;
            Check(oci.OCIParamGet(stmt_, OCI_HTYPE_STMT, err_, &param, p));
            ub2 dataSize = 0;
            ub2 dataType = 0;
            OraText* name = nullptr;
            ub4 nameLength = 0;
            sb2 precision = 0;  // the client library writes two bytes here
            sb1 scale = 0;
            ub1 nullable = 1;
            // A column described in part would be fetched and named wrongly.
            const auto get = [&](void* value, ub4* size, ub4 attribute) {
                Check(oci.OCIAttrGet(param, OCI_DTYPE_PARAM, value, size, attribute, err_));
            };
            get(&dataSize, nullptr, OCI_ATTR_DATA_SIZE);
            get(&dataType, nullptr, OCI_ATTR_DATA_TYPE);
            get(&name, &nameLength, OCI_ATTR_NAME);
            get(&precision, nullptr, OCI_ATTR_PRECISION);
            get(&scale, nullptr, OCI_ATTR_SCALE);
            get(&nullable, nullptr, OCI_ATTR_IS_NULL);
            ub2 charLength = 0;
            ub2 charsetId = 0;
            if (dataType == itVarchar2 || dataType == itChar) {
                get(&charLength, nullptr, OCI_ATTR_CHAR_SIZE);
                get(&charsetId, nullptr, OCI_ATTR_CHARSET_ID);
            }
            columns.push_back(
                {.dataSize = dataSize,
                 .internalType = dataType,
                 .name = name ? std::string(reinterpret_cast<const char*>(name),
                                            std::min<std::size_t>(nameLength, kMaxColumnNameLength))
                              : std::string(),
                 .precision = precision,
                 .scale = scale,
                 .nullable = nullable != 0,
                 .charLength = charLength,
                 .charsetId = charsetId});
        }
        return columns;
    }

    void Define(ub4 position, TFieldData& f, int defineType) override {
        const auto& oci = Oci();
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
                static_cast<sb4>(f.bufferSize), static_cast<ub2>(defineType), f.indicators.data(),
                f.lengths.data(), f.returnCodes.data(), OCI_DEFAULT));
        }
        CheckLast();
    }

    bool FirstFetch(bool, bool fetchedWithExecute, int rows) override {
        if (fetchedWithExecute) return false;
        Fetch(rows);
        return true;
    }

    void Fetch(int rows) override {
        StoreStatus(
            Oci().OCIStmtFetch(stmt_, err_, static_cast<ub4>(rows), OCI_FETCH_NEXT, OCI_DEFAULT));
    }

    int ExecuteOther(int iters, int rowoff, ub4 mode, int statementCode) override {
        const auto& oci = Oci();
        StoreStatus(oci.OCIStmtExecute(session_.ServiceContext(), stmt_, err_,
                                       static_cast<ub4>(iters), static_cast<ub4>(rowoff), nullptr,
                                       nullptr, mode));
        if (LastErrorCode() != 0) return statementCode;
        // Read after a clean execution only: failing then is no error of any one row.
        ub2 code = static_cast<ub2>(statementCode);
        Check(oci.OCIAttrGet(stmt_, OCI_HTYPE_STMT, &code, nullptr, OCI_ATTR_SQLFNCODE, err_));
        return code;
    }

    bool ReadRowCount(ub4& count) const override {
        count = 0;
        if (!stmt_) return true;
        return Oci().OCIAttrGet(stmt_, OCI_HTYPE_STMT, &count, nullptr, OCI_ATTR_ROW_COUNT,
                                infoErr_) == OCI_SUCCESS;
    }

    [[noreturn]] void RaiseRowCountError() const override {
        if (HasErrorRecord(infoErr_)) {
            RaiseOracleError(&session_, TErrorSource::FromHandle(infoErr_));
        }
        throw EOracleError("The client library could not tell the row count", -1);
    }

    std::size_t ReadLong(const TFieldData& f, int, int, std::byte* out, std::size_t offset,
                         std::size_t length) override {
        return f.CopyFromPieces(out, offset, length);
    }

    std::optional<std::size_t> KnownLongLength(const TFieldData& f) const override {
        return f.LongPieceLength();
    }

    std::uint64_t LobLength(void* locator) override {
        ub4 length = 0;
        CheckOci8(&session_, err_,
                  Oci().OCILobGetLength(session_.ServiceContext(), err_,
                                        static_cast<OCILobLocator*>(locator), &length));
        return length;
    }

    // Polling reads from offset 1 with an amount of 0: the client streams to the end.
    void ReadLob(void* locator, std::size_t chunk,
                 const std::function<void(std::string_view piece)>& sink) override {
        std::vector<char> buffer(chunk);
        const auto& oci = Oci();
        sword status = OCI_NEED_DATA;
        while (status == OCI_NEED_DATA) {
            ub4 amount = 0;
            status = oci.OCILobRead(session_.ServiceContext(), err_,
                                    static_cast<OCILobLocator*>(locator), &amount, 1, buffer.data(),
                                    static_cast<ub4>(buffer.size()), nullptr, nullptr, 0,
                                    SQLCS_IMPLICIT);
            if (status != OCI_NEED_DATA) CheckOci8(&session_, err_, status);
            if (amount > buffer.size()) throw Exception("The client library overran a LOB buffer");
            if (amount > 0) sink(std::string_view(buffer.data(), amount));
        }
    }

    // The descriptor is opaque: the client's text form gives the four numbers back. A client
    // without OCIRowidToChar, or a descriptor naming no row, gives "".
    std::string RowIdText() const override {
        const auto& oci = Oci();
        if (!rowId_ || !stmt_ || !oci.OCIRowidToChar) return {};
        (void)oci.OCIAttrGet(stmt_, OCI_HTYPE_STMT, rowId_, nullptr, OCI_ATTR_ROWID, err_);
        OraText text[OCI_ROWID_LEN + 1] = {};
        ub2 length = OCI_ROWID_LEN;
        if (oci.OCIRowidToChar(static_cast<OCIRowid*>(rowId_), text, &length, err_) != OCI_SUCCESS)
            return {};
        const std::string_view view(reinterpret_cast<const char*>(text),
                                    std::min<std::size_t>(length, OCI_ROWID_LEN));
        const std::optional<TRowIdParts> parts = ParseRowIdText(view);
        // A form with other parts (an index-organised table's logical ROWID) stays as given.
        if (!parts) return std::string(view);
        return FormatRowId(parts->object, parts->file, parts->block, parts->slot);
    }
    const void* Handle() const noexcept override { return stmt_; }

protected:
    sword LastStatus() const noexcept override { return lastStatus_; }
    void StoreStatus(sword status) noexcept override { lastStatus_ = status; }

private:
    // Replaces the statement handle with a fresh one with client prefetch switched off.
    void AllocStatementHandle() {
        const auto& oci = Oci();
        if (stmt_) {
            oci.OCIHandleFree(stmt_, OCI_HTYPE_STMT);
            stmt_ = nullptr;
        }
        if (oci.OCIHandleAlloc(session_.EnvironmentHandle(), reinterpret_cast<void**>(&stmt_),
                               OCI_HTYPE_STMT, 0, nullptr) != OCI_SUCCESS) {
            stmt_ = nullptr;
            throw Exception("The client library could not allocate a statement handle");
        }
        // Rows arrive only through the array fetch; the client library keeps none in advance.
        ub4 zero = 0;
        for (ub4 attribute : {ub4{OCI_ATTR_PREFETCH_ROWS}, ub4{OCI_ATTR_PREFETCH_MEMORY}}) {
            Check(oci.OCIAttrSet(stmt_, OCI_HTYPE_STMT, &zero, sizeof zero, attribute, err_));
        }
        variables_.ForgetBinds();
    }

    void ReleaseHandles() noexcept {
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

    static sb4 LongPieceCallback(void* context, OCIDefine*, ub4, void** buffer, ub4** length, ub1*,
                                 void** indicator, ub2** returnCode) {
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

    TVariables& variables_;
    OCIError* err_ = nullptr;
    OCIError* infoErr_ = nullptr;  // for reads whose failure must not replace err_'s record
    void* rowId_ = nullptr;
    OCIStmt* stmt_ = nullptr;
    sword lastStatus_ = OCI_SUCCESS;
};

class TOci8Connection final : public TConnectionBackend {
public:
    using TConnectionBackend::TConnectionBackend;

    void Commit() override {
        TSessionLock lock(&session_);
        CheckOci8(
            &session_, session_.ErrorHandle(),
            Oci().OCITransCommit(session_.ServiceContext(), session_.ErrorHandle(), OCI_DEFAULT));
    }

    void Rollback() override {
        TSessionLock lock(&session_);
        CheckOci8(
            &session_, session_.ErrorHandle(),
            Oci().OCITransRollback(session_.ServiceContext(), session_.ErrorHandle(), OCI_DEFAULT));
    }

    void SetAutoCommit(bool) override {}

    void RunStatement(const std::string& sql) override {
        const TOciFunctions& t = Oci();
        OCIStmt* stmt = nullptr;
        const sword allocated =
            t.OCIHandleAlloc(session_.EnvironmentHandle(), reinterpret_cast<void**>(&stmt),
                             OCI_HTYPE_STMT, 0, nullptr);
        if (allocated != OCI_SUCCESS || !stmt) {
            throw Exception("Could not allocate a statement handle");
        }
        struct TFree {
            OCIStmt* stmt;
            ~TFree() {
                if (Oci().OCIHandleFree) Oci().OCIHandleFree(stmt, OCI_HTYPE_STMT);
            }
        } release{stmt};
        OCIError* err = session_.ErrorHandle();
        CheckOci8(&session_, err,
                  t.OCIStmtPrepare(stmt, err, reinterpret_cast<const OraText*>(sql.data()),
                                   static_cast<ub4>(sql.size()), OCI_NTV_SYNTAX, OCI_DEFAULT));
        const ub4 mode = session_.AutoCommit() ? OCI_COMMIT_ON_SUCCESS : OCI_DEFAULT;
        CheckOci8(
            &session_, err,
            t.OCIStmtExecute(session_.ServiceContext(), stmt, err, 1, 0, nullptr, nullptr, mode));
    }

    std::unique_ptr<TStatementBackend> NewStatement(TVariables& variables,
                                                    std::function<void()> beforeError) override {
        return std::make_unique<TOci8Statement>(session_, variables, std::move(beforeError));
    }
};

}  // namespace

std::unique_ptr<TConnectionBackend> NewOci8Backend(TOracleSession& session) {
    return std::make_unique<TOci8Connection>(session);
}

}  // namespace velnor::oracle::detail
