#pragma once

#include "containers/uException.h"

#include <QtGlobal>
#include <functional>
#include <initializer_list>
#include <memory>

class TThread;
using TThreadNotifyEvent = std::function<void(TThread* Sender)>;

// A real OS thread that exists (with its OS id) from construction on, starts
// its body only when Start is called, and frees itself when the body has
// ended: OnTerminate (if set) runs on the main thread, then the object is
// destroyed in its own thread. An exception escaping Execute is kept as
// FatalException's text and does not end the process.
class TThread : public TObject {
public:
    TThread();
    ~TThread() override;

    TThread(const TThread&) = delete;
    TThread& operator=(const TThread&) = delete;

    // Lets the body run. Call once, after construction has fully finished.
    void Start();

    // OS id of the thread (gettid()).
    quint32 ThreadID() const { return FThreadID; }

    TThreadNotifyEvent OnTerminate;

    // The OS id of the calling thread.
    static quint32 CurrentThreadID();
    // Signals every thread created from now on holds back, so that they reach
    // the thread that installed their handlers (the command line's main
    // thread) and never cut a worker's system call short. Only each creation
    // holds them back in the creating thread, which takes them in between.
    static void HoldSignalsInNewThreads(std::initializer_list<int> ASignals);

protected:
    virtual void Execute() = 0;
    // Called in the thread when Execute raised; the default does nothing.
    virtual void HandleFatalException(std::exception_ptr AError);

private:
    struct TStartGate;
    void ThreadMain();
    std::shared_ptr<TStartGate> FGate;
    quint32 FThreadID = 0;
};
