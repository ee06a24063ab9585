// Test scaffolding for the client layer: a scratch directory, a private registry, saved
// environment variables and program arguments, and a fresh loader for every test.
#pragma once
#include <stdlib.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "oracle/client/OciLibrary.h"
#include "platform/Registry.h"
#include "platform/System.h"

namespace velnor::oracle::test {

class TScratchDirectory {
public:
    TScratchDirectory() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "velnor-client-XXXXXX").string();
        path_ = mkdtemp(pattern.data()) ? pattern : std::string();
    }
    ~TScratchDirectory() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    TScratchDirectory(const TScratchDirectory&) = delete;
    TScratchDirectory& operator=(const TScratchDirectory&) = delete;

    [[nodiscard]] const std::string& Path() const noexcept { return path_; }
    // Creates the directory (and its parents) below the scratch directory.
    std::string Dir(const std::string& relative) const {
        const std::string dir = path_ + "/" + relative;
        std::filesystem::create_directories(dir);
        return dir;
    }
    std::string File(const std::string& relative, const std::string& text = {}) const {
        const std::string file = path_ + "/" + relative;
        std::filesystem::create_directories(std::filesystem::path(file).parent_path());
        std::ofstream(file, std::ios::binary) << text;
        return file;
    }

private:
    std::string path_;
};

// Restores an environment variable at the end of the scope.
class TEnvironmentGuard {
public:
    explicit TEnvironmentGuard(std::string name)
        : name_(std::move(name)), saved_(platform::GetEnvironment(name_)) {}
    ~TEnvironmentGuard() {
        if (saved_) {
            platform::SetEnvironment(name_, *saved_);
        } else {
            platform::UnsetEnvironment(name_);
        }
    }
    TEnvironmentGuard(const TEnvironmentGuard&) = delete;
    TEnvironmentGuard& operator=(const TEnvironmentGuard&) = delete;

private:
    std::string name_;
    std::optional<std::string> saved_;
};

// A registry of its own, no ORACLE_HOME or NLS_LANG, no program arguments, nothing loaded.
class TClientEnvironment {
public:
    TClientEnvironment() {
        platform::SetEnvironment("VELNOR_REGISTRY_DIR", scratch_.Dir("registry"));
        platform::UnsetEnvironment("ORACLE_HOME");
        platform::UnsetEnvironment("NLS_LANG");
        platform::SetProgramArguments(std::vector<std::string>{});
        platform::TRegistryStore::ResetDefaultPaths();
        UnloadOCI();
        SetOCIDLL("");
    }
    ~TClientEnvironment() {
        UnloadOCI();
        SetOCIDLL("");
        platform::SetProgramArguments(std::vector<std::string>{});
    }
    TClientEnvironment(const TClientEnvironment&) = delete;
    TClientEnvironment& operator=(const TClientEnvironment&) = delete;

    [[nodiscard]] const TScratchDirectory& Scratch() const noexcept { return scratch_; }

    // Writes one root's .reg file; `body` holds "[key]" and "name"="value" lines, the keys
    // relative to the root.
    void WriteRegistry(platform::TRegistryRoot root, const std::string& body) const {
        const bool machine = root == platform::TRegistryRoot::LocalMachine;
        const std::string rootName = machine ? "HKEY_LOCAL_MACHINE" : "HKEY_CURRENT_USER";
        std::string text = "Windows Registry Editor Version 5.00\r\n\r\n";
        for (std::size_t start = 0; start < body.size();) {
            std::size_t end = body.find('\n', start);
            if (end == std::string::npos) end = body.size();
            std::string line = body.substr(start, end - start);
            if (!line.empty() && line.front() == '[') line = "[" + rootName + "\\" + line.substr(1);
            text += line + "\r\n";
            start = end + 1;
        }
        scratch_.File("registry/" + rootName + ".reg", text);
        platform::TRegistryStore::ResetDefaultPaths();
    }

private:
    TEnvironmentGuard registryDir_{"VELNOR_REGISTRY_DIR"};
    TEnvironmentGuard oracleHome_{"ORACLE_HOME"};
    TEnvironmentGuard nlsLang_{"NLS_LANG"};
    TEnvironmentGuard path_{"PATH"};
    TScratchDirectory scratch_;
};

#if defined(VELNOR_OCISQLITE_LIB) && defined(VELNOR_OCISQLITE_ADMIN)
#define VELNOR_HAVE_STANDIN 1

// An Oracle home of the stand-in client library below the scratch directory, made the
// process's ORACLE_HOME. Services: DEMO (current banner) and OLD7 (a release-7 banner).
class TStandInHome {
public:
    explicit TStandInHome(const TClientEnvironment& env) : home_(env.Scratch().Dir("oracle")) {
        Admin("init");
        Admin("service DEMO");
        Admin("user DEMO SCOTT TIGER");
        Admin("user DEMO AGING AGING --expires-in 5");
        Admin("service OLD7 --banner 'Oracle7 Server Release 7.3.4.0.0 - Production'");
        Admin("user OLD7 SCOTT TIGER");
        platform::SetEnvironment("ORACLE_HOME", home_);
    }
    [[nodiscard]] const std::string& Path() const noexcept { return home_; }
    [[nodiscard]] std::string Library() const { return home_ + "/lib/libclntsh.so"; }
    void Admin(const std::string& arguments) const {
        const std::string command =
            std::string("'") + VELNOR_OCISQLITE_ADMIN + "' '" + home_ + "' " + arguments;
        if (std::system(command.c_str()) != 0) throw std::runtime_error("failed: " + command);
    }
    // Makes the home's client library one of the variant builds.
    void UseVariant(const std::string& fileName) const {
        std::filesystem::remove(Library());
        std::filesystem::create_symlink(std::string(VELNOR_TESTLIBS_DIR) + "/" + fileName,
                                        Library());
    }

private:
    std::string home_;
};
#endif

// A .reg string value: backslashes and quotes escaped.
inline std::string RegString(const std::string& value) {
    std::string out = "\"";
    for (char c : value) {
        if (c == '\\' || c == '"') out += '\\';
        out += c;
    }
    return out + "\"";
}

}  // namespace velnor::oracle::test
