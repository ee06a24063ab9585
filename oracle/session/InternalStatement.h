// A statement the session runs for itself (settings and probes): no binds, values read
// as text, one row at a time.
#pragma once
#include <string>
#include <vector>

namespace velnor::oracle {
class TOracleSession;

using TTextRow = std::vector<std::string>;

// Runs `sql` on the session's connection. For a query, `columns` > 0 reads that many
// columns of every row as text (NULL gives ""). Client errors raise EOracleError.
std::vector<TTextRow> RunInternalStatement(TOracleSession& session, const std::string& sql,
                                           int columns);

}  // namespace velnor::oracle
