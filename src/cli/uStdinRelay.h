#pragma once

#include <QByteArray>
#include <QString>
#include <QStringDecoder>
#include <atomic>
#include <thread>

// Copies a descriptor (standard input) into a pipe that the job reads as a
// file. A worker reading the job's input may block for as long as the
// producer is silent (a terminal, a slow pipe); stopping the relay closes
// the pipe's write end, so such a read ends at once with end of input and a
// break never waits on the producer.
//
// Input in UTF-16 (with its byte-order mark) is passed on as UTF-8, which is
// what the job reads; input without a mark is passed on as it is.
//
// The job's file reader waits until a whole read chunk has arrived (or the
// input ends) before it hands out any line of it. So that lines typed at a
// terminal or written by `tail -f` are resolved as they come, the relay fills
// the chunk when the source goes quiet: the last line that arrived gets
// blanks before its line break, which the job trims. No line is added,
// removed or split by this.
class TStdinRelay {
public:
    TStdinRelay() = default;
    ~TStdinRelay();

    TStdinRelay(const TStdinRelay&) = delete;
    TStdinRelay& operator=(const TStdinRelay&) = delete;

    // Starts copying ASourceFd; false with AError when the pipe cannot be made.
    bool Start(int ASourceFd, QString& AError);
    // The path under which the job opens the pipe's read end.
    QString Path() const;
    // Ends the copying (what the source still holds is not read) and waits
    // for the relay thread. Safe to call more than once.
    void Stop();
    // errno of a failed read of the source (0: none); valid after Stop.
    int ReadError() const { return FReadError; }

    // The size of the job reader's chunks on a pipe; padding aligns to it.
    static constexpr int kChunkSize = 16384;
    // How long the source must stay quiet before the held lines are padded out.
    static constexpr int kQuietMSec = 10;

private:
    enum TInputCoding { icUndecided, icAsIs, icUTF16 };

    void Run();
    // Writes all of ACount bytes unless stopped first; false when stopped or broken.
    bool WriteAll(const char* AData, long ACount);
    // WriteAll, keeping count of the bytes sent and of the open line's length.
    bool Forward(const char* AData, qsizetype ACount);
    // New bytes from the source; false when the pipe is gone.
    bool Take(const char* AData, qsizetype ACount);
    // Decides the coding from the first bytes once they tell (or AAtEnd).
    void Decide(bool AAtEnd);
    // Sends every whole line but the line break of the last one, which is
    // held back so that padding can still go in front of it.
    bool ForwardLines();
    // The source went quiet: the held line break goes out padded.
    bool PadHeldLine();
    // End of the source: whatever is left goes out as it is.
    bool Finish();

    int FSourceFd = -1;
    int FReadFd = -1;
    int FWriteFd = -1;
    int FStopFd[2] = {-1, -1};
    std::thread FThread;
    std::atomic<bool> FStopped{false};
    std::atomic<int> FReadError{0};

    // Relay thread only.
    TInputCoding FCoding = icUndecided;
    QByteArray FHead;          // first bytes while the coding is undecided
    QStringDecoder FDecoder;   // UTF-16 input
    QByteArray FPending;       // not yet sent; starts with the held line break when FHeld
    bool FHeld = false;
    qint64 FSent = 0;
    qint64 FOpenLineLength = 0;  // bytes sent since the last line break sent
};
