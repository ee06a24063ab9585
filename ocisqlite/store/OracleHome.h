// The stand-in's data inside an Oracle home. <home>/oradata/<SERVICE>/ holds service.conf
// (the server banner), users (salted password hashes and expiry) and <USER>.db per schema.
// Service and user names are stored upper-cased and compared case-insensitively.
#pragma once
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace velnor::ocisqlite {

struct TUserRecord {
    std::string name;  // upper case
    std::string salt;  // hex
    std::string hash;  // hex SHA-256 of salt and password
    bool expired = false;
    std::int64_t expiresAt = 0;  // seconds since the epoch; 0 = no expiry date
};

// What a logon learns about a password.
struct TPasswordCheck {
    bool valid = false;    // name and password match
    bool expired = false;  // ORA-28001
    int graceDays = 0;     // > 0: ORA-28002, expires within that many days
};

[[nodiscard]] std::string DefaultBanner();
[[nodiscard]] std::string UpperName(std::string_view name);
// Letters, digits, _ $ # only: names become file names.
[[nodiscard]] bool IsValidName(std::string_view name);

// A new record with a fresh salt; expiresInDays 0 = never.
[[nodiscard]] TUserRecord MakeUser(std::string_view name, std::string_view password, bool expired,
                                   int expiresInDays);
[[nodiscard]] TPasswordCheck CheckPassword(const TUserRecord& user, std::string_view password,
                                           std::int64_t now);

class TOracleHome {
public:
    explicit TOracleHome(std::string path) : path_(std::move(path)) {}
    [[nodiscard]] const std::string& Path() const noexcept { return path_; }
    [[nodiscard]] std::string DataDir() const;
    [[nodiscard]] std::string ServiceDir(std::string_view service) const;
    [[nodiscard]] std::string SchemaPath(std::string_view service, std::string_view user) const;
    [[nodiscard]] bool ServiceExists(std::string_view service) const;

    // The banner of an existing service (the default when its file names none).
    [[nodiscard]] std::string Banner(std::string_view service) const;
    // Creates the service directory when needed and writes its configuration.
    void WriteService(std::string_view service, const std::string& banner) const;

    [[nodiscard]] std::vector<TUserRecord> ReadUsers(std::string_view service) const;
    [[nodiscard]] std::optional<TUserRecord> FindUser(std::string_view service,
                                                      std::string_view user) const;
    // Read-modify-write of the users file under a lock, replaced atomically.
    void UpdateUsers(std::string_view service,
                     const std::function<void(std::vector<TUserRecord>&)>& change) const;

private:
    std::string path_;
};

// The home the stand-in library serves: $ORACLE_HOME when set, else the directory above
// the folder the library's own file lies in (<home>/lib/libclntsh.so), or that folder itself
// when it holds oradata/ (an Instant-Client-like home).
[[nodiscard]] std::string FindOwnHome(const void* addressInLibrary);

}  // namespace velnor::ocisqlite
