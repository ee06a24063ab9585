// The registry as text files in the .reg format of the Windows registry editor:
// one file per root, atomic and locked writes, damaged lines kept.
#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Exception.h"

namespace velnor::platform {

enum class TRegistryRoot { CurrentUser, LocalMachine };

// "HKEY_CURRENT_USER" or "HKEY_LOCAL_MACHINE".
[[nodiscard]] std::string_view RootName(TRegistryRoot root) noexcept;

// A registry file that cannot be read or written, or a name that cannot be stored.
class ERegistryError : public Exception {
public:
    using Exception::Exception;
};

struct TRegistryValue {
    enum class Kind { String, Dword, Binary };
    Kind kind = Kind::String;
    std::string text;                 // Kind::String
    std::uint32_t dword = 0;          // Kind::Dword
    std::vector<std::uint8_t> bytes;  // Kind::Binary
    std::uint32_t binaryType = 3;     // Kind::Binary: registry type, 3 for "hex:", N for "hex(N):"

    static TRegistryValue FromString(std::string text);
    static TRegistryValue FromDword(std::uint32_t value);
    static TRegistryValue FromBytes(std::vector<std::uint8_t> bytes, std::uint32_t type = 3);
    // The value as the registry's string reader returns it: a dword or qword in decimal,
    // string types in hex form decoded from UTF-16, other bytes as they are without the
    // trailing zero bytes.
    [[nodiscard]] std::string AsString() const;
    bool operator==(const TRegistryValue&) const = default;
};

// One root in memory. Key paths are relative to the root ("Software\Tressigan\Velnor"),
// leading, trailing and doubled backslashes are ignored, and keys and value names compare
// case-insensitively. The value name "" is the key's default value ("@" in the file).
class TRegistryTree {
public:
    explicit TRegistryTree(std::string rootName = "HKEY_CURRENT_USER");

    [[nodiscard]] const std::string& RootName() const noexcept { return rootName_; }
    [[nodiscard]] std::optional<TRegistryValue> Value(std::string_view key,
                                                      std::string_view name) const;
    // "" when the key or the value is missing; other kinds as TRegistryValue::AsString.
    [[nodiscard]] std::string ReadString(std::string_view key, std::string_view name) const;
    // Writes create the key. A key path or value name holding a line break or a NUL
    // raises ERegistryError.
    void WriteValue(std::string_view key, std::string_view name, TRegistryValue value);
    void WriteString(std::string_view key, std::string_view name, std::string_view value);
    void WriteDword(std::string_view key, std::string_view name, std::uint32_t value);
    void CreateKey(std::string_view key);
    bool DeleteValue(std::string_view key, std::string_view name);
    bool DeleteKey(std::string_view key);  // with every key below it
    // A key exists when it was written or a key below it exists; the root always exists.
    [[nodiscard]] bool KeyExists(std::string_view key) const;
    [[nodiscard]] std::vector<std::string> ValueNames(std::string_view key) const;
    [[nodiscard]] std::vector<std::string> SubKeyNames(std::string_view key) const;

    // rootName is "HKEY_CURRENT_USER" or "HKEY_LOCAL_MACHINE". Accepts UTF-8 (with or
    // without a byte-order mark) and the UTF-16 files the Windows editor exports. Text
    // without the editor's first line raises ERegistryError; empty text is an empty tree.
    // Lines that cannot be read, and keys of other roots with their values, are kept and
    // written back where they stood; Problems() describes them (never their contents).
    static TRegistryTree Parse(std::string_view text, std::string_view rootName);
    [[nodiscard]] std::string Serialize() const;
    [[nodiscard]] const std::vector<std::string>& Problems() const noexcept { return problems_; }

private:
    struct TLine {
        bool parsed = false;  // false: a comment or a damaged line, written back as raw
        std::string raw;
        std::string name;
        TRegistryValue value;
    };
    struct TSection {
        bool foreign = false;  // another root, a deletion or a damaged key line: kept, unread
        std::string header;    // foreign: the raw key line
        std::string path;      // normalised key path below the root
        std::vector<TLine> lines;
    };

    TSection& SectionFor(std::string_view key);
    void RemoveKeyAndBelow(std::string_view key);
    void RemoveValue(std::string_view key, std::string_view name);
    // What a deletion line of the file removes stays in the file, unread.
    void RetireKeyAndBelow(std::string_view key);
    void RetireValue(std::string_view key, std::string_view name);

    std::string rootName_;
    std::string header_ = "Windows Registry Editor Version 5.00";
    std::vector<std::string> preface_;  // raw lines before the first key
    std::vector<TSection> sections_;    // in file order; one key may have several
    std::vector<std::string> problems_;
};

// Where settings live: a registry file, or memory in tests.
class TSettings {
public:
    virtual ~TSettings() = default;
    [[nodiscard]] virtual TRegistryTree Read() const = 0;
    // Applies `change` to the current tree and stores it; an exception from `change`
    // stores nothing.
    virtual void Update(const std::function<void(TRegistryTree&)>& change) = 0;
};

class TMemorySettings : public TSettings {
public:
    explicit TMemorySettings(TRegistryTree tree = TRegistryTree()) : tree_(std::move(tree)) {}
    [[nodiscard]] TRegistryTree Read() const override { return tree_; }
    void Update(const std::function<void(TRegistryTree&)>& change) override;

private:
    TRegistryTree tree_;
};

// One root's file. Read() of a missing file is an empty tree; a file that is not a .reg
// file raises ERegistryError and Update() then refuses to replace it.
class TRegistryStore : public TSettings {
public:
    TRegistryStore(TRegistryRoot root, std::string path);
    // The process's stores, at $VELNOR_REGISTRY_DIR or the defaults (resolved at first use):
    // the current user's in ${XDG_CONFIG_HOME:-$HOME/.config}/velnor/, the local machine's
    // in /etc/velnor/.
    static TRegistryStore& ForRoot(TRegistryRoot root);
    static void ResetDefaultPaths();  // tests: re-read VELNOR_REGISTRY_DIR
    [[nodiscard]] static std::string DefaultPath(TRegistryRoot root);

    [[nodiscard]] TRegistryRoot Root() const noexcept { return root_; }
    [[nodiscard]] std::string Path() const;
    // Parsed files are cached while the file on disk stays the same one.
    [[nodiscard]] TRegistryTree Read() const override;
    // Locks the file (advisory lock on "<path>.lock"), re-reads it, applies `change` and
    // replaces the file atomically (temporary file, fsync, rename); the current user's
    // file gets mode 0600, its directory is created with 0700.
    void Update(const std::function<void(TRegistryTree&)>& change) override;
    // "" when the key or value is missing or the file is unreadable.
    [[nodiscard]] std::string ReadString(std::string_view key,
                                         std::string_view name) const noexcept;

private:
    struct TCache;
    [[nodiscard]] std::shared_ptr<const TRegistryTree> Load() const;

    TRegistryRoot root_;
    mutable std::mutex mutex_;  // guards path_ and cache_
    std::string path_;
    mutable std::shared_ptr<TCache> cache_;
};

// The string value, or "" when the key or value is missing or the file is unreadable.
[[nodiscard]] std::string ReadRegistryString(TRegistryRoot root, std::string_view key,
                                             std::string_view valueName);

}  // namespace velnor::platform
