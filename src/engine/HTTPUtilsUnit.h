#pragma once

#include "engine/UtilsUnit.h"

#include <QString>
#include <functional>
#include <memory>
#include <condition_variable>
#include <mutex>

class TStringList;

// Proxy rotation of the HTTP layer. Only the no-proxy mode exists: requests go
// out directly, initialization always succeeds and there is nothing to reload.
class THTTPProxies : public TObject {
public:
    THTTPProxies();
    bool Initialize();
    // Reloads the proxy list when one is configured to be reloaded periodically.
    void Reload();
    bool NoProxy() const { return true; }
    bool LogProxyUse() const { return FLogProxyUse; }
    void SetLogProxyUse(bool Value) { FLogProxyUse = Value; }

private:
    bool FLogProxyUse = false;
};

using THttpTerminatedEvent = std::function<bool()>;
using THttpLogEvent = std::function<void(const QString& AMsg)>;

// The request-step object of the HTTP layer: how a request asks whether the
// run was stopped and where it logs.
class THttpStep : public TObject {
public:
    THttpStep(THttpTerminatedEvent ATerminated, THttpLogEvent ALog);
    // Prepares the state shared by every request; true when it succeeded.
    static bool InitializeShared();
    bool Terminated() const;
    void Log(const QString& AMsg) const;
    int ConnectTimeoutSec() const { return FConnectTimeoutSec; }
    void SetConnectTimeoutSec(int Value) { FConnectTimeoutSec = Value; }
    int ReadTimeoutSec() const { return FReadTimeoutSec; }
    void SetReadTimeoutSec(int Value) { FReadTimeoutSec = Value; }

private:
    THttpTerminatedEvent FTerminated;
    THttpLogEvent FLog;
    int FConnectTimeoutSec = 30;
    int FReadTimeoutSec = 30;
};

// The layer between TUtils and jobs of the HTTP client: its set-up, the
// time-outs, the host values and the "Reloading Thread" of every run.
class THTTPUtils : public TUtils {
public:
    THTTPUtils(TProgress* AProgress, TLog* ALog);
    ~THTTPUtils() override;

    void BeforeStart() override;

    THTTPProxies* HTTPProxies() const { return FHTTPProxies.get(); }
    THttpStep* HttpStep() const { return FHttpStep.get(); }
    int ConnectTimeoutSec() const { return FConnectTimeoutSec; }
    virtual void SetConnectTimeoutSec(int Value);
    int ReadTimeoutSec() const { return FReadTimeoutSec; }
    virtual void SetReadTimeoutSec(int Value);
    int RandomDigits() const { return FRandomDigits; }
    void SetRandomDigits(int Value) { FRandomDigits = Value; }
    bool RandomDot() const { return FRandomDot; }
    void SetRandomDot(bool Value) { FRandomDot = Value; }
    // The host values, guarded by HostValuesCS.
    TStringList* HostValues() const { return FHostValues.get(); }
    std::mutex& HostValuesCS() { return FHostValuesCS; }
    // The Reloading Thread waits between reloads until Completed, or until
    // WakeServiceThreads, which the owner then promises to call at a Break;
    // otherwise it looks at the Break every 10 ms.
    void SetServiceWakes(bool Value) { FServiceWakes = Value; }
    // Any thread: the Reloading Thread looks at Terminated now.
    void WakeServiceThreads();

protected:
    void InitDefaults() override;
    bool InitializeRun() override;
    virtual void ReloadThreadProc(TUtilsThread* AThread);
    virtual void DoReload();
    void DoCompleted() override;

private:
    void InitHTTPDefaults();

protected:

    std::unique_ptr<THTTPProxies> FHTTPProxies;
    std::unique_ptr<TStringList> FHostValues;
    std::mutex FHostValuesCS;
    int FConnectTimeoutSec = 30;
    int FReadTimeoutSec = 30;
    int FRandomDigits = 0;
    bool FRandomDot = false;
    std::unique_ptr<THttpStep> FHttpStep;
    std::mutex FServiceWaitCS;
    std::condition_variable FServiceWait;
    std::atomic<bool> FServiceWakes{false};
};
