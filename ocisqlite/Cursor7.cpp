// OCI7 cursors on a cursor data area: parse, describe, define, bind, execute and fetch.
#include <cstring>
#include <type_traits>

#include "ocisqlite/Connection.h"
#include "ocisqlite/ExternalTypes.h"
#include "ocisqlite/Logon7.h"

using namespace velnor::ocisqlite;

#define VELNOR_CHECK_SIGNATURE(name) \
    static_assert(std::is_same_v<decltype(&name), Fn##name>, #name);
VELNOR_CHECK_SIGNATURE(oopen)
VELNOR_CHECK_SIGNATURE(oparse)
VELNOR_CHECK_SIGNATURE(odescr)
VELNOR_CHECK_SIGNATURE(odefin)
VELNOR_CHECK_SIGNATURE(obndra)
VELNOR_CHECK_SIGNATURE(oexec)
VELNOR_CHECK_SIGNATURE(oexn)
VELNOR_CHECK_SIGNATURE(oexfet)
VELNOR_CHECK_SIGNATURE(ofen)
VELNOR_CHECK_SIGNATURE(oflng)
VELNOR_CHECK_SIGNATURE(oclose)

namespace {

constexpr ub1 kWarning = 0x01;
constexpr ub1 kTruncated = 0x02;

TCursor7* CursorOf(const Cda_Def* cda) {
    if (!cda || !IsRegisteredArea(cda->rcsp)) return nullptr;
    return static_cast<TCursor7*>(cda->rcsp);
}

TConnection& ConnectionOf(TCursor7& cursor) {
    if (!cursor.logon) throw OraError(1012);
    return cursor.logon->Context()->Connection();
}

// Runs a cursor call: an unknown cursor is ORA-01001.
template <class F>
sword OnCursor(Cda_Def* cda, ub1 functionCode, F&& body) {
    if (!cda) return -1;
    TCursor7* cursor = CursorOf(cda);
    cda->fc = functionCode;
    if (!cursor) return AreaError(cda, nullptr, 1001, MessageText(1001));
    cda->wrn = 0;
    return Guard7(cda, cursor->logon, [&] { body(*cursor); });
}

// Fetch results in the CDA: rc 1403 for a short batch, the flags for truncations.
void FetchResult(Cda_Def* cda, TCursor7& cursor, const TFetchOutcome& outcome, ub4 wanted) {
    cda->rpc = static_cast<ub4>(cursor.core.RowCount());
    if (outcome.rowError) throw OraError(outcome.rowError);
    if (outcome.truncatedOrNull) cda->wrn |= kWarning | kTruncated;
    if (outcome.rows < wanted && outcome.exhausted) throw OraError(1403);
}

// The ROWID parts of the cursor area name the last row DML touched; otherwise they keep
// what they held.
void PutRowId(Cda_Def* cda, const TCursorCore& core) {
    const auto& row = core.LastRow();
    if (!row) return;
    cda->rid.rd.rcs4 = row->object;
    cda->rid.rd.rcs5 = row->file;
    cda->rid.rd.rcs6 = 0;
    cda->rid.rcs7 = row->block;
    cda->rid.rcs8 = row->slot;
}

void Execute(Cda_Def* cda, TCursor7& cursor, sword iters, sword rowoff) {
    TConnection& connection = ConnectionOf(cursor);
    cda->ft = FunctionCodeOf(cursor.core.StatementType());
    if (cursor.core.StatementType() == OCI_STMT_SELECT) {
        cursor.core.OpenQuery(connection);
        cda->rpc = 0;
        return;
    }
    if (iters <= 0 || rowoff < 0 || rowoff >= iters) throw OraError(24333);
    ub4 failed = 0;
    try {
        cursor.core.ExecuteDml(connection, static_cast<ub4>(rowoff), static_cast<ub4>(iters),
                               failed);
    } catch (...) {
        cda->rpc = static_cast<ub4>(cursor.core.RowCount());  // rows done before the failure
        PutRowId(cda, cursor.core);
        throw;
    }
    cda->rpc = static_cast<ub4>(cursor.core.RowCount());
    PutRowId(cda, cursor.core);
    if (connection.AutoCommit()) connection.Commit();
}

}  // namespace

VELNOR_EXPORT sword oopen(Cda_Def* cda, Lda_Def* lda, OraText*, sword, sword, OraText*, sword) {
    if (!cda) return -1;
    TLogon7* logon = LogonOf(lda);
    std::memset(cda, 0, sizeof *cda);
    cda->fc = FC_OOPEN;
    if (!logon) return AreaError(cda, nullptr, 1012, MessageText(1012));
    return Guard7(cda, logon, [&] {
        auto cursor = std::make_unique<TCursor7>(logon);
        logon->cursors.insert(cursor.get());
        RegisterArea(cursor.get());
        cda->rcsp = cursor.release();
    });
}

VELNOR_EXPORT sword oparse(Cda_Def* cda, OraText* sql, sb4 sql_len, sword defer, ub4) {
    return OnCursor(cda, FC_OPARSE, [&](TCursor7& cursor) {
        if (!sql) throw OraError(900);
        cursor.core.Prepare(TextArg(sql, sql_len));
        cda->ft = FunctionCodeOf(cursor.core.StatementType());
        cda->rpc = 0;
        // Without deferral a query is checked now, as the server parses it at once.
        if (!defer && cursor.core.StatementType() == OCI_STMT_SELECT)
            (void)cursor.core.Describe(ConnectionOf(cursor));
    });
}

VELNOR_EXPORT sword odescr(Cda_Def* cda, sword pos, sb4* dbsize, sb2* dbtype, sb1* name_buf,
                           sb4* name_len_inout, sb4* dsize, sb2* prec, sb2* scale, sb2* nullok) {
    return OnCursor(cda, FC_ODESCR, [&](TCursor7& cursor) {
        const auto& columns = cursor.core.Describe(ConnectionOf(cursor));
        if (pos < 1 || static_cast<std::size_t>(pos) > columns.size()) throw OraError(1007);
        const sql::ColumnInfo& c = columns[static_cast<std::size_t>(pos) - 1];
        if (dbsize) *dbsize = c.size;
        if (dbtype) *dbtype = static_cast<sb2>(c.type == sql::tcRowid ? SQLT_RID : c.type);
        if (name_len_inout) {
            const std::size_t room =
                name_buf && *name_len_inout > 0 ? static_cast<std::size_t>(*name_len_inout) : 0;
            const std::size_t n = std::min(room, c.name.size());
            if (n) std::memcpy(name_buf, c.name.data(), n);
            *name_len_inout = static_cast<sb4>(name_buf ? n : c.name.size());
        }
        if (dsize) {
            *dsize = c.type == sql::tcNumber ? (c.precision > 0 ? c.precision + 2 : 40)
                     : c.type == sql::tcDate ? 9
                     : c.type == sql::tcRaw  ? c.size * 2
                                             : c.size;
        }
        if (prec) *prec = static_cast<sb2>(c.precision);
        if (scale) *scale = static_cast<sb2>(c.scale);
        if (nullok) *nullok = c.nullable ? 1 : 0;
    });
}

VELNOR_EXPORT sword odefin(Cda_Def* cda, sword pos, ub1* buf, sword buf_len, sword ftype, sword,
                           sb2* ind, OraText*, sword, sword, ub2* rlen, ub2* rcode) {
    return OnCursor(cda, FC_ODEFIN, [&](TCursor7& cursor) {
        if (!cursor.core.Prepared()) throw OraError(1003);
        if (pos < 1) throw OraError(1007);
        if (buf_len < 0) throw OraError(3001);
        // This interface has no LOB locators: a LOB column cannot be fetched through it.
        static const std::vector<sql::ColumnInfo> none;
        const auto& columns =
            cursor.core.Described() ? cursor.core.Describe(ConnectionOf(cursor)) : none;
        const bool lobColumn =
            static_cast<std::size_t>(pos) <= columns.size() &&
            (columns[pos - 1].type == sql::tcClob || columns[pos - 1].type == sql::tcBlob ||
             columns[pos - 1].type == sql::tcBfile);
        if (lobColumn || ftype == SQLT_CLOB || ftype == SQLT_BLOB || ftype == SQLT_BFILE)
            throw OraError(932, {"-", "CLOB"});
        TDefineSpec& decl = cursor.core.Define(static_cast<ub4>(pos));
        decl.value = buf;
        decl.valueSize = buf_len;
        decl.type = static_cast<ub2>(ftype);
        decl.indicators = ind;
        decl.lengths = rlen;
        decl.codes = rcode;
    });
}

VELNOR_EXPORT sword obndra(Cda_Def* cda, OraText* name, sword name_len, ub1* value, sword value_len,
                           sword ftype, sword, sb2* ind, ub2* alen, ub2* rcode, ub4, ub4*, OraText*,
                           sword, sword) {
    return OnCursor(cda, FC_OBNDRA, [&](TCursor7& cursor) {
        if (!cursor.core.Prepared()) throw OraError(1003);
        if (!name || value_len < 0) throw OraError(1036);
        TBindSpec& decl = cursor.core.BindByName(TextArg(name, name_len));
        decl.value = value;
        decl.valueSize = value_len;
        decl.type = static_cast<ub2>(ftype);
        decl.indicators = ind;
        decl.lengths = alen;
        decl.codes = rcode;
    });
}

VELNOR_EXPORT sword oexec(Cda_Def* cda) {
    return OnCursor(cda, FC_OEXEC, [&](TCursor7& cursor) { Execute(cda, cursor, 1, 0); });
}

VELNOR_EXPORT sword oexn(Cda_Def* cda, sword iters, sword rowoff) {
    return OnCursor(cda, FC_OEXEC, [&](TCursor7& cursor) { Execute(cda, cursor, iters, rowoff); });
}

VELNOR_EXPORT sword oexfet(Cda_Def* cda, ub4 nrows, sword cancel, sword exact) {
    return OnCursor(cda, FC_OEXFET, [&](TCursor7& cursor) {
        Execute(cda, cursor, 1, 0);
        if (cursor.core.StatementType() != OCI_STMT_SELECT) return;
        const TFetchOutcome outcome = cursor.core.Fetch(nrows);
        bool more = false;
        if (exact && !outcome.exhausted) more = cursor.core.Fetch(1).rows > 0;
        if (cancel) cursor.core.Release();
        if (more) throw OraError(1422);
        FetchResult(cda, cursor, outcome, nrows);
    });
}

VELNOR_EXPORT sword ofen(Cda_Def* cda, sword nrows) {
    return OnCursor(cda, FC_OFETCH, [&](TCursor7& cursor) {
        if (!cursor.core.QueryOpen()) throw OraError(1002);
        const ub4 wanted = nrows > 0 ? static_cast<ub4>(nrows) : 1;
        FetchResult(cda, cursor, cursor.core.Fetch(wanted), wanted);
    });
}

VELNOR_EXPORT sword oflng(Cda_Def* cda, sword pos, ub1* buf, sb4 buf_len, sword, ub4* ret_len,
                          sb4 offset) {
    return OnCursor(cda, FC_OFLNG, [&](TCursor7& cursor) {
        const auto& row = cursor.core.CurrentRow();
        if (pos < 1 || static_cast<std::size_t>(pos) > row.size()) throw OraError(1007);
        if (offset < 0 || buf_len < 0) throw OraError(1010);
        const sql::Value& value = row[static_cast<std::size_t>(pos) - 1];
        const std::string bytes =
            value.IsNull() ? std::string() : ValueBytes(value, *cursor.core.Session());
        const std::size_t start = std::min(bytes.size(), static_cast<std::size_t>(offset));
        const std::size_t n = std::min(bytes.size() - start, static_cast<std::size_t>(buf_len));
        if (n && buf) std::memcpy(buf, bytes.data() + start, n);
        if (ret_len) *ret_len = static_cast<ub4>(n);
    });
}

VELNOR_EXPORT sword oclose(Cda_Def* cda) {
    if (!cda) return -1;
    TCursor7* cursor = CursorOf(cda);
    cda->fc = FC_OCLOSE;
    if (!cursor) return AreaError(cda, nullptr, 1001, MessageText(1001));
    if (cursor->logon) cursor->logon->cursors.erase(cursor);
    UnregisterArea(cursor);
    cda->rcsp = nullptr;
    delete cursor;
    SetAreaResult(cda, 0);
    return 0;
}
