#include <algorithm>
#include <cstdlib>
#include <mutex>
#include <set>

#include "ocisqlite/sql/Convert.h"
#include "ocisqlite/sql/Internals.h"
#include "ocisqlite/sql/Lexer.h"

namespace velnor::ocisqlite::sql {

namespace {

std::vector<std::string> SplitList(const std::string& s, const std::string& separator) {
    std::vector<std::string> out;
    std::size_t b = 0;
    while (true) {
        std::size_t e = s.find(separator, b);
        out.push_back(s.substr(b, e == std::string::npos ? std::string::npos : e - b));
        if (e == std::string::npos) return out;
        b = e + separator.size();
    }
}

void RowChanged(void* context, int, const char*, const char* table, sqlite3_int64 rowid) {
    auto* c = static_cast<Connection::Impl*>(context);
    try {
        // Array DML writes one table row after row: its number is worked out once.
        if (c->lastRowTable != table) {
            c->lastRowTable = table;
            c->lastRowObject = TableObjectNumber(table);
        }
        c->lastRow = AddressOfRow(c->lastRowObject, rowid);
    } catch (const OraError&) {
        c->lastRow.reset();
    }
}

}  // namespace

void RaiseSqlite(Connection::Impl& c, const std::string& schema, int rc,
                 ParsedStatement::Kind kind) {
    std::string msg = sqlite3_errmsg(c.db);
    if (msg.rfind("ORA-", 0) == 0 && msg.size() > 11 && msg[9] == ':')
        Fail(std::stoi(msg.substr(4, 5)), msg.substr(11));
    int primary = rc & 0xFF;
    if (primary == SQLITE_BUSY || primary == SQLITE_LOCKED)
        Fail(54, "resource busy and acquire with NOWAIT specified or timeout expired");
    if (rc == SQLITE_CONSTRAINT_NOTNULL) {
        // "NOT NULL constraint failed: T.C"
        std::string what = msg.substr(msg.find(": ") + 2);
        std::size_t dot = what.find('.');
        std::string owner =
            "\"" + schema + "\".\"" + what.substr(0, dot) + "\".\"" + what.substr(dot + 1) + "\"";
        if (kind == ParsedStatement::Kind::Update)
            Fail(1407, "cannot update (" + owner + ") to NULL");
        Fail(1400, "cannot insert NULL into (" + owner + ")");
    }
    if (rc == SQLITE_CONSTRAINT_UNIQUE || rc == SQLITE_CONSTRAINT_PRIMARYKEY) {
        // "UNIQUE constraint failed: T.A, T.B"
        std::string what = msg.substr(msg.find(": ") + 2);
        std::vector<std::string> columns;
        std::string table;
        for (const std::string& part : SplitList(what, ", ")) {
            std::size_t dot = part.find('.');
            table = part.substr(0, dot);
            columns.push_back(part.substr(dot + 1));
        }
        std::string name = "SYS_C0000000";
        if (const TableMeta* t = c.catalog.Find(table)) {
            for (const TableConstraint& k : t->constraints) {
                std::vector<std::string> a = k.columns, b = columns;
                std::sort(a.begin(), a.end());
                std::sort(b.begin(), b.end());
                if (a == b) name = k.name;
            }
        }
        Fail(1, "unique constraint (" + schema + "." + name + ") violated");
    }
    if (msg.rfind("no such table", 0) == 0) Fail(942, "table or view does not exist");
    if (msg.rfind("no such column: ", 0) == 0)
        Fail(904, "\"" + msg.substr(16) + "\": invalid identifier");
    if (msg == "integer overflow") Fail(1426, "numeric overflow");
    // Checked on the value at run time, as in Oracle.
    if (msg == "ESCAPE expression must be a single character")
        Fail(1425, "escape character must be character string of length 1");
    // SQLite's limits on the SQL it is given, met before Oracle's.
    if (msg.rfind("too many arguments on function", 0) == 0)
        Fail(939, "too many arguments for function");
    if (msg == "parser stack overflow" || msg.rfind("Expression tree is too large", 0) == 0 ||
        msg.rfind("too many terms in compound SELECT", 0) == 0 ||
        msg.rfind("at most 64 tables in a join", 0) == 0)
        Fail(3001, "unimplemented feature");
    if (primary == SQLITE_FULL) Fail(1653, "unable to extend table: the disk is full");
    if (primary == SQLITE_READONLY) Fail(16000, "database open for read-only access");
    if (primary == SQLITE_IOERR) Fail(1114, "IO error writing block to file: " + msg);
    Fail(600, "internal error code, arguments: [sqlite], [" + msg + "]");
}

void Connection::Impl::Exec(const char* sql) {
    int rc = sqlite3_exec(db, sql, nullptr, nullptr, nullptr);
    if (rc != SQLITE_OK) RaiseSqlite(*this, "", rc, ParsedStatement::Kind::Select);
}

Connection::Connection(const std::string& path, std::string schema)
    : Connection(path, std::move(schema), Options()) {}

Connection::Connection(const std::string& path, std::string schema, Options options)
    : schema_(std::move(schema)), impl_(std::make_unique<Impl>()) {
    // Memory statistics take a global mutex on every SQLite allocation, several per row
    // written; nothing here reads them. Only possible before SQLite is first used.
    static std::once_flag configured;
    std::call_once(configured, [] { sqlite3_config(SQLITE_CONFIG_MEMSTATUS, 0); });
    impl_->busyTimeoutMs = options.busyTimeoutMs;
    int rc =
        sqlite3_open_v2(path.c_str(), &impl_->db,
                        SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, nullptr);
    if (rc != SQLITE_OK) {
        std::string msg = impl_->db ? sqlite3_errmsg(impl_->db) : "out of memory";
        sqlite3_close_v2(impl_->db);
        impl_->db = nullptr;
        Fail(1034, "ORACLE not available: " + msg + ": " + path);
    }
    try {
        sqlite3_extended_result_codes(impl_->db, 1);
        sqlite3_busy_timeout(impl_->db, options.busyTimeoutMs);
        impl_->Exec("PRAGMA journal_mode=WAL");
        impl_->Exec("PRAGMA synchronous=NORMAL");
        impl_->Exec("PRAGMA case_sensitive_like=ON");
        RegisterFunctions(impl_->db, &impl_->state);
        sqlite3_update_hook(impl_->db, RowChanged, impl_.get());
        // The session time zone follows the client: ORA_SDTZ when it holds an offset.
        impl_->state.timeZone = LocalZone();
        if (const char* sdtz = std::getenv("ORA_SDTZ"); sdtz && (*sdtz == '+' || *sdtz == '-'))
            impl_->state.timeZone = ParseZoneOffset(sdtz);
        Catalog::Initialize(impl_->db);
        impl_->catalog.Refresh(impl_->db, schema_);
    } catch (...) {
        sqlite3_close_v2(impl_->db);
        impl_->db = nullptr;
        throw;
    }
}

Connection::~Connection() {
    if (!impl_->db) return;
    impl_->CloseLob();
    if (inTransaction_) sqlite3_exec(impl_->db, "ROLLBACK", nullptr, nullptr, nullptr);
    sqlite3_close_v2(impl_->db);
}

std::unique_ptr<Statement> Connection::Prepare(std::string_view sql) {
    return std::unique_ptr<Statement>(new Statement(*this, std::string(sql)));
}

std::int64_t Connection::Execute(std::string_view sql) {
    auto s = Prepare(sql);
    std::int64_t rows = s->Execute();
    s->Close();
    return rows;
}

void Connection::BeginIfNeeded() {
    if (inTransaction_) return;
    impl_->Exec("BEGIN IMMEDIATE");
    inTransaction_ = true;
}

void Connection::Commit() {
    impl_->CloseLob();
    ++transactionSerial_;
    if (!inTransaction_) return;
    impl_->Exec("COMMIT");
    inTransaction_ = false;
}

void Connection::Rollback() {
    impl_->CloseLob();
    ++transactionSerial_;
    if (!inTransaction_) return;
    inTransaction_ = false;
    if (sqlite3_get_autocommit(impl_->db)) return;  // SQLite already rolled back after an I/O error
    impl_->Exec("ROLLBACK");
}

void Connection::CommitDdl() { Commit(); }

void Connection::SetDateFormat(std::string format) {
    ValidateDateFormat(format);
    dateFormat_ = format;
    impl_->state.dateFormat = std::move(format);
}

std::string Connection::ToText(const Value& value) const { return ValueText(value, dateFormat_); }

const std::string& Connection::TimestampFormat(bool withZone) const {
    return withZone ? impl_->state.timestampTzFormat : impl_->state.timestampFormat;
}

void Connection::SetTimestampFormat(bool withZone, std::string format) {
    (void)FormatDate(DateTime{}, format, 9, withZone);  // ORA-01821 for a bad model
    (withZone ? impl_->state.timestampTzFormat : impl_->state.timestampFormat) = std::move(format);
}

int Connection::TimeZone() const { return impl_->state.timeZone; }
void Connection::SetTimeZone(int minutes) { impl_->state.timeZone = minutes; }

std::string Connection::TemporalText(std::string_view stored, int code, int precision,
                                     int scale) const {
    if (code == tcIntervalYm || code == tcIntervalDs)
        return IntervalText(std::stoll(std::string(stored)), code, precision, scale);
    auto d = ParseStoredTimestamp(stored, code, TimeZone());
    if (!d) Fail(1858, "a non-numeric character was found where a numeric was expected");
    return FormatDate(*d, TimestampFormat(code == tcTimestampTz), scale, code == tcTimestampTz);
}

}  // namespace velnor::ocisqlite::sql

namespace velnor::ocisqlite::sql {

namespace {

sqlite3_blob* OpenLob(Connection::Impl& c, const LobRef& lob) {
    const bool same = c.lobBlob && c.lobOpen.table == lob.table && c.lobOpen.column == lob.column &&
                      c.lobOpen.rowid == lob.rowid;
    if (same) return c.lobBlob;
    c.CloseLob();
    if (sqlite3_blob_open(c.db, "main", lob.table.c_str(), lob.column.c_str(), lob.rowid, 0,
                          &c.lobBlob) != SQLITE_OK) {
        c.CloseLob();
        Fail(22922, "nonexistent LOB value");
    }
    c.lobOpen = lob;
    return c.lobBlob;
}

}  // namespace

std::int64_t Connection::LobBytes(const LobRef& lob) {
    return sqlite3_blob_bytes(OpenLob(*impl_, lob));
}

std::size_t Connection::ReadLob(const LobRef& lob, std::int64_t offset, char* out,
                                std::size_t size) {
    sqlite3_blob* blob = OpenLob(*impl_, lob);
    const std::int64_t total = sqlite3_blob_bytes(blob);
    if (offset >= total || size == 0) return 0;
    const auto n = static_cast<int>(std::min<std::int64_t>(
        {total - offset, static_cast<std::int64_t>(size), std::int64_t{1} << 30}));
    if (sqlite3_blob_read(blob, out, n, static_cast<int>(offset)) != SQLITE_OK) {
        impl_->CloseLob();  // the row changed since: read it afresh
        blob = OpenLob(*impl_, lob);
        if (sqlite3_blob_read(blob, out, n, static_cast<int>(offset)) != SQLITE_OK)
            Fail(22922, "nonexistent LOB value");
    }
    return static_cast<std::size_t>(n);
}

void Connection::WriteLob(const LobRef& lob, const std::string& bytes, bool blob) {
    impl_->CloseLob();
    BeginIfNeeded();
    auto quote = [](const std::string& name) {
        std::string q = "\"";
        for (char c : name) q += c == '"' ? std::string("\"\"") : std::string(1, c);
        return q + "\"";
    };
    const std::string sql =
        "UPDATE " + quote(lob.table) + " SET " + quote(lob.column) + " = ?1 WHERE rowid = ?2";
    sqlite3_stmt* stmt = nullptr;
    int rc =
        sqlite3_prepare_v2(impl_->db, sql.c_str(), static_cast<int>(sql.size()), &stmt, nullptr);
    if (rc != SQLITE_OK) RaiseSqlite(*impl_, schema_, rc, ParsedStatement::Kind::Update);
    // An empty CLOB is '' and an empty BLOB X'': neither is NULL.
    if (blob)
        sqlite3_bind_blob64(stmt, 1, bytes.data(), bytes.size(), SQLITE_TRANSIENT);
    else
        sqlite3_bind_text64(stmt, 1, bytes.data(), bytes.size(), SQLITE_TRANSIENT, SQLITE_UTF8);
    sqlite3_bind_int64(stmt, 2, lob.rowid);
    rc = sqlite3_step(stmt);
    const int code = sqlite3_extended_errcode(impl_->db);
    const auto changes = sqlite3_changes64(impl_->db);
    sqlite3_finalize(stmt);
    if (rc != SQLITE_DONE) {
        if (sqlite3_get_autocommit(impl_->db)) inTransaction_ = false;
        RaiseSqlite(*impl_, schema_, rc == SQLITE_ERROR ? code : rc, ParsedStatement::Kind::Update);
    }
    if (changes == 0) Fail(22922, "nonexistent LOB value");
}

}  // namespace velnor::ocisqlite::sql
