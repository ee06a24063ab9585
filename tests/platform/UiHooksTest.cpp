#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <stdexcept>
#include <vector>

#include "platform/UiHooks.h"

namespace velnor::platform {
namespace {

using ::testing::ElementsAre;

struct UiHooksTest : ::testing::Test {
    void SetUp() override {
        InstallUiHooks({});
        SetScreenCursor(crDefault);
    }
    void TearDown() override {
        InstallUiHooks({});
        SetScreenCursor(crDefault);
    }

    // A GUI stand-in that records every cursor it is asked to show.
    void InstallRecordingHooks() {
        TUiHooks hooks;
        hooks.GetCursor = [this] { return shown; };
        hooks.SetCursor = [this](int cursor) {
            shown = cursor;
            calls.push_back(cursor);
        };
        InstallUiHooks(std::move(hooks));
    }
    int shown = 7;
    std::vector<int> calls;
};

TEST_F(UiHooksTest, GuardShowsCursorAndRestoresThePreviousOne) {
    InstallRecordingHooks();
    {
        TCursorGuard guard(crSQLWait);
        EXPECT_EQ(ScreenCursor(), crSQLWait);
    }
    EXPECT_THAT(calls, ElementsAre(crSQLWait, 7));
}

TEST_F(UiHooksTest, GuardRestoresWhenTheWorkFails) {
    InstallRecordingHooks();
    try {
        TCursorGuard guard(crHourGlass);
        throw std::runtime_error("ORA-00942");
    } catch (const std::runtime_error&) {
    }
    EXPECT_EQ(shown, 7);
}

TEST_F(UiHooksTest, CursorZeroLeavesTheScreenAlone) {
    InstallRecordingHooks();
    { TCursorGuard guard(crDefault); }
    EXPECT_TRUE(calls.empty());
}

TEST_F(UiHooksTest, WithoutGuiTheCursorIsRememberedInProcess) {
    SetScreenCursor(crHourGlass);
    {
        TCursorGuard guard(crSQLWait);
        EXPECT_EQ(ScreenCursor(), crSQLWait);
    }
    EXPECT_EQ(ScreenCursor(), crHourGlass);
}

TEST_F(UiHooksTest, FailingHookDoesNotEscapeTheGuardsDestructor) {
    TUiHooks hooks;
    int sets = 0;
    hooks.GetCursor = [] { return 0; };
    hooks.SetCursor = [&](int) {
        if (++sets == 2) throw std::runtime_error("display gone");
    };
    InstallUiHooks(std::move(hooks));
    EXPECT_NO_THROW({ TCursorGuard guard(crSQLWait); });
    EXPECT_EQ(sets, 2);
}

TEST_F(UiHooksTest, SynchronizeGoesThroughTheHookOrRunsHere) {
    int ran = 0;
    Synchronize([&] { ++ran; });
    EXPECT_EQ(ran, 1);
    int viaHook = 0;
    TUiHooks hooks;
    hooks.Synchronize = [&](const std::function<void()>& fn) {
        ++viaHook;
        fn();
    };
    InstallUiHooks(std::move(hooks));
    Synchronize([&] { ++ran; });
    EXPECT_EQ(ran, 2);
    EXPECT_EQ(viaHook, 1);
    Synchronize(nullptr);  // an empty call is not handed on
    EXPECT_EQ(viaHook, 1);
}

TEST_F(UiHooksTest, HookMayCallBackIntoTheHooks) {
    // Hooks run outside the internal lock, so a GUI hook that reads the cursor cannot deadlock.
    TUiHooks hooks;
    hooks.Synchronize = [](const std::function<void()>& fn) {
        (void)ScreenCursor();
        fn();
    };
    InstallUiHooks(std::move(hooks));
    bool ran = false;
    Synchronize([&] { Synchronize([&] { ran = true; }); });
    EXPECT_TRUE(ran);
}

}  // namespace
}  // namespace velnor::platform
