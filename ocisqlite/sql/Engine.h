// SQL engine of the stand-in client library: an Oracle dialect subset over one SQLite file
// per schema, with Oracle's semantics, describe values and error numbers.
//
// A Connection is one session; it and its statements are used by one thread at a time.
// Statements borrow their connection, which must outlive them.
#pragma once
#include <array>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;

namespace velnor::ocisqlite::sql {

// Anything the database reports: carries the Oracle error number.
class OraError : public std::exception {
public:
    OraError(int code, std::string text);  // text without the "ORA-nnnnn: " prefix
    [[nodiscard]] int Code() const noexcept { return code_; }
    [[nodiscard]] const std::string& Text() const noexcept { return text_; }
    // "ORA-00942: table or view does not exist" (no line feed).
    [[nodiscard]] const char* what() const noexcept override { return message_.c_str(); }

private:
    int code_;
    std::string text_;
    std::string message_;
};

// The statement type attribute, with the client library's numbers.
enum StatementType : int {
    stUnknown = 0,
    stSelect = 1,
    stUpdate = 2,
    stDelete = 3,
    stInsert = 4,
    stCreate = 5,
    stDrop = 6,
    stAlter = 7,
    stBegin = 8,
    stDeclare = 9,
    stRollback = 17,
    stCommit = 21,
};

// Internal type codes as a select-list describe reports them. A ROWID column is reported
// as tcRowid; the client interface maps it to what its describe shows (OCI8 104, OCI7 11).
enum TypeCode : int {
    tcVarchar2 = 1,
    tcNumber = 2,
    tcLong = 8,
    tcDate = 12,
    tcRaw = 23,
    tcLongRaw = 24,
    tcRowid = 69,
    tcChar = 96,
    tcBinaryFloat = 100,
    tcBinaryDouble = 101,
    tcTimestamp = 187,
    tcTimestampTz = 188,
    tcIntervalYm = 189,
    tcIntervalDs = 190,
    tcTimestampLtz = 232,
    tcClob = 112,  // NCLOB too, told apart by the national character set form
    tcBlob = 113,
    tcBfile = 114,
};

// A DATE broken down; year -4712..9999, never 0.
struct DateTime {
    int year = 1;
    int month = 1;
    int day = 1;
    int hour = 0;
    int minute = 0;
    int second = 0;
    int nanos = 0;         // TIMESTAMP types only
    int zone = 0;          // minutes east of UTC, TIMESTAMP WITH TIME ZONE only
    bool hasZone = false;  // a parsed text named its zone
    friend bool operator==(const DateTime&, const DateTime&) = default;
};

// The 7 bytes of external type 12. Decode raises ORA-01858-style errors for bytes that are
// no valid date (ORA-01841 year, ORA-01843 month, ORA-01847 day, ORA-01850/01851/01852 time).
[[nodiscard]] std::array<unsigned char, 7> EncodeDate(const DateTime& date);
[[nodiscard]] DateTime DecodeDate(const unsigned char* bytes);

struct Decimal;
class Connection;

// Where a LOB value read by reference lives: a column of a row of the schema file. The
// value is read when asked for, as it is then; the connection must outlive the reference.
struct LobRef {
    Connection* connection = nullptr;
    std::string table;
    std::string column;
    std::int64_t rowid = 0;
    // Fetched by SELECT ... FOR UPDATE: writable within the transaction that locked the row.
    bool locked = false;
    std::uint64_t transaction = 0;
};

// A bind value or a fetched column value. Text is bytes in the database encoding (UTF-8);
// an empty Text is NULL to the database, as in Oracle.
struct Value {
    // Numbers: Integer when integral and within int64, else Decimal (exact, Oracle's
    // internal form in `bytes`); Double only for a binary double a caller binds.
    enum class Kind : unsigned char { Null, Integer, Double, Text, Raw, Date, Decimal };
    Kind kind = Kind::Null;
    std::int64_t integer = 0;  // Kind::Integer
    double real = 0;           // Kind::Double: a BINARY_DOUBLE, or BINARY_FLOAT when integer is 1
    std::string bytes;         // Kind::Text, Kind::Raw and Kind::Decimal
    DateTime date;             // Kind::Date
    // A LOB column's value (Text for CLOB/NCLOB/BFILE, Raw for BLOB): empty bytes are an
    // empty LOB, which unlike '' is not NULL.
    bool lob = false;
    // A LOB read by reference (bytes empty): see Statement::UseLobReferences.
    std::shared_ptr<const LobRef> ref;

    [[nodiscard]] bool IsNumber() const noexcept {
        return kind == Kind::Integer || kind == Kind::Double || kind == Kind::Decimal;
    }

    [[nodiscard]] bool IsNull() const noexcept { return kind == Kind::Null; }
    static Value Null() { return {}; }
    static Value Integer(std::int64_t v);
    static Value Double(double v);
    static Value Text(std::string v);
    static Value Raw(std::string v);
    static Value Date(const DateTime& v);
    // The NUMBER holding `v` after Oracle's rounding to 38-40 digits (ORA-01426 beyond).
    static Value Number(const Decimal& v);
};

// One select-list column as describe reports it.
struct ColumnInfo {
    std::string name;       // as Oracle shows it: upper case unless quoted or aliased in quotes
    int type = tcVarchar2;  // TypeCode
    int size = 0;           // bytes: 22 NUMBER, 7 DATE, n for VARCHAR2(n)/CHAR(n)/RAW(n), 0 LONG
    int precision = 0;      // NUMBER(p,s): p; FLOAT(b): b; NUMBER and expressions: 0
    int scale = 0;          // NUMBER(p,s): s; NUMBER, FLOAT and expressions: -127
    bool nullable = true;
    int charLength = 0;          // characters for VARCHAR2/CHAR (n CHAR); else equal to size
    bool charSemantics = false;  // length declared in characters (n CHAR, NCHAR types)
    bool national = false;       // NCHAR / NVARCHAR2
};

// Oracle's conversion of a NUMBER to text (TO_CHAR without a format, string defines):
// 0.5 -> ".5", -0.5 -> "-.5", 1e20 -> "100000000000000000000", 1e100 -> "1E+100".
[[nodiscard]] std::string NumberToText(std::int64_t value);
[[nodiscard]] std::string NumberToText(double value);
// Any number Value (Integer, Double, Decimal) as Oracle writes it.
[[nodiscard]] std::string NumberToText(const Value& number);
// Text to NUMBER as TO_NUMBER does, exactly; raises ORA-01722 and ORA-01426.
[[nodiscard]] Value TextToNumber(std::string_view text);
// Date conversion with an Oracle format model (YYYY, RR, MON, HH24 ...); ORA-018xx errors.
// fraction: digits of FF for a TIMESTAMP value, -1 for a DATE (FF and zones are then no
// valid elements, ORA-01821); zone: the value has a time zone (TZH, TZM, TZR).
[[nodiscard]] std::string FormatDate(const DateTime& date, std::string_view format,
                                     int fraction = -1, bool zone = false);
[[nodiscard]] DateTime ParseDate(std::string_view text, std::string_view format,
                                 bool timestamp = false);
// FormatDate of a stored TIMESTAMP (without zone) in the model SYYYY-MM-DD HH24:MI:SS.FF,
// straight from the stored text into `out`; false when the general path is needed.
[[nodiscard]] bool FormatStoredIsoTimestamp(std::string_view stored, std::string_view format,
                                            int fraction, std::string& out);

// Where a row lives, as an extended ROWID shows it. Stand-in rows get a stable object
// number per table and file, block and slot from their SQLite rowid.
struct RowAddress {
    std::uint32_t object = 0;
    std::uint16_t file = 0;
    std::uint32_t block = 0;
    std::uint16_t slot = 0;
    friend bool operator==(const RowAddress&, const RowAddress&) = default;
};
[[nodiscard]] std::uint32_t TableObjectNumber(std::string_view table);
// ORA-01410 for a rowid no address can hold (negative or beyond 2^55).
[[nodiscard]] RowAddress AddressOfRow(std::uint32_t object, std::int64_t rowid);
// OOOOOOFFFBBBBBBRRR in Oracle's base-64 digits.
[[nodiscard]] std::string ExtendedRowIdText(const RowAddress& address);
// The SQLite rowid of `object`'s row at the address `text` names; nothing when the text is
// another object's address or one no stand-in row has. ORA-01410 for text that is no ROWID.
[[nodiscard]] std::optional<std::int64_t> RowOfRowIdText(std::uint32_t object,
                                                         std::string_view text);

class Connection;

// A prepared statement. Syntax and name errors show at Describe or Execute, as with the
// real client, whose prepare never reaches the server.
class Statement {
public:
    ~Statement();
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    [[nodiscard]] StatementType Type() const noexcept { return type_; }
    [[nodiscard]] const std::string& Sql() const noexcept { return sql_; }

    // One entry per occurrence, in order: ":name" gives "NAME" (quoted names kept), ":1"
    // gives "1". A position binds one occurrence; a name binds every occurrence of it.
    [[nodiscard]] const std::vector<std::string>& Placeholders() const noexcept {
        return placeholders_;
    }
    void Bind(int position, Value value);           // 1-based; ORA-01036 when out of range
    void Bind(std::string_view name, Value value);  // leading ':' optional; ORA-01036
    void ClearBinds();
    // For callers that bind the same placeholders row after row: the occurrences a name
    // binds (ORA-01036 when none), and an occurrence's value to fill in place, reusing its
    // storage, which marks it bound until ClearBinds.
    [[nodiscard]] std::vector<std::size_t> Occurrences(std::string_view name) const;
    [[nodiscard]] Value& BindSlot(std::size_t occurrence);

    // Select list of a query (empty for other statements); parses on first use.
    const std::vector<ColumnInfo>& Describe();
    // Runs the statement with the current binds: a query opens its cursor and returns 0,
    // DML returns the rows affected, anything else 0. ORA-01008 when a bind is missing.
    std::int64_t Execute();
    // Next row of an executed query into Row(); false when there are no more rows.
    bool Fetch();
    [[nodiscard]] const std::vector<Value>& Row() const noexcept { return row_; }
    // The row for the caller to take its values from (the next Fetch refills it).
    [[nodiscard]] std::vector<Value>& Row() noexcept { return row_; }
    [[nodiscard]] std::int64_t RowsFetched() const noexcept { return rowsFetched_; }
    // The last row the last DML execution wrote or removed; none when it touched none.
    [[nodiscard]] const std::optional<RowAddress>& LastRow() const noexcept { return lastRow_; }
    // Ends the cursor (the statement can be executed again).
    void Close() noexcept;
    // From the next Execute on, plain LOB columns of a query come as references instead of
    // values (when the query allows it), so a large value is never held whole.
    void UseLobReferences(bool on);
    [[nodiscard]] bool UsingLobReferences() const noexcept { return lobReferences_; }

    struct Impl;  // the parsed and translated form

private:
    friend class Connection;
    Statement(Connection& connection, std::string sql);
    void Parse();

    Connection& connection_;
    std::string sql_;
    StatementType type_ = stUnknown;
    std::vector<std::string> placeholders_;
    std::vector<Value> binds_;
    std::vector<bool> bound_;
    std::vector<Value> row_;
    std::int64_t rowsFetched_ = 0;
    std::optional<RowAddress> lastRow_;
    std::unique_ptr<Impl> impl_;
    bool lobReferences_ = false;
};

// One session on one schema's SQLite file (created when missing). Transactions are
// implicit: the first DML opens one, Commit or Rollback ends it, DDL commits like Oracle.
// Destroying the connection rolls back; a clean logoff calls Commit first.
class Connection {
public:
    struct Options {
        int busyTimeoutMs = 5000;  // then ORA-00054 instead of waiting for another writer
    };
    // path: <home>/oradata/<SERVICE>/<USER>.db; schema: the user name as Oracle shows it.
    Connection(const std::string& path, std::string schema, Options options);
    Connection(const std::string& path, std::string schema);
    ~Connection();
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    std::unique_ptr<Statement> Prepare(std::string_view sql);
    // Prepare, execute and, for a query, drop the rows; returns the rows affected.
    std::int64_t Execute(std::string_view sql);

    void Commit();
    void Rollback();
    [[nodiscard]] bool InTransaction() const noexcept { return inTransaction_; }

    [[nodiscard]] const std::string& Schema() const noexcept { return schema_; }
    // Session NLS_DATE_FORMAT (DD-MON-RR until ALTER SESSION changes it).
    [[nodiscard]] const std::string& DateFormat() const noexcept { return dateFormat_; }
    void SetDateFormat(std::string format);  // validated: ORA-01821 for a bad format
    // NLS_TIMESTAMP_FORMAT / NLS_TIMESTAMP_TZ_FORMAT and the session time zone (minutes
    // east of UTC; the client's local zone until ALTER SESSION SET TIME_ZONE).
    [[nodiscard]] const std::string& TimestampFormat(bool withZone) const;
    void SetTimestampFormat(bool withZone, std::string format);
    [[nodiscard]] int TimeZone() const;
    void SetTimeZone(int minutes);
    // A value of a TIMESTAMP or INTERVAL type in its stored form, as this session writes it
    // as text; and text read into that stored form. `type` gives code and precisions.
    [[nodiscard]] std::string TemporalText(std::string_view stored, int code, int precision,
                                           int scale) const;
    // A referenced LOB's size in bytes, and up to `size` of its bytes from byte `offset`;
    // ORA-22922 when its row is gone.
    [[nodiscard]] std::int64_t LobBytes(const LobRef& lob);
    std::size_t ReadLob(const LobRef& lob, std::int64_t offset, char* out, std::size_t size);
    // Replaces a referenced LOB's value (UTF-8 text or bytes) within the session's
    // transaction; ORA-22922 when its row is gone.
    void WriteLob(const LobRef& lob, const std::string& bytes, bool blob);
    // Changes with each commit or rollback: a locked LOB is writable only in its own.
    [[nodiscard]] std::uint64_t TransactionSerial() const noexcept { return transactionSerial_; }
    // A value as Oracle converts it to VARCHAR2 in this session (NLS date format, RAW in hex).
    [[nodiscard]] std::string ToText(const Value& value) const;

    // CREATE USER name IDENTIFIED BY password: the caller keeps the users file. Without a
    // handler the statement fails with ORA-01031. Names arrive as Oracle shows them.
    std::function<void(const std::string& user, const std::string& password)> OnCreateUser;

    struct Impl;
    [[nodiscard]] Impl& Internals() noexcept { return *impl_; }

private:
    friend class Statement;
    void BeginIfNeeded();
    void CommitDdl();

    std::string schema_;
    std::string dateFormat_ = "DD-MON-RR";
    bool inTransaction_ = false;
    std::uint64_t transactionSerial_ = 0;
    std::unique_ptr<Impl> impl_;
};

// Creates the demo schema on a connection and commits: DEPT, EMP, SALGRADE, BONUS with the
// classic rows, ALL_TYPES (a column of every supported type, NULLs, Japanese text; LONG RAW
// lives in LONG_RAWS, as a table holds only one LONG column), DOCS (CLOB, NCLOB and BLOB:
// NULL, empty and a Japanese document of several kilobytes) and
// BIG_TABLE with `bigRows` rows. Raises ORA-00955 when a table already exists.
void SeedDemo(Connection& connection, std::int64_t bigRows = 100000);

}  // namespace velnor::ocisqlite::sql
