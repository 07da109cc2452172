#pragma once

#include <QIODevice>
#include <QString>
#include <atomic>
#include <functional>

// Reads a descriptor that may hold back its data for any time: a pipe, a
// FIFO, a terminal, a socket, a character device. A read returns what has
// arrived, as soon as anything has, and never waits longer than one short
// slice without asking the abort check; an abort reads as end of input. A
// FIFO is opened without waiting for its writer.
class TFdInputStream : public QIODevice {
public:
    using TAbortCheck = std::function<bool()>;
    static constexpr int kWaitSliceMSec = 100;

    // Over AFd, which stays open unless AOwnsFd. The descriptor's blocking
    // mode is left alone (standard input is shared with other programs).
    TFdInputStream(int AFd, bool AOwnsFd);
    ~TFdInputStream() override;

    // Opens AFileName for reading without blocking; EFileError when it cannot.
    static TFdInputStream* OpenFile(const QString& AFileName);
    // A regular file reads best through QFile; anything else through this class.
    static bool IsRegularFile(int AFd);

    void SetAbortCheck(TAbortCheck ACheck) { FAbortCheck = std::move(ACheck); }
    bool Aborted() const { return FAborted; }
    // Whether a read would return at once (data, the end or an error),
    // waiting up to AMSec (negative: until Wake) for it. Blocks in poll on
    // the input and the wake-up descriptor, so a silent input costs nothing.
    // Safe beside a read in another thread.
    bool WaitReadable(int AMSec) const;
    // Ends every wait of WaitReadable, now and later: the input is given up.
    // Any thread; async-signal-safe.
    void Wake();
    int Descriptor() const { return FFd; }

    bool isSequential() const override { return true; }
    void close() override;

protected:
    qint64 readData(char* AData, qint64 AMaxSize) override;
    qint64 writeData(const char*, qint64) override { return -1; }

private:
    int FFd = -1;
    bool FOwnsFd = false;
    // Read by WaitReadable beside the reading thread.
    std::atomic<bool> FEnded{false};
    int FWakeFd = -1;  // an eventfd, readable once Wake was called
    bool FAborted = false;
    TAbortCheck FAbortCheck;
};

// Opens /dev/null on each of descriptors 0, 1 and 2 that is closed, so that
// no file opened later takes their place (a line meant for standard output
// would go into it). Call first thing in main. Returns a bit per descriptor
// that was closed (1 << fd).
int OpenClosedStandardDescriptors();
