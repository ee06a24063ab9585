// Recursive-descent parser of the dialect; raises the errors Oracle's parser raises.
#pragma once
#include <string_view>

#include "ocisqlite/sql/Ast.h"
#include "ocisqlite/sql/Lexer.h"

namespace velnor::ocisqlite::sql {

// Parses one statement. Bind occurrences are numbered in text order from 0.
ParsedStatement ParseStatement(std::string_view sql, const std::vector<Token>& tokens);
// Parses a stand-alone expression (a column's DEFAULT); binds are not allowed.
ExprPtr ParseExpression(std::string_view sql);

}  // namespace velnor::ocisqlite::sql
