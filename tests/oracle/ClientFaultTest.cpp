// A broken client installation and a broken or busy database behind it: every fault comes
// back as an error the user can read, never as a crash or a hang.
#include <dlfcn.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <link.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <functional>

#include "oracle/client/OciLibrary.h"
#include "oracle/client/OracleError.h"
#include "oracle/query/OracleQuery.h"
#include "oracle/session/OracleSession.h"
#include "tests/oracle/ClientTestEnvironment.h"
#include "tests/support/TempHome.h"

namespace velnor::oracle {
namespace {

using ::testing::HasSubstr;
using ::testing::StartsWith;

#ifdef VELNOR_HAVE_STANDIN

// Shared libraries that are not client libraries: one the process has loaded already, and
// one it has not (empty when it is not installed).
std::string LoadedSystemLibrary() {
    Dl_info info{};
    dladdr(reinterpret_cast<void*>(static_cast<double (*)(double)>(&std::cos)), &info);
    return info.dli_fname ? info.dli_fname : "";
}

std::string UnloadedSystemLibrary() {
    void* handle = ::dlopen("libz.so.1", RTLD_NOW | RTLD_LOCAL);
    if (!handle) return "";
    link_map* map = nullptr;
    std::string path;
    if (::dlinfo(handle, RTLD_DI_LINKMAP, &map) == 0 && map && map->l_name) path = map->l_name;
    ::dlclose(handle);
    return path;
}

// Makes the home's libclntsh.so a link to `target`; "-" when there is none to link to.
std::string LinkClientLibrary(const std::string& home, const std::string& target) {
    if (target.empty()) return "-";
    std::filesystem::create_symlink(target, home + "/lib/libclntsh.so");
    return home + "/lib/libclntsh.so";
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteFile(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

struct ClientFaultTest : ::testing::Test {
    // Logs on as SCOTT/TIGER@DEMO; raises what the logon raises.
    static std::unique_ptr<TOracleSession> Logon() {
        auto session = std::make_unique<TOracleSession>();
        session->SetLogonUsername("SCOTT");
        session->SetLogonPassword("TIGER");
        session->SetLogonDatabase("DEMO");
        session->LogOn();
        return session;
    }
    static void Run(TOracleSession& session, const std::string& sql) {
        TOracleQuery q;
        q.SetSession(&session);
        q.SQL().SetText(sql);
        q.Execute();
    }
    static std::string Message(const std::function<void()>& step) {
        try {
            step();
        } catch (const platform::Exception& e) {
            return e.Message();
        }
        return "(no error)";
    }

    test::TClientEnvironment env_;
    test::TStandInHome home_{env_};
};

// ---- the client library ----

struct LibraryCase {
    const char* name;
    // Breaks the home (its path given); returns the library path the loader will report.
    std::function<std::string(const std::string& home)> breakHome;
    const char* failure;  // the line after "Initialization error"
};

struct BrokenClientLibrary : ClientFaultTest, ::testing::WithParamInterface<LibraryCase> {};

TEST_P(BrokenClientLibrary, LogonRaisesTheLoadersErrorAndAGoodLibraryLoadsAfterwards) {
    const std::string library = home_.Library();
    std::filesystem::remove(library);
    const std::string reported = GetParam().breakHome(home_.Path());
    if (reported == "-") GTEST_SKIP() << "no library of that kind installed";
    const std::string message = Message([] { Logon(); });
    EXPECT_THAT(message, StartsWith("Initialization error\r\n" + std::string(GetParam().failure) +
                                    reported));
    EXPECT_THAT(message, HasSubstr("\r\n\r\nOracleHomeKey: "));  // the loader log
    EXPECT_THAT(message, HasSubstr("OracleHomeDir: "));
    EXPECT_FALSE(OCILoaded());

    // The programs report it the same way and end normally.
    platform::SetEnvironment("VELNOR_PASSWORD", "TIGER");
    const auto cli = velnor::test::RunProgram(
        {std::string(VELNOR_BINARY_DIR) + "/app/velnor-cli", "--logon", "SCOTT@DEMO", "tables"});
    platform::UnsetEnvironment("VELNOR_PASSWORD");
    EXPECT_EQ(cli.exitCode, 1) << cli.output;
    EXPECT_THAT(cli.output, HasSubstr("Initialization error"));

    // Nothing of the failed attempt sticks: the repaired home works in the same process.
    platform::SetEnvironment("ORACLE_HOME", home_.Path());
    std::error_code ignored;
    std::filesystem::remove_all(library, ignored);
    std::filesystem::create_symlink(VELNOR_OCISQLITE_LIB, library);
    const auto session = Logon();
    EXPECT_TRUE(session->Connected());
}

INSTANTIATE_TEST_SUITE_P(
    ClientFault, BrokenClientLibrary,
    ::testing::Values(LibraryCase{"TextFile",
                                  [](const std::string& home) {
                                      WriteFile(home + "/lib/libclntsh.so",
                                                "#!/bin/sh\nnot a library\n");
                                      return home + "/lib/libclntsh.so";
                                  },
                                  "Could not load \""},
                      LibraryCase{"EmptyFile",
                                  [](const std::string& home) {
                                      WriteFile(home + "/lib/libclntsh.so", "");
                                      return home + "/lib/libclntsh.so";
                                  },
                                  "Could not load \""},
                      LibraryCase{"LinkToASystemLibrary",
                                  [](const std::string& home) {
                                      return LinkClientLibrary(home, UnloadedSystemLibrary());
                                  },
                                  "Could not initialize \""},
                      LibraryCase{"LinkToALibraryAlreadyLoaded",
                                  [](const std::string& home) {
                                      return LinkClientLibrary(home, LoadedSystemLibrary());
                                  },
                                  "Could not initialize \""},
                      LibraryCase{"CutOffCopy",
                                  [](const std::string& home) {
                                      std::ifstream in(VELNOR_OCISQLITE_LIB, std::ios::binary);
                                      std::string head(4096, '\0');
                                      in.read(head.data(),
                                              static_cast<std::streamsize>(head.size()));
                                      WriteFile(home + "/lib/libclntsh.so", head);
                                      return home + "/lib/libclntsh.so";
                                  },
                                  "Could not load \""},
                      LibraryCase{"LinkToNothing",
                                  [](const std::string& home) {
                                      std::filesystem::create_symlink(home + "/lib/gone.so",
                                                                      home + "/lib/libclntsh.so");
                                      return std::string();
                                  },
                                  "Could not locate OCI dll"},
                      LibraryCase{"HomeThatDoesNotExist",
                                  [](const std::string& home) {
                                      platform::SetEnvironment("ORACLE_HOME", home + "/nowhere");
                                      return std::string();
                                  },
                                  "Could not locate OCI dll"}),
    [](const auto& p) { return std::string(p.param.name); });

// ---- the database file of the schema ----

struct DatabaseCase {
    const char* name;
    std::function<std::string(const std::string& original)> damage;
};

struct DamagedDatabase : ClientFaultTest, ::testing::WithParamInterface<DatabaseCase> {};

TEST_P(DamagedDatabase, LogonOrFirstQueryRaisesAnOracleError) {
    home_.Admin(
        "sql DEMO SCOTT <<'EOF'\nCREATE TABLE T (N NUMBER, S VARCHAR2(100));\n"
        "INSERT INTO T VALUES (1, 'one');\nEOF");
    const std::string file = home_.Path() + "/oradata/DEMO/SCOTT.db";
    ASSERT_TRUE(std::filesystem::exists(file));
    WriteFile(file, GetParam().damage(ReadFile(file)));
    std::filesystem::remove(file + "-wal");
    std::filesystem::remove(file + "-shm");
    try {
        const auto session = Logon();
        Run(*session, "SELECT N, S FROM T");
        FAIL() << "the damaged file went unnoticed";
    } catch (const EOracleError& e) {
        EXPECT_GT(e.ErrorCode(), 0);
        EXPECT_THAT(e.Message(), StartsWith("ORA-"));
    }
}

std::string Garbage(std::size_t size) {
    std::string bytes(size, '\0');
    unsigned state = 12345;
    for (char& c : bytes) {
        state = state * 1103515245u + 12345u;
        c = static_cast<char>(state >> 16);
    }
    return bytes;
}

INSTANTIATE_TEST_SUITE_P(
    ClientFault, DamagedDatabase,
    ::testing::Values(
        DatabaseCase{"Garbage", [](const std::string& db) { return Garbage(db.size()); }},
        DatabaseCase{"Text", [](const std::string&) { return std::string("not a database\n"); }},
        DatabaseCase{
            "HeaderKeptPagesOverwritten",
            [](const std::string& db) { return db.substr(0, 100) + Garbage(db.size() - 100); }},
        DatabaseCase{"CutToItsFirstPage",
                     [](const std::string& db) { return db.substr(0, 4096); }}),
    [](const auto& p) { return std::string(p.param.name); });

// ---- a database file another process holds locked ----

// A child process holding a lock on the file through the SQLite library the stand-in uses,
// until the object goes away.
class TLockHolder {
public:
    TLockHolder(const std::string& file, const std::string& sql) {
        void* sqlite = ::dlopen("libsqlite3.so.0", RTLD_NOW | RTLD_LOCAL);
        if (!sqlite) throw std::runtime_error("no libsqlite3.so.0");
        using FnOpen = int (*)(const char*, void**);
        using FnExec = int (*)(void*, const char*, void*, void*, char**);
        const auto open = reinterpret_cast<FnOpen>(::dlsym(sqlite, "sqlite3_open"));
        const auto exec = reinterpret_cast<FnExec>(::dlsym(sqlite, "sqlite3_exec"));
        int locked[2], release[2];
        if (!open || !exec || ::pipe(locked) != 0 || ::pipe(release) != 0)
            throw std::runtime_error("cannot set up the lock holder");
        pid_ = ::fork();
        if (pid_ == 0) {
            ::close(locked[0]);
            ::close(release[1]);
            void* db = nullptr;
            const bool ok = open(file.c_str(), &db) == 0 &&
                            exec(db, sql.c_str(), nullptr, nullptr, nullptr) == 0;
            const char answer = ok ? 'y' : 'n';
            (void)::write(locked[1], &answer, 1);
            char ignored;
            (void)::read(release[0], &ignored, 1);  // returns when the parent closes its end
            ::_exit(0);                             // the lock goes with the process
        }
        ::close(locked[1]);
        ::close(release[0]);
        release_ = release[1];
        char answer = 'n';
        const bool told = ::read(locked[0], &answer, 1) == 1;
        ::close(locked[0]);
        if (pid_ < 0 || !told || answer != 'y') {
            Release();
            throw std::runtime_error("the lock holder could not lock " + file);
        }
    }
    ~TLockHolder() { Release(); }
    TLockHolder(const TLockHolder&) = delete;
    TLockHolder& operator=(const TLockHolder&) = delete;

    void Release() {
        if (release_ >= 0) ::close(release_);
        release_ = -1;
        if (pid_ > 0) {
            int status = 0;
            ::waitpid(pid_, &status, 0);
        }
        pid_ = -1;
    }

private:
    pid_t pid_ = -1;
    int release_ = -1;
};

struct LockCase {
    const char* name;
    const char* sql;  // what the other process runs and holds
    bool readsGoOn;   // a query still sees the committed rows
};

struct LockedDatabase : ClientFaultTest, ::testing::WithParamInterface<LockCase> {};

TEST_P(LockedDatabase, RaisesResourceBusyWithinABoundedWaitAndWorksOnceReleased) {
    home_.Admin(
        "sql DEMO SCOTT <<'EOF'\nCREATE TABLE T (N NUMBER);\nINSERT INTO T VALUES (1);\nEOF");
    TLockHolder holder(home_.Path() + "/oradata/DEMO/SCOTT.db", GetParam().sql);
    const auto start = std::chrono::steady_clock::now();
    try {
        const auto session = Logon();
        Run(*session, "SELECT N FROM T");
        EXPECT_TRUE(GetParam().readsGoOn) << "read past an exclusive lock";
        Run(*session, "INSERT INTO T VALUES (2)");
        session->Commit();
        FAIL() << "wrote past the other process's lock";
    } catch (const EOracleError& e) {
        EXPECT_EQ(e.ErrorCode(), 54) << e.Message();
        EXPECT_THAT(e.Message(), StartsWith("ORA-00054"));
    }
    // Not a speed target: the default busy wait is seconds, a hang would be forever.
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(40));

    holder.Release();
    const auto session = Logon();
    Run(*session, "INSERT INTO T VALUES (3)");
    session->Commit();
}

INSTANTIATE_TEST_SUITE_P(
    ClientFault, LockedDatabase,
    ::testing::Values(
        LockCase{
            "ExclusiveLockingMode",
            "PRAGMA locking_mode=EXCLUSIVE; BEGIN EXCLUSIVE; SELECT COUNT(*) FROM sqlite_master;",
            false},
        LockCase{"WriteTransaction", "BEGIN EXCLUSIVE;", true}),
    [](const auto& p) { return std::string(p.param.name); });

#else
TEST(ClientFaultTest, NeedsTheStandIn) {
    GTEST_SKIP() << "the stand-in client library is not built";
}
#endif

}  // namespace
}  // namespace velnor::oracle
