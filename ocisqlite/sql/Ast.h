// Parsed form of a statement of the dialect.
#pragma once
#include <memory>
#include <string>
#include <vector>

namespace velnor::ocisqlite::sql {

// Deepest nesting of expressions and query blocks the parser and the translator follow;
// deeper statements fail with ORA-03001 instead of running out of stack. SQLite's own
// parser refuses SQL nested far less deeply than this.
inline constexpr int kMaxNesting = 200;

struct Query;

struct Expr {
    enum class Kind {
        Number,  // text: the literal
        String,  // text: the content
        Null,
        Default,  // DEFAULT in VALUES or SET
        Column,   // text: name; qualifier: table or alias; schema: owner
        Bind,     // bindIndex: occurrence
        Negate,   // args[0]
        Arith,    // text: + - * /; args[0], args[1]
        Concat,   // args[0], args[1]
        Compare,  // text: = != < <= > >=; args[0], args[1]
        And,
        Or,
        Not,
        IsNull,    // negated: IS NOT NULL
        Like,      // args: value, pattern[, escape]
        In,        // args[0] value, then the list; or query
        Between,   // args: value, low, high
        Exists,    // query
        Subquery,  // query (scalar)
        Function,  // text: upper-cased name; star: COUNT(*); distinct
        Case,      // args: [subject], when, then, ..., [else]; flags below
    };
    Kind kind = Kind::Null;
    std::string text;
    std::string qualifier;
    std::string schema;
    int bindIndex = -1;
    bool negated = false;
    bool star = false;
    bool distinct = false;
    bool caseHasSubject = false;
    bool caseHasElse = false;
    std::vector<std::unique_ptr<Expr>> args;
    std::unique_ptr<Query> query;
};
using ExprPtr = std::unique_ptr<Expr>;

struct SelectItem {
    ExprPtr expr;         // null for * and t.*
    std::string alias;    // empty when none
    std::string display;  // the column name Oracle derives from the expression text
    bool star = false;
    std::string starQualifier;
};

struct TableRef {
    std::string schema;
    std::string name;
    std::string alias;
    std::unique_ptr<Query> subquery;
};

struct Select {
    bool distinct = false;
    std::vector<SelectItem> items;
    std::vector<TableRef> from;
    ExprPtr where;
    std::vector<ExprPtr> groupBy;
    ExprPtr having;
};

struct OrderItem {
    ExprPtr expr;
    bool descending = false;
    int nulls = 0;  // 0 Oracle's default, 1 NULLS FIRST, 2 NULLS LAST
};

struct Query {
    std::vector<Select> parts;
    std::vector<std::string> operators;  // between parts: UNION ALL, UNION, MINUS, INTERSECT
    std::vector<OrderItem> orderBy;
};

struct TypeSpec {
    std::string name;  // NUMBER, FLOAT, VARCHAR2, CHAR, DATE, LONG, RAW, LONG RAW
    int length = -1;   // precision for NUMBER/FLOAT, size for the others; -1 when absent
    int scale = -1;    // -1 when absent
    bool charSemantics = false;
    bool starPrecision = false;
};

struct ColumnDef {
    std::string name;
    TypeSpec type;
    std::string defaultSql;  // source text of DEFAULT, empty when none
    bool notNull = false;
    std::string notNullName;
};

struct TableConstraint {
    std::string name;
    char kind = 'U';  // P primary key, U unique
    std::vector<std::string> columns;
};

struct ParsedStatement {
    enum class Kind {
        Select,
        Insert,
        Update,
        Delete,
        CreateTable,
        DropTable,
        CreateUser,
        AlterSession,
        Commit,
        Rollback,
    };
    Kind kind = Kind::Select;
    std::unique_ptr<Query> query;              // SELECT, INSERT ... SELECT
    bool forUpdate = false;                    // SELECT ... FOR UPDATE: its rows are locked
    int lockWaitMs = -1;                       // NOWAIT 0, WAIT n; -1 the session's wait
    TableRef table;                            // INSERT, UPDATE, DELETE, CREATE, DROP
    std::vector<std::string> columns;          // INSERT column list, UPDATE targets
    std::vector<ExprPtr> values;               // INSERT VALUES, UPDATE SET expressions
    ExprPtr where;                             // UPDATE, DELETE
    std::vector<ColumnDef> columnDefs;         // CREATE TABLE
    std::vector<TableConstraint> constraints;  // CREATE TABLE
    std::string user, password;                // CREATE USER
    std::vector<std::pair<std::string, std::string>> settings;  // ALTER SESSION
};

}  // namespace velnor::ocisqlite::sql
