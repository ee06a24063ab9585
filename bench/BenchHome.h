// Shared set-up of the benchmarks: the stand-in's admin tool and a fresh temporary home.
#pragma once
#include <stdlib.h>

#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <string>

namespace velnor::bench {

// Runs ocisqlite-admin with the arguments, quietly; throws when it fails.
inline void Admin(const std::string& args) {
#ifdef VELNOR_OCISQLITE_ADMIN
    const std::string command = std::string(VELNOR_OCISQLITE_ADMIN) + " " + args + " >/dev/null";
    if (std::system(command.c_str()) != 0) throw std::runtime_error("failed: " + command);
#else
    (void)args;
    throw std::runtime_error("the stand-in's admin tool was not built");
#endif
}

// A new empty directory under the temporary folder, named after `prefix`.
inline std::string MakeTempDirectory(const std::string& prefix) {
    std::string pattern = (std::filesystem::temp_directory_path() / (prefix + "-XXXXXX")).string();
    if (!mkdtemp(pattern.data())) throw std::runtime_error("no temporary directory");
    return pattern;
}

}  // namespace velnor::bench
