// Exports and imports when the machine lets them down: a full device, a file size limit, a
// file that ends early or shrinks while it is read, a program killed in the middle.
#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <set>
#include <thread>

#include "app/core/CsvReader.h"
#include "app/core/CustomOracleQuery.h"
#include "app/core/TextFile.h"
#include "app/core/UserTable.h"
#include "oracle/client/OciLibrary.h"
#include "oracle/session/OracleSession.h"
#include "platform/RegionalSettings.h"
#include "platform/System.h"
#include "tests/app/StandInSchema.h"
#include "tests/app/TempDir.h"
#include "tests/support/TempHome.h"

namespace velnor::app {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::Not;

std::string CliProgram() { return std::string(VELNOR_BINARY_DIR) + "/app/velnor-cli"; }

// A program with standard output and error on one pipe, read while it runs.
class TChild {
public:
    // `fileSizeLimit` > 0 caps the size of the files it writes (RLIMIT_FSIZE).
    explicit TChild(const std::vector<std::string>& argv, rlim_t fileSizeLimit = 0) {
        int out[2];
        if (::pipe2(out, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
        std::vector<char*> args;
        for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        pid_ = ::fork();
        if (pid_ == 0) {
            const int null = ::open("/dev/null", O_RDONLY);
            ::dup2(null, 0);
            ::dup2(out[1], 1);
            ::dup2(out[1], 2);
            // The program must ignore the signal itself; one ignored here would be inherited.
            ::signal(SIGXFSZ, SIG_DFL);
            ::signal(SIGPIPE, SIG_DFL);
            if (fileSizeLimit > 0) {
                const rlimit limit{fileSizeLimit, fileSizeLimit};
                ::setrlimit(RLIMIT_FSIZE, &limit);
            }
            ::execv(args[0], args.data());
            ::_exit(127);
        }
        ::close(out[1]);
        if (pid_ < 0) {
            ::close(out[0]);
            throw std::runtime_error("fork failed");
        }
        out_ = out[0];
    }
    ~TChild() {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            (void)Wait();
        }
        if (out_ >= 0) ::close(out_);
    }
    TChild(const TChild&) = delete;
    TChild& operator=(const TChild&) = delete;

    // Reads output until it contains `text` or the program closes its output; true when seen.
    bool WaitForOutput(const std::string& text, std::chrono::seconds timeout) {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        while (output_.find(text) == std::string::npos) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0 || !ReadSome(static_cast<int>(left.count()))) return false;
        }
        return true;
    }
    // Reads the rest of the output and reaps the program; the waitpid status.
    int Wait() {
        while (ReadSome(-1)) {
        }
        int status = 0;
        while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
        }
        pid_ = -1;
        return status;
    }
    void Kill(int signal) const { ::kill(pid_, signal); }
    [[nodiscard]] pid_t Pid() const noexcept { return pid_; }
    [[nodiscard]] const std::string& Output() const noexcept { return output_; }

private:
    bool ReadSome(int timeoutMs) {
        if (out_ < 0) return false;
        pollfd p{out_, POLLIN, 0};
        if (::poll(&p, 1, timeoutMs) <= 0) return timeoutMs < 0;
        char buf[4096];
        const ssize_t n = ::read(out_, buf, sizeof buf);
        if (n < 0 && errno == EINTR) return true;
        if (n <= 0) {
            ::close(out_);
            out_ = -1;
            return false;
        }
        output_.append(buf, static_cast<std::size_t>(n));
        return true;
    }

    pid_t pid_ = -1;
    int out_ = -1;
    std::string output_;
};

// Opens the reading end of a pipe and closes it again, so a writer blocked opening its end
// goes on when the code under test never opened the pipe.
void ReleasePipeWriter(const std::string& fifo) {
    const int fd = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd >= 0) ::close(fd);
}

// Writes all of `bytes` into the pipe; stops quietly when the reader has gone.
void FeedPipe(const std::string& fifo, const std::string& bytes) {
    const int fd = ::open(fifo.c_str(), O_WRONLY);
    if (fd < 0) return;
    for (std::size_t done = 0; done < bytes.size();) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += static_cast<std::size_t>(n);
    }
    ::close(fd);
}

std::set<std::string> EntriesOf(const std::filesystem::path& dir) {
    std::set<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(dir))
        names.insert(e.path().filename().string());
    return names;
}

struct stat StatOf(const std::string& path) {
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0) throw std::runtime_error("cannot stat " + path);
    return info;
}

// One home for the program; every test logs on as a user of its own with a table EMP.
class FileFaultTest : public test::StandInSchemaTest {
protected:
    static void SetUpTestSuite() {
        // A pipe's reader that stops early must fail the writer's write, not end the tests.
        ::signal(SIGPIPE, SIG_IGN);
        StandInSchemaTest::SetUpTestSuite();
    }

    void SetUp() override {
        StandInSchemaTest::SetUp();
        Sql("CREATE TABLE EMP (ID NUMBER(9), NAME VARCHAR2(40))");
        Sql("INSERT INTO EMP VALUES (1, 'one')");
        Sql("INSERT INTO EMP VALUES (2, 'two, \"2\"')");
        Sql("INSERT INTO EMP VALUES (3, NULL)");
        session_->Commit();
        before_ = Rows();
    }

    // Doubles the table until it holds at least `count` rows, and commits.
    void AddRows(int count) {
        for (int n = Count(*session_); n < count; n = Count(*session_))
            Sql("INSERT INTO EMP SELECT ID + " + std::to_string(n) + ", NAME FROM EMP");
        session_->Commit();
    }
    static int Count(oracle::TOracleSession& session) {
        TCustomOracleQuery q(session);
        q.SetText("SELECT COUNT(*) FROM EMP");
        q.Execute();
        return static_cast<int>(q.FieldAsInteger(0));
    }

    // The rows as a fresh session sees them, so only committed ones count.
    std::vector<std::string> Rows() {
        return StandInSchemaTest::Rows("SELECT ID, NAME FROM EMP ORDER BY ID", true);
    }

    std::vector<std::string> Cli(const std::vector<std::string>& command) const {
        std::vector<std::string> argv{CliProgram(), "OCIDLL=" + home_->ClientLibrary(), "--logon",
                                      user_ + "@" + kService};
        argv.insert(argv.end(), command.begin(), command.end());
        return argv;
    }

    // The export of EMP as a regular file holds it.
    std::string RegularExport() {
        const std::string path = dir_.File("reference.csv");
        TUserTable(*session_).ExportCsv(path, "EMP");
        return test::ReadBytes(path);
    }

    std::vector<std::string> before_;
};

// ---- export into what is not a regular file ----

struct DeviceCase {
    const char* name;
    const char* device;
    int errorCode;  // 0: the export succeeds
};

struct ExportToDevice : FileFaultTest, ::testing::WithParamInterface<DeviceCase> {
    // The same device as a node of the test's own, so a fault replaces that node and not the
    // system's. Only a process that may not create nodes uses the system's one, and such a
    // process cannot replace anything in /dev either.
    std::string Device() const {
        const std::string system = GetParam().device;
        const std::string dir = dir_.File("dev");
        std::filesystem::create_directory(dir);
        const std::string node = dir + "/" + platform::FileNameOf(system);
        if (::mknod(node.c_str(), S_IFCHR | 0666, StatOf(system).st_rdev) == 0) {
            const int fd = ::open(node.c_str(), O_WRONLY | O_CLOEXEC);
            if (fd >= 0) {
                ::close(fd);
                return node;
            }
            ::unlink(node.c_str());  // a file system that ignores device nodes
        }
        std::filesystem::remove(dir);
        return ::access("/dev", W_OK) != 0 ? system : std::string();
    }
};

// The export used to write a temporary file next to the device and rename it over it.
TEST_P(ExportToDevice, WritesIntoTheDeviceAndLeavesItInPlace) {
    const std::string device = Device();
    if (device.empty()) GTEST_SKIP() << "cannot make a device node, and /dev is writable";
    const struct stat before = StatOf(device);
    ASSERT_TRUE(S_ISCHR(before.st_mode));
    const std::string dir = platform::DirectoryOf(device);
    const auto entries = EntriesOf(dir);
    // Once by its name, once through a link to it.
    const std::string link = dir_.File("link.csv");
    std::filesystem::create_symlink(device, link);
    for (const std::string& target : {device, link}) {
        try {
            TUserTable(*session_).ExportCsv(target, "EMP");
            EXPECT_EQ(GetParam().errorCode, 0) << target << ": no error";
        } catch (const EInOutError& e) {
            EXPECT_EQ(e.ErrorCode(), GetParam().errorCode) << target << ": " << e.what();
        }
        const struct stat after = StatOf(device);
        EXPECT_TRUE(S_ISCHR(after.st_mode)) << target;
        EXPECT_EQ(after.st_rdev, before.st_rdev) << target;
        EXPECT_EQ(EntriesOf(dir), entries) << target;
    }
    EXPECT_TRUE(std::filesystem::is_symlink(link));
}

INSTANTIATE_TEST_SUITE_P(FileFault, ExportToDevice,
                         ::testing::Values(DeviceCase{"Full", "/dev/full", 101},
                                           DeviceCase{"Null", "/dev/null", 0}),
                         [](const auto& p) { return std::string(p.param.name); });

TEST_F(FileFaultTest, ExportIntoAPipeStreamsTheRowsAndKeepsThePipe) {
    const std::string expected = RegularExport();
    const std::string fifo = dir_.File("pipe.csv");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    // Both ends are open before the export starts, and this writer keeps the pipe's end
    // away until the export is over, whatever the export did with the pipe.
    const int readEnd = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(readEnd, 0);
    ::fcntl(readEnd, F_SETFL, 0);
    const int keeper = ::open(fifo.c_str(), O_WRONLY | O_CLOEXEC);
    ASSERT_GE(keeper, 0);
    std::string received;
    std::thread reader([&] {
        char buf[4096];
        for (;;) {
            const ssize_t n = ::read(readEnd, buf, sizeof buf);
            if (n > 0) {
                received.append(buf, static_cast<std::size_t>(n));
            } else if (n == 0 || errno != EINTR) {
                break;
            }
        }
        ::close(readEnd);
    });
    try {
        TUserTable(*session_).ExportCsv(fifo, "EMP");
    } catch (...) {
        ::close(keeper);
        reader.join();
        throw;
    }
    ::close(keeper);
    reader.join();
    EXPECT_EQ(received, expected);
    EXPECT_TRUE(S_ISFIFO(StatOf(fifo).st_mode));
    EXPECT_THAT(EntriesOf(dir_.Path()), ElementsAre("pipe.csv", "reference.csv"));
}

TEST_F(FileFaultTest, ExportOntoADirectoryFailsAndLeavesItAlone) {
    const std::string target = dir_.File("folder.csv");
    std::filesystem::create_directory(target);
    test::WriteBytes(target + "/inside", "x");
    try {
        TUserTable(*session_).ExportCsv(target, "EMP");
        FAIL() << "exported onto a directory";
    } catch (const EInOutError& e) {
        EXPECT_EQ(e.ErrorCode(), 5);
        EXPECT_EQ(e.FileName(), target);
    }
    EXPECT_TRUE(std::filesystem::is_directory(target));
    EXPECT_EQ(EntriesOf(target), std::set<std::string>{"inside"});
    EXPECT_EQ(EntriesOf(dir_.Path()), std::set<std::string>{"folder.csv"});
}

// ---- a file size limit ----

// Past the limit the write fails with EFBIG; the signal that comes with it used to end
// velnor-cli at once, leaving its temporary file and no message.
TEST_F(FileFaultTest, ExportPastTheFileSizeLimitFailsAndKeepsTheEarlierFile) {
    ASSERT_TRUE(std::filesystem::exists(CliProgram())) << "build velnor-cli first";
    AddRows(20000);  // about 400 KB of CSV
    platform::SetEnvironment("VELNOR_PASSWORD", kPassword);
    for (const bool earlier : {true, false}) {
        const std::string target = dir_.File(earlier ? "kept.csv" : "new.csv");
        if (earlier) test::WriteBytes(target, "earlier export\r\n");
        TChild cli(Cli({"export", "EMP", target}), 64 * 1024);
        const int status = cli.Wait();
        ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
        EXPECT_EQ(WEXITSTATUS(status), 1) << cli.Output();
        EXPECT_THAT(cli.Output(), HasSubstr(target + ": ディスクがいっぱいです"));
        if (earlier) {
            EXPECT_EQ(test::ReadBytes(target), "earlier export\r\n");
        } else {
            EXPECT_FALSE(std::filesystem::exists(target));
        }
    }
    EXPECT_EQ(EntriesOf(dir_.Path()), std::set<std::string>{"kept.csv"});
    platform::UnsetEnvironment("VELNOR_PASSWORD");
}

// The GUI cannot be driven to an export from here; the signal's disposition in the running
// program shows whether a write past the limit fails there too instead of ending it.
TEST_F(FileFaultTest, GuiIgnoresTheFileSizeSignal) {
    const std::string gui = std::string(VELNOR_BINARY_DIR) + "/app/velnor";
    if (!std::filesystem::exists(gui)) GTEST_SKIP() << "the GUI is not built";
    platform::SetEnvironment("VELNOR_REGISTRY_DIR", dir_.File("registry"));
    TChild program({gui});
    const std::string status = "/proc/" + std::to_string(program.Pid()) + "/status";
    const unsigned long long bit = 1ull << (SIGXFSZ - 1);
    bool ignored = false;
    for (int i = 0; i < 200 && !ignored && ::kill(program.Pid(), 0) == 0; ++i) {
        std::ifstream in(status);
        for (std::string line; std::getline(in, line);) {
            if (line.rfind("SigIgn:", 0) == 0)
                ignored = (std::stoull(line.substr(7), nullptr, 16) & bit) != 0;
        }
        if (!ignored) std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    platform::UnsetEnvironment("VELNOR_REGISTRY_DIR");
    EXPECT_TRUE(ignored) << program.Output();
}

// ---- an import whose file cannot be read to its end ----

struct FileFaultImportTest : FileFaultTest {
    static std::string Records(int first, int last) {
        std::string text;
        for (int i = first; i <= last; ++i)
            text += std::to_string(i) + ",\"name " + std::to_string(i) + "\"\r\n";
        return text;
    }
    // Imports in the test's session, rolls back on failure as the programs do, and returns
    // the error message.
    std::string FailedImport(const std::string& path, const TProgressCallback& progress = {}) {
        std::string message = "(no error)";
        try {
            TUserTable(*session_).ImportCsv(path, "EMP", progress);
        } catch (const std::exception& e) {
            message = e.what();
        }
        EXPECT_EQ(Rows(), before_) << "committed by the failed import";
        session_->Rollback();
        EXPECT_EQ(Rows(), before_);
        return message;
    }
    const std::string header_ = "\"ID\",\"NAME\"\r\n";
};

// The writer goes away after more than a batch, in the middle of a quoted field.
TEST_F(FileFaultImportTest, PipeClosedInsideAQuotedFieldImportsNothing) {
    const std::string fifo = dir_.File("pipe.csv");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    std::thread writer(
        [&] { FeedPipe(fifo, header_ + Records(10, 1509) + "1510,\"cut off, in the mid"); });
    const std::string message = FailedImport(fifo);
    ReleasePipeWriter(fifo);
    writer.join();
    EXPECT_THAT(message, HasSubstr("1502 行目: 引用符が閉じられていません"));
}

struct CutCase {
    const char* name;
    int keptRecords;  // whole records left before the cut
    int cutInto;      // bytes of the next record left
};

struct FileCutWhileRead : FileFaultImportTest, ::testing::WithParamInterface<CutCase> {};

// The file shrinks after the reader has buffered its start. What is left may be a valid file
// of fewer rows; it used to be imported as if it were the whole file.
TEST_P(FileCutWhileRead, RaisesNamingTheFileAndImportsNothing) {
    const std::string path = dir_.File("shrinking.csv");
    const std::string bytes = header_ + Records(10, 40009);  // well beyond the reader's buffer
    test::WriteBytes(path, bytes);
    const std::size_t cut = header_.size() + Records(10, 9 + GetParam().keptRecords).size() +
                            static_cast<std::size_t>(GetParam().cutInto);
    ASSERT_GT(cut, TCsvReader::DefaultBufferSize);
    bool truncated = false;
    const std::string message = FailedImport(path, [&](const TTransferProgress&) {
        if (!truncated) truncated = ::truncate(path.c_str(), static_cast<off_t>(cut)) == 0;
        return true;
    });
    ASSERT_TRUE(truncated);
    EXPECT_THAT(message, HasSubstr(path));
    EXPECT_THAT(message, HasSubstr("読み込み中にファイルが短くなりました"));
    EXPECT_THAT(message, HasSubstr(std::to_string(bytes.size()) + " バイト"));
}

INSTANTIATE_TEST_SUITE_P(FileFault, FileCutWhileRead,
                         ::testing::Values(CutCase{"AtALineEnd", 20000, 0},
                                           CutCase{"InsideANumber", 20000, 3},
                                           CutCase{"InsideAQuotedField", 20000, 9}),
                         [](const auto& p) { return std::string(p.param.name); });

TEST_F(FileFaultImportTest, FileThatGrowsWhileReadIsImportedToItsEnd) {
    const std::string path = dir_.File("growing.csv");
    test::WriteBytes(path, header_ + Records(10, 20009));
    bool appended = false;
    TUserTable(*session_).ImportCsv(path, "EMP", [&](const TTransferProgress&) {
        if (!appended) {
            std::ofstream(path, std::ios::binary | std::ios::app) << Records(20010, 20019);
            appended = true;
        }
        return true;
    });
    session_->Commit();
    EXPECT_EQ(Rows().size(), before_.size() + 20010);
}

// The client library writes the database's files from the same process, under the same limit.
TEST_F(FileFaultImportTest, ImportPastTheFileSizeLimitRaisesAnOracleErrorAndChangesNothing) {
    ASSERT_TRUE(std::filesystem::exists(CliProgram())) << "build velnor-cli first";
    const std::string path = dir_.File("big.csv");
    test::WriteBytes(path, header_ + Records(10, 50009));
    platform::SetEnvironment("VELNOR_PASSWORD", kPassword);
    TChild cli(Cli({"import", "EMP", path, "--replace"}), 256 * 1024);
    const int status = cli.Wait();
    platform::UnsetEnvironment("VELNOR_PASSWORD");
    ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
    EXPECT_EQ(WEXITSTATUS(status), 1) << cli.Output();
    EXPECT_THAT(cli.Output(), HasSubstr("ORA-"));
    EXPECT_EQ(Rows(), before_);
    Sql("INSERT INTO EMP VALUES (4, 'after the failure')");
    session_->Commit();
    EXPECT_EQ(Rows().size(), before_.size() + 1);
}

// ---- a program killed in the middle ----

TEST_F(FileFaultImportTest, ImportKilledMidwayLeavesTheTableAsItWasAndWritable) {
    ASSERT_TRUE(std::filesystem::exists(CliProgram())) << "build velnor-cli first";
    const std::string path = dir_.File("big.csv");
    test::WriteBytes(path, header_ + Records(10, 200009));
    platform::SetEnvironment("VELNOR_PASSWORD", kPassword);
    session_->LogOff();  // the killed program must be the only one in the table
    {
        TChild cli(Cli({"--progress", "import", "EMP", path, "--replace"}));
        ASSERT_TRUE(cli.WaitForOutput("imported 3000 rows", std::chrono::seconds(60)))
            << cli.Output();
        cli.Kill(SIGKILL);
        const int status = cli.Wait();
        ASSERT_TRUE(WIFSIGNALED(status)) << "finished before the kill: " << cli.Output();
        EXPECT_THAT(cli.Output(), Not(HasSubstr("imported 200000 rows")));
    }
    platform::UnsetEnvironment("VELNOR_PASSWORD");
    EXPECT_EQ(Rows(), before_);
    session_ = Logon();
    Sql("INSERT INTO EMP VALUES (4, 'after the kill')");
    session_->Commit();
    before_.push_back("4|after the kill");
    EXPECT_EQ(Rows(), before_);
}

}  // namespace
}  // namespace velnor::app
