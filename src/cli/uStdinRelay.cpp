#include "cli/uStdinRelay.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

namespace {

void CloseFd(int& AFd) {
    if (AFd >= 0)
        ::close(AFd);
    AFd = -1;
}

} // namespace

TStdinRelay::~TStdinRelay() {
    Stop();
    CloseFd(FReadFd);
}

bool TStdinRelay::Start(int ASourceFd, QString& AError) {
    int Data[2];
    if (::pipe2(Data, O_CLOEXEC) != 0) {
        AError = QString::fromLocal8Bit(std::strerror(errno));
        return false;
    }
    if (::pipe2(FStopFd, O_CLOEXEC) != 0) {
        AError = QString::fromLocal8Bit(std::strerror(errno));
        ::close(Data[0]);
        ::close(Data[1]);
        return false;
    }
    FReadFd = Data[0];
    FWriteFd = Data[1];
    // The write end waits in poll, never in write, so that a stop request
    // always gets through even when nobody reads the pipe any more.
    ::fcntl(FWriteFd, F_SETFL, ::fcntl(FWriteFd, F_GETFL) | O_NONBLOCK);
    FSourceFd = ASourceFd;
    FThread = std::thread([this] { Run(); });
    return true;
}

QString TStdinRelay::Path() const {
    return QStringLiteral("/proc/self/fd/%1").arg(FReadFd);
}

void TStdinRelay::Stop() {
    if (!FThread.joinable())
        return;
    if (!FStopped.exchange(true)) {
        const char B = 1;
        while (::write(FStopFd[1], &B, 1) < 0 && errno == EINTR) {
        }
    }
    FThread.join();
    CloseFd(FStopFd[0]);
    CloseFd(FStopFd[1]);
}

bool TStdinRelay::WriteAll(const char* AData, long ACount) {
    while (ACount > 0) {
        pollfd P[2] = {{FWriteFd, POLLOUT, 0}, {FStopFd[0], POLLIN, 0}};
        if (::poll(P, 2, -1) < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        if (P[1].revents != 0)
            return false;
        const ssize_t N = ::write(FWriteFd, AData, size_t(ACount));
        if (N < 0) {
            if (errno == EAGAIN || errno == EINTR)
                continue;
            return false;  // the reader has gone
        }
        AData += N;
        ACount -= N;
    }
    return true;
}

void TStdinRelay::Run() {
    char Buffer[65536];
    for (;;) {
        pollfd P[2] = {{FSourceFd, POLLIN, 0}, {FStopFd[0], POLLIN, 0}};
        if (::poll(P, 2, -1) < 0) {
            if (errno == EINTR)
                continue;
            break;
        }
        if (P[1].revents != 0)
            break;
        const ssize_t N = ::read(FSourceFd, Buffer, sizeof Buffer);
        if (N < 0 && (errno == EINTR || errno == EAGAIN))
            continue;
        if (N < 0) {
            FReadError = errno;
            break;
        }
        if (N == 0 || !WriteAll(Buffer, N))
            break;
    }
    // End of input for whoever reads the pipe.
    CloseFd(FWriteFd);
}
