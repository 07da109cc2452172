#include "cli/uStdinRelay.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

namespace {

// A line without a break is passed on once it is this long.
const qsizetype kMaxHeldBytes = 65536;
// The job's reader cuts lines at 65535 characters; a padded line stays below.
const qint64 kMaxPaddedLine = 60000;

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

bool TStdinRelay::Forward(const char* AData, qsizetype ACount) {
    if (ACount <= 0)
        return true;
    if (!WriteAll(AData, long(ACount)))
        return false;
    FSent += ACount;
    const char* LastBreak = static_cast<const char*>(::memrchr(AData, '\n', size_t(ACount)));
    FOpenLineLength = LastBreak ? AData + ACount - LastBreak - 1 : FOpenLineLength + ACount;
    return true;
}

void TStdinRelay::Decide(bool AAtEnd) {
    const auto Byte = [this](int I) { return I < FHead.size() ? uchar(FHead.at(I)) : -1; };
    qsizetype Mark = 0;
    if (Byte(0) == 0xFF || Byte(0) == 0xFE) {
        if (FHead.size() < 2 && !AAtEnd)
            return;
        if (Byte(0) == 0xFF && Byte(1) == 0xFE) {
            FDecoder = QStringDecoder(QStringConverter::Utf16LE);
            Mark = 2;
        } else if (Byte(0) == 0xFE && Byte(1) == 0xFF) {
            FDecoder = QStringDecoder(QStringConverter::Utf16BE);
            Mark = 2;
        }
    } else if (Byte(0) == 0xEF) {
        if (FHead.size() < 3 && !AAtEnd && (FHead.size() < 2 || Byte(1) == 0xBB))
            return;
        // The job reads UTF-8 anyway; its mark is dropped here so that it
        // cannot end up in the first line.
        if (Byte(1) == 0xBB && Byte(2) == 0xBF)
            Mark = 3;
    }
    FCoding = Mark == 2 ? icUTF16 : icAsIs;
    const QByteArray Rest = FHead.mid(Mark);
    FHead.clear();
    FHead.squeeze();
    if (FCoding == icUTF16)
        FPending += QString(FDecoder.decode(Rest)).toUtf8();
    else
        FPending += Rest;
}

bool TStdinRelay::Take(const char* AData, qsizetype ACount) {
    if (FCoding == icUndecided) {
        FHead.append(AData, ACount);
        Decide(false);
        if (FCoding == icUndecided)
            return true;
    } else if (FCoding == icUTF16) {
        FPending += QString(FDecoder.decode(QByteArrayView(AData, ACount))).toUtf8();
    } else {
        FPending.append(AData, ACount);
    }
    return ForwardLines();
}

bool TStdinRelay::ForwardLines() {
    const qsizetype LastBreak = FPending.lastIndexOf('\n');
    if (LastBreak < 0) {
        // One endless line: it cannot be held back whole, and padding would
        // only make it longer.
        if (FPending.size() <= kMaxHeldBytes)
            return true;
        FHeld = false;
        const bool Ok = Forward(FPending.constData(), FPending.size());
        FPending.clear();
        return Ok;
    }
    const qsizetype BreakStart = LastBreak > 0 && FPending.at(LastBreak - 1) == '\r' ? LastBreak - 1 : LastBreak;
    if (!Forward(FPending.constData(), BreakStart))
        return false;
    FPending.remove(0, BreakStart);
    FHeld = true;
    return true;
}

bool TStdinRelay::PadHeldLine() {
    if (!FHeld)
        return true;
    FHeld = false;
    const int BreakLength = FPending.startsWith("\r\n") ? 2 : 1;
    FPending.remove(0, BreakLength);
    // Blanks up to the chunk's end, then CR LF as its last two bytes: the
    // reader ends the line at the CR without looking past the LF.
    const qint64 Blanks = (kChunkSize - (FSent + 2) % kChunkSize) % kChunkSize;
    if (FOpenLineLength + Blanks + 2 > kMaxPaddedLine)
        return Forward("\n", 1);   // a line that long would be cut by the reader
    QByteArray Padding(Blanks, ' ');
    Padding += "\r\n";
    return Forward(Padding.constData(), Padding.size());
}

bool TStdinRelay::Finish() {
    if (FCoding == icUndecided)
        Decide(true);
    FHeld = false;
    const bool Ok = Forward(FPending.constData(), FPending.size());
    FPending.clear();
    return Ok;
}

void TStdinRelay::Run() {
    char Buffer[65536];
    for (;;) {
        // With a line held back the source gets only a moment to go on.
        pollfd P[2] = {{FSourceFd, POLLIN, 0}, {FStopFd[0], POLLIN, 0}};
        const int Ready = ::poll(P, 2, FHeld ? kQuietMSec : -1);
        if (Ready < 0) {
            if (errno == EINTR)
                continue;
            break;
        }
        if (P[1].revents != 0)
            break;
        if (Ready == 0) {
            if (!PadHeldLine())
                break;
            continue;
        }
        const ssize_t N = ::read(FSourceFd, Buffer, sizeof Buffer);
        if (N < 0 && (errno == EINTR || errno == EAGAIN))
            continue;
        if (N < 0) {
            FReadError = errno;
            Finish();
            break;
        }
        if (N == 0) {
            Finish();
            break;
        }
        if (!Take(Buffer, N))
            break;
    }
    // End of input for whoever reads the pipe.
    CloseFd(FWriteFd);
}
