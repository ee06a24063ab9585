#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>

#include "platform/AtomicFile.h"
#include "tests/platform/TestDirectory.h"

namespace velnor::platform {
namespace {

using TStep = EFileReplaceError::TStep;

// Each failing step names its own path, and nothing is left behind.
TEST(AtomicFileTest, FailedStepNamesItsPathAndLeavesNoTemporary) {
    test::TTestDirectory dir;
    const std::string folder = dir.File("folder");
    std::filesystem::create_directories(folder + "/inside");
    struct TCase {
        std::string target, temporary;
        TStep step;
        std::string path;
    };
    for (const TCase& c : {TCase{dir.File("none/f"), "", TStep::Create, ""},
                           TCase{dir.File("f"), folder, TStep::Create, folder},
                           TCase{folder, dir.File("t"), TStep::Replace, folder}}) {
        try {
            ReplaceFile(c.target, "x", 0600, c.temporary);
            ADD_FAILURE() << c.target << " replaced";
        } catch (const EFileReplaceError& e) {
            EXPECT_EQ(e.Step(), c.step) << c.target;
            EXPECT_THAT(e.Path(), c.path.empty() ? ::testing::StartsWith(dir.File("none/."))
                                                 : ::testing::StartsWith(c.path));
            const char* verb = c.step == TStep::Replace ? "Cannot replace " : "Cannot write ";
            EXPECT_THAT(e.Message(), ::testing::StartsWith(verb + e.Path() + ": "));
        }
        EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path()), {}), 1);
    }
}

}  // namespace
}  // namespace velnor::platform
