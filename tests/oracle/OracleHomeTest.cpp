#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "oracle/client/OciLibrary.h"
#include "oracle/client/OracleHome.h"
#include "tests/oracle/ClientTestEnvironment.h"

namespace velnor::oracle {
namespace {

using platform::TRegistryRoot;
using test::RegString;
using ::testing::ElementsAre;

struct OracleHomeTest : ::testing::Test {
    // Registers homes as (name, directory) under HOME0, HOME1, ...
    void RegisterHomes(const std::vector<std::pair<std::string, std::string>>& homes,
                       const std::string& counter = "") {
        std::string body = "[SOFTWARE\\ORACLE\\ALL_HOMES]\n\"HOME_COUNTER\"=" +
                           RegString(counter.empty() ? std::to_string(homes.size()) : counter) +
                           "\n";
        for (std::size_t i = 0; i < homes.size(); ++i) {
            body += "[SOFTWARE\\ORACLE\\HOME" + std::to_string(i) +
                    "]\n\"ORACLE_HOME_NAME\"=" + RegString(homes[i].first) +
                    "\n\"ORACLE_HOME\"=" + RegString(homes[i].second) + "\n";
        }
        env_.WriteRegistry(TRegistryRoot::LocalMachine, body);
    }

    test::TClientEnvironment env_;
};

struct HomeChoiceCase {
    const char* description;
    const char* argument;  // ORACLEHOME=... or ""
    const char* path;      // PATH, with A and B standing for the homes' directories
    const char* expected;
};

class HomeChoiceTest : public OracleHomeTest,
                       public ::testing::WithParamInterface<HomeChoiceCase> {};

TEST_P(HomeChoiceTest, PicksTheRegisteredHome) {
    const HomeChoiceCase& c = GetParam();
    const std::string a = env_.Scratch().Dir("ora81");
    const std::string b = env_.Scratch().Dir("ora92");
    RegisterHomes({{"OraHome81", a}, {"OraHome92", b}});
    std::string path;  // A and B become the directories in one pass
    for (const char* p = c.path; *p; ++p)
        path += *p == 'A' ? a : *p == 'B' ? b : std::string(1, *p);
    platform::SetEnvironment("PATH", path);
    if (*c.argument) platform::SetProgramArguments(std::vector<std::string>{c.argument});
    EXPECT_EQ(FindOracleHomeKey(), c.expected) << c.description;
}

INSTANTIATE_TEST_SUITE_P(
    Homes, HomeChoiceTest,
    ::testing::Values(HomeChoiceCase{"bin on PATH", "", "/usr/bin:B/bin",
                                     "SOFTWARE\\ORACLE\\HOME1"},
                      HomeChoiceCase{"argument wins over PATH", "oraclehome=orahome81", "B/bin",
                                     "SOFTWARE\\ORACLE\\HOME0"},
                      HomeChoiceCase{"earliest PATH entry", "", "/usr/bin:B/bin:A/bin",
                                     "SOFTWARE\\ORACLE\\HOME1"},
                      HomeChoiceCase{"earliest PATH entry, other order", "", "A/bin/:B/bin",
                                     "SOFTWARE\\ORACLE\\HOME0"},
                      HomeChoiceCase{"nothing on PATH: alphabetically last", "", "/usr/bin",
                                     "SOFTWARE\\ORACLE\\HOME1"},
                      // A substring of another entry used to count as the home's bin directory.
                      HomeChoiceCase{"only whole entries match", "",
                                     "/usr/bin:/x/A/bin:B/bin2:B/bin", "SOFTWARE\\ORACLE\\HOME1"},
                      HomeChoiceCase{"unknown argument falls back to PATH", "ORACLEHOME=nope",
                                     "A/bin", "SOFTWARE\\ORACLE\\HOME0"}));

TEST_F(OracleHomeTest, ListsHomesSortedWithoutRepeatedNames) {
    RegisterHomes(
        {{"zeta", "/z"}, {"Alpha", "/a1"}, {"ALPHA", "/a2"}, {"", "/none"}, {"beta", "/b"}});
    const auto homes = ListOracleHomes();
    ASSERT_EQ(homes.size(), 3u);
    EXPECT_EQ(homes[0].name, "Alpha");
    EXPECT_EQ(homes[0].number, 1);  // the lowest number of the repeated name
    EXPECT_EQ(homes[1].name, "beta");
    EXPECT_EQ(homes[2].name, "zeta");
}

TEST_F(OracleHomeTest, CounterOfZeroStillReadsHomeZero) {
    RegisterHomes({{"Only", "/only"}}, "0");
    ASSERT_EQ(ListOracleHomes().size(), 1u);
}

TEST_F(OracleHomeTest, CounterThatIsNoNumberMeansNoHomes) {
    RegisterHomes({{"Only", "/only"}}, "many");
    EXPECT_TRUE(ListOracleHomes().empty());
    EXPECT_EQ(FindOracleHomeKey(), "SOFTWARE\\ORACLE");
}

TEST_F(OracleHomeTest, HugeCounterStopsAtTheHomeLimit) {
    env_.WriteRegistry(TRegistryRoot::LocalMachine,
                       "[SOFTWARE\\ORACLE\\ALL_HOMES]\n\"HOME_COUNTER\"=\"2000000000\"\n"
                       "[SOFTWARE\\ORACLE\\HOME999]\n\"ORACLE_HOME_NAME\"=\"Last\"\n"
                       "[SOFTWARE\\ORACLE\\HOME1000]\n\"ORACLE_HOME_NAME\"=\"Beyond\"\n");
    const auto homes = ListOracleHomes();
    ASSERT_EQ(homes.size(), 1u);
    EXPECT_EQ(homes[0].name, "Last");
}

TEST_F(OracleHomeTest, HomeWithoutDirectoryFallsBackToTheRootKey) {
    env_.WriteRegistry(TRegistryRoot::LocalMachine,
                       "[SOFTWARE\\ORACLE\\ALL_HOMES]\n\"HOME_COUNTER\"=\"1\"\n"
                       "[SOFTWARE\\ORACLE\\HOME0]\n\"ORACLE_HOME_NAME\"=\"NoDir\"\n");
    EXPECT_EQ(FindOracleHomeKey(), "SOFTWARE\\ORACLE");
}

TEST_F(OracleHomeTest, SingleHomeOfThePlainLayout) {
    env_.WriteRegistry(TRegistryRoot::LocalMachine,
                       "[SOFTWARE\\ORACLE]\n\"ORACLE_HOME\"=\"/opt/oracle\"\n");
    platform::SetEnvironment("ORACLE_HOME", "/from/environment");
    EXPECT_EQ(FindOracleHomeKey(), "SOFTWARE\\ORACLE");
    EXPECT_EQ(ReadOracleHomeDir(FindOracleHomeKey()), "/opt/oracle");
}

TEST_F(OracleHomeTest, OracleHomeVariableIsTheHomeWhenTheRegistryNamesNone) {
    platform::SetEnvironment("ORACLE_HOME", "/from/environment");
    EXPECT_EQ(FindOracleHomeKey(), "SOFTWARE\\ORACLE");
    EXPECT_EQ(ReadOracleHomeDir(FindOracleHomeKey()), "/from/environment");
    // A registered home's key never reads the variable.
    EXPECT_EQ(ReadOracleHomeDir(OracleHomeKeyOf(0)), "");
}

TEST_F(OracleHomeTest, FoundKeyIsCachedUntilUnload) {
    RegisterHomes({{"One", "/one"}});
    EXPECT_EQ(FindOracleHomeKey(), "SOFTWARE\\ORACLE\\HOME0");
    env_.WriteRegistry(TRegistryRoot::LocalMachine, "");
    EXPECT_EQ(FindOracleHomeKey(), "SOFTWARE\\ORACLE\\HOME0");
    UnloadOCI();
    EXPECT_EQ(FindOracleHomeKey(), "SOFTWARE\\ORACLE");
}

struct VersionCase {
    const char* name;
    std::vector<unsigned long> expected;  // empty: not a candidate
};

class ClientLibraryVersionTest : public ::testing::TestWithParam<VersionCase> {};

TEST_P(ClientLibraryVersionTest, ParsesEveryComponent) {
    const auto version = ClientLibraryVersion(GetParam().name);
    if (GetParam().expected.empty()) {
        EXPECT_FALSE(version) << GetParam().name;
    } else {
        ASSERT_TRUE(version) << GetParam().name;
        EXPECT_EQ(*version, GetParam().expected);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Names, ClientLibraryVersionTest,
    ::testing::Values(VersionCase{"libclntsh.so.19.1", {19, 1}},
                      VersionCase{"libclntsh.so.12.2.0.1", {12, 2, 0, 1}},
                      VersionCase{"libclntsh.so.8", {8}}, VersionCase{"libclntsh.so", {}},
                      VersionCase{"libclntsh.so.", {}}, VersionCase{"libclntsh.so.0", {}},
                      VersionCase{"libclntsh.so.0.0", {}}, VersionCase{"libclntsh.so.19.", {}},
                      VersionCase{"libclntsh.so.19a", {}}, VersionCase{"libclntsh.so.-1", {}},
                      VersionCase{"libclntshcore.so.19.1", {}},
                      VersionCase{"libclntsh.sox19", {}}));

TEST(PickOCIDLLTest, HighestVersionWinsNumericallyPerComponent) {
    // "9.2" sorts after "19.1" as text; as numbers it is older.
    EXPECT_EQ(PickOCIDLL({"/h/libclntsh.so.9.2", "/h/libclntsh.so.19.1", "/h/libclntsh.so.10.2"}),
              "/h/libclntsh.so.19.1");
    EXPECT_EQ(PickOCIDLL({"/h/libclntsh.so.19.1", "/h/libclntsh.so.19.10"}),
              "/h/libclntsh.so.19.10");
}

TEST(PickOCIDLLTest, UnversionedLibraryWinsAndTiesKeepTheFirst) {
    EXPECT_EQ(PickOCIDLL({"/h/libclntsh.so.21.1", "/h/libclntsh.so"}), "/h/libclntsh.so");
    EXPECT_EQ(PickOCIDLL({"/h/libclntsh.so.19.1", "/h/libclntsh.so.19.1.0"}),
              "/h/libclntsh.so.19.1");
    EXPECT_EQ(PickOCIDLL({}), "");
}

TEST_F(OracleHomeTest, CandidatesAreTheLibraryFilesWithAVersion) {
    const std::string lib = env_.Scratch().Dir("home/lib");
    for (const char* name : {"libclntsh.so.11.1", "libclntsh.so.x", "libclntshcore.so.19.1",
                             "libclntsh.so.19.1", "libocci.so.19.1"}) {
        env_.Scratch().File(std::string("home/lib/") + name);
    }
    std::vector<std::string> log;
    auto candidates = ListOCIDLLCandidates(lib, log);
    std::sort(candidates.begin(), candidates.end());
    EXPECT_THAT(candidates, ElementsAre(lib + "/libclntsh.so.11.1", lib + "/libclntsh.so.19.1"));
    EXPECT_EQ(log.size(), 2u);

    env_.Scratch().File("home/lib/libclntsh.so");
    log.clear();
    candidates = ListOCIDLLCandidates(lib, log);
    ASSERT_EQ(candidates.size(), 3u);
    EXPECT_EQ(candidates.front(), lib + "/libclntsh.so");
    EXPECT_EQ(log.front(), "Found: libclntsh.so");
}

TEST_F(OracleHomeTest, LibraryDirectoryIsLibWhenPresent) {
    const std::string home = env_.Scratch().Dir("instant");
    EXPECT_EQ(LibraryDirectoryOf(home), home);
    env_.Scratch().Dir("instant/lib");
    EXPECT_EQ(LibraryDirectoryOf(home), home + "/lib");
}

TEST(NlsLangTest, LocaleGivesLanguageAndTerritoryWithVelnorsCharacterSet) {
    const std::pair<const char*, const char*> cases[] = {
        {"ja_JP.UTF-8", "JAPANESE_JAPAN.AL32UTF8"},
        {"en_GB.UTF-8@euro", "ENGLISH_UNITED KINGDOM.AL32UTF8"},
        {"zh_TW.UTF-8", "TRADITIONAL CHINESE_TAIWAN.AL32UTF8"},
        {"pt_BR", "BRAZILIAN PORTUGUESE_BRAZIL.AL32UTF8"},
        {"de_AT.UTF-8", "GERMAN_AMERICA.AL32UTF8"},  // no Oracle territory for AT here
        {"C.UTF-8", "AMERICAN_AMERICA.AL32UTF8"},
        {"POSIX", "AMERICAN_AMERICA.AL32UTF8"},
        {"", "AMERICAN_AMERICA.AL32UTF8"},
    };
    for (const auto& [locale, expected] : cases)
        EXPECT_EQ(DefaultNlsLang(locale), expected) << locale;
}

TEST(NlsLangTest, CharacterSetIsWhatFollowsTheDot) {
    const std::pair<const char*, const char*> cases[] = {
        {"AMERICAN_AMERICA.AL32UTF8", "AL32UTF8"},
        {"japanese_japan.ja16sjistilde", "JA16SJISTILDE"},
        {".UTF8", "UTF8"},
        {"JAPANESE_JAPAN", "US7ASCII"},  // a client's default when none is named
        {"AMERICAN_AMERICA.", "US7ASCII"},
        {"", "US7ASCII"},
    };
    for (const auto& [value, expected] : cases)
        EXPECT_EQ(NlsLangCharacterSet(value), expected) << value;
}

TEST(NlsLangTest, WidestCharacterOfASetIsFourBytesWhenUnknown) {
    const std::pair<const char*, int> cases[] = {
        {"AL32UTF8", 4}, {"UTF8", 3}, {"JA16SJISTILDE", 2}, {"US7ASCII", 1}, {"NOSUCHSET", 4}};
    for (const auto& [set, bytes] : cases) EXPECT_EQ(MaxBytesPerCharacter(set), bytes) << set;
}

}  // namespace
}  // namespace velnor::oracle
