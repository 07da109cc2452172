#pragma once

#include <QString>
#include <atomic>
#include <thread>

// Copies a descriptor (standard input) into a pipe that the job reads as a
// file. A worker reading the job's input may block for as long as the
// producer is silent (a terminal, a slow pipe); stopping the relay closes
// the pipe's write end, so such a read ends at once with end of input and a
// break never waits on the producer.
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

private:
    void Run();
    // Writes all of ACount bytes unless stopped first; false when stopped or broken.
    bool WriteAll(const char* AData, long ACount);

    int FSourceFd = -1;
    int FReadFd = -1;
    int FWriteFd = -1;
    int FStopFd[2] = {-1, -1};
    std::thread FThread;
    std::atomic<bool> FStopped{false};
    std::atomic<int> FReadError{0};
};
