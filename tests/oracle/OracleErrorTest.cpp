#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "oracle/client/OracleError.h"
#include "oracle/client/StatementBackend.h"
#include "oracle/query/OracleQuery.h"
#include "oracle/session/OracleSession.h"
#include "tests/oracle/ClientTestEnvironment.h"

namespace velnor::oracle {
namespace {

using platform::TRegistryRoot;
using ::testing::ElementsAre;
using ::testing::Eq;
using ::testing::StartsWith;
using ::testing::ThrowsMessage;

struct MtsCase {
    int number;
    const char* function;
    const char* expected;
};

class MtsErrorTest : public ::testing::TestWithParam<MtsCase> {};

TEST_P(MtsErrorTest, MessageNamesNumberTextAndFunction) {
    const EOracleMTSError error(GetParam().function, GetParam().number);
    EXPECT_EQ(error.Message(), GetParam().expected);
    EXPECT_EQ(error.ErrorCode(), GetParam().number);
}

INSTANTIATE_TEST_SUITE_P(
    Numbers, MtsErrorTest,
    ::testing::Values(MtsCase{4002, "OraMTSSvcGet",
                              "MTS error 4002: failed logon to Oracle\r\nin function OraMTSSvcGet"},
                      MtsCase{1001, "OraMTSSvcRel",
                              "MTS error 1001: no MTXDM.DLL available\r\nin function OraMTSSvcRel"},
                      MtsCase{6014, "f", "MTS error 6014: error exporting trans.\r\nin function f"},
                      MtsCase{7777, "OraMTSSvcGet", "MTS error 7777: \r\nin function OraMTSSvcGet"},
                      MtsCase{0, "Initialization error\r\nCould not locate \"x\"",
                              "Initialization error\r\nCould not locate \"x\""}));

TEST(MtsErrorTableTest, EveryGroupOfTheTableIsKnown) {
    for (int number : {1005, 2001, 3008, 4006, 5012, 6001}) {
        EXPECT_FALSE(EOracleMTSError::MessageText(number).empty()) << number;
    }
    for (int number : {0, 1000, 1006, 2002, 6015, -1}) {
        EXPECT_TRUE(EOracleMTSError::MessageText(number).empty()) << number;
    }
}

TEST(CutErrorMessageTest, LongMessagesAreCutOnACharacterBoundary) {
    EXPECT_EQ(CutErrorMessage(std::string(3000, 'x')).size(), 1023u);
    EXPECT_EQ(CutErrorMessage(std::string(1023, 'x')).size(), 1023u);
    // A three-byte character across the limit is dropped whole, not split.
    const std::string text = std::string(1022, 'a') + "\xE6\x97\xA5" + "tail";
    EXPECT_EQ(CutErrorMessage(text), std::string(1022, 'a'));
    const std::string fits = std::string(1020, 'a') + "\xE6\x97\xA5" + "tail";
    EXPECT_EQ(CutErrorMessage(fits), std::string(1020, 'a') + "\xE6\x97\xA5");
}

TEST(OracleErrorTest, WarningIsAnOracleError) {
    try {
        throw EOracleWarning("ORA-00942: table or view does not exist\n", 942);
    } catch (const EOracleError& e) {
        EXPECT_EQ(e.ErrorCode(), 942);
        EXPECT_EQ(e.Message(), "ORA-00942: table or view does not exist\n");
    }
}

struct WarningCodesTest : ::testing::Test {
    test::TClientEnvironment env_;
};

struct WarningListCase {
    const char* values;  // .reg lines of the warnings key
    std::vector<int> expected;
};

class WarningListTest : public WarningCodesTest,
                        public ::testing::WithParamInterface<WarningListCase> {};

TEST_P(WarningListTest, ReadsUpToTheFirstMissingValue) {
    env_.WriteRegistry(TRegistryRoot::CurrentUser,
                       std::string("[SOFTWARE\\Quendrix\\ZEL\\Warnings]\n") + GetParam().values);
    EXPECT_EQ(ReadWarningCodes(), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Registry, WarningListTest,
    ::testing::Values(WarningListCase{"\"1\"=\"942\"\n\"2\"=\"abc\"\n\"3\"=\"1403\"\n",
                                      {942, 1403}},
                      WarningListCase{"\"1\"=\"942\"\n\"3\"=\"1403\"\n", {942}},
                      WarningListCase{"\"1\"=\"*942\"\n\"2\"=\"1017\"\n", {1017}},
                      WarningListCase{"\"1\"=\"\"\n\"2\"=\"1017\"\n", {}},
                      WarningListCase{"\"2\"=\"1017\"\n", {}}));

TEST_F(WarningCodesTest, ListLivesInTheCurrentUsersRegistryOnly) {
    env_.WriteRegistry(TRegistryRoot::LocalMachine,
                       "[SOFTWARE\\Quendrix\\ZEL\\Warnings]\n\"1\"=\"942\"\n");
    EXPECT_TRUE(ReadWarningCodes().empty());
}

TEST(CheckSessionFeatureTest, RefusesMissingAndDisconnectedSessions) {
    EXPECT_THAT([] { CheckSessionFeature(nullptr, "A query with LOB's"); },
                ThrowsMessage<platform::Exception>(Eq("A query with LOB's requires a session")));
    TOracleSession session;
    EXPECT_THAT([&] { CheckSessionFeature(&session, "A query with sub-queries"); },
                ThrowsMessage<platform::Exception>(
                    Eq("A query with sub-queries requires a connected session")));
}

struct TStatusCase {
    sword status;
    bool infoCounts;
    int expected;
};
class ErrorNumberTest : public ::testing::TestWithParam<TStatusCase> {};

// Without an error record: what each status counts as.
TEST_P(ErrorNumberTest, StatusWithoutRecordMapsToOneNumber) {
    EXPECT_EQ(detail::ErrorNumber(nullptr, GetParam().status, GetParam().infoCounts),
              GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Statuses, ErrorNumberTest,
    ::testing::Values(TStatusCase{OCI_SUCCESS, false, 0},
                      TStatusCase{OCI_SUCCESS_WITH_INFO, false, 0},
                      TStatusCase{OCI_SUCCESS_WITH_INFO, true, 0},  // information, but no record
                      TStatusCase{OCI_NEED_DATA, false, 0}, TStatusCase{OCI_NO_DATA, false, 1403},
                      // A failure without a record must still count as one.
                      TStatusCase{OCI_ERROR, false, -1}, TStatusCase{OCI_INVALID_HANDLE, false, -2},
                      TStatusCase{OCI_STILL_EXECUTING, false, OCI_STILL_EXECUTING}));

#ifdef VELNOR_HAVE_STANDIN

struct SessionErrorTest : ::testing::Test {
    void TearDown() override { SetWarningCodes(std::nullopt); }
    std::string LogOnAndCatch(bool oci7, bool& warning, int& code) {
        session_.Preferences().SetUseOCI7(oci7);
        session_.SetLogonUsername("scott/wrong@DEMO");
        try {
            session_.LogOn();
        } catch (const EOracleWarning& e) {
            warning = true;
            code = e.ErrorCode();
            return e.Message();
        } catch (const EOracleError& e) {
            warning = false;
            code = e.ErrorCode();
            return e.Message();
        }
        return {};
    }

    test::TClientEnvironment env_;
    test::TStandInHome home_{env_};
    TOracleSession session_;
};

TEST_F(SessionErrorTest, ListedNumbersAreRaisedAsWarnings) {
    for (bool oci7 : {false, true}) {
        bool warning = true;
        int code = 0;
        SetWarningCodes(std::nullopt);
        EXPECT_THAT(LogOnAndCatch(oci7, warning, code), StartsWith("ORA-01017: "));
        EXPECT_FALSE(warning);
        EXPECT_EQ(code, 1017);

        SetWarningCodes(std::vector<int>{942, 1017});
        EXPECT_THAT(LogOnAndCatch(oci7, warning, code), StartsWith("ORA-01017: "));
        EXPECT_TRUE(warning) << oci7;
        EXPECT_EQ(code, 1017);

        SetWarningCodes(std::vector<int>{942});
        (void)LogOnAndCatch(oci7, warning, code);
        EXPECT_FALSE(warning);
    }
}

TEST_F(SessionErrorTest, FeatureChecksNameTheInterfaceInUse) {
    session_.Preferences().SetUseOCI7(true);
    session_.SetLogonUsername("scott/tiger@DEMO");
    session_.LogOn();
    EXPECT_THAT([&] { CheckSessionFeature(&session_, "A query with LOB's"); },
                ThrowsMessage<platform::Exception>(
                    Eq("A query with LOB's requires OCI8 mode, but OCI7 mode is used.")));
    session_.LogOff();
    session_.Preferences().SetUseOCI7(false);
    session_.LogOn();
    EXPECT_NO_THROW(CheckSessionFeature(&session_, "A query with LOB's"));
}

TEST_F(SessionErrorTest, FeatureChecksWithoutOCI8SayNet8IsMissing) {
    home_.UseVariant("libocisqlite-oci7only.so");
    session_.SetLogonUsername("scott/tiger@DEMO");
    session_.LogOn();
    EXPECT_THAT([&] { CheckSessionFeature(&session_, "An object variable"); },
                ThrowsMessage<platform::Exception>(
                    Eq("An object variable requires Net8, which is not detected on this PC")));
}

TEST_F(SessionErrorTest, ErrorReleasesTheSessionLockOfAnOCI7Session) {
    session_.SetThreadSafe(true);
    session_.Preferences().SetUseOCI7(true);
    session_.SetLogonUsername("scott/tiger@DEMO");
    session_.LogOn();
    session_.LockSession(1);
    const EOracleError error(&session_, TErrorSource::FromReturnCode(1017));
    EXPECT_THAT(error.Message(), StartsWith("ORA-01017"));
    // The lock is free again: another thread can take it.
    bool taken = false;
    std::thread other([&] {
        session_.LockSession(1);
        taken = true;
        session_.UnlockSession(1);
    });
    other.join();
    EXPECT_TRUE(taken);
}

// The error's own release of the lock used to be undone or doubled by the region it left.
TEST_F(SessionErrorTest, QueryErrorLeavesTheCallersHoldOfTheLock) {
    session_.SetThreadSafe(true);
    session_.Preferences().SetUseOCI7(true);
    session_.SetLogonUsername("scott/tiger@DEMO");
    session_.LogOn();
    TOracleQuery q;
    q.SetSession(&session_);
    q.SQL().SetText("select * from no_such_table");
    session_.LockSession(1);  // the caller's own hold, around the failing query
    EXPECT_THROW(q.Execute(), EOracleError);
    std::atomic<bool> taken = false;
    std::thread other([&] {
        session_.LockSession(1);
        taken = true;
        session_.UnlockSession(1);
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_FALSE(taken) << "the failing query released the caller's hold";
    session_.UnlockSession(1);
    other.join();
    EXPECT_TRUE(taken);
}

#endif

}  // namespace
}  // namespace velnor::oracle
