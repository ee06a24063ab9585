// Oracle homes as the local-machine registry (or ORACLE_HOME) describes them, and the
// client library files a home offers.
#pragma once
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace velnor::oracle {

inline constexpr const char* kOracleRootKey = "SOFTWARE\\ORACLE";
// More homes than this are not read, whatever HOME_COUNTER says.
inline constexpr int kMaxOracleHomes = 1000;

struct TOracleHomeEntry {
    std::string name;
    int number = 0;
};

// The registered homes, sorted by name case-insensitively; a repeated name is kept once,
// with its lowest home number. Empty when HOME_COUNTER is missing or not a number.
[[nodiscard]] std::vector<TOracleHomeEntry> ListOracleHomes();

// "SOFTWARE\ORACLE\HOME<number>".
[[nodiscard]] std::string OracleHomeKeyOf(int number);

// ORACLE_HOME under `key`. The root key falls back to the environment variable
// ORACLE_HOME, the single home of a plain installation.
[[nodiscard]] std::string ReadOracleHomeDir(const std::string& key);

// The home named by `wanted` (case-insensitive) wins; else the home whose bin directory
// is the earliest PATH entry; else the alphabetically last home. A key without
// ORACLE_HOME gives the root key.
[[nodiscard]] std::string SelectOracleHomeKey(const std::vector<TOracleHomeEntry>& homes,
                                              std::string_view wanted, std::string_view path);

// Where a home keeps its client library: <home>/lib when it exists, else <home>.
[[nodiscard]] std::string LibraryDirectoryOf(const std::string& homeDir);

inline constexpr const char* kClientLibraryName = "libclntsh.so";
inline constexpr const char* kMtsLibraryName = "liboramts.so";

// Version of a versioned client library file name ("libclntsh.so.19.1" -> {19, 1}); empty
// when the name has no version, a part is not a number, or every part is 0.
[[nodiscard]] std::optional<std::vector<unsigned long>> ClientLibraryVersion(
    std::string_view fileName);

// Candidate paths in `libraryDir`: the unversioned library first, then every versioned one
// in directory order. Each one found adds "Found: <name>" to `log`.
[[nodiscard]] std::vector<std::string> ListOCIDLLCandidates(const std::string& libraryDir,
                                                            std::vector<std::string>& log);

// The unversioned library when present, else the highest version (the first on a tie);
// "" when there is none.
[[nodiscard]] std::string PickOCIDLL(const std::vector<std::string>& candidates);

// Velnor's text is UTF-8; this is the client character set that keeps it unchanged.
inline constexpr const char* kVelnorCharacterSet = "AL32UTF8";

// NLS_LANG for a POSIX locale name ("ja_JP.UTF-8" -> "JAPANESE_JAPAN.AL32UTF8"): language
// and territory where Oracle has a name for them, else AMERICAN and AMERICA.
[[nodiscard]] std::string DefaultNlsLang(std::string_view locale);

// The character set an NLS_LANG value gives the client, upper-cased; US7ASCII when it
// names none (a client's default).
[[nodiscard]] std::string NlsLangCharacterSet(std::string_view nlsLang);

// The most bytes one character takes in an Oracle character set (AL32UTF8 4, UTF8 3,
// JA16SJIS 2, US7ASCII 1); 4, the most of any set, for a set not known here.
[[nodiscard]] int MaxBytesPerCharacter(std::string_view characterSet);

// True when the home is laid out as an Instant Client (its library directly in the home).
[[nodiscard]] bool IsInstantClientHome(const std::string& homeDir);

}  // namespace velnor::oracle
