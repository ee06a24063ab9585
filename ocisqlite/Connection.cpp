#include "ocisqlite/Connection.h"

#include "ocisqlite/store/OracleHome.h"

namespace velnor::ocisqlite {

TConnection::TConnection(std::string home, std::string service, std::string user,
                         std::string banner)
    : home_(std::move(home)),
      service_(std::move(service)),
      user_(std::move(user)),
      banner_(std::move(banner)) {}

TConnection::~TConnection() = default;

std::string TConnection::SchemaPath() const {
    return TOracleHome(home_).SchemaPath(service_, user_);
}

void TConnection::Commit() {}
void TConnection::Rollback() {}

}  // namespace velnor::ocisqlite
