#include "platform/UiHooks.h"

#include <atomic>
#include <memory>
#include <mutex>

namespace velnor::platform {
namespace {

struct THookState {
    std::mutex mutex;
    std::shared_ptr<const TUiHooks> hooks = std::make_shared<TUiHooks>();
    std::atomic<int> plainCursor{crDefault};  // the cursor while no GUI supplies one
};

THookState& State() {
    static THookState state;
    return state;
}

// Hooks run outside the mutex: a hook may itself call back into this file.
std::shared_ptr<const TUiHooks> Hooks() {
    THookState& state = State();
    const std::lock_guard lock(state.mutex);
    return state.hooks;
}

}  // namespace

void InstallUiHooks(TUiHooks hooks) {
    auto installed = std::make_shared<const TUiHooks>(std::move(hooks));
    THookState& state = State();
    const std::lock_guard lock(state.mutex);
    state.hooks = std::move(installed);
}

int ScreenCursor() {
    const auto hooks = Hooks();
    if (hooks->GetCursor) return hooks->GetCursor();
    return State().plainCursor.load();
}

void SetScreenCursor(int cursor) {
    const auto hooks = Hooks();
    if (hooks->SetCursor) {
        hooks->SetCursor(cursor);
    } else {
        State().plainCursor.store(cursor);
    }
}

void Synchronize(const std::function<void()>& fn) {
    if (!fn) return;
    const auto hooks = Hooks();
    if (hooks->Synchronize) {
        hooks->Synchronize(fn);
    } else {
        fn();
    }
}

TCursorGuard::TCursorGuard(int cursor) {
    if (cursor == crDefault) return;
    previous_ = ScreenCursor();
    SetScreenCursor(cursor);
    active_ = true;
}

TCursorGuard::~TCursorGuard() {
    if (!active_) return;
    try {
        SetScreenCursor(previous_);
    } catch (...) {
        // Nobody is left to report a failing GUI hook to while unwinding.
    }
}

}  // namespace velnor::platform
