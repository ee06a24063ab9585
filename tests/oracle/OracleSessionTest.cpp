#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <unistd.h>

#include <algorithm>
#include <thread>

#include "oracle/client/OciLibrary.h"
#include "oracle/query/OracleQuery.h"
#include "oracle/query/Probes.h"
#include "oracle/session/OracleSession.h"
#include "platform/Text.h"
#include "platform/UiHooks.h"
#include "tests/oracle/ClientTestEnvironment.h"

namespace velnor::oracle {
namespace {

using ::testing::HasSubstr;
using ::testing::StartsWith;

struct ParseCase {
    const char* user;
    const char* password;
    const char* database;
    const char* expectedUser;
    const char* expectedPassword;
    const char* expectedDatabase;
    TConnectAsOption expectedMode;
};

class ParseLogonTest : public ::testing::TestWithParam<ParseCase> {};

TEST_P(ParseLogonTest, SplitsOnlyTheCombinedForm) {
    const ParseCase& c = GetParam();
    const TLogonParts parts =
        ParseLogonStrings(c.user, c.password, c.database, TConnectAsOption::caNormal);
    EXPECT_EQ(parts.user, c.expectedUser);
    EXPECT_EQ(parts.password, c.expectedPassword);
    EXPECT_EQ(parts.database, c.expectedDatabase);
    EXPECT_EQ(parts.mode, c.expectedMode);
}

constexpr auto kNormal = TConnectAsOption::caNormal;
constexpr auto kSysDba = TConnectAsOption::caSYSDBA;
constexpr auto kSysOper = TConnectAsOption::caSYSOPER;

INSTANTIATE_TEST_SUITE_P(
    Strings, ParseLogonTest,
    ::testing::Values(
        ParseCase{"scott/tiger@DEMO", "", "", "scott", "tiger", "DEMO", kNormal},
        ParseCase{"scott/tiger", "", "DEMO", "scott", "tiger", "DEMO", kNormal},
        ParseCase{"scott@DEMO", "", "", "scott", "", "DEMO", kNormal},
        ParseCase{"scott", "tiger", "DEMO", "scott", "tiger", "DEMO", kNormal},
        ParseCase{"sys", "pw", "DEMO as SysDba", "sys", "pw", "DEMO", kSysDba},
        ParseCase{"sys", "pw", "DEMO\tAS\tsysoper", "sys", "pw", "DEMO", kSysOper},
        ParseCase{"sys/pw@DEMO AS SYSDBA", "", "", "sys", "pw", "DEMO", kSysDba},
        ParseCase{"sys/pw as sysoper", "", "", "sys", "pw", "", kSysOper},
        // EZConnect strings keep their "/" and ":".
        ParseCase{"scott/tiger@host:1521/DEMO", "", "", "scott", "tiger", "host:1521/DEMO",
                  kNormal},
        ParseCase{"scott@//host/DEMO", "", "", "scott", "", "//host/DEMO", kNormal},
        // Separately given fields are never split: "@" and " as " belong to the value.
        ParseCase{"scott", "ti@ger", "DEMO", "scott", "ti@ger", "DEMO", kNormal},
        ParseCase{"scott", "sing as sysdba", "DEMO", "scott", "sing as sysdba", "DEMO", kNormal},
        ParseCase{"scott", "a/b", "", "scott", "a/b", "", kNormal},
        ParseCase{"scott", "tiger", "DEMO as guest", "scott", "tiger", "DEMO as guest", kNormal},
        ParseCase{"", "", "", "", "", "", kNormal}));

TEST(ParseLogonModeTest, ModeWithoutClauseIsTheProperty) {
    EXPECT_EQ(ParseLogonStrings("s", "p", "D", kSysOper).mode, kSysOper);
    EXPECT_EQ(ParseLogonStrings("s", "p", "D as sysdba", kSysOper).mode, kSysDba);
}

TEST(SessionRegistryTest, SessionsAreListedWhileTheyExist) {
    auto session = std::make_unique<TOracleSession>(nullptr);
    TOracleSession* raw = session.get();
    auto listed = TOracleSession::Sessions();
    EXPECT_NE(std::find(listed.begin(), listed.end(), raw), listed.end());
    session.reset();
    listed = TOracleSession::Sessions();
    EXPECT_EQ(std::find(listed.begin(), listed.end(), raw), listed.end());
}

TEST(SessionRegistryTest, OwnerDestroysItsSession) {
    auto owner = std::make_unique<platform::TComponent>(nullptr);
    auto& session = platform::Make<TOracleSession>(*owner);
    EXPECT_EQ(owner->ComponentCount(), 1);
    TOracleSession* raw = &session;
    owner.reset();
    const auto listed = TOracleSession::Sessions();
    EXPECT_EQ(std::find(listed.begin(), listed.end(), raw), listed.end());
}

#ifdef VELNOR_HAVE_STANDIN

// Records the cursors shown while it is installed.
struct TCursorRecorder {
    TCursorRecorder() {
        platform::TUiHooks hooks;
        hooks.GetCursor = [this] { return current; };
        hooks.SetCursor = [this](int cursor) {
            current = cursor;
            shown.push_back(cursor);
        };
        platform::InstallUiHooks(std::move(hooks));
    }
    ~TCursorRecorder() { platform::InstallUiHooks({}); }
    int current = 0;
    std::vector<int> shown;
};

struct OracleSessionTest : ::testing::Test {
    void LogOn(const std::string& user, const std::string& password, const std::string& db) {
        session_.SetLogonUsername(user);
        session_.SetLogonPassword(password);
        session_.SetLogonDatabase(db);
        session_.LogOn();
    }
    int LogOnError(const std::string& user, const std::string& password, const std::string& db,
                   std::string* message = nullptr) {
        try {
            LogOn(user, password, db);
        } catch (const EOracleError& e) {
            if (message) *message = e.Message();
            return e.ErrorCode();
        }
        return 0;
    }

    test::TClientEnvironment env_;
    test::TStandInHome home_{env_};
    TOracleSession session_;
};

TEST_F(OracleSessionTest, LogsOnThroughOCI8AndOff) {
    int changes = 0;
    session_.OnChange = [&](TOracleSession& sender) {
        EXPECT_EQ(&sender, &session_);
        ++changes;
    };
    LogOn("scott", "tiger", "DEMO");
    EXPECT_TRUE(session_.Connected());
    EXPECT_TRUE(session_.UsingOCI8());
    EXPECT_TRUE(session_.LogonWarning().empty());
    EXPECT_NE(session_.ServiceContext(), nullptr);
    session_.LogOff();
    EXPECT_FALSE(session_.Connected());
    EXPECT_EQ(session_.EnvironmentHandle(), nullptr);
    EXPECT_EQ(changes, 2);
}

TEST_F(OracleSessionTest, CombinedLogonStringEndsUpInTheThreeProperties) {
    LogOn("scott/tiger@DEMO", "", "");
    EXPECT_TRUE(session_.Connected());
    EXPECT_EQ(session_.LogonUsername(), "scott");
    EXPECT_EQ(session_.LogonPassword(), "tiger");
    EXPECT_EQ(session_.LogonDatabase(), "DEMO");
}

struct LogonErrorCase {
    const char* user;
    const char* password;
    const char* database;
    int code;
};

class LogonErrorTest : public OracleSessionTest,
                       public ::testing::WithParamInterface<LogonErrorCase> {};

TEST_P(LogonErrorTest, RaisesTheServerErrorAndStaysDisconnected) {
    const LogonErrorCase& c = GetParam();
    for (bool oci7 : {false, true}) {
        session_.Preferences().SetUseOCI7(oci7);
        int afterLogOn = 0;
        session_.AfterLogOn = [&](TOracleSession& s) {
            EXPECT_FALSE(s.Connected());
            ++afterLogOn;
        };
        std::string message;
        EXPECT_EQ(LogOnError(c.user, c.password, c.database, &message), c.code) << oci7;
        char prefix[16];
        std::snprintf(prefix, sizeof prefix, "ORA-%05d: ", c.code);
        EXPECT_THAT(message, StartsWith(prefix));
        EXPECT_FALSE(session_.Connected());
        EXPECT_EQ(afterLogOn, 1);
    }
}

INSTANTIATE_TEST_SUITE_P(Logons, LogonErrorTest,
                         ::testing::Values(LogonErrorCase{"scott", "wrong", "DEMO", 1017},
                                           LogonErrorCase{"nobody", "x", "DEMO", 1017},
                                           LogonErrorCase{"scott", "tiger", "NOSUCH", 12154}));

TEST_F(OracleSessionTest, ExpiringPasswordIsAWarningNotAnError) {
    for (bool oci7 : {false, true}) {
        session_.Preferences().SetUseOCI7(oci7);
        LogOn("aging", "aging", "DEMO");
        EXPECT_TRUE(session_.Connected()) << oci7;
        EXPECT_THAT(session_.LogonWarning(), StartsWith("ORA-28002"));
        session_.LogOff();
    }
}

TEST_F(OracleSessionTest, OldServerBannerSwitchesToOCI7AndBackAtLogoff) {
    LogOn("scott", "tiger", "OLD7");
    EXPECT_TRUE(session_.Connected());
    EXPECT_FALSE(session_.UsingOCI8());
    EXPECT_NE(session_.ExternalLDA(), nullptr);
    session_.LogOff();
    EXPECT_FALSE(session_.Connected());
    // The session is usable again on a current server.
    LogOn("scott", "tiger", "DEMO");
    EXPECT_TRUE(session_.UsingOCI8());
}

TEST_F(OracleSessionTest, PreferenceSelectsOCI7) {
    session_.Preferences().SetUseOCI7(true);
    LogOn("scott", "tiger", "DEMO");
    EXPECT_TRUE(session_.Connected());
    EXPECT_FALSE(session_.UsingOCI8());
    EXPECT_THAT([&] { session_.Preferences().SetUseOCI7(false); },
                ::testing::ThrowsMessage<platform::Exception>(
                    ::testing::Eq("Cannot change UseOCI7 property when session is connected")));
    EXPECT_THAT([&] { (void)session_.ExternalSVC(); },
                ::testing::ThrowsMessage<platform::Exception>(
                    ::testing::Eq("ExternalSVC only valid when connected through OCI8")));
}

struct VariantCase {
    const char* library;
    bool oci8;
    bool olog;
};

class ClientVariantTest : public OracleSessionTest,
                          public ::testing::WithParamInterface<VariantCase> {};

TEST_P(ClientVariantTest, IncompleteOCI8MeansOCI7Logons) {
    home_.UseVariant(GetParam().library);
    LogOn("scott", "tiger", "DEMO");
    EXPECT_EQ(OCI8Available(), GetParam().oci8);
    EXPECT_EQ(OLogAvailable(), GetParam().olog);
    EXPECT_TRUE(OCI7Available());
    EXPECT_TRUE(session_.Connected());
    EXPECT_EQ(session_.UsingOCI8(), GetParam().oci8);
    session_.LogOff();
    EXPECT_EQ(LogOnError("scott", "bad", "DEMO"), 1017);
}

INSTANTIATE_TEST_SUITE_P(Libraries, ClientVariantTest,
                         ::testing::Values(VariantCase{"libocisqlite-oci7only.so", false, true},
                                           VariantCase{"libocisqlite-nooci8name.so", false, true},
                                           VariantCase{"libocisqlite-noolog.so", true, false},
                                           VariantCase{"libocisqlite-norowidtochar.so", true,
                                                       true}));

TEST_F(OracleSessionTest, ClientWithoutRowidToCharRunsDmlAndNamesNoRow) {
    home_.UseVariant("libocisqlite-norowidtochar.so");
    LogOn("scott", "tiger", "DEMO");
    ASSERT_TRUE(session_.UsingOCI8());
    EXPECT_FALSE(Oci().OCIRowidToChar);
    TOracleQuery q(nullptr);
    q.SetSession(&session_);
    for (const char* sql : {"create table norowid (id number)", "insert into norowid values (1)"}) {
        q.SQL().SetText(sql);
        q.Execute();
    }
    EXPECT_EQ(q.RowsProcessed(), 1);
    EXPECT_EQ(q.RowIdText(), "");
    q.SQL().SetText("drop table norowid");
    q.Execute();
}

TEST_F(OracleSessionTest, NoOlogMeansTheOlderLogonCall) {
    home_.UseVariant("libocisqlite-noolog.so");
    session_.Preferences().SetUseOCI7(true);
    LogOn("scott", "tiger", "DEMO");
    EXPECT_TRUE(session_.Connected());
    EXPECT_FALSE(session_.UsingOCI8());
}

TEST_F(OracleSessionTest, ConnectedSetterLogsOnOnceAndOffOnce) {
    int before = 0;
    session_.BeforeLogOn = [&](TOracleSession&) { ++before; };
    session_.SetLogonUsername("scott");
    session_.SetLogonPassword("tiger");
    session_.SetLogonDatabase("DEMO");
    session_.SetConnected(true);
    session_.SetConnected(true);
    EXPECT_EQ(before, 1);
    session_.SetConnected(false);
    session_.SetConnected(false);
    EXPECT_FALSE(session_.Connected());
    session_.SetConnected(true);
    EXPECT_TRUE(session_.Connected());
}

TEST_F(OracleSessionTest, FailedLogonLeavesNothingForTheNextOne) {
    EXPECT_EQ(LogOnError("scott", "wrong", "DEMO"), 1017);
    LogOn("scott", "tiger", "DEMO");
    EXPECT_TRUE(session_.Connected());
}

TEST_F(OracleSessionTest, SysdbaClauseAppliesToThatLogonOnly) {
    // The stand-in accepts the privileged modes; the mode comes from the clause.
    LogOn("scott", "tiger", "DEMO as sysdba");
    EXPECT_TRUE(session_.Connected());
    EXPECT_EQ(session_.ConnectAs(), TConnectAsOption::caNormal);
}

TEST_F(OracleSessionTest, ExternalCredentialsNameTheOperatingSystemUser) {
    const passwd* pw = ::getpwuid(::geteuid());
    ASSERT_NE(pw, nullptr);
    home_.Admin("user DEMO 'OPS$" + platform::UpperCase(pw->pw_name) + "' unused");
    LogOn("", "", "DEMO");
    EXPECT_TRUE(session_.Connected());
}

TEST_F(OracleSessionTest, BusyCursorIsShownAndRestoredAlsoOnError) {
    TCursorRecorder cursors;
    cursors.current = 5;
    session_.SetCursor(-17);
    EXPECT_EQ(LogOnError("scott", "wrong", "DEMO"), 1017);
    EXPECT_EQ(cursors.current, 5);
    EXPECT_NE(std::find(cursors.shown.begin(), cursors.shown.end(), -17), cursors.shown.end());

    cursors.shown.clear();
    session_.SetCursor(0);
    LogOn("scott", "tiger", "DEMO");
    EXPECT_TRUE(cursors.shown.empty());
}

TEST_F(OracleSessionTest, LogonFactsAreMeasuredOncePerConnection) {
    EXPECT_EQ(BytesPerCharacter(session_), 1);  // bc1Byte needs no query
    EXPECT_EQ(DateFormatLength(session_), -1);  // not measured while disconnected
    int dateProbes = 0;
    session_.OnInternalSQL = [&](TOracleSession&, const std::string& sql) {
        if (sql.find("to_date('10-12-1999") != std::string::npos) ++dateProbes;
    };
    LogOn("scott", "tiger", "DEMO");
    const int length = DateFormatLength(session_);
    EXPECT_GT(length, 0);
    EXPECT_EQ(DateFormatLength(session_), length);
    EXPECT_EQ(dateProbes, 1);
    EXPECT_EQ(MaxVarcharChars(session_), 4000);
    session_.SetBytesPerCharacter(TBytesPerCharacterOption::bc3Bytes);
    EXPECT_EQ(MaxVarcharChars(session_), 4000 / 3);
}

TEST_F(OracleSessionTest, AutoDetectedBytesPerCharacterIsProbedOncePerConnection) {
    int probes = 0;
    session_.OnInternalSQL = [&](TOracleSession&, const std::string& sql) {
        if (sql.find("length(chr(2000000000))") != std::string::npos) ++probes;
    };
    session_.SetBytesPerCharacter(TBytesPerCharacterOption::bcAutoDetect);
    EXPECT_EQ(BytesPerCharacter(session_), 1);  // disconnected: no probe
    EXPECT_EQ(probes, 0);
    session_.SetBytesPerCharacter(TBytesPerCharacterOption::bc1Byte);
    session_.SetBytesPerCharacter(TBytesPerCharacterOption::bcAutoDetect);
    LogOn("scott", "tiger", "DEMO");
    const int measured = BytesPerCharacter(session_);
    EXPECT_GE(measured, 1);
    EXPECT_LE(measured, 4);
    EXPECT_EQ(BytesPerCharacter(session_), measured);
    EXPECT_EQ(probes, 1);
    session_.LogOff();
    LogOn("scott", "tiger", "DEMO");
    (void)BytesPerCharacter(session_);
    EXPECT_EQ(probes, 2);
}

TEST_F(OracleSessionTest, OdbcLogonPresetsTheOldestClientLibrary) {
    std::string message;
    try {
        LogOn("ODBC:scott", "tiger", "DEMO");
    } catch (const platform::Exception& e) {
        message = e.Message();
    }
    EXPECT_THAT(message, StartsWith("Initialization error\r\nCould not load \"libclntsh.so.7.3\""));
    EXPECT_TRUE(session_.ODBCMode());
}

TEST_F(OracleSessionTest, CommitAndRollbackDoNothingWhenDisconnected) {
    EXPECT_NO_THROW(session_.Commit());
    EXPECT_NO_THROW(session_.Rollback());
}

TEST_F(OracleSessionTest, OCI7CommitAndRollbackReachTheServer) {
    session_.Preferences().SetUseOCI7(true);
    LogOn("scott", "tiger", "DEMO");
    EXPECT_NO_THROW(session_.Commit());
    EXPECT_NO_THROW(session_.Rollback());
    session_.SetAutoCommit(true);
    EXPECT_TRUE(session_.AutoCommit());
}

TEST_F(OracleSessionTest, EveryConnectedSessionIsLoggedOffAtProcessEnd) {
    TOracleSession second;
    second.SetLogonUsername("scott/tiger@DEMO");
    LogOn("scott", "tiger", "DEMO");
    second.LogOn();
    TOracleSession::LogOffAllSessions();
    EXPECT_FALSE(session_.Connected());
    EXPECT_FALSE(second.Connected());
}

TEST_F(OracleSessionTest, SharedServiceContextIsBorrowedNotEnded) {
    LogOn("scott", "tiger", "DEMO");
    TOracleSession borrower;
    borrower.SetExternalSVC(session_.ExternalSVC());
    EXPECT_TRUE(borrower.Connected());
    EXPECT_TRUE(borrower.Shared());
    EXPECT_TRUE(borrower.UsingOCI8());
    EXPECT_EQ(borrower.ServiceContext(), session_.ServiceContext());
    borrower.LogOff();
    EXPECT_FALSE(borrower.Shared());
    EXPECT_TRUE(session_.Connected());
    EXPECT_NO_THROW(session_.LogOff());
}

TEST_F(OracleSessionTest, SharedLogonDataAreaIsBorrowedNotLoggedOff) {
    session_.Preferences().SetUseOCI7(true);
    LogOn("scott", "tiger", "DEMO");
    TOracleSession borrower;
    borrower.SetExternalLDA(session_.ExternalLDA());
    EXPECT_TRUE(borrower.Connected());
    EXPECT_FALSE(borrower.UsingOCI8());
    EXPECT_EQ(borrower.CurrentLDA(), session_.CurrentLDA());
    borrower.LogOff();
    EXPECT_TRUE(session_.Connected());
    EXPECT_NO_THROW(session_.Rollback());
}

// Records what the session tells its dependents.
struct TRecordingDependent : TSessionDependent {
    void CloseStatement() override {
        ++closed;
        if (failClose) throw platform::Exception("close failed");
    }
    void SessionDestroyed() noexcept override { ++destroyed; }
    int closed = 0;
    int destroyed = 0;
    bool failClose = false;
};

TEST_F(OracleSessionTest, LogoffClosesEveryDependentEvenWhenOneFails) {
    TRecordingDependent first;
    TRecordingDependent failing;
    failing.failClose = true;
    {
        TOracleSession session;
        session.AttachDependent(&first);
        session.AttachDependent(&failing);
        session.AttachDependent(&first);  // listed once
        session.SetLogonUsername("scott/tiger@DEMO");
        session.LogOn();
        EXPECT_NO_THROW(session.LogOff());
        EXPECT_FALSE(session.Connected());
        EXPECT_EQ(first.closed, 1);
        EXPECT_EQ(failing.closed, 1);
        session.DetachDependent(&failing);
    }
    EXPECT_EQ(first.destroyed, 1);
    EXPECT_EQ(failing.destroyed, 0);
}

TEST_F(OracleSessionTest, ThreadSafeSessionsLogOnFromSeveralThreads) {
    std::vector<std::unique_ptr<TOracleSession>> sessions;
    for (int i = 0; i < 4; ++i) {
        sessions.push_back(std::make_unique<TOracleSession>(nullptr));
        sessions.back()->SetThreadSafe(true);
        sessions.back()->SetLogonUsername("scott/tiger@DEMO");
    }
    std::vector<std::thread> threads;
    for (auto& s : sessions) threads.emplace_back([&s] { s->LogOn(); });
    for (auto& t : threads) t.join();
    for (auto& s : sessions) {
        EXPECT_TRUE(s->Connected());
        s->LogOff();
    }
    EXPECT_EQ(GlobalOCILock().EntryCount(), 0);
}

#endif

}  // namespace
}  // namespace velnor::oracle
