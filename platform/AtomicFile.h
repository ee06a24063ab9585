// A file replaced whole: written under a temporary name beside its target, flushed to the
// disk and renamed over the target, so a reader finds the old content or the new, never a
// part of either.
#pragma once
#include <sys/types.h>

#include <string>
#include <string_view>

#include "platform/Exception.h"

namespace velnor::platform {

// A failed step of a replacement: the path it concerned and the system's error number.
// The message reads "Cannot write <path>: <reason>" or "Cannot replace <path>: <reason>".
class EFileReplaceError : public Exception {
public:
    enum class TStep { Create, Write, Replace };
    EFileReplaceError(TStep step, std::string path, int systemError);
    [[nodiscard]] TStep Step() const noexcept { return step_; }
    [[nodiscard]] const std::string& Path() const noexcept { return path_; }
    [[nodiscard]] int SystemError() const noexcept { return systemError_; }

private:
    TStep step_;
    std::string path_;
    int systemError_;
};

// The path a write must replace: a link is followed, so it keeps pointing there.
[[nodiscard]] std::string ResolveLinks(const std::string& path);

class TAtomicFile {
public:
    // Nothing is created yet. `temporary` "" picks a hidden name unique to this process in
    // the target's folder; a caller holding a lock may give a fixed one.
    explicit TAtomicFile(const std::string& target, std::string temporary = {});
    ~TAtomicFile();  // removes the temporary unless committed; never raises
    TAtomicFile(const TAtomicFile&) = delete;
    TAtomicFile& operator=(const TAtomicFile&) = delete;

    [[nodiscard]] const std::string& Target() const noexcept { return target_; }
    [[nodiscard]] const std::string& Temporary() const noexcept { return temporary_; }

    // Creates the temporary with exactly `mode` and writes `content` to the disk. A caller
    // that streams its data writes Temporary() itself instead.
    void Write(std::string_view content, mode_t mode);

    // The temporary reaches the disk and takes the target's place, and the folder's entry is
    // made durable. `keepTargetMode`: an existing target's permission bits pass on.
    void Commit(bool keepTargetMode);

private:
    std::string target_;
    std::string temporary_;
    bool synced_ = false;
    bool committed_ = false;
};

// Replaces `target` with `content` in one step; the new file has `mode`.
void ReplaceFile(const std::string& target, std::string_view content, mode_t mode,
                 std::string temporary = {});

}  // namespace velnor::platform
