// Work event bookkeeping of TNetComponent (see net_component.h).
#include "http/net_component.h"

namespace kv {

void TNetComponent::BeginWork(TWorkMode AWorkMode, int64_t ASize) {
    if (WorkTarget) return WorkTarget->BeginWork(AWorkMode, ASize);
    WorkInfo& w = FWorkInfos[static_cast<int>(AWorkMode)];
    if (++w.Level == 1) {
        w.CountMax = ASize;
        w.Count = 0;
        if (OnWorkBegin) OnWorkBegin(this, AWorkMode, ASize);
    }
}

void TNetComponent::DoWork(TWorkMode AWorkMode, int64_t ACount) {
    if (WorkTarget) return WorkTarget->DoWork(AWorkMode, ACount);
    WorkInfo& w = FWorkInfos[static_cast<int>(AWorkMode)];
    if (w.Level < 1) return;
    w.Count += ACount;
    if (OnWork) OnWork(this, AWorkMode, w.Count);
}

void TNetComponent::EndWork(TWorkMode AWorkMode) {
    if (WorkTarget) return WorkTarget->EndWork(AWorkMode);
    WorkInfo& w = FWorkInfos[static_cast<int>(AWorkMode)];
    if (w.Level < 1) return;
    // The level falls even when the handler raises, so a failed Get leaves it at 0.
    struct Drop {
        int32_t& level;
        ~Drop() { --level; }
    } drop{w.Level};
    if (w.Level == 1 && OnWorkEnd) OnWorkEnd(this, AWorkMode);
}

void TNetComponent::DoStatus(TNetStatus AStatus, const std::string& AText) {
    if (OnStatus) OnStatus(this, AStatus, AText);
}

} // namespace kv
