// TNetComponent: the base of every network component, carrying the transfer
// progress events. Begin/end pairs nest per work mode: only the outermost
// pair raises OnWorkBegin and OnWorkEnd, and the running count goes on
// through nested pairs. A component with a WorkTarget passes all of its work
// to that target (the connection handler reports through the HTTP component).
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace kv {

enum class TWorkMode { wmRead, wmWrite };

enum class TNetStatus {
    hsResolving,
    hsConnecting,
    hsConnected,
    hsDisconnecting,
    hsDisconnected,
    hsStatusText
};

class TNetComponent;
using TWorkBeginEvent =
    std::function<void(TNetComponent* ASender, TWorkMode AWorkMode, int64_t AWorkCountMax)>;
using TWorkEvent = std::function<void(TNetComponent* ASender, TWorkMode AWorkMode, int64_t AWorkCount)>;
using TWorkEndEvent = std::function<void(TNetComponent* ASender, TWorkMode AWorkMode)>;
using TStatusEvent =
    std::function<void(TNetComponent* ASender, TNetStatus AStatus, const std::string& AText)>;

class TNetComponent {
public:
    virtual ~TNetComponent() = default;

    TWorkBeginEvent OnWorkBegin;
    TWorkEvent OnWork;
    TWorkEndEvent OnWorkEnd;
    TStatusEvent OnStatus;

    TNetComponent* WorkTarget = nullptr;

    void BeginWork(TWorkMode AWorkMode, int64_t ASize = 0);
    void DoWork(TWorkMode AWorkMode, int64_t ACount);
    void EndWork(TWorkMode AWorkMode);
    void DoStatus(TNetStatus AStatus, const std::string& AText);

private:
    struct WorkInfo {
        int64_t Count = 0;
        int64_t CountMax = 0;
        int32_t Level = 0;
    };
    WorkInfo FWorkInfos[2];
};

} // namespace kv
