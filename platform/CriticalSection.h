// A re-entrant lock with an entry count; Leave without a matching Enter does nothing.
#pragma once
#include <atomic>
#include <mutex>
#include <thread>

namespace velnor::platform {

class TOracleCriticalSection {
public:
    TOracleCriticalSection() = default;
    // Releases what the destroying thread still holds; nobody may hold it from elsewhere.
    ~TOracleCriticalSection();
    TOracleCriticalSection(const TOracleCriticalSection&) = delete;
    TOracleCriticalSection& operator=(const TOracleCriticalSection&) = delete;

    void Enter();
    [[nodiscard]] bool TryEnter();
    // Ignored unless the calling thread holds the lock: cleanup paths call it unconditionally.
    void Leave() noexcept;
    // How many times the holder has entered; 0 when nobody holds the lock.
    [[nodiscard]] int EntryCount() const noexcept;
    [[nodiscard]] bool HeldByCurrentThread() const noexcept;

private:
    void Entered() noexcept;

    std::recursive_mutex mutex_;
    std::atomic<std::thread::id> owner_{};
    std::atomic<int> count_{0};  // written only by the holder
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
