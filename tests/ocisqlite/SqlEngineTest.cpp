// The SQL engine through its C++ API: statements, describe, values, errors, transactions.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "ocisqlite/sql/Engine.h"

namespace sql = velnor::ocisqlite::sql;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

namespace {

struct SqlEngineTest : ::testing::Test {
    void SetUp() override {
        dir_ = std::filesystem::temp_directory_path() /
               ("sqlengine-" + std::to_string(::getpid()) + "-" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::remove_all(dir_);
        std::filesystem::create_directories(dir_);
        path_ = (dir_ / "SCOTT.db").string();
        db_ = std::make_unique<sql::Connection>(path_, "SCOTT");
    }
    void TearDown() override {
        db_.reset();
        std::filesystem::remove_all(dir_);
    }

    // Rows of a query as text, "NULL" for null.
    std::vector<std::vector<std::string>> Rows(const std::string& text) {
        auto s = db_->Prepare(text);
        s->Execute();
        std::vector<std::vector<std::string>> rows;
        while (s->Fetch()) {
            std::vector<std::string> row;
            for (const sql::Value& v : s->Row())
                row.push_back(v.IsNull() ? "NULL" : db_->ToText(v));
            rows.push_back(row);
        }
        return rows;
    }
    std::string One(const std::string& text) {
        auto rows = Rows(text);
        EXPECT_EQ(rows.size(), 1u) << text;
        return rows.empty() || rows[0].empty() ? "<none>" : rows[0][0];
    }
    std::vector<std::string> Column(const std::string& text) {
        std::vector<std::string> out;
        for (auto& r : Rows(text)) out.push_back(r.at(0));
        return out;
    }
    // The Oracle error of a statement, or 0 when it runs.
    int ErrorOf(const std::string& text, std::string* message = nullptr) {
        try {
            auto s = db_->Prepare(text);
            s->Execute();
            if (s->Type() == sql::stSelect)
                while (s->Fetch()) {
                }
        } catch (const sql::OraError& e) {
            if (message) *message = e.what();
            return e.Code();
        }
        return 0;
    }
    void Exec(const std::string& text) { db_->Execute(text); }

    std::filesystem::path dir_;
    std::string path_;
    std::unique_ptr<sql::Connection> db_;
};

TEST_F(SqlEngineTest, SelectFromDualEvaluatesExpressions) {
    EXPECT_EQ(One("select 1 + 2 * 3 from dual"), "7");
    EXPECT_EQ(One("SELECT 7 / 2 FROM DUAL"), "3.5");
    EXPECT_EQ(One("select 'a' || null || 'b' from dual"), "ab");
    EXPECT_EQ(One("select 2.5E20 from dual"), "250000000000000000000");
}

}  // namespace
