#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <set>

#include "platform/AtomicFile.h"
#include "tests/platform/TestDirectory.h"

namespace velnor::platform {
namespace {

using test::ReadFile;
using test::TTestDirectory;
using test::WriteFile;
using TStep = EFileReplaceError::TStep;

mode_t ModeOf(const std::string& file) {
    struct stat info {};
    ::stat(file.c_str(), &info);
    return info.st_mode & 07777;
}

std::set<std::string> Entries(const std::string& folder) {
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        names.insert(entry.path().filename().string());
    return names;
}

struct AtomicFileTest : ::testing::Test {
    TTestDirectory dir;
};

// What the new file's mode comes from: the mode given, or the replaced file's.
TEST_F(AtomicFileTest, ModeOfTheNewFile) {
    struct TCase {
        mode_t old;  // 0: no file before
        mode_t given;
        bool keep;
        mode_t expected;
    };
    for (const TCase& c : {TCase{0, 0600, false, 0600}, TCase{0644, 0600, false, 0600},
                           TCase{0640, 0600, true, 0640}, TCase{0, 0604, true, 0604}}) {
        const std::string target = dir.File("f");
        std::filesystem::remove(target);
        if (c.old != 0) {
            WriteFile(target, "old");
            ::chmod(target.c_str(), c.old);
        }
        {
            TAtomicFile file(target);
            file.Write("new", c.given);
            file.Commit(c.keep);
        }
        EXPECT_EQ(ReadFile(target), "new");
        EXPECT_EQ(ModeOf(target), c.expected) << "old " << c.old << " keep " << c.keep;
        EXPECT_EQ(Entries(dir.Path()), std::set<std::string>{"f"});
    }
}

TEST_F(AtomicFileTest, UncommittedReplacementLeavesTheTargetAndNoTemporary) {
    const std::string target = dir.File("f");
    WriteFile(target, "old");
    {
        TAtomicFile file(target);
        file.Write("new", 0600);
        EXPECT_TRUE(std::filesystem::exists(file.Temporary()));
    }
    EXPECT_EQ(ReadFile(target), "old");
    EXPECT_EQ(Entries(dir.Path()), std::set<std::string>{"f"});
}

// A caller streaming its data writes the temporary by name; the link stays a link.
TEST_F(AtomicFileTest, StreamedThroughALinkReplacesWhatItPointsTo) {
    const std::string real = dir.File("real");
    const std::string link = dir.File("link");
    WriteFile(real, "old");
    ASSERT_EQ(::symlink(real.c_str(), link.c_str()), 0);
    TAtomicFile file(link);
    EXPECT_EQ(file.Target(), std::filesystem::canonical(real).string());
    WriteFile(file.Temporary(), "streamed");
    file.Commit(true);
    EXPECT_TRUE(std::filesystem::is_symlink(link));
    EXPECT_EQ(ReadFile(link), "streamed");
}

TEST_F(AtomicFileTest, FailedStepNamesItsPath) {
    const std::string missing = dir.File("none/f");
    const std::string folder = dir.File("folder");
    std::filesystem::create_directories(folder + "/inside");
    struct TCase {
        std::string target;
        std::string temporary;
        TStep step;
        std::string path;  // named by the error
    };
    for (const TCase& c : {TCase{missing, "", TStep::Create, ""},
                           TCase{folder, dir.File("t"), TStep::Replace, folder},
                           TCase{dir.File("f"), folder, TStep::Create, folder}}) {
        try {
            ReplaceFile(c.target, "x", 0600, c.temporary);
            ADD_FAILURE() << c.target << " replaced";
        } catch (const EFileReplaceError& e) {
            EXPECT_EQ(e.Step(), c.step) << c.target;
            if (!c.path.empty()) {
                EXPECT_EQ(e.Path(), c.path);
            }
            EXPECT_THAT(e.Message(),
                        ::testing::StartsWith(
                            (c.step == TStep::Replace ? "Cannot replace " : "Cannot write ") +
                            e.Path() + ": "));
            EXPECT_NE(e.SystemError(), 0);
        }
    }
    EXPECT_EQ(Entries(dir.Path()), (std::set<std::string>{"folder"}));
}

}  // namespace
}  // namespace velnor::platform
