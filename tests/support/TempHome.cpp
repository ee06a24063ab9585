#include "tests/support/TempHome.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <stdexcept>
#include <thread>

namespace velnor::test {
namespace {

void WriteAll(int fd, const std::string& data) {
    std::size_t done = 0;
    while (done < data.size()) {
        const ssize_t n = ::write(fd, data.data() + done, data.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;  // the program stopped reading
        done += static_cast<std::size_t>(n);
    }
}

}  // namespace

TProcessResult RunProgram(const std::vector<std::string>& argv, const std::string& input) {
    if (argv.empty()) throw std::invalid_argument("RunProgram: no program");
    int in[2], out[2];
    if (::pipe2(in, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
    if (::pipe2(out, O_CLOEXEC) != 0) {
        ::close(in[0]);
        ::close(in[1]);
        throw std::runtime_error("pipe failed");
    }
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(in[0], 0);
        ::dup2(out[1], 1);
        ::dup2(out[1], 2);
        ::execv(args[0], args.data());
        ::_exit(127);
    }
    ::close(in[0]);
    ::close(out[1]);
    if (pid < 0) {
        ::close(in[1]);
        ::close(out[0]);
        throw std::runtime_error("fork failed");
    }
    std::thread feeder([fd = in[1], &input] {
        WriteAll(fd, input);
        ::close(fd);
    });
    TProcessResult result;
    char buf[4096];
    for (;;) {
        const ssize_t n = ::read(out[0], buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        result.output.append(buf, static_cast<std::size_t>(n));
    }
    ::close(out[0]);
    feeder.join();
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

TProcessResult RunAdmin(const std::vector<std::string>& args, const std::string& input) {
#ifdef VELNOR_OCISQLITE_ADMIN
    std::vector<std::string> argv{VELNOR_OCISQLITE_ADMIN};
    argv.insert(argv.end(), args.begin(), args.end());
    return RunProgram(argv, input);
#else
    (void)args;
    (void)input;
    throw std::runtime_error("ocisqlite-admin is not built");
#endif
}

std::string VariantLibrary(const std::string& variant) {
    return std::string(VELNOR_TESTLIBS_DIR) + "/libocisqlite-" + variant + ".so";
}

TTempHome::TTempHome() {
    std::string pattern = (std::filesystem::temp_directory_path() / "velnor-home-XXXXXX").string();
    if (!::mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
    try {
        Admin({path_, "init"});
    } catch (...) {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
        throw;
    }
}

TTempHome::~TTempHome() {
    if (oracleHomeSet_) {
        if (hadOracleHome_)
            ::setenv("ORACLE_HOME", previousOracleHome_.c_str(), 1);
        else
            ::unsetenv("ORACLE_HOME");
    }
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

void TTempHome::Admin(const std::vector<std::string>& args) {
    const TProcessResult r = RunAdmin(args);
    if (r.exitCode != 0) {
        std::string line;
        for (const auto& a : args) line += " " + a;
        throw std::runtime_error("ocisqlite-admin" + line + " failed: " + r.output);
    }
}

void TTempHome::AddService(const std::string& name, const std::string& banner) {
    if (banner.empty())
        Admin({path_, "service", name});
    else
        Admin({path_, "service", name, "--banner", banner});
}

void TTempHome::SetBanner(const std::string& service, const std::string& banner) {
    Admin({path_, "service", service, "--banner", banner});
}

void TTempHome::AddUser(const std::string& service, const std::string& user,
                        const std::string& password) {
    Admin({path_, "user", service, user, password});
}

void TTempHome::AddExpiredUser(const std::string& service, const std::string& user,
                               const std::string& password) {
    Admin({path_, "user", service, user, password, "--expired"});
}

void TTempHome::AddExpiringUser(const std::string& service, const std::string& user,
                                const std::string& password, int days) {
    Admin({path_, "user", service, user, password, "--expires-in", std::to_string(days)});
}

void TTempHome::AddDemo() { Admin({path_, "demo"}); }

std::string TTempHome::RunSql(const std::string& service, const std::string& user,
                              const std::string& sql) {
    const TProcessResult r = RunAdmin({path_, "sql", service, user}, sql);
    if (r.exitCode != 0) throw std::runtime_error("ocisqlite-admin sql failed: " + r.output);
    return r.output;
}

void TTempHome::UseClientLibrary(const std::string& path) {
    const std::string link = ClientLibrary();
    ::unlink(link.c_str());
    if (::symlink(path.c_str(), link.c_str()) != 0)
        throw std::runtime_error("cannot link " + link + " to " + path);
}

void TTempHome::SetAsOracleHome() {
    if (!oracleHomeSet_) {
        const char* previous = std::getenv("ORACLE_HOME");
        hadOracleHome_ = previous != nullptr;
        if (previous) previousOracleHome_ = previous;
        oracleHomeSet_ = true;
    }
    ::setenv("ORACLE_HOME", path_.c_str(), 1);
}

std::string TRawClient::DefaultPath() {
#ifdef VELNOR_OCISQLITE_LIB
    return VELNOR_OCISQLITE_LIB;
#else
    throw std::runtime_error("libocisqlite.so is not built");
#endif
}

TRawClient::TRawClient(const std::string& path) {
    // The character set Velnor's loader gives a client when the user set none.
    ::setenv("NLS_LANG", "AMERICAN_AMERICA.AL32UTF8", 0);
    handle_ = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle_) throw std::runtime_error(std::string("dlopen failed: ") + ::dlerror());
}

TRawClient::~TRawClient() {
    if (handle_) ::dlclose(handle_);
}

void* TRawClient::Symbol(const char* name) const { return ::dlsym(handle_, name); }

void* TRawClient::Required(const char* name) const {
    void* p = Symbol(name);
    if (!p) throw std::runtime_error(std::string("missing entry point ") + name);
    return p;
}

}  // namespace velnor::test
