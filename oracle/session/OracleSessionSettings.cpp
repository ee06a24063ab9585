// Transactions, the settings sent as ALTER SESSION statements, and the measured facts.
#include <algorithm>

#include "oracle/client/OciLibrary.h"
#include "oracle/query/Probes.h"
#include "oracle/session/InternalStatement.h"
#include "oracle/session/OracleSession.h"
#include "platform/UiHooks.h"

namespace velnor::oracle {

namespace {

constexpr const char* kSQLTracePrefix = "alter session set sql_trace = ";
constexpr const char* kOptimizerGoalPrefix = "alter session set optimizer_goal = ";
constexpr const char* kIsolationLevelPrefix = "alter session set isolation_level = ";

const char* Word(TSQLTraceOption value) {
    switch (value) {
        case TSQLTraceOption::stTrue:
            return "true";
        case TSQLTraceOption::stFalse:
            return "false";
        case TSQLTraceOption::stUnchanged:
            break;
    }
    return "";
}

const char* Word(TOptimizerGoalOption value) {
    switch (value) {
        case TOptimizerGoalOption::ogChoose:
            return "choose";
        case TOptimizerGoalOption::ogFirstRows:
            return "first_rows";
        case TOptimizerGoalOption::ogAllRows:
            return "all_rows";
        case TOptimizerGoalOption::ogRule:
            return "rule";
        case TOptimizerGoalOption::ogUnchanged:
            break;
    }
    return "";
}

const char* Word(TIsolationLevelOption value) {
    switch (value) {
        case TIsolationLevelOption::ilReadCommitted:
            return "read committed";
        case TIsolationLevelOption::ilSerializable:
            return "serializable";
        case TIsolationLevelOption::ilUnchanged:
            break;
    }
    return "";
}

}  // namespace

// Settings made while disconnected; they stay stored even when applying one fails.
void TOracleSession::ApplySettingsAfterLogOn() {
    if (autoCommit_) {
        autoCommit_ = false;
        try {
            SetAutoCommit(true);
        } catch (...) {
            autoCommit_ = true;
            throw;
        }
    }
    ApplySetting(kSQLTracePrefix, Word(sqlTrace_));
    ApplySetting(kOptimizerGoalPrefix, Word(optimizerGoal_));
    ApplySetting(kIsolationLevelPrefix, Word(isolationLevel_));
}

// ---- transactions and settings ----

void TOracleSession::Commit() {
    if (!connected_) return;
    if (mtsControlled_) throw platform::Exception("Cannot commit an MTS Controlled Transaction");
    LockSession(1);
    try {
        if (usingOCI8_) {
            lastStatus_ = Oci().OCITransCommit(serviceContext_, error_, OCI_DEFAULT);
        } else {
            Oci().ocom(CurrentLDA());
        }
    } catch (...) {
        UnlockSession(1);
        throw;
    }
    if (ErrorCode() != 0) RaiseOracleError(this, ErrorSource());  // releases the lock
    UnlockSession(1);
}

void TOracleSession::Rollback() {
    if (!connected_) return;
    if (mtsControlled_) throw platform::Exception("Cannot rollback an MTS Controlled Transaction");
    LockSession(1);
    try {
        if (usingOCI8_) {
            lastStatus_ = Oci().OCITransRollback(serviceContext_, error_, OCI_DEFAULT);
        } else {
            Oci().orol(CurrentLDA());
        }
    } catch (...) {
        UnlockSession(1);
        throw;
    }
    if (ErrorCode() != 0) RaiseOracleError(this, ErrorSource());
    UnlockSession(1);
}

void TOracleSession::SetAutoCommit(bool value) {
    if (value == autoCommit_) return;
    // With OCI8 the flag changes how later statements execute; OCI7 switches the LDA.
    if (!connected_ || usingOCI8_) {
        autoCommit_ = value;
        return;
    }
    LockSession(1);
    try {
        if (value) {
            Oci().ocon(CurrentLDA());
        } else {
            Oci().ocof(CurrentLDA());
        }
    } catch (...) {
        UnlockSession(1);
        throw;
    }
    if (ErrorCode() != 0) RaiseOracleError(this, ErrorSource());
    UnlockSession(1);
    autoCommit_ = value;
}

void TOracleSession::ApplySetting(const char* prefix, const char* word) {
    if (connected_ && word && *word) ExecuteInternal(std::string(prefix) + word, true);
}

void TOracleSession::SetSQLTrace(TSQLTraceOption value) {
    if (value == sqlTrace_) return;
    ApplySetting(kSQLTracePrefix, Word(value));
    sqlTrace_ = value;
}

void TOracleSession::SetOptimizerGoal(TOptimizerGoalOption value) {
    if (value == optimizerGoal_) return;
    ApplySetting(kOptimizerGoalPrefix, Word(value));
    optimizerGoal_ = value;
}

void TOracleSession::SetIsolationLevel(TIsolationLevelOption value) {
    if (value == isolationLevel_) return;
    ApplySetting(kIsolationLevelPrefix, Word(value));
    isolationLevel_ = value;
}

void TOracleSession::ExecuteInternal(const std::string& sql, bool withCursor) {
    platform::TCursorGuard cursor(withCursor ? cursor_ : 0);
    if (OnInternalSQL) OnInternalSQL(*this, sql);
    RunInternalStatement(*this, sql);
}

// ---- measured facts ----

int TOracleSession::EffectiveBytesPerCharacter() {
    if (effectiveBytesPerCharacter_ != 0) return effectiveBytesPerCharacter_;
    int value = 1;
    switch (bytesPerCharacter_) {
        case TBytesPerCharacterOption::bc2Bytes:
            value = 2;
            break;
        case TBytesPerCharacterOption::bc3Bytes:
            value = 3;
            break;
        case TBytesPerCharacterOption::bc4Bytes:
            value = 4;
            break;
        case TBytesPerCharacterOption::bc1Byte:
            value = 1;
            break;
        case TBytesPerCharacterOption::bcAutoDetect:
            if (connected_ && measuring_) return 1;  // provisional, not cached
            if (connected_) value = QueryBytesPerCharacter();
            break;
    }
    effectiveBytesPerCharacter_ = std::clamp(value, 1, 4);
    return effectiveBytesPerCharacter_;
}

int TOracleSession::QueryBytesPerCharacter() {
    // The probe is a query itself and asks for this value while binding: it sees 1.
    measuring_ = true;
    struct TReset {
        bool& flag;
        ~TReset() { flag = false; }
    } reset{measuring_};
    if (OnInternalSQL) OnInternalSQL(*this, BytesPerCharacterSQL());
    return ProbeBytesPerCharacter(*this);
}

int TOracleSession::MaxVarcharChars() {
    return (usingOCI8_ ? 4000 : 2000) / EffectiveBytesPerCharacter();
}

int TOracleSession::DateFormatLength() {
    if (dateFormatLength_ >= 0 || !connected_ || measuring_) return dateFormatLength_;
    int longest = QueryDateFormatLength();
    if (longest <= 0) longest = 40;
    dateFormatLength_ = longest;
    return dateFormatLength_;
}

int TOracleSession::QueryDateFormatLength() {
    measuring_ = true;
    struct TReset {
        bool& flag;
        ~TReset() { flag = false; }
    } reset{measuring_};
    if (OnInternalSQL) OnInternalSQL(*this, DateFormatLengthSQL());
    return ProbeDateFormatLength(*this);
}

}  // namespace velnor::oracle
