// The MTS companion library: pooled logons through the client library next to it.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <string>

#include "oci/OciFunctions.h"
#include "tests/support/TempHome.h"

namespace velnor::test {
namespace {

#define Mts(name) VELNOR_ENTRY(*mts_, name)

struct OraMtsTest : ::testing::Test {
    static void SetUpTestSuite() {
        home_ = new TTempHome();
        home_->AddService("ORCL");
        home_->AddUser("ORCL", "SCOTT", "TIGER");
        home_->SetAsOracleHome();
        mts_ = new TRawClient(home_->MtsLibrary());
    }
    static void TearDownTestSuite() {
        delete mts_;
        delete home_;
    }
    ub4 Get(std::string user, std::string password, OCISvcCtx** svc, OCIEnv** env) {
        std::string service = "ORCL";
        return Mts(OraMTSSvcGet)(
            reinterpret_cast<OraText*>(user.data()), reinterpret_cast<OraText*>(password.data()),
            reinterpret_cast<OraText*>(service.data()), svc, env, ORAMTS_CFLG_ALLDEFAULT);
    }
    static TTempHome* home_;
    static TRawClient* mts_;
};

TTempHome* OraMtsTest::home_ = nullptr;
TRawClient* OraMtsTest::mts_ = nullptr;

TEST_F(OraMtsTest, GetsAndReleasesALoggedOnServiceContext) {
    OCISvcCtx* svc = nullptr;
    OCIEnv* env = nullptr;
    ASSERT_EQ(0u, Get("scott", "tiger", &svc, &env));
    ASSERT_NE(nullptr, svc);
    ASSERT_NE(nullptr, env);
    EXPECT_EQ(0u, Mts(OraMTSSvcRel)(svc));
    EXPECT_NE(0u, Mts(OraMTSSvcRel)(svc));  // already given back
}

TEST_F(OraMtsTest, BadPasswordIsAFailedLogon) {
    OCISvcCtx* svc = nullptr;
    OCIEnv* env = nullptr;
    EXPECT_EQ(4002u, Get("scott", "lion", &svc, &env));
    EXPECT_EQ(nullptr, svc);
}

TEST_F(OraMtsTest, EnlistingInADistributedTransactionIsRefused) {
    OCISvcCtx* svc = nullptr;
    OCIEnv* env = nullptr;
    ASSERT_EQ(0u, Get("scott", "tiger", &svc, &env));
    int transaction = 0;
    EXPECT_NE(0u, Mts(OraMTSSvcEnlist)(svc, nullptr, &transaction, 0));
    EXPECT_EQ(0u, Mts(OraMTSSvcEnlist)(svc, nullptr, nullptr, 0));
    EXPECT_EQ(0, Mts(OraMTSTransTest)());
    EXPECT_EQ(0u, Mts(OraMTSSvcRel)(svc));
}

}  // namespace
}  // namespace velnor::test
