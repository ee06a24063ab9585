// SQL functions registered on each SQLite connection: Oracle's conversions, checks and
// built-in functions, raising Oracle's errors as "ORA-nnnnn: text" messages.
#pragma once
#include <string>

#include "ocisqlite/sql/Engine.h"

struct sqlite3;

namespace velnor::ocisqlite::sql {

// What the functions read from the session.
struct SessionState {
    std::string dateFormat = "DD-MON-RR";
    DateTime statementTime;  // SYSDATE: fixed for the whole of one execution
    bool timeKnown = false;
};

void RegisterFunctions(sqlite3* db, SessionState* state);

}  // namespace velnor::ocisqlite::sql
