#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/AtomicFile.h"
#include "platform/Registry.h"
#include "platform/System.h"

namespace velnor::platform {
namespace {

std::string ErrorText(const std::string& what, const std::string& path) {
    return what + " " + path + ": " + std::strerror(errno);
}

// Closes a descriptor on every exit.
class TFile {
public:
    explicit TFile(int fd) noexcept : fd_(fd) {}
    ~TFile() {
        if (fd_ >= 0) close(fd_);
    }
    TFile(const TFile&) = delete;
    TFile& operator=(const TFile&) = delete;
    [[nodiscard]] int Fd() const noexcept { return fd_; }

private:
    int fd_;
};

// mkdir -p; new directories get `mode`.
void MakeDirectories(const std::string& directory, mode_t mode) {
    if (directory.empty() || DirectoryExists(directory)) return;
    MakeDirectories(DirectoryOf(directory), mode);
    if (mkdir(directory.c_str(), mode) != 0 && errno != EEXIST) {
        throw ERegistryError(ErrorText("Cannot create directory", directory));
    }
}

std::string ConfigDirectory() {
    if (auto xdg = GetEnvironment("XDG_CONFIG_HOME"); xdg && !xdg->empty()) return *xdg;
    if (auto home = GetEnvironment("HOME"); home && !home->empty())
        return JoinPath(*home, ".config");
    return ".config";
}

}  // namespace

// The parsed file and what identifies the file it came from.
struct TRegistryStore::TCache {
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = 0;
    timespec modified{};
    std::shared_ptr<const TRegistryTree> tree;

    [[nodiscard]] bool Matches(const struct stat& info) const noexcept {
        return tree && device == info.st_dev && inode == info.st_ino && size == info.st_size &&
               modified.tv_sec == info.st_mtim.tv_sec && modified.tv_nsec == info.st_mtim.tv_nsec;
    }
};

TRegistryStore::TRegistryStore(TRegistryRoot root, std::string path)
    : root_(root), path_(std::move(path)) {}

std::string TRegistryStore::DefaultPath(TRegistryRoot root) {
    const std::string file = std::string(RootName(root)) + ".reg";
    if (auto dir = GetEnvironment("VELNOR_REGISTRY_DIR"); dir && !dir->empty()) {
        return JoinPath(*dir, file);
    }
    if (root == TRegistryRoot::LocalMachine) return JoinPath("/etc/velnor", file);
    return JoinPath(JoinPath(ConfigDirectory(), "velnor"), file);
}

TRegistryStore& TRegistryStore::ForRoot(TRegistryRoot root) {
    static TRegistryStore currentUser(TRegistryRoot::CurrentUser,
                                      DefaultPath(TRegistryRoot::CurrentUser));
    static TRegistryStore localMachine(TRegistryRoot::LocalMachine,
                                       DefaultPath(TRegistryRoot::LocalMachine));
    return root == TRegistryRoot::CurrentUser ? currentUser : localMachine;
}

void TRegistryStore::ResetDefaultPaths() {
    for (const TRegistryRoot root : {TRegistryRoot::CurrentUser, TRegistryRoot::LocalMachine}) {
        TRegistryStore& store = ForRoot(root);
        const std::lock_guard lock(store.mutex_);
        store.path_ = DefaultPath(root);
        store.cache_.reset();
    }
}

std::string TRegistryStore::Path() const {
    const std::lock_guard lock(mutex_);
    return path_;
}

std::shared_ptr<const TRegistryTree> TRegistryStore::Load() const {
    const std::string path = Path();
    const std::string rootName(RootName(root_));
    TFile file(open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (file.Fd() < 0) {
        if (errno == ENOENT || errno == ENOTDIR) {
            return std::make_shared<const TRegistryTree>(rootName);
        }
        throw ERegistryError(ErrorText("Cannot read", path));
    }
    struct stat info {};
    if (fstat(file.Fd(), &info) != 0) throw ERegistryError(ErrorText("Cannot read", path));
    if (S_ISDIR(info.st_mode)) {
        errno = EISDIR;
        throw ERegistryError(ErrorText("Cannot read", path));
    }
    {
        const std::lock_guard lock(mutex_);
        if (cache_ && cache_->Matches(info) && path == path_) return cache_->tree;
    }
    std::string text;
    char buffer[65536];
    for (;;) {
        const ssize_t got = read(file.Fd(), buffer, sizeof buffer);
        if (got < 0) {
            if (errno == EINTR) continue;
            throw ERegistryError(ErrorText("Cannot read", path));
        }
        if (got == 0) break;
        text.append(buffer, static_cast<std::size_t>(got));
    }
    auto cache = std::make_shared<TCache>();
    cache->device = info.st_dev;
    cache->inode = info.st_ino;
    cache->size = info.st_size;
    cache->modified = info.st_mtim;
    try {
        cache->tree = std::make_shared<const TRegistryTree>(TRegistryTree::Parse(text, rootName));
    } catch (const ERegistryError& error) {
        throw ERegistryError(path + ": " + error.Message());
    }
    const std::lock_guard lock(mutex_);
    if (path == path_) cache_ = cache;
    return cache->tree;
}

TRegistryTree TRegistryStore::Read() const { return *Load(); }

std::string TRegistryStore::ReadString(std::string_view key, std::string_view name) const noexcept {
    try {
        return Load()->ReadString(key, name);
    } catch (...) {
        return {};  // an unreadable store reads as an empty one
    }
}

void TRegistryStore::Update(const std::function<void(TRegistryTree&)>& change) {
    const std::string path = Path();
    const bool privateFile = root_ == TRegistryRoot::CurrentUser;
    MakeDirectories(DirectoryOf(path), privateFile ? 0700 : 0755);

    // The data file is replaced by rename, so the lock lives in a file of its own.
    const std::string lockPath = path + ".lock";
    TFile lockFile(open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600));
    if (lockFile.Fd() < 0) throw ERegistryError(ErrorText("Cannot lock", lockPath));
    while (flock(lockFile.Fd(), LOCK_EX) != 0) {
        if (errno != EINTR) throw ERegistryError(ErrorText("Cannot lock", lockPath));
    }

    TRegistryTree tree = *Load();  // re-read under the lock: another writer may have been first
    change(tree);
    const std::string text = tree.Serialize();

    const std::string target = ResolveLinks(path);
    mode_t mode = 0600;
    if (!privateFile) {
        struct stat info {};
        mode = stat(target.c_str(), &info) == 0 ? (info.st_mode & 07777) : 0644;
    }
    try {
        // One fixed name: the lock keeps other writers out, and a crash leaves one stale file.
        ReplaceFile(target, text, mode, target + ".tmp");
    } catch (const EFileReplaceError& e) {
        throw ERegistryError(e.Message());
    }
}

void TMemorySettings::Update(const std::function<void(TRegistryTree&)>& change) {
    TRegistryTree copy = tree_;
    change(copy);
    tree_ = std::move(copy);
}

std::string ReadRegistryString(TRegistryRoot root, std::string_view key,
                               std::string_view valueName) {
    return TRegistryStore::ForRoot(root).ReadString(key, valueName);
}

}  // namespace velnor::platform
