#include "oracle/client/StatementBackend.h"

#include "oracle/client/OciLibrary.h"
#include "oracle/client/OracleError.h"

namespace velnor::oracle::detail {

void RaiseOci8(TOracleSession* session, OCIError* err, sword status) {
    // An error without a record must still count as one.
    if (HasErrorRecord(err)) RaiseOracleError(session, TErrorSource::FromHandle(err));
    throw EOracleError("The client library reported an error without a message",
                       status == OCI_INVALID_HANDLE ? -2 : -1);
}

bool HasErrorRecord(OCIError* err) noexcept {
    return ErrorNumber(err, OCI_SUCCESS_WITH_INFO, true) != 0;
}

int ErrorNumber(OCIError* err, sword status, bool infoCounts) noexcept {
    switch (status) {
        case OCI_SUCCESS:
        case OCI_NEED_DATA:
            return 0;
        case OCI_NO_DATA:
            return kNoDataFound;
        case OCI_SUCCESS_WITH_INFO:
            if (!infoCounts) return 0;
            [[fallthrough]];
        case OCI_ERROR:
        case OCI_INVALID_HANDLE: {
            sb4 code = 0;
            const TOciFunctions& t = Oci();
            if (err && t.OCIErrorGet) {
                t.OCIErrorGet.Get()(err, 1, nullptr, &code, nullptr, 0, OCI_HTYPE_ERROR);
            }
            if (code != 0 || status == OCI_SUCCESS_WITH_INFO) return code;
            return status == OCI_INVALID_HANDLE ? -2 : -1;
        }
        default:
            return status;
    }
}

void CheckOci8(TOracleSession* session, OCIError* err, sword status, int allowed) {
    const int code = ErrorNumber(err, status);
    if (code != 0 && code != allowed) RaiseOci8(session, err, status);
}

void CheckOci7(TOracleSession* session, int returnCode, int allowed) {
    if (returnCode != 0 && returnCode != allowed) {
        RaiseOracleError(session, TErrorSource::FromReturnCode(returnCode));
    }
}

void TStatementBackend::Check(sword status, int allowed) {
    StoreStatus(status);
    const int code = LastErrorCode();
    if (code != 0 && code != allowed) FailLastCall();
}

void TStatementBackend::FailLastCall() const {
    if (beforeError_) beforeError_();
    RaiseLastError();
    __builtin_unreachable();  // the attribute of a virtual function is not seen through the call
}

}  // namespace velnor::oracle::detail
