// ocisqlite-admin: lays out an Oracle home for the stand-in client library, creates services
// and users, seeds the demo service and runs SQL through the engine.
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <iostream>
#include <iterator>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "ocisqlite/sql/Engine.h"
#include "ocisqlite/store/OracleHome.h"

namespace velnor::ocisqlite {
namespace {

constexpr const char* kUsage =
    "usage: ocisqlite-admin HOME init [--instant-client]\n"
    "       ocisqlite-admin HOME service NAME [--banner TEXT]\n"
    "       ocisqlite-admin HOME user SERVICE NAME PASSWORD [--expired | --expires-in DAYS]\n"
    "       ocisqlite-admin HOME demo\n"
    "       ocisqlite-admin HOME sql SERVICE USER   (statements on stdin, ';'-separated)\n";

struct TUsageError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Undoes what a command created when a later step fails, so nothing is left half made.
class TUndo {
public:
    ~TUndo() {
        if (committed_) return;
        for (auto it = steps_.rbegin(); it != steps_.rend(); ++it) (*it)();
    }
    void Add(std::function<void()> step) { steps_.push_back(std::move(step)); }
    void Commit() { committed_ = true; }

private:
    std::vector<std::function<void()>> steps_;
    bool committed_ = false;
};

bool Exists(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

bool IsDirectory(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

void MakeDirectory(const std::string& path, TUndo& undo) {
    if (IsDirectory(path)) return;
    if (::mkdir(path.c_str(), 0755) != 0)
        throw std::runtime_error("cannot create " + path + ": " + std::strerror(errno));
    undo.Add([path] { ::rmdir(path.c_str()); });
}

// Points link at target; an older link is replaced, anything else is left alone.
void MakeLink(const std::string& target, const std::string& link, TUndo& undo) {
    struct stat st {};
    if (::lstat(link.c_str(), &st) == 0) {
        if (!S_ISLNK(st.st_mode)) throw std::runtime_error(link + " exists and is not a link");
        char old[4096];
        const ssize_t n = ::readlink(link.c_str(), old, sizeof old - 1);
        const std::string previous = n > 0 ? std::string(old, static_cast<std::size_t>(n)) : "";
        if (previous == target) return;
        if (::unlink(link.c_str()) != 0)
            throw std::runtime_error("cannot replace " + link + ": " + std::strerror(errno));
        undo.Add([previous, link] {
            if (!previous.empty() && ::symlink(previous.c_str(), link.c_str()) != 0) {
                // best effort: the original error is the one to report
            }
        });
    }
    if (::symlink(target.c_str(), link.c_str()) != 0)
        throw std::runtime_error("cannot create " + link + ": " + std::strerror(errno));
    undo.Add([link] { ::unlink(link.c_str()); });
}

void RequireHome(const TOracleHome& home) {
    if (!IsDirectory(home.DataDir()))
        throw std::runtime_error(home.Path() + " is not an initialised home (run init first)");
}

std::string CheckedName(const std::string& name, const char* what) {
    if (!IsValidName(name))
        throw TUsageError(std::string("invalid ") + what + " name: " + name +
                          " (letters, digits, _ $ # only)");
    return UpperName(name);
}

void Init(const TOracleHome& home) {
    TUndo undo;
    MakeDirectory(home.Path(), undo);
    MakeDirectory(home.Path() + "/lib", undo);
    MakeDirectory(home.Path() + "/bin", undo);
    MakeDirectory(home.DataDir(), undo);
    MakeLink(VELNOR_CLIENT_MODULE, home.Path() + "/lib/libclntsh.so", undo);
    MakeLink(VELNOR_ORAMTS_MODULE, home.Path() + "/lib/liboramts.so", undo);
    undo.Commit();
}

// A copy, as unzipping leaves real files: a library then knows this folder as its own.
void CopyLibrary(const std::string& from, const std::string& to, TUndo& undo) {
    const bool existed = Exists(to);
    std::error_code error;
    std::filesystem::copy_file(from, to, std::filesystem::copy_options::overwrite_existing, error);
    if (error) throw std::runtime_error("cannot create " + to + ": " + error.message());
    if (!existed) undo.Add([to] { ::unlink(to.c_str()); });
}

// The libraries directly in the home, as an unzipped Instant Client has them; the client
// library finds its companion only if its loader looks in this folder.
void InitInstantClient(const TOracleHome& home) {
    TUndo undo;
    MakeDirectory(home.Path(), undo);
    MakeDirectory(home.DataDir(), undo);
    CopyLibrary(VELNOR_INSTANT_CLIENT_MODULE, home.Path() + "/libclntsh.so", undo);
    const std::string companion = VELNOR_CLIENT_COMPANION;
    CopyLibrary(companion, home.Path() + companion.substr(companion.rfind('/')), undo);
    CopyLibrary(VELNOR_ORAMTS_MODULE, home.Path() + "/liboramts.so", undo);
    undo.Commit();
}

void Service(const TOracleHome& home, const std::string& name, const std::string* banner) {
    RequireHome(home);
    if (home.ServiceExists(name) && !banner) return;  // already there, nothing to change
    TUndo undo;
    const std::string dir = home.ServiceDir(name);
    if (!IsDirectory(dir)) undo.Add([dir] { ::rmdir(dir.c_str()); });
    home.WriteService(name, banner ? *banner : DefaultBanner());
    undo.Commit();
}

// An empty SQLite file for the schema; the engine lays out its tables on first use.
void CreateSchemaFile(const std::string& path, TUndo& undo) {
    if (Exists(path)) return;
    sqlite3* db = nullptr;
    const int rc =
        ::sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
    std::string message = db ? ::sqlite3_errmsg(db) : "out of memory";
    if (rc == SQLITE_OK) {
        // Writing the header makes the file a database before any table exists.
        const int wrc =
            ::sqlite3_exec(db, "PRAGMA user_version = 0; VACUUM;", nullptr, nullptr, nullptr);
        if (wrc != SQLITE_OK) message = ::sqlite3_errmsg(db);
        ::sqlite3_close(db);
        if (wrc == SQLITE_OK) {
            undo.Add([path] { ::unlink(path.c_str()); });
            return;
        }
    } else {
        ::sqlite3_close(db);
    }
    ::unlink(path.c_str());
    throw std::runtime_error("cannot create " + path + ": " + message);
}

void User(const TOracleHome& home, const std::string& service, const std::string& name,
          const std::string& password, bool expired, int expiresInDays) {
    RequireHome(home);
    if (!home.ServiceExists(service)) throw std::runtime_error("no service " + service);
    TUndo undo;
    CreateSchemaFile(home.SchemaPath(service, name), undo);
    const TUserRecord record = MakeUser(name, password, expired, expiresInDays);
    home.UpdateUsers(service, [&](std::vector<TUserRecord>& users) {
        for (auto& u : users)
            if (u.name == record.name) {
                u = record;
                return;
            }
        users.push_back(record);
    });
    undo.Commit();
}

// A session on a user's schema; CREATE USER there adds to the users file.
std::unique_ptr<sql::Connection> OpenSchema(const TOracleHome& home, const std::string& service,
                                            const std::string& user) {
    auto connection = std::make_unique<sql::Connection>(home.SchemaPath(service, user), user);
    connection->OnCreateUser = [&home, service](const std::string& name,
                                                const std::string& password) {
        const TUserRecord record = MakeUser(name, password, false, 0);
        home.UpdateUsers(service, [&](std::vector<TUserRecord>& users) {
            for (auto& u : users)
                if (u.name == record.name)
                    throw sql::OraError(1920, "user name '" + u.name +
                                                  "' conflicts with another user or role name");
            users.push_back(record);
        });
    };
    return connection;
}

void SeedDemoTables(const TOracleHome& home, const std::string& service, const std::string& user) {
    auto connection = OpenSchema(home, service, user);
    try {
        sql::SeedDemo(*connection);
    } catch (const sql::OraError& e) {
        if (e.Code() != 955) throw;  // seeded before: the tables stay as they are
        connection->Rollback();
    }
}

void Demo(const TOracleHome& home) {
    RequireHome(home);
    Service(home, "DEMO", nullptr);
    User(home, "DEMO", "SCOTT", "TIGER", false, 0);
    SeedDemoTables(home, "DEMO", "SCOTT");
}

// Statements separated by ';' outside quotes and comments.
std::vector<std::string> SplitStatements(const std::string& text) {
    std::vector<std::string> out;
    std::string current;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '\'' || c == '"') {
            const std::size_t end = text.find(c, i + 1);
            const std::size_t stop = end == std::string::npos ? text.size() : end + 1;
            current.append(text, i, stop - i);
            i = stop - 1;
        } else if (c == '-' && i + 1 < text.size() && text[i + 1] == '-') {
            const std::size_t end = text.find('\n', i);
            i = end == std::string::npos ? text.size() : end;
            current += '\n';
        } else if (c == '/' && i + 1 < text.size() && text[i + 1] == '*') {
            const std::size_t end = text.find("*/", i + 2);
            i = end == std::string::npos ? text.size() : end + 1;
            current += ' ';
        } else if (c == ';') {
            out.push_back(current);
            current.clear();
        } else {
            current += c;
        }
    }
    out.push_back(current);
    std::vector<std::string> statements;
    for (auto& s : out)
        if (s.find_first_not_of(" \t\r\n") != std::string::npos) statements.push_back(s);
    return statements;
}

// Runs the statements in one transaction; query rows are printed tab-separated.
void Sql(const TOracleHome& home, const std::string& service, const std::string& user,
         std::istream& in) {
    RequireHome(home);
    if (!home.ServiceExists(service)) throw std::runtime_error("no service " + service);
    if (!home.FindUser(service, user)) throw std::runtime_error("no user " + user);
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    auto connection = OpenSchema(home, service, user);
    for (const std::string& statementText : SplitStatements(text)) {
        auto statement = connection->Prepare(statementText);
        const std::int64_t rows = statement->Execute();
        if (statement->Type() == sql::stSelect) {
            while (statement->Fetch()) {
                std::string line;
                for (const auto& v : statement->Row()) {
                    if (!line.empty()) line += '\t';
                    line += v.IsNull() ? std::string() : connection->ToText(v);
                }
                std::cout << line << '\n';
            }
        } else if (rows > 0) {
            std::cout << rows << (rows == 1 ? " row" : " rows") << " processed\n";
        }
    }
    connection->Commit();
}

int ParseDays(const std::string& text) {
    char* end = nullptr;
    errno = 0;
    const long days = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end != 0 || errno != 0 || days < 1 || days > 36500)
        throw TUsageError("--expires-in needs a number of days from 1 to 36500");
    return static_cast<int>(days);
}

int Run(const std::vector<std::string>& args) {
    if (args.size() < 2) throw TUsageError("");
    const TOracleHome home(args[0]);
    const std::string& command = args[1];
    const std::size_t extra = args.size() - 2;
    if (command == "init" && extra == 0) {
        Init(home);
    } else if (command == "init" && extra == 1 && args[2] == "--instant-client") {
        InitInstantClient(home);
    } else if (command == "demo" && extra == 0) {
        Demo(home);
    } else if (command == "sql" && extra == 2) {
        Sql(home, CheckedName(args[2], "service"), CheckedName(args[3], "user"), std::cin);
    } else if (command == "service" && (extra == 1 || (extra == 3 && args[3] == "--banner"))) {
        const std::string name = CheckedName(args[2], "service");
        Service(home, name, extra == 3 ? &args[4] : nullptr);
    } else if (command == "user" && extra >= 3 && extra <= 5) {
        const std::string service = CheckedName(args[2], "service");
        const std::string name = CheckedName(args[3], "user");
        const std::string& password = args[4];
        if (password.empty()) throw TUsageError("the password must not be empty");
        bool expired = false;
        int days = 0;
        if (extra == 4 && args[5] == "--expired") {
            expired = true;
        } else if (extra == 5 && args[5] == "--expires-in") {
            days = ParseDays(args[6]);
        } else if (extra != 3) {
            throw TUsageError("");
        }
        User(home, service, name, password, expired, days);
    } else {
        throw TUsageError("");
    }
    return 0;
}

}  // namespace
}  // namespace velnor::ocisqlite

int main(int argc, char** argv) {
    try {
        return velnor::ocisqlite::Run(std::vector<std::string>(argv + 1, argv + argc));
    } catch (const velnor::ocisqlite::TUsageError& e) {
        if (*e.what()) std::cerr << "ocisqlite-admin: " << e.what() << "\n";
        std::cerr << velnor::ocisqlite::kUsage;
        return 2;
    } catch (const velnor::ocisqlite::sql::OraError& e) {
        std::cerr << e.what() << "\n";
        return 1;
    } catch (const std::exception& e) {
        std::cerr << "ocisqlite-admin: " << e.what() << "\n";
        return 1;
    }
}
