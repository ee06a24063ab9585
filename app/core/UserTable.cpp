#include "app/core/UserTable.h"

#include <cmath>

#include "app/core/CustomOracleQuery.h"
#include "oracle/client/OciLibrary.h"

namespace velnor::app {

TUserTable::TUserTable(oracle::TOracleSession& session) : session_(session) {}

bool TUserTable::TextIsUtf8() {
    const std::string set = oracle::ClientCharacterSet();
    return set.empty() || set == "AL32UTF8" || set == "UTF8";
}

const TTable& TUserTable::GetItem(int index) const {
    if (index < 0 || index >= Count())
        throw platform::Exception("List index out of bounds (" + std::to_string(index) + ")");
    return tables_[static_cast<std::size_t>(index)];
}

int TUserTable::AddTable() {
    tables_.emplace_back();
    return Count() - 1;
}

void TUserTable::Refresh() {
    Clear();
    try {
        TCustomOracleQuery list(session_);
        TCustomOracleQuery count(session_);
        list.SetText(CatalogueStatement);
        list.Execute();
        while (!list.Eof()) {
            TTable& table = tables_[static_cast<std::size_t>(AddTable())];
            table.TableName = list.GetFieldStringByName("TABLE_NAME");
            count.SetText("SELECT COUNT(*) FROM " + QuoteIdentifier(table.TableName));
            count.Execute();
            // Read as a float: a count can pass the 32-bit range.
            table.DataCount = static_cast<std::int64_t>(std::llround(count.GetFieldFloat(0)));
            list.Next();
        }
    } catch (...) {
        Clear();
        throw;
    }
}

void TUserTable::DeleteAll(const std::string& tableName) {
    TCustomOracleQuery query(session_);
    query.SetText("DELETE FROM " + QuoteIdentifier(tableName));
    query.Execute();
}

}  // namespace velnor::app
