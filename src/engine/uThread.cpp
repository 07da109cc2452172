#include "engine/uThread.h"

#include "engine/uMainThread.h"

#include <condition_variable>
#include <atomic>
#include <csignal>
#include <mutex>
#include <pthread.h>
#include <thread>
#include <unistd.h>

namespace {

// Written once by the command line before its first thread, read by every creation.
sigset_t GHeldSignals;
std::atomic<bool> GHoldSignals{false};

// Holds the signals back in the creating thread while a thread is created,
// which inherits the mask; the creator takes them again right after.
class TCreationMask {
public:
    TCreationMask() : FActive(GHoldSignals) {
        if (FActive)
            pthread_sigmask(SIG_BLOCK, &GHeldSignals, &FOld);
    }
    ~TCreationMask() {
        if (FActive)
            pthread_sigmask(SIG_SETMASK, &FOld, nullptr);
    }

private:
    bool FActive;
    sigset_t FOld;
};

}  // namespace

// Start-up hand-shake between the creating thread and the new OS thread. It
// is shared, so that a thread whose object was never started (its
// construction failed) can still be told to end without touching the object.
struct TThread::TStartGate {
    enum TState { gsWaiting, gsGo, gsAbort };
    std::mutex Lock;
    std::condition_variable Cond;
    TState State = gsWaiting;
    quint32 ThreadID = 0;
    bool IdKnown = false;
};

TThread::TThread() : FGate(std::make_shared<TStartGate>()) {
    std::shared_ptr<TStartGate> Gate = FGate;
    TCreationMask Mask;
    std::thread T([Gate, this] {
        {
            std::unique_lock<std::mutex> L(Gate->Lock);
            Gate->ThreadID = CurrentThreadID();
            Gate->IdKnown = true;
            Gate->Cond.notify_all();
            Gate->Cond.wait(L, [&Gate] { return Gate->State != TStartGate::gsWaiting; });
            if (Gate->State == TStartGate::gsAbort)
                return;
        }
        ThreadMain();
    });
    T.detach();
    std::unique_lock<std::mutex> L(FGate->Lock);
    FGate->Cond.wait(L, [this] { return FGate->IdKnown; });
    FThreadID = FGate->ThreadID;
}

TThread::~TThread() {
    // Destroyed before it was started: let the waiting OS thread go away.
    std::lock_guard<std::mutex> L(FGate->Lock);
    if (FGate->State == TStartGate::gsWaiting) {
        FGate->State = TStartGate::gsAbort;
        FGate->Cond.notify_all();
    }
}

void TThread::Start() {
    std::lock_guard<std::mutex> L(FGate->Lock);
    if (FGate->State == TStartGate::gsWaiting) {
        FGate->State = TStartGate::gsGo;
        FGate->Cond.notify_all();
    }
}

void TThread::HoldSignalsInNewThreads(std::initializer_list<int> ASignals) {
    sigemptyset(&GHeldSignals);
    for (int S : ASignals)
        sigaddset(&GHeldSignals, S);
    GHoldSignals = true;
}

quint32 TThread::CurrentThreadID() {
    return static_cast<quint32>(gettid());
}

void TThread::HandleFatalException(std::exception_ptr) {}

void TThread::ThreadMain() {
    try {
        Execute();
    } catch (...) {
        try {
            HandleFatalException(std::current_exception());
        } catch (...) {
        }
    }
    if (OnTerminate) {
        try {
            RunInMainThread([this] { OnTerminate(this); });
        } catch (...) {
        }
    }
    delete this;
}
