// Logon, logoff, errors and the version banner through the raw OCI8 entry points.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "oci/OciFunctions.h"
#include "tests/support/TempHome.h"

namespace velnor::test {
namespace {

using ::testing::HasSubstr;

// An entry point of the library under test, by name.
#define Call(name) VELNOR_ENTRY(*client_, name)

constexpr const char* kOldBanner = "Oracle7 Server Release 7.3.4.0.0 - Production";

struct OciLogonTest : ::testing::Test {
    static void SetUpTestSuite() {
        home_ = new TTempHome();
        home_->AddService("ORCL");
        home_->AddService("OLD7", kOldBanner);
        home_->AddUser("ORCL", "SCOTT", "TIGER");
        home_->AddExpiredUser("ORCL", "STALE", "pw1");
        home_->AddExpiringUser("ORCL", "SOON", "pw2", 5);
        home_->AddUser("OLD7", "SCOTT", "TIGER");
        home_->SetAsOracleHome();
        client_ = new TRawClient();
    }
    static void TearDownTestSuite() {
        delete client_;
        delete home_;
    }

    void SetUp() override {
        ASSERT_EQ(OCI_SUCCESS, Call(OCIEnvCreate)(&env, OCI_OBJECT, nullptr, nullptr, nullptr,
                                                  nullptr, 0, nullptr));
        ASSERT_EQ(OCI_SUCCESS, Alloc(reinterpret_cast<void**>(&err), OCI_HTYPE_ERROR));
        ASSERT_EQ(OCI_SUCCESS, Alloc(reinterpret_cast<void**>(&svc), OCI_HTYPE_SVCCTX));
        ASSERT_EQ(OCI_SUCCESS, Alloc(reinterpret_cast<void**>(&srv), OCI_HTYPE_SERVER));
        ASSERT_EQ(OCI_SUCCESS, Alloc(reinterpret_cast<void**>(&ses), OCI_HTYPE_SESSION));
    }
    void TearDown() override {
        if (env) {
            EXPECT_EQ(OCI_SUCCESS, Call(OCIHandleFree)(env, OCI_HTYPE_ENV));
        }
    }

    sword Alloc(void** handle, ub4 type) {
        return Call(OCIHandleAlloc)(env, handle, type, 0, nullptr);
    }

    // The steps of an explicit logon; the result of the last step that ran.
    sword Attach(const std::string& service) {
        return Call(OCIServerAttach)(srv, err, reinterpret_cast<const OraText*>(service.data()),
                                     static_cast<sb4>(service.size()), OCI_DEFAULT);
    }
    sword Begin(const std::string& user, const std::string& password, ub4 mode = OCI_DEFAULT) {
        sword s = Call(OCIAttrSet)(svc, OCI_HTYPE_SVCCTX, srv, 0, OCI_ATTR_SERVER, err);
        if (s != OCI_SUCCESS) return s;
        s = Call(OCIAttrSet)(svc, OCI_HTYPE_SVCCTX, ses, 0, OCI_ATTR_SESSION, err);
        if (s != OCI_SUCCESS) return s;
        s = Call(OCIAttrSet)(ses, OCI_HTYPE_SESSION, const_cast<char*>(user.data()),
                             static_cast<ub4>(user.size()), OCI_ATTR_USERNAME, err);
        if (s != OCI_SUCCESS) return s;
        s = Call(OCIAttrSet)(ses, OCI_HTYPE_SESSION, const_cast<char*>(password.data()),
                             static_cast<ub4>(password.size()), OCI_ATTR_PASSWORD, err);
        if (s != OCI_SUCCESS) return s;
        return Call(OCISessionBegin)(svc, err, ses, OCI_CRED_RDBMS, mode);
    }
    sword LogOn(const std::string& user, const std::string& password, const std::string& service) {
        const sword s = Attach(service);
        return s == OCI_SUCCESS ? Begin(user, password) : s;
    }

    // Record 1 of the error handle: the number and the whole message.
    std::pair<sb4, std::string> Error(ub4 size = 1024) {
        sb4 code = 0;
        std::string text(size, '\x7f');
        const sword s = Call(OCIErrorGet)(
            err, 1, nullptr, &code, reinterpret_cast<OraText*>(text.data()), size, OCI_HTYPE_ERROR);
        if (s != OCI_SUCCESS) return {-1, "OCIErrorGet returned " + std::to_string(s)};
        text.resize(std::strlen(text.c_str()));
        return {code, text};
    }

    std::string Version(void* handle, ub1 type, ub4 size = 512) {
        std::string buf(size, '\x7f');
        const sword s =
            Call(OCIServerVersion)(handle, err, reinterpret_cast<OraText*>(buf.data()), size, type);
        if (s != OCI_SUCCESS) return "status " + std::to_string(s);
        buf.resize(std::strlen(buf.c_str()));
        return buf;
    }

    static TTempHome* home_;
    static TRawClient* client_;
    OCIEnv* env = nullptr;
    OCIError* err = nullptr;
    OCISvcCtx* svc = nullptr;
    OCIServer* srv = nullptr;
    OCISession* ses = nullptr;
};

TTempHome* OciLogonTest::home_ = nullptr;
TRawClient* OciLogonTest::client_ = nullptr;

TEST_F(OciLogonTest, GoodPasswordLogsOnAndOff) {
    ASSERT_EQ(OCI_SUCCESS, LogOn("scott", "tiger", "orcl")) << Error().second;
    OCISession* current = nullptr;
    ASSERT_EQ(OCI_SUCCESS,
              Call(OCIAttrGet)(svc, OCI_HTYPE_SVCCTX, &current, nullptr, OCI_ATTR_SESSION, err));
    EXPECT_EQ(ses, current);
    OCIEnv* owner = nullptr;
    ASSERT_EQ(OCI_SUCCESS,
              Call(OCIAttrGet)(svc, OCI_HTYPE_SVCCTX, &owner, nullptr, OCI_ATTR_ENV, err));
    EXPECT_EQ(env, owner);
    EXPECT_EQ(OCI_SUCCESS, Call(OCISessionEnd)(svc, err, ses, OCI_DEFAULT));
    EXPECT_EQ(OCI_SUCCESS, Call(OCIServerDetach)(srv, err, OCI_DEFAULT));
}

TEST_F(OciLogonTest, SysdbaAndSysoperModesAreAccepted) {
    ASSERT_EQ(OCI_SUCCESS, Attach("ORCL"));
    EXPECT_EQ(OCI_SUCCESS, Begin("SCOTT", "TIGER", OCI_SYSDBA)) << Error().second;
    EXPECT_EQ(OCI_SUCCESS, Call(OCISessionEnd)(svc, err, ses, OCI_DEFAULT));
    EXPECT_EQ(OCI_SUCCESS, Begin("SCOTT", "TIGER", OCI_SYSOPER)) << Error().second;
}

struct LogonCase {
    const char* user;
    const char* password;
    const char* service;
    sword status;
    sb4 code;
    const char* message;
};

class OciLogonFailureTest : public OciLogonTest, public ::testing::WithParamInterface<LogonCase> {};

TEST_P(OciLogonFailureTest, ReportsOracleErrorWithItsMessage) {
    const LogonCase& c = GetParam();
    EXPECT_EQ(c.status, LogOn(c.user, c.password, c.service));
    const auto [code, text] = Error();
    EXPECT_EQ(c.code, code);
    EXPECT_EQ(c.message, text);
}

INSTANTIATE_TEST_SUITE_P(
    Logons, OciLogonFailureTest,
    ::testing::Values(
        LogonCase{"SCOTT", "LION", "ORCL", OCI_ERROR, 1017,
                  "ORA-01017: invalid username/password; logon denied\n"},
        LogonCase{"NOBODY", "TIGER", "ORCL", OCI_ERROR, 1017,
                  "ORA-01017: invalid username/password; logon denied\n"},
        LogonCase{"SCOTT", "TIGER", "NOWHERE", OCI_ERROR, 12154,
                  "ORA-12154: TNS:could not resolve the connect identifier specified\n"},
        LogonCase{"SCOTT", "TIGER", "..", OCI_ERROR, 12154,
                  "ORA-12154: TNS:could not resolve the connect identifier specified\n"},
        // EZConnect without a service, or naming one that does not exist.
        LogonCase{"SCOTT", "TIGER", "localhost:1521", OCI_ERROR, 12154,
                  "ORA-12154: TNS:could not resolve the connect identifier specified\n"},
        LogonCase{"SCOTT", "TIGER", "//localhost/NOWHERE", OCI_ERROR, 12154,
                  "ORA-12154: TNS:could not resolve the connect identifier specified\n"},
        LogonCase{"STALE", "pw1", "ORCL", OCI_ERROR, 28001,
                  "ORA-28001: the password has expired\n"},
        LogonCase{"SOON", "pw2", "ORCL", OCI_SUCCESS_WITH_INFO, 28002,
                  "ORA-28002: the password will expire within 5 days\n"}));

TEST_F(OciLogonTest, ExpiringPasswordStillGivesAUsableSession) {
    ASSERT_EQ(OCI_SUCCESS_WITH_INFO, LogOn("SOON", "pw2", "ORCL"));
    EXPECT_EQ(OCI_SUCCESS, Call(OCISessionEnd)(svc, err, ses, OCI_DEFAULT));
}

TEST_F(OciLogonTest, ConnectStringFormsNameTheService) {
    for (const char* link :
         {"orcl", " ORCL ", "localhost:1521/orcl", "//db.example/ORCL",
          "db:1521/orcl:dedicated/inst1", "tcp://db:1521/orcl", "[::1]:1521/orcl",
          "(DESCRIPTION=(ADDRESS=(PROTOCOL=TCP)(HOST=x))"
          "(CONNECT_DATA=(SERVICE_NAME = orcl)))"}) {
        OCIServer* server = nullptr;
        ASSERT_EQ(OCI_SUCCESS, Alloc(reinterpret_cast<void**>(&server), OCI_HTYPE_SERVER));
        const std::string text(link);
        EXPECT_EQ(OCI_SUCCESS,
                  Call(OCIServerAttach)(server, err, reinterpret_cast<const OraText*>(text.data()),
                                        static_cast<sb4>(text.size()), OCI_DEFAULT))
            << link << ": " << Error().second;
        EXPECT_EQ(OCI_SUCCESS, Call(OCIHandleFree)(server, OCI_HTYPE_SERVER));
    }
}

TEST_F(OciLogonTest, NetServiceNamesComeFromTnsnamesOra) {
    const std::string admin = home_->Path() + "/network/admin";
    std::filesystem::create_directories(admin);
    std::ofstream(admin + "/tnsnames.ora")
        << "# aliases of the test home\n"
           "SALES, sales.example.com =\n"
           "  (DESCRIPTION = (ADDRESS = (PROTOCOL = TCP)(HOST = db)(PORT = 1521))\n"
           "    (CONNECT_DATA = (SERVICE_NAME = orcl)))\n"
           "legacy=(DESCRIPTION=(ADDRESS=(PROTOCOL=TCP)(HOST=old))(CONNECT_DATA=(SID=OLD7)))\n"
           "broken = (DESCRIPTION = (ADDRESS = (PROTOCOL = TCP)(HOST = db)))\n";
    const std::string elsewhere = home_->Path() + "/elsewhere";
    std::filesystem::create_directories(elsewhere);
    std::ofstream(elsewhere + "/tnsnames.ora")
        << "OTHER = (DESCRIPTION = (CONNECT_DATA = (SERVICE_NAME = ORCL)))\n";
    struct Case {
        const char* link;
        const char* tnsAdmin;  // nullptr: the home's network/admin
        sword status;
    };
    const Case cases[] = {
        {"sales", nullptr, OCI_SUCCESS},
        {"SALES.EXAMPLE.COM", nullptr, OCI_SUCCESS},
        {"legacy", nullptr, OCI_SUCCESS},
        {"broken", nullptr, OCI_ERROR},  // an alias that names no service
        {"other", nullptr, OCI_ERROR},
        {"other", elsewhere.c_str(), OCI_SUCCESS},
        {"sales", elsewhere.c_str(), OCI_ERROR},  // TNS_ADMIN replaces the home's file
    };
    for (const Case& c : cases) {
        if (c.tnsAdmin)
            ::setenv("TNS_ADMIN", c.tnsAdmin, 1);
        else
            ::unsetenv("TNS_ADMIN");
        OCIServer* server = nullptr;
        ASSERT_EQ(OCI_SUCCESS, Alloc(reinterpret_cast<void**>(&server), OCI_HTYPE_SERVER));
        const std::string text(c.link);
        EXPECT_EQ(c.status,
                  Call(OCIServerAttach)(server, err, reinterpret_cast<const OraText*>(text.data()),
                                        static_cast<sb4>(text.size()), OCI_DEFAULT))
            << c.link << " " << (c.tnsAdmin ? c.tnsAdmin : "");
        if (c.status == OCI_ERROR) {
            EXPECT_EQ(12154, Error().first);
        }
        EXPECT_EQ(OCI_SUCCESS, Call(OCIHandleFree)(server, OCI_HTYPE_SERVER));
    }
    ::unsetenv("TNS_ADMIN");
    std::filesystem::remove_all(home_->Path() + "/network");
}

TEST_F(OciLogonTest, SessionBeginWithoutAttachIsRefused) {
    EXPECT_EQ(OCI_ERROR, Begin("SCOTT", "TIGER"));
    EXPECT_EQ(24327, Error().first);
}

TEST_F(OciLogonTest, OciLogonAndLogoff) {
    OCISvcCtx* context = nullptr;
    const std::string user = "scott", password = "tiger", service = "ORCL";
    ASSERT_EQ(OCI_SUCCESS,
              Call(OCILogon)(env, err, &context, reinterpret_cast<const OraText*>(user.data()),
                             static_cast<ub4>(user.size()),
                             reinterpret_cast<const OraText*>(password.data()),
                             static_cast<ub4>(password.size()),
                             reinterpret_cast<const OraText*>(service.data()),
                             static_cast<ub4>(service.size())))
        << Error().second;
    ASSERT_NE(nullptr, context);
    EXPECT_EQ(std::string("Oracle Database 19c Enterprise Edition Release 19.0.0.0.0 - Production"),
              Version(context, OCI_HTYPE_SVCCTX));
    EXPECT_EQ(OCI_SUCCESS, Call(OCILogoff)(context, err));
}

TEST_F(OciLogonTest, OciLogonFailureLeavesNoServiceContext) {
    OCISvcCtx* context = reinterpret_cast<OCISvcCtx*>(this);
    const std::string user = "scott", password = "wrong", service = "ORCL";
    EXPECT_EQ(OCI_ERROR,
              Call(OCILogon)(env, err, &context, reinterpret_cast<const OraText*>(user.data()),
                             static_cast<ub4>(user.size()),
                             reinterpret_cast<const OraText*>(password.data()),
                             static_cast<ub4>(password.size()),
                             reinterpret_cast<const OraText*>(service.data()),
                             static_cast<ub4>(service.size())));
    EXPECT_EQ(nullptr, context);
    EXPECT_EQ(1017, Error().first);
}

TEST_F(OciLogonTest, ServerVersionGivesTheBannerOfItsService) {
    ASSERT_EQ(OCI_SUCCESS, Attach("old7"));
    EXPECT_EQ(kOldBanner, Version(srv, OCI_HTYPE_SERVER));
    ASSERT_EQ(OCI_SUCCESS, Call(OCIAttrSet)(svc, OCI_HTYPE_SVCCTX, srv, 0, OCI_ATTR_SERVER, err));
    EXPECT_EQ(kOldBanner, Version(svc, OCI_HTYPE_SVCCTX));
}

TEST_F(OciLogonTest, ServerVersionCutsToTheBufferAndTerminates) {
    ASSERT_EQ(OCI_SUCCESS, Attach("OLD7"));
    EXPECT_EQ("Oracle7", Version(srv, OCI_HTYPE_SERVER, 8));
}

TEST_F(OciLogonTest, ServerVersionBeforeAttachFails) {
    std::string buf(64, '\0');
    EXPECT_EQ(OCI_ERROR, Call(OCIServerVersion)(srv, err, reinterpret_cast<OraText*>(buf.data()),
                                                64, OCI_HTYPE_SERVER));
    EXPECT_EQ(3114, Error().first);
}

TEST_F(OciLogonTest, ErrorGetHasOneRecordAndCutsLongMessages) {
    ASSERT_EQ(OCI_ERROR, LogOn("SCOTT", "TIGER", "NOWHERE"));
    EXPECT_EQ("ORA-12154: TNS", Error(15).second);
    sb4 code = 0;
    EXPECT_EQ(OCI_NO_DATA, Call(OCIErrorGet)(err, 2, nullptr, &code, nullptr, 0, OCI_HTYPE_ERROR));
    EXPECT_EQ(OCI_SUCCESS, Call(OCIErrorGet)(err, 1, nullptr, &code, nullptr, 0, OCI_HTYPE_ERROR));
    EXPECT_EQ(12154, code);
}

TEST_F(OciLogonTest, UnimplementedEntryPointAnswersOra03001) {
    EXPECT_EQ(OCI_ERROR, Call(OCITransPrepare)(svc, err, OCI_DEFAULT));
    EXPECT_EQ(std::make_pair(sb4{3001}, std::string("ORA-03001: unimplemented feature\n")),
              Error());
}

TEST_F(OciLogonTest, ForeignOrWrongHandlesAreRefused) {
    void* handle = nullptr;
    alignas(8) unsigned char notAHandle[64] = {};  // foreign memory, big enough to inspect
    EXPECT_EQ(OCI_INVALID_HANDLE,
              Call(OCIHandleAlloc)(notAHandle, &handle, OCI_HTYPE_ERROR, 0, nullptr));
    EXPECT_EQ(OCI_INVALID_HANDLE, Call(OCIHandleAlloc)(env, &handle, 999, 0, nullptr));
    EXPECT_EQ(OCI_INVALID_HANDLE, Call(OCIHandleFree)(err, OCI_HTYPE_SERVER));
    EXPECT_EQ(OCI_INVALID_HANDLE, Attach("ORCL") == OCI_SUCCESS
                                      ? Call(OCIServerAttach)(reinterpret_cast<OCIServer*>(ses),
                                                              err, nullptr, 0, OCI_DEFAULT)
                                      : OCI_ERROR);
}

TEST_F(OciLogonTest, UnknownAttributeIsReportedNotIgnored) {
    ub4 value = 0;
    EXPECT_EQ(OCI_ERROR, Call(OCIAttrGet)(srv, OCI_HTYPE_SERVER, &value, nullptr, 9999, err));
    EXPECT_EQ(24315, Error().first);
}

}  // namespace
}  // namespace velnor::test
