// Changing LOBs through locators: write, append, trim, erase and copy, in the client
// character set, only through rows SELECT ... FOR UPDATE locked, within the transaction.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "oci/OciFunctions.h"
#include "tests/support/TempHome.h"

namespace velnor::test {
namespace {

#define Call(name) VELNOR_ENTRY(*client_, name)

const OraText* Text(const std::string& s) { return reinterpret_cast<const OraText*>(s.c_str()); }

// Shift-JIS bytes of the characters the tests write.
const std::string kSjisNichi = "\x93\xfa";  // U+65E5
const std::string kSjisHon = "\x96\x7b";    // U+672C
const std::string kSjisGo = "\x8c\xea";     // U+8A9E

struct OciLobTest : ::testing::Test {
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
        for (void** d : {&c_, &b_, &other_})
            ASSERT_EQ(OCI_SUCCESS, Call(OCIDescriptorAlloc)(env, d, OCI_DTYPE_LOB, 0, nullptr));
        ASSERT_NO_FATAL_FAILURE(Connect("AL32UTF8"));
    }
    void TearDown() override {
        if (svc) Call(OCILogoff)(svc, err);
        Call(OCIHandleFree)(env, OCI_HTYPE_ENV);
        ::setenv("NLS_LANG", "AMERICAN_AMERICA.AL32UTF8", 1);
    }

    // A session in the client character set `charset` on a fresh table L.
    void Connect(const std::string& charset) {
        if (svc) Call(OCILogoff)(svc, err);
        ::setenv("NLS_LANG", ("AMERICAN_AMERICA." + charset).c_str(), 1);
        svc = nullptr;
        ASSERT_EQ(OCI_SUCCESS, Call(OCILogon)(env, err, &svc, Text("SCOTT"), 5, Text("TIGER"), 5,
                                              Text("ORCL"), 4))
            << Error();
        void* s = nullptr;
        ASSERT_EQ(OCI_SUCCESS, Call(OCIHandleAlloc)(env, &s, OCI_HTYPE_STMT, 0, nullptr));
        stmt = static_cast<OCIStmt*>(s);
        Run("drop table l");
        ASSERT_EQ(OCI_SUCCESS, Run("create table l (id number, c clob, b blob)")) << Error();
    }
    sword Run(const std::string& sql) {
        sword s = Call(OCIStmtPrepare)(stmt, err, Text(sql), static_cast<ub4>(sql.size()),
                                       OCI_NTV_SYNTAX, OCI_DEFAULT);
        if (s == OCI_SUCCESS)
            s = Call(OCIStmtExecute)(svc, stmt, err, 1, 0, nullptr, nullptr, OCI_DEFAULT);
        return s;
    }
    // Runs a query of two LOB columns into clob() and blob() and fetches its first row.
    void Select(const std::string& sql) {
        ASSERT_EQ(OCI_SUCCESS,
                  Call(OCIStmtPrepare)(stmt, err, Text(sql), static_cast<ub4>(sql.size()),
                                       OCI_NTV_SYNTAX, OCI_DEFAULT));
        OCIDefine* d1 = nullptr;
        OCIDefine* d2 = nullptr;
        Call(OCIDefineByPos)(stmt, &d1, err, 1, &c_, sizeof c_, SQLT_CLOB, nullptr, nullptr,
                             nullptr, OCI_DEFAULT);
        Call(OCIDefineByPos)(stmt, &d2, err, 2, &b_, sizeof b_, SQLT_BLOB, nullptr, nullptr,
                             nullptr, OCI_DEFAULT);
        ASSERT_EQ(OCI_SUCCESS,
                  Call(OCIStmtExecute)(svc, stmt, err, 1, 0, nullptr, nullptr, OCI_DEFAULT))
            << Error();
    }
    OCILobLocator* clob() { return static_cast<OCILobLocator*>(c_); }
    OCILobLocator* blob() { return static_cast<OCILobLocator*>(b_); }
    // The whole LOB as the client reads it.
    std::string Read(OCILobLocator* lob) {
        std::vector<char> buffer(4096);
        ub4 amount = 0;
        EXPECT_EQ(OCI_SUCCESS, Call(OCILobRead)(svc, err, lob, &amount, 1, buffer.data(),
                                                static_cast<ub4>(buffer.size()), nullptr, nullptr,
                                                0, SQLCS_IMPLICIT))
            << Error();
        return std::string(buffer.data(), amount);
    }
    ub4 Length(OCILobLocator* lob) {
        ub4 n = 0;
        EXPECT_EQ(OCI_SUCCESS, Call(OCILobGetLength)(svc, err, lob, &n)) << Error();
        return n;
    }
    sword Write(OCILobLocator* lob, ub4 offset, const std::string& bytes, ub4* amount) {
        *amount = static_cast<ub4>(bytes.size());
        return Call(OCILobWrite)(svc, err, lob, amount, offset, const_cast<char*>(bytes.data()),
                                 static_cast<ub4>(bytes.size()), OCI_ONE_PIECE, nullptr, nullptr, 0,
                                 SQLCS_IMPLICIT);
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

    static inline TTempHome* home_ = nullptr;
    static inline TRawClient* client_ = nullptr;
    OCIEnv* env = nullptr;
    OCIError* err = nullptr;
    OCISvcCtx* svc = nullptr;
    OCIStmt* stmt = nullptr;
    void* c_ = nullptr;
    void* b_ = nullptr;
    void* other_ = nullptr;
};

// Amounts in and offsets count client bytes for a varying-width set and characters in the
// LOB; the amount out counts characters. Gaps fill with spaces or zero bytes.
TEST_F(OciLobTest, ChangesThroughALockedLocatorReachTheRow) {
    using Op = std::function<sword(OciLobTest&, OCILobLocator*, ub4*)>;
    struct Case {
        const char* label;
        const char* charset;
        bool blob;
        std::string initial;  // SQL text of the value, in the client set
        Op op;
        sword status;
        ub4 amountOut;  // for writes and erases
        std::string expected;
        ub4 length;
    };
    const std::string utf8Nihon = "\u65e5\u672c";
    auto write = [](ub4 offset, std::string bytes) {
        return Op([offset, bytes](OciLobTest& t, OCILobLocator* lob, ub4* amount) {
            return t.Write(lob, offset, bytes, amount);
        });
    };
    auto trim = [](ub4 length) {
        return Op([length](OciLobTest& t, OCILobLocator* lob, ub4*) {
            return VELNOR_ENTRY(*client_, OCILobTrim)(t.svc, t.err, lob, length);
        });
    };
    auto erase = [](ub4 offset, ub4 n) {
        return Op([offset, n](OciLobTest& t, OCILobLocator* lob, ub4* amount) {
            *amount = n;
            return VELNOR_ENTRY(*client_, OCILobErase)(t.svc, t.err, lob, amount, offset);
        });
    };
    const std::string sjisAll = kSjisNichi + kSjisHon + kSjisGo;
    const Case cases[] = {
        {"utf8 overwrite", "AL32UTF8", false, "'abcdef'", write(2, utf8Nihon), OCI_SUCCESS, 2,
         "a" + utf8Nihon + "def", 6},
        {"utf8 past the end", "AL32UTF8", false, "'abc'", write(6, "xy"), OCI_SUCCESS, 2, "abc  xy",
         7},
        {"utf8 into empty", "AL32UTF8", false, "empty_clob()", write(1, utf8Nihon), OCI_SUCCESS, 2,
         utf8Nihon, 2},
        {"utf8 erase", "AL32UTF8", false, "'a" + utf8Nihon + "d'", erase(2, 2), OCI_SUCCESS, 2,
         "a  d", 4},
        {"utf8 erase stops at end", "AL32UTF8", false, "'abc'", erase(3, 10), OCI_SUCCESS, 1, "ab ",
         3},
        {"utf8 trim", "AL32UTF8", false, "'a" + utf8Nihon + "d'", trim(2), OCI_SUCCESS, 0,
         "a\u65e5", 2},
        {"trim beyond the length", "AL32UTF8", false, "'abc'", trim(4), OCI_ERROR, 0, "abc", 3},
        {"sjis overwrite", "JA16SJISTILDE", false, "'" + sjisAll + "'", write(3, kSjisHon),
         OCI_SUCCESS, 1, kSjisNichi + kSjisHon + kSjisHon, 3},
        {"sjis past the end", "JA16SJISTILDE", false, "'" + kSjisNichi + "'",
         write(3, kSjisGo + "a"), OCI_SUCCESS, 2, kSjisNichi + " " + kSjisGo + "a", 4},
        {"sjis trim", "JA16SJISTILDE", false, "'" + sjisAll + "'", trim(1), OCI_SUCCESS, 0,
         kSjisNichi, 1},
        {"sjis erase", "JA16SJISTILDE", false, "'" + sjisAll + "'", erase(2, 1), OCI_SUCCESS, 1,
         kSjisNichi + " " + kSjisGo, 3},
        {"blob past the end", "AL32UTF8", true, "hextoraw('0102')", write(4, "\xff"), OCI_SUCCESS,
         1, std::string("\x01\x02\x00\xff", 4), 4},
        {"blob overwrite", "AL32UTF8", true, "hextoraw('010203')", write(2, std::string(1, '\0')),
         OCI_SUCCESS, 1, std::string("\x01\x00\x03", 3), 3},
        {"blob erase", "AL32UTF8", true, "hextoraw('010203')", erase(2, 5), OCI_SUCCESS, 2,
         std::string("\x01\x00\x00", 3), 3},
        {"blob trim", "AL32UTF8", true, "hextoraw('010203')", trim(0), OCI_SUCCESS, 0, "", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        ASSERT_NO_FATAL_FAILURE(Connect(c.charset));
        const std::string values = c.blob ? "(1, empty_clob(), " + c.initial + ")"
                                          : "(1, " + c.initial + ", empty_blob())";
        ASSERT_EQ(OCI_SUCCESS, Run("insert into l values " + values)) << Error();
        ASSERT_NO_FATAL_FAILURE(Select("select c, b from l where id = 1 for update"));
        OCILobLocator* lob = c.blob ? blob() : clob();
        ub4 amount = 0;
        ASSERT_EQ(c.status, c.op(*this, lob, &amount)) << Error();
        EXPECT_EQ(c.status == OCI_SUCCESS ? c.amountOut : amount, amount);
        EXPECT_EQ(c.status == OCI_ERROR ? 22926 : 0, c.status == OCI_ERROR ? Code() : 0);
        EXPECT_EQ(c.expected, Read(lob));
        EXPECT_EQ(c.length, Length(lob));
        // The row holds the change: a new query sees it.
        ASSERT_NO_FATAL_FAILURE(Select("select c, b from l where id = 1"));
        EXPECT_EQ(c.expected, Read(c.blob ? blob() : clob()));
    }
}

// Pieces are gathered so a character split between two of them converts whole.
TEST_F(OciLobTest, PiecewiseAndCallbackWritesJoinTheirPieces) {
    ASSERT_NO_FATAL_FAILURE(Connect("JA16SJISTILDE"));
    ASSERT_EQ(OCI_SUCCESS, Run("insert into l values (1, empty_clob(), empty_blob())"));
    ASSERT_NO_FATAL_FAILURE(Select("select c, b from l for update"));
    const std::string text = "a" + kSjisNichi + kSjisHon + kSjisGo;  // 4 characters, 7 bytes
    const std::vector<std::string> pieces = {text.substr(0, 2), text.substr(2, 3), text.substr(5)};
    const ub1 modes[] = {OCI_FIRST_PIECE, OCI_NEXT_PIECE, OCI_LAST_PIECE};
    const sword statuses[] = {OCI_NEED_DATA, OCI_NEED_DATA, OCI_SUCCESS};
    ub4 amount = 0;  // until the last piece
    for (std::size_t i = 0; i < pieces.size(); ++i) {
        std::string piece = pieces[i];
        EXPECT_EQ(statuses[i], Call(OCILobWrite)(svc, err, clob(), &amount, 1, piece.data(),
                                                 static_cast<ub4>(piece.size()), modes[i], nullptr,
                                                 nullptr, 0, SQLCS_IMPLICIT))
            << i << Error();
    }
    EXPECT_EQ(4u, amount);
    EXPECT_EQ(text, Read(clob()));

    // A next piece with no write begun is refused.
    char byte = 'x';
    EXPECT_EQ(OCI_ERROR, Call(OCILobWrite)(svc, err, clob(), &amount, 1, &byte, 1, OCI_LAST_PIECE,
                                           nullptr, nullptr, 0, SQLCS_IMPLICIT));
    EXPECT_EQ(24801, Code());

    struct Feed {
        std::vector<std::string> rest;
        std::size_t next = 0;
    } feed{{std::string("\x03\x04", 2), std::string("\x05", 1)}};
    auto more = [](void* context, void* buf, ub4* len, ub1* piece) -> sb4 {
        auto* f = static_cast<Feed*>(context);
        const std::string& p = f->rest[f->next++];
        std::memcpy(buf, p.data(), p.size());
        *len = static_cast<ub4>(p.size());
        *piece = f->next == f->rest.size() ? OCI_LAST_PIECE : OCI_NEXT_PIECE;
        return OCI_CONTINUE;
    };
    char buffer[4] = {1, 2};
    amount = 0;
    ASSERT_EQ(OCI_SUCCESS, Call(OCILobWrite)(svc, err, blob(), &amount, 1, buffer, 2,
                                             OCI_FIRST_PIECE, &feed, more, 0, SQLCS_IMPLICIT))
        << Error();
    EXPECT_EQ(5u, amount);
    EXPECT_EQ(std::string("\x01\x02\x03\x04\x05", 5), Read(blob()));
}

// Append takes any readable source; copy overwrites from an offset, padding a gap.
TEST_F(OciLobTest, AppendAndCopyTakeFromAnotherLob) {
    ASSERT_EQ(OCI_SUCCESS, Run("insert into l values (1, 'ab', hextoraw('01'))"));
    ASSERT_EQ(OCI_SUCCESS, Run("insert into l values (2, 'xyz', hextoraw('0203'))"));
    auto* other = static_cast<OCILobLocator*>(other_);
    ASSERT_NO_FATAL_FAILURE(Select("select c, b from l where id = 2"));
    ASSERT_EQ(OCI_SUCCESS, Call(OCILobAssign)(env, err, clob(), &other));
    ASSERT_NO_FATAL_FAILURE(Select("select c, b from l where id = 1 for update"));
    ASSERT_EQ(OCI_SUCCESS, Call(OCILobAppend)(svc, err, clob(), other)) << Error();
    EXPECT_EQ("abxyz", Read(clob()));
    ASSERT_EQ(OCI_SUCCESS, Call(OCILobCopy)(svc, err, clob(), other, 2, 7, 2)) << Error();
    EXPECT_EQ("abxyz yz", Read(clob()));
    EXPECT_EQ(OCI_ERROR, Call(OCILobAppend)(svc, err, blob(), other));  // BLOB and CLOB
    EXPECT_EQ(24801, Code());
}

// Oracle writes only through a locator of a row this transaction locked.
TEST_F(OciLobTest, WritesNeedTheRowLockedInTheirTransaction) {
    ASSERT_EQ(OCI_SUCCESS, Run("insert into l values (1, 'abc', hextoraw('01'))"));
    ASSERT_EQ(OCI_SUCCESS, Call(OCITransCommit)(svc, err, OCI_DEFAULT));
    ub4 amount = 0;

    ASSERT_NO_FATAL_FAILURE(Select("select c, b from l"));
    EXPECT_EQ(OCI_ERROR, Write(clob(), 1, "x", &amount));
    EXPECT_EQ(22920, Code());
    EXPECT_EQ("ORA-22920: row containing the LOB value is not locked\n", Error());
    EXPECT_EQ(OCI_ERROR, Call(OCILobTrim)(svc, err, blob(), 0));
    EXPECT_EQ(22920, Code());

    // A rollback undoes the write.
    ASSERT_NO_FATAL_FAILURE(Select("select c, b from l for update of c nowait"));
    ASSERT_EQ(OCI_SUCCESS, Write(clob(), 1, "xyzw", &amount)) << Error();
    EXPECT_EQ("xyzw", Read(clob()));
    ASSERT_EQ(OCI_SUCCESS, Call(OCITransRollback)(svc, err, OCI_DEFAULT));
    EXPECT_EQ("abc", Read(clob()));

    // The lock ends with its transaction, and the locator's right to write with it.
    ASSERT_NO_FATAL_FAILURE(Select("select c, b from l for update"));
    ASSERT_EQ(OCI_SUCCESS, Write(clob(), 4, "d", &amount)) << Error();
    ASSERT_EQ(OCI_SUCCESS, Call(OCITransCommit)(svc, err, OCI_DEFAULT));
    EXPECT_EQ("abcd", Read(clob()));
    EXPECT_EQ(OCI_ERROR, Write(clob(), 1, "x", &amount));
    EXPECT_EQ(22990, Code());
}

}  // namespace
}  // namespace velnor::test
