// The SQL engine through its C++ API: statements, describe, values, errors, transactions.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "ocisqlite/sql/Convert.h"
#include "ocisqlite/sql/Engine.h"

namespace sql = velnor::ocisqlite::sql;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

namespace {

struct SqlEngineTest : ::testing::Test {
    void SetUp() override {
        dir_ = std::filesystem::temp_directory_path() /
               ("sqlengine-" + std::to_string(::getpid()) + "-" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::remove_all(dir_);
        std::filesystem::create_directories(dir_);
        path_ = (dir_ / "SCOTT.db").string();
        db_ = std::make_unique<sql::Connection>(path_, "SCOTT");
    }
    void TearDown() override {
        db_.reset();
        std::filesystem::remove_all(dir_);
    }

    // Rows of a query as text, "NULL" for null.
    std::vector<std::vector<std::string>> Rows(const std::string& text) {
        auto s = db_->Prepare(text);
        s->Execute();
        std::vector<std::vector<std::string>> rows;
        while (s->Fetch()) {
            std::vector<std::string> row;
            for (const sql::Value& v : s->Row())
                row.push_back(v.IsNull() ? "NULL" : db_->ToText(v));
            rows.push_back(row);
        }
        return rows;
    }
    std::string One(const std::string& text) {
        auto rows = Rows(text);
        EXPECT_EQ(rows.size(), 1u) << text;
        return rows.empty() || rows[0].empty() ? "<none>" : rows[0][0];
    }
    std::vector<std::string> Column(const std::string& text) {
        std::vector<std::string> out;
        for (auto& r : Rows(text)) out.push_back(r.at(0));
        return out;
    }
    // The Oracle error of a statement, or 0 when it runs.
    int ErrorOf(const std::string& text, std::string* message = nullptr) {
        try {
            auto s = db_->Prepare(text);
            s->Execute();
            if (s->Type() == sql::stSelect)
                while (s->Fetch()) {
                }
        } catch (const sql::OraError& e) {
            if (message) *message = e.what();
            return e.Code();
        }
        return 0;
    }
    void Exec(const std::string& text) { db_->Execute(text); }

    std::filesystem::path dir_;
    std::string path_;
    std::unique_ptr<sql::Connection> db_;
};

TEST_F(SqlEngineTest, SelectFromDualEvaluatesExpressions) {
    EXPECT_EQ(One("select 1 + 2 * 3 from dual"), "7");
    EXPECT_EQ(One("SELECT 7 / 2 FROM DUAL"), "3.5");
    EXPECT_EQ(One("select 'a' || null || 'b' from dual"), "ab");
    EXPECT_EQ(One("select 2.5E20 from dual"), "250000000000000000000");
    EXPECT_EQ(One("select 1e30 from dual"), "1000000000000000000000000000000");  // beyond int64
    EXPECT_EQ(One("select 'n=' || 0.5 || ',' || -0.5 from dual"), "n=.5,-.5");
    EXPECT_EQ(One("select dummy from dual"), "X");
}

TEST_F(SqlEngineTest, DescribeReportsOracleTypesSizesPrecisionAndScale) {
    sql::SeedDemo(*db_, 10);
    auto s = db_->Prepare("SELECT * FROM ALL_TYPES");
    const auto& cols = s->Describe();
    struct Expect {
        const char* name;
        int type, size, precision, scale;
        bool nullable;
    };
    const Expect expected[] = {
        {"ID", sql::tcNumber, 22, 5, 0, false},     {"N", sql::tcNumber, 22, 0, -127, true},
        {"N_10_2", sql::tcNumber, 22, 10, 2, true}, {"I", sql::tcNumber, 22, 38, 0, true},
        {"F", sql::tcNumber, 22, 126, -127, true},  {"VC", sql::tcVarchar2, 40, 0, 0, true},
        {"VCC", sql::tcVarchar2, 40, 0, 0, true},   {"C", sql::tcChar, 10, 0, 0, true},
        {"D", sql::tcDate, 7, 0, 0, true},          {"L", sql::tcLong, 0, 0, 0, true},
        {"R", sql::tcRaw, 16, 0, 0, true},
    };
    ASSERT_EQ(cols.size(), std::size(expected));
    for (std::size_t i = 0; i < cols.size(); ++i) {
        SCOPED_TRACE(expected[i].name);
        EXPECT_EQ(cols[i].name, expected[i].name);
        EXPECT_EQ(cols[i].type, expected[i].type);
        EXPECT_EQ(cols[i].size, expected[i].size);
        EXPECT_EQ(cols[i].precision, expected[i].precision);
        EXPECT_EQ(cols[i].scale, expected[i].scale);
        EXPECT_EQ(cols[i].nullable, expected[i].nullable);
    }
    EXPECT_EQ(cols[6].charLength, 10);  // VARCHAR2(10 CHAR)
    auto raws = db_->Prepare("select lr from long_raws");
    EXPECT_EQ(raws->Describe().at(0).type, sql::tcLongRaw);
    EXPECT_EQ(raws->Describe().at(0).size, 0);
}

TEST_F(SqlEngineTest, DescribeOfExpressionsAndAliases) {
    Exec("create table t (a number(4), b varchar2(10))");
    auto count = db_->Prepare("select count(*) from t");
    const auto& n = count->Describe();
    ASSERT_EQ(n.size(), 1u);
    EXPECT_EQ(n[0].name, "COUNT(*)");
    EXPECT_EQ(n[0].type, sql::tcNumber);
    EXPECT_EQ(n[0].precision, 0);
    EXPECT_EQ(n[0].scale, -127);
    auto s =
        db_->Prepare("select a, a + 1 plus, b || 'xy' \"Mixed\", 'abc', sysdate, rowid from t");
    const auto& c = s->Describe();
    ASSERT_EQ(c.size(), 6u);
    EXPECT_EQ(c[0].name, "A");
    EXPECT_EQ(c[0].precision, 4);
    EXPECT_EQ(c[1].name, "PLUS");
    EXPECT_EQ(c[1].scale, -127);
    EXPECT_EQ(c[2].name, "Mixed");
    EXPECT_EQ(c[2].type, sql::tcVarchar2);
    EXPECT_GE(c[2].size, 12);
    EXPECT_EQ(c[3].name, "'ABC'");
    EXPECT_EQ(c[3].type, sql::tcChar);
    EXPECT_EQ(c[3].size, 3);
    EXPECT_EQ(c[4].type, sql::tcDate);
    EXPECT_EQ(c[5].type, sql::tcRowid);
}

TEST_F(SqlEngineTest, StatementTypeIsKnownRightAfterPrepare) {
    struct Case {
        const char* sql;
        int type;
    };
    for (const Case& c :
         {Case{"select * from nowhere", sql::stSelect},
          Case{"  (select 1 from dual)", sql::stSelect}, Case{"update t set a = 1", sql::stUpdate},
          Case{"DELETE FROM T", sql::stDelete}, Case{"insert into t values (1)", sql::stInsert},
          Case{"create table x (a number)", sql::stCreate}, Case{"drop table x", sql::stDrop},
          Case{"alter session set nls_date_format = 'YYYY'", sql::stAlter},
          Case{"begin null; end;", sql::stBegin},
          Case{"declare x number; begin null; end;", sql::stDeclare}, Case{"commit", sql::stCommit},
          Case{"rollback", sql::stRollback},
          Case{"explain plan for select 1 from dual", sql::stUnknown}}) {
        EXPECT_EQ(db_->Prepare(c.sql)->Type(), c.type) << c.sql;
    }
}

struct ErrorCase {
    const char* sql;
    int code;
    const char* text;
};

TEST_F(SqlEngineTest, StatementsFailWithOracleErrorNumbersAndTexts) {
    Exec(
        "create table t (id number(3) primary key, n number(5,2), s varchar2(10) not null,"
        " d date)");
    Exec("insert into t values (1, 1.5, 'x', null)");
    const ErrorCase cases[] = {
        {"select * from missing", 942, "ORA-00942: table or view does not exist"},
        {"select x from t", 904, "ORA-00904: \"X\": invalid identifier"},
        {"select t.x from t", 904, "ORA-00904: \"T\".\"X\": invalid identifier"},
        {"selec * from t", 900, "ORA-00900: invalid SQL statement"},
        {"select * from t where", 936, "ORA-00936: missing expression"},
        {"select * from t t2 t3", 933, "ORA-00933: SQL command not properly ended"},
        {"select 1 from dual;", 911, "ORA-00911: invalid character"},
        {"select 'abc from dual", 1756, "quoted string not properly terminated"},
        {"select 1 dual", 923, "FROM keyword not found where expected"},
        {"select (1 from dual", 907, "missing right parenthesis"},
        {"create table t (a number)", 955, "ORA-00955: name is already used by an existing object"},
        {"insert into t values (2, 1000, 'x', null)", 1438,
         "ORA-01438: value larger than specified precision allowed for this column"},
        {"insert into t values (1, 1, 'y', null)", 1, "ORA-00001: unique constraint (SCOTT.SYS_C"},
        {"insert into t values (3, 1, '12345678901', null)", 12899,
         "ORA-12899: value too large for column \"SCOTT\".\"T\".\"S\" (actual: 11, maximum: 10)"},
        {"insert into t values (4, 1, null, null)", 1400,
         "ORA-01400: cannot insert NULL into (\"SCOTT\".\"T\".\"S\")"},
        {"insert into t (id, n) values (5, 1)", 1400, "(\"SCOTT\".\"T\".\"S\")"},
        {"update t set s = null", 1407, "ORA-01407: cannot update (\"SCOTT\".\"T\".\"S\") to NULL"},
        {"insert into t values (6, 'abc', 'x', null)", 1722, "ORA-01722: invalid number"},
        {"select to_number('1x') from dual", 1722, "invalid number"},
        {"select * from t where n = 'abc'", 1722, "invalid number"},
        {"insert into t values (7, 1, 'x', '2024-01-01')", 1861,
         "ORA-01861: literal does not match format string"},
        {"insert into t values (8, 1, 'x', to_date('2024', 'YYYYMMDD'))", 1840,
         "ORA-01840: input value not long enough for date format"},
        {"select to_date('20240132', 'YYYYMMDD') from dual", 1847,
         "ORA-01847: day of month must be between 1 and last day of month"},
        {"select to_date('20230229', 'YYYYMMDD') from dual", 1839,
         "ORA-01839: date not valid for month specified"},
        {"select to_date('20241301', 'YYYYMMDD') from dual", 1843, "ORA-01843: not a valid month"},
        {"select to_date('01-FOO-2024', 'DD-MON-YYYY') from dual", 1843, "not a valid month"},
        {"select to_date('2024013', 'YYYYMMDDX') from dual", 1821,
         "ORA-01821: date format not recognized"},
        {"select to_date('2024-01-01x', 'YYYY-MM-DD') from dual", 1830,
         "ORA-01830: date format picture ends before converting entire input string"},
        {"select to_date('0000-01-01', 'YYYY-MM-DD') from dual", 1841,
         "ORA-01841: (full) year must be between -4713 and +9999, and not be 0"},
        {"select to_date('ab-01-01', 'YYYY-MM-DD') from dual", 1858,
         "ORA-01858: a non-numeric character was found where a numeric was expected"},
        {"select to_date('2024-01-01 25', 'YYYY-MM-DD HH24') from dual", 1850,
         "hour must be between 0 and 23"},
        {"select to_date('1', 'J') from dual", 1854, "julian date must be between 1 and 5373484"},
        {"select 1/0 from dual", 1476, "ORA-01476: divisor is equal to zero"},
        {"select * from t where s like 'x' escape 'ab'", 1425,
         "ORA-01425: escape character must be character string of length 1"},
        {"select rpad('a', 4000, 'a') || 'b' from dual", 1489,
         "ORA-01489: result of string concatenation is too long"},
        {"select replace(rpad('a', 4000, 'a'), 'a', 'bb') from dual", 1489,
         "result of string concatenation is too long"},
        {"select nosuch(1) from dual", 904, "\"NOSUCH\": invalid identifier"},
        {"select substr('a') from dual", 909, "invalid number of arguments"},
        {"insert into t values (9, 1, 'x')", 947, "not enough values"},
        {"insert into t values (9, 1, 'x', null, 1)", 913, "too many values"},
        {"select id, count(*) from t", 937, "not a single-group group function"},
        {"select s, count(*) from t group by id", 979, "not a GROUP BY expression"},
        {"select * from t where count(*) > 1", 934, "group function is not allowed here"},
        {"select 1 from dual union all select 1, 2 from dual", 1789,
         "query block has incorrect number of result columns"},
        {"select 1 from dual union all select 'a' from dual", 1790,
         "expression must have same datatype"},
        {"select * from t order by 9", 1785, "ORDER BY item must be the number"},
        {"select d + d from t", 932, "inconsistent datatypes"},
        {"drop table nothere", 942, "table or view does not exist"},
        {"create table u (a number, a number)", 957, "duplicate column name"},
        {"create table u (a varchar2)", 906, "missing left parenthesis"},
        {"create table u (a varchar2(4001))", 910, "specified length too long"},
        {"create table u (a number(39))", 1727, "numeric precision specifier is out of range"},
        {"create table u (a xmltype)", 3001, "unimplemented feature"},
        {"create table u (a widget)", 902, "invalid datatype"},
        {"create table u (a long, b long raw)", 1754, "only one column of type LONG"},
        {"alter session set no_such_thing = 1", 2248, "invalid option for ALTER SESSION"},
        {"alter session set nls_date_format = 'XYZ'", 1821, "date format not recognized"},
        {"alter session set nls_date_format = 'YYYX-MM-DD HH24:MI:SS'", 1821,
         "date format not recognized"},
        {"alter session set nls_date_format = 'HH24:MI:SS.FF TZH'", 1821,
         "date format not recognized"},
        {"begin null; end;", 3001, "unimplemented feature"},
        {"create user bob identified by pw", 1031, "insufficient privileges"},
        {"select * from other.t", 942, "table or view does not exist"},
        {"select * from t a, t b where id = 1", 918, "column ambiguously defined"},
        {"select * from t where rownum > 1 or id = 1", 3001, "unimplemented feature"},
        {"", 900, "invalid SQL statement"},
    };
    for (const ErrorCase& c : cases) {
        std::string message;
        EXPECT_EQ(ErrorOf(c.sql, &message), c.code) << c.sql << " -> " << message;
        EXPECT_THAT(message, HasSubstr(c.text)) << c.sql;
    }
    // Failed statements changed nothing.
    EXPECT_EQ(One("select count(*) from t"), "1");
    EXPECT_EQ(One("select s from t"), "x");
}

TEST_F(SqlEngineTest, EmptyStringIsNullEverywhere) {
    Exec("create table t (id number, s varchar2(10), c char(3))");
    Exec("insert into t values (1, '', '')");
    auto ins = db_->Prepare("insert into t values (2, :s, :c)");
    ins->Bind(1, sql::Value::Text(""));
    ins->Bind(2, sql::Value::Text(""));
    ins->Execute();
    EXPECT_EQ(One("select count(*) from t where s is null and c is null"), "2");
    EXPECT_EQ(One("select count(*) from t where s = ''"), "0");  // '' = '' is unknown
    EXPECT_EQ(One("select nvl(s, 'was null') from t where id = 1"), "was null");
    EXPECT_EQ(One("select nvl(substr('abc', 5), 'empty') from dual"), "empty");
    EXPECT_EQ(One("select length('') from dual"), "NULL");
    EXPECT_EQ(One("select 'x' || '' from dual"), "x");
    EXPECT_EQ(One("select nvl('' || '', 'null') from dual"), "null");
}

TEST_F(SqlEngineTest, LobColumnsKeepEmptyApartFromNullAndRefuseComparisons) {
    Exec("create table l (id number, c clob, n nclob, b blob)");
    Exec("insert into l values (1, null, null, null)");
    Exec("insert into l values (2, empty_clob(), empty_clob(), empty_blob())");
    Exec("insert into l values (3, 'abc', n'日本', hextoraw('00ff'))");
    Exec("insert into l values (4, '', to_clob(''), '')");  // '' is NULL, even for a LOB
    auto big = db_->Prepare("insert into l values (5, :c, :n, :b)");
    big->Bind(1, sql::Value::Text(std::string(100000, 'x')));  // binds above 4000 bytes
    big->Bind(2, sql::Value::Text(""));
    big->Bind(3, sql::Value::Raw(std::string(5000, '\x7f')));
    big->Execute();
    // Over 4000 bytes a bind goes into a LOB column only.
    auto compare = db_->Prepare("select count(*) from dual where dummy = :v");
    for (std::size_t n : {4000, 4001}) {
        compare->Bind(1, sql::Value::Text(std::string(n, 'x')));
        try {
            compare->Execute();
            EXPECT_EQ(n, 4000u);
        } catch (const sql::OraError& e) {
            EXPECT_EQ(std::make_pair(n, e.Code()), std::make_pair(std::size_t{4001}, 1460));
        }
    }
    EXPECT_EQ(Column("select id from l where c is null order by id"),
              (std::vector<std::string>{"1", "4"}));
    EXPECT_EQ(Column("select id from l where n is null order by id"),
              (std::vector<std::string>{"1", "4", "5"}));
    EXPECT_EQ(Column("select id from l where b is not null order by id"),
              (std::vector<std::string>{"2", "3", "5"}));
    EXPECT_EQ(One("select length(c) from l where id = 5"), "100000");
    EXPECT_EQ(Column("select length(c) from l where id < 4 order by id"),
              (std::vector<std::string>{"NULL", "0", "3"}));
    EXPECT_EQ(One("select length(empty_clob()) from dual"), "0");
    EXPECT_EQ(Column("select dbms_lob.getlength(b) from l where id < 4 order by id"),
              (std::vector<std::string>{"NULL", "0", "2"}));
    EXPECT_EQ(Column("select dbms_lob.substr(n, 1, 2) || '|' || dbms_lob.substr(c, 5, 3) || '|' ||"
                     " dbms_lob.substr(c, 0) || rawtohex(dbms_lob.substr(b, 1, 2)) from l"
                     " where id = 3"),
              (std::vector<std::string>{"本|c|FF"}));
    EXPECT_EQ(One("select length(dbms_lob.substr(c, 4000, 2)) from l where id = 5"), "4000");
    EXPECT_EQ(ErrorOf("select dbms_lob.substr(c, 4001) from l where id = 5"), 6502);
    // Locking forms a writer of LOBs uses; the lock needs rows of one table.
    const std::pair<const char*, std::size_t> locking[] = {
        {"select c from l where id = 3 for update", 1},
        {"select c from l for update of c nowait", 5},
        {"select l.c from l order by id for update of l.c wait 5", 5},
        {"select c from l for update skip locked", 5},
    };
    for (const auto& [sql, rows] : locking) EXPECT_EQ(Rows(sql).size(), rows) << sql;
    EXPECT_EQ(One("select rawtohex(b) from l where id = 3"), "00FF");
    EXPECT_EQ(One("select substr(c, 2, 1) || 'z' from l where id = 3"), "bz");
    const ErrorCase cases[] = {
        {"select id from l order by c", 932,
         "ORA-00932: inconsistent datatypes: expected - got CLOB"},
        {"select c from l order by 1", 932, "expected - got CLOB"},
        {"select id from l where c = 'abc'", 932, "expected - got CLOB"},
        {"select id from l where 'abc' < c", 932, "expected - got CLOB"},
        {"select id from l where n in ('x')", 932, "expected - got NCLOB"},
        {"select id from l where b = hextoraw('00')", 932, "expected - got BLOB"},
        {"select distinct c from l", 932, "expected - got CLOB"},
        {"select count(*) from l group by b", 932, "expected - got BLOB"},
        {"select c from l union select c from l", 932, "expected - got CLOB"},
        {"insert into l (id, b) select id, c from l", 932, "expected BLOB got CLOB"},
        {"select distinct id from l for update", 1786,
         "ORA-01786: FOR UPDATE of this query expression is not allowed"},
        {"select id from l union select id from l for update", 1786, "FOR UPDATE of this"},
        {"select id from l for", 933, "SQL command not properly ended"},
        {"select id from l for update wait", 30005, "missing or invalid WAIT interval"},
    };
    for (const ErrorCase& c : cases) {
        std::string message;
        EXPECT_EQ(ErrorOf(c.sql, &message), c.code) << c.sql << " -> " << message;
        EXPECT_THAT(message, HasSubstr(c.text)) << c.sql;
    }
    EXPECT_EQ(Rows("select c from l union all select c from l").size(), 10u);
}

TEST_F(SqlEngineTest, CharColumnsAreBlankPaddedAndCompareBlankPadded) {
    Exec("create table t (c char(5), v varchar2(5))");
    Exec("insert into t values ('ab', 'ab')");
    EXPECT_EQ(One("select '[' || c || ']' from t"), "[ab   ]");
    EXPECT_EQ(One("select '[' || v || ']' from t"), "[ab]");
    EXPECT_EQ(One("select lengthb(c) from t"), "5");
    EXPECT_EQ(One("select count(*) from t where c = 'ab'"), "1");
    EXPECT_EQ(One("select count(*) from t where c = 'ab   '"), "1");
    EXPECT_EQ(One("select count(*) from t where v = 'ab '"), "0");
    auto ins = db_->Prepare("insert into t (c) values (:1)");
    ins->Bind(1, sql::Value::Text("xyz"));
    ins->Execute();
    EXPECT_EQ(One("select '[' || c || ']' from t where c like 'x%'"), "[xyz  ]");
}

TEST_F(SqlEngineTest, NumbersRoundToTheScaleThenCheckThePrecision) {
    Exec("create table t (a number(5,2), b number(3), c number(4,-2), d number, e integer)");
    struct Case {
        const char* value;
        const char* column;
        const char* stored;  // nullptr: ORA-01438
    };
    const Case cases[] = {
        {"1.005", "a", "1.01"},        {"999.994", "a", "999.99"}, {"999.995", "a", nullptr},
        {"-999.99", "a", "-999.99"},   {"12.5", "b", "13"},        {"-12.5", "b", "-13"},
        {"999.4", "b", "999"},         {"999.5", "b", nullptr},    {"123456", "c", "123500"},
        {"999949", "c", "999900"},     {"999950", "c", nullptr},   {"0.1", "d", ".1"},
        {"1e-10", "d", ".0000000001"}, {"2.5", "e", "3"},          {"1.23E3", "a", nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.column) + " <- " + c.value);
        Exec("delete from t");
        int code =
            ErrorOf(std::string("insert into t (") + c.column + ") values (" + c.value + ")");
        if (!c.stored) {
            EXPECT_EQ(code, 1438);
            continue;
        }
        ASSERT_EQ(code, 0);
        EXPECT_EQ(One(std::string("select ") + c.column + " from t"), c.stored);
    }
    // Binds go through the same rounding and check.
    Exec("delete from t");
    auto ins = db_->Prepare("insert into t (a, b) values (:a, :b)");
    ins->Bind("a", sql::Value::Double(3.14159));
    ins->Bind("b", sql::Value::Text("41.6"));
    ins->Execute();
    EXPECT_EQ(Rows("select a, b from t")[0], (std::vector<std::string>{"3.14", "42"}));
    ins->Bind("b", sql::Value::Integer(1000));
    EXPECT_THROW(ins->Execute(), sql::OraError);
}

TEST_F(SqlEngineTest, IntegralNumbersComeBackAsExactIntegers) {
    Exec("create table t (n number)");
    Exec("insert into t values (9007199254740993)");
    Exec("insert into t values (2.0)");
    Exec("insert into t values (0.25)");
    auto s = db_->Prepare("select n from t order by n");
    s->Execute();
    ASSERT_TRUE(s->Fetch());
    EXPECT_EQ(s->Row()[0].kind, sql::Value::Kind::Decimal);
    EXPECT_EQ(sql::NumberToText(s->Row()[0]), ".25");
    ASSERT_TRUE(s->Fetch());
    EXPECT_EQ(s->Row()[0].kind, sql::Value::Kind::Integer);
    EXPECT_EQ(s->Row()[0].integer, 2);
    ASSERT_TRUE(s->Fetch());
    EXPECT_EQ(s->Row()[0].integer, 9007199254740993LL);
    EXPECT_FALSE(s->Fetch());
}

TEST_F(SqlEngineTest, DatesRoundTripThroughTextAndBinds) {
    Exec("create table t (d date)");
    Exec("insert into t values (to_date('20240131134500', 'YYYYMMDDHH24MISS'))");
    EXPECT_EQ(One("select to_char(d, 'YYYYMMDDHH24MISS') from t"), "20240131134500");
    EXPECT_EQ(One("select to_char(d) from t"), "31-JAN-24");
    EXPECT_EQ(One("select to_char(d, 'Dy DD Month YYYY HH:MI:SS PM') from t"),
              "Wed 31 January   2024 01:45:00 PM");
    EXPECT_EQ(One("select to_char(d + 1, 'YYYY-MM-DD') from t"), "2024-02-01");
    EXPECT_EQ(One("select to_char(d - 0.5, 'YYYY-MM-DD HH24:MI') from t"), "2024-01-31 01:45");
    EXPECT_EQ(One("select d - to_date('2024-01-01', 'YYYY-MM-DD') from t"),
              "30.5729166666666666666666666666666666667");  // exact, cut to 40 characters
    EXPECT_EQ(One("select count(*) from t where d > '01-JAN-24'"), "1");
    auto s = db_->Prepare("select d from t where d = :d");
    s->Bind(1, sql::Value::Date({2024, 1, 31, 13, 45, 0}));
    s->Execute();
    ASSERT_TRUE(s->Fetch());
    EXPECT_EQ(s->Row()[0].kind, sql::Value::Kind::Date);
    EXPECT_EQ(s->Row()[0].date, (sql::DateTime{2024, 1, 31, 13, 45, 0}));
    auto bytes = sql::EncodeDate(s->Row()[0].date);
    EXPECT_THAT(bytes, ElementsAre(120, 124, 1, 31, 14, 46, 1));
    EXPECT_EQ(sql::DecodeDate(bytes.data()), s->Row()[0].date);
}

TEST_F(SqlEngineTest, SessionDateFormatAppliesToConversions) {
    EXPECT_EQ(
        One("select to_char(to_date('10-1-1999 10:10:10', 'dd-mm-yyyy hh24:mi:ss')) from dual"),
        "10-JAN-99");
    Exec("alter session set nls_date_format = 'YYYY-MM-DD HH24:MI:SS'");
    EXPECT_EQ(db_->DateFormat(), "YYYY-MM-DD HH24:MI:SS");
    EXPECT_EQ(One("select to_char(to_date('1999-01-10 10:10:10')) from dual"),
              "1999-01-10 10:10:10");
    Exec("alter session set sql_trace = true");
    Exec("alter session set optimizer_goal = rule");
    Exec("alter session set isolation_level = read committed");
    Exec("ALTER SESSION SET NLS_LANGUAGE = AMERICAN NLS_TERRITORY = AMERICA");
}

TEST_F(SqlEngineTest, RownumLimitsRowsBeforeSorting) {
    Exec("create table t (n number)");
    for (int i = 5; i >= 1; --i) Exec("insert into t values (" + std::to_string(i) + ")");
    EXPECT_EQ(Rows("select * from t where rownum = 0").size(), 0u);
    EXPECT_EQ(Rows("select * from t where rownum <= 3").size(), 3u);
    EXPECT_EQ(Rows("select * from t where rownum < 3").size(), 2u);
    EXPECT_EQ(Rows("select * from t where rownum = 1").size(), 1u);
    EXPECT_EQ(Rows("select * from t where rownum = 2").size(), 0u);
    EXPECT_EQ(Rows("select * from t where rownum > 1").size(), 0u);
    EXPECT_EQ(Rows("select * from t where 2 >= rownum and n > 1").size(), 2u);
    EXPECT_EQ(One("select count(*) from t where rownum <= 2"), "2");
    // The first two rows in table order (5, 4), then sorted.
    EXPECT_THAT(Column("select n from t where rownum <= 2 order by n"), ElementsAre("4", "5"));
    EXPECT_THAT(Column("select rownum from t where n < 3"), ElementsAre("1", "2"));
    auto s = db_->Prepare("select n from t where rownum <= :n");
    s->Bind(1, sql::Value::Integer(4));
    s->Execute();
    int rows = 0;
    while (s->Fetch()) ++rows;
    EXPECT_EQ(rows, 4);
}

TEST_F(SqlEngineTest, OrderBySortsNullsAsOracleDoes) {
    Exec("create table t (n number, s varchar2(5))");
    Exec("insert into t values (2, 'b')");
    Exec("insert into t values (null, null)");
    Exec("insert into t values (1, 'a')");
    EXPECT_THAT(Column("select n from t order by n"), ElementsAre("1", "2", "NULL"));
    EXPECT_THAT(Column("select n from t order by n desc"), ElementsAre("NULL", "2", "1"));
    EXPECT_THAT(Column("select n from t order by n nulls first"), ElementsAre("NULL", "1", "2"));
    EXPECT_THAT(Column("select s x from t order by x desc nulls last"),
                ElementsAre("b", "a", "NULL"));
    EXPECT_THAT(Column("select s from t order by 1"), ElementsAre("a", "b", "NULL"));
}

TEST_F(SqlEngineTest, UnionAllKeepsDuplicatesAndOrders) {
    EXPECT_THAT(
        Column("select 2 from dual union all select 1 from dual union all select 2 from dual"),
        ElementsAre("2", "1", "2"));
    EXPECT_THAT(Column("select 2 n from dual union all select 1 from dual order by n"),
                ElementsAre("1", "2"));
    EXPECT_THAT(Column("select 1 from dual union select 1 from dual"), ElementsAre("1"));
    std::string probe;
    for (int m = 1; m <= 12; ++m) {
        if (m > 1) probe += "\nunion all\n";
        probe += "select to_char(to_date('10-" + std::to_string(m) +
                 "-1999 10:10:10', 'dd-mm-yyyy hh24:mi:ss')) from dual";
    }
    auto months = Column(probe);
    ASSERT_EQ(months.size(), 12u);
    EXPECT_EQ(months[8], "10-SEP-99");
}

TEST_F(SqlEngineTest, UserTablesListsTheSchemaTables) {
    EXPECT_TRUE(Rows("SELECT TABLE_NAME FROM USER_TABLES ORDER BY TABLE_NAME").empty());
    Exec("create table zeta (a number)");
    Exec("create table alpha (a number)");
    Exec("create table \"lower\" (a number)");
    EXPECT_THAT(Column("SELECT TABLE_NAME FROM USER_TABLES ORDER BY TABLE_NAME"),
                ElementsAre("ALPHA", "ZETA", "lower"));
    EXPECT_EQ(One("SELECT COUNT(*) FROM ZETA"), "0");
    EXPECT_EQ(ErrorOf("SELECT COUNT(*) FROM lower"), 942);
    EXPECT_THAT(Column("select column_name || ':' || data_type from user_tab_columns"
                       " where table_name = 'ALPHA'"),
                ElementsAre("A:NUMBER"));
    Exec("drop table zeta");
    EXPECT_THAT(Column("SELECT TABLE_NAME FROM USER_TABLES ORDER BY 1"),
                ElementsAre("ALPHA", "lower"));
}

TEST_F(SqlEngineTest, BindsByNameAndPositionWithRepeatedNames) {
    Exec("create table t (a number, b varchar2(10))");
    auto ins = db_->Prepare("insert into t values (:x, :y || :x)");
    EXPECT_THAT(ins->Placeholders(), ElementsAre("X", "Y", "X"));
    ins->Bind(":x", sql::Value::Integer(7));  // both occurrences
    ins->Bind("Y", sql::Value::Text("n"));
    EXPECT_EQ(ins->Execute(), 1);
    EXPECT_EQ(Rows("select a, b from t")[0], (std::vector<std::string>{"7", "n7"}));
    // By position every occurrence is its own bind.
    ins->Bind(1, sql::Value::Integer(8));
    ins->Bind(2, sql::Value::Text("m"));
    ins->Bind(3, sql::Value::Integer(9));
    ins->Execute();
    EXPECT_EQ(One("select b from t where a = 8"), "m9");
    auto missing = db_->Prepare("select * from t where a = :1 and b = :2");
    missing->Bind(1, sql::Value::Integer(1));
    EXPECT_THROW(
        {
            try {
                missing->Execute();
            } catch (const sql::OraError& e) {
                EXPECT_EQ(e.Code(), 1008);
                throw;
            }
        },
        sql::OraError);
    EXPECT_THROW(missing->Bind("nope", sql::Value::Integer(1)), sql::OraError);
    EXPECT_THROW(missing->Bind(3, sql::Value::Integer(1)), sql::OraError);
}

TEST_F(SqlEngineTest, RollbackUndoesAndOtherSessionsSeeOnlyCommittedRows) {
    Exec("create table t (n number)");
    sql::Connection other(path_, "SCOTT");
    auto count = [&](sql::Connection& c) {
        auto s = c.Prepare("select count(*) from t");
        s->Execute();
        s->Fetch();
        return s->Row()[0].integer;
    };
    Exec("insert into t values (1)");
    EXPECT_TRUE(db_->InTransaction());
    EXPECT_EQ(count(*db_), 1);
    EXPECT_EQ(count(other), 0);
    db_->Rollback();
    EXPECT_EQ(count(*db_), 0);
    Exec("insert into t values (2)");
    Exec("commit");
    EXPECT_FALSE(db_->InTransaction());
    EXPECT_EQ(count(other), 1);
    // DDL commits the open transaction, as Oracle does.
    Exec("insert into t values (3)");
    Exec("create table u (a number)");
    EXPECT_EQ(count(other), 2);
    Exec("rollback");
    EXPECT_EQ(count(*db_), 2);
}

TEST_F(SqlEngineTest, SecondWriterGetsBusyErrorInsteadOfHanging) {
    Exec("create table t (n number)");
    sql::Connection other(path_, "SCOTT", sql::Connection::Options{100});
    Exec("insert into t values (1)");
    try {
        other.Execute("insert into t values (2)");
        FAIL() << "second writer was not refused";
    } catch (const sql::OraError& e) {
        EXPECT_EQ(e.Code(), 54);
    }
    // Locking rows is writing too; NOWAIT replaces the session's long wait.
    sql::Connection patient(path_, "SCOTT", sql::Connection::Options{60000});
    try {
        patient.Execute("select n from t for update nowait");
        ADD_FAILURE() << "the lock was granted";
    } catch (const sql::OraError& e) {
        EXPECT_EQ(e.Code(), 54);
    }
    EXPECT_FALSE(patient.InTransaction());
    db_->Commit();
    other.Execute("insert into t values (2)");
    other.Commit();
    EXPECT_EQ(One("select count(*) from t"), "2");
    patient.Execute("select n from t for update nowait");
    EXPECT_TRUE(patient.InTransaction());
    EXPECT_EQ(ErrorOf("select n from t for update nowait"), 54);
    patient.Rollback();
}

TEST_F(SqlEngineTest, ClosingWithoutCommitLosesTheWork) {
    Exec("create table t (n number)");
    Exec("insert into t values (1)");
    db_ = std::make_unique<sql::Connection>(path_, "SCOTT");
    EXPECT_EQ(One("select count(*) from t"), "0");
}

TEST_F(SqlEngineTest, FailedRowOfMultiRowUpdateLeavesEarlierRowsUnchanged) {
    Exec("create table t (n number, s varchar2(3))");
    Exec("insert into t values (1, 'a')");
    Exec("insert into t values (2, 'b')");
    Exec("insert into t values (3, 'cc')");
    EXPECT_EQ(ErrorOf("update t set s = s || 'xx'"), 12899);
    EXPECT_THAT(Column("select s from t order by n"), ElementsAre("a", "b", "cc"));
    EXPECT_TRUE(db_->InTransaction());
}

TEST_F(SqlEngineTest, ProgramStatementsRunAsSent) {
    sql::SeedDemo(*db_, 20);
    EXPECT_THAT(Column("SELECT TABLE_NAME FROM USER_TABLES ORDER BY TABLE_NAME"),
                ElementsAre("ALL_TYPES", "BIG_TABLE", "BONUS", "DEPT", "DOCS", "EMP", "LONG_RAWS",
                            "SALGRADE"));
    EXPECT_EQ(One("SELECT COUNT(*) FROM EMP"), "14");
    EXPECT_EQ(One("SELECT COUNT(*) FROM BIG_TABLE"), "20");
    auto all = db_->Prepare("SELECT * FROM EMP");
    EXPECT_EQ(all->Describe().size(), 8u);
    auto none = db_->Prepare("SELECT * FROM EMP WHERE ROWNUM=0");
    none->Execute();
    EXPECT_FALSE(none->Fetch());
    EXPECT_EQ(none->Describe()[4].type, sql::tcDate);
    Exec("DELETE FROM BONUS");
    Exec("INSERT INTO BONUS VALUES('KING','PRESIDENT',5000,null)");
    Exec(
        "INSERT INTO EMP "
        "VALUES(1,'O''NEIL','CLERK',7839,TO_DATE('20240131134500','YYYYMMDDHH24MISS'),1.5,2,10)");
    EXPECT_EQ(One("select ename || ' ' || to_char(hiredate, 'DD.MM.YYYY HH24:MI:SS') || ' ' || sal"
                  " from emp where empno = 1"),
              "O'NEIL 31.01.2024 13:45:00 1.5");
    EXPECT_EQ(ErrorOf("INSERT INTO EMP VALUES(2,'A','B',,TO_DATE('','YYYYMMDDHH24MISS'),1,2,10)"),
              936);
    Exec("INSERT INTO EMP VALUES(3,'','',null,TO_DATE('','YYYYMMDDHH24MISS'),1,2,10)");
    EXPECT_EQ(
        One("select count(*) from emp where empno = 3 and ename is null and hiredate is null"),
        "1");
    EXPECT_EQ(ErrorOf("INSERT INTO EMP "
                      "VALUES(4,'A','B',1,TO_DATE('2024013113450','YYYYMMDDHH24MISS'),1,2,10)"),
              0);
    Exec("alter session set sql_trace = false");
    Exec("alter session set optimizer_goal = first_rows");
    Exec("alter session set isolation_level = serializable");
    auto probe = db_->Prepare(
        "select length(chr(2000000000)) l4, length(chr(2000000)) l3,  length(chr(20000)) l2 from "
        "dual");
    probe->Execute();
    ASSERT_TRUE(probe->Fetch());
    EXPECT_EQ(probe->Describe()[0].name, "L4");
    EXPECT_EQ(probe->Row()[0].integer, 4);  // UTF-8: four bytes are never one character here
    db_->Rollback();
}

TEST_F(SqlEngineTest, DemoHoldsClassicRowsJapaneseTextAndNulls) {
    sql::SeedDemo(*db_, 100);
    EXPECT_EQ(
        One("select ename || ' ' || to_char(hiredate, 'YYYY-MM-DD') from emp where empno = 7839"),
        "KING 1981-11-17");
    EXPECT_EQ(One("select sum(sal) from emp"), "29025");
    EXPECT_EQ(
        One("select dname from dept d, emp e where d.deptno = e.deptno and e.ename = 'SMITH'"),
        "RESEARCH");
    EXPECT_EQ(One("select vcc from all_types where id = 1"), "日本語テキスト");
    EXPECT_EQ(One("select length(vcc) || '/' || lengthb(vcc) from all_types where id = 1"), "7/21");
    EXPECT_EQ(One("select count(*) from all_types where n is null and d is null and r is null"),
              "1");
    EXPECT_EQ(One("select rawtohex(r) from all_types where id = 1"), "DEADBEEF");
    EXPECT_EQ(One("select max(id) from big_table"), "100");
}

TEST_F(SqlEngineTest, DmlReportsRowsAffectedAndAppliesDefaults) {
    Exec(
        "create table t (id number primary key, s varchar2(10) default 'none', d date default "
        "sysdate,"
        " n number(3) default 7)");
    EXPECT_EQ(db_->Execute("insert into t (id) values (1)"), 1);
    EXPECT_EQ(db_->Execute("insert into t values (2, default, null, default)"), 1);
    EXPECT_EQ(Rows("select s, n from t where id = 1")[0], (std::vector<std::string>{"none", "7"}));
    EXPECT_EQ(One("select count(*) from t where d is not null"), "1");
    EXPECT_EQ(db_->Execute("insert into t (id, s) select id + 10, 'copy' from t"), 2);
    EXPECT_EQ(One("select count(*) from t where n = 7 and s = 'copy'"), "2");
    EXPECT_EQ(db_->Execute("update t set n = n + 1 where id > 10"), 2);
    EXPECT_EQ(db_->Execute("update t x set x.s = upper(s) where x.id = 11"), 1);
    EXPECT_EQ(One("select s || n from t where id = 11"), "COPY8");
    EXPECT_EQ(db_->Execute("delete from t where id in (1, 2)"), 2);
    EXPECT_EQ(db_->Execute("delete t"), 2);
    EXPECT_EQ(db_->Execute("delete from t"), 0);
}

struct ValueCase {
    const char* expression;
    const char* result;
};

TEST_F(SqlEngineTest, FunctionsAndPredicatesFollowOracle) {
    Exec("create table t (n number, s varchar2(20), d date)");
    Exec(
        "insert into t values (1, 'alpha', to_date('2024-02-29 08:30:00', 'YYYY-MM-DD "
        "HH24:MI:SS'))");
    Exec("insert into t values (2, 'Beta', null)");
    Exec("insert into t values (null, 'gamma_x', null)");
    const ValueCase cases[] = {
        {"select count(*) from t where s like 'a%'", "1"},
        {"select count(*) from t where s like 'A%'", "0"},  // LIKE is case-sensitive
        {"select count(*) from t where s like '%\\_x' escape '\\'", "1"},
        {"select count(*) from t where n in (1, 2)", "2"},
        {"select count(*) from t where n not in (1)", "1"},
        {"select count(*) from t where n between 1 and 1.5", "1"},
        {"select count(*) from t where not (n = 1)", "1"},
        {"select count(*) from t where n = 1 or s = 'Beta'", "2"},
        {"select count(n) from t", "2"},
        {"select sum(n) + avg(n) from t", "4.5"},
        {"select min(s) || max(s) from t", "Betagamma_x"},
        {"select count(*) from t where n in (select n from t where s = 'Beta')", "1"},
        {"select count(*) from t a where exists (select 1 from t b where b.n = a.n + 1)", "1"},
        {"select (select max(n) from t) from dual", "2"},
        {"select upper(s) || lower('ABC') from t where n = 1", "ALPHAabc"},
        {"select substr('abcdef', 2, 3) || substr('abcdef', -2) from dual", "bcdef"},
        {"select length('日本語') || ',' || lengthb('日本語') from dual", "3,9"},
        {"select substr('日本語', 2) from dual", "本語"},
        {"select nvl(n, -1) from t where s = 'gamma_x'", "-1"},
        {"select nvl2(n, 'y', 'n') from t where s = 'gamma_x'", "n"},
        {"select decode(n, 1, 'one', 2, 'two', 'other') from t where s = 'Beta'", "two"},
        {"select decode(n, null, 'null!', 'x') from t where s = 'gamma_x'", "null!"},
        {"select case when n > 1 then 'big' else 'small' end from t where n = 2", "big"},
        {"select to_char(1234.5, '9,999.99') from dual", " 1,234.50"},
        {"select to_char(0.5) || '|' || to_char(-7) from dual", ".5|-7"},
        {"select to_number('  12.50 ') + 1 from dual", "13.5"},
        {"select round(2.567, 2) || ' ' || trunc(2.567, 1) || ' ' || round(-2.5) from dual",
         "2.57 2.5 -3"},
        {"select mod(11, 4) || ' ' || abs(-3) || ' ' || floor(2.7) || ' ' || ceil(2.1) from dual",
         "3 3 2 3"},
        {"select to_char(trunc(d), 'YYYY-MM-DD HH24:MI') from t where n = 1", "2024-02-29 00:00"},
        {"select to_char(add_months(d, 12), 'YYYY-MM-DD') from t where n = 1", "2025-02-28"},
        {"select to_char(last_day(d), 'DD') from t where n = 1", "29"},
        {"select to_char(d, 'DAY DY D DDD Q J') from t where n = 1",
         "THURSDAY  THU 5 060 1 2460370"},
        {"select replace('a-b-c', '-') || instr('hello', 'l', 1, 2) from dual", "abc4"},
        {"select lpad('7', 3, '0') || rpad('x', 3, '.') || trim('  y  ') || '|' from dual",
         "007x..y|"},
        {"select chr(65) || chr(15113388) from dual", "A本"},
        {"select greatest(3, 7, 5) || least('b', 'a') from dual", "7a"},
        {"select user from dual", "SCOTT"},
        {"select count(*) from t where d < sysdate", "1"},
        {"select 10 - 2 - 3 || '' from dual", "5"},
        {"select -n * 2 from t where n = 2", "-4"},
        {"select n || s from t where s = 'gamma_x'", "gamma_x"},
        // Results are cut to the longest VARCHAR2, on a character boundary.
        {"select length(rpad('x', 5000, 'ab')) || ' ' || length(lpad('x', 1e12)) from dual",
         "4000 4000"},
        {"select lengthb(rpad('日', 5000, '本')) from dual", "3999"},
        // A fractional or out-of-range literal length: its whole part, 0 giving NULL.
        {"select nvl(lpad('x', .5), 'null') || length(rpad('x', 2.9)) || length(lpad('x', "
         "99999999999)) from dual",
         "null24000"},
        // Positions, counts and places far out of range act like any large value.
        {"select substr('abc', 1e30) || substr('abc', 2, 1e30) || instr('abc', 'c', 1e30) from "
         "dual",
         "bc0"},
        {"select trunc(1.5, 400) || ' ' || round(1.5, 1e30) || ' ' || trunc(123.4, -1e20) from "
         "dual",
         "1.5 1.5 0"},
        {"select count(*) from t where rownum < 1e30", "3"},
    };
    for (const ValueCase& c : cases) EXPECT_EQ(One(c.expression), c.result) << c.expression;
}

TEST_F(SqlEngineTest, TextKeepsNulsThatNamesRefuse) {
    const char literal[] = "select 'a\0b' from dual";
    auto s = db_->Prepare(std::string(literal, sizeof literal - 1));
    EXPECT_EQ(s->Describe().at(0).name, "'AB'");
    s->Execute();
    ASSERT_TRUE(s->Fetch());
    EXPECT_EQ(s->Row()[0].bytes, std::string("a\0b", 3));
    const char alias[] = "select 1 \"a\0b\" from dual";
    EXPECT_EQ(ErrorOf(std::string(alias, sizeof alias - 1)), 911);
}

TEST_F(SqlEngineTest, LongChainsRunAndDeepNestingFailsCleanly) {
    auto repeat = [](const std::string& piece, int n, const std::string& separator) {
        std::string out;
        for (int i = 0; i < n; ++i) out += (i ? separator : "") + piece;
        return out;
    };
    EXPECT_EQ(One("select " + repeat("'ab'", 300, " || ") + " from dual"), repeat("ab", 300, ""));
    EXPECT_EQ(One("select count(*) from dual where " + repeat("1 = 0", 500, " or ") + " or 1 = 1"),
              "1");
    EXPECT_EQ(One("select count(*) from dual where " + repeat("1 = 1", 500, " and ")), "1");
    EXPECT_EQ(One("select count(*) from dual where 999 in (" + repeat("999", 1000, ", ") + ")"),
              "1");
    // Deeper than the engine follows: an Oracle error, not a crash.
    const std::string deep[] = {
        "select " + std::string(500, '(') + "1" + std::string(500, ')') + " from dual",
        "select " + repeat("nvl(", 300, "") + "1" + repeat(", 1)", 300, "") + " from dual",
        "select " + repeat("-", 1000, " ") + " 1 from dual",
        "select 1 from dual where " + repeat("not", 1000, " ") + " 1 = 1",
        "select " + repeat("1", 1000, " + ") + " from dual",
        repeat("select * from (", 300, "") + "select 1 from dual" + std::string(300, ')'),
        // Within the engine's depth but beyond what SQLite reads.
        "select " + repeat("1", 150, " + ") + " from dual",
        "select 1 from dual where " + repeat("1 = 1", 1500, " or "),
    };
    for (const std::string& text : deep) EXPECT_EQ(ErrorOf(text), 3001) << text.substr(0, 60);
    EXPECT_EQ(ErrorOf("select greatest(" + repeat("1", 200, ", ") + ") from dual"), 939);
}

TEST_F(SqlEngineTest, RawValuesRoundTripInHex) {
    Exec("create table t (r raw(4), l long raw)");
    auto ins = db_->Prepare("insert into t values (:1, :2)");
    ins->Bind(1, sql::Value::Raw(std::string("\x00\xff\x10", 3)));
    ins->Bind(2, sql::Value::Text("0A0B"));
    ins->Execute();
    auto s = db_->Prepare("select r, l, rawtohex(r) from t");
    s->Execute();
    ASSERT_TRUE(s->Fetch());
    EXPECT_EQ(s->Row()[0].kind, sql::Value::Kind::Raw);
    EXPECT_EQ(s->Row()[0].bytes, std::string("\x00\xff\x10", 3));
    EXPECT_EQ(s->Row()[1].bytes, "\x0a\x0b");
    EXPECT_EQ(s->Row()[2].bytes, "00FF10");
    EXPECT_EQ(ErrorOf("insert into t (r) values ('0102030405')"), 12899);
    EXPECT_EQ(ErrorOf("insert into t (r) values ('XY')"), 1465);
}

TEST_F(SqlEngineTest, TablesMadeByAnotherSessionAreSeen) {
    sql::Connection other(path_, "SCOTT");
    auto before = db_->Prepare("select count(*) from fresh");
    EXPECT_THROW(before->Describe(), sql::OraError);
    other.Execute("create table fresh (a number)");
    other.Execute("insert into fresh values (1)");
    other.Commit();
    EXPECT_EQ(One("select count(*) from fresh"), "1");
    other.Execute("drop table fresh");
    EXPECT_EQ(ErrorOf("select count(*) from fresh"), 942);
}

TEST_F(SqlEngineTest, CreateUserGoesToTheHandler) {
    std::string user, password;
    db_->OnCreateUser = [&](const std::string& u, const std::string& p) {
        user = u;
        password = p;
    };
    Exec("create user alice identified by \"Secret\"");
    EXPECT_EQ(user, "ALICE");
    EXPECT_EQ(password, "Secret");
}

struct NumberCase {
    double value;
    const char* text;
};
class NumberToTextTest : public ::testing::TestWithParam<NumberCase> {};
TEST_P(NumberToTextTest, WritesOracleDefaultForm) {
    EXPECT_EQ(sql::NumberToText(GetParam().value), GetParam().text);
}
INSTANTIATE_TEST_SUITE_P(
    Numbers, NumberToTextTest,
    ::testing::Values(NumberCase{0.5, ".5"}, NumberCase{-0.5, "-.5"}, NumberCase{0, "0"},
                      NumberCase{1e20, "100000000000000000000"}, NumberCase{123.456, "123.456"},
                      NumberCase{-1234.5, "-1234.5"}, NumberCase{1e-5, ".00001"},
                      NumberCase{0.1 + 0.2, ".30000000000000004"}, NumberCase{1e100, "1E+100"},
                      NumberCase{-2.5e-70, "-2.5E-70"}));

struct ParseCase {
    const char* text;
    const char* format;
    sql::DateTime expected;
};
class ParseDateTest : public ::testing::TestWithParam<ParseCase> {};
TEST_P(ParseDateTest, ReadsFormatElements) {
    const ParseCase& c = GetParam();
    sql::DateTime d = sql::ParseDate(c.text, c.format);
    EXPECT_EQ(d, c.expected) << c.text << " / " << c.format;
    // Formatting with the same model reads back to the same date.
    EXPECT_EQ(sql::ParseDate(sql::FormatDate(d, c.format), c.format), d);
}
INSTANTIATE_TEST_SUITE_P(
    Dates, ParseDateTest,
    ::testing::Values(
        ParseCase{"20240131134500", "YYYYMMDDHH24MISS", {2024, 1, 31, 13, 45, 0}},
        ParseCase{"10-1-1999 10:10:10", "dd-mm-yyyy hh24:mi:ss", {1999, 1, 10, 10, 10, 10}},
        ParseCase{"31-DEC-99", "DD-MON-RR", {1999, 12, 31, 0, 0, 0}},
        ParseCase{"01-jan-49", "DD-MON-RR", {2049, 1, 1, 0, 0, 0}},
        ParseCase{
            "15 March 2004 01:45:30 PM", "DD MONTH YYYY HH:MI:SS AM", {2004, 3, 15, 13, 45, 30}},
        ParseCase{"12:00 AM 2000/02/29", "HH12:MI AM YYYY/MM/DD", {2000, 2, 29, 0, 0, 0}},
        ParseCase{"0999-07-04", "YYYY-MM-DD", {999, 7, 4, 0, 0, 0}},
        ParseCase{"-4712-01-01", "SYYYY-MM-DD", {-4712, 1, 1, 0, 0, 0}},
        // A sign after punctuation belongs to the signed year; padding blanks are no mark.
        ParseCase{"31-12--0001", "DD-MM-SYYYY", {-1, 12, 31, 0, 0, 0}},
        ParseCase{"JANUARY  -3561", "MONTH-FMSYYYY", {3561, 1, 1, 0, 0, 0}},
        // A run of punctuation in the format matches one run in the text.
        ParseCase{"2024 - 02 - 29", "YYYY - MM - DD", {2024, 2, 29, 0, 0, 0}},
        ParseCase{"2024-02-29 (THU)", "YYYY-MM-DD \"(\"DY\")\"", {2024, 2, 29, 0, 0, 0}},
        ParseCase{"2024年02月29日", "YYYY\"年\"MM\"月\"DD\"日\"", {2024, 2, 29, 0, 0, 0}},
        ParseCase{"MAY      年2024", "MONTH\"年\"YYYY", {2024, 5, 1, 0, 0, 0}},  // padded name
        ParseCase{"0000404", "J", {-4712, 1, 1, 0, 0, 0}}));

// Parsed models are kept between calls: taking more of them in turn than are kept must
// still read each its own way, and a kept model must still face the DATE-only check.
TEST(DateFormatReuseTest, ModelsTakenInTurnKeepTheirOwnReading) {
    std::vector<ParseCase> all;
    for (const ParseCase& c : {
             ParseCase{"20240131134500", "YYYYMMDDHH24MISS", {2024, 1, 31, 13, 45, 0}},
             ParseCase{"31-DEC-99", "DD-MON-RR", {1999, 12, 31, 0, 0, 0}},
             ParseCase{"0999-07-04", "YYYY-MM-DD", {999, 7, 4, 0, 0, 0}},
             ParseCase{"04-07-0999", "DD-MM-YYYY", {999, 7, 4, 0, 0, 0}},
             ParseCase{"07-04-0999", "MM-DD-YYYY", {999, 7, 4, 0, 0, 0}},
             ParseCase{"0999/07/04", "YYYY/MM/DD", {999, 7, 4, 0, 0, 0}},
             ParseCase{"04.07.0999", "DD.MM.YYYY", {999, 7, 4, 0, 0, 0}},
             ParseCase{"0999-185", "YYYY-DDD", {999, 7, 4, 0, 0, 0}},
             ParseCase{"-4712-01-01", "SYYYY-MM-DD", {-4712, 1, 1, 0, 0, 0}},
             ParseCase{"0000404", "J", {-4712, 1, 1, 0, 0, 0}},
         })
        all.push_back(c);
    for (int round = 0; round < 3; ++round)
        for (const ParseCase& c : all) {
            EXPECT_EQ(sql::ParseDate(c.text, c.format), c.expected) << c.format;
            EXPECT_EQ(sql::FormatDate(c.expected, c.format), c.text) << c.format;
        }
    const char* stamp = "YYYY-MM-DD HH24:MI:SS.FF";
    for (int round = 0; round < 2; ++round) {
        EXPECT_EQ(sql::ParseDate("2024-02-29 01:02:03.5", stamp, true).nanos, 500000000);
        EXPECT_THROW((void)sql::ParseDate("2024-02-29 01:02:03.5", stamp), sql::OraError);
        EXPECT_THROW(sql::ValidateDateFormat(stamp), sql::OraError);
        EXPECT_THROW((void)sql::ParseDate("2024", "YYYY-QQQ-ZZ"), sql::OraError);
    }
}

// The fixed-place reading and writing of SYYYY-MM-DD HH24:MI:SS.FF must agree with the
// general path (FM twice changes nothing but the model) on values and on errors.
TEST(DateFormatReuseTest, IsoTimestampShortcutAgreesWithTheGeneralPath) {
    const char* iso = "SYYYY-MM-DD HH24:MI:SS.FF";
    const char* general = "FMFMSYYYY-MM-DD HH24:MI:SS.FF";
    auto outcome = [](std::string_view text, const char* model) -> std::string {
        try {
            const sql::DateTime d = sql::ParseDate(text, model, true);
            return sql::FormatDate(d, "SYYYY-MM-DD HH24:MI:SS.FF9", 9) + " " +
                   std::to_string(d.zone) + (d.hasZone ? "z" : "");
        } catch (const sql::OraError& e) {
            return "ORA-" + std::to_string(e.Code());
        }
    };
    for (const char* text : {"2001-02-02 01:01:07.007919",     "2001-02-02 01:01:07.1",
                             "2024-02-29 23:59:59.123456789",  "0044-03-15 12:00:00.5",
                             "9999-12-31 23:59:59.999999999",  "2023-02-29 00:00:00.0",
                             "2001-13-02 01:01:07.0",          "2001-00-02 01:01:07.0",
                             "2001-04-31 01:01:07.0",          "2001-02-02 24:00:00.0",
                             "2001-02-02 23:60:00.0",          "2001-02-02 23:59:60.0",
                             "0000-01-01 00:00:00.0",          "2001-02-02 01:01:07.",
                             "2001-02-02 01:01:07.1234567890", "2001-2-02 01:01:07.5",
                             "-0044-03-15 12:00:00.5",         "+2001-02-02 01:01:07.5",
                             "2001-02-02 01:01:07.5 ",         " 2001-02-02 01:01:07.5",
                             "2001-02-02T01:01:07.5",          "2001-02-02 01:01:07.5x",
                             "20x1-02-02 01:01:07.5"})
        EXPECT_EQ(outcome(text, iso), outcome(text, general)) << text;

    std::string fast;
    for (const char* stored : {"2001-02-02 01:01:07.007919000", "0044-03-15 12:00:00.500000000",
                               "9999-12-31 23:59:59.999999999"})
        for (int fraction : {0, 3, 6, 9}) {
            ASSERT_TRUE(sql::FormatStoredIsoTimestamp(stored, iso, fraction, fast)) << stored;
            const auto d = sql::ParseStoredTimestamp(stored, sql::tcTimestamp, 0);
            ASSERT_TRUE(d.has_value());
            EXPECT_EQ(fast, sql::FormatDate(*d, general, fraction)) << stored << " " << fraction;
        }
    EXPECT_FALSE(sql::FormatStoredIsoTimestamp("-0044-03-15 12:00:00.500000000", iso, 6, fast));
    EXPECT_FALSE(sql::FormatStoredIsoTimestamp("2001-02-02 01:01:07.007919000",
                                               "SYYYY-MM-DD HH24:MI:SS.FF3", 6, fast));
}

struct StoredCase {
    sql::DateTime date;
    const char* stored;
};
TEST(StoredDateTest, WritesFixedWidthFieldsAndTheSign) {
    for (const StoredCase& c : {
             StoredCase{{2024, 2, 29, 13, 45, 0}, "2024-02-29 13:45:00"},
             StoredCase{{999, 7, 4, 1, 2, 3}, "0999-07-04 01:02:03"},
             StoredCase{{-4712, 1, 1, 0, 0, 0}, "-4712-01-01 00:00:00"},
             StoredCase{{-1, 12, 31, 23, 59, 59}, "-0001-12-31 23:59:59"},
         }) {
        EXPECT_EQ(sql::StoredDate(c.date), c.stored);
        EXPECT_EQ(sql::ParseStoredDate(c.stored), c.date) << c.stored;
    }
    std::string out;
    sql::AppendDigits(out, -5, 4);
    sql::AppendDigits(out, 123456, 2);
    EXPECT_EQ(out, "-005123456");  // as "%04lld" and "%02lld" write them
}

TEST(RowAddressTest, SqliteRowidsBecomeFileBlockAndSlot) {
    EXPECT_EQ(sql::ExtendedRowIdText(sql::AddressOfRow(70000, 1)), "AAARFwAABAAAAAAAAB");
    EXPECT_EQ(sql::AddressOfRow(7, (std::int64_t{1} << 39) + 130), (sql::RowAddress{7, 2, 1, 2}));
    for (const std::int64_t bad : {std::int64_t{-1}, std::int64_t{65534} << 39})
        EXPECT_THROW((void)sql::AddressOfRow(7, bad), sql::OraError) << bad;
    // Text back to the rowid: each address round-trips; another object's names no row.
    for (const std::int64_t row : {std::int64_t{1}, std::int64_t{130}, (std::int64_t{1} << 39) + 5})
        EXPECT_EQ(sql::RowOfRowIdText(7, sql::ExtendedRowIdText(sql::AddressOfRow(7, row))), row);
    EXPECT_EQ(sql::RowOfRowIdText(8, sql::ExtendedRowIdText(sql::AddressOfRow(7, 1))),
              std::nullopt);
    for (const char* bad : {"abc", "AAARFwAABAAAAAAAA*"})
        EXPECT_THROW((void)sql::RowOfRowIdText(7, bad), sql::OraError) << bad;
}

TEST(DateBytesTest, EncodesTheSevenBytesOfTheClientLibrary) {
    EXPECT_THAT(sql::EncodeDate({1999, 12, 31, 23, 59, 59}),
                ElementsAre(119, 199, 12, 31, 24, 60, 60));
    EXPECT_THAT(sql::EncodeDate({2000, 1, 1, 0, 0, 0}), ElementsAre(120, 100, 1, 1, 1, 1, 1));
    const unsigned char bad[] = {120, 124, 13, 1, 1, 1, 1};
    EXPECT_THROW((void)sql::DecodeDate(bad), sql::OraError);
    const unsigned char bc[7] = {53, 88, 1, 1, 1, 1, 1};  // 4712 BC
    EXPECT_EQ(sql::DecodeDate(bc).year, -4712);
}

// Bind values are read and stored straight from NUMBER bytes when they allow it; the
// result must be what the general conversion and rounding give.
TEST(NumberBytesTest, DirectReadingAndStoringAgreeWithTheGeneralPath) {
    const auto bytesOf = [](const char* text) {
        return sql::OracleBytes(sql::Fit(sql::Decimal::Parse(text)));
    };
    const auto same = [](const sql::Value& a, const sql::Value& b) {
        return a.kind == b.kind &&
               (a.kind == sql::Value::Kind::Integer ? a.integer == b.integer : a.bytes == b.bytes);
    };
    std::vector<sql::Value> values;
    for (const char* text : {"0",
                             "1",
                             "-1",
                             "7",
                             "99",
                             "100",
                             "-100",
                             "120",
                             "12345",
                             "123.45",
                             "-123.45",
                             "2.345",
                             ".05",
                             "-.05",
                             "-.5",
                             "1E-130",
                             "-1E-130",
                             "9.99",
                             "1000000",
                             "-99999",
                             "9223372036854775807",
                             "-9223372036854775808",
                             "9223372036854775808",
                             "-9223372036854775809",
                             "18446744073709551615",
                             "100000000000000000000",
                             "99999999999999999999",
                             "1E125",
                             "-1E125",
                             "12345678901234567890123456789012345678",
                             "-1234567890123456789012345678901234567",
                             ".1234567890123456789012345678901234567891"}) {
        const std::string bytes = bytesOf(text);
        const auto* b = reinterpret_cast<const unsigned char*>(bytes.data());
        sql::Value direct;
        direct.bytes = "stale storage";
        ASSERT_TRUE(sql::ReadNumberBytes(b, bytes.size(), direct)) << text;
        const sql::Value general = sql::Value::Number(sql::Decimal::FromBytes(b, bytes.size()));
        EXPECT_TRUE(same(direct, general)) << text;
        values.push_back(general);
    }
    // Bytes Oracle would never write go the general way: 100 with a trailing zero digit,
    // a leading zero digit, -1 without its terminator, a digit out of range.
    for (const std::vector<unsigned char>& odd : {std::vector<unsigned char>{0xC2, 0x02, 0x01},
                                                  {0xC1, 0x01, 0x02},
                                                  {0x3E, 0x64},
                                                  {0xC1, 0x66},
                                                  {}}) {
        sql::Value v;
        EXPECT_FALSE(sql::ReadNumberBytes(odd.data(), odd.size(), v));
    }
    for (const sql::Value& v : values) {
        for (const auto& [precision, scale] :
             std::vector<std::pair<int, int>>{{0, 0},
                                              {1, 0},
                                              {2, 0},
                                              {3, 0},
                                              {5, 2},
                                              {12, 2},
                                              {3, -1},
                                              {2, 3},
                                              {10, 0},
                                              {19, 0},
                                              {20, 0},
                                              {38, 0},
                                              {4, 4},
                                              {38, 38},
                                              {5, sql::kFloatScale}}) {
            bool unchanged = false;
            try {
                unchanged = same(sql::RoundNumber(v, precision, scale), v);
            } catch (const sql::OraError&) {
            }
            if (scale != sql::kFloatScale)
                EXPECT_EQ(sql::StoresAsIs(v, precision, scale), unchanged)
                    << sql::NumberToText(v) << " in (" << precision << "," << scale << ")";
            else
                EXPECT_FALSE(sql::StoresAsIs(v, precision, scale));
        }
    }
}

}  // namespace

// --- exact NUMBER ----------------------------------------------------------------------

TEST_F(SqlEngineTest, NumbersAreStoredAndReadBackDigitForDigit) {
    Exec("create table t (id number(19), d number(20,10), n number(38), u number)");
    struct Case {
        const char* column;
        const char* literal;
        const char* text;  // as TO_CHAR writes it back
    };
    const Case cases[] = {
        {"id", "1234567890123456789", "1234567890123456789"},
        {"id", "-9223372036854775808", "-9223372036854775808"},
        {"id", "9999999999999999999", "9999999999999999999"},
        {"id", "-9999999999999999999", "-9999999999999999999"},
        {"d", "1234567890.0123456789", "1234567890.0123456789"},
        {"d", "-0.0000000001", "-.0000000001"},
        {"n", "99999999999999999999999999999999999999", "99999999999999999999999999999999999999"},
        {"u", "1E-130", "1E-130"},
        {"u", "9.999999999999999999999999999999999999E125",
         "9.999999999999999999999999999999999999E+125"},
        {"u", "0.5", ".5"},
        {"u", "-12.250", "-12.25"},
        {"u", "123456789012345678901234567890.12345678", "123456789012345678901234567890.12345678"},
        {"u", "1e-131", "0"},  // below NUMBER's range: zero, as Oracle stores it
    };
    for (const Case& c : cases) {
        Exec("delete from t");
        Exec(std::string("insert into t (") + c.column + ") values (" + c.literal + ")");
        EXPECT_EQ(One(std::string("select to_char(") + c.column + ") from t"), c.text) << c.literal;
        // The stored value equals the literal exactly, and no neighbour of it.
        EXPECT_EQ(One(std::string("select count(*) from t where ") + c.column + " = " + c.literal),
                  "1")
            << c.literal;
    }
}

TEST_F(SqlEngineTest, NumberColumnsRoundAndCheckOnTheExactValue) {
    Exec("create table t (a number(5,2), b number(38), c number(3,-2), f float(10))");
    struct Case {
        const char* insert;
        int error;
        const char* query;
        const char* text;
    };
    const Case cases[] = {
        {"insert into t (a) values (1.005)", 0, "select to_char(a) from t", "1.01"},
        {"insert into t (a) values (-1.005)", 0, "select to_char(a) from t", "-1.01"},
        {"insert into t (a) values (999.994)", 0, "select to_char(a) from t", "999.99"},
        {"insert into t (a) values (999.995)", 1438, nullptr, nullptr},
        {"insert into t (b) values (99999999999999999999999999999999999999.4)", 0,
         "select to_char(b) from t", "99999999999999999999999999999999999999"},
        {"insert into t (b) values (99999999999999999999999999999999999999.5)", 1438, nullptr,
         nullptr},
        {"insert into t (c) values (12350)", 0, "select to_char(c) from t", "12400"},
        {"insert into t (c) values (99950)", 1438, nullptr, nullptr},
        // FLOAT(10): ceil(10 * 0.30103) = 4 significant digits.
        {"insert into t (f) values (123.456)", 0, "select to_char(f) from t", "123.5"},
        {"insert into t (f) values (1E126)", 1426, nullptr, nullptr},
    };
    for (const Case& c : cases) {
        Exec("delete from t");
        EXPECT_EQ(ErrorOf(c.insert), c.error) << c.insert;
        if (c.query) {
            EXPECT_EQ(One(c.query), c.text) << c.insert;
        }
    }
}

TEST_F(SqlEngineTest, ArithmeticAndOrderAreExactBeyondInt64) {
    Exec("create table t (n number)");
    for (const char* v : {"9223372036854775807", "9223372036854775808", "-9223372036854775809",
                          "0.1", "18446744073709551616", "-0.1", "1E-130", "-1E125", "5"})
        Exec(std::string("insert into t values (") + v + ")");
    EXPECT_THAT(Column("select to_char(n) from t order by n"),
                ElementsAre("-1E+125", "-9223372036854775809", "-.1", "1E-130", ".1", "5",
                            "9223372036854775807", "9223372036854775808", "18446744073709551616"));
    EXPECT_THAT(Column("select to_char(n) from t where n > 9223372036854775807 order by n desc"),
                ElementsAre("18446744073709551616", "9223372036854775808"));
    EXPECT_EQ(One("select to_char(max(n)) from t"), "18446744073709551616");
    EXPECT_EQ(One("select to_char(min(n)) from t"), "-1E+125");
    EXPECT_EQ(One("select to_char(sum(n)) from t where n between -1 and 9223372036854775807"),
              "9223372036854775812");
    EXPECT_EQ(One("select to_char(9223372036854775807 + 1) from dual"), "9223372036854775808");
    EXPECT_EQ(One("select to_char(-9223372036854775807 - 2) from dual"), "-9223372036854775809");
    EXPECT_EQ(One("select to_char(4294967296 * 4294967296) from dual"), "18446744073709551616");
    EXPECT_EQ(One("select to_char(0.1 + 0.2) from dual"), ".3");
    // 40 stored digits, cut to TO_CHAR's 40 characters.
    EXPECT_EQ(One("select to_char(1 / 3) from dual"), "." + std::string(39, '3'));
    EXPECT_EQ(One("select to_char(avg(n)) from t where n in (0.1, 5)"), "2.55");
    EXPECT_EQ(One("select to_char(-(-9223372036854775808)) from dual"), "9223372036854775808");
    EXPECT_EQ(One("select to_char(round(2.5), 'FM9') || to_char(round(-2.5)) from dual"), "3-3");
    EXPECT_EQ(One("select to_char(greatest(1E20, 5, -1E20)) from dual"), "100000000000000000000");
    EXPECT_EQ(One("select to_char(2 / 3) from dual"), "." + std::string(38, '6') + "7");
    EXPECT_EQ(One("select to_char(-7 / 2) from dual"), "-3.5");
    EXPECT_EQ(One("select to_char(mod(12345678901234567890.5, 7)) from dual"), "1.5");
    EXPECT_EQ(One("select floor(-1.5) || ' ' || ceil(-1.5) || ' ' || abs(-1E20) from dual"),
              "-2 -1 100000000000000000000");
    EXPECT_EQ(ErrorOf("select 1 / 0 from dual"), 1476);
    EXPECT_EQ(One("select to_char(power(2, 100)) from dual"), "1267650600228229401496703205376");
    EXPECT_EQ(One("select to_char(power(-10, -3)) from dual"), "-.001");
    EXPECT_EQ(ErrorOf("select 9E125 * 10 from dual"), 1426);
}

TEST_F(SqlEngineTest, UniqueConstraintsCompareNumbersByValue) {
    Exec("create table t (n number primary key)");
    Exec("insert into t values (1)");
    EXPECT_EQ(ErrorOf("insert into t values (1.0)"), 1);
    Exec("insert into t values (12345678901234567890.5)");
    EXPECT_EQ(ErrorOf("insert into t values (12345678901234567890.50)"), 1);
    Exec("insert into t values (12345678901234567890.51)");
    EXPECT_EQ(One("select count(distinct n) from t"), "3");
}

namespace {

// Session formats that show every digit, so text round trips are exact.
void FullTimestampFormats(sql::Connection& db) {
    db.Execute("ALTER SESSION SET NLS_TIMESTAMP_FORMAT = 'YYYY-MM-DD HH24:MI:SS.FF'");
    db.Execute("ALTER SESSION SET NLS_TIMESTAMP_TZ_FORMAT = 'YYYY-MM-DD HH24:MI:SS.FF TZR'");
    db.Execute("ALTER SESSION SET TIME_ZONE = '+00:00'");
}

}  // namespace

// A parsed TIMESTAMP rounds once, to the scale of the column it is stored in.
TEST_F(SqlEngineTest, ToTimestampWithAFormatStoresAtTheColumnScale) {
    Exec(
        "CREATE TABLE TS (A TIMESTAMP(6), B TIMESTAMP(0), C TIMESTAMP(6) WITH TIME ZONE,"
        " D TIMESTAMP(3) WITH LOCAL TIME ZONE)");
    Exec(
        "INSERT INTO TS VALUES ("
        "TO_TIMESTAMP('2024-12-31 23:59:59.9999996', 'YYYY-MM-DD HH24:MI:SS.FF'),"
        "TO_TIMESTAMP('2024-02-28 23:59:59.5', 'YYYY-MM-DD HH24:MI:SS.FF'),"
        "TO_TIMESTAMP_TZ('2024-06-30 23:59:59.99999951 +05:30', 'YYYY-MM-DD HH24:MI:SS.FF "
        "TZH:TZM'),"
        "TO_TIMESTAMP('2024-01-01 00:00:00.12351', 'YYYY-MM-DD HH24:MI:SS.FF'))");
    EXPECT_EQ(One("SELECT TO_CHAR(A, 'YYYY-MM-DD HH24:MI:SS.FF') || '|' || "
                  "TO_CHAR(B, 'YYYY-MM-DD HH24:MI:SS') || '|' || "
                  "TO_CHAR(C, 'YYYY-MM-DD HH24:MI:SS.FF TZH:TZM') || '|' || "
                  "TO_CHAR(D, 'YYYY-MM-DD HH24:MI:SS.FF') FROM TS"),
              "2025-01-01 00:00:00.000000|2024-02-29 00:00:00|"
              "2024-07-01 00:00:00.000000 +05:30|2024-01-01 00:00:00.124");
}

TEST_F(SqlEngineTest, TimestampIntervalAndBinaryColumnsTakeTextAndGiveItBack) {
    FullTimestampFormats(*db_);
    Exec(
        "CREATE TABLE T (A TIMESTAMP(9), B TIMESTAMP(3) WITH TIME ZONE,"
        " C TIMESTAMP WITH LOCAL TIME ZONE, D INTERVAL YEAR(4) TO MONTH,"
        " E INTERVAL DAY(3) TO SECOND(9), F BINARY_DOUBLE, G BINARY_FLOAT)");
    struct Case {
        const char* column;
        const char* in;
        const char* out;
    } cases[] = {
        {"A", "0001-01-01 00:00:00.000000001", "0001-01-01 00:00:00.000000001"},
        {"A", "9999-12-31 23:59:59.999999999", "9999-12-31 23:59:59.999999999"},
        {"B", "2024-02-29 13:30:05.123 +09:00", "2024-02-29 13:30:05.123 +09:00"},
        {"B", "2024-01-01 00:00:00.5 -03:30", "2024-01-01 00:00:00.500 -03:30"},
        {"B", "2024-12-31 23:59:59.9996 +05:30", "2025-01-01 00:00:00.000 +05:30"},
        {"C", "2024-06-01 12:00:00.000001", "2024-06-01 12:00:00.000001"},
        {"D", "-1-6", "-0001-06"},
        {"D", "+9999-11", "+9999-11"},
        {"E", "-3 04:05:06.123456789", "-003 04:05:06.123456789"},
        {"E", "999 23:59:59", "+999 23:59:59.000000000"},
        {"F", "NaN", "Nan"},
        {"F", "-inf", "-Inf"},
        {"F", "1.5", "1.5E+000"},
        {"F", "0.1", "1.0000000000000001E-001"},
        {"G", "0.1", "1.00000001E-001"},
    };
    for (const Case& c : cases) {
        Exec("DELETE FROM T");
        auto ins = db_->Prepare(std::string("INSERT INTO T (") + c.column + ") VALUES (:1)");
        ins->Bind(1, sql::Value::Text(c.in));
        ins->Execute();
        EXPECT_EQ(One(std::string("SELECT ") + c.column + " FROM T"), c.out) << c.in;
        // The fetched text binds back to an equal value.
        auto eq = db_->Prepare(std::string("SELECT COUNT(*) FROM T WHERE ") + c.column + " = :1");
        eq->Bind(1, sql::Value::Text(c.out));
        eq->Execute();
        ASSERT_TRUE(eq->Fetch());
        EXPECT_EQ(db_->ToText(eq->Row()[0]), "1") << c.out;
    }
    // WITH LOCAL TIME ZONE shows the instant in the session's zone; WITH TIME ZONE keeps its own.
    Exec("DELETE FROM T");
    Exec("INSERT INTO T (B, C) VALUES ('2024-06-01 12:00:00.0 +01:00', '2024-06-01 12:00:00')");
    Exec("ALTER SESSION SET TIME_ZONE = '-02:30'");
    EXPECT_EQ(One("SELECT C FROM T"), "2024-06-01 09:30:00.000000");
    EXPECT_EQ(One("SELECT B FROM T"), "2024-06-01 12:00:00.000 +01:00");
}

TEST_F(SqlEngineTest, NewTypesSortAsOracleSortsThem) {
    FullTimestampFormats(*db_);
    Exec(
        "CREATE TABLE T (N NUMBER, B TIMESTAMP WITH TIME ZONE, E INTERVAL DAY TO SECOND,"
        " F BINARY_DOUBLE)");
    const char* rows[] = {
        "1, TIMESTAMP '2024-01-01 10:00:00 +09:00', INTERVAL '-1 00:00:00' DAY TO SECOND, "
        "BINARY_DOUBLE_NAN",
        "2, TIMESTAMP '2024-01-01 00:30:00 -01:00', INTERVAL '0 00:00:00.000001' DAY TO SECOND,"
        " -BINARY_DOUBLE_INFINITY",
        "3, TIMESTAMP '2024-01-01 01:00:00 +00:00', INTERVAL '-0 23:59:59' DAY TO SECOND, 1.5d",
        "4, TIMESTAMP '2023-12-31 20:00:00 -05:30', INTERVAL '2 00:00:00' DAY TO SECOND,"
        " BINARY_DOUBLE_INFINITY",
    };
    for (const char* r : rows) Exec(std::string("INSERT INTO T VALUES (") + r + ")");
    // Instants: 01:00Z, 01:30Z, 01:00Z, 01:30Z; equal instants are equal whatever the zone.
    EXPECT_THAT(Column("SELECT N FROM T ORDER BY B, N"), ElementsAre("1", "3", "2", "4"));
    EXPECT_EQ(One("SELECT COUNT(*) FROM T WHERE B = TIMESTAMP '2024-01-01 01:30:00 +00:00'"), "2");
    EXPECT_THAT(Column("SELECT N FROM T ORDER BY E"), ElementsAre("1", "3", "2", "4"));
    // NaN is greater than infinity.
    EXPECT_THAT(Column("SELECT N FROM T ORDER BY F"), ElementsAre("2", "3", "4", "1"));
    EXPECT_THAT(Column("SELECT N FROM T ORDER BY F DESC"), ElementsAre("1", "4", "3", "2"));
    EXPECT_EQ(One("SELECT COUNT(*) FROM T WHERE F > BINARY_DOUBLE_INFINITY"), "1");
    EXPECT_EQ(One("SELECT COUNT(*) FROM T WHERE F = BINARY_DOUBLE_NAN"), "1");
    EXPECT_EQ(One("SELECT COUNT(*) FROM T WHERE F < 2"), "2");
}

TEST_F(SqlEngineTest, TimestampFunctionsLiteralsAndFormats) {
    Exec("ALTER SESSION SET TIME_ZONE = '+00:00'");
    struct Case {
        const char* expression;
        const char* text;
    } cases[] = {
        // Defaults of an AMERICAN session: two-digit RR years, 12-hour clock.
        {"TIMESTAMP '2024-02-29 13:30:05.123456'", "29-FEB-24 01.30.05.123456 PM"},
        {"TIMESTAMP '1999-02-28 00:00:00.5 -08:00'", "28-FEB-99 12.00.00.5 AM -08:00"},
        {"TO_CHAR(TIMESTAMP '2024-02-29 13:30:05.123456789', 'YYYY-MM-DD HH24:MI:SS.FF9')",
         "2024-02-29 13:30:05.123456789"},
        {"TO_CHAR(TIMESTAMP '2024-02-29 13:30:05.123456789', 'SS.FF3')", "05.123"},
        {"TO_CHAR(TO_TIMESTAMP_TZ('2024-02-29 13:30 +05:30', 'YYYY-MM-DD HH24:MI TZH:TZM'),"
         " 'TZH TZM TZR')",
         "+05 30 +05:30"},
        {"TO_CHAR(TO_TIMESTAMP('29.02.2024 1.5', 'DD.MM.YYYY SS.FF'), 'HH24:MI:SS.FF2')",
         "00:00:01.50"},
        {"INTERVAL '-1-3' YEAR TO MONTH", "-01-03"},
        {"INTERVAL '5' DAY", "+05 00:00:00.000000"},
        {"INTERVAL '1 2:3:4.5' DAY(3) TO SECOND(2)", "+001 02:03:04.50"},
        {"TO_CHAR(1.5d)", "1.5E+000"},
        {"TO_BINARY_DOUBLE('INF')", "Inf"},
        {"TO_BINARY_FLOAT(1/3)", "3.33333343E-001"},
        {"BINARY_FLOAT_NAN", "Nan"},
        // Halfway between two floats and a little above: rounded once, upwards.
        {"TO_BINARY_FLOAT('1.00000005960464477550')", "1.00000012E+000"},
        {"TO_DSINTERVAL('-5 04:03:02.123456789')", "-000000005 04:03:02.123456789"},
        {"TO_YMINTERVAL('+12-11')", "+000000012-11"},
        {"TO_CHAR(SYS_EXTRACT_UTC(TIMESTAMP '2024-01-01 00:15:00.5 +05:30'), 'SYYYY-MM-DD "
         "HH24:MI:SS.FF')",
         " 2023-12-31 18:45:00.500000000"},
        {"CASE WHEN BINARY_DOUBLE_NAN > BINARY_DOUBLE_INFINITY THEN 'Y' END", "Y"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(One(std::string("SELECT ") + c.expression + " FROM DUAL"), c.text)
            << c.expression;
    Exec("ALTER SESSION SET NLS_TIMESTAMP_FORMAT = 'DD.MM.YYYY HH24:MI:SSXFF3'");
    EXPECT_EQ(One("SELECT TIMESTAMP '0001-01-01 00:00:00.9999' FROM DUAL"),
              "01.01.0001 00:00:00.999");
    EXPECT_EQ(One("SELECT TO_CHAR(TO_TIMESTAMP('02.01.2024 10:11:12.5')) FROM DUAL"),
              "02.01.2024 10:11:12.500");
    Exec("ALTER SESSION SET TIME_ZONE = '-03:30'");
    EXPECT_EQ(One("SELECT SYS_EXTRACT_UTC(TIMESTAMP '2024-01-01 23:00:00') FROM DUAL"),
              "02.01.2024 02:30:00.000");
}

TEST_F(SqlEngineTest, NewTypesDescribeAsTheServerDoes) {
    Exec(
        "CREATE TABLE T (A TIMESTAMP, B TIMESTAMP(3) WITH TIME ZONE,"
        " C TIMESTAMP(0) WITH LOCAL TIME ZONE, D INTERVAL YEAR TO MONTH,"
        " E INTERVAL DAY(5) TO SECOND(1), F BINARY_FLOAT, G BINARY_DOUBLE)");
    auto s = db_->Prepare("SELECT * FROM T");
    struct Expected {
        int type, size, precision, scale;
    } expected[] = {{187, 11, 0, 6}, {188, 13, 0, 3}, {232, 11, 0, 0}, {189, 5, 2, 0},
                    {190, 11, 5, 1}, {100, 4, 0, 0},  {101, 8, 0, 0}};
    const auto& cols = s->Describe();
    ASSERT_EQ(cols.size(), std::size(expected));
    for (std::size_t i = 0; i < cols.size(); ++i) {
        EXPECT_EQ(cols[i].type, expected[i].type) << cols[i].name;
        EXPECT_EQ(cols[i].size, expected[i].size) << cols[i].name;
        EXPECT_EQ(cols[i].precision, expected[i].precision) << cols[i].name;
        EXPECT_EQ(cols[i].scale, expected[i].scale) << cols[i].name;
    }
    // The dictionary survives a new session.
    db_ = std::make_unique<sql::Connection>(path_, "SCOTT");
    EXPECT_EQ(db_->Prepare("SELECT E FROM T")->Describe().at(0).precision, 5);
}

TEST_F(SqlEngineTest, NewTypesRefuseWhatOracleRefuses) {
    Exec("CREATE TABLE T (A TIMESTAMP, D INTERVAL YEAR(2) TO MONTH, F BINARY_DOUBLE)");
    struct Case {
        const char* statement;
        int code;
    } cases[] = {
        {"CREATE TABLE U (A TIMESTAMP(10))", 30088},
        {"INSERT INTO T (D) VALUES ('100-0')", 1873},
        {"INSERT INTO T (D) VALUES ('1-12')", 1843},
        {"INSERT INTO T (D) VALUES ('one')", 1867},
        {"INSERT INTO T (F) VALUES ('1,5')", 1722},
        {"INSERT INTO T (A) VALUES (TIMESTAMP '0000-01-01 00:00:00')", 1841},
        {"SELECT TO_TIMESTAMP_TZ('2024-01-01 Mars/Olympus', 'YYYY-MM-DD TZR') FROM DUAL", 1882},
        {"SELECT TO_CHAR(SYSDATE, 'HH24:MI:SS.FF') FROM DUAL", 1821},
        {"INSERT INTO T (A) VALUES (5)", 932},
        {"SELECT TO_YMINTERVAL('1 02:00:00') FROM DUAL", 1867},
    };
    for (const Case& c : cases) EXPECT_EQ(ErrorOf(c.statement), c.code) << c.statement;
}
