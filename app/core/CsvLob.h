// CLOB, NCLOB and BLOB columns in CSV files: text fields for CLOB and NCLOB, upper-case
// hexadecimal text for BLOB, both quoted like strings. A NULL LOB is an empty field and an
// empty LOB is "" (the two differ: an empty LOB is not NULL). Values stream piece by piece
// between the locator and the file, so memory does not grow with a LOB's size.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>

#include "app/core/CsvWriter.h"
#include "app/core/TextFile.h"
#include "oracle/query/LobLocator.h"

namespace velnor::app {

// Whether the files carry fields of this field type as LOB values.
[[nodiscard]] bool IsCsvLob(int fieldType) noexcept;

// Writes the LOB as the writer's next field: the line so far and the value go to `file`.
// `alone`: the record has no other field; an empty LOB then raises EConvertError.
void AddLobField(TCsvWriter& writer, TTextFile& file, oracle::TLobLocator& lob, bool convertCRLF,
                 bool alone);

// Checks a BLOB field's hexadecimal text (even length, digits only); raises ECsvError naming
// line, column and value. CLOB fields need no check.
void CheckLobField(int fieldType, const std::string& field, std::int64_t line, int column,
                   const std::string& columnName);

}  // namespace velnor::app
