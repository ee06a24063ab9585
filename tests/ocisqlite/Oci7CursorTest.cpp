// OCI7 cursors: parse, describe, define, bind, execute and fetch with the CDA fields.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "oci/OciFunctions.h"
#include "tests/support/TempHome.h"

namespace velnor::test {
namespace {

#define Call(name) VELNOR_ENTRY(*client_, name)

OraText* Text(std::string& s) { return reinterpret_cast<OraText*>(s.data()); }

struct Oci7CursorTest : ::testing::Test {
    static void SetUpTestSuite() {
        home_ = new TTempHome();
        home_->AddService("ORCL");
        home_->AddUser("ORCL", "SCOTT", "TIGER");
        home_->SetAsOracleHome();
        client_ = new TRawClient();
    }
    static void TearDownTestSuite() {
        delete client_;
        delete home_;
    }
    void SetUp() override {
        LogOn(lda, hda);
        ASSERT_EQ(0, lda.rc);
        ASSERT_EQ(0, Call(oopen)(&cda, &lda, nullptr, -1, -1, nullptr, -1));
        Parse("drop table t");
        Call(oexec)(&cda);
        Parse("create table t (n number(5), s varchar2(10), l long)");
        ASSERT_EQ(0, Call(oexec)(&cda)) << cda.rc;
    }
    void TearDown() override {
        Call(oclose)(&cda);
        Call(ologof)(&lda);
    }
    void LogOn(Lda_Def& area, ub1* host) {
        std::memset(&area, 0, sizeof area);
        std::memset(host, 0, HDA_SIZE);
        std::string text = "scott/tiger@orcl";
        Call(olog)(&area, host, Text(text), -1, nullptr, -1, nullptr, -1, OCI_LM_DEF);
    }
    void Parse(std::string sql, Cda_Def* on = nullptr) {
        Call(oparse)(on ? on : &cda, Text(sql), -1, 0, 2);
    }
    // Inserts rows 1..n with an array execute.
    void Fill(sword n) {
        Parse("insert into t (n, s) values (:n, :s)");
        sb4 numbers[50];
        char texts[50][10];
        ub2 lengths[50];
        for (sword i = 0; i < n; ++i) {
            numbers[i] = i + 1;
            lengths[i] = static_cast<ub2>(std::snprintf(texts[i], 10, "r%d", i + 1));
        }
        std::string n1 = ":n", n2 = ":s";
        ASSERT_EQ(0, Call(obndra)(&cda, Text(n1), -1, reinterpret_cast<ub1*>(numbers), 4, SQLT_INT,
                                  -1, nullptr, nullptr, nullptr, 0, nullptr, nullptr, -1, -1));
        ASSERT_EQ(0, Call(obndra)(&cda, Text(n2), -1, reinterpret_cast<ub1*>(texts), 10, SQLT_CHR,
                                  -1, nullptr, lengths, nullptr, 0, nullptr, nullptr, -1, -1));
        ASSERT_EQ(0, Call(oexn)(&cda, n, 0)) << cda.rc;
        EXPECT_EQ(static_cast<ub4>(n), cda.rpc);
        EXPECT_EQ(3, cda.ft);  // INSERT
    }

    static TTempHome* home_;
    static TRawClient* client_;
    Lda_Def lda{};
    ub1 hda[HDA_SIZE] = {};
    Cda_Def cda{};
};

TTempHome* Oci7CursorTest::home_ = nullptr;
TRawClient* Oci7CursorTest::client_ = nullptr;

TEST_F(Oci7CursorTest, ShortLastBatchGivesRc1403WithCumulativeRpc) {
    Fill(25);
    Parse("select n from t order by n");
    sb4 values[10] = {};
    ASSERT_EQ(0, Call(odefin)(&cda, 1, reinterpret_cast<ub1*>(values), 4, SQLT_INT, -1, nullptr,
                              nullptr, -1, -1, nullptr, nullptr));
    Call(oexfet)(&cda, 10, 0, 0);
    EXPECT_EQ(0, cda.rc);
    EXPECT_EQ(10u, cda.rpc);
    EXPECT_EQ(4, cda.ft);
    Call(ofen)(&cda, 10);
    EXPECT_EQ(0, cda.rc);
    EXPECT_EQ(20u, cda.rpc);
    Call(ofen)(&cda, 10);
    EXPECT_EQ(1403, cda.rc);
    EXPECT_EQ(25u, cda.rpc);
    EXPECT_EQ(25, values[4]);
}

TEST_F(Oci7CursorTest, DescribeReportsColumnsAndEndsWith1007) {
    Parse("select n, s, rowid from t");
    sb4 dbsize = 0, nameLength = 0, dsize = 0;
    sb2 dbtype = 0, prec = 0, scale = 0, nullok = 0;
    sb1 name[32];
    nameLength = sizeof name;
    ASSERT_EQ(0, Call(odescr)(&cda, 1, &dbsize, &dbtype, name, &nameLength, &dsize, &prec, &scale,
                              &nullok));
    EXPECT_EQ(2, dbtype);
    EXPECT_EQ(22, dbsize);
    EXPECT_EQ(5, prec);
    EXPECT_EQ("N",
              std::string(reinterpret_cast<char*>(name), static_cast<std::size_t>(nameLength)));
    nameLength = sizeof name;
    Call(odescr)(&cda, 2, &dbsize, &dbtype, name, &nameLength, &dsize, &prec, &scale, &nullok);
    EXPECT_EQ(1, dbtype);
    EXPECT_EQ(10, dbsize);
    nameLength = sizeof name;
    Call(odescr)(&cda, 3, &dbsize, &dbtype, name, &nameLength, &dsize, &prec, &scale, &nullok);
    EXPECT_EQ(SQLT_RID, dbtype);  // OCI7 reports ROWID as 11
    nameLength = sizeof name;
    Call(odescr)(&cda, 4, &dbsize, &dbtype, name, &nameLength, &dsize, &prec, &scale, &nullok);
    EXPECT_EQ(1007, cda.rc);
}

TEST_F(Oci7CursorTest, NullWithoutIndicatorIsRc1405) {
    Parse("insert into t (s) values ('x')");
    ASSERT_EQ(0, Call(oexec)(&cda));
    Parse("select n from t");
    sb4 value = 0;
    sb2 indicator = 0;
    Call(odefin)(&cda, 1, reinterpret_cast<ub1*>(&value), 4, SQLT_INT, -1, &indicator, nullptr, -1,
                 -1, nullptr, nullptr);
    Call(oexfet)(&cda, 1, 0, 0);
    EXPECT_EQ(0, cda.rc);
    EXPECT_EQ(-1, indicator);
    Call(odefin)(&cda, 1, reinterpret_cast<ub1*>(&value), 4, SQLT_INT, -1, nullptr, nullptr, -1, -1,
                 nullptr, nullptr);
    Call(oexfet)(&cda, 1, 0, 0);
    EXPECT_EQ(1405, cda.rc);
}

TEST_F(Oci7CursorTest, FailingArrayElementShowsInRpc) {
    Parse("insert into t (n) values (:n)");
    sb4 numbers[4] = {1, 2, 123456, 4};  // NUMBER(5) refuses the third
    std::string name = ":n";
    Call(obndra)(&cda, Text(name), -1, reinterpret_cast<ub1*>(numbers), 4, SQLT_INT, -1, nullptr,
                 nullptr, nullptr, 0, nullptr, nullptr, -1, -1);
    Call(oexn)(&cda, 4, 0);
    EXPECT_EQ(1438, cda.rc);
    EXPECT_EQ(2u, cda.rpc);
}

TEST_F(Oci7CursorTest, LongValueIsReadInParts) {
    std::string value(3000, 'q');
    value[2999] = 'z';
    Parse("insert into t (l) values (:l)");
    std::string name = ":l";
    Call(obndra)(&cda, Text(name), -1, reinterpret_cast<ub1*>(value.data()),
                 static_cast<sword>(value.size()), SQLT_LNG, -1, nullptr, nullptr, nullptr, 0,
                 nullptr, nullptr, -1, -1);
    ASSERT_EQ(0, Call(oexec)(&cda)) << cda.rc;
    Parse("select l from t");
    char first[100];
    sb2 indicator = 0;
    Call(odefin)(&cda, 1, reinterpret_cast<ub1*>(first), sizeof first, SQLT_LNG, -1, &indicator,
                 nullptr, -1, -1, nullptr, nullptr);
    Call(oexfet)(&cda, 1, 0, 0);
    EXPECT_EQ(0, cda.rc);
    EXPECT_EQ(3000, indicator);  // truncated in the define; the whole value has 3000 bytes
    char part[2000];
    ub4 got = 0;
    ASSERT_EQ(
        0, Call(oflng)(&cda, 1, reinterpret_cast<ub1*>(part), sizeof part, SQLT_LNG, &got, 2000));
    EXPECT_EQ(1000u, got);
    EXPECT_EQ('z', part[999]);
}

TEST_F(Oci7CursorTest, AutocommitAndRollbackOnTheLda) {
    Lda_Def other{};
    ub1 otherHda[HDA_SIZE];
    LogOn(other, otherHda);
    ASSERT_EQ(0, other.rc);
    Cda_Def counter{};
    Call(oopen)(&counter, &other, nullptr, -1, -1, nullptr, -1);
    sb4 count = -1;
    auto Count = [&] {
        Parse("select count(*) from t", &counter);
        Call(odefin)(&counter, 1, reinterpret_cast<ub1*>(&count), 4, SQLT_INT, -1, nullptr, nullptr,
                     -1, -1, nullptr, nullptr);
        Call(oexfet)(&counter, 1, 0, 0);
        return count;
    };
    Fill(2);
    ASSERT_EQ(0, Call(orol)(&lda));
    EXPECT_EQ(0, Count());
    ASSERT_EQ(0, Call(ocon)(&lda));
    Fill(3);
    EXPECT_EQ(3, Count());
    Call(ocof)(&lda);
    Fill(1);
    EXPECT_EQ(3, Count());
    ASSERT_EQ(0, Call(ocom)(&lda));
    EXPECT_EQ(4, Count());
    Call(oclose)(&counter);
    Call(ologof)(&other);
}

TEST_F(Oci7CursorTest, ClosedCursorIsRc1001) {
    Call(oclose)(&cda);
    Parse("select 1 from dual");
    EXPECT_EQ(1001, cda.rc);
    ASSERT_EQ(0, Call(oopen)(&cda, &lda, nullptr, -1, -1, nullptr, -1));  // for TearDown
}

TEST_F(Oci7CursorTest, CursorOutlivingItsLogonFailsCleanly) {
    Lda_Def other{};
    ub1 otherHda[HDA_SIZE];
    LogOn(other, otherHda);
    Cda_Def orphan{};
    ASSERT_EQ(0, Call(oopen)(&orphan, &other, nullptr, -1, -1, nullptr, -1));
    Parse("select 1 from dual", &orphan);
    ASSERT_EQ(0, Call(ologof)(&other));
    Call(oexec)(&orphan);
    EXPECT_EQ(1012, orphan.rc);
    Call(oclose)(&orphan);
}

}  // namespace
}  // namespace velnor::test

namespace velnor::test {
namespace {

// NUMBER's internal form in and out through the OCI7 calls, VARNUM (type 6) in, type 2 and
// VARNUM out, beyond what a double holds.
TEST_F(Oci7CursorTest, NumbersTravelExactlyAsTypesTwoAndSix) {
    Parse("create table w (n number)");
    Call(oexec)(&cda);
    const std::vector<std::vector<ub1>> values = {
        {0xCA, 2, 24, 46, 68, 90, 2, 24, 46, 68, 90},  // 1234567890123456789
        {0x7F, 100, 102},                              // -1E-130
        {0x3D, 100, 78, 56, 102},                      // -123.45
    };
    for (const auto& bytes : values) {
        Parse("delete from w");
        ASSERT_EQ(0, Call(oexec)(&cda)) << cda.rc;
        Parse("insert into w values (:v)");
        ub1 varnum[22] = {static_cast<ub1>(bytes.size())};
        std::memcpy(varnum + 1, bytes.data(), bytes.size());
        std::string name = ":v";
        ASSERT_EQ(0, Call(obndra)(&cda, Text(name), -1, varnum, sizeof varnum, SQLT_VNU, -1,
                                  nullptr, nullptr, nullptr, 0, nullptr, nullptr, -1, -1));
        ASSERT_EQ(0, Call(oexec)(&cda)) << cda.rc;
        for (const sword type : {SQLT_NUM, SQLT_VNU}) {
            Parse("select n from w");
            ub1 out[22] = {};
            ub2 length = 0;
            ASSERT_EQ(0, Call(odefin)(&cda, 1, out, sizeof out, type, -1, nullptr, nullptr, -1, -1,
                                      &length, nullptr));
            Call(oexfet)(&cda, 1, 0, 0);
            ASSERT_EQ(0, cda.rc);
            const ub1* first = type == SQLT_NUM ? out : out + 1;
            const std::size_t size = type == SQLT_NUM ? length : out[0];
            EXPECT_EQ(std::vector<ub1>(first, first + size), bytes) << "type " << type;
        }
    }
}

}  // namespace
}  // namespace velnor::test
