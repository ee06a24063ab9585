#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/ptrace.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>

#include "platform/Exception.h"
#include "platform/System.h"
#include "platform/Text.h"
#include "tests/platform/TestDirectory.h"

namespace velnor::platform {
namespace {

using test::TTestDirectory;
using test::WriteFile;
using ::testing::UnorderedElementsAre;

struct SystemTest : ::testing::Test {
    void TearDown() override {
        SetProgramArguments({});
        UnsetEnvironment("VELNOR_TEST_VARIABLE");
    }
};

TEST_F(SystemTest, CommandLineValueMatchesNameWithoutCaseAndKeepsValueCase) {
    SetProgramArguments({"other=1", "ociDll=/Opt/Oracle/libclntsh.so", "OCIDLL=second"});
    EXPECT_EQ(GetCommandLineValue("OCIDLL"), "/Opt/Oracle/libclntsh.so");
    EXPECT_EQ(GetCommandLineValue("oracleHome"), "");
}

TEST_F(SystemTest, CommandLineValueNeedsTheEqualsSignRightAfterTheName) {
    SetProgramArguments({"OCIDLLX=wrong", "OCIDLL", "ORACLEHOME=", "ORACLEHOME=late"});
    EXPECT_EQ(GetCommandLineValue("OCIDLL"), "");
    // The first match wins even when its value is empty.
    EXPECT_EQ(GetCommandLineValue("ORACLEHOME"), "");
    EXPECT_EQ(GetCommandLineValue(""), "");
}

TEST_F(SystemTest, CommandLineValueIsNeverCut) {
    // Values used to be cut at 255 characters.
    const std::string path = "/" + std::string(1000, 'p') + "/libclntsh.so";
    const char* argv[] = {"velnor", "x=y", nullptr};
    SetProgramArguments(2, argv);
    EXPECT_EQ(ProgramArguments(), std::vector<std::string>{"x=y"});
    SetProgramArguments({"OCIDLL=" + path});
    EXPECT_EQ(GetCommandLineValue("ocidll"), path);
}

TEST_F(SystemTest, EnvironmentRoundTripAndRejectsBadNames) {
    EXPECT_FALSE(GetEnvironment("VELNOR_TEST_VARIABLE"));
    SetEnvironment("VELNOR_TEST_VARIABLE", "");
    EXPECT_EQ(GetEnvironment("VELNOR_TEST_VARIABLE"), "");  // set but empty is not missing
    const std::string longValue(20000, 'v');                // PATH may be this long
    SetEnvironment("VELNOR_TEST_VARIABLE", longValue);
    EXPECT_EQ(GetEnvironment("VELNOR_TEST_VARIABLE"), longValue);
    UnsetEnvironment("VELNOR_TEST_VARIABLE");
    EXPECT_FALSE(GetEnvironment("VELNOR_TEST_VARIABLE"));
    EXPECT_THROW(SetEnvironment("A=B", "x"), Exception);
    EXPECT_THROW(SetEnvironment("", "x"), Exception);
    EXPECT_FALSE(GetEnvironment("A=B"));
}

TEST_F(SystemTest, WorkingDirectoryChangesAndComesBack) {
    TTestDirectory dir;
    const std::string before = GetCurrentDirectory();
    ASSERT_FALSE(before.empty());
    ASSERT_TRUE(SetCurrentDirectory(dir.Path()));
    EXPECT_EQ(std::filesystem::path(GetCurrentDirectory()), std::filesystem::canonical(dir.Path()));
    EXPECT_FALSE(SetCurrentDirectory(dir.File("missing")));
    EXPECT_FALSE(SetCurrentDirectory(""));
    ASSERT_TRUE(SetCurrentDirectory(before));
    EXPECT_EQ(GetCurrentDirectory(), before);
}

TEST_F(SystemTest, FileAndDirectoryTestsTellKindsApart) {
    TTestDirectory dir;
    WriteFile(dir.File("lib.so"), "x");
    std::filesystem::create_directory(dir.File("sub"));
    std::filesystem::create_symlink(dir.File("lib.so"), dir.File("link.so"));
    EXPECT_TRUE(FileExists(dir.File("lib.so")));
    EXPECT_TRUE(FileExists(dir.File("link.so")));
    EXPECT_FALSE(FileExists(dir.File("sub")));
    EXPECT_FALSE(FileExists(dir.File("none")));
    EXPECT_FALSE(FileExists(""));
    EXPECT_TRUE(DirectoryExists(dir.File("sub")));
    EXPECT_FALSE(DirectoryExists(dir.File("lib.so")));
}

TEST_F(SystemTest, ListFilesMatchesWildcardCaseSensitively) {
    TTestDirectory dir;
    for (const char* name : {"libclntsh.so", "libclntsh.so.19.1", "libclntsh.so.11.1",
                             "LIBCLNTSH.SO.12.1", "libclntshcore.so.19.1", ".libclntsh.so.1"}) {
        WriteFile(dir.File(name), "");
    }
    EXPECT_THAT(ListFiles(dir.Path(), "libclntsh.so.*"),
                UnorderedElementsAre("libclntsh.so.19.1", "libclntsh.so.11.1"));
    EXPECT_THAT(ListFiles(dir.Path(), "*.so.1"), UnorderedElementsAre(".libclntsh.so.1"));
    EXPECT_EQ(ListFiles(dir.Path(), "*").size(), 6u);  // never "." or ".."
    EXPECT_TRUE(ListFiles(dir.File("missing"), "*").empty());
    EXPECT_TRUE(ListFiles("", "*").empty());
}

struct PathCase {
    const char* path;
    const char* directory;
    const char* name;
};
class PathSplitTest : public ::testing::TestWithParam<PathCase> {};
TEST_P(PathSplitTest, SplitsDirectoryAndName) {
    EXPECT_EQ(DirectoryOf(GetParam().path), GetParam().directory);
    EXPECT_EQ(FileNameOf(GetParam().path), GetParam().name);
}
INSTANTIATE_TEST_SUITE_P(
    Paths, PathSplitTest,
    ::testing::Values(PathCase{"/opt/oracle/lib/libclntsh.so", "/opt/oracle/lib", "libclntsh.so"},
                      PathCase{"libclntsh.so", "", "libclntsh.so"},
                      PathCase{"/libx.so", "/", "libx.so"}, PathCase{"a//b", "a", "b"},
                      PathCase{"dir/", "dir", ""}));

struct JoinCase {
    const char* directory;
    const char* name;
    const char* expected;
};
class JoinPathTest : public ::testing::TestWithParam<JoinCase> {};
TEST_P(JoinPathTest, UsesExactlyOneSeparator) {
    EXPECT_EQ(JoinPath(GetParam().directory, GetParam().name), GetParam().expected);
}
INSTANTIATE_TEST_SUITE_P(Joins, JoinPathTest,
                         ::testing::Values(JoinCase{"/opt/home", "lib", "/opt/home/lib"},
                                           JoinCase{"/opt/home/", "lib", "/opt/home/lib"},
                                           JoinCase{"/opt/home//", "/lib", "/opt/home/lib"},
                                           JoinCase{"/", "etc", "/etc"}, JoinCase{"", "lib", "lib"},
                                           JoinCase{"home", "", "home/"}));

TEST_F(SystemTest, TracerPidDecidesDebuggerPresence) {
    EXPECT_FALSE(TracerAttached("Name:\tvelnor\nTracerPid:\t0\nUid:\t0\n"));
    EXPECT_TRUE(TracerAttached("Name:\tvelnor\nTracerPid:\t4711\n"));
    EXPECT_FALSE(TracerAttached("Name:\tvelnor\n"));
    EXPECT_FALSE(TracerAttached("XTracerPid:\t5\n"));
}

TEST_F(SystemTest, DebuggerPresentSeesARealTracer) {
    // The child asks its parent to trace it and then looks at itself.
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        const bool before = DebuggerPresent();
        if (ptrace(PTRACE_TRACEME, 0, nullptr, nullptr) != 0) _exit(3);
        const bool after = DebuggerPresent();
        _exit(!before && after ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    if (WEXITSTATUS(status) == 3) GTEST_SKIP() << "ptrace is not permitted here";
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

TEST(TextTest, CaseChangesOnlyAsciiLetters) {
    EXPECT_EQ(UpperCase("OraHome81 ä"), "ORAHOME81 ä");
    EXPECT_EQ(LowerCase("SOFTWARE\\ORACLE"), "software\\oracle");
    EXPECT_TRUE(SameText("Software\\Oracle", "SOFTWARE\\ORACLE"));
    EXPECT_FALSE(SameText("ä", "Ä"));  // no locale tables: UTF-8 bytes compare exactly
    EXPECT_FALSE(SameText("abc", "abcd"));
    EXPECT_TRUE(StartsWithText("OCIDLL=x", "ocidll"));
    EXPECT_FALSE(StartsWithText("OCI", "ocidll"));
}

}  // namespace
}  // namespace velnor::platform
