#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>

#include "oracle/query/Variables.h"
#include "platform/Component.h"
#include "platform/DateTime.h"
#include "platform/Exception.h"

namespace velnor::oracle {
namespace {

using platform::TVariant;
using ::testing::HasSubstr;
using ::testing::ThrowsMessage;

struct FakeHost : TVariablesHost {
    TVariableSettings settings{true, 4000, false, true, true};
    int changes = 0;
    int cursorsPrepared = 0;
    Cda_Def cursorArea{};
    TVariableSettings VariableSettings() const override { return settings; }
    void VariablesChanged() override { ++changes; }
    bool AcceptsObject(std::int16_t typeCode, platform::TComponent&) const override {
        return typeCode == otCursor;
    }
    void* PrepareCursorVariable(platform::TComponent&, bool) override {
        ++cursorsPrepared;
        return &cursorArea;
    }
};

TVariant Ints(std::vector<int> values, int low = 0) {
    std::vector<TVariant> elements;
    for (int v : values) elements.emplace_back(static_cast<std::int32_t>(v));
    return TVariant::Array(std::move(elements), low);
}

TVariant Texts(std::vector<std::string> values) {
    std::vector<TVariant> elements;
    for (auto& v : values) elements.emplace_back(std::move(v));
    return TVariant::Array(std::move(elements));
}

std::vector<int> Bytes(const TVariableData& v, std::size_t count) {
    std::vector<int> out;
    for (std::size_t i = 0; i < count; ++i) out.push_back(static_cast<int>(v.Slot(0)[i]));
    return out;
}

struct VariablesTest : ::testing::Test {
    FakeHost host;
    TVariables vars{&host};
    const TVariableData& Var(const char* name) { return *vars.Find(name); }
};

// ---- declarations ----

TEST_F(VariablesTest, NamesAreNormalisedAndRedeclarationKeepsThePlace) {
    vars.AddVariable("empno", otInteger);
    vars.AddVariable("ename", otString);
    vars.SetVariableValue(":EMPNO", TVariant(std::int32_t{7}));
    EXPECT_EQ(vars.GetVariableName(0), ":EMPNO");
    EXPECT_EQ(vars.GetVariableIndex(":Empno"), 0);
    EXPECT_EQ(vars.GetVariableIndex("EMPNO"), 0);
    EXPECT_EQ(vars.GetVariableIndex("mgr"), -1);

    vars.AddVariable("EmpNo", otString);
    ASSERT_EQ(vars.Count(), 2);
    EXPECT_EQ(vars.GetVariableType(0), otString);
    EXPECT_TRUE(vars.GetVariableValue("empno").IsUnassigned());
}

TEST_F(VariablesTest, DeclarationGivesTheTypeItsBufferAndANull) {
    struct Case {
        int type;
        std::size_t size;
    };
    for (const Case c :
         {Case{otSubstitution, 0}, Case{otInteger, 4}, Case{otFloat, 8}, Case{otString, 4001},
          Case{otLong, 0}, Case{otBigString, 32513}, Case{otDate, 7}, Case{otLongRaw, 0},
          Case{otFixedChar, 4001}, Case{otCursor, 0}, Case{otCLOB, 0}}) {
        vars.AddVariable("v", c.type);
        const TVariableData& v = Var("v");
        EXPECT_EQ(v.ElementSize(), c.size) << c.type;
        EXPECT_EQ(v.HasBuffer(), c.size > 0) << c.type;
        EXPECT_EQ(v.ElementCount(), 1u);
        EXPECT_TRUE(v.IsNull(0));
    }
}

TEST_F(VariablesTest, DeclarationErrorsKeepTheList) {
    EXPECT_THAT(
        [&] { vars.AddVariable("", otInteger); },
        ThrowsMessage<platform::Exception>("You cannot declare a variable with an empty name"));
    vars.AddVariable("a", otInteger);
    vars.SetVariableValue("a", TVariant(std::int32_t{5}));
    // A failed redeclaration used to drop the variable it was meant to replace.
    EXPECT_THAT([&] { vars.AddVariable("a", 2); },
                ThrowsMessage<platform::Exception>("Unsupported variable type"));
    ASSERT_EQ(vars.Count(), 1);
    EXPECT_EQ(vars.GetVariableValue("a"), TVariant(std::int32_t{5}));
    EXPECT_THAT([&] { (void)vars.GetVariableName(1); },
                ThrowsMessage<platform::Exception>("Variable 1 does not exist"));
    EXPECT_THAT([&] { vars.SetVariableValue("b", TVariant(1.0)); },
                ThrowsMessage<platform::Exception>("Variable :B not declared"));
    EXPECT_THAT([&] { (void)vars.GetVariableValue("b"); },
                ThrowsMessage<platform::Exception>("Unknown variable: :B"));
    EXPECT_THAT([&] { vars.RemoveVariable("b"); },
                ThrowsMessage<platform::Exception>("Variable :B not declared"));
}

TEST_F(VariablesTest, DeclarationsAndRemovalsTellTheQuery) {
    vars.AddVariable("a", otInteger);
    vars.AddVariable("b", otInteger);
    vars.RemoveVariable("a");
    vars.RemoveAllVariables();
    EXPECT_EQ(host.changes, 4);
    EXPECT_EQ(vars.Count(), 0);
}

// ---- values ----

TEST_F(VariablesTest, ScalarValuesReadBackAsStored) {
    vars.AddVariable("i", otInteger);
    vars.AddVariable("f", otFloat);
    vars.AddVariable("s", otString);
    vars.AddVariable("l", otLong);
    vars.AddVariable("r", otLongRaw);
    vars.SetVariableValue("i", TVariant("-42"));
    vars.SetVariableValue("f", TVariant(2.5));
    vars.SetVariableValue("s", TVariant("abc"));
    vars.SetVariableValue("l", TVariant(std::string("x\0y", 3)));
    vars.SetVariableValue("r", TVariant::FromBytes({1, 0, 255}));
    EXPECT_EQ(vars.GetVariableValue("i"), TVariant(std::int32_t{-42}));
    EXPECT_EQ(vars.GetVariableValue("f"), TVariant(2.5));
    EXPECT_EQ(vars.GetVariableValue("s"), TVariant("abc"));
    EXPECT_EQ(vars.GetVariableValue("l"), TVariant(std::string("x\0y", 3)));
    EXPECT_EQ(vars.GetVariableValue("r"), TVariant::FromBytes({1, 0, 255}));
    EXPECT_EQ(Var("l").ValueLength(), 3u);
    EXPECT_EQ(Var("r").ElementSize(), 3u);
}

TEST_F(VariablesTest, NullsReadAsTheSessionAsks) {
    vars.AddVariable("i", otInteger);
    vars.SetVariableValue("i", TVariant(std::int32_t{1}));
    vars.SetVariableValue("i", TVariant::Null());
    EXPECT_TRUE(vars.GetVariableValue("i").IsUnassigned());
    host.settings.nullValueIsNull = true;
    EXPECT_TRUE(vars.GetVariableValue("i").IsNull());
}

TEST_F(VariablesTest, TextLongerThanItsBufferRaisesInsteadOfBeingCut) {
    vars.AddVariable("s", otString);
    vars.SetVariableValue("s", TVariant(std::string(4000, 'a')));
    EXPECT_EQ(vars.GetVariableValue("s").StringRef().size(), 4000u);
    EXPECT_THAT([&] { vars.SetVariableValue("s", TVariant(std::string(5000, 'b'))); },
                ThrowsMessage<platform::Exception>(HasSubstr("longer than 4000 bytes")));
    EXPECT_EQ(vars.GetVariableValue("s"), TVariant(std::string(4000, 'a')));
}

TEST_F(VariablesTest, LineBreaksFollowConvertCRLF) {
    vars.AddVariable("s", otString);
    vars.AddVariable("l", otLong);
    vars.SetVariableValue("s", TVariant("a\r\nb"));
    vars.SetVariableValue("l", TVariant("a\r\nb\nc"));
    EXPECT_STREQ(reinterpret_cast<const char*>(Var("s").Slot(0)), "a\nb");
    EXPECT_EQ(Var("l").ValueLength(), 5u);
    EXPECT_EQ(vars.GetVariableValue("s"), TVariant("a\r\nb"));
    EXPECT_EQ(vars.GetVariableValue("l"), TVariant("a\r\nb\r\nc"));

    host.settings.convertCRLF = false;
    vars.SetVariableValue("s", TVariant("a\r\nb"));
    EXPECT_STREQ(reinterpret_cast<const char*>(Var("s").Slot(0)), "a\r\nb");
    EXPECT_EQ(vars.GetVariableValue("s"), TVariant("a\r\nb"));
}

TEST_F(VariablesTest, DatesBecomeOracleDateBytes) {
    vars.AddVariable("d", otDate);
    vars.SetVariableValue(
        "d", TVariant::FromDateTime(platform::EncodeDateTime({2004, 3, 15, 13, 45, 30, 0, 0})));
    EXPECT_EQ(Bytes(Var("d"), 7), (std::vector<int>{120, 104, 3, 15, 14, 46, 31}));
    EXPECT_EQ(vars.GetVariableValue("d").AsDateTime(),
              platform::EncodeDateTime({2004, 3, 15, 13, 45, 30, 0, 0}));

    vars.SetVariableValue("d", TVariant::FromDateTime(0));
    EXPECT_TRUE(Var("d").IsNull(0));  // ZeroDateIsNull is on by default
    host.settings.zeroDateIsNull = false;
    vars.SetVariableValue("d", TVariant::FromDateTime(0));
    EXPECT_EQ(Bytes(Var("d"), 7), (std::vector<int>{118, 199, 12, 30, 1, 1, 1}));

    EXPECT_THROW(vars.SetVariableValue("d", TVariant("not a date")), platform::EConvertError);
}

TEST_F(VariablesTest, FailedConversionNamesTheVariable) {
    vars.AddVariable("i", otInteger);
    vars.AddVariable("r", otLongRaw);
    EXPECT_THAT([&] { vars.SetVariableValue("i", TVariant(1e12)); },
                ThrowsMessage<platform::Exception>("Variant conversion error for variable :I"));
    EXPECT_THAT(
        [&] { vars.SetVariableValue("r", TVariant(std::int32_t{3})); },
        ThrowsMessage<platform::Exception>("Only one-dimensional array of bytes allowed for :R"));
}

// ---- arrays and tables ----

TEST_F(VariablesTest, ArraysKeepBoundsNullsAndShrinkOnASingleValue) {
    vars.AddVariable("n", otInteger);
    TVariant values = Ints({1, 2, 3}, 5);
    values.SetElement(6, TVariant::Null());
    vars.SetVariableValue("n", values);
    EXPECT_EQ(Var("n").ElementCount(), 3u);
    const TVariant back = vars.GetVariableValue("n");
    EXPECT_EQ(back.LowBound(), 5);
    EXPECT_EQ(back.Element(5), TVariant(std::int32_t{1}));
    EXPECT_TRUE(back.Element(6).IsUnassigned());
    EXPECT_EQ(back.Element(7), TVariant(std::int32_t{3}));

    vars.SetVariableValue("n", TVariant(std::int32_t{9}));
    EXPECT_EQ(Var("n").ElementCount(), 1u);
    EXPECT_EQ(vars.GetVariableValue("n"), TVariant(std::int32_t{9}));
}

TEST_F(VariablesTest, StringArraysUseTheBindLimitAsElementSize) {
    host.settings.maxVarcharChars = 1333;  // 3 bytes per character
    vars.AddVariable("s", otString);
    vars.SetVariableValue("s", Texts({"a", "bb"}));
    EXPECT_EQ(Var("s").ElementSize(), 1334u);
    EXPECT_STREQ(reinterpret_cast<const char*>(Var("s").Slot(1)), "bb");
}

TEST_F(VariablesTest, ArraysAreRefusedWhereOneValueFillsTheBuffer) {
    vars.AddVariable("t", otSubstitution);
    vars.AddVariable("l", otLong);
    vars.AddVariable("c", otCursor);
    EXPECT_THAT(
        [&] { vars.SetVariableValue("t", Ints({1})); },
        ThrowsMessage<platform::Exception>(":T is a substitution variable and cannot be an array"));
    EXPECT_THAT(
        [&] {
            vars.SetVariableValue("l", Ints({1, 2}));
        },
        ThrowsMessage<platform::Exception>(HasSubstr("cannot be an array")));
    EXPECT_THAT(
        [&] { vars.SetVariableValue("c", Ints({1})); },
        ThrowsMessage<platform::Exception>(":C is a complex variable and cannot be an array"));
}

TEST_F(VariablesTest, TableDeclarationChecksInOrder) {
    vars.AddVariable("s", otString);
    vars.AddVariable("i", otInteger);
    vars.AddVariable("l", otLong);
    struct Case {
        const char* name;
        int count, stringSize;
        const char* message;
    };
    for (const Case c : {
             Case{"x", 5, 0, "Variable :X not declared"},
             Case{"l", 5, 0, "Only PL/SQL Tables of strings, integers, floats and dates supported"},
             Case{"s", 5, 0, "You must specify a string size for a PL/SQL Table of strings"},
             Case{"i", 5, 10, "You can only specify a string size for a PL/SQL Table of strings"},
             Case{"i", 0, 0, "You must specify the size of the PL/SQL Table"},
             Case{"s", 1000000, 4000, "Variable :S is too large"},
         }) {
        EXPECT_THAT([&] { vars.SetVariableTable(c.name, c.count, c.stringSize); },
                    ThrowsMessage<platform::Exception>(c.message))
            << c.name;
    }
}

TEST_F(VariablesTest, TablesTakeArraysUpToTheirSize) {
    vars.AddVariable("s", otString);
    vars.SetVariableTable("s", 3, 10);
    EXPECT_EQ(Var("s").ElementSize(), 11u);
    EXPECT_TRUE(vars.GetVariableValue("s").IsUnassigned());  // no element used yet
    vars.SetVariableValue("s", Texts({"a", "b"}));
    EXPECT_EQ(Var("s").TableCount(), 2u);
    EXPECT_EQ(vars.GetVariableValue("s").ElementCount(), 2);

    EXPECT_THAT(
        [&] {
            vars.SetVariableValue("s", Texts({"1", "2", "3", "4"}));
        },
        ThrowsMessage<platform::Exception>("Array is larger than PL/SQL Table (4 > 3)"));
    EXPECT_EQ(Var("s").TableCount(), 2u);
    EXPECT_THAT(
        [&] { vars.SetVariableValue("s", TVariant("x")); },
        ThrowsMessage<platform::Exception>(":S is a PL/SQL Table, assign a variant array to it"));
    vars.SetVariableValue("s", TVariant::Null());
    EXPECT_EQ(Var("s").TableCount(), 0u);
    EXPECT_EQ(Var("s").ElementCount(), 3u);
}

// ---- substitution and display ----

TEST_F(VariablesTest, SubstitutionPastesValuesAndLeavesOtherPlaceholders) {
    EXPECT_EQ(vars.SubstituteVariables("select :t from x\r\n"), "select :t from x\r\n");
    vars.AddVariable("t", otSubstitution);
    vars.AddVariable("b", otInteger);
    vars.SetVariableValue("t", TVariant("EMP"));
    EXPECT_EQ(vars.SubstituteVariables("SELECT * FROM :T\r\n"), "SELECT * FROM EMP\r\n");
    EXPECT_EQ(vars.SubstituteVariables("select :t.a, ':t' from :t where b = :b"),
              "select EMP.a, ':t' from EMP where b = :b");
    vars.SetVariableValue("t", TVariant("a_much_longer_name"));
    EXPECT_EQ(vars.SubstituteVariables(":t,:t"), "a_much_longer_name,a_much_longer_name");
    vars.SetVariableValue("t", TVariant::Null());
    EXPECT_EQ(vars.SubstituteVariables("SELECT * FROM :T\r\n"), "SELECT * FROM \r\n");
}

TEST_F(VariablesTest, DisplayTextNamesWhatCannotBeShown) {
    vars.AddVariable("l", otLong);
    vars.AddVariable("c", otCursor);
    vars.AddVariable("a", otInteger);
    vars.AddVariable("s", otString);
    vars.AddVariable("t", otInteger);
    vars.SetVariableValue("a", Ints({1, 2}));
    vars.SetVariableTable("t", 4, 0);
    EXPECT_EQ(vars.VariableDisplayText(0), "(Long)");
    EXPECT_EQ(vars.VariableDisplayText(1), "(Cursor)");
    EXPECT_EQ(vars.VariableDisplayText(2), "(Array)");
    EXPECT_EQ(vars.VariableDisplayText(3), "Null");
    EXPECT_EQ(vars.VariableDisplayText(4), "(PL/SQL Table)");
    vars.SetVariableValue("s", TVariant("x"));
    EXPECT_EQ(vars.VariableDisplayText(3), "x");
}

TEST_F(VariablesTest, AssignCopiesDeclarationsValuesAndTables) {
    vars.AddVariable("n", otInteger);
    vars.AddVariable("s", otString);
    vars.AddVariable("c", otCursor);
    vars.SetVariableValue("n", Ints({4, 5}));
    vars.SetVariableTable("s", 7, 20);
    platform::TComponent target;
    vars.SetVariableObject("c", &target);

    FakeHost otherHost;
    TVariables copy(&otherHost);
    copy.AddVariable("old", otInteger);
    copy.Assign(vars);
    ASSERT_EQ(copy.Count(), 3);
    EXPECT_EQ(copy.GetVariableValue("n"), vars.GetVariableValue("n"));
    EXPECT_TRUE(copy.Find("s")->IsTable());
    EXPECT_EQ(copy.Find("s")->ElementCount(), 7u);
    EXPECT_EQ(copy.Find("s")->ElementSize(), 21u);
    EXPECT_EQ(copy.GetVariableObject("c"), &target);

    TVariables loose;
    EXPECT_THROW(loose.Assign(vars), platform::EConvertError);
}

TEST_F(VariablesTest, ComplexVariablesTakeOnlyWhatTheQueryAccepts) {
    vars.AddVariable("c", otCursor);
    vars.AddVariable("o", otObject);
    vars.AddVariable("i", otInteger);
    platform::TComponent thing;
    EXPECT_THAT([&] { vars.SetVariableObject("i", &thing); },
                ThrowsMessage<platform::Exception>(":I is not a complex variable"));
    EXPECT_THAT([&] { vars.SetVariableObject("o", &thing); },
                ThrowsMessage<platform::Exception>("Assign TOracleObject instance to variable :O"));
    vars.SetVariableObject("c", &thing);
    EXPECT_FALSE(vars.Find("c")->IsNull(0));
    vars.SetVariableValue("c", TVariant());
    EXPECT_EQ(vars.GetVariableObject("c"), nullptr);
}

}  // namespace
}  // namespace velnor::oracle
