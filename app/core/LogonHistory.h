// The last five distinct logons, most recent first, kept in the current user's registry.
#pragma once
#include <array>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Registry.h"

namespace velnor::app {

using platform::ERegistryError;

// One logon; an entry whose user name is empty counts as free.
struct TLogon {
    std::string UserName;
    std::string Password;
    std::string Service;

    [[nodiscard]] bool Free() const noexcept { return UserName.empty(); }
    // Byte for byte: logons differing only in case or in the password stay apart.
    friend bool operator==(const TLogon&, const TLogon&) = default;
};

class TLogonHistory {
public:
    static constexpr int HistoryCount = 5;

    // The store is borrowed; it is the current user's root in the program.
    explicit TLogonHistory(platform::TRegistryStore& store);

    [[nodiscard]] static constexpr int Count() noexcept { return HistoryCount; }
    // Raises for an index outside 0 .. Count() - 1.
    [[nodiscard]] const TLogon& GetItem(int index) const;

    // Replaces the entries with the stored ones; the history always ends with five.
    // Values that cannot be read are left empty and named in the returned messages,
    // as is a file that is not a registry file (the history then starts empty).
    std::vector<std::string> LoadFromRegistry();
    // Writes all five keys in one replacement of the file, so it always matches the
    // entries shown; raises ERegistryError when the file cannot be written.
    void SaveToRegistry();

    // Puts the logon first, dropping an equal older entry, or else the oldest one.
    void AddLogon(std::string_view userName, std::string_view password, std::string_view service);

    // "&<n+1> user/password@service", or "" for a free entry.
    [[nodiscard]] std::string HistoryCaption(int index) const;

    // "Software\Tressigan\Velnor\Logon<index>" below the current user's root.
    [[nodiscard]] static std::string KeyPath(int index);

private:
    platform::TRegistryStore& store_;
    std::array<TLogon, HistoryCount> entries_;
};

}  // namespace velnor::app
