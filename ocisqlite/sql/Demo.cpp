// The demo schema: the classic department and employee tables, a table of every type
// (LONG RAW in its own table) and a large table, created through the engine itself.
#include <cstdio>
#include <string>

#include "ocisqlite/sql/Engine.h"

namespace velnor::ocisqlite::sql {

namespace {

const char* const kTables[] = {
    "CREATE TABLE DEPT (DEPTNO NUMBER(2) CONSTRAINT PK_DEPT PRIMARY KEY, DNAME VARCHAR2(14),"
    " LOC VARCHAR2(13))",
    "CREATE TABLE EMP (EMPNO NUMBER(4) CONSTRAINT PK_EMP PRIMARY KEY, ENAME VARCHAR2(10),"
    " JOB VARCHAR2(9), MGR NUMBER(4), HIREDATE DATE, SAL NUMBER(7,2), COMM NUMBER(7,2),"
    " DEPTNO NUMBER(2))",
    "CREATE TABLE BONUS (ENAME VARCHAR2(10), JOB VARCHAR2(9), SAL NUMBER, COMM NUMBER)",
    "CREATE TABLE SALGRADE (GRADE NUMBER, LOSAL NUMBER, HISAL NUMBER)",
    "CREATE TABLE ALL_TYPES (ID NUMBER(5) PRIMARY KEY, N NUMBER, N_10_2 NUMBER(10,2),"
    " I INTEGER, F FLOAT, VC VARCHAR2(40), VCC VARCHAR2(10 CHAR), C CHAR(10), D DATE, L LONG,"
    " R RAW(16))",
    // Oracle allows one LONG or LONG RAW column per table.
    "CREATE TABLE LONG_RAWS (ID NUMBER(5) PRIMARY KEY, LR LONG RAW)",
    "CREATE TABLE DOCS (ID NUMBER, TITLE VARCHAR2(40), BODY CLOB, NOTE NCLOB, IMAGE BLOB)",
    "CREATE TABLE BIG_TABLE (ID NUMBER(10) PRIMARY KEY, NAME VARCHAR2(30),"
    " AMOUNT NUMBER(12,2), CREATED DATE)",
};

const char* const kRows[] = {
    "INSERT INTO DEPT VALUES (10, 'ACCOUNTING', 'NEW YORK')",
    "INSERT INTO DEPT VALUES (20, 'RESEARCH', 'DALLAS')",
    "INSERT INTO DEPT VALUES (30, 'SALES', 'CHICAGO')",
    "INSERT INTO DEPT VALUES (40, 'OPERATIONS', 'BOSTON')",
    "INSERT INTO EMP VALUES (7369, 'SMITH', 'CLERK', 7902, TO_DATE('17-12-1980', 'DD-MM-YYYY'),"
    " 800, NULL, 20)",
    "INSERT INTO EMP VALUES (7499, 'ALLEN', 'SALESMAN', 7698,"
    " TO_DATE('20-2-1981', 'DD-MM-YYYY'), 1600, 300, 30)",
    "INSERT INTO EMP VALUES (7521, 'WARD', 'SALESMAN', 7698, TO_DATE('22-2-1981', 'DD-MM-YYYY'),"
    " 1250, 500, 30)",
    "INSERT INTO EMP VALUES (7566, 'JONES', 'MANAGER', 7839, TO_DATE('2-4-1981', 'DD-MM-YYYY'),"
    " 2975, NULL, 20)",
    "INSERT INTO EMP VALUES (7654, 'MARTIN', 'SALESMAN', 7698,"
    " TO_DATE('28-9-1981', 'DD-MM-YYYY'), 1250, 1400, 30)",
    "INSERT INTO EMP VALUES (7698, 'BLAKE', 'MANAGER', 7839, TO_DATE('1-5-1981', 'DD-MM-YYYY'),"
    " 2850, NULL, 30)",
    "INSERT INTO EMP VALUES (7782, 'CLARK', 'MANAGER', 7839, TO_DATE('9-6-1981', 'DD-MM-YYYY'),"
    " 2450, NULL, 10)",
    "INSERT INTO EMP VALUES (7788, 'SCOTT', 'ANALYST', 7566, TO_DATE('19-4-1987', 'DD-MM-YYYY'),"
    " 3000, NULL, 20)",
    "INSERT INTO EMP VALUES (7839, 'KING', 'PRESIDENT', NULL,"
    " TO_DATE('17-11-1981', 'DD-MM-YYYY'), 5000, NULL, 10)",
    "INSERT INTO EMP VALUES (7844, 'TURNER', 'SALESMAN', 7698,"
    " TO_DATE('8-9-1981', 'DD-MM-YYYY'), 1500, 0, 30)",
    "INSERT INTO EMP VALUES (7876, 'ADAMS', 'CLERK', 7788, TO_DATE('23-5-1987', 'DD-MM-YYYY'),"
    " 1100, NULL, 20)",
    "INSERT INTO EMP VALUES (7900, 'JAMES', 'CLERK', 7698, TO_DATE('3-12-1981', 'DD-MM-YYYY'),"
    " 950, NULL, 30)",
    "INSERT INTO EMP VALUES (7902, 'FORD', 'ANALYST', 7566, TO_DATE('3-12-1981', 'DD-MM-YYYY'),"
    " 3000, NULL, 20)",
    "INSERT INTO EMP VALUES (7934, 'MILLER', 'CLERK', 7782, TO_DATE('23-1-1982', 'DD-MM-YYYY'),"
    " 1300, NULL, 10)",
    "INSERT INTO SALGRADE VALUES (1, 700, 1200)",
    "INSERT INTO SALGRADE VALUES (2, 1201, 1400)",
    "INSERT INTO SALGRADE VALUES (3, 1401, 2000)",
    "INSERT INTO SALGRADE VALUES (4, 2001, 3000)",
    "INSERT INTO SALGRADE VALUES (5, 3001, 9999)",
    "INSERT INTO ALL_TYPES VALUES (1, 12345.678, 1234.56, 42, 3.25, 'Plain ASCII text',"
    " '日本語テキスト', 'CHAR', TO_DATE('20240131134500', 'YYYYMMDDHH24MISS'),"
    " 'A long value', HEXTORAW('DEADBEEF'))",
    "INSERT INTO ALL_TYPES VALUES (2, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL,"
    " NULL)",
    "INSERT INTO ALL_TYPES VALUES (3, -0.5, -99999999.99, -7, 2.5E20, 'Quote '' and, comma',"
    " 'カタカナ', 'ｶﾅ', TO_DATE('0999-01-01 00:00:00', 'YYYY-MM-DD HH24:MI:SS'),"
    " '東京都', HEXTORAW('00FF'))",
    "INSERT INTO LONG_RAWS VALUES (1, HEXTORAW('0102030405'))",
    "INSERT INTO LONG_RAWS VALUES (2, NULL)",
    "INSERT INTO DOCS VALUES (1, 'NULL', NULL, NULL, NULL)",
    "INSERT INTO DOCS VALUES (2, 'Empty', EMPTY_CLOB(), EMPTY_CLOB(), EMPTY_BLOB())",
};

}  // namespace

void SeedDemo(Connection& connection, std::int64_t bigRows) {
    for (const char* sql : kTables) connection.Execute(sql);
    for (const char* sql : kRows) connection.Execute(sql);
    {
        // A document of several kilobytes of Japanese text and an image of every byte value.
        std::string body;
        for (int i = 0; i < 400; ++i) body += "日本語の文書、第" + std::to_string(i) + "段落。\n";
        std::string image;
        for (int i = 0; i < 256; ++i) image += static_cast<char>(i);
        auto doc = connection.Prepare("INSERT INTO DOCS VALUES (3, '日本語', :1, :2, :3)");
        doc->Bind(1, Value::Text(body));
        std::size_t cut = 300;  // on a character boundary
        while ((static_cast<unsigned char>(body[cut]) & 0xC0) == 0x80) --cut;
        doc->Bind(2, Value::Text("ノート：" + body.substr(0, cut)));
        doc->Bind(3, Value::Raw(image));
        doc->Execute();
    }
    auto insert = connection.Prepare(
        "INSERT INTO BIG_TABLE (ID, NAME, AMOUNT, CREATED) VALUES (:1, :2, :3, :4)");
    for (std::int64_t i = 1; i <= bigRows; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "Row %lld", static_cast<long long>(i));
        insert->Bind(1, Value::Integer(i));
        insert->Bind(2, Value::Text(name));
        insert->Bind(3, Value::Double(static_cast<double>(i) * 1.25));
        DateTime d{2000 + static_cast<int>(i % 25), static_cast<int>(i % 12) + 1,
                   static_cast<int>(i % 28) + 1,    static_cast<int>(i % 24),
                   static_cast<int>(i % 60),        static_cast<int>((i * 7) % 60)};
        insert->Bind(4, Value::Date(d));
        insert->Execute();
    }
    connection.Commit();
}

}  // namespace velnor::ocisqlite::sql
