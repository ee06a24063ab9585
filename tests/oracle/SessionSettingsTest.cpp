#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>

#include "oracle/session/OracleSession.h"
#include "oracle/session/SessionPreferences.h"
#include "tests/oracle/ClientTestEnvironment.h"

namespace velnor::oracle {
namespace {

using ::testing::ElementsAre;
using ::testing::Eq;
using ::testing::ThrowsMessage;

constexpr int kInteger = 3;
constexpr int kFloat = 4;
constexpr int kString = 5;

struct NumberCase {
    int precision;
    int scale;
    bool stringsOnly;
    int floatPrecision;
    int integerPrecision;
    TNumberFieldChoice expected;
};

class NumberFieldTypeTest : public ::testing::TestWithParam<NumberCase> {};

TEST_P(NumberFieldTypeTest, ChoosesTypeAndBufferSize) {
    const NumberCase& c = GetParam();
    TOracleSession session;
    session.Preferences().SetFloatPrecision(c.floatPrecision);
    session.Preferences().SetIntegerPrecision(c.integerPrecision);
    EXPECT_EQ(session.ChooseNumberFieldType(c.precision, c.scale, c.stringsOnly), c.expected)
        << "NUMBER(" << c.precision << "," << c.scale << ")";
}

INSTANTIATE_TEST_SUITE_P(
    Columns, NumberFieldTypeTest,
    ::testing::Values(
        NumberCase{9, 0, false, 0, 0, {kInteger, 4}}, NumberCase{10, 0, false, 0, 0, {kFloat, 8}},
        NumberCase{12, 0, false, 0, 0, {kFloat, 8}}, NumberCase{5, 2, false, 0, 0, {kFloat, 8}},
        NumberCase{0, 0, false, 0, 0, {kFloat, 8}},  // NUMBER without precision
        NumberCase{12, 0, false, 10, 0, {kString, 14}},
        NumberCase{38, -127, true, 0, 0, {kString, 38 + 3 + 132}},  // FLOAT
        NumberCase{126, -127, false, 0, 0, {kFloat, 8}},
        NumberCase{10, 0, false, 0, 10, {kInteger, 4}},
        // NUMBER(8,-2) holds up to 10 integer digits, too many for a 32-bit integer.
        NumberCase{8, -2, false, 0, 0, {kFloat, 8}}, NumberCase{7, -2, false, 0, 0, {kInteger, 4}},
        // Strings hold sign, digits and the zeros a negative scale adds...
        NumberCase{5, -3, true, 0, 0, {kString, 5 + 3 + 2}},
        // ...and for a scale above the precision, "-0." plus the scale's digits.
        NumberCase{2, 5, true, 0, 0, {kString, 5 + 3}},
        NumberCase{7, 2, true, 0, 0, {kString, 7 + 3}},
        NumberCase{9, 0, true, 0, 0, {kString, 9 + 2}}));

TEST(SessionPreferencesTest, AssignmentCopiesEveryValue) {
    TOracleSession a;
    TOracleSession b;
    a.Preferences().SetFloatPrecision(15);
    a.Preferences().SetIntegerPrecision(5);
    a.Preferences().SetSmallIntPrecision(4);
    a.Preferences().SetUseOCI7(true);
    a.Preferences().SetConvertCRLF(false);
    a.Preferences().SetTrimStringFields(false);
    a.Preferences().SetMaxStringFieldSize(255);
    a.Preferences().SetZeroDateIsNull(false);
    a.Preferences().SetNullLOBIsEmpty(true);
    b.SetPreferences(a.Preferences());
    const TSessionPreferences& p = b.Preferences();
    EXPECT_EQ(p.FloatPrecision(), 15);
    EXPECT_EQ(p.IntegerPrecision(), 5);
    EXPECT_EQ(p.SmallIntPrecision(), 4);
    EXPECT_TRUE(p.UseOCI7());
    EXPECT_FALSE(p.ConvertCRLF());
    EXPECT_FALSE(p.TrimStringFields());
    EXPECT_EQ(p.MaxStringFieldSize(), 255);
    EXPECT_FALSE(p.ZeroDateIsNull());
    EXPECT_TRUE(p.NullLOBIsEmpty());
}

struct SessionSettingsTest : ::testing::Test {
    SessionSettingsTest() {
        session_.OnInternalSQL = [this](TOracleSession&, const std::string& sql) {
            sent_.push_back(sql);
            if (failStatements_)
                throw EOracleError("ORA-02248: invalid option for ALTER SESSION\n", 2248);
        };
    }
    std::vector<std::string> AlterStatements() const {
        std::vector<std::string> alter;
        for (const auto& s : sent_) {
            if (s.rfind("alter session", 0) == 0) alter.push_back(s);
        }
        return alter;
    }

    test::TClientEnvironment env_;
    TOracleSession session_;
    std::vector<std::string> sent_;
    bool failStatements_ = false;
};

TEST_F(SessionSettingsTest, SettingsWhileDisconnectedSendNothing) {
    session_.SetOptimizerGoal(TOptimizerGoalOption::ogRule);
    session_.SetSQLTrace(TSQLTraceOption::stTrue);
    session_.SetIsolationLevel(TIsolationLevelOption::ilSerializable);
    session_.SetAutoCommit(true);
    EXPECT_TRUE(sent_.empty());
    EXPECT_EQ(session_.OptimizerGoal(), TOptimizerGoalOption::ogRule);
    EXPECT_TRUE(session_.AutoCommit());
}

TEST_F(SessionSettingsTest, GuardedPropertiesChangeFreelyWhileDisconnected) {
    session_.SetThreadSafe(true);
    session_.SetPooling(TSessionPoolingOption::spMTS);
    session_.SetMTSOptions({TMTSOption::moUniqueServer});
    session_.Preferences().SetUseOCI7(true);
    EXPECT_TRUE(session_.ThreadSafe());
    EXPECT_EQ(session_.Pooling(), TSessionPoolingOption::spMTS);
    EXPECT_FALSE(session_.MTSOptions().Contains(TMTSOption::moImplicit));
    EXPECT_TRUE(session_.Preferences().UseOCI7());
}

TEST_F(SessionSettingsTest, MtsPoolingFailsCleanlyWithoutTheLibrary) {
    session_.SetPooling(TSessionPoolingOption::spMTS);
    session_.SetLogonUsername("scott/tiger@DEMO");
    EXPECT_THROW(session_.LogOn(), EOracleMTSError);
    EXPECT_FALSE(session_.Connected());
}

#ifdef VELNOR_HAVE_STANDIN

struct ConnectedSettingsTest : SessionSettingsTest {
    void LogOn() {
        session_.SetLogonUsername("scott/tiger@DEMO");
        session_.LogOn();
    }
    test::TStandInHome home_{env_};
};

TEST_F(ConnectedSettingsTest, GuardsRefuseChangesWhileConnected) {
    LogOn();
    EXPECT_THAT(
        [&] { session_.SetThreadSafe(true); },
        ThrowsMessage<platform::Exception>(Eq("Cannot change ThreadSafe property when connected")));
    EXPECT_THAT(
        [&] { session_.SetPooling(TSessionPoolingOption::spInternal); },
        ThrowsMessage<platform::Exception>(Eq("Cannot change Pooling property when connected")));
    EXPECT_THAT(
        [&] { session_.SetMTSOptions({}); },
        ThrowsMessage<platform::Exception>(Eq("Cannot change MTSOptions property when connected")));
    EXPECT_THAT([&] { session_.Preferences().SetUseOCI7(true); },
                ThrowsMessage<platform::Exception>(
                    Eq("Cannot change UseOCI7 property when session is connected")));
    // The same value again is no change and is accepted.
    EXPECT_NO_THROW(session_.SetThreadSafe(false));
    EXPECT_FALSE(session_.ThreadSafe());
}

TEST_F(ConnectedSettingsTest, StoredSettingsAreSentAtLogon) {
    session_.SetOptimizerGoal(TOptimizerGoalOption::ogRule);
    session_.SetIsolationLevel(TIsolationLevelOption::ilReadCommitted);
    failStatements_ = true;  // the first statement fails: the logon with it
    EXPECT_THROW(LogOn(), EOracleError);
    EXPECT_THAT(AlterStatements(), ElementsAre("alter session set optimizer_goal = rule"));
    EXPECT_FALSE(session_.Connected());
    EXPECT_EQ(session_.OptimizerGoal(), TOptimizerGoalOption::ogRule);
}

TEST_F(ConnectedSettingsTest, FailingSettingKeepsTheOldValue) {
    LogOn();
    failStatements_ = true;
    EXPECT_THROW(session_.SetSQLTrace(TSQLTraceOption::stTrue), EOracleError);
    EXPECT_EQ(session_.SQLTrace(), TSQLTraceOption::stUnchanged);
    EXPECT_THAT(AlterStatements(), ElementsAre("alter session set sql_trace = true"));
    EXPECT_THROW(session_.SetIsolationLevel(TIsolationLevelOption::ilSerializable), EOracleError);
    EXPECT_THAT(AlterStatements().back(), Eq("alter session set isolation_level = serializable"));
    // Back to the unchanged value sends nothing.
    sent_.clear();
    session_.SetOptimizerGoal(TOptimizerGoalOption::ogUnchanged);
    EXPECT_TRUE(sent_.empty());
}

TEST_F(ConnectedSettingsTest, AutoCommitOnOCI8OnlyChangesLaterExecution) {
    LogOn();
    ASSERT_TRUE(session_.UsingOCI8());
    session_.SetAutoCommit(true);
    EXPECT_TRUE(session_.AutoCommit());
    EXPECT_TRUE(sent_.empty());
}

TEST_F(ConnectedSettingsTest, AutoCommitIsSwitchedOnTheOCI7Connection) {
    session_.Preferences().SetUseOCI7(true);
    session_.SetAutoCommit(true);
    LogOn();
    EXPECT_TRUE(session_.AutoCommit());
    session_.SetAutoCommit(false);
    EXPECT_FALSE(session_.AutoCommit());
}

TEST_F(ConnectedSettingsTest, MtsPoolingReportsTheMissingLibrary) {
    std::filesystem::remove(home_.Path() + "/lib/liboramts.so");
    session_.SetPooling(TSessionPoolingOption::spMTS);
    session_.SetLogonUsername("scott/tiger@DEMO");
    try {
        session_.LogOn();
        ADD_FAILURE() << "logon without the MTS library succeeded";
    } catch (const EOracleMTSError& e) {
        EXPECT_EQ(e.ErrorCode(), 0);
        EXPECT_THAT(e.Message(),
                    ::testing::StartsWith("Initialization error\r\nCould not locate \""));
    }
    EXPECT_FALSE(session_.Connected());
}

#endif

}  // namespace
}  // namespace velnor::oracle
