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

    // Loads with RTLD_NOW | RTLD_LOCAL; false on failure, with the reason in LastError().
    bool Load(const std::string& path);
    void Unload() noexcept;
    [[nodiscard]] bool Loaded() const noexcept { return handle_ != nullptr; }
    // Null when the name is not exported or nothing is loaded.
    [[nodiscard]] void* Symbol(const char* name) const noexcept;
    [[nodiscard]] const std::string& LastError() const noexcept { return lastError_; }

private:
    void* handle_ = nullptr;
    std::string lastError_;
};

}  // namespace velnor::platform
