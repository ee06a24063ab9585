#include "ocisqlite/Cursor.h"

#include <cctype>
#include <cstring>
#include <limits>
#include <string_view>

#include "ocisqlite/ClientCharset.h"
#include "ocisqlite/Connection.h"
#include "ocisqlite/ExternalTypes.h"
#include "ocisqlite/Handles.h"

namespace velnor::ocisqlite {
namespace {

std::string LeadingKeyword(const std::string& sql) {
    std::size_t i = 0;
    for (;;) {
        while (i < sql.size() &&
               (std::isspace(static_cast<unsigned char>(sql[i])) || sql[i] == '('))
            ++i;
        if (sql.compare(i, 2, "--") == 0) {
            i = sql.find('\n', i);
            if (i == std::string::npos) return {};
        } else if (sql.compare(i, 2, "/*") == 0) {
            i = sql.find("*/", i + 2);
            if (i == std::string::npos) return {};
            i += 2;
        } else {
            break;
        }
    }
    std::string word;
    while (i < sql.size() && std::isalpha(static_cast<unsigned char>(sql[i])))
        word += static_cast<char>(std::toupper(static_cast<unsigned char>(sql[i++])));
    return word;
}

template <class T>
T* At(T* base, ub4 skip, ub4 row) {
    if (!base) return nullptr;
    return reinterpret_cast<T*>(reinterpret_cast<unsigned char*>(base) +
                                static_cast<std::size_t>(skip) * row);
}

// The binding form of a placeholder name: upper case unless quoted.
std::string PlaceholderName(std::string_view name) {
    if (!name.empty() && name.front() == ':') name.remove_prefix(1);
    std::string out(name);
    if (!out.empty() && out.front() == '"') return out;
    for (auto& c : out) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return out;
}

}  // namespace

TCursorCore::TCursorCore() = default;

TCursorCore::~TCursorCore() { Release(); }

void TCursorCore::Release() noexcept {
    if (statement_ && connection_) statement_->Close();  // ends a LOB read it left open
    statement_.reset();
    if (connection_) connection_->Untrack(this);
    connection_ = nullptr;
    session_ = nullptr;
    queryOpen_ = false;
    described_ = false;
}

void TCursorCore::Prepare(std::string sql) {
    Release();
    sql_ = FromClient(sql, ClientCharset());  // statement text is in the client character set
    prepared_ = true;
    executed_ = false;
    exhausted_ = false;
    rowCount_ = 0;
    lastFetchRows_ = 0;
    executedType_ = -1;
    binds_.clear();
    defines_.clear();
    row_.clear();
}

int TCursorCore::StatementType() const noexcept {
    if (statement_) return statement_->Type();
    const std::string word = LeadingKeyword(sql_);
    if (word == "SELECT" || word == "WITH") return OCI_STMT_SELECT;
    if (word == "UPDATE") return OCI_STMT_UPDATE;
    if (word == "DELETE") return OCI_STMT_DELETE;
    if (word == "INSERT") return OCI_STMT_INSERT;
    if (word == "CREATE") return OCI_STMT_CREATE;
    if (word == "DROP") return OCI_STMT_DROP;
    if (word == "ALTER") return OCI_STMT_ALTER;
    if (word == "BEGIN") return OCI_STMT_BEGIN;
    if (word == "DECLARE") return OCI_STMT_DECLARE;
    if (word == "COMMIT") return sql::stCommit;
    if (word == "ROLLBACK") return sql::stRollback;
    return OCI_STMT_UNKNOWN;
}

ub2 FunctionCodeOf(int statementType) noexcept {
    switch (statementType) {
        case OCI_STMT_SELECT:
            return 4;
        case OCI_STMT_INSERT:
            return 3;
        case OCI_STMT_UPDATE:
            return 5;
        case OCI_STMT_DELETE:
            return 9;
        case OCI_STMT_CREATE:
            return 1;
        case OCI_STMT_DROP:
            return 8;
        case OCI_STMT_ALTER:
            return 26;
        case OCI_STMT_BEGIN:
        case OCI_STMT_DECLARE:
            return 34;
        case sql::stCommit:
            return 54;
        case sql::stRollback:
            return 55;
        default:
            return 0;
    }
}

ub2 TCursorCore::FunctionCode() const noexcept {
    return executedType_ < 0 ? 0 : FunctionCodeOf(executedType_);
}

TBindSpec& TCursorCore::BindByName(std::string name) {
    const std::string key = PlaceholderName(name);
    for (auto& b : binds_)
        if (!b->name.empty() && b->name == key) return *b;
    binds_.push_back(std::make_unique<TBindSpec>());
    binds_.back()->name = key;
    return *binds_.back();
}

TBindSpec& TCursorCore::BindByPosition(ub4 position) {
    for (auto& b : binds_)
        if (b->name.empty() && b->position == position) return *b;
    binds_.push_back(std::make_unique<TBindSpec>());
    binds_.back()->position = position;
    return *binds_.back();
}

TDefineSpec& TCursorCore::Define(ub4 position) {
    if (TDefineSpec* d = DefineAt(position)) {
        *d = TDefineSpec{};
        d->position = position;
        return *d;
    }
    defines_.push_back(std::make_unique<TDefineSpec>());
    defines_.back()->position = position;
    return *defines_.back();
}

TDefineSpec* TCursorCore::DefineAt(ub4 position) {
    for (auto& d : defines_)
        if (d->position == position) return d.get();
    return nullptr;
}

void TCursorCore::EnsureStatement(TConnection& connection) {
    if (!prepared_) throw OraError(24337);
    if (statement_ && connection_ == &connection) return;
    Release();
    statement_ = connection.Sql().Prepare(sql_);
    ++statementSerial_;
    connection_ = &connection;
    session_ = &connection.Sql();
    connection.Track(this);
}

const std::vector<sql::ColumnInfo>& TCursorCore::Describe(TConnection& connection) {
    EnsureStatement(connection);
    const auto& columns = statement_->Describe();
    described_ = true;
    return columns;
}

void TCursorCore::ApplyBinds(ub4 element, bool fresh) {
    // Later elements of one execution bind the same placeholders: no clearing between them.
    if (fresh) statement_->ClearBinds();
    for (const auto& b : binds_) {
        const ub4 stride = b->valueSkip ? b->valueSkip : static_cast<ub4>(b->valueSize);
        const sb2* ind = At(b->indicators, b->indicatorSkip, element);
        const bool null = ind && *ind == -1;
        const ub2* len = At(b->lengths, b->lengthSkip, element);
        const std::size_t size = len ? *len : static_cast<std::size_t>(b->valueSize);
        const void* data =
            null ? nullptr : At(static_cast<unsigned char*>(b->value), stride, element);
        if (b->slotsFor != statementSerial_) {
            try {
                if (b->name.empty())
                    b->slots.assign(1, static_cast<std::size_t>(b->position) - 1);
                else
                    b->slots = statement_->Occurrences(b->name);
                (void)statement_->BindSlot(b->slots.back());  // range check
            } catch (const sql::OraError&) {
                // A bad value is reported before an unknown placeholder.
                if (data) (void)ReadExternal(b->type, data, size);
                throw;
            }
            b->slotsFor = statementSerial_;
        }
        sql::Value& value = statement_->BindSlot(b->slots.back());
        if (data) {
            ReadExternal(b->type, data, size, value);
        } else if (!fresh) {
            value.kind = sql::Value::Kind::Null;
            value.lob = false;
            value.ref.reset();
        }
        if (ub2* code = At(b->codes, b->codeSkip, element)) *code = 0;
        for (std::size_t k = 0; k + 1 < b->slots.size(); ++k)
            statement_->BindSlot(b->slots[k]) = value;
    }
}

void TCursorCore::ExecuteDml(TConnection& connection, ub4 first, ub4 last, ub4& failedElement) {
    EnsureStatement(connection);
    queryOpen_ = false;
    rowCount_ = 0;
    lastRow_.reset();
    executedType_ = statement_->Type();
    for (ub4 element = first; element < last; ++element) {
        failedElement = element;
        ApplyBinds(element, element == first);
        const std::int64_t rows = statement_->Execute();
        if (rows > 0) rowCount_ += static_cast<ub8>(rows);
        if (statement_->LastRow()) lastRow_ = statement_->LastRow();
    }
    executed_ = true;
}

void TCursorCore::OpenQuery(TConnection& connection) {
    EnsureStatement(connection);
    executedType_ = statement_->Type();
    lastRow_.reset();
    ApplyBinds(0);
    statement_->Close();
    // LOB columns are read by reference, never held whole, unless a define wants the value.
    statement_->UseLobReferences(!LobValuesWanted());
    statement_->Execute();
    firstFetchDone_ = false;
    executed_ = true;
    queryOpen_ = true;
    exhausted_ = false;
    rowCount_ = 0;
    lastFetchRows_ = 0;
    row_.clear();
}

bool TCursorCore::LobValuesWanted() const {
    const auto& columns = statement_->Describe();
    for (const auto& d : defines_) {
        if (d->position == 0 || d->position > columns.size()) continue;
        const int type = columns[d->position - 1].type;
        if (type != sql::tcClob && type != sql::tcBlob && type != sql::tcBfile) continue;
        if (d->type != SQLT_CLOB && d->type != SQLT_BLOB && d->type != SQLT_BFILE) return true;
    }
    return false;
}

TFetchOutcome TCursorCore::Fetch(ub4 rows) {
    TFetchOutcome outcome;
    if (!queryOpen_) throw OraError(1002);
    if (!firstFetchDone_) {
        // Defines made after the execution may want LOB values: run again in that form.
        firstFetchDone_ = true;
        if (LobValuesWanted() && statement_->UsingLobReferences()) {
            statement_->UseLobReferences(false);
            ApplyBinds(0);
            statement_->Execute();
        }
    }
    lastFetchRows_ = 0;
    while (outcome.rows < rows && !exhausted_) {
        if (!statement_->Fetch()) {
            exhausted_ = true;
            break;
        }
        // Taken, not copied: a LOB value may be large. The statement refills every value.
        std::vector<sql::Value>& next = statement_->Row();
        if (row_.size() == next.size()) {
            row_.swap(next);
        } else {
            row_.resize(next.size());
            for (std::size_t i = 0; i < next.size(); ++i) row_[i] = std::move(next[i]);
        }
        DeliverRow(outcome.rows, outcome);
        ++outcome.rows;
        ++rowCount_;
    }
    lastFetchRows_ = outcome.rows;
    outcome.exhausted = exhausted_;
    return outcome;
}

void TCursorCore::DeliverRow(ub4 row, TFetchOutcome& outcome) {
    for (const auto& d : defines_) {
        if (d->position == 0 || d->position > row_.size()) continue;
        const sql::Value& value = row_[d->position - 1];
        sb2* ind = At(d->indicators, d->indicatorSkip, row);
        ub2* len = At(d->lengths, d->lengthSkip, row);
        ub2* code = At(d->codes, d->codeSkip, row);
        if (d->dynamic) {
            // Pieces: the callback hands out buffers until the value is delivered.
            const std::string bytes = value.IsNull() ? std::string() : ValueBytes(value, *session_);
            std::size_t done = 0;
            ub1 piece = OCI_FIRST_PIECE;
            do {
                void* buf = nullptr;
                ub4* alen = nullptr;
                void* indp = nullptr;
                ub2* rcode = nullptr;
                const sb4 rc = d->callback(d->callbackContext, d->handle, row, &buf, &alen, &piece,
                                           &indp, &rcode);
                if (rc != OCI_CONTINUE) throw OraError(rc < 0 ? -rc : rc);
                const std::size_t room = alen ? *alen : 0;
                const std::size_t n = std::min(room, bytes.size() - done);
                if (n && buf) std::memcpy(buf, bytes.data() + done, n);
                done += n;
                if (alen) *alen = static_cast<ub4>(n);
                if (indp) *static_cast<sb2*>(indp) = value.IsNull() ? -1 : 0;
                if (rcode) *rcode = 0;
                piece = OCI_NEXT_PIECE;
                if (room == 0) break;  // a callback without room ends the value
            } while (done < bytes.size());
            continue;
        }
        void* buffer = At(static_cast<unsigned char*>(d->value),
                          d->valueSkip ? d->valueSkip : static_cast<ub4>(d->valueSize), row);
        if (d->type == SQLT_CLOB || d->type == SQLT_BLOB || d->type == SQLT_BFILE) {
            const sql::ColumnInfo& column = statement_->Describe()[d->position - 1];
            if (column.type != d->type && !(d->type == SQLT_BFILE && column.type == sql::tcBfile))
                throw OraError(932, {d->type == SQLT_BLOB ? "BLOB" : "CLOB", "-"});
            if (buffer) FillLocator(buffer, value, column);
            if (value.IsNull()) {
                if (ind)
                    *ind = -1;
                else
                    outcome.rowError = 1405;
            } else if (ind) {
                *ind = 0;
            }
            if (len) *len = static_cast<ub2>(sizeof(void*));
            if (code) *code = value.IsNull() ? 1405 : 0;
            continue;
        }
        const TWriteResult w = WriteExternal(value, d->type, buffer,
                                             static_cast<std::size_t>(d->valueSize), *session_);
        if (w.isNull) {
            if (ind) {
                *ind = -1;
            } else {
                outcome.rowError = 1405;
            }
            if (len) *len = 0;
            if (code) *code = 1405;
            continue;
        }
        const bool truncated = w.fullLength > w.length;
        if (len) *len = static_cast<ub2>(std::min<std::size_t>(w.length, UB2MAXVAL));
        if (ind)
            *ind = truncated ? static_cast<sb2>(w.fullLength > SB2MAXVAL ? -2 : w.fullLength) : 0;
        if (code) *code = truncated ? 1406 : 0;
        if (truncated) {
            if (ind || code)
                outcome.truncatedOrNull = true;
            else if (outcome.rowError == 0)
                outcome.rowError = 1406;
        }
    }
}

}  // namespace velnor::ocisqlite
