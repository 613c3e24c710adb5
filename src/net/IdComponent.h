#pragma once
// The base of every networking component: it holds one use of the process-wide socket stack for
// its lifetime, and raises the status and work notifications.
#include <cstdint>
#include <functional>
#include <string>

namespace zel {

enum TIdStatus : uint8_t {
    hsResolving,
    hsConnecting,
    hsConnected,
    hsDisconnecting,
    hsDisconnected,
    hsStatusText,
    ftpTransfer,
    ftpReady,
    ftpAborted
};

enum TWorkMode : uint8_t { wmRead, wmWrite };

class TIdComponent;
using TIdStatusEvent = std::function<void(TIdComponent& sender, TIdStatus status, const std::string& text)>;
using TWorkBeginEvent = std::function<void(TIdComponent& sender, TWorkMode mode, int64_t countMax)>;
using TWorkEvent = std::function<void(TIdComponent& sender, TWorkMode mode, int64_t count)>;
using TWorkEndEvent = std::function<void(TIdComponent& sender, TWorkMode mode)>;

class TIdComponent {
public:
    TIdComponent();
    virtual ~TIdComponent();
    TIdComponent(const TIdComponent&) = delete;
    TIdComponent& operator=(const TIdComponent&) = delete;

    TIdStatusEvent OnStatus;
    TWorkBeginEvent OnWorkBegin;
    TWorkEvent OnWork;
    TWorkEndEvent OnWorkEnd;

    // Work notifications. With a work target they go to it; otherwise each mode counts its nesting:
    // only the outermost begin resets the running total and raises OnWorkBegin, progress adds to
    // the total and raises OnWork with it (only inside a begin/end), only the outermost end
    // raises OnWorkEnd.
    void BeginWork(TWorkMode mode, int64_t countMax = 0);
    void DoWork(TWorkMode mode, int64_t count);
    void EndWork(TWorkMode mode);

    TIdComponent* WorkTarget() const noexcept { return FWorkTarget; }
    void SetWorkTarget(TIdComponent* target) noexcept { FWorkTarget = target; }

protected:
    // Raises OnStatus with the status's text, `argument` filling its "%s".
    void DoStatus(TIdStatus status, const std::string& argument = {});

private:
    struct TWorkInfo {
        int Level = 0;
        int64_t Count = 0;
    };
    TWorkInfo FWorkInfos[2];
    TIdComponent* FWorkTarget = nullptr;
};

}  // namespace zel
