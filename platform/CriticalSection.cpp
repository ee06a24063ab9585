#include "platform/CriticalSection.h"

namespace velnor::platform {

TOracleCriticalSection::~TOracleCriticalSection() {
    // A recursive_mutex must not be destroyed while locked.
    while (HeldByCurrentThread()) Leave();
}

void TOracleCriticalSection::Enter() {
    mutex_.lock();
    Entered();
}

bool TOracleCriticalSection::TryEnter() {
    if (!mutex_.try_lock()) return false;
    Entered();
    return true;
}

void TOracleCriticalSection::Entered() noexcept {
    if (count_.load(std::memory_order_relaxed) == 0) {
        owner_.store(std::this_thread::get_id(), std::memory_order_relaxed);
    }
    count_.fetch_add(1, std::memory_order_relaxed);
}

void TOracleCriticalSection::Leave() noexcept {
    if (!HeldByCurrentThread()) return;
    if (count_.fetch_sub(1, std::memory_order_relaxed) == 1) {
        owner_.store(std::thread::id{}, std::memory_order_relaxed);
    }
    mutex_.unlock();
}

int TOracleCriticalSection::EntryCount() const noexcept {
    return count_.load(std::memory_order_relaxed);
}

bool TOracleCriticalSection::HeldByCurrentThread() const noexcept {
    return owner_.load(std::memory_order_relaxed) == std::this_thread::get_id() &&
           count_.load(std::memory_order_relaxed) > 0;
}

}  // namespace velnor::platform
