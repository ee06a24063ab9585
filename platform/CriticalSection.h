// A re-entrant lock with an entry count; Leave without a matching Enter does nothing.
#pragma once
#include <atomic>
#include <mutex>
#include <thread>

namespace velnor::platform {

class TOracleCriticalSection {
public:
    TOracleCriticalSection() = default;
    TOracleCriticalSection(const TOracleCriticalSection&) = delete;
    TOracleCriticalSection& operator=(const TOracleCriticalSection&) = delete;

    void Enter();
    // Ignored unless the calling thread holds the lock: cleanup paths call it unconditionally.
    void Leave() noexcept;
    [[nodiscard]] int EntryCount() const noexcept;

private:
    std::recursive_mutex mutex_;
    std::atomic<std::thread::id> owner_{};
    int count_ = 0;   // touched only by the owning thread
};

// Enters in the constructor and leaves in the destructor.
class TCriticalSectionGuard {
public:
    explicit TCriticalSectionGuard(TOracleCriticalSection& section) : section_(section) {
        section_.Enter();
    }
    ~TCriticalSectionGuard() { section_.Leave(); }
    TCriticalSectionGuard(const TCriticalSectionGuard&) = delete;
    TCriticalSectionGuard& operator=(const TCriticalSectionGuard&) = delete;

private:
    TOracleCriticalSection& section_;
};

}  // namespace velnor::platform
