// Text columns as wide as the client character set makes their values, and the failing row
// of an array insert, through both interfaces of the stand-in client library.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <iconv.h>

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "oracle/client/OciLibrary.h"
#include "oracle/client/OracleError.h"
#include "oracle/query/OracleQuery.h"
#include "oracle/session/OracleSession.h"
#include "tests/oracle/ClientTestEnvironment.h"

namespace velnor::oracle {
namespace {

using platform::TVariant;
using ::testing::HasSubstr;

// Ten characters: the full width of every column below.
const std::string kTen = "日本語のテキストです";

std::string ToCp932(const std::string& utf8) {
    iconv_t cd = ::iconv_open("CP932", "UTF-8");
    if (cd == reinterpret_cast<iconv_t>(-1)) throw std::runtime_error("no CP932 converter");
    std::string in = utf8;
    std::string out(in.size() * 2, '\0');
    char* src = in.data();
    char* dst = out.data();
    std::size_t left = in.size();
    std::size_t room = out.size();
    const std::size_t result = ::iconv(cd, &src, &left, &dst, &room);
    ::iconv_close(cd);
    if (result == static_cast<std::size_t>(-1)) throw std::runtime_error("not CP932 text");
    out.resize(out.size() - room);
    return out;
}

#ifdef VELNOR_HAVE_STANDIN

struct WidthCase {
    const char* nlsLang;  // nullptr: unset, Velnor's own character set
    bool oci7;
    bool sjis;  // the client exchanges CP932 bytes
};

std::string CaseName(const ::testing::TestParamInfo<WidthCase>& info) {
    return std::string(info.param.sjis ? "Sjis" : "Utf8") + (info.param.oci7 ? "OCI7" : "OCI8");
}

class ClientTextWidthTest : public ::testing::TestWithParam<WidthCase> {
protected:
    void SetUp() override {
        if (GetParam().nlsLang) platform::SetEnvironment("NLS_LANG", GetParam().nlsLang);
        session_.Preferences().SetUseOCI7(GetParam().oci7);
        session_.SetLogonUsername("scott");
        session_.SetLogonPassword("tiger");
        session_.SetLogonDatabase("DEMO");
        session_.LogOn();
    }
    void TearDown() override { session_.LogOff(); }

    std::unique_ptr<TOracleQuery> Query(const std::string& sql) {
        auto q = std::make_unique<TOracleQuery>(nullptr);
        q->SetSession(&session_);
        q->SQL().SetText(sql);
        return q;
    }
    // Text as the client exchanges it.
    std::string ClientText(const std::string& utf8) const {
        return GetParam().sjis ? ToCp932(utf8) : utf8;
    }

    test::TClientEnvironment env_;
    test::TStandInHome home_{env_};
    TOracleSession session_;
};

TEST_P(ClientTextWidthTest, FullCharacterColumnsFetchWhole) {
    Query(
        "create table jw (nv nvarchar2(10), nc nchar(10), vc varchar2(10 char), "
        "cc char(10 char), vb varchar2(30 byte))")
        ->Execute();
    auto insert = Query("insert into jw values (:a, :a, :a, :a, :a)");
    insert->Variables().AddVariable("a", otString);
    insert->Variables().SetVariableValue("a", TVariant(ClientText(kTen)));
    insert->Execute();

    auto q = Query("select nv, nc, vc, cc, vb from jw");
    q->Execute();
    ASSERT_FALSE(q->Eof());
    for (int i = 0; i < q->FieldCount(); ++i)
        EXPECT_EQ(q->FieldAsString(i), ClientText(kTen)) << q->FieldName(i);
}

TEST_P(ClientTextWidthTest, ArrayInsertNamesTheFailingRowFromTheRowsDone) {
    Query("create table ju (id number(9) primary key, t nvarchar2(10))")->Execute();
    Query("insert into ju values (1500, null)")->Execute();
    auto insert = Query("insert into ju values (:id, :t)");
    insert->Variables().AddVariable("id", otInteger);
    insert->Variables().AddVariable("t", otString);
    std::vector<TVariant> ids;
    std::vector<TVariant> texts;
    for (int i = 1; i <= 2000; ++i) {
        ids.emplace_back(i);
        texts.emplace_back(ClientText(kTen));
    }
    insert->Variables().SetVariableValue("id", TVariant::Array(std::move(ids)));
    insert->Variables().SetVariableValue("t", TVariant::Array(std::move(texts)));
    std::vector<int> failed;
    insert->OnArrayError = [&](TOracleQuery&, int index, int code, const std::string&, bool& go) {
        failed.push_back(index);
        EXPECT_EQ(code, 1);
        go = true;
    };
    // From row 1000 on: the rows done count from the first row of the execution.
    EXPECT_EQ(insert->ExecuteRows(1000, 1000), 999);
    EXPECT_EQ(failed, std::vector<int>{1499});
}

TEST_P(ClientTextWidthTest, ArrayUpdateErrorNamesNoRow) {
    Query("create table jv (id number(9) primary key)")->Execute();
    Query("insert into jv values (1)")->Execute();
    Query("insert into jv values (2)")->Execute();
    auto update = Query("update jv set id = :n where id = :o");
    update->Variables().AddVariable("n", otInteger);
    update->Variables().AddVariable("o", otInteger);
    update->Variables().SetVariableValue(
        "n", TVariant::Array(std::vector<TVariant>{TVariant(7), TVariant(1)}));
    update->Variables().SetVariableValue(
        "o", TVariant::Array(std::vector<TVariant>{TVariant(5), TVariant(2)}));
    bool called = false;
    update->OnArrayError = [&](TOracleQuery&, int, int, const std::string&, bool&) {
        called = true;
    };
    // The first element touches no row, so the rows done cannot tell the second failed.
    try {
        update->ExecuteRows(-1, -1);
        FAIL() << "no error";
    } catch (const EOracleError& e) {
        EXPECT_THAT(e.Message(), HasSubstr("ORA-00001"));
    }
    EXPECT_FALSE(called);
}

INSTANTIATE_TEST_SUITE_P(Clients, ClientTextWidthTest,
                         ::testing::Values(WidthCase{nullptr, false, false},
                                           WidthCase{nullptr, true, false},
                                           WidthCase{"JAPANESE_JAPAN.JA16SJISTILDE", false, true},
                                           WidthCase{"JAPANESE_JAPAN.JA16SJISTILDE", true, true}),
                         CaseName);

#endif

TEST(InsertsOneRowPerElementTest, OnlyASingleRowInsertCountsItsElements) {
    const struct {
        int code;
        const char* text;
        bool expected;
    } cases[] = {
        {scInsert, "insert into t values (:a, :b)", true},
        {scInsert, "INSERT INTO t (a) VALUES (:a)", true},
        {scInsert, "insert into t select * from s where id = :a", false},
        {scInsert, "insert all into t values (:a) into u values (:a) Select 1 from dual", false},
        {scUpdate, "update t set a = :a", false},
        {scDelete, "delete from t where a = :a", false},
        {scPlSql, "begin insert into t values (:a); end;", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(InsertsOneRowPerElement(c.code, c.text), c.expected) << c.text;
}

TEST(TextBufferSizeTest, SizesForTheClientCharacterSet) {
    constexpr int kUtf8 = 873;
    const struct {
        int dataSize;
        int charLength;
        int charsetId;
        int clientBytes;
        int clientCharsetId;
        std::size_t expected;
    } cases[] = {
        {20, 10, 2000, 4, kUtf8, 41},   // NVARCHAR2(10) (AL16UTF16) read as AL32UTF8
        {20, 10, 2000, 2, 0, 21},       // the same read as JA16SJIS
        {40, 10, kUtf8, 4, kUtf8, 41},  // VARCHAR2(10 CHAR), the client's own set
        {10, 10, kUtf8, 4, kUtf8, 11},  // VARCHAR2(10 BYTE), the client's own set
        {10, 10, 31, 4, kUtf8, 41},     // single-byte database set: each byte may widen
        {10, 0, 0, 3, 871, 31},         // OCI7: no counts, the bytes bound the characters
        {10, 10, 31, 1, 1, 11},         // US7ASCII
        {10, 10, 31, 0, 0, 11},         // nothing loaded: the described width
        {4000, 4000, 31, 4, kUtf8, 16001},
        {32767, 32767, 31, 4, kUtf8, kMaxTextBuffer},
        {-5, 0, 0, 4, kUtf8, 1},  // a broken describe never wraps
    };
    for (const auto& c : cases) {
        TColumnDescription column;
        column.internalType = itVarchar2;
        column.dataSize = c.dataSize;
        column.charLength = c.charLength;
        column.charsetId = c.charsetId;
        EXPECT_EQ(TextBufferSize(column, c.clientBytes, c.clientCharsetId), c.expected)
            << c.dataSize << "/" << c.charLength << "/" << c.charsetId << "/" << c.clientBytes;
    }
}

}  // namespace
}  // namespace velnor::oracle
