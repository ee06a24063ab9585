// The catalogue, CSV export and CSV import on the stand-in client library.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <vector>

#include "app/core/CsvReader.h"
#include "app/core/CustomOracleQuery.h"
#include "app/core/ImportTransaction.h"
#include "app/core/UserTable.h"
#include "oracle/client/OciLibrary.h"
#include "oracle/client/OracleError.h"
#include "oracle/session/OracleSession.h"
#include "platform/RegionalSettings.h"
#include "tests/app/StandInSchema.h"
#include "tests/app/TempDir.h"
#include "tests/support/TempHome.h"

namespace velnor::app {
namespace {

using ::testing::AllOf;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::ThrowsMessage;

// Every test logs on as a user of its own, so it starts with an empty schema.
class UserTableTest : public test::StandInSchemaTest {
protected:
    std::int64_t Count(const std::string& table, bool committed = false) {
        return std::stoll(Rows("SELECT COUNT(*) FROM " + table, committed).at(0));
    }
};

// ---- catalogue ----

TEST_F(UserTableTest, UserWithoutTablesHasAnEmptyCatalogue) {
    TUserTable tables(*session_);
    tables.Refresh();
    EXPECT_EQ(tables.Count(), 0);
}

TEST_F(UserTableTest, RefreshListsTablesInNameOrderWithExactCounts) {
    Sql("CREATE TABLE ZETA (N NUMBER)");
    Sql("CREATE TABLE ALPHA (N NUMBER)");
    Sql("CREATE TABLE \"mixed Case\" (N NUMBER)");
    for (int i = 0; i < 3; ++i) Sql("INSERT INTO ZETA VALUES (" + std::to_string(i) + ")");
    Sql("INSERT INTO \"mixed Case\" VALUES (1)");
    TUserTable tables(*session_);
    for (int pass = 0; pass < 2; ++pass) {
        tables.Refresh();
        ASSERT_EQ(tables.Count(), 3);
        std::vector<std::pair<std::string, std::int64_t>> seen;
        for (int i = 0; i < tables.Count(); ++i)
            seen.emplace_back(tables.GetItem(i).TableName, tables.GetItem(i).DataCount);
        EXPECT_THAT(seen, ElementsAre(std::pair<std::string, std::int64_t>{"ALPHA", 0},
                                      std::pair<std::string, std::int64_t>{"ZETA", 3},
                                      std::pair<std::string, std::int64_t>{"mixed Case", 1}));
    }
}

TEST_F(UserTableTest, FailedRefreshLeavesTheCatalogueEmpty) {
    Sql("CREATE TABLE T1 (N NUMBER)");
    TUserTable tables(*session_);
    tables.Refresh();
    ASSERT_EQ(tables.Count(), 1);
    session_->LogOff();
    EXPECT_THROW(tables.Refresh(), platform::Exception);
    EXPECT_EQ(tables.Count(), 0);
}

TEST_F(UserTableTest, NameThatCouldChangeTheStatementIsRefused) {
    TUserTable tables(*session_);
    EXPECT_THAT([&] { tables.DeleteAll("T\" WHERE 1=1 --"); },
                ThrowsMessage<platform::Exception>(HasSubstr("Invalid table name")));
}

// ---- export ----

struct ExportFixture : UserTableTest {
    void SetUp() override {
        UserTableTest::SetUp();
        Sql("CREATE TABLE EMP (ID NUMBER(5), SAL NUMBER(10,2), NAME VARCHAR2(40), "
            "HIRED DATE, R RAW(4))");  // RAW is fetched as hexadecimal text
        Sql("INSERT INTO EMP VALUES (1, 1234.5, 'Smith, \"J\"', "
            "TO_DATE('20240131134500','YYYYMMDDHH24MISS'), HEXTORAW('0A0B'))");
        Sql("INSERT INTO EMP VALUES (2, NULL, NULL, NULL, NULL)");
        Sql("INSERT INTO EMP VALUES (-3, 0.01, '二行' || CHR(13) || CHR(10) || 'の文字列', "
            "TO_DATE('09990102030405','YYYYMMDDHH24MISS'), NULL)");
        session_->Commit();
    }
};

TEST_F(ExportFixture, WritesHeaderAndRowsByColumnType) {
    const std::string path = dir_.File("emp.csv");
    TUserTable(*session_).ExportCsv(path, "EMP");
    EXPECT_EQ(test::ReadBytes(path),
              "\"ID\",\"SAL\",\"NAME\",\"HIRED\",\"R\"\r\n"
              "1,1234.5,\"Smith, \"\"J\"\"\",20240131134500,\"0A0B\"\r\n"
              "2,,\"\",,\"\"\r\n"
              "-3,0.01,\"二行\r\nの文字列\",09990102030405,\"\"\r\n");
}

TEST_F(ExportFixture, DecimalCommaFloatsAreQuoted) {
    platform::TRegionalSettings settings;
    settings.decimalSymbol = ",";
    platform::SetRegionalSettings(settings);
    const std::string path = dir_.File("emp.csv");
    TUserTable(*session_).ExportCsv(path, "EMP");
    EXPECT_THAT(test::ReadBytes(path), HasSubstr("\r\n1,\"1234,5\",\"Smith"));
}

TEST_F(ExportFixture, EmptyTableGivesTheHeaderOnly) {
    Sql("CREATE TABLE NOTHING (A NUMBER, B VARCHAR2(5))");
    const std::string path = dir_.File("n.csv");
    TUserTable(*session_).ExportCsv(path, "NOTHING");
    EXPECT_EQ(test::ReadBytes(path), "\"A\",\"B\"\r\n");
}

// Rows pass from the fetch to the file in batches: every row once, in order, and an error
// in a late batch names its row and keeps the target as it was.
TEST_F(ExportFixture, RowsOfManyFetchBatchesKeepTheirOrder) {
    constexpr int kRows = 2600;
    Sql("CREATE TABLE MANY (ID NUMBER(9), SAL NUMBER(10,2), NAME VARCHAR2(10), HIRED DATE)");
    std::string expected = "\"ID\",\"SAL\",\"NAME\",\"HIRED\"\r\n";
    for (int i = 0; i < kRows; ++i) {
        const std::string n = std::to_string(i);
        Sql("INSERT INTO MANY VALUES (" + n + ", " + n + ".25, 'n" + n +
            "', TO_DATE('20240101','YYYYMMDD') + " + n + " / 86400)");
        char hired[16];
        std::snprintf(hired, sizeof hired, "20240101%02d%02d%02d", i / 3600, i / 60 % 60, i % 60);
        expected += n + "," + n + ".25,\"n" + n + "\"," + hired + "\r\n";
    }
    session_->Commit();
    const std::string path = dir_.File("many.csv");
    TUserTable(*session_).ExportCsv(path, "MANY");
    EXPECT_EQ(test::ReadBytes(path), expected);

    Sql("UPDATE MANY SET HIRED = TO_DATE('-0044-03-15','SYYYY-MM-DD') WHERE ID = 2500");
    session_->Commit();
    EXPECT_THAT([&] { TUserTable(*session_).ExportCsv(path, "MANY"); },
                ThrowsMessage<platform::EConvertError>(HasSubstr("2501 件目の行、列 HIRED")));
    EXPECT_EQ(test::ReadBytes(path), expected);
    EXPECT_THAT(DirectoryEntries(), ElementsAre("many.csv"));
}

// A failing export used to leave the chosen file emptied or half written.
TEST_F(ExportFixture, FailedExportLeavesTheTargetAsItWas) {
    const std::string path = dir_.File("keep.csv");
    test::WriteBytes(path, "old content");
    EXPECT_THROW(TUserTable(*session_).ExportCsv(path, "MISSING"), oracle::EOracleError);
    EXPECT_EQ(test::ReadBytes(path), "old content");
    EXPECT_THAT(DirectoryEntries(), ElementsAre("keep.csv"));
}

TEST_F(ExportFixture, CancelledExportRemovesItsPartialFile) {
    for (int i = 0; i < 3000; ++i) Sql("INSERT INTO EMP (ID) VALUES (" + std::to_string(i) + ")");
    const std::string path = dir_.File("big.csv");
    std::vector<std::int64_t> reported;
    const auto cancel = [&](const TTransferProgress& p) {
        reported.push_back(p.rows);
        return p.rows < 2048;
    };
    EXPECT_THROW(TUserTable(*session_).ExportCsv(path, "EMP", cancel), ECancelled);
    EXPECT_THAT(reported, ElementsAre(1024, 2048));
    EXPECT_TRUE(DirectoryEntries().empty());
}

TEST_F(ExportFixture, ExportReplacesAnExistingFileWhole) {
    const std::string path = dir_.File("emp.csv");
    test::WriteBytes(path, std::string(100000, 'x'));
    std::int64_t lastRows = -1;
    TUserTable(*session_).ExportCsv(path, "EMP", [&](const TTransferProgress& p) {
        lastRows = p.rows;
        return true;
    });
    EXPECT_EQ(lastRows, 3);
    EXPECT_EQ(test::ReadBytes(path).find('x'), std::string::npos);
    EXPECT_THAT(DirectoryEntries(), ElementsAre("emp.csv"));
}

// ---- import ----

struct NumberRoundTrip {
    const char* name;
    std::string columns;
    std::vector<std::string> rows;  // the VALUES lists
    std::string decimalSymbol;
    std::string file;  // what the export writes, then again after importing it
};

std::string Nines(std::size_t count) { return std::string(count, '9'); }

// Values past a double's 15 digits used to lose digits on the way out and on the way in; short
// values must keep the text they always had.
TEST_F(UserTableTest, NumbersSurviveExportAndImportDigitForDigit) {
    const std::vector<NumberRoundTrip> cases = {
        {"Digits",
         "(ID NUMBER(19), D NUMBER(20,10), U NUMBER, W NUMBER(38))",
         {"1234567890123456789, 1234567890.0123456789, 1E-130, " + Nines(38),
          "-9223372036854775808, -0.000000001, -9." + Nines(37) + "E125, NULL",
          "999999999999999, 1000000000, 1E15, -2.5E20"},
         ".",
         "\"ID\",\"D\",\"U\",\"W\"\r\n"
         "1234567890123456789,1234567890.0123456789,1E-130," +
             Nines(38) + "\r\n-9223372036854775808,-1E-9,-9." + Nines(37) +
             "E125,\r\n999999999999999,1000000000,1E15,-2.5E20\r\n"},
        {"FifteenDigitsKeepTheirText",
         "(N NUMBER)",
         {"0.0001", "1E-5", "999999999999999", "1E15", "2.5E20", "-0.5"},
         ".",
         "\"N\"\r\n0.0001\r\n1E-5\r\n999999999999999\r\n1E15\r\n2.5E20\r\n-0.5\r\n"},
        {"TrailingZeros",
         "(A NUMBER(10,2), B NUMBER)",
         {"1.50, 100", "0.10, 1000000", "20, 1.000"},
         ".",
         "\"A\",\"B\"\r\n1.5,100\r\n0.1,1000000\r\n20,1\r\n"},
        {"FloatColumns",
         "(F FLOAT, G FLOAT(10))",
         {"0.1, 0.5", "1234567890.12345678901234567, 1234", "1E-5, -2.5E20"},
         ".",
         "\"F\",\"G\"\r\n0.1,0.5\r\n1234567890.12345678901234567,1234\r\n1E-5,-2.5E20\r\n"},
        {"DecimalComma",
         "(A NUMBER(10,2), B NUMBER(38,10), F FLOAT(10))",
         {"1234.5, 1234567890123.0123456789, 0.25", "-0.01, 7, 1E-5"},
         ",",
         "\"A\",\"B\",\"F\"\r\n\"1234,5\",\"1234567890123,0123456789\",\"0,25\"\r\n"
         "\"-0,01\",7,1E-5\r\n"},
    };
    const platform::TRegionalSettings saved = platform::RegionalSettings();
    for (const NumberRoundTrip& c : cases) {
        for (const bool oci7 : {false, true}) {
            const std::string where = std::string(c.name) + (oci7 ? " OCI7" : " OCI8");
            platform::TRegionalSettings settings = saved;
            settings.decimalSymbol = c.decimalSymbol;
            platform::SetRegionalSettings(settings);
            session_ = Logon(oci7);
            Sql("CREATE TABLE N " + c.columns);
            Sql("CREATE TABLE M " + c.columns);
            for (const std::string& row : c.rows) Sql("INSERT INTO N VALUES (" + row + ")");
            const std::string first = dir_.File("n.csv");
            const std::string second = dir_.File("m.csv");
            TUserTable(*session_).ExportCsv(first, "N");
            EXPECT_EQ(test::ReadBytes(first), c.file) << where;
            TUserTable(*session_).ImportCsv(first, "M");
            TUserTable(*session_).ExportCsv(second, "M");
            EXPECT_EQ(test::ReadBytes(second), c.file) << where;
            Sql("DROP TABLE N");
            Sql("DROP TABLE M");
        }
    }
    platform::SetRegionalSettings(saved);
}

std::string AllBytesHex() {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string hex;
    for (int b = 0; b < 256; ++b) {
        hex += kDigits[b >> 4];
        hex += kDigits[b & 15];
    }
    return hex;
}

// Each table is exported, emptied, imported and exported again: both files must be the
// expected one, whose forms are exact, so every value came back as it was.
struct TypeRoundTrip {
    const char* name;
    std::string columns;
    std::vector<std::string> rows;  // the VALUES lists
    std::string file;
};

TEST_F(UserTableTest, EveryColumnTypeSurvivesExportAndImport) {
    const std::vector<TypeRoundTrip> cases = {
        {"Timestamps",
         "(ID NUMBER(2), A TIMESTAMP(9), B TIMESTAMP(3) WITH TIME ZONE, "
         "C TIMESTAMP WITH LOCAL TIME ZONE, H TIMESTAMP(0))",
         {"1, TIMESTAMP '0001-01-01 00:00:00.123456789', "
          "TIMESTAMP '2024-02-29 13:30:05.5 +05:30', TIMESTAMP '2024-02-29 13:30:05.5 -03:30', "
          "TIMESTAMP '9999-12-31 23:59:59'",
          "2, NULL, NULL, NULL, NULL",
          "3, TIMESTAMP '9999-12-31 23:59:59.999999999', TIMESTAMP '0001-01-01 00:00:00 -12:00', "
          "TIMESTAMP '2000-01-01 00:00:00 +14:00', TIMESTAMP '1000-01-01 12:00:00'"},
         "\"ID\",\"A\",\"B\",\"C\",\"H\"\r\n"
         "1,0001-01-01 00:00:00.123456789,2024-02-29 13:30:05.500 +05:30,"
         "2024-02-29 17:00:05.500000000 +00:00,9999-12-31 23:59:59\r\n"
         "2,,,,\r\n"
         "3,9999-12-31 23:59:59.999999999,0001-01-01 00:00:00.000 -12:00,"
         "1999-12-31 10:00:00.000000000 +00:00,1000-01-01 12:00:00\r\n"},
        {"Intervals",
         "(ID NUMBER(2), D INTERVAL YEAR(4) TO MONTH, E INTERVAL DAY(3) TO SECOND(9), "
         "S INTERVAL DAY TO SECOND(0))",
         {"1, INTERVAL '-2-3' YEAR TO MONTH, '-5 04:03:02.123456789', "
          "INTERVAL '99 23:59:59' DAY TO SECOND",
          "2, NULL, NULL, NULL", "3, '+9999-11', '+999 00:00:00.000000001', '-0 00:00:01'"},
         "\"ID\",\"D\",\"E\",\"S\"\r\n"
         "1,-0002-03,-005 04:03:02.123456789,+99 23:59:59\r\n"
         "2,,,\r\n"
         "3,+9999-11,+999 00:00:00.000000001,-00 00:00:01\r\n"},
        {"BinaryFloatingPoint",
         "(ID NUMBER(2), F BINARY_FLOAT, G BINARY_DOUBLE)",
         {"1, TO_BINARY_FLOAT('NaN'), TO_BINARY_DOUBLE('NaN')",
          "2, TO_BINARY_FLOAT('INF'), TO_BINARY_DOUBLE('-INF')", "3, NULL, NULL",
          "4, TO_BINARY_FLOAT('3.4028235E38'), TO_BINARY_DOUBLE('1.7976931348623157E308')",
          "5, TO_BINARY_FLOAT('-1.4E-45'), TO_BINARY_DOUBLE('4.9E-324')",
          "6, TO_BINARY_FLOAT('0.1'), TO_BINARY_DOUBLE('0.1')",
          "7, TO_BINARY_FLOAT('1.17549435E-38'), TO_BINARY_DOUBLE('2.2250738585072014E-308')"},
         "\"ID\",\"F\",\"G\"\r\n1,Nan,Nan\r\n2,Inf,-Inf\r\n3,,\r\n"
         "4,3.4028235E+38,1.7976931348623157E+308\r\n5,-1E-45,5E-324\r\n6,0.1,0.1\r\n"
         "7,1.1754944E-38,2.2250738585072014E-308\r\n"},
        // A RAW of no bytes is NULL in Oracle, so it is written as a NULL.
        {"RawAndLong",
         "(ID NUMBER(2), R RAW(4), L LONG)",
         {"1, HEXTORAW('00FF7f'), 'two' || CHR(13) || CHR(10) || 'lines, \"quoted\"'",
          "2, HEXTORAW(''), NULL", "3, NULL, ''"},
         "\"ID\",\"R\",\"L\"\r\n1,\"00FF7F\",\"two\r\nlines, \"\"quoted\"\"\"\r\n"
         "2,\"\",\"\"\r\n3,\"\",\"\"\r\n"},
        {"LongRawEveryByte",
         "(ID NUMBER(2), LR LONG RAW)",
         {"1, HEXTORAW('" + AllBytesHex() + "')", "2, NULL"},
         "\"ID\",\"LR\"\r\n1,\"" + AllBytesHex() + "\"\r\n2,\"\"\r\n"},
    };
    for (const TypeRoundTrip& c : cases) {
        for (const bool oci7 : {false, true}) {
            const std::string where = std::string(c.name) + (oci7 ? " OCI7" : " OCI8");
            session_ = Logon(oci7);
            Sql("CREATE TABLE X " + c.columns);
            for (const std::string& row : c.rows) Sql("INSERT INTO X VALUES (" + row + ")");
            const std::string first = dir_.File("x.csv");
            const std::string second = dir_.File("y.csv");
            TUserTable tables(*session_);
            tables.ExportCsv(first, "X");
            EXPECT_EQ(test::ReadBytes(first), c.file) << where;
            tables.DeleteAll("X");
            tables.ImportCsv(first, "X");
            EXPECT_EQ(Count("X"), static_cast<std::int64_t>(c.rows.size())) << where;
            tables.ExportCsv(second, "X");
            EXPECT_EQ(test::ReadBytes(second), c.file) << where;
            Sql("DROP TABLE X");
        }
    }
}

// A NULL row of a one-column table used to become an empty line, which the import skips.
TEST_F(UserTableTest, OneColumnTablesKeepTheirNullRows) {
    const std::vector<TypeRoundTrip> cases = {
        {"Number", "(V NUMBER)", {"1", "NULL", "NULL", "4"}, "\"V\"\r\n1\r\n\"\"\r\n\"\"\r\n4\r\n"},
        {"Text", "(V VARCHAR2(5))", {"NULL", "'a'"}, "\"V\"\r\n\"\"\r\n\"a\"\r\n"},
        {"Date",
         "(V DATE)",
         {"NULL", "TO_DATE('20240101000000','YYYYMMDDHH24MISS')"},
         "\"V\"\r\n\"\"\r\n20240101000000\r\n"},
        {"Timestamp", "(V TIMESTAMP(1))", {"NULL"}, "\"V\"\r\n\"\"\r\n"},
        {"BinaryDouble", "(V BINARY_DOUBLE)", {"NULL", "1.5"}, "\"V\"\r\n\"\"\r\n1.5\r\n"},
        {"Raw", "(V RAW(2))", {"NULL"}, "\"V\"\r\n\"\"\r\n"},
        {"Long", "(V LONG)", {"NULL", "'x'"}, "\"V\"\r\n\"\"\r\n\"x\"\r\n"},
    };
    for (const TypeRoundTrip& c : cases) {
        Sql("CREATE TABLE X " + c.columns);
        for (const std::string& row : c.rows) Sql("INSERT INTO X VALUES (" + row + ")");
        const std::string path = dir_.File("x.csv");
        TUserTable tables(*session_);
        tables.ExportCsv(path, "X");
        EXPECT_EQ(test::ReadBytes(path), c.file) << c.name;
        tables.DeleteAll("X");
        tables.ImportCsv(path, "X");
        EXPECT_EQ(Count("X"), static_cast<std::int64_t>(c.rows.size())) << c.name;
        EXPECT_EQ(Count("X WHERE V IS NULL"),
                  static_cast<std::int64_t>(std::count(c.rows.begin(), c.rows.end(), "NULL")))
            << c.name;
        Sql("DROP TABLE X");
    }
}

// A BFILE points outside the database: the export refuses it before the file is touched,
// and the import takes only NULL for it.
TEST_F(UserTableTest, ColumnTheFilesCannotCarryStopsTheExportBeforeTheFile) {
    Sql("CREATE TABLE BF (ID NUMBER, F BFILE)");
    Sql("INSERT INTO BF VALUES (1, BFILENAME('DIR', 'a.txt'))");
    const std::string path = dir_.File("bf.csv");
    test::WriteBytes(path, "old content");
    EXPECT_THAT([&] { TUserTable(*session_).ExportCsv(path, "BF"); },
                ThrowsMessage<platform::Exception>(HasSubstr("列 F (BFILE)")));
    EXPECT_EQ(test::ReadBytes(path), "old content");

    test::WriteBytes(path, "\"ID\",\"F\"\r\n2,\r\n3,\"x\"\r\n");
    EXPECT_THAT([&] { TUserTable(*session_).ImportCsv(path, "BF"); },
                ThrowsMessage<ECsvError>(HasSubstr("3 行目 2 列目 (F)")));
}

TEST_F(UserTableTest, BadTypedFieldStopsTheImportNamingLineAndColumn) {
    Sql("CREATE TABLE X (ID NUMBER(2), A TIMESTAMP, B TIMESTAMP WITH TIME ZONE, "
        "E INTERVAL DAY TO SECOND, R RAW(4), F BINARY_FLOAT)");
    const std::string header = "\"ID\",\"A\",\"B\",\"E\",\"R\",\"F\"\r\n1,,,,,\r\n";
    const struct {
        std::string record;
        const char* message;
    } cases[] = {
        {"2,2024-02-30 00:00:00,,,,", "3 行目 2 列目 (A): '2024-02-30 00:00:00' は"},
        {"2,,,+1 25:00:00,,", "3 行目 4 列目 (E): '+1 25:00:00' は期間"},
        {"2,,,,\"ABC\",", "3 行目 5 列目 (R): 'ABC' は16進数"},
    };
    const std::string path = dir_.File("bad.csv");
    for (const auto& c : cases) {
        test::WriteBytes(path, header + c.record + "\r\n");
        EXPECT_THAT([&] { TUserTable(*session_).ImportCsv(path, "X"); },
                    ThrowsMessage<ECsvError>(HasSubstr(c.message)));
        session_->Rollback();
        EXPECT_EQ(Count("X"), 0) << c.message;
    }
}

struct ImportFixture : UserTableTest {
    void SetUp() override {
        UserTableTest::SetUp();
        Sql("CREATE TABLE T (ID NUMBER(9), SAL NUMBER(10,2), NAME VARCHAR2(20), D DATE)");
    }
    std::string File(const std::string& bytes) {
        const std::string path = dir_.File("in" + std::to_string(++files_) + ".csv");
        test::WriteBytes(path, bytes);
        return path;
    }
    void Import(const std::string& bytes, const TProgressCallback& progress = {}) {
        TUserTable(*session_).ImportCsv(File(bytes), "T", progress);
    }
    std::vector<std::string> TableRows() {
        return Rows("SELECT ID, SAL, NAME, TO_CHAR(D,'YYYYMMDDHH24MISS') FROM T ORDER BY ID");
    }
    int files_ = 0;
};

struct ImportCase {
    const char* name;
    std::string bytes;
    std::vector<std::string> rows;
    friend void PrintTo(const ImportCase& c, std::ostream* os) { *os << c.name; }
};

struct ImportFileCases : ImportFixture, ::testing::WithParamInterface<ImportCase> {};

TEST_P(ImportFileCases, InsertsTheRecordsAfterTheHeader) {
    Import(GetParam().bytes);
    EXPECT_EQ(TableRows(), GetParam().rows);
}

const std::string kHeader = "\"ID\",\"SAL\",\"NAME\",\"D\"";

INSTANTIATE_TEST_SUITE_P(
    Files, ImportFileCases,
    ::testing::Values(
        ImportCase{"ZeroBytes", "", {}}, ImportCase{"HeaderOnly", kHeader + "\r\n", {}},
        ImportCase{"CrLf",
                   kHeader + "\r\n1,2.5,\"a\",20240131134500\r\n2,,,\r\n",
                   {"1|2.5|a|20240131134500", "2|<null>|<null>|<null>"}},
        ImportCase{"LfOnlyWithoutFinalLineEnd",
                   kHeader + "\n1,1,\"x\",\n2,2,\"y\",",
                   {"1|1|x|<null>", "2|2|y|<null>"}},
        ImportCase{"CrOnly", kHeader + "\r1,1,x,\r", {"1|1|x|<null>"}},
        ImportCase{"EmptyLineInTheMiddleIsSkipped",
                   kHeader + "\r\n1,,,\r\n\r\n2,,,\r\n",
                   {"1|<null>|<null>|<null>", "2|<null>|<null>|<null>"}},
        ImportCase{"CtrlZEndsTheFile", kHeader + "\r\n1,,,\r\n\x1a", {"1|<null>|<null>|<null>"}},
        ImportCase{"QuotesCommasAndBreaks",
                   kHeader + "\r\n1,,\"O'Neil, \"\"J\"\"\",\r\n2,,\"a\r\nb\",\r\n",
                   {"1|<null>|O'Neil, \"J\"|<null>", "2|<null>|a\r\nb|<null>"}},
        ImportCase{"SqlTextInAStringStaysText",
                   kHeader + "\r\n1,,\"'); DROP\",\r\n",
                   {"1|<null>|'); DROP|<null>"}},
        ImportCase{"JapaneseText", kHeader + "\r\n1,,\"日本語\",\r\n", {"1|<null>|日本語|<null>"}},
        // The day a zero date time value stands for is a date like any other in a file.
        ImportCase{"ZeroDateTimeStaysADate",
                   kHeader + "\r\n1,,,18991230000000\r\n",
                   {"1|<null>|<null>|18991230000000"}},
        ImportCase{
            "ShortLineLeavesTheRestNull", kHeader + "\r\n7\r\n", {"7|<null>|<null>|<null>"}}),
    [](const auto& p) { return std::string(p.param.name); });

TEST_F(ImportFixture, ExportedTableReadsBackUnchanged) {
    Sql("INSERT INTO T VALUES (1, 1234.56, 'a,\"b\"', "
        "TO_DATE('20240229235959','YYYYMMDDHH24MISS'))");
    Sql("INSERT INTO T VALUES (2, NULL, NULL, NULL)");
    Sql("INSERT INTO T VALUES (3, -0.01, '改行' || CHR(10) || 'あり', "
        "TO_DATE('00010101000000','YYYYMMDDHH24MISS'))");
    const auto before = TableRows();
    const std::string path = dir_.File("t.csv");
    TUserTable tables(*session_);
    tables.ExportCsv(path, "T");
    tables.DeleteAll("T");
    ASSERT_EQ(Count("T"), 0);
    tables.ImportCsv(path, "T");
    EXPECT_EQ(TableRows(), before);
}

TEST_F(ImportFixture, BatchesCoverEveryRowAcrossBatchEdges) {
    std::string file = kHeader + "\r\n";
    for (int i = 1; i <= 2501; ++i) file += std::to_string(i) + ",0.5,\"n\",\r\n";
    std::vector<TTransferProgress> reported;
    Import(file, [&](const TTransferProgress& p) {
        reported.push_back(p);
        return true;
    });
    EXPECT_EQ(Count("T"), 2501);
    EXPECT_EQ(Rows("SELECT SUM(ID) FROM T").at(0), std::to_string(2501 * 2502 / 2));
    ASSERT_EQ(reported.size(), 3u);
    EXPECT_EQ(reported[0].rows, 1000);
    EXPECT_EQ(reported[2].rows, 2501);
    EXPECT_EQ(reported[2].bytes, file.size());
    EXPECT_EQ(reported[2].totalBytes, file.size());
}

// The failing row used to be guessed from the rows processed; it must be the real line.
TEST_F(ImportFixture, RowRefusedByTheDatabaseNamesItsLine) {
    std::string file = kHeader + "\r\n";
    for (int i = 1; i <= 1600; ++i) {
        file += std::to_string(i) + ",,\"" +
                (i == 1502 ? std::string("this value is far too long") : "ok") + "\",\r\n";
    }
    try {
        Import(file);
        FAIL() << "no error";
    } catch (const oracle::EOracleError& e) {
        EXPECT_EQ(e.ErrorCode(), 12899);
        EXPECT_THAT(e.what(), HasSubstr("1503 行目: ORA-12899"));
    }
}

TEST_F(ImportFixture, BadFieldStopsTheImportNamingLineAndColumn) {
    EXPECT_THAT([&] { Import(kHeader + "\r\n1,,,\r\n2,1); DELETE FROM T; --,,\r\n"); },
                ThrowsMessage<ECsvError>(HasSubstr("3 行目 2 列目 (SAL): '1); DELETE FROM T; --' "
                                                   "は数値ではありません")));
    EXPECT_THAT([&] { Import(kHeader + "\r\n1,,,2024-01-31\r\n"); },
                ThrowsMessage<ECsvError>(HasSubstr("2 行目 4 列目 (D)")));
    EXPECT_THAT([&] { Import(kHeader + "\r\n1,,,,extra\r\n"); },
                ThrowsMessage<ECsvError>(HasSubstr("2 行目: フィールドの数")));
    EXPECT_THAT([&] { Import(kHeader + "\r\n1,,,\r\n\x1a\r\n2,,,\r\n"); },
                ThrowsMessage<ECsvError>(HasSubstr("4 行目")));
}

// Records are read ahead while earlier batches execute: whatever fails first in the file is
// the error, and nothing of a failed import stays.
TEST_F(ImportFixture, FirstFailureInFileOrderStopsTheImport) {
    const auto file = [](int refusedLine, int badLine, int longLine) {
        std::string bytes = kHeader + "\r\n";
        for (int line = 2; line <= 3200; ++line) {
            std::string name = line == refusedLine ? "this value is far too long" : "ok";
            if (line == longLine) name.assign(5000, 'x');
            bytes += std::to_string(line) + "," + (line == badLine ? "x" : "1") + ",\"" + name +
                     "\",20240131134500\r\n";
        }
        return bytes;
    };
    const struct {
        std::string bytes;
        const char* message;
    } cases[] = {
        {file(1503, 2900, 0), "1503 行目: ORA-12899"},
        {file(2900, 1503, 0), "1503 行目 2 列目 (SAL): 'x' は数値ではありません"},
        {file(0, 3100, 0), "3100 行目 2 列目 (SAL)"},
        {file(0, 0, 2999), "2999 行目 3 列目 (NAME): 値が長すぎます"},
    };
    for (const auto& c : cases) {
        try {
            Import(c.bytes);
            ADD_FAILURE() << "no error: " << c.message;
        } catch (const platform::Exception& e) {
            EXPECT_THAT(e.what(), HasSubstr(c.message));
        }
        session_->Rollback();
        EXPECT_EQ(Count("T"), 0) << c.message;
    }
}

TEST_F(ImportFixture, NothingIsCommittedAndRollbackRestoresDeletedRows) {
    Sql("INSERT INTO T (ID) VALUES (99)");
    session_->Commit();
    TUserTable tables(*session_);
    tables.DeleteAll("T");
    EXPECT_THROW(tables.ImportCsv(File(kHeader + "\r\n1,,,\r\n2,x,,\r\n"), "T"), ECsvError);
    EXPECT_EQ(Count("T", true), 1) << "the import must leave the transaction to the caller";
    session_->Rollback();
    EXPECT_THAT(TableRows(), ElementsAre("99|<null>|<null>|<null>"));
}

TEST_F(ImportFixture, CancelRaisesItsOwnException) {
    std::string file = kHeader + "\r\n";
    for (int i = 1; i <= 1500; ++i) file += std::to_string(i) + ",,,\r\n";
    EXPECT_THROW(Import(file, [](const TTransferProgress&) { return false; }), ECancelled);
    session_->Rollback();
    EXPECT_EQ(Count("T"), 0);
}

TEST_F(ImportFixture, MissingFileRaisesTheFileError) {
    EXPECT_THAT([&] { TUserTable(*session_).ImportCsv(dir_.File("none.csv"), "T"); },
                ThrowsMessage<platform::Exception>(HasSubstr("ファイルが見つかりません")));
}

// ---- file encodings ----

const std::string kBom = "\xEF\xBB\xBF";
const std::string kJapaneseFile =
    "\"番号\",\"氏名\"\r\n1,\"髙﨑Ⅲ㎝～ソ表ポ\"\r\n2,\"a,\"\"b\"\"\\ｱ\"\r\n";
// The same file as Windows writes it in CP932: trail bytes 0x5C and 0x7C among the quotes.
const std::string kJapaneseCp932 =
    "\"\x94\xd4\x8d\x86\",\"\x8e\x81\x96\xbc\"\r\n"
    "1,\"\xfb\xfc\xfa\xb1\x87\x56\x87\x70\x81\x60\x83\x5c\x95\x5c\x83\x7c\"\r\n"
    "2,\"a,\"\"b\"\"\\\xb1\"\r\n";

class EncodedTransfer : public UserTableTest, public ::testing::WithParamInterface<TTextEncoding> {
protected:
    void SetUp() override {
        UserTableTest::SetUp();
        Sql("CREATE TABLE \"社員\" (\"番号\" NUMBER(5), \"氏名\" VARCHAR2(100))");
        Sql("INSERT INTO \"社員\" VALUES (1, '髙﨑Ⅲ㎝～ソ表ポ')");
        Sql("INSERT INTO \"社員\" VALUES (2, 'a,\"b\"\\ｱ')");
        session_->Commit();
    }
    std::vector<std::string> TableRows() {
        return Rows("SELECT \"番号\", \"氏名\" FROM \"社員\" ORDER BY 1");
    }
};

TEST_P(EncodedTransfer, JapaneseNamesAndWindowsCharactersRoundTrip) {
    const auto before = TableRows();
    const std::string path = dir_.File("shain.csv");
    TUserTable tables(*session_);
    tables.ExportCsv(path, "社員", {}, GetParam());
    const std::string expected = GetParam() == TTextEncoding::teCp932     ? kJapaneseCp932
                                 : GetParam() == TTextEncoding::teUtf8Bom ? kBom + kJapaneseFile
                                                                          : kJapaneseFile;
    EXPECT_EQ(test::ReadBytes(path), expected);
    tables.DeleteAll("社員");
    tables.ImportCsv(path, "社員", {}, GetParam());
    EXPECT_EQ(TableRows(), before);

    // A UTF-8 file with a byte-order mark reads the same whatever was chosen.
    test::WriteBytes(path, kBom + kJapaneseFile);
    tables.DeleteAll("社員");
    tables.ImportCsv(path, "社員", {}, GetParam());
    EXPECT_EQ(TableRows(), before);
}

std::string EncodingCaseName(const ::testing::TestParamInfo<TTextEncoding>& info) {
    static const char* const names[] = {"Utf8", "Utf8Bom", "Cp932"};
    return names[static_cast<int>(info.param)];
}

INSTANTIATE_TEST_SUITE_P(Encodings, EncodedTransfer,
                         ::testing::Values(TTextEncoding::teUtf8, TTextEncoding::teUtf8Bom,
                                           TTextEncoding::teCp932),
                         EncodingCaseName);

// An export used to be able to put "?" where CP932 has no character.
TEST_F(ExportFixture, CharacterCp932CannotHoldStopsTheExportAndKeepsTheFile) {
    Sql("INSERT INTO EMP (ID, NAME) VALUES (4, '絵文字😀です')");
    session_->Commit();
    const std::string path = dir_.File("emp.csv");
    test::WriteBytes(path, "old content");
    EXPECT_THAT([&] { TUserTable(*session_).ExportCsv(path, "EMP", {}, TTextEncoding::teCp932); },
                ThrowsMessage<platform::EConvertError>(
                    HasSubstr("4 件目の行 3 列目 (NAME): 文字 '😀' (U+1F600) は Shift-JIS (CP932) "
                              "で書けません")));
    EXPECT_EQ(test::ReadBytes(path), "old content");
    EXPECT_THAT(DirectoryEntries(), ElementsAre("emp.csv"));
}

// A Shift-JIS file read as UTF-8 used to land in the table as garbled text.
TEST_F(ImportFixture, ShiftJisFileReadAsUtf8ImportsNothing) {
    Sql("INSERT INTO T (ID) VALUES (99)");
    session_->Commit();
    std::string file = kHeader + "\r\n";
    for (int i = 1; i <= 1500; ++i) file += std::to_string(i) + ",,\"ok\",\r\n";
    file += "1501,,\"\x95\x5c\x83\x5c\",\r\n";  // 表ソ in CP932, after a full batch
    TUserTable tables(*session_);
    {
        TImportTransaction work(tables, "T", TImportMode::imReplace);
        EXPECT_THAT([&] { work.Import(File(file)); },
                    ThrowsMessage<ECsvError>(AllOf(HasSubstr("1502 行目 3 列目: UTF-8"),
                                                   HasSubstr("Shift-JIS (CP932) を選んで"))));
    }
    EXPECT_THAT(TableRows(), ElementsAre("99|<null>|<null>|<null>"));
    TImportTransaction work(tables, "T", TImportMode::imReplace);
    work.Import(File(file), {}, TTextEncoding::teCp932);
    work.Commit();
    EXPECT_EQ(Count("T", true), 1501);
    EXPECT_EQ(Rows("SELECT NAME FROM T WHERE ID=1501").at(0), "表ソ");
}

// Both interfaces: full character-width Japanese columns travel whole, and a row refused by
// the database is named by its line although the client names no failing element.
class WideTextTransfer : public UserTableTest, public ::testing::WithParamInterface<bool> {
protected:
    void SetUp() override {
        UserTableTest::SetUp();
        session_ = Logon(GetParam());
        Sql("CREATE TABLE W (ID NUMBER(9) PRIMARY KEY, NV NVARCHAR2(10), VC VARCHAR2(10 CHAR))");
    }
};

TEST_P(WideTextTransfer, FullNationalAndCharColumnsRoundTrip) {
    Sql("INSERT INTO W VALUES (1, '日本語のテキストです', 'テキストです日本語の')");
    Sql("INSERT INTO W VALUES (2, NULL, 'ａｂｃｄｅｆｇｈｉｊ')");
    const auto before = Rows("SELECT ID, NV, VC FROM W ORDER BY ID");
    const std::string path = dir_.File("w.csv");
    TUserTable tables(*session_);
    tables.ExportCsv(path, "W");
    tables.DeleteAll("W");
    tables.ImportCsv(path, "W");
    EXPECT_EQ(Rows("SELECT ID, NV, VC FROM W ORDER BY ID"), before);
    EXPECT_EQ(before.at(0), "1|日本語のテキストです|テキストです日本語の");
}

TEST_P(WideTextTransfer, DuplicateKeyNamesItsLine) {
    std::string file = "\"ID\",\"NV\",\"VC\"\r\n";
    for (int i = 1; i <= 2100; ++i)
        file += std::to_string(i == 1500 ? 7 : i) + ",\"日本語のテキストです\",\"x\"\r\n";
    const std::string path = dir_.File("dup.csv");
    test::WriteBytes(path, file);
    try {
        TUserTable(*session_).ImportCsv(path, "W");
        FAIL() << "no error";
    } catch (const oracle::EOracleError& e) {
        EXPECT_EQ(e.ErrorCode(), 1);
        EXPECT_THAT(e.what(), HasSubstr("1501 行目: ORA-00001"));
    }
}

INSTANTIATE_TEST_SUITE_P(Interfaces, WideTextTransfer, ::testing::Bool(),
                         [](const auto& p) { return std::string(p.param ? "OCI7" : "OCI8"); });

}  // namespace
}  // namespace velnor::app
