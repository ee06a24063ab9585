#include "app/core/LogonHistory.h"

#include <utility>

#include "platform/Registry.h"

namespace velnor::app {
namespace {

constexpr const char* kUserName = "UserName";
constexpr const char* kPassword = "Password";
constexpr const char* kService = "Service";

// A missing key or value is an empty string; a value of another type is left empty
// and reported, so one bad value never costs the other entries.
std::string ReadText(const platform::TRegistryTree& tree, const std::string& key, const char* name,
                     std::vector<std::string>& problems) {
    const auto value = tree.Value(key, name);
    if (!value) return {};
    if (value->kind != platform::TRegistryValue::Kind::String) {
        problems.push_back(std::string("'") + name + "' のデータ型が不正です");
        return {};
    }
    return value->text;
}

}  // namespace

TLogonHistory::TLogonHistory(platform::TRegistryStore& store) : store_(store) {}

std::string TLogonHistory::KeyPath(int index) {
    return "Software\\Tressigan\\Velnor\\Logon" + std::to_string(index);
}

const TLogon& TLogonHistory::GetItem(int index) const {
    if (index < 0 || index >= HistoryCount)
        throw platform::Exception("List index out of bounds (" + std::to_string(index) + ")");
    return entries_[static_cast<std::size_t>(index)];
}

std::vector<std::string> TLogonHistory::LoadFromRegistry() {
    entries_ = {};
    std::vector<std::string> problems;
    platform::TRegistryTree tree;
    try {
        tree = store_.Read();
    } catch (const platform::Exception& e) {
        // Not a registry file: start empty and leave the file alone (saving refuses too).
        problems.push_back(e.Message());
        return problems;
    }
    for (int n = 0; n < HistoryCount; ++n) {
        const std::string key = KeyPath(n);
        TLogon& entry = entries_[static_cast<std::size_t>(n)];
        entry.UserName = ReadText(tree, key, kUserName, problems);
        entry.Password = ReadText(tree, key, kPassword, problems);
        entry.Service = ReadText(tree, key, kService, problems);
        // A hand-edited file may repeat a logon; the history lists each logon once.
        for (int earlier = 0; earlier < n; ++earlier) {
            if (!entry.Free() && entries_[static_cast<std::size_t>(earlier)] == entry) {
                entry = {};
                break;
            }
        }
    }
    for (const auto& problem : tree.Problems()) problems.push_back(problem);
    return problems;
}

void TLogonHistory::SaveToRegistry() {
    try {
        store_.Update([this](platform::TRegistryTree& tree) {
            for (int n = 0; n < HistoryCount; ++n) {
                const std::string key = KeyPath(n);
                const TLogon& entry = entries_[static_cast<std::size_t>(n)];
                tree.WriteString(key, kUserName, entry.UserName);
                tree.WriteString(key, kPassword, entry.Password);
                tree.WriteString(key, kService, entry.Service);
            }
        });
    } catch (const platform::Exception& e) {
        throw ERegistryError(std::string("'") + kUserName + "' の設定に失敗しました\r\n" +
                             e.Message());
    }
}

void TLogonHistory::AddLogon(std::string_view userName, std::string_view password,
                             std::string_view service) {
    TLogon added{std::string(userName), std::string(password), std::string(service)};
    // The slot to drop: an equal entry below the top, or else the oldest one.
    int drop = HistoryCount - 1;
    for (int i = 0; i < HistoryCount - 1; ++i) {
        if (entries_[static_cast<std::size_t>(i)] == added) {
            drop = i;
            break;
        }
    }
    for (int i = drop; i > 0; --i)
        entries_[static_cast<std::size_t>(i)] =
            std::move(entries_[static_cast<std::size_t>(i - 1)]);
    entries_[0] = std::move(added);
}

std::string TLogonHistory::HistoryCaption(int index) const {
    const TLogon& entry = GetItem(index);
    if (entry.Free()) return {};
    std::string caption(1, '&');
    caption.append(std::to_string(index + 1))
        .append(" ")
        .append(entry.UserName)
        .append("/")
        .append(entry.Password);
    caption.append("@").append(entry.Service);
    return caption;
}

}  // namespace velnor::app
