#include "device/UThread.h"

#include <chrono>

#include "device/UZELUtils.h"

#include "net/IdHTTP.h"
#include "platform/Clock.h"
#include "platform/EventLoop.h"

namespace zel {

void LimitFetch(TIdHTTP& http, int32_t timeoutMs, int32_t exchangeTimeoutMs) {
    http.SetConnectTimeout(timeoutMs);
    http.SetReadTimeout(timeoutMs);
    http.ExchangeTimeout = exchangeTimeoutMs;
    http.MaxBodySize = kMaxReplyBytes;
}

TReaderThread::TReaderThread(std::string url, std::function<void()> onDone)
    : URL(std::move(url)), FOnDone(std::move(onDone)) {
    try {
        FCancel = std::make_unique<TIdCancelSignal>();
        FThread = std::thread([this] { Execute(); });
    } catch (const std::exception&) {
        // A thread that cannot start (no thread or descriptor left) is a fetch that failed.
        FSuccess = false;
        FFailure = CurrentFailureText();
        FBusy.store(false, std::memory_order_release);
        if (FOnDone) FOnDone();
    }
}

TReaderThread::~TReaderThread() {
    Cancel();
    if (FThread.joinable()) FThread.join();
}

void TReaderThread::Cancel() noexcept {
    if (FCancel) FCancel->Cancel();
}

void TReaderThread::Execute() noexcept {
    try {
        TIdHTTP http;
        http.Request().UserAgent = "Mozilla";
        // Bounded, so that a box that accepts and never answers cannot hold the update for ever.
        LimitFetch(http, kReaderTimeoutMs, kReaderExchangeTimeoutMs);
        http.Cancel = FCancel.get();
        FBody = http.Get(URL);
    } catch (...) {
        // Any failure of the fetch, a cancel included, is reported as Success false.
        FBody.clear();
        FSuccess = false;
        FFailure = CurrentFailureText();
    }
    FBusy.store(false, std::memory_order_release);
    try {
        if (FOnDone) FOnDone();
    } catch (...) {
        // Telling the creator failed (no memory left); nothing better can be done on this thread.
    }
}

void WaitWithMessages(int32_t milliseconds) {
    if (milliseconds <= 0) return;
    if (!IsMainThread()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
        return;
    }
    const uint32_t deadline = TickCount() + static_cast<uint32_t>(milliseconds);
    int32_t remaining = milliseconds;
    while (remaining > 0) {
        if (!WaitForMessages(remaining)) break;
        ProcessMessages();
        // Signed 32-bit difference: a wrap of the tick count does no harm.
        remaining = static_cast<int32_t>(deadline - TickCount());
    }
}

}  // namespace zel
