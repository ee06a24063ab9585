// Seams through which a GUI supplies the screen cursor and main-thread calls. Nothing
// here knows a toolkit. Without a GUI the cursor is a plain process-wide number (so the
// save-and-restore rules still hold) and Synchronize runs the call where it is.
#pragma once
#include <functional>

namespace velnor::platform {

// Cursor numbers as the access layer uses them: 0 = default (leave alone), -11 = hourglass,
// -17 = SQL wait.
constexpr int crDefault = 0;
constexpr int crHourGlass = -11;
constexpr int crSQLWait = -17;

struct TUiHooks {
    std::function<int()> GetCursor;                                 // the cursor shown now
    std::function<void(int cursor)> SetCursor;                      // show this cursor
    std::function<void(const std::function<void()>&)> Synchronize;  // run on the GUI thread
};

// Replaces the hooks; hooks left empty fall back to the behaviour without a GUI.
// Installing empty hooks uninstalls them.
void InstallUiHooks(TUiHooks hooks);
[[nodiscard]] int ScreenCursor();
void SetScreenCursor(int cursor);
// Runs `fn` on the GUI thread when a GUI installed the hook, else here; returns after it ran.
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
