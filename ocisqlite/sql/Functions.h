// SQL functions registered on each SQLite connection: Oracle's conversions, checks and
// built-in functions, raising Oracle's errors as "ORA-nnnnn: text" messages.
#pragma once
#include <string>
#include <string_view>

#include "ocisqlite/sql/Engine.h"

struct sqlite3;

namespace velnor::ocisqlite::sql {

// What the functions read from the session.
struct SessionState {
    std::string dateFormat = "DD-MON-RR";
    std::string timestampFormat = "DD-MON-RR HH.MI.SSXFF AM";
    std::string timestampTzFormat = "DD-MON-RR HH.MI.SSXFF AM TZR";
    int timeZone = 0;        // session time zone, minutes east of UTC
    DateTime statementTime;  // SYSDATE: fixed for the whole of one execution
    bool timeKnown = false;
};

void RegisterFunctions(sqlite3* db, SessionState* state);

// TO_CHAR(number, format) for the elements 9 0 . , D G S $ FM; ORA-01481 for others.
[[nodiscard]] std::string FormatNumberText(const Value& number, std::string_view format);

}  // namespace velnor::ocisqlite::sql
