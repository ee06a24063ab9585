#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>

#include "oracle/client/StatementBackend.h"
#include "oracle/query/OracleQuery.h"
#include "oracle/query/Variables.h"
#include "oracle/session/OracleSession.h"
#include "platform/Component.h"
#include "platform/DateTime.h"
#include "platform/Exception.h"
#include "platform/RegionalSettings.h"
#include "tests/oracle/ClientTestEnvironment.h"
#include "tests/support/TempHome.h"

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
    void* PrepareCursorVariable(platform::TComponent&) override {
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

TEST_F(VariablesTest, ExactNumbersKeepEveryDigit) {
    vars.AddVariable("n", otNumber);
    struct Case {
        TVariant value;
        const char* text;
    };
    for (const Case& c : {Case{TVariant("1234567890123456789"), "1234567890123456789"},
                          Case{TVariant(" 1"), nullptr}, Case{TVariant("1E126"), nullptr},
                          Case{TVariant(std::int32_t{-42}), "-42"}, Case{TVariant(0.1), "0.1"},
                          Case{TVariant("-1.50E-130"), "-1.5E-130"}}) {
        if (c.text == nullptr) {
            EXPECT_THROW(vars.SetVariableValue("n", c.value), platform::EConvertError);
        } else {
            vars.SetVariableValue("n", c.value);
            EXPECT_EQ(vars.GetVariableValue("n"), TVariant(c.text));
        }
    }
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

TEST_F(VariablesTest, ArrayBuffersSwapInWholeAndMustFitTheVariable) {
    vars.AddVariable("s", otString);
    vars.AddVariable("d", otDate);
    vars.AddVariable("l", otLong);
    TArrayBuffer buffer = vars.NewArrayBuffer(0, 3);
    EXPECT_EQ(buffer.elementSize, 4001u);
    std::memcpy(buffer.Slot(0), "ab", 3);
    std::memcpy(buffer.Slot(2), "c", 2);
    buffer.indicators[0] = buffer.indicators[2] = 0;
    vars.SwapArray(0, buffer);
    EXPECT_EQ(buffer.indicators.size(), 1u) << "the variable's own elements come back";
    const TVariant back = vars.GetVariableValue("s");
    EXPECT_EQ(back.Element(0), TVariant("ab"));
    EXPECT_TRUE(back.Element(1).IsUnassigned());
    EXPECT_EQ(back.Element(2), TVariant("c"));
    vars.SwapArray(0, buffer);
    EXPECT_EQ(Var("s").ElementCount(), 1u);
    EXPECT_EQ(buffer.indicators.size(), 3u);
    EXPECT_TRUE(buffer.terminated) << "the filler's promise goes back with its buffer";

    TArrayBuffer narrow = vars.NewArrayBuffer(0, 2, 64);
    EXPECT_EQ(narrow.elementSize, 65u);
    EXPECT_EQ(vars.NewArrayBuffer(0, 2, 9000).elementSize, 4001u) << "never past the limit";
    std::memcpy(narrow.Slot(1), "x", 2);
    narrow.indicators[1] = 0;
    vars.SwapArray(0, narrow);
    EXPECT_EQ(vars.GetVariableValue("s").Element(1), TVariant("x"));
    vars.SwapArray(0, narrow);

    TArrayBuffer text = vars.NewArrayBuffer(0, 2);
    EXPECT_THROW(vars.SwapArray(1, text), platform::Exception) << "7-byte dates only";
    TArrayBuffer empty = vars.NewArrayBuffer(1, 2);
    empty.indicators.clear();
    EXPECT_THROW(vars.SwapArray(1, empty), platform::Exception);
    EXPECT_THROW((void)vars.NewArrayBuffer(2, 2), platform::Exception);
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

// ---- binding ----

struct BindCall {
    std::string name;
    int nameLength;
    const void* value;
    std::string bytes;  // what the value address held at bind time
    int size;
    int type;
    const void* indicators;
    const ub2* lengths;
    int lengthValue;
    ub4 maxElements;
    ub4* currentCount;
};
std::vector<BindCall> g_calls;
sword g_status = 0;

BindCall Record(const void* name, int nameLength, const void* value, int size, int type,
                const void* indicators, const ub2* lengths, ub4 maxElements, ub4* currentCount) {
    const char* n = static_cast<const char*>(name);
    return {nameLength < 0 ? std::string(n) : std::string(n, static_cast<std::size_t>(nameLength)),
            nameLength,
            value,
            value && size > 0
                ? std::string(static_cast<const char*>(value), static_cast<std::size_t>(size))
                : std::string(),
            size,
            type,
            indicators,
            lengths,
            lengths ? *lengths : -1,
            maxElements,
            currentCount};
}

sword FakeBindByName(OCIStmt*, OCIBind** bind, OCIError*, const OraText* name, sb4 nameLength,
                     void* value, sb4 size, ub2 type, void* indicators, ub2* lengths, ub2*,
                     ub4 maxElements, ub4* currentCount, ub4) {
    static int handles = 0;
    *bind = reinterpret_cast<OCIBind*>(static_cast<std::intptr_t>(++handles));
    g_calls.push_back(Record(name, nameLength, value, size, type, indicators, lengths, maxElements,
                             currentCount));
    return g_status;
}

sword FakeObndra(Cda_Def*, OraText* name, sword nameLength, ub1* value, sword size, sword type,
                 sword, sb2* indicators, ub2* lengths, ub2*, ub4 maxElements, ub4* currentCount,
                 OraText*, sword, sword) {
    g_calls.push_back(Record(name, nameLength, value, size, type, indicators, lengths, maxElements,
                             currentCount));
    return g_status;
}

struct BindTest : VariablesTest {
    std::vector<sword> statuses;
    Cda_Def cda{};
    detail::TOci8Binder oci8{nullptr, nullptr, &FakeBindByName, [this](sword s) {
                                 statuses.push_back(s);
                                 if (s != 0) throw platform::Exception("bind failed");
                             }};
    detail::TOci7Binder oci7{&cda, &FakeObndra, {}};
    void SetUp() override {
        g_calls.clear();
        g_status = 0;
    }
};

TEST_F(BindTest, ScalarsGoWithTheirBufferSizeAndExternalType) {
    host.settings.maxVarcharChars = 1333;
    struct Case {
        int type;
        TVariant value;
        int size;
        int external;
        std::string bytes;
    };
    const std::string longText = std::string("x\0y", 3);
    for (const Case& c : {
             Case{otInteger, TVariant(std::int32_t{0x01020304}), 4, 3, "\x04\x03\x02\x01"},
             Case{otString, TVariant("ab"), 1334, 5, ""},
             Case{otFixedChar, TVariant("ab"), 1334, 97, ""},
             Case{otBigString, TVariant("ab"), 32513, 5, ""},
             Case{otDate, TVariant("2004/03/15"), 7, 12, ""},
             Case{otNumber, TVariant("-1"), 22, 6,
                  std::string("\x03\x3E\x64\x66", 4) + std::string(18, '\0')},
             // LONG values go with their real length and without a terminator.
             Case{otLong, TVariant(longText), 3, 8, longText},
             Case{otLongRaw, TVariant::FromBytes({9, 8}), 2, 24, "\x09\x08"},
         }) {
        g_calls.clear();
        vars.RemoveAllVariables();
        vars.AddVariable("v", c.type);
        if (c.type == otDate) {
            vars.SetVariableValue("v", TVariant::FromDateTime(platform::EncodeDate(2004, 3, 15)));
        } else {
            vars.SetVariableValue("v", c.value);
        }
        EXPECT_EQ(vars.BindVariables(oci8), 1) << c.type;
        ASSERT_EQ(g_calls.size(), 1u);
        const BindCall& call = g_calls[0];
        EXPECT_EQ(call.name, ":V");
        EXPECT_EQ(call.nameLength, 2);
        EXPECT_EQ(call.size, c.size) << c.type;
        EXPECT_EQ(call.type, c.external) << c.type;
        EXPECT_EQ(call.indicators, Var("v").Indicators().data());
        EXPECT_EQ(call.maxElements, 0u);
        EXPECT_EQ(call.currentCount, nullptr);
        if (!c.bytes.empty()) {
            EXPECT_EQ(call.bytes, c.bytes) << c.type;
        }
        const bool isLong = c.type == otLong || c.type == otLongRaw;
        EXPECT_EQ(call.lengths != nullptr, isLong) << c.type;
        if (isLong) {
            EXPECT_EQ(call.lengthValue, c.size);
        }
    }
}

TEST_F(BindTest, SubstitutionVariablesAreNotBound) {
    vars.AddVariable("t", otSubstitution);
    vars.SetVariableValue("t", TVariant("EMP"));
    EXPECT_EQ(vars.BindVariables(oci8), 0);
    EXPECT_TRUE(g_calls.empty());
}

TEST_F(BindTest, ScalarTextLongerThanTheBindLimitRaises) {
    vars.AddVariable("s", otString);
    vars.SetVariableValue("s", TVariant(std::string(3000, 'a')));
    host.settings.maxVarcharChars = 2000;
    EXPECT_THAT([&] { vars.BindVariables(oci8); },
                ThrowsMessage<platform::Exception>(HasSubstr("longer than 2000 bytes")));
    EXPECT_TRUE(g_calls.empty());
}

TEST_F(BindTest, ArraysGoWithTheElementStride) {
    vars.AddVariable("s", otString);
    vars.AddVariable("n", otInteger);
    host.settings.maxVarcharChars = 1333;
    vars.SetVariableValue("s", Texts({"a", "bb", "ccc"}));
    vars.SetVariableValue("n", Ints({1, 2, 3}));
    // A later logon may allow less per string; the elements still lie 1334 bytes apart.
    host.settings.maxVarcharChars = 1000;
    EXPECT_EQ(vars.BindVariables(oci8), 3);
    ASSERT_EQ(g_calls.size(), 2u);
    EXPECT_EQ(g_calls[0].size, 1334);
    EXPECT_EQ(g_calls[0].maxElements, 0u);
    EXPECT_EQ(g_calls[1].size, 4);
    EXPECT_STREQ(static_cast<const char*>(g_calls[0].value) + 2 * 1334, "ccc");
}

TEST_F(BindTest, ArraysOfDifferentLengthsRaise) {
    vars.AddVariable("a", otInteger);
    vars.AddVariable("b", otInteger);
    vars.SetVariableValue("a", Ints({1, 2, 3, 4, 5, 6, 7, 8, 9, 10}));
    vars.SetVariableValue("b", Ints({1, 2, 3, 4, 5, 6, 7, 8, 9}));
    EXPECT_THAT(
        [&] { vars.BindVariables(oci8); },
        ThrowsMessage<platform::Exception>("All arrays must be of equal size for Array DML"));
}

TEST_F(BindTest, TablesPassCapacityAndTheirCountInPlace) {
    vars.AddVariable("t", otInteger);
    vars.SetVariableTable("t", 5, 0);
    vars.SetVariableValue("t", Ints({1, 2}));
    EXPECT_EQ(vars.BindVariables(oci8), 1);
    ASSERT_EQ(g_calls.size(), 1u);
    EXPECT_EQ(g_calls[0].maxElements, 5u);
    ASSERT_NE(g_calls[0].currentCount, nullptr);
    EXPECT_EQ(*g_calls[0].currentCount, 2u);
    *g_calls[0].currentCount = 4;  // the server returned four elements
    EXPECT_EQ(vars.GetVariableValue("t").ElementCount(), 4);
}

TEST_F(BindTest, UnchangedBindsAreNotRenewed) {
    vars.AddVariable("n", otInteger);
    vars.SetVariableValue("n", Ints({1, 2}));
    vars.BindVariables(oci8);
    vars.SetVariableValue("n", Ints({3, 4}));  // same buffer, new values
    vars.BindVariables(oci8);
    EXPECT_EQ(g_calls.size(), 1u);
    vars.SetVariableValue("n", Ints({3, 4, 5}));  // new buffer and indicators
    vars.BindVariables(oci8);
    EXPECT_EQ(g_calls.size(), 2u);
    vars.ForgetBinds();  // a new parse
    vars.BindVariables(oci8);
    EXPECT_EQ(g_calls.size(), 3u);
}

TEST_F(BindTest, LongOfNewLengthIsBoundAgain) {
    // The same address could come back with another length; the bind must follow it.
    vars.AddVariable("l", otLong);
    vars.SetVariableValue("l", TVariant("abc"));
    vars.BindVariables(oci8);
    vars.SetVariableValue("l", TVariant("abcdef"));
    vars.BindVariables(oci8);
    ASSERT_EQ(g_calls.size(), 2u);
    EXPECT_EQ(g_calls[1].size, 6);
    EXPECT_EQ(g_calls[1].bytes, "abcdef");
}

TEST_F(BindTest, LongReadsBackTheLengthTheServerReturned) {
    vars.AddVariable("l", otLong);
    vars.SetVariableValue("l", TVariant("abcdef"));
    vars.BindVariables(oci8);
    ASSERT_EQ(g_calls.size(), 1u);
    ASSERT_NE(g_calls[0].lengths, nullptr);
    *const_cast<ub2*>(g_calls[0].lengths) = 2;  // an OUT value of two bytes
    EXPECT_EQ(vars.GetVariableValue("l"), TVariant("ab"));
}

TEST_F(BindTest, FailedBindRaisesAndIsTriedAgain) {
    vars.AddVariable("n", otInteger);
    g_status = -1;
    EXPECT_THROW(vars.BindVariables(oci8), platform::Exception);
    g_status = 0;
    vars.BindVariables(oci8);
    EXPECT_EQ(g_calls.size(), 2u);
    EXPECT_EQ(statuses, (std::vector<sword>{-1, 0}));
}

TEST_F(BindTest, Oci7BindsByNameThroughObndra) {
    vars.AddVariable("s", otString);
    vars.SetVariableValue("s", TVariant("x"));
    host.settings.maxVarcharChars = 2000;
    vars.BindVariables(oci7);
    vars.BindVariables(oci7);  // OCI7 binds are renewed at every execution
    ASSERT_EQ(g_calls.size(), 2u);
    EXPECT_EQ(g_calls[0].name, ":S");
    EXPECT_EQ(g_calls[0].nameLength, -1);
    EXPECT_EQ(g_calls[0].size, 2001);
    EXPECT_EQ(g_calls[0].type, 5);
}

TEST_F(BindTest, ComplexVariablesNeedAnObject) {
    vars.AddVariable("c", otCursor);
    EXPECT_THAT([&] { vars.BindVariables(oci8); },
                ThrowsMessage<platform::Exception>("Cursor variable :C cannot be nil"));
    platform::TComponent query;
    vars.SetVariableObject("c", &query);
    vars.BindVariables(oci8);
    vars.BindVariables(oci7);
    ASSERT_EQ(g_calls.size(), 2u);
    EXPECT_EQ(g_calls[0].type, 116);
    EXPECT_EQ(g_calls[1].type, 102);
    EXPECT_EQ(g_calls[0].value, &host.cursorArea);
    EXPECT_EQ(host.cursorsPrepared, 2);

    vars.RemoveAllVariables();
    vars.AddVariable("o", otObject);
    EXPECT_THAT([&] { vars.BindVariables(oci8); },
                ThrowsMessage<platform::Exception>("Object variable :O cannot be nil"));
}

// ---- the "Data" stream ----

std::vector<std::byte> Stream(std::initializer_list<int> ints, std::string_view tail = {}) {
    std::vector<std::byte> out;
    for (int v : ints) {
        for (int shift = 0; shift < 32; shift += 8) {
            out.push_back(static_cast<std::byte>((static_cast<unsigned>(v) >> shift) & 0xFF));
        }
    }
    for (char c : tail) out.push_back(static_cast<std::byte>(c));
    return out;
}

void Append(std::vector<std::byte>& to, const std::vector<std::byte>& more) {
    to.insert(to.end(), more.begin(), more.end());
}

struct StreamTest : VariablesTest {
    void Fill(TVariables& v) {
        v.AddVariable("i", otInteger);
        v.AddVariable("f", otFloat);
        v.AddVariable("s", otString);
        v.AddVariable("d", otDate);
        v.AddVariable("l", otLong);
        v.AddVariable("r", otLongRaw);
        v.AddVariable("t", otSubstitution);
        v.AddVariable("n", otInteger);  // stays null
        v.AddVariable("tab", otString);
        v.SetVariableValue("i", TVariant(std::int32_t{-7}));
        v.SetVariableValue("f", TVariant(0.125));
        v.SetVariableValue("s", TVariant("\xe6\x97\xa5\xe6\x9c\xac"));
        v.SetVariableValue("d", TVariant::FromDateTime(platform::EncodeDate(2004, 3, 15)));
        v.SetVariableValue("l", TVariant("long text"));
        v.SetVariableValue("r", TVariant::FromBytes({0, 1, 2}));
        v.SetVariableValue("t", TVariant("EMP"));
        v.SetVariableTable("tab", 12, 30);
    }
};

TEST_F(StreamTest, WritesTheVersionedLayout) {
    vars.AddVariable("x", otInteger);
    vars.SetVariableValue("x", TVariant(std::int32_t{258}));
    vars.AddVariable("t", otString);
    vars.SetVariableTable("t", 4, 9);
    auto expected = Stream({3, 2, 2}, ":X");
    Append(expected, Stream({3, 4, 258, 0, 2}, ":T"));
    Append(expected, Stream({5, 0, 1, 4, 9}));
    EXPECT_EQ(vars.WriteData(), expected);
}

TEST_F(StreamTest, RoundTripRestoresDeclarationsValuesAndTables) {
    Fill(vars);
    TVariables read(&host);
    read.ReadData(vars.WriteData());
    ASSERT_EQ(read.Count(), vars.Count());
    for (int i = 0; i < vars.Count(); ++i) {
        EXPECT_EQ(read.GetVariableName(i), vars.GetVariableName(i));
        EXPECT_EQ(read.GetVariableType(i), vars.GetVariableType(i));
        if (!vars.Item(i).IsTable()) {
            EXPECT_EQ(read.GetVariableValue(i), vars.GetVariableValue(i)) << i;
        }
    }
    // The stored LONG carries its terminator; the restored value does not.
    EXPECT_EQ(read.Find("l")->ValueLength(), 9u);
    EXPECT_TRUE(read.Find("tab")->IsTable());
    EXPECT_EQ(read.Find("tab")->ElementCount(), 12u);
    EXPECT_EQ(read.Find("tab")->ElementSize(), 31u);
    EXPECT_EQ(read.WriteData(), vars.WriteData());
}

TEST_F(StreamTest, OlderVersionsLackTheLaterFields) {
    auto v1 = Stream({1, 1, 2}, ":A");
    Append(v1, Stream({5}));
    vars.ReadData(v1);
    ASSERT_EQ(vars.Count(), 1);
    EXPECT_EQ(vars.GetVariableType(0), otString);
    EXPECT_TRUE(vars.Find("a")->IsNull(0));

    auto v2 = Stream({2, 1, 2}, ":B");
    Append(v2, Stream({3, 4, 99}));
    vars.ReadData(v2);
    EXPECT_EQ(vars.GetVariableValue("b"), TVariant(std::int32_t{99}));
}

TEST_F(StreamTest, DamagedStreamsRaiseAndKeepTheVariables) {
    Fill(vars);
    const auto good = vars.WriteData();
    const auto before = vars.WriteData();
    const int changes = host.changes;
    auto expectRefused = [&](const std::vector<std::byte>& data, const char* message) {
        EXPECT_THAT([&] { vars.ReadData(data); },
                    ThrowsMessage<platform::Exception>(HasSubstr(message)));
        EXPECT_EQ(vars.WriteData(), before);
    };
    for (std::size_t n = 0; n < good.size(); ++n) {
        expectRefused({good.begin(), good.begin() + static_cast<std::ptrdiff_t>(n)},
                      n < 4 ? "Invalid Query variables data" : "");
    }
    expectRefused(Stream({4, 0}), "Invalid version of Query variables");
    expectRefused(Stream({0, 0}), "Invalid version of Query variables");
    expectRefused(Stream({3, 1000000}), "variable count");
    expectRefused(Stream({3, 1, 0x7FFFFFFF, 5, 0}), "name length");
    auto longValue = Stream({3, 1, 2}, ":A");
    Append(longValue, Stream({3, 0x7FFFFFF0, 1, 2}));
    expectRefused(longValue, "value length");
    auto wide = Stream({3, 1, 2}, ":A");
    Append(wide, Stream({3, 8, 1, 2, 0}));
    expectRefused(wide, "does not fit");
    auto unterminated = Stream({3, 1, 2}, ":A");
    Append(unterminated, Stream({5, 2}, "ab"));
    Append(unterminated, Stream({0}));
    expectRefused(unterminated, "without terminator");
    auto badType = Stream({3, 1, 2}, ":A");
    Append(badType, Stream({2, 0, 0}));
    expectRefused(badType, "Unsupported variable type");
    // Found by fuzzing: twenty bytes declaring a table of 2^30 strings allocated gigabytes.
    auto hugeTable = Stream({3, 1, 2}, ":T");
    Append(hugeTable, Stream({5, 0, 1, 0x40000000, 30}));
    expectRefused(hugeTable, "table larger than 64 MiB");
    EXPECT_EQ(host.changes, changes);
}

TEST_F(StreamTest, PropertyIsWrittenOnlyWhenTheListDiffersFromTheAncestor) {
    EXPECT_FALSE(vars.ShouldWriteData(nullptr));
    Fill(vars);
    EXPECT_TRUE(vars.ShouldWriteData(nullptr));
    FakeHost otherHost;
    TVariables ancestor(&otherHost);
    Fill(ancestor);
    EXPECT_FALSE(vars.ShouldWriteData(&ancestor));
    ancestor.SetVariableValue("i", TVariant(std::int32_t{8}));
    EXPECT_TRUE(vars.ShouldWriteData(&ancestor));
    ancestor.SetVariableValue("i", TVariant(std::int32_t{-7}));
    ancestor.SetVariableValue("n", TVariant(std::int32_t{0}));
    EXPECT_TRUE(vars.ShouldWriteData(&ancestor));
}

// ---- binds on the stand-in client library ----

enum class Interface { OCI8, OCI7 };

std::string InterfaceName(const ::testing::TestParamInfo<Interface>& param) {
    return param.param == Interface::OCI8 ? "OCI8" : "OCI7";
}

class StandInBindTest : public ::testing::TestWithParam<Interface> {
protected:
    static void SetUpTestSuite() {
        client_ = new test::TClientEnvironment;
        home_ = new velnor::test::TTempHome;
        home_->AddService("VTEST");
        home_->AddUser("VTEST", "VUSER", "PW");
        home_->SetAsOracleHome();
        SetOCIDLL(home_->ClientLibrary());
    }
    static void TearDownTestSuite() {
        delete home_;
        delete client_;
    }
    void SetUp() override {
        platform::TRegionalSettings regional;
        regional.shortDateFormat = "yyyy/mm/dd";
        regional.longTimeFormat = "hh:nn:ss";
        platform::SetRegionalSettings(regional);
        session_.Preferences().SetUseOCI7(GetParam() == Interface::OCI7);
        session_.SetLogonUsername("VUSER");
        session_.SetLogonPassword("PW");
        session_.SetLogonDatabase("VTEST");
        session_.LogOn();
        Run("create table vt (id number(9), f number(10,2), s varchar2(20), d date)");
    }
    void TearDown() override {
        Run("drop table vt");
        session_.LogOff();
    }
    void Run(const std::string& sql) {
        TOracleQuery q(nullptr);
        q.SetSession(&session_);
        q.SQL().SetText(sql);
        q.Execute();
    }
    // Every row of vt as "id|f|s|d" in id order.
    std::vector<std::string> Rows() {
        TOracleQuery q(nullptr);
        q.SetSession(&session_);
        q.SQL().SetText("select id, f, s, d from vt order by id");
        q.Execute();
        std::vector<std::string> rows;
        for (; !q.Eof(); q.Next()) {
            rows.push_back(q.FieldAsString(0) + "|" + q.FieldAsString(1) + "|" +
                           q.FieldAsString(2) + "|" + q.FieldAsString(3));
        }
        return rows;
    }

    static test::TClientEnvironment* client_;
    static velnor::test::TTempHome* home_;
    TOracleSession session_;
};
test::TClientEnvironment* StandInBindTest::client_ = nullptr;
velnor::test::TTempHome* StandInBindTest::home_ = nullptr;

INSTANTIATE_TEST_SUITE_P(Interfaces, StandInBindTest,
                         ::testing::Values(Interface::OCI8, Interface::OCI7), InterfaceName);

TEST_P(StandInBindTest, ArrayInsertStoresEveryElementInItsRow) {
    TOracleQuery q(nullptr);
    q.SetSession(&session_);
    q.SQL().SetText("insert into vt values (:id, :f, :s, :d)");
    auto& v = q.Variables();
    v.AddVariable("id", otInteger);
    v.AddVariable("f", otFloat);
    v.AddVariable("s", otString);
    v.AddVariable("d", otDate);
    v.SetVariableValue("id", Ints({1, 2, 3}));
    v.SetVariableValue("f", TVariant::Array({TVariant(1.5), TVariant::Null(), TVariant(-2.25)}));
    v.SetVariableValue("s", Texts({"one", "", "\xe6\x97\xa5\xe6\x9c\xac"}));
    v.SetVariableValue(
        "d", TVariant::Array({TVariant("2004/03/15"), TVariant::Null(), TVariant("1999/12/31")}));
    q.Execute();
    EXPECT_EQ(Rows(), (std::vector<std::string>{"1|1.5|one|2004/03/15", "2|||",
                                                "3|-2.25|\xe6\x97\xa5\xe6\x9c\xac|1999/12/31"}));
}

TEST_P(StandInBindTest, NewValuesReachTheServerWithoutANewBind) {
    TOracleQuery q(nullptr);
    q.SetSession(&session_);
    q.SQL().SetText("insert into vt (id, s) values (:id, :s)");
    q.Variables().AddVariable("id", otInteger);
    q.Variables().AddVariable("s", otString);
    for (int i = 1; i <= 3; ++i) {
        q.Variables().SetVariableValue("id", TVariant(static_cast<std::int32_t>(i)));
        q.Variables().SetVariableValue("s",
                                       TVariant(std::string(static_cast<std::size_t>(i), 'x')));
        q.Execute();
    }
    EXPECT_EQ(Rows(), (std::vector<std::string>{"1||x|", "2||xx|", "3||xxx|"}));
}

TEST_P(StandInBindTest, SubstitutionNamesTheTable) {
    Run("insert into vt (id) values (7)");
    TOracleQuery q(nullptr);
    q.SetSession(&session_);
    q.SQL().SetText("select id from :tab where id = :id");
    q.Variables().AddVariable("tab", otSubstitution);
    q.Variables().AddVariable("id", otInteger);
    q.Variables().SetVariableValue("tab", TVariant("vt"));
    q.Variables().SetVariableValue("id", TVariant(std::int32_t{7}));
    q.Execute();
    ASSERT_FALSE(q.Eof());
    EXPECT_EQ(q.FieldAsInteger(0), 7);
}

}  // namespace
}  // namespace velnor::oracle
