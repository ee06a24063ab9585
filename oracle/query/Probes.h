// Facts of a connection measured with a query: bytes per character of its character set
// and the longest text of its date format. The session caches the results.
#pragma once
#include <string>

namespace velnor::oracle {
class TOracleSession;

// The statements the probes run.
[[nodiscard]] const std::string& BytesPerCharacterSQL();
[[nodiscard]] std::string DateFormatLengthSQL();

// 1 to 4; 1 when the probe fails.
[[nodiscard]] int ProbeBytesPerCharacter(TOracleSession& session) noexcept;
// The longest date text of twelve dates, one per month; 40 when nothing could be read.
[[nodiscard]] int ProbeDateFormatLength(TOracleSession& session) noexcept;

}  // namespace velnor::oracle
