#pragma once
// The main-thread event loop as the module uses it: window timers, processing of pending messages,
// a wait that returns when messages arrive, and the modal message box. Implemented on Qt
// (EventLoop.cpp) and on the Win32 API (EventLoopWin32.cpp); callers never see either.
#include <functional>
#include <memory>
#include <string>

namespace zel {

// A timer that fires on the thread that created it, while that thread processes messages.
class WindowTimer {
public:
    WindowTimer(int intervalMs, std::function<void()> handler, bool enabled);
    ~WindowTimer();
    WindowTimer(const WindowTimer&) = delete;
    WindowTimer& operator=(const WindowTimer&) = delete;

    void SetEnabled(bool enabled);
    bool Enabled() const;
    int Interval() const;
    // An empty handler makes ticks do nothing.
    void SetHandler(std::function<void()> handler);

private:
    struct Impl;
    std::unique_ptr<Impl> FImpl;
};

// A call that any thread may ask for and that runs on the thread that created this object, while
// that thread processes messages: how a background thread hands its result to the main thread.
// Requests not yet run when the object is destroyed are dropped; its owner makes sure that no
// other thread posts while it is being destroyed.
class PostedCall {
public:
    explicit PostedCall(std::function<void()> handler);
    ~PostedCall();
    PostedCall(const PostedCall&) = delete;
    PostedCall& operator=(const PostedCall&) = delete;

    // Any thread: queues one run of the handler.
    void Post();

private:
    struct Impl;
    std::unique_ptr<Impl> FImpl;
};

// Handles every message that is pending now; returns at once when there is none.
void ProcessMessages();
// Blocks until a message arrives (true) or `timeoutMs` passes (false); handles what woke it.
bool WaitForMessages(int timeoutMs);
// True on the thread that runs the application's event loop: with Qt the application object's
// thread; on Windows the thread that loaded the module (or started the program), from which a host
// also calls the module's entries.
bool IsMainThread();
// Shows a modal message box with 8-bit (Windows-1252) text and returns when it is closed.
void ShowMessageBox(const std::string& text);
// Replaces the message box, for headless hosts and tests; an empty handler restores the box.
void SetMessageBoxHandler(std::function<void(const std::string&)> handler);
// The decimal separator of the user's locale.
char LocaleDecimalSeparator();

}  // namespace zel
