#include <gtest/gtest.h>

#include <QTimer>
#include <atomic>
#include <stdexcept>
#include <string>
#include <thread>

#include "platform/Clock.h"
#include "platform/EventLoop.h"

using namespace zel;

namespace {

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
    EXPECT_GE(TickCount() - start, 35u);

    bool handled = false;
    QTimer::singleShot(5, [&] { handled = true; });
    start = TickCount();
    EXPECT_TRUE(WaitForMessages(1000));
    EXPECT_TRUE(handled);
    EXPECT_LT(TickCount() - start, 500u);

    handled = false;
    QTimer::singleShot(0, [&] { handled = true; });
    ProcessMessages();
    EXPECT_TRUE(handled);
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
