#pragma once

#include <QtGlobal>
#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>

// Keeps a run polite to its DNS servers. Public resolvers limit each client
// (often around 1,500 queries a second, blocklist zones far less) and answer
// REFUSED or nothing above it, so a run can be held to a rate shared by all
// its workers, and a failed lookup waits a while before it is asked again.
// Every wait goes in short slices and asks the abort check between them, so
// a stop request ends it quickly.
class TQueryPacer {
public:
    using TAbortCheck = std::function<bool()>;
    static constexpr int kSliceMSec = 50;
    static constexpr int kFirstBackoffMSec = 100;
    static constexpr int kMaxBackoffMSec = 2000;

    // Queries per second for the whole run; 0 for no limit.
    int MaxQPS() const;
    void SetMaxQPS(int AValue);
    // Forgets the slots handed out, for a new run.
    void Reset();

    // Takes the next query slot of the run and waits for it. False when the
    // abort check ended the wait (the slot is then lost, which only slows a
    // run that is ending anyway).
    bool Acquire(const TAbortCheck& AAbort);

    // The wait before retry number AAttempt (1 for the first retry):
    // 100 ms doubling up to 2 s, of which a random half, so that workers that
    // failed together do not come back together.
    static int BackoffMSec(int AAttempt);
    // Sleeps AMSec; false when the abort check cut the sleep short.
    static bool Sleep(qint64 AMSec, const TAbortCheck& AAbort);

private:
    using TClock = std::chrono::steady_clock;
    static bool SleepUntil(TClock::time_point ADeadline, const TAbortCheck& AAbort);

    mutable std::mutex FCS;
    std::atomic<int> FMaxQPS{0};   // read without the lock when there is no limit
    TClock::time_point FNext{};    // the first free slot
};
