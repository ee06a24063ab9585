// A shared library loaded at run time; the only place that calls dlopen and dlsym.
#pragma once
#include <string>

namespace velnor::platform {

class TDynamicLibrary {
public:
    TDynamicLibrary() = default;
    ~TDynamicLibrary();
    TDynamicLibrary(const TDynamicLibrary&) = delete;
    TDynamicLibrary& operator=(const TDynamicLibrary&) = delete;
    TDynamicLibrary(TDynamicLibrary&& other) noexcept;
    TDynamicLibrary& operator=(TDynamicLibrary&& other) noexcept;

    // Loads with RTLD_NOW | RTLD_LOCAL, after unloading what was loaded before; false on
    // failure, with the reason in LastError(). A name without "/" is searched for the way
    // the dynamic loader does (LD_LIBRARY_PATH, the cache, the default directories).
    bool Load(const std::string& path);
    void Unload() noexcept;
    // True when a library of that soname is already in the process.
    [[nodiscard]] static bool IsLoaded(const std::string& soname) noexcept;
    [[nodiscard]] bool Loaded() const noexcept { return handle_ != nullptr; }
    // Null when the name is not exported or nothing is loaded.
    [[nodiscard]] void* Symbol(const char* name) const noexcept;
    [[nodiscard]] const std::string& Path() const noexcept { return path_; }
    [[nodiscard]] const std::string& LastError() const noexcept { return lastError_; }

private:
    void* handle_ = nullptr;
    std::string path_;
    std::string lastError_;
};

}  // namespace velnor::platform
