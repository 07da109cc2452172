#include "engine/uMainThread.h"

#include <QCoreApplication>
#include <QSocketNotifier>
#include <QThread>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <exception>
#include <fcntl.h>
#include <mutex>
#include <thread>
#include <unistd.h>

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

// The doorbell: a worker writes a byte after queueing its hand-off, and the
// main thread, woken through a socket notifier, reads it and serves the
// queue. Unlike a queued call it allocates nothing that the main thread frees,
// and the write-read pair orders the two threads where a race detector can
// see it (Qt's own event queue lock it cannot).
int GWakeRead = -1;
int GWakeWrite = -1;
std::atomic<bool> GWakeReady{false};

void RingDoorbell() {
    const char B = 1;
    // A full pipe already holds more wake-ups than needed.
    while (::write(GWakeWrite, &B, 1) < 0 && errno == EINTR) {
    }
}

void AnswerDoorbell() {
    char B[64];
    while (::read(GWakeRead, B, sizeof B) > 0) {
    }
    ServeHandOffs();
}

}  // namespace

void PrepareHandOffs() {
    QCoreApplication* App = QCoreApplication::instance();
    if (GWakeReady || !App || QThread::currentThread() != App->thread())
        return;
    if (GWakeRead < 0) {
        int Fds[2];
        if (::pipe2(Fds, O_CLOEXEC | O_NONBLOCK) != 0)
            return;
        GWakeRead = Fds[0];
        GWakeWrite = Fds[1];
    }
    // Goes with the application; a later one gets a notifier of its own.
    auto* Notifier = new QSocketNotifier(GWakeRead, QSocketNotifier::Read, App);
    QObject::connect(Notifier, &QSocketNotifier::activated, Notifier, [] { AnswerDoorbell(); });
    QObject::connect(Notifier, &QObject::destroyed, [] { GWakeReady = false; });
    GWakeReady = true;
}

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
    if (GWakeReady)
        RingDoorbell();
    else
        QMetaObject::invokeMethod(App, [] { ServeHandOffs(); }, Qt::QueuedConnection);
    std::unique_lock<std::mutex> L(GLock);
    GDoneCond.wait(L, [&H] { return H.Done; });
    if (H.Error)
        std::rethrow_exception(H.Error);
}

void ServeHandOffs() {
    PrepareHandOffs();
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
