#include "platform/DynamicLibrary.h"

#include <dlfcn.h>
#include <elf.h>
#include <fcntl.h>
#include <link.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace velnor::platform {
namespace {

// dlopen maps a library's segments without checking that the file holds them, and touching
// a page past the end of a file raises SIGBUS: a cut-off copy would end the program. The
// headers are checked first; anything dlopen itself refuses cleanly is left to it.
std::optional<std::string> TruncatedLibrary(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return std::nullopt;
    struct stat info {};
    ElfW(Ehdr) header{};
    std::optional<std::string> problem;
    const auto tooShort = [&](std::uint64_t needed) {
        return path + ": file too short for its ELF headers (" + std::to_string(needed) +
               " bytes needed, " + std::to_string(info.st_size) + " present)";
    };
    if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) &&
        ::pread(fd, &header, sizeof header, 0) == static_cast<ssize_t>(sizeof header) &&
        std::equal(header.e_ident, header.e_ident + SELFMAG, ELFMAG) &&
        header.e_ident[EI_CLASS] == (sizeof(void*) == 8 ? ELFCLASS64 : ELFCLASS32) &&
        header.e_phentsize == sizeof(ElfW(Phdr))) {
        const auto size = static_cast<std::uint64_t>(info.st_size);
        const std::uint64_t tableEnd = static_cast<std::uint64_t>(header.e_phoff) +
                                       std::uint64_t{header.e_phnum} * sizeof(ElfW(Phdr));
        if (tableEnd > size) {
            problem = tooShort(tableEnd);
        } else {
            std::vector<ElfW(Phdr)> segments(header.e_phnum);
            const auto bytes = static_cast<ssize_t>(segments.size() * sizeof(ElfW(Phdr)));
            if (::pread(fd, segments.data(), static_cast<std::size_t>(bytes),
                        static_cast<off_t>(header.e_phoff)) == bytes) {
                for (const auto& segment : segments) {
                    const std::uint64_t end = static_cast<std::uint64_t>(segment.p_offset) +
                                              static_cast<std::uint64_t>(segment.p_filesz);
                    if (segment.p_type == PT_LOAD && end > size) {
                        problem = tooShort(end);
                        break;
                    }
                }
            }
        }
    }
    ::close(fd);
    return problem;
}

}  // namespace

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
    // By the file's own name: the loader remembers every name a library was opened by, so a
    // link that once led to a library loaded anyway would keep leading there after a repair.
    std::string file = path;
    if (path.find('/') != std::string::npos) {
        if (char* real = ::realpath(path.c_str(), nullptr)) {
            file = real;
            std::free(real);
        }
        if (auto problem = TruncatedLibrary(file)) {
            lastError_ = std::move(*problem);
            return false;
        }
    }
    dlerror();
    handle_ = dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle_) {
        const char* reason = dlerror();
        lastError_ = reason ? reason : "dlopen failed";
        return false;
    }
    path_ = path;
    return true;
}

bool TDynamicLibrary::IsLoaded(const std::string& soname) noexcept {
    if (soname.empty() || soname.find('/') != std::string::npos) return false;
    void* handle = dlopen(soname.c_str(), RTLD_LAZY | RTLD_NOLOAD);
    if (handle) dlclose(handle);  // only drops the reference RTLD_NOLOAD added
    return handle != nullptr;
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
