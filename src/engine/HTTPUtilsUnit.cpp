#include "engine/HTTPUtilsUnit.h"

#include <chrono>
#include <thread>

#include "containers/uStringList.h"
#include "engine/uProgress.h"

THTTPProxies::THTTPProxies() = default;

bool THTTPProxies::Initialize() {
    // Without proxies there is nothing to load or check.
    return true;
}

void THTTPProxies::Reload() {}

THttpStep::THttpStep(THttpTerminatedEvent ATerminated, THttpLogEvent ALog)
    : FTerminated(std::move(ATerminated)), FLog(std::move(ALog)) {}

bool THttpStep::InitializeShared() {
    return true;
}

bool THttpStep::Terminated() const {
    return FTerminated && FTerminated();
}

void THttpStep::Log(const QString& AMsg) const {
    if (FLog)
        FLog(AMsg);
}

THTTPUtils::THTTPUtils(TProgress* AProgress, TLog* ALog) : TUtils(AProgress, ALog) {
    InitHTTPDefaults();
}

THTTPUtils::~THTTPUtils() {
    // Threads of this job (the reloading thread among them) use the objects below.
    EndThreadsForDestroy();
    FHttpStep.reset();
    FHTTPProxies.reset();
    FHostValues.reset();
}

void THTTPUtils::InitDefaults() {
    TUtils::InitDefaults();
    InitHTTPDefaults();
}

void THTTPUtils::InitHTTPDefaults() {
    FHTTPProxies = std::make_unique<THTTPProxies>();
    FHTTPProxies->SetLogProxyUse(true);
    FConnectTimeoutSec = 30;
    FReadTimeoutSec = 30;
    FHostValues = std::make_unique<TStringList>();
    FRandomDigits = 0;
    FRandomDot = false;
    FHttpStep = std::make_unique<THttpStep>([this] { return Terminated(); },
                                            [this](const QString& AMsg) { Log(AMsg); });
    FHttpStep->SetConnectTimeoutSec(FConnectTimeoutSec);
    FHttpStep->SetReadTimeoutSec(FReadTimeoutSec);
}

void THTTPUtils::SetConnectTimeoutSec(int Value) {
    FConnectTimeoutSec = Value;
    FHttpStep->SetConnectTimeoutSec(Value);
}

void THTTPUtils::SetReadTimeoutSec(int Value) {
    FReadTimeoutSec = Value;
    FHttpStep->SetReadTimeoutSec(Value);
}

bool THTTPUtils::InitializeRun() {
    if (!FHTTPProxies->Initialize() || !THttpStep::InitializeShared())
        return false;
    return TUtils::InitializeRun();
}

void THTTPUtils::BeforeStart() {
    TUtils::BeforeStart();
    TUtilsThread::Run<TUtilsThread>(this, [this](TUtilsThread* AThread) { ReloadThreadProc(AThread); },
                                    QStringLiteral("Reloading Thread"), 0, true);
}

void THTTPUtils::ReloadThreadProc(TUtilsThread*) {
    const QString Name = QStringLiteral("Reloading Thread");
    if (!CheckInitialized())
        return;
    if (FDetailedLog)
        Log(QStringLiteral("%s Initialized."), {Name});
    try {
        while (!Terminated() && !Completed()) {
            DoReload();
            // A second between reloads, but the end of the run must not wait
            // for it: the run ends only when this thread has gone.
            // The flags are looked at under the lock the wakers take, so no
            // wake-up falls between the look and the wait.
            const auto Slice = std::chrono::milliseconds(FServiceWakes ? 1000 : 10);
            const auto Until = std::chrono::steady_clock::now() + std::chrono::milliseconds(1000);
            std::unique_lock<std::mutex> L(FServiceWaitCS);
            while (!Terminated() && !Completed() && std::chrono::steady_clock::now() < Until)
                FServiceWait.wait_for(L, Slice);
        }
    } catch (...) {
        LogException(std::current_exception());
        SetTerminated(true);
    }
    if (FDetailedLog)
        Log(QStringLiteral("%s Completed."), {Name});
}

void THTTPUtils::WakeServiceThreads() {
    std::lock_guard<std::mutex> L(FServiceWaitCS);
    FServiceWait.notify_all();
}

void THTTPUtils::DoCompleted() {
    WakeServiceThreads();
}

void THTTPUtils::DoReload() {
    FHTTPProxies->Reload();
}
