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
#include "tests/app/StandInSchema.h"
#include "tests/app/TempDir.h"
#include "tests/support/TempHome.h"

namespace velnor::app {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;

// Every test logs on as a user of its own, so each starts with an empty schema.
class CliTest : public test::StandInSchemaTest {
protected:
    void SetUp() override {
        StandInSchemaTest::SetUp();
        ASSERT_TRUE(std::filesystem::exists(Program())) << "build velnor-cli first";
        platform::SetEnvironment("VELNOR_REGISTRY_DIR", dir_.Path().string());
        platform::SetEnvironment("VELNOR_PASSWORD", kPassword);
        Sql("CREATE TABLE EMP (ID NUMBER(9), NAME VARCHAR2(20))");
        Sql("INSERT INTO EMP VALUES (1, 'one, \"1\"')");
        Sql("INSERT INTO EMP VALUES (2, NULL)");
        session_->Commit();
    }
    void TearDown() override {
        platform::UnsetEnvironment("VELNOR_REGISTRY_DIR");
        platform::UnsetEnvironment("VELNOR_PASSWORD");
    }

    static std::string Program() { return std::string(VELNOR_BINARY_DIR) + "/app/velnor-cli"; }

    velnor::test::TProcessResult Cli(std::vector<std::string> args) {
        args.insert(args.begin(), {Program(), "OCIDLL=" + home_->ClientLibrary()});
        return velnor::test::RunProgram(args);
    }
    [[nodiscard]] std::string UserAtService() const { return user_ + "@" + kService; }
    [[nodiscard]] std::vector<std::string> LogonArgs() const {
        return {"--logon", UserAtService()};
    }
    velnor::test::TProcessResult Cli(const std::vector<std::string>& head,
                                     const std::vector<std::string>& tail) {
        std::vector<std::string> args = head;
        args.insert(args.end(), tail.begin(), tail.end());
        return Cli(args);
    }

    // Counted through a fresh session, so only committed rows count.
    std::string Names() {
        std::string rows;
        for (const auto& row : Rows("SELECT ID, NAME FROM EMP ORDER BY ID", true)) {
            const std::size_t bar = row.find('|');
            const std::string name = row.substr(bar + 1);
            rows += row.substr(0, bar) + "=" + (name == "<null>" ? "" : name) + ";";
        }
        return rows;
    }
};

TEST_F(CliTest, ListsTablesWithCounts) {
    const auto result = Cli(LogonArgs(), {"tables"});
    EXPECT_EQ(result.exitCode, 0) << result.output;
    EXPECT_EQ(result.output, "EMP\t2\n");
}

TEST_F(CliTest, ClientCharacterSetOtherThanUtf8IsWarnedAbout) {
    const auto saved = platform::GetEnvironment("NLS_LANG");
    platform::SetEnvironment("NLS_LANG", "JAPANESE_JAPAN.JA16SJISTILDE");
    const auto converted = Cli(LogonArgs(), {"tables"});
    if (saved)
        platform::SetEnvironment("NLS_LANG", *saved);
    else
        platform::UnsetEnvironment("NLS_LANG");
    EXPECT_EQ(converted.exitCode, 0) << converted.output;
    EXPECT_THAT(converted.output, HasSubstr("velnor-cli: warning: NLS_LANG=JAPANESE_JAPAN."
                                            "JA16SJISTILDE makes JA16SJISTILDE the client"));
    EXPECT_THAT(Cli(LogonArgs(), {"tables"}).output, Not(HasSubstr("warning: NLS_LANG")));
}

TEST_F(CliTest, ExportThenReplacingImportKeepsTheRowsAndCommits) {
    const std::string file = dir_.File("emp.csv");
    auto result = Cli(LogonArgs(), {"export", "emp", file});  // any case finds the table
    ASSERT_EQ(result.exitCode, 0) << result.output;
    EXPECT_EQ(test::ReadBytes(file), "\"ID\",\"NAME\"\r\n1,\"one, \"\"1\"\"\"\r\n2,\"\"\r\n");
    const std::string before = Names();
    test::WriteBytes(file, test::ReadBytes(file) + "3,\"three\"\r\n");
    result = Cli(LogonArgs(), {"import", "EMP", file, "--replace"});
    ASSERT_EQ(result.exitCode, 0) << result.output;
    EXPECT_EQ(Names(), before + "3=three;");
}

TEST_F(CliTest, FailedImportRollsBackAndExitsWithOne) {
    const std::string file = dir_.File("bad.csv");
    test::WriteBytes(file, "\"ID\",\"NAME\"\r\n5,\"five\"\r\nsix,\"six\"\r\n");
    const std::string before = Names();
    const auto result = Cli(LogonArgs(), {"import", "EMP", file, "--replace"});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_THAT(result.output, HasSubstr("3 行目 1 列目 (ID): 'six' は数値ではありません"));
    EXPECT_EQ(Names(), before);
}

TEST_F(CliTest, EncodingOptionChoosesTheFileEncoding) {
    Sql("INSERT INTO EMP VALUES (3, '表ソ')");
    session_->Commit();
    const std::string before = Names();
    const std::string file = dir_.File("sjis.csv");
    auto result = Cli(LogonArgs(), {"export", "EMP", file, "--encoding", "cp932"});
    ASSERT_EQ(result.exitCode, 0) << result.output;
    EXPECT_EQ(test::ReadBytes(file),
              "\"ID\",\"NAME\"\r\n1,\"one, \"\"1\"\"\"\r\n2,\"\"\r\n3,\"\x95\x5C\x83\x5C\"\r\n");
    result = Cli(LogonArgs(), {"import", "EMP", file, "--replace"});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_THAT(result.output, HasSubstr("4 行目 2 列目: UTF-8 として読めないバイト"));
    EXPECT_EQ(Names(), before);
    result = Cli(LogonArgs(), {"import", "EMP", file, "--replace", "--encoding=CP932"});
    ASSERT_EQ(result.exitCode, 0) << result.output;
    EXPECT_EQ(Names(), before);
    result = Cli(LogonArgs(), {"export", "EMP", file, "--encoding", "latin1"});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_THAT(result.output, HasSubstr("unknown encoding latin1"));
}

TEST_F(CliTest, MissingImportFileDeletesNothing) {
    const std::string before = Names();
    const auto result = Cli(LogonArgs(), {"import", "EMP", dir_.File("none.csv"), "--replace"});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_THAT(result.output, HasSubstr("ファイルがありません"));
    EXPECT_EQ(Names(), before);
}

TEST_F(CliTest, LastLogsOnWithTheNewestHistoryEntry) {
    platform::TRegistryStore store(platform::TRegistryRoot::CurrentUser,
                                   dir_.File("HKEY_CURRENT_USER.reg"));
    TLogonHistory history(store);
    history.AddLogon("NOBODY", "X", kService);
    history.AddLogon(user_, kPassword, kService);
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
        {{"--logon", user_ + "/" + kPassword + "@" + kService, "tables"}, "VELNOR_PASSWORD"},
        {{"--logon", UserAtService(), "drop", "EMP"}, "unknown command drop"},
        {{"--logon", UserAtService(), "export", "NOSUCH", "x.csv"}, "テーブル NOSUCH がありません"},
        {{"--last", "tables"}, "the logon history is empty"},
    };
    for (const auto& c : cases) {
        const auto result = Cli(c.args);
        EXPECT_EQ(result.exitCode, 1) << c.message;
        EXPECT_THAT(result.output, HasSubstr(c.message));
    }
    platform::SetEnvironment("VELNOR_PASSWORD", "WRONG");
    const auto wrong = Cli(LogonArgs(), {"tables"});
    EXPECT_EQ(wrong.exitCode, 1);
    EXPECT_THAT(wrong.output, HasSubstr("ORA-01017"));
    EXPECT_THAT(wrong.output, Not(HasSubstr("EMP")));
}

}  // namespace
}  // namespace velnor::app
