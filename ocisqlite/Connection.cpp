#include "ocisqlite/Connection.h"

#include "ocisqlite/ClientCharset.h"
#include "ocisqlite/Cursor.h"
#include "ocisqlite/store/OracleHome.h"

namespace velnor::ocisqlite {

TConnection::TConnection(std::string home, std::string service, std::string user,
                         std::string banner)
    : home_(std::move(home)),
      service_(std::move(service)),
      user_(std::move(user)),
      banner_(std::move(banner)) {
    ReadClientCharset();  // as a client reads NLS_LANG when it starts a session
    sql_ = std::make_unique<sql::Connection>(SchemaPath(), user_);
    // CREATE USER keeps the users file of this service; the schema file comes at logon.
    sql_->OnCreateUser = [home = home_, service = service_](const std::string& name,
                                                            const std::string& password) {
        const TUserRecord record = MakeUser(name, password, false, 0);
        TOracleHome(home).UpdateUsers(service, [&](std::vector<TUserRecord>& users) {
            for (auto& u : users)
                if (u.name == record.name)
                    throw sql::OraError(1920, "user name '" + u.name +
                                                  "' conflicts with another user or role name");
            users.push_back(record);
        });
    };
}

TConnection::~TConnection() {
    const std::set<TCursorCore*> cursors = std::move(cursors_);
    cursors_.clear();
    for (TCursorCore* cursor : cursors) cursor->Release();
}

std::string TConnection::SchemaPath() const {
    return TOracleHome(home_).SchemaPath(service_, user_);
}

void TConnection::Commit() { sql_->Commit(); }
void TConnection::Rollback() { sql_->Rollback(); }

void TConnection::Track(TCursorCore* cursor) { cursors_.insert(cursor); }
void TConnection::Untrack(TCursorCore* cursor) noexcept { cursors_.erase(cursor); }

}  // namespace velnor::ocisqlite
