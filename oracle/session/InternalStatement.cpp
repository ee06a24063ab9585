#include "oracle/session/InternalStatement.h"

#include "oracle/client/OciLibrary.h"
#include "oracle/session/OracleSession.h"
#include "platform/Exception.h"

namespace velnor::oracle {
namespace {

// The statement's error number for a status, as a statement sees it: information is no
// error, a failure without a record still is one.
int StatementError(OCIError* err, sword status) {
    if (status == OCI_SUCCESS || status == OCI_SUCCESS_WITH_INFO) return 0;
    if (status == OCI_ERROR || status == OCI_INVALID_HANDLE) {
        sb4 code = 0;
        Oci().OCIErrorGet(err, 1, nullptr, &code, nullptr, 0, OCI_HTYPE_ERROR);
        return code != 0 ? code : status;
    }
    return status;
}

void RunOci8(TOracleSession& session, const std::string& sql) {
    const TOciFunctions& t = Oci();
    OCIStmt* stmt = nullptr;
    const sword allocated = t.OCIHandleAlloc(
        session.EnvironmentHandle(), reinterpret_cast<void**>(&stmt), OCI_HTYPE_STMT, 0, nullptr);
    if (allocated != OCI_SUCCESS || !stmt) {
        throw platform::Exception("Could not allocate a statement handle");
    }
    struct TFree {
        OCIStmt* stmt;
        ~TFree() {
            if (Oci().OCIHandleFree) Oci().OCIHandleFree(stmt, OCI_HTYPE_STMT);
        }
    } release{stmt};
    OCIError* err = session.ErrorHandle();
    const auto check = [&](sword status) {
        if (StatementError(err, status) != 0) {
            RaiseOracleError(&session, TErrorSource::FromHandle(err));
        }
    };
    check(t.OCIStmtPrepare(stmt, err, reinterpret_cast<const OraText*>(sql.data()),
                           static_cast<ub4>(sql.size()), OCI_NTV_SYNTAX, OCI_DEFAULT));
    const ub4 mode = session.AutoCommit() ? OCI_COMMIT_ON_SUCCESS : OCI_DEFAULT;
    check(t.OCIStmtExecute(session.ServiceContext(), stmt, err, 1, 0, nullptr, nullptr, mode));
}

void RunOci7(TOracleSession& session, const std::string& sql) {
    const TOciFunctions& t = Oci();
    Cda_Def cda{};
    const auto check = [&] {
        if (cda.rc != 0) RaiseOracleError(&session, TErrorSource::FromReturnCode(cda.rc));
    };
    t.oopen(&cda, session.CurrentLDA(), nullptr, -1, -1, nullptr, -1);
    check();
    struct TClose {
        Cda_Def* cda;
        ~TClose() {
            if (Oci().oclose) Oci().oclose(cda);
        }
    } close{&cda};
    std::string text = sql;  // the OCI7 calls take non-const text
    t.oparse(&cda, reinterpret_cast<OraText*>(text.data()), -1, 0, 2);
    check();
    t.oexec(&cda);
    check();
}

}  // namespace

void RunInternalStatement(TOracleSession& session, const std::string& sql) {
    if (!session.Connected()) throw platform::Exception("Not logged on");
    if (session.UsingOCI8()) {
        RunOci8(session, sql);
    } else {
        RunOci7(session, sql);
    }
}

}  // namespace velnor::oracle
