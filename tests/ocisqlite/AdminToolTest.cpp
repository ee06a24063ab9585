// ocisqlite-admin: its command line, the home it lays out, and that a failed command leaves
// nothing behind.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "tests/support/TempHome.h"

namespace velnor::test {
namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;

std::set<std::string> Tree(const std::string& root) {
    std::set<std::string> entries;
    for (const auto& e : fs::recursive_directory_iterator(root))
        entries.insert(fs::relative(e.path(), root).string());
    return entries;
}

struct AdminToolTest : ::testing::Test {
    void SetUp() override { home.AddService("ORCL"); }
    TTempHome home;
};

TEST_F(AdminToolTest, InitLaysOutAnOracleHome) {
    EXPECT_TRUE(fs::is_directory(home.Path() + "/bin"));
    EXPECT_TRUE(fs::is_directory(home.Path() + "/oradata"));
    ASSERT_TRUE(fs::is_symlink(home.ClientLibrary()));
    EXPECT_TRUE(fs::equivalent(home.ClientLibrary(), TRawClient::DefaultPath()));
    EXPECT_TRUE(fs::exists(home.MtsLibrary()));
}

TEST_F(AdminToolTest, InitAgainKeepsServicesAndRepairsTheLink) {
    home.UseClientLibrary(VariantLibrary("noolog"));
    const TProcessResult r = RunAdmin({home.Path(), "init"});
    EXPECT_EQ(0, r.exitCode) << r.output;
    EXPECT_TRUE(fs::equivalent(home.ClientLibrary(), TRawClient::DefaultPath()));
    EXPECT_TRUE(fs::exists(home.Path() + "/oradata/ORCL/service.conf"));
}

TEST_F(AdminToolTest, NamesAreStoredUpperCased) {
    home.AddService("small");
    home.AddUser("small", "alice", "secret");
    EXPECT_TRUE(fs::exists(home.Path() + "/oradata/SMALL/ALICE.db"));
}

struct UsageCase {
    std::vector<std::string> args;  // after HOME
};

class AdminUsageTest : public AdminToolTest, public ::testing::WithParamInterface<UsageCase> {};

TEST_P(AdminUsageTest, BadArgumentsPrintUsageExitTwoAndChangeNothing) {
    const auto before = Tree(home.Path());
    std::vector<std::string> args{home.Path()};
    args.insert(args.end(), GetParam().args.begin(), GetParam().args.end());
    const TProcessResult r = RunAdmin(args);
    EXPECT_EQ(2, r.exitCode);
    EXPECT_THAT(r.output, HasSubstr("usage: ocisqlite-admin HOME init"));
    EXPECT_EQ(before, Tree(home.Path()));
}

INSTANTIATE_TEST_SUITE_P(
    CommandLines, AdminUsageTest,
    ::testing::Values(UsageCase{{}}, UsageCase{{"bogus"}}, UsageCase{{"init", "extra"}},
                      UsageCase{{"demo", "DEMO"}}, UsageCase{{"service"}},
                      UsageCase{{"service", "A", "--banner"}},
                      UsageCase{{"service", "A", "--colour", "red"}},
                      UsageCase{{"service", "../escape"}}, UsageCase{{"service", "a b"}},
                      UsageCase{{"user", "ORCL", "U"}}, UsageCase{{"user", "ORCL", "U", ""}},
                      UsageCase{{"user", "ORCL", "a/b", "P"}},
                      UsageCase{{"user", "ORCL", "U", "P", "--expires-in"}},
                      UsageCase{{"user", "ORCL", "U", "P", "--expires-in", "soon"}},
                      UsageCase{{"user", "ORCL", "U", "P", "--expires-in", "0"}},
                      UsageCase{{"user", "ORCL", "U", "P", "--expired", "1"}},
                      UsageCase{{"user", "ORCL", "U", "P", "--locked"}}));

TEST(AdminToolNoArgumentsTest, PrintsUsageAndExitsTwo) {
    const TProcessResult r = RunAdmin({});
    EXPECT_EQ(2, r.exitCode);
    EXPECT_THAT(r.output, HasSubstr("usage:"));
}

TEST_F(AdminToolTest, UserOfAMissingServiceFailsWithoutCreatingAnything) {
    const auto before = Tree(home.Path());
    const TProcessResult r = RunAdmin({home.Path(), "user", "NOWHERE", "U", "P"});
    EXPECT_EQ(1, r.exitCode);
    EXPECT_THAT(r.output, HasSubstr("NOWHERE"));
    EXPECT_EQ(before, Tree(home.Path()));
}

TEST(AdminToolHomeTest, ServiceInAnUninitialisedHomeFails) {
    std::string dir = (fs::temp_directory_path() / "velnor-bare-XXXXXX").string();
    ASSERT_NE(nullptr, ::mkdtemp(dir.data()));
    const TProcessResult r = RunAdmin({dir, "service", "ORCL"});
    EXPECT_EQ(1, r.exitCode);
    EXPECT_TRUE(fs::is_empty(dir));
    fs::remove_all(dir);
}

TEST_F(AdminToolTest, ServiceBannerCanBeChangedLater) {
    home.SetBanner("ORCL", "Oracle8i Enterprise Edition Release 8.1.7.0.0 - Production");
    const TProcessResult again = RunAdmin({home.Path(), "service", "orcl"});
    EXPECT_EQ(0, again.exitCode);  // an existing service is kept as it is
    std::string conf;
    {
        std::FILE* f = std::fopen((home.Path() + "/oradata/ORCL/service.conf").c_str(), "r");
        ASSERT_NE(nullptr, f);
        char buf[256] = {};
        conf = std::fgets(buf, sizeof buf, f) ? buf : "";
        std::fclose(f);
    }
    EXPECT_THAT(conf, HasSubstr("Oracle8i Enterprise Edition"));
}

TEST_F(AdminToolTest, BannerMustBeOneLine) {
    const TProcessResult r = RunAdmin({home.Path(), "service", "TWO", "--banner", "a\nb"});
    EXPECT_NE(0, r.exitCode);
    EXPECT_FALSE(fs::exists(home.Path() + "/oradata/TWO"));
}

TEST_F(AdminToolTest, DemoCreatesScottOnDemo) {
    home.AddDemo();
    EXPECT_TRUE(fs::exists(home.Path() + "/oradata/DEMO/service.conf"));
    EXPECT_TRUE(fs::exists(home.Path() + "/oradata/DEMO/SCOTT.db"));
}

}  // namespace
}  // namespace velnor::test
