// Where an export's data lands when the folder or the target limits what may be written,
// and how a failure names the file.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <linux/capability.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "app/core/TextFile.h"
#include "app/core/UserTable.h"
#include "tests/app/StandInSchema.h"

namespace velnor::app {
namespace {

using ::testing::ElementsAre;

// Root passes permission bits through its capabilities; without them in the thread's
// effective set the bits hold for root too. Others need nothing dropped.
class TPermissionBitsHold {
public:
    TPermissionBitsHold() {
        if (::geteuid() != 0) {
            holds_ = true;
            return;
        }
        if (::syscall(SYS_capget, &header_, saved_) != 0) return;
        __user_cap_data_struct reduced[2] = {saved_[0], saved_[1]};
        for (const int cap : {CAP_DAC_OVERRIDE, CAP_DAC_READ_SEARCH, CAP_FOWNER})
            reduced[0].effective &= ~(1u << cap);
        holds_ = dropped_ = ::syscall(SYS_capset, &header_, reduced) == 0;
    }
    ~TPermissionBitsHold() {
        if (dropped_) ::syscall(SYS_capset, &header_, saved_);
    }
    TPermissionBitsHold(const TPermissionBitsHold&) = delete;
    TPermissionBitsHold& operator=(const TPermissionBitsHold&) = delete;
    [[nodiscard]] bool Holds() const noexcept { return holds_; }

private:
    __user_cap_header_struct header_{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct saved_[2] = {};
    bool holds_ = false;
    bool dropped_ = false;
};

ino_t InodeOf(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 ? info.st_ino : 0;
}

constexpr const char* kExported = "\"N\"\r\n7\r\n";

struct TCase {
    const char* name;
    bool folderWritable;
    const char* oldContent;  // nullptr: no target before the export
    mode_t targetMode;
    // Expected:
    int errorCode;        // 0: the export succeeds
    bool sameFile;        // the target was written in place (its inode kept)
    const char* content;  // the target afterwards, nullptr: none
};

class ExportTargetTest : public test::StandInSchemaTest {
protected:
    void SetUp() override {
        StandInSchemaTest::SetUp();
        Sql("CREATE TABLE T (N NUMBER(3))");
        Sql("INSERT INTO T VALUES (7)");
    }
    void TearDown() override { ::chmod(folder_.c_str(), 0755); }

    std::string folder_ = dir_.File("out");
};

class ExportFolderTest : public ExportTargetTest, public ::testing::WithParamInterface<TCase> {};

TEST_P(ExportFolderTest, WritesWhereTheFolderAllows) {
    const TCase& c = GetParam();
    ASSERT_EQ(::mkdir(folder_.c_str(), 0755), 0);
    const std::string target = folder_ + "/t.csv";
    if (c.oldContent) {
        test::WriteBytes(target, c.oldContent);
        ::chmod(target.c_str(), c.targetMode);
    }
    const ino_t before = InodeOf(target);
    if (!c.folderWritable) ::chmod(folder_.c_str(), 0555);
    int errorCode = 0;
    std::string message;
    {
        TPermissionBitsHold bits;
        if (!bits.Holds()) GTEST_SKIP() << "cannot make root obey permission bits here";
        try {
            TUserTable(*session_).ExportCsv(target, "T");
        } catch (const EInOutError& e) {
            errorCode = e.ErrorCode();
            message = e.what();
        }
    }
    EXPECT_EQ(errorCode, c.errorCode) << message;
    if (c.errorCode != 0) {
        EXPECT_EQ(message, InOutErrorMessage(c.errorCode) + ": " + target);
    }
    if (c.content) {
        EXPECT_EQ(test::ReadBytes(target), c.content);
        if (c.oldContent) {
            EXPECT_EQ(InodeOf(target) == before, c.sameFile);
        }
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(folder_))
            names.push_back(entry.path().filename().string());
        EXPECT_THAT(names, ElementsAre("t.csv")) << "a temporary file was left";
    } else {
        EXPECT_FALSE(std::filesystem::exists(target));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Folders, ExportFolderTest,
    ::testing::Values(TCase{"NewFile", true, nullptr, 0, 0, false, kExported},
                      TCase{"ReplacedByRename", true, "old", 0644, 0, false, kExported},
                      TCase{"ReadOnlyFolderWritableTargetInPlace", false, "old", 0644, 0, true,
                            kExported},
                      TCase{"ReadOnlyFolderReadOnlyTarget", false, "old", 0444, 5, true, "old"},
                      TCase{"ReadOnlyFolderNoTarget", false, nullptr, 0, 5, false, nullptr}),
    [](const auto& param) { return std::string(param.param.name); });

// A folder that is not there: the message says which path was meant.
TEST_F(ExportTargetTest, MissingFolderIsNamed) {
    const std::string target = dir_.File("no/such/t.csv");
    try {
        TUserTable(*session_).ExportCsv(target, "T");
        FAIL() << "exported into a missing folder";
    } catch (const EInOutError& e) {
        EXPECT_EQ(e.ErrorCode(), 2);
        EXPECT_EQ(e.FileName(), target);
        EXPECT_STREQ(e.what(), ("ファイルが見つかりません: " + target).c_str());
    }
}

}  // namespace
}  // namespace velnor::app
