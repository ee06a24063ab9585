// TOracleQuery on the stand-in client library, through OCI8 handles and OCI7 cursors alike.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "oracle/client/OciLibrary.h"
#include "oracle/client/OracleError.h"
#include "oracle/client/OracleHome.h"
#include "oracle/query/OracleQuery.h"
#include "oracle/query/Probes.h"
#include "oracle/query/detail/QueryAccess.h"
#include "oracle/session/OracleSession.h"
#include "platform/DateTime.h"
#include "platform/RegionalSettings.h"
#include "platform/UiHooks.h"
#include "tests/oracle/ClientTestEnvironment.h"
#include "tests/support/TempHome.h"

namespace velnor::oracle {
namespace {

using platform::TVariant;
using platform::TVariantKind;
using ::testing::HasSubstr;
using ::testing::ThrowsMessage;

constexpr const char* kService = "QTEST";
constexpr const char* kUser = "QUSER";
constexpr const char* kPassword = "SECRET";
constexpr int kNumRows = 2048;

// A LONG value of `length` bytes that shows where each byte came from.
std::string LongText(std::size_t length) {
    std::string text(length, ' ');
    for (std::size_t i = 0; i < length; ++i)
        text[i] = "0123456789abcdefghijklmnopqrstuvwxyz"[i % 36];
    // Every 1000 bytes the offset itself, so a piece put back in the wrong place shows.
    for (std::size_t i = 0; i + 8 < length; i += 1000) {
        text.replace(i, 8, std::to_string(10000000 + i));
    }
    return text;
}

const std::vector<std::size_t>& LongLengths() {
    static const std::vector<std::size_t> lengths = {1,     1999,  2000,  2001,  5999,  6000, 6001,
                                                     31999, 32000, 62000, 64000, 64001, 70000};
    return lengths;
}

void RunSql(TOracleSession& session, const std::string& sql) {
    TOracleQuery q(nullptr);
    q.SetSession(&session);
    q.SQL().SetText(sql);
    q.Execute();
}

// One home for the whole program: its schema is created once, through the access layer.
class QueryHome {
public:
    QueryHome() {
        home_.AddService(kService);
        home_.AddUser(kService, kUser, kPassword);
        home_.SetAsOracleHome();
        SetOCIDLL(home_.ClientLibrary());
        TOracleSession session;
        session.SetLogonUsername(kUser);
        session.SetLogonPassword(kPassword);
        session.SetLogonDatabase(kService);
        session.LogOn();
        RunSql(session, "create table qnums (n number(9) not null)");
        {
            TOracleQuery q(nullptr);
            q.SetSession(&session);
            q.SQL().SetText("insert into qnums values (:n)");
            q.Variables().AddVariable("n", otInteger);
            std::vector<TVariant> values;
            for (int i = 1; i <= kNumRows; ++i) values.emplace_back(i);
            q.Variables().SetVariableValue("n", TVariant::Array(std::move(values)));
            q.Execute();
        }
        RunSql(session,
               "create table qtypes (id number(9), n9 number(9), n10 number(10), f number(10,2), "
               "v varchar2(20), d date, r raw(4))");
        RunSql(session,
               "insert into qtypes values (1, -123, 3000000000, -2.7, 'a' || chr(10) || 'b', "
               "to_date('2004-03-15 13:45:30', 'yyyy-mm-dd hh24:mi:ss'), hextoraw('0aff'))");
        RunSql(session, "insert into qtypes values (2, null, null, null, null, null, null)");
        RunSql(
            session,
            "insert into qtypes values (3, 42, 1, 0.5, 'x', to_date('2004-03-15', 'yyyy-mm-dd'), "
            "null)");
        RunSql(session, "create table qlongs (id number(9), txt long)");
        {
            TOracleQuery q(nullptr);
            q.SetSession(&session);
            q.SQL().SetText("insert into qlongs values (:id, :txt)");
            q.Variables().AddVariable("id", otInteger);
            q.Variables().AddVariable("txt", otLong);
            int id = 0;
            for (std::size_t length : LongLengths()) {
                q.Variables().SetVariableValue("id", TVariant(++id));
                q.Variables().SetVariableValue("txt", TVariant(LongText(length)));
                q.Execute();
            }
            q.Variables().SetVariableValue("id", TVariant(++id));
            q.Variables().SetVariableValue("txt", TVariant::Null());
            q.Execute();
        }
        session.Commit();
        session.LogOff();
    }

private:
    test::TClientEnvironment client_;
    velnor::test::TTempHome home_;
};

QueryHome* sharedHome = nullptr;

class QueryHomeEnvironment : public ::testing::Environment {
public:
    void TearDown() override {
        delete sharedHome;
        sharedHome = nullptr;
    }
};
const auto* const registered = ::testing::AddGlobalTestEnvironment(new QueryHomeEnvironment);

enum class Interface { OCI8, OCI7 };

std::string InterfaceName(const ::testing::TestParamInfo<Interface>& info) {
    return info.param == Interface::OCI8 ? "OCI8" : "OCI7";
}

class QueryTest : public ::testing::TestWithParam<Interface> {
protected:
    static void SetUpTestSuite() {
        if (!sharedHome) sharedHome = new QueryHome;
    }
    void SetUp() override {
        platform::TRegionalSettings settings;
        settings.shortDateFormat = "yyyy/mm/dd";
        settings.longTimeFormat = "hh:nn:ss";
        platform::SetRegionalSettings(settings);
        LogOn(session_);
    }
    void LogOn(TOracleSession& session) {
        session.Preferences().SetUseOCI7(GetParam() == Interface::OCI7);
        session.SetLogonUsername(kUser);
        session.SetLogonPassword(kPassword);
        session.SetLogonDatabase(kService);
        session.LogOn();
        ASSERT_EQ(session.UsingOCI8(), GetParam() == Interface::OCI8);
    }
    std::unique_ptr<TOracleQuery> Query(const std::string& sql, int readBuffer = 1024) {
        auto q = std::make_unique<TOracleQuery>(nullptr);
        q->SetSession(&session_);
        q->SetReadBuffer(readBuffer);
        q->SQL().SetText(sql);
        return q;
    }
    int Count(const std::string& table) {
        auto q = Query("select count(*) from " + table);
        q->Execute();
        return q->FieldAsInteger(0);
    }

    TOracleSession session_;
};

INSTANTIATE_TEST_SUITE_P(Interfaces, QueryTest, ::testing::Values(Interface::OCI8, Interface::OCI7),
                         InterfaceName);

// ---- fetching ----

struct BatchCase {
    int rows;
    int readBuffer;
};

TEST_P(QueryTest, FetchCrossesBatchBoundariesWithoutLosingRows) {
    for (const BatchCase c : {BatchCase{0, 1024}, BatchCase{1, 1024}, BatchCase{1023, 1024},
                              BatchCase{1024, 1024}, BatchCase{1025, 1024}, BatchCase{2048, 1024},
                              BatchCase{0, 1}, BatchCase{1, 1}, BatchCase{1025, 1}}) {
        auto q = Query("select n from qnums where n <= " + std::to_string(c.rows) + " order by n",
                       c.readBuffer);
        int afterQuery = 0;
        q->AfterQuery = [&](TOracleQuery&) { ++afterQuery; };
        q->Execute();
        int seen = 0;
        for (; !q->Eof(); q->Next()) {
            ASSERT_EQ(q->FieldAsInteger(0), ++seen) << c.rows << "/" << c.readBuffer;
        }
        EXPECT_EQ(seen, c.rows) << c.readBuffer;
        EXPECT_EQ(q->RowsProcessed(), c.rows) << c.readBuffer;
        EXPECT_EQ(afterQuery, 1) << c.rows << "/" << c.readBuffer;
        q->Next();  // past the end nothing happens
        EXPECT_TRUE(q->Eof());
    }
}

TEST_P(QueryTest, NextOnAQueryNeverExecutedIsAtEnd) {
    auto q = Query("select n from qnums");
    EXPECT_TRUE(q->Eof());
    EXPECT_NO_THROW(q->Next());
    EXPECT_TRUE(q->Eof());
    EXPECT_THAT([&] { (void)q->FieldAsString(0); },
                ThrowsMessage<platform::Exception>("Field 0 does not exist"));
}

TEST_P(QueryTest, DescribeFillsTheSelectListWithoutFetching) {
    auto q = Query("select id, n9, n10, f, v, d, r from qtypes");
    q->Describe();
    EXPECT_TRUE(q->Eof());
    ASSERT_EQ(q->FieldCount(), 7);
    const std::vector<std::string> names = {"ID", "N9", "N10", "F", "V", "D", "R"};
    const std::vector<int> types = {otInteger, otInteger, otFloat, otFloat,
                                    otString,  otDate,    otString};
    for (int i = 0; i < 7; ++i) {
        EXPECT_EQ(q->FieldName(i), names[static_cast<std::size_t>(i)]);
        EXPECT_EQ(q->FieldType(i), types[static_cast<std::size_t>(i)]) << names[i];
    }
    // VARCHAR2(20) in the client's own set; OCI7 does not tell the set, so the width allows
    // each character the client's widest.
    EXPECT_EQ(q->FieldSize(4),
              GetParam() == Interface::OCI8 ? 20 : 20 * MaxBytesPerCharacter(ClientCharacterSet()));
    EXPECT_EQ(q->FieldSize(6), 8);  // two hexadecimal digits per byte
    EXPECT_EQ(q->FieldSize(0), 0);
    EXPECT_EQ(q->FieldPrecision(3), 10);
    EXPECT_EQ(q->FieldScale(3), 2);
    EXPECT_EQ(q->FindFieldIndex("n10"), 2);
    EXPECT_EQ(q->FindFieldIndex("nope"), -1);
    EXPECT_THAT([&] { (void)q->FieldIndex("nope"); },
                ThrowsMessage<platform::Exception>("Field nope does not exist"));
    EXPECT_THAT([&] { (void)q->FieldAsString(0); },
                ThrowsMessage<platform::Exception>("You cannot access field data beyond Eof"));
}

// ---- field access ----

TEST_P(QueryTest, EveryColumnTypeReadsThroughEveryAccessor) {
    auto q = Query("select id, n9, n10, f, v, d, r from qtypes where id = 1");
    q->Execute();
    ASSERT_FALSE(q->Eof());
    const double date = platform::EncodeDate(2004, 3, 15) + platform::EncodeTime(13, 45, 30);

    EXPECT_EQ(q->FieldAsString("N9"), "-123");
    EXPECT_EQ(q->FieldAsInteger("N9"), -123);
    EXPECT_EQ(q->FieldAsFloat("N9"), -123.0);
    EXPECT_EQ(q->FieldAsDate("N9"), -123.0);
    EXPECT_EQ(q->Field("N9"), TVariant(std::int32_t{-123}));

    EXPECT_EQ(q->FieldAsString("N10"), "3000000000");
    EXPECT_EQ(q->FieldAsInteger("N10"), -1294967296);  // the low 32 bits
    EXPECT_EQ(q->FieldAsFloat("N10"), 3000000000.0);

    EXPECT_EQ(q->FieldAsString("F"), "-2.7");
    EXPECT_EQ(q->FieldAsInteger("F"), -2);  // toward zero
    EXPECT_DOUBLE_EQ(q->FieldAsFloat("F"), -2.7);
    EXPECT_EQ(q->Field("F"), TVariant(-2.7));

    EXPECT_EQ(q->FieldAsString("V"), "a\r\nb");
    EXPECT_EQ(q->Field("V"), TVariant("a\r\nb"));
    EXPECT_THROW((void)q->FieldAsInteger("V"), platform::EConvertError);
    EXPECT_THROW((void)q->FieldAsFloat("V"), platform::EConvertError);
    EXPECT_THROW((void)q->FieldAsDate("V"), platform::EConvertError);

    EXPECT_EQ(q->FieldAsString("D"), "2004/03/15 13:45:30");
    EXPECT_EQ(q->FieldAsInteger("D"), static_cast<int>(platform::EncodeDate(2004, 3, 15)));
    EXPECT_DOUBLE_EQ(q->FieldAsFloat("D"), date);
    EXPECT_DOUBLE_EQ(q->FieldAsDate("D"), date);
    EXPECT_EQ(q->Field("D").Kind(), TVariantKind::vkDate);
    EXPECT_DOUBLE_EQ(q->Field("D").AsDateTime(), date);

    EXPECT_EQ(q->FieldAsString("R"), "0AFF");
    EXPECT_FALSE(q->FieldIsNull("R"));

    session_.Preferences().SetConvertCRLF(false);
    EXPECT_EQ(q->FieldAsString("V"), "a\nb");
}

TEST_P(QueryTest, DateAtMidnightHasNoTimePart) {
    auto q = Query("select d, v, f from qtypes where id = 3");
    q->Execute();
    EXPECT_EQ(q->FieldAsString(0), "2004/03/15");
    EXPECT_THROW((void)q->FieldAsDate(1), platform::EConvertError);
    EXPECT_EQ(q->FieldAsString(2), "0.5");
}

TEST_P(QueryTest, NullsReadAsEmptyValuesWithBothNullSettings) {
    for (const TNullValueOption option :
         {TNullValueOption::nvUnAssigned, TNullValueOption::nvNull}) {
        session_.SetNullValue(option);
        auto q = Query("select n9, n10, f, v, d, r from qtypes where id = 2");
        q->Execute();
        ASSERT_FALSE(q->Eof());
        for (int i = 0; i < q->FieldCount(); ++i) {
            EXPECT_TRUE(q->FieldIsNull(i)) << i;
            EXPECT_EQ(q->FieldAsString(i), "") << i;
            EXPECT_EQ(q->FieldAsInteger(i), 0) << i;
            EXPECT_EQ(q->FieldAsFloat(i), 0.0) << i;
            EXPECT_EQ(q->FieldAsDate(i), 0.0) << i;
            EXPECT_EQ(q->Field(i).Kind(), option == TNullValueOption::nvNull
                                              ? TVariantKind::vkNull
                                              : TVariantKind::vkUnassigned)
                << i;
        }
    }
}

TEST_P(QueryTest, FieldIndexOutOfRangeRaisesTheMissingFieldError) {
    auto q = Query("select n from qnums where n = 1");
    q->Execute();
    for (int index : {-1, 1, 1000}) {
        const std::string message = "Field " + std::to_string(index) + " does not exist";
        EXPECT_THAT([&] { (void)q->FieldAsString(index); },
                    ThrowsMessage<platform::Exception>(message));
        EXPECT_THAT([&] { (void)q->Field(index); }, ThrowsMessage<platform::Exception>(message));
        EXPECT_THAT([&] { (void)q->FieldName(index); },
                    ThrowsMessage<platform::Exception>(message));
    }
    EXPECT_THAT([&] { (void)q->ReadLongField(0, nullptr, 0, 1); },
                ThrowsMessage<platform::Exception>("Field 0 is not a Long"));
}

TEST_P(QueryTest, StringFieldsOnlyFetchesNumbersAndDatesAsText) {
    auto plain = Query("select to_char(d) from qtypes where id = 1");
    plain->Execute();
    auto q = Query("select n9, d from qtypes where id = 1");
    q->SetStringFieldsOnly(true);
    q->Execute();
    EXPECT_EQ(q->FieldType(0), otString);
    EXPECT_EQ(q->FieldType(1), otString);
    EXPECT_EQ(q->FieldAsString(0), "-123");
    // The database's own date text, in a buffer as long as the longest date text.
    EXPECT_EQ(q->FieldAsString(1), plain->FieldAsString(0));
    EXPECT_EQ(q->FieldSize(1), DateFormatLength(session_));
    EXPECT_GE(q->FieldSize(1), static_cast<int>(plain->FieldAsString(0).size()));
}

// A fact is measured once, and only when a column needs it: every probe adds client calls.
TEST_P(QueryTest, DateColumnMeasuresOnlyTheDateFormatAndOnlyOnce) {
    std::vector<std::string> probes;
    session_.OnInternalSQL = [&](TOracleSession&, const std::string& sql) {
        probes.push_back(sql);
    };
    session_.SetBytesPerCharacter(TBytesPerCharacterOption::bcAutoDetect);
    auto q = Query("select d from qtypes where id = 1");
    q->SetStringFieldsOnly(true);
    q->Execute();
    q->SetOptimize(false);
    q->Execute();
    EXPECT_THAT(probes, ::testing::ElementsAre(DateFormatLengthSQL()));
}

// ---- LONG values ----

TEST_P(QueryTest, LongValuesArriveWholeAroundEveryPieceSize) {
    auto q = Query("select id, txt from qlongs order by id");
    q->Execute();
    std::size_t i = 0;
    for (; !q->Eof(); q->Next(), ++i) {
        if (i == LongLengths().size()) {
            EXPECT_TRUE(q->FieldIsNull(1));
            EXPECT_EQ(q->Field(1).Kind(), TVariantKind::vkUnassigned);
            continue;
        }
        ASSERT_LT(i, LongLengths().size());
        const std::string expected = LongText(LongLengths()[i]);
        const TVariant value = q->Field(1);
        ASSERT_EQ(value.Kind(), TVariantKind::vkString);
        EXPECT_EQ(value.StringRef().size(), expected.size());
        EXPECT_TRUE(value.StringRef() == expected) << expected.size();

        // Reads from the middle, across the end, and beyond it.
        std::string part(3000, '#');
        const std::size_t offset = expected.size() / 2;
        const std::size_t n = q->ReadLongField(1, part.data(), offset, part.size());
        EXPECT_EQ(n, std::min<std::size_t>(3000, expected.size() - offset));
        EXPECT_EQ(part.substr(0, n), expected.substr(offset, n));
        EXPECT_EQ(q->ReadLongField(1, part.data(), expected.size() + 10, 5), 0u);
        // One read of the whole value, in several chunks where it is long.
        std::string whole(expected.size() + 100, '#');
        ASSERT_EQ(q->ReadLongField(1, whole.data(), 0, whole.size()), expected.size());
        EXPECT_TRUE(whole.compare(0, expected.size(), expected) == 0) << expected.size();
        EXPECT_EQ(q->ReadLongField(1, part.data(), 0, 0), 0u);
        EXPECT_THAT([&] { (void)q->FieldAsString(1); },
                    ThrowsMessage<platform::Exception>("Cannot convert field TXT to a String"));
    }
    EXPECT_EQ(i, LongLengths().size() + 1);
}

// ---- re-execution ----

TEST_P(QueryTest, OptimizedReexecutionStartsAgainWithoutReparsing) {
    auto q = Query("select n from qnums where n <= 5 order by n", 2);
    q->Execute();
    q->Next();
    const TFieldData* field = &q->FieldData(0);
    const void* statement = detail::TQueryAccess::StatementHandle(*q);
    q->Execute();
    EXPECT_EQ(&q->FieldData(0), field);  // not described again
    EXPECT_EQ(detail::TQueryAccess::StatementHandle(*q), statement);
    int seen = 0;
    for (; !q->Eof(); q->Next()) EXPECT_EQ(q->FieldAsInteger(0), ++seen);
    EXPECT_EQ(seen, 5);

    q->SetOptimize(false);
    q->Execute();
    seen = 0;
    for (; !q->Eof(); q->Next()) EXPECT_EQ(q->FieldAsInteger(0), ++seen);
    EXPECT_EQ(seen, 5);
}

TEST_P(QueryTest, ErrorRestoresTheCursorFiresAfterQueryAndLeavesTheQueryReusable) {
    platform::SetScreenCursor(5);
    auto q = Query("select * from no_such_table");
    q->SetCursor(platform::crSQLWait);
    int before = 0;
    int after = 0;
    q->BeforeQuery = [&](TOracleQuery&) { ++before; };
    q->AfterQuery = [&](TOracleQuery&) {
        ++after;
        EXPECT_EQ(platform::ScreenCursor(), 5);
    };
    for (int attempt = 0; attempt < 2; ++attempt) {
        try {
            q->Execute();
            ADD_FAILURE() << "no error";
        } catch (const EOracleError& e) {
            EXPECT_EQ(e.ErrorCode(), 942);
            EXPECT_THAT(e.Message(), HasSubstr("ORA-00942"));
        }
    }
    EXPECT_EQ(platform::ScreenCursor(), 5);
    EXPECT_EQ(before, 2);
    EXPECT_EQ(after, 2);
    EXPECT_TRUE(q->Eof());
    q->SQL().SetText("select n from qnums where n = 7");
    q->Execute();
    EXPECT_EQ(q->FieldAsInteger(0), 7);
}

TEST_P(QueryTest, DmlReportsRowsAndNeverLeavesARowCurrent) {
    RunSql(session_, "create table qdml (id number(9))");
    auto q = Query("insert into qdml values (1)");
    EXPECT_EQ(q->ExecuteRows(-1, -1), 1);
    EXPECT_TRUE(q->Eof());
    RunSql(session_, "insert into qdml values (2)");
    auto del = Query("delete from qdml");
    del->Execute();
    EXPECT_EQ(del->RowsProcessed(), 2);
    EXPECT_EQ(del->ExecuteRows(0, 0), 0);
    RunSql(session_, "drop table qdml");
}

// Each statement runs on qrow (ids 1..3, in rowid order); `row` is the id of the row whose
// ROWID it should leave, as the ROWID pseudo-column shows it (before the statement for a
// row that exists, so a deleted one is known too).
struct RowIdCase {
    const char* name;
    const char* sql;
    int row;
};

TEST_P(QueryTest, RowIdTextNamesTheLastRowTheStatementTouched) {
    for (const RowIdCase c :
         {RowIdCase{"insert", "insert into qrow values (4)", 4},
          RowIdCase{"update of one row", "update qrow set id = id where id = 2", 2},
          RowIdCase{"update of every row", "update qrow set id = id", 3},
          RowIdCase{"delete of one row", "delete from qrow where id = 1", 1},
          RowIdCase{"delete of every row", "delete from qrow", 3},
          RowIdCase{"insert of a selection", "insert into qrow select id + 10 from qrow", 13}}) {
        SCOPED_TRACE(c.name);
        RunSql(session_, "create table qrow (id number(9))");
        for (int id = 1; id <= 3; ++id)
            RunSql(session_, "insert into qrow values (" + std::to_string(id) + ")");
        auto rowid = Query("select rowid from qrow where id = " + std::to_string(c.row));
        auto q = Query(c.sql);
        if (c.row <= 3) rowid->Execute();
        q->Execute();
        if (c.row > 3) rowid->Execute();
        ASSERT_FALSE(rowid->Eof());
        const std::string expected = rowid->FieldAsString(0);
        ASSERT_EQ(expected.size(), 18u);
        EXPECT_NE(expected.substr(0, 6), "AAAAAA");  // a real object number
        EXPECT_EQ(q->RowIdText(), expected);
        RunSql(session_, "drop table qrow");
    }
}

TEST_P(QueryTest, RowIdTextOfAnArrayInsertIsItsLastElement) {
    RunSql(session_, "create table qrow (id number(9))");
    auto q = Query("insert into qrow values (:id)");
    q->Variables().AddVariable("id", otInteger);
    q->Variables().SetVariableValue("id", TVariant::Array({TVariant(7), TVariant(8), TVariant(9)}));
    q->Execute();
    auto rowid = Query("select rowid from qrow where id = 9");
    rowid->Execute();
    EXPECT_EQ(q->RowIdText(), rowid->FieldAsString(0));
    // A SELECT touches no row: OCI8's descriptor names none, OCI7's area still holds zeros.
    auto select = Query("select id from qrow");
    select->Execute();
    EXPECT_EQ(select->RowIdText(), GetParam() == Interface::OCI8 ? "" : "00000000.0000.0000");
    RunSql(session_, "drop table qrow");
}

TEST_P(QueryTest, AutoCommitCommitsDmlButASelectNeverDoes) {
    RunSql(session_, "create table qauto (id number(9))");
    session_.Commit();
    TOracleSession other;
    LogOn(other);
    auto countFromOther = [&] {
        TOracleQuery q(nullptr);
        q.SetSession(&other);
        q.SQL().Add("select count(*) from qauto");
        q.Execute();
        return q.FieldAsInteger(0);
    };
    RunSql(session_, "insert into qauto values (1)");
    EXPECT_EQ(countFromOther(), 0);
    session_.Rollback();
    session_.SetAutoCommit(true);
    RunSql(session_, "insert into qauto values (2)");
    EXPECT_EQ(countFromOther(), 1);
    session_.SetAutoCommit(false);
    RunSql(session_, "drop table qauto");
}

TEST_P(QueryTest, DebugShowsTheStatementAndItsVariablesBeforeRunning) {
    std::string shown;
    SetQueryDebugDisplay([&](const std::string& text) { shown = text; });
    auto q = Query("select n from qnums\r\nwhere n = :n");
    q->Variables().AddVariable("n", otInteger);
    q->Variables().SetVariableValue("n", TVariant(std::int32_t{7}));
    q->SetDebug(true);
    q->Execute();
    SetQueryDebugDisplay(nullptr);
    EXPECT_EQ(shown, "select n from qnums\r\nwhere n = :n\r\n\r:N = 7");
    EXPECT_EQ(q->FieldAsInteger(0), 7);
    shown.clear();
    q->Describe();  // describing shows nothing
    EXPECT_EQ(shown, "");
}

// ---- array DML ----

class ArrayDml {
public:
    explicit ArrayDml(TOracleSession& session) : session_(session) {
        RunSql(session_, "create table qarr (id number(9) primary key)");
        RunSql(session_, "insert into qarr values (3)");
    }
    ~ArrayDml() {
        try {
            RunSql(session_, "drop table qarr");
        } catch (...) {
        }
    }
    std::unique_ptr<TOracleQuery> Insert(const std::vector<int>& ids) {
        auto q = std::make_unique<TOracleQuery>(nullptr);
        q->SetSession(&session_);
        q->SQL().SetText("insert into qarr values (:id)");
        q->Variables().AddVariable("id", otInteger);
        std::vector<TVariant> values;
        for (int id : ids) values.emplace_back(id);
        q->Variables().SetVariableValue("id", TVariant::Array(std::move(values)));
        return q;
    }

private:
    TOracleSession& session_;
};

TEST_P(QueryTest, ArrayErrorNamesTheFailingRowAndGoesOn) {
    ArrayDml table(session_);
    auto q = table.Insert({1, 2, 3, 4, 5});
    std::vector<std::pair<int, int>> errors;
    q->OnArrayError = [&](TOracleQuery&, int index, int code, const std::string& message,
                          bool& go) {
        errors.emplace_back(index, code);
        EXPECT_THAT(message, HasSubstr("ORA-00001"));
        go = true;
    };
    EXPECT_EQ(q->ExecuteRows(-1, -1), 4);
    EXPECT_EQ(errors, (std::vector<std::pair<int, int>>{{2, 1}}));
    EXPECT_EQ(Count("qarr"), 5);
}

TEST_P(QueryTest, ArrayErrorWithoutHandlerRaises) {
    ArrayDml table(session_);
    auto q = table.Insert({1, 3, 4});
    EXPECT_THAT([&] { q->Execute(); }, ThrowsMessage<EOracleError>(HasSubstr("ORA-00001")));
    auto ranged = table.Insert({1, 3, 4});
    EXPECT_THROW(ranged->ExecuteRows(0, 3), EOracleError);
}

TEST_P(QueryTest, ArrayRangesAreChecked) {
    ArrayDml table(session_);
    auto q = table.Insert({10, 11, 12, 13});
    EXPECT_EQ(q->ExecuteRows(1, 2), 2);
    EXPECT_EQ(Count("qarr where id in (11, 12)"), 2);
    EXPECT_EQ(Count("qarr where id in (10, 13)"), 0);
    for (const auto& range : {std::pair{3, 2}, std::pair{-1, 2}, std::pair{0, -3}}) {
        EXPECT_THROW(q->ExecuteRows(range.first, range.second), platform::Exception)
            << range.first << "," << range.second;
    }
}

// ---- session and lifetime ----

TEST_P(QueryTest, ExactNumberArraysReachTheDatabase) {
    RunSql(session_, "create table qnum (n number)");
    auto insert = Query("insert into qnum values (:n)");
    insert->Variables().AddVariable("n", otNumber);
    insert->Variables().SetVariableValue(
        "n", TVariant::Array(
                 {TVariant("123.45"), TVariant::Null(), TVariant("-12345678"), TVariant("0.01")}));
    insert->Execute();
    auto q = Query("select n from qnum order by n");
    q->Execute();
    std::vector<std::string> seen;
    for (; !q->Eof(); q->Next()) seen.push_back(q->FieldIsNull(0) ? "NULL" : q->FieldAsString(0));
    RunSql(session_, "drop table qnum");
    EXPECT_EQ(seen, (std::vector<std::string>{"-12345678", "0.01", "123.45", "NULL"}));
}

TEST_P(QueryTest, LogOffClosesTheQueryAndALaterLogOnCanRunItAgain) {
    auto q = Query("select n from qnums where n <= 3 order by n");
    q->Execute();
    ASSERT_FALSE(q->Eof());
    session_.LogOff();
    EXPECT_TRUE(q->Eof());
    EXPECT_THAT([&] { q->Execute(); }, ThrowsMessage<platform::Exception>("Not logged on"));
    LogOn(session_);
    q->Execute();
    EXPECT_EQ(q->FieldAsInteger(0), 1);
}

TEST_P(QueryTest, QueryOutlivingItsSessionForgetsIt) {
    auto session = std::make_unique<TOracleSession>();
    LogOn(*session);
    TOracleQuery q(nullptr);
    q.SetSession(session.get());
    q.SQL().SetText("select n from qnums where n = 1");
    q.Execute();
    session.reset();
    EXPECT_EQ(q.Session(), nullptr);
    EXPECT_THAT([&] { q.Execute(); }, ThrowsMessage<platform::Exception>("Session undefined"));
}

TEST_P(QueryTest, ProbesMeasureTheConnection) {
    const int bytes = ProbeBytesPerCharacter(session_);
    EXPECT_GE(bytes, 1);
    EXPECT_LE(bytes, 4);
    const int length = ProbeDateFormatLength(session_);
    auto q = Query(DateFormatLengthSQL());
    q->Execute();
    std::size_t longest = 0;
    int rows = 0;
    for (; !q->Eof(); q->Next(), ++rows) longest = std::max(longest, q->FieldAsString(0).size());
    EXPECT_EQ(rows, 12);
    EXPECT_EQ(length, static_cast<int>(longest));
    session_.LogOff();
    EXPECT_EQ(ProbeDateFormatLength(session_), 40);  // nothing readable: the fallback
    EXPECT_EQ(ProbeBytesPerCharacter(session_), 1);
}

TEST_P(QueryTest, BindingOnAnAutoDetectSessionMeasuresOnceWithoutRecursing) {
    // The measurement used to ask for itself again through its own query's bind settings.
    session_.SetBytesPerCharacter(TBytesPerCharacterOption::bcAutoDetect);
    auto q = Query("select n from qnums where n = :n");
    q->Variables().AddVariable("n", otString);
    q->Variables().SetVariableValue("n", TVariant("12"));
    q->Execute();
    EXPECT_EQ(q->FieldAsInteger(0), 12);
    const int bytes = BytesPerCharacter(session_);
    EXPECT_GE(bytes, 1);
    EXPECT_LE(bytes, 4);
}

// ---- background thread ----

// Runs calls handed to Synchronize on the thread that pumps them, like a GUI's event loop.
class MainThreadQueue {
public:
    MainThreadQueue() {
        platform::TUiHooks hooks;
        hooks.Synchronize = [this](const std::function<void()>& fn) {
            std::unique_lock lock(mutex_);
            bool done = false;
            calls_.push_back([&] {
                fn();
                done = true;
            });
            changed_.notify_all();
            changed_.wait(lock, [&] { return done; });
        };
        platform::InstallUiHooks(hooks);
    }
    ~MainThreadQueue() { platform::InstallUiHooks({}); }
    // Runs queued calls until `finished` holds.
    void PumpUntil(const std::function<bool()>& finished) {
        std::unique_lock lock(mutex_);
        while (!finished()) {
            changed_.wait(lock, [&] { return !calls_.empty() || finished(); });
            while (!calls_.empty()) {
                auto call = std::move(calls_.front());
                calls_.pop_front();
                call();
                changed_.notify_all();
            }
        }
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<std::function<void()>> calls_;
};

TEST_P(QueryTest, ThreadedQueryIsWalkedThroughMainThreadEvents) {
    MainThreadQueue queue;
    auto q = Query("select n from qnums where n <= 1500 order by n", 1024);
    q->SetThreaded(true);
    const auto mainThread = std::this_thread::get_id();
    std::vector<int> seen;
    bool executed = false;
    bool finished = false;
    q->OnThreadExecuted = [&](TOracleQuery&) { executed = true; };
    q->OnThreadRecord = [&](TOracleQuery& sender) {
        EXPECT_EQ(std::this_thread::get_id(), mainThread);
        seen.push_back(sender.FieldAsInteger(0));
    };
    q->OnThreadFinished = [&](TOracleQuery&) { finished = true; };
    q->OnThreadError = [&](TOracleQuery&, int code, const std::string& message) {
        ADD_FAILURE() << code << " " << message;
        finished = true;
    };
    q->Execute();
    EXPECT_THAT([&] { q->Describe(); },
                ThrowsMessage<platform::Exception>("Query thread is still in progress"));
    queue.PumpUntil([&] { return finished; });
    while (q->ThreadBusy()) std::this_thread::yield();
    EXPECT_TRUE(executed);
    ASSERT_EQ(seen.size(), 1500u);
    for (int i = 0; i < 1500; ++i) ASSERT_EQ(seen[static_cast<std::size_t>(i)], i + 1);
}

TEST_P(QueryTest, ThreadedErrorReachesOnThreadError) {
    auto q = Query("select * from no_such_table");
    q->SetThreaded(true);
    q->SetThreadSynchronized(false);
    std::mutex m;
    std::condition_variable cv;
    int code = 0;
    bool finished = false;
    q->OnThreadError = [&](TOracleQuery&, int c, const std::string&) {
        std::lock_guard lock(m);
        code = c;
    };
    q->OnThreadFinished = [&](TOracleQuery&) {
        std::lock_guard lock(m);
        finished = true;
        cv.notify_all();
    };
    q->Execute();
    std::unique_lock lock(m);
    cv.wait(lock, [&] { return finished; });
    EXPECT_EQ(code, 942);
}

}  // namespace
}  // namespace velnor::oracle
