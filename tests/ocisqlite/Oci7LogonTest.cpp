// OCI7 logons on a logon data area: rc at offset 12, oerhms texts, the OCI8 hand-over.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "oci/OciFunctions.h"
#include "tests/support/TempHome.h"

namespace velnor::test {
namespace {

#define Call(name) VELNOR_ENTRY(*client_, name)

struct Oci7LogonTest : ::testing::Test {
    static void SetUpTestSuite() {
        home_ = new TTempHome();
        home_->AddService("ORCL");
        home_->AddUser("ORCL", "SCOTT", "TIGER");
        home_->AddUser("ORCL", "ODD", "p@ss/word");
        home_->AddExpiringUser("ORCL", "SOON", "pw", 3);
        home_->SetAsOracleHome();
        client_ = new TRawClient();
    }
    static void TearDownTestSuite() {
        delete client_;
        delete home_;
    }
    void SetUp() override {
        std::memset(lda, 0xEE, sizeof lda);
        std::memset(hda, 0, sizeof hda);
    }

    // The return code as the caller reads it: the 16 bits at offset 12.
    ub2 Rc() const {
        ub2 rc = 0;
        std::memcpy(&rc, lda + 12, sizeof rc);
        return rc;
    }
    Lda_Def* Lda() { return reinterpret_cast<Lda_Def*>(lda); }
    sword Olog(const std::string& text) {
        return Call(olog)(Lda(), hda, reinterpret_cast<OraText*>(const_cast<char*>(text.c_str())),
                          -1, nullptr, -1, nullptr, -1, OCI_LM_DEF);
    }
    std::string Message(sb2 code, sword size = 512) {
        std::string buf(static_cast<std::size_t>(size), '\x7f');
        Call(oerhms)(Lda(), code, reinterpret_cast<OraText*>(buf.data()), size);
        buf.resize(std::strlen(buf.c_str()));
        return buf;
    }

    static TTempHome* home_;
    static TRawClient* client_;
    alignas(8) unsigned char lda[CDA_SIZE];
    ub1 hda[HDA_SIZE];
};

TTempHome* Oci7LogonTest::home_ = nullptr;
TRawClient* Oci7LogonTest::client_ = nullptr;

TEST_F(Oci7LogonTest, WholeLogonTextInTheUserArgument) {
    Olog("scott/tiger@orcl");
    ASSERT_EQ(0, Rc()) << Message(static_cast<sb2>(Rc()));
    EXPECT_EQ(0, Call(ologof)(Lda()));
    EXPECT_EQ(0, Rc());
}

TEST_F(Oci7LogonTest, OrlonLogsOnToo) {
    std::string text = "SCOTT/TIGER@ORCL";
    Call(orlon)(Lda(), hda, reinterpret_cast<OraText*>(text.data()), -1, nullptr, -1, 0);
    ASSERT_EQ(0, Rc());
    EXPECT_EQ(0, Call(ologof)(Lda()));
}

TEST_F(Oci7LogonTest, SeparatePasswordIsNotSplitAtSeparators) {
    std::string user = "odd", password = "p@ss/word", service = "ORCL";
    Call(olog)(Lda(), hda, reinterpret_cast<OraText*>(user.data()), -1,
               reinterpret_cast<OraText*>(password.data()), -1,
               reinterpret_cast<OraText*>(service.data()), -1, OCI_LM_DEF);
    ASSERT_EQ(0, Rc()) << Message(static_cast<sb2>(Rc()));
    Call(ologof)(Lda());
}

struct Logon7Case {
    const char* text;
    ub2 rc;
    const char* message;
};

class Oci7LogonFailureTest : public Oci7LogonTest,
                             public ::testing::WithParamInterface<Logon7Case> {};

TEST_P(Oci7LogonFailureTest, SetsRcAndOerhmsGivesTheMessage) {
    EXPECT_NE(0, Olog(GetParam().text));
    EXPECT_EQ(GetParam().rc, Rc());
    EXPECT_EQ(GetParam().message, Message(static_cast<sb2>(GetParam().rc)));
}

INSTANTIATE_TEST_SUITE_P(
    Logons, Oci7LogonFailureTest,
    ::testing::Values(
        Logon7Case{"scott/lion@orcl", 1017, "ORA-01017: invalid username/password; logon denied\n"},
        Logon7Case{"scott/tiger@elsewhere", 12154,
                   "ORA-12154: TNS:could not resolve the connect identifier specified\n"}));

TEST_F(Oci7LogonTest, ExpiringPasswordLogsOnWithRc28002) {
    Olog("soon/pw@orcl");
    EXPECT_EQ(28002, Rc());
    EXPECT_EQ("ORA-28002: the password will expire within 3 days\n", Message(28002));
    EXPECT_EQ(0, Call(ologof)(Lda()));  // the logon is usable
}

TEST_F(Oci7LogonTest, OerhmsCutsToItsBuffer) { EXPECT_EQ("ORA-01", Message(1017, 7)); }

TEST_F(Oci7LogonTest, LogoffOfAnUnknownLdaIsRefused) {
    std::memset(lda, 0, sizeof lda);
    Call(ologof)(Lda());
    EXPECT_EQ(1012, Rc());
}

TEST_F(Oci7LogonTest, UnimplementedCallSetsRc3001) {
    Olog("scott/tiger@orcl");
    ASSERT_EQ(0, Rc());
    alignas(8) unsigned char cda[CDA_SIZE] = {};
    std::string name = "P";
    ub4 count = 0;
    Call(odessp)(reinterpret_cast<Cda_Def*>(cda), reinterpret_cast<OraText*>(name.data()), 1,
                 nullptr, 0, nullptr, 0, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                 nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &count);
    ub2 rc = 0;
    std::memcpy(&rc, cda + 12, sizeof rc);
    EXPECT_EQ(3001, rc);
    EXPECT_EQ("ORA-03001: unimplemented feature\n", Message(3001));
    Call(ologof)(Lda());
}

TEST_F(Oci7LogonTest, ServiceContextHandsOverToAnLdaAndBack) {
    OCIEnv* env = nullptr;
    ASSERT_EQ(OCI_SUCCESS, Call(OCIEnvInit)(&env, OCI_DEFAULT, 0, nullptr));
    void* err = nullptr;
    ASSERT_EQ(OCI_SUCCESS, Call(OCIHandleAlloc)(env, &err, OCI_HTYPE_ERROR, 0, nullptr));
    OCIError* error = static_cast<OCIError*>(err);
    OCISvcCtx* svc = nullptr;
    const std::string user = "SCOTT", password = "TIGER", service = "ORCL";
    ASSERT_EQ(OCI_SUCCESS,
              Call(OCILogon)(env, error, &svc, reinterpret_cast<const OraText*>(user.data()), 5,
                             reinterpret_cast<const OraText*>(password.data()), 5,
                             reinterpret_cast<const OraText*>(service.data()), 4));
    ASSERT_EQ(OCI_SUCCESS, Call(OCISvcCtxToLda)(svc, error, Lda()));
    EXPECT_EQ(0, Rc());
    EXPECT_EQ(0, Call(ocom)(Lda()));
    EXPECT_EQ(0, Rc());
    OCISvcCtx* back = nullptr;
    ASSERT_EQ(OCI_SUCCESS, Call(OCILdaToSvcCtx)(&back, error, Lda()));
    EXPECT_EQ(svc, back);
    Call(ocom)(Lda());  // the LDA is no longer a logon
    EXPECT_EQ(1012, Rc());
    EXPECT_EQ(OCI_SUCCESS, Call(OCILogoff)(svc, error));
    EXPECT_EQ(OCI_SUCCESS, Call(OCIHandleFree)(env, OCI_HTYPE_ENV));
}

}  // namespace
}  // namespace velnor::test
