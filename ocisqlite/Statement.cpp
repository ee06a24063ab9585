// OCI8 statements: prepare, binds, defines, execute, describe, fetch and transactions.
#include "ocisqlite/Statement.h"

#include <cstring>
#include <type_traits>

#include "ocisqlite/Connection.h"

using namespace velnor::ocisqlite;

#define VELNOR_CHECK_SIGNATURE(name) \
    static_assert(std::is_same_v<decltype(&name), Fn##name>, #name);
VELNOR_CHECK_SIGNATURE(OCIStmtPrepare)
VELNOR_CHECK_SIGNATURE(OCIBindByName)
VELNOR_CHECK_SIGNATURE(OCIBindByPos)
VELNOR_CHECK_SIGNATURE(OCIBindArrayOfStruct)
VELNOR_CHECK_SIGNATURE(OCIDefineByPos)
VELNOR_CHECK_SIGNATURE(OCIDefineDynamic)
VELNOR_CHECK_SIGNATURE(OCIDefineArrayOfStruct)
VELNOR_CHECK_SIGNATURE(OCIStmtExecute)
VELNOR_CHECK_SIGNATURE(OCIStmtFetch)
VELNOR_CHECK_SIGNATURE(OCIParamGet)
VELNOR_CHECK_SIGNATURE(OCITransStart)
VELNOR_CHECK_SIGNATURE(OCITransCommit)
VELNOR_CHECK_SIGNATURE(OCITransRollback)

namespace velnor::ocisqlite {
namespace {

// The describe type code of the OCI8 interface.
ub2 OciTypeCode(int engineType) {
    return engineType == sql::tcRowid ? ub2{SQLT_RDD} : static_cast<ub2>(engineType);
}

ub2 DisplaySize(const sql::ColumnInfo& c) {
    switch (c.type) {
        case sql::tcNumber:
            return static_cast<ub2>(c.precision > 0 ? c.precision + 2 : 40);
        case sql::tcDate:
            return 9;
        case sql::tcRaw:
            return static_cast<ub2>(c.size * 2);
        default:
            return static_cast<ub2>(c.size);
    }
}

}  // namespace

void TParam::GetAttr(ub4 attr, void* value, ub4* size) {
    switch (attr) {
        case OCI_ATTR_DATA_SIZE:
            return PutAttr<ub2>(value, size, static_cast<ub2>(info.size));
        case OCI_ATTR_DATA_TYPE:
            return PutAttr<ub2>(value, size, OciTypeCode(info.type));
        case OCI_ATTR_DISP_SIZE:
            return PutAttr<ub2>(value, size, DisplaySize(info));
        case OCI_ATTR_NAME:
            return PutTextAttr(value, size, info.name);
        case OCI_ATTR_PRECISION:  // two bytes wide, as newer clients write it
            return PutAttr<sb2>(value, size, static_cast<sb2>(info.precision));
        case OCI_ATTR_SCALE:
            return PutAttr<sb1>(value, size, static_cast<sb1>(info.scale));
        case OCI_ATTR_FSPRECISION:  // datetime and interval precisions, one byte each
            return PutAttr<ub1>(value, size, static_cast<ub1>(info.scale));
        case OCI_ATTR_LFPRECISION:
            return PutAttr<ub1>(value, size, static_cast<ub1>(info.precision));
        case OCI_ATTR_IS_NULL:
            return PutAttr<ub1>(value, size, info.nullable ? 1 : 0);
        case OCI_ATTR_TYPE_NAME:
        case OCI_ATTR_SCHEMA_NAME: {
            static const std::string empty;
            return PutTextAttr(value, size, empty);
        }
        case OCI_ATTR_POSITION:
            return PutAttr<ub4>(value, size, position_);
        case OCI_ATTR_CHAR_SIZE:
            return PutAttr<ub2>(value, size, static_cast<ub2>(info.charLength));
        case OCI_ATTR_CHAR_USED:
            return PutAttr<ub1>(value, size, info.charSemantics ? 1 : 0);
        case OCI_ATTR_CHARSET_FORM:
            return PutAttr<ub1>(value, size, info.national ? SQLCS_NCHAR : SQLCS_IMPLICIT);
        case OCI_ATTR_CHARSET_ID:
            return PutAttr<ub2>(value, size, info.national ? kNationalCharsetId : kCharsetId);
        default:
            THandle::GetAttr(attr, value, size);
    }
}

void TStatement::Prepare(std::string sql) {
    bindHandles_.clear();
    defineHandles_.clear();
    params_.clear();
    described_ = false;
    core.Prepare(std::move(sql));
}

TBindHandle* TStatement::HandleFor(TBindSpec& bind) {
    for (auto& h : bindHandles_)
        if (h->decl == &bind) return h.get();
    bindHandles_.push_back(std::make_unique<TBindHandle>(this, &bind));
    return bindHandles_.back().get();
}

TDefineHandle* TStatement::HandleFor(TDefineSpec& define) {
    for (auto& h : defineHandles_)
        if (h->decl == &define) return h.get();
    defineHandles_.push_back(std::make_unique<TDefineHandle>(this, &define));
    return defineHandles_.back().get();
}

void TStatement::Describe(TConnection& connection) {
    const auto& columns = core.Describe(connection);
    params_.clear();
    for (std::size_t i = 0; i < columns.size(); ++i)
        params_.push_back(std::make_unique<TParam>(this, columns[i], static_cast<ub4>(i + 1)));
    described_ = true;
}

TParam* TStatement::Param(ub4 position) const {
    if (!described_) throw OraError(24338);
    if (position == 0 || position > params_.size()) throw OraError(24334);
    return params_[position - 1].get();
}

void TStatement::GetAttr(ub4 attr, void* value, ub4* size) {
    switch (attr) {
        case OCI_ATTR_ROW_COUNT:
            return PutAttr<ub4>(value, size, static_cast<ub4>(core.RowCount()));
        case OCI_ATTR_UB8_ROW_COUNT:
            return PutAttr<ub8>(value, size, core.RowCount());
        case OCI_ATTR_ROWS_FETCHED:
            return PutAttr<ub4>(value, size, core.LastFetchRows());
        case OCI_ATTR_SQLFNCODE:
            return PutAttr<ub2>(value, size, core.FunctionCode());
        case OCI_ATTR_STMT_TYPE:
            return PutAttr<ub2>(value, size, static_cast<ub2>(core.StatementType()));
        case OCI_ATTR_PARAM_COUNT:
            if (!described_) throw OraError(24338);
            return PutAttr<ub4>(value, size, static_cast<ub4>(params_.size()));
        case OCI_ATTR_PREFETCH_ROWS:
            return PutAttr<ub4>(value, size, prefetchRows_);
        case OCI_ATTR_PREFETCH_MEMORY:
            return PutAttr<ub4>(value, size, prefetchMemory_);
        case OCI_ATTR_STATEMENT:
            return PutTextAttr(value, size, core.Sql());
        case OCI_ATTR_BIND_COUNT:
            return PutAttr<ub4>(value, size, static_cast<ub4>(bindHandles_.size()));
        case OCI_ATTR_NUM_DML_ERRORS:
            return PutAttr<ub4>(value, size, 0);
        case OCI_ATTR_ROWID: {
            // The caller hands the descriptor itself; the row is copied into it.
            auto* rowid = AsHandle<TDescriptor>(value, OCI_DTYPE_ROWID);
            if (!rowid) throw OraError(24315);
            rowid->row = core.LastRow();
            if (size) *size = 0;
            return;
        }
        case OCI_ATTR_ENV:
            return PutAttr<OCIEnv*>(value, size, reinterpret_cast<OCIEnv*>(Environment()));
        default:
            THandle::GetAttr(attr, value, size);
    }
}

void TStatement::SetAttr(ub4 attr, void* value, ub4 size) {
    switch (attr) {
        case OCI_ATTR_PREFETCH_ROWS:  // rows come straight from the engine; nothing to tune
            if (!value) throw OraError(24315);
            std::memcpy(&prefetchRows_, value, sizeof prefetchRows_);
            return;
        case OCI_ATTR_PREFETCH_MEMORY:
            if (!value) throw OraError(24315);
            std::memcpy(&prefetchMemory_, value, sizeof prefetchMemory_);
            return;
        default:
            THandle::SetAttr(attr, value, size);
    }
}

}  // namespace velnor::ocisqlite

namespace {

bool ValidError(OCIError* err) { return AsHandle<TErrorHandle>(err, OCI_HTYPE_ERROR) != nullptr; }

// The status of a fetch that delivered what `outcome` says, out of `wanted` rows.
sword FetchStatus(const TFetchOutcome& outcome, ub4 wanted, OCIError* err) {
    THandle* errors = AnyHandle(err);
    if (outcome.rowError != 0) {
        SetError(errors, outcome.rowError, MessageText(outcome.rowError));
        return OCI_ERROR;
    }
    if (outcome.rows < wanted && outcome.exhausted) {
        SetError(errors, 1403, MessageText(1403));
        return OCI_NO_DATA;
    }
    if (outcome.truncatedOrNull) {
        SetError(errors, 24345, MessageText(24345));
        return OCI_SUCCESS_WITH_INFO;
    }
    return OCI_SUCCESS;
}

}  // namespace

VELNOR_EXPORT sword OCIStmtPrepare(OCIStmt* stmt, OCIError* err, const OraText* sql, ub4 text_len,
                                   ub4, ub4) {
    auto* statement = AsHandle<TStatement>(stmt, OCI_HTYPE_STMT);
    if (!statement || !ValidError(err)) return OCI_INVALID_HANDLE;
    return Guard(err, [&] {
        if (!sql) throw OraError(900);
        statement->Prepare(TextArg(sql, text_len));
        return OCI_SUCCESS;
    });
}

namespace {

sword Bind(TStatement* statement, TBindSpec& (*find)(TStatement&, const void*), const void* key,
           OCIBind** bind, OCIError* err, void* value, sb4 value_size, ub2 ext_type, void* ind,
           ub2* alen, ub2* rcode, ub4 mode) {
    return Guard(err, [&] {
        if (!statement->core.Prepared()) throw OraError(24337);
        if (mode & OCI_DATA_AT_EXEC) throw OraError(3001);
        if (value_size < 0) throw OraError(1036);
        TBindSpec& decl = find(*statement, key);
        const std::string name = decl.name;
        const ub4 position = decl.position;
        decl = TBindSpec{};
        decl.name = name;
        decl.position = position;
        decl.value = value;
        decl.valueSize = value_size;
        decl.type = ext_type;
        decl.indicators = static_cast<sb2*>(ind);
        decl.lengths = alen;
        decl.codes = rcode;
        TBindHandle* handle = statement->HandleFor(decl);
        if (bind) *bind = reinterpret_cast<OCIBind*>(static_cast<THandle*>(handle));
        return OCI_SUCCESS;
    });
}

}  // namespace

VELNOR_EXPORT sword OCIBindByName(OCIStmt* stmt, OCIBind** bind, OCIError* err, const OraText* name,
                                  sb4 name_len, void* value, sb4 value_size, ub2 ext_type,
                                  void* ind, ub2* alen, ub2* rcode, ub4, ub4*, ub4 mode) {
    auto* statement = AsHandle<TStatement>(stmt, OCI_HTYPE_STMT);
    if (!statement || !ValidError(err)) return OCI_INVALID_HANDLE;
    if (!name) return Guard(err, []() -> sword { throw OraError(1036); });
    const std::string text = TextArg(name, name_len);  // -1: NUL-terminated
    return Bind(
        statement,
        [](TStatement& s, const void* key) -> TBindSpec& {
            return s.core.BindByName(*static_cast<const std::string*>(key));
        },
        &text, bind, err, value, value_size, ext_type, ind, alen, rcode, mode);
}

VELNOR_EXPORT sword OCIBindByPos(OCIStmt* stmt, OCIBind** bind, OCIError* err, ub4 position,
                                 void* value, sb4 value_size, ub2 ext_type, void* ind, ub2* alen,
                                 ub2* rcode, ub4, ub4*, ub4 mode) {
    auto* statement = AsHandle<TStatement>(stmt, OCI_HTYPE_STMT);
    if (!statement || !ValidError(err)) return OCI_INVALID_HANDLE;
    if (position == 0) return Guard(err, []() -> sword { throw OraError(1036); });
    return Bind(
        statement,
        [](TStatement& s, const void* key) -> TBindSpec& {
            return s.core.BindByPosition(*static_cast<const ub4*>(key));
        },
        &position, bind, err, value, value_size, ext_type, ind, alen, rcode, mode);
}

VELNOR_EXPORT sword OCIBindArrayOfStruct(OCIBind* bind, OCIError* err, ub4 value_skip, ub4 ind_skip,
                                         ub4 alen_skip, ub4 rcode_skip) {
    auto* handle = AsHandle<TBindHandle>(bind, OCI_HTYPE_BIND);
    if (!handle || !ValidError(err)) return OCI_INVALID_HANDLE;
    handle->decl->valueSkip = value_skip;
    handle->decl->indicatorSkip = ind_skip;
    handle->decl->lengthSkip = alen_skip;
    handle->decl->codeSkip = rcode_skip;
    return OCI_SUCCESS;
}

VELNOR_EXPORT sword OCIDefineByPos(OCIStmt* stmt, OCIDefine** dfn, OCIError* err, ub4 position,
                                   void* value, sb4 value_size, ub2 ext_type, void* ind, ub2* rlen,
                                   ub2* rcode, ub4 mode) {
    auto* statement = AsHandle<TStatement>(stmt, OCI_HTYPE_STMT);
    if (!statement || !ValidError(err)) return OCI_INVALID_HANDLE;
    return Guard(err, [&] {
        if (!statement->core.Prepared()) throw OraError(24337);
        if (position == 0) throw OraError(1007);
        if (value_size < 0) throw OraError(3001);
        TDefineSpec& decl = statement->core.Define(position);
        decl.value = value;
        decl.valueSize = value_size;
        decl.type = ext_type;
        decl.indicators = static_cast<sb2*>(ind);
        decl.lengths = rlen;
        decl.codes = rcode;
        decl.dynamic = (mode & OCI_DYNAMIC_FETCH) != 0;
        TDefineHandle* handle = statement->HandleFor(decl);
        decl.handle = reinterpret_cast<OCIDefine*>(static_cast<THandle*>(handle));
        if (dfn) *dfn = decl.handle;
        return OCI_SUCCESS;
    });
}

VELNOR_EXPORT sword OCIDefineDynamic(OCIDefine* dfn, OCIError* err, void* out_ctx,
                                     OCICallbackDefine out_cb) {
    auto* handle = AsHandle<TDefineHandle>(dfn, OCI_HTYPE_DEFINE);
    if (!handle || !ValidError(err)) return OCI_INVALID_HANDLE;
    return Guard(err, [&] {
        if (!handle->decl->dynamic || !out_cb) throw OraError(1010);
        handle->decl->callback = out_cb;
        handle->decl->callbackContext = out_ctx;
        return OCI_SUCCESS;
    });
}

VELNOR_EXPORT sword OCIDefineArrayOfStruct(OCIDefine* dfn, OCIError* err, ub4 value_skip,
                                           ub4 ind_skip, ub4 rlen_skip, ub4 rcode_skip) {
    auto* handle = AsHandle<TDefineHandle>(dfn, OCI_HTYPE_DEFINE);
    if (!handle || !ValidError(err)) return OCI_INVALID_HANDLE;
    handle->decl->valueSkip = value_skip;
    handle->decl->indicatorSkip = ind_skip;
    handle->decl->lengthSkip = rlen_skip;
    handle->decl->codeSkip = rcode_skip;
    return OCI_SUCCESS;
}

VELNOR_EXPORT sword OCIStmtExecute(OCISvcCtx* svc, OCIStmt* stmt, OCIError* err, ub4 iters,
                                   ub4 rowoff, const OCISnapshot*, OCISnapshot*, ub4 mode) {
    auto* context = AsHandle<TServiceContext>(svc, OCI_HTYPE_SVCCTX);
    auto* statement = AsHandle<TStatement>(stmt, OCI_HTYPE_STMT);
    if (!context || !statement || !ValidError(err)) return OCI_INVALID_HANDLE;
    ub4 failed = 0;
    TConnection* connection = nullptr;
    const sword status = Guard(err, [&]() -> sword {
        if (!statement->core.Prepared()) throw OraError(24337);
        connection = &context->Connection();
        if (statement->core.StatementType() == OCI_STMT_SELECT || (mode & OCI_DESCRIBE_ONLY)) {
            statement->Describe(*connection);
        }
        if (mode & OCI_DESCRIBE_ONLY) return OCI_SUCCESS;
        if (statement->core.StatementType() == OCI_STMT_SELECT) {
            statement->core.OpenQuery(*connection);
            if (iters == 0) return OCI_SUCCESS;
            return FetchStatus(statement->core.Fetch(iters), iters, err);
        }
        if (iters == 0 || rowoff >= iters) throw OraError(24333);
        statement->core.ExecuteDml(*connection, rowoff, iters, failed);
        if ((mode & OCI_COMMIT_ON_SUCCESS) || connection->AutoCommit()) connection->Commit();
        return OCI_SUCCESS;
    });
    // Only batch-error mode (not modelled) names the failing element; an ordinary array
    // execute stops at it and leaves the rows done before it in the row count.
    return status;
}

VELNOR_EXPORT sword OCIStmtFetch(OCIStmt* stmt, OCIError* err, ub4 nrows, ub2 orientation, ub4) {
    auto* statement = AsHandle<TStatement>(stmt, OCI_HTYPE_STMT);
    if (!statement || !ValidError(err)) return OCI_INVALID_HANDLE;
    return Guard(err, [&] {
        if (orientation != OCI_FETCH_NEXT && orientation != OCI_DEFAULT) throw OraError(3001);
        if (!statement->core.QueryOpen()) throw OraError(1002);
        return FetchStatus(statement->core.Fetch(nrows), nrows, err);
    });
}

VELNOR_EXPORT sword OCIParamGet(const void* handle, ub4 htype, OCIError* err, void** param_out,
                                ub4 pos) {
    auto* statement = AsHandle<TStatement>(handle, OCI_HTYPE_STMT);
    if (!statement || htype != OCI_HTYPE_STMT || !param_out || !ValidError(err))
        return OCI_INVALID_HANDLE;
    return Guard(err, [&] {
        *param_out = static_cast<THandle*>(statement->Param(pos));
        return OCI_SUCCESS;
    });
}

// Transactions are implicit: the first change opens one.
VELNOR_EXPORT sword OCITransStart(OCISvcCtx* svc, OCIError* err, uword, ub4 flags) {
    auto* context = AsHandle<TServiceContext>(svc, OCI_HTYPE_SVCCTX);
    if (!context || !ValidError(err)) return OCI_INVALID_HANDLE;
    return Guard(err, [&] {
        (void)context->Connection();
        if (flags & (OCI_TRANS_JOIN | OCI_TRANS_RESUME | OCI_TRANS_TIGHT | OCI_TRANS_LOOSE))
            throw OraError(3001);
        return OCI_SUCCESS;
    });
}

VELNOR_EXPORT sword OCITransCommit(OCISvcCtx* svc, OCIError* err, ub4) {
    auto* context = AsHandle<TServiceContext>(svc, OCI_HTYPE_SVCCTX);
    if (!context || !ValidError(err)) return OCI_INVALID_HANDLE;
    return Guard(err, [&] {
        context->Connection().Commit();
        return OCI_SUCCESS;
    });
}

VELNOR_EXPORT sword OCITransRollback(OCISvcCtx* svc, OCIError* err, ub4) {
    auto* context = AsHandle<TServiceContext>(svc, OCI_HTYPE_SVCCTX);
    if (!context || !ValidError(err)) return OCI_INVALID_HANDLE;
    return Guard(err, [&] {
        context->Connection().Rollback();
        return OCI_SUCCESS;
    });
}
