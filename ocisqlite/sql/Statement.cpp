#include <cmath>

#include "ocisqlite/sql/Convert.h"
#include "ocisqlite/sql/Internals.h"
#include "ocisqlite/sql/Lexer.h"
#include "ocisqlite/sql/Parser.h"

namespace velnor::ocisqlite::sql {

namespace {

std::string Upper(std::string_view s) {
    std::string out(s);
    for (char& c : out)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return out;
}

[[noreturn]] void Inconsistent(const char* expected, const Value& got) {
    const char* word = got.kind == Value::Kind::Date   ? "DATE"
                       : got.kind == Value::Kind::Raw  ? "BINARY"
                       : got.kind == Value::Kind::Text ? "CHAR"
                                                       : "NUMBER";
    Fail(932, std::string("inconsistent datatypes: expected ") + expected + " got " + word);
}

void CheckLength(const std::string& text, const SqlType& t) {
    if (t.owner.empty() || t.code == tcLong || t.code == tcLongRaw || t.IsLob()) return;
    std::size_t actual = t.charSemantics ? CharCount(text) : text.size();
    int maximum = t.charSemantics ? t.charLength : t.size;
    if (actual > static_cast<std::size_t>(maximum))
        Fail(12899, "value too large for column " + t.owner + " (actual: " +
                        std::to_string(actual) + ", maximum: " + std::to_string(maximum) + ")");
}

// The value as SQLite receives it for a place of type `t`. Text dates use the session format.
// A bound value for a TIMESTAMP, INTERVAL or binary floating point place, in stored form.
void ConvertSpecialBind(const Value& in, const SqlType& t, const SessionState& session,
                        Value& out) {
    if (t.IsBinaryFloat()) {
        bool single = t.code == tcBinaryFloat;
        double v = 0;
        if (in.kind == Value::Kind::Text)
            v = TextToBinary(in.bytes, single);
        else if (in.IsNumber())
            v = in.kind == Value::Kind::Double ? in.real : std::stod(NumberToText(in));
        else
            Inconsistent("BINARY_DOUBLE", in);
        if (single) v = static_cast<double>(static_cast<float>(v));
        out = std::isnan(v) ? Value::Text("NaN") : Value::Double(v);
        return;
    }
    if (in.kind != Value::Kind::Text && in.kind != Value::Kind::Date)
        Inconsistent(t.IsInterval() ? "INTERVAL" : "TIMESTAMP", in);
    if (t.IsInterval()) {
        if (in.kind != Value::Kind::Text) Inconsistent("INTERVAL", in);
        out = Value::Integer(ParseInterval(in.bytes, t.code, t.precision, t.scale));
        return;
    }
    DateTime d = in.kind == Value::Kind::Date
                     ? in.date
                     : ParseDate(in.bytes,
                                 t.code == tcTimestampTz ? session.timestampTzFormat
                                                         : session.timestampFormat,
                                 true);
    out = Value::Text(StoredTimestamp(d, t.code, t.scale, session.timeZone));
}

// Text into CLOB/NCLOB and raw bytes (or hexadecimal text) into BLOB, of any length.
void ConvertLobBind(const Value& in, const SqlType& t, Value& out) {
    const char* expected = t.code == tcBlob ? "BLOB" : t.code == tcBfile ? "FILE" : "CLOB";
    if (in.lob && (in.kind == Value::Kind::Raw) != (t.code == tcBlob)) Inconsistent(expected, in);
    if (t.code == tcBfile) Inconsistent(expected, in);
    if (t.code == tcBlob) {
        if (in.kind == Value::Kind::Raw)
            out = in;
        else if (in.kind == Value::Kind::Text)
            out = Value::Raw(HexToRaw(in.bytes));
        else
            Inconsistent(expected, in);
    } else if (in.kind == Value::Kind::Text) {
        out = in;
    } else if (in.kind == Value::Kind::Double) {
        out = Value::Text(NumberToText(in.real));
    } else if (in.IsNumber()) {
        out = Value::Text(NumberToText(in));
    } else {
        Inconsistent(expected, in);
    }
    // Only a locator carries an empty LOB; empty bound data is NULL.
    if (out.bytes.empty() && !in.lob) out = Value::Null();
}

// The value as SQLite receives it for a place of type `t`: `in` itself when it needs no
// change (never for a query, whose cursor reads its binds after Execute), else `out`.
const Value& ConvertBind(const Value& in, const SqlType& t, const SessionState& session, Value& out,
                         bool mayAlias) {
    const std::string& dateFormat = session.dateFormat;
    bool empty = (in.kind == Value::Kind::Text || in.kind == Value::Kind::Raw) &&
                 in.bytes.empty() && !(in.lob && t.IsLob());
    if (in.IsNull() || empty) {
        out.kind = Value::Kind::Null;
        return out;
    }
    if (mayAlias) {
        // The common column binds, checked without a copy.
        if (t.IsNumber() && (in.kind == Value::Kind::Integer || in.kind == Value::Kind::Decimal)) {
            const bool rounds = !t.owner.empty() && (t.Constrained() || t.IsFloat());
            if (rounds ? StoresAsIs(in, t.precision, t.scale) : StoresAsIs(in, 0, 0)) return in;
        }
        if (in.kind == Value::Kind::Text && (t.code == tcVarchar2 || t.code == 0) &&
            in.bytes.size() <= 4000 && !in.lob) {
            CheckLength(in.bytes, t);
            return in;
        }
    }
    // Text over 4000 bytes binds only into a LONG or LOB column, never into an expression.
    if (in.kind == Value::Kind::Text && in.bytes.size() > 4000 && t.owner.empty() &&
        (t.code == tcVarchar2 || t.code == tcChar))
        Fail(1460, "unimplemented or unreasonable conversion requested");
    if (t.code == 0) {
        if (in.kind == Value::Kind::Date) {
            if (!ValidDate(in.date))
                Fail(1841, "(full) year must be between -4713 and +9999, and not be 0");
            out = Value::Text(StoredDate(in.date));
        } else if (in.kind == Value::Kind::Double) {
            out = NormalizeNumber(in.real);
        } else if (in.kind == Value::Kind::Decimal) {
            // A value of unknown type is text to SQL; this text reads back exactly.
            out = Value::Text(ExactText(Fit(DecimalOf(in))));
        } else {
            out = in;
        }
        return out;
    }
    if (t.IsNumber()) {
        Value n;
        switch (in.kind) {
            case Value::Kind::Integer:
                n = in;
                break;
            case Value::Kind::Double:
                n = NormalizeNumber(in.real);
                break;
            case Value::Kind::Decimal:
                n = Value::Number(DecimalOf(in));
                break;
            case Value::Kind::Text:
                n = TextToNumber(in.bytes);
                break;
            default:
                Inconsistent("NUMBER", in);
        }
        if (!t.owner.empty() && t.Constrained())
            out = RoundNumber(n, t.precision, t.scale);
        else if (!t.owner.empty() && t.IsFloat())
            out = RoundNumber(n, t.precision, kFloatScale);
        else
            out = n;
        return out;
    }
    if (t.IsBinaryFloat() || t.IsTimestamp() || t.IsInterval()) {
        ConvertSpecialBind(in, t, session, out);
        return out;
    }
    if (t.IsLob()) {
        ConvertLobBind(in, t, out);
        return out;
    }
    if (t.IsDate()) {
        DateTime d;
        switch (in.kind) {
            case Value::Kind::Date:
                d = in.date;
                break;
            case Value::Kind::Text:
                d = ParseDate(in.bytes, dateFormat);
                break;
            default:
                Inconsistent("DATE", in);
        }
        if (!ValidDate(d)) Fail(1841, "(full) year must be between -4713 and +9999, and not be 0");
        out.kind = Value::Kind::Text;
        out.bytes.clear();
        AppendStoredDate(out.bytes, d);
        return out;
    }
    if (t.IsRaw()) {
        switch (in.kind) {
            case Value::Kind::Raw:
                out = in;
                break;
            case Value::Kind::Text:
                out = Value::Raw(HexToRaw(in.bytes));
                break;
            default:
                Inconsistent("BINARY", in);
        }
        CheckLength(out.bytes, t);
        if (out.bytes.empty()) out.kind = Value::Kind::Null;
        return out;
    }
    // Character places.
    if (in.kind == Value::Kind::Text) {
        out.kind = Value::Kind::Text;
        out.bytes.assign(in.bytes);
    } else if (in.kind == Value::Kind::Double) {
        out = Value::Text(NumberToText(in.real));  // a bound C double travels as a NUMBER
    } else {
        out = Value::Text(ValueText(in, dateFormat));
    }
    CheckLength(out.bytes, t);
    if (t.code == tcChar && !t.owner.empty()) {
        std::size_t have = t.charSemantics ? CharCount(out.bytes) : out.bytes.size();
        std::size_t want = static_cast<std::size_t>(t.charSemantics ? t.charLength : t.size);
        if (have < want) out.bytes.append(want - have, ' ');
    }
    return out;
}

}  // namespace

Statement::Statement(Connection& connection, std::string sql)
    : connection_(connection), sql_(std::move(sql)), impl_(std::make_unique<Impl>()) {
    type_ = static_cast<StatementType>(StatementTypeOf(sql_));
    try {
        for (const Token& t : Tokenize(sql_))
            if (t.kind == Token::Kind::Bind) placeholders_.push_back(t.text);
    } catch (const OraError&) {
        // Reported when the statement is described or executed, as the server would.
        placeholders_.clear();
    }
    binds_.resize(placeholders_.size());
    bound_.assign(placeholders_.size(), false);
}

Statement::~Statement() {
    if (impl_->stmt) sqlite3_finalize(impl_->stmt);
    if (impl_->other) sqlite3_finalize(impl_->other);
}

void Statement::UseLobReferences(bool on) {
    Parse();
    Impl& im = *impl_;
    if (on == lobReferences_ || (on && im.translation.lobs.sql.empty())) return;
    Close();
    if (!im.other) {
        Connection::Impl& c = connection_.Internals();
        const std::string& q = on ? im.translation.lobs.sql : im.translation.sql;
        int rc = sqlite3_prepare_v3(c.db, q.c_str(), static_cast<int>(q.size()),
                                    SQLITE_PREPARE_PERSISTENT, &im.other, nullptr);
        if (rc != SQLITE_OK) RaiseSqlite(c, connection_.Schema(), rc, im.statement.kind);
    }
    std::swap(im.stmt, im.other);
    lobReferences_ = on;
}

void Statement::Bind(int position, Value value) {
    if (position < 1 || position > static_cast<int>(binds_.size()))
        Fail(1036, "illegal variable name/number");
    binds_[static_cast<std::size_t>(position - 1)] = std::move(value);
    bound_[static_cast<std::size_t>(position - 1)] = true;
}

void Statement::Bind(std::string_view name, Value value) {
    if (!name.empty() && name[0] == ':') name.remove_prefix(1);
    // Called for every column of every row: compared in place, the value moved to the
    // last placeholder of that name and copied only to earlier repeats.
    const auto fold = [](char c) {
        return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
    };
    const auto same = [&](const std::string& p) {
        if (p.size() != name.size()) return false;
        for (std::size_t k = 0; k < p.size(); ++k)
            if (fold(p[k]) != fold(name[k])) return false;
        return true;
    };
    const std::size_t none = placeholders_.size();
    std::size_t last = none;
    for (std::size_t i = 0; i < placeholders_.size(); ++i) {
        if (!same(placeholders_[i])) continue;
        if (last != none) {
            binds_[last] = value;
            bound_[last] = true;
        }
        last = i;
    }
    if (last == none) Fail(1036, "illegal variable name/number");
    binds_[last] = std::move(value);
    bound_[last] = true;
}

void Statement::ClearBinds() {
    // Storage stays for the next values (array binds clear once per row), unless a large
    // LONG or LOB value would stay held with it.
    constexpr std::size_t kKeptBytes = 64 * 1024;
    for (Value& v : binds_) {
        v.kind = Value::Kind::Null;
        v.lob = false;
        if (v.ref) v.ref.reset();
        if (v.bytes.capacity() > kKeptBytes) std::string().swap(v.bytes);
    }
    bound_.assign(bound_.size(), false);
}

Value& Statement::BindSlot(std::size_t occurrence) {
    if (occurrence >= binds_.size()) Fail(1036, "illegal variable name/number");
    bound_[occurrence] = true;
    return binds_[occurrence];
}

std::vector<std::size_t> Statement::Occurrences(std::string_view name) const {
    if (!name.empty() && name[0] == ':') name.remove_prefix(1);
    const auto fold = [](char c) {
        return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
    };
    std::vector<std::size_t> out;
    for (std::size_t i = 0; i < placeholders_.size(); ++i) {
        const std::string& p = placeholders_[i];
        if (p.size() != name.size()) continue;
        std::size_t k = 0;
        while (k < p.size() && fold(p[k]) == fold(name[k])) ++k;
        if (k == p.size()) out.push_back(i);
    }
    if (out.empty()) Fail(1036, "illegal variable name/number");
    return out;
}

void Statement::Parse() {
    Impl& im = *impl_;
    if (im.parsed) return;
    Connection::Impl& c = connection_.Internals();
    c.catalog.Refresh(c.db, connection_.Schema());
    if (type_ == stBegin || type_ == stDeclare) Fail(3001, "unimplemented feature");
    std::vector<Token> tokens = Tokenize(sql_);
    if (tokens.size() == 1) Fail(900, "invalid SQL statement");
    im.statement = ParseStatement(sql_, tokens);
    switch (im.statement.kind) {
        case ParsedStatement::Kind::Select:
        case ParsedStatement::Kind::Insert:
        case ParsedStatement::Kind::Update:
        case ParsedStatement::Kind::Delete: {
            im.translation =
                Translate(im.statement, c.catalog, connection_.Schema(), connection_.DateFormat(),
                          static_cast<int>(placeholders_.size()));
            const std::string& q = im.translation.sql;
            int rc = sqlite3_prepare_v3(c.db, q.c_str(), static_cast<int>(q.size()),
                                        SQLITE_PREPARE_PERSISTENT, &im.stmt, nullptr);
            if (rc != SQLITE_OK) RaiseSqlite(c, connection_.Schema(), rc, im.statement.kind);
            row_.assign(im.translation.columns.size(), Value());
            break;
        }
        default:
            break;
    }
    im.converted.assign(placeholders_.size(), Value());
    im.parsed = true;
}

const std::vector<ColumnInfo>& Statement::Describe() {
    Parse();
    return impl_->translation.columns;
}

void Statement::Close() noexcept {
    connection_.Internals().CloseLob();  // its shared lock would hold off other writers
    if (impl_->stmt) sqlite3_reset(impl_->stmt);
    impl_->open = impl_->pending = false;
    impl_->done = true;
}

namespace {

void BindOne(sqlite3_stmt* stmt, int n, const Value& v) {
    switch (v.kind) {
        case Value::Kind::Null:
        case Value::Kind::Date:  // converted before
            sqlite3_bind_null(stmt, n);
            break;
        case Value::Kind::Integer:
            sqlite3_bind_int64(stmt, n, v.integer);
            break;
        case Value::Kind::Double:
            sqlite3_bind_double(stmt, n, v.real);
            break;
        case Value::Kind::Text:
            sqlite3_bind_text(stmt, n, v.bytes.data(), static_cast<int>(v.bytes.size()),
                              SQLITE_STATIC);
            break;
        case Value::Kind::Raw:
        case Value::Kind::Decimal:
            sqlite3_bind_blob(stmt, n, v.bytes.data(), static_cast<int>(v.bytes.size()),
                              SQLITE_STATIC);
            break;
    }
}

}  // namespace

std::int64_t Statement::Execute() {
    Parse();
    Impl& im = *impl_;
    Connection::Impl& c = connection_.Internals();
    Close();
    rowsFetched_ = 0;
    for (bool b : bound_)
        if (!b) Fail(1008, "not all variables bound");
    c.state.timeKnown = false;  // SYSDATE reads the clock once per execution, when used
    using Kind = ParsedStatement::Kind;
    Kind kind = im.statement.kind;
    if (kind == Kind::Select || kind == Kind::Insert || kind == Kind::Update ||
        kind == Kind::Delete) {
        // Close reset the statement: bound in place. DML steps to its end within this call,
        // so SQLite may read the bind values themselves.
        const bool mayAlias = kind != Kind::Select;
        for (std::size_t i = 0; i < binds_.size(); ++i)
            BindOne(im.stmt, static_cast<int>(i + 1),
                    ConvertBind(binds_[i], im.translation.bindTypes[i], c.state, im.converted[i],
                                mayAlias));
        if (kind == Kind::Select) {
            // Locking rows is writing: the lock lasts to the end of the transaction.
            if (im.statement.forUpdate) {
                const int wait = im.statement.lockWaitMs;
                if (wait >= 0) sqlite3_busy_timeout(c.db, wait);
                try {
                    connection_.BeginIfNeeded();
                } catch (...) {
                    sqlite3_busy_timeout(c.db, c.busyTimeoutMs);
                    throw;
                }
                sqlite3_busy_timeout(c.db, c.busyTimeoutMs);
            }
            int rc = sqlite3_step(im.stmt);
            if (rc == SQLITE_ROW) {
                im.pending = true;
                im.done = false;
            } else if (rc == SQLITE_DONE) {
                im.done = true;
                sqlite3_reset(im.stmt);
            } else {
                sqlite3_reset(im.stmt);
                RaiseSqlite(c, connection_.Schema(), rc, kind);
            }
            im.open = true;
            return 0;
        }
        connection_.BeginIfNeeded();
        c.lastRow.reset();
        lastRow_.reset();
        int rc = sqlite3_step(im.stmt);
        lastRow_ = c.lastRow;
        if (rc != SQLITE_DONE) {
            int code = sqlite3_extended_errcode(c.db);
            sqlite3_reset(im.stmt);
            if (sqlite3_get_autocommit(c.db)) connection_.inTransaction_ = false;
            RaiseSqlite(c, connection_.Schema(), rc == SQLITE_ERROR ? code : rc, kind);
        }
        std::int64_t changes = sqlite3_changes64(c.db);
        sqlite3_reset(im.stmt);
        return changes;
    }
    switch (kind) {
        case Kind::CreateTable:
        case Kind::DropTable: {
            connection_.CommitDdl();
            c.Exec("BEGIN IMMEDIATE");
            try {
                if (kind == Kind::CreateTable)
                    c.catalog.CreateTable(c.db, connection_.Schema(), im.statement);
                else
                    c.catalog.DropTable(c.db, im.statement.table.name);
                c.Exec("COMMIT");
            } catch (...) {
                sqlite3_exec(c.db, "ROLLBACK", nullptr, nullptr, nullptr);
                c.catalog.Invalidate();
                throw;
            }
            return 0;
        }
        case Kind::CreateUser:
            connection_.CommitDdl();
            if (!connection_.OnCreateUser) Fail(1031, "insufficient privileges");
            connection_.OnCreateUser(im.statement.user, im.statement.password);
            return 0;
        case Kind::AlterSession: {
            // Plain references: clang 14 cannot capture structured bindings in the lambda.
            for (const auto& setting : im.statement.settings) {
                const std::string& name = setting.first;
                const std::string& value = setting.second;
                std::string v = Upper(value);
                auto invalid = [&] {
                    std::string lower = name;
                    for (char& ch : lower)
                        if (ch >= 'A' && ch <= 'Z') ch = static_cast<char>(ch - 'A' + 'a');
                    Fail(96, "invalid value " + value + " for parameter " + lower);
                };
                if (name == "NLS_DATE_FORMAT") {
                    connection_.SetDateFormat(value);
                } else if (name == "NLS_TIMESTAMP_FORMAT" || name == "NLS_TIMESTAMP_TZ_FORMAT") {
                    connection_.SetTimestampFormat(name == "NLS_TIMESTAMP_TZ_FORMAT", value);
                } else if (name == "TIME_ZONE") {
                    if (v == "LOCAL")
                        connection_.SetTimeZone(LocalZone());
                    else
                        connection_.SetTimeZone(ParseZoneOffset(value));
                } else if (name == "NLS_LANGUAGE" || name == "NLS_DATE_LANGUAGE") {
                    if (v != "AMERICAN" && v != "ENGLISH")
                        Fail(12705,
                             "Cannot access NLS data files or invalid environment specified");
                } else if (name == "NLS_TERRITORY") {
                    if (v != "AMERICA")
                        Fail(12705,
                             "Cannot access NLS data files or invalid environment specified");
                } else if (name == "NLS_NUMERIC_CHARACTERS") {
                    if (value != ".,") Fail(3001, "unimplemented feature");
                } else if (name == "NLS_SORT" || name == "NLS_COMP") {
                    if (v != "BINARY") Fail(3001, "unimplemented feature");
                } else if (name == "NLS_LENGTH_SEMANTICS") {
                    if (v != "BYTE") Fail(3001, "unimplemented feature");
                } else if (name == "SQL_TRACE") {
                    if (v != "TRUE" && v != "FALSE") invalid();
                } else if (name == "OPTIMIZER_GOAL" || name == "OPTIMIZER_MODE") {
                    if (v != "CHOOSE" && v != "FIRST_ROWS" && v != "ALL_ROWS" && v != "RULE" &&
                        v.rfind("FIRST_ROWS_", 0) != 0)
                        invalid();
                } else if (name == "ISOLATION_LEVEL") {
                    if (v != "READ COMMITTED" && v != "SERIALIZABLE")
                        Fail(2248, "invalid option for ALTER SESSION");
                } else if (name == "CURRENT_SCHEMA") {
                    if (v != connection_.Schema()) Fail(3001, "unimplemented feature");
                } else if (name == "TIME_ZONE" || name == "NLS_TIMESTAMP_FORMAT" ||
                           name == "NLS_TIMESTAMP_TZ_FORMAT" || name == "NLS_CALENDAR" ||
                           name == "NLS_CURRENCY" || name == "NLS_ISO_CURRENCY" ||
                           name == "CURSOR_SHARING" || name == "STATISTICS_LEVEL") {
                    // No effect on what this engine stores or shows.
                } else {
                    Fail(2248, "invalid option for ALTER SESSION");
                }
            }
            return 0;
        }
        case Kind::Commit:
            connection_.Commit();
            return 0;
        case Kind::Rollback:
            connection_.Rollback();
            return 0;
        default:
            return 0;
    }
}

bool Statement::Fetch() {
    Impl& im = *impl_;
    if (!im.open) Fail(1002, "fetch out of sequence");
    if (im.pending) {
        im.pending = false;
    } else {
        if (im.done) return false;
        int rc = sqlite3_step(im.stmt);
        if (rc == SQLITE_DONE) {
            im.done = true;
            sqlite3_reset(im.stmt);
            return false;
        }
        if (rc != SQLITE_ROW) {
            im.done = true;
            sqlite3_reset(im.stmt);
            RaiseSqlite(connection_.Internals(), connection_.Schema(), rc, im.statement.kind);
        }
    }
    sqlite3_stmt* s = im.stmt;
    const std::vector<SqlType>& types = im.translation.columnTypes;
    for (std::size_t i = 0; i < row_.size(); ++i) {
        Value& v = row_[i];
        int col = static_cast<int>(i);
        v.ref.reset();
        if (lobReferences_ && im.translation.lobs.rowidColumn[i] >= 0) {
            // typeof() of the column and the rowid of its row.
            const std::string_view kind(reinterpret_cast<const char*>(sqlite3_column_text(s, col)));
            v.bytes.clear();
            if (kind == "null") {
                v.kind = Value::Kind::Null;
                v.lob = false;
                continue;
            }
            v.kind = types[i].code == tcBlob ? Value::Kind::Raw : Value::Kind::Text;
            v.lob = true;
            auto ref = std::make_shared<LobRef>();
            ref->connection = &connection_;
            ref->table = im.translation.lobs.source[i].first;
            ref->column = im.translation.lobs.source[i].second;
            ref->rowid = sqlite3_column_int64(s, im.translation.lobs.rowidColumn[i]);
            ref->locked = im.statement.forUpdate;
            ref->transaction = connection_.TransactionSerial();
            v.ref = std::move(ref);
            continue;
        }
        int st = sqlite3_column_type(s, col);
        v.lob = false;
        if (st == SQLITE_NULL) {
            v.kind = Value::Kind::Null;
            continue;
        }
        const SqlType& t = types[i];
        auto text = [&] {
            auto p = reinterpret_cast<const char*>(sqlite3_column_text(s, col));
            return std::string_view(p, static_cast<std::size_t>(sqlite3_column_bytes(s, col)));
        };
        if (t.IsLob()) {
            // Empty stays an empty LOB, which is not NULL.
            const bool blob = st == SQLITE_BLOB;
            v.kind = t.code == tcBlob ? Value::Kind::Raw : Value::Kind::Text;
            v.lob = true;
            if (blob) {
                auto p = static_cast<const char*>(sqlite3_column_blob(s, col));
                v.bytes.assign(p ? p : "", static_cast<std::size_t>(sqlite3_column_bytes(s, col)));
            } else {
                std::string_view tv = text();
                v.bytes.assign(tv.data(), tv.size());
            }
        } else if (t.IsNumber()) {
            if (st == SQLITE_INTEGER) {
                v.kind = Value::Kind::Integer;
                v.integer = sqlite3_column_int64(s, col);
            } else if (st == SQLITE_FLOAT) {
                v = NormalizeNumber(sqlite3_column_double(s, col));  // files of older versions
            } else if (st == SQLITE_TEXT) {
                v = TextToNumber(text());
            } else {
                auto p = static_cast<const char*>(sqlite3_column_blob(s, col));
                v.kind = Value::Kind::Decimal;
                v.bytes.assign(p, static_cast<std::size_t>(sqlite3_column_bytes(s, col)));
            }
        } else if (t.IsDate()) {
            auto d = st == SQLITE_TEXT ? ParseStoredDate(text()) : std::nullopt;
            if (!d) Fail(1858, "a non-numeric character was found where a numeric was expected");
            v.kind = Value::Kind::Date;
            v.date = *d;
        } else if (t.IsBinaryFloat()) {
            // NaN is kept as text, which SQLite orders after every number, as Oracle does.
            v.kind = Value::Kind::Double;
            v.real = st == SQLITE_TEXT ? std::nan("") : sqlite3_column_double(s, col);
            v.integer = t.code == tcBinaryFloat ? 1 : 0;
        } else if (t.IsTimestamp() || t.IsInterval()) {
            v.kind = Value::Kind::Text;
            v.bytes = connection_.TemporalText(text(), t.code, t.precision, t.scale);
        } else if (t.IsRaw()) {
            auto p = static_cast<const char*>(sqlite3_column_blob(s, col));
            v.kind = Value::Kind::Raw;
            v.bytes.assign(p, static_cast<std::size_t>(sqlite3_column_bytes(s, col)));
        } else {
            if (st == SQLITE_TEXT) {
                std::string_view tv = text();
                if (tv.empty()) {
                    v.kind = Value::Kind::Null;
                    continue;
                }
                v.kind = Value::Kind::Text;
                v.bytes.assign(tv.data(), tv.size());
            } else if (st == SQLITE_INTEGER) {
                v.kind = Value::Kind::Text;
                v.bytes = NumberToText(static_cast<std::int64_t>(sqlite3_column_int64(s, col)));
            } else if (st == SQLITE_FLOAT) {
                v.kind = Value::Kind::Text;
                v.bytes = NumberToText(sqlite3_column_double(s, col));
            } else {
                auto p = static_cast<const char*>(sqlite3_column_blob(s, col));
                v.kind = Value::Kind::Text;
                v.bytes = RawToHex(
                    std::string_view(p, static_cast<std::size_t>(sqlite3_column_bytes(s, col))));
            }
        }
    }
    ++rowsFetched_;
    return true;
}

}  // namespace velnor::ocisqlite::sql
