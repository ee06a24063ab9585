// The query every database action of the program runs through: the program's session,
// 1024-row array fetches and the busy cursor while it works.
#pragma once
#include <string>
#include <string_view>

#include "oracle/query/OracleQuery.h"

namespace velnor::oracle {
class TOracleSession;
}

namespace velnor::app {

class TCustomOracleQuery : public oracle::TOracleQuery {
public:
    explicit TCustomOracleQuery(oracle::TOracleSession& session,
                                platform::TComponent* owner = nullptr);

    // Replaces the statement text with one line.
    void SetText(std::string text);
};

// `name` as a quoted identifier, so names needing quotes (lower case, blanks, reserved
// words) reach the right table and no name can change the statement. Raises for an empty
// name or one holding a double quote or a NUL, which no Oracle identifier can.
[[nodiscard]] std::string QuoteIdentifier(std::string_view name);

}  // namespace velnor::app
