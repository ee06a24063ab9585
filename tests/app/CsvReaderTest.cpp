#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <tuple>

#include "app/core/CsvReader.h"
#include "app/core/TextFile.h"
#include "tests/app/TempDir.h"

namespace velnor::app {
namespace {

using ::testing::HasSubstr;

struct Record {
    std::int64_t line;
    std::vector<std::string> fields;
    friend bool operator==(const Record&, const Record&) = default;
    friend std::ostream& operator<<(std::ostream& os, const Record& r) {
        os << "line " << r.line << ":";
        for (const auto& f : r.fields) os << " [" << f << "]";
        return os;
    }
};

std::vector<Record> ReadAll(const std::string& bytes, std::size_t bufferSize) {
    TCsvMemorySource source(bytes);
    TCsvReader reader(source, bufferSize);
    std::vector<Record> out;
    while (reader.ReadRecord()) {
        const auto fields = reader.Fields();
        out.push_back({reader.RecordLine(), {fields.begin(), fields.end()}});
    }
    EXPECT_FALSE(reader.ReadRecord()) << "the end stays the end";
    return out;
}

struct ReadCase {
    const char* name;
    std::string bytes;
    std::vector<Record> expected;
    friend void PrintTo(const ReadCase& c, std::ostream* os) { *os << c.name; }
};

// Every case runs with tiny buffers too, so a record split across refills is covered.
class CsvReaderReadTest : public ::testing::TestWithParam<std::tuple<ReadCase, std::size_t>> {};

TEST_P(CsvReaderReadTest, ReadsRecordsWithTheirStartingLines) {
    const auto& [c, bufferSize] = GetParam();
    EXPECT_EQ(ReadAll(c.bytes, bufferSize), c.expected);
}

const std::string kZ(1, '\x1a');

const ReadCase kReadCases[] = {
    {"Empty", "", {}},
    {"HeaderOnly", "\"A\",\"B\"\r\n", {{1, {"A", "B"}}}},
    {"CrLf", "\"A\",\"B\"\r\n1,x\r\n2,y\r\n", {{1, {"A", "B"}}, {2, {"1", "x"}}, {3, {"2", "y"}}}},
    {"LfOnly", "A,B\n1,x\n2,y\n", {{1, {"A", "B"}}, {2, {"1", "x"}}, {3, {"2", "y"}}}},
    {"CrOnly", "A,B\r1,x\r2,y\r", {{1, {"A", "B"}}, {2, {"1", "x"}}, {3, {"2", "y"}}}},
    {"NoFinalLineEnd", "A\r\n1", {{1, {"A"}}, {2, {"1"}}}},
    {"EmptyLinesSkippedNotEnding", "A\r\n\r\n1\n\n\r2\r\n", {{1, {"A"}}, {3, {"1"}}, {6, {"2"}}}},
    {"FirstLineEmpty", "\r\nA\r\n1\r\n", {{2, {"A"}}, {3, {"1"}}}},
    {"EmptyFields", ",,\r\n,\r\n", {{1, {"", "", ""}}, {2, {"", ""}}}},
    {"QuotedEmpty", "\"\",x\r\n", {{1, {"", "x"}}}},
    {"DoubledQuotes", "\"say \"\"hi\"\"\",\"\"\"\"\r\n", {{1, {"say \"hi\"", "\""}}}},
    {"CommaInsideQuotes", "\"a,b\",c\r\n", {{1, {"a,b", "c"}}}},
    {"LineBreaksInsideQuotes",
     "\"one\r\ntwo\",\"three\nfour\rfive\"\r\nnext\r\n",
     {{1, {"one\r\ntwo", "three\nfour\rfive"}}, {5, {"next"}}}},
    {"StrayQuoteInUnquotedFieldIsText", "ab\"c,5\" wide\r\n", {{1, {"ab\"c", "5\" wide"}}}},
    {"BlanksKept", " a , \"b\"\r\n", {{1, {" a ", " \"b\""}}}},
    {"JapaneseText",
     "\"名前\",\"住所\"\r\n\"山田太郎\",\"東京都、千代田区\"\r\n",
     {{1, {"名前", "住所"}}, {2, {"山田太郎", "東京都、千代田区"}}}},
    {"SpreadsheetStyle",
     "\"ID\",\"NAME\",\"NOTE\"\n1,\"Smith, J\",\"said \"\"ok\"\"\"\n2,Jones,\n3,\"multi\nline\",x",
     {{1, {"ID", "NAME", "NOTE"}},
      {2, {"1", "Smith, J", "said \"ok\""}},
      {3, {"2", "Jones", ""}},
      {4, {"3", "multi\nline", "x"}}}},
    {"CtrlZEndsTheFile", "A\r\n1\r\n" + kZ, {{1, {"A"}}, {2, {"1"}}}},
    {"CtrlZThenLineEndsAndPadding", "A\r\n" + kZ + "\r\n\n" + kZ + kZ, {{1, {"A"}}}},
    {"CtrlZEndsARecordWithoutLineEnd", "A\r\n1,2" + kZ, {{1, {"A"}}, {2, {"1", "2"}}}},
    {"CtrlZInsideQuotesIsData", "\"a" + kZ + "b\"\r\n", {{1, {"a" + kZ + "b"}}}},
    {"CrLfCountsAsOneLine", "a\r\n\r\n\rb\n\r\nc", {{1, {"a"}}, {4, {"b"}}, {6, {"c"}}}},
};

INSTANTIATE_TEST_SUITE_P(Cases, CsvReaderReadTest,
                         ::testing::Combine(::testing::ValuesIn(kReadCases),
                                            ::testing::Values(1, 2, 3, 7, 4096)),
                         [](const auto& p) {
                             return std::string(std::get<0>(p.param).name) + "_buffer" +
                                    std::to_string(std::get<1>(p.param));
                         });

struct ErrorCase {
    const char* name;
    std::string bytes;
    std::size_t maxFields;
    std::int64_t line;
    int column;
    const char* message;
    friend void PrintTo(const ErrorCase& c, std::ostream* os) { *os << c.name; }
};

class CsvReaderErrorTest : public ::testing::TestWithParam<std::tuple<ErrorCase, std::size_t>> {};

TEST_P(CsvReaderErrorTest, RaisesNamingTheLine) {
    const auto& [c, bufferSize] = GetParam();
    TCsvMemorySource source(c.bytes);
    TCsvReader reader(source, bufferSize);
    reader.SetMaxFields(c.maxFields);
    try {
        while (reader.ReadRecord()) {
        }
        FAIL() << "no error raised";
    } catch (const ECsvError& e) {
        EXPECT_EQ(e.Line(), c.line);
        EXPECT_EQ(e.Column(), c.column);
        EXPECT_THAT(e.what(), HasSubstr(c.message));
        EXPECT_THAT(e.what(), HasSubstr(std::to_string(c.line) + " 行目"));
    }
}

const ErrorCase kErrorCases[] = {
    {"DataAfterCtrlZ", "A\r\n1\r\n" + kZ + "\r\n2\r\n", 0, 4, 0, "Ctrl+Z"},
    {"DataRightAfterCtrlZ", "A\r\n" + kZ + "x", 0, 2, 0, "Ctrl+Z"},
    {"UnclosedQuoteNamesTheRecordStart", "A\r\n1,\"abc\r\n2\r\n", 0, 2, 2,
     "引用符が閉じられていません"},
    {"TextAfterClosingQuote", "A\r\n\"ab\"c,1\r\n", 0, 2, 1, "閉じ引用符の後に文字があります"},
    {"MoreFieldsThanColumns", "A,B\r\n1,2\r\n1,2,3\r\n", 2, 3, 0, "列数 (2) を超えています"},
};

INSTANTIATE_TEST_SUITE_P(Cases, CsvReaderErrorTest,
                         ::testing::Combine(::testing::ValuesIn(kErrorCases),
                                            ::testing::Values(1, 3, 4096)),
                         [](const auto& p) {
                             return std::string(std::get<0>(p.param).name) + "_buffer" +
                                    std::to_string(std::get<1>(p.param));
                         });

TEST(CsvReaderTest, CountsConsumedBytesForProgress) {
    const std::string bytes = "A,B\r\n1,2\r\n3,4\r\n";
    TCsvMemorySource source(bytes);
    TCsvReader reader(source, 4);
    ASSERT_TRUE(reader.ReadRecord());
    EXPECT_EQ(reader.BytesRead(), 5u);
    while (reader.ReadRecord()) {
    }
    EXPECT_EQ(reader.BytesRead(), bytes.size());
}

TEST(CsvReaderTest, LongRecordIsReadWhole) {
    const std::string big(1 << 20, 'x');
    const auto records = ReadAll("\"" + big + "\"," + big + "\r\n", 1000);
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].fields, (std::vector<std::string>{big, big}));
}

TEST(CsvReaderTest, FieldStorageIsReusedWithoutLeakingOldValues) {
    const auto records = ReadAll("long value,second,third\r\nx\r\n", 4096);
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[1].fields, (std::vector<std::string>{"x"}));
}

TEST(CsvFileSourceTest, ReadsAFileInPieces) {
    test::TempDir dir;
    const std::string path = dir.File("t.csv");
    test::WriteBytes(path, "\"A\"\r\n1\r\n2");
    TCsvFileSource source(path);
    EXPECT_EQ(source.Size(), 9u);
    TCsvReader reader(source, 3);
    std::vector<std::string> seen;
    while (reader.ReadRecord()) seen.push_back(reader.Fields()[0]);
    EXPECT_EQ(seen, (std::vector<std::string>{"A", "1", "2"}));
}

TEST(CsvFileSourceTest, MissingFileOrDirectoryRaisesTheFileError) {
    test::TempDir dir;
    EXPECT_THAT([&] { TCsvFileSource source(dir.File("missing.csv")); },
                ::testing::ThrowsMessage<EInOutError>(HasSubstr("ファイルが見つかりません")));
    EXPECT_THAT(
        [&] { TCsvFileSource source(dir.Path().string()); },
        ::testing::ThrowsMessage<EInOutError>(HasSubstr("ファイルへのアクセスが拒否されました")));
}

}  // namespace
}  // namespace velnor::app
