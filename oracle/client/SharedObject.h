// What a shared library file says it needs, read from its ELF dynamic section without
// loading it.
#pragma once
#include <optional>
#include <string>
#include <vector>

namespace velnor::oracle {

// The DT_NEEDED names of `path` in file order; nullopt when the file cannot be read or is
// not an ELF shared object of this machine's class and byte order.
[[nodiscard]] std::optional<std::vector<std::string>> NeededLibraries(const std::string& path);

}  // namespace velnor::oracle
