#pragma once
// The signals that end a run: SIGINT and SIGTERM quit the toolkit's event loop, and a reader of
// our output that goes away (SIGPIPE) ends nothing.
#include <memory>

#include "Toolkit.h"

namespace zelhost {

// Ignores SIGPIPE for the rest of the process, so a write to a closed pipe fails instead.
void IgnoreBrokenPipes() noexcept;

// While it lives, SIGINT and SIGTERM quit `toolkit`'s event loop, from within that loop: nothing of
// the toolkit ever runs inside a signal handler. One at a time per process.
class TStopSignals {
public:
    // zel::Exception when the pipe cannot be made.
    explicit TStopSignals(TToolkit& toolkit);
    ~TStopSignals();
    TStopSignals(const TStopSignals&) = delete;
    TStopSignals& operator=(const TStopSignals&) = delete;

    // Whether a stop signal has arrived: for the steps that run before the event loop does.
    bool Requested() const noexcept;
    // Puts the handlers found at construction back, so a second signal during shutdown acts as it
    // normally would; done by the first stop signal already.
    void Restore() noexcept;

private:
    bool FRestored = false;
    std::unique_ptr<TWatch> FWatch;
};

}  // namespace zelhost
