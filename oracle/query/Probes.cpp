#include "oracle/query/Probes.h"

#include <algorithm>
#include <memory>

#include "oracle/client/OracleError.h"
#include "oracle/query/OracleQuery.h"
#include "oracle/query/detail/QueryAccess.h"
#include "oracle/session/OracleSession.h"

namespace velnor::oracle {

const std::string& BytesPerCharacterSQL() {
    static const std::string sql =
        "select length(chr(2000000000)) l4, length(chr(2000000)) l3,  length(chr(20000)) l2 "
        "from dual";
    return sql;
}

std::string DateFormatLengthSQL() {
    std::string sql;
    for (int month = 1; month <= 12; ++month) {
        if (month > 1) sql += "union all\r\n";
        sql += "select to_char(to_date('10-" + std::to_string(month) +
               "-1999 10:10:10', 'dd-mm-yyyy hh24:mi:ss')) from dual\r\n";
    }
    return sql;
}

namespace {

// A probe's query measures a fact of its session, so it goes by what is known.
std::unique_ptr<TOracleQuery> RunProbe(TOracleSession& session, const char* name,
                                       const std::string& sql) {
    auto query = std::make_unique<TOracleQuery>(nullptr);
    detail::TQueryAccess::MarkProbe(*query);
    query->SetName(name);
    query->SetSession(&session);
    query->SQL().SetText(sql);
    query->Execute();
    return query;
}

}  // namespace

int ProbeBytesPerCharacter(TOracleSession& session) {
    int value = 1;
    try {
        const auto query = RunProbe(session, "BytesPerCharacterQuery", BytesPerCharacterSQL());
        value = query->GetFieldValue(0).AsInteger();
        if (value == 1) value = query->GetFieldValue(1).AsInteger();
        if (value == 1) value = query->GetFieldValue(2).AsInteger();
    } catch (const EOracleError& e) {
        // A guess would stay cached for the whole session, so a lost connection is reported.
        if (IsConnectionError(e.ErrorCode())) throw;
        value = 1;  // a character set the probe cannot measure is taken as single-byte
    } catch (...) {
        value = 1;
    }
    return value >= 1 && value <= 4 ? value : 1;
}

int ProbeDateFormatLength(TOracleSession& session) {
    std::size_t longest = 0;
    try {
        const auto query = RunProbe(session, "DateFormatLengthQuery", DateFormatLengthSQL());
        for (; !query->Eof(); query->Next()) {
            longest = std::max(longest, query->GetFieldString(0).size());
        }
    } catch (const EOracleError& e) {
        if (IsConnectionError(e.ErrorCode())) throw;  // as above: no guess gets cached
    } catch (...) {
        // The lengths read before the failure still count.
    }
    return longest > 0 ? static_cast<int>(std::min<std::size_t>(longest, 4000)) : 40;
}

namespace {

// The fixed setting; 0 for bcAutoDetect.
int SetBytesPerCharacter(TBytesPerCharacterOption option) noexcept {
    switch (option) {
        case TBytesPerCharacterOption::bc1Byte:
            return 1;
        case TBytesPerCharacterOption::bc2Bytes:
            return 2;
        case TBytesPerCharacterOption::bc3Bytes:
            return 3;
        case TBytesPerCharacterOption::bc4Bytes:
            return 4;
        case TBytesPerCharacterOption::bcAutoDetect:
            break;
    }
    return 0;
}

}  // namespace

int KnownBytesPerCharacter(const TOracleSession& session) {
    if (const int measured = session.MeasuredFacts().bytesPerCharacter) return measured;
    const int set = SetBytesPerCharacter(session.BytesPerCharacter());
    return set != 0 ? set : 1;  // provisional until measured
}

int BytesPerCharacter(TOracleSession& session) {
    int& cached = session.MeasuredFacts().bytesPerCharacter;
    if (cached != 0) return cached;
    int value = SetBytesPerCharacter(session.BytesPerCharacter());
    if (value == 0) {
        value = 1;
        if (session.Connected()) {
            if (session.OnInternalSQL) session.OnInternalSQL(session, BytesPerCharacterSQL());
            value = ProbeBytesPerCharacter(session);
        }
    }
    cached = std::clamp(value, 1, 4);
    return cached;
}

int KnownMaxVarcharChars(const TOracleSession& session) {
    return session.MaxVarcharBytes() / KnownBytesPerCharacter(session);
}

int MaxVarcharChars(TOracleSession& session) {
    return session.MaxVarcharBytes() / BytesPerCharacter(session);
}

int KnownDateFormatLength(const TOracleSession& session) {
    return session.MeasuredFacts().dateFormatLength;
}

int DateFormatLength(TOracleSession& session) {
    int& cached = session.MeasuredFacts().dateFormatLength;
    if (cached >= 0 || !session.Connected()) return cached;
    if (session.OnInternalSQL) session.OnInternalSQL(session, DateFormatLengthSQL());
    const int longest = ProbeDateFormatLength(session);
    cached = longest > 0 ? longest : 40;
    return cached;
}

}  // namespace velnor::oracle
