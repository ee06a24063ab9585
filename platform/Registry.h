// The registry as text files in the .reg format of the Windows registry editor:
// one file per root, atomic and locked writes, damaged lines kept.
#pragma once
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace velnor::platform {

enum class TRegistryRoot { CurrentUser, LocalMachine };

struct TRegistryValue {
    enum class Kind { String, Dword, Binary };
    Kind kind = Kind::String;
    std::string text;             // Kind::String
    std::uint32_t dword = 0;      // Kind::Dword
    std::vector<std::uint8_t> bytes;   // Kind::Binary
    // The value as the registry's string reader returns it (a dword in decimal).
    [[nodiscard]] std::string AsString() const;
};

// One root in memory. Key paths are relative to the root ("Software\Tressigan\Velnor"),
// a leading backslash is ignored, and keys and value names compare case-insensitively.
class TRegistryTree {
public:
    [[nodiscard]] std::optional<TRegistryValue> Value(std::string_view key,
                                                      std::string_view name) const;
    // "" when the key or the value is missing.
    [[nodiscard]] std::string ReadString(std::string_view key, std::string_view name) const;
    void WriteString(std::string_view key, std::string_view name, std::string_view value);
    void WriteDword(std::string_view key, std::string_view name, std::uint32_t value);
    bool DeleteValue(std::string_view key, std::string_view name);
    bool DeleteKey(std::string_view key);   // with every key below it
    [[nodiscard]] bool KeyExists(std::string_view key) const;
    [[nodiscard]] std::vector<std::string> ValueNames(std::string_view key) const;
    [[nodiscard]] std::vector<std::string> SubKeyNames(std::string_view key) const;

    // rootName is "HKEY_CURRENT_USER" or "HKEY_LOCAL_MACHINE". Lines that cannot be read
    // are kept and written back where they stood; Problems() describes them.
    static TRegistryTree Parse(std::string_view text, std::string_view rootName);
    [[nodiscard]] std::string Serialize() const;
    [[nodiscard]] const std::vector<std::string>& Problems() const noexcept;

private:
    struct Line;   // defined in Registry.cpp
    struct Key;
    std::string rootName_;
    std::vector<Key*> keysPlaceholder_;   // replaced by the implementation
    std::vector<std::string> problems_;
};

// One root's file. Read() of a missing file is an empty tree; a file that is not a .reg
// file raises an Exception and Update() then refuses to replace it.
class TRegistryStore {
public:
    TRegistryStore(TRegistryRoot root, std::string path);
    // The process's stores, at $VELNOR_REGISTRY_DIR or the defaults (resolved at first use).
    static TRegistryStore& ForRoot(TRegistryRoot root);
    static void ResetDefaultPaths();   // tests: re-read VELNOR_REGISTRY_DIR

    [[nodiscard]] const std::string& Path() const noexcept { return path_; }
    [[nodiscard]] TRegistryTree Read() const;
    // Locks the file, re-reads it, applies `change` and replaces the file atomically
    // (temporary file, fsync, rename); the current user's file gets mode 0600.
    void Update(const std::function<void(TRegistryTree&)>& change);

private:
    TRegistryRoot root_;
    std::string path_;
};

// The string value, or "" when the key or value is missing or the file is unreadable.
[[nodiscard]] std::string ReadRegistryString(TRegistryRoot root, std::string_view key,
                                             std::string_view valueName);

}  // namespace velnor::platform
