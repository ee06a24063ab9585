#include "ocisqlite/store/OracleHome.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>

#include "ocisqlite/store/Sha256.h"
#include "platform/AtomicFile.h"

namespace velnor::ocisqlite {
namespace {

constexpr const char* kServiceFile = "service.conf";
constexpr const char* kUsersFile = "users";

std::string RandomSalt() {
    unsigned char bytes[16] = {};
    bool filled = false;
    if (int fd = ::open("/dev/urandom", O_RDONLY | O_CLOEXEC); fd >= 0) {
        filled = ::read(fd, bytes, sizeof bytes) == static_cast<ssize_t>(sizeof bytes);
        ::close(fd);
    }
    if (!filled) {
        std::random_device device;
        for (auto& b : bytes) b = static_cast<unsigned char>(device());
    }
    return HexText(std::string_view(reinterpret_cast<const char*>(bytes), sizeof bytes));
}

std::string HashOf(std::string_view salt, std::string_view password) {
    // Passwords compare without regard to letter case, as older servers did.
    std::string data(salt);
    data += ':';
    data += UpperName(password);
    return Sha256Hex(data);
}

std::runtime_error IoError(const std::string& what, const std::string& path) {
    return std::runtime_error(what + " " + path + ": " + std::strerror(errno));
}

void WriteFileAtomically(const std::string& path, const std::string& content) {
    try {
        platform::ReplaceFile(path, content, 0600, path + ".tmp" + std::to_string(::getpid()));
    } catch (const platform::EFileReplaceError& e) {
        using enum platform::EFileReplaceError::TStep;
        const char* what = e.Step() == Create    ? "cannot create"
                           : e.Step() == Replace ? "cannot replace"
                                                 : "cannot write";
        throw std::runtime_error(std::string(what) + " " + e.Path() + ": " +
                                 std::strerror(e.SystemError()));
    }
}

bool IsDirectory(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::vector<TUserRecord> ParseUsers(std::istream& in) {
    std::vector<TUserRecord> users;
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#') continue;
        std::istringstream fields(line);
        TUserRecord user;
        std::string expiry;
        if (!(fields >> user.name >> user.salt >> user.hash >> expiry)) continue;
        if (expiry == "expired") {
            user.expired = true;
        } else if (expiry != "-") {
            user.expiresAt = std::strtoll(expiry.c_str(), nullptr, 10);
        }
        users.push_back(std::move(user));
    }
    return users;
}

}  // namespace

std::string DefaultBanner() {
    return "Oracle Database 19c Enterprise Edition Release 19.0.0.0.0 - Production";
}

std::string UpperName(std::string_view name) {
    std::string out(name);
    for (auto& c : out)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return out;
}

bool IsValidName(std::string_view name) {
    if (name.empty() || name.size() > 128) return false;
    for (char c : name) {
        const bool ok = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
                        (c >= '0' && c <= '9') || c == '_' || c == '$' || c == '#';
        if (!ok) return false;
    }
    return true;
}

TUserRecord MakeUser(std::string_view name, std::string_view password, bool expired,
                     int expiresInDays) {
    TUserRecord user;
    user.name = UpperName(name);
    user.salt = RandomSalt();
    user.hash = HashOf(user.salt, password);
    user.expired = expired;
    if (!expired && expiresInDays > 0)
        user.expiresAt = static_cast<std::int64_t>(::time(nullptr)) +
                         static_cast<std::int64_t>(expiresInDays) * 86400;
    return user;
}

TPasswordCheck CheckPassword(const TUserRecord& user, std::string_view password, std::int64_t now) {
    TPasswordCheck check;
    check.valid = HashOf(user.salt, password) == user.hash;
    if (!check.valid) return check;
    if (user.expired || (user.expiresAt != 0 && now >= user.expiresAt)) {
        check.expired = true;
    } else if (user.expiresAt != 0) {
        check.graceDays = static_cast<int>((user.expiresAt - now + 86399) / 86400);
    }
    return check;
}

std::string TOracleHome::DataDir() const { return path_ + "/oradata"; }

std::string TOracleHome::ServiceDir(std::string_view service) const {
    return DataDir() + "/" + UpperName(service);
}

std::string TOracleHome::SchemaPath(std::string_view service, std::string_view user) const {
    return ServiceDir(service) + "/" + UpperName(user) + ".db";
}

bool TOracleHome::ServiceExists(std::string_view service) const {
    if (!IsValidName(service)) return false;
    return ::access((ServiceDir(service) + "/" + kServiceFile).c_str(), F_OK) == 0;
}

std::string TOracleHome::Banner(std::string_view service) const {
    std::ifstream in(ServiceDir(service) + "/" + kServiceFile);
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind("banner=", 0) == 0 && line.size() > 7) return line.substr(7);
    }
    return DefaultBanner();
}

void TOracleHome::WriteService(std::string_view service, const std::string& banner) const {
    if (!IsValidName(service)) throw std::runtime_error("invalid service name");
    if (banner.find_first_of("\r\n") != std::string::npos)
        throw std::runtime_error("the banner must be one line");
    if (!IsDirectory(DataDir())) throw std::runtime_error("not an initialised home: " + path_);
    const std::string dir = ServiceDir(service);
    if (::mkdir(dir.c_str(), 0755) != 0 && errno != EEXIST) throw IoError("cannot create", dir);
    WriteFileAtomically(dir + "/" + kServiceFile, "banner=" + banner + "\n");
}

std::vector<TUserRecord> TOracleHome::ReadUsers(std::string_view service) const {
    std::ifstream in(ServiceDir(service) + "/" + kUsersFile);
    return ParseUsers(in);
}

std::optional<TUserRecord> TOracleHome::FindUser(std::string_view service,
                                                 std::string_view user) const {
    const std::string wanted = UpperName(user);
    for (auto& record : ReadUsers(service))
        if (record.name == wanted) return record;
    return std::nullopt;
}

void TOracleHome::UpdateUsers(std::string_view service,
                              const std::function<void(std::vector<TUserRecord>&)>& change) const {
    const std::string dir = ServiceDir(service);
    const std::string lockPath = dir + "/users.lock";
    int lock = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (lock < 0) throw IoError("cannot open", lockPath);
    while (::flock(lock, LOCK_EX) != 0 && errno == EINTR) {
    }
    try {
        auto users = ReadUsers(service);
        change(users);
        std::string text;
        for (const auto& u : users) {
            text += u.name + " " + u.salt + " " + u.hash + " ";
            text += u.expired ? std::string("expired")
                              : (u.expiresAt ? std::to_string(u.expiresAt) : std::string("-"));
            text += "\n";
        }
        WriteFileAtomically(dir + "/" + kUsersFile, text);
    } catch (...) {
        ::close(lock);
        throw;
    }
    ::close(lock);
}

std::string FindOwnHome(const void* addressInLibrary) {
    if (const char* env = std::getenv("ORACLE_HOME"); env && *env) {
        std::string home(env);
        while (home.size() > 1 && home.back() == '/') home.pop_back();
        return home;
    }
    Dl_info info{};
    if (::dladdr(addressInLibrary, &info) == 0 || !info.dli_fname) return {};
    std::string file(info.dli_fname);
    const auto slash = file.rfind('/');
    if (slash == std::string::npos) return "..";
    const std::string folder = file.substr(0, slash);
    // An Instant-Client-like home keeps the library beside its data, not in lib/.
    struct stat st {};
    if (::stat((folder.empty() ? "/oradata" : folder + "/oradata").c_str(), &st) == 0 &&
        S_ISDIR(st.st_mode))
        return folder.empty() ? "/" : folder;
    const auto up = folder.rfind('/');
    if (up == std::string::npos) return ".";
    return up == 0 ? "/" : folder.substr(0, up);
}

}  // namespace velnor::ocisqlite
