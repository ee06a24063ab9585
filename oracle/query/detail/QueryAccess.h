// Reach into a query from inside the access layer: the probes mark their queries, and tests
// see the statement handle to tell a reused statement from a fresh one.
#pragma once
#include "oracle/query/detail/QueryImpl.h"

namespace velnor::oracle::detail {

struct TQueryAccess {
    // A probe query measures a fact of its session, so it uses what is known instead of
    // asking for a measurement.
    static void MarkProbe(TOracleQuery& query) noexcept { query.impl_->probe_ = true; }
    // The client statement the query works on; null while closed.
    [[nodiscard]] static const void* StatementHandle(const TOracleQuery& query) noexcept {
        const auto& statement = query.impl_->statement_;
        return statement ? statement->Handle() : nullptr;
    }
};

}  // namespace velnor::oracle::detail
