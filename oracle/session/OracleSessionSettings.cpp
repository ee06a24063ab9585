// Transactions and the settings sent as ALTER SESSION statements.
#include "oracle/client/StatementBackend.h"
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
    Backend().Commit();
}

void TOracleSession::Rollback() {
    if (!connected_) return;
    if (mtsControlled_) throw platform::Exception("Cannot rollback an MTS Controlled Transaction");
    Backend().Rollback();
}

void TOracleSession::SetAutoCommit(bool value) {
    if (value == autoCommit_) return;
    if (connected_) Backend().SetAutoCommit(value);
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
    Backend().RunStatement(sql);
}

}  // namespace velnor::oracle
