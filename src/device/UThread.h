#pragma once
// The background fetch of one update: a short-lived thread that GETs one URL, and the wait that keeps
// the main thread's messages flowing meanwhile.
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "net/IdStack.h"

namespace zel {

// Bounds of the reader thread's fetch: connect and each read, and the whole exchange.
constexpr int32_t kReaderTimeoutMs = 5000;
constexpr int32_t kReaderExchangeTimeoutMs = 15000;
// The largest reply body any fetch of the module accepts.
constexpr int64_t kMaxReplyBytes = 1 << 20;

class TIdHTTP;
// Bounds a fetch of the module: connect and each read, the whole exchange, the reply's size.
void LimitFetch(TIdHTTP& http, int32_t timeoutMs, int32_t exchangeTimeoutMs);

// Fetches URL on a thread of its own, started by the constructor. Busy falls when the fetch is
// over; Success, Body and Failure may be read once Busy is false. `onDone`, when given, runs on the thread
// right after that, as its last step (or at once, when no thread could start): it tells the
// creator without making it wait. The destructor cancels a fetch still under way and waits for
// the thread, which then ends within moments.
class TReaderThread {
public:
    explicit TReaderThread(std::string url, std::function<void()> onDone = {});
    ~TReaderThread();
    TReaderThread(const TReaderThread&) = delete;
    TReaderThread& operator=(const TReaderThread&) = delete;

    const std::string URL;
    bool Busy() const noexcept { return FBusy.load(std::memory_order_acquire); }
    // Meaningful once Busy is false.
    bool Success() const noexcept { return FSuccess; }
    const std::string& Body() const noexcept { return FBody; }
    // What ended a failed fetch, as its exception said it; empty after a success.
    const std::string& Failure() const noexcept { return FFailure; }

    // Any thread: ends the fetch at once, as a failure.
    void Cancel() noexcept;

private:
    void Execute() noexcept;

    std::atomic<bool> FBusy{true};
    bool FSuccess = true;
    std::string FBody;
    std::string FFailure;
    std::function<void()> FOnDone;
    std::unique_ptr<TIdCancelSignal> FCancel;
    std::thread FThread;
};

// Returns after `milliseconds`: on the main thread handling every message that arrives meanwhile, on
// any other thread sleeping. 0 or less returns at once.
void WaitWithMessages(int32_t milliseconds);

}  // namespace zel
