// Reach into a query from inside the access layer: the probes mark their queries, and tests
// see the statement handle to tell a reused statement from a fresh one.
#pragma once
#include "oracle/client/StatementBackend.h"
#include "oracle/query/OracleQuery.h"

namespace velnor::oracle::detail {

struct TQueryAccess {
    // A probe query measures a fact of its session, so it uses what is known instead of
    // asking for a measurement.
    static void MarkProbe(TOracleQuery& query) noexcept { query.probe_ = true; }
    // The client statement the query works on; null while closed.
    [[nodiscard]] static const void* StatementHandle(const TOracleQuery& query) noexcept {
        return query.statement_ ? query.statement_->Handle() : nullptr;
    }
};

}  // namespace velnor::oracle::detail
