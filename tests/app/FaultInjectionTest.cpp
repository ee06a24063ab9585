// Export and import with one client call, or one file write, failing: every point where the
// stand-in can fail is tried in turn, and each failed run must leave everything as it was.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <iostream>
#include <memory>

#include "app/core/CustomOracleQuery.h"
#include "app/core/TextFile.h"
#include "app/core/UserTable.h"
#include "oracle/client/OciLibrary.h"
#include "oracle/client/OracleError.h"
#include "oracle/query/Probes.h"
#include "oracle/session/OracleSession.h"
#include "platform/RegionalSettings.h"
#include "platform/System.h"
#include "tests/app/StandInSchema.h"
#include "tests/app/TempDir.h"
#include "tests/support/TempHome.h"

namespace velnor::app {
namespace {

using ::testing::ContainsRegex;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::Not;
using ::testing::StartsWith;

constexpr const char* kFailCall = "OCISQLITE_FAIL_CALL";
constexpr const char* kLostConnection = "ORA-03113: end-of-file on communication channel";
// The stand-in's observers on the environment handle, outside Oracle's attribute numbers.
constexpr ub4 kAttrLiveChildren = 30001;
constexpr ub4 kAttrFaultCalls = 30002;
// No operation here makes this many calls: a loop that gets there never completes.
constexpr int kMaxFaultPoints = 10000;

// Three fetch batches of 1024 rows, three import batches and several 64 KiB file writes.
constexpr int kRows = 3000;
constexpr int kCliRows = 1500;

constexpr const char* kColumns =
    "ID NUMBER(9), AMOUNT NUMBER(12,2), NAME VARCHAR2(40), "
    "HIRED DATE, NOTE VARCHAR2(120)";
constexpr const char* kCsvHeader = "\"ID\",\"AMOUNT\",\"NAME\",\"HIRED\",\"NOTE\"\r\n";
constexpr const char* kSelectRows =
    "SELECT ID, AMOUNT, NAME, TO_CHAR(HIRED,'YYYYMMDDHH24MISS'), NOTE FROM T ORDER BY ID";

// Row i of one generation of the table's contents: the values as text, empty for NULL.
struct TRow {
    std::string id, amount, name, hired, note;
};

TRow MakeRow(int i, int generation) {
    TRow r;
    r.id = std::to_string(i);
    if (i % 7 != 0) r.amount = std::to_string(i * 2 + generation) + ".25";
    if (i % 11 != 0) {
        r.name = (i % 13 == 0 ? "O'Neil, \"J\" " : "name ") + std::to_string(i) +
                 (generation == 0 ? "a" : "b");
    }
    if (i % 5 != 0) {
        char date[32];
        std::snprintf(date, sizeof date, "%04d%02d%02d%02d%02d%02d", 1990 + i % 30 + generation,
                      1 + i % 12, 1 + i % 28, i % 24, i * 7 % 60, i * 13 % 60);
        r.hired = date;
    }
    if (i % 3 != 0) {
        r.note = "備考 " + std::to_string(i) + (i % 17 == 0 ? "\r\nsecond line" : " one line") +
                 std::string(static_cast<std::size_t>(50 + i % 40), 'x');
    }
    return r;
}

std::string Quoted(const std::string& text) {
    std::string out = "\"";
    for (char c : text) {
        if (c == '"') out += '"';
        out += c;
    }
    return out + "\"";
}

// The file an export of rows 1 .. rows writes; an import reads the same layout.
std::string CsvFile(int rows, int generation) {
    std::string file = kCsvHeader;
    for (int i = 1; i <= rows; ++i) {
        const TRow r = MakeRow(i, generation);
        file += r.id + "," + r.amount + "," + Quoted(r.name) + "," + r.hired + "," +
                Quoted(r.note) + "\r\n";
    }
    return file;
}

// The rows as kSelectRows reads them, NULL shown as <null>.
std::vector<std::string> TableRows(int rows, int generation) {
    const auto shown = [](const std::string& v) { return v.empty() ? "<null>" : v; };
    std::vector<std::string> out;
    for (int i = 1; i <= rows; ++i) {
        const TRow r = MakeRow(i, generation);
        out.push_back(r.id + "|" + shown(r.amount) + "|" + shown(r.name) + "|" + shown(r.hired) +
                      "|" + shown(r.note));
    }
    return out;
}

// The stand-in fails its nth client call while this lives.
class TFailCall {
public:
    explicit TFailCall(int nth) { ::setenv(kFailCall, std::to_string(nth).c_str(), 1); }
    ~TFailCall() { ::unsetenv(kFailCall); }
    TFailCall(const TFailCall&) = delete;
    TFailCall& operator=(const TFailCall&) = delete;
};

std::size_t OpenDescriptors() {
    std::size_t n = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/fd"))
        ++n;
    return n;
}

// How one run of an operation under a fault ended.
struct TRun {
    bool failed = false;
    bool reachedFault = false;
    std::string error;
};

class FaultInjectionTest : public test::StandInSchemaTest {
protected:
    static void SetUpTestSuite() {
        ::unsetenv(kFailCall);
        StandInSchemaTest::SetUpTestSuite();
    }
    void TearDown() override {
        ::unsetenv(kFailCall);
        TTextFile::SetWriteFault(0, 0);
    }

    // Table T with `rows` rows of the generation, committed.
    void CreateTable(int rows, int generation) {
        Sql(std::string("CREATE TABLE T (") + kColumns + ")");
        const std::string file = dir_.File("setup.csv");
        test::WriteBytes(file, CsvFile(rows, generation));
        TUserTable(*session_).ImportCsv(file, "T");
        session_->Commit();
        std::filesystem::remove(file);
        ASSERT_EQ(Rows(), TableRows(rows, generation));
    }

    // As velnor-cli runs it: replace the rows of T, commit only when all went in.
    void ReplaceRows(const std::string& file) {
        TUserTable tables(*session_);
        try {
            tables.DeleteAll("T");
            tables.ImportCsv(file, "T");
            session_->Commit();
        } catch (...) {
            session_->Rollback();
            throw;
        }
    }

    std::vector<std::string> Rows(bool committed = false) {
        return StandInSchemaTest::Rows(kSelectRows, committed);
    }

    ub4 Observe(ub4 attribute) const {
        ub4 value = 0;
        // An OCI7 session has no environment handle: an OCI8 one looks on instead.
        const auto& session = observer_ ? *observer_ : *session_;
        const sword status =
            oracle::Oci().OCIAttrGet(session.EnvironmentHandle(), OCI_HTYPE_ENV, &value, nullptr,
                                     attribute, session.ErrorHandle());
        EXPECT_EQ(status, OCI_SUCCESS) << "attribute " << attribute;
        return value;
    }

    // Runs the operation with the stand-in failing its nth call, checks that it released
    // every handle and descriptor and every file it opened, and tells whether the run got
    // as far as the failing call.
    TRun RunWithFailingCall(int nth, const std::function<void()>& operation) {
        const ub4 handles = Observe(kAttrLiveChildren);
        const std::size_t files = OpenDescriptors();
        TRun run;
        {
            TFailCall fail(nth);
            try {
                operation();
            } catch (const std::exception& e) {
                run.failed = true;
                run.error = e.what();
            }
            run.reachedFault = Observe(kAttrFaultCalls) >= static_cast<ub4>(nth);
        }
        EXPECT_EQ(Observe(kAttrLiveChildren), handles) << "handles left allocated";
        EXPECT_EQ(OpenDescriptors(), files) << "files left open";
        return run;
    }

    // Steps n through 1, 2, 3 ... until the operation no longer reaches the nth call: each
    // run that reaches it must fail with the lost connection's message (checkFailed then
    // looks at the message and at what the run left), and the final run must succeed
    // (checkDone). Returns that n.
    int FaultLoop(const std::function<void()>& operation,
                  const std::function<void(const std::string& error)>& checkFailed,
                  const std::function<void()>& checkDone) {
        for (int n = 1; n < kMaxFaultPoints; ++n) {
            SCOPED_TRACE("client call " + std::to_string(n) + " failing");
            const TRun run = RunWithFailingCall(n, operation);
            if (run.failed) {
                EXPECT_TRUE(run.reachedFault) << "failed before the fault: " << run.error;
                EXPECT_THAT(run.error, HasSubstr(kLostConnection));
                checkFailed(run.error);
            } else {
                // A failed call that ends in a success would hide a lost connection.
                EXPECT_FALSE(run.reachedFault) << "the failing call went unnoticed";
                checkDone();
                return n;
            }
            if (HasFailure()) return n;
        }
        ADD_FAILURE() << "the operation never completed";
        return kMaxFaultPoints;
    }

    void Report(const char* key, const char* what, int n) {
        RecordProperty(key, n);
        std::cout << "[ faults   ] " << what << ": " << n << "\n";
    }

    std::unique_ptr<oracle::TOracleSession> observer_;
};

// The loops below rely on this: the nth call fails once, and every new value counts afresh.
TEST_F(FaultInjectionTest, NthCallFailsOnceAndEveryNewValueCountsAgain) {
    const auto select = [&] {
        TCustomOracleQuery q(*session_);
        q.SetText("SELECT 1 FROM DUAL");
        q.Execute();
    };
    select();  // warms the session up: every later select makes the same calls
    ::setenv(kFailCall, "1", 1);
    EXPECT_THROW(select(), oracle::EOracleError);
    const ub4 calls = Observe(kAttrFaultCalls);
    EXPECT_GE(calls, 1u);
    EXPECT_NO_THROW(select());
    EXPECT_NO_THROW(select());
    const ub4 perSelect = (Observe(kAttrFaultCalls) - calls) / 2;
    ASSERT_GT(perSelect, 1u);
    ::setenv(kFailCall, std::to_string(perSelect + 1).c_str(), 1);  // the second select's first
    EXPECT_NO_THROW(select());
    EXPECT_THAT([&] { select(); },
                ::testing::ThrowsMessage<oracle::EOracleError>(HasSubstr(kLostConnection)));
    ::setenv(kFailCall, "x", 1);  // not a number: nothing fails
    EXPECT_NO_THROW(select());
    ::unsetenv(kFailCall);
    EXPECT_NO_THROW(select());
    ::setenv(kFailCall, "1", 1);  // set again after being unset: counts from the start
    EXPECT_THROW(select(), oracle::EOracleError);
}

// A measurement of the connection, cached by the session once it succeeds.
struct TProbeCase {
    const char* name;
    std::function<int(oracle::TOracleSession&)> probe;     // measures, caches nothing
    std::function<int(oracle::TOracleSession&)> measured;  // the session's cached value
    friend void PrintTo(const TProbeCase& c, std::ostream* os) { *os << c.name; }
};

struct FaultInjectionProbeTest : FaultInjectionTest, ::testing::WithParamInterface<TProbeCase> {};

// A probe that lost its connection used to cache its fallback for the whole session.
TEST_P(FaultInjectionProbeTest, LostConnectionIsReportedAndNothingIsCached) {
    session_->SetBytesPerCharacter(oracle::TBytesPerCharacterOption::bcAutoDetect);
    const int expected = GetParam().probe(*session_);
    int value = 0;
    const int n = FaultLoop([&] { value = GetParam().measured(*session_); },
                            [&](const std::string&) {}, [&] { EXPECT_EQ(value, expected); });
    EXPECT_GT(n, 1);
    EXPECT_EQ(GetParam().measured(*session_), expected);
}

INSTANTIATE_TEST_SUITE_P(
    Probes, FaultInjectionProbeTest,
    ::testing::Values(
        TProbeCase{"BytesPerCharacter", oracle::ProbeBytesPerCharacter,
                   [](oracle::TOracleSession& s) { return oracle::BytesPerCharacter(s); }},
        TProbeCase{"DateFormatLength", oracle::ProbeDateFormatLength,
                   [](oracle::TOracleSession& s) { return oracle::DateFormatLength(s); }}),
    [](const auto& p) { return std::string(p.param.name); });

TEST_F(FaultInjectionTest, ExportLeavesTheEarlierFileAtEveryFailingCall) {
    CreateTable(kRows, 0);
    const std::string target = dir_.File("t.csv");
    const std::string earlier = CsvFile(10, 1);
    test::WriteBytes(target, earlier);
    const int n = FaultLoop([&] { TUserTable(*session_).ExportCsv(target, "T"); },
                            [&](const std::string&) {
                                EXPECT_EQ(test::ReadBytes(target), earlier);
                                EXPECT_THAT(DirectoryEntries(), ElementsAre("t.csv"));
                            },
                            [&] {
                                EXPECT_EQ(test::ReadBytes(target), CsvFile(kRows, 0));
                                EXPECT_THAT(DirectoryEntries(), ElementsAre("t.csv"));
                            });
    Report("fault_points", "export completed at failing call", n);
}

TEST_F(FaultInjectionTest, ExportLeavesTheEarlierFileAtEveryFailingWrite) {
    CreateTable(kRows, 0);
    const std::string target = dir_.File("t.csv");
    const std::string earlier = CsvFile(10, 1);
    test::WriteBytes(target, earlier);
    const std::string expected = CsvFile(kRows, 0);
    ASSERT_GT(expected.size(), 4u * 64 * 1024) << "too few writes to step through";
    int n = 1;
    for (; n < kMaxFaultPoints; ++n) {
        SCOPED_TRACE("write " + std::to_string(n) + " failing");
        const ub4 handles = Observe(kAttrLiveChildren);
        const std::size_t files = OpenDescriptors();
        TTextFile::SetWriteFault(n, ENOSPC);
        bool failed = false;
        try {
            TUserTable(*session_).ExportCsv(target, "T");
        } catch (const EInOutError& e) {
            failed = true;
            EXPECT_EQ(e.ErrorCode(), 101);
            EXPECT_THAT(e.what(), HasSubstr("ディスクがいっぱいです"));
        }
        TTextFile::SetWriteFault(0, 0);  // a fault not reached must not strike later
        EXPECT_EQ(Observe(kAttrLiveChildren), handles) << "handles left allocated";
        EXPECT_EQ(OpenDescriptors(), files) << "files left open";
        EXPECT_THAT(DirectoryEntries(), ElementsAre("t.csv"));
        if (!failed) {
            EXPECT_EQ(test::ReadBytes(target), expected);
            break;
        }
        EXPECT_EQ(test::ReadBytes(target), earlier);
        if (HasFailure()) break;
    }
    EXPECT_GT(n, 4) << "the export finished before the later writes were tried";
    Report("fault_points", "export completed at failing write", n);
}

// The OCI7 cursor calls count in the same sequence as the OCI8 ones.
TEST_F(FaultInjectionTest, Oci7ExportAndImportLeaveEverythingAtEveryFailingCall) {
    CreateTable(kRows, 0);
    observer_ = std::move(session_);
    session_ = Logon(true);
    ASSERT_FALSE(session_->UsingOCI8());
    const std::string target = dir_.File("t.csv");
    const std::string earlier = CsvFile(10, 1);
    test::WriteBytes(target, earlier);
    const int exported = FaultLoop([&] { TUserTable(*session_).ExportCsv(target, "T"); },
                                   [&](const std::string&) {
                                       EXPECT_EQ(test::ReadBytes(target), earlier);
                                       EXPECT_THAT(DirectoryEntries(), ElementsAre("t.csv"));
                                   },
                                   [&] { EXPECT_EQ(test::ReadBytes(target), CsvFile(kRows, 0)); });
    Report("fault_points", "OCI7 export completed at failing call", exported);

    const std::string file = dir_.File("in.csv");
    test::WriteBytes(file, CsvFile(kRows, 1));
    const auto before = TableRows(kRows, 0);
    const int imported = FaultLoop([&] { ReplaceRows(file); },
                                   [&](const std::string&) { EXPECT_EQ(Rows(), before); },
                                   [&] { EXPECT_EQ(Rows(true), TableRows(kRows, 1)); });
    Report("fault_points", "OCI7 import completed at failing call", imported);
}

TEST_F(FaultInjectionTest, ImportRollsBackAtEveryFailingCall) {
    CreateTable(kRows, 0);
    const std::string file = dir_.File("in.csv");
    test::WriteBytes(file, CsvFile(kRows, 1));
    const auto before = TableRows(kRows, 0);
    const int n = FaultLoop([&] { ReplaceRows(file); },
                            [&](const std::string& error) {
                                EXPECT_EQ(Rows(), before);
                                // A lost connection is no fault of one line: the message names the
                                // whole batch.
                                EXPECT_THAT(error, Not(ContainsRegex("^[0-9]+ 行目")));
                            },
                            [&] { EXPECT_EQ(Rows(true), TableRows(kRows, 1)); });
    Report("fault_points", "import completed at failing call", n);
}

// LeakSanitizer looks at every child as it exits, so under the sanitizer build this also
// shows that no failing run leaks.
TEST_F(FaultInjectionTest, CliImportExitsWithTheErrorAndKeepsTheTableAtEveryFailingCall) {
    const std::string program = std::string(VELNOR_BINARY_DIR) + "/app/velnor-cli";
    ASSERT_TRUE(std::filesystem::exists(program)) << "build velnor-cli first";
    CreateTable(kCliRows, 0);
    const std::string file = dir_.File("in.csv");
    test::WriteBytes(file, CsvFile(kCliRows, 1));
    const auto before = TableRows(kCliRows, 0);
    const auto after = TableRows(kCliRows, 1);
    platform::SetEnvironment("VELNOR_REGISTRY_DIR", dir_.Path().string());
    platform::SetEnvironment("VELNOR_PASSWORD", kPassword);
    int n = 1;
    int failedAfterCommit = 0;  // runs where only logging off was left to fail
    for (; n < kMaxFaultPoints; ++n) {
        SCOPED_TRACE("client call " + std::to_string(n) + " failing");
        velnor::test::TProcessResult result;
        {
            TFailCall fail(n);
            result = velnor::test::RunProgram({program, "OCIDLL=" + home_->ClientLibrary(),
                                               "--logon", user_ + "@" + kService, "import", "T",
                                               file, "--replace"});
        }
        EXPECT_THAT(result.output, Not(HasSubstr("Sanitizer")));
        EXPECT_THAT(result.output, Not(HasSubstr("runtime error")));
        const auto rows = Rows(true);
        if (result.exitCode == 0 && result.output.empty()) {
            EXPECT_EQ(rows, after);
            break;
        }
        EXPECT_THAT(result.output, StartsWith("velnor-cli: "));
        EXPECT_THAT(result.output, HasSubstr(kLostConnection));
        EXPECT_EQ(std::count(result.output.begin(), result.output.end(), '\n'), 1) << result.output;
        if (failedAfterCommit > 0 || rows != before) {
            // Once committed, only logging off is left: a warning, and success for the script.
            EXPECT_EQ(rows, after);
            EXPECT_EQ(result.exitCode, 0);
            EXPECT_THAT(result.output, HasSubstr("warning: logoff failed"));
            ++failedAfterCommit;
        } else {
            EXPECT_EQ(result.exitCode, 1);
        }
        if (HasFailure()) break;
    }
    platform::UnsetEnvironment("VELNOR_REGISTRY_DIR");
    platform::UnsetEnvironment("VELNOR_PASSWORD");
    EXPECT_LT(n, kMaxFaultPoints);
    Report("fault_points", "velnor-cli import completed at failing call", n);
    Report("failed_after_commit", "velnor-cli runs failing after the commit", failedAfterCommit);
}

}  // namespace
}  // namespace velnor::app
