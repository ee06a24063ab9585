#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <vector>

#include "TempDir.h"
#include "app/core/TextFile.h"

using namespace velnor::app;
using test::ReadBytes;
using test::WriteBytes;
using ::testing::ElementsAre;
using ::testing::ThrowsMessage;

namespace {

struct TextFileTest : ::testing::Test {
    void TearDown() override { TTextFile::SetWriteFault(0, 0); }

    // Every line of a file the way an import walks it.
    std::vector<std::string> Lines(std::string_view bytes) {
        WriteBytes(path, bytes);
        TTextFile f;
        f.OpenForReading(path);
        std::vector<std::string> lines;
        while (!f.AtEnd()) {
            lines.push_back(f.ReadLine());
            f.SkipLineEnd();
        }
        f.Close();
        return lines;
    }

    test::TempDir dir;
    std::string path = dir.File("t.csv");
};

TEST_F(TextFileTest, WritesBytesUnchangedWithCrLfAndNoByteOrderMark) {
    TTextFile f;
    f.OpenForWriting(path);
    f.WriteLine("a,\"b\"");
    f.WriteLine("");
    f.WriteLine("日本\n語");
    f.Write("x");
    EXPECT_EQ(f.Position(), 22u);
    f.Close();
    EXPECT_EQ(ReadBytes(path), "a,\"b\"\r\n\r\n日本\n語\r\nx");
}

TEST_F(TextFileTest, OpeningForWritingCutsAnExistingFile) {
    WriteBytes(path, std::string(100000, 'x'));
    TTextFile f;
    f.OpenForWriting(path);
    f.WriteLine("a");
    f.Close();
    EXPECT_EQ(ReadBytes(path), "a\r\n");
}

struct ReadCase {
    const char* name;
    std::string bytes;
    std::vector<std::string> lines;
};

class ReadLinesTest : public TextFileTest, public ::testing::WithParamInterface<ReadCase> {};

TEST_P(ReadLinesTest, SplitsAtCarriageReturnsAndStopsAtCtrlZ) {
    EXPECT_EQ(Lines(GetParam().bytes), GetParam().lines);
}

INSTANTIATE_TEST_SUITE_P(
    Files, ReadLinesTest,
    ::testing::Values(
        ReadCase{"CrLf", "a\r\nb\r\n", {"a", "b"}}, ReadCase{"NoFinalBreak", "a\r\nb", {"a", "b"}},
        ReadCase{"Cr", "a\rb\r", {"a", "b"}}, ReadCase{"LfOnlyIsOneLine", "a\nb\n", {"a\nb\n"}},
        ReadCase{"EmptyLine", "a\r\n\r\nb", {"a", "", "b"}},
        ReadCase{"CrCrLf", "a\r\r\nb", {"a", "", "b"}}, ReadCase{"LfCr", "a\n\rb", {"a\n", "b"}},
        ReadCase{"CtrlZInTheMiddle", std::string("ab\x1a\r\ncd"), {"ab"}},
        ReadCase{"CtrlZAfterLine", std::string("ab\r\n\x1a"), {"ab"}},
        ReadCase{"CtrlZInALaterBlock",
                 std::string(100000, 'x') + "\x1a" + "yy\r\n",
                 {std::string(100000, 'x')}},
        ReadCase{"CtrlZOnly", std::string("\x1a"), {}}, ReadCase{"Empty", "", {}},
        ReadCase{"NulBytesKept", std::string("a\0b\r\n", 5), {std::string("a\0b", 3)}}),
    [](const auto& param) { return param.param.name; });

TEST_F(TextFileTest, AtLineEndLooksWithoutConsuming) {
    WriteBytes(path, "\r\nab\rc");
    TTextFile f;
    f.OpenForReading(path);
    EXPECT_TRUE(f.AtLineEnd());  // an empty first line
    EXPECT_TRUE(f.AtLineEnd());
    EXPECT_EQ(f.ReadLine(), "");
    f.SkipLineEnd();
    EXPECT_FALSE(f.AtLineEnd());
    EXPECT_EQ(f.ReadLine(), "ab");
    EXPECT_TRUE(f.AtLineEnd());
    EXPECT_EQ(f.ReadLine(), "");  // the CR is not consumed by reading
    f.SkipLineEnd();
    EXPECT_EQ(f.Position(), 5u);
    EXPECT_EQ(f.ReadLine(), "c");
    EXPECT_TRUE(f.AtLineEnd());
    EXPECT_TRUE(f.AtEnd());
}

TEST_F(TextFileTest, AnEmptyFileIsAtLineEndAtOnce) {
    WriteBytes(path, "");
    TTextFile f;
    f.OpenForReading(path);
    EXPECT_TRUE(f.AtLineEnd());
    EXPECT_TRUE(f.AtEnd());
    EXPECT_EQ(f.ReadLine(), "");
}

TEST_F(TextFileTest, LinesHaveNoLengthLimitAndCrossBufferEdges) {
    // Line ends placed around the 64 KiB read size, with the LF of a CR LF in the next block.
    std::string bytes;
    std::vector<std::string> expected;
    for (std::size_t length : {65535u, 1u, 65534u, 2000000u, 0u, 65536u}) {
        expected.emplace_back(length, static_cast<char>('a' + expected.size()));
        bytes += expected.back() + "\r\n";
    }
    EXPECT_EQ(Lines(bytes), expected);
}

TEST_F(TextFileTest, LongLinesWriteThroughAndStayInOrder) {
    TTextFile f;
    f.OpenForWriting(path);
    const std::string big(300000, 'b');
    f.WriteLine("a");
    f.WriteLine(big);
    f.WriteLine("c");
    f.Close();
    EXPECT_EQ(ReadBytes(path), "a\r\n" + big + "\r\nc\r\n");
}

TEST_F(TextFileTest, TellsWhetherDataFollowsTheCtrlZ) {
    struct Case {
        std::string bytes;
        bool data;
    };
    for (const Case& c : {Case{"a\r\n\x1a\r\n", false},
                          Case{"a\x1a"
                               "b",
                               true},
                          Case{"a\r\n", false}, Case{"\x1a\x1a", false},
                          Case{"a\x1a" + std::string(200000, '\n') + "z", true}}) {
        WriteBytes(path, c.bytes);
        TTextFile f;
        f.OpenForReading(path);
        EXPECT_EQ(f.DataAfterEndMark(), c.data) << c.bytes.size();
    }
}

struct ErrorCase {
    int systemError;
    int code;
    const char* message;
};

class ErrorMessageTest : public ::testing::TestWithParam<ErrorCase> {};

TEST_P(ErrorMessageTest, MapsSystemErrorsToTheMessageTable) {
    const int code = InOutErrorCode(GetParam().systemError, true);
    EXPECT_EQ(code, GetParam().code);
    EXPECT_EQ(InOutErrorMessage(code), GetParam().message);
}

INSTANTIATE_TEST_SUITE_P(
    Errors, ErrorMessageTest,
    ::testing::Values(ErrorCase{ENOENT, 2, "ファイルが見つかりません"},
                      ErrorCase{ENAMETOOLONG, 3, "不正なファイル名です"},
                      ErrorCase{EMFILE, 4, "オープンしたファイルが多すぎます"},
                      ErrorCase{EACCES, 5, "ファイルへのアクセスが拒否されました"},
                      ErrorCase{EISDIR, 5, "ファイルへのアクセスが拒否されました"},
                      ErrorCase{ENOSPC, 101, "ディスクがいっぱいです"},
                      ErrorCase{EIO, 29, "I/O エラー (29)"},
                      ErrorCase{ETXTBSY, 32, "I/O エラー (32)"}));

TEST_F(TextFileTest, OpenFailuresRaiseWithTheirCode) {
    TTextFile f;
    EXPECT_THAT([&] { f.OpenForReading(dir.File("missing.csv")); },
                ThrowsMessage<EInOutError>("ファイルが見つかりません"));
    EXPECT_THAT([&] { f.OpenForWriting(dir.File("no/such/dir.csv")); },
                ThrowsMessage<EInOutError>("ファイルが見つかりません"));
    EXPECT_THAT([&] { f.OpenForReading(dir.Path().string()); },
                ThrowsMessage<EInOutError>("ファイルへのアクセスが拒否されました"));
    EXPECT_THAT([&] { f.OpenForWriting(dir.Path().string()); },
                ThrowsMessage<EInOutError>("ファイルへのアクセスが拒否されました"));
    EXPECT_FALSE(f.IsOpen());
}

TEST_F(TextFileTest, AFileWithoutReadPermissionIsDenied) {
    TTextFile f;
    const bool root = geteuid() == 0;
    // Root reads every file; a read-only attribute of the kernel refuses even root.
    if (root && access("/sys/kernel/notes", F_OK) != 0) GTEST_SKIP() << "no file denies root";
    if (root) path = "/sys/kernel/notes";
    WriteBytes(root ? dir.File("unused") : path, "a");
    if (!root) chmod(path.c_str(), 0);
    try {
        if (root)
            f.OpenForWriting(path);
        else
            f.OpenForReading(path);
        FAIL() << "opened";
    } catch (const EInOutError& e) {
        EXPECT_EQ(e.ErrorCode(), 5);
        EXPECT_EQ(e.FileName(), path);
    }
}

TEST_F(TextFileTest, DiskFullIsRaisedAtCloseWhenTheLinesWereBuffered) {
    TTextFile f;
    f.OpenForWriting("/dev/full");
    f.WriteLine("short");
    try {
        f.Close();
        FAIL() << "closed without an error";
    } catch (const EInOutError& e) {
        EXPECT_EQ(e.ErrorCode(), 101);
    }
    EXPECT_FALSE(f.IsOpen());
}

TEST_F(TextFileTest, DiskFullIsRaisedAtTheWriteAndAgainAtEveryLaterWrite) {
    TTextFile f;
    f.OpenForWriting("/dev/full");
    const std::string line(1000, 'x');
    int raised = 0;
    for (int i = 0; i < 200; ++i) {
        try {
            f.WriteLine(line);
        } catch (const EInOutError& e) {
            EXPECT_EQ(e.ErrorCode(), 101);
            ++raised;
        }
    }
    EXPECT_GT(raised, 100);      // no write after the first failure went through silently
    EXPECT_NO_THROW(f.Close());  // the failure was reported already
}

TEST_F(TextFileTest, InjectedFaultFailsTheNthWrite) {
    TTextFile f;
    f.OpenForWriting(path);
    TTextFile::SetWriteFault(2, ENOSPC);
    const std::string block(40000, 'x');
    f.WriteLine(block);
    f.WriteLine(block);  // first write to the system
    EXPECT_THAT([&] { f.WriteLine(block); }, ThrowsMessage<EInOutError>("ディスクがいっぱいです"));
    f.Close();
    EXPECT_EQ(ReadBytes(path).size(), 40002u);  // only the first block reached the file
}

TEST_F(TextFileTest, InjectedFaultAtTheFinalFlushComesOutOfClose) {
    TTextFile f;
    f.OpenForWriting(path);
    f.WriteLine("a");
    TTextFile::SetWriteFault(1, EIO);
    EXPECT_THAT([&] { f.Close(); }, ThrowsMessage<EInOutError>("I/O エラー (29)"));
    TTextFile again;
    again.OpenForWriting(path);  // the fault fired once and is gone
    again.WriteLine("b");
    again.Close();
    EXPECT_EQ(ReadBytes(path), "b\r\n");
}

TEST_F(TextFileTest, EnvironmentVariableInjectsAFaultInAFreshProcess) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    setenv("VELNOR_FAIL_WRITE", "1", 1);
    EXPECT_EXIT(
        {
            TTextFile f;
            f.OpenForWriting(path);
            f.WriteLine("a");
            try {
                f.Close();
            } catch (const EInOutError& e) {
                _exit(e.ErrorCode());
            }
            _exit(0);
        },
        ::testing::ExitedWithCode(101), "");
    unsetenv("VELNOR_FAIL_WRITE");
}

TEST_F(TextFileTest, StepsOnAFileInTheWrongModeRaise) {
    TTextFile f;
    EXPECT_THROW(f.WriteLine("a"), EInOutError);
    f.OpenForWriting(path);
    EXPECT_THROW((void)f.ReadLine(), EInOutError);
    f.Close();
    EXPECT_NO_THROW(f.Close());
    f.OpenForReading(path);
    EXPECT_THROW(f.WriteLine("a"), EInOutError);
}

}  // namespace
