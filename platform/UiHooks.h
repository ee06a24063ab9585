// Seams through which a GUI supplies the screen cursor and main-thread calls;
// without a GUI they do nothing. Nothing here knows a toolkit.
#pragma once
#include <functional>

namespace velnor::platform {

// Cursor numbers as the access layer uses them: 0 = default (leave alone), -11 = hourglass,
// -17 = SQL wait.
struct TUiHooks {
    std::function<int()> GetCursor;                 // the cursor shown now
    std::function<void(int cursor)> SetCursor;      // show this cursor
    std::function<void(const std::function<void()>&)> Synchronize;   // run on the GUI thread
};

void InstallUiHooks(TUiHooks hooks);
[[nodiscard]] int ScreenCursor();
void SetScreenCursor(int cursor);
// Runs `fn` on the GUI thread when a GUI installed the hook, else here.
void Synchronize(const std::function<void()>& fn);

// Shows `cursor` for its lifetime and puts the previous one back, also on error;
// cursor 0 leaves the screen alone.
class TCursorGuard {
public:
    explicit TCursorGuard(int cursor);
    ~TCursorGuard();
    TCursorGuard(const TCursorGuard&) = delete;
    TCursorGuard& operator=(const TCursorGuard&) = delete;

private:
    bool active_ = false;
    int previous_ = 0;
};

}  // namespace velnor::platform
