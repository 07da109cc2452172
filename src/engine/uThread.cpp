#include "engine/uThread.h"

#include "engine/uMainThread.h"

#include <condition_variable>
#include <mutex>
#include <thread>
#include <unistd.h>

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
