#include "oracle/session/InternalStatement.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "oracle/client/OciLibrary.h"
#include "oracle/session/OracleSession.h"
#include "platform/Exception.h"

namespace velnor::oracle {
namespace {

constexpr int kTextWidth = 256;

struct TColumnBuffer {
    std::array<char, kTextWidth> text{};
    sb2 indicator = 0;
    ub2 length = 0;
    ub2 code = 0;

    std::string Value() const {
        if (indicator < 0) return {};
        return std::string(text.data(), strnlen(text.data(), text.size()));
    }
};

// The statement's error number for a status, as a query sees it.
int StatementError(OCIError* err, sword status) {
    switch (status) {
        case OCI_SUCCESS:
        case OCI_SUCCESS_WITH_INFO:
        case OCI_NEED_DATA:
            return 0;
        case OCI_NO_DATA:
            return 1403;
        case OCI_ERROR:
        case OCI_INVALID_HANDLE: {
            sb4 code = 0;
            Oci().OCIErrorGet(err, 1, nullptr, &code, nullptr, 0, OCI_HTYPE_ERROR);
            return code != 0 ? code : status;
        }
        default:
            return status;
    }
}

class TOci8Statement {
public:
    explicit TOci8Statement(TOracleSession& session) : session_(session) {
        const sword status =
            Oci().OCIHandleAlloc(session.EnvironmentHandle(), reinterpret_cast<void**>(&stmt_),
                                 OCI_HTYPE_STMT, 0, nullptr);
        if (status != OCI_SUCCESS || !stmt_) {
            throw platform::Exception("Could not allocate a statement handle");
        }
    }
    ~TOci8Statement() {
        if (stmt_ && Oci().OCIHandleFree) Oci().OCIHandleFree(stmt_, OCI_HTYPE_STMT);
    }
    TOci8Statement(const TOci8Statement&) = delete;
    TOci8Statement& operator=(const TOci8Statement&) = delete;

    void Check(sword status) {
        const int code = StatementError(session_.ErrorHandle(), status);
        if (code != 0)
            RaiseOracleError(&session_, TErrorSource::FromHandle(session_.ErrorHandle()));
    }

    std::vector<TTextRow> Run(const std::string& sql, int columns) {
        const TOciFunctions& t = Oci();
        OCIError* err = session_.ErrorHandle();
        Check(t.OCIStmtPrepare(stmt_, err, reinterpret_cast<const OraText*>(sql.data()),
                               static_cast<ub4>(sql.size()), OCI_NTV_SYNTAX, OCI_DEFAULT));
        std::vector<TTextRow> rows;
        if (columns <= 0) {
            const ub4 mode = session_.AutoCommit() ? OCI_COMMIT_ON_SUCCESS : OCI_DEFAULT;
            Check(t.OCIStmtExecute(session_.ServiceContext(), stmt_, err, 1, 0, nullptr, nullptr,
                                   mode));
            return rows;
        }
        std::vector<TColumnBuffer> buffers(static_cast<std::size_t>(columns));
        Check(t.OCIStmtExecute(session_.ServiceContext(), stmt_, err, 0, 0, nullptr, nullptr,
                               OCI_DEFAULT));
        for (int i = 0; i < columns; ++i) {
            OCIDefine* define = nullptr;
            TColumnBuffer& b = buffers[static_cast<std::size_t>(i)];
            Check(t.OCIDefineByPos(stmt_, &define, err, static_cast<ub4>(i + 1), b.text.data(),
                                   kTextWidth, SQLT_STR, &b.indicator, &b.length, &b.code,
                                   OCI_DEFAULT));
        }
        while (true) {
            for (auto& b : buffers) b = TColumnBuffer{};
            const sword status = t.OCIStmtFetch(stmt_, err, 1, OCI_FETCH_NEXT, OCI_DEFAULT);
            if (status == OCI_NO_DATA) break;
            Check(status);
            TTextRow row;
            for (const auto& b : buffers) row.push_back(b.Value());
            rows.push_back(std::move(row));
        }
        return rows;
    }

private:
    TOracleSession& session_;
    OCIStmt* stmt_ = nullptr;
};

class TOci7Cursor {
public:
    explicit TOci7Cursor(TOracleSession& session) : session_(session) {
        Oci().oopen(&cda_, session.CurrentLDA(), nullptr, -1, -1, nullptr, -1);
        Check();
        open_ = true;
    }
    ~TOci7Cursor() {
        if (open_ && Oci().oclose) Oci().oclose(&cda_);
    }
    TOci7Cursor(const TOci7Cursor&) = delete;
    TOci7Cursor& operator=(const TOci7Cursor&) = delete;

    void Check() {
        if (cda_.rc != 0) RaiseOracleError(&session_, TErrorSource::FromReturnCode(cda_.rc));
    }

    std::vector<TTextRow> Run(const std::string& sql, int columns) {
        const TOciFunctions& t = Oci();
        std::string text = sql;  // the OCI7 calls take non-const text
        t.oparse(&cda_, reinterpret_cast<OraText*>(text.data()), -1, 0, 2);
        Check();
        std::vector<TTextRow> rows;
        std::vector<TColumnBuffer> buffers(static_cast<std::size_t>(std::max(columns, 0)));
        for (int i = 0; i < columns; ++i) {
            TColumnBuffer& b = buffers[static_cast<std::size_t>(i)];
            t.odefin(&cda_, i + 1, reinterpret_cast<ub1*>(b.text.data()), kTextWidth, SQLT_STR, -1,
                     &b.indicator, nullptr, -1, -1, &b.length, &b.code);
            Check();
        }
        t.oexec(&cda_);
        Check();
        if (columns <= 0) return rows;
        while (true) {
            for (auto& b : buffers) b = TColumnBuffer{};
            t.ofen(&cda_, 1);
            if (cda_.rc == 1403) break;
            Check();
            TTextRow row;
            for (const auto& b : buffers) row.push_back(b.Value());
            rows.push_back(std::move(row));
        }
        return rows;
    }

private:
    TOracleSession& session_;
    Cda_Def cda_{};
    bool open_ = false;
};

}  // namespace

std::vector<TTextRow> RunInternalStatement(TOracleSession& session, const std::string& sql,
                                           int columns) {
    if (!session.Connected()) throw platform::Exception("Not logged on");
    if (session.UsingOCI8()) {
        TOci8Statement statement(session);
        return statement.Run(sql, columns);
    }
    TOci7Cursor cursor(session);
    return cursor.Run(sql, columns);
}

}  // namespace velnor::oracle
