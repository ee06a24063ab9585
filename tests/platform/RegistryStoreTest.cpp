#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <thread>

#include "platform/Registry.h"
#include "platform/System.h"
#include "tests/platform/TestDirectory.h"

namespace velnor::platform {
namespace {

using test::ReadFile;
using test::TTestDirectory;
using test::WriteFile;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::SizeIs;
using ::testing::ThrowsMessage;

const std::string kHead = "Windows Registry Editor Version 5.00\r\n\r\n";
constexpr const char* kLogon = "Software\\Tressigan\\Velnor\\Logon0";

struct RegistryStoreTest : ::testing::Test {
    TTestDirectory dir;
    std::string path = dir.File("velnor/HKEY_CURRENT_USER.reg");
    TRegistryStore store{TRegistryRoot::CurrentUser, path};

    static mode_t ModeOf(const std::string& file) {
        struct stat info {};
        stat(file.c_str(), &info);
        return info.st_mode & 07777;
    }
};

TEST_F(RegistryStoreTest, MissingFileReadsEmptyAndFirstWriteCreatesIt) {
    EXPECT_THAT(store.Read().SubKeyNames(""), IsEmpty());
    EXPECT_EQ(store.ReadString(kLogon, "UserName"), "");
    store.Update([](TRegistryTree& tree) { tree.WriteString(kLogon, "UserName", "SCOTT"); });
    EXPECT_EQ(TRegistryStore(TRegistryRoot::CurrentUser, path).ReadString(kLogon, "UserName"),
              "SCOTT");
    EXPECT_THAT(ReadFile(path),
                HasSubstr("[HKEY_CURRENT_USER\\Software\\Tressigan\\Velnor\\Logon0]"));
}

TEST_F(RegistryStoreTest, CurrentUsersFileIsPrivateAfterEveryWrite) {
    std::filesystem::create_directories(DirectoryOf(path));
    WriteFile(path, kHead);
    chmod(path.c_str(), 0644);
    store.Update([](TRegistryTree& tree) { tree.WriteString(kLogon, "Password", "TIGER"); });
    EXPECT_EQ(ModeOf(path), 0600u);
    store.Update([](TRegistryTree& tree) { tree.WriteString(kLogon, "Password", "LION"); });
    EXPECT_EQ(ModeOf(path), 0600u);
}

TEST_F(RegistryStoreTest, NewDirectoryOfTheCurrentUserIsPrivate) {
    store.Update([](TRegistryTree& tree) { tree.CreateKey("Software"); });
    EXPECT_EQ(ModeOf(DirectoryOf(path)), 0700u);
}

TEST_F(RegistryStoreTest, FileThatIsNotARegistryFileIsReportedAndNeverReplaced) {
    std::filesystem::create_directories(DirectoryOf(path));
    const std::string foreign = "UserName=SCOTT\nsomething else entirely\n";
    WriteFile(path, foreign);
    EXPECT_THAT([&] { (void)store.Read(); },
                ThrowsMessage<ERegistryError>(HasSubstr("Not a registry file")));
    EXPECT_THROW(store.Update([](TRegistryTree& tree) { tree.CreateKey("A"); }), ERegistryError);
    EXPECT_EQ(ReadFile(path), foreign);
    EXPECT_EQ(store.ReadString("A", "x"), "");
    EXPECT_FALSE(FileExists(path + ".tmp"));
}

TEST_F(RegistryStoreTest, FailingChangeStoresNothing) {
    store.Update([](TRegistryTree& tree) { tree.WriteString("A", "x", "1"); });
    const std::string before = ReadFile(path);
    EXPECT_THROW(store.Update([](TRegistryTree& tree) {
        tree.WriteString("A", "x", "2");
        throw std::runtime_error("interrupted");
    }),
                 std::runtime_error);
    EXPECT_EQ(ReadFile(path), before);
}

TEST_F(RegistryStoreTest, DamagedLinesSurviveAWrite) {
    std::filesystem::create_directories(DirectoryOf(path));
    WriteFile(path, kHead + "[HKEY_CURRENT_USER\\A]\r\n\"ok\"=\"1\"\r\n\"bad\"=dword:zz\r\n");
    store.Update([](TRegistryTree& tree) { tree.WriteString("A", "new", "2"); });
    const std::string text = ReadFile(path);
    EXPECT_THAT(text, HasSubstr("\"ok\"=\"1\"\n\"bad\"=dword:zz\n\"new\"=\"2\"\n"));
    EXPECT_THAT(store.Read().Problems(), SizeIs(1));
}

TEST_F(RegistryStoreTest, LeftoverTemporaryFileFromACrashIsHarmless) {
    // A crash between writing the temporary file and the rename leaves the old file intact.
    store.Update([](TRegistryTree& tree) { tree.WriteString("A", "x", "old"); });
    WriteFile(path + ".tmp", "half a fi");
    EXPECT_EQ(store.ReadString("A", "x"), "old");
    store.Update([](TRegistryTree& tree) { tree.WriteString("A", "y", "new"); });
    EXPECT_EQ(store.ReadString("A", "x"), "old");
    EXPECT_EQ(store.ReadString("A", "y"), "new");
    EXPECT_FALSE(FileExists(path + ".tmp"));
}

TEST_F(RegistryStoreTest, ReadSeesChangesMadeByOthers) {
    store.Update([](TRegistryTree& tree) { tree.WriteString("A", "x", "1"); });
    EXPECT_EQ(store.ReadString("A", "x"), "1");  // now cached
    TRegistryStore other(TRegistryRoot::CurrentUser, path);
    other.Update([](TRegistryTree& tree) { tree.WriteString("A", "x", "2"); });
    EXPECT_EQ(store.ReadString("A", "x"), "2");
    WriteFile(path, kHead + "[HKEY_CURRENT_USER\\A]\n\"x\"=\"edited by hand\"\n");
    EXPECT_EQ(store.ReadString("A", "x"), "edited by hand");
}

TEST_F(RegistryStoreTest, TwoProcessesWritingAtOnceLoseNothing) {
    constexpr int kWriters = 4;
    constexpr int kKeysEach = 25;
    std::vector<pid_t> children;
    for (int w = 0; w < kWriters; ++w) {
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            int status = 0;
            try {
                TRegistryStore mine(TRegistryRoot::CurrentUser, path);
                for (int k = 0; k < kKeysEach; ++k) {
                    mine.Update([&](TRegistryTree& tree) {
                        tree.WriteString("W" + std::to_string(w) + "\\K" + std::to_string(k), "v",
                                         std::to_string(k));
                    });
                }
            } catch (...) {
                status = 1;
            }
            _exit(status);
        }
        children.push_back(child);
    }
    for (const pid_t child : children) {
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    const TRegistryTree tree = store.Read();
    for (int w = 0; w < kWriters; ++w) {
        EXPECT_THAT(tree.SubKeyNames("W" + std::to_string(w)), SizeIs(kKeysEach)) << w;
    }
}

TEST_F(RegistryStoreTest, ThreadsWritingAtOnceLoseNothing) {
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            TRegistryStore mine(TRegistryRoot::CurrentUser, path);
            for (int k = 0; k < 20; ++k) {
                mine.Update([&](TRegistryTree& tree) {
                    tree.WriteDword("T" + std::to_string(t), "K" + std::to_string(k),
                                    static_cast<std::uint32_t>(k));
                });
            }
        });
    }
    for (auto& thread : threads) thread.join();
    for (int t = 0; t < 4; ++t)
        EXPECT_THAT(store.Read().ValueNames("T" + std::to_string(t)), SizeIs(20));
}

TEST_F(RegistryStoreTest, WriteThroughALinkKeepsTheLink) {
    const std::string real = dir.File("real.reg");
    WriteFile(real, kHead);
    std::filesystem::create_directories(DirectoryOf(path));
    std::filesystem::create_symlink(real, path);
    store.Update([](TRegistryTree& tree) { tree.WriteString("A", "x", "1"); });
    EXPECT_TRUE(std::filesystem::is_symlink(path));
    EXPECT_THAT(ReadFile(real), HasSubstr("\"x\"=\"1\""));
}

TEST_F(RegistryStoreTest, UnreadableFileRaisesButReadRegistryStringIsEmpty) {
    std::filesystem::create_directories(path);  // a directory where the file should be
    EXPECT_THROW((void)store.Read(), ERegistryError);
    EXPECT_EQ(store.ReadString("A", "x"), "");
}

TEST_F(RegistryStoreTest, DefaultPathsFollowTheEnvironment) {
    const auto saved = GetEnvironment("VELNOR_REGISTRY_DIR");
    const auto savedXdg = GetEnvironment("XDG_CONFIG_HOME");
    SetEnvironment("VELNOR_REGISTRY_DIR", dir.Path());
    TRegistryStore::ResetDefaultPaths();
    EXPECT_EQ(TRegistryStore::ForRoot(TRegistryRoot::LocalMachine).Path(),
              dir.File("HKEY_LOCAL_MACHINE.reg"));
    WriteFile(
        dir.File("HKEY_LOCAL_MACHINE.reg"),
        kHead + "[HKEY_LOCAL_MACHINE\\SOFTWARE\\ORACLE\\ALL_HOMES]\n\"HOME_COUNTER\"=\"2\"\n");
    EXPECT_EQ(ReadRegistryString(TRegistryRoot::LocalMachine, "SOFTWARE\\ORACLE\\ALL_HOMES",
                                 "HOME_COUNTER"),
              "2");
    EXPECT_EQ(ReadRegistryString(TRegistryRoot::CurrentUser, "SOFTWARE\\ORACLE\\ALL_HOMES",
                                 "HOME_COUNTER"),
              "");

    UnsetEnvironment("VELNOR_REGISTRY_DIR");
    SetEnvironment("XDG_CONFIG_HOME", dir.File("config"));
    EXPECT_EQ(TRegistryStore::DefaultPath(TRegistryRoot::CurrentUser),
              dir.File("config/velnor/HKEY_CURRENT_USER.reg"));
    EXPECT_EQ(TRegistryStore::DefaultPath(TRegistryRoot::LocalMachine),
              "/etc/velnor/HKEY_LOCAL_MACHINE.reg");

    if (saved) SetEnvironment("VELNOR_REGISTRY_DIR", *saved);
    if (savedXdg) {
        SetEnvironment("XDG_CONFIG_HOME", *savedXdg);
    } else {
        UnsetEnvironment("XDG_CONFIG_HOME");
    }
    TRegistryStore::ResetDefaultPaths();
}

TEST(MemorySettingsTest, FailedUpdateLeavesTheTreeAsItWas) {
    TMemorySettings settings;
    settings.Update([](TRegistryTree& tree) { tree.WriteString("A", "x", "1"); });
    EXPECT_THROW(settings.Update([](TRegistryTree& tree) {
        tree.WriteString("A", "x", "2");
        throw std::runtime_error("no");
    }),
                 std::runtime_error);
    EXPECT_EQ(settings.Read().ReadString("A", "x"), "1");
}

}  // namespace
}  // namespace velnor::platform
