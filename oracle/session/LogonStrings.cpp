#include "oracle/session/LogonStrings.h"

#include <algorithm>
#include <string_view>

#include "platform/Text.h"

namespace velnor::oracle {
namespace {

std::string Trimmed(std::string_view s) {
    const auto first = s.find_first_not_of(" \t");
    if (first == std::string_view::npos) return {};
    const auto last = s.find_last_not_of(" \t");
    return std::string(s.substr(first, last - first + 1));
}

// A trailing " AS SYSDBA" / " AS SYSOPER" clause: the mode, and `s` without it. Anything
// else after " AS " is part of the value and stays.
bool ExtractConnectAsClause(std::string& s, TConnectAsOption& mode) {
    std::string upper = platform::UpperCase(s);
    std::replace(upper.begin(), upper.end(), '\t', ' ');
    const std::size_t at = upper.rfind(" AS ");
    if (at == std::string::npos) return false;
    const std::string clause = Trimmed(std::string_view(upper).substr(at + 4));
    if (clause == "SYSDBA") {
        mode = TConnectAsOption::caSYSDBA;
    } else if (clause == "SYSOPER") {
        mode = TConnectAsOption::caSYSOPER;
    } else {
        return false;
    }
    s = Trimmed(std::string_view(s).substr(0, at));
    return true;
}

}  // namespace

std::string TLogonParts::Text() const {
    std::string text = user;
    if (!password.empty()) text += "/" + password;
    if (!database.empty()) text += "@" + database;
    return text;
}

namespace {

// A whole "user/password@database" in the user name is split; fields given separately are
// taken as they are, so a password or service holding "@" or " as " stays whole.
TLogonParts SplitLogon(const std::string& user, const std::string& password,
                       const std::string& database, bool& combined) {
    TLogonParts parts{user, password, database, {}, TConnectAsOption::caNormal};
    combined = false;
    if (!password.empty()) return parts;
    std::size_t slash = user.find('/');
    // A "/" after the first "@" belongs to the connect string ("scott@host:1521/DEMO").
    if (const std::size_t firstAt = user.find('@'); slash != std::string::npos && slash > firstAt)
        slash = std::string::npos;
    const std::size_t at = user.find('@', slash == std::string::npos ? 0 : slash);
    if (slash != std::string::npos) {
        parts.user = user.substr(0, slash);
        parts.password =
            user.substr(slash + 1, at == std::string::npos ? std::string::npos : at - slash - 1);
        combined = true;
    } else if (at != std::string::npos) {
        parts.user = user.substr(0, at);
    }
    if (at != std::string::npos) {
        parts.database = user.substr(at + 1);
        combined = true;
    }
    return parts;
}

}  // namespace

TLogonParts ParseLogonStrings(const std::string& user, const std::string& password,
                              const std::string& database, TConnectAsOption connectAs,
                              bool* combinedOut) {
    bool combined = false;
    TLogonParts parts = SplitLogon(user, password, database, combined);
    parts.rawDatabase = parts.database;
    parts.mode = connectAs;
    TConnectAsOption clause = TConnectAsOption::caNormal;
    bool found = ExtractConnectAsClause(parts.database, clause);
    if (!found && combined) found = ExtractConnectAsClause(parts.password, clause);
    if (!found && password.empty()) found = ExtractConnectAsClause(parts.user, clause);
    if (found) parts.mode = clause;
    if (combinedOut) *combinedOut = combined;
    return parts;
}

}  // namespace velnor::oracle
