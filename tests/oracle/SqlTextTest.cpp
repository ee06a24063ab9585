#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "oracle/query/SqlText.h"
#include "platform/Exception.h"

namespace velnor::oracle {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

struct ScanCase {
    const char* text;
    bool all;
    std::vector<TPlaceholder> expected;
};

class ScanVariableNamesTest : public ::testing::TestWithParam<ScanCase> {};

TEST_P(ScanVariableNamesTest, ListsPlaceholdersOutsideLiteralsAndComments) {
    EXPECT_EQ(ScanVariableNames(GetParam().text, GetParam().all), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, ScanVariableNamesTest,
    ::testing::Values(
        ScanCase{
            "select * from t where a = :a and b = :b or c = :A", false, {{"A", 27}, {"B", 38}}},
        ScanCase{"select * from t where a = :a and b = :b or c = :A",
                 true,
                 {{"A", 27}, {"B", 38}, {"A", 48}}},
        ScanCase{"begin x := :a; end;", false, {{"A", 12}}},
        ScanCase{"select ':x' from dual where a = :y", true, {{"Y", 33}}},
        ScanCase{"select /* :x */ 1 from dual", true, {}},
        ScanCase{"select 1 -- :x\r\n from t where a = :y", true, {{"Y", 35}}},
        ScanCase{"select 1 -- :x\n from t where a = :y", true, {{"Y", 34}}},  // server ends at LF
        ScanCase{"select :1, :2 from dual", true, {{"1", 8}, {"2", 12}}},
        ScanCase{"x ::a", true, {}},  // second colon ends an empty name, "a" is then plain
        ScanCase{"a :=b", true, {}},
        ScanCase{":x", true, {{"X", 1}}},  // a name at the very end is complete
        ScanCase{"a = :x$#_9y", true, {{"X$#_9Y", 5}}},
        ScanCase{"a = :\xe5\x90\x8d\xe5\x89\x8d+1", true, {{"\xe5\x90\x8d\xe5\x89\x8d", 5}}},
        ScanCase{"\"c:x\" = 1", true, {{"X", 3}}},  // double quotes are not literals
        // The character that ends a name is not looked at again: no literal opens here.
        ScanCase{":a' :b", true, {{"A", 1}, {"B", 5}}},
        ScanCase{"/*/ :a */ :b", true, {{"B", 11}}},  // "/*/" leaves the comment open
        ScanCase{"'it''s :a' :b", true, {{"B", 12}}},
        ScanCase{"select 1 from dual /* :a", true, {}}, ScanCase{"a = 'open :a", true, {}}));

TEST(SqlLinesTest, TextEndsEveryLineWithCrLf) {
    TSqlLines lines;
    EXPECT_EQ(lines.Text(), "");
    lines.Add("select *");
    lines.Add("");
    lines.Add("from t");
    EXPECT_EQ(lines.Text(), "select *\r\n\r\nfrom t\r\n");
}

TEST(SqlLinesTest, SetTextSplitsAtEveryKindOfLineBreak) {
    TSqlLines lines;
    lines.SetText("a\r\nb\nc\rd\r\n");
    EXPECT_THAT(lines.Lines(), ElementsAre("a", "b", "c", "d"));
    lines.SetText("x\n\ny");
    EXPECT_THAT(lines.Lines(), ElementsAre("x", "", "y"));
    lines.SetText("");
    EXPECT_THAT(lines.Lines(), IsEmpty());
}

TEST(SqlLinesTest, IndexOutsideTheLinesRaises) {
    TSqlLines lines({"a"});
    EXPECT_THROW((void)lines.Line(1), platform::Exception);
    EXPECT_THROW((void)lines.Line(-1), platform::Exception);
    EXPECT_THROW(lines.Insert(2, "x"), platform::Exception);
    lines.Insert(1, "b");
    lines.Delete(0);
    EXPECT_THAT(lines.Lines(), ElementsAre("b"));
}

}  // namespace
}  // namespace velnor::oracle
