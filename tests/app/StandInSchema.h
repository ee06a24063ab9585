// Fixture for the application layer on the stand-in client library: one home for the test
// program, and a user of its own for every test, so each starts with an empty schema.
#pragma once
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "app/core/CustomOracleQuery.h"
#include "oracle/client/OciLibrary.h"
#include "oracle/session/OracleSession.h"
#include "platform/RegionalSettings.h"
#include "tests/app/TempDir.h"
#include "tests/support/TempHome.h"

namespace velnor::app::test {

class StandInSchemaTest : public ::testing::Test {
public:
    static constexpr const char* kService = "APPT";
    static constexpr const char* kPassword = "Right-Pw1";

protected:
    static void SetUpTestSuite() {
        home_ = new velnor::test::TTempHome();
        home_->AddService(kService);
        home_->SetAsOracleHome();
        oracle::SetOCIDLL(home_->ClientLibrary());
    }
    static void TearDownTestSuite() {
        delete home_;
        home_ = nullptr;
    }

    void SetUp() override {
        platform::SetRegionalSettings(platform::TRegionalSettings{});
        static int users = 0;
        user_ = "U" + std::to_string(++users);
        home_->AddUser(kService, user_, kPassword);
        session_ = Logon();
    }

    [[nodiscard]] std::unique_ptr<oracle::TOracleSession> Logon(bool oci7 = false) const {
        auto session = std::make_unique<oracle::TOracleSession>();
        session->Preferences().SetUseOCI7(oci7);
        session->SetLogonUsername(user_);
        session->SetLogonPassword(kPassword);
        session->SetLogonDatabase(kService);
        session->LogOn();
        return session;
    }

    void Sql(const std::string& text) {
        TCustomOracleQuery q(*session_);
        q.SetText(text);
        q.Execute();
    }

    // Rows as text, "|" between the columns and NULL shown as <null>; through a second
    // session when `committed`, so only committed rows count.
    std::vector<std::string> Rows(const std::string& select, bool committed = false) {
        std::unique_ptr<oracle::TOracleSession> other;
        if (committed) other = Logon();
        TCustomOracleQuery q(committed ? *other : *session_);
        q.SetText(select);
        q.Execute();
        std::vector<std::string> rows;
        for (; !q.Eof(); q.Next()) {
            std::string row;
            for (int i = 0; i < q.FieldCount(); ++i) {
                if (i > 0) row += "|";
                row += q.FieldIsNull(i) ? "<null>" : q.FieldAsString(i);
            }
            rows.push_back(row);
        }
        return rows;
    }

    [[nodiscard]] std::vector<std::string> DirectoryEntries() const {
        std::vector<std::string> names;
        for (const auto& e : std::filesystem::directory_iterator(dir_.Path()))
            names.push_back(e.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

    static inline velnor::test::TTempHome* home_ = nullptr;
    std::string user_;
    std::unique_ptr<oracle::TOracleSession> session_;
    TempDir dir_;
};

}  // namespace velnor::app::test
