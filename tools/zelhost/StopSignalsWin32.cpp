// The stop signals of a Windows console: Ctrl+C, Ctrl+Break and closing the console window (and the
// session's log-off or shutdown) quit the toolkit's event loop.
#include "StopSignals.h"

#include <windows.h>

#include <atomic>
#include <mutex>

#include "platform/Exceptions.h"

namespace zelhost {

namespace {

// Seen by the steps that run before the event loop does.
std::atomic<bool> gStopRequested{false};
// The live stop signals and their toolkit; null once the run is over. The lock keeps a handler
// from posting to a toolkit that is going away.
std::mutex gLock;
TStopSignals* gSignals = nullptr;
TToolkit* gToolkit = nullptr;
// How long the system grants a close handler before it ends the process anyway (5 s), less a margin.
constexpr DWORD kCloseGraceMs = 4500;

// Set while no run is going on: the system ends the process as soon as the handler of a close,
// log-off or shutdown returns, so that handler waits for the run to shut down. One for the
// process, never closed: a handler may still wait on it when the run ends.
HANDLE ShutDownEvent() {
    static const HANDLE event = ::CreateEventA(nullptr, TRUE, TRUE, nullptr);
    if (!event) throw zel::Exception("cannot create the shutdown event (Windows error " + std::to_string(::GetLastError()) + ")");
    return event;
}

// Runs on the main thread, from the event loop: the first stop puts the default handling back.
void StopFromLoop() {
    if (!gSignals) return;  // the run ended before the loop came to this
    gSignals->Restore();
    gToolkit->Quit();
}

// Ends the run's part in the handler. A close handler still waiting may return now, and the system
// end the process.
void Detach() noexcept {
    {
        std::lock_guard<std::mutex> lock(gLock);
        gSignals = nullptr;
        gToolkit = nullptr;
    }
    try {
        ::SetEvent(ShutDownEvent());
    } catch (...) {
        // The event exists: the constructor made it before anything could need this.
    }
}

// Runs on a thread of its own that the system starts: it only posts the stop to the main thread.
BOOL WINAPI OnConsoleEvent(DWORD event) noexcept {
    gStopRequested = true;
    {
        std::lock_guard<std::mutex> lock(gLock);
        if (gToolkit) {
            try {
                gToolkit->Post(StopFromLoop);
            } catch (...) {
                // A post that fails (no memory) loses this stop; the next one tries again.
            }
        }
    }
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) {
        try {
            ::WaitForSingleObject(ShutDownEvent(), kCloseGraceMs);
        } catch (...) {
            // No event to wait on (made before this handler was installed, so never the case).
        }
    }
    return TRUE;
}

}  // namespace

// Windows has no SIGPIPE: a write to a pipe whose reader went away already fails with an error.
void IgnoreBrokenPipes() noexcept {}

TStopSignals::TStopSignals(TToolkit& toolkit) {
    gStopRequested = false;
    ::ResetEvent(ShutDownEvent());
    {
        std::lock_guard<std::mutex> lock(gLock);
        gSignals = this;
        gToolkit = &toolkit;
    }
    // A parent may have started us with Ctrl+C ignored; then it would never arrive.
    ::SetConsoleCtrlHandler(nullptr, FALSE);
    if (!::SetConsoleCtrlHandler(OnConsoleEvent, TRUE)) {
        const DWORD error = ::GetLastError();
        Detach();
        throw zel::Exception("cannot handle console events (Windows error " + std::to_string(error) + ")");
    }
}

TStopSignals::~TStopSignals() {
    Restore();
    Detach();
}

bool TStopSignals::Requested() const noexcept { return gStopRequested; }

void TStopSignals::Restore() noexcept {
    if (FRestored) return;
    FRestored = true;
    ::SetConsoleCtrlHandler(OnConsoleEvent, FALSE);
}

}  // namespace zelhost
