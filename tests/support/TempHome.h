// Test helpers for the stand-in client library: a temporary Oracle home laid out by the
// admin tool, running programs, and raw access to a client library's C entry points.
#pragma once
#include <string>
#include <vector>

namespace velnor::test {

struct TProcessResult {
    int exitCode = -1;   // the exit status, or -1 when the program did not exit normally
    std::string output;  // standard output and standard error, interleaved
};

// Runs argv[0] with the arguments, feeding input to its standard input.
TProcessResult RunProgram(const std::vector<std::string>& argv, const std::string& input = {});
// Runs ocisqlite-admin with the arguments.
TProcessResult RunAdmin(const std::vector<std::string>& args, const std::string& input = {});

// Path of a variant client library built for the loader's tests: "oci7only", "nooci8name"
// (lacks OCIPasswordChange), "noolog".
std::string VariantLibrary(const std::string& variant);

// A fresh home in a temporary directory, set up with "ocisqlite-admin HOME init" and removed
// with everything in it at destruction. Throws std::runtime_error when a step fails.
//
// The process loads one copy of the library however many homes link to it, so the library
// cannot tell homes apart by its own path: SetAsOracleHome() points ORACLE_HOME here (put
// back at destruction), which the library then uses.
class TTempHome {
public:
    TTempHome();
    ~TTempHome();
    TTempHome(const TTempHome&) = delete;
    TTempHome& operator=(const TTempHome&) = delete;

    [[nodiscard]] const std::string& Path() const noexcept { return path_; }
    [[nodiscard]] std::string LibDir() const { return path_ + "/lib"; }
    [[nodiscard]] std::string ClientLibrary() const { return path_ + "/lib/libclntsh.so"; }
    [[nodiscard]] std::string MtsLibrary() const { return path_ + "/lib/liboramts.so"; }

    // A service with the given banner (the default banner when empty).
    void AddService(const std::string& name, const std::string& banner = {});
    void SetBanner(const std::string& service, const std::string& banner);
    void AddUser(const std::string& service, const std::string& user, const std::string& password);
    void AddExpiredUser(const std::string& service, const std::string& user,
                        const std::string& password);
    void AddExpiringUser(const std::string& service, const std::string& user,
                         const std::string& password, int days);
    // Service DEMO with SCOTT/TIGER and the demo tables.
    void AddDemo();
    // Runs ';'-separated SQL as the user through the admin tool; throws when it fails.
    std::string RunSql(const std::string& service, const std::string& user, const std::string& sql);

    // Makes lib/libclntsh.so a link to another library file (VariantLibrary(...)).
    void UseClientLibrary(const std::string& path);
    void SetAsOracleHome();

private:
    void Admin(const std::vector<std::string>& args);

    std::string path_;
    bool oracleHomeSet_ = false;
    bool hadOracleHome_ = false;
    std::string previousOracleHome_;
};

// A client library opened with dlopen, for tests of the C entry points themselves. Sets
// NLS_LANG to AL32UTF8 when it is unset, as Velnor's loader would.
class TRawClient {
public:
    explicit TRawClient(const std::string& path = DefaultPath());
    ~TRawClient();
    TRawClient(const TRawClient&) = delete;
    TRawClient& operator=(const TRawClient&) = delete;

    static std::string DefaultPath();                    // the built libocisqlite.so
    [[nodiscard]] void* Symbol(const char* name) const;  // null when absent
    // The entry point as its typed pointer; throws when it is missing.
    template <class Fn>
    [[nodiscard]] Fn Get(const char* name) const {
        return reinterpret_cast<Fn>(Required(name));
    }

private:
    [[nodiscard]] void* Required(const char* name) const;
    void* handle_ = nullptr;
};

// client.Get<FnOCILogon>("OCILogon") without repeating the name.
#define VELNOR_ENTRY(client, name) (client).Get<Fn##name>(#name)

}  // namespace velnor::test
