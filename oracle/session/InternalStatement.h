// A statement the session runs for itself (the settings): no binds, no rows.
#pragma once
#include <string>

namespace velnor::oracle {
class TOracleSession;

// Runs `sql` once on the session's connection; client errors raise EOracleError.
void RunInternalStatement(TOracleSession& session, const std::string& sql);

}  // namespace velnor::oracle
