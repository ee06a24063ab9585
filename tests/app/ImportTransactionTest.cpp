// The import transaction on the stand-in client library: what each way out of it leaves
// in the table, for this session and for another one.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <stdlib.h>

#include <optional>

#include "app/core/ImportTransaction.h"
#include "app/core/TextFile.h"
#include "app/core/UserTable.h"
#include "oracle/client/OracleError.h"
#include "tests/app/StandInSchema.h"

namespace velnor::app {
namespace {

using ::testing::ElementsAreArray;

const std::vector<std::string> kOld = {"1|old", "2|old"};
const std::vector<std::string> kNew = {"3|new", "4|new"};

enum class TEnding {
    Commit,       // imported and committed
    Drop,         // imported, then the object goes out of scope
    Cancel,       // the progress callback says stop
    BadLine,      // a field the column cannot take
    NoFile,       // the file is gone when the import opens it
    CommitFails,  // the client call of the commit fails
};

struct TCase {
    const char* name;
    TImportMode mode;
    TEnding ending;
    std::vector<std::string> expected;  // rows of T afterwards, seen by both sessions
};

class ImportTransactionTest : public test::StandInSchemaTest {
protected:
    void SetUp() override {
        StandInSchemaTest::SetUp();
        Sql("CREATE TABLE T (N NUMBER(9), S VARCHAR2(10))");
        Sql("INSERT INTO T VALUES (1, 'old')");
        Sql("INSERT INTO T VALUES (2, 'old')");
        session_->Commit();
    }

    std::string File(bool bad) {
        const std::string path = dir_.File("t.csv");
        test::WriteBytes(path, bad ? "N,S\r\n3,new\r\nfour,new\r\n" : "N,S\r\n3,new\r\n4,new\r\n");
        return path;
    }

    std::vector<std::string> Table(bool committed = false) {
        return Rows("SELECT N, S FROM T ORDER BY N", committed);
    }
};

class ImportEndingTest : public ImportTransactionTest,
                         public ::testing::WithParamInterface<TCase> {};

TEST_P(ImportEndingTest, LeavesTheTableAsExpected) {
    const TCase& c = GetParam();
    TUserTable tables(*session_);
    {
        TImportTransaction work(tables, "T", c.mode);
        // Seen between the delete and the first insert.
        std::optional<std::vector<std::string>> atStart;
        work.BeforeImport = [&](TImportTransaction&) { atStart = Table(); };
        const bool cancel = c.ending == TEnding::Cancel;
        const auto progress = [cancel](const TTransferProgress&) { return !cancel; };
        if (c.ending == TEnding::Cancel) {
            EXPECT_THROW(work.Import(File(false), progress), ECancelled);
        } else if (c.ending == TEnding::NoFile) {
            const std::string gone = dir_.File("gone.csv");
            EXPECT_THAT([&] { work.Import(gone, progress); },
                        ::testing::ThrowsMessage<EInOutError>("ファイルが見つかりません: " + gone));
        } else if (c.ending == TEnding::BadLine) {
            EXPECT_THROW(work.Import(File(true), progress), platform::Exception);
        } else {
            work.Import(File(false), progress);
        }
        ASSERT_TRUE(atStart.has_value());
        EXPECT_EQ(*atStart, c.mode == TImportMode::imReplace ? std::vector<std::string>{} : kOld);
        if (c.ending == TEnding::Commit) work.Commit();
        if (c.ending == TEnding::CommitFails) {
            ::setenv("OCISQLITE_FAIL_CALL", "1", 1);
            EXPECT_THROW(work.Commit(), oracle::EOracleError);
            ::unsetenv("OCISQLITE_FAIL_CALL");
        }
        EXPECT_EQ(work.Committed(), c.ending == TEnding::Commit);
    }
    EXPECT_THAT(Table(), ElementsAreArray(c.expected));
    EXPECT_THAT(Table(true), ElementsAreArray(c.expected));
}

INSTANTIATE_TEST_SUITE_P(
    Endings, ImportEndingTest,
    ::testing::Values(TCase{"AppendCommitted",
                            TImportMode::imAppend,
                            TEnding::Commit,
                            {"1|old", "2|old", "3|new", "4|new"}},
                      TCase{"ReplaceCommitted", TImportMode::imReplace, TEnding::Commit, kNew},
                      TCase{"AppendDropped", TImportMode::imAppend, TEnding::Drop, kOld},
                      TCase{"ReplaceDropped", TImportMode::imReplace, TEnding::Drop, kOld},
                      TCase{"ReplaceCancelled", TImportMode::imReplace, TEnding::Cancel, kOld},
                      TCase{"ReplaceNoFile", TImportMode::imReplace, TEnding::NoFile, kOld},
                      TCase{"ReplaceBadLine", TImportMode::imReplace, TEnding::BadLine, kOld},
                      TCase{"ReplaceCommitFails", TImportMode::imReplace, TEnding::CommitFails,
                            kOld}),
    [](const auto& param) { return std::string(param.param.name); });

// Once committed, the transaction is finished: nothing more runs in it, and a late
// rollback (a failed refresh after the import) takes nothing back.
TEST_F(ImportTransactionTest, FinishedTransactionRefusesMoreWork) {
    TUserTable tables(*session_);
    TImportTransaction work(tables, "T", TImportMode::imReplace);
    work.Import(File(false));
    work.Commit();
    EXPECT_THROW(work.Commit(), platform::Exception);
    EXPECT_THROW(work.Import(File(false)), platform::Exception);
    work.Rollback();
    EXPECT_THAT(Table(true), ElementsAreArray(kNew));

    TImportTransaction undone(tables, "T", TImportMode::imReplace);
    undone.Import(File(false));
    undone.Rollback();
    EXPECT_THROW(undone.Commit(), platform::Exception);
    EXPECT_THAT(Table(), ElementsAreArray(kNew));
}

}  // namespace
}  // namespace velnor::app
