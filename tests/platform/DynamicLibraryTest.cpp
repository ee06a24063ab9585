#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "platform/DynamicLibrary.h"
#include "tests/platform/TestDirectory.h"

namespace velnor::platform {
namespace {

using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::Not;

// The C math library is on every machine that can build this program.
constexpr const char* kSystemLibrary = "libm.so.6";

TEST(DynamicLibraryTest, LoadsAndFindsExportedNames) {
    TDynamicLibrary lib;
    ASSERT_TRUE(lib.Load(kSystemLibrary)) << lib.LastError();
    EXPECT_TRUE(lib.Loaded());
    using Cos = double (*)(double);
    const auto cosine = reinterpret_cast<Cos>(lib.Symbol("cos"));
    ASSERT_NE(cosine, nullptr);
    EXPECT_DOUBLE_EQ(cosine(0.0), 1.0);
    EXPECT_EQ(lib.Symbol("OCIEnvCreate"), nullptr);
    EXPECT_EQ(lib.Symbol(nullptr), nullptr);
    lib.Unload();
    EXPECT_FALSE(lib.Loaded());
    EXPECT_EQ(lib.Symbol("cos"), nullptr);
}

TEST(DynamicLibraryTest, FailureExplainsItselfAndLeavesNothingLoaded) {
    test::TTestDirectory dir;
    const std::string fake = dir.File("libclntsh.so");
    test::WriteFile(fake, "not an ELF file");
    TDynamicLibrary lib;
    EXPECT_FALSE(lib.Load(fake));
    EXPECT_FALSE(lib.Loaded());
    EXPECT_THAT(lib.LastError(), HasSubstr("libclntsh.so"));
    EXPECT_FALSE(lib.Load(dir.File("missing.so")));
    EXPECT_THAT(lib.LastError(), Not(IsEmpty()));
}

TEST(DynamicLibraryTest, EmptyPathNeverHandsOutTheProgramItself) {
    // dlopen(nullptr) would return the running program, whose symbols are not a library's.
    TDynamicLibrary lib;
    EXPECT_FALSE(lib.Load(""));
    EXPECT_FALSE(lib.Loaded());
    EXPECT_FALSE(lib.Load(std::string("libm.so.6\0x", 11)));
}

TEST(DynamicLibraryTest, FailedReloadUnloadsThePreviousLibrary) {
    TDynamicLibrary lib;
    ASSERT_TRUE(lib.Load(kSystemLibrary));
    EXPECT_FALSE(lib.Load("/nonexistent/libclntsh.so"));
    EXPECT_FALSE(lib.Loaded());
    EXPECT_EQ(lib.Symbol("cos"), nullptr);
}

TEST(DynamicLibraryTest, MoveTransfersTheHandle) {
    TDynamicLibrary first;
    ASSERT_TRUE(first.Load(kSystemLibrary));
    TDynamicLibrary second = std::move(first);
    EXPECT_FALSE(first.Loaded());  // NOLINT(bugprone-use-after-move): moved-from state is defined
    EXPECT_TRUE(second.Loaded());
    EXPECT_NE(second.Symbol("cos"), nullptr);
    EXPECT_EQ(second.Path(), kSystemLibrary);
}

}  // namespace
}  // namespace velnor::platform
