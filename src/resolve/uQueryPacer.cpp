#include "resolve/uQueryPacer.h"

#include <QRandomGenerator>
#include <thread>

int TQueryPacer::MaxQPS() const {
    return FMaxQPS;
}

void TQueryPacer::SetMaxQPS(int AValue) {
    FMaxQPS = qMax(0, AValue);
}

void TQueryPacer::Reset() {
    std::lock_guard<std::mutex> Lock(FCS);
    FNext = TClock::time_point{};
}

bool TQueryPacer::Acquire(const TAbortCheck& AAbort) {
    const int Rate = FMaxQPS;
    if (Rate <= 0)
        return !(AAbort && AAbort());
    TClock::time_point Slot;
    {
        std::lock_guard<std::mutex> Lock(FCS);
        // Slots are spaced evenly; an idle spell earns no burst afterwards,
        // since a server's limit counts any second, not the average.
        const auto Now = TClock::now();
        Slot = qMax(Now, FNext);
        FNext = Slot + std::chrono::nanoseconds(1000000000LL / Rate);
    }
    // The lock is not held while waiting: other workers take later slots.
    return SleepUntil(Slot, AAbort);
}

int TQueryPacer::BackoffMSec(int AAttempt) {
    int Full = kFirstBackoffMSec;
    for (int I = 1; I < AAttempt && Full < kMaxBackoffMSec; ++I)
        Full *= 2;
    Full = qMin(Full, kMaxBackoffMSec);
    return Full / 2 + int(QRandomGenerator::global()->bounded(Full / 2 + 1));
}

bool TQueryPacer::Sleep(qint64 AMSec, const TAbortCheck& AAbort) {
    return SleepUntil(TClock::now() + std::chrono::milliseconds(qMax<qint64>(0, AMSec)), AAbort);
}

bool TQueryPacer::SleepUntil(TClock::time_point ADeadline, const TAbortCheck& AAbort) {
    for (;;) {
        if (AAbort && AAbort())
            return false;
        const auto Now = TClock::now();
        if (Now >= ADeadline)
            return true;
        std::this_thread::sleep_for(qMin<TClock::duration>(ADeadline - Now, std::chrono::milliseconds(kSliceMSec)));
    }
}
