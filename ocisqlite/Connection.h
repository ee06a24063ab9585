// One logged-on user session of one service: its engine connection, shared by the OCI8
// session handle and an OCI7 logon data area made from it.
#pragma once
#include <memory>
#include <set>
#include <string>

#include "ocisqlite/sql/Engine.h"

namespace velnor::ocisqlite {

class TCursorCore;

class TConnection {
public:
    // Opens the user's schema file of the service.
    TConnection(std::string home, std::string service, std::string user, std::string banner);
    ~TConnection();  // ends without commit: the open transaction is rolled back
    TConnection(const TConnection&) = delete;
    TConnection& operator=(const TConnection&) = delete;

    [[nodiscard]] const std::string& Home() const noexcept { return home_; }
    [[nodiscard]] const std::string& Service() const noexcept { return service_; }
    [[nodiscard]] const std::string& User() const noexcept { return user_; }
    [[nodiscard]] const std::string& Banner() const noexcept { return banner_; }
    [[nodiscard]] std::string SchemaPath() const;
    [[nodiscard]] sql::Connection& Sql() noexcept { return *sql_; }

    void Commit();
    void Rollback();
    // OCI7 autocommit (ocon / ocof): every successful statement is committed.
    [[nodiscard]] bool AutoCommit() const noexcept { return autoCommit_; }
    void SetAutoCommit(bool value) noexcept { autoCommit_ = value; }

    // Cursors holding engine statements of this connection; they drop them before it ends.
    void Track(TCursorCore* cursor);
    void Untrack(TCursorCore* cursor) noexcept;

private:
    bool autoCommit_ = false;
    std::string home_, service_, user_, banner_;
    std::set<TCursorCore*> cursors_;
    std::unique_ptr<sql::Connection> sql_;
};

}  // namespace velnor::ocisqlite
