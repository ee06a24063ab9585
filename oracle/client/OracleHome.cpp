#include "oracle/client/OracleHome.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstddef>

#include "platform/Registry.h"
#include "platform/System.h"
#include "platform/Text.h"

namespace velnor::oracle {
namespace {

using platform::TRegistryRoot;

std::string ReadMachineString(const std::string& key, const char* name) {
    return platform::ReadRegistryString(TRegistryRoot::LocalMachine, key, name);
}

std::optional<long> ParseInteger(std::string_view text) {
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos) return std::nullopt;
    text.remove_prefix(first);
    text = text.substr(0, text.find_last_not_of(" \t") + 1);
    if (!text.empty() && text.front() == '+') text.remove_prefix(1);
    long value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return value;
}

std::string WithoutTrailingSlashes(std::string_view path) {
    while (path.size() > 1 && path.back() == '/') path.remove_suffix(1);
    return std::string(path);
}

// Index of the PATH entry equal to `directory`, or npos. Whole entries are compared, so
// "/opt/a/bin" does not match "/opt/a/bin2" or "/x/opt/a/bin".
std::size_t PathEntryIndex(std::string_view path, const std::string& directory) {
    std::size_t index = 0;
    std::size_t start = 0;
    while (start <= path.size()) {
        std::size_t end = path.find(':', start);
        if (end == std::string_view::npos) end = path.size();
        if (WithoutTrailingSlashes(path.substr(start, end - start)) == directory) return index;
        ++index;
        start = end + 1;
    }
    return std::string_view::npos;
}

}  // namespace

std::string OracleHomeKeyOf(int number) {
    return std::string(kOracleRootKey) + "\\HOME" + std::to_string(number);
}

std::vector<TOracleHomeEntry> ListOracleHomes() {
    std::vector<TOracleHomeEntry> homes;
    const auto counter = ParseInteger(
        ReadMachineString(std::string(kOracleRootKey) + "\\ALL_HOMES", "HOME_COUNTER"));
    if (!counter) return homes;
    const long count = std::clamp<long>(*counter, 1, kMaxOracleHomes);
    for (int i = 0; i < count; ++i) {
        std::string name = ReadMachineString(OracleHomeKeyOf(i), "ORACLE_HOME_NAME");
        if (name.empty()) continue;
        const auto same = [&](const TOracleHomeEntry& e) {
            return platform::SameText(e.name, name);
        };
        if (std::any_of(homes.begin(), homes.end(), same)) continue;  // lowest number kept
        homes.push_back({std::move(name), i});
    }
    std::stable_sort(homes.begin(), homes.end(), [](const auto& a, const auto& b) {
        return platform::UpperCase(a.name) < platform::UpperCase(b.name);
    });
    return homes;
}

std::string ReadOracleHomeDir(const std::string& key) {
    std::string dir = ReadMachineString(key, "ORACLE_HOME");
    if (dir.empty() && platform::SameText(key, kOracleRootKey)) {
        dir = platform::GetEnvironment("ORACLE_HOME").value_or("");
    }
    return dir;
}

std::string SelectOracleHomeKey(const std::vector<TOracleHomeEntry>& homes, std::string_view wanted,
                                std::string_view path) {
    std::string result;
    if (!homes.empty()) {
        std::size_t best = std::string_view::npos;
        for (const auto& home : homes) {
            const std::string key = OracleHomeKeyOf(home.number);
            if (!wanted.empty() && platform::SameText(home.name, wanted)) {
                result = key;
                break;
            }
            const std::string dir = ReadMachineString(key, "ORACLE_HOME");
            if (dir.empty()) continue;
            const std::size_t index =
                PathEntryIndex(path, WithoutTrailingSlashes(platform::JoinPath(dir, "bin")));
            if (index < best) {
                best = index;
                result = key;
            }
        }
        if (result.empty()) result = OracleHomeKeyOf(homes.back().number);
    }
    if (result.empty() || ReadMachineString(result, "ORACLE_HOME").empty()) {
        result = kOracleRootKey;
    }
    return result;
}

std::string LibraryDirectoryOf(const std::string& homeDir) {
    const std::string lib = platform::JoinPath(homeDir, "lib");
    return platform::DirectoryExists(lib) ? lib : homeDir;
}

std::optional<std::vector<unsigned long>> ClientLibraryVersion(std::string_view fileName) {
    const std::string prefix = std::string(kClientLibraryName) + ".";
    if (fileName.size() <= prefix.size() || fileName.substr(0, prefix.size()) != prefix) {
        return std::nullopt;
    }
    std::string_view rest = fileName.substr(prefix.size());
    std::vector<unsigned long> parts;
    bool nonZero = false;
    while (true) {
        const std::size_t dot = rest.find('.');
        const std::string_view part = rest.substr(0, dot);
        unsigned long value = 0;
        const auto [end, ec] = std::from_chars(part.data(), part.data() + part.size(), value);
        if (part.empty() || ec != std::errc() || end != part.data() + part.size()) {
            return std::nullopt;
        }
        nonZero = nonZero || value != 0;
        parts.push_back(value);
        if (dot == std::string_view::npos) break;
        rest.remove_prefix(dot + 1);
    }
    if (!nonZero) return std::nullopt;
    return parts;
}

std::vector<std::string> ListOCIDLLCandidates(const std::string& libraryDir,
                                              std::vector<std::string>& log) {
    std::vector<std::string> candidates;
    const std::string plain = platform::JoinPath(libraryDir, kClientLibraryName);
    if (platform::FileExists(plain)) {
        candidates.push_back(plain);
        log.push_back(std::string("Found: ") + kClientLibraryName);
    }
    for (const std::string& name :
         platform::ListFiles(libraryDir, std::string(kClientLibraryName) + ".*")) {
        if (!ClientLibraryVersion(name)) continue;
        candidates.push_back(platform::JoinPath(libraryDir, name));
        log.push_back("Found: " + name);
    }
    return candidates;
}

std::string PickOCIDLL(const std::vector<std::string>& candidates) {
    std::string chosen;
    std::vector<unsigned long> best;
    for (const std::string& candidate : candidates) {
        const std::string name = platform::FileNameOf(candidate);
        if (name == kClientLibraryName) return candidate;
        auto version = ClientLibraryVersion(name);
        if (!version) continue;
        while (version->back() == 0) version->pop_back();  // 19.1.0 ranks as 19.1
        if (*version > best) {                             // lexicographic: numeric per component
            best = std::move(*version);
            chosen = candidate;
        }
    }
    return chosen;
}

namespace {

struct TNlsName {
    const char* posix;
    const char* oracle;
};

// Language names of Oracle's NLS_LANGUAGE; "zh" and "pt" depend on the territory.
constexpr TNlsName kLanguages[] = {
    {"ja", "JAPANESE"},
    {"en", "AMERICAN"},
    {"ko", "KOREAN"},
    {"de", "GERMAN"},
    {"fr", "FRENCH"},
    {"es", "SPANISH"},
    {"it", "ITALIAN"},
    {"nl", "DUTCH"},
    {"sv", "SWEDISH"},
    {"ru", "RUSSIAN"},
    {"pt", "PORTUGUESE"},
    {"pl", "POLISH"},
    {"zh_CN", "SIMPLIFIED CHINESE"},
    {"zh_TW", "TRADITIONAL CHINESE"},
    {"pt_BR", "BRAZILIAN PORTUGUESE"},
    {"en_GB", "ENGLISH"},
};

constexpr TNlsName kTerritories[] = {
    {"JP", "JAPAN"},  {"US", "AMERICA"},   {"GB", "UNITED KINGDOM"},  {"KR", "KOREA"},
    {"CN", "CHINA"},  {"TW", "TAIWAN"},    {"DE", "GERMANY"},         {"FR", "FRANCE"},
    {"ES", "SPAIN"},  {"IT", "ITALY"},     {"NL", "THE NETHERLANDS"}, {"SE", "SWEDEN"},
    {"RU", "RUSSIA"}, {"PT", "PORTUGAL"},  {"BR", "BRAZIL"},          {"PL", "POLAND"},
    {"CA", "CANADA"}, {"AU", "AUSTRALIA"},
};

const char* Lookup(const auto& table, std::string_view key) {
    for (const auto& entry : table)
        if (key == entry.posix) return entry.oracle;
    return nullptr;
}

}  // namespace

std::string DefaultNlsLang(std::string_view locale) {
    locale = locale.substr(0, locale.find_first_of(".@"));
    const std::string_view language = locale.substr(0, locale.find('_'));
    const std::string_view territory = locale.find('_') == std::string_view::npos
                                           ? std::string_view()
                                           : locale.substr(locale.find('_') + 1);
    const char* oracleLanguage = Lookup(kLanguages, locale);
    if (!oracleLanguage) oracleLanguage = Lookup(kLanguages, language);
    const char* oracleTerritory = Lookup(kTerritories, territory);
    return std::string(oracleLanguage ? oracleLanguage : "AMERICAN") + "_" +
           (oracleTerritory ? oracleTerritory : "AMERICA") + "." + kVelnorCharacterSet;
}

std::string NlsLangCharacterSet(std::string_view nlsLang) {
    const auto dot = nlsLang.rfind('.');
    std::string set = dot == std::string_view::npos ? "" : std::string(nlsLang.substr(dot + 1));
    set.erase(0, set.find_first_not_of(" \t"));
    set.erase(set.find_last_not_of(" \t") + 1);
    std::transform(set.begin(), set.end(), set.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return set.empty() ? "US7ASCII" : set;
}

int MaxBytesPerCharacter(std::string_view characterSet) {
    const std::pair<std::string_view, int> sets[] = {
        {"AL32UTF8", 4},      {"UTF8", 3},         {"AL16UTF16", 2},    {"JA16SJIS", 2},
        {"JA16SJISTILDE", 2}, {"JA16EUC", 3},      {"JA16EUCTILDE", 3}, {"ZHS16GBK", 2},
        {"KO16MSWIN949", 2},  {"WE8MSWIN1252", 1}, {"WE8ISO8859P1", 1}, {"US7ASCII", 1},
    };
    for (const auto& [name, bytes] : sets)
        if (name == characterSet) return bytes;
    return 4;
}

bool IsInstantClientHome(const std::string& homeDir) {
    return WithoutTrailingSlashes(LibraryDirectoryOf(homeDir)) == WithoutTrailingSlashes(homeDir);
}

}  // namespace velnor::oracle
