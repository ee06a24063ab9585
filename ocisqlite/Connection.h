// One logged-on user session of one service: shared by the OCI8 session handle and an
// OCI7 logon data area made from it.
#pragma once
#include <string>

namespace velnor::ocisqlite {

class TConnection {
public:
    TConnection(std::string home, std::string service, std::string user, std::string banner);
    ~TConnection();  // ends without commit: the open transaction is rolled back
    TConnection(const TConnection&) = delete;
    TConnection& operator=(const TConnection&) = delete;

    [[nodiscard]] const std::string& Home() const noexcept { return home_; }
    [[nodiscard]] const std::string& Service() const noexcept { return service_; }
    [[nodiscard]] const std::string& User() const noexcept { return user_; }
    [[nodiscard]] const std::string& Banner() const noexcept { return banner_; }
    [[nodiscard]] std::string SchemaPath() const;

    void Commit();
    void Rollback();
    // OCI7 autocommit (ocon / ocof): every successful statement is committed.
    [[nodiscard]] bool AutoCommit() const noexcept { return autoCommit_; }
    void SetAutoCommit(bool value) noexcept { autoCommit_ = value; }
    // The last error of any call on this connection, for the OCI7 message lookup.
    int lastErrorCode = 0;
    std::string lastErrorText;

private:
    bool autoCommit_ = false;
    std::string home_, service_, user_, banner_;
};

}  // namespace velnor::ocisqlite
