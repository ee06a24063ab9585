#include "platform/System.h"

#include <dirent.h>
#include <fnmatch.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <mutex>

#include "platform/Exception.h"
#include "platform/Text.h"

namespace velnor::platform {
namespace {

std::mutex& ArgumentsMutex() {
    static std::mutex mutex;
    return mutex;
}

std::vector<std::string>& Arguments() {
    static std::vector<std::string> arguments;
    return arguments;
}

// setenv and getenv are not safe against each other; every access here goes through this.
std::mutex& EnvironmentMutex() {
    static std::mutex mutex;
    return mutex;
}

bool ValidEnvironmentName(const std::string& name) {
    return !name.empty() && name.find_first_of(std::string_view("=\0", 2)) == std::string::npos;
}

}  // namespace

void SetProgramArguments(int argc, const char* const* argv) {
    std::vector<std::string> arguments;
    for (int i = 1; i < argc && argv; ++i) {
        if (argv[i]) arguments.emplace_back(argv[i]);
    }
    SetProgramArguments(std::move(arguments));
}

void SetProgramArguments(std::vector<std::string> arguments) {
    const std::lock_guard lock(ArgumentsMutex());
    Arguments() = std::move(arguments);
}

std::vector<std::string> ProgramArguments() {
    const std::lock_guard lock(ArgumentsMutex());
    return Arguments();
}

std::string GetCommandLineValue(std::string_view name) {
    if (name.empty()) return {};
    const std::lock_guard lock(ArgumentsMutex());
    for (const std::string& argument : Arguments()) {
        if (argument.size() > name.size() && argument[name.size()] == '=' &&
            StartsWithText(argument, name)) {
            return argument.substr(name.size() + 1);
        }
    }
    return {};
}

std::optional<std::string> GetEnvironment(const std::string& name) {
    if (!ValidEnvironmentName(name)) return std::nullopt;
    const std::lock_guard lock(EnvironmentMutex());
    const char* value = std::getenv(name.c_str());
    if (!value) return std::nullopt;
    return std::string(value);
}

void SetEnvironment(const std::string& name, const std::string& value) {
    if (!ValidEnvironmentName(name)) throw Exception("Invalid environment variable name");
    if (value.find('\0') != std::string::npos) {
        throw Exception("Invalid value for environment variable " + name);
    }
    const std::lock_guard lock(EnvironmentMutex());
    if (setenv(name.c_str(), value.c_str(), 1) != 0) {
        throw Exception("Cannot set environment variable " + name + ": " + std::strerror(errno));
    }
}

void UnsetEnvironment(const std::string& name) {
    if (!ValidEnvironmentName(name)) return;
    const std::lock_guard lock(EnvironmentMutex());
    unsetenv(name.c_str());
}

std::string GetCurrentDirectory() {
    std::string buffer(256, '\0');
    for (;;) {
        if (getcwd(buffer.data(), buffer.size())) {
            buffer.resize(std::strlen(buffer.c_str()));
            return buffer;
        }
        if (errno != ERANGE) return {};
        buffer.resize(buffer.size() * 2);
    }
}

bool SetCurrentDirectory(const std::string& path) {
    return !path.empty() && path.find('\0') == std::string::npos && chdir(path.c_str()) == 0;
}

bool FileExists(const std::string& path) {
    struct stat info {};
    return !path.empty() && stat(path.c_str(), &info) == 0 && !S_ISDIR(info.st_mode);
}

bool DirectoryExists(const std::string& path) {
    struct stat info {};
    return !path.empty() && stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

std::vector<std::string> ListFiles(const std::string& directory, const std::string& pattern) {
    std::vector<std::string> names;
    if (directory.empty()) return names;
    DIR* dir = opendir(directory.c_str());
    if (!dir) return names;
    while (const dirent* entry = readdir(dir)) {
        const std::string_view name = entry->d_name;
        if (name == "." || name == "..") continue;
        if (fnmatch(pattern.c_str(), entry->d_name, 0) == 0) names.emplace_back(name);
    }
    closedir(dir);
    return names;
}

std::string JoinPath(std::string_view directory, std::string_view name) {
    while (!name.empty() && name.front() == '/') name.remove_prefix(1);
    if (directory.empty()) return std::string(name);
    while (directory.size() > 1 && directory.back() == '/') directory.remove_suffix(1);
    std::string result(directory);
    if (result.back() != '/') result += '/';
    result += name;
    return result;
}

std::string DirectoryOf(std::string_view path) {
    const auto slash = path.find_last_of('/');
    if (slash == std::string_view::npos) return {};
    std::string_view directory = path.substr(0, slash);
    while (!directory.empty() && directory.back() == '/') directory.remove_suffix(1);
    if (directory.empty()) return "/";
    return std::string(directory);
}

std::string FileNameOf(std::string_view path) {
    const auto slash = path.find_last_of('/');
    return std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
}

bool TracerAttached(std::string_view procStatus) {
    constexpr std::string_view key = "TracerPid:";
    std::size_t start = 0;
    while (start < procStatus.size()) {
        std::size_t end = procStatus.find('\n', start);
        if (end == std::string_view::npos) end = procStatus.size();
        std::string_view line = procStatus.substr(start, end - start);
        if (line.substr(0, key.size()) == key) {
            line.remove_prefix(key.size());
            const auto digit = line.find_first_not_of(" \t");
            return digit != std::string_view::npos && line[digit] >= '1' && line[digit] <= '9';
        }
        start = end + 1;
    }
    return false;
}

bool DebuggerPresent() {
    std::ifstream status("/proc/self/status");
    if (!status) return false;
    const std::string text{std::istreambuf_iterator<char>(status),
                           std::istreambuf_iterator<char>()};
    return TracerAttached(text);
}

}  // namespace velnor::platform
