#include "net/IdComponent.h"

#include "net/IdStack.h"

namespace zel {

namespace {

std::string StatusText(TIdStatus status, const std::string& argument) {
    switch (status) {
        case hsResolving: return "Resolving hostname " + argument + ".";
        case hsConnecting: return "Connecting to " + argument + ".";
        case hsConnected: return "Connected.";
        case hsDisconnecting: return "Disconnecting.";
        case hsDisconnected: return "Disconnected.";
        default: return argument;
    }
}

}  // namespace

TIdComponent::TIdComponent() { TIdStack::IncUsage(); }

TIdComponent::~TIdComponent() { TIdStack::DecUsage(); }

void TIdComponent::DoStatus(TIdStatus status, const std::string& argument) {
    if (OnStatus) OnStatus(*this, status, StatusText(status, argument));
}

void TIdComponent::BeginWork(TWorkMode mode, int64_t countMax) {
    if (FWorkTarget) return FWorkTarget->BeginWork(mode, countMax);
    TWorkInfo& info = FWorkInfos[mode];
    if (++info.Level == 1) {
        info.Count = 0;
        if (OnWorkBegin) OnWorkBegin(*this, mode, countMax);
    }
}

void TIdComponent::DoWork(TWorkMode mode, int64_t count) {
    if (FWorkTarget) return FWorkTarget->DoWork(mode, count);
    TWorkInfo& info = FWorkInfos[mode];
    if (info.Level == 0) return;
    info.Count += count;
    if (OnWork) OnWork(*this, mode, info.Count);
}

void TIdComponent::EndWork(TWorkMode mode) {
    if (FWorkTarget) return FWorkTarget->EndWork(mode);
    TWorkInfo& info = FWorkInfos[mode];
    if (info.Level == 0) return;
    if (--info.Level == 0 && OnWorkEnd) OnWorkEnd(*this, mode);
}

}  // namespace zel
