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

// Root passes permission bits through capabilities; with them out of the thread's
// effective set the bits hold for root too.
class TPermissionBitsHold {
public:
    TPermissionBitsHold() {
        if (::geteuid() != 0 || ::syscall(SYS_capget, &header_, saved_) != 0) {
            holds_ = ::geteuid() != 0;
            return;
        }
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

struct stat StatOf(const std::string& path) {
    struct stat info {};
    ::stat(path.c_str(), &info);
    return info;
}

constexpr const char* kExported = "\"N\"\r\n7\r\n";

struct TCase {
    const char* name;
    mode_t folderMode;       // 0: no folder
    const char* oldContent;  // nullptr: no target before
    mode_t targetMode;
    int errorCode;        // expected; 0: success
    bool inPlace;         // the target keeps its inode
    const char* content;  // the target afterwards; nullptr: none
};

class ExportTargetTest : public test::StandInSchemaTest,
                         public ::testing::WithParamInterface<TCase> {
protected:
    void SetUp() override {
        StandInSchemaTest::SetUp();
        Sql("CREATE TABLE T (N NUMBER(3))");
        Sql("INSERT INTO T VALUES (7)");
    }
    void TearDown() override { ::chmod(folder_.c_str(), 0755); }

    std::string folder_ = dir_.File("out");
};

TEST_P(ExportTargetTest, WritesWhereTheFolderAllowsAndNamesThePath) {
    const TCase& c = GetParam();
    const std::string target = folder_ + "/t.csv";
    if (c.folderMode != 0) {
        ASSERT_EQ(::mkdir(folder_.c_str(), 0755), 0);
    }
    if (c.oldContent) {
        test::WriteBytes(target, c.oldContent);
        ::chmod(target.c_str(), c.targetMode);
    }
    const ino_t before = StatOf(target).st_ino;
    if (c.folderMode != 0) ::chmod(folder_.c_str(), c.folderMode);
    std::string message;
    int errorCode = 0;
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
    if (!c.content) {
        EXPECT_FALSE(std::filesystem::exists(target));
        return;
    }
    EXPECT_EQ(test::ReadBytes(target), c.content);
    if (c.oldContent) {
        EXPECT_EQ(StatOf(target).st_ino == before, c.inPlace);
        EXPECT_EQ(StatOf(target).st_mode & 0777, c.targetMode) << "mode not kept";
    }
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder_), {}), 1)
        << "a temporary file was left";
}

INSTANTIATE_TEST_SUITE_P(
    Folders, ExportTargetTest,
    ::testing::Values(TCase{"NewFile", 0755, nullptr, 0, 0, false, kExported},
                      TCase{"ReplacedByRename", 0755, "old", 0640, 0, false, kExported},
                      TCase{"ClosedFolderWritableTarget", 0555, "old", 0644, 0, true, kExported},
                      TCase{"ClosedFolderReadOnlyTarget", 0555, "old", 0444, 5, true, "old"},
                      TCase{"ClosedFolderNoTarget", 0555, nullptr, 0, 5, false, nullptr},
                      TCase{"MissingFolder", 0, nullptr, 0, 2, false, nullptr}),
    [](const auto& param) { return std::string(param.param.name); });

}  // namespace
}  // namespace velnor::app
