#include "StopSignals.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <unistd.h>

#include "platform/Exceptions.h"

namespace zelhost {

namespace {

int gSignalPipe[2] = {-1, -1};
// Set by the signal handler: seen by the steps that run before the event loop does.
volatile std::sig_atomic_t gStopRequested = 0;
// The handlers to put back.
struct sigaction gOldInt {};
struct sigaction gOldTerm {};

extern "C" void OnStopSignal(int) {
    int saved = errno;
    gStopRequested = 1;
    char byte = 1;
    [[maybe_unused]] ssize_t n = ::write(gSignalPipe[1], &byte, 1);
    errno = saved;
}

}  // namespace

void IgnoreBrokenPipes() noexcept { std::signal(SIGPIPE, SIG_IGN); }

// The handler only sets a flag and writes a byte into a pipe; the toolkit watches the pipe's other
// end and quits from its loop.
TStopSignals::TStopSignals(TToolkit& toolkit) {
    gStopRequested = 0;
    if (::pipe2(gSignalPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        throw zel::Exception(std::string("cannot create the signal pipe: ") + std::strerror(errno));
    struct sigaction sa {};
    sa.sa_handler = OnStopSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    ::sigaction(SIGINT, &sa, &gOldInt);
    ::sigaction(SIGTERM, &sa, &gOldTerm);
    // A parent may have blocked them; then they would never arrive.
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    ::pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
    FWatch = toolkit.WatchReadable(gSignalPipe[0], [this, &toolkit] {
        char buf[64];
        while (::read(gSignalPipe[0], buf, sizeof buf) > 0) {
        }
        Restore();
        toolkit.Quit();
    });
}

TStopSignals::~TStopSignals() {
    Restore();
    FWatch.reset();
    ::close(gSignalPipe[0]);
    ::close(gSignalPipe[1]);
    gSignalPipe[0] = gSignalPipe[1] = -1;
}

bool TStopSignals::Requested() const noexcept { return gStopRequested != 0; }

void TStopSignals::Restore() noexcept {
    if (FRestored) return;
    FRestored = true;
    ::sigaction(SIGINT, &gOldInt, nullptr);
    ::sigaction(SIGTERM, &gOldTerm, nullptr);
}

}  // namespace zelhost
