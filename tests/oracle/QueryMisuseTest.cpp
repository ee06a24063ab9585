// What a query does before it has a usable session: nothing reaches the client library.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "oracle/query/OracleQuery.h"
#include "oracle/session/OracleSession.h"
#include "platform/Exception.h"

namespace velnor::oracle {
namespace {

using ::testing::ThrowsMessage;

TEST(QueryMisuseTest, StatementsNeedASessionThatIsLoggedOn) {
    TOracleQuery q(nullptr);
    q.SQL().Add("select 1 from dual");
    int before = 0;
    int after = 0;
    q.BeforeQuery = [&](TOracleQuery&) { ++before; };
    q.AfterQuery = [&](TOracleQuery&) { ++after; };
    EXPECT_THAT([&] { q.Execute(); }, ThrowsMessage<platform::Exception>("Session undefined"));
    EXPECT_THAT([&] { q.Describe(); }, ThrowsMessage<platform::Exception>("Session undefined"));
    // An owed AfterQuery is paid also when the statement never started.
    EXPECT_EQ(before, 1);
    EXPECT_EQ(after, 1);
    EXPECT_TRUE(q.Eof());
    EXPECT_EQ(q.RowsProcessed(), 0);
    EXPECT_EQ(q.FieldCount(), 0);
}

TEST(QueryMisuseTest, EmptyRangeRunsNothingAndBadRangesAreRefused) {
    TOracleQuery q(nullptr);
    int events = 0;
    q.BeforeQuery = [&](TOracleQuery&) { ++events; };
    EXPECT_EQ(q.ExecuteRows(5, 0), 0);
    EXPECT_EQ(events, 0);
    for (const auto& range :
         {std::pair{-2, 1}, std::pair{0, -1}, std::pair{-1, 3}, std::pair{2147483600, 100}}) {
        EXPECT_THAT([&] { q.ExecuteRows(range.first, range.second); },
                    ThrowsMessage<platform::Exception>(::testing::HasSubstr("Invalid row range")))
            << range.first << "," << range.second;
    }
    EXPECT_EQ(events, 0);
}

TEST(QueryMisuseTest, ReadBufferBelowOneReadsBackAsOne) {
    TOracleQuery q(nullptr);
    EXPECT_EQ(q.ReadBuffer(), 25);
    for (int rows : {0, -5}) {
        q.SetReadBuffer(rows);
        EXPECT_EQ(q.ReadBuffer(), 1);
    }
}

TEST(QueryMisuseTest, SessionKeepsTrackOfItsQueries) {
    auto session = std::make_unique<TOracleSession>();
    TOracleQuery a(nullptr);
    TOracleQuery b(nullptr);
    a.SetSession(session.get());
    b.SetSession(session.get());
    b.SetSession(nullptr);
    session.reset();  // tells the queries still listed
    EXPECT_EQ(a.Session(), nullptr);
    EXPECT_EQ(b.Session(), nullptr);
}

TEST(QueryMisuseTest, SessionWithoutLogonRefusesToRun) {
    TOracleSession session;
    TOracleQuery q(nullptr);
    q.SetSession(&session);
    q.SQL().Add("select 1 from dual");
    EXPECT_THAT([&] { q.Execute(); },
                ThrowsMessage<platform::Exception>(::testing::AnyOf(
                    "Not logged on", ::testing::HasSubstr("Initialization error"))));
    EXPECT_NO_THROW(q.Next());
    EXPECT_TRUE(q.Eof());
}

}  // namespace
}  // namespace velnor::oracle
