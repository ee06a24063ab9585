// What the loader settles before a client initialises: companion libraries of its folder,
// the client character set and ORACLE_HOME, tried on stand-in homes laid out like the real
// ones.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "oracle/client/OciLibrary.h"
#include "oracle/client/SharedObject.h"
#include "oracle/query/OracleQuery.h"
#include "oracle/session/OracleSession.h"
#include "platform/DynamicLibrary.h"
#include "tests/oracle/ClientTestEnvironment.h"

namespace velnor::oracle {
namespace {

using ::testing::HasSubstr;

#ifdef VELNOR_HAVE_STANDIN

const std::string kJapanese = "日本語のテキスト";

struct ClientSetupTest : ::testing::Test {
    // A home of the given layout with service DEMO and SCOTT/TIGER, found through ORACLE_HOME.
    std::string MakeHome(const std::string& name, bool instantClient) {
        const std::string home = env_.Scratch().Path() + "/" + name;
        Admin(home, instantClient ? "init --instant-client" : "init");
        Admin(home, "service DEMO");
        Admin(home, "user DEMO SCOTT TIGER");
        return home;
    }
    static void Admin(const std::string& home, const std::string& arguments) {
        const std::string command =
            std::string("'") + VELNOR_OCISQLITE_ADMIN + "' '" + home + "' " + arguments;
        if (std::system(command.c_str()) != 0) throw std::runtime_error("failed: " + command);
    }
    void LogOn(const std::string& database = "DEMO") {
        session_.SetLogonUsername("scott");
        session_.SetLogonPassword("tiger");
        session_.SetLogonDatabase(database);
        session_.LogOn();
    }
    void Run(const std::string& sql) {
        TOracleQuery q(nullptr);
        q.SetSession(&session_);
        q.SQL().SetText(sql);
        q.Execute();
    }
    // Inserts the text through a bind and reads it back.
    std::string RoundTrip(const std::string& text) {
        Run("create table jtext (t varchar2(100))");
        {
            TOracleQuery q(nullptr);
            q.SetSession(&session_);
            q.SQL().SetText("insert into jtext values (:t)");
            q.Variables().AddVariable("t", otString);
            q.Variables().SetVariableValue("t", platform::TVariant(text));
            q.Execute();
        }
        TOracleQuery q(nullptr);
        q.SetSession(&session_);
        q.SQL().SetText("select t from jtext");
        q.Execute();
        return q.Eof() ? "(no row)" : q.FieldAsString(0);
    }

    test::TClientEnvironment env_;
    test::TEnvironmentGuard lang_{"LANG"};
    test::TEnvironmentGuard lcAll_{"LC_ALL"};
    test::TEnvironmentGuard lcMessages_{"LC_MESSAGES"};
    TOracleSession session_;
};

TEST_F(ClientSetupTest, InstantClientFolderLoadsItsCompanionWithoutLibraryPath) {
    ASSERT_FALSE(platform::GetEnvironment("LD_LIBRARY_PATH"));
    const std::string home = MakeHome("instantclient_19_20", true);
    {
        // As with a real Instant Client, the library alone cannot find what it needs.
        platform::TDynamicLibrary alone;
        EXPECT_FALSE(alone.Load(home + "/libclntsh.so"));
        EXPECT_THAT(alone.LastError(), HasSubstr("libocisqlitecore.so"));
    }
    platform::SetEnvironment("ORACLE_HOME", home);
    LogOn();
    EXPECT_THAT(LoaderLog(), HasSubstr("Companion library: " + home + "/libocisqlitecore.so"));
    EXPECT_EQ(RoundTrip(kJapanese), kJapanese);
}

TEST_F(ClientSetupTest, OracleHomeIsHandedToAFullClientOnlyAndOnlyWhenUnset) {
    const std::string own = MakeHome("own", false);
    struct Case {
        const char* name;
        bool instantClient;
        bool userSetsOracleHome;
        const char* whileLoaded;  // ORACLE_HOME: "home", "own" or "" for unset
    };
    const Case cases[] = {{"full", false, false, "home"},
                          {"ic", true, false, ""},
                          {"full2", false, true, "own"},
                          {"ic2", true, true, "own"}};
    for (const Case& c : cases) {
        const std::string home = MakeHome(c.name, c.instantClient);
        env_.WriteRegistry(
            platform::TRegistryRoot::LocalMachine,
            "[SOFTWARE\\ORACLE\\ALL_HOMES]\n\"HOME_COUNTER\"=\"1\"\n[SOFTWARE\\ORACLE\\HOME0]\n"
            "\"ORACLE_HOME\"=" +
                test::RegString(home) + "\n\"ORACLE_HOME_NAME\"=\"" + c.name + "\"");
        if (c.userSetsOracleHome) platform::SetEnvironment("ORACLE_HOME", own);
        LogOn();
        EXPECT_EQ(OracleHomeDir(), home) << c.name;
        const std::string expected = std::string(c.whileLoaded) == "home"  ? home
                                     : std::string(c.whileLoaded) == "own" ? own
                                                                           : "";
        EXPECT_EQ(platform::GetEnvironment("ORACLE_HOME").value_or(""), expected) << c.name;
        if (!c.instantClient && c.userSetsOracleHome) {
            EXPECT_THAT(LoaderLog(), HasSubstr("ORACLE_HOME kept as " + own));
        }
        session_.LogOff();
        UnloadOCI();
        // What the loader set is taken back at unload.
        EXPECT_EQ(platform::GetEnvironment("ORACLE_HOME").value_or(""),
                  c.userSetsOracleHome ? own : "")
            << c.name;
        platform::UnsetEnvironment("ORACLE_HOME");
    }
}

TEST_F(ClientSetupTest, EzConnectAndTnsnamesReachTheServiceFromFieldsAndLogonStrings) {
    const std::string home = MakeHome("home", false);
    platform::SetEnvironment("ORACLE_HOME", home);
    std::filesystem::create_directories(home + "/network/admin");
    std::ofstream(home + "/network/admin/tnsnames.ora")
        << "SALES = (DESCRIPTION = (CONNECT_DATA = (SERVICE_NAME = DEMO)))\n";
    for (const char* database : {"localhost:1521/DEMO", "//db.example/demo", "sales"}) {
        LogOn(database);
        EXPECT_TRUE(session_.Connected()) << database;
        session_.LogOff();
        session_.SetLogonUsername(std::string("scott/tiger@") + database);
        session_.SetLogonPassword("");
        session_.SetLogonDatabase("");
        session_.LogOn();
        EXPECT_TRUE(session_.Connected()) << database;
        session_.LogOff();
    }
}

struct CharsetCase {
    const char* nlsLang;  // nullptr: unset
    const char* lang;
    const char* nlsLangWhileLoaded;
    const char* characterSet;
    bool warned;
    bool textSurvives;
};

class ClientCharsetTest : public ClientSetupTest,
                          public ::testing::WithParamInterface<CharsetCase> {};

TEST_P(ClientCharsetTest, NlsLangDecidesWhatJapaneseTextBecomes) {
    const CharsetCase& c = GetParam();
    if (c.nlsLang) platform::SetEnvironment("NLS_LANG", c.nlsLang);
    platform::SetEnvironment("LANG", c.lang);
    platform::SetEnvironment("ORACLE_HOME", MakeHome("home", false));
    LogOn();
    EXPECT_EQ(platform::GetEnvironment("NLS_LANG"), c.nlsLangWhileLoaded);
    EXPECT_EQ(ClientCharacterSet(), c.characterSet);
    const std::string warning = ClientCharacterSetWarning();
    if (c.warned) {
        EXPECT_THAT(warning, HasSubstr("NLS_LANG=" + std::string(c.nlsLang)));
        EXPECT_THAT(LoaderLog(), HasSubstr(warning));
    } else {
        EXPECT_EQ(warning, "");
    }
    const std::string back = RoundTrip(kJapanese);
    if (c.textSurvives)
        EXPECT_EQ(back, kJapanese);
    else
        EXPECT_NE(back, kJapanese);
    session_.LogOff();
    UnloadOCI();
    // What the loader set is taken back; what the user set stays.
    EXPECT_EQ(platform::GetEnvironment("NLS_LANG"),
              c.nlsLang ? std::optional<std::string>(c.nlsLang) : std::nullopt);
}

INSTANTIATE_TEST_SUITE_P(
    Settings, ClientCharsetTest,
    ::testing::Values(
        CharsetCase{nullptr, "ja_JP.UTF-8", "JAPANESE_JAPAN.AL32UTF8", "AL32UTF8", false, true},
        CharsetCase{nullptr, "C.UTF-8", "AMERICAN_AMERICA.AL32UTF8", "AL32UTF8", false, true},
        CharsetCase{"GERMAN_GERMANY.AL32UTF8", "ja_JP.UTF-8", "GERMAN_GERMANY.AL32UTF8", "AL32UTF8",
                    false, true},
        CharsetCase{"JAPANESE_JAPAN.JA16SJISTILDE", "ja_JP.UTF-8", "JAPANESE_JAPAN.JA16SJISTILDE",
                    "JA16SJISTILDE", true, false},
        CharsetCase{"AMERICAN_AMERICA.US7ASCII", "en_US.UTF-8", "AMERICAN_AMERICA.US7ASCII",
                    "US7ASCII", true, false},
        CharsetCase{"JAPANESE_JAPAN", "ja_JP.UTF-8", "JAPANESE_JAPAN", "US7ASCII", true, false}));

#endif

TEST(SharedObjectTest, NeededLibrariesComeFromTheDynamicSection) {
    const auto instant =
        NeededLibraries(std::string(VELNOR_TESTLIBS_DIR) + "/libocisqlite-instant.so");
    ASSERT_TRUE(instant);
    EXPECT_THAT(*instant, ::testing::Contains("libocisqlitecore.so"));
    EXPECT_THAT(*instant, ::testing::Contains(::testing::StartsWith("libc.so")));
    test::TScratchDirectory scratch;
    EXPECT_FALSE(NeededLibraries(scratch.File("text.so",
                                              "not a library at all, but long enough "
                                              "to hold an ELF header's worth of bytes")));
    EXPECT_FALSE(NeededLibraries(scratch.File("short.so",
                                              "\x7f"
                                              "ELF")));
    EXPECT_FALSE(NeededLibraries(scratch.Path() + "/missing.so"));
}

}  // namespace
}  // namespace velnor::oracle
