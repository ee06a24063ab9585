#include "app/core/CustomOracleQuery.h"

#include "platform/Exception.h"
#include "platform/UiHooks.h"

namespace velnor::app {

TCustomOracleQuery::TCustomOracleQuery(oracle::TOracleSession& session, platform::TComponent* owner)
    : oracle::TOracleQuery(owner) {
    SetSession(&session);
    SetReadBuffer(1024);
    SetOptimize(true);
    SetCursor(platform::crSQLWait);
}

void TCustomOracleQuery::SetText(std::string text) {
    SQL().Clear();
    SQL().Add(std::move(text));
}

std::string QuoteIdentifier(std::string_view name) {
    if (name.empty() || name.find('"') != std::string_view::npos ||
        name.find('\0') != std::string_view::npos) {
        throw platform::Exception("Invalid table name: " + std::string(name));
    }
    std::string quoted;
    quoted.reserve(name.size() + 2);
    quoted.push_back('"');
    quoted.append(name);
    quoted.push_back('"');
    return quoted;
}

}  // namespace velnor::app
