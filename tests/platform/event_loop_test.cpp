#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>

#ifdef _WIN32
#include <windows.h>
#endif

#include "platform/Clock.h"
#include "platform/EventLoop.h"

using namespace zel;

namespace {

#ifdef _WIN32
// The system tick count advances in steps of up to 17 ms (under wine as well).
constexpr uint32_t kTickStepMs = 17;
#else
constexpr uint32_t kTickStepMs = 0;
#endif

// Runs the event loop for about `ms` milliseconds.
void RunLoopFor(int ms) {
    uint32_t start = TickCount();
    while (static_cast<int32_t>(TickCount() - start) < ms) WaitForMessages(ms);
}

}  // namespace

TEST(EventLoop, WindowTimerFiresOnlyWhileEnabledAndSurvivesThrowingHandlers) {
    int ticks = 0;
    WindowTimer timer(10, [&] {
        ++ticks;
        throw std::runtime_error("a handler failure must not unwind through the event loop");
    }, true);
    EXPECT_TRUE(timer.Enabled());
    EXPECT_EQ(timer.Interval(), 10);
    RunLoopFor(60);
    EXPECT_GE(ticks, 2);

    timer.SetEnabled(false);
    int stopped = ticks;
    // A stopped timer no longer wakes the loop either: a wait runs to its time-out.
    EXPECT_FALSE(WaitForMessages(40));
    RunLoopFor(40);
    EXPECT_EQ(ticks, stopped);

    timer.SetHandler(nullptr);
    timer.SetEnabled(true);
    RunLoopFor(30);  // ticks without a handler do nothing
    EXPECT_EQ(ticks, stopped);
}

TEST(EventLoop, WaitForMessagesReturnsOnMessageOrTimeout) {
    uint32_t start = TickCount();
    EXPECT_FALSE(WaitForMessages(0));
    EXPECT_FALSE(WaitForMessages(-5));
    EXPECT_LT(TickCount() - start, 20u);

    ProcessMessages();  // what the application posted at start-up would end the wait early
    start = TickCount();
    EXPECT_FALSE(WaitForMessages(40));
    EXPECT_GE(TickCount() - start, 35u - kTickStepMs);

    bool handled = false;
    PostedCall call([&] { handled = true; });
    std::thread poster([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        call.Post();
    });
    start = TickCount();
    // Another event may end a wait first: each wait must end on a message, never on its time-out.
    bool woken = true;
    while (woken && !handled && TickCount() - start < 1000) woken = WaitForMessages(1000);
    poster.join();
    EXPECT_TRUE(woken);
    EXPECT_TRUE(handled);
    EXPECT_LT(TickCount() - start, 500u);

    handled = false;
    call.Post();
    ProcessMessages();
    EXPECT_TRUE(handled);
}

TEST(EventLoop, PostedCallsRunOnTheCreatingThreadOncePerPostUntilDestroyed) {
    // posts: how many the other thread queues; destroy: drop the object before handling them.
    const struct {
        int posts;
        bool destroy;
        int runs;
    } cases[] = {{1, false, 1}, {3, false, 3}, {2, true, 0}};
    for (const auto& c : cases) {
        int runs = 0;
        bool onCreator = true;
        auto call = std::make_unique<PostedCall>([&] {
            ++runs;
            onCreator = onCreator && IsMainThread();
            throw std::runtime_error("a handler failure must not unwind through the event loop");
        });
        std::thread([&] {
            for (int i = 0; i < c.posts; ++i) call->Post();
        }).join();
        if (c.destroy) call.reset();
        ProcessMessages();
        EXPECT_EQ(runs, c.runs) << c.posts << " " << c.destroy;
        EXPECT_TRUE(onCreator);
    }
}

TEST(EventLoop, MainThreadIsTheApplicationThread) {
    EXPECT_TRUE(IsMainThread());
    std::atomic<bool> other{true};
    std::thread([&] { other = IsMainThread(); }).join();
    EXPECT_FALSE(other);
}

TEST(EventLoop, MessageBoxCanBeReplacedForHeadlessRuns) {
    std::string shown;
    SetMessageBoxHandler([&](const std::string& text) { shown = text; });
    ShowMessageBox("Error Reading Configuration! Please check IP-Adress");
    SetMessageBoxHandler(nullptr);
    EXPECT_EQ(shown, "Error Reading Configuration! Please check IP-Adress");
}

#ifdef _WIN32
TEST(EventLoop, AQuitIsLeftForTheHostsLoopAndDoesNotEndWaits) {
    ::PostQuitMessage(7);
    ProcessMessages();
    // Put back at once, the quit would end this wait early, and every later one.
    const uint32_t start = TickCount();
    EXPECT_FALSE(WaitForMessages(40));
    EXPECT_GE(TickCount() - start, 35u - kTickStepMs);
    MSG quit{};
    ASSERT_TRUE(::PeekMessageW(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
    EXPECT_EQ(quit.wParam, 7u);
}

TEST(EventLoop, DecimalSeparatorIsTheUsersSingleAsciiOne) {
    char old[8] = {};
    ASSERT_GT(::GetLocaleInfoA(LOCALE_USER_DEFAULT, LOCALE_SDECIMAL, old, sizeof old), 0);
    // the user's setting | separator used (one ASCII character, else the dot)
    const struct { const char* setting; char separator; } cases[] = {
        {",", ','}, {"'", '\''}, {".", '.'}, {"::", '.'}, {"\xB7", '.'},
    };
    for (const auto& c : cases) {
        ASSERT_TRUE(::SetLocaleInfoA(LOCALE_USER_DEFAULT, LOCALE_SDECIMAL, c.setting)) << c.setting;
        EXPECT_EQ(LocaleDecimalSeparator(), c.separator) << c.setting;
    }
    ::SetLocaleInfoA(LOCALE_USER_DEFAULT, LOCALE_SDECIMAL, old);
}
#endif
