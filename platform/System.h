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
void SetProgramArguments(std::vector<std::string> arguments);   // without the program name
[[nodiscard]] const std::vector<std::string>& ProgramArguments();

// The value of the first argument "NAME=value" (name compared case-insensitively), or "".
// The value is returned whole, never cut.
[[nodiscard]] std::string GetCommandLineValue(std::string_view name);

[[nodiscard]] std::optional<std::string> GetEnvironment(const std::string& name);
void SetEnvironment(const std::string& name, const std::string& value);
void UnsetEnvironment(const std::string& name);

[[nodiscard]] std::string GetCurrentDirectory();
bool SetCurrentDirectory(const std::string& path);

[[nodiscard]] bool FileExists(const std::string& path);
[[nodiscard]] bool DirectoryExists(const std::string& path);
// Names (not paths) of the entries of `directory` matching a shell wildcard such as
// "libclntsh.so.*", in directory order; empty when the directory cannot be read.
[[nodiscard]] std::vector<std::string> ListFiles(const std::string& directory,
                                                 const std::string& pattern);
// "dir/name" with exactly one separator.
[[nodiscard]] std::string JoinPath(std::string_view directory, std::string_view name);
// The directory part of a path, without a trailing separator ("" when there is none).
[[nodiscard]] std::string DirectoryOf(std::string_view path);
[[nodiscard]] std::string FileNameOf(std::string_view path);

// True when a tracer is attached (TracerPid in /proc/self/status is not 0).
[[nodiscard]] bool DebuggerPresent();

}  // namespace velnor::platform
