#include "engine/uMainThread.h"

#include <QCoreApplication>
#include <QThread>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <exception>
#include <mutex>
#include <thread>

namespace {

// One operation waiting for the main thread. The queue and the Done flag are
// guarded by our own mutex (not only by Qt's event queue) so that the
// hand-over of the operation and of its outcome is plainly ordered.
struct THandOff {
    const std::function<void()>* Proc = nullptr;
    std::exception_ptr Error;
    bool Done = false;
};

std::mutex GLock;
std::condition_variable GDoneCond;
std::deque<THandOff*> GQueue;
// Hand-offs being run on the main thread, nested ones included; only the main
// thread changes it.
std::atomic<int> GServing{0};

}  // namespace

bool IsMainThread() {
    QCoreApplication* App = QCoreApplication::instance();
    return !App || QThread::currentThread() == App->thread();
}

void RunInMainThread(const std::function<void()>& AProc) {
    QCoreApplication* App = QCoreApplication::instance();
    if (!App || QThread::currentThread() == App->thread()) {
        AProc();
        return;
    }
    THandOff H;
    H.Proc = &AProc;
    {
        std::lock_guard<std::mutex> L(GLock);
        GQueue.push_back(&H);
    }
    // Wakes the main thread; whichever serving call comes first runs the queue.
    QMetaObject::invokeMethod(App, [] { ServeHandOffs(); }, Qt::QueuedConnection);
    std::unique_lock<std::mutex> L(GLock);
    GDoneCond.wait(L, [&H] { return H.Done; });
    if (H.Error)
        std::rethrow_exception(H.Error);
}

void ServeHandOffs() {
    for (;;) {
        THandOff* H;
        {
            std::lock_guard<std::mutex> L(GLock);
            if (GQueue.empty())
                return;
            H = GQueue.front();
            GQueue.pop_front();
        }
        std::exception_ptr Error;
        ++GServing;
        try {
            (*H->Proc)();
        } catch (...) {
            Error = std::current_exception();
        }
        --GServing;
        {
            std::lock_guard<std::mutex> L(GLock);
            H->Error = Error;
            H->Done = true;
        }
        GDoneCond.notify_all();
    }
}

bool ServingHandOff() {
    return GServing.load() > 0;
}

bool WaitServing(const std::function<bool()>& ADone, int ATimeoutMSec) {
    const auto Start = std::chrono::steady_clock::now();
    for (;;) {
        if (ADone())
            return true;
        if (ATimeoutMSec >= 0 &&
            std::chrono::steady_clock::now() - Start >= std::chrono::milliseconds(ATimeoutMSec))
            return ADone();
        if (QCoreApplication::instance())
            QCoreApplication::processEvents(QEventLoop::AllEvents);
        ServeHandOffs();
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
}
