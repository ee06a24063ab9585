#include <dlfcn.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>

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

// The file the system library was loaded from.
std::string SystemLibraryFile() {
    TDynamicLibrary lib;
    if (!lib.Load(kSystemLibrary)) return {};
    Dl_info info{};
    if (dladdr(lib.Symbol("cos"), &info) == 0 || !info.dli_fname) return {};
    return std::filesystem::canonical(info.dli_fname).string();
}

// dlopen would map pages past the end of a cut-off copy and die of SIGBUS touching them.
// (A copy missing only its section headers loads: nothing of it is mapped.)
TEST(DynamicLibraryTest, CutOffCopyOfALibraryIsRefusedBeforeLoading) {
    const std::string original = SystemLibraryFile();
    ASSERT_FALSE(original.empty());
    const std::string whole = test::ReadFile(original);
    test::TTestDirectory dir;
    for (const std::size_t length : {std::size_t{64}, std::size_t{4096}, whole.size() / 2}) {
        SCOPED_TRACE(length);
        const std::string cut = dir.File("libclntsh.so");
        test::WriteFile(cut, whole.substr(0, length));
        TDynamicLibrary lib;
        EXPECT_FALSE(lib.Load(cut));
        EXPECT_FALSE(lib.Loaded());
        EXPECT_THAT(lib.LastError(), HasSubstr("libclntsh.so"));
    }
}

// The loader answers a name it has seen with the library it gave then, whatever the name
// leads to now: a repaired link must still reach its new target.
TEST(DynamicLibraryTest, RepairedLinkLoadsItsNewTarget) {
    test::TTestDirectory dir;
    const std::string link = dir.File("libclntsh.so");
    std::filesystem::create_symlink(SystemLibraryFile(), link);
    TDynamicLibrary lib;
    ASSERT_TRUE(lib.Load(link)) << lib.LastError();
    EXPECT_NE(lib.Symbol("cos"), nullptr);
    lib.Unload();
    std::filesystem::remove(link);
    std::filesystem::create_symlink("/lib/x86_64-linux-gnu/libz.so.1", link);
    ASSERT_TRUE(lib.Load(link)) << lib.LastError();
    EXPECT_EQ(lib.Symbol("cos"), nullptr);
    EXPECT_NE(lib.Symbol("zlibVersion"), nullptr);
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
