// The client character set as a real client takes it from NLS_LANG, and the conversion of
// text between it and the database character set (AL32UTF8).
#pragma once
#include <string>
#include <string_view>

namespace velnor::ocisqlite {

enum class TClientCharset { Us7Ascii, Al32Utf8, Utf8, Ja16Sjis, Ja16SjisTilde };

// The character set named by an NLS_LANG value ("AMERICAN_AMERICA.JA16SJISTILDE"); unset or
// without a character set gives US7ASCII. Raises ORA-12705 for a set the stand-in lacks.
[[nodiscard]] TClientCharset CharsetOfNlsLang(const char* nlsLang);

// The process's client character set, read from NLS_LANG when a session begins.
void ReadClientCharset();
[[nodiscard]] TClientCharset ClientCharset() noexcept;

// Database text (UTF-8) as the client receives it, and the client's text as the database
// stores it; a character the other side lacks becomes "?".
[[nodiscard]] std::string ToClient(std::string_view text, TClientCharset set);
[[nodiscard]] std::string FromClient(std::string_view bytes, TClientCharset set);

}  // namespace velnor::ocisqlite
