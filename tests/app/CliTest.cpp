// velnor-cli as a script runs it: a separate process on the stand-in database.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>

#include "app/core/CustomOracleQuery.h"
#include "app/core/LogonHistory.h"
#include "oracle/client/OciLibrary.h"
#include "oracle/session/OracleSession.h"
#include "platform/Registry.h"
#include "platform/System.h"
#include "tests/app/TempDir.h"
#include "tests/support/TempHome.h"

namespace velnor::app {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;

constexpr const char* kService = "CLIT";
constexpr const char* kUser = "CLIUSER";

class CliTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        home_ = new velnor::test::TTempHome();
        home_->AddService(kService);
        home_->AddUser(kService, kUser, "PW");
        home_->SetAsOracleHome();
        oracle::SetOCIDLL(home_->ClientLibrary());
    }
    static void TearDownTestSuite() {
        delete home_;
        home_ = nullptr;
    }

    void SetUp() override {
        ASSERT_TRUE(std::filesystem::exists(Program())) << "build velnor-cli first";
        platform::SetEnvironment("VELNOR_REGISTRY_DIR", dir_.Path().string());
        platform::SetEnvironment("VELNOR_PASSWORD", "PW");
        session_.SetLogonUsername(kUser);
        session_.SetLogonPassword("PW");
        session_.SetLogonDatabase(kService);
        session_.LogOn();
        Sql("CREATE TABLE EMP (ID NUMBER(9), NAME VARCHAR2(20))");
        Sql("INSERT INTO EMP VALUES (1, 'one, \"1\"')");
        Sql("INSERT INTO EMP VALUES (2, NULL)");
        session_.Commit();
    }
    void TearDown() override {
        if (session_.Connected()) {
            session_.Rollback();
            Sql("DROP TABLE EMP");
            session_.Commit();
        }
        platform::UnsetEnvironment("VELNOR_REGISTRY_DIR");
        platform::UnsetEnvironment("VELNOR_PASSWORD");
    }

    static std::string Program() { return std::string(VELNOR_BINARY_DIR) + "/app/velnor-cli"; }

    velnor::test::TProcessResult Cli(std::vector<std::string> args) {
        args.insert(args.begin(), {Program(), "OCIDLL=" + home_->ClientLibrary()});
        return velnor::test::RunProgram(args);
    }
    std::vector<std::string> Logon() const {
        return {"--logon", std::string(kUser) + "@" + kService};
    }
    velnor::test::TProcessResult Cli(const std::vector<std::string>& head,
                                     const std::vector<std::string>& tail) {
        std::vector<std::string> args = head;
        args.insert(args.end(), tail.begin(), tail.end());
        return Cli(args);
    }

    void Sql(const std::string& text) {
        TCustomOracleQuery q(session_);
        q.SetText(text);
        q.Execute();
    }
    // Counted through a fresh session, so only committed rows count.
    std::string Names() {
        oracle::TOracleSession other;
        other.SetLogonUsername(kUser);
        other.SetLogonPassword("PW");
        other.SetLogonDatabase(kService);
        other.LogOn();
        TCustomOracleQuery q(other);
        q.SetText("SELECT ID, NAME FROM EMP ORDER BY ID");
        q.Execute();
        std::string rows;
        for (; !q.Eof(); q.Next()) rows += q.FieldAsString(0) + "=" + q.FieldAsString(1) + ";";
        return rows;
    }

    static velnor::test::TTempHome* home_;
    test::TempDir dir_;
    oracle::TOracleSession session_;
};

velnor::test::TTempHome* CliTest::home_ = nullptr;

TEST_F(CliTest, ListsTablesWithCounts) {
    const auto result = Cli(Logon(), {"tables"});
    EXPECT_EQ(result.exitCode, 0) << result.output;
    EXPECT_EQ(result.output, "EMP\t2\n");
}

TEST_F(CliTest, ClientCharacterSetOtherThanUtf8IsWarnedAbout) {
    const auto saved = platform::GetEnvironment("NLS_LANG");
    platform::SetEnvironment("NLS_LANG", "JAPANESE_JAPAN.JA16SJISTILDE");
    const auto converted = Cli(Logon(), {"tables"});
    if (saved)
        platform::SetEnvironment("NLS_LANG", *saved);
    else
        platform::UnsetEnvironment("NLS_LANG");
    EXPECT_EQ(converted.exitCode, 0) << converted.output;
    EXPECT_THAT(converted.output, HasSubstr("velnor-cli: warning: NLS_LANG=JAPANESE_JAPAN."
                                            "JA16SJISTILDE makes JA16SJISTILDE the client"));
    EXPECT_THAT(Cli(Logon(), {"tables"}).output, Not(HasSubstr("warning: NLS_LANG")));
}

TEST_F(CliTest, ExportThenReplacingImportKeepsTheRowsAndCommits) {
    const std::string file = dir_.File("emp.csv");
    auto result = Cli(Logon(), {"export", "emp", file});  // any case finds the table
    ASSERT_EQ(result.exitCode, 0) << result.output;
    EXPECT_EQ(test::ReadBytes(file), "\"ID\",\"NAME\"\r\n1,\"one, \"\"1\"\"\"\r\n2,\"\"\r\n");
    const std::string before = Names();
    test::WriteBytes(file, test::ReadBytes(file) + "3,\"three\"\r\n");
    result = Cli(Logon(), {"import", "EMP", file, "--replace"});
    ASSERT_EQ(result.exitCode, 0) << result.output;
    EXPECT_EQ(Names(), before + "3=three;");
}

TEST_F(CliTest, FailedImportRollsBackAndExitsWithOne) {
    const std::string file = dir_.File("bad.csv");
    test::WriteBytes(file, "\"ID\",\"NAME\"\r\n5,\"five\"\r\nsix,\"six\"\r\n");
    const std::string before = Names();
    const auto result = Cli(Logon(), {"import", "EMP", file, "--replace"});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_THAT(result.output, HasSubstr("3 行目 1 列目 (ID): 'six' は数値ではありません"));
    EXPECT_EQ(Names(), before);
}

TEST_F(CliTest, MissingImportFileDeletesNothing) {
    const std::string before = Names();
    const auto result = Cli(Logon(), {"import", "EMP", dir_.File("none.csv"), "--replace"});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_THAT(result.output, HasSubstr("ファイルがありません"));
    EXPECT_EQ(Names(), before);
}

TEST_F(CliTest, LastLogsOnWithTheNewestHistoryEntry) {
    platform::TRegistryStore store(platform::TRegistryRoot::CurrentUser,
                                   dir_.File("HKEY_CURRENT_USER.reg"));
    TLogonHistory history(store);
    history.AddLogon("NOBODY", "X", kService);
    history.AddLogon(kUser, "PW", kService);
    history.SaveToRegistry();
    platform::UnsetEnvironment("VELNOR_PASSWORD");
    const auto result = Cli({"--last", "tables"});
    EXPECT_EQ(result.exitCode, 0) << result.output;
    EXPECT_EQ(result.output, "EMP\t2\n");
}

TEST_F(CliTest, ErrorsGoOutWithExitStatusOne) {
    struct Case {
        std::vector<std::string> args;
        const char* message;
    };
    const Case cases[] = {
        {{"tables"}, "give --logon USER@SERVICE or --last"},
        {{"--logon", "CLIUSER/PW@CLIT", "tables"}, "VELNOR_PASSWORD"},
        {{"--logon", "CLIUSER@CLIT", "drop", "EMP"}, "unknown command drop"},
        {{"--logon", "CLIUSER@CLIT", "export", "NOSUCH", "x.csv"}, "テーブル NOSUCH がありません"},
        {{"--last", "tables"}, "the logon history is empty"},
    };
    for (const auto& c : cases) {
        const auto result = Cli(c.args);
        EXPECT_EQ(result.exitCode, 1) << c.message;
        EXPECT_THAT(result.output, HasSubstr(c.message));
    }
    platform::SetEnvironment("VELNOR_PASSWORD", "WRONG");
    const auto wrong = Cli(Logon(), {"tables"});
    EXPECT_EQ(wrong.exitCode, 1);
    EXPECT_THAT(wrong.output, HasSubstr("ORA-01017"));
    EXPECT_THAT(wrong.output, Not(HasSubstr("EMP")));
}

}  // namespace
}  // namespace velnor::app
