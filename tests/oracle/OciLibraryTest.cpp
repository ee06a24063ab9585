#include <dlfcn.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>

#include "oracle/client/OciLibrary.h"
#include "tests/oracle/ClientTestEnvironment.h"

namespace velnor::oracle {
namespace {

using platform::TRegistryRoot;
using ::testing::HasSubstr;
using ::testing::StartsWith;

// A shared library that exports no client entry point at all.
std::string LibraryWithoutEntryPoints() {
    Dl_info info{};
    dladdr(reinterpret_cast<void*>(static_cast<double (*)(double)>(&std::cos)), &info);
    return info.dli_fname ? info.dli_fname : "";
}

struct OciLibraryTest : ::testing::Test {
    std::string InitializationMessage() {
        try {
            InitializeOCI();
        } catch (const platform::Exception& e) {
            return e.Message();
        }
        return "(no error)";
    }

    test::TClientEnvironment env_;
};

TEST_F(OciLibraryTest, NoHomeIsReportedWithTheLoaderLog) {
    EXPECT_EQ(InitializationMessage(),
              "Initialization error\r\nSQL*Net not properly installed\r\n\r\n"
              "OracleHomeKey: SOFTWARE\\ORACLE\r\nOracleHomeDir: ");
    EXPECT_FALSE(OCILoaded());
}

TEST_F(OciLibraryTest, HomeWithoutClientLibraryCannotLocateIt) {
    const std::string home = env_.Scratch().Dir("home");
    env_.Scratch().Dir("home/lib");
    env_.Scratch().File("home/lib/libclntsh.so.notaversion");
    platform::SetEnvironment("ORACLE_HOME", home);
    EXPECT_EQ(InitializationMessage(),
              "Initialization error\r\nCould not locate OCI dll\r\n\r\n"
              "OracleHomeKey: SOFTWARE\\ORACLE\r\nOracleHomeDir: " +
                  home + "\r\nLibrary directory: " + home + "/lib");
}

TEST_F(OciLibraryTest, ForcedLibrarySkipsTheSearchAndReportsTheLoadFailure) {
    platform::SetEnvironment("ORACLE_HOME", env_.Scratch().Dir("home"));
    const std::string path = env_.Scratch().Path() + "/missing/libclntsh.so";
    platform::SetProgramArguments(std::vector<std::string>{"ocidll=" + path});
    const std::string message = InitializationMessage();
    EXPECT_THAT(message, StartsWith("Initialization error\r\nCould not load \"" + path +
                                    "\"\r\n\r\nOCIDLL forced to " + path + "\r\nLoadLibrary(" +
                                    path + ") returned 0"));
    EXPECT_THAT(message, ::testing::Not(HasSubstr("OracleHomeKey")));
    // A forced path is kept for the next attempt.
    EXPECT_EQ(OCIDLL(), path);
}

TEST_F(OciLibraryTest, AutomaticChoiceIsForgottenAfterAFailure) {
    const std::string home = env_.Scratch().Dir("home");
    const std::string bogus = env_.Scratch().File("home/lib/libclntsh.so", "not a library");
    platform::SetEnvironment("ORACLE_HOME", home);
    EXPECT_THAT(InitializationMessage(),
                HasSubstr("Could not load \"" + bogus + "\"\r\n\r\nOracleHomeKey: "));
    EXPECT_THAT(LoaderLog(), HasSubstr("Found: libclntsh.so\r\nUsing: " + bogus));
    EXPECT_EQ(OCIDLL(), "");
    EXPECT_EQ(OracleHomeDir(), "");
}

TEST_F(OciLibraryTest, LibraryWithoutEitherInterfaceCannotBeInitialized) {
    const std::string path = LibraryWithoutEntryPoints();
    ASSERT_FALSE(path.empty());
    SetOCIDLL(path);
    // The settings made for the client follow the search's own lines; the companions of a
    // system library are in the process already and are not opened again.
    const std::string message = InitializationMessage();
    EXPECT_THAT(message, StartsWith("Initialization error\r\nCould not initialize \"" + path +
                                    "\"\r\n\r\nOCIDLL forced to " + path + "\r\nNLS_LANG set to "));
    EXPECT_THAT(message, ::testing::Not(HasSubstr("Companion")));
    EXPECT_FALSE(OCI7Available());
    EXPECT_FALSE(OCI8Available());
    EXPECT_FALSE(Oci().orlon);  // nothing stays bound from the failed load
}

TEST_F(OciLibraryTest, UnboundEntryPointRaisesInsteadOfCalling) {
    ASSERT_FALSE(OCILoaded());
    EXPECT_THAT([] { Oci().OCIStmtExecute(nullptr, nullptr, nullptr, 1, 0, nullptr, nullptr, 0); },
                ::testing::ThrowsMessage<platform::Exception>(HasSubstr("OCIStmtExecute")));
}

TEST_F(OciLibraryTest, MissingMtsLibraryIsReportedWithoutTheLoaderLog) {
#ifdef VELNOR_OCISQLITE_LIB
    const std::string lib = env_.Scratch().Dir("home/lib");
    std::filesystem::create_symlink(VELNOR_OCISQLITE_LIB, lib + "/libclntsh.so");
    platform::SetEnvironment("ORACLE_HOME", env_.Scratch().Path() + "/home");
    EXPECT_THAT([] { InitializeMTS(); },
                ::testing::ThrowsMessage<platform::Exception>(::testing::Eq(
                    "Initialization error\r\nCould not locate \"" + lib + "/liboramts.so\"")));
    EXPECT_FALSE(MTSAvailable());
#else
    GTEST_SKIP() << "the stand-in client library is not built";
#endif
}

}  // namespace
}  // namespace velnor::oracle
