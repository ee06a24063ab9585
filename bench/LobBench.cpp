// Export and import of a table with one 100 MB CLOB row through velnor-cli on the stand-in
// client library: time and peak resident memory of each run, measured on the child process.
// The export streams the value, so its peak memory should stay under 32 MiB.
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

#include "bench/BenchHome.h"
#include "oracle/client/OciLibrary.h"
#include "oracle/query/OracleQuery.h"
#include "oracle/session/OracleSession.h"

namespace {

using namespace velnor;

constexpr std::size_t kLobBytes = 100u * 1024 * 1024;

// Fills the table in a child process, so the value never counts in the parent.
void FillTable(const std::string& home) {
    const pid_t pid = fork();
    if (pid < 0) throw std::runtime_error("fork failed");
    if (pid == 0) {
        try {
            oracle::SetOCIDLL(home + "/lib/libclntsh.so");
            oracle::TOracleSession session;
            session.SetLogonUsername("SCOTT");
            session.SetLogonPassword("TIGER");
            session.SetLogonDatabase("DEMO");
            session.LogOn();
            oracle::TOracleQuery q(nullptr);
            q.SetSession(&session);
            q.SQL().Add("create table biglob (id number, c clob)");
            q.Execute();
            q.SQL().Clear();
            q.SQL().Add("insert into biglob values (1, :c)");
            q.Variables().AddVariable("c", oracle::otLong);
            std::string text;
            text.reserve(kLobBytes);
            while (text.size() + 64 <= kLobBytes)
                text += "A line of the large document, \"quoted\", numbered 0123456789\n";
            q.Variables().SetVariableValue("c", platform::TVariant(std::move(text)));
            q.Execute();
            session.Commit();
            session.LogOff();
            _exit(0);
        } catch (const std::exception& e) {
            std::fprintf(stderr, "fill: %s\n", e.what());
            _exit(1);
        }
    }
    int status = 0;
    waitpid(pid, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) throw std::runtime_error("fill failed");
}

// Runs velnor-cli with the arguments; prints its time and peak resident memory.
void Run(const std::string& what, const std::vector<std::string>& args) {
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = fork();
    if (pid < 0) throw std::runtime_error("fork failed");
    if (pid == 0) {
        std::vector<char*> argv;
        for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) throw std::runtime_error(what + " failed");
    std::printf("%-7s %6.2f s  peak RSS %7.1f MiB\n", what.c_str(), seconds,
                static_cast<double>(usage.ru_maxrss) / 1024.0);
}

}  // namespace

int main() {
    std::string home;
    try {
        home = bench::MakeTempDirectory("velnor-lobbench");
        bench::Admin(home + " init");
        bench::Admin(home + " service DEMO");
        bench::Admin(home + " user DEMO SCOTT TIGER");
        setenv("ORACLE_HOME", home.c_str(), 1);
        setenv("VELNOR_PASSWORD", "TIGER", 1);
        setenv("VELNOR_REGISTRY_DIR", home.c_str(), 1);
        setenv("NLS_LANG", "AMERICAN_AMERICA.AL32UTF8", 1);
        FillTable(home);
        const std::string cli = std::string(VELNOR_BINARY_DIR) + "/app/velnor-cli";
        const std::string lib = "OCIDLL=" + home + "/lib/libclntsh.so";
        const std::string file = home + "/biglob.csv";
        Run("export", {cli, lib, "--logon", "SCOTT@DEMO", "export", "BIGLOB", file});
        std::printf("file    %.1f MiB (export target: peak RSS under 32 MiB)\n",
                    static_cast<double>(std::filesystem::file_size(file)) / (1024.0 * 1024.0));
        Run("import", {cli, lib, "--logon", "SCOTT@DEMO", "import", "BIGLOB", file, "--replace"});
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s\n", e.what());
    }
    std::error_code ignored;
    if (!home.empty()) std::filesystem::remove_all(home, ignored);
    return 0;
}
