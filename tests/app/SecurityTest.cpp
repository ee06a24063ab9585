// Where a password could leak (command lines, error messages, the loader log, the registry
// file's mode) and whether table names or file contents can change the SQL that runs.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <memory>

#include "app/core/CustomOracleQuery.h"
#include "app/core/LogonHistory.h"
#include "app/core/UserTable.h"
#include "oracle/client/OciLibrary.h"
#include "oracle/client/OracleError.h"
#include "oracle/session/OracleSession.h"
#include "platform/RegionalSettings.h"
#include "platform/Registry.h"
#include "platform/System.h"
#include "tests/app/StandInSchema.h"
#include "tests/app/TempDir.h"
#include "tests/support/TempHome.h"

namespace velnor::app {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::HasSubstr;
using ::testing::Not;
using ::testing::ThrowsMessage;

constexpr const char* kService = test::StandInSchemaTest::kService;
constexpr const char* kPassword = test::StandInSchemaTest::kPassword;

class SecurityTest : public test::StandInSchemaTest {
protected:
    static void SetUpTestSuite() {
        StandInSchemaTest::SetUpTestSuite();
        home_->AddExpiredUser(kService, "STALE", "Exp1red-Pw");
    }

    void SetUp() override {
        platform::SetEnvironment("VELNOR_REGISTRY_DIR", dir_.File("registry"));
        platform::TRegistryStore::ResetDefaultPaths();
        StandInSchemaTest::SetUp();
    }
    void TearDown() override {
        platform::UnsetEnvironment("VELNOR_REGISTRY_DIR");
        platform::UnsetEnvironment("VELNOR_PASSWORD");
        platform::TRegistryStore::ResetDefaultPaths();
    }

    std::vector<std::string> Catalogue() {
        TUserTable tables(*session_);
        tables.Refresh();
        std::vector<std::string> names;
        for (int i = 0; i < tables.Count(); ++i)
            names.push_back(tables.GetItem(i).TableName + "=" +
                            std::to_string(tables.GetItem(i).DataCount));
        return names;
    }

    velnor::test::TProcessResult Cli(const std::vector<std::string>& args) const {
        std::vector<std::string> argv{std::string(VELNOR_BINARY_DIR) + "/app/velnor-cli",
                                      "OCIDLL=" + home_->ClientLibrary()};
        argv.insert(argv.end(), args.begin(), args.end());
        return velnor::test::RunProgram(argv);
    }
};

// A string literal of SQL.
std::string Literal(const std::string& text) {
    std::string out = "'";
    for (char c : text) {
        out += c;
        if (c == '\'') out += '\'';
    }
    return out + "'";
}

// ---- passwords ----

TEST_F(SecurityTest, CliRefusesAPasswordOnItsCommandLineWithoutRepeatingIt) {
    const std::string secret = "Cmd-L1ne-Secret";
    const std::vector<std::vector<std::string>> forms = {
        {"--logon", user_ + "/" + secret + "@" + kService, "tables"},
        {"--logon=" + user_ + "/" + secret + "@" + kService, "tables"},
        {"--logon", user_ + "/" + secret, "tables"},
    };
    for (const auto& form : forms) {
        const auto result = Cli(form);
        EXPECT_EQ(result.exitCode, 1) << form[0];
        EXPECT_THAT(result.output, HasSubstr("give the password in VELNOR_PASSWORD")) << form[0];
        EXPECT_THAT(result.output, Not(HasSubstr(secret))) << form[0];
    }
}

struct FailedLogon {
    const char* name;
    std::string user;  // "@" stands for the test's own user
    std::string password;
    std::string database;
    int code;
    std::string secret;  // what must not be shown
};

struct LogonErrors : SecurityTest, ::testing::WithParamInterface<FailedLogon> {
    std::string User() const {
        std::string user = GetParam().user;
        if (const auto at = user.find('@'); at == 0) user.replace(0, 1, user_);
        return user;
    }
};

TEST_P(LogonErrors, MessageAndLoaderLogHoldNoPassword) {
    const FailedLogon& c = GetParam();
    oracle::TOracleSession session;
    session.SetLogonUsername(User());
    session.SetLogonPassword(c.password);
    session.SetLogonDatabase(c.database);
    try {
        session.LogOn();
        FAIL() << "logged on";
    } catch (const oracle::EOracleError& e) {
        EXPECT_EQ(e.ErrorCode(), c.code) << e.Message();
        EXPECT_THAT(e.Message(), Not(HasSubstr(c.secret)));
    }
    EXPECT_THAT(oracle::LoaderLog(), Not(HasSubstr(c.secret)));

    // velnor-cli, with the password from its environment.
    if (c.user.find('/') != std::string::npos) return;  // refused before any logon
    platform::SetEnvironment("VELNOR_PASSWORD", c.password);
    const auto result = Cli({"--logon", User() + "@" + c.database, "tables"});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_THAT(result.output, HasSubstr("ORA-" + std::string(c.code < 10000 ? "0" : "") +
                                         std::to_string(c.code)));
    EXPECT_THAT(result.output, Not(HasSubstr(c.secret)));
}

INSTANTIATE_TEST_SUITE_P(
    Security, LogonErrors,
    ::testing::Values(
        FailedLogon{"WrongPassword", "@", "Wr0ng-Secret", kService, 1017, "Wr0ng-Secret"},
        FailedLogon{"QuotesAndCommentMarks", "@", "p'w;--\"", kService, 1017, "p'w;--\""},
        FailedLogon{"SeparatorsAndAClause", "@", "se/cr@et as sysdba", kService, 1017, "se/cr@et"},
        FailedLogon{"JapanesePassword", "@", "秘密の合言葉", kService, 1017, "秘密の合言葉"},
        FailedLogon{"UnknownUser", "NOBODY", "Gh0st-Secret", kService, 1017, "Gh0st-Secret"},
        FailedLogon{"ExpiredAccount", "STALE", "Exp1red-Pw", kService, 28001, "Exp1red-Pw"},
        FailedLogon{"PasswordInsideTheUserName", "@/Wr0ng-Combined@APPT", "", "", 1017,
                    "Wr0ng-Combined"}),
    [](const auto& p) { return std::string(p.param.name); });

TEST_F(SecurityTest, UnknownServiceErrorHoldsNoPassword) {
    oracle::TOracleSession session;
    session.SetLogonUsername(user_);
    session.SetLogonPassword(kPassword);
    session.SetLogonDatabase("NOSUCHSERVICE");
    try {
        session.LogOn();
        FAIL() << "logged on";
    } catch (const oracle::EOracleError& e) {
        EXPECT_THAT(e.Message(), ::testing::StartsWith("ORA-"));
        EXPECT_THAT(e.Message(), Not(HasSubstr(kPassword)));
    }
    EXPECT_THAT(oracle::LoaderLog(), Not(HasSubstr(kPassword)));
}

TEST_F(SecurityTest, ExpiryWarningHoldsNoPassword) {
    home_->AddExpiringUser(kService, user_ + "X", "Soon-Exp1ring", 3);
    oracle::TOracleSession session;
    session.SetLogonUsername(user_ + "X");
    session.SetLogonPassword("Soon-Exp1ring");
    session.SetLogonDatabase(kService);
    session.LogOn();
    EXPECT_THAT(session.LogonWarning(), HasSubstr("ORA-28002"));
    EXPECT_THAT(session.LogonWarning(), Not(HasSubstr("Soon-Exp1ring")));
    platform::SetEnvironment("VELNOR_PASSWORD", "Soon-Exp1ring");
    const auto result = Cli({"--logon", user_ + "X@" + kService, "tables"});
    EXPECT_EQ(result.exitCode, 0) << result.output;
    EXPECT_THAT(result.output, HasSubstr("ORA-28002"));
    EXPECT_THAT(result.output, Not(HasSubstr("Soon-Exp1ring")));
}

TEST_F(SecurityTest, RegistryFileStaysPrivateAfterEverySaveOfTheHistory) {
    const mode_t saved = ::umask(0);  // nothing taken away by the process's mask
    auto& store = platform::TRegistryStore::ForRoot(platform::TRegistryRoot::CurrentUser);
    const std::string path = store.Path();
    const auto mode = [](const std::string& file) {
        struct stat info {};
        ::stat(file.c_str(), &info);
        return info.st_mode & 07777;
    };
    for (int i = 0; i < 6; ++i) {
        TLogonHistory history(store);
        history.LoadFromRegistry();
        history.AddLogon("USER" + std::to_string(i), "Pw-" + std::to_string(i), kService);
        history.SaveToRegistry();
        EXPECT_EQ(mode(path), 0600u) << "save " << i;
        EXPECT_EQ(mode(platform::DirectoryOf(path)), 0700u) << "save " << i;
        // Nothing else the store keeps there (its lock file) is open to others either.
        for (const auto& e : std::filesystem::directory_iterator(platform::DirectoryOf(path)))
            EXPECT_EQ(mode(e.path().string()) & 077, 0u) << e.path() << ", save " << i;
        ::chmod(path.c_str(), 0666);  // opened up by hand between the saves
    }
    ::umask(saved);
}

// ---- names and contents that look like SQL ----

struct NameCase {
    const char* label;
    std::string name;
};

struct OddName : SecurityTest, ::testing::WithParamInterface<NameCase> {};

TEST_P(OddName, TableExportsImportsAndDeletesLikeAnyOther) {
    const std::string name = GetParam().name;
    Sql("CREATE TABLE OTHER (N NUMBER)");
    Sql("INSERT INTO OTHER VALUES (7)");
    const std::string table = QuoteIdentifier(name);
    Sql("CREATE TABLE " + table + " (ID NUMBER(9), \"it's; --/* col\" VARCHAR2(40))");
    Sql("INSERT INTO " + table + " VALUES (1, " + Literal("a'b; --") + ")");
    Sql("INSERT INTO " + table + " VALUES (2, NULL)");
    session_->Commit();
    const auto catalogue = Catalogue();
    EXPECT_THAT(catalogue, ::testing::Contains(name + "=2"));
    const std::string select = "SELECT ID, \"it's; --/* col\" FROM " + table + " ORDER BY ID";
    const auto rows = Rows(select);
    ASSERT_THAT(rows, ElementsAre("1|a'b; --", "2|<null>"));

    TUserTable tables(*session_);
    const std::string file = dir_.File("odd.csv");
    tables.ExportCsv(file, name);
    EXPECT_EQ(test::ReadBytes(file), "\"ID\",\"it's; --/* col\"\r\n1,\"a'b; --\"\r\n2,\"\"\r\n");
    tables.DeleteAll(name);
    EXPECT_THAT(Rows(select), ::testing::IsEmpty());
    tables.ImportCsv(file, name);
    session_->Commit();
    EXPECT_EQ(Rows(select, true), rows);
    EXPECT_EQ(Catalogue(), catalogue);
    EXPECT_THAT(Rows("SELECT N FROM OTHER", true), ElementsAre("7"));
}

INSTANTIATE_TEST_SUITE_P(
    Security, OddName,
    ::testing::Values(NameCase{"Apostrophe", "it's"}, NameCase{"Semicolon", "semi;colon"},
                      NameCase{"LineComment", "dash--dash"},
                      NameCase{"CommentOpened", "open/*comment"},
                      NameCase{"CommentClosed", "close*/comment"},
                      NameCase{"PlaceholderLookAlike", "colon:C1"}, NameCase{"Ampersand", "amp&x"},
                      NameCase{"Blank", "with space"}, NameCase{"Backslash", "back\\slash"},
                      NameCase{"Japanese", "日本語の表"},
                      NameCase{"StatementOfItsOwn", "'); DROP TABLE OTHER; --"}),
    [](const auto& p) { return std::string(p.param.label); });

// No identifier can hold a double quote or a NUL; a name with one could close the quoted
// identifier and go on as SQL.
TEST_F(SecurityTest, NameThatCouldCloseTheQuotesIsRefusedByEveryOperation) {
    Sql("CREATE TABLE T (N NUMBER)");
    Sql("INSERT INTO T VALUES (1)");
    session_->Commit();
    const std::string file = dir_.File("t.csv");
    test::WriteBytes(file, "\"N\"\r\n2\r\n");
    const std::string names[] = {"T\" WHERE 1=0 --", "T\"; DELETE FROM \"T", std::string("T\0X", 3),
                                 ""};
    for (const std::string& name : names) {
        TUserTable tables(*session_);
        const std::string out = dir_.File("out.csv");
        EXPECT_THAT([&] { tables.ExportCsv(out, name); },
                    ThrowsMessage<platform::Exception>(HasSubstr("Invalid table name")));
        EXPECT_FALSE(std::filesystem::exists(out));
        EXPECT_THAT([&] { tables.ImportCsv(file, name); },
                    ThrowsMessage<platform::Exception>(HasSubstr("Invalid table name")));
        EXPECT_THAT([&] { tables.DeleteAll(name); },
                    ThrowsMessage<platform::Exception>(HasSubstr("Invalid table name")));
    }
    EXPECT_THAT(Rows("SELECT N FROM T"), ElementsAre("1"));
}

TEST_F(SecurityTest, FieldsThatLookLikeSqlAreStoredLiterally) {
    Sql("CREATE TABLE T (ID NUMBER(9), A VARCHAR2(100), B VARCHAR2(100))");
    Sql("CREATE TABLE OTHER (N NUMBER)");
    Sql("INSERT INTO OTHER VALUES (7)");
    session_->Commit();
    const auto catalogue = Catalogue();
    const std::vector<std::string> texts = {
        "'); DELETE FROM OTHER; --",
        "' || (SELECT COUNT(*) FROM OTHER) || '",
        "x'; COMMIT; DROP TABLE OTHER; --",
        "\"); DELETE FROM \"OTHER\"; /*",
        "*/ DELETE FROM OTHER",
        ":C1",
        "&B",
        "NULL",
        "''",
        "\\'; --",
        "%s%n",
    };
    std::string csv = "\"ID\",\"A\",\"B\"\r\n";
    std::vector<std::string> expected;
    for (std::size_t i = 0; i < texts.size(); ++i) {
        std::string quoted;
        for (char c : texts[i]) quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
        // Unquoted, a quote after the first character is ordinary text.
        const std::string unquoted = "b" + texts[i].substr(0, 4);
        csv += std::to_string(i + 1) + ",\"" + quoted + "\"," + unquoted + "\r\n";
        expected.push_back(std::to_string(i + 1) + "|" + texts[i] + "|" + unquoted);
    }
    const std::string file = dir_.File("sql.csv");
    test::WriteBytes(file, csv);
    TUserTable(*session_).ImportCsv(file, "T");
    EXPECT_THAT(Rows("SELECT ID FROM T", true), ::testing::IsEmpty()) << "a field committed";
    session_->Commit();
    EXPECT_THAT(Rows("SELECT ID, A, B FROM T ORDER BY ID", true), ElementsAreArray(expected));
    EXPECT_THAT(Rows("SELECT N FROM OTHER", true), ElementsAre("7"));
    auto after = catalogue;
    for (auto& entry : after)
        if (entry == "T=0") entry = "T=" + std::to_string(texts.size());
    EXPECT_EQ(Catalogue(), after);
}

}  // namespace
}  // namespace velnor::app
