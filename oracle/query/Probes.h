// Facts of a connection measured with a query: bytes per character of its character set
// and the longest text of its date format. The session caches the results.
#pragma once
#include <string>

namespace velnor::oracle {
class TOracleSession;

// The statements the probes run.
[[nodiscard]] const std::string& BytesPerCharacterSQL();
[[nodiscard]] std::string DateFormatLengthSQL();

// 1 to 4; 1 when the probe fails. A lost connection (IsConnectionError) raises instead,
// so that no guess gets cached.
[[nodiscard]] int ProbeBytesPerCharacter(TOracleSession& session);
// The longest date text of twelve dates, one per month; 40 when nothing could be read.
// Raises as ProbeBytesPerCharacter does.
[[nodiscard]] int ProbeDateFormatLength(TOracleSession& session);

}  // namespace velnor::oracle
