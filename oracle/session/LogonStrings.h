// The logon strings (user name, password, service) as one logon uses them.
#pragma once
#include <string>

namespace velnor::oracle {

enum class TConnectAsOption { caNormal, caSYSDBA, caSYSOPER };

// The logon strings as one logon uses them.
struct TLogonParts {
    std::string user;
    std::string password;
    std::string database;     // without an AS clause
    std::string rawDatabase;  // as split off, clause included
    TConnectAsOption mode = TConnectAsOption::caNormal;
    // "user/password@database" for the OCI7 logon.
    [[nodiscard]] std::string Text() const;
};

// Splits a whole "user/password@database" given as the user name; fields given separately
// stay whole (a password may hold "@" or " as "). A trailing " AS SYSDBA" or " AS SYSOPER"
// sets the mode of this logon only; without one the mode is `connectAs`.
[[nodiscard]] TLogonParts ParseLogonStrings(const std::string& user, const std::string& password,
                                            const std::string& database, TConnectAsOption connectAs,
                                            bool* combined = nullptr);

}  // namespace velnor::oracle
