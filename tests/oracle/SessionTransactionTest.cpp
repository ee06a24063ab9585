// Transactions and ALTER SESSION settings of TOracleSession on the stand-in client library,
// through OCI8 handles and every way a session ends up on OCI7 calls.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "oracle/client/OracleError.h"
#include "oracle/query/OracleQuery.h"
#include "oracle/session/OracleSession.h"
#include "tests/oracle/ClientTestEnvironment.h"
#include "tests/support/TempHome.h"

#ifdef VELNOR_HAVE_STANDIN

namespace velnor::oracle {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::Eq;
using ::testing::ThrowsMessage;

constexpr const char* kService = "TXN";
constexpr const char* kUser = "TUSER";
constexpr const char* kPassword = "SECRET";

struct InterfaceCase {
    const char* name;
    const char* banner;   // empty: the current default banner
    const char* variant;  // empty: the full library
    bool useOCI7;
    bool expectOCI8;
};

std::string CaseName(const ::testing::TestParamInfo<InterfaceCase>& info) {
    return info.param.name;
}

void Execute(TOracleSession& session, const std::string& sql) {
    TOracleQuery q(nullptr);
    q.SetSession(&session);
    q.SQL().SetText(sql);
    q.Execute();
}

int CountRows(TOracleSession& session) {
    TOracleQuery q(nullptr);
    q.SetSession(&session);
    q.SQL().SetText("select count(*) from txrows");
    q.Execute();
    return q.FieldAsInteger(0);
}

class SessionTransactionTest : public ::testing::TestWithParam<InterfaceCase> {
protected:
    void SetUp() override {
        const InterfaceCase& c = GetParam();
        home_.AddService(kService, c.banner);
        home_.AddUser(kService, kUser, kPassword);
        if (*c.variant) home_.UseClientLibrary(velnor::test::VariantLibrary(c.variant));
        home_.SetAsOracleHome();
        home_.RunSql(kService, kUser, "create table txrows (id number(9))");
        session_.OnInternalSQL = [this](TOracleSession&, const std::string& sql) {
            if (sql.rfind("alter session", 0) == 0) alters_.push_back(sql);
        };
    }
    void LogOn(TOracleSession& session) {
        session.Preferences().SetUseOCI7(GetParam().useOCI7);
        session.SetLogonUsername(kUser);
        session.SetLogonPassword(kPassword);
        session.SetLogonDatabase(kService);
        session.LogOn();
        ASSERT_TRUE(session.Connected());
        ASSERT_EQ(session.UsingOCI8(), GetParam().expectOCI8);
    }
    void Insert(int id) {
        Execute(session_, "insert into txrows values (" + std::to_string(id) + ")");
    }
    // Rows as a separate connection sees them: only committed ones.
    int Committed() {
        if (!observer_.Connected()) LogOn(observer_);
        return CountRows(observer_);
    }

    test::TClientEnvironment env_;
    velnor::test::TTempHome home_;
    std::vector<std::string> alters_;  // ALTER SESSION statements session_ ran itself
    TOracleSession session_;
    TOracleSession observer_;
};

INSTANTIATE_TEST_SUITE_P(
    Interfaces, SessionTransactionTest,
    ::testing::Values(InterfaceCase{"OCI8", "", "", false, true},
                      InterfaceCase{"OCI7ByPreference", "", "", true, false},
                      InterfaceCase{"OCI7ByServerBanner",
                                    "Oracle7 Server Release 7.3.4.0.0 - Production", "", false,
                                    false},
                      InterfaceCase{"OCI7ByLibrary", "", "oci7only", false, false}),
    CaseName);

TEST_P(SessionTransactionTest, CommitPublishesAndRollbackUndoesOnlyPendingRows) {
    LogOn(session_);
    Insert(1);
    Insert(2);
    EXPECT_EQ(Committed(), 0);
    EXPECT_EQ(CountRows(session_), 2);  // the session sees its own pending rows
    session_.Commit();
    EXPECT_EQ(Committed(), 2);
    Insert(3);
    EXPECT_EQ(CountRows(session_), 3);
    session_.Rollback();
    EXPECT_EQ(CountRows(session_), 2);
    EXPECT_EQ(Committed(), 2);
    // Nothing pending: both are harmless.
    EXPECT_NO_THROW(session_.Commit());
    EXPECT_NO_THROW(session_.Rollback());
    EXPECT_EQ(Committed(), 2);
}

TEST_P(SessionTransactionTest, CommitAndRollbackWhileDisconnectedDoNothing) {
    EXPECT_NO_THROW(session_.Commit());
    EXPECT_NO_THROW(session_.Rollback());
    EXPECT_FALSE(session_.Connected());
}

TEST_P(SessionTransactionTest, AutoCommitCommitsEachStatementOnlyWhileOn) {
    for (const bool beforeLogon : {true, false}) {
        SCOPED_TRACE(beforeLogon ? "set before logon" : "set while connected");
        if (beforeLogon) session_.SetAutoCommit(true);
        LogOn(session_);
        if (!beforeLogon) session_.SetAutoCommit(true);
        EXPECT_TRUE(session_.AutoCommit());
        const int before = Committed();
        Insert(10);
        EXPECT_EQ(Committed(), before + 1);
        Insert(11);
        EXPECT_EQ(Committed(), before + 2);
        session_.SetAutoCommit(false);
        EXPECT_FALSE(session_.AutoCommit());
        Insert(12);
        EXPECT_EQ(Committed(), before + 2);
        session_.Rollback();
        EXPECT_EQ(CountRows(session_), before + 2);
        session_.LogOff();
    }
}

TEST_P(SessionTransactionTest, LogoffKeepsOrDiscardsPendingRowsByRollbackOnDisconnect) {
    for (const bool rollbackOnDisconnect : {true, false}) {
        SCOPED_TRACE(rollbackOnDisconnect ? "RollbackOnDisconnect on" : "off");
        session_.SetRollbackOnDisconnect(rollbackOnDisconnect);
        LogOn(session_);
        const int before = Committed();
        Insert(1);
        session_.Commit();
        Insert(2);
        EXPECT_EQ(Committed(), before + 1);
        session_.LogOff();
        EXPECT_FALSE(session_.Connected());
        EXPECT_EQ(Committed(), before + (rollbackOnDisconnect ? 1 : 2));
    }
}

struct AlterCase {
    std::function<void(TOracleSession&)> set;
    std::function<void(TOracleSession&)> reset;  // back to the unchanged value
    std::string statement;
};

std::vector<AlterCase> AlterCases() {
    const auto trace = [](TSQLTraceOption v) {
        return [v](TOracleSession& s) { s.SetSQLTrace(v); };
    };
    const auto goal = [](TOptimizerGoalOption v) {
        return [v](TOracleSession& s) { s.SetOptimizerGoal(v); };
    };
    const auto level = [](TIsolationLevelOption v) {
        return [v](TOracleSession& s) { s.SetIsolationLevel(v); };
    };
    const auto noTrace = trace(TSQLTraceOption::stUnchanged);
    const auto noGoal = goal(TOptimizerGoalOption::ogUnchanged);
    const auto noLevel = level(TIsolationLevelOption::ilUnchanged);
    return {
        {trace(TSQLTraceOption::stTrue), noTrace, "alter session set sql_trace = true"},
        {trace(TSQLTraceOption::stFalse), noTrace, "alter session set sql_trace = false"},
        {goal(TOptimizerGoalOption::ogChoose), noGoal, "alter session set optimizer_goal = choose"},
        {goal(TOptimizerGoalOption::ogFirstRows), noGoal,
         "alter session set optimizer_goal = first_rows"},
        {goal(TOptimizerGoalOption::ogAllRows), noGoal,
         "alter session set optimizer_goal = all_rows"},
        {goal(TOptimizerGoalOption::ogRule), noGoal, "alter session set optimizer_goal = rule"},
        {level(TIsolationLevelOption::ilReadCommitted), noLevel,
         "alter session set isolation_level = read committed"},
        {level(TIsolationLevelOption::ilSerializable), noLevel,
         "alter session set isolation_level = serializable"},
    };
}

TEST_P(SessionTransactionTest, EachSettingIsSentAtLogonAndWhenChangedWhileConnected) {
    for (const AlterCase& c : AlterCases()) {
        SCOPED_TRACE(c.statement);
        alters_.clear();
        c.set(session_);
        EXPECT_TRUE(alters_.empty());  // nothing to send to while disconnected
        LogOn(session_);
        EXPECT_THAT(alters_, ElementsAre(c.statement));
        // Back to unchanged sends nothing; the value again is sent on the open connection.
        alters_.clear();
        c.reset(session_);
        EXPECT_TRUE(alters_.empty());
        c.set(session_);
        EXPECT_THAT(alters_, ElementsAre(c.statement));
        // A session configured so still works.
        Insert(1);
        session_.Commit();
        EXPECT_EQ(CountRows(session_), Committed());
        c.reset(session_);
        session_.LogOff();
        // A later logon with the setting unchanged sends nothing.
        alters_.clear();
        LogOn(session_);
        EXPECT_TRUE(alters_.empty());
        session_.LogOff();
    }
}

TEST_P(SessionTransactionTest, AllSettingsAreSentAtEveryLogonInTheirOrder) {
    const std::vector<std::string> expected = {"alter session set sql_trace = false",
                                               "alter session set optimizer_goal = first_rows",
                                               "alter session set isolation_level = serializable"};
    session_.SetIsolationLevel(TIsolationLevelOption::ilSerializable);
    session_.SetOptimizerGoal(TOptimizerGoalOption::ogFirstRows);
    session_.SetSQLTrace(TSQLTraceOption::stFalse);
    session_.SetAutoCommit(true);
    for (int logon = 1; logon <= 2; ++logon) {
        SCOPED_TRACE("logon " + std::to_string(logon));
        alters_.clear();
        LogOn(session_);
        EXPECT_THAT(alters_, ElementsAreArray(expected));
        EXPECT_EQ(session_.SQLTrace(), TSQLTraceOption::stFalse);
        EXPECT_EQ(session_.OptimizerGoal(), TOptimizerGoalOption::ogFirstRows);
        EXPECT_EQ(session_.IsolationLevel(), TIsolationLevelOption::ilSerializable);
        // AutoCommit made while disconnected took effect with the settings.
        EXPECT_TRUE(session_.AutoCommit());
        const int before = Committed();
        Insert(logon);
        EXPECT_EQ(Committed(), before + 1);
        session_.LogOff();
    }
}

TEST_P(SessionTransactionTest, GuardedSettersRefuseChangesWhileConnected) {
    struct GuardCase {
        std::function<void(TOracleSession&)> change;
        std::function<void(TOracleSession&)> same;  // the current value again
        std::function<bool(const TOracleSession&)> unchanged;
        std::string message;
    };
    const bool useOCI7 = GetParam().useOCI7;
    const std::vector<GuardCase> cases = {
        {[](TOracleSession& s) { s.SetThreadSafe(true); },
         [](TOracleSession& s) { s.SetThreadSafe(false); },
         [](const TOracleSession& s) { return !s.ThreadSafe(); },
         "Cannot change ThreadSafe property when connected"},
        {[](TOracleSession& s) { s.SetPooling(TSessionPoolingOption::spInternal); },
         [](TOracleSession& s) { s.SetPooling(TSessionPoolingOption::spNone); },
         [](const TOracleSession& s) { return s.Pooling() == TSessionPoolingOption::spNone; },
         "Cannot change Pooling property when connected"},
        {[](TOracleSession& s) { s.SetMTSOptions({TMTSOption::moImplicit}); },
         [](TOracleSession& s) {
             s.SetMTSOptions({TMTSOption::moImplicit, TMTSOption::moUniqueServer});
         },
         [](const TOracleSession& s) {
             return s.MTSOptions().Contains(TMTSOption::moUniqueServer);
         },
         "Cannot change MTSOptions property when connected"},
        {[useOCI7](TOracleSession& s) { s.Preferences().SetUseOCI7(!useOCI7); },
         [useOCI7](TOracleSession& s) { s.Preferences().SetUseOCI7(useOCI7); },
         [useOCI7](const TOracleSession& s) { return s.Preferences().UseOCI7() == useOCI7; },
         "Cannot change UseOCI7 property when session is connected"},
    };
    LogOn(session_);
    for (const GuardCase& c : cases) {
        SCOPED_TRACE(c.message);
        EXPECT_THAT([&] { c.change(session_); }, ThrowsMessage<platform::Exception>(Eq(c.message)));
        EXPECT_TRUE(c.unchanged(session_));
        EXPECT_NO_THROW(c.same(session_));
        EXPECT_TRUE(c.unchanged(session_));
        EXPECT_TRUE(session_.Connected());
    }
    // Once disconnected every change is accepted.
    session_.LogOff();
    for (const GuardCase& c : cases) {
        SCOPED_TRACE(c.message);
        EXPECT_NO_THROW(c.change(session_));
        EXPECT_FALSE(c.unchanged(session_));
    }
}

}  // namespace
}  // namespace velnor::oracle

#endif
