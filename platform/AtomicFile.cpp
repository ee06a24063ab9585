#include "platform/AtomicFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace velnor::platform {
namespace {

std::string StepText(EFileReplaceError::TStep step) {
    return step == EFileReplaceError::TStep::Replace ? "Cannot replace" : "Cannot write";
}

[[noreturn]] void Raise(EFileReplaceError::TStep step, const std::string& path, int error) {
    throw EFileReplaceError(step, path, error);
}

// Split at the last separator by hand: the stand-in library links this file alone.
std::string FolderOf(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) return {};
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string UniqueTemporary(const std::string& target) {
    static std::atomic<unsigned> counter{0};
    const std::size_t slash = target.find_last_of('/');
    const std::string name = "." + target.substr(slash == std::string::npos ? 0 : slash + 1) +
                             ".velnor-" + std::to_string(::getpid()) + "-" +
                             std::to_string(++counter) + ".tmp";
    return slash == std::string::npos ? name : target.substr(0, slash + 1) + name;
}

void SyncPath(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) Raise(EFileReplaceError::TStep::Write, path, errno);
    const int result = ::fsync(fd);
    const int error = errno;
    ::close(fd);
    if (result != 0) Raise(EFileReplaceError::TStep::Write, path, error);
}

}  // namespace

EFileReplaceError::EFileReplaceError(TStep step, std::string path, int systemError)
    : Exception(StepText(step) + " " + path + ": " + std::strerror(systemError)),
      step_(step),
      path_(std::move(path)),
      systemError_(systemError) {}

std::string ResolveLinks(const std::string& path) {
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) return path;
    char* resolved = ::realpath(path.c_str(), nullptr);
    if (!resolved) return path;
    std::string target(resolved);
    std::free(resolved);
    return target;
}

TAtomicFile::TAtomicFile(const std::string& target, std::string temporary)
    : target_(ResolveLinks(target)),
      temporary_(temporary.empty() ? UniqueTemporary(target_) : std::move(temporary)) {}

TAtomicFile::~TAtomicFile() {
    if (!committed_) ::unlink(temporary_.c_str());
}

void TAtomicFile::Write(std::string_view content, mode_t mode) {
    using enum EFileReplaceError::TStep;
    const int fd =
        ::open(temporary_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, mode);
    if (fd < 0) Raise(Create, temporary_, errno);
    const auto fail = [&] {
        const int error = errno;
        ::close(fd);
        Raise(Write, temporary_, error);
    };
    // The mode given holds whatever the umask says.
    if (::fchmod(fd, mode) != 0) fail();
    while (!content.empty()) {
        const ssize_t written = ::write(fd, content.data(), content.size());
        if (written < 0) {
            if (errno == EINTR) continue;
            fail();
        }
        content.remove_prefix(static_cast<std::size_t>(written));
    }
    if (::fsync(fd) != 0) fail();
    if (::close(fd) != 0) Raise(Write, temporary_, errno);
    synced_ = true;
}

void TAtomicFile::Commit(bool keepTargetMode) {
    if (keepTargetMode) {
        struct stat existing {};
        if (::stat(target_.c_str(), &existing) == 0)
            ::chmod(temporary_.c_str(), existing.st_mode & 07777);
    }
    if (!synced_) SyncPath(temporary_);
    if (std::rename(temporary_.c_str(), target_.c_str()) != 0)
        Raise(EFileReplaceError::TStep::Replace, target_, errno);
    committed_ = true;
    // Make the rename itself durable.
    const std::string folder = FolderOf(target_);
    const int dir =
        ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
}

void ReplaceFile(const std::string& target, std::string_view content, mode_t mode,
                 std::string temporary) {
    TAtomicFile file(target, std::move(temporary));
    file.Write(content, mode);
    file.Commit(false);
}

}  // namespace velnor::platform
