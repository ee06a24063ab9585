// Process and file-system seams: program arguments, environment, working directory,
// file tests and listings, debugger detection.
#pragma once
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace velnor::platform {

// Called once from main(); tests may call it again to set other arguments.
void SetProgramArguments(int argc, const char* const* argv);
void SetProgramArguments(std::vector<std::string> arguments);  // without the program name
[[nodiscard]] std::vector<std::string> ProgramArguments();

// The value of the first argument "NAME=value" (name compared case-insensitively), or "".
// The value is returned whole, never cut.
[[nodiscard]] std::string GetCommandLineValue(std::string_view name);

// Reads and changes of the environment are serialised with each other.
[[nodiscard]] std::optional<std::string> GetEnvironment(const std::string& name);
// Raises Exception for a name that is empty or holds "=" or a NUL.
void SetEnvironment(const std::string& name, const std::string& value);
void UnsetEnvironment(const std::string& name);

// "" when the working directory no longer exists.
[[nodiscard]] std::string GetCurrentDirectory();
bool SetCurrentDirectory(const std::string& path);

// A file is anything that exists and is not a directory (links are followed).
[[nodiscard]] bool FileExists(const std::string& path);
[[nodiscard]] bool DirectoryExists(const std::string& path);
// Names (not paths) of the entries of `directory` matching a shell wildcard such as
// "libclntsh.so.*", of any kind, in directory order; "." and ".." never; empty when the
// directory cannot be read. Names compare case-sensitively.
[[nodiscard]] std::vector<std::string> ListFiles(const std::string& directory,
                                                 const std::string& pattern);
// "dir/name" with exactly one separator; "" as directory gives the name alone.
[[nodiscard]] std::string JoinPath(std::string_view directory, std::string_view name);
// The directory part of a path, without a trailing separator ("" when there is none,
// "/" for an entry of the root directory).
[[nodiscard]] std::string DirectoryOf(std::string_view path);
[[nodiscard]] std::string FileNameOf(std::string_view path);

// True when a tracer is attached (TracerPid in /proc/self/status is not 0).
[[nodiscard]] bool DebuggerPresent();
// The same test on the text of a /proc/<pid>/status file.
[[nodiscard]] bool TracerAttached(std::string_view procStatus);

}  // namespace velnor::platform
