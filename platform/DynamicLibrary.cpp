#include "platform/DynamicLibrary.h"

#include <dlfcn.h>

#include <utility>

namespace velnor::platform {

TDynamicLibrary::~TDynamicLibrary() { Unload(); }

TDynamicLibrary::TDynamicLibrary(TDynamicLibrary&& other) noexcept
    : handle_(std::exchange(other.handle_, nullptr)),
      path_(std::move(other.path_)),
      lastError_(std::move(other.lastError_)) {}

TDynamicLibrary& TDynamicLibrary::operator=(TDynamicLibrary&& other) noexcept {
    if (this != &other) {
        Unload();
        handle_ = std::exchange(other.handle_, nullptr);
        path_ = std::move(other.path_);
        lastError_ = std::move(other.lastError_);
    }
    return *this;
}

bool TDynamicLibrary::Load(const std::string& path) {
    Unload();
    lastError_.clear();
    // dlopen(nullptr) would hand out the program itself, and a name with a NUL would be cut.
    if (path.empty() || path.find('\0') != std::string::npos) {
        lastError_ = "invalid library path";
        return false;
    }
    dlerror();
    handle_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle_) {
        const char* reason = dlerror();
        lastError_ = reason ? reason : "dlopen failed";
        return false;
    }
    path_ = path;
    return true;
}

void TDynamicLibrary::Unload() noexcept {
    if (!handle_) return;
    dlclose(handle_);
    handle_ = nullptr;
    path_.clear();
}

void* TDynamicLibrary::Symbol(const char* name) const noexcept {
    if (!handle_ || !name) return nullptr;
    return dlsym(handle_, name);
}

}  // namespace velnor::platform
