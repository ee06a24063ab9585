// Statements through the raw OCI8 entry points: binds, array DML, describe, defines,
// array fetch, piecewise LONG fetch and transactions.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "oci/OciFunctions.h"
#include "tests/support/TempHome.h"

namespace velnor::test {
namespace {

#define Call(name) VELNOR_ENTRY(*client_, name)

const OraText* Text(const std::string& s) { return reinterpret_cast<const OraText*>(s.c_str()); }

struct OciStatementTest : ::testing::Test {
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
        ASSERT_EQ(OCI_SUCCESS, Call(OCIEnvCreate)(&env, OCI_DEFAULT, nullptr, nullptr, nullptr,
                                                  nullptr, 0, nullptr));
        void* e = nullptr;
        ASSERT_EQ(OCI_SUCCESS, Call(OCIHandleAlloc)(env, &e, OCI_HTYPE_ERROR, 0, nullptr));
        err = static_cast<OCIError*>(e);
        svc = LogOn();
        ASSERT_NE(nullptr, svc);
        void* s = nullptr;
        ASSERT_EQ(OCI_SUCCESS, Call(OCIHandleAlloc)(env, &s, OCI_HTYPE_STMT, 0, nullptr));
        stmt = static_cast<OCIStmt*>(s);
        Run("drop table t");  // left over from an earlier test, or absent
        ASSERT_EQ(OCI_SUCCESS,
                  Run("create table t (n number(7,2), s varchar2(20) not null, d date, x number)"))
            << Error();
    }
    void TearDown() override {
        if (svc) Call(OCILogoff)(svc, err);
        Call(OCIHandleFree)(env, OCI_HTYPE_ENV);
    }

    OCISvcCtx* LogOn() {
        OCISvcCtx* context = nullptr;
        const sword s =
            Call(OCILogon)(env, err, &context, Text("SCOTT"), 5, Text("TIGER"), 5, Text("ORCL"), 4);
        return s == OCI_SUCCESS ? context : nullptr;
    }
    sword Prepare(const std::string& sql, OCIStmt* on = nullptr) {
        return Call(OCIStmtPrepare)(on ? on : stmt, err, Text(sql), static_cast<ub4>(sql.size()),
                                    OCI_NTV_SYNTAX, OCI_DEFAULT);
    }
    sword Execute(ub4 iters, ub4 rowoff = 0, ub4 mode = OCI_DEFAULT, OCISvcCtx* on = nullptr,
                  OCIStmt* statement = nullptr) {
        return Call(OCIStmtExecute)(on ? on : svc, statement ? statement : stmt, err, iters, rowoff,
                                    nullptr, nullptr, mode);
    }
    sword Run(const std::string& sql) {
        const sword s = Prepare(sql);
        return s != OCI_SUCCESS ? s : Execute(1);
    }
    sword Fetch(ub4 rows) { return Call(OCIStmtFetch)(stmt, err, rows, OCI_FETCH_NEXT, 0); }
    template <class T>
    T StmtAttr(ub4 attr) {
        T value{};
        EXPECT_EQ(OCI_SUCCESS, Call(OCIAttrGet)(stmt, OCI_HTYPE_STMT, &value, nullptr, attr, err));
        return value;
    }
    sb4 Code() {
        sb4 code = 0;
        Call(OCIErrorGet)(err, 1, nullptr, &code, nullptr, 0, OCI_HTYPE_ERROR);
        return code;
    }
    std::string Error() {
        char buf[512] = {};
        sb4 code = 0;
        Call(OCIErrorGet)(err, 1, nullptr, &code, reinterpret_cast<OraText*>(buf), sizeof buf,
                          OCI_HTYPE_ERROR);
        return buf;
    }
    // Inserts n rows (i, "row i") with one array execute.
    void Fill(int n) {
        ASSERT_EQ(OCI_SUCCESS, Prepare("insert into t (n, s) values (:n, :s)"));
        std::vector<sb4> numbers(static_cast<std::size_t>(n));
        std::vector<char> texts(static_cast<std::size_t>(n) * 12);
        std::vector<ub2> lengths(static_cast<std::size_t>(n));
        for (int i = 0; i < n; ++i) {
            numbers[static_cast<std::size_t>(i)] = i + 1;
            const std::string s = "row " + std::to_string(i + 1);
            std::memcpy(&texts[static_cast<std::size_t>(i) * 12], s.data(), s.size());
            lengths[static_cast<std::size_t>(i)] = static_cast<ub2>(s.size());
        }
        OCIBind* b1 = nullptr;
        OCIBind* b2 = nullptr;
        ASSERT_EQ(OCI_SUCCESS,
                  Call(OCIBindByName)(stmt, &b1, err, Text(":n"), -1, numbers.data(), 4, SQLT_INT,
                                      nullptr, nullptr, nullptr, 0, nullptr, OCI_DEFAULT));
        ASSERT_EQ(OCI_SUCCESS,
                  Call(OCIBindByName)(stmt, &b2, err, Text(":S"), 2, texts.data(), 12, SQLT_CHR,
                                      nullptr, lengths.data(), nullptr, 0, nullptr, OCI_DEFAULT));
        ASSERT_EQ(OCI_SUCCESS, Execute(static_cast<ub4>(n))) << Error();
        EXPECT_EQ(static_cast<ub4>(n), StmtAttr<ub4>(OCI_ATTR_ROW_COUNT));
    }
    // COUNT(*) of t seen through another session.
    long CountFromOutside() {
        OCISvcCtx* other = LogOn();
        void* s = nullptr;
        Call(OCIHandleAlloc)(env, &s, OCI_HTYPE_STMT, 0, nullptr);
        auto* statement = static_cast<OCIStmt*>(s);
        Prepare("select count(*) from t", statement);
        sb4 count = -1;
        OCIDefine* d = nullptr;
        Call(OCIDefineByPos)(statement, &d, err, 1, &count, 4, SQLT_INT, nullptr, nullptr, nullptr,
                             OCI_DEFAULT);
        const sword status = Execute(1, 0, OCI_DEFAULT, other, statement);
        Call(OCIHandleFree)(statement, OCI_HTYPE_STMT);
        Call(OCILogoff)(other, err);
        return status == OCI_SUCCESS ? count : -1;
    }

    // A session in client set `charset`, a table L and its row 1 locked, its CLOB and BLOB
    // in lobs[0] and lobs[1].
    void LockLobRow(const char* charset, const std::string& clob, const std::string& blob) {
        ::setenv("NLS_LANG", (std::string("AMERICAN_AMERICA.") + charset).c_str(), 1);
        Call(OCILogoff)(svc, err);
        svc = LogOn();
        Run("drop table l");
        ASSERT_EQ(OCI_SUCCESS, Run("create table l (id number, c clob, b blob)")) << Error();
        ASSERT_EQ(OCI_SUCCESS, Run("insert into l values (1, " + clob + ", " + blob + ")"));
        SelectLobs("select c, b from l for update");
    }
    void SelectLobs(const std::string& sql) {
        ASSERT_EQ(OCI_SUCCESS, Prepare(sql));
        for (ub4 i = 0; i < 2; ++i) {
            void* d = nullptr;
            Call(OCIDescriptorAlloc)(env, &d, OCI_DTYPE_LOB, 0, nullptr);
            lobs[i] = static_cast<OCILobLocator*>(d);
            OCIDefine* define = nullptr;
            Call(OCIDefineByPos)(stmt, &define, err, i + 1, &lobs[i], sizeof lobs[i],
                                 i ? SQLT_BLOB : SQLT_CLOB, nullptr, nullptr, nullptr, OCI_DEFAULT);
        }
        ASSERT_EQ(OCI_SUCCESS, Execute(1)) << Error();
    }
    std::string LobText(OCILobLocator* lob) {
        char buffer[256];
        ub4 amount = 0;
        EXPECT_EQ(OCI_SUCCESS, Call(OCILobRead)(svc, err, lob, &amount, 1, buffer, sizeof buffer,
                                                nullptr, nullptr, 0, SQLCS_IMPLICIT))
            << Error();
        return std::string(buffer, amount);
    }
    sword LobWrite(OCILobLocator* lob, ub4 offset, std::string bytes, ub4& amount,
                   ub1 piece = OCI_ONE_PIECE) {
        if (piece == OCI_ONE_PIECE) amount = static_cast<ub4>(bytes.size());
        return Call(OCILobWrite)(svc, err, lob, &amount, offset, bytes.data(),
                                 static_cast<ub4>(bytes.size()), piece, nullptr, nullptr, 0,
                                 SQLCS_IMPLICIT);
    }

    static TTempHome* home_;
    static TRawClient* client_;
    OCILobLocator* lobs[2] = {};
    OCIEnv* env = nullptr;
    OCIError* err = nullptr;
    OCISvcCtx* svc = nullptr;
    OCIStmt* stmt = nullptr;
};

TTempHome* OciStatementTest::home_ = nullptr;
TRawClient* OciStatementTest::client_ = nullptr;

TEST_F(OciStatementTest, StatementTypeIsKnownRightAfterPrepare) {
    ASSERT_EQ(OCI_SUCCESS, Prepare("  /* x */ select * from t"));
    EXPECT_EQ(OCI_STMT_SELECT, StmtAttr<ub2>(OCI_ATTR_STMT_TYPE));
    ASSERT_EQ(OCI_SUCCESS, Prepare("UPDATE t SET n = 1"));
    EXPECT_EQ(OCI_STMT_UPDATE, StmtAttr<ub2>(OCI_ATTR_STMT_TYPE));
}

TEST_F(OciStatementTest, ArrayFetchEndsWithAShortBatchAndCumulativeRowCount) {
    Fill(25);
    ASSERT_EQ(OCI_SUCCESS, Prepare("select n from t order by n"));
    sb4 values[10] = {};
    OCIDefine* d = nullptr;
    ASSERT_EQ(OCI_SUCCESS, Call(OCIDefineByPos)(stmt, &d, err, 1, values, 4, SQLT_INT, nullptr,
                                                nullptr, nullptr, OCI_DEFAULT));
    ASSERT_EQ(OCI_SUCCESS, Execute(0));
    std::vector<sb4> seen;
    const sword expected[] = {OCI_SUCCESS, OCI_SUCCESS, OCI_NO_DATA, OCI_NO_DATA};
    const ub4 counts[] = {10, 20, 25, 25};
    ub4 before = 0;
    for (int batch = 0; batch < 4; ++batch) {
        EXPECT_EQ(expected[batch], Fetch(10)) << "batch " << batch;
        const ub4 after = StmtAttr<ub4>(OCI_ATTR_ROW_COUNT);
        EXPECT_EQ(counts[batch], after);
        for (ub4 i = 0; i < after - before; ++i) seen.push_back(values[i]);
        before = after;
    }
    ASSERT_EQ(25u, seen.size());
    for (int i = 0; i < 25; ++i) EXPECT_EQ(i + 1, seen[static_cast<std::size_t>(i)]);
}

TEST_F(OciStatementTest, ExecuteWithItersFetchesIntoTheDefines) {
    Fill(3);
    ASSERT_EQ(OCI_SUCCESS, Prepare("select n from t order by n"));
    sb4 values[5] = {};
    OCIDefine* d = nullptr;
    Call(OCIDefineByPos)(stmt, &d, err, 1, values, 4, SQLT_INT, nullptr, nullptr, nullptr, 0);
    EXPECT_EQ(OCI_NO_DATA, Execute(5));
    EXPECT_EQ(3u, StmtAttr<ub4>(OCI_ATTR_ROW_COUNT));
    EXPECT_EQ(3, values[2]);
}

TEST_F(OciStatementTest, DescribeOnlyReportsTheSelectList) {
    ASSERT_EQ(OCI_SUCCESS, Prepare("select n, s, d, x, count(*) c from t group by n, s, d, x"));
    ASSERT_EQ(OCI_SUCCESS, Execute(0, 0, OCI_DESCRIBE_ONLY)) << Error();
    ASSERT_EQ(5u, StmtAttr<ub4>(OCI_ATTR_PARAM_COUNT));
    struct Expected {
        const char* name;
        ub2 type, size;
        sb2 precision;
        sb1 scale;
        ub1 nullable;
    };
    const Expected columns[] = {{"N", 2, 22, 7, 2, 1},
                                {"S", 1, 20, 0, 0, 0},
                                {"D", 12, 7, 0, 0, 1},
                                {"X", 2, 22, 0, -127, 1},
                                {"C", 2, 22, 0, -127, 1}};
    for (ub4 i = 0; i < 5; ++i) {
        void* p = nullptr;
        ASSERT_EQ(OCI_SUCCESS, Call(OCIParamGet)(stmt, OCI_HTYPE_STMT, err, &p, i + 1));
        ub2 type = 0, size = 0;
        sb2 precision = 99;
        sb1 scale = 99;
        ub1 nullable = 9;
        OraText* name = nullptr;
        ub4 nameLength = 0;
        Call(OCIAttrGet)(p, OCI_DTYPE_PARAM, &type, nullptr, OCI_ATTR_DATA_TYPE, err);
        Call(OCIAttrGet)(p, OCI_DTYPE_PARAM, &size, nullptr, OCI_ATTR_DATA_SIZE, err);
        Call(OCIAttrGet)(p, OCI_DTYPE_PARAM, &precision, nullptr, OCI_ATTR_PRECISION, err);
        Call(OCIAttrGet)(p, OCI_DTYPE_PARAM, &scale, nullptr, OCI_ATTR_SCALE, err);
        Call(OCIAttrGet)(p, OCI_DTYPE_PARAM, &nullable, nullptr, OCI_ATTR_IS_NULL, err);
        Call(OCIAttrGet)(p, OCI_DTYPE_PARAM, &name, &nameLength, OCI_ATTR_NAME, err);
        const Expected& e = columns[i];
        EXPECT_EQ(e.name, std::string(reinterpret_cast<char*>(name), nameLength));
        EXPECT_EQ(e.type, type) << e.name;
        EXPECT_EQ(e.size, size) << e.name;
        EXPECT_EQ(e.precision, precision) << e.name;
        EXPECT_EQ(e.scale, scale) << e.name;
        if (i < 4) {  // expressions: the engine's call
            EXPECT_EQ(e.nullable, nullable) << e.name;
        }
        Call(OCIDescriptorFree)(p, OCI_DTYPE_PARAM);
    }
    void* p = nullptr;
    EXPECT_EQ(OCI_ERROR, Call(OCIParamGet)(stmt, OCI_HTYPE_STMT, err, &p, 6));
    EXPECT_EQ(24334, Code());
}

TEST_F(OciStatementTest, MisusedStatementsGiveTheirErrors) {
    ASSERT_EQ(OCI_SUCCESS, Prepare("select n from t"));
    void* p = nullptr;
    EXPECT_EQ(OCI_ERROR, Call(OCIParamGet)(stmt, OCI_HTYPE_STMT, err, &p, 1));
    EXPECT_EQ(24338, Code());
    EXPECT_EQ(OCI_ERROR, Fetch(1));
    EXPECT_EQ(1002, Code());
    ASSERT_EQ(OCI_SUCCESS, Prepare("delete from t"));
    EXPECT_EQ(OCI_ERROR, Execute(0));
    EXPECT_EQ(24333, Code());
    EXPECT_EQ(OCI_ERROR, Run("select nothing from nowhere"));
    EXPECT_EQ(942, Code());
}

TEST_F(OciStatementTest, DefinesConvertToEachExternalType) {
    ASSERT_EQ(OCI_SUCCESS, Run("insert into t (n, s, d, x) values (12345.5, 'abc', "
                               "to_date('2004-03-15 13:45:30', 'YYYY-MM-DD HH24:MI:SS'), 12345)"))
        << Error();
    ASSERT_EQ(OCI_SUCCESS, Prepare("select n, s, d, x, x, x, x, s from t"));
    double real = 0;
    char text[8] = {};
    unsigned char date[7] = {};
    sb8 integer = 0;
    unsigned char number[22] = {};
    char terminated[8];
    std::memset(terminated, 'z', sizeof terminated);
    char padded[6] = {};
    ub2 numberLength = 0, textLength = 0;
    OCIDefine* d = nullptr;
    Call(OCIDefineByPos)(stmt, &d, err, 1, &real, 8, SQLT_FLT, nullptr, nullptr, nullptr, 0);
    Call(OCIDefineByPos)(stmt, &d, err, 2, text, 8, SQLT_CHR, nullptr, &textLength, nullptr, 0);
    Call(OCIDefineByPos)(stmt, &d, err, 3, date, 7, SQLT_DAT, nullptr, nullptr, nullptr, 0);
    Call(OCIDefineByPos)(stmt, &d, err, 4, &integer, 8, SQLT_INT, nullptr, nullptr, nullptr, 0);
    Call(OCIDefineByPos)(stmt, &d, err, 5, number, 22, SQLT_NUM, nullptr, &numberLength, nullptr,
                         0);
    Call(OCIDefineByPos)(stmt, &d, err, 6, terminated, 8, SQLT_STR, nullptr, nullptr, nullptr, 0);
    Call(OCIDefineByPos)(stmt, &d, err, 8, padded, 6, SQLT_AFC, nullptr, nullptr, nullptr, 0);
    ASSERT_EQ(OCI_SUCCESS, Execute(1)) << Error();
    EXPECT_DOUBLE_EQ(12345.5, real);
    EXPECT_EQ("abc", std::string(text, textLength));
    const unsigned char expectedDate[7] = {120, 104, 3, 15, 14, 46, 31};
    EXPECT_EQ(0, std::memcmp(expectedDate, date, 7));
    EXPECT_EQ(12345, integer);
    const unsigned char expectedNumber[] = {0xC3, 2, 24, 46};  // 1|23|45 in base 100
    ASSERT_EQ(sizeof expectedNumber, numberLength);
    EXPECT_EQ(0, std::memcmp(expectedNumber, number, numberLength));
    EXPECT_STREQ("12345", terminated);
    EXPECT_EQ("abc   ", std::string(padded, 6));
}

// The internal form: exponent byte, base-100 digits plus one (negative: 101 minus, then 102).
TEST_F(OciStatementTest, NumbersFetchExactlyAsTypesTwoAndSix) {
    Run("drop table w");
    ASSERT_EQ(OCI_SUCCESS, Run("create table w (n number)")) << Error();
    struct Case {
        const char* literal;
        std::vector<unsigned char> bytes;
    };
    const Case cases[] = {
        {"1234567890123456789", {0xCA, 2, 24, 46, 68, 90, 2, 24, 46, 68, 90}},
        {"-1E-130", {0x7F, 100, 102}},
        {"1E-130", {0x80, 2}},
        {"99999999999999999999999999999999999999E88",
         {0xFF, 100, 100, 100, 100, 100, 100, 100, 100, 100,
          100,  100, 100, 100, 100, 100, 100, 100, 100, 100}},
        {"-123.45", {0x3D, 100, 78, 56, 102}},
        // Integers: trailing zero pairs are dropped, the lowest int64 has no positive twin.
        {"0", {0x80}},
        {"1200", {0xC2, 13}},
        {"-120", {0x3D, 100, 81, 102}},
        {"9223372036854775807", {0xCA, 10, 23, 34, 73, 4, 69, 55, 78, 59, 8}},
        {"-9223372036854775808", {0x35, 92, 79, 68, 29, 98, 33, 47, 24, 43, 93, 102}},
    };
    for (const Case& c : cases) {
        ASSERT_EQ(OCI_SUCCESS, Run("delete from w")) << Error();
        ASSERT_EQ(OCI_SUCCESS, Run(std::string("insert into w values (") + c.literal + ")"))
            << Error();
        for (const ub2 type : {ub2{SQLT_NUM}, ub2{SQLT_VNU}}) {
            ASSERT_EQ(OCI_SUCCESS, Prepare("select n from w"));
            unsigned char out[22] = {};
            ub2 length = 0;
            OCIDefine* d = nullptr;
            Call(OCIDefineByPos)(stmt, &d, err, 1, out, sizeof out, type, nullptr, &length, nullptr,
                                 OCI_DEFAULT);
            ASSERT_EQ(OCI_SUCCESS, Execute(1)) << Error();
            std::vector<unsigned char> got;
            if (type == SQLT_NUM)
                got.assign(out, out + length);
            else
                got.assign(out + 1, out + 1 + out[0]);
            EXPECT_EQ(got, c.bytes) << c.literal << " type " << type;
        }
    }
}

// A NUMBER fetched as a double is the double nearest to it, as reading its text gives.
TEST_F(OciStatementTest, NumbersFetchAsTheNearestDouble) {
    Run("drop table w");
    ASSERT_EQ(OCI_SUCCESS, Run("create table w (n number)")) << Error();
    for (const char* literal :
         {"1.25", "-0.07", "0.1", "123456789012345.6", "-12345678.9012345", "1E22", "1E23",
          "9007199254740993", "4.35", "1E-130", "-99999999.99", "0.000001"}) {
        ASSERT_EQ(OCI_SUCCESS, Run("delete from w")) << Error();
        ASSERT_EQ(OCI_SUCCESS, Run(std::string("insert into w values (") + literal + ")"))
            << Error();
        ASSERT_EQ(OCI_SUCCESS, Prepare("select n from w"));
        double got = 0;
        OCIDefine* d = nullptr;
        Call(OCIDefineByPos)(stmt, &d, err, 1, &got, sizeof got, SQLT_FLT, nullptr, nullptr,
                             nullptr, OCI_DEFAULT);
        ASSERT_EQ(OCI_SUCCESS, Execute(1)) << Error();
        EXPECT_EQ(got, std::strtod(literal, nullptr)) << literal;
    }
}

TEST_F(OciStatementTest, NumberBytesBindExactlyIntoNumberColumns) {
    Run("drop table w");
    ASSERT_EQ(OCI_SUCCESS, Run("create table w (n number(38))")) << Error();
    // 38 nines: exponent byte 0xD3 (100^18), then 19 pairs of 99.
    std::vector<unsigned char> nines{0xD3};
    nines.insert(nines.end(), 19, 100);
    ASSERT_EQ(OCI_SUCCESS, Prepare("insert into w values (:v)"));
    OCIBind* b = nullptr;
    Call(OCIBindByPos)(stmt, &b, err, 1, nines.data(), static_cast<sb4>(nines.size()), SQLT_NUM,
                       nullptr, nullptr, nullptr, 0, nullptr, OCI_DEFAULT);
    ASSERT_EQ(OCI_SUCCESS, Execute(1)) << Error();
    ASSERT_EQ(OCI_SUCCESS, Prepare("select to_char(n) from w"));
    char out[64] = {};
    OCIDefine* d = nullptr;
    Call(OCIDefineByPos)(stmt, &d, err, 1, out, sizeof out, SQLT_STR, nullptr, nullptr, nullptr,
                         OCI_DEFAULT);
    ASSERT_EQ(OCI_SUCCESS, Execute(1)) << Error();
    EXPECT_EQ(std::string(out), std::string(38, '9'));
}

TEST_F(OciStatementTest, OciNumberConversionsFollowTheClient) {
    OCINumber n;
    // Integers of each width and sign, and back.
    const sb8 negative = -123;
    ASSERT_EQ(OCI_SUCCESS, Call(OCINumberFromInt)(err, &negative, 8, OCI_NUMBER_SIGNED, &n));
    EXPECT_EQ(std::vector<ub1>(n.OCINumberPart, n.OCINumberPart + 5),
              (std::vector<ub1>{4, 0x3D, 100, 78, 102}));
    sb2 small = 0;
    ASSERT_EQ(OCI_SUCCESS, Call(OCINumberToInt)(err, &n, 2, OCI_NUMBER_SIGNED, &small));
    EXPECT_EQ(small, -123);
    ub4 unsignedOut = 0;
    EXPECT_EQ(OCI_ERROR, Call(OCINumberToInt)(err, &n, 4, OCI_NUMBER_UNSIGNED, &unsignedOut));
    EXPECT_EQ(Code(), 22054);
    const ub8 big = 18446744073709551615ULL;
    ASSERT_EQ(OCI_SUCCESS, Call(OCINumberFromInt)(err, &big, 8, OCI_NUMBER_UNSIGNED, &n));
    sb8 signedOut = 0;
    EXPECT_EQ(OCI_ERROR, Call(OCINumberToInt)(err, &n, 8, OCI_NUMBER_SIGNED, &signedOut));
    EXPECT_EQ(Code(), 22053);
    ub8 unsignedBig = 0;
    ASSERT_EQ(OCI_SUCCESS, Call(OCINumberToInt)(err, &n, 8, OCI_NUMBER_UNSIGNED, &unsignedBig));
    EXPECT_EQ(unsignedBig, big);
    EXPECT_EQ(OCI_ERROR, Call(OCINumberFromInt)(err, &negative, 3, OCI_NUMBER_SIGNED, &n));
    EXPECT_EQ(Code(), 22057);

    // Text both ways, every digit kept.
    auto text = [&](const std::string& in) -> std::string {
        if (Call(OCINumberFromText)(err, Text(in), static_cast<ub4>(in.size()), nullptr, 0, nullptr,
                                    0, &n) != OCI_SUCCESS)
            return "error " + std::to_string(Code());
        OraText buf[64] = {};
        ub4 size = sizeof buf;
        if (Call(OCINumberToText)(err, &n, nullptr, 0, nullptr, 0, &size, buf) != OCI_SUCCESS)
            return "error " + std::to_string(Code());
        return std::string(reinterpret_cast<char*>(buf), size);
    };
    EXPECT_EQ(text("1234567890123456789012345678901234567.8"),
              "1234567890123456789012345678901234567.8");
    EXPECT_EQ(text("0.50"), ".5");
    EXPECT_EQ(text("-1e-130"), "-1E-130");
    EXPECT_EQ(text("1e126"), "error 22053");
    EXPECT_EQ(text("12a"), "error 22062");
    const std::string grouped = "$1,234,567.5";
    const std::string model = "$9G999G999D9";
    ASSERT_EQ(OCI_SUCCESS,
              Call(OCINumberFromText)(err, Text(grouped), static_cast<ub4>(grouped.size()),
                                      Text(model), static_cast<ub4>(model.size()), nullptr, 0, &n))
        << Error();
    sb4 whole = 0;
    ASSERT_EQ(OCI_SUCCESS, Call(OCINumberToInt)(err, &n, 4, OCI_NUMBER_SIGNED, &whole));
    EXPECT_EQ(whole, 1234567);  // the fraction is cut off
    const std::string unsupported = "9EEEE";
    EXPECT_EQ(OCI_ERROR,
              Call(OCINumberFromText)(err, Text(grouped), static_cast<ub4>(grouped.size()),
                                      Text(unsupported), static_cast<ub4>(unsupported.size()),
                                      nullptr, 0, &n));
    EXPECT_EQ(Code(), 22061);

    // Reals: the digits a double stands for, not its binary expansion.
    const double tenth = 0.1;
    ASSERT_EQ(OCI_SUCCESS, Call(OCINumberFromReal)(err, &tenth, sizeof tenth, &n));
    EXPECT_EQ(std::vector<ub1>(n.OCINumberPart, n.OCINumberPart + 3),
              (std::vector<ub1>{2, 0xC0, 11}));
    double back = 0;
    ASSERT_EQ(OCI_SUCCESS, Call(OCINumberToReal)(err, &n, sizeof back, &back));
    EXPECT_EQ(back, 0.1);
}

TEST_F(OciStatementTest, NumbersBindAsOracleNumbersBothWays) {
    struct Case {
        std::vector<unsigned char> bytes;
        const char* text;
    };
    const Case cases[] = {{{0x80}, "0"},
                          {{0xC1, 2}, "1"},
                          {{0x3E, 100, 102}, "-1"},
                          {{0xC0, 51}, ".5"},
                          {{0x3F, 51, 102}, "-.5"}};
    for (const Case& c : cases) {
        ASSERT_EQ(OCI_SUCCESS, Prepare("select to_char(:v) from dual"));
        OCIBind* b = nullptr;
        Call(OCIBindByPos)(stmt, &b, err, 1, const_cast<unsigned char*>(c.bytes.data()),
                           static_cast<sb4>(c.bytes.size()), SQLT_NUM, nullptr, nullptr, nullptr, 0,
                           nullptr, OCI_DEFAULT);
        char out[32] = {};
        OCIDefine* d = nullptr;
        Call(OCIDefineByPos)(stmt, &d, err, 1, out, sizeof out, SQLT_STR, nullptr, nullptr, nullptr,
                             0);
        ASSERT_EQ(OCI_SUCCESS, Execute(1)) << Error();
        EXPECT_STREQ(c.text, out);
    }
}

TEST_F(OciStatementTest, NullNeedsAnIndicator) {
    ASSERT_EQ(OCI_SUCCESS, Run("insert into t (s) values ('only s')"));
    ASSERT_EQ(OCI_SUCCESS, Prepare("select n from t"));
    sb4 value = 7;
    sb2 indicator = 0;
    OCIDefine* d = nullptr;
    Call(OCIDefineByPos)(stmt, &d, err, 1, &value, 4, SQLT_INT, &indicator, nullptr, nullptr, 0);
    EXPECT_EQ(OCI_SUCCESS, Execute(1));
    EXPECT_EQ(-1, indicator);
    Call(OCIDefineByPos)(stmt, &d, err, 1, &value, 4, SQLT_INT, nullptr, nullptr, nullptr, 0);
    EXPECT_EQ(OCI_ERROR, Execute(1));
    EXPECT_EQ(1405, Code());
}

TEST_F(OciStatementTest, TruncationIsReportedNotHidden) {
    ASSERT_EQ(OCI_SUCCESS, Run("insert into t (s) values ('ABCDEFGH')"));
    ASSERT_EQ(OCI_SUCCESS, Prepare("select s from t"));
    char buf[4];
    sb2 indicator = 0;
    ub2 length = 0, code = 0;
    OCIDefine* d = nullptr;
    Call(OCIDefineByPos)(stmt, &d, err, 1, buf, 4, SQLT_CHR, &indicator, &length, &code, 0);
    EXPECT_EQ(OCI_SUCCESS_WITH_INFO, Execute(1));
    EXPECT_EQ(24345, Code());
    EXPECT_EQ(8, indicator);
    EXPECT_EQ(4, length);
    EXPECT_EQ(1406, code);
    Call(OCIDefineByPos)(stmt, &d, err, 1, buf, 4, SQLT_CHR, nullptr, nullptr, nullptr, 0);
    EXPECT_EQ(OCI_ERROR, Execute(1));
    EXPECT_EQ(1406, Code());
}

TEST_F(OciStatementTest, ArrayDmlStopsAtTheFailingElementAndCountsTheRowsBefore) {
    ASSERT_EQ(OCI_SUCCESS, Prepare("insert into t (n, s) values (:1, :2)"));
    sb4 numbers[5] = {1, 2, 3, 4, 5};
    char texts[5][4] = {"a", "b", "", "d", "e"};  // '' is NULL: the NOT NULL column refuses it
    ub2 lengths[5] = {1, 1, 0, 1, 1};
    OCIBind* b = nullptr;
    Call(OCIBindByPos)(stmt, &b, err, 1, numbers, 4, SQLT_INT, nullptr, nullptr, nullptr, 0,
                       nullptr, OCI_DEFAULT);
    Call(OCIBindByPos)(stmt, &b, err, 2, texts, 4, SQLT_CHR, nullptr, lengths, nullptr, 0, nullptr,
                       OCI_DEFAULT);
    EXPECT_EQ(OCI_ERROR, Execute(5, 1));
    EXPECT_EQ(1400, Code());
    ub4 offset = 0;
    ASSERT_EQ(OCI_SUCCESS, Call(OCIAttrGet)(err, OCI_HTYPE_ERROR, &offset, nullptr,
                                            OCI_ATTR_DML_ROW_OFFSET, err));
    EXPECT_EQ(0u, offset);                             // named only in batch-error mode
    EXPECT_EQ(1u, StmtAttr<ub4>(OCI_ATTR_ROW_COUNT));  // element 1 went in before it
    ASSERT_EQ(OCI_SUCCESS, Execute(5, 3));             // elements 3 and 4 only
    EXPECT_EQ(2u, StmtAttr<ub4>(OCI_ATTR_ROW_COUNT));
}

// Each element's values replace the last one's whatever their kinds and lengths; a name
// used twice fills both places; NUMBER bytes still round and check against the column.
TEST_F(OciStatementTest, ArrayBindsOfEveryKindKeepEachElementApart) {
    Run("drop table r");
    ASSERT_EQ(OCI_SUCCESS, Run("create table r (id number(10) not null, name varchar2(30), "
                               "amount number(12,2), created date, copy varchar2(30))"))
        << Error();
    ASSERT_EQ(OCI_SUCCESS, Prepare("insert into r values (:id, :name, :amt, :d, :name)"));
    // VARNUM: length, exponent, base-100 digits. 1, 2, 300, 4; 123.45, NULL, -.5, 2.345.
    unsigned char ids[4][22] = {{2, 0xC1, 2}, {2, 0xC1, 3}, {2, 0xC2, 4}, {2, 0xC1, 5}};
    unsigned char amounts[4][22] = {
        {4, 0xC2, 2, 24, 46}, {}, {3, 0x3F, 51, 102}, {4, 0xC1, 3, 35, 51}};
    unsigned char dates[4][7] = {{120, 124, 2, 29, 14, 6, 10},
                                 {119, 199, 12, 31, 24, 60, 60},
                                 {},
                                 {100, 101, 1, 1, 1, 1, 1}};
    char names[4][31] = {"a name of twenty-nine letters", "b", "", "dd"};
    sb2 amountNull[4] = {0, -1, 0, 0}, dateNull[4] = {0, 0, -1, 0}, nameNull[4] = {0, 0, -1, 0};
    OCIBind* b = nullptr;
    Call(OCIBindByName)(stmt, &b, err, Text(":id"), -1, ids, 22, SQLT_VNU, nullptr, nullptr,
                        nullptr, 0, nullptr, OCI_DEFAULT);
    Call(OCIBindByName)(stmt, &b, err, Text(":name"), -1, names, 31, SQLT_STR, nameNull, nullptr,
                        nullptr, 0, nullptr, OCI_DEFAULT);
    Call(OCIBindByName)(stmt, &b, err, Text(":amt"), -1, amounts, 22, SQLT_VNU, amountNull, nullptr,
                        nullptr, 0, nullptr, OCI_DEFAULT);
    Call(OCIBindByName)(stmt, &b, err, Text(":d"), -1, dates, 7, SQLT_DAT, dateNull, nullptr,
                        nullptr, 0, nullptr, OCI_DEFAULT);
    ASSERT_EQ(OCI_SUCCESS, Execute(4)) << Error();
    // Element 1 is too large for NUMBER(12,2): element 0 stays in, as in the first run.
    ids[0][2] = 6;
    ids[1][2] = 7;
    const unsigned char big[] = {9, 0xC7, 11, 1, 1, 1, 1, 1, 1, 51};  // 10000000000000.5
    std::memcpy(amounts[1], big, sizeof big);
    amountNull[1] = 0;
    EXPECT_EQ(OCI_ERROR, Execute(2));
    EXPECT_EQ(1438, Code());
    EXPECT_EQ(1u, StmtAttr<ub4>(OCI_ATTR_ROW_COUNT));
    ASSERT_EQ(
        OCI_SUCCESS,
        Prepare("select id || '|' || name || '|' || amount || '|' || "
                "to_char(created, 'YYYY-MM-DD HH24:MI:SS') || '|' || copy from r order by id"));
    char rows[6][120] = {};
    OCIDefine* d = nullptr;
    Call(OCIDefineByPos)(stmt, &d, err, 1, rows, 120, SQLT_STR, nullptr, nullptr, nullptr,
                         OCI_DEFAULT);
    ASSERT_EQ(OCI_NO_DATA, Execute(6)) << Error();
    EXPECT_THAT(
        (std::vector<std::string>{rows[0], rows[1], rows[2], rows[3], rows[4]}),
        ::testing::ElementsAre("1|a name of twenty-nine letters|123.45|2024-02-29 13:05:09|"
                               "a name of twenty-nine letters",
                               "2|b||1999-12-31 23:59:59|b", "4|dd|2.35|0001-01-01 00:00:00|dd",
                               "5|a name of twenty-nine letters|123.45|2024-02-29 13:05:09|"
                               "a name of twenty-nine letters",
                               "300||-.5||"));
}

TEST_F(OciStatementTest, RowidToCharWantsRoomForTheWholeText) {
    void* d = nullptr;
    ASSERT_EQ(OCI_SUCCESS, Call(OCIDescriptorAlloc)(env, &d, OCI_DTYPE_ROWID, 0, nullptr));
    auto* rowid = static_cast<OCIRowid*>(d);
    char text[40];
    ub2 length = sizeof text;
    // Nothing executed yet: the descriptor names no row.
    ASSERT_EQ(OCI_SUCCESS,
              Call(OCIAttrGet)(stmt, OCI_HTYPE_STMT, rowid, nullptr, OCI_ATTR_ROWID, err));
    EXPECT_EQ(OCI_ERROR,
              Call(OCIRowidToChar)(rowid, reinterpret_cast<OraText*>(text), &length, err));
    EXPECT_EQ(1410, Code());
    Fill(3);
    ASSERT_EQ(OCI_SUCCESS,
              Call(OCIAttrGet)(stmt, OCI_HTYPE_STMT, rowid, nullptr, OCI_ATTR_ROWID, err));
    for (const ub2 room : {ub2{0}, ub2{17}, ub2{18}, ub2{40}}) {
        SCOPED_TRACE(room);
        std::memset(text, '#', sizeof text);
        length = room;
        const sword status =
            Call(OCIRowidToChar)(rowid, reinterpret_cast<OraText*>(text), &length, err);
        EXPECT_EQ(18, length);
        if (room < 18) {
            EXPECT_EQ(OCI_ERROR, status);
            EXPECT_EQ(22059, Code());
            EXPECT_EQ('#', text[0]);
        } else {
            EXPECT_EQ(OCI_SUCCESS, status) << Error();
            EXPECT_EQ('#', text[18]);  // no terminator: the length says where it ends
        }
    }
    Call(OCIDescriptorFree)(rowid, OCI_DTYPE_ROWID);
}

TEST_F(OciStatementTest, CommitOnSuccessIsSeenFromAnotherSession) {
    ASSERT_EQ(OCI_SUCCESS, Prepare("insert into t (s) values ('x')"));
    ASSERT_EQ(OCI_SUCCESS, Execute(1, 0, OCI_COMMIT_ON_SUCCESS));
    EXPECT_EQ(1, CountFromOutside());
}

TEST_F(OciStatementTest, RollbackUndoesAndCommitKeeps) {
    Fill(2);
    EXPECT_EQ(OCI_SUCCESS, Call(OCITransRollback)(svc, err, OCI_DEFAULT));
    EXPECT_EQ(0, CountFromOutside());
    Fill(3);
    EXPECT_EQ(OCI_SUCCESS, Call(OCITransCommit)(svc, err, OCI_DEFAULT));
    EXPECT_EQ(3, CountFromOutside());
}

TEST_F(OciStatementTest, CleanLogoffCommits) {
    Fill(4);
    ASSERT_EQ(OCI_SUCCESS, Call(OCILogoff)(svc, err));
    svc = nullptr;
    EXPECT_EQ(4, CountFromOutside());
}

TEST_F(OciStatementTest, FreeingTheEnvironmentWithoutLogoffRollsBack) {
    Fill(4);
    Call(OCIHandleFree)(env, OCI_HTYPE_ENV);
    svc = nullptr;
    ASSERT_EQ(OCI_SUCCESS, Call(OCIEnvCreate)(&env, OCI_DEFAULT, nullptr, nullptr, nullptr, nullptr,
                                              0, nullptr));
    void* e = nullptr;
    Call(OCIHandleAlloc)(env, &e, OCI_HTYPE_ERROR, 0, nullptr);
    err = static_cast<OCIError*>(e);
    EXPECT_EQ(0, CountFromOutside());
}

struct Piece {
    std::vector<char> data;
    ub4 length = 0;
};
struct Pieces {
    std::vector<std::unique_ptr<Piece>> list;
    sb2 indicator = 0;
};

sb4 TakePiece(void* ctx, OCIDefine*, ub4, void** buf, ub4** alen, ub1*, void** ind, ub2** rcode) {
    auto* pieces = static_cast<Pieces*>(ctx);
    const ub4 capacity = pieces->list.empty() ? 2000 : pieces->list.back()->length * 2;
    auto piece = std::make_unique<Piece>();
    piece->data.resize(capacity);
    piece->length = capacity;
    *buf = piece->data.data();
    *alen = &piece->length;
    *ind = &pieces->indicator;
    *rcode = nullptr;
    pieces->list.push_back(std::move(piece));
    return OCI_CONTINUE;
}

TEST_F(OciStatementTest, LongValueArrivesInPieces) {
    Run("drop table longs");
    ASSERT_EQ(OCI_SUCCESS, Run("create table longs (l long)")) << Error();
    std::string value(5000, 'x');
    for (std::size_t i = 0; i < value.size(); ++i) value[i] = static_cast<char>('a' + i % 26);
    ASSERT_EQ(OCI_SUCCESS, Prepare("insert into longs values (:l)"));
    OCIBind* b = nullptr;
    Call(OCIBindByName)(stmt, &b, err, Text(":l"), 2, value.data(), static_cast<sb4>(value.size()),
                        SQLT_LNG, nullptr, nullptr, nullptr, 0, nullptr, OCI_DEFAULT);
    ASSERT_EQ(OCI_SUCCESS, Execute(1)) << Error();
    ASSERT_EQ(OCI_SUCCESS, Prepare("select l from longs"));
    OCIDefine* d = nullptr;
    ASSERT_EQ(OCI_SUCCESS, Call(OCIDefineByPos)(stmt, &d, err, 1, nullptr, SB4MAXVAL, SQLT_LNG,
                                                nullptr, nullptr, nullptr, OCI_DYNAMIC_FETCH));
    Pieces pieces;
    ASSERT_EQ(OCI_SUCCESS, Call(OCIDefineDynamic)(d, err, &pieces, TakePiece));
    ASSERT_EQ(OCI_SUCCESS, Execute(0));
    ASSERT_EQ(OCI_SUCCESS, Fetch(1)) << Error();
    std::string got;
    for (const auto& p : pieces.list) got.append(p->data.data(), p->length);
    EXPECT_EQ(2u, pieces.list.size());  // 2000, then 3000 of a 4000-byte piece
    EXPECT_EQ(value, got);
    EXPECT_EQ(0, pieces.indicator);
}

TEST_F(OciStatementTest, CharacterTypesDescribeByteWidthsAndSemantics) {
    Run("drop table w");
    ASSERT_EQ(OCI_SUCCESS, Run("create table w (vb varchar2(10 byte), vc varchar2(10 char), "
                               "cb char(10), cc char(10 char), nv nvarchar2(10), nc nchar(10), "
                               "big varchar2(2000 char))"))
        << Error();
    ASSERT_EQ(OCI_SUCCESS, Prepare("select * from w"));
    ASSERT_EQ(OCI_SUCCESS, Execute(0, 0, OCI_DESCRIBE_ONLY)) << Error();
    struct Expected {
        ub2 type, size, chars;
        ub1 charUsed, form;
    };
    // The database is AL32UTF8 (up to 4 bytes a character), the national set AL16UTF16.
    const Expected columns[] = {{1, 10, 10, 0, SQLCS_IMPLICIT},    {1, 40, 10, 1, SQLCS_IMPLICIT},
                                {96, 10, 10, 0, SQLCS_IMPLICIT},   {96, 40, 10, 1, SQLCS_IMPLICIT},
                                {1, 20, 10, 1, SQLCS_NCHAR},       {96, 20, 10, 1, SQLCS_NCHAR},
                                {1, 4000, 2000, 1, SQLCS_IMPLICIT}};
    for (ub4 i = 0; i < std::size(columns); ++i) {
        void* p = nullptr;
        ASSERT_EQ(OCI_SUCCESS, Call(OCIParamGet)(stmt, OCI_HTYPE_STMT, err, &p, i + 1));
        ub2 type = 0, size = 0, chars = 0;
        ub1 charUsed = 9, form = 9;
        Call(OCIAttrGet)(p, OCI_DTYPE_PARAM, &type, nullptr, OCI_ATTR_DATA_TYPE, err);
        Call(OCIAttrGet)(p, OCI_DTYPE_PARAM, &size, nullptr, OCI_ATTR_DATA_SIZE, err);
        Call(OCIAttrGet)(p, OCI_DTYPE_PARAM, &chars, nullptr, OCI_ATTR_CHAR_SIZE, err);
        Call(OCIAttrGet)(p, OCI_DTYPE_PARAM, &charUsed, nullptr, OCI_ATTR_CHAR_USED, err);
        Call(OCIAttrGet)(p, OCI_DTYPE_PARAM, &form, nullptr, OCI_ATTR_CHARSET_FORM, err);
        const Expected& e = columns[i];
        EXPECT_EQ(e.type, type) << i;
        EXPECT_EQ(e.size, size) << i;
        EXPECT_EQ(e.chars, chars) << i;
        EXPECT_EQ(e.charUsed, charUsed) << i;
        EXPECT_EQ(e.form, form) << i;
        Call(OCIDescriptorFree)(p, OCI_DTYPE_PARAM);
    }
}

TEST_F(OciStatementTest, LengthsAreCheckedInTheUnitsDeclared) {
    Run("drop table lw");
    ASSERT_EQ(OCI_SUCCESS, Run("create table lw (vb varchar2(10 byte), vc varchar2(4 char), "
                               "nv nvarchar2(4), nc nchar(4), cb char(6))"))
        << Error();
    const std::string four = "日本語の", five = "日本語のx";  // 12 and 13 bytes
    struct Case {
        const char* column;
        std::string value;
        const char* error;  // empty: fits
    };
    const Case cases[] = {
        {"VB", "abcdefghij", ""},
        {"VB", four, "(actual: 12, maximum: 10)"},
        {"VC", four, ""},
        {"VC", five, "(actual: 5, maximum: 4)"},
        {"NV", four, ""},
        {"NV", five, "(actual: 5, maximum: 4)"},
        {"NC", five, "(actual: 5, maximum: 4)"},
        {"CB", "日本", ""},
        {"CB", "日本x", "(actual: 7, maximum: 6)"},
    };
    for (const Case& c : cases) {
        const sword status =
            Run(std::string("insert into lw (") + c.column + ") values ('" + c.value + "')");
        if (std::string(c.error).empty()) {
            EXPECT_EQ(OCI_SUCCESS, status) << c.column << ": " << Error();
        } else {
            EXPECT_EQ(OCI_ERROR, status) << c.column;
            EXPECT_EQ(std::string("ORA-12899: value too large for column \"SCOTT\".\"LW\".\"") +
                          c.column + "\" " + c.error + "\n",
                      Error());
        }
    }
}

// The client character set is read from NLS_LANG when a session begins.
struct CharsetCase {
    const char* nlsLang;
    std::string database;  // the text as stored (UTF-8)
    std::string client;    // the same text in the client character set
    bool backToTheSame;    // binding `client` stores `database` again
};

TEST_F(OciStatementTest, TextConvertsToTheClientCharacterSet) {
    const CharsetCase cases[] = {
        {"AMERICAN_AMERICA.AL32UTF8", "A日本～\xF0\x9F\x98\x80", "A日本～\xF0\x9F\x98\x80", true},
        // Unset or without a character set: US7ASCII, "?" for every other character.
        {nullptr, "A日本～", "A???", false},
        {"JAPANESE_JAPAN", "A日本", "A??", false},
        {"AMERICAN_AMERICA.US7ASCII", "A日本", "A??", false},
        // CESU-8: a character beyond the BMP travels as two surrogates.
        {".UTF8", "A\xF0\x9F\x98\x80", "A\xED\xA0\xBD\xED\xB8\x80", true},
        {"JAPANESE_JAPAN.JA16SJISTILDE", "A日本～", "A\x93\xFA\x96\x7B\x81\x60", true},
        // JA16SJIS gives 0x8160 to the wave dash, JA16SJISTILDE to the fullwidth tilde.
        {"JAPANESE_JAPAN.JA16SJIS", "A日本\u301C", "A\x93\xFA\x96\x7B\x81\x60", true},
        {"JAPANESE_JAPAN.JA16SJIS", "A～", "A?", false},
        {"JAPANESE_JAPAN.JA16SJISTILDE", "A\xF0\x9F\x98\x80", "A?", false},
    };
    auto relogOn = [&](const char* nlsLang) {
        if (nlsLang)
            ::setenv("NLS_LANG", nlsLang, 1);
        else
            ::unsetenv("NLS_LANG");
        Call(OCILogoff)(svc, err);
        svc = LogOn();
        ASSERT_NE(nullptr, svc) << nlsLang;
    };
    auto fetchOne = [&]() {
        char buffer[64] = {};
        ub2 length = 0;
        sb2 indicator = 0;
        OCIDefine* d = nullptr;
        EXPECT_EQ(OCI_SUCCESS, Prepare("select s from t"));
        Call(OCIDefineByPos)(stmt, &d, err, 1, buffer, sizeof buffer, SQLT_CHR, &indicator, &length,
                             nullptr, OCI_DEFAULT);
        EXPECT_EQ(OCI_SUCCESS, Execute(1)) << Error();
        return std::string(buffer, length);
    };
    for (const CharsetCase& c : cases) {
        const std::string label = c.nlsLang ? c.nlsLang : "(unset)";
        relogOn("AMERICAN_AMERICA.AL32UTF8");
        ASSERT_EQ(OCI_SUCCESS, Run("delete from t"));
        ASSERT_EQ(OCI_SUCCESS, Run("insert into t (s) values ('" + c.database + "')")) << Error();
        relogOn(c.nlsLang);
        EXPECT_EQ(c.client, fetchOne()) << label;
        // The client's bytes bound back are stored as the database text, or with "?".
        ASSERT_EQ(OCI_SUCCESS, Prepare("update t set s = :s"));
        OCIBind* b = nullptr;
        Call(OCIBindByPos)(stmt, &b, err, 1, const_cast<char*>(c.client.data()),
                           static_cast<sb4>(c.client.size()), SQLT_CHR, nullptr, nullptr, nullptr,
                           0, nullptr, OCI_DEFAULT);
        ASSERT_EQ(OCI_SUCCESS, Execute(1)) << Error();
        relogOn("AMERICAN_AMERICA.AL32UTF8");
        if (c.backToTheSame)
            EXPECT_EQ(c.database, fetchOne()) << label;
        else
            EXPECT_EQ(c.client, fetchOne()) << label;
    }
    ::setenv("NLS_LANG", "AMERICAN_AMERICA.AL32UTF8", 1);
}

// In a varying-width client set a CLOB read asks for characters and reports bytes; polling
// and callback reads hand out whole characters only.
TEST_F(OciStatementTest, LobReadCountsCharactersInAndBytesOut) {
    ::setenv("NLS_LANG", "AMERICAN_AMERICA.AL32UTF8", 1);
    Call(OCILogoff)(svc, err);
    svc = LogOn();
    ASSERT_NE(nullptr, svc);
    const std::string text = "a\u00e9\u65e5\u672c\u8a9exyz";  // 8 characters, 15 bytes
    ASSERT_EQ(OCI_SUCCESS, Run("create table l (id number, c clob, b blob)")) << Error();
    ASSERT_EQ(OCI_SUCCESS, Run("insert into l values (1, '" + text + "', hextoraw('00FF'))"));
    ASSERT_EQ(OCI_SUCCESS, Run("insert into l values (2, null, null)"));
    void* c = nullptr;
    void* b = nullptr;
    ASSERT_EQ(OCI_SUCCESS, Call(OCIDescriptorAlloc)(env, &c, OCI_DTYPE_LOB, 0, nullptr));
    ASSERT_EQ(OCI_SUCCESS, Call(OCIDescriptorAlloc)(env, &b, OCI_DTYPE_LOB, 0, nullptr));
    auto* clob = static_cast<OCILobLocator*>(c);
    auto* blob = static_cast<OCILobLocator*>(b);
    sb2 indicators[2] = {};
    OCIDefine* d1 = nullptr;
    OCIDefine* d2 = nullptr;
    ASSERT_EQ(OCI_SUCCESS, Prepare("select c, b from l order by id"));
    Call(OCIDefineByPos)(stmt, &d1, err, 1, &clob, sizeof clob, SQLT_CLOB, &indicators[0], nullptr,
                         nullptr, OCI_DEFAULT);
    Call(OCIDefineByPos)(stmt, &d2, err, 2, &blob, sizeof blob, SQLT_BLOB, &indicators[1], nullptr,
                         nullptr, OCI_DEFAULT);
    ASSERT_EQ(OCI_SUCCESS, Execute(1)) << Error();
    ub4 length = 0;
    ASSERT_EQ(OCI_SUCCESS, Call(OCILobGetLength)(svc, err, clob, &length)) << Error();
    EXPECT_EQ(8u, length);
    ASSERT_EQ(OCI_SUCCESS, Call(OCILobGetLength)(svc, err, blob, &length)) << Error();
    EXPECT_EQ(2u, length);
    ub1 form = 9;
    Call(OCILobCharSetForm)(env, err, clob, &form);
    EXPECT_EQ(SQLCS_IMPLICIT, form);

    char buffer[64] = {};
    ub4 amount = 3;  // characters 2 to 4
    ASSERT_EQ(OCI_SUCCESS, Call(OCILobRead)(svc, err, clob, &amount, 2, buffer, sizeof buffer,
                                            nullptr, nullptr, 0, SQLCS_IMPLICIT));
    EXPECT_EQ(text.substr(1, 8), std::string(buffer, amount));

    // Polling from the start with a 4-byte buffer.
    std::string polled;
    std::vector<sword> statuses;
    sword status = OCI_NEED_DATA;
    while (status == OCI_NEED_DATA && statuses.size() < 20) {
        amount = 0;
        status = Call(OCILobRead)(svc, err, clob, &amount, 1, buffer, 4, nullptr, nullptr, 0,
                                  SQLCS_IMPLICIT);
        statuses.push_back(status);
        EXPECT_LE(amount, 4u);
        polled.append(buffer, amount);
    }
    EXPECT_EQ(text, polled);
    EXPECT_EQ(OCI_SUCCESS, statuses.back());
    EXPECT_EQ(statuses.size(), 5u);  // a\u00e9 | \u65e5 | \u672c | \u8a9e x | y z

    struct LobPieces {
        std::string bytes;
        std::vector<int> flags;
    } pieces;
    auto collect = [](void* context, const void* data, ub4 size, ub1 piece) -> sb4 {
        auto* p = static_cast<LobPieces*>(context);
        p->bytes.append(static_cast<const char*>(data), size);
        p->flags.push_back(piece);
        return OCI_CONTINUE;
    };
    amount = 0;
    ASSERT_EQ(OCI_SUCCESS, Call(OCILobRead)(svc, err, clob, &amount, 1, buffer, 5, &pieces, collect,
                                            0, SQLCS_IMPLICIT));
    EXPECT_EQ(text, pieces.bytes);
    EXPECT_EQ(OCI_FIRST_PIECE, pieces.flags.front());
    EXPECT_EQ(OCI_LAST_PIECE, pieces.flags.back());

    // The next row's NULL leaves the locator uninitialized.
    ASSERT_EQ(OCI_SUCCESS, Fetch(1)) << Error();
    EXPECT_EQ(-1, indicators[0]);
    boolean init = 1;
    Call(OCILobLocatorIsInit)(env, err, clob, &init);
    EXPECT_EQ(0, init);
    amount = 0;
    EXPECT_EQ(OCI_ERROR, Call(OCILobRead)(svc, err, clob, &amount, 1, buffer, sizeof buffer,
                                          nullptr, nullptr, 0, SQLCS_IMPLICIT));
    EXPECT_EQ(22275, Code());
    Call(OCIDescriptorFree)(c, OCI_DTYPE_LOB);
    Call(OCIDescriptorFree)(b, OCI_DTYPE_LOB);
}

TEST_F(OciStatementTest, StatementTextIsInTheClientCharacterSet) {
    ::setenv("NLS_LANG", "AMERICAN_AMERICA.US7ASCII", 1);
    Call(OCILogoff)(svc, err);
    svc = LogOn();
    ::setenv("NLS_LANG", "AMERICAN_AMERICA.AL32UTF8", 1);
    ASSERT_NE(nullptr, svc);
    // Each byte a US7ASCII client cannot read becomes "?".
    ASSERT_EQ(OCI_SUCCESS, Run("insert into t (s) values ('日本')")) << Error();
    Call(OCILogoff)(svc, err);
    svc = LogOn();
    ASSERT_EQ(OCI_SUCCESS, Prepare("select count(*) from t where s = rpad('?', 6, '?')"));
    sb4 count = -1;
    OCIDefine* d = nullptr;
    Call(OCIDefineByPos)(stmt, &d, err, 1, &count, 4, SQLT_INT, nullptr, nullptr, nullptr,
                         OCI_DEFAULT);
    ASSERT_EQ(OCI_SUCCESS, Execute(1)) << Error();
    EXPECT_EQ(1, count);
}

TEST_F(OciStatementTest, UnknownClientCharacterSetRefusesTheLogon) {
    ::setenv("NLS_LANG", "AMERICAN_AMERICA.NOSUCHSET", 1);
    OCISvcCtx* other = LogOn();
    ::setenv("NLS_LANG", "AMERICAN_AMERICA.AL32UTF8", 1);
    EXPECT_EQ(nullptr, other);
    EXPECT_EQ(12705, Code());
}

TEST_F(OciStatementTest, DatetimeAndBinaryColumnsBindAndFetchAsTheClientDoes) {
    Run("drop table v");
    ASSERT_EQ(OCI_SUCCESS, Run("create table v (z timestamp(6) with time zone, "
                               "i interval day(3) to second(2), f binary_float, b binary_double)"))
        << Error();
    ASSERT_EQ(OCI_SUCCESS, Prepare("insert into v values (:z, :i, :f, :b)"));
    char zoned[] = "29-FEB-24 01.30.05.1234567 PM -03:30";
    char interval[] = "-2 03:04:05.678";
    float single = 0.1f;
    double infinity = std::numeric_limits<double>::infinity();
    OCIBind* b = nullptr;
    Call(OCIBindByPos)(stmt, &b, err, 1, zoned, sizeof zoned, SQLT_STR, nullptr, nullptr, nullptr,
                       0, nullptr, 0);
    Call(OCIBindByPos)(stmt, &b, err, 2, interval, sizeof interval, SQLT_STR, nullptr, nullptr,
                       nullptr, 0, nullptr, 0);
    Call(OCIBindByPos)(stmt, &b, err, 3, &single, 4, SQLT_BFLOAT, nullptr, nullptr, nullptr, 0,
                       nullptr, 0);
    Call(OCIBindByPos)(stmt, &b, err, 4, &infinity, 8, SQLT_BDOUBLE, nullptr, nullptr, nullptr, 0,
                       nullptr, 0);
    ASSERT_EQ(OCI_SUCCESS, Execute(1)) << Error();

    ASSERT_EQ(OCI_SUCCESS, Prepare("select z, i, f, b, f, b from v"));
    ASSERT_EQ(OCI_SUCCESS, Execute(0, 0, OCI_DESCRIBE_ONLY)) << Error();
    struct Expected {
        ub2 type, size;
        ub1 leading, fraction;
    } columns[] = {{188, 13, 0, 6}, {190, 11, 3, 2}, {100, 4, 0, 0}, {101, 8, 0, 0}};
    for (ub4 i = 0; i < std::size(columns); ++i) {
        void* p = nullptr;
        ASSERT_EQ(OCI_SUCCESS, Call(OCIParamGet)(stmt, OCI_HTYPE_STMT, err, &p, i + 1));
        ub2 type = 0, size = 0;
        ub1 leading = 9, fraction = 9;
        Call(OCIAttrGet)(p, OCI_DTYPE_PARAM, &type, nullptr, OCI_ATTR_DATA_TYPE, err);
        Call(OCIAttrGet)(p, OCI_DTYPE_PARAM, &size, nullptr, OCI_ATTR_DATA_SIZE, err);
        Call(OCIAttrGet)(p, OCI_DTYPE_PARAM, &leading, nullptr, OCI_ATTR_LFPRECISION, err);
        Call(OCIAttrGet)(p, OCI_DTYPE_PARAM, &fraction, nullptr, OCI_ATTR_FSPRECISION, err);
        EXPECT_EQ(columns[i].type, type) << i;
        EXPECT_EQ(columns[i].size, size) << i;
        EXPECT_EQ(columns[i].leading, leading) << i;
        EXPECT_EQ(columns[i].fraction, fraction) << i;
        Call(OCIDescriptorFree)(p, OCI_DTYPE_PARAM);
    }

    ASSERT_EQ(OCI_SUCCESS, Prepare("select z, i, f, b, f, b from v"));
    char zText[64] = {}, iText[32] = {}, fText[32] = {}, bText[32] = {};
    float fNative = 0;
    double bDouble = 0;
    OCIDefine* d = nullptr;
    Call(OCIDefineByPos)(stmt, &d, err, 1, zText, sizeof zText, SQLT_STR, nullptr, nullptr, nullptr,
                         0);
    Call(OCIDefineByPos)(stmt, &d, err, 2, iText, sizeof iText, SQLT_STR, nullptr, nullptr, nullptr,
                         0);
    Call(OCIDefineByPos)(stmt, &d, err, 3, fText, sizeof fText, SQLT_STR, nullptr, nullptr, nullptr,
                         0);
    Call(OCIDefineByPos)(stmt, &d, err, 4, bText, sizeof bText, SQLT_STR, nullptr, nullptr, nullptr,
                         0);
    Call(OCIDefineByPos)(stmt, &d, err, 5, &fNative, 4, SQLT_BFLOAT, nullptr, nullptr, nullptr, 0);
    Call(OCIDefineByPos)(stmt, &d, err, 6, &bDouble, 8, SQLT_FLT, nullptr, nullptr, nullptr, 0);
    ASSERT_EQ(OCI_SUCCESS, Execute(1)) << Error();
    // Default AMERICAN formats; the fraction rounds to the column's six digits.
    EXPECT_STREQ("29-FEB-24 01.30.05.123457 PM -03:30", zText);
    EXPECT_STREQ("-002 03:04:05.68", iText);
    EXPECT_STREQ("1.00000001E-001", fText);
    EXPECT_STREQ("Inf", bText);
    EXPECT_EQ(0.1f, fNative);
    EXPECT_EQ(infinity, bDouble);
}

// Amounts in count the client's bytes (varying-width sets), offsets and amounts out count
// characters; a gap fills with spaces or zero bytes.
TEST_F(OciStatementTest, LobChangesThroughALockedLocatorReachTheRow) {
    enum Op { Write, Trim, Erase, Append };
    struct Case {
        const char* charset;
        int column;  // 0 CLOB, 1 BLOB
        std::string initial;
        Op op;
        ub4 offset;         // Trim: the new length
        std::string bytes;  // Write: the data; Erase: as many characters as to erase
        std::string expected;
        ub4 amountOut;
    };
    const std::string nihon = "\u65e5\u672c", sjis = "\x93\xfa\x96\x7b\x8c\xea";  // 日本語
    const Case cases[] = {
        {"AL32UTF8", 0, "'abcdef'", Write, 2, nihon, "a" + nihon + "def", 2},
        {"AL32UTF8", 0, "'abc'", Write, 6, "xy", "abc  xy", 2},
        {"AL32UTF8", 0, "empty_clob()", Write, 1, nihon, nihon, 2},
        {"AL32UTF8", 0, "'a" + nihon + "d'", Erase, 2, "..", "a  d", 2},
        {"AL32UTF8", 0, "'abc'", Erase, 3, "....", "ab ", 1},
        {"AL32UTF8", 0, "'a" + nihon + "d'", Trim, 2, "", "a\u65e5", 0},
        {"AL32UTF8", 0, "'a" + nihon + "'", Append, 0, "", "a" + nihon + "a" + nihon, 0},
        {"JA16SJISTILDE", 0, "'" + sjis + "'", Write, 3, "\x96\x7b", "\x93\xfa\x96\x7b\x96\x7b", 1},
        {"JA16SJISTILDE", 0, "'\x93\xfa'", Write, 3,
         "\x8c\xea"
         "a",
         "\x93\xfa \x8c\xea"
         "a",
         2},
        {"JA16SJISTILDE", 0, "'" + sjis + "'", Trim, 1, "", "\x93\xfa", 0},
        {"JA16SJISTILDE", 0, "'" + sjis + "'", Erase, 2, ".", "\x93\xfa \x8c\xea", 1},
        {"AL32UTF8", 1, "hextoraw('0102')", Write, 4, "\xff", std::string("\1\2\0\xff", 4), 1},
        {"AL32UTF8", 1, "hextoraw('010203')", Erase, 2, ".....", std::string("\1\0\0", 3), 2},
        {"AL32UTF8", 1, "hextoraw('010203')", Trim, 0, "", "", 0},
        {"AL32UTF8", 1, "hextoraw('01')", Append, 0, "", "\1\1", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.initial + " " + std::to_string(c.op));
        ASSERT_NO_FATAL_FAILURE(c.column ? LockLobRow(c.charset, "empty_clob()", c.initial)
                                         : LockLobRow(c.charset, c.initial, "empty_blob()"));
        OCILobLocator* lob = lobs[c.column];
        ub4 amount = static_cast<ub4>(c.bytes.size());
        const sword status = c.op == Write   ? LobWrite(lob, c.offset, c.bytes, amount)
                             : c.op == Trim  ? Call(OCILobTrim)(svc, err, lob, c.offset)
                             : c.op == Erase ? Call(OCILobErase)(svc, err, lob, &amount, c.offset)
                                             : Call(OCILobAppend)(svc, err, lob, lob);
        ASSERT_EQ(OCI_SUCCESS, status) << Error();
        EXPECT_EQ(c.expected, LobText(lob));
        EXPECT_EQ(c.amountOut, amount);
    }
    EXPECT_EQ(OCI_ERROR, Call(OCILobTrim)(svc, err, lobs[1], 3));
    EXPECT_EQ(22926, Code());
    ::setenv("NLS_LANG", "AMERICAN_AMERICA.AL32UTF8", 1);
}

// Pieces are joined before conversion, so a character split between two converts whole.
TEST_F(OciStatementTest, PiecewiseAndCallbackLobWritesJoinTheirPieces) {
    ASSERT_NO_FATAL_FAILURE(LockLobRow("JA16SJISTILDE", "empty_clob()", "empty_blob()"));
    const std::string text = "a\x93\xfa\x96\x7b";  // a日本
    ub4 amount = 0;                                // until the last piece
    EXPECT_EQ(OCI_NEED_DATA, LobWrite(lobs[0], 1, text.substr(0, 2), amount, OCI_FIRST_PIECE));
    EXPECT_EQ(OCI_NEED_DATA, LobWrite(lobs[0], 1, text.substr(2, 2), amount, OCI_NEXT_PIECE));
    ASSERT_EQ(OCI_SUCCESS, LobWrite(lobs[0], 1, text.substr(4), amount, OCI_LAST_PIECE)) << Error();
    EXPECT_EQ(3u, amount);
    EXPECT_EQ(text, LobText(lobs[0]));
    EXPECT_EQ(OCI_ERROR, LobWrite(lobs[0], 1, "x", amount, OCI_LAST_PIECE));  // none begun
    EXPECT_EQ(24801, Code());

    int calls = 0;
    auto more = [](void* context, void* buf, ub4* len, ub1* piece) -> sb4 {
        const int call = ++*static_cast<int*>(context);
        static_cast<char*>(buf)[0] = static_cast<char>(call + 1);
        *len = 1;
        *piece = call == 2 ? OCI_LAST_PIECE : OCI_NEXT_PIECE;
        return OCI_CONTINUE;
    };
    char first = 1;
    amount = 0;
    ASSERT_EQ(OCI_SUCCESS, Call(OCILobWrite)(svc, err, lobs[1], &amount, 1, &first, 1,
                                             OCI_FIRST_PIECE, &calls, more, 0, SQLCS_IMPLICIT))
        << Error();
    EXPECT_EQ(3u, amount);
    EXPECT_EQ("\1\2\3", LobText(lobs[1]));
    ::setenv("NLS_LANG", "AMERICAN_AMERICA.AL32UTF8", 1);
}

// Oracle writes a LOB only through a locator of a row this transaction locked.
TEST_F(OciStatementTest, LobWritesNeedTheRowLockedInTheirTransaction) {
    ASSERT_NO_FATAL_FAILURE(LockLobRow("AL32UTF8", "'abc'", "empty_blob()"));
    ASSERT_EQ(OCI_SUCCESS, Call(OCITransCommit)(svc, err, OCI_DEFAULT));
    ub4 amount = 0;
    SelectLobs("select c, b from l");
    EXPECT_EQ(OCI_ERROR, LobWrite(lobs[0], 1, "x", amount));
    EXPECT_EQ("ORA-22920: row containing the LOB value is not locked\n", Error());

    SelectLobs("select c, b from l for update of c nowait");
    ASSERT_EQ(OCI_SUCCESS, LobWrite(lobs[0], 1, "xyzw", amount)) << Error();
    ASSERT_EQ(OCI_SUCCESS, Call(OCITransRollback)(svc, err, OCI_DEFAULT));
    EXPECT_EQ("abc", LobText(lobs[0]));
    EXPECT_EQ(OCI_ERROR, LobWrite(lobs[0], 1, "x", amount));
    EXPECT_EQ(22990, Code());  // the lock ended with its transaction
}

}  // namespace
}  // namespace velnor::test
