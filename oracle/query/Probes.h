// Facts of a connection measured with a query: bytes per character of its character set
// and the longest text of its date format. The session keeps what was measured until
// logoff; the session itself never runs a probe, so it does not depend on the query.
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

// Bytes per character (1..4): the session's setting, or with bcAutoDetect measured once per
// connection; 1 while disconnected.
[[nodiscard]] int BytesPerCharacter(TOracleSession& session);
// The most characters a string bind can hold.
[[nodiscard]] int MaxVarcharChars(TOracleSession& session);
// The longest date text of the session's date format, measured once per connection; -1
// while disconnected.
[[nodiscard]] int DateFormatLength(TOracleSession& session);

// As above, without measuring: what a probe's own query goes by.
[[nodiscard]] int KnownBytesPerCharacter(const TOracleSession& session);
[[nodiscard]] int KnownMaxVarcharChars(const TOracleSession& session);
[[nodiscard]] int KnownDateFormatLength(const TOracleSession& session);

}  // namespace velnor::oracle
